// Fuzz target: arbitrary bytes (unwrapped first when they are a "ZLIB" container) loaded under
// every kind of name that changes the reading. A refusal (a format or zlib error) is fine; any
// other error or a crash is a finding. A TR4 or TRC level that loads is saved, the saved file
// loaded and saved again: both saves are equal. Bytes that are no level file at all are also
// read as the TR4 level data inside a file.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "level/trunit2.h"

using namespace quarlix;

namespace {

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::for_each_level(data, size, nullptr, [](Ttrlevel& level, const std::string& name) {
        if (level.version == level_tr4 || level.version == level_trc) {
            round_trip(level, name);
        }
    });
    return 0;
}
