// The command-line converter: the whole run as the user sees it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quarlix {

class Ttrlevel;

/// Runs the converter on the arguments after the program name, printing to out; returns the
/// exit status (0 on every path the converter ends itself, 1 after an error report).
int run(const std::vector<std::string>& args, std::ostream& out);

/// The TRC-to-TR4 model edits: one room, one item, no world sections, and the sound map
/// hidden in the floor data behind the conversion marker.
void convert_trc_to_tr4(Ttrlevel& level);

/// True when the floor data carries the conversion marker and the whole sound map after it.
bool has_conversion_marker(const Ttrlevel& level);

/// The TR4-to-TRC model edits for a level that has the marker: the sound map taken back, the
/// moveables widened, object textures' last word cleared, every room's layers rebuilt.
void convert_tr4_to_trc(Ttrlevel& level);

/// The floor-data word that marks a TR4 file made from a TRC file.
inline constexpr std::uint16_t conversion_marker = 0x8385;

} // namespace quarlix
