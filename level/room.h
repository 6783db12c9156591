// troom: one room as every level version describes it; each table holds the rows its count says.
#pragma once

#include <cstdint>
#include <vector>

#include "level/records.h"

namespace quarlix {

/// The layered geometry of a TRC room, as read.
struct ttr5_layers {
    std::uint32_t layer_count = 0;
    std::vector<tlayer_vertex_block> vertex_blocks;
    std::vector<tlayer_rectangle_block> rectangle_blocks;
    std::vector<tlayer_triangle_block> triangle_blocks;
};

/// A room: plain values and tables of stored records. A value-initialised room is all zero and
/// all its tables are empty. Loading sizes every table of the file's form to its count; a form
/// that the file does not hold stays shorter, and savers write its missing rows as zeros.
struct troom {
    std::int32_t pos_x;
    std::int32_t pos_z;
    std::int32_t y_bottom;
    std::int32_t y_top;
    std::uint32_t num_data_words;
    std::uint32_t num_layers;
    std::vector<tlayer_header> layer_headers;
    ttr5_layers layers;
    std::uint16_t num_vertices;
    troom_table<tlegacy_vertex, max_room_vertices> legacy_vertices;
    troom_table<troom_vertex, max_room_vertices> vertices;
    troom_table<tlayer_vertex, max_room_vertices> trc_vertices;
    std::uint16_t num_rectangles;
    troom_table<troom_rectangle, max_room_rectangles> rectangles;
    troom_table<tlayer_rectangle, max_room_rectangles> trc_rectangles;
    std::uint16_t num_triangles;
    troom_table<troom_triangle, max_room_triangles> triangles;
    troom_table<tlayer_triangle, max_room_triangles> trc_triangles;
    std::uint16_t num_sprites;
    troom_table<tsprite, max_room_sprites> sprites;
    std::uint32_t num_aux_records;
    troom_table<taux_record, max_room_aux_records> aux_records;
    std::uint32_t trc_data_size;
    std::uint32_t trc_sectors_end;
    std::uint32_t trc_sectors_start;
    std::uint32_t trc_extra_1;
    std::uint32_t trc_portals_end;
    std::int32_t pos_y;
    std::uint8_t room_colour[4]; // blue, green, red, alpha
    std::uint32_t trc_extra_2;
    std::uint32_t trc_extra_3;
    std::uint32_t trc_extra_4;
    std::uint8_t trc_extra_block[16];
    std::uint32_t trc_extra_5;
    std::uint32_t trc_num_triangles;
    std::uint32_t trc_num_rectangles;
    std::uint32_t trc_extra_6;
    std::uint32_t trc_light_data_size;
    std::uint32_t trc_extra_7;
    std::uint32_t trc_extra_8;
    std::uint32_t trc_extra_9;
    std::uint32_t trc_layers_offset;
    std::uint32_t trc_vertices_offset;
    std::uint32_t trc_faces_offset;
    std::uint32_t trc_faces_offset_2;
    std::uint32_t trc_vertices_size;
    std::int32_t trc_unread_bytes;
    std::uint16_t num_portals;
    troom_table<tportal, max_room_portals> portals;
    std::uint16_t num_z_sectors;
    std::uint16_t num_x_sectors;
    troom_table<tsector, max_room_sectors> sectors;
    std::uint8_t ambient[2]; // low byte, high byte
    std::uint16_t ambient_2;
    std::uint16_t ambient_3;
    std::uint16_t num_lights;
    troom_table<tlight_18, max_room_lights> legacy_lights_18;
    troom_table<tlight_24, max_room_lights> legacy_lights_24;
    troom_table<tlight, max_room_lights> lights;
    troom_table<ttrc_light, max_room_lights> trc_lights;
    std::uint16_t num_static_instances;
    troom_table<tlegacy_static_instance, max_room_static_instances> legacy_static_instances;
    troom_table<tstatic_instance, max_room_static_instances> static_instances;
    std::int16_t alternate_room;     // as the TR4 and older room blocks hold it
    std::int16_t trc_alternate_room; // the TRC header's word; the writers never store it
    std::uint8_t flags[2];           // low byte, high byte; bit 0 is the room's water flag
    std::uint8_t tail_bytes[4];
    std::uint16_t trc_extra_word;
};

// 65,535 empty rooms, a few KiB of file, must cost well under the 64 MiB that any run may take.
static_assert(sizeof(troom) <= 640);

/// The room that replaces this one when the level flips, -1 none: in TRC files a word of the
/// room header that the converter does not carry.
inline std::int16_t room_alternate(const troom& room, std::int32_t version) {
    return version == level_trc ? room.trc_alternate_room : room.alternate_room;
}

/// The high byte of a 16-bit lighting word: the 5-bit shade.
inline std::uint8_t lighting_shade(std::int16_t lighting) {
    return static_cast<std::uint8_t>(static_cast<std::uint16_t>(lighting) >> 8);
}

} // namespace quarlix
