// make_level: writes a generated level file.
//   make_level [--container] KIND SEED OUTPUT   KIND: tr4, trc, v1 .. v5
//   make_level [--container] example OUTPUT     the bundled example TRC level
// --container wraps the file in a "ZLIB" container. Silent on success.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/levelgen.h"

namespace {

int usage() {
    std::puts("usage: make_level [--container] KIND SEED OUTPUT   (KIND: tr4, trc, v1 .. v5)");
    std::puts("       make_level [--container] example OUTPUT");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool container = false;
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--container")
            container = true;
        else
            args.push_back(a);
    }

    levelgen::gen_level level;
    std::string output;
    if (args.size() == 2 && args[0] == "example") {
        level = levelgen::bundled_example_level();
        output = args[1];
    } else if (args.size() == 3) {
        const auto version = levelgen::parse_kind(args[0]);
        std::uint32_t seed = 0;
        const auto [end, ec] = std::from_chars(args[1].data(), args[1].data() + args[1].size(), seed);
        if (!version || ec != std::errc() || end != args[1].data() + args[1].size()) return usage();
        level = levelgen::make_example_level(*version, seed);
        output = args[2];
    } else {
        return usage();
    }

    auto bytes = levelgen::file_bytes(level);
    if (container) bytes = levelgen::zlib_container(bytes);
    if (!levelgen::write_file(output, bytes)) {
        std::printf("make_level: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
