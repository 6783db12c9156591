// Floor data through the sprite sequences: meshes, animations, moveables, static meshes, sprites.
#include <cstddef>
#include <cstring>

#include "level/walks.h"

namespace quarlix {

template <class Io> void walk_object_sections(Io& io, Ttrlevel& l) {
    const std::int32_t v = l.version;
    counted(io, l, &Ttrlevel::set_num_floor_data, l.num_floor_data, l.floor_data, "floor data");
    counted(io, l, &Ttrlevel::set_num_mesh_data, l.num_mesh_data, l.mesh_data, "mesh data");
    counted(io, l, &Ttrlevel::set_num_mesh_pointers, l.num_mesh_pointers, l.mesh_pointers,
            "mesh pointers");
    if (v >= level_tr4) {
        counted(io, l, &Ttrlevel::set_num_animations, l.num_animations, l.animations,
                "animations");
    } else {
        counted(io, l, &Ttrlevel::set_num_animations, l.num_animations, l.animations_old,
                "animations");
    }
    counted(io, l, &Ttrlevel::set_num_state_changes, l.num_state_changes, l.state_changes,
            "state changes");
    counted(io, l, &Ttrlevel::set_num_anim_dispatches, l.num_anim_dispatches, l.anim_dispatches,
            "animation dispatches");
    counted(io, l, &Ttrlevel::set_num_anim_commands, l.num_anim_commands, l.anim_commands,
            "animation commands");
    counted(io, l, &Ttrlevel::set_num_mesh_trees, l.num_mesh_trees, l.mesh_trees, "mesh trees");
    counted(io, l, &Ttrlevel::set_num_frames, l.num_frames, l.frames, "frames");
    if (v == level_trc) {
        counted(io, l, &Ttrlevel::set_num_moveables, l.num_moveables, l.moveables_trc,
                "moveables");
        if constexpr (Io::loading) {
            for (std::size_t i = 0; i < l.moveables_trc.size(); ++i) {
                l.moveables[i] = l.moveables_trc[i].moveable;
            }
        }
    } else {
        counted(io, l, &Ttrlevel::set_num_moveables, l.num_moveables, l.moveables, "moveables");
    }
    counted(io, l, &Ttrlevel::set_num_static_meshes, l.num_static_meshes, l.static_meshes,
            "static meshes");
    if (v <= 4) {
        walk_object_textures(io, l);
    }
    if (v == level_tr4) {
        io.bytes(l.sprite_prefix, 3, "sprite prefix");
    } else if (v == level_trc) {
        io.bytes(l.sprite_prefix, 4, "sprite prefix");
    }
    counted(io, l, &Ttrlevel::set_num_sprite_textures, l.num_sprite_textures, l.sprite_textures,
            "sprite textures");
    counted(io, l, &Ttrlevel::set_num_sprite_sequences, l.num_sprite_sequences,
            l.sprite_sequences, "sprite sequences");
    if (v == 2) {
        io.value(l.palette8, "palette");
    }
}

template void walk_object_sections(level_loader&, Ttrlevel&);
template void walk_object_sections(level_saver&, Ttrlevel&);

/// Object textures field by field: TR4 elements are record bytes 0 to 37, TRC all 40, and
/// versions 1 to 5 carry bytes 0 to 3 and 6 to 21 in 20-byte elements.
template <class Io> void walk_object_textures(Io& io, Ttrlevel& l) {
    const std::int32_t v = l.version;
    const std::size_t element = v == level_trc ? 40 : v == level_tr4 ? 38 : 20;
    if constexpr (!Io::loading) {
        check_saved_count(l.num_object_textures, l.object_textures.size(), INT32_MAX,
                          "object textures");
    }
    std::uint32_t n = static_cast<std::uint32_t>(l.num_object_textures);
    io.value(n, "object textures");
    if constexpr (Io::loading) {
        io.need(std::uint64_t{n} * element, "object textures");
        l.set_num_object_textures(static_cast<std::int32_t>(n));
    }
    if (v == level_trc) {
        if constexpr (Io::loading) {
            io.rows_into(l.object_textures.data(), n, "object textures");
        } else {
            io.rows_from(l.object_textures.data(), n);
        }
        return;
    }
    io.note("object textures");
    for (std::size_t i = 0; i < n; ++i) {
        tobject_texture& t = l.object_textures[i];
        if (element == offsetof(tobject_texture, last)) {
            io.bytes(&t, element, "object textures");
        } else {
            io.value(t.blend_mode, "object textures");
            io.value(t.page_word, "object textures");
            io.value(t.corners, "object textures");
        }
    }
}

template void walk_object_textures(level_loader&, Ttrlevel&);
template void walk_object_textures(level_saver&, Ttrlevel&);

} // namespace quarlix
