// TRC levels through the library and the driver: the room block as written and as read, the
// sections and the level-data close in their TRC form, malformed input, and the TRC-to-TR4
// conversion end to end. Expected bytes come from the level generator or from the byte layout.
#include "level/trunit2.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "driver/quarlix.h"
#include "level_support.h"
#include "tools/levelgen.h"

using namespace quarlix;
using levelgen::gen_layer;
using levelgen::gen_layer_vertex;
using levelgen::gen_level;
using levelgen::gen_room;
using quarlix::test::banner;
using quarlix::test::convert;
using quarlix::test::file_parts;
using quarlix::test::load_bytes;
using quarlix::test::outcome;
using quarlix::test::read_bytes;
using quarlix::test::scratch_dir;
using quarlix::test::split_file;
using quarlix::test::write_bytes;
using ::testing::AllOf;
using ::testing::HasSubstr;

namespace {

using quarlix::test::bytes;

/// The first room of TRC level data follows the 48-byte preamble.
constexpr std::size_t first_room = 48;

// Room header offsets, from the first byte of "XELA".
constexpr std::size_t h_data_size = 4, h_sectors_end = 12, h_sectors_start = 16, h_portals_end = 24,
                      h_z = 48, h_x = 50, h_lights = 56, h_statics = 58, h_flags = 86,
                      h_num_triangles = 144, h_light_data_size = 156, h_aux = 164,
                      h_layer_count = 176, h_layers = 180, h_vertices = 184, h_faces = 188,
                      h_faces_2 = 192, h_vertices_size = 196, h_data = 216;

// ---- Byte helpers ---------------------------------------------------------------------------

template <class T> bytes bytes_of(const T& record) {
    static_assert(std::is_trivially_copyable_v<T>);
    bytes out(sizeof(T));
    std::memcpy(out.data(), &record, sizeof(T));
    return out;
}

bytes bytes_of(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    return {b, b + n};
}

/// Every row that a room table holds, n bytes when it holds exactly its count's rows.
template <class T, std::size_t N> bytes bytes_of(const troom_table<T, N>& table, std::size_t) {
    return bytes_of(table.data(), table.size() * sizeof(T));
}

/// Records one after another, as a table of them is stored.
bytes joined(const levelgen::gen_records& records) {
    bytes all;
    for (const auto& r : records) {
        all.insert(all.end(), r.begin(), r.end());
    }
    return all;
}

// Reads that stay inside the bytes: a fault that moves data must fail a test, not crash it.
bool inside(const bytes& b, std::size_t at, std::size_t n) {
    if (at > b.size() || n > b.size() - at) {
        ADD_FAILURE() << n << " bytes at " << at << " lie beyond the " << b.size() << " there";
        return false;
    }
    return true;
}

bytes slice(const bytes& b, std::size_t at, std::size_t n) {
    if (!inside(b, at, n)) {
        return {};
    }
    return {b.begin() + static_cast<std::ptrdiff_t>(at),
            b.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

std::uint16_t get_u16(const bytes& b, std::size_t at) {
    return inside(b, at, 2) ? levelgen::get_u16(b, at) : 0;
}

std::uint32_t get_u32(const bytes& b, std::size_t at) {
    return inside(b, at, 4) ? levelgen::get_u32(b, at) : 0;
}

bool all_equal(const bytes& b, std::size_t at, std::size_t n, std::uint8_t v) {
    if (!inside(b, at, n)) {
        return false;
    }
    for (std::size_t i = at; i < at + n; ++i) {
        if (b[i] != v) {
            return false;
        }
    }
    return true;
}

/// The 28-byte layer vertex as the file stores it.
bytes vertex_record(const gen_layer_vertex& v) {
    levelgen::byte_writer w;
    w.f32(v.x);
    w.f32(v.y);
    w.f32(v.z);
    for (auto e : v.extra) {
        w.u32(e);
    }
    w.u8(v.b);
    w.u8(v.g);
    w.u8(v.r);
    w.u8(v.a);
    return w.take();
}

/// A record that a level section holds, as its first n bytes in the generator's form.
bytes head(const levelgen::gen_record& rec, std::size_t n) {
    bytes out(rec.begin(), rec.begin() + static_cast<std::ptrdiff_t>(std::min(n, rec.size())));
    out.resize(n, 0);
    return out;
}

// ---- Library helpers ------------------------------------------------------------------------

std::unique_ptr<Ttrlevel> load_file(const bytes& file, const std::string& name = "level.trc") {
    return load_bytes(file, name);
}

std::unique_ptr<Ttrlevel> load_level(const gen_level& g) {
    return load_file(levelgen::file_bytes(g));
}

bytes saved(Ttrlevel& level, const std::string& name = "out.trc") {
    return test::saved(level, name);
}

/// A saved TRC file cut into its parts. The level data is found from the sample data's
/// length, not from the length fields, so the fields can be checked against it.
file_parts split_trc(const bytes& file, std::size_t sample_size) {
    return split_file(file, false, sample_size);
}

/// Saves as TRC and returns the level data of the saved file.
bytes saved_level_data(Ttrlevel& level) {
    const std::size_t samples = level.sample_data_size;
    return split_trc(saved(level), samples).level_data;
}

std::string load_error(const bytes& file, const std::string& name = "bad.trc") {
    return test::load_error(file, name);
}

// ---- Level descriptions ---------------------------------------------------------------------

/// A layer whose vertices land on distinct integer positions (their fractions are dropped, so
/// flattening keeps them in order), with faces over them.
gen_layer distinct_layer(std::size_t vertices, std::size_t rectangles, std::size_t triangles,
                         std::uint32_t seed, float x0 = 0) {
    gen_layer layer;
    const auto words = levelgen::pattern_bytes(64 + 16 * (vertices + rectangles + triangles), seed);
    std::size_t w = 0;
    const auto next = [&] {
        const auto v = static_cast<std::uint16_t>(words[w] | words[w + 1] << 8);
        w += 2;
        return v;
    };
    for (std::size_t i = 0; i < vertices; ++i) {
        gen_layer_vertex v;
        v.x = x0 + 1024.0f * static_cast<float>(i % 7) + 0.5f;
        v.y = -256.0f * static_cast<float>(i % 3) - 0.75f;
        v.z = 1024.0f * static_cast<float>(i / 7) + 0.25f;
        v.extra = {next(), next(), static_cast<std::uint32_t>(i)};
        v.b = static_cast<std::uint8_t>(next());
        v.g = static_cast<std::uint8_t>(next());
        v.r = static_cast<std::uint8_t>(next());
        v.a = static_cast<std::uint8_t>(next());
        layer.vertices.push_back(v);
    }
    const auto corner = [&](std::size_t i, std::size_t c) {
        return static_cast<std::uint16_t>(vertices == 0 ? 0 : (i + c) % vertices);
    };
    for (std::size_t i = 0; i < rectangles; ++i) {
        layer.rectangles.push_back(
            {{corner(i, 0), corner(i, 1), corner(i, 2), corner(i, 3)}, next(), next()});
    }
    for (std::size_t i = 0; i < triangles; ++i) {
        layer.triangles.push_back({{corner(i, 0), corner(i, 1), corner(i, 2)}, next(), next()});
    }
    layer.extra_1 = next();
    layer.extra_2 = next();
    layer.extra_3 = 0x01000000u * next() + next();
    layer.bounds = {x0, -512.0f, 0.0f, x0 + 7168.0f, 0.0f, 4096.0f};
    layer.extra_4 = next();
    layer.extra_5 = next();
    layer.extra_6 = next();
    layer.extra_7 = next();
    return layer;
}

/// A TRC room with every table filled and every kept header word set.
gen_room full_room(std::uint32_t seed, std::vector<gen_layer> layers) {
    gen_room r;
    r.pos_x = static_cast<std::int32_t>(seed) * 1024;
    r.pos_y = -256;
    r.pos_z = 2048 + static_cast<std::int32_t>(seed);
    r.y_bottom = 512;
    r.y_top = -3072;
    r.z_sectors = 2;
    r.x_sectors = 3;
    r.sectors = levelgen::pattern_records(6, 8, seed + 1);
    r.portals = levelgen::pattern_records(2, 32, seed + 2);
    r.lights = levelgen::pattern_records(3, 85, seed + 3);
    r.aux_records = levelgen::pattern_records(2, 36, seed + 4);
    r.static_instances = levelgen::pattern_records(2, 20, seed + 5);
    r.room_colour = {0x11, 0x22, static_cast<std::uint8_t>(seed), 0x44};
    r.flags = static_cast<std::uint16_t>(0x0101 + seed);
    r.trc_extra_1 = 0xA1000000u + seed;
    r.trc_extra_2 = 0xA2000000u + seed;
    r.trc_extra_3 = 0xA3000000u + seed;
    r.trc_extra_4 = 0xA4000000u + seed;
    r.trc_extra_5 = 0xA5000000u + seed;
    r.trc_extra_6 = 0xA6000000u + seed;
    r.trc_extra_7 = 0xA7000000u + seed;
    r.trc_extra_8 = 0xA8000000u + seed;
    r.trc_extra_9 = 0xA9000000u + seed;
    r.trc_extra_word = static_cast<std::uint16_t>(0xBEE0 + seed);
    for (std::size_t i = 0; i < r.trc_extra_block.size(); ++i) {
        r.trc_extra_block[i] = static_cast<std::uint8_t>(0xE0 + i + seed);
    }
    r.layers = std::move(layers);
    return r;
}

/// A small TRC level: no textiles, a little sample data, the given rooms.
gen_level small_trc(std::vector<gen_room> rooms = {}) {
    gen_level g;
    g.version = levelgen::version_trc;
    g.textiles_misc = levelgen::pattern_bytes(200, 1);
    for (std::size_t i = 0; i < g.trc_header_block.size(); ++i) {
        g.trc_header_block[i] = static_cast<std::uint8_t>(0x30 + i);
    }
    g.sample_data = levelgen::sample_bytes(700, 3);
    g.rooms = std::move(rooms);
    return g;
}

/// Every section of an example TRC level, with single-layer rooms on distinct positions.
gen_level single_layer_level(std::uint32_t seed) {
    gen_level g = levelgen::make_example_level(levelgen::version_trc, seed);
    g.rooms = {full_room(seed, {distinct_layer(12, 5, 3, seed)}),
               full_room(seed + 1, {distinct_layer(9, 4, 4, seed + 7, 9000.0f)}),
               full_room(seed + 2, {distinct_layer(20, 0, 1, seed + 9)}),
               full_room(seed + 3, {distinct_layer(0, 0, 0, seed + 11)})};
    g.rooms[3].lights.clear();
    g.rooms[3].portals.clear();
    g.rooms[1].trc_num_triangles = 0x00012345; // header counts are written as held
    g.rooms[1].trc_num_rectangles = 7777;
    return g;
}

/// Where the data of a room written by this writer lies, found by walking its bytes with the
/// counts that the header and the data hold; offsets from the first byte of the level data.
struct room_walk {
    std::size_t at, data, sectors_start, sectors_end, portals_end, layers, faces, vertices, end;
    std::uint32_t num_vertices;
    std::uint16_t num_rectangles, num_triangles;
};

room_walk walk_written_room(const bytes& d, std::size_t at) {
    room_walk w{};
    w.at = at;
    const std::size_t lights = get_u16(d, at + h_lights);
    const std::size_t statics = get_u16(d, at + h_statics);
    const std::size_t sectors = std::size_t{get_u16(d, at + h_z)} * get_u16(d, at + h_x);
    const std::size_t aux = get_u32(d, at + h_aux);
    std::size_t p = at + h_data;
    w.data = p;
    p += 88 * lights + 36 * aux;
    w.sectors_start = p;
    p += 8 * sectors;
    w.sectors_end = p;
    p += 2 + 32 * std::size_t{get_u16(d, p)} + 2;
    w.portals_end = p;
    p += 20 * statics;
    w.layers = p;
    w.num_vertices = get_u32(d, p);
    w.num_rectangles = get_u16(d, p + 6);
    w.num_triangles = get_u16(d, p + 8);
    p += 56;
    w.faces = p;
    p += 12 * std::size_t{w.num_rectangles} + 10 * std::size_t{w.num_triangles} +
         (w.num_triangles % 2 != 0 ? 2 : 0);
    w.vertices = p;
    p += 28 * std::size_t{w.num_vertices} + 2;
    w.end = p;
    return w;
}

/// Checks every size and offset field of a written room against the walk of its bytes.
void expect_offsets_match(const bytes& d, const room_walk& w) {
    const auto field = [&](std::size_t offset) { return get_u32(d, w.at + offset); };
    EXPECT_EQ(field(h_data_size), w.end - (w.at + 8)) << "room-data size";
    EXPECT_EQ(field(h_sectors_start), w.sectors_start - w.data);
    EXPECT_EQ(field(h_sectors_end), w.sectors_end - w.data);
    EXPECT_EQ(field(h_portals_end), w.portals_end - w.data);
    EXPECT_EQ(field(h_layers), w.layers - w.data);
    EXPECT_EQ(field(h_faces), w.faces - w.data);
    EXPECT_EQ(field(h_faces_2), w.faces - w.data);
    EXPECT_EQ(field(h_vertices), w.vertices - w.data);
    EXPECT_EQ(field(h_vertices_size), w.end - w.vertices);
    EXPECT_EQ(field(h_light_data_size), 88u * get_u16(d, w.at + h_lights));
    EXPECT_EQ(field(h_layer_count), 1u);
}

/// Distinct integer positions of a room's layer vertices (all small, truncation by cast).
std::size_t distinct_positions(const gen_room& room) {
    std::set<std::tuple<int, int, int>> seen;
    for (const auto& layer : room.layers) {
        for (const auto& v : layer.vertices) {
            seen.emplace(static_cast<int>(v.x), static_cast<int>(v.y), static_cast<int>(v.z));
        }
    }
    return seen.size();
}

/// The room's geometry tables in all their forms, as bytes.
struct geometry {
    bytes vertices, legacy, trc_vertices, rectangles, trc_rectangles, triangles, trc_triangles;
    bool operator==(const geometry&) const = default;
};

geometry geometry_of(const troom& r) {
    return {bytes_of(r.vertices, r.num_vertices * sizeof(troom_vertex)),
            bytes_of(r.legacy_vertices, r.num_vertices * sizeof(tlegacy_vertex)),
            bytes_of(r.trc_vertices, r.num_vertices * sizeof(tlayer_vertex)),
            bytes_of(r.rectangles, r.num_rectangles * sizeof(troom_rectangle)),
            bytes_of(r.trc_rectangles, r.num_rectangles * sizeof(tlayer_rectangle)),
            bytes_of(r.triangles, r.num_triangles * sizeof(troom_triangle)),
            bytes_of(r.trc_triangles, r.num_triangles * sizeof(tlayer_triangle))};
}

} // namespace

// ---- TRC room block, writer side ------------------------------------------------------------

TEST(TrcRoomWrite, EmptyRoomSizesReadFromTheSavedBytes) {
    struct shape {
        std::uint16_t z, x;
        bool input_has_a_layer;
    };
    const shape shapes[] = {
        {0, 0, true}, {1, 1, false}, {2, 3, true}, {4, 1, false}, {32, 32, true}};
    for (const shape& s : shapes) {
        SCOPED_TRACE(std::to_string(s.z) + " x " + std::to_string(s.x));
        gen_room room;
        room.z_sectors = s.z;
        room.x_sectors = s.x;
        room.sectors = levelgen::pattern_records(std::size_t{s.z} * s.x, 8, 5);
        if (s.input_has_a_layer) {
            room.layers = {gen_layer{}};
        }
        gen_level g = small_trc({room, full_room(3, {distinct_layer(3, 1, 1, 3)})});
        g.scramble_skipped_bytes = true; // what was read must not be what is written
        auto level = load_level(g);
        const bytes d = saved_level_data(*level);

        const std::size_t zx8 = 8 * std::size_t{s.z} * s.x;
        const std::size_t at = first_room;
        EXPECT_EQ(slice(d, at, 4), bytes({'X', 'E', 'L', 'A'}));
        EXPECT_EQ(get_u32(d, at + h_data_size), 270 + zx8);
        EXPECT_EQ(get_u32(d, at + h_sectors_start), 0u);
        EXPECT_EQ(get_u32(d, at + h_sectors_end), zx8);
        EXPECT_EQ(get_u32(d, at + h_portals_end), zx8 + 4);
        EXPECT_EQ(get_u32(d, at + h_layers), zx8 + 4);
        EXPECT_EQ(get_u32(d, at + h_faces), zx8 + 60);
        EXPECT_EQ(get_u32(d, at + h_faces_2), zx8 + 60);
        EXPECT_EQ(get_u32(d, at + h_vertices), zx8 + 60);
        EXPECT_EQ(get_u32(d, at + h_vertices_size), 2u);
        EXPECT_EQ(get_u32(d, at + h_light_data_size), 0u);
        EXPECT_EQ(get_u32(d, at + h_layer_count), 1u);
        // Data part: sectors, portal count, portal filler, one layer header, closing filler.
        const std::size_t data = at + h_data;
        EXPECT_EQ(slice(d, data, zx8), joined(room.sectors));
        EXPECT_EQ(get_u16(d, data + zx8), 0u);
        EXPECT_EQ(get_u16(d, data + zx8 + 2), 0xCDCDu);
        EXPECT_EQ(get_u32(d, data + zx8 + 4), 0u) << "layer vertex count";
        EXPECT_EQ(get_u16(d, data + zx8 + 60), 0xCDCDu);
        EXPECT_EQ(slice(d, data + zx8 + 62, 4), bytes({'X', 'E', 'L', 'A'}))
            << "the next room starts after 8 x Z x X + 62 bytes";
        EXPECT_EQ(data + zx8 + 62, at + 8 + get_u32(d, at + h_data_size));
    }
}

TEST(TrcRoomWrite, TriangleFillerOnlyAfterAnOddTotal) {
    for (std::size_t triangles : {0u, 1u, 3u, 4u}) {
        SCOPED_TRACE(std::to_string(triangles) + " triangles");
        gen_layer layer = distinct_layer(6, 2, triangles, 40);
        for (std::size_t i = 0; i < layer.triangles.size(); ++i) {
            layer.triangles[i].extra = static_cast<std::uint16_t>(0x1111 * (i + 1));
        }
        gen_level g = small_trc({full_room(1, {layer})});
        auto level = load_level(g);
        ASSERT_EQ(level->rooms[0].num_triangles, triangles);
        const bytes d = saved_level_data(*level);
        const std::size_t at = first_room, data = at + h_data;
        const std::size_t faces = get_u32(d, at + h_faces);
        const std::size_t vertices = get_u32(d, at + h_vertices);
        const bool odd = triangles % 2 != 0;
        EXPECT_EQ(vertices - faces, 2 * 12 + 10 * triangles + (odd ? 2 : 0));
        if (odd) {
            EXPECT_EQ(get_u16(d, data + vertices - 2), 0xCDCDu);
            EXPECT_EQ(get_u16(d, data + vertices - 4), layer.triangles.back().extra);
        } else if (triangles > 0) {
            EXPECT_EQ(get_u16(d, data + vertices - 2), layer.triangles.back().extra)
                << "no filler: the last triangle ends where the vertices start";
        }
        EXPECT_EQ(slice(d, data + vertices, 28), vertex_record(layer.vertices[0]));
        EXPECT_EQ(get_u32(d, at + h_vertices_size), 6u * 28 + 2);
        EXPECT_EQ(get_u32(d, at + h_num_triangles), triangles) << "the header count as read";
    }
}

TEST(TrcRoomWrite, FixedBytesAreWrittenWhateverWasRead) {
    gen_level g = levelgen::make_example_level(levelgen::version_trc, 3);
    g.scramble_skipped_bytes = true;
    g.rooms[1].trc_alternate_room = 0;
    auto level = load_level(g);
    EXPECT_EQ(level->rooms[1].trc_alternate_room, 0);
    EXPECT_EQ(level->rooms[0].trc_alternate_room, -1);
    const bytes d = saved_level_data(*level);
    EXPECT_EQ(get_u32(d, 40), 0u) << "the word before the room count";
    EXPECT_EQ(get_u32(d, 44), g.rooms.size());
    EXPECT_EQ(slice(d, 0, 32), bytes(g.trc_header_block.begin(), g.trc_header_block.end()));
    std::size_t at = first_room;
    for (std::size_t i = 0; i < g.rooms.size(); ++i) {
        SCOPED_TRACE("room " + std::to_string(i));
        const room_walk w = walk_written_room(d, at);
        EXPECT_EQ(slice(d, at, 4), bytes({'X', 'E', 'L', 'A'}));
        EXPECT_TRUE(all_equal(d, at + 8, 4, 0xCD));
        EXPECT_TRUE(all_equal(d, at + 72, 8, 0xCD));
        EXPECT_TRUE(all_equal(d, at + 80, 6, 0xFF));
        EXPECT_EQ(get_u16(d, at + h_flags), g.rooms[i].flags);
        EXPECT_EQ(get_u16(d, at + 88), g.rooms[i].trc_extra_word);
        EXPECT_TRUE(all_equal(d, at + 90, 10, 0x00));
        EXPECT_TRUE(all_equal(d, at + 100, 4, 0xCD));
        EXPECT_EQ(slice(d, at + 104, 16),
                  bytes(g.rooms[i].trc_extra_block.begin(), g.rooms[i].trc_extra_block.end()));
        EXPECT_TRUE(all_equal(d, at + 120, 16, 0xCD));
        EXPECT_TRUE(all_equal(d, at + 140, 4, 0xCD));
        EXPECT_EQ(get_u32(d, at + h_layer_count), 1u) << "read with " << g.rooms[i].layers.size();
        EXPECT_TRUE(all_equal(d, at + 200, 16, 0xCD));
        for (std::size_t l = 0; l < g.rooms[i].lights.size(); ++l) {
            EXPECT_TRUE(all_equal(d, w.data + 88 * l + 85, 3, 0xCD)) << "light " << l;
        }
        EXPECT_TRUE(all_equal(d, w.portals_end - 2, 2, 0xCD)) << "portal filler";
        EXPECT_TRUE(all_equal(d, w.end - 2, 2, 0xCD)) << "closing filler";
        at = w.end;
    }
    EXPECT_TRUE(all_equal(d, d.size() - 4, 4, 0xCD));
}

TEST(TrcRoomWrite, LightDataSizeIsStoredInTheRecordAndOtherFieldsAreNot) {
    gen_level g = levelgen::make_example_level(levelgen::version_trc, 5);
    g.scramble_skipped_bytes = true;
    auto level = load_level(g);
    for (troom& r : level->rooms) {
        r.trc_light_data_size = 0xDEADBEEF;
    }
    const std::vector<std::uint32_t> sizes_before = [&] {
        std::vector<std::uint32_t> v;
        for (const troom& r : level->rooms) {
            v.insert(v.end(), {r.trc_data_size, r.trc_sectors_start, r.trc_sectors_end,
                               r.trc_portals_end, r.trc_layers_offset, r.trc_vertices_offset,
                               r.trc_faces_offset, r.trc_faces_offset_2, r.trc_vertices_size});
        }
        return v;
    }();
    const bytes d = saved_level_data(*level);
    std::vector<std::uint32_t> sizes_after;
    std::size_t at = first_room;
    for (std::size_t i = 0; i < level->rooms.size(); ++i) {
        const troom& r = level->rooms[i];
        EXPECT_EQ(r.trc_light_data_size, 88u * g.rooms[i].lights.size()) << "room " << i;
        EXPECT_EQ(get_u32(d, at + h_light_data_size), 88u * g.rooms[i].lights.size());
        sizes_after.insert(sizes_after.end(),
                           {r.trc_data_size, r.trc_sectors_start, r.trc_sectors_end,
                            r.trc_portals_end, r.trc_layers_offset, r.trc_vertices_offset,
                            r.trc_faces_offset, r.trc_faces_offset_2, r.trc_vertices_size});
        at = walk_written_room(d, at).end;
    }
    EXPECT_EQ(sizes_after, sizes_before) << "the other sizes are patched in the file only";
}

TEST(TrcRoomWrite, FiveLightsKeepTheirBlocksInOrder) {
    gen_room room = full_room(2, {distinct_layer(4, 1, 1, 2)});
    room.lights = levelgen::pattern_records(5, 85, 77);
    for (std::size_t i = 1; i < 5; ++i) {
        ASSERT_NE(room.lights[i], room.lights[i - 1]) << "the blocks differ";
    }
    auto level = load_level(small_trc({room}));
    const troom& r = level->rooms[0];
    ASSERT_EQ(r.num_lights, 5);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(bytes_of(r.trc_lights[i]), room.lights[i]) << "light " << i << " as read";
    }
    const bytes d = saved_level_data(*level);
    const std::size_t data = first_room + h_data;
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(slice(d, data + 88 * i, 85), room.lights[i]) << "light " << i << " as written";
    }
    const bytes aux = slice(d, data + 5 * 88, 36);
    EXPECT_EQ(aux, room.aux_records[0]) << "the aux records follow the fifth light's filler";
}

TEST(TrcRoomWrite, EveryOffsetFieldMatchesTheDataItDescribes) {
    for (std::uint32_t seed : {1u, 2u, 6u}) {
        SCOPED_TRACE(seed);
        gen_level g = levelgen::make_example_level(levelgen::version_trc, seed);
        g.scramble_skipped_bytes = seed == 6;
        auto level = load_level(g);
        const bytes d = saved_level_data(*level);
        std::size_t at = first_room;
        for (std::size_t i = 0; i < g.rooms.size(); ++i) {
            SCOPED_TRACE("room " + std::to_string(i));
            const room_walk w = walk_written_room(d, at);
            expect_offsets_match(d, w);
            const troom& r = level->rooms[i];
            EXPECT_EQ(w.num_vertices, r.num_vertices);
            EXPECT_EQ(w.num_rectangles, r.num_rectangles);
            EXPECT_EQ(w.num_triangles, r.num_triangles);
            EXPECT_EQ(slice(d, w.vertices, 28 * std::size_t{w.num_vertices}),
                      bytes_of(r.trc_vertices, 28 * std::size_t{r.num_vertices}));
            at = w.end;
        }
        // The sections follow the last room directly, and the lengths cover all of it.
        gen_level plain = g;
        plain.scramble_skipped_bytes = false;
        levelgen::gen_layout layout;
        const bytes want = levelgen::level_data_bytes(plain, &layout);
        const std::size_t sections = layout.level.at("floor_data");
        EXPECT_EQ(slice(d, at, d.size() - at), slice(want, sections, want.size() - sections));
        EXPECT_EQ(get_u32(d, 32), d.size() - 40);
        EXPECT_EQ(get_u32(d, 36), d.size() - 40);
    }
}

// ---- TRC room block, reader side ------------------------------------------------------------

TEST(TrcRoomRead, TriangleFillerFollowsTheSumOverLayers) {
    struct totals {
        std::size_t first, second;
    };
    for (const totals t : {totals{1, 2}, totals{1, 1}, totals{2, 2}, totals{0, 3}}) {
        SCOPED_TRACE(std::to_string(t.first) + " + " + std::to_string(t.second));
        const gen_layer a = distinct_layer(5, 1, t.first, 50);
        const gen_layer b = distinct_layer(4, 2, t.second, 51, 20000.0f);
        gen_level g = small_trc({full_room(1, {a, b}), full_room(9, {distinct_layer(3, 1, 0, 9)})});
        g.scramble_skipped_bytes = true; // the filler's value is not what finds it
        auto level = load_level(g);
        const troom& r = level->rooms[0];
        EXPECT_EQ(r.trc_unread_bytes, 2);
        EXPECT_EQ(r.num_triangles, t.first + t.second);
        ASSERT_EQ(r.num_vertices, 9);
        for (std::size_t i = 0; i < 9; ++i) {
            const gen_layer_vertex& v = i < 5 ? a.vertices[i] : b.vertices[i - 5];
            EXPECT_EQ(bytes_of(r.trc_vertices[i]), vertex_record(v)) << "vertex " << i;
        }
        EXPECT_EQ(level->rooms[1].pos_x, g.rooms[1].pos_x);
        EXPECT_EQ(level->sample_data.to_vector(), g.sample_data);
    }
}

TEST(TrcRoomRead, ZeroLayerRoomHasNoGeometry) {
    gen_room empty = full_room(4, {});
    const gen_level g = small_trc({empty, full_room(5, {distinct_layer(3, 1, 1, 5)})});
    const auto expect_empty_first_room = [&](const Ttrlevel& level) {
        const troom& r = level.rooms[0];
        EXPECT_EQ(r.num_layers, 0u);
        EXPECT_EQ(r.layers.layer_count, 0u);
        EXPECT_TRUE(r.layer_headers.empty());
        EXPECT_TRUE(r.layers.vertex_blocks.empty());
        EXPECT_TRUE(r.layers.rectangle_blocks.empty());
        EXPECT_TRUE(r.layers.triangle_blocks.empty());
        EXPECT_EQ(r.num_vertices, 0);
        EXPECT_EQ(r.num_rectangles, 0);
        EXPECT_EQ(r.num_triangles, 0);
        EXPECT_EQ(r.num_sprites, 0);
        EXPECT_EQ(r.trc_unread_bytes, 2);
        EXPECT_EQ(r.num_lights, empty.lights.size());
        EXPECT_EQ(bytes_of(r.trc_lights[2]), empty.lights[2]);
        EXPECT_EQ(level.rooms[1].num_layers, 1u);
        EXPECT_EQ(level.rooms[1].num_vertices, 3);
    };
    // Each load goes into a level object that an earlier load left geometry, sprites and
    // layers in.
    auto level = std::make_unique<Ttrlevel>();
    gen_level tr4 = levelgen::make_example_level(levelgen::version_tr4, 2);
    tr4.rooms[0].sprites = levelgen::pattern_records(2, 4, 1);
    ASSERT_EQ(level->load_content(levelgen::file_bytes(tr4), "first.tr4"), 0);
    ASSERT_GT(level->rooms[0].num_vertices, 0);
    ASSERT_GT(level->rooms[0].num_sprites, 0);
    ASSERT_EQ(level->load_content(levelgen::file_bytes(g), "second.trc"), 0);
    expect_empty_first_room(*level);

    const gen_level layered = levelgen::make_example_level(levelgen::version_trc, 2);
    ASSERT_EQ(level->load_content(levelgen::file_bytes(layered), "third.trc"), 0);
    ASSERT_GE(level->rooms[0].layer_headers.size(), 2u);
    ASSERT_EQ(level->load_content(levelgen::file_bytes(g), "fourth.trc"), 0);
    expect_empty_first_room(*level);
}

TEST(TrcRoomRead, EveryRoomThisWriterWroteHasTwoUnreadBytes) {
    for (std::uint32_t seed : {1u, 2u, 5u}) {
        SCOPED_TRACE(seed);
        const gen_level g = levelgen::make_example_level(levelgen::version_trc, seed);
        auto first = load_level(g);
        ASSERT_GE(first->num_rooms, 3);
        const bytes file = saved(*first);
        auto second = load_file(file);
        ASSERT_EQ(second->num_rooms, g.rooms.size());
        for (std::size_t i = 0; i < g.rooms.size(); ++i) {
            EXPECT_EQ(second->rooms[i].trc_unread_bytes, 2) << "room " << i;
            EXPECT_EQ(second->rooms[i].num_layers, 1u) << "room " << i;
        }
    }
}

TEST(TrcRoomRead, SeveralLayersAreWrittenBackAsOne) {
    const gen_level g = levelgen::make_example_level(levelgen::version_trc, 6);
    auto first = load_level(g);
    auto second = load_file(saved(*first));
    for (std::size_t i = 0; i < g.rooms.size(); ++i) {
        SCOPED_TRACE("room " + std::to_string(i));
        const gen_room& gr = g.rooms[i];
        const troom& a = first->rooms[i];
        const troom& b = second->rooms[i];
        ASSERT_GE(gr.layers.size(), 2u);
        std::size_t rectangles = 0, triangles = 0, layer_vertices = 0;
        ASSERT_EQ(a.num_layers, gr.layers.size());
        ASSERT_EQ(a.layer_headers.size(), gr.layers.size());
        for (std::size_t k = 0; k < gr.layers.size(); ++k) {
            rectangles += gr.layers[k].rectangles.size();
            triangles += gr.layers[k].triangles.size();
            layer_vertices += gr.layers[k].vertices.size();
            EXPECT_EQ(a.layers.vertex_blocks[k].count, gr.layers[k].vertices.size());
            EXPECT_EQ(a.layer_headers[k].num_rectangles, gr.layers[k].rectangles.size());
        }
        EXPECT_EQ(a.num_rectangles, rectangles);
        EXPECT_EQ(a.num_triangles, triangles);
        EXPECT_EQ(a.num_vertices, distinct_positions(gr));
        ASSERT_LT(a.num_vertices, layer_vertices) << "the example merges vertices";

        EXPECT_EQ(b.num_layers, 1u);
        EXPECT_EQ(b.layers.layer_count, 1u);
        ASSERT_EQ(b.layer_headers.size(), 1u);
        const tlayer_header h = b.layer_headers[0];
        EXPECT_EQ(h.num_vertices, a.num_vertices);
        EXPECT_EQ(h.num_rectangles, rectangles);
        EXPECT_EQ(h.num_triangles, triangles);
        EXPECT_EQ(h.extra_1, gr.layers[0].extra_1);
        const auto kept = levelgen::layer_kept_bytes(gr.layers[0]);
        EXPECT_EQ(bytes_of(reinterpret_cast<const std::uint8_t*>(&h) + 10, 46),
                  bytes(kept.begin(), kept.end()));
        EXPECT_EQ(b.layers.vertex_blocks[0].count, a.num_vertices);
        EXPECT_TRUE(geometry_of(b) == geometry_of(a)) << "one layer flattens to the same room";
    }
}

TEST(TrcRoomRead, DeclaredSizeFindsTheNextRoomForwardOrBack) {
    const gen_room second = full_room(8, {distinct_layer(7, 3, 2, 8, 4096.0f)});
    const auto check_second = [&](const Ttrlevel& level) {
        const troom& r = level.rooms[1];
        EXPECT_EQ(r.pos_x, second.pos_x);
        EXPECT_EQ(r.trc_extra_9, second.trc_extra_9);
        EXPECT_EQ(r.num_vertices, 7);
        EXPECT_EQ(bytes_of(r.trc_lights[2]), second.lights[2]);
        EXPECT_EQ(r.trc_unread_bytes, 2);
    };

    // Longer: bytes after the closing filler are skipped to the declared end.
    gen_room longer = full_room(1, {distinct_layer(5, 2, 1, 1)});
    longer.trc_trailing_bytes = {'X', 'E', 'L', 'A', 9, 9, 9};
    gen_level g = small_trc({longer, second});
    auto level = load_level(g);
    EXPECT_EQ(level->rooms[0].trc_unread_bytes, 9);
    EXPECT_EQ(level->rooms[0].trc_data_size, get_u32(levelgen::level_data_bytes(g), 52));
    check_second(*level);
    EXPECT_EQ(level->sample_data.to_vector(), g.sample_data);
    auto again = load_file(saved(*level));
    EXPECT_EQ(again->rooms[0].trc_unread_bytes, 2) << "the skipped bytes are not written back";
    // The declared size alone decides, whatever the bytes after the room hold.
    g.rooms[0].trc_trailing_bytes.assign(40, 0xCD);
    level = load_level(g);
    EXPECT_EQ(level->rooms[0].trc_unread_bytes, 42);
    check_second(*level);

    // Shorter: the declared end lies 4 bytes before the reader's end, which has run into the
    // next room's marker; the reader goes back and reads the next room from its declared start.
    const gen_layer layer = distinct_layer(5, 2, 1, 1);
    g = small_trc({full_room(1, {layer}), second});
    levelgen::gen_layout layout;
    bytes d = levelgen::level_data_bytes(g, &layout);
    const std::size_t end0 = layout.level.at("room.1");
    const std::size_t cut = 2 + 4; // the closing filler and the last vertex's colour
    d.erase(d.begin() + static_cast<std::ptrdiff_t>(end0 - cut),
            d.begin() + static_cast<std::ptrdiff_t>(end0));
    levelgen::put_u32(d, first_room + h_data_size,
                      get_u32(d, first_room + h_data_size) - static_cast<std::uint32_t>(cut));
    levelgen::put_u32(d, 32, get_u32(d, 32) - static_cast<std::uint32_t>(cut));
    levelgen::put_u32(d, 36, get_u32(d, 36) - static_cast<std::uint32_t>(cut));
    level = load_file(levelgen::file_with_level_data(g, d));
    EXPECT_EQ(level->rooms[0].trc_unread_bytes, -4);
    const troom& r = level->rooms[0];
    ASSERT_EQ(r.num_vertices, 5);
    bytes last = vertex_record(layer.vertices[4]);
    std::memcpy(last.data() + 24, "XELA", 4);
    EXPECT_EQ(bytes_of(r.trc_vertices[4]), last) << "the last colour came from the next room";
    check_second(*level);
    EXPECT_EQ(level->sample_data.to_vector(), g.sample_data);
}

TEST(TrcRoomRead, RoomCountIsTheLowSixteenBits) {
    gen_level g = small_trc(
        {full_room(1, {distinct_layer(3, 1, 1, 1)}), full_room(2, {distinct_layer(4, 1, 0, 2)})});
    g.moveables = levelgen::pattern_records(2, 20, 3);
    g.num_rooms = 0x00010002;
    auto level = load_level(g);
    EXPECT_EQ(level->num_rooms, 2);
    ASSERT_EQ(level->rooms.size(), 2u);
    EXPECT_EQ(level->rooms[1].pos_x, g.rooms[1].pos_x);
    EXPECT_EQ(level->num_moveables, 2);
    EXPECT_EQ(level->sample_data.to_vector(), g.sample_data);
    EXPECT_EQ(get_u32(saved_level_data(*level), 44), 2u) << "written zero-extended";

    g.rooms.clear();
    g.num_rooms = 0xABCD0000;
    level = load_level(g);
    EXPECT_EQ(level->num_rooms, 0);
    EXPECT_EQ(level->num_moveables, 2);
    const bytes d = saved_level_data(*level);
    EXPECT_EQ(get_u32(d, 44), 0u);
    EXPECT_EQ(get_u32(d, 48), 0u) << "no room: the floor-data count follows the preamble";
}

TEST(TrcRoomRead, LayerHeaderCountsGoIntoTheBlocks) {
    gen_layer a = distinct_layer(10, 2, 1, 60);
    a.num_vertices = 65536 + 10; // truncated to 16 bits: 10
    a.extra_1 = 0xBEEF;
    const gen_layer b = distinct_layer(2, 1, 2, 61, 30000.0f);
    const gen_level g = small_trc({full_room(3, {a, b})});
    auto level = load_level(g);
    const troom& r = level->rooms[0];
    ASSERT_EQ(r.num_layers, 2u);
    EXPECT_EQ(r.layers.layer_count, 2u);
    ASSERT_EQ(r.layer_headers.size(), 2u);
    const tlayer_header h0 = r.layer_headers[0], h1 = r.layer_headers[1];
    EXPECT_EQ(h0.num_vertices, 65546u);
    EXPECT_EQ(r.layers.vertex_blocks[0].count, 10);
    EXPECT_EQ(h0.extra_1, 0xBEEF);
    EXPECT_EQ(h0.num_rectangles, 2);
    EXPECT_EQ(h0.num_triangles, 1);
    EXPECT_EQ(r.layers.rectangle_blocks[0].count, 2);
    EXPECT_EQ(r.layers.triangle_blocks[0].count, 1);
    EXPECT_EQ(h1.num_vertices, 2u);
    EXPECT_EQ(r.layers.vertex_blocks[1].count, 2);
    EXPECT_EQ(r.layers.rectangle_blocks[1].count, 1);
    EXPECT_EQ(r.layers.triangle_blocks[1].count, 2);
    for (std::size_t k = 0; k < 2; ++k) {
        const auto kept = levelgen::layer_kept_bytes(k == 0 ? a : b);
        EXPECT_EQ(bytes_of(reinterpret_cast<const std::uint8_t*>(&r.layer_headers[k]) + 10, 46),
                  bytes(kept.begin(), kept.end()))
            << "layer " << k;
    }
    EXPECT_EQ(bytes_of(r.layers.vertex_blocks[1].vertices[1]), vertex_record(b.vertices[1]));
    const tlayer_triangle t = r.layers.triangle_blocks[1].triangles[1];
    EXPECT_EQ(t.texture, b.triangles[1].texture);
    EXPECT_EQ(t.extra, b.triangles[1].extra);
    EXPECT_EQ(r.num_vertices, 12);
    EXPECT_EQ(r.trc_unread_bytes, 2);
}

// ---- Sections in their TRC form -------------------------------------------------------------

TEST(TrcSections, SingleLayerLevelComesBackExactly) {
    for (std::uint32_t seed : {1u, 4u}) {
        SCOPED_TRACE(seed);
        const gen_level g = single_layer_level(seed);
        const bytes file = levelgen::file_bytes(g);
        auto level = load_file(file);

        // TRC-only parts of the sections as read.
        ASSERT_EQ(level->num_moveables, static_cast<std::int32_t>(g.moveables.size()));
        for (std::size_t i = 0; i < g.moveables.size(); ++i) {
            EXPECT_EQ(bytes_of(level->moveables_trc[i]), g.moveables[i]);
            EXPECT_EQ(bytes_of(level->moveables[i]), head(g.moveables[i], 18));
        }
        EXPECT_EQ(bytes_of(level->sprite_prefix, 4),
                  bytes(g.sprite_prefix.begin(), g.sprite_prefix.end()));
        EXPECT_EQ(bytes_of(level->object_texture_prefix, 5),
                  bytes(g.object_texture_prefix.begin(), g.object_texture_prefix.end()));
        ASSERT_EQ(level->num_object_textures, static_cast<std::int32_t>(g.object_textures.size()));
        for (std::size_t i = 0; i < g.object_textures.size(); ++i) {
            EXPECT_EQ(bytes_of(level->object_textures[i]), g.object_textures[i]);
        }
        EXPECT_EQ(bytes_of(level->sound_map, 900), bytes(g.sound_map.begin(), g.sound_map.end()));

        const bytes out = saved(*level);
        const file_parts p = split_trc(out, g.sample_data.size());
        EXPECT_EQ(p.header, slice(file, 0, 10));
        EXPECT_EQ(p.chunks[0], g.textiles32);
        EXPECT_EQ(p.chunks[1], g.textiles16);
        EXPECT_EQ(p.chunks[2], g.textiles_misc);
        EXPECT_EQ(p.level_data, levelgen::level_data_bytes(g));
        EXPECT_EQ(p.samples, g.sample_data);
    }
}

TEST(TrcSections, SectionsOfAManyLayerLevelComeBackExactly) {
    const gen_level g = levelgen::make_example_level(levelgen::version_trc, 9);
    auto level = load_level(g);
    const bytes d = saved_level_data(*level);
    std::size_t at = first_room;
    for (std::size_t i = 0; i < g.rooms.size(); ++i) {
        at = walk_written_room(d, at).end;
    }
    levelgen::gen_layout layout;
    const bytes want = levelgen::level_data_bytes(g, &layout);
    const std::size_t sections = layout.level.at("floor_data");
    EXPECT_EQ(slice(d, at, d.size() - at), slice(want, sections, want.size() - sections));
}

// ---- The close of the TRC level data --------------------------------------------------------

TEST(TrcClose, FillerAndLengthsMatchTheRealLength) {
    const gen_level g = single_layer_level(2);
    auto level = load_level(g);
    const bytes out = saved(*level);
    const file_parts p = split_trc(out, g.sample_data.size());
    const std::size_t length = p.level_data.size() - 40;
    EXPECT_EQ(get_u32(p.level_data, 32), length);
    EXPECT_EQ(get_u32(p.level_data, 36), length);
    EXPECT_TRUE(all_equal(p.level_data, p.level_data.size() - 4, 4, 0xCD));
    levelgen::gen_layout layout;
    levelgen::level_data_bytes(g, &layout);
    EXPECT_EQ(p.level_data.size(), layout.level.at("trc_level_data_end") + 4)
        << "the filler follows the sample indices";
}

TEST(TrcClose, ExtraBytesBeforeTheDeclaredEndAreDropped) {
    const gen_level plain = single_layer_level(3);
    for (const bytes& close :
         {bytes{0xCD, 0xCD, 0xCD, 0xCD, 1, 2, 3, 4, 5, 6, 7, 8, 9}, bytes{}, bytes{0xEE, 0xEE}}) {
        SCOPED_TRACE(close.size());
        gen_level g = plain;
        g.trc_level_data_end = close;
        auto level = load_level(g);
        EXPECT_EQ(level->sample_data.to_vector(), g.sample_data);
        EXPECT_EQ(level->sample_data_size, g.sample_data.size());
        const file_parts p = split_trc(saved(*level), g.sample_data.size());
        EXPECT_EQ(p.level_data, levelgen::level_data_bytes(plain));
        EXPECT_EQ(p.samples, g.sample_data);
    }
}

TEST(TrcClose, OnlyTheFirstLengthFieldFindsTheSampleData) {
    const gen_level plain = single_layer_level(4);
    const std::uint32_t length =
        static_cast<std::uint32_t>(levelgen::level_data_bytes(plain).size() - 40);
    struct case_ {
        const char* name;
        std::optional<std::uint32_t> first, second;
        bytes samples;
    };
    bytes with_filler = {0xCD, 0xCD, 0xCD, 0xCD};
    with_filler.insert(with_filler.end(), plain.sample_data.begin(), plain.sample_data.end());
    const case_ cases[] = {
        {"second field wrong", std::nullopt, 0x12345678u, plain.sample_data},
        {"first field one past the end",
         length + static_cast<std::uint32_t>(plain.sample_data.size()) + 1,
         std::nullopt,
         {}},
        {"first field far past the end", 0xFFFFFFF0u, length, {}},
        {"first field at the filler", length - 4, std::nullopt, with_filler},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(c.name);
        gen_level g = plain;
        g.trc_level_data_size = c.first;
        g.trc_level_data_size_2 = c.second;
        auto level = load_level(g);
        EXPECT_EQ(level->sample_data.to_vector(), c.samples);
        EXPECT_EQ(level->sample_data_size, c.samples.size());
        EXPECT_EQ(level->num_sample_indices, static_cast<std::int32_t>(g.sample_indices.size()));
        // Saved again: the level data is the same, and only what was taken follows it.
        const file_parts p = split_trc(saved(*level), c.samples.size());
        EXPECT_EQ(p.level_data, levelgen::level_data_bytes(plain));
        EXPECT_EQ(p.samples, c.samples);
    }
}

TEST(TrcClose, LargeSampleDataIsCarriedUnchanged) {
    gen_level g = single_layer_level(5);
    g.sample_data = levelgen::sample_bytes(300000, 11);
    g.sample_data[0] = 'X'; // nothing in it is interpreted
    g.sample_data[1] = 'E';
    auto level = load_level(g);
    const file_parts p = split_trc(saved(*level), g.sample_data.size());
    EXPECT_EQ(p.samples, g.sample_data);
    EXPECT_EQ(p.level_data, levelgen::level_data_bytes(g));
}

// ---- Malformed TRC input --------------------------------------------------------------------

TEST(TrcMalformed, RefusedByTheLibraryAndReportedByTheDriver) {
    struct bad_case {
        const char* name;
        std::function<void(gen_level&)> spoil;
        std::vector<const char*> message;
    };
    const auto room0 = [](gen_level& g) -> gen_room& { return g.rooms[0]; };
    const bad_case cases[] = {
        {"layer count 0xFFFFFFFF",
         [&](gen_level& g) { room0(g).num_layers = 0xFFFFFFFFu; },
         {"TRC room 0", "4294967295 layer"}},
        {"1501 vertices in a layer",
         [&](gen_level& g) { room0(g).layers[1] = distinct_layer(1501, 0, 0, 1); },
         {"TRC room 0 layer 1 vertices", "1501 records exceed the capacity of 1500"}},
        {"rectangles 1000 + 1001",
         [&](gen_level& g) {
             room0(g).layers[0] = distinct_layer(4, 1000, 0, 1);
             room0(g).layers[1] = distinct_layer(4, 1001, 0, 2);
         },
         {"TRC room 0 rectangles of all layers", "2001 records exceed the capacity of 2000"}},
        {"triangles 625 + 626",
         [&](gen_level& g) {
             room0(g).layers[0] = distinct_layer(4, 0, 625, 1);
             room0(g).layers[1] = distinct_layer(4, 0, 626, 2);
         },
         {"TRC room 0 triangles of all layers", "1251 records exceed the capacity of 1250"}},
        {"51 lights",
         [&](gen_level& g) { room0(g).lights = levelgen::pattern_records(51, 85, 1); },
         {"TRC room 0 lights", "51 records exceed the capacity of 50"}},
        {"51 static instances",
         [&](gen_level& g) { room0(g).static_instances = levelgen::pattern_records(51, 20, 1); },
         {"TRC room 0 static instances", "51 records exceed the capacity of 50"}},
        {"22 aux records",
         [&](gen_level& g) { room0(g).aux_records = levelgen::pattern_records(22, 36, 1); },
         {"TRC room 0 aux records", "22 records exceed the capacity of 21"}},
        {"21 portals",
         [&](gen_level& g) { room0(g).portals = levelgen::pattern_records(21, 32, 1); },
         {"TRC room 0 portals", "21 records exceed the capacity of 20"}},
        {"33 x 32 sectors",
         [&](gen_level& g) {
             room0(g).z_sectors = 33;
             room0(g).x_sectors = 32;
         },
         {"TRC room 0 sectors", "1056 records exceed the capacity of 1024"}},
        {"room count beyond the file",
         [&](gen_level& g) { g.num_rooms = 1000; },
         {"room count", "1000 rooms cannot fit"}},
        {"room count in the low 16 bits beyond the file",
         [&](gen_level& g) { g.num_rooms = 0x7FFF0000u + 500; },
         {"room count", "500 rooms cannot fit"}},
    };
    scratch_dir dir;
    for (const bad_case& c : cases) {
        SCOPED_TRACE(c.name);
        gen_level g =
            small_trc({full_room(1, {distinct_layer(4, 1, 1, 1), distinct_layer(3, 1, 0, 2)}),
                       full_room(2, {distinct_layer(3, 1, 1, 3)})});
        c.spoil(g);
        const bytes file = levelgen::file_bytes(g);
        const std::string error = load_error(file);
        for (const char* part : c.message) {
            EXPECT_THAT(error, HasSubstr(part));
        }
        const std::string input = dir.file("bad.trc"), output = dir.file("out.tr4");
        write_bytes(input, file);
        const outcome o = convert({input, output});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, banner + "Loading level...\nELevelFormatError: " + error + "\n");
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

TEST(TrcMalformed, CutInsideARoomIsRefused) {
    gen_level g = small_trc({full_room(1, {distinct_layer(6, 2, 1, 1), distinct_layer(5, 1, 2, 2)}),
                             full_room(2, {distinct_layer(3, 1, 1, 3)})});
    g.sample_data.clear(); // the file ends where the level data is cut
    levelgen::gen_layout layout;
    const bytes d = levelgen::level_data_bytes(g, &layout);
    const std::size_t room = layout.level.at("room.0"), data = layout.level.at("room.0.data");
    const std::size_t next = layout.level.at("room.1");
    scratch_dir dir;
    // Room 0: 3 lights, 2 aux records, 6 sectors, 2 portals, 2 static instances, 2 layers.
    const std::size_t layers = data + 3 * 88 + 2 * 36 + 6 * 8 + (2 + 2 * 32 + 2) + 2 * 20;
    const std::pair<std::size_t, const char*> cuts[] = {
        {room + 2, "room count at file offset"}, // too short for two rooms at all
        {data + 10, "2 rooms cannot fit"},
        {data + 3 * 88 + 5, "TRC room 0 aux records at file offset"},
        {layers + 70, "TRC room 0 2 layer headers at file offset"},
        {layers + 2 * 56 + 5, "TRC room 0 layer rectangles at file offset"},
        {next - 30, "TRC room 0 layer vertices at file offset"},
        {next - 1, "TRC room 1 marker at file offset"},
        {next + 20, "TRC room 1 header at file offset"},
    };
    for (const auto& [cut, message] : cuts) {
        SCOPED_TRACE(cut);
        const bytes part(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(cut));
        const bytes file = levelgen::file_with_level_data(g, part);
        const std::string error = load_error(file);
        EXPECT_THAT(error, AllOf(HasSubstr(message), HasSubstr("left")));
        write_bytes(dir.file("cut.trc"), file);
        const outcome o = convert({dir.file("cut.trc"), dir.file("out.tr4")});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, banner + "Loading level...\nELevelFormatError: " + error + "\n");
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.tr4")));
    }
}

TEST(TrcMalformed, HeaderVertexCountTruncatedToSixteenBitsLoads) {
    gen_layer layer = distinct_layer(10, 3, 1, 70);
    layer.num_vertices = 65536 + 10;
    const gen_level g = small_trc({full_room(1, {layer})});
    const bytes file = levelgen::file_bytes(g);
    EXPECT_EQ(load_error(file), "loaded");
    auto level = load_file(file);
    EXPECT_EQ(level->rooms[0].num_vertices, 10);
    EXPECT_EQ(level->rooms[0].layer_headers[0].num_vertices, 65546u);
    scratch_dir dir;
    write_bytes(dir.file("in.trc"), file);
    EXPECT_EQ(convert({dir.file("in.trc"), dir.file("out.tr4")}).status, 0);
    // Written back with the room's own count.
    const bytes d = saved_level_data(*level);
    EXPECT_EQ(get_u32(d, walk_written_room(d, first_room).layers), 10u);
}

// ---- Face corners that name no vertex of their layer ----------------------------------------

TEST(TrcLayerCorners, CornerAtOrBeyondTheLayerVertexCountIsMissing) {
    gen_layer a; // three vertices; the first sits on the origin, where unread entries would
    a.vertices = {{.x = 0.5f, .y = 0.0f, .z = 0.5f},
                  {.x = 1024.0f, .y = 0.0f, .z = 0.0f},
                  {.x = 1024.0f, .y = 0.0f, .z = 1024.0f}};
    a.rectangles = {{{0, 1, 2, 3}, 1, 0}, {{0, 1500, 2, 65535}, 2, 0}};
    a.triangles = {{{3, 0, 1}, 3, 0}};
    gen_layer b; // two vertices; layer a's vertex 2 must not stand in for corner 2
    b.vertices = {{.x = 2048.0f, .y = -256.0f, .z = 0.0f}, {.x = 3072.0f, .y = -256.0f, .z = 0.0f}};
    b.rectangles = {{{0, 1, 2, 0}, 4, 0}};
    b.triangles = {{{1, 0, 5}, 5, 0}};
    const gen_level g = small_trc({full_room(1, {a, b})});
    auto level = load_level(g);

    const auto check = [](const troom& r) {
        using rect = std::array<std::uint16_t, 4>;
        using tri = std::array<std::uint16_t, 3>;
        const rect want_rects[] = {{0, 1, 2, 0xFFFF}, {0, 0xFFFF, 2, 0xFFFF}, {3, 4, 0xFFFF, 3}};
        const tri want_tris[] = {{0xFFFF, 0, 1}, {4, 3, 0xFFFF}};
        ASSERT_EQ(r.num_vertices, 5);
        ASSERT_EQ(r.num_rectangles, 3);
        ASSERT_EQ(r.num_triangles, 2);
        for (std::size_t i = 0; i < 3; ++i) {
            const troom_rectangle t4 = r.rectangles[i];
            const tlayer_rectangle tc = r.trc_rectangles[i];
            EXPECT_EQ((rect{t4.corners[0], t4.corners[1], t4.corners[2], t4.corners[3]}),
                      want_rects[i])
                << "rectangle " << i;
            EXPECT_EQ((rect{tc.corners[0], tc.corners[1], tc.corners[2], tc.corners[3]}),
                      want_rects[i])
                << "TRC rectangle " << i;
        }
        for (std::size_t i = 0; i < 2; ++i) {
            const troom_triangle t4 = r.triangles[i];
            const tlayer_triangle tc = r.trc_triangles[i];
            EXPECT_EQ((tri{t4.corners[0], t4.corners[1], t4.corners[2]}), want_tris[i])
                << "triangle " << i;
            EXPECT_EQ((tri{tc.corners[0], tc.corners[1], tc.corners[2]}), want_tris[i])
                << "TRC triangle " << i;
        }
    };
    check(level->rooms[0]);
    // Written as one layer of five vertices and read again, the corners stay missing.
    auto again = load_file(saved(*level));
    check(again->rooms[0]);
}

// ---- TRC to TR4 end to end ------------------------------------------------------------------

namespace {

template <class T>
void expect_records(const std::vector<T>& got, const levelgen::gen_records& want,
                    const char* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(bytes_of(got[i]), head(want[i], sizeof(T))) << what << " " << i;
    }
}

template <class T, class U>
void expect_values(const std::vector<T>& got, const std::vector<U>& want, const char* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(static_cast<U>(got[i]), want[i]) << what << " " << i;
    }
}

/// What every TRC-to-TR4 or TRC-to-TRC conversion keeps of the level as loaded.
void expect_kept_sections(const Ttrlevel& out, const gen_level& g) {
    expect_values(out.mesh_data, g.mesh_data, "mesh data");
    expect_values(out.mesh_pointers, g.mesh_pointers, "mesh pointers");
    expect_records(out.animations, g.animations, "animations");
    expect_records(out.state_changes, g.state_changes, "state changes");
    expect_records(out.anim_dispatches, g.anim_dispatches, "animation dispatches");
    expect_values(out.anim_commands, g.anim_commands, "animation commands");
    expect_values(out.mesh_trees, g.mesh_trees, "mesh trees");
    expect_values(out.frames, g.frames, "frames");
    expect_records(out.static_meshes, g.static_meshes, "static meshes");
    expect_records(out.sprite_textures, g.sprite_textures, "sprite textures");
    expect_records(out.sprite_sequences, g.sprite_sequences, "sprite sequences");
    expect_values(out.animated_textures, g.animated_textures, "animated textures");
    expect_records(out.ai_objects, g.ai_objects, "AI objects");
    expect_values(out.demo_data, g.demo_data, "demo data");
    expect_records(out.sample_infos, g.sample_infos, "sample infos");
    expect_values(out.sample_indices, g.sample_indices, "sample indices");
    EXPECT_EQ(out.sample_data.to_vector(), g.sample_data);
    EXPECT_EQ(out.textiles32.to_vector(), g.textiles32);
    EXPECT_EQ(out.textiles16.to_vector(), g.textiles16);
    EXPECT_EQ(out.textiles_misc.to_vector(), g.textiles_misc);
    EXPECT_EQ(out.num_room_textiles, g.num_room_textiles);
    EXPECT_EQ(out.num_object_textiles, g.num_object_textiles);
    EXPECT_EQ(out.num_bump_textiles, g.num_bump_textiles);
}

/// The cut-down world of a converted level: one room (the first, flattened), one item, no
/// boxes, overlaps, zones, cameras, flyby cameras or sound sources, and the marked floor data.
void expect_cut_down_world(const Ttrlevel& out, const gen_level& g, const troom& flat_first) {
    ASSERT_EQ(out.num_rooms, 1);
    ASSERT_EQ(out.rooms.size(), 1u);
    const troom& r = out.rooms[0];
    EXPECT_TRUE(geometry_of(r).vertices == geometry_of(flat_first).vertices);
    EXPECT_TRUE(geometry_of(r).rectangles == geometry_of(flat_first).rectangles);
    EXPECT_TRUE(geometry_of(r).triangles == geometry_of(flat_first).triangles);
    EXPECT_EQ(r.num_vertices, distinct_positions(g.rooms[0]));
    EXPECT_EQ(r.pos_x, g.rooms[0].pos_x);
    EXPECT_EQ(r.pos_z, g.rooms[0].pos_z);
    EXPECT_EQ(r.y_top, g.rooms[0].y_top);
    EXPECT_EQ(r.y_bottom, g.rooms[0].y_bottom);
    EXPECT_EQ(bytes_of(r.sectors, 8 * g.rooms[0].sectors.size()), joined(g.rooms[0].sectors));
    ASSERT_EQ(r.num_portals, g.rooms[0].portals.size());
    EXPECT_EQ(bytes_of(r.portals[0]), g.rooms[0].portals[0]);
    ASSERT_EQ(r.num_static_instances, g.rooms[0].static_instances.size());
    EXPECT_EQ(bytes_of(r.static_instances[0]), g.rooms[0].static_instances[0]);

    EXPECT_EQ(out.num_boxes, 0);
    EXPECT_EQ(out.num_overlaps, 0);
    EXPECT_EQ(out.num_zones, 0);
    EXPECT_EQ(out.num_cameras, 0);
    EXPECT_EQ(out.num_flyby_cameras, 0);
    EXPECT_EQ(out.num_sound_sources, 0);
    ASSERT_EQ(out.num_items, 1);
    EXPECT_EQ(bytes_of(out.items[0]), head(g.items[0], 24));
    ASSERT_GE(g.items.size(), 2u);

    ASSERT_EQ(out.num_floor_data, 451);
    EXPECT_EQ(static_cast<std::uint16_t>(out.floor_data[0]), 0x8385);
    EXPECT_EQ(bytes_of(out.floor_data.data() + 1, 900),
              bytes(g.sound_map.begin(), g.sound_map.end()));
}

/// The TRC level g after the TRC-to-TR4 edits, described for the generator in the version
/// it is saved as: its first room only, with the geometry that `flat` (the library's
/// flattening of that room) holds, one item, no world sections, the marker and the sound map
/// as floor data. A room read from TRC and written as TR4 has zero ambient words, alternate
/// room and tail bytes, and zero-filled lights; the level-data prefix is zero.
gen_level converted(const gen_level& g, const troom& flat, int version) {
    gen_level e = g;
    e.version = version;
    gen_room room = g.rooms[0];
    if (version == levelgen::version_tr4) {
        for (std::size_t i = 0; i < flat.num_vertices; ++i) {
            const troom_vertex v = flat.vertices[i];
            room.vertices.push_back({v.x, v.y, v.z, v.lighting, v.attributes, v.colour});
        }
        for (std::size_t i = 0; i < flat.num_rectangles; ++i) {
            const troom_rectangle t = flat.rectangles[i];
            room.rectangles.push_back(
                {{t.corners[0], t.corners[1], t.corners[2], t.corners[3]}, t.texture});
        }
        for (std::size_t i = 0; i < flat.num_triangles; ++i) {
            const troom_triangle t = flat.triangles[i];
            room.triangles.push_back({{t.corners[0], t.corners[1], t.corners[2]}, t.texture});
        }
        room.lights.assign(g.rooms[0].lights.size(), levelgen::gen_record(46, 0));
        e.level_data_prefix = 0;
    } else {
        gen_layer layer = g.rooms[0].layers[0]; // its header words are kept
        layer.vertices.clear();
        layer.rectangles.clear();
        layer.triangles.clear();
        for (std::size_t i = 0; i < flat.num_vertices; ++i) {
            const tlayer_vertex v = flat.trc_vertices[i];
            layer.vertices.push_back({v.x,
                                      v.y,
                                      v.z,
                                      {v.extra[0], v.extra[1], v.extra[2]},
                                      v.colour[0],
                                      v.colour[1],
                                      v.colour[2],
                                      v.colour[3]});
        }
        for (std::size_t i = 0; i < flat.num_rectangles; ++i) {
            const tlayer_rectangle t = flat.trc_rectangles[i];
            layer.rectangles.push_back(
                {{t.corners[0], t.corners[1], t.corners[2], t.corners[3]}, t.texture, t.extra});
        }
        for (std::size_t i = 0; i < flat.num_triangles; ++i) {
            const tlayer_triangle t = flat.trc_triangles[i];
            layer.triangles.push_back(
                {{t.corners[0], t.corners[1], t.corners[2]}, t.texture, t.extra});
        }
        room.layers = {layer};
    }
    e.rooms = {room};
    e.cameras.clear();
    e.flyby_cameras.clear();
    e.sound_sources.clear();
    e.boxes.clear();
    e.overlaps.clear();
    for (auto& zone : e.zones) {
        zone.clear();
    }
    e.items.resize(1);
    levelgen::add_conversion_marker(e);
    return e;
}

/// Checks a TR4 file that the converter made from the TRC level g.
void expect_tr4_from_trc(const std::string& tr4, const gen_level& g) {
    auto reference = load_level(g); // the first room as the library flattens it
    const bytes file = read_bytes(tr4);
    // The file as the byte layout gives it, independently of the TR4 reader.
    const gen_level want = converted(g, reference->rooms[0], levelgen::version_tr4);
    const file_parts p = split_file(file, true);
    EXPECT_EQ(p.header, slice(levelgen::file_bytes(want), 0, 10));
    EXPECT_EQ(p.chunks[0], g.textiles32);
    EXPECT_EQ(p.chunks[1], g.textiles16);
    EXPECT_EQ(p.chunks[2], g.textiles_misc);
    EXPECT_EQ(p.level_data, levelgen::level_data_bytes(want));
    EXPECT_EQ(p.samples, g.sample_data);

    auto out = load_file(file, "out.tr4");
    ASSERT_EQ(out->version, level_tr4);
    expect_cut_down_world(*out, g, reference->rooms[0]);
    expect_kept_sections(*out, g);

    ASSERT_EQ(out->num_moveables, static_cast<std::int32_t>(g.moveables.size()));
    for (std::size_t i = 0; i < g.moveables.size(); ++i) {
        EXPECT_EQ(bytes_of(out->moveables[i]), head(g.moveables[i], 18)) << "moveable " << i;
    }
    EXPECT_EQ(bytes_of(out->sprite_prefix, 4),
              bytes({g.sprite_prefix[0], g.sprite_prefix[1], g.sprite_prefix[2], 0}));
    EXPECT_EQ(bytes_of(out->object_texture_prefix, 5),
              bytes({g.object_texture_prefix[0], g.object_texture_prefix[1],
                     g.object_texture_prefix[2], g.object_texture_prefix[3], 0}));
    ASSERT_EQ(out->num_object_textures, static_cast<std::int32_t>(g.object_textures.size()));
    for (std::size_t i = 0; i < g.object_textures.size(); ++i) {
        EXPECT_EQ(bytes_of(out->object_textures[i]), head(head(g.object_textures[i], 38), 40))
            << "object texture " << i;
    }
    EXPECT_EQ(bytes_of(out->sound_map, 900), [&] {
        bytes m(g.sound_map.begin(), g.sound_map.begin() + 740);
        m.resize(900, 0);
        return m;
    }());
    // The sample data follows the level-data chunk unchanged, to the end of the file.
    ASSERT_GE(file.size(), g.sample_data.size());
    EXPECT_EQ(slice(file, file.size() - g.sample_data.size(), g.sample_data.size()), g.sample_data);
}

const std::string done_lines = "Loading level...\n"
                               "converting TRC to TR4 file format...\n"
                               "Saving the level...\n"
                               "Done.\n";

} // namespace

TEST(TrcToTr4, ConvertedLevelCarriesWhatTr4Holds) {
    for (std::uint32_t seed : {1u, 8u}) {
        SCOPED_TRACE(seed);
        gen_level g = levelgen::make_example_level(levelgen::version_trc, seed);
        g.rooms[0].trc_alternate_room = 2; // read, yet the TR4 room still holds 0
        ASSERT_GE(g.rooms.size(), 3u);
        ASSERT_GE(g.rooms[0].layers.size(), 2u);
        scratch_dir dir;
        write_bytes(dir.file("in.trc"), levelgen::file_bytes(g));
        const outcome o = convert({dir.file("in.trc"), dir.file("out.tr4")});
        ASSERT_EQ(o.status, 0);
        EXPECT_EQ(o.out, banner + done_lines);
        expect_tr4_from_trc(dir.file("out.tr4"), g);
    }
}

TEST(TrcToTr4, TheBuiltProgramConvertsTheSame) {
    const gen_level g = levelgen::make_example_level(levelgen::version_trc, 12);
    scratch_dir dir;
    write_bytes(dir.file("in.trc"), levelgen::file_bytes(g));
    const std::string log = dir.file("stdout.txt");
    const std::string command = std::string("\"") + QUARLIX_BINARY + "\" \"" + dir.file("in.trc") +
                                "\" \"" + dir.file("out.tr4") + "\" > \"" + log + "\" 2>&1";
    const int raw = std::system(command.c_str());
    ASSERT_NE(raw, -1);
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    const bytes printed = read_bytes(log);
    EXPECT_EQ(std::string(printed.begin(), printed.end()), banner + done_lines);
    expect_tr4_from_trc(dir.file("out.tr4"), g);

    // The same input through run() gives the same file.
    ASSERT_EQ(convert({dir.file("in.trc"), dir.file("again.tr4")}).status, 0);
    EXPECT_EQ(read_bytes(dir.file("again.tr4")), read_bytes(dir.file("out.tr4")));
}

TEST(TrcToTr4, TrcOutputNameKeepsTheTrcFormAfterTheEdits) {
    const gen_level g = levelgen::make_example_level(levelgen::version_trc, 3);
    scratch_dir dir;
    write_bytes(dir.file("in.trc"), levelgen::file_bytes(g));
    const outcome o = convert({dir.file("in.trc"), dir.file("out.trc")});
    ASSERT_EQ(o.status, 0);
    EXPECT_EQ(o.out, banner + done_lines);

    auto reference = load_level(g);
    const bytes file = read_bytes(dir.file("out.trc"));
    const file_parts p = split_trc(file, g.sample_data.size());
    EXPECT_EQ(p.level_data,
              levelgen::level_data_bytes(converted(g, reference->rooms[0], levelgen::version_trc)));
    EXPECT_EQ(p.samples, g.sample_data);
    auto out = load_file(file, "out.trc");
    ASSERT_EQ(out->version, level_trc);
    expect_cut_down_world(*out, g, reference->rooms[0]);
    expect_kept_sections(*out, g);
    EXPECT_EQ(out->rooms[0].num_layers, 1u);
    EXPECT_EQ(out->rooms[0].trc_unread_bytes, 2);
    // The TRC forms are written whole: nothing was cut to the TR4 sizes.
    expect_records(out->moveables_trc, g.moveables, "TRC moveables");
    expect_records(out->object_textures, g.object_textures, "object textures");
    EXPECT_EQ(bytes_of(out->sprite_prefix, 4),
              bytes(g.sprite_prefix.begin(), g.sprite_prefix.end()));
    EXPECT_EQ(bytes_of(out->object_texture_prefix, 5),
              bytes(g.object_texture_prefix.begin(), g.object_texture_prefix.end()));
    EXPECT_EQ(bytes_of(out->sound_map, 900), bytes(g.sound_map.begin(), g.sound_map.end()));
    EXPECT_EQ(slice(file, file.size() - g.sample_data.size(), g.sample_data.size()), g.sample_data);
}
