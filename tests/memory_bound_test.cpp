// The memory a load may use: counts that claim more than a file holds are refused before
// anything is allocated for them. The built converter runs with its allocations limited, so
// an allocation from an unchecked count shows as an out-of-memory failure, not a format error.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"
#include "tools/levelgen.h"

using quarlix::test::read_bytes;
using quarlix::test::scratch_dir;
using quarlix::test::write_bytes;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool address_sanitizer = true;
#else
constexpr bool address_sanitizer = false;
#endif
#else
constexpr bool address_sanitizer = false;
#endif

struct outcome {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs the converter on a file with its memory limited: under AddressSanitizer no single
/// allocation may exceed 64 MiB; otherwise the process may not map more than 512 MiB.
outcome convert_limited(const std::vector<std::uint8_t>& input, const std::string& name) {
    scratch_dir dir;
    write_bytes(dir.file(name), input);
    const std::string run = "'" + std::string(QUARLIX_BINARY) + "' '" + dir.file(name) + "' '" +
                            dir.file("out.level") + "' > '" + dir.file("out.txt") + "' 2> '" +
                            dir.file("err.txt") + "'";
    const std::string command =
        address_sanitizer
            ? "ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=64 " + run
            : "sh -c \"ulimit -v 524288; exec " + run + "\"";
    outcome o;
    const int raw = std::system(command.c_str());
    o.status = raw == -1 ? -1 : WEXITSTATUS(raw);
    const auto out = read_bytes(dir.file("out.txt"));
    const auto err = read_bytes(dir.file("err.txt"));
    o.out.assign(out.begin(), out.end());
    o.err.assign(err.begin(), err.end());
    return o;
}

levelgen::gen_level empty_level(int version) {
    levelgen::gen_level g;
    g.version = version;
    return g;
}

/// A TRC level whose rooms overlap, 16 bytes apart, so that every room reads its 100 layer
/// headers from bytes that the rooms before it read too: 100 rooms would claim 10000 layers
/// (about 750 MiB of layer blocks) from some 23 KiB of level data. Every room declares a data
/// size of 8 (the next room starts 16 bytes on) and 8 aux records, and reads its layer count
/// from its own word at 176; all its other counts read as 0, or as 8 vertices or triangles of
/// a layer, which stay within the capacities.
std::vector<std::uint8_t> overlapping_trc_rooms() {
    constexpr std::uint32_t rooms = 100, layers = 100, region = 23000;
    std::vector<std::uint8_t> data(48 + region, 0);
    const auto put = [&](std::size_t at, std::uint32_t v) { levelgen::put_u32(data, at, v); };
    put(44, rooms);
    for (std::size_t at = 4; at < region; at += 16) {
        put(48 + at, 8);
    }
    for (std::uint32_t i = 0; i < rooms; ++i) {
        put(48 + 176 + 16 * i, layers);
    }
    return levelgen::file_with_level_data(empty_level(7), data);
}

} // namespace

TEST(MemoryBound, CountsBeyondTheFileAreRefusedBeforeAllocating) {
    struct claim {
        const char* name;
        std::vector<std::uint8_t> file;
        const char* file_name;
        const char* message;
    };
    std::vector<claim> claims;

    levelgen::gen_level tr4 = levelgen::make_example_level(6, 1);
    levelgen::gen_layout layout;
    auto data = levelgen::level_data_bytes(tr4, &layout);
    levelgen::put_u32(data, layout.level.at("boxes"), 0xFFFFFFFFu);
    claims.push_back({"0xFFFFFFFF boxes", levelgen::file_with_level_data(tr4, data), "a.tr4",
                      "boxes at level-data offset"});

    data = levelgen::level_data_bytes(tr4, &layout);
    levelgen::put_u32(data, layout.level.at("object_textures"), 0xFFFFFFFFu);
    claims.push_back({"0xFFFFFFFF object textures", levelgen::file_with_level_data(tr4, data),
                      "a.tr4", "object textures at level-data offset"});

    levelgen::gen_level rooms = empty_level(6);
    rooms.num_rooms = 65535;
    claims.push_back({"65535 TR4 rooms", levelgen::file_bytes(rooms), "a.tr4",
                      "65535 rooms cannot fit"});
    rooms.version = 7;
    claims.push_back({"65535 TRC rooms", levelgen::file_bytes(rooms), "a.trc",
                      "65535 rooms cannot fit"});

    levelgen::gen_level trc = empty_level(7);
    trc.rooms.resize(1);
    trc.rooms[0].num_layers = 0xFFFFFFFFu;
    claims.push_back({"0xFFFFFFFF layers", levelgen::file_bytes(trc), "a.trc",
                      "4294967295 layer headers at file offset"});

    claims.push_back({"overlapping rooms claiming the same layers", overlapping_trc_rooms(),
                      "a.trc", "layer count at file offset"});

    levelgen::gen_level older = levelgen::make_example_level(3, 1);
    older.num_textiles = 0xFFFFFFFFu;
    claims.push_back({"0xFFFFFFFF textiles in a version-3 file", levelgen::file_bytes(older),
                      "a.phd", "8-bit textiles at file offset"});

    levelgen::gen_level samples = levelgen::make_example_level(1, 1);
    data = levelgen::level_data_bytes(samples, &layout);
    levelgen::put_u32(data, layout.level.at("sample_data"), 0xFFFFFFFFu);
    claims.push_back({"0xFFFFFFFF bytes of inline samples in a version-1 file", data, "a.phd",
                      "sample data at file offset"});

    for (const claim& c : claims) {
        SCOPED_TRACE(c.name);
        const outcome o = convert_limited(c.file, c.file_name);
        EXPECT_EQ(o.status, 1);
        EXPECT_THAT(o.out, HasSubstr("\nELevelFormatError: "));
        EXPECT_THAT(o.out, HasSubstr(c.message));
        EXPECT_EQ(o.err, "");
    }
}

TEST(MemoryBound, TheLimitIsInForce) {
    // 4000 rooms that the file really holds need some 600 MiB: more than the limit allows.
    levelgen::gen_level g = empty_level(6);
    g.rooms.resize(4000);
    const outcome o = convert_limited(levelgen::file_bytes(g), "a.tr4");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.out, Not(HasSubstr("ELevelFormatError")));
    EXPECT_THAT(o.out, Not(HasSubstr("Done.")));
    if (!address_sanitizer) {
        EXPECT_THAT(o.out, HasSubstr("EOutOfMemory: "));
    }
}
