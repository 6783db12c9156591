// Helpers of the level and converter tests, written once: the converter's banner and an
// in-process run of it, loading from bytes, saving to bytes, and a saved file cut into its
// frame's parts.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "driver/quarlix.h"
#include "level/trunit2.h"
#include "test_support.h"
#include "tools/levelgen.h"

namespace quarlix::test {

using bytes = std::vector<std::uint8_t>;

/// What the converter prints first on every run.
inline const std::string banner = "\n"
                                  "TRC to TR4 tool utility by Zendrac, VERSION 1.0\n"
                                  "\n"
                                  "Sintax: Quarlix  trclevel.TRC newtr4level.tr4 (trc-->tr4)\n"
                                  "Sintax: Quarlix  tr4level.tr4  newtrclevel.trc (tr4-->trc)\n"
                                  "\n";

struct outcome {
    int status;
    std::string out;
};

/// Runs the converter in-process.
inline outcome convert(const std::vector<std::string>& args) {
    std::ostringstream out;
    const int status = run(args, out);
    return {status, out.str()};
}

/// Loads a level from its bytes, expecting it to be recognised.
inline std::unique_ptr<Ttrlevel> load_bytes(std::span<const std::uint8_t> file,
                                            const std::string& name) {
    auto level = std::make_unique<Ttrlevel>();
    EXPECT_EQ(level->load_content(file, name), 0) << name;
    return level;
}

/// The message of the format error that loading the bytes raises; "loaded" when none.
inline std::string load_error(std::span<const std::uint8_t> file, const std::string& name) {
    auto level = std::make_unique<Ttrlevel>();
    try {
        level->load_content(file, name);
    } catch (const ELevelFormatError& e) {
        return e.what();
    }
    return "loaded";
}

/// Saves a level under a name (which gives the format) and returns the file's bytes.
inline bytes saved(Ttrlevel& level, const std::string& name) {
    scratch_dir dir;
    EXPECT_EQ(level.save(dir.file(name)), 0);
    return read_bytes(dir.file(name));
}

/// A TR4 or TRC file cut into the parts of its frame, every chunk inflated.
struct file_parts {
    bytes header;                    // the first word and the three 16-bit values
    std::array<bytes, 3> chunks;     // the texture chunks
    std::uint32_t level_chunk_u = 0; // TR4: the level-data chunk's uncompressed length
    bytes level_data; // TR4: the inflated level-data chunk; TRC: the plain level data
    bytes samples;
};

/// Cuts a saved file. TRC level data ends where its first length field says, or, given the
/// sample data's size, that many bytes before the end of the file, so that the length fields
/// can be checked against it. A part that would lie beyond the file fails the test.
inline file_parts split_file(const bytes& file, bool tr4,
                             std::optional<std::size_t> sample_size = std::nullopt) {
    file_parts p;
    const auto inside = [&](std::size_t at, std::size_t n) {
        if (at > file.size() || n > file.size() - at) {
            ADD_FAILURE() << n << " bytes at " << at << " lie beyond the " << file.size()
                          << " there";
            return false;
        }
        return true;
    };
    const auto part = [&](std::size_t at, std::size_t n) {
        return inside(at, n) ? bytes(file.begin() + static_cast<std::ptrdiff_t>(at),
                                     file.begin() + static_cast<std::ptrdiff_t>(at + n))
                             : bytes{};
    };
    p.header = part(0, 10);
    std::size_t at = 10;
    const auto chunk = [&](bytes& into, std::uint32_t* u) {
        if (!inside(at, 8)) {
            return false;
        }
        const std::uint32_t size = levelgen::get_u32(file, at);
        const std::uint32_t packed = levelgen::get_u32(file, at + 4);
        if (!inside(at + 8, packed)) {
            return false;
        }
        into = levelgen::zlib_inflate(std::span(file).subspan(at + 8, packed));
        EXPECT_EQ(into.size(), size) << "chunk at " << at;
        if (u != nullptr) {
            *u = size;
        }
        at += 8 + packed;
        return true;
    };
    for (bytes& c : p.chunks) {
        if (!chunk(c, nullptr)) {
            return p;
        }
    }
    if (tr4) {
        if (!chunk(p.level_data, &p.level_chunk_u)) {
            return p;
        }
    } else {
        std::size_t end = file.size();
        if (sample_size) {
            end = *sample_size <= file.size() ? file.size() - *sample_size : 0;
        } else if (inside(at, 36)) {
            end = at + 40 + levelgen::get_u32(file, at + 32);
        }
        p.level_data = part(at, end >= at ? end - at : file.size());
        at = end;
    }
    p.samples = part(at, at <= file.size() ? file.size() - at : 0);
    return p;
}

} // namespace quarlix::test
