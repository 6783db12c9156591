// Every record that moves between a level file and the model, as stored: packed, little-endian.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "level/room_table.h"

namespace quarlix {

static_assert(std::endian::native == std::endian::little, "tables are copied as stored");

// Table capacities of a room and of a layer block.
inline constexpr std::size_t max_room_vertices = 1500;
inline constexpr std::size_t max_room_rectangles = 2000;
inline constexpr std::size_t max_room_triangles = 1250;
inline constexpr std::size_t max_room_sprites = 50;
inline constexpr std::size_t max_room_aux_records = 21;
inline constexpr std::size_t max_room_portals = 20;
inline constexpr std::size_t max_room_sectors = 1024;
inline constexpr std::size_t max_room_lights = 50;
inline constexpr std::size_t max_room_static_instances = 50;

#pragma pack(push, 1)

/// Bytes kept verbatim: the system never looks inside.
template <std::size_t N> struct topaque {
    std::uint8_t bytes[N];
};

struct tlegacy_vertex {        // 8 bytes: versions 1 and 2
    std::int16_t x, y, z;
    std::int16_t lighting;     // low byte, then high byte (the 5-bit shade)
};

struct troom_vertex {          // 12 bytes: TR4 and versions 3 to 5
    std::int16_t x, y, z;
    std::int16_t lighting;
    std::uint16_t attributes;
    std::uint16_t colour;      // 5-5-5: red bits 10-14, green 5-9, blue 0-4
};

struct tlayer_vertex {         // 28 bytes: TRC
    float x, y, z;
    std::uint32_t extra[3];
    std::uint8_t colour[4];    // blue, green, red, alpha
};

struct troom_rectangle {       // 10 bytes
    std::uint16_t corners[4];
    std::uint16_t texture;
};

struct tlayer_rectangle {      // 12 bytes
    std::uint16_t corners[4];
    std::uint16_t texture;
    std::uint16_t extra;
};

struct troom_triangle {        // 8 bytes
    std::uint16_t corners[3];
    std::uint16_t texture;
};

struct tlayer_triangle {       // 10 bytes
    std::uint16_t corners[3];
    std::uint16_t texture;
    std::uint16_t extra;
};

struct tlayer_header {         // 56 bytes
    std::uint32_t num_vertices;
    std::uint16_t extra_1;
    std::uint16_t num_rectangles;
    std::uint16_t num_triangles;
    std::uint16_t extra_2;     // from here on, 46 bytes kept verbatim by the reader
    std::uint32_t extra_3;
    float bounds[6];           // x1, y1, z1, x2, y2, z2
    std::uint32_t extra_4;
    std::uint32_t extra_5, extra_6, extra_7;
};

// Room tables kept verbatim.
using tsprite = topaque<4>;
using tportal = topaque<32>;
using tsector = topaque<8>;
using taux_record = topaque<36>;
using tlight_18 = topaque<18>;
using tlight_24 = topaque<24>;
using tlight = topaque<46>;
using ttrc_light = topaque<85>;
using tlegacy_static_instance = topaque<18>;
using tstatic_instance = topaque<20>;

// Level sections kept verbatim.
using tanimation_old = topaque<32>;
using tanimation = topaque<40>;
using tstate_change = topaque<6>;
using tanim_dispatch = topaque<8>;
using tmoveable = topaque<18>;
using tstatic_mesh = topaque<32>;
using tsprite_texture = topaque<16>;
using tsprite_sequence = topaque<8>;
using tcamera = topaque<16>;
using tflyby_camera = topaque<40>;
using tsound_source = topaque<16>;
using tbox_old = topaque<20>;
using tbox = topaque<8>;
using tai_object = topaque<24>;
using tcinematic_frame = topaque<16>;
using tsample_info = topaque<8>;

struct tmoveable_trc {         // 20 bytes: the 18-byte moveable and a trailing word
    tmoveable moveable;
    std::uint16_t trailing;
};

struct tobject_texture {       // 40 bytes; TR4 files carry bytes 0 to 37, older files 0-3 and 6-21
    std::uint16_t field_0;
    std::uint16_t field_2;
    std::uint16_t field_4;
    std::uint8_t bytes_6[16];
    std::uint32_t field_22, field_26, field_30, field_34;
    std::uint16_t last;        // TRC only
};

struct titem {                 // 24 bytes: versions 3 to 7
    std::uint16_t f0, f2;
    std::uint32_t f4, f8, f12;
    std::uint8_t f16, f17;
    std::uint16_t f18, f20, f22;
};

struct titem_old {             // 22 bytes: versions 1 and 2
    std::uint16_t f0, f2;
    std::uint32_t f4, f8, f12;
    std::uint8_t f16, f17;
    std::uint8_t f18, f19;
    std::uint16_t f20;
};

#pragma pack(pop)

// A layer's tables: its count as read from its header, and exactly that many rows.
struct tlayer_vertex_block {
    std::uint16_t count;
    troom_table<tlayer_vertex, max_room_vertices> vertices;
};

struct tlayer_rectangle_block {
    std::uint16_t count;
    troom_table<tlayer_rectangle, max_room_rectangles> rectangles;
};

struct tlayer_triangle_block {
    std::uint16_t count;
    troom_table<tlayer_triangle, max_room_triangles> triangles;
};

template <class T> inline constexpr bool is_stored_record_v =
    std::is_trivially_copyable_v<T> && std::is_standard_layout_v<T>;

static_assert(sizeof(tlegacy_vertex) == 8);
static_assert(sizeof(troom_vertex) == 12);
static_assert(sizeof(tlayer_vertex) == 28);
static_assert(sizeof(troom_rectangle) == 10);
static_assert(sizeof(tlayer_rectangle) == 12);
static_assert(sizeof(troom_triangle) == 8);
static_assert(sizeof(tlayer_triangle) == 10);
static_assert(sizeof(tlayer_header) == 56);
static_assert(offsetof(tlayer_header, extra_2) == 10);
static_assert(sizeof(troom_table<tlayer_vertex, max_room_vertices>) == 16);
static_assert(sizeof(tlayer_vertex_block) == 24 && sizeof(tlayer_triangle_block) == 24);
static_assert(sizeof(tmoveable_trc) == 20);
static_assert(sizeof(tobject_texture) == 40);
static_assert(offsetof(tobject_texture, field_22) == 22);
static_assert(offsetof(tobject_texture, last) == 38);
static_assert(sizeof(titem) == 24);
static_assert(sizeof(titem_old) == 22);
static_assert(sizeof(tsprite) == 4 && sizeof(tportal) == 32 && sizeof(tsector) == 8);
static_assert(sizeof(taux_record) == 36 && sizeof(tlight) == 46 && sizeof(ttrc_light) == 85);
static_assert(sizeof(tlight_18) == 18 && sizeof(tlight_24) == 24);
static_assert(sizeof(tstatic_instance) == 20 && sizeof(tlegacy_static_instance) == 18);
static_assert(is_stored_record_v<tlayer_vertex> && is_stored_record_v<tobject_texture> &&
              is_stored_record_v<titem> && is_stored_record_v<tlayer_header>);

} // namespace quarlix
