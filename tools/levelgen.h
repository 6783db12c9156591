// Deterministic level generator: a plain description of a level and the functions that write it
// as level-file bytes, straight from the byte layouts of each level version.
//
// Versions: 1 to 5 older formats, 6 TR4, 7 TRC. Opaque records (lights, portals, moveables, ...)
// are byte vectors; each is written at the element size of the level's version, as its first
// bytes, zero-padded when it is shorter. Nothing is checked against a format's capacities, so
// oversized and malformed levels can be described too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/level_bytes.h"

namespace levelgen {

inline constexpr int version_tr4 = 6;
inline constexpr int version_trc = 7;

using gen_record = std::vector<std::uint8_t>;
using gen_records = std::vector<gen_record>;

// ---- Room geometry --------------------------------------------------------------------------

/// 12-byte room vertex (TR4 and versions 3 to 5); versions 1 and 2 write its first 8 bytes.
struct gen_vertex {
    std::int16_t x = 0, y = 0, z = 0;
    std::int16_t lighting = 0;
    std::uint16_t attributes = 0;
    std::uint16_t colour = 0; // 5-5-5
};

struct gen_rect {
    std::array<std::uint16_t, 4> corners{};
    std::uint16_t texture = 0;
};

struct gen_tri {
    std::array<std::uint16_t, 3> corners{};
    std::uint16_t texture = 0;
};

/// 28-byte TRC layer vertex.
struct gen_layer_vertex {
    float x = 0, y = 0, z = 0;
    std::array<std::uint32_t, 3> extra{};
    std::uint8_t b = 0, g = 0, r = 0, a = 0;
};

struct gen_layer_rect {
    std::array<std::uint16_t, 4> corners{}; // indices into the same layer's vertices
    std::uint16_t texture = 0;
    std::uint16_t extra = 0;
};

struct gen_layer_tri {
    std::array<std::uint16_t, 3> corners{};
    std::uint16_t texture = 0;
    std::uint16_t extra = 0;
};

/// One TRC layer: its geometry and the words of its 56-byte header besides the three counts.
struct gen_layer {
    std::vector<gen_layer_vertex> vertices{};
    std::vector<gen_layer_rect> rectangles{};
    std::vector<gen_layer_tri> triangles{};
    std::uint16_t extra_1 = 0;
    // The 46 bytes kept verbatim: extra_2 .. extra_7.
    std::uint16_t extra_2 = 0;
    std::uint32_t extra_3 = 0;
    std::array<float, 6> bounds{}; // x1, y1, z1, x2, y2, z2
    std::uint32_t extra_4 = 0, extra_5 = 0, extra_6 = 0, extra_7 = 0;
    /// Header vertex count written instead of vertices.size().
    std::optional<std::uint32_t> num_vertices{};
};

/// The 46 header bytes from extra_2 on, as they stand in the file.
std::array<std::uint8_t, 46> layer_kept_bytes(const gen_layer& layer);

// ---- Room -----------------------------------------------------------------------------------

struct gen_room {
    // Both forms.
    std::int32_t pos_x = 0, pos_z = 0, y_bottom = 0, y_top = 0;
    std::uint16_t z_sectors = 0, x_sectors = 0;
    gen_records sectors{};          // 8 bytes; exactly Z * X are written, missing ones as zeros
    gen_records portals{};          // 32 bytes
    gen_records lights{};           // 18 (v1, v2), 24 (v3 to v5), 46 (TR4) or 85 (TRC) bytes
    gen_records static_instances{}; // 18 (v1, v2) or 20 bytes
    std::uint16_t flags = 0;

    // TR4 and older versions.
    std::vector<gen_vertex> vertices{}; // v1, v2 write x, y, z, lighting only
    std::vector<gen_rect> rectangles{};
    std::vector<gen_tri> triangles{};
    gen_records sprites{}; // 4 bytes
    std::uint16_t ambient = 0;
    std::uint16_t ambient_2 = 0; // v3 and later
    std::uint16_t ambient_3 = 0; // v3, v4
    std::int16_t alternate_room = 0;
    std::array<std::uint8_t, 3> tail_bytes{}; // v5 and later
    /// Written instead of 4 + 6 NV + 5 NR + 4 NT + 2 NS (4 NV for v1, v2).
    std::optional<std::uint32_t> num_data_words{};

    // TRC.
    std::int32_t pos_y = 0;
    std::array<std::uint8_t, 4> room_colour{}; // blue, green, red, alpha
    std::uint32_t trc_extra_1 = 0, trc_extra_2 = 0, trc_extra_3 = 0, trc_extra_4 = 0,
                  trc_extra_5 = 0, trc_extra_6 = 0, trc_extra_7 = 0, trc_extra_8 = 0,
                  trc_extra_9 = 0;
    std::uint16_t trc_extra_word = 0;
    std::int16_t trc_alternate_room = -1; // the last two of the six FF bytes at header offset 80
    std::array<std::uint8_t, 16> trc_extra_block{};
    /// Header face counts; by default the totals over the layers.
    std::optional<std::uint32_t> trc_num_triangles{}, trc_num_rectangles{};
    gen_records aux_records{}; // 36 bytes
    std::vector<gen_layer> layers{};
    /// Header layer count written instead of layers.size() (the layers themselves are still
    /// written).
    std::optional<std::uint32_t> num_layers{};
    /// Room-data size written instead of the computed one.
    std::optional<std::uint32_t> trc_data_size{};
    /// Bytes after the closing filler; counted in the computed room-data size.
    std::vector<std::uint8_t> trc_trailing_bytes{};
};

// ---- Level ----------------------------------------------------------------------------------

struct gen_level {
    int version = version_tr4;
    /// First word instead of the version's usual one (e.g. 0xFFFFFFF0, or 0xFF180038 for v5).
    std::optional<std::uint32_t> first_word{};

    // TR4 and TRC header and texture chunks.
    std::uint16_t num_room_textiles = 0, num_object_textiles = 0, num_bump_textiles = 0;
    std::vector<std::uint8_t> textiles32{};    // chunk 1
    std::vector<std::uint8_t> textiles16{};    // chunk 2; also v3 to v5
    std::vector<std::uint8_t> textiles_misc{}; // chunk 3

    // Older versions.
    std::vector<std::uint8_t> textiles8{};
    /// Textile count written instead of textiles8.size() / 65536.
    std::optional<std::uint32_t> num_textiles{};
    std::vector<std::uint8_t> palette8{};  // 768 bytes written
    std::vector<std::uint8_t> palette16{}; // 1024 bytes written (v3 to v5)
    std::vector<std::uint8_t> light_map{}; // 8192 bytes written

    std::uint32_t level_data_prefix = 0; // versions 1 to 6
    std::array<std::uint8_t, 32> trc_header_block{};
    /// TRC level-data length fields written instead of the computed length.
    std::optional<std::uint32_t> trc_level_data_size{}, trc_level_data_size_2{};
    /// TRC bytes between the sample indices and the level-data end.
    std::vector<std::uint8_t> trc_level_data_end = {0xCD, 0xCD, 0xCD, 0xCD};

    /// Fills every byte that a reader skips or does not need with deterministic junk instead of
    /// its usual value: TR4 num_data_words; in TRC the marker, separators and fillers, the fixed
    /// FF and zero bytes, the header offsets and sizes other than the room-data size, the
    /// preamble's unused word and the second level-data length. Overrides are kept.
    bool scramble_skipped_bytes = false;

    /// Room count written instead of rooms.size().
    std::optional<std::uint32_t> num_rooms{};
    std::vector<gen_room> rooms{};

    std::vector<std::uint16_t> floor_data{};
    std::vector<std::uint16_t> mesh_data{};
    std::vector<std::int32_t> mesh_pointers{};
    gen_records animations{};      // 40 bytes (TR4, TRC) or 32 (older)
    gen_records state_changes{};   // 6
    gen_records anim_dispatches{}; // 8
    std::vector<std::uint16_t> anim_commands{};
    std::vector<std::int32_t> mesh_trees{};
    std::vector<std::int16_t> frames{};
    gen_records moveables{};                     // 18 bytes, 20 in TRC (the trailing word)
    gen_records static_meshes{};                 // 32
    std::array<std::uint8_t, 4> sprite_prefix{}; // 3 bytes in TR4, 4 in TRC
    gen_records sprite_textures{};               // 16
    gen_records sprite_sequences{};              // 8
    gen_records cameras{};                       // 16
    gen_records flyby_cameras{};                 // 40; TR4 and TRC only
    gen_records sound_sources{};                 // 16
    gen_records boxes{};                         // 8 bytes, 20 in v1, v2
    std::vector<std::uint16_t> overlaps{};
    /// Ten arrays, each written with boxes.size() words (v1, v2: arrays 0, 1, 4, 5, 6, 9 only).
    std::array<std::vector<std::uint16_t>, 10> zones{};
    std::vector<std::uint16_t> animated_textures{};
    std::array<std::uint8_t, 5> object_texture_prefix{}; // 4 bytes in TR4, 5 in TRC
    /// 40-byte records: TR4 writes bytes 0-37, TRC all 40, older versions bytes 0-3 and 6-21.
    gen_records object_textures{};
    /// 24-byte records; v1 and v2 write the 22-byte form (item_old_form).
    gen_records items{};
    gen_records ai_objects{};              // 24 bytes; TR4 and TRC
    gen_records cinematic_frames{};        // 16 bytes; older versions, 16-bit count
    std::vector<std::uint8_t> demo_data{}; // 16-bit count
    /// 900 bytes held; the first 512 (v1, v2), 740 (v3 to TR4) or all 900 (TRC) are written.
    std::array<std::uint8_t, 900> sound_map{};
    gen_records sample_infos{};              // 8
    std::vector<std::uint8_t> sample_data{}; // after the level data (TR4, TRC), inline in v1, v2
    std::vector<std::int32_t> sample_indices{};
};

// ---- Emitters -------------------------------------------------------------------------------

/// Offsets of the sections, by name: "room.N", "room.N.data" (TRC data part), "floor_data",
/// "boxes", "sound_map", "sample_indices", ... within the level data, and "textiles32",
/// "textiles16", "textiles_misc", "level_data", "sample_data", "end" within the file.
struct gen_layout {
    std::map<std::string, std::size_t> level{};
    std::map<std::string, std::size_t> file{};
};

/// TR4: the content of the level-data chunk. TRC: the plain level data from the 32-byte block
/// through the closing bytes, with both length fields set. Older versions: the whole file.
std::vector<std::uint8_t> level_data_bytes(const gen_level& level, gen_layout* layout = nullptr);

/// The whole file.
std::vector<std::uint8_t> file_bytes(const gen_level& level, gen_layout* layout = nullptr);

/// The whole file around level data given by the caller (e.g. level_data_bytes with a patch).
/// Older versions: the level data is the file.
std::vector<std::uint8_t> file_with_level_data(const gen_level& level,
                                               std::span<const std::uint8_t> level_data,
                                               gen_layout* layout = nullptr);

/// The first word that a file of this level starts with.
std::uint32_t first_word_of(const gen_level& level);

// ---- Content helpers ------------------------------------------------------------------------

/// `count` deterministic records of `size` bytes, different from one another.
gen_records pattern_records(std::size_t count, std::size_t size, std::uint32_t seed);
std::vector<std::uint8_t> pattern_bytes(std::size_t size, std::uint32_t seed);

/// Texture-like textiles of 256 x 256 texels (gradients and tiles): `count` textiles of
/// `bytes_per_texel` 1, 2 or 4 bytes.
std::vector<std::uint8_t> textile_pixels(std::uint32_t count, int bytes_per_texel,
                                         std::uint32_t seed);
/// Fills the texture buffers that the level's version carries with `count` textiles.
void set_textiles(gen_level& level, std::uint32_t count, std::uint32_t seed);
/// 8-bit sound-like sample bytes (a few tones with envelopes).
std::vector<std::uint8_t> sample_bytes(std::size_t size, std::uint32_t seed);

/// The 22-byte item form of versions 1 and 2 made from a 24-byte item.
gen_record item_old_form(const gen_record& item);
/// Floor data of a TR4 file made from a TRC level: the marker 0x8385, then the sound map.
void add_conversion_marker(gen_level& level);

/// A realistic level of a version (1 to 7): several rooms, every section non-empty; for TRC
/// several layers per room with merged vertices and odd and even triangle totals. Its records
/// hold only what the version's files carry, so a reader should give them back unchanged.
gen_level make_example_level(int version, std::uint32_t seed);
/// The example TRC level that make_level writes, for level viewers: four box-shaped rooms joined
/// by portals, labelled texture pages (256 x 256, in both depths, and three pages in the third
/// chunk), items, meshes with animations, and WAVE samples; every index in it is in range.
gen_level bundled_example_level();
/// Replaces the level's object sections (mesh data and pointers, mesh trees, animations, frames,
/// moveables, static meshes) with a small set that reads, in the forms of the level's version:
/// object 7 a moveable of three meshes (a base, an arm on it and a flag on the base again) with
/// two animations of two and three keyframes, static mesh 5 (a pyramid); the first item shows
/// the moveable and the first room's first static instance the static mesh. Versions 1-5 give
/// the arm and the pyramid shades and faces of one colour.
void set_small_objects(gen_level& level);
/// A large, realistic TRC level for measurements: 64 textiles (16 MiB of 32-bit and 8 MiB of
/// 16-bit texels), a 1 MiB third chunk, 250 rooms of 3 layers with about 1000 layer vertices
/// and 1500 faces each (positions repeated within and across layers), 500,000 floor-data words,
/// 4 MiB of meshes and animations and 8 MiB of samples. Within every room and layer capacity.
gen_level make_large_level(std::uint32_t seed = 1);

/// `count` different integer positions (x, y, z) that a position hash of the usual kind puts
/// into one slot: the 48-bit key x | y << 16 | z << 32 (16-bit two's complement words) times
/// 0x9E3779B97F4A7C15, its top 12 bits. A room made of them is the worst case of an index
/// that probes from such a slot.
std::vector<std::array<std::int16_t, 3>> crowded_positions(std::size_t count);
/// A TRC level of `rooms` rooms, each one layer of 1500 vertices at the crowded positions
/// (every position once), and the most faces a room holds (2000 rectangles, 1250 triangles).
gen_level make_crowded_level(std::size_t rooms);

// ---- Inputs that claim much from few bytes ---------------------------------------------------

/// A level of a version (1 to 7) with `rooms` empty rooms and every other section empty.
gen_level empty_rooms_level(int version, std::uint32_t rooms);
/// A TRC file of about `size` bytes (at least some 16 KiB) whose rooms overlap 16 bytes apart,
/// each reading 100 empty layers from bytes that the rooms around it read too: together they
/// claim about size / 56 layers, as many as the file has room for layer headers.
std::vector<std::uint8_t> overlapping_trc_file(std::size_t size);
/// A "ZLIB" container of `size` zero bytes (its stated length capped at 2^32 - 1), made
/// without ever holding them.
std::vector<std::uint8_t> zero_container(std::uint64_t size);
/// TR4 level data of `rooms` copies of one room of a `shape` (1 to 65535 rooms):
///   sectors    32 x 32 sectors, each naming a box and floor data the level lacks;
///   faces      2,000 rectangles and 1,250 triangles naming an object texture the level lacks;
///   triangle   one textured triangle;
///   materials  49 triangles on 49 materials (8 pages, 3 blend modes, one- and two-sided,
///              and untextured).
/// `level`, when given, gets the level around the rooms (for file_with_level_data).
std::vector<std::uint8_t> repeated_room_level_data(std::string_view shape, std::uint32_t rooms,
                                                   gen_level* level = nullptr);
/// The whole TR4 file of repeated_room_level_data.
std::vector<std::uint8_t> repeated_room_file(std::string_view shape, std::uint32_t rooms);

/// "tr4", "trc", "v1" to "v7" to a version; nothing for anything else.
std::optional<int> parse_kind(std::string_view kind);

/// Writes bytes to a file; false when it cannot.
bool write_file(const std::string& path, std::span<const std::uint8_t> bytes);

} // namespace levelgen
