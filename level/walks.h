// The walks over level data, one per block of the file; each serves load (level_loader) and
// save (level_saver) alike, so reader and writer cannot drift apart.
#pragma once

#include <cassert>
#include <cstdint>
#include <string_view>
#include <vector>

#include "level/level_io.h"
#include "level/sections.h"
#include "level/trunit2.h"

namespace quarlix {

/// Where the TRC level data's length fields stand and where the level data ends.
struct trc_frame {
    std::size_t length_fields_at = 0; // offset of the first of the two length fields
    std::size_t data_end = 0;         // E: after the second field plus the first field's value
};

/// The level data of the walk's version, every block in file order.
template <class Io> void walk_level_data(Io& io, Ttrlevel& l);
/// Reads a file of the level's version (already detected) whole from its bytes, telling
/// `places` (when given) where each table starts.
void load_file(Ttrlevel& l, std::span<const std::uint8_t> content, const ttable_sink* places);
/// Checks, before the output exists, what a save as `target` would write (check_save_sizes).
void check_file(Ttrlevel& l, std::int32_t target);
/// Writes the level in its version's frame through an open, emptied in-memory file.
void save_file(Ttrlevel& l, TZfile& file);

/// TR4 (and versions 1 to 5) room block: the 32-bit prefix, the room count and the rooms.
template <class Io> void walk_tr4_rooms(Io& io, Ttrlevel& l);
/// TRC room block: the preamble and every room.
template <class Io> void walk_trc_rooms(Io& io, Ttrlevel& l, trc_frame& frame);
/// Floor data through the sprite sequences.
template <class Io> void walk_object_sections(Io& io, Ttrlevel& l);
/// Cameras through the sample indices.
template <class Io> void walk_world_sections(Io& io, Ttrlevel& l);
/// The close of the TRC level data: on save the filler and both length fields, on load the
/// move to the declared end and the sample data after it.
template <class Io> void walk_trc_close(Io& io, Ttrlevel& l, const trc_frame& frame);
/// The object-texture count and records, in the element form of the level's version.
template <class Io> void walk_object_textures(Io& io, Ttrlevel& l);
/// An owned copy of bytes in place.
zbuffer buffer_of(std::span<const std::uint8_t> bytes);
/// Versions 1 to 5: palettes and textures in front of the room block.
void load_older_textures(level_loader& io, Ttrlevel& l);

/// A 32-bit count then that many records of a section, sized through the section's setter.
/// The count is checked against the bytes left before the setter allocates anything.
/// `field` names the records in messages when they are not the section's usual ones.
template <class Io, class T>
void counted(Io& io, Ttrlevel& l, const tsection& section, std::vector<T>& rows,
             std::string_view field = {}) {
    static_assert(std::is_trivially_copyable_v<T>);
    assert(section.element_size(io.version) == sizeof(T));
    if (field.empty()) {
        field = section.field;
    }
    if constexpr (Io::loading) {
        std::uint32_t n = 0;
        io.value(n, field);
        io.need(std::uint64_t{n} * sizeof(T), field);
        (l.*section.set)(static_cast<std::int32_t>(n)); // 2^31 and more: the setter's range error
        io.rows_into(rows.data(), n, field, section);
    } else {
        const std::int32_t count = l.*section.count;
        check_saved_count(count, rows.size(), INT32_MAX, field);
        io.value(static_cast<std::uint32_t>(count));
        io.rows_from(rows.data(), static_cast<std::size_t>(count));
    }
}

/// Loading: sizes the rooms from a count read at `count_at`, after checking that that many
/// rooms of at least `smallest` bytes each fit in what is left of the level data.
inline void size_rooms(level_loader& io, Ttrlevel& l, std::uint16_t count, std::size_t count_at,
                       std::uint64_t smallest) {
    if (std::uint64_t{count} * smallest > io.left()) {
        io.fail(count_at, "room count",
                std::to_string(count) + " rooms cannot fit in the " + std::to_string(io.left()) +
                    " bytes left");
    }
    l.set_num_rooms(count);
}

/// Bytes that the file holds but the model does not: skipped on load, written as `byte`.
template <class Io> void filler(Io& io, std::uint8_t byte, std::size_t n, const field_name& field) {
    if constexpr (Io::loading) {
        io.skip(n, field);
    } else {
        (void)field;
        io.fill(byte, n);
    }
}

} // namespace quarlix
