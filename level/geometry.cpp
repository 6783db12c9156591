// Room geometry conversion between the layered TRC form and the single-list TR4 form.
#include "level/geometry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarlix {

namespace {

// Corner value of a face corner whose vertex is not in the room's table.
constexpr std::uint16_t missing_corner = 0xFFFF;

// Words that close the layer header of every room written as one TRC layer.
constexpr std::uint32_t layer_closing_word_1 = 3552812;  // 0x0036362C
constexpr std::uint32_t layer_closing_word_2 = 36576740; // 0x022E1DE4
constexpr std::uint32_t layer_closing_word_3 = 23403952; // 0x01651DB0

constexpr std::int32_t sector_size = 1024;

struct tposition {
    std::int16_t x, y, z;
};

tposition position_of(tlayer_vertex vertex) {
    return {truncate_coordinate(vertex.x), truncate_coordinate(vertex.y),
            truncate_coordinate(vertex.z)};
}

// Packs the blue, green and red bytes of a layer vertex colour into 5-5-5; alpha is unused.
std::uint16_t pack_colour(tlayer_vertex vertex) {
    const unsigned blue = vertex.colour[0];
    const unsigned green = vertex.colour[1];
    const unsigned red = vertex.colour[2];
    return static_cast<std::uint16_t>(((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3));
}

// A lighting word with its high byte (the shade) cleared and its low byte kept.
std::int16_t without_shade(std::int16_t lighting) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lighting) & 0x00FFu);
}

bool same_position(troom_vertex vertex, tposition p) {
    return vertex.x == p.x && vertex.y == p.y && vertex.z == p.z;
}

std::size_t used_vertices(const troom& room) {
    return std::min<std::size_t>(room.num_vertices, max_room_vertices);
}

// Row i of a table, or a zero row when the table holds no row i.
template <class T, std::size_t N> T row_or_zero(const troom_table<T, N>& table, std::size_t i) {
    return i < table.size() ? table[i] : T{};
}

// Row i of a table, made (as zero rows) when the table does not hold it yet. i < N.
template <class T, std::size_t N> T& row_at(troom_table<T, N>& table, std::size_t i) {
    if (i == table.size()) {
        table.push_back(T{});
    } else if (i > table.size()) {
        table.resize(i + 1);
    }
    return table[i];
}

// Appends a vertex at p; the caller has checked that the table has room. Returns its number
// (from 1).
std::uint16_t append_room_vertex(troom& room, tposition p) {
    const std::size_t i = room.num_vertices;
    row_at(room.trc_vertices, i);
    tlegacy_vertex legacy = row_at(room.legacy_vertices, i);
    legacy.x = p.x;
    legacy.y = p.y;
    legacy.z = p.z;
    legacy.lighting = without_shade(legacy.lighting);
    room.legacy_vertices[i] = legacy;

    troom_vertex vertex = row_at(room.vertices, i);
    vertex.x = p.x;
    vertex.y = p.y;
    vertex.z = p.z;
    vertex.lighting = without_shade(vertex.lighting);
    room.vertices[i] = vertex;

    room.num_vertices = static_cast<std::uint16_t>(i + 1);
    return room.num_vertices;
}

// Calls f(table, count) for every form of the room's vertex, rectangle and triangle tables.
template <class F> void for_each_form(troom& room, F f) {
    f(room.legacy_vertices, room.num_vertices);
    f(room.vertices, room.num_vertices);
    f(room.trc_vertices, room.num_vertices);
    f(room.rectangles, room.num_rectangles);
    f(room.trc_rectangles, room.num_rectangles);
    f(room.triangles, room.num_triangles);
    f(room.trc_triangles, room.num_triangles);
}

// The room vertex number of every layer vertex, found by sorting the layer vertices by
// position: O(n log n) for n layer vertices whatever their positions, so no choice of
// positions can make it slow. Numbers follow first appearance in layer order, exactly as a
// linear search of the growing table gives them; a position first seen when the table already
// holds 1500 vertices gets 0 (dropped), and so does every later vertex on it.
class tvertex_numbers {
  public:
    explicit tvertex_numbers(const ttr5_layers& layers, std::size_t vertex_layers) {
        first_.reserve(vertex_layers + 1);
        std::size_t total = 0;
        for (std::size_t k = 0; k < vertex_layers; ++k) {
            first_.push_back(total);
            total += layer_size(layers.vertex_blocks[k]);
        }
        first_.push_back(total);

        // (position, place in layer order), sorted: equal positions end up side by side,
        // each run in layer order.
        std::vector<tkeyed> keyed;
        keyed.reserve(total);
        for (std::size_t k = 0; k < vertex_layers; ++k) {
            const tlayer_vertex_block& block = layers.vertex_blocks[k];
            for (std::size_t i = 0; i < layer_size(block); ++i) {
                keyed.push_back({key_of(position_of(block.vertices[i])),
                                 static_cast<std::uint32_t>(first_[k] + i)});
            }
        }
        std::sort(keyed.begin(), keyed.end(), [](const tkeyed& a, const tkeyed& b) {
            return a.key != b.key ? a.key < b.key : a.place < b.place;
        });

        // Each place's run (its position), and the first place of every run.
        std::vector<std::uint32_t> run_of(total);
        std::vector<std::uint32_t> run_start;
        for (std::size_t j = 0; j < keyed.size(); ++j) {
            if (j == 0 || keyed[j].key != keyed[j - 1].key) {
                run_start.push_back(keyed[j].place);
            }
            run_of[keyed[j].place] = static_cast<std::uint32_t>(run_start.size() - 1);
        }

        // Numbers in layer order: a run is numbered where it first appears.
        std::vector<std::uint16_t> run_number(run_start.size(), 0);
        std::size_t assigned = 0;
        numbers_.resize(total);
        for (std::size_t place = 0; place < total; ++place) {
            const std::uint32_t run = run_of[place];
            if (run_start[run] == place && assigned < max_room_vertices) {
                run_number[run] = static_cast<std::uint16_t>(++assigned);
            }
            numbers_[place] = run_number[run];
        }
    }

    /// Vertices of a layer block that take part: its count, capped at the rows it holds.
    static std::size_t layer_size(const tlayer_vertex_block& block) {
        return std::min<std::size_t>(block.count, block.vertices.size());
    }

    /// The number (from 1) of vertex i of layer k, or 0 when its position was dropped;
    /// i < layer_size of that layer.
    std::uint16_t number(std::size_t k, std::size_t i) const { return numbers_[first_[k] + i]; }

  private:
    struct tkeyed {
        std::uint64_t key;
        std::uint32_t place;
    };

    static std::uint64_t key_of(tposition p) {
        return std::uint64_t{static_cast<std::uint16_t>(p.x)} |
               std::uint64_t{static_cast<std::uint16_t>(p.y)} << 16 |
               std::uint64_t{static_cast<std::uint16_t>(p.z)} << 32;
    }

    std::vector<std::size_t> first_;     // place of each layer's first vertex
    std::vector<std::uint16_t> numbers_; // by place
};

// Room vertex index (from 0) of a layer face corner: 0xFFFF when the corner names no vertex
// of its layer, or when that vertex's position was dropped.
std::uint16_t room_corner(const tvertex_numbers& numbers, const tlayer_vertex_block* block,
                          std::size_t k, std::uint16_t corner) {
    if (block == nullptr || corner >= tvertex_numbers::layer_size(*block)) {
        return missing_corner;
    }
    return static_cast<std::uint16_t>(numbers.number(k, corner) - 1);
}

/// Appends a layer's faces (rectangles or triangles) to the room's two face tables, corners
/// renumbered into the room's vertex table; faces beyond the tables' capacity are not added.
template <class LayerFace, class RoomFace, std::size_t N>
void add_layer_faces(const tvertex_numbers& numbers, const tlayer_vertex_block* vertices,
                     std::size_t k, const troom_table<LayerFace, N>& faces, std::size_t count,
                     std::uint16_t& num_faces, troom_table<RoomFace, N>& room_faces,
                     troom_table<LayerFace, N>& trc_faces) {
    constexpr std::size_t corners = std::size(RoomFace{}.corners);
    static_assert(corners == std::size(LayerFace{}.corners));
    count = std::min(count, faces.size());
    for (std::size_t i = 0; i < count && num_faces < N; ++i) {
        const LayerFace source = faces[i];
        LayerFace trc = source;
        RoomFace face{};
        for (std::size_t c = 0; c < corners; ++c) {
            trc.corners[c] = room_corner(numbers, vertices, k, source.corners[c]);
            face.corners[c] = trc.corners[c];
        }
        face.texture = source.texture;
        row_at(room_faces, num_faces) = face;
        row_at(trc_faces, num_faces) = trc;
        ++num_faces;
    }
}

} // namespace

std::int16_t truncate_coordinate(float value) {
    // Both bounds are exact floats; NaN fails the test. Inside them truncation to 32 bits is
    // defined, and the conversion to 16 bits wraps.
    if (!(value >= -2147483648.0f && value < 2147483648.0f)) {
        return 0;
    }
    const auto whole = static_cast<std::int32_t>(value);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(whole));
}

std::uint16_t find_room_vertex(const troom& room, std::int16_t x, std::int16_t y, std::int16_t z) {
    const std::size_t count = std::min(used_vertices(room), room.vertices.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (same_position(room.vertices[i], {x, y, z})) {
            return static_cast<std::uint16_t>(i + 1);
        }
    }
    return 0;
}

void add_room_vertex(troom& room, std::int16_t x, std::int16_t y, std::int16_t z) {
    if (find_room_vertex(room, x, y, z) != 0 || room.num_vertices >= max_room_vertices) {
        return;
    }
    append_room_vertex(room, {x, y, z});
}

void layers_to_room_geometry(troom& room) {
    const ttr5_layers& layers = room.layers;
    const std::size_t vertex_layers =
        std::min<std::size_t>(layers.layer_count, layers.vertex_blocks.size());
    const tvertex_numbers numbers(layers, vertex_layers);

    // Vertices: the first appearance of a position numbers it; the last layer vertex on it
    // gives its TRC record and colour.
    room.num_vertices = 0;
    for (std::size_t k = 0; k < vertex_layers; ++k) {
        const tlayer_vertex_block& block = layers.vertex_blocks[k];
        for (std::size_t i = 0; i < tvertex_numbers::layer_size(block); ++i) {
            const tlayer_vertex source = block.vertices[i];
            const std::uint16_t number = numbers.number(k, i);
            if (number == 0) {
                continue;
            }
            if (number > room.num_vertices) {
                append_room_vertex(room, position_of(source));
            }
            room.trc_vertices[number - 1] = source;
            room.vertices[number - 1].colour = pack_colour(source);
        }
    }

    // Faces, layer by layer, with corners renumbered into the room's table. Faces beyond a
    // table's capacity are not added.
    room.num_rectangles = 0;
    room.num_triangles = 0;
    const std::size_t face_layers =
        std::min<std::size_t>(layers.layer_count, std::max(layers.rectangle_blocks.size(),
                                                           layers.triangle_blocks.size()));
    for (std::size_t k = 0; k < face_layers; ++k) {
        const tlayer_vertex_block* vertices =
            k < vertex_layers ? &layers.vertex_blocks[k] : nullptr;

        if (k < layers.rectangle_blocks.size()) {
            add_layer_faces(numbers, vertices, k, layers.rectangle_blocks[k].rectangles,
                            layers.rectangle_blocks[k].count, room.num_rectangles, room.rectangles,
                            room.trc_rectangles);
        }
        if (k < layers.triangle_blocks.size()) {
            add_layer_faces(numbers, vertices, k, layers.triangle_blocks[k].triangles,
                            layers.triangle_blocks[k].count, room.num_triangles, room.triangles,
                            room.trc_triangles);
        }
    }
    // Rows that an earlier geometry left past the new counts are dropped.
    for_each_form(room, [](auto& table, std::size_t count) { table.resize(count); });
}

void room_to_layers(troom& room) {
    const bool water = (room.flags[0] & 0x01u) != 0;

    const std::size_t vertex_count = used_vertices(room);
    room.trc_vertices.resize(vertex_count);
    for (std::size_t i = 0; i < vertex_count; ++i) {
        const troom_vertex source = row_or_zero(room.vertices, i);
        const std::uint8_t shade =
            shade_to_colour(lighting_shade(row_or_zero(room.legacy_vertices, i).lighting));
        tlayer_vertex vertex{};
        vertex.x = static_cast<float>(source.x);
        vertex.y = static_cast<float>(source.y);
        vertex.z = static_cast<float>(source.z);
        vertex.colour[0] = shade;
        vertex.colour[1] = shade;
        vertex.colour[2] = water ? 0 : shade;
        vertex.colour[3] = 255;
        room.trc_vertices[i] = vertex;
    }

    const std::size_t rectangle_count =
        std::min<std::size_t>(room.num_rectangles, max_room_rectangles);
    room.trc_rectangles.resize(rectangle_count);
    for (std::size_t i = 0; i < rectangle_count; ++i) {
        const troom_rectangle source = row_or_zero(room.rectangles, i);
        tlayer_rectangle rectangle{};
        for (std::size_t c = 0; c < 4; ++c) {
            rectangle.corners[c] = source.corners[c];
        }
        rectangle.texture = source.texture;
        room.trc_rectangles[i] = rectangle;
    }

    const std::size_t triangle_count =
        std::min<std::size_t>(room.num_triangles, max_room_triangles);
    room.trc_triangles.resize(triangle_count);
    for (std::size_t i = 0; i < triangle_count; ++i) {
        const troom_triangle source = row_or_zero(room.triangles, i);
        tlayer_triangle triangle{};
        for (std::size_t c = 0; c < 3; ++c) {
            triangle.corners[c] = source.corners[c];
        }
        triangle.texture = source.texture;
        room.trc_triangles[i] = triangle;
    }

    room.trc_num_triangles = room.num_triangles;
    room.trc_num_rectangles = room.num_rectangles;
    room.num_aux_records = 0;
    room.aux_records.clear();
    std::fill(std::begin(room.trc_extra_block), std::end(room.trc_extra_block), 0);

    const std::uint8_t ambient = shade_to_colour(room.ambient[1]);
    room.room_colour[0] = ambient;
    room.room_colour[1] = ambient;
    room.room_colour[2] = water ? 0 : ambient;
    room.room_colour[3] = 0;

    // The header's own counts are left alone: the TRC writer puts the room's counts there.
    if (!room.layer_headers.empty()) {
        tlayer_header header = room.layer_headers.front();
        header.extra_1 = 0;
        header.extra_2 = 0;
        header.extra_3 = 0;
        header.bounds[0] = 0.0f;
        header.bounds[1] = static_cast<float>(room.y_top);
        header.bounds[2] = 0.0f;
        header.bounds[3] = static_cast<float>(std::int32_t{room.num_x_sectors} * sector_size);
        header.bounds[4] = static_cast<float>(room.y_bottom);
        header.bounds[5] = static_cast<float>(std::int32_t{room.num_z_sectors} * sector_size);
        header.extra_4 = 0;
        header.extra_5 = layer_closing_word_1;
        header.extra_6 = layer_closing_word_2;
        header.extra_7 = layer_closing_word_3;
        room.layer_headers.front() = header;
    }
}

} // namespace quarlix
