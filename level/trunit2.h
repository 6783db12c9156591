// Ttrlevel: one whole level in memory, in a model shared by every level version.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "level/records.h"
#include "level/room.h"
#include "level/table_place.h"
#include "storage/zfiles.h"

namespace quarlix {

/// What a save of a level would write, in bytes, known before the output is created.
struct tsave_sizes {
    std::int32_t version = level_tr4; // level_tr4 or level_trc
    std::uint64_t textiles32 = 0;     // length fields of the three texture chunks
    std::uint64_t textiles16 = 0;
    std::uint64_t textiles_misc = 0;
    std::uint64_t level_data = 0;  // the level data before any compression
    std::uint64_t sample_data = 0; // written after the level data
    std::uint64_t sample_data_held = 0;
};

/// Raises ERangeError when a save with these sizes would put a value into a 32-bit field that
/// does not fit there, write more sample data than is held, or make a file of 2 GiB or more
/// even before its compressed chunks are counted.
void check_save_sizes(const tsave_sizes& sizes);

inline constexpr const char* level_signature = "Zendrac";

class Ttrlevel {
  public:
    std::uint16_t num_rooms = 0;
    std::int32_t num_floor_data = 0;
    std::int32_t num_mesh_data = 0;
    std::int32_t num_mesh_pointers = 0;
    std::int32_t num_animations = 0;
    std::int32_t num_state_changes = 0;
    std::int32_t num_anim_dispatches = 0;
    std::int32_t num_anim_commands = 0;
    std::int32_t num_mesh_trees = 0;
    std::int32_t num_frames = 0;
    std::int32_t num_moveables = 0;
    std::int32_t num_static_meshes = 0;
    std::int32_t num_object_textures = 0;
    std::int32_t num_sprite_textures = 0;
    std::int32_t num_sprite_sequences = 0;
    std::int32_t num_cameras = 0;
    std::int32_t num_flyby_cameras = 0;
    std::int32_t num_sound_sources = 0;
    std::int32_t num_boxes = 0;
    std::int32_t num_overlaps = 0;
    std::int32_t num_zones = 0;
    std::int32_t num_animated_textures = 0;
    std::int32_t num_items = 0;
    std::int32_t num_ai_objects = 0;
    std::int32_t num_demo_data = 0;
    std::int32_t num_sample_infos = 0;
    std::int32_t num_sample_indices = 0;
    std::string signature;
    std::uint32_t magic = 0;
    std::int32_t version = 0;
    std::uint16_t num_room_textiles = 0;
    std::uint16_t num_object_textiles = 0;
    std::uint16_t num_bump_textiles = 0;
    std::uint32_t textiles32_size = 0;
    std::uint32_t textiles32_packed_size = 0;
    std::uint32_t textiles16_size = 0;
    std::uint32_t textiles16_packed_size = 0;
    std::uint32_t textiles_misc_size = 0;
    std::uint32_t textiles_misc_packed_size = 0;
    std::uint32_t level_data_chunk_size = 0;        // TR4: the level-data chunk, inflated
    std::uint32_t level_data_chunk_packed_size = 0; // and as stored
    std::uint32_t textile_bytes = 0;
    std::uint32_t num_textiles = 0;
    zbuffer textiles8;
    zbuffer textiles16;
    zbuffer textiles32;
    zbuffer textiles_misc;
    std::uint32_t level_data_prefix = 0;
    std::uint8_t trc_header_block[32] = {};
    std::uint32_t trc_level_data_size = 0;
    std::uint32_t trc_level_data_size_2 = 0;
    std::vector<troom> rooms;
    std::vector<std::int16_t> floor_data;
    std::vector<std::uint16_t> mesh_data;
    std::vector<std::int32_t> mesh_pointers;
    std::vector<tanimation_old> animations_old;
    std::vector<tanimation> animations;
    std::vector<tstate_change> state_changes;
    std::vector<tanim_dispatch> anim_dispatches;
    std::vector<std::uint16_t> anim_commands;
    std::vector<std::int32_t> mesh_trees;
    std::vector<std::int16_t> frames;
    std::vector<tmoveable> moveables;
    std::vector<tmoveable_trc> moveables_trc;
    std::vector<tstatic_mesh> static_meshes;
    std::uint8_t object_texture_prefix[5] = {};
    std::vector<tobject_texture> object_textures;
    std::uint8_t sprite_prefix[4] = {};
    std::vector<tsprite_texture> sprite_textures;
    std::vector<tsprite_sequence> sprite_sequences;
    std::vector<tcamera> cameras;
    std::vector<tflyby_camera> flyby_cameras;
    std::vector<tsound_source> sound_sources;
    std::vector<tbox_old> boxes_old;
    std::vector<tbox> boxes;
    std::vector<std::uint16_t> overlaps;
    std::array<std::vector<std::uint16_t>, 10> zones;
    std::vector<std::uint16_t> animated_textures;
    std::vector<titem_old> items_old;
    std::vector<titem> items;
    std::uint8_t light_map[8192] = {};
    std::uint8_t palette8[768] = {};
    std::uint8_t palette16[1024] = {};
    std::vector<tcinematic_frame> cinematic_frames;
    std::vector<tai_object> ai_objects;
    std::vector<std::uint8_t> demo_data;
    std::uint8_t sound_map[2 * sound_map_capacity] = {};
    std::vector<tsample_info> sample_infos;
    std::uint32_t sample_data_size = 0;
    zbuffer sample_data;
    std::vector<std::int32_t> sample_indices;

    /// Reads a level of any version: 0 recognised, 1 no such file, 2 unrecognised first word.
    std::uint8_t load(const std::string& file_name);
    /// Writes TR4 or TRC by the output name: 0 written, 1 nothing loaded (no file created).
    /// A size or count that the output cannot hold raises ERangeError before the file is
    /// created; a compressed chunk too large for it fails the save after.
    std::uint8_t save(const std::string& file_name);
    /// Every size and count that a save as version `target` (TR4 or TRC) writes, measured
    /// by the writer's own walk without writing anything, and checked (check_save_sizes).
    void check_save(std::int32_t target);
    /// Fills every room's TRC forms and first layer header from its TR4 geometry.
    void room_geometry_to_layers();

    // Count setters: resize (zero-filling growth), then store the count. A negative n or an
    // array larger than a signed 32-bit size can express raises ERangeError.
    void set_num_rooms(std::uint16_t n);
    void set_num_floor_data(std::int32_t n);
    void set_num_mesh_data(std::int32_t n);
    void set_num_mesh_pointers(std::int32_t n);
    void set_num_animations(std::int32_t n);
    void set_num_state_changes(std::int32_t n);
    void set_num_anim_dispatches(std::int32_t n);
    void set_num_anim_commands(std::int32_t n);
    void set_num_mesh_trees(std::int32_t n);
    void set_num_frames(std::int32_t n);
    void set_num_moveables(std::int32_t n);
    void set_num_static_meshes(std::int32_t n);
    void set_num_object_textures(std::int32_t n);
    void set_num_sprite_textures(std::int32_t n);
    void set_num_sprite_sequences(std::int32_t n);
    void set_num_cameras(std::int32_t n);
    void set_num_flyby_cameras(std::int32_t n);
    void set_num_sound_sources(std::int32_t n);
    void set_num_boxes(std::int32_t n);
    void set_num_overlaps(std::int32_t n);
    void set_num_zones(std::int32_t n);
    void set_num_animated_textures(std::int32_t n);
    void set_num_items(std::int32_t n);
    void set_num_ai_objects(std::int32_t n);
    void set_num_demo_data(std::int32_t n);
    void set_num_sample_infos(std::int32_t n);
    void set_num_sample_indices(std::int32_t n);

    /// Loads from bytes already in memory, as load does after reading the file (no disk):
    /// 0 recognised, 2 unrecognised first word. `places`, when set, is told where each table
    /// starts, in reading order.
    std::uint8_t load_content(std::span<const std::uint8_t> content, const std::string& file_name,
                              const ttable_sink& places = {});

  private:
    void release_buffers();
};

/// Entry i of the level's own sound map: -1 none, else an index into the sample infos.
inline std::int16_t sound_map_entry(const Ttrlevel& level, std::size_t i) {
    std::int16_t entry;
    std::memcpy(&entry, level.sound_map + 2 * i, sizeof entry);
    return entry;
}

/// The level version that a first word and a file name give; 0 for an unrecognised word.
std::int32_t detect_version(std::uint32_t first_word, const std::string& file_name);
/// True when the name holds ".TRC" or ".trc".
bool is_trc_name(const std::string& file_name);

} // namespace quarlix
