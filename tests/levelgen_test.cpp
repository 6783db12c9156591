// The level generator against layouts computed by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>

#include "tools/levelgen.h"

using namespace levelgen;

namespace {

using bytes = std::vector<std::uint8_t>;

std::uint32_t u32_at(const bytes& b, std::size_t at) { return get_u32(b, at); }

/// Length of the only room of a level.
std::size_t room_length(const gen_layout& layout) {
    return layout.level.at("floor_data") - layout.level.at("room.0");
}

gen_level with_one_room(int version, gen_room room) {
    gen_level lv;
    lv.version = version;
    lv.rooms.push_back(std::move(room));
    return lv;
}

} // namespace

TEST(LevelGen, TR4AndOlderRoomSizesAndDataWords) {
    // An empty room: 49 bytes in TR4; no ambient_2 or tail in v1/v2, ambient_3 but no tail in
    // v3/v4.
    const std::pair<int, std::size_t> empty[] = {{1, 44}, {2, 44}, {3, 48},
                                                 {4, 48}, {5, 49}, {6, 49}};
    for (auto [version, size] : empty) {
        gen_layout layout;
        const bytes data = level_data_bytes(with_one_room(version, {}), &layout);
        EXPECT_EQ(room_length(layout), size) << "version " << version;
        EXPECT_EQ(u32_at(data, layout.level.at("room.0") + 16), 4u) << "version " << version;
    }

    gen_room room{.z_sectors = 2,
                  .x_sectors = 3,
                  .portals = pattern_records(2, 32, 1),
                  .lights = pattern_records(1, 85, 2),
                  .static_instances = pattern_records(1, 20, 3),
                  .vertices = {{.x = 1}},
                  .rectangles = {{}},
                  .triangles = {{}},
                  .sprites = pattern_records(1, 4, 4)};
    gen_layout layout;
    bytes data = level_data_bytes(with_one_room(version_tr4, room), &layout);
    const std::size_t at = layout.level.at("room.0");
    EXPECT_EQ(room_length(layout), 49u + 12 + 10 + 8 + 4 + 64 + 48 + 46 + 20);
    EXPECT_EQ(u32_at(data, at + 16), 4u + 6 + 5 + 4 + 2);
    // Lights are the first 46 bytes of the record. Before them: head 20, four counted tables,
    // portals, sectors, ambient words, light count.
    const std::size_t light =
        at + 20 + (2 + 12) + (2 + 10) + (2 + 8) + (2 + 4) + (2 + 64) + (4 + 48) + 4 + 2;
    EXPECT_EQ(get_u16(data, light - 2), 1u);
    EXPECT_EQ(0, std::memcmp(&data[light], room.lights[0].data(), 46));

    // Version 2: 8-byte vertices, 18-byte lights and instances, 4 words a vertex.
    data = level_data_bytes(with_one_room(2, room), &layout);
    EXPECT_EQ(room_length(layout), 44u + 8 + 10 + 8 + 4 + 64 + 48 + 18 + 18);
    EXPECT_EQ(u32_at(data, layout.level.at("room.0") + 16), 4u + 4 + 5 + 4 + 2);

    room.num_data_words = 0xDEADBEEF;
    data = level_data_bytes(with_one_room(version_tr4, room), &layout);
    EXPECT_EQ(u32_at(data, layout.level.at("room.0") + 16), 0xDEADBEEFu);
}

TEST(LevelGen, TRCSingleLayerRoomHeaderAndSizes) {
    gen_room room{.z_sectors = 2, .x_sectors = 3, .layers = {gen_layer{}}};
    gen_layout layout;
    const bytes data = level_data_bytes(with_one_room(version_trc, room), &layout);
    const std::size_t at = layout.level.at("room.0");
    ASSERT_EQ(at, 48u);
    EXPECT_EQ(0, std::memcmp(&data[at], "XELA", 4));
    EXPECT_EQ(layout.level.at("room.0.data"), at + 216);
    EXPECT_EQ(u32_at(data, at + 4), 270u + 48);                      // room-data size
    EXPECT_EQ(layout.level.at("floor_data") - (at + 216), 48u + 62); // data part
    EXPECT_EQ(u32_at(data, at + 12), 48u);                           // sectors end
    EXPECT_EQ(u32_at(data, at + 16), 0u);                            // sectors start
    EXPECT_EQ(u32_at(data, at + 24), 52u);                           // portals end
    EXPECT_EQ(u32_at(data, at + 176), 1u);                           // layer count
    EXPECT_EQ(u32_at(data, at + 180), 52u);                          // layers
    EXPECT_EQ(u32_at(data, at + 184), 108u);                         // vertices
    EXPECT_EQ(u32_at(data, at + 188), 108u);                         // faces, both copies
    EXPECT_EQ(u32_at(data, at + 192), 108u);
    EXPECT_EQ(u32_at(data, at + 196), 2u); // vertex data size
    EXPECT_EQ(u32_at(data, at + 200), 0xCDCDCDCDu);
    EXPECT_EQ(data[at + 80], 0xFF);
    EXPECT_EQ(data[at + 90], 0x00);
    // The room ends where its size says, after the closing filler.
    EXPECT_EQ(data[at + 8 + 318 - 1], 0xCD);

    // Preamble: both lengths count from offset 40 to the end of the level data.
    EXPECT_EQ(u32_at(data, 32), data.size() - 40);
    EXPECT_EQ(u32_at(data, 36), data.size() - 40);
    EXPECT_EQ(u32_at(data, 44), 1u);
    EXPECT_EQ(bytes(data.end() - 4, data.end()), bytes(4, 0xCD));
}

TEST(LevelGen, TRCLayersFacesFillerAndOffsets) {
    auto make = [](std::size_t second_layer_triangles) {
        gen_layer a{.vertices = {{.x = 1.5f, .b = 7}, {}, {}},
                    .rectangles = {{.corners = {0, 1, 2, 0}}},
                    .triangles = {{.corners = {0, 1, 2}, .texture = 9, .extra = 0x1234}}};
        gen_layer b{.vertices = {{}, {}, {}, {}},
                    .triangles = std::vector<gen_layer_tri>(second_layer_triangles)};
        return with_one_room(version_trc, gen_room{.z_sectors = 1,
                                                   .x_sectors = 1,
                                                   .portals = pattern_records(1, 32, 1),
                                                   .lights = pattern_records(1, 85, 2),
                                                   .static_instances = pattern_records(1, 20, 3),
                                                   .aux_records = pattern_records(1, 36, 4),
                                                   .layers = {a, b}});
    };
    // Triangles 1 + 2: odd total, filler before the vertices.
    gen_layout layout;
    bytes data = level_data_bytes(make(2), &layout);
    std::size_t at = layout.level.at("room.0"), d = at + 216;
    EXPECT_EQ(u32_at(data, at + 156), 88u); // light data size
    EXPECT_EQ(u32_at(data, at + 16), 124u); // sectors start
    EXPECT_EQ(u32_at(data, at + 12), 132u);
    EXPECT_EQ(u32_at(data, at + 24), 168u);
    EXPECT_EQ(u32_at(data, at + 180), 188u);
    EXPECT_EQ(u32_at(data, at + 188), 300u); // two layer headers
    EXPECT_EQ(u32_at(data, at + 184), 344u); // 12 + 10 + 20 + 2 filler
    EXPECT_EQ(u32_at(data, at + 196), 28u * 7 + 2);
    EXPECT_EQ(u32_at(data, at + 4), 208u + 344 + 28 * 7 + 2);
    EXPECT_EQ(u32_at(data, at + 144), 3u); // header counts default to the totals
    EXPECT_EQ(u32_at(data, at + 148), 1u);
    EXPECT_EQ(u32_at(data, at + 164), 1u); // aux records
    EXPECT_EQ(u32_at(data, at + 176), 2u);
    EXPECT_EQ(u32_at(data, d + 188), 3u); // first layer header: 3 vertices, 1 rectangle, 1 triangle
    EXPECT_EQ(get_u16(data, d + 188 + 6), 1u);
    EXPECT_EQ(get_u16(data, d + 188 + 8), 1u);
    EXPECT_EQ(u32_at(data, d + 244), 4u);                // second layer header
    EXPECT_EQ(get_u16(data, d + 300 + 12 + 6), 9u);      // triangle texture
    EXPECT_EQ(get_u16(data, d + 300 + 12 + 8), 0x1234u); // triangle extra
    EXPECT_EQ(get_u16(data, d + 342), 0xCDCDu);
    float x = 0;
    std::memcpy(&x, &data[d + 344], 4);
    EXPECT_EQ(x, 1.5f);
    EXPECT_EQ(data[d + 344 + 24], 7); // blue of the first vertex

    // Triangles 1 + 1: even total, no filler.
    data = level_data_bytes(make(1), &layout);
    at = layout.level.at("room.0");
    EXPECT_EQ(u32_at(data, at + 184), 332u);

    // Overrides for malformed rooms: declared size and layer count, trailing bytes.
    gen_level lv = make(2);
    lv.rooms[0].trc_trailing_bytes = {1, 2, 3};
    lv.rooms[0].num_layers = 0xFFFFFFFF;
    data = level_data_bytes(lv, &layout);
    EXPECT_EQ(u32_at(data, 48 + 4), 208u + 344 + 28 * 7 + 2 + 3);
    EXPECT_EQ(u32_at(data, 48 + 176), 0xFFFFFFFFu);
    lv.rooms[0].trc_data_size = 100;
    EXPECT_EQ(u32_at(level_data_bytes(lv), 48 + 4), 100u);
}

TEST(LevelGen, EmptyLevelSizesPerVersion) {
    // Hand-summed: counts, fixed blocks, sound map of the version, TRC preamble and filler.
    const std::pair<int, std::size_t> sizes[] = {{1, 9582},  {2, 9582}, {3, 10830}, {4, 10830},
                                                 {5, 10830}, {6, 851},  {7, 1059}};
    for (auto [version, size] : sizes) {
        gen_level lv;
        lv.version = version;
        EXPECT_EQ(level_data_bytes(lv).size(), size) << "version " << version;
    }
    gen_level lv;
    lv.version = 1;
    gen_layout layout;
    level_data_bytes(lv, &layout);
    EXPECT_EQ(layout.level.at("palette8"), layout.level.at("light_map") + 8192);
    lv.version = 2;
    level_data_bytes(lv, &layout);
    EXPECT_EQ(layout.level.at("palette8"), layout.level.at("sprite_sequences") + 4);
    EXPECT_EQ(layout.level.at("cameras"), layout.level.at("palette8") + 768);
}

TEST(LevelGen, OlderVersionElementForms) {
    gen_level lv;
    lv.version = 2;
    gen_record item(24);
    for (std::size_t i = 0; i < item.size(); ++i)
        item[i] = static_cast<std::uint8_t>(i + 1);
    lv.items = {item};
    lv.object_textures = pattern_records(1, 40, 9);
    lv.boxes = pattern_records(2, 20, 5);
    lv.zones[1] = {0x1111, 0x2222};
    lv.zones[2] = {0x3333, 0x4444}; // not carried by version 2
    gen_layout layout;
    const bytes data = level_data_bytes(lv, &layout);

    const std::size_t items = layout.level.at("items");
    EXPECT_EQ(u32_at(data, items), 1u);
    const bytes expected_item = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                 12, 13, 14, 15, 16, 17, 18, 19, 21, 23, 24};
    EXPECT_EQ(bytes(data.begin() + items + 4, data.begin() + items + 26), expected_item);
    EXPECT_EQ(layout.level.at("light_map"), items + 26);

    const std::size_t tex = layout.level.at("object_textures") + 4;
    const gen_record& t = lv.object_textures[0];
    EXPECT_EQ(0, std::memcmp(&data[tex], t.data(), 4));
    EXPECT_EQ(0, std::memcmp(&data[tex + 4], t.data() + 6, 16));
    EXPECT_EQ(layout.level.at("sprite_textures"), tex + 20);

    // Six zone arrays of num_boxes words: 0, 1, 4, 5, 6, 9.
    const std::size_t zones = layout.level.at("zones");
    EXPECT_EQ(layout.level.at("animated_textures") - zones, 6u * 2 * 2);
    EXPECT_EQ(get_u16(data, zones + 4), 0x1111u);
    EXPECT_EQ(get_u16(data, zones + 8), 0u);
}

TEST(LevelGen, TR4AndTRCSectionForms) {
    gen_level lv;
    lv.moveables = pattern_records(1, 20, 1);
    lv.object_textures = pattern_records(1, 40, 2);
    lv.sprite_prefix = {1, 2, 3, 4};
    lv.object_texture_prefix = {5, 6, 7, 8, 9};
    lv.demo_data = {1, 2, 3};
    for (std::size_t i = 0; i < lv.sound_map.size(); ++i)
        lv.sound_map[i] = static_cast<std::uint8_t>(i);
    gen_layout layout;
    auto span_of = [&](const char* from, const char* to) {
        return layout.level.at(to) - layout.level.at(from);
    };

    lv.version = version_tr4;
    bytes data = level_data_bytes(lv, &layout);
    EXPECT_EQ(span_of("moveables", "static_meshes"), 4u + 18);
    EXPECT_EQ(span_of("sprite_prefix", "sprite_textures"), 3u);
    EXPECT_EQ(span_of("object_texture_prefix", "object_textures"), 4u);
    EXPECT_EQ(span_of("object_textures", "items"), 4u + 38);
    EXPECT_EQ(span_of("demo_data", "sound_map"), 2u + 3);
    EXPECT_EQ(span_of("sound_map", "sample_infos"), 740u);

    lv.version = version_trc;
    data = level_data_bytes(lv, &layout);
    EXPECT_EQ(span_of("moveables", "static_meshes"), 4u + 20);
    EXPECT_EQ(span_of("sprite_prefix", "sprite_textures"), 4u);
    EXPECT_EQ(span_of("object_texture_prefix", "object_textures"), 5u);
    EXPECT_EQ(span_of("object_textures", "items"), 4u + 40);
    EXPECT_EQ(span_of("sound_map", "sample_infos"), 900u);
    EXPECT_EQ(data[layout.level.at("sound_map") + 899], 899 % 256);

    // A TR4 file made from a TRC level carries the marker and the whole sound map as floor data.
    add_conversion_marker(lv);
    ASSERT_EQ(lv.floor_data.size(), 451u);
    EXPECT_EQ(lv.floor_data[0], 0x8385);
    EXPECT_EQ(lv.floor_data[1], 0x0100);
    EXPECT_EQ(lv.floor_data[450], (899 % 256) << 8 | (898 % 256));
}

TEST(LevelGen, FilesFrameTheLevelDataAndAreDeterministic) {
    const gen_level trc = make_example_level(version_trc, 5);
    gen_layout layout;
    const bytes file = file_bytes(trc, &layout);
    const bytes data = level_data_bytes(trc);
    EXPECT_EQ(u32_at(file, 0), 0x00345254u);
    EXPECT_EQ(layout.file.at("textiles32"), 10u);
    EXPECT_EQ(zlib_inflate(std::span(file).subspan(18, u32_at(file, 14))), trc.textiles32);
    EXPECT_EQ(u32_at(file, 10), trc.textiles32.size());
    const std::size_t lvl = layout.file.at("level_data");
    EXPECT_EQ(bytes(file.begin() + static_cast<std::ptrdiff_t>(lvl),
                    file.begin() + static_cast<std::ptrdiff_t>(lvl + data.size())),
              data);
    EXPECT_EQ(lvl + 40 + u32_at(file, lvl + 32), layout.file.at("sample_data"));
    EXPECT_EQ(bytes(file.begin() + static_cast<std::ptrdiff_t>(layout.file.at("sample_data")),
                    file.end()),
              trc.sample_data);

    gen_level tr4 = make_example_level(version_tr4, 5);
    tr4.first_word = 0xFFFFFFF0;
    const bytes tr4_file = file_bytes(tr4, &layout);
    EXPECT_EQ(u32_at(tr4_file, 0), 0xFFFFFFF0u);
    const std::size_t chunk = layout.file.at("level_data");
    EXPECT_EQ(u32_at(tr4_file, chunk), level_data_bytes(tr4).size());
    EXPECT_EQ(zlib_inflate(std::span(tr4_file).subspan(chunk + 8, u32_at(tr4_file, chunk + 4))),
              level_data_bytes(tr4));
    EXPECT_EQ(chunk + 8 + u32_at(tr4_file, chunk + 4) + tr4.sample_data.size(), tr4_file.size());

    const bytes boxed = zlib_container(file);
    EXPECT_EQ(0, std::memcmp(boxed.data(), "ZLIB", 4));
    EXPECT_EQ(u32_at(boxed, 4), boxed.size() - 12);
    EXPECT_EQ(u32_at(boxed, 8), file.size());
    EXPECT_EQ(zlib_inflate(std::span(boxed).subspan(12)), file);

    for (int version = 1; version <= 7; ++version) {
        const bytes once = file_bytes(make_example_level(version, 11));
        EXPECT_EQ(once, file_bytes(make_example_level(version, 11))) << "version " << version;
        EXPECT_NE(once, file_bytes(make_example_level(version, 12))) << "version " << version;
    }
}

TEST(LevelGen, ExampleLevelsAreRichAndWithinCapacities) {
    for (int version = 1; version <= 7; ++version) {
        const gen_level lv = make_example_level(version, 3);
        SCOPED_TRACE(version);
        EXPECT_GE(lv.rooms.size(), 3u);
        EXPECT_FALSE(lv.boxes.empty() || lv.items.empty() || lv.object_textures.empty() ||
                     lv.frames.empty() || lv.sample_infos.empty() || lv.demo_data.empty());
        EXPECT_EQ(version == version_trc || version == version_tr4, !lv.textiles32.empty());
        std::set<bool> odd_totals;
        for (const auto& room : lv.rooms) {
            EXPECT_LE(std::size_t{room.z_sectors} * room.x_sectors, 1024u);
            EXPECT_LE(room.lights.size(), 50u);
            EXPECT_LE(room.portals.size(), 20u);
            EXPECT_LE(room.aux_records.size(), 21u);
            EXPECT_FALSE(room.lights.empty() || room.portals.empty() ||
                         room.static_instances.empty());
            if (version != version_trc) {
                EXPECT_FALSE(room.vertices.empty() || room.rectangles.empty() ||
                             room.triangles.empty());
                continue;
            }
            EXPECT_GE(room.layers.size(), 2u);
            // Positions as the integer conversion sees them repeat within each layer and
            // between neighbouring layers.
            std::set<std::tuple<int, int, int>> previous;
            std::size_t triangles = 0;
            for (const auto& layer : room.layers) {
                std::set<std::tuple<int, int, int>> positions;
                for (const auto& v : layer.vertices)
                    positions.emplace(static_cast<int>(v.x), static_cast<int>(v.y),
                                      static_cast<int>(v.z));
                EXPECT_LT(positions.size(), layer.vertices.size());
                if (!previous.empty()) {
                    EXPECT_TRUE(std::any_of(positions.begin(), positions.end(),
                                            [&](const auto& p) { return previous.count(p) != 0; }));
                }
                previous = positions;
                triangles += layer.triangles.size();
                for (const auto& r : layer.rectangles)
                    for (auto c : r.corners)
                        EXPECT_LT(c, layer.vertices.size());
                for (const auto& t : layer.triangles)
                    for (auto c : t.corners)
                        EXPECT_LT(c, layer.vertices.size());
            }
            odd_totals.insert(triangles % 2 == 1);
        }
        if (version == version_trc) {
            EXPECT_EQ(odd_totals.size(), 2u);
        }
    }
}

TEST(LevelGen, ScrambledSkippedBytesLeaveTheDataInPlace) {
    gen_level lv = make_example_level(version_trc, 8);
    gen_layout plain_layout, scrambled_layout;
    const bytes plain = level_data_bytes(lv, &plain_layout);
    lv.scramble_skipped_bytes = true;
    const bytes scrambled = level_data_bytes(lv, &scrambled_layout);
    ASSERT_EQ(plain.size(), scrambled.size());
    EXPECT_EQ(plain_layout.level, scrambled_layout.level);
    const std::size_t room = plain_layout.level.at("room.0");
    EXPECT_NE(0, std::memcmp(&scrambled[room], "XELA", 4));
    EXPECT_EQ(u32_at(scrambled, room + 4), u32_at(plain, room + 4)); // the size a reader needs
    EXPECT_NE(u32_at(scrambled, room + 184), u32_at(plain, room + 184));
    EXPECT_EQ(u32_at(scrambled, 32), u32_at(plain, 32));
    const std::size_t data = plain_layout.level.at("room.0.data");
    EXPECT_EQ(0, std::memcmp(&scrambled[data], &plain[data], 85)); // first light
    const std::size_t sections = plain_layout.level.at("floor_data");
    EXPECT_TRUE(std::equal(plain.begin() + static_cast<std::ptrdiff_t>(sections), plain.end() - 4,
                           scrambled.begin() + static_cast<std::ptrdiff_t>(sections)));
}

TEST(LevelGen, LargeLevelHasItsSizesWithinCapacities) {
    const gen_level lv = make_large_level();
    EXPECT_EQ(lv.version, version_trc);
    EXPECT_EQ(lv.textiles32.size(), std::size_t{16} << 20);
    EXPECT_EQ(lv.textiles16.size(), std::size_t{8} << 20);
    EXPECT_EQ(lv.textiles_misc.size(), std::size_t{1} << 20);
    // Texture-like: neither blank nor one repeated byte.
    EXPECT_GT(std::set<std::uint8_t>(lv.textiles32.begin(), lv.textiles32.begin() + 65536).size(),
              64u);
    EXPECT_EQ(lv.floor_data.size(), 500000u);
    EXPECT_EQ(lv.sample_data.size(), std::size_t{8} << 20);
    const std::size_t mesh_and_animations =
        lv.mesh_data.size() * 2 + lv.mesh_pointers.size() * 4 + lv.animations.size() * 40 +
        lv.state_changes.size() * 6 + lv.anim_dispatches.size() * 8 + lv.anim_commands.size() * 2 +
        lv.mesh_trees.size() * 4 + lv.frames.size() * 2;
    EXPECT_EQ(mesh_and_animations, std::size_t{4} << 20);

    ASSERT_EQ(lv.rooms.size(), 250u);
    std::size_t layer_vertices = 0, faces = 0;
    for (std::size_t i = 0; i < lv.rooms.size(); ++i) {
        const gen_room& room = lv.rooms[i];
        SCOPED_TRACE(i);
        ASSERT_EQ(room.layers.size(), 3u);
        EXPECT_LE(std::size_t{room.z_sectors} * room.x_sectors, 1024u);
        EXPECT_LE(room.lights.size(), 50u);
        EXPECT_LE(room.static_instances.size(), 50u);
        std::set<std::tuple<int, int, int>> room_positions, previous;
        std::size_t rectangles = 0, triangles = 0, vertices = 0;
        for (const auto& layer : room.layers) {
            EXPECT_LE(layer.vertices.size(), 1500u);
            std::set<std::tuple<int, int, int>> positions;
            for (const auto& v : layer.vertices)
                positions.emplace(static_cast<int>(v.x), static_cast<int>(v.y),
                                  static_cast<int>(v.z));
            EXPECT_LT(positions.size(), layer.vertices.size()); // repeated within the layer
            if (!previous.empty()) {
                EXPECT_TRUE(std::any_of(positions.begin(), positions.end(),
                                        [&](const auto& p) { return previous.count(p) != 0; }));
            }
            previous = positions;
            room_positions.insert(positions.begin(), positions.end());
            for (const auto& r : layer.rectangles)
                for (auto c : r.corners)
                    ASSERT_LT(c, layer.vertices.size());
            for (const auto& t : layer.triangles)
                for (auto c : t.corners)
                    ASSERT_LT(c, layer.vertices.size());
            rectangles += layer.rectangles.size();
            triangles += layer.triangles.size();
            vertices += layer.vertices.size();
        }
        EXPECT_LE(rectangles, 2000u);
        EXPECT_LE(triangles, 1250u);
        EXPECT_LE(room_positions.size(), 1500u); // the merged room stays within its table
        layer_vertices += vertices;
        faces += rectangles + triangles;
    }
    EXPECT_NEAR(static_cast<double>(layer_vertices) / 250, 1000, 100);
    EXPECT_NEAR(static_cast<double>(faces) / 250, 1500, 100);
}
