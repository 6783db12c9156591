// The memory a run may use: counts that claim more than a file holds are refused before
// anything is allocated for them, and what a file really holds costs at most
// 64 MiB + 2 x (its size + the bytes its compressed streams inflate to). The built converter
// runs with its address space limited to that bound, so memory that grows with what a file
// declares instead of what it holds shows as an out-of-memory failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
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
    bool output_made = false;
    std::vector<std::uint8_t> output;
};

constexpr std::uint64_t mebibyte = 1 << 20;

/// The most memory a run may take: 64 MiB + 2 x (file size + bytes its streams inflate to).
std::uint64_t memory_bound(std::uint64_t file_size, std::uint64_t inflated) {
    return 64 * mebibyte + 2 * (file_size + inflated);
}

/// The most memory a run of quarlix-info or quarlix-export may take: 64 MiB + 4 x (file sizes
/// + bytes their streams inflate to).
std::uint64_t program_bound(std::uint64_t held) { return 64 * mebibyte + 4 * held; }

/// A command run with its memory limited: under AddressSanitizer (whose shadow memory an
/// address-space limit cannot allow for) no single allocation may exceed 64 MiB; otherwise the
/// process may not map more than `limit` bytes.
std::string limited(const std::string& run, std::uint64_t limit) {
    return address_sanitizer
               ? "ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=64 " + run
               : "sh -c \"ulimit -v " + std::to_string(limit / 1024) + "; exec " + run + "\"";
}

/// Runs a program on the arguments (the names of files in `dir`, and others as they are) with
/// its memory limited, standard output and error kept.
outcome run_limited(const scratch_dir& dir, const std::string& program,
                    const std::vector<std::string>& args, std::uint64_t limit) {
    std::string run = "'" + program + "'";
    for (const std::string& arg : args) {
        run += " '" + arg + "'";
    }
    run += " > '" + dir.file("out.txt") + "' 2> '" + dir.file("err.txt") + "'";
    outcome o;
    const int raw = std::system(limited(run, limit).c_str());
    o.status = raw == -1 ? -1 : WEXITSTATUS(raw);
    const auto out = read_bytes(dir.file("out.txt"));
    const auto err = read_bytes(dir.file("err.txt"));
    o.out.assign(out.begin(), out.end());
    o.err.assign(err.begin(), err.end());
    return o;
}

/// Runs the converter on a file with its memory limited (512 MiB by default).
outcome convert_limited(const std::vector<std::uint8_t>& input, const std::string& name,
                        std::uint64_t limit = 512 * mebibyte) {
    scratch_dir dir;
    write_bytes(dir.file(name), input);
    const std::string output = dir.file(name.ends_with(".tr4") ? "out.trc" : "out.tr4");
    outcome o = run_limited(dir, QUARLIX_BINARY, {dir.file(name), output}, limit);
    o.output_made = std::filesystem::exists(output);
    if (o.output_made) {
        o.output = read_bytes(output);
    }
    return o;
}

/// An input as the converter gets it, and the bytes its compressed streams inflate to.
struct bounded_input {
    const char* name;
    std::vector<std::uint8_t> file;
    std::uint64_t inflated;
};

/// A level's file, plain or in a container; a TR4 level's level data is inflated either way.
bounded_input input_of(const char* name, const levelgen::gen_level& level, bool container) {
    std::vector<std::uint8_t> file = levelgen::file_bytes(level);
    std::uint64_t inflated = level.version == 6 ? levelgen::level_data_bytes(level).size() : 0;
    if (container) {
        inflated += file.size();
        file = levelgen::zlib_container(file);
    }
    return {name, std::move(file), inflated};
}

/// Runs every input under its own bound; each must end the way `expected` says, never out of
/// memory. The limit holds whole pages only, so the bound is rounded down to KiB.
void expect_within_bound(const std::vector<bounded_input>& inputs, const char* file_name,
                         int status, const std::string& last_line) {
    for (const bounded_input& in : inputs) {
        SCOPED_TRACE(in.name);
        const outcome o =
            convert_limited(in.file, file_name, memory_bound(in.file.size(), in.inflated));
        EXPECT_EQ(o.status, status);
        EXPECT_THAT(o.out, Not(HasSubstr("EOutOfMemory")));
        EXPECT_THAT(o.out, HasSubstr("\n" + last_line));
        EXPECT_TRUE(o.out.ends_with(last_line + "\n")) << o.out;
        EXPECT_FALSE(o.output_made);
        EXPECT_EQ(o.err, "");
    }
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
    claims.push_back(
        {"65535 TR4 rooms", levelgen::file_bytes(rooms), "a.tr4", "65535 rooms cannot fit"});
    rooms.version = 7;
    claims.push_back(
        {"65535 TRC rooms", levelgen::file_bytes(rooms), "a.trc", "65535 rooms cannot fit"});

    levelgen::gen_level trc = empty_level(7);
    trc.rooms.resize(1);
    trc.rooms[0].num_layers = 0xFFFFFFFFu;
    claims.push_back({"0xFFFFFFFF layers", levelgen::file_bytes(trc), "a.trc",
                      "4294967295 layer headers at file offset"});

    claims.push_back({"overlapping rooms claiming the same layers", overlapping_trc_rooms(),
                      "a.trc", "bytes of room data exceed the"});

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
    // A container of 3 GiB of zeros is refused only after 2 GiB are inflated: under a limit of
    // 1 GiB that cannot be done.
    const outcome o =
        convert_limited(levelgen::zero_container(std::uint64_t{3} << 30), "a.bin", 1024 * mebibyte);
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.out, HasSubstr("\nEOutOfMemory: out of memory"));
    EXPECT_FALSE(o.output_made);
}

// ---- Memory follows what the file holds ----

TEST(MemoryBound, EmptyTr4RoomsCostWhatTheirBytesHold) {
    // 65535 empty rooms: 9 KiB of file, 2.9 MB of level data, some 2 KiB less in a container.
    const auto rooms = levelgen::empty_rooms_level(6, 65535);
    expect_within_bound({input_of("plain", rooms, false), input_of("in a container", rooms, true)},
                        "a.tr4", 0, "This tr4 file was not generated by Quarlix utility.");
}

TEST(MemoryBound, TrcRoomsCannotReclaimTheSameBytes) {
    // Rooms 16 bytes apart, each reading 100 layers from bytes that the others read too: as
    // many layers as the file has room for headers. The bytes that all rooms together read
    // cannot exceed the level data, so they are refused long before.
    std::vector<bounded_input> inputs;
    const auto one_mib = levelgen::overlapping_trc_file(mebibyte);
    const auto two_mib = levelgen::overlapping_trc_file(2 * mebibyte);
    inputs.push_back({"1 MiB plain", one_mib, 0});
    inputs.push_back({"1 MiB in a container", levelgen::zlib_container(one_mib), one_mib.size()});
    inputs.push_back({"2 MiB in a container", levelgen::zlib_container(two_mib), two_mib.size()});
    for (const bounded_input& in : inputs) {
        SCOPED_TRACE(in.name);
        const outcome o =
            convert_limited(in.file, "a.trc", memory_bound(in.file.size(), in.inflated));
        EXPECT_EQ(o.status, 1);
        EXPECT_THAT(o.out, HasSubstr("\nELevelFormatError: TRC room "));
        EXPECT_THAT(o.out, HasSubstr("bytes of room data exceed the"));
        EXPECT_FALSE(o.output_made);
    }
}

TEST(MemoryBound, OlderVersionsWithManyRoomsAreRefusedWithinTheBound) {
    std::vector<bounded_input> inputs;
    static const char* const names[] = {"v1", "v2", "v3", "v4", "v5"};
    for (int v = 1; v <= 5; ++v) {
        inputs.push_back(input_of(names[v - 1], levelgen::empty_rooms_level(v, 8192), false));
    }
    inputs.push_back(
        input_of("65535 rooms in a container", levelgen::empty_rooms_level(1, 65535), true));
    expect_within_bound(inputs, "a.phd", 0, "This is not a tr4 or TRc level");
}

TEST(MemoryBound, AContainerTooLargeToHoldIsRefusedWhileInflating) {
    if (address_sanitizer) {
        GTEST_SKIP() << "holding 2 GiB needs one allocation above the 64 MiB that this build "
                        "allows; the release build runs this under an address-space limit";
    }
    // 3 GiB of zeros in 3 MiB. Refusing it takes the 2 GiB that can be held, not all 3 GiB:
    // the limit leaves no room for more.
    const auto zeros = levelgen::zero_container(std::uint64_t{3} << 30);
    const outcome o = convert_limited(zeros, "a.bin", 2048 * mebibyte + 128 * mebibyte);
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.out, HasSubstr("\nEInOutError: '"));
    EXPECT_THAT(o.out, HasSubstr("a.bin': content of more than 2147483647 bytes is too large to "
                                 "hold (2 GiB or more)\n"));
    EXPECT_FALSE(o.output_made);
}

TEST(MemoryBound, ATextureChunkOfHundredsOfMebibytesConvertsBothWaysWithinTheBound) {
    if (address_sanitizer) {
        GTEST_SKIP() << "holding the chunk needs one allocation above the 64 MiB that this build "
                        "allows; the release build runs this under an address-space limit";
    }
    // 256 MiB of 16-bit texels in 256 KiB and no 32-bit ones: the TR4 save compresses 512 MiB
    // of 32-bit texels that are not there, and the way back holds both chunks. Neither the
    // missing texels nor an output buffer sized for the worst case may take memory.
    levelgen::gen_level trc = empty_level(7);
    trc.textiles16.assign(256 * mebibyte, 0);
    const auto file = levelgen::file_bytes(trc);
    trc.textiles16.clear();
    trc.textiles16.shrink_to_fit();
    const outcome to_tr4 =
        convert_limited(file, "a.trc", memory_bound(file.size(), 256 * mebibyte));
    EXPECT_EQ(to_tr4.status, 0) << to_tr4.out;
    EXPECT_THAT(to_tr4.out, HasSubstr("\nDone."));
    ASSERT_TRUE(to_tr4.output_made);
    const outcome to_trc =
        convert_limited(to_tr4.output, "a.tr4", memory_bound(to_tr4.output.size(), 768 * mebibyte));
    EXPECT_EQ(to_trc.status, 0) << to_trc.out;
    EXPECT_THAT(to_trc.out, HasSubstr("\nDone."));
    EXPECT_TRUE(to_trc.output_made);
}

// ---- quarlix-info and quarlix-export ----

/// TR4 copies of one room of a shape (see levelgen.h): the file and what its chunks inflate to.
bounded_input many_rooms(const char* name, std::string_view shape, std::uint32_t rooms) {
    levelgen::gen_level level;
    const std::vector<std::uint8_t> data = levelgen::repeated_room_level_data(shape, rooms, &level);
    return {name, levelgen::file_with_level_data(level, data),
            data.size() + level.textiles32.size() + level.textiles16.size() +
                level.textiles_misc.size()};
}

/// Fewer rooms under the sanitizers, which take many times as long; the release build runs the
/// inputs as large as they were found.
std::uint32_t scaled(std::uint32_t rooms) { return address_sanitizer ? rooms / 16 : rooms; }

TEST(MemoryBound, InfoKeepsTheBoundOnManyRoomsAndMillionsOfProblems) {
    struct run {
        std::vector<bounded_input> inputs;
        std::vector<std::string> options;
        int status;
        std::string last_line;
    };
    std::vector<run> runs;
    runs.push_back(
        {{many_rooms("2,048 rooms naming missing boxes and floor data", "sectors", scaled(2048))},
         {"--check", "--json"},
         1,
         "}"});
    runs.push_back(
        {{many_rooms("512 rooms of faces naming missing object textures", "faces", scaled(512))},
         {"--check"},
         1,
         "  ... "});
    runs.push_back({{input_of("65,535 empty rooms", levelgen::empty_rooms_level(6, 65535), false)},
                    {},
                    0,
                    "samples "});
    runs.push_back({{input_of("65,535 empty rooms", levelgen::empty_rooms_level(6, 65535), false),
                     many_rooms("65,535 rooms of a triangle", "triangle", 65535)},
                    {},
                    0,
                    "131076 lines differ"});
    for (const run& r : runs) {
        SCOPED_TRACE(r.inputs.front().name);
        scratch_dir dir;
        std::vector<std::string> args = r.options;
        std::uint64_t held = 0;
        for (std::size_t i = 0; i < r.inputs.size(); ++i) {
            const std::string name = dir.file("level-" + std::to_string(i) + ".tr4");
            write_bytes(name, r.inputs[i].file);
            args.push_back(name);
            held += r.inputs[i].file.size() + r.inputs[i].inflated;
        }
        const outcome o = run_limited(dir, QUARLIX_INFO_BINARY, args, program_bound(held));
        EXPECT_EQ(o.status, r.status);
        EXPECT_THAT(o.out, Not(HasSubstr("EOutOfMemory")));
        const std::size_t last = o.out.rfind('\n', o.out.size() - 2);
        EXPECT_THAT(o.out.substr(last + 1), ::testing::StartsWith(r.last_line));
        EXPECT_EQ(o.err, "");
    }
}

TEST(MemoryBound, ExportKeepsTheBoundOnManyRoomsAndMaterials) {
    for (const bounded_input& in :
         {many_rooms("65,535 rooms of a triangle", "triangle", scaled(65535)),
          many_rooms("512 rooms of 49 materials", "materials", 512)}) {
        SCOPED_TRACE(in.name);
        scratch_dir dir;
        write_bytes(dir.file("level.tr4"), in.file);
        const outcome o =
            run_limited(dir, QUARLIX_EXPORT_BINARY, {dir.file("level.tr4"), dir.file("out")},
                        program_bound(in.file.size() + in.inflated));
        EXPECT_EQ(o.status, 0) << o.out;
        EXPECT_TRUE(o.out.ends_with("\nDone.\n")) << o.out;
        EXPECT_GT(std::filesystem::file_size(dir.file("out/level.glb")), in.file.size());
        EXPECT_EQ(o.err, "");
    }
}
