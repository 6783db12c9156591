// Texture pages as pictures: decoded to RGBA from their stored pixel forms, encoded as PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quarlix {
class Ttrlevel;
}

namespace quarlix::exporting {

inline constexpr std::uint32_t page_side = 256;
inline constexpr std::size_t page_pixels = std::size_t{page_side} * page_side;

/// An RGBA picture, rows from the top.
struct rgba_picture {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};

/// Pixel forms of a stored page.
enum class page_form { bits32, bits16, misc32, bits8 };

/// 32-bit texels, bytes blue, green, red, alpha.
rgba_picture picture_from_bgra(std::span<const std::uint8_t> texels, std::uint32_t height);
/// 16-bit A1R5G5B5 texels; alpha from the top bit.
rgba_picture picture_from_argb1555(std::span<const std::uint8_t> texels, std::uint32_t height);
/// 8-bit palette indices through a palette of 256 6-bit red, green, blue entries (each times 4);
/// index 0 is transparent.
rgba_picture picture_from_indices(std::span<const std::uint8_t> texels, std::uint32_t height,
                                  std::span<const std::uint8_t, 768> palette);

/// The picture as a PNG file, with fixed compression settings: the same bytes everywhere.
std::vector<std::uint8_t> encode_png(const rgba_picture& picture);

/// One page of a level: its form, its number within that form, and its place in the buffer.
struct level_page {
    page_form form = page_form::bits32;
    std::uint32_t number = 0;
    std::span<const std::uint8_t> texels;
};

/// Every whole page the level holds, in file order: for TR4 and TRC the 32-bit, 16-bit and
/// third-chunk pages; for older versions the 8-bit and (versions 3 to 5) 16-bit pages.
/// `notes` gets a line for each buffer whose size is not a whole number of pages.
std::vector<level_page> level_pages(const Ttrlevel& level, std::vector<std::string>& notes);

/// The picture of a page.
rgba_picture page_picture(const Ttrlevel& level, const level_page& page);

/// "page32-000", "page16-003", "misc-001", "page8-012": sorts in page order within a form.
std::string page_name(const level_page& page);

} // namespace quarlix::exporting

namespace quarlix::exporting {

/// The level's pages with their PNG files, each encoded once when first asked for.
class page_store {
  public:
    page_store(const Ttrlevel& level, std::vector<std::string>& notes);
    const std::vector<level_page>& pages() const { return pages_; }
    const std::vector<std::uint8_t>& png(std::size_t page);
    /// Encodes every page not yet encoded, side by side.
    void encode_all();
    /// The index in pages() of a form's page with this number, or -1.
    std::ptrdiff_t find(page_form form, std::uint32_t number) const;

  private:
    const Ttrlevel& level_;
    std::vector<level_page> pages_;
    std::vector<std::vector<std::uint8_t>> png_;
};

} // namespace quarlix::exporting
