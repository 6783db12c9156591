// The sample data of TR4 and TRC files split into its samples, for the programs that look
// inside a level. Reading only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quarlix {

/// One sound sample of the sample data.
struct sample_entry {
    std::size_t offset; // of its stored bytes, within the sample data
    std::uint32_t size; // when unpacked
    std::uint32_t stored_size;
};

/// The sample data split into its samples; `complete` is false when the data ends inside a
/// sample (or inside the count), and `fault_offset` is then where that entry starts.
struct sample_list {
    std::uint32_t declared = 0; // the count at the start
    std::vector<sample_entry> samples;
    bool complete = true;
    std::size_t fault_offset = 0;
};

/// Splits TR4 or TRC sample data into its samples.
sample_list read_sample_list(std::span<const std::uint8_t> sample_data);
/// The stored bytes of a sample of the list (which must have come from these sample data).
std::span<const std::uint8_t> sample_bytes(std::span<const std::uint8_t> sample_data,
                                           const sample_entry& sample);
/// True for bytes that start as a RIFF WAVE file whose RIFF length fits in them.
bool is_riff_wave(std::span<const std::uint8_t> bytes);

} // namespace quarlix
