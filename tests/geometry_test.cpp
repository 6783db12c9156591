// Room geometry conversion: layers to the single-list form, and back to one layer.
#include "level/geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include <sys/wait.h>

#include "test_support.h"
#include "tools/levelgen.h"

namespace quarlix {
namespace {

using colour4 = std::array<std::uint8_t, 4>; // blue, green, red, alpha

std::unique_ptr<troom> new_room() { return std::make_unique<troom>(); }

tlayer_vertex layer_vertex(float x, float y, float z, colour4 colour = {},
                           std::uint32_t extra = 0) {
    tlayer_vertex v{};
    v.x = x;
    v.y = y;
    v.z = z;
    v.extra[0] = extra;
    for (std::size_t i = 0; i < 4; ++i)
        v.colour[i] = colour[i];
    return v;
}

std::size_t add_layer(troom& room) {
    room.layers.vertex_blocks.emplace_back();
    room.layers.rectangle_blocks.emplace_back();
    room.layers.triangle_blocks.emplace_back();
    return room.layers.layer_count++;
}

void push_vertex(troom& room, std::size_t k, tlayer_vertex v) {
    auto& block = room.layers.vertex_blocks[k];
    block.vertices.push_back(v);
    ++block.count;
}

void push_rectangle(troom& room, std::size_t k, std::array<std::uint16_t, 4> corners,
                    std::uint16_t texture = 0, std::uint16_t extra = 0) {
    auto& block = room.layers.rectangle_blocks[k];
    tlayer_rectangle r{};
    for (std::size_t c = 0; c < 4; ++c)
        r.corners[c] = corners[c];
    r.texture = texture;
    r.extra = extra;
    block.rectangles.push_back(r);
    ++block.count;
}

void push_triangle(troom& room, std::size_t k, std::array<std::uint16_t, 3> corners,
                   std::uint16_t texture = 0, std::uint16_t extra = 0) {
    auto& block = room.layers.triangle_blocks[k];
    tlayer_triangle t{};
    for (std::size_t c = 0; c < 3; ++c)
        t.corners[c] = corners[c];
    t.texture = texture;
    t.extra = extra;
    block.triangles.push_back(t);
    ++block.count;
}

std::array<std::uint16_t, 4> corners_of(const troom& room, std::size_t i) {
    const troom_rectangle r = room.rectangles[i];
    return {r.corners[0], r.corners[1], r.corners[2], r.corners[3]};
}

// A packed field as a value: the test macros bind references, which a packed field must not.
template <class T> T field(T value) { return value; }

template <class T> bool same_bytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}
template <class T, std::size_t N>
bool same_bytes(const troom_table<T, N>& a, const troom_table<T, N>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// ---- Linear reference: the plain conversion, every lookup a scan from the first vertex ---

std::int16_t reference_truncate(float value) {
    const double whole = std::trunc(static_cast<double>(value));
    if (!(whole >= -2147483648.0 && whole <= 2147483647.0))
        return 0;
    return static_cast<std::int16_t>(static_cast<std::int64_t>(whole) & 0xFFFF);
}

std::uint16_t reference_find(const troom& room, std::int16_t x, std::int16_t y, std::int16_t z) {
    for (std::size_t i = 0; i < room.num_vertices; ++i) {
        const troom_vertex v = room.vertices[i];
        if (v.x == x && v.y == y && v.z == z)
            return static_cast<std::uint16_t>(i + 1);
    }
    return 0;
}

std::uint16_t reference_corner(const troom& room, std::size_t k, std::uint16_t corner) {
    const auto& layers = room.layers;
    if (k >= layers.vertex_blocks.size())
        return 0xFFFF;
    const auto& block = layers.vertex_blocks[k];
    if (corner >= std::min<std::size_t>(block.count, block.vertices.size()))
        return 0xFFFF;
    const tlayer_vertex v = block.vertices[corner];
    return static_cast<std::uint16_t>(reference_find(room, reference_truncate(v.x),
                                                     reference_truncate(v.y),
                                                     reference_truncate(v.z)) -
                                      1);
}

// Makes row n of a table, a zero row unless the table already holds one there.
template <class T, std::size_t N> void grow(troom_table<T, N>& table, std::size_t n) {
    if (table.size() <= n)
        table.resize(n + 1);
}

void reference_layers_to_room_geometry(troom& room) {
    const auto& layers = room.layers;
    room.num_vertices = 0;
    for (std::size_t k = 0; k < layers.layer_count && k < layers.vertex_blocks.size(); ++k) {
        const auto& block = layers.vertex_blocks[k];
        for (std::size_t i = 0; i < std::min<std::size_t>(block.count, block.vertices.size());
             ++i) {
            const tlayer_vertex v = block.vertices[i];
            const std::int16_t x = reference_truncate(v.x), y = reference_truncate(v.y),
                               z = reference_truncate(v.z);
            if (reference_find(room, x, y, z) == 0 && room.num_vertices < 1500) {
                const std::size_t n = room.num_vertices++;
                grow(room.legacy_vertices, n);
                grow(room.vertices, n);
                grow(room.trc_vertices, n);
                room.legacy_vertices[n].x = x;
                room.legacy_vertices[n].y = y;
                room.legacy_vertices[n].z = z;
                room.legacy_vertices[n].lighting &= 0x00FF;
                room.vertices[n].x = x;
                room.vertices[n].y = y;
                room.vertices[n].z = z;
                room.vertices[n].lighting &= 0x00FF;
            }
            const std::uint16_t p = reference_find(room, x, y, z);
            if (p == 0)
                continue;
            room.trc_vertices[p - 1] = v;
            room.vertices[p - 1].colour = static_cast<std::uint16_t>(
                (v.colour[2] >> 3) << 10 | (v.colour[1] >> 3) << 5 | (v.colour[0] >> 3));
        }
    }
    room.num_rectangles = 0;
    room.num_triangles = 0;
    for (std::size_t k = 0; k < layers.layer_count; ++k) {
        if (k < layers.rectangle_blocks.size()) {
            const auto& block = layers.rectangle_blocks[k];
            for (std::size_t i = 0; i < std::min<std::size_t>(block.count, block.rectangles.size());
                 ++i) {
                if (room.num_rectangles == 2000)
                    break;
                const std::size_t n = room.num_rectangles++;
                grow(room.rectangles, n);
                grow(room.trc_rectangles, n);
                const tlayer_rectangle src = block.rectangles[i];
                for (std::size_t c = 0; c < 4; ++c) {
                    room.rectangles[n].corners[c] = reference_corner(room, k, src.corners[c]);
                    room.trc_rectangles[n].corners[c] = room.rectangles[n].corners[c];
                }
                room.rectangles[n].texture = room.trc_rectangles[n].texture = src.texture;
                room.trc_rectangles[n].extra = src.extra;
            }
        }
        if (k < layers.triangle_blocks.size()) {
            const auto& block = layers.triangle_blocks[k];
            for (std::size_t i = 0; i < std::min<std::size_t>(block.count, block.triangles.size());
                 ++i) {
                if (room.num_triangles == 1250)
                    break;
                const std::size_t n = room.num_triangles++;
                grow(room.triangles, n);
                grow(room.trc_triangles, n);
                const tlayer_triangle src = block.triangles[i];
                for (std::size_t c = 0; c < 3; ++c) {
                    room.triangles[n].corners[c] = reference_corner(room, k, src.corners[c]);
                    room.trc_triangles[n].corners[c] = room.triangles[n].corners[c];
                }
                room.triangles[n].texture = room.trc_triangles[n].texture = src.texture;
                room.trc_triangles[n].extra = src.extra;
            }
        }
    }
    // The tables end at their counts.
    room.legacy_vertices.resize(room.num_vertices);
    room.vertices.resize(room.num_vertices);
    room.trc_vertices.resize(room.num_vertices);
    room.rectangles.resize(room.num_rectangles);
    room.trc_rectangles.resize(room.num_rectangles);
    room.triangles.resize(room.num_triangles);
    room.trc_triangles.resize(room.num_triangles);
}

void expect_same_geometry(const troom& expected, const troom& actual) {
    EXPECT_EQ(expected.num_vertices, actual.num_vertices);
    EXPECT_EQ(expected.num_rectangles, actual.num_rectangles);
    EXPECT_EQ(expected.num_triangles, actual.num_triangles);
    EXPECT_TRUE(same_bytes(expected.legacy_vertices, actual.legacy_vertices));
    EXPECT_TRUE(same_bytes(expected.vertices, actual.vertices));
    EXPECT_TRUE(same_bytes(expected.trc_vertices, actual.trc_vertices));
    EXPECT_TRUE(same_bytes(expected.rectangles, actual.rectangles));
    EXPECT_TRUE(same_bytes(expected.trc_rectangles, actual.trc_rectangles));
    EXPECT_TRUE(same_bytes(expected.triangles, actual.triangles));
    EXPECT_TRUE(same_bytes(expected.trc_triangles, actual.trc_triangles));
}

template <class T> void scribble(T& table, std::mt19937& rng) {
    auto* bytes = reinterpret_cast<unsigned char*>(&table);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<unsigned char>(rng());
}
// A table filled to its capacity with random rows: rows that a conversion reuses keep theirs.
template <class T, std::size_t N> void scribble(troom_table<T, N>& table, std::mt19937& rng) {
    table.resize(N);
    auto* bytes = reinterpret_cast<unsigned char*>(table.data());
    for (std::size_t i = 0; i < N * sizeof(T); ++i)
        bytes[i] = static_cast<unsigned char>(rng());
}

// Random rooms: heavy merging (positions in a few units), lattice positions, widely spread
// positions or a dense cube of positions, both overflowing the vertex table; with out-of-range
// corners, odd floats, counts above capacity and face sums above the room tables.
std::unique_ptr<troom> random_room(std::mt19937& rng, int mode) {
    auto room = new_room();
    scribble(room->legacy_vertices, rng);
    scribble(room->vertices, rng);
    scribble(room->trc_vertices, rng);
    scribble(room->rectangles, rng);
    scribble(room->trc_rectangles, rng);
    scribble(room->triangles, rng);
    scribble(room->trc_triangles, rng);
    const auto pick = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    const auto coordinate = [&]() -> float {
        const float fraction = static_cast<float>(pick(-99, 99)) / 100.0f;
        switch (mode) {
        case 0:
            return static_cast<float>(pick(-3, 3)) + fraction;
        case 1:
            return static_cast<float>(pick(-16, 16) * 1024 + pick(0, 3) * 256) + fraction;
        case 2:
            return static_cast<float>(pick(-40000, 40000)) + fraction;
        case 3:
            return static_cast<float>(pick(-6, 6)) + fraction;
        default: {
            constexpr float odd[] = {std::numeric_limits<float>::quiet_NaN(),
                                     std::numeric_limits<float>::infinity(),
                                     3e9f,
                                     -0.5f,
                                     32768.0f,
                                     65536.0f,
                                     2147483520.0f,
                                     -2147483648.0f};
            return pick(0, 9) == 0 ? odd[pick(0, 7)] : static_cast<float>(pick(-20, 20)) + fraction;
        }
        }
    };
    const int layer_count = pick(1, 4);
    for (int k = 0; k < layer_count; ++k) {
        const std::size_t layer = add_layer(*room);
        const int vertices = mode == 2 || mode == 3 ? pick(400, 1500) : pick(0, 300);
        for (int i = 0; i < vertices; ++i) {
            push_vertex(
                *room, layer,
                layer_vertex(coordinate(), coordinate(), coordinate(),
                             {static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                              static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng())},
                             static_cast<std::uint32_t>(rng())));
        }
        const auto corner = [&] {
            return static_cast<std::uint16_t>(pick(0, 20) == 0 ? pick(0, 65535)
                                                               : pick(0, vertices + 1));
        };
        for (int i = pick(0, 900); i > 0; --i) {
            push_rectangle(*room, layer, {corner(), corner(), corner(), corner()},
                           static_cast<std::uint16_t>(rng()), static_cast<std::uint16_t>(rng()));
        }
        for (int i = pick(0, 600); i > 0; --i) {
            push_triangle(*room, layer, {corner(), corner(), corner()},
                          static_cast<std::uint16_t>(rng()), static_cast<std::uint16_t>(rng()));
        }
        if (pick(0, 15) == 0)
            room->layers.vertex_blocks[layer].count = static_cast<std::uint16_t>(pick(1501, 65535));
        if (pick(0, 15) == 0)
            room->layers.rectangle_blocks[layer].count =
                static_cast<std::uint16_t>(pick(2001, 65535));
    }
    return room;
}

// ---- Layers to the single-list form --------------------------------------------------

TEST(TruncateCoordinate, TruncatesToThirtyTwoBitsAndWrapsToSixteen) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, std::int16_t> cases[] = {{-0.99f, 0},
                                                    {0.99f, 0},
                                                    {-1.0f, -1},
                                                    {2.7f, 2},
                                                    {-2.7f, -2},
                                                    {32767.9f, 32767},
                                                    {32768.0f, -32768},
                                                    {-32769.0f, 32767},
                                                    {65536.0f, 0},
                                                    {65537.5f, 1},
                                                    {std::numeric_limits<float>::quiet_NaN(), 0},
                                                    {inf, 0},
                                                    {-inf, 0},
                                                    {3e9f, 0},
                                                    {-3e9f, 0},
                                                    {2147483648.0f, 0},
                                                    {2147483520.0f, -128},
                                                    {-2147483520.0f, 128},
                                                    {-2147483904.0f, 0}};
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(truncate_coordinate(value), expected) << value;
        EXPECT_EQ(reference_truncate(value), expected) << value;
    }
}

TEST(RoomVertexTable, FindsFirstMatchAndDropsNewPositionsWhenFull) {
    auto room = new_room();
    EXPECT_EQ(find_room_vertex(*room, 0, 0, 0), 0);
    room->legacy_vertices.resize(1); // a row past the count: its lighting's low byte is kept
    room->vertices.resize(1);
    room->legacy_vertices[0].lighting = 0x7F12;
    room->vertices[0].lighting = 0x3456;
    add_room_vertex(*room, 1, 2, 3);
    add_room_vertex(*room, 1, 2, 3);
    add_room_vertex(*room, 1, 2, -3);
    EXPECT_EQ(room->num_vertices, 2);
    EXPECT_EQ(find_room_vertex(*room, 1, 2, 3), 1);
    EXPECT_EQ(find_room_vertex(*room, 1, 2, -3), 2);
    EXPECT_EQ(field(room->legacy_vertices[0].lighting), 0x0012); // shade cleared, low byte kept
    EXPECT_EQ(field(room->vertices[0].lighting), 0x0056);

    for (std::int16_t i = 0; room->num_vertices < 1500; ++i)
        add_room_vertex(*room, i, 100, 0);
    add_room_vertex(*room, 9999, 9, 9);
    EXPECT_EQ(room->num_vertices, 1500);
    EXPECT_EQ(find_room_vertex(*room, 9999, 9, 9), 0);
    EXPECT_EQ(find_room_vertex(*room, 1497, 100, 0), 1500);
}

TEST(LayersToRoomGeometry, MergesVerticesOnOneIntegerPosition) {
    auto room = new_room();
    const std::size_t k = add_layer(*room);
    const tlayer_vertex second = layer_vertex(10.9f, 5.5f, 3.1f, {255, 128, 7, 9}, 2);
    push_vertex(*room, k, layer_vertex(10.2f, 5.0f, 3.9f, {8, 16, 24, 1}, 1));
    push_vertex(*room, k, second);
    push_vertex(*room, k, layer_vertex(0, 0, 0));
    push_rectangle(*room, k, {0, 1, 2, 1});
    push_triangle(*room, k, {1, 0, 2});
    layers_to_room_geometry(*room);

    ASSERT_EQ(room->num_vertices, 2);
    const troom_vertex merged = room->vertices[0];
    EXPECT_EQ(field(merged.x), 10);
    EXPECT_EQ(field(merged.y), 5);
    EXPECT_EQ(field(merged.z), 3);
    EXPECT_EQ(field(merged.colour), 0x021F);
    EXPECT_TRUE(same_bytes(room->trc_vertices[0], second));
    EXPECT_EQ(field(room->legacy_vertices[0].x), 10);
    EXPECT_EQ(corners_of(*room, 0), (std::array<std::uint16_t, 4>{0, 0, 1, 0}));
    EXPECT_EQ(field(room->triangles[0].corners[1]), 0);
    EXPECT_EQ(field(room->triangles[0].corners[2]), 1);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(field(room->vertices[i].lighting), 0);
        EXPECT_EQ(field(room->vertices[i].attributes), 0);
        EXPECT_EQ(field(room->legacy_vertices[i].lighting), 0);
    }
}

TEST(LayersToRoomGeometry, PositionSharedAcrossLayersKeepsItsFirstNumber) {
    auto room = new_room();
    const std::size_t a = add_layer(*room), b = add_layer(*room);
    push_vertex(*room, a, layer_vertex(1, 2, 3));
    push_vertex(*room, a, layer_vertex(4, 5, 6));
    push_vertex(*room, b, layer_vertex(7, 8, 9));
    const tlayer_vertex last = layer_vertex(1.5f, 2.5f, 3.5f, {1, 2, 3, 4}, 5);
    push_vertex(*room, b, last);
    push_rectangle(*room, a, {0, 1, 0, 1});
    push_rectangle(*room, b, {1, 0, 1, 0});
    layers_to_room_geometry(*room);

    EXPECT_EQ(room->num_vertices, 3);
    EXPECT_EQ(corners_of(*room, 0), (std::array<std::uint16_t, 4>{0, 1, 0, 1}));
    EXPECT_EQ(corners_of(*room, 1), (std::array<std::uint16_t, 4>{0, 2, 0, 2}));
    EXPECT_TRUE(same_bytes(room->trc_vertices[0], last));
}

TEST(LayersToRoomGeometry, PacksBlueGreenRedIntoFiveBitsEach) {
    const std::pair<colour4, std::uint16_t> cases[] = {
        {{255, 128, 7, 0}, 0x021F}, {{255, 255, 255, 255}, 0x7FFF}, {{7, 7, 7, 255}, 0},
        {{8, 0, 0, 0}, 0x0001},     {{0, 8, 0, 0}, 0x0020},         {{0, 0, 248, 0}, 0x7C00},
        {{0, 0, 0, 255}, 0}};
    auto room = new_room();
    const std::size_t k = add_layer(*room);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        push_vertex(*room, k, layer_vertex(static_cast<float>(i), 0, 0, cases[i].first));
    layers_to_room_geometry(*room);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(field(room->vertices[i].colour), cases[i].second) << i;
}

TEST(LayersToRoomGeometry, FacesFollowLayerOrderAndExtraReachesOnlyTrcForms) {
    auto room = new_room();
    const std::size_t a = add_layer(*room), b = add_layer(*room);
    push_vertex(*room, a, layer_vertex(0, 0, 0));
    push_vertex(*room, b, layer_vertex(1, 0, 0));
    for (std::uint16_t t = 10; t < 13; ++t)
        push_rectangle(*room, a, {0, 0, 0, 0}, t, t + 100);
    for (std::uint16_t t = 13; t < 15; ++t)
        push_rectangle(*room, b, {0, 0, 0, 0}, t, t + 100);
    push_triangle(*room, a, {0, 0, 0}, 20, 120);
    push_triangle(*room, b, {0, 0, 0}, 21, 121);
    push_triangle(*room, b, {0, 0, 0}, 22, 122);
    layers_to_room_geometry(*room);

    ASSERT_EQ(room->num_rectangles, 5);
    ASSERT_EQ(room->num_triangles, 3);
    for (std::uint16_t i = 0; i < 5; ++i) {
        EXPECT_EQ(field(room->rectangles[i].texture), 10 + i);
        EXPECT_EQ(field(room->trc_rectangles[i].texture), 10 + i);
        EXPECT_EQ(field(room->trc_rectangles[i].extra), 110 + i);
        EXPECT_EQ(field(room->rectangles[i].corners[0]), i < 3 ? 0 : 1);
    }
    for (std::uint16_t i = 0; i < 3; ++i) {
        EXPECT_EQ(field(room->triangles[i].texture), 20 + i);
        EXPECT_EQ(field(room->trc_triangles[i].extra), 120 + i);
        EXPECT_EQ(field(room->trc_triangles[i].corners[2]), i == 0 ? 0 : 1);
    }
}

TEST(LayersToRoomGeometry, FullVertexTableDropsNewPositionsButStillMerges) {
    auto room = new_room();
    const std::size_t a = add_layer(*room), b = add_layer(*room);
    for (int i = 0; i < 1500; ++i)
        push_vertex(*room, a, layer_vertex(static_cast<float>(i), 0, 0));
    push_vertex(*room, b, layer_vertex(5000, 0, 0, {255, 255, 255, 255}, 66));
    push_vertex(*room, b, layer_vertex(7.5f, 0, 0, {255, 0, 0, 0}, 77));
    push_rectangle(*room, b, {0, 1, 0, 1});
    push_triangle(*room, b, {1, 0, 1});
    layers_to_room_geometry(*room);

    ASSERT_EQ(room->num_vertices, 1500);
    EXPECT_EQ(field(room->vertices[7].colour), 0x001F);
    EXPECT_EQ(field(room->trc_vertices[7].extra[0]), 77u);
    EXPECT_EQ(field(room->vertices[1499].x), 1499);
    EXPECT_EQ(field(room->vertices[1499].colour), 0);
    EXPECT_EQ(find_room_vertex(*room, 5000, 0, 0), 0);
    for (const tlayer_vertex& v : room->trc_vertices)
        EXPECT_NE(field(v.extra[0]), 66u);
    EXPECT_EQ(corners_of(*room, 0), (std::array<std::uint16_t, 4>{0xFFFF, 7, 0xFFFF, 7}));
    EXPECT_EQ(field(room->trc_triangles[0].corners[1]), 0xFFFF);
}

TEST(LayersToRoomGeometry, CornersAndCountsBeyondTheTablesAreContained) {
    auto room = new_room();
    const std::size_t a = add_layer(*room), b = add_layer(*room), c = add_layer(*room);
    push_vertex(*room, a, layer_vertex(1, 1, 1));
    push_vertex(*room, a, layer_vertex(2, 2, 2));
    push_rectangle(*room, a, {0, 1, 2, 65535});
    push_triangle(*room, b, {0, 0, 0}); // layer b has no vertices
    // Counts above the rows held are read as the rows held (at most the capacity); zeroed
    // vertices all sit at the origin.
    push_rectangle(*room, c, {1499, 1500, 0, 0});
    room->layers.vertex_blocks[c].vertices.resize(1500);
    room->layers.rectangle_blocks[c].rectangles.resize(2000);
    room->layers.triangle_blocks[c].triangles.resize(1200);
    room->layers.vertex_blocks[c].count = 60000;
    room->layers.rectangle_blocks[c].count = 65535;
    room->layers.triangle_blocks[c].count = 1200;
    layers_to_room_geometry(*room);

    EXPECT_EQ(room->num_vertices, 3);
    EXPECT_EQ(corners_of(*room, 0), (std::array<std::uint16_t, 4>{0, 1, 0xFFFF, 0xFFFF}));
    EXPECT_EQ(field(room->triangles[0].corners[0]), 0xFFFF);
    EXPECT_EQ(room->num_rectangles, 2000); // 1 of a, then c's capped 2000 stop at the table
    EXPECT_EQ(corners_of(*room, 1), (std::array<std::uint16_t, 4>{2, 0xFFFF, 2, 2}));
    EXPECT_EQ(room->num_triangles, 1201);

    auto sums = new_room(); // face sums over the layers above the room tables
    for (int k = 0; k < 2; ++k) {
        const std::size_t layer = add_layer(*sums);
        sums->layers.rectangle_blocks[layer].count = 1500;
        sums->layers.rectangle_blocks[layer].rectangles.resize(1500);
        sums->layers.triangle_blocks[layer].triangles.resize(1000);
        sums->layers.rectangle_blocks[layer].rectangles[0].texture =
            static_cast<std::uint16_t>(k + 1);
        sums->layers.triangle_blocks[layer].count = 1000;
        sums->layers.triangle_blocks[layer].triangles[0].texture =
            static_cast<std::uint16_t>(k + 1);
    }
    layers_to_room_geometry(*sums);
    EXPECT_EQ(sums->num_rectangles, 2000);
    EXPECT_EQ(field(sums->rectangles[1500].texture), 2);
    EXPECT_EQ(sums->num_triangles, 1250);
    EXPECT_EQ(field(sums->triangles[1000].texture), 2);
}

TEST(LayersToRoomGeometry, EmptyLayersGiveEmptyTables) {
    auto room = new_room();
    room->num_vertices = 12;
    room->num_rectangles = 34;
    room->num_triangles = 56;
    add_layer(*room);
    add_layer(*room);
    layers_to_room_geometry(*room);
    EXPECT_EQ(room->num_vertices, 0);
    EXPECT_EQ(room->num_rectangles, 0);
    EXPECT_EQ(room->num_triangles, 0);
}

TEST(LayersToRoomGeometry, MatchesLinearReferenceOnRandomRoomsAndRepeats) {
    std::mt19937 rng(20240611);
    bool saw_full_table = false, saw_missing_corner = false, saw_full_faces = false;
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        auto room = random_room(rng, round % 5);
        auto expected = std::make_unique<troom>(*room);
        reference_layers_to_room_geometry(*expected);
        layers_to_room_geometry(*room);
        expect_same_geometry(*expected, *room);
        layers_to_room_geometry(*room);
        expect_same_geometry(*expected, *room);

        saw_full_table |= room->num_vertices == 1500;
        saw_full_faces |= room->num_rectangles == 2000;
        for (std::size_t i = 0; i < room->num_rectangles; ++i)
            saw_missing_corner |= room->rectangles[i].corners[0] == 0xFFFF;
    }
    EXPECT_TRUE(saw_full_table && saw_missing_corner && saw_full_faces);
}

// Positions crafted to share one slot of a position hash: the worst case of a hash-based
// index, here with repeats within and across layers and more positions than the table holds.
TEST(LayersToRoomGeometry, CrowdedPositionsMatchLinearReference) {
    const auto crowded = levelgen::crowded_positions(1700);
    ASSERT_EQ(crowded.size(), 1700u);
    std::mt19937 rng(1500);
    const auto pick = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto room = new_room();
        scribble(room->legacy_vertices, rng);
        scribble(room->vertices, rng);
        for (int k = 0; k < 3; ++k) {
            const std::size_t layer = add_layer(*room);
            // Round 0 fills the table with every crowded position in turn, then only repeats
            // merge and new positions are dropped; later rounds interleave them.
            const int vertices = round == 0 && k == 0 ? 1500 : pick(900, 1500);
            for (int i = 0; i < vertices; ++i) {
                const auto& p = crowded[round == 0 && k == 0 ? i : pick(0, 1699)];
                const float fraction = static_cast<float>(pick(0, 99)) / 100.0f;
                push_vertex(*room, layer,
                            layer_vertex(p[0] + fraction, p[1] + fraction, p[2],
                                         {static_cast<std::uint8_t>(rng()),
                                          static_cast<std::uint8_t>(rng()),
                                          static_cast<std::uint8_t>(rng()), 0},
                                         static_cast<std::uint32_t>(rng())));
            }
            const auto corner = [&] { return static_cast<std::uint16_t>(pick(0, vertices)); };
            for (int i = 0; i < 600; ++i)
                push_rectangle(*room, layer, {corner(), corner(), corner(), corner()},
                               static_cast<std::uint16_t>(i));
            for (int i = 0; i < 400; ++i)
                push_triangle(*room, layer, {corner(), corner(), corner()},
                              static_cast<std::uint16_t>(i));
        }
        auto expected = std::make_unique<troom>(*room);
        reference_layers_to_room_geometry(*expected);
        layers_to_room_geometry(*room);
        expect_same_geometry(*expected, *room);
        if (round == 0) {
            EXPECT_EQ(room->num_vertices, 1500); // the crowded positions are all different
        }
    }
}

// The converter on 200 rooms made only of crowded positions runs to "Done."; the wall-clock
// guard only catches a hang (the time bound itself is the benchmark's).
TEST(LayersToRoomGeometry, CrowdedRoomsConvertWithoutHanging) {
    test::scratch_dir dir;
    const std::string input = dir.file("crowded.trc");
    test::write_bytes(input, levelgen::file_bytes(levelgen::make_crowded_level(200)));
    const std::string command = "timeout 300 '" + std::string(QUARLIX_BINARY) + "' '" + input +
                                "' '" + dir.file("out.tr4") + "' > '" + dir.file("out.txt") + "'";
    const int raw = std::system(command.c_str());
    ASSERT_NE(raw, -1);
    ASSERT_NE(WEXITSTATUS(raw), 124) << "no result within 5 minutes";
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    const auto out = test::read_bytes(dir.file("out.txt"));
    EXPECT_NE(std::string(out.begin(), out.end()).find("Done."), std::string::npos);
}

// ---- Single-list form to one layer ---------------------------------------------------

std::int16_t lighting_word(std::uint8_t shade, std::uint8_t low) {
    return static_cast<std::int16_t>(shade << 8 | low);
}

TEST(RoomToLayers, VerticesTakeTheirPositionAndShade) {
    const std::pair<std::uint8_t, std::uint8_t> shades[] = {
        {0, 248}, {1, 240}, {31, 0}, {32, 248}, {255, 0}};
    auto room = new_room();
    std::mt19937 rng(7);
    scribble(room->trc_vertices, rng);
    room->num_vertices = std::size(shades);
    room->vertices.resize(std::size(shades));
    room->legacy_vertices.resize(std::size(shades));
    for (std::size_t i = 0; i < std::size(shades); ++i) {
        room->vertices[i].x = static_cast<std::int16_t>(i == 0 ? -32768 : i);
        room->vertices[i].z = static_cast<std::int16_t>(i == 0 ? 32767 : -1);
        room->vertices[i].lighting = lighting_word(31, 0); // the shade comes from the legacy form
        room->legacy_vertices[i].lighting = lighting_word(shades[i].first, 0x5A);
    }
    room_to_layers(*room);
    for (std::size_t i = 0; i < std::size(shades); ++i) {
        const tlayer_vertex v = room->trc_vertices[i];
        EXPECT_EQ(field(v.x), i == 0 ? -32768.0f : static_cast<float>(i));
        EXPECT_EQ(field(v.y), 0.0f);
        EXPECT_EQ(field(v.z), i == 0 ? 32767.0f : -1.0f);
        EXPECT_EQ((colour4{v.colour[0], v.colour[1], v.colour[2], v.colour[3]}),
                  (colour4{shades[i].second, shades[i].second, shades[i].second, 255}));
        EXPECT_EQ(v.extra[0] | v.extra[1] | v.extra[2], 0u);
    }
}

TEST(RoomToLayers, OnlyFlagBitZeroClearsRed) {
    const std::pair<std::uint16_t, bool> cases[] = {
        {0x0001, true}, {0x0101, true}, {0x0100, false}, {0x0002, false}};
    for (const auto& [flags, water] : cases) {
        auto room = new_room();
        room->num_vertices = 1;
        room->flags[0] = static_cast<std::uint8_t>(flags);
        room->flags[1] = static_cast<std::uint8_t>(flags >> 8);
        room_to_layers(*room);
        const tlayer_vertex v = room->trc_vertices[0];
        EXPECT_EQ(field(v.colour[2]), water ? 0 : 248) << flags;
        EXPECT_EQ(field(v.colour[0]), 248);
        EXPECT_EQ(room->room_colour[2], water ? 0 : 248) << flags;
        EXPECT_EQ(room->room_colour[1], 248);
    }
}

TEST(RoomToLayers, FillsFacesHeaderFieldsAndFirstLayerHeader) {
    auto room = new_room();
    std::mt19937 rng(11);
    scribble(room->trc_rectangles, rng);
    scribble(room->trc_triangles, rng);
    scribble(room->trc_extra_block, rng);
    room->num_rectangles = 2;
    room->num_triangles = 1;
    room->rectangles.resize(2);
    room->triangles.resize(1);
    room->rectangles[1] = troom_rectangle{{5, 6, 7, 8}, 9};
    room->triangles[0] = troom_triangle{{1, 2, 3}, 4};
    room->trc_num_rectangles = 999;
    room->trc_num_triangles = 999;
    room->num_aux_records = 5;
    room->ambient[0] = 0x34; // low byte ignored; high byte 0
    room->y_top = -3072;
    room->y_bottom = 0;
    room->num_z_sectors = 3;
    room->num_x_sectors = 4;
    tlayer_header garbage;
    std::memset(&garbage, 0xCD, sizeof garbage);
    garbage.num_vertices = 7;
    garbage.num_rectangles = 8;
    garbage.num_triangles = 9;
    room->layer_headers.assign(2, garbage);

    room_to_layers(*room);
    const auto first = std::make_unique<troom>(*room);
    room_to_layers(*room);

    const tlayer_rectangle r = room->trc_rectangles[1];
    EXPECT_EQ((std::array<std::uint16_t, 6>{r.corners[0], r.corners[1], r.corners[2], r.corners[3],
                                            r.texture, r.extra}),
              (std::array<std::uint16_t, 6>{5, 6, 7, 8, 9, 0}));
    const tlayer_triangle t = room->trc_triangles[0];
    EXPECT_EQ((std::array<std::uint16_t, 5>{t.corners[0], t.corners[1], t.corners[2], t.texture,
                                            t.extra}),
              (std::array<std::uint16_t, 5>{1, 2, 3, 4, 0}));
    EXPECT_EQ(room->trc_num_rectangles, 2u);
    EXPECT_EQ(room->trc_num_triangles, 1u);
    EXPECT_EQ(room->num_aux_records, 0u);
    EXPECT_TRUE(std::all_of(std::begin(room->trc_extra_block), std::end(room->trc_extra_block),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ((colour4{room->room_colour[0], room->room_colour[1], room->room_colour[2],
                       room->room_colour[3]}),
              (colour4{248, 248, 248, 0}));

    const tlayer_header h = room->layer_headers[0];
    EXPECT_EQ(field(h.num_vertices), 7u); // counts belong to the writer
    EXPECT_EQ(field(h.num_rectangles), 8);
    EXPECT_EQ(field(h.num_triangles), 9);
    EXPECT_EQ(h.extra_1 | h.extra_2 | h.extra_3 | h.extra_4, 0u);
    EXPECT_EQ((std::array<float, 6>{h.bounds[0], h.bounds[1], h.bounds[2], h.bounds[3], h.bounds[4],
                                    h.bounds[5]}),
              (std::array<float, 6>{0.0f, -3072.0f, 0.0f, 4096.0f, 0.0f, 3072.0f}));
    EXPECT_EQ(field(h.extra_5), 3552812u);
    EXPECT_EQ(field(h.extra_6), 36576740u);
    EXPECT_EQ(field(h.extra_7), 23403952u);
    EXPECT_TRUE(same_bytes(room->layer_headers[1], garbage));

    EXPECT_TRUE(same_bytes(first->trc_vertices, room->trc_vertices));
    EXPECT_TRUE(same_bytes(first->trc_rectangles, room->trc_rectangles));
    EXPECT_TRUE(same_bytes(first->trc_triangles, room->trc_triangles));
    EXPECT_TRUE(same_bytes(first->layer_headers[0], room->layer_headers[0]));
}

TEST(RoomToLayers, EmptyRoomStillGetsItsFieldsAndNoHeaderIsCreated) {
    auto room = new_room();
    room->num_x_sectors = 65535;
    room->layer_headers.resize(1);
    room_to_layers(*room);
    EXPECT_EQ(room->room_colour[0], 248);
    EXPECT_EQ(field(room->layer_headers[0].extra_5), 3552812u);
    EXPECT_EQ(field(room->layer_headers[0].bounds[3]), 67107840.0f);

    auto bare = new_room();
    bare->ambient[1] = 1;
    bare->num_aux_records = 3;
    bare->trc_extra_block[15] = 1;
    room_to_layers(*bare);
    EXPECT_TRUE(bare->layer_headers.empty());
    EXPECT_EQ(bare->room_colour[2], 240);
    EXPECT_EQ(bare->num_aux_records, 0u);
    EXPECT_EQ(bare->trc_extra_block[15], 0);
}

} // namespace
} // namespace quarlix
