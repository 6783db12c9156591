// The bundled example level: a small TRC level that level viewers can open. Four box-shaped
// rooms joined by portals (one under water, one with a flipped state), textured from labelled
// texture pages, a few items, meshes with their animations (a lever of four meshes in a small
// hierarchy among them), static meshes, and short beeps as samples. Every index in it points at
// something that exists.
//
// Faces and portals list their corners top-left, top-right, bottom-right, bottom-left: clockwise
// as seen from their visible side, so (c2 - c0) x (c1 - c0) points to that side; object-texture
// corner i goes with face corner i, so the pictures stand upright on walls, with "up" to +z on
// floors.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <map>
#include <string_view>
#include <tuple>

#include "tools/levelgen.h"

namespace levelgen {

namespace {

std::uint8_t u8(int v) { return static_cast<std::uint8_t>(v); }
std::uint16_t u16(int v) { return static_cast<std::uint16_t>(v); }
std::int16_t i16(int v) { return static_cast<std::int16_t>(v); }

// ---- Texture pages -------------------------------------------------------------------------

constexpr int page_side = 256;
constexpr int cell_side = 64; // 4 x 4 cells a page
constexpr int room_pages = 2, object_pages = 1, main_pages = room_pages + object_pages;
constexpr int misc_pages = 3;
constexpr int alpha_cells_from = 12; // the bottom row: transparent around frame and labels

using picture = std::vector<std::uint32_t>; // 0xAARRGGBB, row 0 at the top

/// 5 x 7 glyphs: one byte a row, bit 4 the leftmost column.
struct glyph {
    char c;
    std::uint8_t rows[7];
};
constexpr glyph font[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
};

constexpr std::uint32_t cell_colours[16] = {
    0xFFE57373, 0xFFFFB74D, 0xFFFFF176, 0xFFAED581, 0xFF81C784, 0xFF4DB6AC, 0xFF4DD0E1, 0xFF64B5F6,
    0xFF7986CB, 0xFF9575CD, 0xFFBA68C8, 0xFFF06292, 0xFFA1887F, 0xFFE0E0E0, 0xFF90A4AE, 0xFFDCE775,
};
constexpr std::uint32_t ink = 0xFF101010;
constexpr std::uint32_t frame_colour = 0xFF303030;

void fill(picture& p, int x0, int y0, int w, int h, std::uint32_t colour) {
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            p[static_cast<std::size_t>(y * page_side + x)] = colour;
}

void text(picture& p, std::string_view s, int x, int y, int scale) {
    for (char c : s) {
        for (const glyph& g : font) {
            if (g.c != c)
                continue;
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col)
                    if (g.rows[row] >> (4 - col) & 1)
                        fill(p, x + col * scale, y + row * scale, scale, scale, ink);
        }
        x += 6 * scale;
    }
}

/// An arrow pointing to the top of the page, 13 pixels wide and 14 high.
void up_arrow(picture& p, int x, int y) {
    for (int row = 0; row < 7; ++row)
        fill(p, x + 6 - row, y + row, 2 * row + 1, 1, ink);
    fill(p, x + 5, y + 7, 3, 7, ink);
}

/// A page of 16 coloured cells, each framed and labelled with its hex digit (big), the page's
/// name (`prefix` and number, small) and an arrow to the top. The bottom row's cells are
/// transparent except for frame and labels, for alpha-tested textures.
picture labelled_page(char prefix, int number) {
    picture p(page_side * page_side);
    const char page_name[] = {prefix, static_cast<char>('0' + number), 0};
    for (int k = 0; k < 16; ++k) {
        const int x = k % 4 * cell_side, y = k / 4 * cell_side;
        const std::uint32_t colour = cell_colours[(k + 5 * number + (prefix == 'M' ? 2 : 0)) % 16];
        fill(p, x, y, cell_side, cell_side, k >= alpha_cells_from ? colour & 0x00FFFFFFu : colour);
        fill(p, x, y, cell_side, 2, frame_colour);
        fill(p, x, y + cell_side - 2, cell_side, 2, frame_colour);
        fill(p, x, y, 2, cell_side, frame_colour);
        fill(p, x + cell_side - 2, y, 2, cell_side, frame_colour);
        text(p, std::string_view(&"0123456789ABCDEF"[k], 1), x + 17, y + 18, 6);
        text(p, page_name, x + 5, y + 4, 2);
        up_arrow(p, x + 46, y + 4);
    }
    return p;
}

/// Pixels as stored in 32-bit pages: blue, green, red, alpha.
std::vector<std::uint8_t> bytes32(const std::vector<picture>& pages) {
    std::vector<std::uint8_t> out;
    for (const picture& p : pages)
        for (std::uint32_t c : p) {
            out.push_back(u8(static_cast<int>(c & 0xFF)));
            out.push_back(u8(static_cast<int>(c >> 8 & 0xFF)));
            out.push_back(u8(static_cast<int>(c >> 16 & 0xFF)));
            out.push_back(u8(static_cast<int>(c >> 24)));
        }
    return out;
}

/// Pixels as stored in 16-bit pages: A1R5G5B5, alpha set from 128 on.
std::vector<std::uint8_t> bytes16(const std::vector<picture>& pages) {
    std::vector<std::uint8_t> out;
    for (const picture& p : pages)
        for (std::uint32_t c : p) {
            const std::uint32_t v =
                (c >> 31) << 15 | (c >> 19 & 31) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31);
            out.push_back(u8(static_cast<int>(v & 0xFF)));
            out.push_back(u8(static_cast<int>(v >> 8)));
        }
    return out;
}

// ---- Object textures -----------------------------------------------------------------------

/// A texture coordinate: the pixel in the high byte; `far` reaches to the pixel's far edge.
std::uint16_t coord(int pixel, bool far = false) { return u16(pixel << 8 | (far ? 0xFF : 0)); }

struct corner {
    int x, y;
    bool far_x, far_y;
};

/// An object texture over three or four corners; its last words give the cell's place and size.
gen_record object_texture(int blend, int page, bool triangle, std::initializer_list<corner> corners,
                          int x, int y) {
    byte_writer w;
    w.u16(u16(blend));
    w.u16(u16(page | (triangle ? 0x8000 : 0)));
    w.u16(0);
    for (const corner& c : corners) {
        w.u16(coord(c.x, c.far_x));
        w.u16(coord(c.y, c.far_y));
    }
    w.fill(16 - 4 * corners.size(), 0);
    for (int v : {x, y, cell_side, cell_side})
        w.u32(static_cast<std::uint32_t>(v));
    w.u16(0);
    return w.take();
}

/// Every cell of every main page as a quad texture (index page * 16 + cell), then the
/// triangle textures named below.
constexpr int floor_half_1 = main_pages * 16, floor_half_2 = floor_half_1 + 1,
              apex_triangle = floor_half_1 + 2;
int quad_texture(int page, int cell) { return page * 16 + cell; }

gen_records object_textures() {
    gen_records out;
    for (int page = 0; page < main_pages; ++page) {
        for (int k = 0; k < 16; ++k) {
            const int x = k % 4 * cell_side, y = k / 4 * cell_side, e = cell_side - 1;
            out.push_back(object_texture(k >= alpha_cells_from ? 1 : 0, page, false,
                                         {{x, y, false, false},
                                          {x + e, y, true, false},
                                          {x + e, y + e, true, true},
                                          {x, y + e, false, true}},
                                         x, y));
        }
    }
    // The two halves of cell 0 of page 0, split along its top-left to bottom-right diagonal.
    out.push_back(object_texture(
        0, 0, true, {{0, 0, false, false}, {63, 0, true, false}, {63, 63, true, true}}, 0, 0));
    out.push_back(object_texture(
        0, 0, true, {{0, 0, false, false}, {63, 63, true, true}, {0, 63, false, true}}, 0, 0));
    // Cell 6 of the object page from its top centre to its bottom corners.
    const int x = 2 * cell_side, y = cell_side;
    out.push_back(object_texture(
        0, room_pages, true,
        {{x + 32, y, false, false}, {x + 63, y + 63, true, true}, {x, y + 63, false, true}}, x, y));
    return out;
}

// ---- Geometry ------------------------------------------------------------------------------

struct vec {
    int x, y, z;
    friend vec operator+(vec a, vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend vec operator-(vec a, vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    auto key() const { return std::tuple(x, y, z); }
};

/// A rectangle by its bottom-left corner and its right and up edges; r x u points to the
/// visible side.
struct quad {
    vec bl, r, u;
    std::array<vec, 4> corners() const { return {bl + u, bl + r + u, bl + r, bl}; }
};

/// An upright rectangle seen by a viewer looking along (dx, 0, dz): in the plane x = `at`
/// (dx != 0) or z = `at`, from `from` to `to` along the other axis, from y `bottom` up to y `top`.
quad upright(int dx, int dz, int at, int from, int to, int bottom, int top) {
    const int w = to - from;
    const vec r{dz * w, 0, -dx * w};
    const int left = dz > 0 || dx < 0 ? from : to;
    return {dx != 0 ? vec{at, bottom, left} : vec{left, bottom, at}, r, {0, top - bottom, 0}};
}

/// A horizontal rectangle from (x0, z0) to (x1, z1) at height y, seen from above or below.
quad level_quad(int x0, int z0, int x1, int z1, int y, bool from_above) {
    if (from_above)
        return {{x0, y, z0}, {x1 - x0, 0, 0}, {0, 0, z1 - z0}};
    return {{x1, y, z0}, {x0 - x1, 0, 0}, {0, 0, z1 - z0}};
}

std::uint32_t float_bits(double v) { return std::bit_cast<std::uint32_t>(static_cast<float>(v)); }

/// The direction of (c1 - c0) x (c2 - c0), each component as -64, 0 or 64.
vec normal_of(vec c0, vec c1, vec c2) {
    const vec a = c2 - c0, b = c1 - c0; // clockwise corners: b x a faces the viewer
    const long long x = 1LL * a.y * b.z - 1LL * a.z * b.y, y = 1LL * a.z * b.x - 1LL * a.x * b.z,
                    z = 1LL * a.x * b.y - 1LL * a.y * b.x;
    const auto sign = [](long long v) { return v > 0 ? 64 : v < 0 ? -64 : 0; };
    return {sign(x), sign(y), sign(z)};
}

/// Vertices shared by position, with the sum of the normals of the faces that use them.
struct vertex_table {
    std::map<std::tuple<int, int, int>, std::uint16_t> index;
    std::vector<vec> positions, normals;

    std::uint16_t add(vec p, vec normal) {
        auto [it, added] = index.try_emplace(p.key(), u16(static_cast<int>(positions.size())));
        if (added) {
            positions.push_back(p);
            normals.push_back({0, 0, 0});
        }
        vec& n = normals[it->second];
        n = n + normal;
        return it->second;
    }
};

// ---- Rooms ---------------------------------------------------------------------------------

constexpr int sector = 1024;
constexpr int floor_y = 0;
constexpr int door_top = -2048;
constexpr std::uint16_t no_box = 0xFFFF;

/// A room in world sectors: its first column and row, its size with the wall sectors around it.
struct room_plan {
    int x0, z0, nx, nz;
    int ceiling;
    std::array<int, 3> tint; // red, green, blue of the vertex colours
    int layers;
};
constexpr room_plan plans[] = {
    {0, 0, 6, 6, -3072, {255, 236, 210}, 2}, {4, 1, 5, 4, -2048, {210, 228, 255}, 1},
    {0, 4, 5, 6, -2560, {226, 255, 210}, 1}, {5, 3, 5, 5, -2048, {255, 214, 232}, 1},
    {4, 1, 5, 4, -2560, {255, 150, 120}, 1}, // room 1 flipped: higher, red, its openings closed
};
constexpr int num_rooms = static_cast<int>(std::size(plans));
constexpr int water_room = 3, flipped_room = 1, flip_room = 4;

/// An opening between rooms a and b in the world-sector line x = `line` (a to the west of b) or
/// z = `line` (a to the south of b), from sector `from` to `to` along the line. Each room's wall
/// sectors in it lie inside the other room, as adjoining rooms overlap.
struct door {
    int a, b;
    bool on_x;
    int line, from, to;
};
constexpr door doors[] = {{0, 1, true, 5, 2, 4}, {0, 2, false, 5, 2, 3}, {1, 3, false, 4, 6, 8}};

struct room_layout {
    /// Sector kind: -1 wall, -2 inside, else the room a door sector leads to.
    std::vector<int> kinds;
    const room_plan* plan;
    int kind(int lx, int lz) const { return kinds[static_cast<std::size_t>(lx * plan->nz + lz)]; }
};

room_layout layout_of(int index) {
    const room_plan& p = plans[index];
    room_layout out{std::vector<int>(static_cast<std::size_t>(p.nx * p.nz), -1), &p};
    for (int lx = 1; lx + 1 < p.nx; ++lx)
        for (int lz = 1; lz + 1 < p.nz; ++lz)
            out.kinds[static_cast<std::size_t>(lx * p.nz + lz)] = -2;
    for (const door& d : doors) {
        if (d.a != index && d.b != index)
            continue;
        const int line =
            d.a == index ? d.line : d.line - 1; // the room's wall sectors in the opening
        for (int s = d.from; s < d.to; ++s) {
            const int wx = d.on_x ? line : s, wz = d.on_x ? s : line;
            out.kinds[static_cast<std::size_t>((wx - p.x0) * p.nz + (wz - p.z0))] =
                d.a == index ? d.b : d.a;
        }
    }
    return out;
}

int wall_texture(int dx, int dz) {
    return quad_texture(0, 4 + (dx > 0 ? 0 : dz > 0 ? 1 : dx < 0 ? 2 : 3));
}
constexpr int lintel_texture = 12; // alpha-tested, page 0

struct layer_builder {
    vertex_table vertices;
    std::vector<gen_layer_rect> rectangles;
    std::vector<gen_layer_tri> triangles;

    void add(const quad& q, int texture) {
        const auto c = q.corners();
        const vec n = normal_of(c[0], c[1], c[2]);
        gen_layer_rect rect{};
        for (int i = 0; i < 4; ++i)
            rect.corners[static_cast<std::size_t>(i)] =
                vertices.add(c[static_cast<std::size_t>(i)], n);
        rect.texture = u16(texture);
        rectangles.push_back(rect);
    }
    void add(vec c0, vec c1, vec c2, int texture) {
        const vec n = normal_of(c0, c1, c2);
        triangles.push_back(
            {{vertices.add(c0, n), vertices.add(c1, n), vertices.add(c2, n)}, u16(texture), 0});
    }

    gen_layer finish(const room_plan& plan) const {
        gen_layer layer;
        float lo[3] = {1e9f, 1e9f, 1e9f}, hi[3] = {-1e9f, -1e9f, -1e9f};
        for (std::size_t i = 0; i < vertices.positions.size(); ++i) {
            const vec p = vertices.positions[i], n = vertices.normals[i];
            gen_layer_vertex v;
            v.x = static_cast<float>(p.x);
            v.y = static_cast<float>(p.y);
            v.z = static_cast<float>(p.z);
            const double length = std::sqrt(1.0 * n.x * n.x + 1.0 * n.y * n.y + 1.0 * n.z * n.z);
            v.extra = {float_bits(n.x / length), float_bits(n.y / length),
                       float_bits(n.z / length)};
            // Brighter towards the floor.
            const int light = 150 + 105 * (p.y - plan.ceiling) / (floor_y - plan.ceiling);
            v.r = u8(plan.tint[0] * light / 255);
            v.g = u8(plan.tint[1] * light / 255);
            v.b = u8(plan.tint[2] * light / 255);
            v.a = 255;
            const float xyz[3] = {v.x, v.y, v.z};
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::min(lo[c], xyz[c]);
                hi[c] = std::max(hi[c], xyz[c]);
            }
            layer.vertices.push_back(v);
        }
        layer.rectangles = rectangles;
        layer.triangles = triangles;
        layer.bounds = {lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
        return layer;
    }
};

gen_record sector_record(int floor_data, int box, int floor, int ceiling) {
    byte_writer w;
    w.u16(u16(floor_data));
    w.u16(u16(box));
    w.u8(255);
    w.u8(u8(floor / 256));
    w.u8(255);
    w.u8(u8(ceiling / 256));
    return w.take();
}

gen_record portal_record(int other, vec normal, const quad& q) {
    byte_writer w;
    w.u16(u16(other));
    for (int v : {normal.x, normal.y, normal.z})
        w.i16(i16(v));
    for (const vec& c : q.corners())
        for (int v : {c.x, c.y, c.z})
            w.i16(i16(v));
    return w.take();
}

/// A point light: the 85-byte TRC light record.
gen_record light_record(vec at, std::array<float, 3> colour, float radius) {
    byte_writer w;
    for (int v : {at.x, at.y, at.z})
        w.f32(static_cast<float>(v));
    for (float c : colour)
        w.f32(c);
    w.u32(0xCDCDCDCDu);
    for (float v : {radius / 2, radius, 0.0f, 0.0f, radius, 0.0f, 0.0f, 0.0f})
        w.f32(v);
    for (int v : {at.x, at.y, at.z, 0, 0, 0})
        w.i32(v);
    w.u8(1);
    return w.take();
}

gen_record static_instance(vec at, int rotation, int static_id) {
    byte_writer w;
    for (int v : {at.x, at.y, at.z})
        w.i32(v);
    w.u16(u16(rotation));
    w.u16(0x4210);
    w.u16(0x4210);
    w.u16(u16(static_id));
    return w.take();
}

/// World position of the middle of a room's sector (lx, lz) at floor height.
vec sector_middle(int room, int lx, int lz) {
    const room_plan& p = plans[room];
    return {(p.x0 + lx) * sector + sector / 2, floor_y, (p.z0 + lz) * sector + sector / 2};
}

/// Room `index`: floor and ceiling over every inside sector (one floor sector of room 0 as two
/// triangles), walls along every edge to a wall sector, an alpha-tested lintel above each
/// opening where the ceiling is higher than the door, a portal through each opening, and the
/// door sectors' floor data (entries of `floor_data` added here) naming the room beyond.
gen_room make_room(int index, std::vector<std::uint16_t>& floor_data,
                   std::vector<int>& door_entry) {
    const room_plan& p = plans[index];
    const room_layout layout = layout_of(index);
    gen_room room;
    room.pos_x = p.x0 * sector;
    room.pos_z = p.z0 * sector;
    room.y_bottom = floor_y;
    room.y_top = p.ceiling;
    room.x_sectors = u16(p.nx);
    room.z_sectors = u16(p.nz);
    room.room_colour = {48, 48, 48, 0};
    if (index == water_room)
        room.flags = 1;
    if (index == flipped_room)
        room.trc_alternate_room = flip_room;

    std::vector<layer_builder> layers(static_cast<std::size_t>(p.layers));
    layer_builder& walls = layers.front();
    layer_builder& tops = layers.back(); // the ceiling's layer
    const int lintel = quad_texture(0, lintel_texture);
    constexpr int dirs[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (int lx = 1; lx + 1 < p.nx; ++lx) {
        for (int lz = 1; lz + 1 < p.nz; ++lz) {
            const int x0 = lx * sector, z0 = lz * sector, x1 = x0 + sector, z1 = z0 + sector;
            const quad floor_face = level_quad(x0, z0, x1, z1, floor_y, true);
            if (index == 0 && lx == 1 && lz == 1) {
                const auto c = floor_face.corners();
                walls.add(c[0], c[1], c[2], floor_half_1);
                walls.add(c[0], c[2], c[3], floor_half_2);
            } else {
                walls.add(floor_face, quad_texture(0, index));
            }
            tops.add(level_quad(x0, z0, x1, z1, p.ceiling, false), quad_texture(1, index));
            for (const auto& [dx, dz] : dirs) {
                const int beyond = layout.kind(lx + dx, lz + dz);
                if (beyond == -2)
                    continue;
                const int at = dx > 0 ? x1 : dx < 0 ? x0 : dz > 0 ? z1 : z0;
                const int from = dx != 0 ? z0 : x0, to = dx != 0 ? z1 : x1;
                if (beyond == -1)
                    walls.add(upright(dx, dz, at, from, to, floor_y, p.ceiling),
                              wall_texture(dx, dz));
                else if (p.ceiling < door_top)
                    tops.add(upright(dx, dz, at, from, to, door_top, p.ceiling), lintel);
            }
        }
    }
    for (const layer_builder& b : layers)
        room.layers.push_back(b.finish(p));

    // Portals, one per opening, and the floor data of its door sectors.
    for (const door& d : doors) {
        if (d.a != index && d.b != index)
            continue;
        const int other = d.a == index ? d.b : d.a;
        const int toward = d.a == index ? 1 : -1; // the room looks along +x / +z into the opening
        const int dx = d.on_x ? toward : 0, dz = d.on_x ? 0 : toward;
        const int at = d.line * sector - (d.on_x ? room.pos_x : room.pos_z);
        const int base = d.on_x ? room.pos_z : room.pos_x;
        room.portals.push_back(portal_record(
            other, {-dx, 0, -dz},
            upright(dx, dz, at, d.from * sector - base, d.to * sector - base, floor_y, door_top)));
        door_entry[static_cast<std::size_t>(other)] = static_cast<int>(floor_data.size());
        floor_data.push_back(0x8001); // a portal, the last function of the list
        floor_data.push_back(u16(other));
    }

    for (int lx = 0; lx < p.nx; ++lx) {
        for (int lz = 0; lz < p.nz; ++lz) {
            const int k = layout.kind(lx, lz);
            if (k == -2)
                room.sectors.push_back(sector_record(0, index << 4, floor_y, p.ceiling));
            else if (k == -1)
                room.sectors.push_back(sector_record(0, no_box, -127 * 256, -127 * 256));
            else
                room.sectors.push_back(sector_record(door_entry[static_cast<std::size_t>(k)],
                                                     no_box, floor_y, door_top));
        }
    }

    const vec middle = sector_middle(index, p.nx / 2, p.nz / 2);
    room.lights.push_back(
        light_record({middle.x, p.ceiling + 256, middle.z}, {1.0f, 0.9f, 0.75f}, 4096.0f));
    if (index == 0)
        room.lights.push_back(
            light_record({sector + 512, -1024, sector + 512}, {0.5f, 0.6f, 1.0f}, 2048.0f));
    if (index == 0)
        room.static_instances.push_back(static_instance(sector_middle(0, 4, 4), 0x2000, 0));
    if (index == 2)
        room.static_instances.push_back(static_instance(sector_middle(2, 1, 4), 0, 1));
    return room;
}

// ---- Meshes --------------------------------------------------------------------------------

struct mesh_builder {
    vertex_table vertices;
    std::vector<std::array<std::uint16_t, 5>> rectangles; // corners, texture
    std::vector<std::array<std::uint16_t, 4>> triangles;
    // Versions 1-5: faces of one colour (a palette index), after the textured ones.
    std::vector<std::array<std::uint16_t, 5>> coloured_rectangles;
    std::vector<std::array<std::uint16_t, 4>> coloured_triangles;

    void add(const quad& q, int texture, bool coloured = false) {
        const auto c = q.corners();
        const vec n = normal_of(c[0], c[1], c[2]);
        (coloured ? coloured_rectangles : rectangles)
            .push_back({vertices.add(c[0], n), vertices.add(c[1], n), vertices.add(c[2], n),
                        vertices.add(c[3], n), u16(texture)});
    }
    void add(vec c0, vec c1, vec c2, int texture, bool coloured = false) {
        const vec n = normal_of(c0, c1, c2);
        (coloured ? coloured_triangles : triangles)
            .push_back(
                {vertices.add(c0, n), vertices.add(c1, n), vertices.add(c2, n), u16(texture)});
    }

    /// Appends the mesh: centre, radius, vertices, normals (or, `shaded`, a shade a vertex from
    /// its normal: bright above, dark below), rectangles and triangles; in versions 1-5 without
    /// effects words and followed by the coloured faces.
    void write(std::vector<std::uint16_t>& data, int version = version_trc,
               bool shaded = false) const {
        vec lo = vertices.positions.front(), hi = lo;
        for (const vec& v : vertices.positions) {
            lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
            hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
        }
        const vec centre{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
        double radius = 0;
        for (const vec& v : vertices.positions) {
            const vec d = v - centre;
            radius =
                std::max(radius, std::sqrt(1.0 * d.x * d.x + 1.0 * d.y * d.y + 1.0 * d.z * d.z));
        }
        const auto r = static_cast<std::uint32_t>(std::ceil(radius));
        for (int v : {centre.x, centre.y, centre.z})
            data.push_back(u16(v));
        data.push_back(u16(static_cast<int>(r & 0xFFFF)));
        data.push_back(u16(static_cast<int>(r >> 16)));
        data.push_back(u16(static_cast<int>(vertices.positions.size())));
        for (const vec& v : vertices.positions)
            for (int c : {v.x, v.y, v.z})
                data.push_back(u16(c));
        const int n_normals = static_cast<int>(vertices.normals.size());
        data.push_back(u16(shaded ? -n_normals : n_normals));
        for (const vec& n : vertices.normals) {
            const double length = std::sqrt(1.0 * n.x * n.x + 1.0 * n.y * n.y + 1.0 * n.z * n.z);
            if (shaded) {
                data.push_back(u16(static_cast<int>(std::lround(4096 + n.y * 3072 / length))));
                continue;
            }
            for (int c : {n.x, n.y, n.z})
                data.push_back(u16(static_cast<int>(std::lround(c * 16384 / length))));
        }
        const bool older = version < version_tr4;
        const auto faces = [&](const auto& list, bool effects) {
            data.push_back(u16(static_cast<int>(list.size())));
            for (const auto& f : list) {
                data.insert(data.end(), f.begin(), f.end());
                if (effects)
                    data.push_back(0);
            }
        };
        faces(rectangles, !older);
        faces(triangles, !older);
        if (older) {
            faces(coloured_rectangles, false);
            faces(coloured_triangles, false);
        }
    }
};

/// A box standing on y = 0, `h` high, with one texture a face (top, bottom, +x, -x, +z, -z);
/// the faces of the bits set in `coloured` are of one colour, the texture word their colour.
mesh_builder box_mesh(int hx, int h, int hz, std::array<int, 6> textures, unsigned coloured = 0) {
    mesh_builder m;
    const quad faces[] = {
        level_quad(-hx, -hz, hx, hz, -h, true), level_quad(-hx, -hz, hx, hz, 0, false),
        upright(-1, 0, hx, -hz, hz, 0, -h),     upright(1, 0, -hx, -hz, hz, 0, -h),
        upright(0, -1, hz, -hx, hx, 0, -h),     upright(0, 1, -hz, -hx, hx, 0, -h)};
    for (std::size_t i = 0; i < std::size(faces); ++i)
        m.add(faces[i], textures[i], (coloured >> i & 1) != 0);
    return m;
}

/// A four-sided pyramid on y = 0: a square base and four triangles meeting `h` above its middle
/// (of one colour, `side_texture` their colour, when `coloured_sides`).
mesh_builder pyramid_mesh(int half, int h, int base_texture, int side_texture,
                          bool coloured_sides = false) {
    mesh_builder m;
    m.add(level_quad(-half, -half, half, half, 0, false), base_texture);
    constexpr int dirs[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (const auto& [dx, dz] : dirs) {
        const auto c = upright(dx, dz, -(dx + dz) * half, -half, half, 0, 0).corners();
        m.add({0, -h, 0}, c[2], c[3], side_texture, coloured_sides);
    }
    return m;
}

// ---- Animations ----------------------------------------------------------------------------

/// An animation record; versions 1-5 hold no lateral speed and acceleration.
gen_record animation(int frame_offset, int frame_size, int state, int first_frame, int last_frame,
                     int next, int next_frame, int state_changes, int first_state_change,
                     int commands, int first_command, int frame_rate = 1,
                     int version = version_trc) {
    byte_writer w;
    w.u32(static_cast<std::uint32_t>(frame_offset));
    w.u8(u8(frame_rate));
    w.u8(u8(frame_size));
    w.u16(u16(state));
    w.fill(version >= version_tr4 ? 16 : 8, 0); // speeds and accelerations
    for (int v : {first_frame, last_frame, next, next_frame, state_changes, first_state_change,
                  commands, first_command})
        w.u16(u16(v));
    return w.take();
}

/// A key frame: bounding box, offset, then each mesh's rotation (y only, 1024 a full turn).
void key_frame(std::vector<std::int16_t>& frames, std::array<int, 6> box,
               std::initializer_list<int> y_rotations) {
    for (int v : box)
        frames.push_back(i16(v));
    for (int i = 0; i < 3; ++i)
        frames.push_back(0);
    for (int y : y_rotations) {
        frames.push_back(i16(y >> 6));
        frames.push_back(i16((y & 0x3F) << 10));
    }
}

/// A key frame of the lever: box, the root's offset, and each mesh's rotation words as given
/// (one word for a turn about one axis, two for three angles), padded to `size` words.
void lever_frame(std::vector<std::int16_t>& frames, std::array<int, 3> offset,
                 std::initializer_list<std::initializer_list<int>> rotations, std::size_t size) {
    const std::size_t start = frames.size();
    for (int v : {-192, 192, -768, 0, -192, 192})
        frames.push_back(i16(v));
    for (int v : offset)
        frames.push_back(i16(v));
    for (const auto& words : rotations)
        for (int w : words)
            frames.push_back(i16(w));
    frames.resize(start + size, 0);
}

gen_record words_record(std::initializer_list<int> words) {
    byte_writer w;
    for (int v : words)
        w.u16(u16(v));
    return w.take();
}

gen_record moveable(int id, int meshes, int first_mesh, int first_tree_word, int frame_offset,
                    int anim) {
    byte_writer w;
    w.u32(static_cast<std::uint32_t>(id));
    w.u16(u16(meshes));
    w.u16(u16(first_mesh));
    w.u32(static_cast<std::uint32_t>(first_tree_word));
    w.u32(static_cast<std::uint32_t>(frame_offset));
    w.u16(u16(anim));
    w.u16(0xFFEF);
    return w.take();
}

gen_record static_mesh(int id, int mesh, std::array<int, 6> box) {
    byte_writer w;
    w.u32(static_cast<std::uint32_t>(id));
    w.u16(u16(mesh));
    for (int i = 0; i < 2; ++i)
        for (int v : box)
            w.i16(i16(v));
    w.u16(2);
    return w.take();
}

// ---- Items, cameras, sounds ----------------------------------------------------------------

gen_record item(int id, int room, vec at, int angle) {
    byte_writer w;
    w.i16(i16(id));
    w.i16(i16(room));
    for (int v : {at.x, at.y, at.z})
        w.i32(v);
    w.i16(i16(angle));
    w.i16(-1); // intensity
    w.i16(0);
    w.u16(0);
    return w.take();
}

/// A four-character chunk name as the little-endian word that holds it.
constexpr std::uint32_t chunk_name(const char (&name)[5]) {
    return std::uint32_t(std::uint8_t(name[0])) | std::uint32_t(std::uint8_t(name[1])) << 8 |
           std::uint32_t(std::uint8_t(name[2])) << 16 | std::uint32_t(std::uint8_t(name[3])) << 24;
}

/// A WAVE file of a sine tone at `hz` with a short rise and a linear fade: mono PCM, 8 or 16
/// bits. The sine comes from integers alone, so every platform writes the same bytes.
std::vector<std::uint8_t> beep(int rate, int bits, int hz, int count) {
    const int bytes_per_sample = bits / 8;
    const auto data_size = static_cast<std::uint32_t>(count * bytes_per_sample);
    byte_writer w;
    w.u32(chunk_name("RIFF"));
    w.u32(36 + data_size);
    w.u32(chunk_name("WAVE"));
    w.u32(chunk_name("fmt "));
    w.u32(16);
    w.u16(1); // PCM
    w.u16(1); // mono
    w.u32(static_cast<std::uint32_t>(rate));
    w.u32(static_cast<std::uint32_t>(rate * bytes_per_sample));
    w.u16(u16(bytes_per_sample));
    w.u16(u16(bits));
    w.u32(chunk_name("data"));
    w.u32(data_size);
    for (int i = 0; i < count; ++i) {
        // Phase in 1/65536 turns; a half wave by the rational approximation
        // 16 t (h - t) / (5 h^2 - 4 t (h - t)) of sin(pi t / h).
        const long long phase = 1LL * i * hz * 65536 / rate % 65536, h = 32768;
        const long long t = phase % h, q = t * (h - t);
        long long s = 16 * q * 32767 / (5 * h * h - 4 * q);
        if (phase >= h)
            s = -s;
        constexpr int rise = 200;
        s = i < rise ? s * i / rise : s * (count - i) / (count - rise);
        s = s * 7 / 10;
        if (bits == 8)
            w.u8(u8(static_cast<int>(128 + s / 256)));
        else
            w.i16(i16(static_cast<int>(s)));
    }
    return w.take();
}

} // namespace

gen_level bundled_example_level() {
    gen_level lv;
    lv.version = version_trc;

    std::vector<picture> pages, misc;
    for (int i = 0; i < main_pages; ++i)
        pages.push_back(labelled_page('P', i));
    for (int i = 0; i < misc_pages; ++i)
        misc.push_back(labelled_page('M', i));
    lv.num_room_textiles = room_pages;
    lv.num_object_textiles = object_pages;
    lv.num_bump_textiles = 0;
    lv.textiles32 = bytes32(pages);
    lv.textiles16 = bytes16(pages);
    lv.textiles_misc = bytes32(misc);

    // Rooms, and the floor data: an empty entry, then the door sectors' portals.
    lv.floor_data = {0};
    for (int i = 0; i < num_rooms; ++i) {
        std::vector<int> door_entry(num_rooms, 0);
        lv.rooms.push_back(make_room(i, lv.floor_data, door_entry));
    }

    // Boxes: one over each room's inside, overlapping the boxes of the rooms it opens into.
    for (int i = 0; i < num_rooms; ++i) {
        const room_plan& p = plans[i];
        std::vector<int> next;
        for (const door& d : doors)
            if (d.a == i || d.b == i)
                next.push_back(d.a == i ? d.b : d.a);
        byte_writer w;
        for (int v : {p.z0 + 1, p.z0 + p.nz - 1, p.x0 + 1, p.x0 + p.nx - 1})
            w.u8(u8(v));
        w.i16(i16(floor_y));
        w.u16(u16(static_cast<int>(lv.overlaps.size())));
        lv.boxes.push_back(w.take());
        for (std::size_t k = 0; k < next.size(); ++k)
            lv.overlaps.push_back(u16(next[k] | (k + 1 == next.size() ? 0x8000 : 0)));
    }
    for (auto& zone : lv.zones)
        zone.assign(lv.boxes.size(), 1);

    // Meshes: 0 a crate with digits 0-5 on its faces, 1 a small cube, 2 a pyramid, 3 a body,
    // 4 a head, and the lever's 5 base, 6 arm, 7 knob and 8 flag.
    const auto object = [](int cell) { return quad_texture(room_pages, cell); };
    const mesh_builder meshes[] = {
        box_mesh(256, 512, 256, {object(0), object(1), object(2), object(3), object(4), object(5)}),
        box_mesh(64, 128, 64, {object(8), object(8), object(8), object(8), object(8), object(8)}),
        pyramid_mesh(256, 512, object(11), apex_triangle),
        box_mesh(128, 512, 96, {object(9), object(9), object(9), object(9), object(9), object(9)}),
        box_mesh(96, 192, 96,
                 {object(10), object(10), object(10), object(10), object(10), object(7)}),
        box_mesh(192, 128, 192, {object(3), object(3), object(6), object(6), object(6), object(6)}),
        box_mesh(32, 512, 32, {object(9), object(9), object(9), object(9), object(9), object(9)}),
        box_mesh(64, 128, 64, {object(5), object(5), object(5), object(5), object(5), object(5)}),
        box_mesh(128, 96, 16, {object(4), object(4), object(4), object(4), object(2), object(2)}),
    };
    for (const mesh_builder& m : meshes) {
        if (lv.mesh_data.size() % 2 != 0)
            lv.mesh_data.push_back(0); // each mesh on a 4-byte boundary
        lv.mesh_pointers.push_back(static_cast<std::int32_t>(lv.mesh_data.size() * 2));
        m.write(lv.mesh_data);
    }
    // The head on top of the body; the lever's arm on its base (pushed), the knob on the arm,
    // and the flag on the base again (popped).
    lv.mesh_trees = {0, 0, -512, 0, 2, 0, -128, 0, 0, 0, -512, 0, 1, 160, -128, 0};

    // The figure (object 0: body and head) stands and turns; the crate (object 1) has one
    // frame; the small cube (object 2) has no animation.
    const int figure_frame = 9 + 2 * 2, crate_frame = 9 + 2;
    key_frame(lv.frames, {-128, 128, -704, 0, -96, 96}, {0, 0});
    key_frame(lv.frames, {-128, 128, -704, 0, -96, 96}, {0, 64});
    key_frame(lv.frames, {-128, 128, -704, 0, -96, 96}, {0, 0});
    key_frame(lv.frames, {-128, 128, -704, 0, -96, 96}, {256, 0});
    key_frame(lv.frames, {-256, 256, -512, 0, -256, 256}, {0});
    // The lever: animation 3 pulls its arm through three keyframes (a turn about x, a word
    // each), animation 4 swings it about y and lifts it, four keyframes two ticks apart, its
    // angles in the two-word form.
    constexpr std::size_t lever_size = 9 + 2 * 4;
    const int pull_at = static_cast<int>(lv.frames.size()) * 2;
    for (int k = 0; k < 3; ++k)
        lever_frame(lv.frames, {0, 0, 0},
                    {{0x8000}, {0x4000 | (4096 - 256 * k)}, {0, 0}, {0xC000 | 128 * k}},
                    lever_size);
    const int swing_at = static_cast<int>(lv.frames.size()) * 2;
    for (int k = 0; k < 4; ++k) {
        const int x = 16 * k, y = 64 * k, z = 1024 - 8 * k; // 1024ths of a turn
        lever_frame(lv.frames, {0, -64 * k, 32 * k},
                    {{x << 4 | y >> 6, (y & 0x3F) << 10 | (z & 0x3FF)},
                     {0x4000 | 3800},
                     {0x8000 | 1024 * k},
                     {0, 0}},
                    lever_size);
    }
    lv.animations = {
        animation(0, figure_frame, 1, 0, 1, 0, 0, 1, 0, 1, 0),
        animation(2 * 2 * figure_frame, figure_frame, 2, 2, 3, 0, 0, 1, 1, 0, 0),
        animation(2 * 4 * figure_frame, crate_frame, 0, 0, 0, 2, 0, 0, 0, 0, 0),
        animation(pull_at, lever_size, 1, 0, 2, 3, 0, 0, 0, 0, 0),
        animation(swing_at, lever_size, 2, 0, 6, 4, 0, 0, 0, 0, 0, 2),
    };
    lv.state_changes = {words_record({2, 1, 0}), words_record({1, 1, 1})};
    lv.anim_dispatches = {words_record({0, 1, 1, 2}), words_record({2, 3, 0, 0})};
    lv.anim_commands = {5, 0, 1}; // play sound 1 at frame 0
    lv.moveables = {moveable(0, 2, 3, 0, 0, 0), moveable(1, 1, 0, 0, 2 * 4 * figure_frame, 2),
                    moveable(2, 1, 1, 0, 0, 0xFFFF), moveable(4, 4, 5, 4, pull_at, 3)};
    lv.static_meshes = {static_mesh(0, 2, {-256, 256, -512, 0, -256, 256}),
                        static_mesh(1, 0, {-256, 256, -512, 0, -256, 256})};

    // Sprites: object 3, two alpha-tested cells of the object page.
    lv.sprite_prefix = {'S', 'P', 'R', 0};
    for (int cell : {12, 13}) {
        byte_writer w;
        w.u16(room_pages);
        w.u8(u8(cell % 4 * cell_side));
        w.u8(u8(cell / 4 * cell_side));
        w.u16(u16((cell_side - 1) * 256 + 255));
        w.u16(u16((cell_side - 1) * 256 + 255));
        // The sprite's pixel rectangle in its page: left, top, right, bottom.
        const int x = cell % 4 * cell_side, y = cell / 4 * cell_side;
        for (int v : {x, y, x + cell_side - 1, y + cell_side - 1})
            w.i16(i16(v));
        lv.sprite_textures.push_back(w.take());
    }
    {
        byte_writer w;
        w.i32(3);
        w.i16(-2);
        w.i16(0);
        lv.sprite_sequences.push_back(w.take());
    }

    lv.object_texture_prefix = {0, 'T', 'E', 'X', 0};
    lv.object_textures = object_textures();
    lv.animated_textures = {1, 1, u16(quad_texture(1, 8)), u16(quad_texture(1, 9))};

    // The figure in room 0 facing north; crates in rooms 1 and 3, the small cube in room 2, a
    // sprite in room 3.
    lv.items = {
        item(0, 0, sector_middle(0, 2, 2), 0),     item(1, 1, sector_middle(1, 3, 2), 0x4000),
        item(2, 2, sector_middle(2, 2, 3), 0),     item(1, 3, sector_middle(3, 3, 3), 0),
        item(3, 3, sector_middle(3, 1, 2), 0),     item(4, 1, sector_middle(1, 1, 1), 0x8000),
        item(4, 3, sector_middle(3, 2, 1), 0x2000)};
    {
        byte_writer w;
        w.i16(5);
        w.i16(1);
        const vec at = sector_middle(1, 2, 2);
        for (int v : {at.x, at.y, at.z})
            w.i32(v);
        w.i16(0);
        w.u16(0);
        w.i32(0);
        lv.ai_objects.push_back(w.take());
    }
    {
        byte_writer w;
        const vec at = sector_middle(2, 3, 1);
        for (int v : {at.x, -1536, at.z})
            w.i32(v);
        w.i16(2);
        w.u16(0);
        lv.cameras.push_back(w.take());
    }
    // A flyby through rooms 0, 1 and 3, looking at the figure.
    const vec figure = sector_middle(0, 2, 2);
    const std::pair<int, vec> flyby[] = {
        {0, sector_middle(0, 1, 4)}, {1, sector_middle(1, 2, 2)}, {3, sector_middle(3, 2, 3)}};
    for (std::size_t k = 0; k < std::size(flyby); ++k) {
        byte_writer w;
        const auto& [room, at] = flyby[k];
        for (int v : {at.x, -1024, at.z, figure.x, -512, figure.z})
            w.i32(v);
        w.u8(0);
        w.u8(u8(static_cast<int>(k)));
        w.u16(80 * 182); // field of view
        w.i16(0);
        w.u16(0);
        w.u16(2048);
        w.u16(0);
        w.u32(static_cast<std::uint32_t>(room));
        lv.flyby_cameras.push_back(w.take());
    }
    for (const auto& [room, sound] : {std::pair{0, 0}, std::pair{3, 2}}) {
        byte_writer w;
        const vec at = sector_middle(room, 2, 2);
        for (int v : {at.x, -512, at.z})
            w.i32(v);
        w.u16(u16(sound));
        w.u16(0);
        lv.sound_sources.push_back(w.take());
    }

    // Sounds 0 to 3 and 100; sound 3 picks one of two samples.
    lv.sound_map.fill(0xFF);
    const std::pair<int, int> sounds[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {100, 1}};
    for (const auto& [sound, info] : sounds) {
        lv.sound_map[static_cast<std::size_t>(2 * sound)] = u8(info);
        lv.sound_map[static_cast<std::size_t>(2 * sound + 1)] = 0;
    }
    lv.sample_infos = {words_record({0, 200, 10, 1 << 2}), words_record({1, 200, 10, 1 << 2}),
                       words_record({2, 160, 16, 1 << 2}), words_record({3, 220, 8, 2 << 2})};
    const std::vector<std::uint8_t> samples[] = {
        beep(22050, 16, 440, 4410), beep(22050, 16, 660, 3300), beep(22050, 16, 880, 2206),
        beep(11025, 8, 330, 2204), beep(11025, 8, 523, 1654)};
    byte_writer sample_list;
    sample_list.u32(static_cast<std::uint32_t>(std::size(samples)));
    for (const auto& wave : samples) {
        sample_list.u32(static_cast<std::uint32_t>(wave.size()));
        sample_list.u32(static_cast<std::uint32_t>(wave.size()));
        sample_list.bytes(wave);
        lv.sample_indices.push_back(static_cast<std::int32_t>(lv.sample_indices.size()));
    }
    lv.sample_data = sample_list.take();
    return lv;
}

void set_small_objects(gen_level& lv) {
    const int v = lv.version; // 1 to 5
    const bool legacy = v <= 2;
    // A base (lit by its normals), an arm (shaded, its ends of one colour) and a flag; a
    // pyramid with sides of one colour (shaded) for the static mesh.
    const mesh_builder meshes[] = {
        box_mesh(192, 128, 192, {0, 1, 2, 3, 2, 3}),
        box_mesh(32, 512, 32, {0x21, 0x42, 1, 1, 2, 2}, 3u),
        box_mesh(128, 96, 16, {3, 3, 0, 0, 1, 1}),
        pyramid_mesh(256, 384, 2, 0x63, true),
    };
    lv.mesh_data.clear();
    lv.mesh_pointers.clear();
    for (std::size_t i = 0; i < std::size(meshes); ++i) {
        lv.mesh_pointers.push_back(static_cast<std::int32_t>(lv.mesh_data.size() * 2));
        meshes[i].write(lv.mesh_data, v, i % 2 == 1);
        if (lv.mesh_data.size() % 2 != 0)
            lv.mesh_data.push_back(0); // each mesh on a 4-byte boundary
    }
    // The arm on the base (pushed), the flag on the base again (popped).
    lv.mesh_trees = {2, 0, -128, 0, 1, 160, -128, 0};

    // Two animations: two keyframes a tick apart, three keyframes two ticks apart. The base
    // turns about all three axes (two words), the arm about x and the flag about z (one word
    // each; versions 1-2: two words for every rotation, stored second word first).
    // Angles in 1024ths of a turn; a frame's words (versions 3-5; versions 1-2 give no size).
    const int frame_words = 9 + 2 + 1 + 1;
    lv.frames.clear();
    lv.animations.clear();
    for (int a = 0; a < 2; ++a) {
        const int keyframes = 2 + a, rate = 1 + a;
        lv.animations.push_back(animation(static_cast<int>(lv.frames.size()) * 2,
                                          legacy ? 0 : frame_words, a, 0, (keyframes - 1) * rate, a,
                                          0, 0, 0, 0, 0, rate, v));
        for (int k = 0; k < keyframes; ++k) {
            for (int w : {-192, 192, -768, 0, -192, 192, 0, -32 * k, 16 * k + 8 * a})
                lv.frames.push_back(i16(w));
            if (legacy)
                lv.frames.push_back(3); // the mesh count
            // The base's angles in 1024ths of a turn.
            const int x = 16 * k + 8 * a, y = 64 * k + 32 * a, z = 1000 - 40 * k;
            const auto three_axes = [&](int ax, int ay, int az) {
                const int w = ax << 4 | ay >> 6, w2 = (ay & 0x3F) << 10 | az;
                for (int word : legacy ? std::array{w2, w} : std::array{w, w2})
                    lv.frames.push_back(i16(word));
            };
            three_axes(x, y, z);
            const int arm = 1024 - 96 * (k + a), flag = 64 * k;
            if (legacy) {
                three_axes(arm % 1024, 0, 0);
                three_axes(0, 0, flag);
            } else {
                lv.frames.push_back(i16(0x4000 | (arm & 1023)));
                lv.frames.push_back(i16(0xC000 | flag));
            }
        }
    }
    constexpr int object = 7, static_id = 5;
    lv.moveables = {moveable(object, 3, 0, 0, 0, 0)};
    lv.static_meshes = {static_mesh(static_id, 3, {-256, 256, -384, 0, -256, 256})};

    // An item of the moveable and an instance of the static mesh in the first room.
    if (!lv.rooms.empty()) {
        gen_room& room = lv.rooms.front();
        const vec at{room.pos_x + 1024, room.y_bottom, room.pos_z + 1024};
        if (!lv.items.empty()) {
            lv.items.front() = item(object, 0, at, 0x4000);
        }
        if (!room.static_instances.empty()) {
            gen_record s = static_instance(at + vec{1024, 0, 0}, 0x2000, static_id);
            if (legacy)
                s.erase(s.begin() + 16, s.begin() + 18); // no second intensity
            room.static_instances.front() = s;
        }
    }
}

} // namespace levelgen
