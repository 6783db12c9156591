#include "tools/level_bytes.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

#include <zlib.h>

namespace levelgen {

void byte_writer::u16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void byte_writer::u32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out_.push_back(static_cast<std::uint8_t>(v >> shift));
}

void byte_writer::f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }

void byte_writer::record(std::span<const std::uint8_t> rec, std::size_t size) {
    const std::size_t n = std::min(size, rec.size());
    bytes(rec.first(n));
    fill(size - n, 0);
}

void byte_writer::patch_u32(std::size_t offset, std::uint32_t v) { put_u32(out_, offset, v); }

std::vector<std::uint8_t> zlib_compress(std::span<const std::uint8_t> raw) {
    uLongf len = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> out(len);
    if (compress2(out.data(), &len, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        throw std::runtime_error("zlib compression failed");
    out.resize(len);
    return out;
}

std::vector<std::uint8_t> zlib_inflate(std::span<const std::uint8_t> stream) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        throw std::runtime_error("zlib inflate init failed");
    std::vector<std::uint8_t> out;
    std::uint8_t buf[16384];
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR)
            break;
        const std::size_t produced = sizeof buf - z.avail_out;
        out.insert(out.end(), buf, buf + produced);
        if (rc == Z_BUF_ERROR && produced == 0)
            break; // input exhausted before the end
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("damaged zlib stream");
    return out;
}

void put_chunk(byte_writer& w, std::span<const std::uint8_t> raw) {
    const auto stream = zlib_compress(raw);
    w.u32(static_cast<std::uint32_t>(raw.size()));
    w.u32(static_cast<std::uint32_t>(stream.size()));
    w.bytes(stream);
}

std::vector<std::uint8_t> zlib_container(std::span<const std::uint8_t> file) {
    const auto stream = zlib_compress(file);
    byte_writer w;
    w.text("ZLIB");
    w.u32(static_cast<std::uint32_t>(stream.size()));
    w.u32(static_cast<std::uint32_t>(file.size()));
    w.bytes(stream);
    return w.take();
}

std::uint16_t get_u16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t get_u32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void put_u32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace levelgen
