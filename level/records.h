// Every record that moves between a level file and the model, as stored: packed, little-endian.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "level/room_table.h"

namespace quarlix {

static_assert(std::endian::native == std::endian::little, "tables are copied as stored");

/// Level versions: 0 none, 1 to 5 older formats, 6 TR4, 7 TRC.
enum : std::int32_t { level_none = 0, level_tr4 = 6, level_trc = 7 };

/// The sound map: 16-bit entries, -1 none, else an index into the sample infos. The model
/// holds the TRC map whole; older forms are its first entries.
inline constexpr std::size_t sound_map_capacity = 450;

/// Entries of the sound map that a version's files carry: 256, 370 or 450.
constexpr std::size_t sound_map_entries(std::int32_t version) {
    return version == level_trc ? sound_map_capacity : version >= 3 ? 370 : 256;
}

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
template <std::size_t N> struct topaque { std::uint8_t bytes[N]; };

struct tlegacy_vertex { // 8 bytes: versions 1 and 2
    std::int16_t x, y, z;
    std::int16_t lighting; // low byte, then high byte (the 5-bit shade)
};

struct troom_vertex { // 12 bytes: TR4 and versions 3 to 5
    std::int16_t x, y, z;
    std::int16_t lighting;
    std::uint16_t attributes;
    std::uint16_t colour; // 5-5-5: red bits 10-14, green 5-9, blue 0-4
};

struct tlayer_vertex { // 28 bytes: TRC
    float x, y, z;
    std::uint32_t extra[3];
    std::uint8_t colour[4]; // blue, green, red, alpha
};

struct troom_rectangle { // 10 bytes
    std::uint16_t corners[4];
    std::uint16_t texture;
};

struct tlayer_rectangle { // 12 bytes
    std::uint16_t corners[4];
    std::uint16_t texture;
    std::uint16_t extra;
};

struct troom_triangle { // 8 bytes
    std::uint16_t corners[3];
    std::uint16_t texture;
};

struct tlayer_triangle { // 10 bytes
    std::uint16_t corners[3];
    std::uint16_t texture;
    std::uint16_t extra;
};

struct tlayer_header { // 56 bytes
    std::uint32_t num_vertices;
    std::uint16_t extra_1;
    std::uint16_t num_rectangles;
    std::uint16_t num_triangles;
    std::uint16_t extra_2; // from here on, 46 bytes kept verbatim by the reader
    std::uint32_t extra_3;
    float bounds[6]; // x1, y1, z1, x2, y2, z2
    std::uint32_t extra_4;
    std::uint32_t extra_5, extra_6, extra_7;
};

struct tportal {        // 32 bytes
    std::uint16_t room; // on the other side
    std::int16_t normal[3];
    std::int16_t corners[4][3]; // room-relative x, y, z
};

struct tsector { // 8 bytes
    std::uint16_t floor_data_index;
    std::uint16_t box_field; // see sector_box
    std::uint8_t room_below; // no_room_8: none
    std::int8_t floor;       // x 256 units
    std::uint8_t room_above; // no_room_8: none
    std::int8_t ceiling;
};

struct tsprite {          // 4 bytes
    std::int16_t vertex;  // into the room's vertices
    std::int16_t texture; // into the sprite textures
};

struct tstatic_instance {   // 20 bytes: versions 3 to 7
    std::int32_t x, y, z;   // absolute
    std::uint16_t rotation; // 65536 a full turn about y
    std::uint16_t intensity;
    std::uint16_t intensity_2;
    std::uint16_t mesh_id; // a static mesh's id
};

struct tlegacy_static_instance { // 18 bytes: versions 1 and 2
    std::int32_t x, y, z;
    std::uint16_t rotation;
    std::uint16_t intensity;
    std::uint16_t mesh_id;
};

// Room tables kept verbatim.
using taux_record = topaque<36>;
using tlight_18 = topaque<18>;
using tlight_24 = topaque<24>;
using tlight = topaque<46>;
using ttrc_light = topaque<85>;

struct tanimation {             // 40 bytes: versions 6 and 7
    std::uint32_t frame_offset; // bytes into the frames
    std::uint8_t frame_rate;
    std::uint8_t frame_size; // words between keyframes
    std::uint16_t state;
    std::int32_t speed, acceleration;
    std::int32_t lateral_speed, lateral_acceleration;
    std::uint16_t first_frame, last_frame;
    std::uint16_t next_animation, next_frame;
    std::uint16_t num_state_changes, first_state_change;
    std::uint16_t num_commands, first_command;
};

struct tanimation_old { // 32 bytes: versions 1 to 5, without the lateral motion
    std::uint32_t frame_offset;
    std::uint8_t frame_rate;
    std::uint8_t frame_size;
    std::uint16_t state;
    std::int32_t speed, acceleration;
    std::uint16_t first_frame, last_frame;
    std::uint16_t next_animation, next_frame;
    std::uint16_t num_state_changes, first_state_change;
    std::uint16_t num_commands, first_command;
};

struct tstate_change { // 6 bytes
    std::uint16_t state;
    std::uint16_t num_dispatches;
    std::uint16_t first_dispatch;
};

struct tanim_dispatch { // 8 bytes
    std::int16_t low_frame, high_frame;
    std::int16_t next_animation, next_frame;
};

struct tmoveable { // 18 bytes
    std::uint32_t object_id;
    std::uint16_t num_meshes;
    std::uint16_t first_mesh; // index into the mesh pointers
    std::uint32_t mesh_tree;  // first mesh-tree word
    std::uint32_t frame_offset;
    std::uint16_t animation; // no_animation: none
};

struct tmoveable_trc { // 20 bytes: the 18-byte moveable and a trailing word
    tmoveable moveable;
    std::uint16_t trailing;
};

struct tstatic_mesh { // 32 bytes
    std::uint32_t id;
    std::uint16_t mesh; // index into the mesh pointers
    std::int16_t visibility_box[6];
    std::int16_t collision_box[6];
    std::uint16_t flags;
};

struct tsprite_texture { // 16 bytes; the meaning of the numbers differs by version
    std::uint16_t page;
    std::uint8_t x, y;
    std::uint16_t width, height;
    std::int16_t left, top, right, bottom;
};

struct tsprite_sequence { // 8 bytes
    std::int32_t object_id;
    std::int16_t negative_length; // minus the number of sprites
    std::int16_t first_texture;   // into the sprite textures
};

struct tcamera { // 16 bytes
    std::int32_t x, y, z;
    std::int16_t room;
    std::uint16_t flags;
};

struct tflyby_camera { // 40 bytes
    std::int32_t x, y, z;
    std::int32_t target_x, target_y, target_z;
    std::uint8_t sequence, index;
    std::uint16_t field_of_view;
    std::int16_t roll;
    std::uint16_t timer, speed, flags;
    std::uint32_t room;
};

struct tsound_source { // 16 bytes
    std::int32_t x, y, z;
    std::uint16_t sound; // index into the sound map
    std::uint16_t flags;
};

struct tbox {                                // 8 bytes: versions 3 to 7
    std::uint8_t z_min, z_max, x_min, x_max; // in sectors
    std::int16_t floor;
    std::uint16_t overlap; // bits 0-13: index into the overlaps
};

struct tai_object { // 24 bytes
    std::int16_t object_id;
    std::int16_t room;
    std::int32_t x, y, z;
    std::int16_t code;
    std::uint16_t flags;
    std::int32_t angle;
};

struct tsample_info { // 8 bytes
    std::uint16_t first_sample;
    std::uint16_t volume;
    std::uint16_t range;
    std::uint16_t flags; // bits 2-5: how many samples to pick from
};

// Level sections kept verbatim.
using tbox_old = topaque<20>;
using tcinematic_frame = topaque<16>;

/// One corner of an object texture: high byte the pixel in the page, low byte a fraction.
struct ttexture_corner {
    std::uint16_t u, v;
};

struct tobject_texture {      // 40 bytes; TR4 files carry bytes 0 to 37, older files 0-3 and 6-21
    std::uint16_t blend_mode; // 0 opaque, 1 alpha-tested, 2 additive, ...
    std::uint16_t page_word;  // see texture_page and texture_triangle
    std::uint16_t flags;      // versions 6 and 7
    ttexture_corner corners[4];
    std::uint32_t original[4]; // versions 6 and 7: position and size before packing
    std::uint16_t last;        // TRC only
};

struct titem { // 24 bytes: versions 3 to 7
    std::int16_t object_id;
    std::int16_t room;
    std::int32_t x, y, z;
    std::int16_t angle; // 65536 a full turn about y
    std::uint16_t intensity;
    std::uint16_t intensity_2; // versions 6 and 7: an object code
    std::uint16_t flags;
};

struct titem_old { // 22 bytes: versions 1 and 2
    std::int16_t object_id;
    std::int16_t room;
    std::int32_t x, y, z;
    std::int16_t angle;
    std::uint8_t intensity; // the low bytes of the newer form's two intensities
    std::uint8_t intensity_2;
    std::uint16_t flags;
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

template <class T>
inline constexpr bool is_stored_record_v =
    std::is_trivially_copyable_v<T>&& std::is_standard_layout_v<T>;

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
static_assert(sizeof(tportal) == 32 && sizeof(tsector) == 8 && sizeof(tsprite) == 4);
static_assert(sizeof(tstatic_instance) == 20 && sizeof(tlegacy_static_instance) == 18);
static_assert(sizeof(taux_record) == 36 && sizeof(tlight) == 46 && sizeof(ttrc_light) == 85);
static_assert(sizeof(tlight_18) == 18 && sizeof(tlight_24) == 24);
static_assert(sizeof(tanimation) == 40 && sizeof(tanimation_old) == 32);
static_assert(offsetof(tanimation, first_frame) == 24 &&
              offsetof(tanimation_old, first_frame) == 16);
static_assert(sizeof(tstate_change) == 6 && sizeof(tanim_dispatch) == 8);
static_assert(sizeof(tmoveable) == 18 && sizeof(tmoveable_trc) == 20);
static_assert(sizeof(tstatic_mesh) == 32 && offsetof(tstatic_mesh, flags) == 30);
static_assert(sizeof(tsprite_texture) == 16 && sizeof(tsprite_sequence) == 8);
static_assert(sizeof(tcamera) == 16 && sizeof(tflyby_camera) == 40);
static_assert(offsetof(tflyby_camera, room) == 36);
static_assert(sizeof(tsound_source) == 16 && offsetof(tsound_source, sound) == 12);
static_assert(sizeof(tbox) == 8 && sizeof(tbox_old) == 20 && sizeof(tcinematic_frame) == 16);
static_assert(sizeof(tai_object) == 24 && sizeof(tsample_info) == 8);
static_assert(sizeof(tobject_texture) == 40);
static_assert(offsetof(tobject_texture, corners) == 6 && offsetof(tobject_texture, original) == 22);
static_assert(offsetof(tobject_texture, last) == 38);
static_assert(sizeof(titem) == 24 && sizeof(titem_old) == 22);
static_assert(offsetof(titem, intensity) == 18 && offsetof(titem_old, intensity) == 18);
static_assert(is_stored_record_v<tlayer_vertex> && is_stored_record_v<tobject_texture> &&
              is_stored_record_v<titem> && is_stored_record_v<tlayer_header> &&
              is_stored_record_v<tflyby_camera> && is_stored_record_v<tanimation>);

// ---- decoders of the few packed fields ----

/// u8 value meaning "no room" in a sector's room below and room above.
inline constexpr std::uint8_t no_room_8 = 255;
/// Box index field meaning "no box" in every version.
inline constexpr std::uint16_t no_box_field = 0xFFFF;
/// The eleven box bits all set (versions 3 to 7): also no box, put on wall sectors.
inline constexpr std::uint16_t no_box_index = 0x7FF;
/// Animation field of a moveable without animations.
inline constexpr std::uint16_t no_animation = 0xFFFF;

/// The box a sector's box field names; nothing for 0xFFFF, and in versions 3 to 7 for the
/// index 0x7FF (all eleven bits set). Versions 1 and 2 hold the index alone; later versions
/// put it in bits 4-14, beside a surface material.
inline std::optional<std::uint16_t> sector_box(std::uint16_t box_field, std::int32_t version) {
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

/// The object-texture index of a room face's texture word: bits 0-14 (TRC layer faces, which
/// are all the faces of a TRC room: bits 0-13).
inline std::uint16_t face_texture_index(std::uint16_t texture, bool layer_face) {
    return texture & (layer_face ? 0x3FFF : 0x7FFF);
}

/// True when a room face is drawn from both sides (bit 15 of its texture word, versions 3-7).
inline bool face_two_sided(std::uint16_t texture, std::int32_t version) {
    return version >= 3 && (texture & 0x8000) != 0;
}

/// The texture page of an object texture: bits 0-14 of its page word.
inline std::uint16_t texture_page(const tobject_texture& t) { return t.page_word & 0x7FFF; }

/// Versions 6 and 7: bit 15 of the page word marks a triangle (only three corners count).
inline bool texture_triangle(const tobject_texture& t, std::int32_t version) {
    return version >= 6 && (t.page_word & 0x8000) != 0;
}

/// The number of samples a sample info picks from: bits 2-5 of its flags.
inline std::uint16_t sample_count(const tsample_info& info) {
    return static_cast<std::uint16_t>((info.flags >> 2) & 0x0F);
}

} // namespace quarlix
