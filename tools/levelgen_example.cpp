// Deterministic content: records, textures, samples and whole example levels.
// Integer arithmetic and exact binary fractions only, so the bytes are the same on every platform.
#include "tools/levelgen.h"

#include <algorithm>
#include <limits>

namespace levelgen {

namespace {

class rng {
  public:
    explicit rng(std::uint64_t seed)
        : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}

    std::uint32_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }
    std::size_t count(std::size_t lo, std::size_t spread) {
        return lo + below(static_cast<std::uint32_t>(spread));
    }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }
    std::uint16_t word() { return static_cast<std::uint16_t>(next()); }

  private:
    std::uint64_t state_;
};

std::uint8_t u8(std::uint32_t v) { return static_cast<std::uint8_t>(v); }
std::uint16_t u16(std::uint32_t v) { return static_cast<std::uint16_t>(v); }

/// The TRC room header words that are kept verbatim, drawn from r.
void draw_trc_header_words(gen_room& room, rng& r) {
    for (std::uint32_t* word : {&room.trc_extra_1, &room.trc_extra_2, &room.trc_extra_3,
                                &room.trc_extra_4, &room.trc_extra_5, &room.trc_extra_6,
                                &room.trc_extra_7, &room.trc_extra_8, &room.trc_extra_9}) {
        *word = r.next();
    }
    room.trc_extra_word = r.word();
    for (auto& b : room.trc_extra_block)
        b = r.byte();
}

/// The layer's bounds from its vertices, then its kept header words drawn from r.
void finish_layer_header(gen_layer& layer, rng& r) {
    float lo[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                   std::numeric_limits<float>::max()};
    float hi[3] = {std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest(),
                   std::numeric_limits<float>::lowest()};
    for (const auto& v : layer.vertices) {
        const float p[3] = {v.x, v.y, v.z};
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], p[c]);
            hi[c] = std::max(hi[c], p[c]);
        }
    }
    layer.bounds = {lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
    layer.extra_1 = r.word();
    layer.extra_2 = r.word();
    layer.extra_3 = r.next();
    layer.extra_4 = r.next();
    layer.extra_5 = r.next();
    layer.extra_6 = r.next();
    layer.extra_7 = r.next();
}

template <class T> std::vector<T> words(rng& r, std::size_t n) {
    std::vector<T> out(n);
    for (auto& v : out)
        v = static_cast<T>(r.next());
    return out;
}

/// `lo` to `lo + spread - 1` records of `size` bytes; the draws are sequenced.
gen_records recs(rng& r, std::size_t lo, std::size_t spread, std::size_t size) {
    const std::size_t n = r.count(lo, spread);
    return pattern_records(n, size, r.next());
}

/// Clears record bytes [from, to) that the version's files do not carry.
void clear_bytes(gen_records& recs, std::size_t from, std::size_t to) {
    for (auto& rec : recs)
        std::fill(rec.begin() + static_cast<std::ptrdiff_t>(from),
                  rec.begin() + static_cast<std::ptrdiff_t>(to), 0);
}

std::size_t room_light_size(int version) {
    return version <= 2 ? 18 : version <= 5 ? 24 : version == version_tr4 ? 46 : 85;
}

gen_room make_tr4_room(rng& r, std::size_t index, int version) {
    gen_room room;
    const bool legacy = version <= 2;
    const int cols = 2 + static_cast<int>(r.below(2));
    const int rows = 2 + static_cast<int>(r.below(2));
    room.pos_x = static_cast<std::int32_t>(index) * 8192;
    room.pos_z = static_cast<std::int32_t>(index % 2) * 4096;
    room.y_top = -2048 - 256 * static_cast<std::int32_t>(r.below(4));
    room.y_bottom = 256 * static_cast<std::int32_t>(r.below(2));

    auto at = [&](int i, int j) { return u16(j * (cols + 1) + i); };
    for (int j = 0; j <= rows; ++j) {
        for (int i = 0; i <= cols; ++i) {
            gen_vertex v;
            v.x = static_cast<std::int16_t>(i * 1024);
            v.y = static_cast<std::int16_t>(-256 * ((i + j + static_cast<int>(index)) % 3));
            v.z = static_cast<std::int16_t>(j * 1024);
            const int shade = (i * 5 + j * 3 + static_cast<int>(index)) % 32;
            v.lighting = static_cast<std::int16_t>(shade << 8 | r.byte());
            v.attributes = legacy ? 0x0010 : u16(r.below(2) ? 0x0010 : 0x2010);
            v.colour = legacy ? 0x3DEF : u16((31 - j * 4) << 10 | (i * 6) << 5 | (shade & 31));
            room.vertices.push_back(v);
        }
    }
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < cols; ++i) {
            if (i == 0 && j == 0) {
                room.triangles.push_back({{at(0, 0), at(1, 0), at(1, 1)}, u16(r.below(128))});
                room.triangles.push_back({{at(0, 0), at(1, 1), at(0, 1)}, u16(r.below(128))});
            } else {
                room.rectangles.push_back(
                    {{at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)}, u16(r.below(128))});
            }
        }
    }
    if (index % 2 == 1)
        room.triangles.push_back({{at(cols, 0), at(cols, 1), at(cols - 1, 1)}, u16(r.below(128))});

    room.sprites = recs(r, 0, 3, 4);
    room.portals = pattern_records(index == 0 ? 2 : 1, 32, r.next());
    room.z_sectors = u16(rows + 2);
    room.x_sectors = u16(cols + 2);
    room.sectors = pattern_records(std::size_t{room.z_sectors} * room.x_sectors, 8, r.next());
    room.ambient = r.word();
    if (version >= 3)
        room.ambient_2 = r.word();
    if (version == 3 || version == 4)
        room.ambient_3 = r.word();
    room.lights = recs(r, 1, 3, room_light_size(version));
    room.static_instances = recs(r, 1, 2, legacy ? 18 : 20);
    room.alternate_room = static_cast<std::int16_t>(index == 1 ? 2 : -1);
    room.flags = u16(r.below(4) | (index % 2) << 6);
    if (version >= 5)
        room.tail_bytes = {r.byte(), r.byte(), r.byte()};
    return room;
}

/// A TRC room of 2 or 3 layers side by side. Each layer is a grid of cells (rectangles, one
/// cell split into two triangles) whose vertices carry a layer-dependent fraction that the
/// integer conversion drops: the first column of a layer lands on the last column of the layer
/// before, and each layer holds one more vertex on the position of its first one. Even rooms
/// have an odd triangle total.
gen_room make_trc_room(rng& r, std::size_t index) {
    gen_room room;
    const int num_layers = 2 + static_cast<int>(index % 2);
    const int cols = 2 + static_cast<int>(r.below(2));
    const int rows = 2 + static_cast<int>(r.below(2));
    room.pos_x = static_cast<std::int32_t>(index) * 10240;
    room.pos_y = -256 * static_cast<std::int32_t>(r.below(4));
    room.pos_z = static_cast<std::int32_t>(index % 2) * 5120;
    room.y_top = -2560 - 256 * static_cast<std::int32_t>(r.below(3));
    room.y_bottom = 256 * static_cast<std::int32_t>(r.below(2));

    auto height = [&](int gi, int j) {
        return -256 * ((gi * 3 + j * 5 + static_cast<int>(index)) % 4);
    };
    auto at = [&](int i, int j) { return u16(j * (cols + 1) + i); };
    const std::uint16_t dup = u16((cols + 1) * (rows + 1));

    for (int k = 0; k < num_layers; ++k) {
        gen_layer layer;
        const float frac = 0.25f * static_cast<float>(k);
        auto vertex = [&](int gi, int j, float f) {
            gen_layer_vertex v;
            v.x = static_cast<float>(gi * 1024) + f;
            v.y = static_cast<float>(height(gi, j)) - f; // heights are <= 0: truncation keeps them
            v.z = static_cast<float>(j * 1024) + f;
            v.extra = {r.next() & 0xFFFFu, u16(k), static_cast<std::uint32_t>(index)};
            v.b = u8(40 + gi * 24);
            v.g = u8(60 + j * 40);
            v.r = u8(90 + k * 60 + static_cast<int>(r.below(8)));
            v.a = u8(r.below(2) ? 255 : 128);
            return v;
        };
        for (int j = 0; j <= rows; ++j)
            for (int i = 0; i <= cols; ++i)
                layer.vertices.push_back(vertex(k * cols + i, j, frac));
        layer.vertices.push_back(vertex(k * cols, 0, 0.75f)); // same position as vertex 0

        for (int j = 0; j < rows; ++j) {
            for (int i = 0; i < cols; ++i) {
                if (i == 0 && j == 0) {
                    layer.triangles.push_back(
                        {{at(0, 0), at(1, 0), at(1, 1)}, u16(r.below(256)), r.word()});
                    layer.triangles.push_back(
                        {{dup, at(1, 1), at(0, 1)}, u16(r.below(256)), r.word()});
                } else {
                    layer.rectangles.push_back(
                        {{at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)},
                         u16(r.below(256)),
                         r.word()});
                }
            }
        }
        if (k == 0 && index % 2 == 0)
            layer.triangles.push_back(
                {{at(cols, 0), at(cols, 1), at(cols - 1, 1)}, u16(r.below(256)), r.word()});

        finish_layer_header(layer, r);
        room.layers.push_back(std::move(layer));
    }

    room.z_sectors = u16(rows + 2);
    room.x_sectors = u16(num_layers * cols + 2);
    room.sectors = pattern_records(std::size_t{room.z_sectors} * room.x_sectors, 8, r.next());
    room.portals = recs(r, 1, 2, 32);
    room.lights = recs(r, 2, 3, 85);
    room.aux_records = recs(r, 1, 3, 36);
    room.static_instances = recs(r, 1, 3, 20);
    room.room_colour = {r.byte(), r.byte(), r.byte(), r.byte()};
    room.flags = u16(r.below(4) | (index % 2) << 3);
    draw_trc_header_words(room, r);
    return room;
}

} // namespace

gen_records pattern_records(std::size_t count, std::size_t size, std::uint32_t seed) {
    rng r(seed);
    const std::uint32_t base = r.next();
    gen_records out(count, gen_record(size));
    for (std::size_t i = 0; i < count; ++i) {
        for (auto& b : out[i])
            b = r.byte();
        // Distinct leading word, so that no two records are alike.
        const std::uint32_t tag = base + static_cast<std::uint32_t>(i);
        if (size >= 1)
            out[i][0] = u8(tag);
        if (size >= 2)
            out[i][1] = u8(tag >> 8);
    }
    return out;
}

std::vector<std::uint8_t> pattern_bytes(std::size_t size, std::uint32_t seed) {
    rng r(seed);
    std::vector<std::uint8_t> out(size);
    for (auto& b : out)
        b = r.byte();
    return out;
}

std::vector<std::uint8_t> textile_pixels(std::uint32_t count, int bytes_per_texel,
                                         std::uint32_t seed) {
    std::vector<std::uint8_t> out;
    out.reserve(std::size_t{count} * 65536 * static_cast<std::size_t>(bytes_per_texel));
    for (std::uint32_t t = 0; t < count; ++t) {
        for (std::uint32_t y = 0; y < 256; ++y) {
            for (std::uint32_t x = 0; x < 256; ++x) {
                const bool tile = (((x >> 5) ^ (y >> 5) ^ t) & 1) != 0;
                switch (bytes_per_texel) {
                case 1:
                    out.push_back(u8((x >> 2) + (y >> 2) + t * 16 + seed + (tile ? 0x80 : 0)));
                    break;
                case 2: {
                    const std::uint32_t c = 0x8000u | (tile ? 26u : 6u) << 10 | (y >> 3) << 5 |
                                            (((x >> 3) + t + seed) & 31);
                    out.push_back(u8(c));
                    out.push_back(u8(c >> 8));
                    break;
                }
                default:
                    out.push_back(u8(x + t * 40 + seed));
                    out.push_back(u8(y + seed * 3));
                    out.push_back(tile ? 0xD0 : 0x30);
                    out.push_back(0xFF);
                    break;
                }
            }
        }
    }
    return out;
}

void set_textiles(gen_level& level, std::uint32_t count, std::uint32_t seed) {
    level.textiles8.clear();
    level.textiles16.clear();
    level.textiles32.clear();
    if (level.version <= 5)
        level.textiles8 = textile_pixels(count, 1, seed);
    if (level.version >= 3)
        level.textiles16 = textile_pixels(count, 2, seed);
    if (level.version >= version_tr4)
        level.textiles32 = textile_pixels(count, 4, seed);
}

std::vector<std::uint8_t> sample_bytes(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> out(size);
    const std::size_t segment = 1024;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t seg = i / segment;
        const std::uint32_t period = 16 + static_cast<std::uint32_t>((seg * 7 + seed) % 48);
        const std::uint32_t phase = static_cast<std::uint32_t>(i % period);
        const int tri =
            static_cast<int>(phase < period / 2 ? phase : period - phase);    // 0 .. period/2
        const int amp = 100 - static_cast<int>((i % segment) * 90 / segment); // decaying envelope
        out[i] =
            u8(128 + (tri * 4 - static_cast<int>(period)) * amp / static_cast<int>(period) / 2);
    }
    return out;
}

gen_level make_example_level(int version, std::uint32_t seed) {
    gen_level lv;
    lv.version = version;
    const bool trc = version == version_trc;
    const bool old = version <= 5;
    rng r(std::uint64_t{seed} << 4 | static_cast<std::uint32_t>(version));

    const std::uint32_t textiles = 1 + seed % 2;
    set_textiles(lv, textiles, seed);
    if (!old) {
        lv.num_room_textiles = u16(textiles);
        lv.num_object_textiles = u16(r.below(3));
        lv.num_bump_textiles = u16(r.below(2));
        lv.textiles_misc = textile_pixels(1, 1, seed + 7);
    } else {
        lv.palette8.resize(768);
        for (std::size_t i = 0; i < 256; ++i) {
            lv.palette8[3 * i] = u8(i / 4);
            lv.palette8[3 * i + 1] = u8(63 - i / 4);
            lv.palette8[3 * i + 2] = u8((i * 3 + seed) % 64);
        }
        if (version >= 3) {
            lv.palette16.resize(1024);
            for (std::size_t i = 0; i < 256; ++i) {
                lv.palette16[4 * i] = u8(i);
                lv.palette16[4 * i + 1] = u8(255 - i);
                lv.palette16[4 * i + 2] = u8(i * 5 + seed);
                lv.palette16[4 * i + 3] = 0;
            }
        }
        lv.light_map.resize(8192);
        for (std::size_t i = 0; i < lv.light_map.size(); ++i)
            lv.light_map[i] = u8((i % 256) * (32 - i / 256) / 32); // 32 shades of each colour
    }
    if (!trc)
        lv.level_data_prefix = r.next();
    if (trc)
        for (auto& b : lv.trc_header_block)
            b = r.byte();

    const std::size_t num_rooms = r.count(3, 2);
    for (std::size_t i = 0; i < num_rooms; ++i)
        lv.rooms.push_back(trc ? make_trc_room(r, i) : make_tr4_room(r, i, version));

    lv.floor_data = words<std::uint16_t>(r, r.count(20, 40));
    lv.mesh_data = words<std::uint16_t>(r, r.count(60, 60));
    for (std::size_t i = 0, n = r.count(5, 6); i < n; ++i)
        lv.mesh_pointers.push_back(static_cast<std::int32_t>(i * 4 * r.count(10, 20)));
    lv.animations = recs(r, 4, 4, old ? 32 : 40);
    lv.state_changes = recs(r, 3, 4, 6);
    lv.anim_dispatches = recs(r, 3, 4, 8);
    lv.anim_commands = words<std::uint16_t>(r, r.count(8, 8));
    lv.mesh_trees = words<std::int32_t>(r, r.count(8, 8));
    lv.frames = words<std::int16_t>(r, r.count(30, 40));
    lv.moveables = recs(r, 3, 4, trc ? 20 : 18);
    lv.static_meshes = recs(r, 2, 3, 32);
    if (!old) {
        lv.sprite_prefix = {r.byte(), r.byte(), r.byte(), u8(trc ? r.byte() : 0)};
    }
    lv.sprite_textures = recs(r, 2, 4, 16);
    lv.sprite_sequences = recs(r, 1, 3, 8);
    lv.cameras = recs(r, 1, 3, 16);
    if (!old)
        lv.flyby_cameras = recs(r, 2, 3, 40);
    lv.sound_sources = recs(r, 1, 3, 16);
    const std::size_t num_boxes = r.count(3, 5);
    lv.boxes = pattern_records(num_boxes, version <= 2 ? 20 : 8, r.next());
    lv.overlaps = words<std::uint16_t>(r, r.count(4, 8));
    for (std::size_t z = 0; z < lv.zones.size(); ++z) {
        const bool carried = version > 2 || !(z == 2 || z == 3 || z == 7 || z == 8);
        lv.zones[z] =
            carried ? words<std::uint16_t>(r, num_boxes) : std::vector<std::uint16_t>(num_boxes, 0);
    }
    lv.animated_textures = words<std::uint16_t>(r, r.count(3, 6));
    if (!old) {
        lv.object_texture_prefix = {r.byte(), r.byte(), r.byte(), r.byte(), u8(trc ? r.byte() : 0)};
    }
    lv.object_textures = recs(r, 4, 6, 40);
    if (old) {
        clear_bytes(lv.object_textures, 4, 6);
        clear_bytes(lv.object_textures, 22, 40);
    } else if (!trc) {
        clear_bytes(lv.object_textures, 38, 40);
    }
    lv.items = recs(r, 2, 4, 24);
    if (version <= 2) {
        clear_bytes(lv.items, 19, 20); // high bytes that the 22-byte form drops
        clear_bytes(lv.items, 21, 22);
    }
    if (old)
        lv.cinematic_frames = recs(r, 2, 3, 16);
    else
        lv.ai_objects = recs(r, 1, 3, 24);
    const std::size_t demo_size = r.count(5, 20);
    lv.demo_data = pattern_bytes(demo_size, r.next());
    const std::size_t sound_map_bytes = version <= 2 ? 512 : trc ? 900 : 740;
    for (std::size_t i = 0; i < sound_map_bytes; i += 2) {
        const std::uint16_t entry = r.below(4) == 0 ? u16(r.below(64)) : 0xFFFF;
        lv.sound_map[i] = u8(entry);
        lv.sound_map[i + 1] = u8(entry >> 8);
    }
    lv.sample_infos = recs(r, 2, 4, 8);
    if (version <= 2 || !old)
        lv.sample_data = sample_bytes(r.count(3000, 4000), seed);
    for (std::size_t i = 0, offset = 0; i < lv.sample_infos.size();
         ++i, offset += r.count(400, 600))
        lv.sample_indices.push_back(static_cast<std::int32_t>(offset));
    // Objects that read in the older versions' own forms (the newer ones keep random bytes).
    if (old)
        set_small_objects(lv);
    return lv;
}

namespace {

constexpr std::size_t large_rooms = 250;
constexpr int large_layers = 3;
constexpr std::int32_t large_cell = 512;       // keeps three layers inside 16-bit x
constexpr std::size_t large_layer_faces = 500; // rectangles and triangles of a layer
constexpr std::size_t large_floor_words = 500000;
constexpr std::size_t large_mesh_and_animation_bytes = std::size_t{4} << 20;
constexpr std::size_t large_sample_bytes = std::size_t{8} << 20;

/// Exactly `picked` of `total` items, spread evenly: true for item i when it is one of them.
bool spread_pick(std::size_t i, std::size_t picked, std::size_t total) {
    return (i + 1) * picked / total != i * picked / total;
}

/// Integer triangle wave with period 4 * amp, from -amp to amp.
int wave(int t, int amp) {
    const int p = ((t % (4 * amp)) + 4 * amp) % (4 * amp);
    return p < 2 * amp ? p - amp : 3 * amp - p;
}

/// Layer k of a large room: a terrain patch of cols x rows cells whose first column stands on
/// the last column of layer k - 1. About one grid vertex in seven is stored twice (a colour
/// seam: same integer position, other fraction and colour); decal rectangles over the cells use
/// those copies. A third of the cells are split into two triangles.
gen_layer make_large_layer(rng& r, std::size_t room, int k, int cols, int rows) {
    gen_layer layer;
    const int x0 = k * cols;
    const auto height = [&](int gi, int j) {
        return -64 * (8 + wave(gi * 3 + static_cast<int>(room), 8) + wave(j * 5, 4)); // <= 0
    };
    const auto vertex = [&](int gi, int j, float frac, int tint) {
        gen_layer_vertex v;
        v.x = static_cast<float>(gi * large_cell) + frac;
        v.y = static_cast<float>(height(gi, j)) - frac; // heights are <= 0: truncation keeps them
        v.z = static_cast<float>(j * large_cell) + frac;
        v.extra = {r.next() & 0xFFFFu, u16(k), static_cast<std::uint32_t>(room)};
        const int light = 128 + wave(gi * 7 + j * 11, 64);
        v.b = u8(light / 2 + tint);
        v.g = u8(light - tint);
        v.r = u8(light + 40);
        v.a = 255;
        return v;
    };

    const int stride = cols + 1;
    std::vector<std::uint16_t> copy_of; // grid vertex -> its second copy, or the vertex itself
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= cols; ++i)
            layer.vertices.push_back(vertex(x0 + i, j, 0.25f * static_cast<float>(k), 0));
    for (int j = 0; j <= rows; ++j) {
        for (int i = 0; i <= cols; ++i) {
            const auto grid = u16(j * stride + i);
            copy_of.push_back(grid);
            if ((i + 3 * j + k) % 7 == 0) {
                copy_of.back() = u16(layer.vertices.size());
                layer.vertices.push_back(vertex(x0 + i, j, 0.75f, 24));
            }
        }
    }

    const auto at = [&](int i, int j) { return u16(j * stride + i); };
    const std::size_t cells = static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows);
    std::size_t split = 0;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < cols; ++i) {
            const std::uint16_t texture = u16(r.below(2048));
            if ((i + 2 * j + static_cast<int>(room)) % 3 == 0) {
                ++split;
                layer.triangles.push_back(
                    {{at(i, j), at(i + 1, j), at(i + 1, j + 1)}, texture, r.word()});
                layer.triangles.push_back(
                    {{at(i, j), at(i + 1, j + 1), at(i, j + 1)}, texture, r.word()});
            } else {
                layer.rectangles.push_back(
                    {{at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)}, texture, r.word()});
            }
        }
    }
    const std::size_t grid_faces = cells + split;
    const std::size_t decals =
        large_layer_faces > grid_faces ? std::min(cells, large_layer_faces - grid_faces) : 0;
    for (std::size_t c = 0; c < cells; ++c) {
        if (!spread_pick(c, decals, cells))
            continue;
        const int i = static_cast<int>(c % static_cast<std::size_t>(cols));
        const int j = static_cast<int>(c / static_cast<std::size_t>(cols));
        layer.rectangles.push_back({{copy_of[at(i, j + 1)], copy_of[at(i + 1, j + 1)],
                                     copy_of[at(i + 1, j)], copy_of[at(i, j)]},
                                    u16(2048 + r.below(256)),
                                    r.word()});
    }

    finish_layer_header(layer, r);
    return layer;
}

gen_room make_large_room(rng& r, std::size_t index) {
    gen_room room;
    const int cols = 16 + static_cast<int>(r.below(3));
    const int rows = 14 + static_cast<int>(r.below(3));
    room.pos_x = static_cast<std::int32_t>(index % 16) * 30720;
    room.pos_z = static_cast<std::int32_t>(index / 16) * 10240;
    room.pos_y = -256 * static_cast<std::int32_t>(r.below(8));
    room.y_top = -2048 - 256 * static_cast<std::int32_t>(r.below(4));
    room.y_bottom = 0;
    for (int k = 0; k < large_layers; ++k)
        room.layers.push_back(make_large_layer(r, index, k, cols, rows));
    if (index % 2 == 0) { // an odd triangle total: the face filler
        auto& first = room.layers.front();
        first.triangles.push_back({{0, 1, u16(cols + 2)}, u16(r.below(2048)), r.word()});
    }
    room.z_sectors = u16(rows / 2 + 2);
    room.x_sectors = u16(large_layers * cols / 2 + 2);
    room.sectors = pattern_records(std::size_t{room.z_sectors} * room.x_sectors, 8, r.next());
    room.portals = recs(r, 1, 4, 32);
    room.lights = recs(r, 8, 13, 85);
    room.aux_records = recs(r, 1, 3, 36);
    room.static_instances = recs(r, 5, 16, 20);
    room.room_colour = {r.byte(), r.byte(), r.byte(), 0};
    room.flags = u16(r.below(4) | (index % 5 == 0 ? 1u : 0u));
    draw_trc_header_words(room, r);
    return room;
}

/// Floor data as sector lists: slopes, portals and triggers with their actions, the last
/// function of each list flagged with bit 15; word 0 is the usual empty entry.
std::vector<std::uint16_t> large_floor_data(rng& r, std::size_t n) {
    std::vector<std::uint16_t> out{0};
    out.reserve(n + 16);
    while (out.size() < n) {
        std::size_t last = out.size();
        if (r.below(3) == 0) {
            last = out.size();
            out.push_back(0x0002);
            out.push_back(u16(r.below(5) << 8 | r.below(5)));
        }
        if (r.below(5) == 0) {
            last = out.size();
            out.push_back(0x0001);
            out.push_back(u16(r.below(large_rooms)));
        }
        if (r.below(4) == 0) {
            last = out.size();
            out.push_back(u16(0x0004 | r.below(12) << 8));
            out.push_back(u16(0x3E00 | r.below(64)));
            const std::size_t actions = 1 + r.below(4);
            for (std::size_t a = 0; a < actions; ++a)
                out.push_back(
                    u16((a + 1 == actions ? 0x8000u : 0u) | r.below(8) << 10 | r.below(800)));
        }
        if (last == out.size()) {
            out.push_back(0x0003);
            out.push_back(u16(r.below(3) << 8 | r.below(3)));
        }
        out[last] = u16(out[last] | 0x8000);
    }
    out.resize(n);
    return out;
}

/// Meshes: centre, radius, vertices around a lumpy shape, normals, textured rectangles and
/// triangles. Fills `words` words; the pointers are the byte offsets of the meshes.
void large_meshes(rng& r, std::size_t words, std::vector<std::uint16_t>& data,
                  std::vector<std::int32_t>& pointers) {
    data.reserve(words);
    while (data.size() < words) {
        pointers.push_back(static_cast<std::int32_t>(data.size() * 2));
        const int n = 16 + static_cast<int>(r.below(104));
        const int size = 64 + static_cast<int>(r.below(448));
        for (int c = 0; c < 3; ++c)
            data.push_back(u16(wave(static_cast<int>(r.below(64)), 32)));
        data.push_back(u16(size * 3 / 2));
        data.push_back(0);
        data.push_back(u16(n));
        for (int v = 0; v < n; ++v) {
            data.push_back(u16(wave(v * 13, size)));
            data.push_back(u16(wave(v * 7 + size, size) - size / 2));
            data.push_back(u16(wave(v * 29, size / 2 + 1)));
        }
        data.push_back(u16(n));
        for (int v = 0; v < n; ++v) {
            data.push_back(u16(wave(v * 13, 16) * 1024));
            data.push_back(u16(wave(v * 7, 16) * 1024));
            data.push_back(u16(wave(v * 29, 16) * 1024));
        }
        const int rects = n / 2, tris = n / 3;
        data.push_back(u16(rects));
        for (int f = 0; f < rects; ++f) {
            for (int c = 0; c < 4; ++c)
                data.push_back(u16((f * 2 + c) % n));
            data.push_back(u16(r.below(3000)));
        }
        data.push_back(u16(tris));
        for (int f = 0; f < tris; ++f) {
            for (int c = 0; c < 3; ++c)
                data.push_back(u16((f * 3 + c) % n));
            data.push_back(u16(0x8000 | r.below(3000)));
        }
    }
    data.resize(words);
}

/// Animation frames: a bounding box, an offset and two rotation words per bone, moving
/// smoothly from frame to frame.
std::vector<std::int16_t> large_frames(std::size_t words) {
    std::vector<std::int16_t> out;
    out.reserve(words + 64);
    for (int frame = 0; out.size() < words; ++frame) {
        const int bones = 8 + frame / 40 % 12;
        for (int c = 0; c < 3; ++c)
            out.push_back(static_cast<std::int16_t>(-200 - 40 * c + wave(frame, 20)));
        for (int c = 0; c < 3; ++c)
            out.push_back(static_cast<std::int16_t>(200 + 40 * c + wave(frame, 20)));
        for (int c = 0; c < 3; ++c)
            out.push_back(static_cast<std::int16_t>(wave(frame * (c + 1), 64)));
        for (int b = 0; b < bones; ++b) {
            out.push_back(
                static_cast<std::int16_t>(0x4000 | (wave(frame * 3 + b * 17, 256) + 512)));
            out.push_back(static_cast<std::int16_t>((wave(frame * 5 + b * 11, 512) + 512) << 4));
        }
    }
    out.resize(words);
    return out;
}

} // namespace

gen_level make_large_level(std::uint32_t seed) {
    gen_level lv;
    lv.version = version_trc;
    rng r(std::uint64_t{seed} << 8 | 0x7Fu);

    set_textiles(lv, 64, seed);
    lv.num_room_textiles = 44;
    lv.num_object_textiles = 16;
    lv.num_bump_textiles = 4;
    lv.textiles_misc = textile_pixels(16, 1, seed + 7); // 1 MiB
    for (auto& b : lv.trc_header_block)
        b = r.byte();

    for (std::size_t i = 0; i < large_rooms; ++i)
        lv.rooms.push_back(make_large_room(r, i));

    lv.floor_data = large_floor_data(r, large_floor_words);

    // Meshes and animations share the budget; the frames take what the others leave.
    lv.animations = pattern_records(6000, 40, r.next());
    lv.state_changes = pattern_records(3000, 6, r.next());
    lv.anim_dispatches = pattern_records(4000, 8, r.next());
    lv.anim_commands = words<std::uint16_t>(r, 20000);
    lv.mesh_trees = words<std::int32_t>(r, 8192);
    large_meshes(r, 1310720, lv.mesh_data, lv.mesh_pointers);
    const std::size_t taken = lv.mesh_data.size() * 2 + lv.mesh_pointers.size() * 4 +
                              lv.animations.size() * 40 + lv.state_changes.size() * 6 +
                              lv.anim_dispatches.size() * 8 + lv.anim_commands.size() * 2 +
                              lv.mesh_trees.size() * 4;
    lv.frames = large_frames((large_mesh_and_animation_bytes - taken) / 2);

    lv.moveables = pattern_records(120, 20, r.next());
    lv.static_meshes = pattern_records(80, 32, r.next());
    lv.sprite_prefix = {r.byte(), r.byte(), r.byte(), r.byte()};
    lv.sprite_textures = pattern_records(256, 16, r.next());
    lv.sprite_sequences = pattern_records(40, 8, r.next());
    lv.cameras = pattern_records(60, 16, r.next());
    lv.flyby_cameras = pattern_records(40, 40, r.next());
    lv.sound_sources = pattern_records(120, 16, r.next());
    const std::size_t boxes = 1500;
    lv.boxes = pattern_records(boxes, 8, r.next());
    lv.overlaps = words<std::uint16_t>(r, 5000);
    for (auto& zone : lv.zones)
        zone = words<std::uint16_t>(r, boxes);
    lv.animated_textures = words<std::uint16_t>(r, 200);
    lv.object_texture_prefix = {r.byte(), r.byte(), r.byte(), r.byte(), r.byte()};
    lv.object_textures = pattern_records(3000, 40, r.next());
    lv.items = pattern_records(800, 24, r.next());
    lv.ai_objects = pattern_records(60, 24, r.next());
    lv.demo_data = pattern_bytes(64, r.next());
    for (std::size_t i = 0; i < lv.sound_map.size(); i += 2) {
        const std::uint16_t entry = r.below(3) == 0 ? u16(r.below(370)) : 0xFFFF;
        lv.sound_map[i] = u8(entry);
        lv.sound_map[i + 1] = u8(entry >> 8);
    }
    lv.sample_infos = pattern_records(370, 8, r.next());
    lv.sample_data = sample_bytes(large_sample_bytes, seed);
    for (std::size_t i = 0; i < lv.sample_infos.size(); ++i)
        lv.sample_indices.push_back(
            static_cast<std::int32_t>(i * (large_sample_bytes / lv.sample_infos.size())));
    return lv;
}

std::vector<std::array<std::int16_t, 3>> crowded_positions(std::size_t count) {
    std::vector<std::array<std::int16_t, 3>> out;
    out.reserve(count);
    // Any slot fills the same way; slot 0 is found among the first few million keys.
    for (std::uint32_t z = 0; out.size() < count && z < 65536; ++z) {
        for (std::uint32_t y = 0; out.size() < count && y < 65536; ++y) {
            for (std::uint32_t x = 0; out.size() < count && x < 4096; ++x) {
                const std::uint64_t key =
                    std::uint64_t{x} | std::uint64_t{y} << 16 | std::uint64_t{z} << 32;
                if (((key * 0x9E3779B97F4A7C15ull) >> 52) == 0)
                    out.push_back({static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                   static_cast<std::int16_t>(z)});
            }
        }
    }
    return out;
}

gen_level make_crowded_level(std::size_t rooms) {
    constexpr std::size_t vertices = 1500;
    const auto positions = crowded_positions(vertices);
    gen_level lv;
    lv.version = version_trc;
    rng r(0xC0111DEull);
    for (std::size_t i = 0; i < rooms; ++i) {
        gen_room room;
        room.z_sectors = 2;
        room.x_sectors = 2;
        room.y_top = -1024;
        gen_layer layer;
        for (const auto& p : positions) {
            gen_layer_vertex v;
            v.x = p[0];
            v.y = p[1];
            v.z = p[2];
            v.b = r.byte();
            v.g = r.byte();
            v.r = r.byte();
            v.a = 255;
            layer.vertices.push_back(v);
        }
        const auto c = [&] { return u16(r.below(vertices)); };
        for (std::size_t f = 0; f < 2000; ++f)
            layer.rectangles.push_back({{c(), c(), c(), c()}, u16(r.below(2048)), 0});
        for (std::size_t f = 0; f < 1250; ++f)
            layer.triangles.push_back({{c(), c(), c()}, u16(r.below(2048)), 0});
        finish_layer_header(layer, r);
        room.layers.push_back(std::move(layer));
        lv.rooms.push_back(std::move(room));
    }
    return lv;
}

} // namespace levelgen
