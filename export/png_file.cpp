// PNG encoding (stb_image_write, with its own deterministic deflate), in a file of its own so
// that fuzzing builds can leave the library's code out of their coverage.
#include <cstdint>
#include <new>
#include <vector>

#include "export/pictures.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include "stb/stb_image_write.h"

namespace {

// Set once, before any page is encoded (on any thread).
[[maybe_unused]] const bool png_settings_fixed = [] {
    stbi_write_png_compression_level = 8;
    stbi_write_force_png_filter = -1;
    return true;
}();

void append_to(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

} // namespace

namespace quarlix::exporting {

std::vector<std::uint8_t> encode_png(const rgba_picture& picture) {
    // Fixed settings (the library's own deflate, level 8, the filter chosen per row): the
    // bytes do not depend on the platform. Only ever read while encoding.
    std::vector<std::uint8_t> out;
    if (stbi_write_png_to_func(append_to, &out, static_cast<int>(picture.width),
                               static_cast<int>(picture.height), 4, picture.rgba.data(),
                               static_cast<int>(picture.width * 4)) == 0) {
        throw std::bad_alloc();
    }
    return out;
}

} // namespace quarlix::exporting
