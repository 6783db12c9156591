// Fuzz target: the whole conversion on arbitrary bytes (a "ZLIB" container unwrapped first, as
// load does). Loaded as TRC or as TR4, edited for the detected direction as the driver does,
// saved, and the saved file loaded back: that load must succeed and give the other format (and,
// for TR4, the conversion marker and the sound map). Bytes that are no level file at all are
// also read as the TR4 level data inside a file.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "level/conversion.h"
#include "level/trunit2.h"

using namespace quarlix;

namespace {

void convert(std::span<const std::uint8_t> bytes, const std::string& input) {
    auto level = fuzz::load_or_refuse(bytes, input);
    if (!level) {
        return;
    }
    std::string output;
    std::int32_t expected = 0;
    if (level->version == level_trc) {
        convert_trc_to_tr4(*level);
        output = "out.tr4";
        expected = level_tr4;
    } else if (level->version == level_tr4 && has_conversion_marker(*level)) {
        convert_tr4_to_trc(*level);
        output = "out.trc";
        expected = level_trc;
    } else {
        return; // an older version, or a TR4 file that this converter did not make
    }
    const std::string file = fuzz::scratch_file(output);
    if (level->save(file) != 0) {
        fuzz::fail("a converted level was not saved as " + output);
    }
    const auto saved = fuzz::read_file(file);
    auto back = std::make_unique<Ttrlevel>();
    if (back->load_content(saved, output) != 0 || back->version != expected) {
        fuzz::fail("a converted level does not load back as " + output);
    }
    if (expected == level_tr4 &&
        (!has_conversion_marker(*back) || std::memcmp(back->floor_data.data() + 1, level->sound_map,
                                                      sizeof level->sound_map) != 0)) {
        fuzz::fail("a TR4 level made from TRC lost its marker or sound map");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    std::vector<std::uint8_t> unwrapped;
    if (!fuzz::file_content(bytes, unwrapped)) {
        return 0;
    }
    convert(bytes, "in.trc");
    convert(bytes, "in.tr4");
    // Bytes that are no level file are taken for TR4 level data, which a TR4 file compresses.
    std::uint32_t first_word = 0;
    if (bytes.size() >= 4) {
        std::memcpy(&first_word, bytes.data(), 4);
    }
    if (detect_version(first_word, "in.trc") == level_none) {
        convert(fuzz::tr4_file_around(bytes), "in.tr4");
    }
    return 0;
}
