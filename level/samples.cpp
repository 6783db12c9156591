// The sample list: a 32-bit count, then per sample its unpacked and stored sizes and the bytes.
#include "level/samples.h"

#include <cstring>

namespace quarlix {

namespace {

std::uint32_t u32_at(const std::uint8_t* bytes, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, bytes + at, sizeof v);
    return v;
}

} // namespace

sample_list read_sample_list(std::span<const std::uint8_t> data) {
    sample_list list;
    if (data.size() < 4) {
        list.complete = data.empty();
        return list;
    }
    list.declared = u32_at(data.data(), 0);
    std::size_t at = 4;
    for (std::uint32_t i = 0; i < list.declared; ++i) {
        if (data.size() - at < 8) {
            list.complete = false;
            list.fault_offset = at;
            return list;
        }
        const auto size = u32_at(data.data(), at);
        const auto stored = u32_at(data.data(), at + 4);
        if (data.size() - at - 8 < stored) {
            list.complete = false;
            list.fault_offset = at;
            return list;
        }
        list.samples.push_back({at + 8, size, stored});
        at += 8 + std::size_t{stored};
    }
    return list;
}

std::span<const std::uint8_t> sample_bytes(std::span<const std::uint8_t> sample_data,
                                           const sample_entry& sample) {
    return sample_data.subspan(sample.offset, sample.stored_size);
}

bool is_riff_wave(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
           std::memcmp(bytes.data() + 8, "WAVE", 4) == 0 &&
           std::uint64_t{u32_at(bytes.data(), 4)} + 8 <= bytes.size();
}

} // namespace quarlix
