// Versions 1 to 5: the palettes and 8- and 16-bit textiles in front of the room block.
#include <cstring>

#include "level/walks.h"

namespace quarlix {

zbuffer buffer_of(std::span<const std::uint8_t> bytes) {
    zbuffer copy(bytes.size());
    if (!bytes.empty()) {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
    }
    return copy;
}

void load_older_textures(level_loader& io, Ttrlevel& l) {
    if (io.version >= 3) {
        io.value(l.palette8, "palette");
        io.value(l.palette16, "16-bit palette");
    }
    std::uint32_t textiles = 0;
    io.value(textiles, "textile count");
    io.need(std::uint64_t{textiles} * 65536, "8-bit textiles");
    l.num_textiles = textiles;
    l.textile_bytes = textiles * 65536;
    l.textiles8 = buffer_of(io.take(l.textile_bytes, "8-bit textiles"));
    if (io.version >= 3) {
        l.textiles16 = buffer_of(io.take(std::uint64_t{textiles} * 131072, "16-bit textiles"));
    }
}

} // namespace quarlix
