// Floor data through the sprite sequences: meshes, animations, moveables, static meshes, sprites.
#include <cstddef>
#include <cstring>

#include "level/walks.h"

namespace quarlix {

template <class Io> void walk_object_sections(Io& io, Ttrlevel& l) {
    const std::int32_t v = io.version;
    counted(io, l, section_floor_data, l.floor_data);
    counted(io, l, section_mesh_data, l.mesh_data);
    counted(io, l, section_mesh_pointers, l.mesh_pointers);
    if (v >= level_tr4) {
        counted(io, l, section_animations, l.animations);
    } else {
        counted(io, l, section_animations, l.animations_old);
    }
    counted(io, l, section_state_changes, l.state_changes);
    counted(io, l, section_anim_dispatches, l.anim_dispatches);
    counted(io, l, section_anim_commands, l.anim_commands);
    counted(io, l, section_mesh_trees, l.mesh_trees);
    counted(io, l, section_frames, l.frames);
    if (v == level_trc) {
        counted(io, l, section_moveables, l.moveables_trc);
        if constexpr (Io::loading) {
            for (std::size_t i = 0; i < l.moveables_trc.size(); ++i) {
                l.moveables[i] = l.moveables_trc[i].moveable;
            }
        }
    } else {
        counted(io, l, section_moveables, l.moveables);
    }
    counted(io, l, section_static_meshes, l.static_meshes);
    if (v <= 4) {
        walk_object_textures(io, l);
    }
    if (v == level_tr4) {
        io.bytes(l.sprite_prefix, 3, "sprite prefix");
    } else if (v == level_trc) {
        io.bytes(l.sprite_prefix, 4, "sprite prefix");
    }
    counted(io, l, section_sprite_textures, l.sprite_textures);
    counted(io, l, section_sprite_sequences, l.sprite_sequences);
    if (v == 2) {
        io.value(l.palette8, "palette");
    }
}

template void walk_object_sections(level_loader&, Ttrlevel&);
template void walk_object_sections(level_saver&, Ttrlevel&);

/// Object textures field by field: TR4 elements are record bytes 0 to 37, TRC all 40, and
/// versions 1 to 5 carry bytes 0 to 3 and 6 to 21 in 20-byte elements.
template <class Io> void walk_object_textures(Io& io, Ttrlevel& l) {
    const std::int32_t v = io.version;
    const std::size_t element = section_object_textures.element_size(v);
    const std::string_view field = section_object_textures.field;
    if constexpr (!Io::loading) {
        check_saved_count(l.num_object_textures, l.object_textures.size(), INT32_MAX, field);
    }
    std::uint32_t n = static_cast<std::uint32_t>(l.num_object_textures);
    io.value(n, field);
    if constexpr (Io::loading) {
        io.need(std::uint64_t{n} * element, field);
        l.set_num_object_textures(static_cast<std::int32_t>(n));
    }
    if (v == level_trc) {
        if constexpr (Io::loading) {
            io.rows_into(l.object_textures.data(), n, field, section_object_textures);
        } else {
            io.rows_from(l.object_textures.data(), n);
        }
        return;
    }
    io.note(section_object_textures);
    for (std::size_t i = 0; i < n; ++i) {
        tobject_texture& t = l.object_textures[i];
        if (element == offsetof(tobject_texture, last)) {
            io.bytes(&t, element, field);
        } else {
            io.value(t.blend_mode, field);
            io.value(t.page_word, field);
            io.value(t.corners, field);
        }
    }
}

template void walk_object_textures(level_loader&, Ttrlevel&);
template void walk_object_textures(level_saver&, Ttrlevel&);

} // namespace quarlix
