// PNG decoding for the export fuzz target, in a file of its own so that the fuzzer takes no
// coverage from the decoding library.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quarlix::fuzz {

/// The RGBA pixels of a PNG file and its size; nothing (and a size of 0 by 0) when it does not
/// decode.
std::vector<std::uint8_t> decode_png(std::span<const std::uint8_t> png, std::uint32_t& width,
                                     std::uint32_t& height);

} // namespace quarlix::fuzz
