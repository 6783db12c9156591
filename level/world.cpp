// Cameras through the sample indices: world, AI and sound sections, and the TRC close.
#include <cassert>
#include <cstring>

#include "level/walks.h"

namespace quarlix {

namespace {

titem_old item_to_old(const titem& i) {
    return titem_old{i.object_id,
                     i.room,
                     i.x,
                     i.y,
                     i.z,
                     i.angle,
                     static_cast<std::uint8_t>(i.intensity),
                     static_cast<std::uint8_t>(i.intensity_2),
                     i.flags};
}

titem item_from_old(const titem_old& o) {
    return titem{o.object_id, o.room, o.x, o.y, o.z, o.angle, o.intensity, o.intensity_2, o.flags};
}

/// Zone arrays that a version stores: all ten, or six for versions 1 and 2.
constexpr int all_zones[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
constexpr int old_zones[] = {0, 1, 4, 5, 6, 9};

template <class Io> void walk_zones(Io& io, Ttrlevel& l) {
    const std::span<const int> arrays =
        io.version <= 2 ? std::span<const int>(old_zones) : std::span<const int>(all_zones);
    if constexpr (Io::loading) {
        io.need(std::uint64_t(arrays.size()) * std::uint64_t(l.num_boxes) * 2, section_zones.field);
        l.set_num_zones(l.num_boxes);
        for (int z : arrays) {
            io.rows_into(l.zones[z].data(), l.zones[z].size(), section_zones.field, section_zones);
        }
    } else {
        for (int z : arrays) {
            io.rows_from(l.zones[z].data(), l.zones[z].size());
        }
    }
}

template <class Io> void walk_items(Io& io, Ttrlevel& l) {
    if (io.version <= 2) {
        counted(io, l, section_items, l.items_old);
        if constexpr (Io::loading) {
            for (std::size_t i = 0; i < l.items_old.size(); ++i) {
                l.items[i] = item_from_old(l.items_old[i]);
            }
        }
    } else {
        counted(io, l, section_items, l.items);
        if constexpr (Io::loading) {
            for (std::size_t i = 0; i < l.items.size(); ++i) {
                l.items_old[i] = item_to_old(l.items[i]);
            }
        }
    }
}

/// A 16-bit count then that many records of a section.
template <class Io, class T>
void counted16(Io& io, Ttrlevel& l, const tsection& section, std::vector<T>& rows,
               std::string_view field = {}) {
    assert(section.element_size(io.version) == sizeof(T));
    if (field.empty()) {
        field = section.field;
    }
    const std::int32_t count = l.*section.count;
    if constexpr (!Io::loading) {
        check_saved_count(count, rows.size(), UINT16_MAX, field);
    }
    std::uint16_t n = static_cast<std::uint16_t>(count);
    io.value(n, field);
    if constexpr (Io::loading) {
        io.need(std::uint64_t{n} * sizeof(T), field);
        (l.*section.set)(n);
        io.rows_into(rows.data(), n, field, section);
    } else {
        io.rows_from(rows.data(), static_cast<std::size_t>(count));
    }
}

/// Sample data held inside the level data (versions 1 and 2): a 32-bit length and the bytes.
template <class Io> void walk_inline_samples(Io& io, Ttrlevel& l) {
    io.value(l.sample_data_size, "sample data length");
    if constexpr (Io::loading) {
        l.sample_data = buffer_of(io.take(l.sample_data_size, "sample data"));
    } else {
        io.bytes(l.sample_data.data(), l.sample_data_size);
    }
}

} // namespace

template <class Io> void walk_world_sections(Io& io, Ttrlevel& l) {
    const std::int32_t v = io.version;
    counted(io, l, section_cameras, l.cameras);
    if (v >= level_tr4) {
        counted(io, l, section_flyby_cameras, l.flyby_cameras);
    }
    counted(io, l, section_sound_sources, l.sound_sources);
    if (v <= 2) {
        counted(io, l, section_boxes, l.boxes_old);
    } else {
        counted(io, l, section_boxes, l.boxes);
    }
    counted(io, l, section_overlaps, l.overlaps);
    walk_zones(io, l);
    counted(io, l, section_animated_textures, l.animated_textures);
    if (v >= level_tr4) {
        io.bytes(l.object_texture_prefix, v == level_trc ? 5 : 4, "object-texture prefix");
    }
    if (v >= 5) {
        walk_object_textures(io, l);
    }
    walk_items(io, l);
    if (v >= level_tr4) {
        counted(io, l, section_ai_objects, l.ai_objects);
    } else {
        io.value(l.light_map, "light map");
        if (v == 1) {
            io.value(l.palette8, "palette");
        }
        counted16(io, l, section_ai_objects, l.cinematic_frames, "cinematic frames");
    }
    counted16(io, l, section_demo_data, l.demo_data);
    io.note(ttable_kind::sound_map);
    io.bytes(l.sound_map, sound_map_bytes(v), "sound map");
    counted(io, l, section_sample_infos, l.sample_infos);
    if (v <= 2) {
        walk_inline_samples(io, l);
    }
    counted(io, l, section_sample_indices, l.sample_indices);
}

template void walk_world_sections(level_loader&, Ttrlevel&);
template void walk_world_sections(level_saver&, Ttrlevel&);

template <class Io> void walk_trc_close(Io& io, Ttrlevel& l, const trc_frame& frame) {
    if constexpr (Io::loading) {
        // Bytes between the sample indices and the declared end are not kept.
        io.seek(frame.data_end);
        l.sample_data = buffer_of(io.rest());
        l.sample_data_size = static_cast<std::uint32_t>(l.sample_data.size());
    } else {
        io.fill(0xCD, 4);
        const std::size_t length = io.position() - (frame.length_fields_at + 8);
        io.patch_u32(frame.length_fields_at, length, "level-data length");
        io.patch_u32(frame.length_fields_at + 4, length, "level-data length");
    }
}

template void walk_trc_close(level_loader&, Ttrlevel&, const trc_frame&);
template void walk_trc_close(level_saver&, Ttrlevel&, const trc_frame&);

} // namespace quarlix
