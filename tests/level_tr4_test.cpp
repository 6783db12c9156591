// TR4 levels through the library: the frame, every section, byte-exact round trips, and
// malformed input refused before anything large is allocated.
#include "level/trunit2.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "level_support.h"
#include "tools/levelgen.h"

using namespace quarlix;
using quarlix::test::load_error;
using quarlix::test::read_bytes;
using quarlix::test::split_file;
using parsed_file = quarlix::test::file_parts;
using quarlix::test::scratch_dir;
using quarlix::test::write_bytes;
using ::testing::HasSubstr;

namespace {

std::unique_ptr<Ttrlevel> load_bytes(const std::vector<std::uint8_t>& file,
                                     const std::string& name = "level.tr4") {
    return test::load_bytes(file, name);
}

std::vector<std::uint8_t> saved(Ttrlevel& level, const std::string& name = "out.tr4") {
    return test::saved(level, name);
}

levelgen::gen_level small_tr4() {
    levelgen::gen_level g;
    g.version = 6;
    g.level_data_prefix = 0x11223344;
    levelgen::set_textiles(g, 1, 9);
    g.textiles_misc = levelgen::pattern_bytes(300, 4);
    g.sample_data = levelgen::sample_bytes(500, 2);
    return g;
}

} // namespace

TEST(Tr4RoundTrip, ExampleLevelsComeBackByteForByte) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        const levelgen::gen_level g = levelgen::make_example_level(6, seed);
        const auto file = levelgen::file_bytes(g);
        auto level = load_bytes(file);
        const parsed_file out = split_file(saved(*level), true);
        const parsed_file in = split_file(file, true);
        EXPECT_EQ(out.header, in.header);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(out.chunks[c], in.chunks[c]) << "texture chunk " << c + 1;
        }
        EXPECT_EQ(out.level_data, levelgen::level_data_bytes(g));
        EXPECT_EQ(out.level_chunk_u, out.level_data.size());
        EXPECT_EQ(out.samples, g.sample_data);
    }
}

TEST(Tr4RoundTrip, ModelHoldsTheDerivedForms) {
    levelgen::gen_level g = levelgen::make_example_level(6, 7);
    ASSERT_FALSE(g.rooms.empty());
    ASSERT_FALSE(g.rooms[0].vertices.empty());
    ASSERT_FALSE(g.items.empty());
    auto level = load_bytes(levelgen::file_bytes(g));
    EXPECT_EQ(level->version, level_tr4);
    EXPECT_EQ(level->signature, "Zendrac");
    EXPECT_EQ(level->num_rooms, g.rooms.size());
    const troom& r = level->rooms[0];
    ASSERT_EQ(r.num_vertices, g.rooms[0].vertices.size());
    for (std::size_t i = 0; i < r.num_vertices; ++i) {
        EXPECT_EQ(r.legacy_vertices[i].x, r.vertices[i].x);
        EXPECT_EQ(r.legacy_vertices[i].z, r.vertices[i].z);
        EXPECT_EQ(r.legacy_vertices[i].lighting, r.vertices[i].lighting);
        EXPECT_EQ(r.vertices[i].colour, g.rooms[0].vertices[i].colour);
    }
    EXPECT_EQ(r.tail_bytes[3], 0);
    EXPECT_EQ(level->num_zones, level->num_boxes);
    for (std::size_t i = 0; i < level->items.size(); ++i) {
        const titem it = level->items[i];
        const titem_old old = level->items_old[i];
        EXPECT_EQ(old.intensity, static_cast<std::uint8_t>(it.intensity));
        EXPECT_EQ(old.intensity_2, static_cast<std::uint8_t>(it.intensity_2));
        EXPECT_EQ(old.flags, it.flags);
        EXPECT_EQ(old.z, it.z);
    }
    for (const tobject_texture& t : level->object_textures) {
        EXPECT_EQ(t.last, 0) << "TR4 carries 38 bytes of each object texture";
    }
    EXPECT_EQ(level->num_textiles, g.textiles16.size() / 131072);
    EXPECT_EQ(level->textile_bytes, level->num_textiles * 65536);
}

TEST(Tr4RoundTrip, BytesTheFileDoesNotCarryKeepTheirValue) {
    const levelgen::gen_level g = levelgen::make_example_level(6, 8);
    auto level = std::make_unique<Ttrlevel>();
    level->sprite_prefix[3] = 0x5A;
    level->object_texture_prefix[4] = 0x6B;
    level->sound_map[899] = 0x7C;
    level->rooms.clear();
    ASSERT_EQ(level->load_content(levelgen::file_bytes(g), "a.tr4"), 0);
    EXPECT_EQ(level->sprite_prefix[3], 0x5A);
    EXPECT_EQ(level->object_texture_prefix[4], 0x6B);
    EXPECT_EQ(level->sound_map[899], 0x7C);
    EXPECT_EQ(0, std::memcmp(level->sound_map, g.sound_map.data(), 740));
}

TEST(Tr4Rooms, EmptyAndCountlessShapes) {
    levelgen::gen_level g = small_tr4();
    // No rooms at all.
    auto level = load_bytes(levelgen::file_bytes(g));
    EXPECT_EQ(level->num_rooms, 0);
    EXPECT_EQ(level->level_data_prefix, 0x11223344u);
    EXPECT_EQ(split_file(saved(*level), true).level_data, levelgen::level_data_bytes(g));

    // A room without geometry: 4 data words and 49 bytes besides its tables.
    g.rooms.resize(2);
    g.rooms[1].pos_x = 1024;
    levelgen::gen_layout layout;
    const auto data = levelgen::level_data_bytes(g, &layout);
    EXPECT_EQ(layout.level.at("room.1") - layout.level.at("room.0"), 49u);
    level = load_bytes(levelgen::file_bytes(g));
    EXPECT_EQ(level->rooms[0].num_data_words, 4u);
    EXPECT_EQ(split_file(saved(*level), true).level_data, data);
}

TEST(Tr4Rooms, WrongDataWordCountIsReadAndWrittenRight) {
    levelgen::gen_level g = levelgen::make_example_level(6, 4);
    levelgen::gen_level wrong = g;
    wrong.rooms[0].num_data_words = 12345;
    auto level = load_bytes(levelgen::file_bytes(wrong));
    EXPECT_EQ(level->rooms[0].num_data_words, 12345u);
    EXPECT_EQ(split_file(saved(*level), true).level_data, levelgen::level_data_bytes(g));
}

TEST(Tr4Sections, EmptySectionsAndLargeDemoData) {
    levelgen::gen_level g = small_tr4();
    g.rooms.resize(1);
    levelgen::gen_layout layout;
    auto data = levelgen::level_data_bytes(g, &layout);
    auto level = load_bytes(levelgen::file_bytes(g));
    EXPECT_EQ(level->num_boxes, 0);
    EXPECT_EQ(level->num_zones, 0);
    EXPECT_EQ(layout.level.at("animated_textures"), layout.level.at("zones"))
        << "zones without boxes take no bytes";
    EXPECT_EQ(split_file(saved(*level), true).level_data, data);

    g.demo_data = levelgen::pattern_bytes(65535, 3);
    g.boxes = levelgen::pattern_records(3, 8, 5);
    for (auto& zone : g.zones) {
        zone = {1, 2, 3};
    }
    level = load_bytes(levelgen::file_bytes(g));
    EXPECT_EQ(level->num_demo_data, 65535);
    EXPECT_EQ(level->zones[9][2], 3);
    EXPECT_EQ(split_file(saved(*level), true).level_data, levelgen::level_data_bytes(g));
}

TEST(Frame, TexturesSamplesAndFirstWord) {
    levelgen::gen_level g = small_tr4();
    g.first_word = 0xFFFFFFF0;
    g.sample_data.clear();
    auto level = load_bytes(levelgen::file_bytes(g));
    EXPECT_EQ(level->magic, 0xFFFFFFF0u);
    EXPECT_EQ(level->sample_data_size, 0u);
    // Chunk 1 larger than four times the textile bytes is cut to that on save.
    level->textiles32.resize(level->textiles32.size() + 1000);
    level->textiles32_size += 1000;
    const auto out = saved(*level);
    const parsed_file p = split_file(out, true);
    EXPECT_EQ(levelgen::get_u32(out, 0), 0xFFFFFFF0u);
    EXPECT_EQ(p.chunks[0].size(), 262144u);
    EXPECT_EQ(p.chunks[0], g.textiles32);
    EXPECT_TRUE(p.samples.empty()) << "the file ends right after the level-data chunk";

    // Chunk 2 shorter than the textile count says: the missing part is written as zeros.
    level->textiles16.resize(1000);
    const parsed_file q = split_file(saved(*level), true);
    ASSERT_EQ(q.chunks[1].size(), 131072u);
    EXPECT_TRUE(std::equal(q.chunks[1].begin(), q.chunks[1].begin() + 1000, g.textiles16.begin()));
    EXPECT_EQ(q.chunks[1][131071], 0);
}

TEST(Frame, TrueLengthsReplaceTheDeclaredOnes) {
    levelgen::gen_level g = levelgen::make_example_level(6, 2);
    levelgen::gen_layout layout;
    auto file = levelgen::file_bytes(g, &layout);
    levelgen::put_u32(file, layout.file.at("level_data"), 7);      // level-data U
    levelgen::put_u32(file, layout.file.at("textiles_misc"), 999); // chunk 3 U
    auto level = load_bytes(file);
    EXPECT_EQ(level->textiles_misc_size, g.textiles_misc.size());
    EXPECT_EQ(split_file(saved(*level), true).level_data, levelgen::level_data_bytes(g));
}

TEST(Frame, SecondLoadReleasesTheBuffersOfTheFirst) {
    scratch_dir dir;
    write_bytes(dir.file("a.tr4"), levelgen::file_bytes(levelgen::make_example_level(6, 1)));
    levelgen::gen_level older = levelgen::make_example_level(3, 1);
    write_bytes(dir.file("b.phd"), levelgen::file_bytes(older));
    auto level = std::make_unique<Ttrlevel>();
    ASSERT_EQ(level->load(dir.file("a.tr4")), 0);
    ASSERT_FALSE(level->textiles32.empty());
    ASSERT_FALSE(level->sample_data.empty());
    ASSERT_EQ(level->load(dir.file("b.phd")), 0);
    EXPECT_EQ(level->version, 3);
    EXPECT_TRUE(level->textiles32.empty());
    EXPECT_TRUE(level->textiles_misc.empty());
    EXPECT_TRUE(level->sample_data.empty());
    EXPECT_FALSE(level->textiles8.empty());
    // A missing file still releases what was held.
    ASSERT_EQ(level->load(dir.file("missing.tr4")), 1);
    EXPECT_TRUE(level->textiles8.empty());
    EXPECT_TRUE(level->textiles16.empty());
}

TEST(Tr4Malformed, CutAnywhereIsRefusedWithTheSection) {
    const levelgen::gen_level g = levelgen::make_example_level(6, 5);
    const auto data = levelgen::level_data_bytes(g);
    for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{5}, std::size_t{60},
                            data.size() / 3, data.size() / 2, data.size() - 1}) {
        SCOPED_TRACE(cut);
        const std::vector<std::uint8_t> part(data.begin(), data.begin() + cut);
        const std::string e = load_error(levelgen::file_with_level_data(g, part), "a.tr4");
        EXPECT_THAT(e, HasSubstr("level-data offset"));
        EXPECT_THAT(e, HasSubstr("left"));
    }
    // The file itself cut inside a texture chunk.
    const auto file = levelgen::file_bytes(g);
    EXPECT_THAT(load_error({file.begin(), file.begin() + 30}, "a.tr4"),
                HasSubstr("texture chunk 1 at file offset 18"));
}

TEST(Tr4Malformed, HugeCountsFailBeforeAllocating) {
    const levelgen::gen_level g = levelgen::make_example_level(6, 6);
    levelgen::gen_layout layout;
    const auto data = levelgen::level_data_bytes(g, &layout);
    for (const char* section : {"floor_data", "animations", "moveables", "boxes", "items",
                                "sample_indices", "object_textures"}) {
        for (std::uint32_t count : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u}) {
            SCOPED_TRACE(std::string(section) + " " + std::to_string(count));
            auto bad = data;
            levelgen::put_u32(bad, layout.level.at(section), count);
            EXPECT_THAT(load_error(levelgen::file_with_level_data(g, bad), "a.tr4"),
                        HasSubstr("bytes needed"));
        }
    }
}

TEST(Tr4Malformed, RoomTablesAboveTheirCapacity) {
    struct bad_room {
        const char* name;
        void (*spoil)(levelgen::gen_room&);
        const char* message;
    };
    const bad_room cases[] = {
        {"1501 vertices", [](levelgen::gen_room& r) { r.vertices.resize(1501); },
         "vertices at level-data offset 26: 1501 records exceed the capacity of 1500"},
        {"2001 rectangles", [](levelgen::gen_room& r) { r.rectangles.resize(2001); }, "rectangles"},
        {"1251 triangles", [](levelgen::gen_room& r) { r.triangles.resize(1251); }, "triangles"},
        {"51 sprites", [](levelgen::gen_room& r) { r.sprites.resize(51); }, "sprites"},
        {"21 portals", [](levelgen::gen_room& r) { r.portals.resize(21); }, "portals"},
        {"33 x 32 sectors",
         [](levelgen::gen_room& r) {
             r.z_sectors = 33;
             r.x_sectors = 32;
         },
         "1056 records exceed the capacity of 1024"},
        {"51 lights", [](levelgen::gen_room& r) { r.lights.resize(51); }, "lights"},
        {"51 static instances", [](levelgen::gen_room& r) { r.static_instances.resize(51); },
         "static instances"},
    };
    for (const bad_room& c : cases) {
        SCOPED_TRACE(c.name);
        levelgen::gen_level g = small_tr4();
        g.rooms.resize(2);
        c.spoil(g.rooms[0]);
        EXPECT_THAT(
            load_error(levelgen::file_bytes(g), "a.tr4"),
            ::testing::AllOf(HasSubstr("room 0"), HasSubstr(c.message), HasSubstr("capacity")));
    }
    // Exactly at capacity fits.
    levelgen::gen_level full = small_tr4();
    full.rooms.resize(1);
    full.rooms[0].vertices.resize(1500);
    full.rooms[0].rectangles.resize(2000);
    full.rooms[0].triangles.resize(1250);
    full.rooms[0].z_sectors = 32;
    full.rooms[0].x_sectors = 32;
    full.rooms[0].lights = levelgen::pattern_records(50, 46, 1);
    full.rooms[0].static_instances = levelgen::pattern_records(50, 20, 2);
    full.rooms[0].portals = levelgen::pattern_records(20, 32, 3);
    full.rooms[0].sprites = levelgen::pattern_records(50, 4, 4);
    auto level = load_bytes(levelgen::file_bytes(full));
    EXPECT_EQ(level->rooms[0].num_lights, 50);
    EXPECT_EQ(split_file(saved(*level), true).level_data, levelgen::level_data_bytes(full));
}

TEST(Tr4Malformed, RoomCountBeyondTheData) {
    levelgen::gen_level g = small_tr4();
    g.num_rooms = 65535;
    EXPECT_THAT(load_error(levelgen::file_bytes(g), "a.tr4"), HasSubstr("65535 rooms cannot fit"));
}

TEST(Tr4Malformed, AChunkPastWhatItMayHoldIsRefusedWhileInflating) {
    // With every stream capped at 1 MiB, 2 MiB of texels is more than chunk 1 may hold; the
    // level data of a level with such textures is fine.
    set_inflate_limit(1 << 20);
    levelgen::gen_level g = levelgen::make_example_level(6, 1);
    g.textiles32.assign(2 << 20, 0);
    const std::string e = load_error(levelgen::file_bytes(g), "a.tr4");
    set_inflate_limit(0);
    EXPECT_EQ(e, "texture chunk 1 at file offset 18: inflates to more than 1048576 bytes");
}
