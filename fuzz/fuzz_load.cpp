// Fuzz target: arbitrary bytes (unwrapped first when they are a "ZLIB" container) loaded under
// every kind of name that changes the reading. A refusal (a format or zlib error) is fine; any
// other error or a crash is a finding. A TR4 or TRC level that loads is saved, the saved file
// loaded and saved again: both saves are equal. Bytes that are no level file at all are also
// read as the TR4 level data inside a file.
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "level/trunit2.h"

using namespace quarlix;

namespace {

/// ".tr4" reads as a name without any of the marks; it is kept because TR4 saves need it.
constexpr const char* names[] = {"a.tr4", "a.trc", "a.tub", "a.trg", "a.bin"};

std::vector<std::uint8_t> save_bytes(Ttrlevel& level, const std::string& name) {
    const std::string file = fuzz::scratch_file(name);
    if (level.save(file) != 0) {
        fuzz::fail("a loaded level was not saved under " + name);
    }
    return fuzz::read_file(file);
}

/// Save, load, save: the loader must take whatever the saver writes, and give it back whole.
void round_trip(Ttrlevel& level, const std::string& name) {
    const std::vector<std::uint8_t> first = save_bytes(level, name);
    auto again = std::make_unique<Ttrlevel>();
    if (again->load_content(first, name) != 0 || again->version != level.version) {
        fuzz::fail("a saved level does not load back as the same version under " + name);
    }
    if (save_bytes(*again, name) != first) {
        fuzz::fail("saving a reloaded level under " + name + " gave different bytes");
    }
}

void load(std::span<const std::uint8_t> bytes, const char* name) {
    auto level = fuzz::load_or_refuse(bytes, name);
    if (!level) {
        return;
    }
    if (level->version == level_tr4 || level->version == level_trc) {
        round_trip(*level, name);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    std::vector<std::uint8_t> unwrapped;
    if (!fuzz::file_content(bytes, unwrapped)) {
        return 0;
    }
    std::uint32_t first_word = 0;
    if (bytes.size() >= 4) {
        std::memcpy(&first_word, bytes.data(), 4);
    }
    std::set<std::int32_t> tried;
    for (const char* name : names) {
        // Names that give a version already read would only repeat that reading.
        if (!tried.insert(detect_version(first_word, name)).second) {
            continue;
        }
        load(bytes, name);
    }
    // Bytes that are no level file are taken for TR4 level data, which a TR4 file compresses.
    if (tried.size() == 1 && tried.count(level_none) == 1) {
        load(fuzz::tr4_file_around(bytes), "a.tr4");
    }
    return 0;
}
