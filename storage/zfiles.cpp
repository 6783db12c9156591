// TZfile and the whole-buffer zlib routines: files are read whole, edited in memory, written whole.
#include "storage/zfiles.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace quarlix {

namespace {

constexpr std::size_t growth_headroom = 65536;
constexpr std::size_t compress_growth = 256;
/// The least first output buffer of a compression, and the block of zeros that pads an input.
constexpr std::size_t compress_start = 65536;
constexpr std::size_t zero_block = 65536;
constexpr std::uint64_t max_content =
    static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
/// zlib's avail_in/avail_out are 32-bit: larger buffers are offered in pieces of at most this.
constexpr std::size_t max_piece = std::numeric_limits<uInt>::max();
/// A deflate stream cannot expand by more than this factor; bounds a container's stated length.
constexpr std::uint64_t max_inflate_ratio = 1032;
constexpr std::size_t container_header = 12;
/// The most that a container's stated length can make the first allocation, beyond a
/// multiple of its stream: a false length must not cost more than the stream can justify.
constexpr std::uint64_t trusted_estimate = 1 << 20;

std::atomic<std::uint64_t> process_inflate_limit{0};

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put_u32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::string in_quotes(const std::string& name) { return "'" + name + "'"; }

/// Hands the next piece of pending input to the stream once it has used up the last one.
void feed(z_stream& zs, const std::uint8_t*& next, std::size_t& left) {
    if (zs.avail_in != 0 || left == 0) {
        return;
    }
    const std::size_t piece = std::min(left, max_piece);
    zs.next_in = const_cast<Bytef*>(next);
    zs.avail_in = static_cast<uInt>(piece);
    next += piece;
    left -= piece;
}

/// Offers the free tail of out (at most one piece) as output space; returns the bytes offered.
std::size_t offer(z_stream& zs, zbuffer& out, std::size_t produced) {
    const std::size_t space = std::min(out.size() - produced, max_piece);
    zs.next_out = out.data() + produced;
    zs.avail_out = static_cast<uInt>(space);
    return space;
}

} // namespace

void zbuffer::freer::operator()(std::uint8_t* p) const noexcept { std::free(p); }

void zbuffer::resize(std::size_t n) {
    if (n == 0) {
        release();
        return;
    }
    void* grown = std::realloc(p_.get(), n);
    if (grown == nullptr) {
        throw std::bad_alloc();
    }
    (void)p_.release(); // realloc already took over (or freed) the old block
    p_.reset(static_cast<std::uint8_t*>(grown));
    n_ = n;
}

zbuffer compress_buffer(const void* input, std::size_t length) {
    return compress_buffer(input, length, length);
}

zbuffer compress_buffer(const void* input, std::size_t length, std::size_t padded_length) {
    length = std::min(length, padded_length);
    // The output grows with what deflate really produces: from an eighth of the content,
    // doubled while it fills up to the worst case (a little more than the input), so that it
    // never holds more than twice the compressed stream.
    const std::size_t worst =
        padded_length + (padded_length >> 12) + (padded_length >> 14) + (padded_length >> 25) + 13;
    zbuffer out(std::min(worst, std::max(compress_start, length / 8)));
    z_stream zs{};
    if (deflateInit(&zs, 9) != Z_OK) {
        throw ECompressionError();
    }

    // The content, then the padding from one block of zeros fed over and over: one stream fed
    // in pieces gives the same bytes as the whole input at once.
    static const std::uint8_t zeros[zero_block] = {};
    const auto* next = static_cast<const std::uint8_t*>(input);
    std::size_t left = length;
    std::size_t padding = padded_length - length;
    std::size_t produced = 0;
    try {
        for (;;) {
            if (left == 0 && padding != 0 && zs.avail_in == 0) {
                next = zeros;
                left = std::min(padding, zero_block);
                padding -= left;
            }
            feed(zs, next, left);
            if (produced == out.size()) {
                out.resize(out.size() < worst ? std::min(worst, out.size() * 2)
                                              : out.size() + compress_growth);
            }
            const std::size_t offered = offer(zs, out, produced);
            const bool last = left == 0 && padding == 0;
            const int rc = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
            produced += offered - zs.avail_out;
            if (rc == Z_STREAM_END) {
                break;
            }
            if (rc < 0) {
                throw ECompressionError();
            }
        }
    } catch (...) {
        deflateEnd(&zs);
        throw;
    }
    if (deflateEnd(&zs) < 0) {
        throw ECompressionError();
    }
    out.resize(produced);
    return out;
}

void set_inflate_limit(std::uint64_t limit) noexcept { process_inflate_limit.store(limit); }

std::uint64_t inflate_limit(std::uint64_t limit) noexcept {
    const std::uint64_t cap = process_inflate_limit.load();
    return cap == 0 ? limit : std::min(limit, cap);
}

zbuffer decompress_buffer(const void* input, std::size_t length, std::size_t estimate,
                          std::uint64_t limit) {
    // Never more than one byte past the limit comes out: enough to tell that the stream holds
    // more than the limit without inflating the rest.
    limit = inflate_limit(limit);
    const std::uint64_t most_out = limit == UINT64_MAX ? limit : limit + 1;
    // The step is the input length rounded up to 256, never 0 so that an empty input still grows.
    const std::size_t step = std::max<std::size_t>(compress_growth, (length + 255) / 256 * 256);
    // A stream that inflates far beyond its length would take up to 1032 growth steps, each a
    // reallocation that may copy everything so far: once the output outgrows one step, it
    // grows by as much again as it holds, up to the most that the stream can give.
    const std::uint64_t most = std::uint64_t{length} * max_inflate_ratio + 1024;
    zbuffer out(static_cast<std::size_t>(
        std::min<std::uint64_t>(estimate != 0 ? estimate : step, most_out)));
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) {
        throw EDecompressionError();
    }

    const auto* next = static_cast<const std::uint8_t*>(input);
    std::size_t left = length;
    std::size_t produced = 0;
    try {
        for (;;) {
            feed(zs, next, left);
            if (produced == out.size()) {
                if (produced == most_out) {
                    break; // past the limit: the caller refuses the stream
                }
                const std::uint64_t doubled = std::uint64_t{out.size()} * 2;
                out.resize(static_cast<std::size_t>(
                    std::min(std::max<std::uint64_t>(out.size() + step, std::min(doubled, most)),
                             most_out)));
            }
            const std::size_t offered = offer(zs, out, produced);
            const int rc = inflate(&zs, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            produced += offered - zs.avail_out;
            if (rc == Z_STREAM_END) {
                break;
            }
            // Out of output space is the one recoverable stop: grow and go on.
            const bool out_of_space = zs.avail_out == 0;
            if (rc == Z_NEED_DICT || (rc < 0 && !(rc == Z_BUF_ERROR && out_of_space))) {
                throw EDecompressionError();
            }
            // Space left but all input consumed: the stream was cut short.
            if (!out_of_space && zs.avail_in == 0 && left == 0) {
                throw EDecompressionError();
            }
        }
    } catch (...) {
        inflateEnd(&zs);
        throw;
    }
    if (inflateEnd(&zs) < 0) {
        throw EDecompressionError();
    }
    out.resize(produced);
    return out;
}

TZfile::~TZfile() { discard(); }

void TZfile::io_fail(const std::string& failure) const {
    throw EInOutError(in_quotes(file_name) + ": " + failure);
}

void TZfile::read_disk(void* dst, std::size_t n, std::uint64_t offset) {
    if (n == 0) {
        return;
    }
    const std::size_t got = std::fread(dst, 1, n, handle);
    if (got != n) {
        io_fail("read of " + std::to_string(n) + " bytes at file offset " + std::to_string(offset) +
                " delivered " + std::to_string(got));
    }
}

void TZfile::write_disk(const void* src, std::size_t n, std::uint64_t offset) {
    if (n == 0) {
        return;
    }
    const std::size_t put = std::fwrite(src, 1, n, temp.file);
    if (put != n) {
        io_fail("write of " + std::to_string(n) + " bytes at file offset " +
                std::to_string(offset) + " stored " + std::to_string(put));
    }
}

bool TZfile::discard() noexcept {
    if (handle != nullptr) {
        std::fclose(handle);
    }
    handle = nullptr;
    const bool removed = drop_temporary(temp);
    buffer.release();
    length = pos = capacity = 0;
    return removed;
}

void TZfile::assign(const std::string& name) {
    discard();
    file_name = name;
    container = false;
}

void TZfile::reset() {
    discard();
    switch (open_for_reading(file_name, handle)) {
    case open_result::opened:
        break;
    case open_result::not_regular:
        throw EInOutError("cannot open file " + in_quotes(file_name) +
                          " for reading: it is not a regular file");
    case open_result::failed:
        throw EInOutError("cannot open file " + in_quotes(file_name) + " for reading");
    }
    try {
        if (std::fseek(handle, 0, SEEK_END) != 0) {
            io_fail("seek to the end failed");
        }
        const long end = std::ftell(handle);
        if (end < 0) {
            io_fail("cannot take the file length");
        }
        const auto file_length = static_cast<std::uint64_t>(end);
        if (std::fseek(handle, 0, SEEK_SET) != 0) {
            io_fail("seek to offset 0 failed");
        }

        std::uint8_t head[container_header];
        bool wrapped = false;
        if (file_length > container_header) {
            read_disk(head, 4, 0);
            wrapped = std::memcmp(head, "ZLIB", 4) == 0;
        }
        if (wrapped) {
            read_disk(head + 4, 8, 4);
            const std::uint32_t packed = get_u32(head + 4);
            const std::uint32_t unpacked = get_u32(head + 8);
            const std::uint64_t available = file_length - container_header;
            // A stated length past the end cannot be read whole: fail before allocating for it.
            if (packed > available) {
                io_fail("read of " + std::to_string(packed) +
                        " bytes at file offset 12 delivered " + std::to_string(available));
            }
            zbuffer compressed(packed);
            read_disk(compressed.data(), packed, container_header);
            // The stated length is only an estimate: one beyond what the stream justifies must
            // not cost memory that its content never needs.
            const auto estimate = static_cast<std::size_t>(std::min<std::uint64_t>(
                unpacked, std::min(std::uint64_t{packed} * 4 + trusted_estimate, max_content + 1)));
            zbuffer content = decompress_buffer(compressed.data(), packed, estimate, max_content);
            if (content.size() > inflate_limit(max_content)) {
                io_fail("content of more than " + std::to_string(inflate_limit(max_content)) +
                        " bytes is too large to hold (2 GiB or more)");
            }
            buffer = std::move(content);
            length = static_cast<std::int32_t>(buffer.size());
        } else {
            if (file_length > max_content) {
                io_fail("file of " + std::to_string(file_length) +
                        " bytes is too large to hold (2 GiB or more)");
            }
            if (std::fseek(handle, 0, SEEK_SET) != 0) {
                io_fail("seek to offset 0 failed");
            }
            buffer.resize(static_cast<std::size_t>(file_length));
            read_disk(buffer.data(), buffer.size(), 0);
            length = static_cast<std::int32_t>(file_length);
        }
        container = wrapped;
    } catch (...) {
        discard();
        throw;
    }
    pos = 0;
    capacity = length;
}

void TZfile::start_replacement(const std::string& failure) {
    target = replacement_target(file_name);
    if (target.empty()) {
        throw EInOutError(failure);
    }
    switch (output_state_of(target)) {
    case output_state::missing:
    case output_state::writable_file:
        break;
    case output_state::not_regular:
        // Writing to a pipe or device could wait forever, and renaming over it would take
        // its name away.
        throw EInOutError(failure + ": it exists and is not a regular file");
    case output_state::directory:
    case output_state::read_only_file:
        throw EInOutError(failure);
    }
    if (!create_temporary(target, temp)) {
        throw EInOutError(failure);
    }
}

void TZfile::rewrite() {
    discard();
    start_replacement("cannot create file " + in_quotes(file_name));
    try {
        buffer.resize(growth_headroom);
    } catch (...) {
        discard();
        throw;
    }
    capacity = static_cast<std::int32_t>(growth_headroom);
}

std::int32_t TZfile::read(void* dst, std::int32_t n) {
    const std::int32_t count = std::clamp(n, 0, length - pos);
    if (count == 0) {
        return 0;
    }
    std::memcpy(dst, buffer.data() + pos, static_cast<std::size_t>(count));
    pos += count;
    return count;
}

void TZfile::write(const void* src, std::int32_t n) {
    if (n <= 0) {
        return;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(pos) + static_cast<std::uint64_t>(n);
    if (end > max_content) {
        io_fail("content of " + std::to_string(end) +
                " bytes is too large to hold (2 GiB or more)");
    }
    if (n > capacity - pos) {
        // Exactly the write plus 64 KiB of headroom, held to what an i32 length can address.
        const std::uint64_t grown = std::min(end + growth_headroom, max_content);
        buffer.resize(static_cast<std::size_t>(grown));
        capacity = static_cast<std::int32_t>(grown);
    }
    std::memcpy(buffer.data() + pos, src, static_cast<std::size_t>(n));
    pos = static_cast<std::int32_t>(end);
    length = std::max(length, pos);
}

void TZfile::seek(std::int32_t offset) { pos = std::clamp(offset, 0, length); }

void TZfile::close(bool save) {
    try {
        if (handle != nullptr) {
            const int rc = std::fclose(handle);
            handle = nullptr;
            if (rc != 0) {
                io_fail("close failed");
            }
        }
        if (save) {
            // A file opened by reset gets its temporary file only now.
            if (temp.file == nullptr) {
                start_replacement("cannot open file " + in_quotes(file_name) + " for writing");
            }
            const auto n = static_cast<std::size_t>(length);
            if (container) {
                const zbuffer packed = compress_buffer(buffer.data(), n);
                std::uint8_t head[container_header];
                put_u32(head, zlib_container_magic);
                put_u32(head + 4, static_cast<std::uint32_t>(packed.size()));
                put_u32(head + 8, static_cast<std::uint32_t>(n));
                write_disk(head, sizeof head, 0);
                write_disk(packed.data(), packed.size(), container_header);
            } else {
                write_disk(buffer.data(), n, 0);
            }
            if (!sync_and_close(temp)) {
                io_fail("flush to disk after writing failed");
            }
            if (!replace_with(temp, target)) {
                io_fail("the written file could not be renamed over it");
            }
        }
    } catch (EError& e) {
        const std::string left = temp.name;
        if (!discard()) {
            e.append("; the temporary file " + in_quotes(left) + " could not be removed");
        }
        throw;
    } catch (...) {
        discard();
        throw;
    }
    discard();
}

} // namespace quarlix
