// Inputs that are small on disk but claim much: empty rooms by the thousand, TRC rooms that
// read their layers from the same bytes, a container of nothing but zeros, and thousands of
// copies of one room full of broken references or of materials.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include <zlib.h>

#include "tools/levelgen.h"

namespace levelgen {

gen_level empty_rooms_level(int version, std::uint32_t rooms) {
    gen_level level;
    level.version = version;
    level.rooms.resize(rooms);
    return level;
}

std::vector<std::uint8_t> overlapping_trc_file(std::size_t size) {
    // Rooms 16 bytes apart: each declares a data size of 8, so the next room starts 16 bytes
    // on, and reads its layer count from its own word at 176. Its other counts read as 0, or
    // as 8 vertices or triangles of a layer, within every capacity.
    constexpr std::uint32_t layers = 100;
    gen_level level;
    level.version = version_trc;
    const std::size_t overhead = file_bytes(level).size() - level_data_bytes(level).size();
    const std::size_t data_size = std::max<std::size_t>(size, overhead + 48 + 16384) - overhead;
    const std::size_t rooms = std::min<std::size_t>((overhead + data_size) / 56 / layers, 65535);
    std::vector<std::uint8_t> data(data_size, 0);
    put_u32(data, 44, static_cast<std::uint32_t>(rooms));
    for (std::size_t at = 48 + 4; at + 4 <= data.size(); at += 16)
        put_u32(data, at, 8);
    for (std::size_t i = 0; i < rooms; ++i)
        put_u32(data, 48 + 176 + 16 * i, layers);
    return file_with_level_data(level, data);
}

std::vector<std::uint8_t> zero_container(std::uint64_t size) {
    constexpr std::size_t piece = 1 << 20;
    const std::vector<std::uint8_t> zeros(piece, 0);
    // Raw deflate of one piece, flushed to a byte boundary with the window reset: the same
    // bytes stand for every whole piece. A second stream closes the rest.
    const auto deflated = [&](std::size_t n, int flush) {
        z_stream z{};
        if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("zlib deflate init failed");
        std::vector<std::uint8_t> out(deflateBound(&z, n) + 64);
        z.next_in = const_cast<Bytef*>(zeros.data());
        z.avail_in = static_cast<uInt>(n);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int rc = deflate(&z, flush);
        out.resize(out.size() - z.avail_out);
        deflateEnd(&z);
        if (rc != (flush == Z_FINISH ? Z_STREAM_END : Z_OK))
            throw std::runtime_error("zlib deflate failed");
        return out;
    };
    const auto whole = deflated(piece, Z_FULL_FLUSH);
    const auto last = deflated(static_cast<std::size_t>(size % piece), Z_FINISH);
    const std::uint64_t pieces = size / piece;
    std::vector<std::uint8_t> out(12 + 2 + pieces * whole.size() + last.size() + 4);
    std::memcpy(out.data(), "ZLIB", 4);
    put_u32(out, 4, static_cast<std::uint32_t>(out.size() - 12));
    put_u32(out, 8, static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFFu)));
    out[12] = 0x78;
    out[13] = 0xDA;
    std::size_t at = 14;
    uLong adler = adler32(0, nullptr, 0);
    for (std::uint64_t i = 0; i < pieces; ++i, at += whole.size()) {
        std::memcpy(out.data() + at, whole.data(), whole.size());
        adler = adler32(adler, zeros.data(), piece);
    }
    std::memcpy(out.data() + at, last.data(), last.size());
    at += last.size();
    adler = adler32(adler, zeros.data(), static_cast<uInt>(size % piece));
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(adler >> (24 - 8 * i));
    return out;
}

namespace {

/// The one room that `shape` stands for, and what the rest of its level needs.
gen_room shaped_room(gen_level& level, std::string_view shape) {
    gen_room room;
    const auto vertex = [](std::int16_t x, std::int16_t z) {
        gen_vertex v;
        v.x = x;
        v.z = z;
        v.colour = 0x7FFF;
        return v;
    };
    if (shape == "sectors") {
        // Every sector names box 1 and floor-data word 0 of a level that has neither, and the
        // rooms below and above 254 (missing while the level has fewer rooms).
        room.z_sectors = room.x_sectors = 32;
        room.sectors.assign(1024, gen_record{0, 0, 0x10, 0, 254, 0, 254, 0});
    } else if (shape == "faces") {
        // The most faces a room holds, each naming object texture 1 of a level of none.
        room.vertices = {vertex(0, 0), vertex(1024, 0), vertex(1024, 1024), vertex(0, 1024)};
        room.rectangles.assign(2000, gen_rect{{0, 1, 2, 3}, 1});
        room.triangles.assign(1250, gen_tri{{0, 1, 2}, 1});
    } else if (shape == "triangle") {
        room.vertices = {vertex(0, 0), vertex(1024, 0), vertex(0, 1024)};
        room.triangles = {gen_tri{{0, 1, 2}, 0}};
        set_textiles(level, 1, 1);
        level.object_textures = pattern_records(1, 40, 1);
        for (std::size_t i = 0; i < 6; ++i)
            level.object_textures[0][i] = 0; // opaque, page 0
    } else if (shape == "materials") {
        // Eight pages, three blend modes, one- and two-sided: 48 materials a room, and one
        // face untextured.
        set_textiles(level, 8, 1);
        for (std::uint16_t page = 0; page < 8; ++page) {
            for (std::uint16_t blend = 0; blend < 3; ++blend) {
                gen_record texture(40, 0);
                texture[0] = static_cast<std::uint8_t>(blend);
                texture[2] = static_cast<std::uint8_t>(page);
                level.object_textures.push_back(texture);
            }
        }
        room.vertices = {vertex(0, 0), vertex(1024, 0), vertex(0, 1024)};
        for (std::uint16_t t = 0; t < 48; ++t) {
            room.triangles.push_back(
                gen_tri{{0, 1, 2}, static_cast<std::uint16_t>(t % 24 | (t / 24) << 15)});
        }
        room.triangles.push_back(gen_tri{{0, 1, 2}, 24});
    } else {
        throw std::invalid_argument("unknown room shape");
    }
    return room;
}

} // namespace

std::vector<std::uint8_t> repeated_room_level_data(std::string_view shape, std::uint32_t rooms,
                                                   gen_level* level_out) {
    gen_level level;
    level.version = version_tr4;
    level.rooms.push_back(shaped_room(level, shape));
    gen_layout layout;
    const std::vector<std::uint8_t> one = level_data_bytes(level, &layout);
    // The rooms stand between their 16-bit count and the floor data; copies of the one room
    // make as many as asked, every other byte stays.
    const std::size_t first = layout.level.at("room.0");
    const std::size_t end = layout.level.at("floor_data");
    std::vector<std::uint8_t> data(one.begin(), one.begin() + static_cast<std::ptrdiff_t>(first));
    data[first - 2] = static_cast<std::uint8_t>(rooms);
    data[first - 1] = static_cast<std::uint8_t>(rooms >> 8);
    data.reserve(one.size() + (end - first) * (std::size_t{rooms} - 1));
    for (std::uint32_t i = 0; i < rooms; ++i) {
        data.insert(data.end(), one.begin() + static_cast<std::ptrdiff_t>(first),
                    one.begin() + static_cast<std::ptrdiff_t>(end));
    }
    data.insert(data.end(), one.begin() + static_cast<std::ptrdiff_t>(end), one.end());
    if (level_out != nullptr) {
        *level_out = std::move(level);
    }
    return data;
}

std::vector<std::uint8_t> repeated_room_file(std::string_view shape, std::uint32_t rooms) {
    gen_level level;
    const std::vector<std::uint8_t> data = repeated_room_level_data(shape, rooms, &level);
    return file_with_level_data(level, data);
}

} // namespace levelgen
