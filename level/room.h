// troom: one room as every level version describes it, with fixed-capacity inline tables.
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

/// A room: plain data except its layer arrays. A value-initialised room is all zero.
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
    tlegacy_vertex legacy_vertices[max_room_vertices];
    troom_vertex vertices[max_room_vertices];
    tlayer_vertex trc_vertices[max_room_vertices];
    std::uint16_t num_rectangles;
    troom_rectangle rectangles[max_room_rectangles];
    tlayer_rectangle trc_rectangles[max_room_rectangles];
    std::uint16_t num_triangles;
    troom_triangle triangles[max_room_triangles];
    tlayer_triangle trc_triangles[max_room_triangles];
    std::uint16_t num_sprites;
    tsprite sprites[max_room_sprites];
    std::uint32_t num_aux_records;
    taux_record aux_records[max_room_aux_records];
    std::uint32_t trc_data_size;
    std::uint32_t trc_sectors_end;
    std::uint32_t trc_sectors_start;
    std::uint32_t trc_extra_1;
    std::uint32_t trc_portals_end;
    std::int32_t pos_y;
    std::uint8_t room_colour[4];   // blue, green, red, alpha
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
    tportal portals[max_room_portals];
    std::uint16_t num_z_sectors;
    std::uint16_t num_x_sectors;
    tsector sectors[max_room_sectors];
    std::uint8_t ambient[2];       // low byte, high byte
    std::uint16_t ambient_2;
    std::uint16_t ambient_3;
    std::uint16_t num_lights;
    tlight_18 legacy_lights_18[max_room_lights];
    tlight_24 legacy_lights_24[max_room_lights];
    tlight lights[max_room_lights];
    ttrc_light trc_lights[max_room_lights];
    std::uint16_t num_static_instances;
    tlegacy_static_instance legacy_static_instances[max_room_static_instances];
    tstatic_instance static_instances[max_room_static_instances];
    std::int16_t alternate_room;
    std::uint8_t flags[2];         // low byte, high byte; bit 0 is the room's water flag
    std::uint8_t tail_bytes[4];
    std::uint16_t trc_extra_word;
};

/// The high byte of a 16-bit lighting word: the 5-bit shade.
inline std::uint8_t lighting_shade(std::int16_t lighting) {
    return static_cast<std::uint8_t>(static_cast<std::uint16_t>(lighting) >> 8);
}

} // namespace quarlix
