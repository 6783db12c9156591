// Page decoding; the PNG encoding is in png_file.cpp.
#include "export/pictures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "level/trunit2.h"
#include "storage/parallel.h"

namespace quarlix::exporting {

namespace {

std::uint8_t widen5(unsigned c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); }

rgba_picture blank(std::uint32_t height) {
    rgba_picture p;
    p.width = page_side;
    p.height = height;
    p.rgba.resize(std::size_t{page_side} * height * 4);
    return p;
}

/// Whole pages of one buffer; a remainder is noted, not exported.
void add_pages(std::vector<level_page>& pages, std::vector<std::string>& notes, page_form form,
               std::span<const std::uint8_t> buffer, std::size_t texel_bytes, const char* what) {
    const std::size_t page_bytes = page_pixels * texel_bytes;
    const std::size_t whole = buffer.size() / page_bytes;
    for (std::size_t i = 0; i < whole; ++i) {
        pages.push_back(
            {form, static_cast<std::uint32_t>(i), buffer.subspan(i * page_bytes, page_bytes)});
    }
    if (buffer.size() % page_bytes != 0) {
        notes.push_back(std::string(what) + ": the last " +
                        std::to_string(buffer.size() % page_bytes) +
                        " bytes are not a whole page and are not exported");
    }
}

} // namespace

rgba_picture picture_from_bgra(std::span<const std::uint8_t> texels, std::uint32_t height) {
    rgba_picture p = blank(height);
    for (std::size_t i = 0; i < p.rgba.size(); i += 4) {
        p.rgba[i] = texels[i + 2];
        p.rgba[i + 1] = texels[i + 1];
        p.rgba[i + 2] = texels[i];
        p.rgba[i + 3] = texels[i + 3];
    }
    return p;
}

rgba_picture picture_from_argb1555(std::span<const std::uint8_t> texels, std::uint32_t height) {
    rgba_picture p = blank(height);
    for (std::size_t i = 0; i < p.rgba.size() / 4; ++i) {
        const unsigned c = texels[2 * i] | unsigned{texels[2 * i + 1]} << 8;
        p.rgba[4 * i] = widen5((c >> 10) & 31);
        p.rgba[4 * i + 1] = widen5((c >> 5) & 31);
        p.rgba[4 * i + 2] = widen5(c & 31);
        p.rgba[4 * i + 3] = (c & 0x8000u) != 0 ? 255 : 0;
    }
    return p;
}

rgba_picture picture_from_indices(std::span<const std::uint8_t> texels, std::uint32_t height,
                                  std::span<const std::uint8_t, 768> palette) {
    rgba_picture p = blank(height);
    for (std::size_t i = 0; i < p.rgba.size() / 4; ++i) {
        const std::size_t index = texels[i];
        for (std::size_t c = 0; c < 3; ++c) {
            p.rgba[4 * i + c] =
                static_cast<std::uint8_t>(std::min(palette[3 * index + c] * 4, 255));
        }
        p.rgba[4 * i + 3] = index == 0 ? 0 : 255;
    }
    return p;
}

std::vector<level_page> level_pages(const Ttrlevel& level, std::vector<std::string>& notes) {
    std::vector<level_page> pages;
    if (level.version == level_tr4 || level.version == level_trc) {
        add_pages(pages, notes, page_form::bits32, level.textiles32.span(), 4, "32-bit pages");
        add_pages(pages, notes, page_form::bits16, level.textiles16.span(), 2, "16-bit pages");
        add_pages(pages, notes, page_form::misc32, level.textiles_misc.span(), 4,
                  "pages of the third texture chunk");
    } else {
        add_pages(pages, notes, page_form::bits8, level.textiles8.span(), 1, "8-bit pages");
        if (level.version >= 3) {
            add_pages(pages, notes, page_form::bits16, level.textiles16.span(), 2, "16-bit pages");
        }
    }
    return pages;
}

rgba_picture page_picture(const Ttrlevel& level, const level_page& page) {
    switch (page.form) {
    case page_form::bits32:
    case page_form::misc32:
        return picture_from_bgra(page.texels, page_side);
    case page_form::bits16:
        return picture_from_argb1555(page.texels, page_side);
    case page_form::bits8:
        break;
    }
    return picture_from_indices(page.texels, page_side,
                                std::span<const std::uint8_t, 768>(level.palette8));
}

std::string page_name(const level_page& page) {
    const char* prefix = page.form == page_form::bits32   ? "page32"
                         : page.form == page_form::bits16 ? "page16"
                         : page.form == page_form::misc32 ? "misc"
                                                          : "page8";
    char number[16];
    std::snprintf(number, sizeof number, "%03u", static_cast<unsigned>(page.number));
    return std::string(prefix) + "-" + number;
}

page_store::page_store(const Ttrlevel& level, std::vector<std::string>& notes)
    : level_(level), pages_(level_pages(level, notes)), png_(pages_.size()) {}

const std::vector<std::uint8_t>& page_store::png(std::size_t page) {
    if (png_[page].empty()) {
        png_[page] = encode_png(page_picture(level_, pages_[page]));
    }
    return png_[page];
}

void page_store::encode_all() {
    std::vector<std::function<void()>> jobs;
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        if (png_[i].empty()) {
            jobs.emplace_back([this, i] { png_[i] = encode_png(page_picture(level_, pages_[i])); });
        }
    }
    run_jobs(jobs);
}

std::ptrdiff_t page_store::find(page_form form, std::uint32_t number) const {
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        if (pages_[i].form == form && pages_[i].number == number) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

} // namespace quarlix::exporting
