// The file frame's size check: sizes and counts that a save writes into fixed-width fields;
// one that does not fit is an ERangeError before the output is created, never a shorter file
// reported as written.
#include "level/trunit2.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "test_support.h"

using namespace quarlix;
using quarlix::test::scratch_dir;
using ::testing::HasSubstr;

namespace {

constexpr std::uint64_t u32_max = UINT32_MAX;

/// A loaded-looking level with nothing in it, saved as TR4 or TRC by the output name.
std::unique_ptr<Ttrlevel> empty_level() {
    auto l = std::make_unique<Ttrlevel>();
    l->signature = level_signature;
    l->magic = 0x00345254;
    l->version = level_tr4;
    return l;
}

/// The message of the ERangeError that a save raises; fails the test when it raises none.
std::string save_range_error(Ttrlevel& l, const std::string& name) {
    try {
        l.save(name);
    } catch (const ERangeError& e) {
        return e.what();
    }
    ADD_FAILURE() << "the save of " << name << " raised no ERangeError";
    return {};
}

} // namespace

TEST(SaveSizes, EveryFieldIsCheckedAtItsLimit) {
    const auto refused = [](const tsave_sizes& s) -> std::string {
        try {
            check_save_sizes(s);
        } catch (const ERangeError& e) {
            return e.what();
        }
        return {};
    };
    tsave_sizes tr4;
    tr4.textiles32 = tr4.textiles16 = tr4.textiles_misc = tr4.level_data = u32_max;
    EXPECT_EQ(refused(tr4), ""); // compressed, the TR4 level data adds no bytes here
    tsave_sizes s = tr4;
    s.textiles32 = u32_max + 1;
    EXPECT_THAT(refused(s), HasSubstr("texture chunk 1 length: 4294967296 does not fit"));
    s = tr4;
    s.textiles16 = u32_max + 1;
    EXPECT_THAT(refused(s), HasSubstr("texture chunk 2 length"));
    s = tr4;
    s.textiles_misc = u32_max + 1;
    EXPECT_THAT(refused(s), HasSubstr("texture chunk 3 length"));
    s = tr4;
    s.level_data = u32_max + 1;
    EXPECT_THAT(refused(s), HasSubstr("level-data chunk length"));
    s = tr4;
    s.sample_data = 5;
    s.sample_data_held = 4;
    EXPECT_THAT(refused(s), HasSubstr("sample data: length 5 exceeds the 4 bytes held"));

    // Header, chunk fields and the sample data (and the TRC level data, written whole) must
    // leave the file under 2 GiB.
    s = tr4;
    s.sample_data = s.sample_data_held = INT32_MAX - 42;
    EXPECT_EQ(refused(s), "");
    s.sample_data = s.sample_data_held = INT32_MAX - 41;
    EXPECT_THAT(refused(s), HasSubstr("at least 2147483648 bytes"));
    tsave_sizes trc;
    trc.version = level_trc;
    trc.level_data = INT32_MAX - 34;
    EXPECT_EQ(refused(trc), "");
    trc.level_data += 1;
    EXPECT_THAT(refused(trc), HasSubstr("at least 2147483648 bytes"));
}

TEST(SaveSizes, OversizedModelsAreRefusedBeforeTheOutputIsCreated) {
    scratch_dir dir;
    {
        // A 16-bit textile chunk of 2 GiB: 16384 textiles, whose 32-bit chunk is 4 GiB.
        auto l = empty_level();
        l->num_textiles = 16384;
        l->textile_bytes = 16384u * 65536u;
        EXPECT_THAT(save_range_error(*l, dir.file("textiles.tr4")),
                    HasSubstr("texture chunk 1 length: 4294967296 does not fit its 32-bit field; "
                              "no output was written"));
        EXPECT_FALSE(std::filesystem::exists(dir.file("textiles.tr4")));
    }
    {
        // 2 GiB of sample data (held but never touched): as TRC, with the level data in front,
        // the file would pass 2 GiB.
        auto l = empty_level();
        l->sample_data.resize(std::size_t{1} << 31);
        l->sample_data_size = 1u << 31;
        EXPECT_THAT(save_range_error(*l, dir.file("samples.trc")), HasSubstr("less than 2 GiB"));
        EXPECT_FALSE(std::filesystem::exists(dir.file("samples.trc")));
    }
    {
        // Counts that say more than the records held, or more than a 16-bit field holds.
        auto l = empty_level();
        l->set_num_object_textures(2);
        l->num_object_textures = 3;
        EXPECT_THAT(save_range_error(*l, dir.file("textures.trc")),
                    HasSubstr("object textures: count 3 exceeds the 2 records held"));
        l->set_num_object_textures(0);
        l->set_num_demo_data(70000);
        EXPECT_THAT(save_range_error(*l, dir.file("demo.tr4")),
                    HasSubstr("demo data: count 70000 does not fit its 16-bit field"));
        l->set_num_demo_data(0);
        l->num_cameras = -1;
        EXPECT_THAT(save_range_error(*l, dir.file("cameras.tr4")),
                    HasSubstr("cameras: count -1 does not fit its 32-bit field"));
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    }
}

TEST(SaveSizes, AnOutputThatOutgrowsTheFileFailsAndIsNotMade) {
    // As TR4 the sample data fits the check, but the compressed chunks in front of it take the
    // file past 2 GiB: found only while writing, so the output is never made.
    scratch_dir dir;
    auto l = empty_level();
    l->sample_data.resize(INT32_MAX - 60);
    l->sample_data_size = INT32_MAX - 60;
    try {
        l->save(dir.file("out.tr4"));
        ADD_FAILURE() << "the save succeeded";
    } catch (const EInOutError& e) {
        EXPECT_THAT(e.what(), HasSubstr("too large to hold"));
        EXPECT_THAT(e.what(), HasSubstr("was made"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.tr4")));
}
