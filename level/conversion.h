// The model edits of the two conversion directions and the marker that ties them together.
#pragma once

#include <cstdint>

#include "level/records.h"

namespace quarlix {

class Ttrlevel;

/// The floor-data word that marks a TR4 file made from a TRC file.
inline constexpr std::uint16_t conversion_marker = 0x8385;

/// Floor-data words of a marked TR4 file: the marker, then the TRC sound map's words.
inline constexpr std::int32_t marked_floor_words =
    1 + static_cast<std::int32_t>(sound_map_capacity);

/// The TRC-to-TR4 model edits: one room, one item, no world sections, and the sound map
/// hidden in the floor data behind the conversion marker.
void convert_trc_to_tr4(Ttrlevel& level);

/// True when the floor data carries the conversion marker and the whole sound map after it.
bool has_conversion_marker(const Ttrlevel& level);

/// The TR4-to-TRC model edits for a level that has the marker: the sound map taken back, the
/// moveables widened, object textures' last word cleared, every room's layers rebuilt.
void convert_tr4_to_trc(Ttrlevel& level);

} // namespace quarlix
