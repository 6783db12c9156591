// The few record meanings the export needs: object-texture corners, page and blend mode, and
// the sample list behind the level data. Kept apart so that shared decoders can replace them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "level/records.h"

namespace quarlix::exporting {

/// One corner of an object texture: u and v in 1/256 pixel (high byte the pixel, low byte a
/// fraction) within its 256 x 256 page.
struct texture_corner {
    std::uint16_t u = 0, v = 0;
};

struct object_texture_view {
    std::uint16_t blend = 0;   // 0 opaque, 1 alpha-tested, others blended
    std::uint16_t page = 0;
    bool triangle = false;     // only the first three corners count
    std::array<texture_corner, 4> corners{};
};

/// The meaning of an object texture of a level version (1 to 7).
object_texture_view decode_object_texture(const tobject_texture& texture, std::int32_t version);

/// The object-texture index of a room face texture word.
inline std::uint16_t face_texture_index(std::uint16_t word, std::int32_t version) {
    return static_cast<std::uint16_t>(word & (version == 7 ? 0x3FFFu : 0x7FFFu));
}

/// True when a room face is drawn from both sides (versions 3 to 7).
inline bool face_two_sided(std::uint16_t word, std::int32_t version) {
    return version >= 3 && (word & 0x8000u) != 0;
}

/// One sample as stored: its bytes and where they start in the sample data.
struct stored_sample {
    std::span<const std::uint8_t> bytes;
    std::size_t offset = 0;
};

/// The samples of TR4 and TRC sample data (a 32-bit count, then per sample its unpacked size,
/// its stored size and the stored bytes). `problem` says where the list stopped when it runs
/// past the end of the data; the samples before that point are listed.
struct sample_list {
    std::vector<stored_sample> samples;
    std::string problem;
};

sample_list decode_sample_list(std::span<const std::uint8_t> data);

/// True for bytes that start as a RIFF WAVE file whose RIFF length fits in them.
bool is_riff_wave(std::span<const std::uint8_t> bytes);

} // namespace quarlix::exporting
