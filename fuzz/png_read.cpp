// PNG decoding with stb_image.
#include "fuzz/png_read.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include "stb/stb_image.h"

namespace quarlix::fuzz {

std::vector<std::uint8_t> decode_png(std::span<const std::uint8_t> png, std::uint32_t& width,
                                     std::uint32_t& height) {
    int w = 0, h = 0, channels = 0;
    stbi_uc* decoded =
        stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &channels, 4);
    std::vector<std::uint8_t> pixels;
    width = height = 0;
    if (decoded != nullptr) {
        width = static_cast<std::uint32_t>(w);
        height = static_cast<std::uint32_t>(h);
        pixels.assign(decoded, decoded + std::size_t{width} * height * 4);
    }
    stbi_image_free(decoded);
    return pixels;
}

} // namespace quarlix::fuzz
