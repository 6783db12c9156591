// Little-endian byte emitter and the zlib framing used by level files, for the level generator.
// Independent of the level library: it writes bytes, it never reads a level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace levelgen {

/// Appends little-endian values to a growing byte buffer; earlier 32-bit fields can be patched.
class byte_writer {
  public:
    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void i16(std::int16_t v) { u16(static_cast<std::uint16_t>(v)); }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void f32(float v);
    void bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
    void text(std::string_view s) { out_.insert(out_.end(), s.begin(), s.end()); }
    void fill(std::size_t n, std::uint8_t v) { out_.insert(out_.end(), n, v); }
    /// Writes exactly `size` bytes: the record's first bytes, zero-padded when it is shorter.
    void record(std::span<const std::uint8_t> rec, std::size_t size);

    std::size_t position() const { return out_.size(); }
    /// Position of the next byte; pass it to patch_u32 once the value is known.
    std::size_t mark() const { return out_.size(); }
    void patch_u32(std::size_t offset, std::uint32_t v);

    const std::vector<std::uint8_t>& data() const { return out_; }
    std::vector<std::uint8_t> take() { return std::move(out_); }

  private:
    std::vector<std::uint8_t> out_;
};

/// One zlib stream (header, deflate data, Adler-32) at compression level 9.
std::vector<std::uint8_t> zlib_compress(std::span<const std::uint8_t> raw);
/// Inflates one whole zlib stream; throws std::runtime_error on a damaged stream.
std::vector<std::uint8_t> zlib_inflate(std::span<const std::uint8_t> stream);

/// A compressed chunk: u32 uncompressed length, u32 compressed length, the stream.
void put_chunk(byte_writer& w, std::span<const std::uint8_t> raw);
/// The whole-file container: "ZLIB", u32 compressed length, u32 uncompressed length, the stream.
std::vector<std::uint8_t> zlib_container(std::span<const std::uint8_t> file);

std::uint16_t get_u16(std::span<const std::uint8_t> b, std::size_t at);
std::uint32_t get_u32(std::span<const std::uint8_t> b, std::size_t at);
void put_u32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v);

} // namespace levelgen
