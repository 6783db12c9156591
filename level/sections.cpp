// Element sizes of the level sections by version.
#include "level/sections.h"

#include "level/records.h"

namespace quarlix {

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
