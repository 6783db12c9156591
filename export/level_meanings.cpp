// Object textures and the sample list, decoded from their stored bytes.
#include "export/level_meanings.h"

#include <cstring>

namespace quarlix::exporting {

namespace {

std::uint32_t u32_at(std::span<const std::uint8_t> data, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, data.data() + at, 4);
    return v;
}

} // namespace

object_texture_view decode_object_texture(const tobject_texture& texture, std::int32_t version) {
    object_texture_view view;
    view.blend = texture.field_0;
    view.page = static_cast<std::uint16_t>(texture.field_2 & 0x7FFFu);
    view.triangle = version >= 6 && (texture.field_2 & 0x8000u) != 0;
    for (std::size_t c = 0; c < 4; ++c) {
        std::memcpy(&view.corners[c].u, texture.bytes_6 + 4 * c, 2);
        std::memcpy(&view.corners[c].v, texture.bytes_6 + 4 * c + 2, 2);
    }
    return view;
}

sample_list decode_sample_list(std::span<const std::uint8_t> data) {
    sample_list list;
    if (data.size() < 4) {
        if (!data.empty()) {
            list.problem = "the sample data of " + std::to_string(data.size()) +
                           " bytes is too short for a sample count";
        }
        return list;
    }
    const std::uint32_t count = u32_at(data, 0);
    std::size_t at = 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (data.size() - at < 8) {
            list.problem = "sample " + std::to_string(i) + " of " + std::to_string(count) +
                           ": its sizes at byte " + std::to_string(at) +
                           " run past the end of the sample data";
            return list;
        }
        const std::uint32_t stored = u32_at(data, at + 4);
        if (data.size() - at - 8 < stored) {
            list.problem = "sample " + std::to_string(i) + " of " + std::to_string(count) +
                           ": its " + std::to_string(stored) + " bytes at byte " +
                           std::to_string(at + 8) + " run past the end of the sample data";
            return list;
        }
        list.samples.push_back({data.subspan(at + 8, stored), at + 8});
        at += 8 + std::size_t{stored};
    }
    return list;
}

bool is_riff_wave(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 12 && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
           std::memcmp(bytes.data() + 8, "WAVE", 4) == 0 &&
           std::uint64_t{u32_at(bytes, 4)} + 8 <= bytes.size();
}

} // namespace quarlix::exporting
