// Whole conversions through the driver: marked TR4 to TRC checked against independently
// built bytes, TRC -> TR4 -> TRC round trips and their fixed point, and the cases where the
// output name and the input disagree about the format.
#include "driver/quarlix.h"
#include "level/conversion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "level/trunit2.h"
#include "level_support.h"
#include "tools/levelgen.h"

using namespace quarlix;
using quarlix::test::load_bytes;
using quarlix::test::outcome;
using quarlix::test::read_bytes;
using quarlix::test::record_bytes;
using quarlix::test::scratch_dir;
using quarlix::test::split_file;
using quarlix::test::write_bytes;
using parsed_file = quarlix::test::file_parts;
using ::testing::HasSubstr;

namespace {

using quarlix::test::bytes;

outcome convert(const std::string& input, const std::string& output) {
    return test::convert({input, output});
}

/// Runs the converter and expects it to reach "Done.".
void convert_ok(const std::string& input, const std::string& output) {
    const outcome o = convert(input, output);
    EXPECT_EQ(o.status, 0) << input << " -> " << output;
    EXPECT_THAT(o.out, ::testing::EndsWith("Saving the level...\nDone.\n")) << o.out;
}

std::unique_ptr<Ttrlevel> load_file(const std::string& name, const std::string& as) {
    return load_bytes(read_bytes(name), as);
}

/// The name of the first generator section in which two level datas differ.
std::string first_difference(const bytes& actual, const bytes& expected,
                             const levelgen::gen_layout& layout) {
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    if (at == actual.size() && at == expected.size()) {
        return "none";
    }
    std::string section = "start";
    for (const auto& [name, offset] : layout.level) {
        if (offset <= at && (section == "start" || offset >= layout.level.at(section))) {
            section = name;
        }
    }
    return section + " (byte " + std::to_string(at) + " of " + std::to_string(actual.size()) + "/" +
           std::to_string(expected.size()) + ")";
}

// ---- The TRC level a marked TR4 level becomes, built from the generator's description ----

std::uint8_t shade_colour(std::uint8_t shade) { return static_cast<std::uint8_t>(248 - 8 * shade); }
std::uint8_t high_byte(std::uint16_t word) { return static_cast<std::uint8_t>(word >> 8); }

/// A TR4 room as one TRC layer: vertices as floats coloured by their shade, faces with extra
/// 0, a header of fixed words and the room's bounds. Lights become zero TRC lights (nothing
/// carries a TR4 light over), sprites and the TR4-only words are dropped.
levelgen::gen_room trc_room_of(const levelgen::gen_room& r) {
    levelgen::gen_room o;
    o.pos_x = r.pos_x;
    o.pos_z = r.pos_z;
    o.y_bottom = r.y_bottom;
    o.y_top = r.y_top;
    o.z_sectors = r.z_sectors;
    o.x_sectors = r.x_sectors;
    o.sectors = r.sectors;
    o.portals = r.portals;
    o.static_instances = r.static_instances;
    o.flags = r.flags;
    o.lights.assign(r.lights.size(), levelgen::gen_record(85, 0));
    const bool water = (r.flags & 1) != 0;
    const std::uint8_t ambient = shade_colour(high_byte(r.ambient) % 32);
    o.room_colour = {ambient, ambient, water ? std::uint8_t{0} : ambient, 0};

    levelgen::gen_layer layer;
    for (const auto& v : r.vertices) {
        levelgen::gen_layer_vertex lv;
        lv.x = v.x;
        lv.y = v.y;
        lv.z = v.z;
        const std::uint8_t c = shade_colour(high_byte(static_cast<std::uint16_t>(v.lighting)) % 32);
        lv.b = lv.g = c;
        lv.r = water ? 0 : c;
        lv.a = 255;
        layer.vertices.push_back(lv);
    }
    for (const auto& f : r.rectangles) {
        layer.rectangles.push_back({f.corners, f.texture, 0});
    }
    for (const auto& f : r.triangles) {
        layer.triangles.push_back({f.corners, f.texture, 0});
    }
    layer.bounds = {0.0f,
                    static_cast<float>(r.y_top),
                    0.0f,
                    static_cast<float>(r.x_sectors * 1024),
                    static_cast<float>(r.y_bottom),
                    static_cast<float>(r.z_sectors * 1024)};
    layer.extra_5 = 0x0036362C;
    layer.extra_6 = 0x022E1DE4;
    layer.extra_7 = 0x01651DB0;
    o.layers.push_back(layer);
    return o;
}

/// The TRC level that converting a marked TR4 level must give: every section carried, the
/// sound map out of floor-data bytes 2..901, moveables widened with 0xFFEF, the TRC-only bytes
/// that a new level object holds (header block, fourth sprite-prefix byte, fifth
/// object-texture-prefix byte, last object-texture word) zero.
levelgen::gen_level trc_level_of(const levelgen::gen_level& tr4) {
    levelgen::gen_level t = tr4;
    t.version = levelgen::version_trc;
    t.trc_header_block = {};
    for (std::size_t i = 0; i < 450; ++i) {
        const std::uint16_t word = tr4.floor_data.at(i + 1);
        t.sound_map[2 * i] = static_cast<std::uint8_t>(word);
        t.sound_map[2 * i + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    for (auto& m : t.moveables) {
        m.resize(18);
        m.push_back(0xEF);
        m.push_back(0xFF);
    }
    t.sprite_prefix[3] = 0;
    t.object_texture_prefix[4] = 0;
    for (auto& ot : t.object_textures) {
        ot.resize(38);
        ot.resize(40, 0);
    }
    t.rooms.clear();
    for (const auto& r : tr4.rooms) {
        t.rooms.push_back(trc_room_of(r));
    }
    return t;
}

/// A marked TR4 level whose TR4 sound-map section differs from the map behind the marker, and
/// whose map uses all 900 bytes, so a conversion that skips or shortens the copy shows.
levelgen::gen_level marked_tr4(std::uint32_t seed) {
    levelgen::gen_level g = levelgen::make_example_level(levelgen::version_tr4, seed);
    const bytes map = levelgen::pattern_bytes(900, seed + 100);
    std::copy(map.begin(), map.end(), g.sound_map.begin());
    levelgen::add_conversion_marker(g);
    std::fill(g.sound_map.begin(), g.sound_map.end(), 0x5A);
    return g;
}

std::uint16_t u16_at(const bytes& b, std::size_t at) { return levelgen::get_u16(b, at); }

} // namespace

// ---- Marked TR4 to TRC ----------------------------------------------------------------------

struct tr4_case {
    const char* name;
    std::uint32_t seed;
    std::size_t rooms;       // 0: all of the example's
    std::size_t extra_floor; // floor words after the marker and the sound map
};

TEST(Tr4ToTrc, WholeFileMatchesTheConvertedLevel) {
    const tr4_case cases[] = {
        {"one room", 3, 1, 0},
        {"several rooms", 4, 0, 0},
        {"650 floor words", 5, 2, 199},
    };
    for (const tr4_case& c : cases) {
        SCOPED_TRACE(c.name);
        levelgen::gen_level g = marked_tr4(c.seed);
        if (c.rooms != 0) {
            g.rooms.resize(c.rooms);
        }
        ASSERT_GE(g.rooms.size(), 1u);
        const bytes extra = levelgen::pattern_bytes(2 * c.extra_floor, c.seed);
        for (std::size_t i = 0; i < c.extra_floor; ++i) {
            g.floor_data.push_back(u16_at(extra, 2 * i));
        }
        scratch_dir dir;
        write_bytes(dir.file("in.tr4"), levelgen::file_bytes(g));
        convert_ok(dir.file("in.tr4"), dir.file("out.trc"));

        // Every byte of the level data, against the generator's rendering of the TRC level.
        const levelgen::gen_level want = trc_level_of(g);
        levelgen::gen_layout layout;
        const bytes want_data = levelgen::level_data_bytes(want, &layout);
        const bytes file = read_bytes(dir.file("out.trc"));
        const parsed_file out = split_file(file, false);
        const parsed_file in = split_file(levelgen::file_bytes(g), true);
        EXPECT_EQ(out.header, in.header);
        EXPECT_EQ(out.chunks, in.chunks);
        EXPECT_EQ(first_difference(out.level_data, want_data, layout), "none");
        EXPECT_EQ(out.samples, g.sample_data);

        // The bytes the model cannot show: the close and the TRC-only prefix bytes.
        const bytes& d = out.level_data;
        ASSERT_GE(d.size(), 44u);
        EXPECT_EQ(levelgen::get_u32(d, 32), d.size() - 40);
        EXPECT_EQ(levelgen::get_u32(d, 36), d.size() - 40);
        EXPECT_EQ(bytes(d.end() - 4, d.end()), bytes(4, 0xCD));
        EXPECT_EQ(d.at(layout.level.at("sprite_prefix") + 3), 0);
        EXPECT_EQ(d.at(layout.level.at("object_texture_prefix") + 4), 0);

        // Read back: the same facts through the level object.
        const auto level = load_file(dir.file("out.trc"), "out.trc");
        ASSERT_EQ(level->version, level_trc);
        ASSERT_EQ(level->num_floor_data, static_cast<std::int32_t>(g.floor_data.size()));
        EXPECT_EQ(std::memcmp(level->sound_map,
                              reinterpret_cast<const std::uint8_t*>(level->floor_data.data()) + 2,
                              900),
                  0);
        EXPECT_EQ(static_cast<std::uint16_t>(level->floor_data[0]), conversion_marker);
        ASSERT_EQ(level->moveables_trc.size(), g.moveables.size());
        for (std::size_t i = 0; i < g.moveables.size(); ++i) {
            EXPECT_EQ(record_bytes(level->moveables_trc[i].moveable), g.moveables[i]);
            EXPECT_EQ(level->moveables_trc[i].trailing, 0xFFEF);
        }
        for (const tobject_texture& ot : level->object_textures) {
            EXPECT_EQ(ot.last, 0);
        }
        ASSERT_EQ(level->rooms.size(), g.rooms.size());
        for (std::size_t r = 0; r < g.rooms.size(); ++r) {
            SCOPED_TRACE(r);
            const troom& room = level->rooms[r];
            EXPECT_EQ(room.num_layers, 1u);
            EXPECT_EQ(room.trc_unread_bytes, 2);
            ASSERT_EQ(room.num_vertices, g.rooms[r].vertices.size());
            EXPECT_EQ(room.num_rectangles, g.rooms[r].rectangles.size());
            EXPECT_EQ(room.num_triangles, g.rooms[r].triangles.size());
        }
    }
}

TEST(Tr4ToTrc, TheBuiltProgramWritesTheSameFile) {
    scratch_dir dir;
    write_bytes(dir.file("in.tr4"), levelgen::file_bytes(marked_tr4(6)));
    convert_ok(dir.file("in.tr4"), dir.file("run.trc"));
    const std::string command = std::string("\"") + QUARLIX_BINARY + "\" \"" + dir.file("in.tr4") +
                                "\" \"" + dir.file("bin.trc") + "\" > /dev/null 2>&1";
    const int raw = std::system(command.c_str());
    ASSERT_NE(raw, -1);
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    EXPECT_EQ(read_bytes(dir.file("bin.trc")), read_bytes(dir.file("run.trc")));
}

TEST(Tr4ToTrc, ZeroRoomsConvertToARoomlessTrc) {
    levelgen::gen_level g = marked_tr4(7);
    g.rooms.clear();
    scratch_dir dir;
    write_bytes(dir.file("in.tr4"), levelgen::file_bytes(g));
    convert_ok(dir.file("in.tr4"), dir.file("out.trc"));
    const parsed_file out = split_file(read_bytes(dir.file("out.trc")), false);
    EXPECT_EQ(out.level_data, levelgen::level_data_bytes(trc_level_of(g)));
    EXPECT_EQ(levelgen::get_u32(out.level_data, 44), 0u);
    EXPECT_EQ(load_file(dir.file("out.trc"), "out.trc")->num_rooms, 0);
}

// ---- TRC -> TR4 -> TRC ----------------------------------------------------------------------

namespace {

/// Byte offset of the first room's vertex table in TR4 level data: the prefix word, the room
/// count, the five header words and the vertex count.
constexpr std::size_t tr4_first_vertex = 4 + 2 + 20 + 2;
constexpr std::size_t tr4_vertex_size = 12;
constexpr std::size_t tr4_colour_in_vertex = 10;

/// The first room's vertex colours in TR4 level data, and a copy of the data with them zeroed.
std::vector<std::uint16_t> tr4_colours(const bytes& data, bytes* without) {
    const std::uint16_t count = u16_at(data, tr4_first_vertex - 2);
    std::vector<std::uint16_t> colours;
    *without = data;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = tr4_first_vertex + i * tr4_vertex_size + tr4_colour_in_vertex;
        colours.push_back(u16_at(data, at));
        (*without)[at] = (*without)[at + 1] = 0;
    }
    return colours;
}

} // namespace

TEST(TrcRoundTrip, FirstRoundKeepsOnlyWhatTr4CarriesAndRestoresTheSoundMap) {
    const levelgen::gen_level g = levelgen::make_example_level(levelgen::version_trc, 2);
    ASSERT_GT(g.rooms.size(), 1u);
    ASSERT_GT(g.rooms[0].layers.size(), 1u);
    scratch_dir dir;
    write_bytes(dir.file("in.trc"), levelgen::file_bytes(g));
    convert_ok(dir.file("in.trc"), dir.file("a.tr4"));
    convert_ok(dir.file("a.tr4"), dir.file("b.trc"));

    const auto tr4 = load_file(dir.file("a.tr4"), "a.tr4");
    const auto back = load_file(dir.file("b.trc"), "b.trc");
    ASSERT_EQ(back->version, level_trc);
    for (const Ttrlevel* level : {tr4.get(), back.get()}) {
        EXPECT_EQ(level->num_rooms, 1);
        EXPECT_EQ(level->num_boxes, 0);
        EXPECT_EQ(level->num_overlaps, 0);
        EXPECT_EQ(level->num_zones, 0);
        EXPECT_EQ(level->num_cameras, 0);
        EXPECT_EQ(level->num_flyby_cameras, 0);
        EXPECT_EQ(level->num_sound_sources, 0);
        ASSERT_EQ(level->num_items, 1);
        EXPECT_EQ(0, std::memcmp(&level->items[0], g.items[0].data(), 24));
        // The marker, then the whole TRC sound map, and nothing of the old floor data.
        ASSERT_EQ(level->num_floor_data, 451);
        EXPECT_EQ(static_cast<std::uint16_t>(level->floor_data[0]), conversion_marker);
        EXPECT_EQ(0, std::memcmp(level->floor_data.data() + 1, g.sound_map.data(), 900));
    }
    EXPECT_EQ(0, std::memcmp(back->sound_map, g.sound_map.data(), 900));

    // Whatever the first file held in the TRC-only words, the second holds 0xFFEF and 0.
    ASSERT_EQ(back->moveables_trc.size(), g.moveables.size());
    bool trailing_words_changed = false;
    for (std::size_t i = 0; i < g.moveables.size(); ++i) {
        const tmoveable_trc& m = back->moveables_trc[i];
        EXPECT_EQ(record_bytes(m.moveable),
                  bytes(g.moveables[i].begin(), g.moveables[i].begin() + 18));
        EXPECT_EQ(m.trailing, 0xFFEF);
        trailing_words_changed |= u16_at(g.moveables[i], 18) != 0xFFEF;
    }
    EXPECT_TRUE(trailing_words_changed);
    ASSERT_EQ(back->object_textures.size(), g.object_textures.size());
    bool last_words_changed = false;
    for (std::size_t i = 0; i < g.object_textures.size(); ++i) {
        EXPECT_EQ(0, std::memcmp(&back->object_textures[i], g.object_textures[i].data(), 38));
        EXPECT_EQ(back->object_textures[i].last, 0);
        last_words_changed |= u16_at(g.object_textures[i], 38) != 0;
    }
    EXPECT_TRUE(last_words_changed);

    // The first room comes back as one layer holding the geometry its layers flattened to.
    const troom& room = back->rooms[0];
    EXPECT_EQ(room.num_layers, 1u);
    EXPECT_EQ(room.trc_unread_bytes, 2);
    EXPECT_EQ(room.num_vertices, tr4->rooms[0].num_vertices);
    EXPECT_EQ(room.num_rectangles, tr4->rooms[0].num_rectangles);
    EXPECT_EQ(room.num_triangles, tr4->rooms[0].num_triangles);
    EXPECT_EQ(split_file(read_bytes(dir.file("b.trc")), false).samples, g.sample_data);
}

// The fixed point: the first TR4 output is made from TRC data and packs the original TRC
// vertex colours; its TRC conversion replaces them with the expansion of the TR4 shade, which
// a room read from TRC holds as 0 (so 248, red 0 in a water room). Nothing else of the first
// TR4 output changes on TR4 -> TRC -> TR4, and a level object loaded from TR4 fills the
// TRC-only bytes the same way each time. So the second TRC output is the first, byte for byte,
// the TR4 outputs are equal from the second on, and the first TR4 output differs from the
// second only in the first room's vertex colours.
TEST(TrcRoundTrip, TheSecondRoundReachesAFixedPoint) {
    for (std::uint32_t seed : {1u, 8u}) {
        SCOPED_TRACE(seed);
        const levelgen::gen_level g = levelgen::make_example_level(levelgen::version_trc, seed);
        scratch_dir dir;
        write_bytes(dir.file("0.trc"), levelgen::file_bytes(g));
        const char* steps[] = {"0.trc", "1.tr4", "1.trc", "2.tr4", "2.trc", "3.tr4"};
        for (std::size_t i = 1; i < std::size(steps); ++i) {
            convert_ok(dir.file(steps[i - 1]), dir.file(steps[i]));
        }
        EXPECT_EQ(read_bytes(dir.file("2.trc")), read_bytes(dir.file("1.trc")));
        EXPECT_EQ(read_bytes(dir.file("3.tr4")), read_bytes(dir.file("2.tr4")));
        EXPECT_NE(read_bytes(dir.file("0.trc")), read_bytes(dir.file("1.trc")));

        const parsed_file first = split_file(read_bytes(dir.file("1.tr4")), true);
        const parsed_file second = split_file(read_bytes(dir.file("2.tr4")), true);
        EXPECT_EQ(first.header, second.header);
        EXPECT_EQ(first.chunks, second.chunks);
        EXPECT_EQ(first.samples, second.samples);
        bytes first_rest, second_rest;
        const auto first_colours = tr4_colours(first.level_data, &first_rest);
        const auto second_colours = tr4_colours(second.level_data, &second_rest);
        EXPECT_EQ(first_rest, second_rest);
        EXPECT_NE(first_colours, second_colours);
        // 248 in blue, green and red packs to 31 each; a water room has no red.
        const bool water = (g.rooms[0].flags & 1) != 0;
        EXPECT_THAT(second_colours, ::testing::Each(water ? 0x03FF : 0x7FFF));
    }
}

// ---- Output name against input direction ----------------------------------------------------

TEST(CrossNames, Tr4BytesUnderATrcInputNameAreReadAsTrcAndRefused) {
    // The level-data chunk is taken for plain TRC level data: a room count out of the
    // compressed stream, far more rooms than bytes left.
    scratch_dir dir;
    std::filesystem::create_directory(dir.file("maps.TRC"));
    const bytes marked = levelgen::file_bytes(marked_tr4(1));
    for (const char* input : {"in.trc", "maps.TRC/in.tr4"}) {
        SCOPED_TRACE(input);
        write_bytes(dir.file(input), marked);
        const outcome o = convert(dir.file(input), dir.file("out.tr4"));
        EXPECT_EQ(o.status, 1);
        EXPECT_THAT(o.out, ::testing::MatchesRegex(
                               "(.|\n)*\nLoading level...\nELevelFormatError: [^\n]+\n"));
        EXPECT_THAT(o.out, HasSubstr("room count"));
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.tr4")));
    }
    // The same bytes under a TR4 name convert.
    write_bytes(dir.file("in.tr4"), marked);
    convert_ok(dir.file("in.tr4"), dir.file("out.tr4"));
}

TEST(CrossNames, MarkedTr4SavedAsTr4MakesTheEditsThatTr4Shows) {
    // Of the edits only the sound map reaches a TR4 file: its first 740 bytes, now those from
    // behind the marker. Floor data (marker included), 18-byte moveables and TR4 rooms stay.
    const levelgen::gen_level g = marked_tr4(9);
    scratch_dir dir;
    write_bytes(dir.file("in.tr4"), levelgen::file_bytes(g));
    convert_ok(dir.file("in.tr4"), dir.file("out.tr4"));
    levelgen::gen_level want = g;
    want.sound_map = trc_level_of(g).sound_map;
    ASSERT_NE(want.sound_map, g.sound_map);
    levelgen::gen_layout layout;
    const bytes want_data = levelgen::level_data_bytes(want, &layout);
    const parsed_file out = split_file(read_bytes(dir.file("out.tr4")), true);
    EXPECT_EQ(first_difference(out.level_data, want_data, layout), "none");
    EXPECT_EQ(out.samples, g.sample_data);
    const auto level = load_file(dir.file("out.tr4"), "out.tr4");
    EXPECT_EQ(level->version, level_tr4);
    EXPECT_TRUE(has_conversion_marker(*level));
}

TEST(CrossNames, TrcSavedAsTrcMakesTheTr4EditsAndWritesTrc) {
    const levelgen::gen_level g = levelgen::make_example_level(levelgen::version_trc, 3);
    scratch_dir dir;
    write_bytes(dir.file("in.trc"), levelgen::file_bytes(g));
    convert_ok(dir.file("in.trc"), dir.file("out.trc"));
    const auto level = load_file(dir.file("out.trc"), "out.trc");
    ASSERT_EQ(level->version, level_trc);
    EXPECT_EQ(level->num_rooms, 1);
    EXPECT_EQ(level->num_items, 1);
    EXPECT_EQ(level->num_boxes, 0);
    EXPECT_EQ(level->num_cameras, 0);
    ASSERT_EQ(level->num_floor_data, 451);
    EXPECT_TRUE(has_conversion_marker(*level));
    EXPECT_EQ(0, std::memcmp(level->sound_map, g.sound_map.data(), 900));
    // No TR4 -> TRC edit: the TRC-only words are kept as read.
    ASSERT_EQ(level->moveables_trc.size(), g.moveables.size());
    for (std::size_t i = 0; i < g.moveables.size(); ++i) {
        EXPECT_EQ(0, std::memcmp(&level->moveables_trc[i], g.moveables[i].data(), 20));
    }
    ASSERT_EQ(level->object_textures.size(), g.object_textures.size());
    for (std::size_t i = 0; i < g.object_textures.size(); ++i) {
        EXPECT_EQ(0, std::memcmp(&level->object_textures[i], g.object_textures[i].data(), 40));
    }
    EXPECT_EQ(0, std::memcmp(level->trc_header_block, g.trc_header_block.data(), 32));
    EXPECT_EQ(level->rooms[0].num_layers, 1u);
    EXPECT_EQ(level->rooms[0].trc_unread_bytes, 2);
    EXPECT_EQ(level->rooms[0].trc_extra_1, g.rooms[0].trc_extra_1);
    // Its one layer is the flattened room: converting it to TR4 gives what the original does.
    convert_ok(dir.file("in.trc"), dir.file("direct.tr4"));
    convert_ok(dir.file("out.trc"), dir.file("again.tr4"));
    EXPECT_EQ(read_bytes(dir.file("again.tr4")), read_bytes(dir.file("direct.tr4")));
}

TEST(CrossNames, MixedCaseTrcOutputNamesAreWrittenAsTr4) {
    scratch_dir dir;
    write_bytes(dir.file("in.trc"), levelgen::file_bytes(levelgen::make_example_level(7, 5)));
    write_bytes(dir.file("in.tr4"), levelgen::file_bytes(marked_tr4(5)));
    for (const char* input : {"in.trc", "in.tr4"}) {
        SCOPED_TRACE(input);
        convert_ok(dir.file(input), dir.file("out.Trc"));
        convert_ok(dir.file(input), dir.file("out.tr4"));
        const bytes mixed = read_bytes(dir.file("out.Trc"));
        EXPECT_EQ(mixed, read_bytes(dir.file("out.tr4")));
        EXPECT_EQ(load_file(dir.file("out.Trc"), "out.tr4")->num_floor_data, 451);
    }
}

TEST(CrossNames, FirstWordFffffff0IsKeptBothWays) {
    levelgen::gen_level g = levelgen::make_example_level(levelgen::version_trc, 6);
    g.first_word = 0xFFFFFFF0u;
    scratch_dir dir;
    write_bytes(dir.file("in.trc"), levelgen::file_bytes(g));
    convert_ok(dir.file("in.trc"), dir.file("out.tr4"));
    convert_ok(dir.file("out.tr4"), dir.file("back.trc"));
    const bytes first_word = {0xF0, 0xFF, 0xFF, 0xFF};
    for (const char* name : {"out.tr4", "back.trc"}) {
        const bytes file = read_bytes(dir.file(name));
        EXPECT_EQ(bytes(file.begin(), file.begin() + 4), first_word) << name;
    }
    const auto level = load_file(dir.file("back.trc"), "back.trc");
    EXPECT_EQ(level->version, level_trc);
    EXPECT_EQ(level->magic, 0xFFFFFFF0u);
    EXPECT_EQ(0, std::memcmp(level->sound_map, g.sound_map.data(), 900));
}
