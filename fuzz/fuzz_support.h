// Helpers shared by the fuzz targets: a per-process scratch directory, whole-file reads, an
// input reader for targets that draw operations from their bytes, and the failure stop.
#pragma once

#include <stdlib.h> // mkdtemp

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <zlib.h>

#include "level/trunit2.h"
#include "storage/zfiles.h"

namespace quarlix::fuzz {

/// Every stream inflates to at most 64 MiB here, so that a fuzzing run's memory limits catch
/// memory that grows with what an input declares, not the sizes that an input may hold.
inline constexpr std::uint64_t inflate_cap = std::uint64_t{64} << 20;
inline const bool inflate_capped = (set_inflate_limit(inflate_cap), true);

/// Reports a broken invariant and aborts, which the fuzzer and the regression runner both
/// take for a crash.
[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

/// A directory of this process's own, made on first use and removed at exit, so that
/// parallel fuzzing jobs never share a file.
inline const std::filesystem::path& scratch_dir() {
    static const std::filesystem::path dir = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quarlix-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            fail("cannot make a scratch directory from " + pattern);
        }
        return std::filesystem::path(pattern);
    }();
    // Registered after dir is made, so it runs while dir still exists.
    [[maybe_unused]] static const int removal = std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(scratch_dir(), ec);
    });
    return dir;
}

/// The level in bytes loaded under a name, or nothing when it is refused as it should be: not
/// a level, or one whose data or compressed streams do not hold together. `places`, when given,
/// receives where the loader found each table (for the checks).
inline std::unique_ptr<Ttrlevel> load_or_refuse(std::span<const std::uint8_t> bytes,
                                                const std::string& name,
                                                std::vector<ttable_place>* places = nullptr) {
    auto level = std::make_unique<Ttrlevel>();
    ttable_sink sink;
    if (places != nullptr) {
        places->clear();
        sink = [places](const ttable_place& p) { places->push_back(p); };
    }
    try {
        if (level->load_content(bytes, name, sink) != 0) {
            return nullptr;
        }
    } catch (const ELevelFormatError&) {
        return nullptr;
    } catch (const EZlibError&) {
        return nullptr;
    }
    return level;
}

inline std::string scratch_file(const std::string& name) { return (scratch_dir() / name).string(); }

/// The whole file, read in one piece.
inline std::vector<std::uint8_t> read_file(const std::string& name) {
    std::ifstream in(name, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::streamoff>(size, 0)));
    if (size < 0 || !in.seekg(0) ||
        !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        fail("cannot read " + name);
    }
    return bytes;
}

inline void write_file(const std::string& name, std::span<const std::uint8_t> bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        fail("cannot write " + name);
    }
}

/// The content that load reads from a file of these bytes. A "ZLIB" container is unwrapped
/// through the in-memory file, from a scratch file; other bytes are the content as they are.
/// False when the container cannot be read, which is a refusal like any other.
inline bool file_content(std::span<const std::uint8_t>& bytes, std::vector<std::uint8_t>& holder) {
    if (bytes.size() <= 12 || std::memcmp(bytes.data(), "ZLIB", 4) != 0) {
        return true;
    }
    const std::string name = scratch_file("container.bin");
    write_file(name, bytes);
    TZfile file;
    file.assign(name);
    try {
        file.reset();
    } catch (const EInOutError&) {
        return false;
    } catch (const EDecompressionError&) {
        return false;
    }
    holder.assign(file.content().begin(), file.content().end());
    file.close(false);
    bytes = holder;
    return true;
}

/// A whole TR4 file around plain level data: empty texture chunks, then the level data as a
/// level-data chunk of stored (uncompressed) deflate blocks. The fuzzer can then change the
/// TR4 level data directly, which inside a compressed chunk it hardly ever reaches. The zlib
/// stream is written here rather than by deflate, whose state of hundreds of kilobytes would
/// cost more than the rest of a small input.
inline std::vector<std::uint8_t> tr4_file_around(std::span<const std::uint8_t> level_data) {
    std::vector<std::uint8_t> file = {'T', 'R', '4', 0, 0, 0, 0, 0, 0, 0};
    file.reserve(file.size() + 4 * 19 + level_data.size() + 5 * (level_data.size() / 65535 + 1));
    const auto u32 = [&file](std::uint64_t v, bool big_endian = false) {
        for (int i = 0; i < 4; ++i) {
            file.push_back(static_cast<std::uint8_t>(v >> 8 * (big_endian ? 3 - i : i)));
        }
    };
    const auto chunk = [&](std::span<const std::uint8_t> raw) {
        const std::size_t blocks = raw.empty() ? 1 : (raw.size() + 65534) / 65535;
        u32(raw.size());
        u32(2 + 5 * blocks + raw.size() + 4);
        file.insert(file.end(), {0x78, 0x01}); // deflate, no compression
        for (std::size_t b = 0; b < blocks; ++b) {
            const auto part =
                raw.subspan(b * 65535, std::min<std::size_t>(raw.size() - b * 65535, 65535));
            const auto length = static_cast<std::uint16_t>(part.size());
            file.insert(file.end(),
                        {static_cast<std::uint8_t>(b + 1 == blocks ? 1 : 0), // last block?
                         static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                         static_cast<std::uint8_t>(~length),
                         static_cast<std::uint8_t>(~length >> 8)});
            file.insert(file.end(), part.begin(), part.end());
        }
        u32(adler32(adler32(0, nullptr, 0), raw.data(), static_cast<uInt>(raw.size())), true);
    };
    for (int i = 0; i < 3; ++i) {
        chunk({});
    }
    chunk(level_data);
    return file;
}

/// Every level that an input holds, as the programs read it: a "ZLIB" container unwrapped,
/// then loaded under each kind of name that gives another version (".tr4" reads as a name
/// without any of the marks), and bytes that are no level file as the TR4 level data of a
/// file. `places`, when given, holds where the loader found each table of the level that f gets.
/// f(level, name) for each. Returns false when the bytes are neither a container nor begin with
/// a level's first word (whether or not they hold level data).
template <class F>
bool for_each_level(const std::uint8_t* data, std::size_t size, std::vector<ttable_place>* places,
                    F&& f) {
    static constexpr const char* names[] = {"a.tr4", "a.trc", "a.tub", "a.trg", "a.bin"};
    std::span<const std::uint8_t> bytes(data, size);
    std::vector<std::uint8_t> unwrapped;
    if (!file_content(bytes, unwrapped)) {
        return true;
    }
    const bool container = bytes.data() != data;
    std::uint32_t first_word = 0;
    if (bytes.size() >= 4) {
        std::memcpy(&first_word, bytes.data(), 4);
    }
    std::vector<std::int32_t> tried;
    for (const char* name : names) {
        const std::int32_t version = detect_version(first_word, name);
        if (std::find(tried.begin(), tried.end(), version) != tried.end()) {
            continue;
        }
        tried.push_back(version);
        if (auto level = load_or_refuse(bytes, name, places)) {
            f(*level, name);
        }
    }
    if (tried.size() == 1 && tried[0] == level_none) {
        if (auto level = load_or_refuse(tr4_file_around(bytes), "a.tr4", places)) {
            f(*level, "a.tr4");
        }
        return container;
    }
    return true;
}

/// Draws values from the input front to back; past the end every value is zero.
class input_reader {
  public:
    explicit input_reader(std::span<const std::uint8_t> data) : data_(data) {}
    bool empty() const noexcept { return pos_ >= data_.size(); }
    std::uint8_t u8() { return empty() ? 0 : data_[pos_++]; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | u8() << 8); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) | std::uint32_t{u16()} << 16; }
    /// Up to n bytes in place.
    std::span<const std::uint8_t> take(std::size_t n) {
        const std::size_t count = std::min(n, data_.size() - std::min(pos_, data_.size()));
        const auto part = data_.subspan(std::min(pos_, data_.size()), count);
        pos_ += count;
        return part;
    }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

} // namespace quarlix::fuzz
