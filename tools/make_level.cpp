// make_level: writes a generated level file.
//   make_level [--container] [--small] KIND SEED OUTPUT   KIND: tr4, trc, marked, v1 .. v5
//   make_level [--container] [--small] example OUTPUT     the bundled example TRC level
//   make_level [--container] large OUTPUT                 the large TRC level of the benchmark
//   make_level crowded ROOMS OUTPUT                       TRC rooms of positions that crowd
//                                                         one slot of a position hash
// marked is a TR4 level whose floor data carries the conversion marker and the sound map, as
// one converted from TRC. --small leaves out the textiles and all but 64 bytes of the sample
// data (seeds for fuzzing). --level-data writes only the level data of a TR4 level (tr4 or
// marked), as its level-data chunk holds it inflated. --container wraps the file in a "ZLIB"
// container. Silent on success.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/levelgen.h"

namespace {

int usage() {
    std::puts("usage: make_level [--container] [--small] [--level-data] KIND SEED OUTPUT"
              "   (KIND: tr4, trc, marked, v1 .. v5)");
    std::puts("       make_level [--container] [--small] example OUTPUT");
    std::puts("       make_level [--container] large OUTPUT");
    std::puts("       make_level crowded ROOMS OUTPUT");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool container = false;
    bool small = false;
    bool level_data = false;
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--container")
            container = true;
        else if (a == "--small")
            small = true;
        else if (a == "--level-data")
            level_data = true;
        else
            args.push_back(a);
    }

    levelgen::gen_level level;
    std::string output;
    if (args.size() == 2 && args[0] == "example") {
        level = levelgen::bundled_example_level();
        output = args[1];
    } else if (args.size() == 2 && args[0] == "large") {
        level = levelgen::make_large_level();
        output = args[1];
    } else if (args.size() == 3 && args[0] == "crowded") {
        std::size_t rooms = 0;
        const auto [end, ec] = std::from_chars(args[1].data(), args[1].data() + args[1].size(), rooms);
        if (ec != std::errc() || end != args[1].data() + args[1].size() || rooms > 65535) return usage();
        level = levelgen::make_crowded_level(rooms);
        output = args[2];
    } else if (args.size() == 3) {
        const bool marked = args[0] == "marked";
        const auto version =
            marked ? std::optional<int>(levelgen::version_tr4) : levelgen::parse_kind(args[0]);
        std::uint32_t seed = 0;
        const auto [end, ec] = std::from_chars(args[1].data(), args[1].data() + args[1].size(), seed);
        if (!version || ec != std::errc() || end != args[1].data() + args[1].size()) return usage();
        level = levelgen::make_example_level(*version, seed);
        if (marked) levelgen::add_conversion_marker(level);
        output = args[2];
    } else {
        return usage();
    }
    if (small) {
        levelgen::set_textiles(level, 0, 0);
        level.textiles_misc.clear();
        if (level.sample_data.size() > 64) level.sample_data.resize(64);
    }

    if (level_data && level.version != levelgen::version_tr4) return usage();
    auto bytes = level_data ? levelgen::level_data_bytes(level) : levelgen::file_bytes(level);
    if (container) bytes = levelgen::zlib_container(bytes);
    if (!levelgen::write_file(output, bytes)) {
        std::printf("make_level: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
