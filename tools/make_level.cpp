// make_level: writes a generated level file.
//   make_level [--container] [--small] KIND SEED OUTPUT   KIND: tr4, trc, marked, v1 .. v5
//   make_level [--container] [--small] example OUTPUT     the bundled example TRC level
//   make_level [--container] large OUTPUT                 the large TRC level of the benchmark
//   make_level crowded ROOMS OUTPUT                       TRC rooms of positions that crowd
//                                                         one slot of a position hash
//   make_level [--container] rooms KIND COUNT OUTPUT      COUNT empty rooms, nothing else
//   make_level [--container] overlap SIZE OUTPUT          TRC rooms claiming SIZE / 56 layers
//   make_level zeros SIZE OUTPUT                          a "ZLIB" container of SIZE zero bytes
//   make_level [--container] [--level-data] many SHAPE ROOMS OUTPUT
//                                                         TR4: ROOMS copies of one room of a
//                                                         SHAPE (sectors, faces, triangle,
//                                                         materials; see levelgen.h)
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
    std::puts("       make_level [--container] [--level-data] rooms KIND COUNT OUTPUT");
    std::puts("       make_level [--container] overlap SIZE OUTPUT");
    std::puts("       make_level zeros SIZE OUTPUT");
    std::puts("       make_level [--container] [--level-data] many SHAPE ROOMS OUTPUT"
              "   (SHAPE: sectors, faces, triangle, materials)");
    std::puts("A level's name tells the versions of one first word apart: name a trc level .trc,\n"
              "a v2 level .tub and a v4 level .trg, or it is read as tr4, v1 or v3.");
    return 2;
}

template <class T> bool parse_number(std::string_view text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool write_output(const std::string& output, std::vector<std::uint8_t> bytes, bool container) {
    if (container)
        bytes = levelgen::zlib_container(bytes);
    if (!levelgen::write_file(output, bytes)) {
        std::printf("make_level: cannot write %s\n", output.c_str());
        return false;
    }
    return true;
}

} // namespace

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

    if (args.size() == 3 && (args[0] == "overlap" || args[0] == "zeros")) {
        std::uint64_t size = 0;
        if (!parse_number(args[1], size))
            return usage();
        const std::string out(args[2]);
        if (args[0] == "zeros")
            return write_output(out, levelgen::zero_container(size), false) ? 0 : 1;
        return write_output(out, levelgen::overlapping_trc_file(size), container) ? 0 : 1;
    }
    if (args.size() == 4 && args[0] == "rooms") {
        const auto version = levelgen::parse_kind(args[1]);
        std::uint32_t count = 0;
        if (!version || !parse_number(args[2], count))
            return usage();
        if (level_data && *version != levelgen::version_tr4)
            return usage();
        const auto level = levelgen::empty_rooms_level(*version, count);
        auto bytes = level_data ? levelgen::level_data_bytes(level) : levelgen::file_bytes(level);
        return write_output(std::string(args[3]), std::move(bytes), container) ? 0 : 1;
    }

    if (args.size() == 4 && args[0] == "many") {
        std::uint32_t count = 0;
        const std::string_view shape = args[1];
        if (!parse_number(args[2], count) || count == 0 || count > 65535 ||
            (shape != "sectors" && shape != "faces" && shape != "triangle" && shape != "materials"))
            return usage();
        auto bytes = level_data ? levelgen::repeated_room_level_data(shape, count)
                                : levelgen::repeated_room_file(shape, count);
        return write_output(std::string(args[3]), std::move(bytes), container) ? 0 : 1;
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
        const auto [end, ec] =
            std::from_chars(args[1].data(), args[1].data() + args[1].size(), rooms);
        if (ec != std::errc() || end != args[1].data() + args[1].size() || rooms > 65535)
            return usage();
        level = levelgen::make_crowded_level(rooms);
        output = args[2];
    } else if (args.size() == 3) {
        const bool marked = args[0] == "marked";
        const auto version =
            marked ? std::optional<int>(levelgen::version_tr4) : levelgen::parse_kind(args[0]);
        std::uint32_t seed = 0;
        if (!version || !parse_number(args[1], seed))
            return usage();
        level = levelgen::make_example_level(*version, seed);
        if (marked)
            levelgen::add_conversion_marker(level);
        output = args[2];
    } else {
        return usage();
    }
    if (small) {
        levelgen::set_textiles(level, 0, 0);
        level.textiles_misc.clear();
        if (level.sample_data.size() > 64)
            level.sample_data.resize(64);
    }

    if (level_data && level.version != levelgen::version_tr4)
        return usage();
    auto bytes = level_data ? levelgen::level_data_bytes(level) : levelgen::file_bytes(level);
    return write_output(output, std::move(bytes), container) ? 0 : 1;
}
