// The level object: count setters, version detection, load statuses and buffer release.
#include "level/trunit2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "test_support.h"

using namespace quarlix;
using quarlix::test::scratch_dir;
using quarlix::test::write_bytes;

namespace {

bool all_zero(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i) {
        if (b[i] != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

TEST(Setters, GrowthZeroFillsAndShrinkKeepsTheHead) {
    auto l = std::make_unique<Ttrlevel>();
    l->set_num_moveables(5);
    for (int i = 0; i < 5; ++i) {
        std::memset(&l->moveables[i], 0x10 + i, sizeof(tmoveable));
        std::memset(&l->moveables_trc[i], 0x20 + i, sizeof(tmoveable_trc));
    }
    l->set_num_moveables(3);
    ASSERT_EQ(l->num_moveables, 3);
    ASSERT_EQ(l->moveables.size(), 3u);
    ASSERT_EQ(l->moveables_trc.size(), 3u);
    EXPECT_EQ(l->moveables[2].object_id, 0x12121212u);
    EXPECT_EQ(l->moveables_trc[2].trailing, 0x2222);
    l->set_num_moveables(5);
    EXPECT_TRUE(all_zero(&l->moveables[3], 2 * sizeof(tmoveable)));
    EXPECT_TRUE(all_zero(&l->moveables_trc[3], 2 * sizeof(tmoveable_trc)));
    EXPECT_EQ(l->moveables[0].animation, 0x1010);
}

TEST(Setters, PairedFormsAndZonesResizeTogether) {
    auto l = std::make_unique<Ttrlevel>();
    l->set_num_boxes(7);
    EXPECT_EQ(l->boxes.size(), 7u);
    EXPECT_EQ(l->boxes_old.size(), 7u);
    l->set_num_items(4);
    EXPECT_EQ(l->items.size(), 4u);
    EXPECT_EQ(l->items_old.size(), 4u);
    l->set_num_zones(9);
    for (const auto& zone : l->zones) {
        EXPECT_EQ(zone.size(), 9u);
    }
    EXPECT_EQ(l->num_zones, 9);
}

TEST(Setters, VersionChoosesTheArray) {
    auto l = std::make_unique<Ttrlevel>();
    l->version = 5;
    l->set_num_animations(4);
    l->set_num_ai_objects(2);
    EXPECT_EQ(l->animations_old.size(), 4u);
    EXPECT_TRUE(l->animations.empty());
    EXPECT_EQ(l->cinematic_frames.size(), 2u);
    EXPECT_TRUE(l->ai_objects.empty());
    EXPECT_EQ(l->num_animations, 4);

    l->version = level_tr4;
    l->set_num_animations(1);
    l->set_num_ai_objects(3);
    EXPECT_EQ(l->animations.size(), 1u);
    EXPECT_EQ(l->animations_old.size(), 4u) << "the other form is left alone";
    EXPECT_EQ(l->ai_objects.size(), 3u);
    EXPECT_EQ(l->cinematic_frames.size(), 2u);
}

TEST(Setters, RoomsStartZeroWithEmptyLayersAndDropWithTheirArrays) {
    auto l = std::make_unique<Ttrlevel>();
    l->set_num_rooms(2);
    ASSERT_EQ(l->rooms.size(), 2u);
    EXPECT_EQ(l->num_rooms, 2);
    EXPECT_TRUE(all_zero(&l->rooms[1].num_vertices, sizeof(std::uint16_t)));
    EXPECT_TRUE(l->rooms[1].layer_headers.empty());
    EXPECT_TRUE(l->rooms[1].layers.vertex_blocks.empty());
    l->rooms[0].pos_x = 77;
    l->rooms[1].layer_headers.resize(3);
    l->set_num_rooms(1);
    l->set_num_rooms(2);
    EXPECT_EQ(l->rooms[0].pos_x, 77);
    EXPECT_TRUE(l->rooms[1].layer_headers.empty());
    EXPECT_EQ(l->rooms[1].pos_x, 0);
}

TEST(Setters, OutOfRangeFailsAndKeepsTheCount) {
    auto l = std::make_unique<Ttrlevel>();
    l->set_num_floor_data(10);
    EXPECT_THROW(l->set_num_floor_data(-1), ERangeError);
    EXPECT_EQ(l->num_floor_data, 10);
    EXPECT_EQ(l->floor_data.size(), 10u);
    // 40-byte records: 53687092 of them need more than 2^31 - 1 bytes.
    l->version = level_tr4;
    EXPECT_THROW(l->set_num_animations(53687092), ERangeError);
    EXPECT_THROW(l->set_num_moveables(0x7FFFFFFF), ERangeError);
    EXPECT_EQ(l->num_moveables, 0);
    EXPECT_TRUE(l->moveables.empty());
    try {
        l->set_num_items(-5);
        FAIL();
    } catch (const EError& e) {
        EXPECT_STREQ(e.kind(), "ERangeError");
    }
}

TEST(Detection, FirstWordAndNameGiveTheVersion) {
    struct row {
        std::uint32_t word;
        const char* name;
        std::int32_t version;
    };
    const row rows[] = {
        {0x00000020, "a.phd", 1},          {0x00000020, "a.TUB", 2},
        {0x00000020, "a.tub", 2},          {0x00000020, "a.Tub", 1},
        {0x0000002D, "a.tr2", 3},          {0x0000002D, "a.TRG", 4},
        {0x0000002D, "x.trg.bak", 4},      {0xFF080038, "a.tr4", 5},
        {0xFF180038, "a.trc", 5},          {0x00345254, "level.tr4", 6},
        {0x00345254, "LEVEL.TRC", 7},      {0x00345254, "level.trc", 7},
        {0x00345254, "level.Trc", 6},      {0x00345254, "level.tRC", 6},
        {0x00345254, "maps.trc/a.tr4", 7}, {0xFFFFFFF0, "a.trc", 7},
        {0xFFFFFFF0, "a.tr4", 6},          {0x00345253, "a.tr4", 0},
        {0x00000000, "a.trc", 0},          {0x42494C5A, "a.tr4", 0},
    };
    for (const row& r : rows) {
        EXPECT_EQ(detect_version(r.word, r.name), r.version) << std::hex << r.word << " " << r.name;
    }
}

TEST(Load, StatusesForMissingDirectoryAndUnrecognisedFiles) {
    scratch_dir dir;
    auto l = std::make_unique<Ttrlevel>();
    EXPECT_EQ(l->load(dir.file("missing.tr4")), 1);
    std::filesystem::create_directory(dir.file("folder.tr4"));
    EXPECT_EQ(l->load(dir.file("folder.tr4")), 1);

    l->version = 6;
    l->magic = 0x1234;
    const std::uint8_t junk[] = {'J', 'U', 'N', 'K', 1, 2, 3};
    write_bytes(dir.file("junk.tr4"), junk);
    EXPECT_EQ(l->load(dir.file("junk.tr4")), 2);
    EXPECT_EQ(l->magic, 0u);
    EXPECT_EQ(l->version, 6) << "an unrecognised word leaves the version";
    EXPECT_TRUE(l->signature.empty());

    write_bytes(dir.file("short.tr4"), std::span(junk, 2));
    EXPECT_EQ(l->load(dir.file("short.tr4")), 2);
}

TEST(Save, NothingLoadedWritesNothing) {
    scratch_dir dir;
    auto l = std::make_unique<Ttrlevel>();
    EXPECT_EQ(l->save(dir.file("out.tr4")), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.tr4")));
}

TEST(Save, OlderVersionsAreRefusedBeforeAnyFileIsCreated) {
    scratch_dir dir;
    auto l = std::make_unique<Ttrlevel>();
    l->signature = level_signature;
    l->magic = 0x0000002D;
    EXPECT_THROW(l->save(dir.file("out.tr4")), EError);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.tr4")));
}
