// Fuzz target: the in-memory file and its "ZLIB" container, and the whole-buffer zlib routines.
// The bytes become a file on disk that is opened and worked on by operations drawn from the
// same bytes, each checked against a plain model of the content and position; closing without
// saving must leave the disk file as it was. The bytes are also inflated with several
// estimates (all must agree) and compressed and inflated back (must give them whole).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "storage/zfiles.h"

using namespace quarlix;

namespace {

constexpr int max_operations = 16;
constexpr std::uint16_t max_transfer = 4096;

/// What a read's destination holds before the read: compared whole, not byte by byte (the
/// fuzzer's comparison hooks would cost more than the read).
const std::array<std::uint8_t, 2 * max_transfer> untouched = [] {
    std::array<std::uint8_t, 2 * max_transfer> bytes;
    bytes.fill(0xA5);
    return bytes;
}();

/// The content as reset should give it: inflated for a container, else the bytes as they are.
/// Nothing when reset must fail (a container whose stream is cut or damaged).
std::optional<std::vector<std::uint8_t>> expected_content(std::span<const std::uint8_t> bytes) {
    if (bytes.size() <= 12 || std::memcmp(bytes.data(), "ZLIB", 4) != 0) {
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }
    fuzz::input_reader head(bytes.subspan(4, 4));
    const std::uint32_t packed = head.u32();
    if (packed > bytes.size() - 12) {
        return std::nullopt;
    }
    try {
        auto content = decompress_buffer(bytes.data() + 12, packed, 0, max_file_content);
        if (content.size() > inflate_limit(max_file_content)) {
            return std::nullopt; // more than the in-memory file may hold
        }
        return content.to_vector();
    } catch (const EDecompressionError&) {
        return std::nullopt;
    }
}

void check(bool ok, const char* what) {
    if (!ok) {
        fuzz::fail(what);
    }
}

void exercise_file(std::span<const std::uint8_t> bytes) {
    const std::string name = fuzz::scratch_file("input.bin");
    fuzz::write_file(name, bytes);
    const auto expected = expected_content(bytes);

    TZfile file;
    file.assign(name);
    try {
        file.reset();
    } catch (const EInOutError&) {
        check(!expected, "reset failed on a file that can be read whole");
        return;
    } catch (const EDecompressionError&) {
        check(!expected, "reset failed on a container whose stream inflates");
        return;
    }
    check(expected.has_value(), "reset took a container that cannot be read whole");
    std::vector<std::uint8_t> model = *expected;
    check(file.content().size() == model.size() &&
              std::equal(model.begin(), model.end(), file.content().begin()),
          "reset gave other content than the file holds");

    std::int32_t pos = 0;
    const auto length = [&] { return static_cast<std::int32_t>(model.size()); };
    fuzz::input_reader ops(bytes);
    std::vector<std::uint8_t> buffer;
    for (int i = 0; i < max_operations && !ops.empty(); ++i) {
        switch (ops.u8() % 4) {
        case 0: { // read, possibly past the end or of a negative length
            const std::int32_t n = static_cast<std::int16_t>(ops.u16() % (2 * max_transfer)) -
                                   static_cast<std::int32_t>(max_transfer / 8);
            buffer.assign(static_cast<std::size_t>(std::max(n, 0)), untouched[0]);
            const std::int32_t got = file.read(buffer.data(), n);
            const std::int32_t want = std::clamp(n, 0, length() - pos);
            check(got == want, "read copied another number of bytes than were left");
            check(std::equal(buffer.begin(), buffer.begin() + got, model.begin() + pos),
                  "read copied other bytes than the content holds");
            const auto rest = buffer.size() - static_cast<std::size_t>(got);
            check(rest == 0 || std::memcmp(buffer.data() + got, untouched.data(), rest) == 0,
                  "read touched the destination past what it copied");
            pos += got;
            break;
        }
        case 1: { // write at the position, possibly running past the end
            const auto part = ops.take(ops.u16() % max_transfer);
            file.write(part.data(), static_cast<std::int32_t>(part.size()));
            const std::size_t end = static_cast<std::size_t>(pos) + part.size();
            if (end > model.size()) {
                model.resize(end);
            }
            std::copy(part.begin(), part.end(), model.begin() + pos);
            pos = static_cast<std::int32_t>(end);
            break;
        }
        case 2: { // seek anywhere, also before the start and past the end
            const auto offset = static_cast<std::int32_t>(ops.u32());
            file.seek(offset);
            pos = std::clamp(offset, 0, length());
            break;
        }
        default:
            break;
        }
        check(file.position() == pos, "position differs from the model");
        check(file.size() == length(), "size differs from the model");
    }
    check(file.content().size() == model.size() &&
              std::equal(model.begin(), model.end(), file.content().begin()),
          "content differs from the model");
    file.close(false);
    check(fuzz::read_file(name) == std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
          "close without saving changed the disk file");
}

void exercise_zlib(std::span<const std::uint8_t> bytes) {
    // The estimate only sizes the first buffer: every estimate gives the same result.
    std::optional<std::vector<std::uint8_t>> first;
    bool failed = false;
    for (std::size_t estimate :
         {std::size_t{0}, std::size_t{1}, bytes.size(), bytes.size() * 4 + 7}) {
        try {
            const auto out = decompress_buffer(bytes.data(), bytes.size(), estimate).to_vector();
            check(!failed && (!first || *first == out), "the estimate changed what inflates");
            first = out;
        } catch (const EDecompressionError&) {
            check(!first, "the estimate changed whether the stream inflates");
            failed = true;
        }
    }
    const zbuffer packed = compress_buffer(bytes.data(), bytes.size());
    for (std::size_t estimate : {std::size_t{0}, bytes.size()}) {
        check(decompress_buffer(packed.data(), packed.size(), estimate).to_vector() ==
                  std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
              "compressed bytes do not inflate back to the input");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    exercise_file(bytes);
    exercise_zlib(bytes);
    return 0;
}
