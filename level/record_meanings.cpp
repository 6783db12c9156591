// Field decoders of the opaque records: little-endian reads at the documented offsets.
#include "level/record_meanings.h"

#include <cstring>
#include <string_view>

namespace quarlix {

namespace {

template <class T> T get(const std::uint8_t* bytes, std::size_t at) {
    T v;
    std::memcpy(&v, bytes + at, sizeof v);
    return v;
}

template <class Record> const std::uint8_t* bytes_of(const Record& r) {
    return reinterpret_cast<const std::uint8_t*>(&r);
}

} // namespace

portal_fields read_portal(const tportal& portal) {
    portal_fields f{};
    f.room = get<std::uint16_t>(portal.bytes, 0);
    for (std::size_t i = 0; i < 3; ++i) {
        f.normal[i] = get<std::int16_t>(portal.bytes, 2 + 2 * i);
    }
    for (std::size_t c = 0; c < 4; ++c) {
        for (std::size_t i = 0; i < 3; ++i) {
            f.corners[c][i] = get<std::int16_t>(portal.bytes, 8 + 6 * c + 2 * i);
        }
    }
    return f;
}

sector_fields read_sector(const tsector& sector) {
    const std::uint8_t* b = sector.bytes;
    return {get<std::uint16_t>(b, 0), get<std::uint16_t>(b, 2), b[4],
            static_cast<std::int8_t>(b[5]), b[6], static_cast<std::int8_t>(b[7])};
}

std::optional<std::uint16_t> sector_box(std::uint16_t box_field, std::int32_t version) {
    if (box_field == no_box_field) {
        return std::nullopt;
    }
    if (version <= 2) {
        return box_field;
    }
    const auto index = static_cast<std::uint16_t>((box_field >> 4) & 0x7FF);
    if (index == no_box_index) {
        return std::nullopt;
    }
    return index;
}

std::uint16_t face_texture_index(std::uint16_t texture, bool layer_face) {
    if (layer_face) {
        return texture & 0x3FFF;
    }
    return texture & 0x7FFF;
}

bool face_two_sided(std::uint16_t texture, std::int32_t version) {
    return version >= 3 && (texture & 0x8000) != 0;
}

object_texture_fields read_object_texture(const tobject_texture& texture, std::int32_t version) {
    object_texture_fields f{};
    f.blend_mode = texture.field_0;
    f.page = texture.field_2 & 0x7FFF;
    const bool newer = version >= level_tr4;
    f.triangle = newer && (texture.field_2 & 0x8000) != 0;
    f.flags = newer ? texture.field_4 : 0;
    for (std::size_t c = 0; c < 4; ++c) {
        f.u[c] = get<std::uint16_t>(texture.bytes_6, 4 * c);
        f.v[c] = get<std::uint16_t>(texture.bytes_6, 4 * c + 2);
    }
    return f;
}

sprite_texture_fields read_sprite_texture(const tsprite_texture& texture) {
    const std::uint8_t* b = texture.bytes;
    return {get<std::uint16_t>(b, 0),  b[2], b[3], get<std::uint16_t>(b, 4),
            get<std::uint16_t>(b, 6),  get<std::int16_t>(b, 8), get<std::int16_t>(b, 10),
            get<std::int16_t>(b, 12), get<std::int16_t>(b, 14)};
}

moveable_fields read_moveable(const tmoveable& moveable) {
    const std::uint8_t* b = moveable.bytes;
    return {get<std::uint32_t>(b, 0), get<std::uint16_t>(b, 4), get<std::uint16_t>(b, 6),
            get<std::uint32_t>(b, 8), get<std::uint32_t>(b, 12), get<std::uint16_t>(b, 16)};
}

static_mesh_fields read_static_mesh(const tstatic_mesh& mesh) {
    const std::uint8_t* b = mesh.bytes;
    return {get<std::uint32_t>(b, 0), get<std::uint16_t>(b, 4), get<std::uint16_t>(b, 30)};
}

namespace {

/// The fields from the frame offset on; `tail` is where the first frame stands (after the
/// speeds and accelerations).
animation_fields read_animation_at(const std::uint8_t* b, std::size_t tail) {
    animation_fields f{};
    f.frame_offset = get<std::uint32_t>(b, 0);
    f.frame_rate = b[4];
    f.frame_size = b[5];
    f.state = get<std::uint16_t>(b, 6);
    f.first_frame = get<std::uint16_t>(b, tail);
    f.last_frame = get<std::uint16_t>(b, tail + 2);
    f.next_animation = get<std::uint16_t>(b, tail + 4);
    f.next_frame = get<std::uint16_t>(b, tail + 6);
    f.num_state_changes = get<std::uint16_t>(b, tail + 8);
    f.first_state_change = get<std::uint16_t>(b, tail + 10);
    f.num_commands = get<std::uint16_t>(b, tail + 12);
    f.first_command = get<std::uint16_t>(b, tail + 14);
    return f;
}

} // namespace

animation_fields read_animation(const tanimation& animation) {
    return read_animation_at(animation.bytes, 24);
}

animation_fields read_animation(const tanimation_old& animation) {
    return read_animation_at(animation.bytes, 16);
}

state_change_fields read_state_change(const tstate_change& change) {
    const std::uint8_t* b = change.bytes;
    return {get<std::uint16_t>(b, 0), get<std::uint16_t>(b, 2), get<std::uint16_t>(b, 4)};
}

dispatch_fields read_dispatch(const tanim_dispatch& dispatch) {
    const std::uint8_t* b = dispatch.bytes;
    return {get<std::int16_t>(b, 0), get<std::int16_t>(b, 2), get<std::int16_t>(b, 4),
            get<std::int16_t>(b, 6)};
}

std::int16_t camera_room(const tcamera& camera) { return get<std::int16_t>(camera.bytes, 12); }

std::uint32_t flyby_camera_room(const tflyby_camera& camera) {
    return get<std::uint32_t>(camera.bytes, 36);
}

std::uint16_t sound_source_sound(const tsound_source& source) {
    return get<std::uint16_t>(source.bytes, 12);
}

std::int16_t item_room(const titem& item) { return static_cast<std::int16_t>(item.f2); }

std::int16_t item_object(const titem& item) { return static_cast<std::int16_t>(item.f0); }

std::int16_t ai_object_room(const tai_object& object) {
    return get<std::int16_t>(object.bytes, 2);
}

sample_info_fields read_sample_info(const tsample_info& info) {
    const std::uint8_t* b = info.bytes;
    const auto flags = get<std::uint16_t>(b, 6);
    return {get<std::uint16_t>(b, 0), get<std::uint16_t>(b, 2), get<std::uint16_t>(b, 4), flags,
            static_cast<std::uint16_t>((flags >> 2) & 0x0F)};
}

std::size_t sound_map_entries(std::int32_t version) {
    return version == level_trc ? 450 : version >= 3 ? 370 : 256;
}

std::int16_t sound_map_entry(const Ttrlevel& level, std::size_t i) {
    return get<std::int16_t>(level.sound_map, 2 * i);
}

sample_list read_sample_list(std::span<const std::uint8_t> data) {
    sample_list list;
    if (data.size() < 4) {
        list.complete = data.empty();
        return list;
    }
    list.declared = get<std::uint32_t>(data.data(), 0);
    std::size_t at = 4;
    for (std::uint32_t i = 0; i < list.declared; ++i) {
        if (data.size() - at < 8) {
            list.complete = false;
            list.fault_offset = at;
            return list;
        }
        const auto size = get<std::uint32_t>(data.data(), at);
        const auto stored = get<std::uint32_t>(data.data(), at + 4);
        if (data.size() - at - 8 < stored) {
            list.complete = false;
            list.fault_offset = at;
            return list;
        }
        list.samples.push_back({at + 8, size, stored});
        at += 8 + std::size_t{stored};
    }
    return list;
}

std::span<const std::uint8_t> sample_bytes(std::span<const std::uint8_t> sample_data,
                                           const sample_entry& sample) {
    return sample_data.subspan(sample.offset, sample.stored_size);
}

bool is_riff_wave(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
           std::memcmp(bytes.data() + 8, "WAVE", 4) == 0 &&
           std::uint64_t{get<std::uint32_t>(bytes.data(), 4)} + 8 <= bytes.size();
}

std::size_t section_element_size(std::string_view section, std::int32_t version) {
    const bool newer = version >= level_tr4;
    struct row {
        std::string_view name;
        std::size_t size;
    };
    const row rows[] = {
        {"floor_data", 2},
        {"mesh_data", 2},
        {"mesh_pointers", 4},
        {"animations", newer ? 40u : 32u},
        {"state_changes", 6},
        {"anim_dispatches", 8},
        {"anim_commands", 2},
        {"mesh_trees", 4},
        {"frames", 2},
        {"moveables", version == level_trc ? 20u : 18u},
        {"static_meshes", 32},
        {"object_textures", version == level_trc ? 40u : newer ? 38u : 20u},
        {"sprite_textures", 16},
        {"sprite_sequences", 8},
        {"cameras", 16},
        {"flyby_cameras", 40},
        {"sound_sources", 16},
        {"boxes", version <= 2 ? 20u : 8u},
        {"overlaps", 2},
        {"zones", version <= 2 ? 12u : 20u},  // one word of each zone array
        {"animated_textures", 2},
        {"items", version <= 2 ? 22u : 24u},
        {"ai_objects", newer ? 24u : 16u},    // older versions: cinematic frames
        {"demo_data", 1},
        {"sample_infos", 8},
        {"sample_indices", 4},
    };
    for (const row& r : rows) {
        if (r.name == section) {
            return r.size;
        }
    }
    return 0;
}

} // namespace quarlix
