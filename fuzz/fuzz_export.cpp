// Fuzz target: the three parts of quarlix-export built in memory from arbitrary bytes (a "ZLIB"
// container unwrapped first). Every page of a level that the bytes hold is a PNG that decodes to
// the page's picture; every sample the sample list finds lies inside the sample data; the model's
// header, chunk lengths and JSON agree with its size and summary (the refusal of a model past
// its limit, which costs a second walk of every room, is left to the tests). Bytes that are
// neither a level file nor level data are taken for texels of a pixel form.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "export/model.h"
#include "export/pictures.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/json_read.h"
#include "fuzz/png_read.h"
#include "level/samples.h"

using namespace quarlix;
using namespace quarlix::exporting;

namespace {

/// The picture's PNG decodes to the picture.
void png_holds(const rgba_picture& picture, const std::vector<std::uint8_t>& png) {
    std::uint32_t width = 0, height = 0;
    const std::vector<std::uint8_t> decoded = fuzz::decode_png(png, width, height);
    if (width != picture.width || height != picture.height || decoded != picture.rgba) {
        fuzz::fail("a PNG does not decode to its picture");
    }
}

std::uint32_t u32_at(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

void model_holds(const Ttrlevel& level, page_store& pages) {
    model_summary summary;
    std::vector<std::string> problems;
    const level_objects objects(level, problems);
    glb_file glb(objects, pages, summary);
    const std::vector<std::uint8_t> bytes = glb.bytes();
    if (bytes.size() != glb.size() || bytes.size() < 20 || u32_at(bytes, 0) != 0x46546C67u ||
        u32_at(bytes, 8) != bytes.size()) {
        fuzz::fail("the model's header does not state its size");
    }
    const std::uint32_t json_length = u32_at(bytes, 12);
    if (json_length % 4 != 0 || 20 + std::uint64_t{json_length} > bytes.size()) {
        fuzz::fail("the model's JSON chunk runs past the file");
    }
    const fuzz::model_json_facts gltf =
        fuzz::read_model_json({reinterpret_cast<const char*>(bytes.data()) + 20, json_length});
    if (!gltf.error.empty()) {
        fuzz::fail("the model's JSON does not parse: " + gltf.error);
    }
    if (gltf.room_nodes != level.rooms.size() || summary.rooms != level.rooms.size()) {
        fuzz::fail("the model's nodes are not the rooms");
    }
    const std::size_t bin_at = 20 + json_length;
    const bool has_bin = gltf.buffer_bytes.has_value();
    if (has_bin != (bin_at < bytes.size()) ||
        (has_bin && (bin_at + 8 > bytes.size() ||
                     bin_at + 8 + std::uint64_t{u32_at(bytes, bin_at)} != bytes.size() ||
                     *gltf.buffer_bytes > u32_at(bytes, bin_at)))) {
        fuzz::fail("the model's binary chunk does not hold its buffer");
    }
    std::size_t faces = 0;
    for (const troom& room : level.rooms) {
        faces += std::size_t{room.num_rectangles} + room.num_triangles;
    }
    if (summary.faces + summary.skipped_faces != faces) {
        fuzz::fail("faces of the model were lost uncounted");
    }
}

void export_level(const Ttrlevel& level) {
    std::vector<std::string> notes;
    page_store pages(level, notes);
    for (std::size_t i = 0; i < pages.pages().size(); ++i) {
        png_holds(page_picture(level, pages.pages()[i]), pages.png(i));
    }
    const std::span<const std::uint8_t> data = level.sample_data.span();
    const sample_list list = read_sample_list(data);
    for (const sample_entry& sample : list.samples) {
        const std::span<const std::uint8_t> bytes = sample_bytes(data, sample);
        if (bytes.data() < data.data() || bytes.data() + bytes.size() > data.data() + data.size()) {
            fuzz::fail("a sample lies outside the sample data");
        }
        (void)is_riff_wave(bytes);
    }
    model_holds(level, pages);
}

/// The bytes after the first as a row or two of texels of the pixel form that the first names,
/// and the first 1 to 32 columns of them (as the first also says) as a PNG. Encoding costs far
/// more than the rest, so one small picture an input; its width varies the rows' stride.
void texels(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 1 + 768 + page_side * 4) {
        return;
    }
    const int form = bytes[0] % 3;
    const std::uint32_t width = 1 + bytes[0] / 3 % 32;
    bytes = bytes.subspan(1);
    const std::size_t texel = form == 0 ? 4 : form == 1 ? 2 : 1;
    const auto height =
        static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() / (page_side * texel), 2));
    const rgba_picture rows = form == 0   ? picture_from_bgra(bytes, height)
                              : form == 1 ? picture_from_argb1555(bytes, height)
                                          : picture_from_indices(bytes, height, bytes.first<768>());
    rgba_picture p{width, height, {}};
    for (std::uint32_t y = 0; y < height; ++y) {
        const auto row = rows.rgba.begin() + std::ptrdiff_t{y} * page_side * 4;
        p.rgba.insert(p.rgba.end(), row, row + std::ptrdiff_t{width} * 4);
    }
    png_holds(p, encode_png(p));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    bool level = false;
    const bool file = fuzz::for_each_level(data, size, nullptr,
                                           [&level](const Ttrlevel& read, const std::string&) {
                                               export_level(read);
                                               level = true;
                                           });
    // A level file that does not load is refused, and no picture either.
    if (!file && !level) {
        texels({data, size});
    }
    return 0;
}
