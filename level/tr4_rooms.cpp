// The TR4 room block (also the room block of versions 1 to 5): prefix, room count, rooms.
#include <string>

#include "level/walks.h"

namespace quarlix {

namespace {

/// Fewest bytes one room of a version can occupy: every count present, every table empty.
std::uint64_t smallest_room(std::int32_t version) {
    std::uint64_t n = 20 + 2 + 2 + 2 + 2 + 2 + 4 + 2 + 2 + 2 + 2 + 2; // 44: the counts and words
    if (version >= 3) {
        n += 2; // ambient_2
    }
    if (version == 3 || version == 4) {
        n += 2; // ambient_3
    }
    if (version >= 5) {
        n += 3; // tail bytes
    }
    return n;
}

/// Words of room data from the vertex count to the last sprite.
std::uint32_t data_words(const troom& r) {
    return (8u + 12u * r.num_vertices + 10u * r.num_rectangles + 8u * r.num_triangles +
            4u * r.num_sprites) /
           2u;
}

template <class Io> void walk_room(Io& io, troom& r, std::int32_t version, const field_place& at) {
    if constexpr (!Io::loading) {
        r.num_data_words = data_words(r);
    }
    io.value(r.pos_x, at + "pos_x");
    io.value(r.pos_z, at + "pos_z");
    io.value(r.y_bottom, at + "y_bottom");
    io.value(r.y_top, at + "y_top");
    io.value(r.num_data_words, at + "num_data_words");
    if (version <= 2) {
        io.table(r.num_vertices, r.legacy_vertices, at + "vertices", ttable_kind::room_vertices);
        if constexpr (Io::loading) {
            r.vertices.resize(r.num_vertices);
            for (std::size_t i = 0; i < r.num_vertices; ++i) {
                const tlegacy_vertex v = r.legacy_vertices[i];
                r.vertices[i] = troom_vertex{v.x, v.y, v.z, v.lighting, 0x0010, 0x3DEF};
            }
        }
    } else {
        io.table(r.num_vertices, r.vertices, at + "vertices", ttable_kind::room_vertices);
        if constexpr (Io::loading) {
            r.legacy_vertices.resize(r.num_vertices);
            for (std::size_t i = 0; i < r.num_vertices; ++i) {
                const troom_vertex v = r.vertices[i];
                r.legacy_vertices[i] = tlegacy_vertex{v.x, v.y, v.z, v.lighting};
            }
        }
    }
    io.table(r.num_rectangles, r.rectangles, at + "rectangles", ttable_kind::room_rectangles);
    io.table(r.num_triangles, r.triangles, at + "triangles", ttable_kind::room_triangles);
    io.table(r.num_sprites, r.sprites, at + "sprites", ttable_kind::room_sprites);
    io.table(r.num_portals, r.portals, at + "portals", ttable_kind::room_portals);

    const std::size_t sectors_at = io.position();
    io.value(r.num_z_sectors, at + "sector count z");
    io.value(r.num_x_sectors, at + "sector count x");
    const std::uint64_t sectors = std::uint64_t{r.num_z_sectors} * r.num_x_sectors;
    if constexpr (Io::loading) {
        io.capacity(sectors, max_room_sectors, sectors_at, at + "sectors");
        io.rows_into(r.sectors, sectors, at + "sectors", ttable_kind::room_sectors);
    } else {
        (void)sectors_at;
        io.rows_from(r.sectors, static_cast<std::size_t>(sectors));
    }

    io.value(r.ambient, at + "ambient");
    if (version >= 3) {
        io.value(r.ambient_2, at + "ambient_2");
    }
    if (version == 3 || version == 4) {
        io.value(r.ambient_3, at + "ambient_3");
    }
    if (version <= 2) {
        io.table(r.num_lights, r.legacy_lights_18, at + "lights", ttable_kind::room_lights);
        io.table(r.num_static_instances, r.legacy_static_instances, at + "static instances",
                 ttable_kind::room_static_instances);
    } else {
        if (version <= 5) {
            io.table(r.num_lights, r.legacy_lights_24, at + "lights", ttable_kind::room_lights);
        } else {
            io.table(r.num_lights, r.lights, at + "lights", ttable_kind::room_lights);
        }
        io.table(r.num_static_instances, r.static_instances, at + "static instances",
                 ttable_kind::room_static_instances);
    }
    io.value(r.alternate_room, at + "alternate_room");
    io.value(r.flags, at + "flags");
    if (version >= 5) {
        if constexpr (Io::loading) {
            r.tail_bytes[0] = r.tail_bytes[1] = r.tail_bytes[2] = r.tail_bytes[3] = 0;
        }
        io.bytes(r.tail_bytes, 3, at + "tail bytes");
    }
}

} // namespace

template <class Io> void walk_tr4_rooms(Io& io, Ttrlevel& l) {
    io.value(l.level_data_prefix, "level-data prefix");
    std::uint16_t count = l.num_rooms;
    const std::size_t count_at = io.position();
    io.value(count, "room count");
    if constexpr (Io::loading) {
        size_rooms(io, l, count, count_at, smallest_room(io.version));
    } else {
        (void)count_at;
    }
    for (std::size_t i = 0; i < l.rooms.size(); ++i) {
        io.in_room(static_cast<std::int32_t>(i));
        walk_room(io, l.rooms[i], io.version, field_place{"room " + std::to_string(i) + " "});
    }
    io.in_room(-1);
}

template void walk_tr4_rooms(level_loader&, Ttrlevel&);
template void walk_tr4_rooms(level_saver&, Ttrlevel&);

} // namespace quarlix
