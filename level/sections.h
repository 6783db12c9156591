// The counted sections of the level data after the rooms, in one table: each one's count and
// setter in the model, its names, and what one element takes in each version's files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "level/trunit2.h"

namespace quarlix {

struct tsection {
    const char* count_name; // the model's count: "num_cameras"
    std::string_view field; // as messages name it: "cameras"
    std::int32_t Ttrlevel::*count;
    void (Ttrlevel::*set)(std::int32_t);
    std::uint8_t sizes[4]; // bytes an element takes: versions 1-2, 3-5, TR4, TRC

    /// The count's name without "num_", as reports name the section: "cameras".
    constexpr std::string_view key() const { return std::string_view(count_name).substr(4); }
    /// Bytes one element takes in a version's files.
    constexpr std::size_t element_size(std::int32_t version) const {
        return sizes[version <= 2 ? 0 : version < level_tr4 ? 1 : version == level_tr4 ? 2 : 3];
    }
};

#define QUARLIX_SECTION(name, field, v12, v35, tr4, trc)                                           \
    inline constexpr tsection section_##name{"num_" #name,                                         \
                                             field,                                                \
                                             &Ttrlevel::num_##name,                                \
                                             &Ttrlevel::set_num_##name,                            \
                                             {v12, v35, tr4, trc}};

QUARLIX_SECTION(floor_data, "floor data", 2, 2, 2, 2)
QUARLIX_SECTION(mesh_data, "mesh data", 2, 2, 2, 2)
QUARLIX_SECTION(mesh_pointers, "mesh pointers", 4, 4, 4, 4)
QUARLIX_SECTION(animations, "animations", 32, 32, 40, 40)
QUARLIX_SECTION(state_changes, "state changes", 6, 6, 6, 6)
QUARLIX_SECTION(anim_dispatches, "animation dispatches", 8, 8, 8, 8)
QUARLIX_SECTION(anim_commands, "animation commands", 2, 2, 2, 2)
QUARLIX_SECTION(mesh_trees, "mesh trees", 4, 4, 4, 4)
QUARLIX_SECTION(frames, "frames", 2, 2, 2, 2)
QUARLIX_SECTION(moveables, "moveables", 18, 18, 18, 20)
QUARLIX_SECTION(static_meshes, "static meshes", 32, 32, 32, 32)
QUARLIX_SECTION(object_textures, "object textures", 20, 20, 38, 40)
QUARLIX_SECTION(sprite_textures, "sprite textures", 16, 16, 16, 16)
QUARLIX_SECTION(sprite_sequences, "sprite sequences", 8, 8, 8, 8)
QUARLIX_SECTION(cameras, "cameras", 16, 16, 16, 16)
QUARLIX_SECTION(flyby_cameras, "flyby cameras", 40, 40, 40, 40)
QUARLIX_SECTION(sound_sources, "sound sources", 16, 16, 16, 16)
QUARLIX_SECTION(boxes, "boxes", 20, 8, 8, 8)
QUARLIX_SECTION(overlaps, "overlaps", 2, 2, 2, 2)
QUARLIX_SECTION(zones, "zones", 12, 20, 20, 20) // one word of each zone array the file holds
QUARLIX_SECTION(animated_textures, "animated textures", 2, 2, 2, 2)
QUARLIX_SECTION(items, "items", 22, 24, 24, 24)
QUARLIX_SECTION(ai_objects, "AI objects", 16, 16, 24, 24) // older versions: cinematic frames
QUARLIX_SECTION(demo_data, "demo data", 1, 1, 1, 1)
QUARLIX_SECTION(sample_infos, "sample infos", 8, 8, 8, 8)
QUARLIX_SECTION(sample_indices, "sample indices", 4, 4, 4, 4)

#undef QUARLIX_SECTION

/// Every counted section, in the order of the model's counts.
inline constexpr const tsection* all_sections[] = {
    &section_floor_data,
    &section_mesh_data,
    &section_mesh_pointers,
    &section_animations,
    &section_state_changes,
    &section_anim_dispatches,
    &section_anim_commands,
    &section_mesh_trees,
    &section_frames,
    &section_moveables,
    &section_static_meshes,
    &section_object_textures,
    &section_sprite_textures,
    &section_sprite_sequences,
    &section_cameras,
    &section_flyby_cameras,
    &section_sound_sources,
    &section_boxes,
    &section_overlaps,
    &section_zones,
    &section_animated_textures,
    &section_items,
    &section_ai_objects,
    &section_demo_data,
    &section_sample_infos,
    &section_sample_indices,
};

/// Bytes the sound map takes in a version's files: 512, 740 or 900.
constexpr std::size_t sound_map_bytes(std::int32_t version) {
    return 2 * sound_map_entries(version);
}

} // namespace quarlix
