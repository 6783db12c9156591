#include "tools/levelgen.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace levelgen {

namespace {

constexpr std::uint32_t separator = 0xCDCDCDCDu;

/// Element sizes that depend on the level version.
struct sizes {
    std::size_t room_light, static_instance, animation, moveable, box, sound_map;
};

sizes sizes_of(int version) {
    switch (version) {
    case 1:
    case 2:
        return {18, 18, 32, 18, 20, 512};
    case 3:
    case 4:
    case 5:
        return {24, 20, 32, 18, 8, 740};
    case version_tr4:
        return {46, 20, 40, 18, 8, 740};
    case version_trc:
        return {85, 20, 40, 20, 8, 900};
    default:
        throw std::invalid_argument("level version must be 1 to 7");
    }
}

std::uint16_t low16(std::size_t n) { return static_cast<std::uint16_t>(n); }
std::uint32_t low32(std::size_t n) { return static_cast<std::uint32_t>(n); }

void put_records(byte_writer& w, const gen_records& recs, std::size_t size) {
    for (const auto& r : recs)
        w.record(r, size);
}

void counted(byte_writer& w, const gen_records& recs, std::size_t size) {
    w.u32(low32(recs.size()));
    put_records(w, recs, size);
}

void counted(byte_writer& w, const std::vector<std::uint16_t>& words) {
    w.u32(low32(words.size()));
    for (auto v : words)
        w.u16(v);
}

void counted(byte_writer& w, const std::vector<std::int16_t>& words) {
    w.u32(low32(words.size()));
    for (auto v : words)
        w.i16(v);
}

void counted(byte_writer& w, const std::vector<std::int32_t>& values) {
    w.u32(low32(values.size()));
    for (auto v : values)
        w.i32(v);
}

/// Section offsets for the layout, and the byte ranges that a reader skips (for scrambling).
struct marker {
    byte_writer& w;
    gen_layout* layout;
    std::vector<std::pair<std::size_t, std::size_t>> skipped;

    void operator()(const std::string& name) const {
        if (layout)
            layout->level[name] = w.position();
    }
    /// The next n bytes are skipped by a reader.
    void skip(std::size_t n) { skipped.emplace_back(w.position(), n); }
    void skip_at(std::size_t at, std::size_t n) { skipped.emplace_back(at, n); }
};

/// Overwrites the skipped ranges with deterministic junk derived from the position.
void scramble(byte_writer& w, const marker& mark) {
    std::vector<std::uint8_t> bytes = w.take();
    for (const auto& [at, n] : mark.skipped)
        for (std::size_t i = at; i < at + n; ++i)
            bytes[i] = static_cast<std::uint8_t>(0x3B + i * 0x9D + (i >> 8));
    w.bytes(bytes);
}

// ---- TR4 and older rooms -----------------------------------------------------------------

void write_tr4_room(byte_writer& w, const gen_room& room, int version, marker& mark) {
    const sizes s = sizes_of(version);
    const bool legacy = version <= 2;
    w.i32(room.pos_x);
    w.i32(room.pos_z);
    w.i32(room.y_bottom);
    w.i32(room.y_top);
    const std::size_t vertex_words = legacy ? 4 : 6;
    const std::size_t words = 4 + vertex_words * room.vertices.size() + 5 * room.rectangles.size() +
                              4 * room.triangles.size() + 2 * room.sprites.size();
    if (!room.num_data_words)
        mark.skip(4);
    w.u32(room.num_data_words.value_or(low32(words)));

    w.u16(low16(room.vertices.size()));
    for (const auto& v : room.vertices) {
        w.i16(v.x);
        w.i16(v.y);
        w.i16(v.z);
        w.i16(v.lighting);
        if (!legacy) {
            w.u16(v.attributes);
            w.u16(v.colour);
        }
    }
    w.u16(low16(room.rectangles.size()));
    for (const auto& r : room.rectangles) {
        for (auto c : r.corners)
            w.u16(c);
        w.u16(r.texture);
    }
    w.u16(low16(room.triangles.size()));
    for (const auto& t : room.triangles) {
        for (auto c : t.corners)
            w.u16(c);
        w.u16(t.texture);
    }
    w.u16(low16(room.sprites.size()));
    put_records(w, room.sprites, 4);
    w.u16(low16(room.portals.size()));
    put_records(w, room.portals, 32);
    w.u16(room.z_sectors);
    w.u16(room.x_sectors);
    const std::size_t num_sectors = std::size_t{room.z_sectors} * room.x_sectors;
    for (std::size_t i = 0; i < num_sectors; ++i)
        w.record(i < room.sectors.size() ? std::span<const std::uint8_t>(room.sectors[i])
                                         : std::span<const std::uint8_t>(),
                 8);
    w.u16(room.ambient);
    if (version >= 3)
        w.u16(room.ambient_2);
    if (version == 3 || version == 4)
        w.u16(room.ambient_3);
    w.u16(low16(room.lights.size()));
    put_records(w, room.lights, s.room_light);
    w.u16(low16(room.static_instances.size()));
    put_records(w, room.static_instances, s.static_instance);
    w.i16(room.alternate_room);
    w.u16(room.flags);
    if (version >= 5)
        w.bytes(room.tail_bytes);
}

// ---- TRC rooms ---------------------------------------------------------------------------

void write_layer_header(byte_writer& w, const gen_layer& layer) {
    w.u32(layer.num_vertices.value_or(low32(layer.vertices.size())));
    w.u16(layer.extra_1);
    w.u16(low16(layer.rectangles.size()));
    w.u16(low16(layer.triangles.size()));
    w.u16(layer.extra_2);
    w.u32(layer.extra_3);
    for (float b : layer.bounds)
        w.f32(b);
    w.u32(layer.extra_4);
    w.u32(layer.extra_5);
    w.u32(layer.extra_6);
    w.u32(layer.extra_7);
}

/// One TRC room: the 216-byte header, then the data part with every layer, sizes and offsets
/// computed from what was written (offsets count from the start of the data part).
void write_trc_room(byte_writer& w, const gen_room& room, std::size_t index, marker& mark) {
    std::size_t total_rects = 0, total_tris = 0;
    for (const auto& layer : room.layers) {
        total_rects += layer.rectangles.size();
        total_tris += layer.triangles.size();
    }

    const std::size_t marker_at = w.mark();
    w.text("XELA");
    const std::size_t size_at = w.mark();
    w.u32(0);
    w.u32(separator);
    const std::size_t sectors_end_at = w.mark();
    w.u32(0);
    const std::size_t sectors_start_at = w.mark();
    w.u32(0);
    w.u32(room.trc_extra_1);
    const std::size_t portals_end_at = w.mark();
    w.u32(0);
    mark.skip_at(marker_at, 4);
    mark.skip_at(size_at + 4, 12);
    mark.skip_at(portals_end_at, 4);
    w.i32(room.pos_x);
    w.i32(room.pos_y);
    w.i32(room.pos_z);
    w.i32(room.y_bottom);
    w.i32(room.y_top);
    w.u16(room.z_sectors);
    w.u16(room.x_sectors);
    w.bytes(room.room_colour);
    w.u16(low16(room.lights.size()));
    w.u16(low16(room.static_instances.size()));
    w.u32(room.trc_extra_2);
    w.u32(room.trc_extra_3);
    w.u32(room.trc_extra_4);
    mark.skip(12);
    w.u32(separator);
    w.u32(separator);
    w.fill(4, 0xFF);
    w.i16(room.trc_alternate_room);
    w.u16(room.flags);
    w.u16(room.trc_extra_word);
    mark.skip(14);
    w.fill(10, 0);
    w.u32(separator);
    w.bytes(room.trc_extra_block);
    mark.skip(16);
    for (int i = 0; i < 4; ++i)
        w.u32(separator);
    w.u32(room.trc_extra_5);
    mark.skip(4);
    w.u32(separator);
    w.u32(room.trc_num_triangles.value_or(low32(total_tris)));
    w.u32(room.trc_num_rectangles.value_or(low32(total_rects)));
    w.u32(room.trc_extra_6);
    mark.skip(4);
    w.u32(low32(88 * room.lights.size()));
    w.u32(room.trc_extra_7);
    w.u32(low32(room.aux_records.size()));
    w.u32(room.trc_extra_8);
    w.u32(room.trc_extra_9);
    w.u32(room.num_layers.value_or(low32(room.layers.size())));
    mark.skip(36);
    const std::size_t layers_offset_at = w.mark();
    w.u32(0);
    const std::size_t vertices_offset_at = w.mark();
    w.u32(0);
    const std::size_t faces_offset_at = w.mark();
    w.u32(0);
    w.u32(0);
    const std::size_t vertices_size_at = w.mark();
    w.u32(0);
    for (int i = 0; i < 4; ++i)
        w.u32(separator);

    const std::size_t data = w.position();
    mark("room." + std::to_string(index) + ".data");
    auto here = [&] { return low32(w.position() - data); };

    for (const auto& light : room.lights) {
        w.record(light, 85);
        mark.skip(3);
        w.fill(3, 0xCD);
    }
    put_records(w, room.aux_records, 36);
    w.patch_u32(sectors_start_at, here());
    const std::size_t num_sectors = std::size_t{room.z_sectors} * room.x_sectors;
    for (std::size_t i = 0; i < num_sectors; ++i)
        w.record(i < room.sectors.size() ? std::span<const std::uint8_t>(room.sectors[i])
                                         : std::span<const std::uint8_t>(),
                 8);
    w.patch_u32(sectors_end_at, here());
    w.u16(low16(room.portals.size()));
    put_records(w, room.portals, 32);
    mark.skip(2);
    w.fill(2, 0xCD);
    w.patch_u32(portals_end_at, here());
    put_records(w, room.static_instances, 20);
    w.patch_u32(layers_offset_at, here());

    for (const auto& layer : room.layers)
        write_layer_header(w, layer);
    w.patch_u32(faces_offset_at, here());
    w.patch_u32(faces_offset_at + 4, here());
    for (const auto& layer : room.layers) {
        for (const auto& r : layer.rectangles) {
            for (auto c : r.corners)
                w.u16(c);
            w.u16(r.texture);
            w.u16(r.extra);
        }
        for (const auto& t : layer.triangles) {
            for (auto c : t.corners)
                w.u16(c);
            w.u16(t.texture);
            w.u16(t.extra);
        }
    }
    if (total_tris % 2 != 0) {
        mark.skip(2);
        w.fill(2, 0xCD);
    }
    w.patch_u32(vertices_offset_at, here());
    const std::size_t vertices = w.position();
    for (const auto& layer : room.layers) {
        for (const auto& v : layer.vertices) {
            w.f32(v.x);
            w.f32(v.y);
            w.f32(v.z);
            for (auto e : v.extra)
                w.u32(e);
            w.u8(v.b);
            w.u8(v.g);
            w.u8(v.r);
            w.u8(v.a);
        }
    }
    mark.skip(2);
    w.fill(2, 0xCD);
    w.patch_u32(vertices_size_at, low32(w.position() - vertices));
    w.bytes(room.trc_trailing_bytes);
    w.patch_u32(size_at, room.trc_data_size.value_or(low32(w.position() - (size_at + 4))));
}

// ---- Sections after the rooms ------------------------------------------------------------

/// The object texture as the version's file holds it.
void write_object_texture(byte_writer& w, const gen_record& rec, int version) {
    gen_record full = rec;
    full.resize(40, 0);
    if (version <= 5) {
        w.bytes(std::span<const std::uint8_t>(full).subspan(0, 4));
        w.bytes(std::span<const std::uint8_t>(full).subspan(6, 16));
    } else {
        w.bytes(std::span<const std::uint8_t>(full).first(version == version_trc ? 40 : 38));
    }
}

void write_object_textures(byte_writer& w, const gen_records& recs, int version) {
    w.u32(low32(recs.size()));
    for (const auto& r : recs)
        write_object_texture(w, r, version);
}

void write_level_data(byte_writer& w, const gen_level& lv, gen_layout* layout) {
    const int v = lv.version;
    const sizes s = sizes_of(v);
    const bool trc = v == version_trc;
    const bool old = v <= 5;
    marker mark{w, layout, {}};
    if (layout)
        layout->level.clear();

    std::size_t lengths_at = 0;
    if (old) {
        mark("first_word");
        w.u32(first_word_of(lv));
        if (v >= 3) {
            mark("palette8");
            w.record(lv.palette8, 768);
            mark("palette16");
            w.record(lv.palette16, 1024);
        }
        mark("textiles");
        w.u32(lv.num_textiles.value_or(low32(lv.textiles8.size() / 65536)));
        w.bytes(lv.textiles8);
        if (v >= 3)
            w.bytes(lv.textiles16);
    }

    // Rooms.
    if (trc) {
        mark("trc_header_block");
        w.bytes(lv.trc_header_block);
        lengths_at = w.mark();
        w.u32(0);
        w.u32(0);
        mark.skip(4);
        w.u32(0);
        w.u32(lv.num_rooms.value_or(low32(lv.rooms.size())));
        for (std::size_t i = 0; i < lv.rooms.size(); ++i) {
            mark("room." + std::to_string(i));
            write_trc_room(w, lv.rooms[i], i, mark);
        }
    } else {
        mark("level_data_prefix");
        w.u32(lv.level_data_prefix);
        w.u16(static_cast<std::uint16_t>(lv.num_rooms.value_or(low32(lv.rooms.size()))));
        for (std::size_t i = 0; i < lv.rooms.size(); ++i) {
            mark("room." + std::to_string(i));
            write_tr4_room(w, lv.rooms[i], v, mark);
        }
    }

    // Objects and animations.
    mark("floor_data");
    counted(w, lv.floor_data);
    mark("mesh_data");
    counted(w, lv.mesh_data);
    mark("mesh_pointers");
    counted(w, lv.mesh_pointers);
    mark("animations");
    counted(w, lv.animations, s.animation);
    mark("state_changes");
    counted(w, lv.state_changes, 6);
    mark("anim_dispatches");
    counted(w, lv.anim_dispatches, 8);
    mark("anim_commands");
    counted(w, lv.anim_commands);
    mark("mesh_trees");
    counted(w, lv.mesh_trees);
    mark("frames");
    counted(w, lv.frames);
    mark("moveables");
    counted(w, lv.moveables, s.moveable);
    mark("static_meshes");
    counted(w, lv.static_meshes, 32);
    if (v <= 4) {
        mark("object_textures");
        write_object_textures(w, lv.object_textures, v);
    }
    if (!old) {
        mark("sprite_prefix");
        w.bytes(std::span<const std::uint8_t>(lv.sprite_prefix).first(trc ? 4 : 3));
    }
    mark("sprite_textures");
    counted(w, lv.sprite_textures, 16);
    mark("sprite_sequences");
    counted(w, lv.sprite_sequences, 8);
    if (v == 2) {
        mark("palette8");
        w.record(lv.palette8, 768);
    }

    // World, AI and sound.
    mark("cameras");
    counted(w, lv.cameras, 16);
    if (!old) {
        mark("flyby_cameras");
        counted(w, lv.flyby_cameras, 40);
    }
    mark("sound_sources");
    counted(w, lv.sound_sources, 16);
    mark("boxes");
    counted(w, lv.boxes, s.box);
    mark("overlaps");
    counted(w, lv.overlaps);
    mark("zones");
    static constexpr int legacy_zones[] = {0, 1, 4, 5, 6, 9};
    auto put_zone = [&](const std::vector<std::uint16_t>& zone) {
        for (std::size_t i = 0; i < lv.boxes.size(); ++i)
            w.u16(i < zone.size() ? zone[i] : 0);
    };
    if (v <= 2) {
        for (int z : legacy_zones)
            put_zone(lv.zones[z]);
    } else {
        for (const auto& zone : lv.zones)
            put_zone(zone);
    }
    mark("animated_textures");
    counted(w, lv.animated_textures);
    if (!old) {
        mark("object_texture_prefix");
        w.bytes(std::span<const std::uint8_t>(lv.object_texture_prefix).first(trc ? 5 : 4));
    }
    if (v >= 5) {
        mark("object_textures");
        write_object_textures(w, lv.object_textures, v);
    }
    mark("items");
    w.u32(low32(lv.items.size()));
    for (const auto& item : lv.items) {
        if (v <= 2)
            w.bytes(item_old_form(item));
        else
            w.record(item, 24);
    }
    if (old) {
        mark("light_map");
        w.record(lv.light_map, 8192);
        if (v == 1) {
            mark("palette8");
            w.record(lv.palette8, 768);
        }
        mark("cinematic_frames");
        w.u16(low16(lv.cinematic_frames.size()));
        put_records(w, lv.cinematic_frames, 16);
    } else {
        mark("ai_objects");
        counted(w, lv.ai_objects, 24);
    }
    mark("demo_data");
    w.u16(low16(lv.demo_data.size()));
    w.bytes(lv.demo_data);
    mark("sound_map");
    w.bytes(std::span<const std::uint8_t>(lv.sound_map).first(s.sound_map));
    mark("sample_infos");
    counted(w, lv.sample_infos, 8);
    if (v <= 2) {
        mark("sample_data");
        w.u32(low32(lv.sample_data.size()));
        w.bytes(lv.sample_data);
    }
    mark("sample_indices");
    counted(w, lv.sample_indices);

    if (trc) {
        mark("trc_level_data_end");
        w.bytes(lv.trc_level_data_end);
        const std::uint32_t length = low32(w.position() - (lengths_at + 8));
        w.patch_u32(lengths_at, lv.trc_level_data_size.value_or(length));
        w.patch_u32(lengths_at + 4, lv.trc_level_data_size_2.value_or(length));
        if (!lv.trc_level_data_size_2)
            mark.skip_at(lengths_at + 4, 4);
    }
    if (lv.scramble_skipped_bytes)
        scramble(w, mark);
    mark("end");
}

} // namespace

std::array<std::uint8_t, 46> layer_kept_bytes(const gen_layer& layer) {
    byte_writer w;
    write_layer_header(w, layer);
    std::array<std::uint8_t, 46> out{};
    std::copy(w.data().begin() + 10, w.data().end(), out.begin());
    return out;
}

std::uint32_t first_word_of(const gen_level& level) {
    if (level.first_word)
        return *level.first_word;
    switch (level.version) {
    case 1:
    case 2:
        return 0x00000020u;
    case 3:
    case 4:
        return 0x0000002Du;
    case 5:
        return 0xFF080038u;
    default:
        return 0x00345254u; // "TR4" and a zero byte
    }
}

gen_record item_old_form(const gen_record& item) {
    gen_record full = item;
    full.resize(24, 0);
    gen_record old(full.begin(), full.begin() + 18);
    old.push_back(full[18]); // low bytes of the two 16-bit fields at 18 and 20
    old.push_back(full[20]);
    old.push_back(full[22]);
    old.push_back(full[23]);
    return old;
}

std::vector<std::uint8_t> level_data_bytes(const gen_level& level, gen_layout* layout) {
    byte_writer w;
    write_level_data(w, level, layout);
    return w.take();
}

std::vector<std::uint8_t> file_with_level_data(const gen_level& level,
                                               std::span<const std::uint8_t> level_data,
                                               gen_layout* layout) {
    (void)sizes_of(level.version); // rejects an unknown version
    if (layout)
        layout->file.clear();
    if (level.version <= 5) {
        if (layout)
            layout->file = {{"level_data", 0}, {"end", level_data.size()}};
        return {level_data.begin(), level_data.end()};
    }
    byte_writer w;
    auto mark = [&](const char* name) {
        if (layout)
            layout->file[name] = w.position();
    };
    w.u32(first_word_of(level));
    w.u16(level.num_room_textiles);
    w.u16(level.num_object_textiles);
    w.u16(level.num_bump_textiles);
    mark("textiles32");
    put_chunk(w, level.textiles32);
    mark("textiles16");
    put_chunk(w, level.textiles16);
    mark("textiles_misc");
    put_chunk(w, level.textiles_misc);
    mark("level_data");
    if (level.version == version_trc)
        w.bytes(level_data);
    else
        put_chunk(w, level_data);
    mark("sample_data");
    w.bytes(level.sample_data);
    mark("end");
    return w.take();
}

std::vector<std::uint8_t> file_bytes(const gen_level& level, gen_layout* layout) {
    const auto data = level_data_bytes(level, layout);
    return file_with_level_data(level, data, layout);
}

void add_conversion_marker(gen_level& level) {
    level.floor_data.assign(1, 0x8385);
    for (std::size_t i = 0; i < level.sound_map.size(); i += 2)
        level.floor_data.push_back(
            static_cast<std::uint16_t>(level.sound_map[i] | level.sound_map[i + 1] << 8));
}

std::optional<int> parse_kind(std::string_view kind) {
    if (kind == "tr4")
        return version_tr4;
    if (kind == "trc")
        return version_trc;
    if (kind.size() == 2 && kind[0] == 'v' && kind[1] >= '1' && kind[1] <= '7')
        return kind[1] - '0';
    return std::nullopt;
}

bool write_file(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace levelgen
