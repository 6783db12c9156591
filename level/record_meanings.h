// The fields of the records that the converter keeps verbatim, decoded for the programs that
// look inside a level (reports, checks, exports). Reading only: nothing here changes a level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "level/records.h"
#include "level/trunit2.h"

namespace quarlix {

/// u8 value meaning "no room" in a sector's room below and room above.
inline constexpr std::uint8_t no_room_8 = 255;
/// Box index field meaning "no box" in every version.
inline constexpr std::uint16_t no_box_field = 0xFFFF;
/// The eleven box bits all set (versions 3 to 7): also no box, put on wall sectors.
inline constexpr std::uint16_t no_box_index = 0x7FF;
/// Animation field of a moveable without animations.
inline constexpr std::uint16_t no_animation = 0xFFFF;

struct portal_fields {
    std::uint16_t room;
    std::int16_t normal[3];
    std::int16_t corners[4][3];  // room-relative x, y, z
};

struct sector_fields {
    std::uint16_t floor_data_index;
    std::uint16_t box_field;
    std::uint8_t room_below;      // no_room_8: none
    std::int8_t floor;            // x 256 units
    std::uint8_t room_above;      // no_room_8: none
    std::int8_t ceiling;
};

struct object_texture_fields {
    std::uint16_t blend_mode;
    std::uint16_t page;           // bits 0-14 of the page word
    bool triangle;                // versions 6-7: only the first three corners count
    std::uint16_t flags;          // versions 6-7
    std::uint16_t u[4], v[4];     // high byte the pixel, low byte a fraction
};

struct sprite_texture_fields {
    std::uint16_t page;
    std::uint8_t x, y;
    std::uint16_t width, height;  // x 256 + 255
    std::int16_t left, top, right, bottom;
};

struct moveable_fields {
    std::uint32_t object_id;
    std::uint16_t num_meshes;
    std::uint16_t first_mesh;     // index into the mesh pointers
    std::uint32_t mesh_tree;      // first mesh-tree word
    std::uint32_t frame_offset;
    std::uint16_t animation;      // no_animation: none
};

struct static_mesh_fields {
    std::uint32_t id;
    std::uint16_t mesh;           // index into the mesh pointers
    std::uint16_t flags;
};

struct animation_fields {
    std::uint32_t frame_offset;   // bytes into the frames
    std::uint8_t frame_rate, frame_size;
    std::uint16_t state;
    std::uint16_t first_frame, last_frame;
    std::uint16_t next_animation, next_frame;
    std::uint16_t num_state_changes, first_state_change;
    std::uint16_t num_commands, first_command;
};

struct state_change_fields {
    std::uint16_t state;
    std::uint16_t num_dispatches;
    std::uint16_t first_dispatch;
};

struct dispatch_fields {
    std::int16_t low_frame, high_frame;
    std::int16_t next_animation, next_frame;
};

struct sample_info_fields {
    std::uint16_t first_sample;
    std::uint16_t volume;
    std::uint16_t range;
    std::uint16_t flags;
    std::uint16_t num_samples;    // flags bits 2-5
};

/// One sound sample of the sample data of TR4 and TRC files.
struct sample_entry {
    std::size_t offset;           // of its stored bytes, within the sample data
    std::uint32_t size;           // when unpacked
    std::uint32_t stored_size;
};

/// The sample data split into its samples; `complete` is false when the data ends inside a
/// sample (or inside the count), and `fault_offset` is then where that entry starts.
struct sample_list {
    std::uint32_t declared = 0;   // the count at the start
    std::vector<sample_entry> samples;
    bool complete = true;
    std::size_t fault_offset = 0;
};

portal_fields read_portal(const tportal& portal);
sector_fields read_sector(const tsector& sector);
/// The box a sector's box field names; nothing for 0xFFFF, and in versions 3 to 7 for the
/// index 0x7FF (all eleven bits set).
std::optional<std::uint16_t> sector_box(std::uint16_t box_field, std::int32_t version);
/// The object-texture index of a room face's texture word: bits 0-14 (TRC layer faces, which
/// are all the faces of a TRC room: bits 0-13).
std::uint16_t face_texture_index(std::uint16_t texture, bool layer_face);
/// True when a room face is drawn from both sides (bit 15 of its texture word, versions 3-7).
bool face_two_sided(std::uint16_t texture, std::int32_t version);
object_texture_fields read_object_texture(const tobject_texture& texture, std::int32_t version);
sprite_texture_fields read_sprite_texture(const tsprite_texture& texture);
moveable_fields read_moveable(const tmoveable& moveable);
static_mesh_fields read_static_mesh(const tstatic_mesh& mesh);
/// Versions 6 and 7.
animation_fields read_animation(const tanimation& animation);
/// Versions 1 to 5: the same fields without the lateral speed and acceleration.
animation_fields read_animation(const tanimation_old& animation);
state_change_fields read_state_change(const tstate_change& change);
dispatch_fields read_dispatch(const tanim_dispatch& dispatch);
std::int16_t camera_room(const tcamera& camera);
std::uint32_t flyby_camera_room(const tflyby_camera& camera);
std::uint16_t sound_source_sound(const tsound_source& source);
std::int16_t item_room(const titem& item);
std::int16_t item_object(const titem& item);
std::int16_t ai_object_room(const tai_object& object);
sample_info_fields read_sample_info(const tsample_info& info);

/// Entries of the sound map that a version's files carry: 256, 370 or 450.
std::size_t sound_map_entries(std::int32_t version);
/// Entry i of the level's own sound map: -1 none, else an index into the sample infos.
std::int16_t sound_map_entry(const Ttrlevel& level, std::size_t i);
/// Splits TR4 or TRC sample data into its samples.
sample_list read_sample_list(std::span<const std::uint8_t> sample_data);
/// The stored bytes of a sample of the list (which must have come from these sample data).
std::span<const std::uint8_t> sample_bytes(std::span<const std::uint8_t> sample_data,
                                           const sample_entry& sample);
/// True for bytes that start as a RIFF WAVE file whose RIFF length fits in them.
bool is_riff_wave(std::span<const std::uint8_t> bytes);
/// Bytes one element of a level section takes in the level's version ("items", "boxes", ...,
/// named as the model's counts without "num_"); 0 for a name it does not know.
std::size_t section_element_size(std::string_view section, std::int32_t version);

} // namespace quarlix
