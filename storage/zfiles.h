// TZfile: a whole level file held in one memory buffer, and the whole-buffer zlib routines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/errors.h"
#include "storage/file_system.h"

namespace quarlix {

/// A byte buffer owned by its holder (malloc/realloc based, so growth can keep the block).
class zbuffer {
  public:
    zbuffer() = default;
    explicit zbuffer(std::size_t n) { resize(n); }
    std::uint8_t* data() noexcept { return p_.get(); }
    const std::uint8_t* data() const noexcept { return p_.get(); }
    std::size_t size() const noexcept { return n_; }
    bool empty() const noexcept { return n_ == 0; }
    /// Keeps the first min(size, n) bytes; new bytes are uninitialised. Throws std::bad_alloc.
    void resize(std::size_t n);
    void release() noexcept {
        p_.reset();
        n_ = 0;
    }
    std::span<const std::uint8_t> span() const noexcept { return {data(), n_}; }
    std::vector<std::uint8_t> to_vector() const { return {data(), data() + n_}; }

  private:
    struct freer {
        void operator()(std::uint8_t* p) const noexcept;
    };
    std::unique_ptr<std::uint8_t, freer> p_;
    std::size_t n_ = 0;
};

/// The input as one zlib stream at level 9 with zlib's default settings: the same bytes as
/// compress2 makes of it. The result grows with the stream as it is made, never to the worst
/// case at once. Raises ECompressionError.
zbuffer compress_buffer(const void* input, std::size_t length);
/// The same for the input followed by zero bytes up to padded_length (the input is cut to
/// padded_length when longer); the zeros are fed from a small block, never held whole.
zbuffer compress_buffer(const void* input, std::size_t length, std::size_t padded_length);
/// The inflated content of the zlib stream in the input; estimate 0 means none. Inflating
/// stops as soon as more than `limit` bytes (and the process-wide inflate limit) came out: a
/// result longer than the limit means that the stream holds more, and its rest was neither
/// inflated nor checked. Raises EDecompressionError for a damaged or truncated stream.
zbuffer decompress_buffer(const void* input, std::size_t length, std::size_t estimate,
                          std::uint64_t limit = UINT64_MAX);

/// Caps every inflation of the process below its own limit (0: no cap), so that a fuzzing run
/// can keep its memory small; a capped stream is refused as one that holds too much.
void set_inflate_limit(std::uint64_t limit) noexcept;
/// The process-wide cap applied to `limit` (UINT64_MAX when there is none).
std::uint64_t inflate_limit(std::uint64_t limit) noexcept;

/// The most bytes the in-memory file can hold: 2^31 - 1.
inline constexpr std::uint64_t max_file_content = 0x7FFFFFFF;

/// A whole file in memory: reads and writes work on the buffer, close(true) writes it back.
class TZfile {
  public:
    TZfile() = default;
    TZfile(const TZfile&) = delete;
    TZfile& operator=(const TZfile&) = delete;
    ~TZfile();

    void assign(const std::string& name);
    /// Opens the existing file read-only and reads all of it, unwrapping a "ZLIB" container.
    /// A pipe, device or socket is refused before it is read.
    void reset();
    /// Starts a new content for the file: creates the temporary file that close(true) renames
    /// over it, so that the file itself stays as it is until then; the buffer starts with
    /// 64 KiB. Fails as "cannot create" when no file can be made there, or when the name holds
    /// a directory, a read-only file or something that is not a regular file.
    void rewrite();
    /// Copies up to n bytes at pos; cut short at the end, the rest of dst is untouched.
    std::int32_t read(void* dst, std::int32_t n);
    void write(const void* src, std::int32_t n);
    /// Sets pos, cut to length.
    void seek(std::int32_t offset);
    std::int32_t position() const noexcept { return pos; }
    std::int32_t size() const noexcept { return length; }
    /// With save, writes the content to a temporary file beside the file (as a container when it
    /// came from one), puts it on the disk and renames it over the file; then closes. On
    /// failure the file is as it was and the temporary file is gone.
    void close(bool save);

    /// The content, for readers that walk it in place.
    std::span<const std::uint8_t> content() const noexcept {
        return {buffer.data(), static_cast<std::size_t>(length)};
    }
    bool is_container() const noexcept { return container; }
    /// Closes the disk file without writing, removes a temporary file not yet renamed, and drops
    /// the content. False only when that temporary file could not be removed.
    bool discard() noexcept;
    const std::string& name() const noexcept { return file_name; }

  private:
    /// Raises EInOutError "'<file name>': <failure>".
    [[noreturn]] void io_fail(const std::string& failure) const;
    /// Reads exactly n bytes from handle; offset only names the place in the error.
    void read_disk(void* dst, std::size_t n, std::uint64_t offset);
    /// Writes exactly n bytes to handle; offset only names the place in the error.
    void write_disk(const void* src, std::size_t n, std::uint64_t offset);

    /// Creates the temporary file for the content; raises EInOutError with the given message.
    void start_replacement(const std::string& failure);

    std::string file_name;
    std::string target;          // the file that close(true) replaces: file_name, or a link's file
    std::FILE* handle = nullptr; // the file opened by reset
    temporary_file temp;         // the new content until it is renamed over target
    bool container = false;
    zbuffer buffer;
    std::int32_t length = 0;
    std::int32_t pos = 0;
    std::int32_t capacity = 0;
};

/// 0x42494C5A: "ZLIB" as a little-endian word.
inline constexpr std::uint32_t zlib_container_magic = 0x42494C5Au;

} // namespace quarlix
