// Tests of TZfile (disk round trips, container handling, buffer edits) and the zlib routines.
#include "storage/zfiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <zlib.h>

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

namespace quarlix {
namespace {

bytes pattern(std::size_t n, std::uint32_t seed) {
    // Runs of repeated bytes between random ones: compressible, but not trivially so.
    std::mt19937 gen(seed);
    bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = (i / 64) % 3 == 0 ? std::uint8_t(gen()) : std::uint8_t(i / 64);
    }
    return out;
}

bytes container_of(const bytes& content, std::uint32_t stated_length) {
    const zbuffer packed = compress_buffer(content.data(), content.size());
    bytes out{'Z', 'L', 'I', 'B'};
    for (std::uint32_t v : {std::uint32_t(packed.size()), stated_length}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(std::uint8_t(v >> (8 * i)));
        }
    }
    out.insert(out.end(), packed.data(), packed.data() + packed.size());
    return out;
}

class Zfile : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir = fs::temp_directory_path() / ("zfiles_test_" + std::to_string(stamp) + "_" +
                                           std::to_string(std::random_device{}()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string put(const std::string& name, const bytes& content) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
        return p.string();
    }
    static bytes get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static bytes content(const TZfile& f) { return {f.content().begin(), f.content().end()}; }
    fs::path dir;
};

TEST_F(Zfile, ContainerRecognitionNeedsMoreThanTwelveBytes) {
    const bytes twelve{'Z', 'L', 'I', 'B', 1, 0, 0, 0, 0, 0, 0, 0};
    TZfile f;
    f.assign(put("twelve.tr4", twelve));
    f.reset();
    EXPECT_FALSE(f.is_container());
    EXPECT_EQ(content(f), twelve);
    f.close(false);

    // Thirteen bytes: a container whose stated C (100) runs past the end of the file.
    bytes thirteen{'Z', 'L', 'I', 'B', 100, 0, 0, 0, 5, 0, 0, 0, 0x78};
    f.assign(put("thirteen.tr4", thirteen));
    try {
        f.reset();
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find("thirteen.tr4"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("read of 100 bytes"), std::string::npos) << e.what();
    }
    EXPECT_EQ(f.size(), 0);
}

TEST_F(Zfile, ContainerUnwrapsWhateverItsStatedLength) {
    const bytes original = pattern(70000, 1);
    for (std::uint32_t stated : {70000u, 0u, 3u, 1000000u}) {
        TZfile f;
        f.assign(put("c.tr4", container_of(original, stated)));
        f.reset();
        EXPECT_TRUE(f.is_container());
        EXPECT_EQ(f.position(), 0);
        EXPECT_EQ(content(f), original) << "stated length " << stated;
    }
}

TEST_F(Zfile, ContainerIsWrittenBackAsContainer) {
    const std::string path = put("c.tr4", container_of(pattern(5000, 2), 5000));
    TZfile f;
    f.assign(path);
    f.reset();
    f.seek(4990);
    const bytes tail(30, 0xAB);
    f.write(tail.data(), 30);
    f.close(true);
    EXPECT_EQ(f.size(), 0);

    bytes expected = pattern(5000, 2);
    expected.resize(4990);
    expected.insert(expected.end(), tail.begin(), tail.end());
    const bytes disk = get(path);
    EXPECT_EQ(disk, container_of(expected, 5020));
    f.reset();
    EXPECT_EQ(content(f), expected);
}

TEST_F(Zfile, ReadsAreCutAtTheEnd) {
    TZfile f;
    f.assign(put("p.tr4", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    f.reset();
    f.seek(6);
    bytes dst(10, 0xEE);
    EXPECT_EQ(f.read(dst.data(), 10), 4);
    EXPECT_EQ(dst, (bytes{7, 8, 9, 10, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(f.position(), 10);
    EXPECT_EQ(f.read(dst.data(), 1), 0);
}

TEST_F(Zfile, WritesExtendOnlyPastTheEndAndKeepContentWhenGrowing) {
    const std::string path = put("p.tr4", {1, 2, 3, 4, 5});
    TZfile f;
    f.assign(path);
    f.reset();
    f.seek(1000);
    EXPECT_EQ(f.position(), 5);
    const bytes six{6};
    f.write(six.data(), 1); // appends to a buffer that has no headroom yet
    f.seek(3);
    const bytes over{30, 40, 50, 60};
    f.write(over.data(), 4);
    EXPECT_EQ(f.size(), 7);
    EXPECT_EQ(f.position(), 7);

    // Writes that exactly fill, then overrun, the 64 KiB headroom of each growth.
    bytes expected{1, 2, 3, 30, 40, 50, 60};
    for (std::size_t n :
         {std::size_t(65535), std::size_t(1), std::size_t(200000), std::size_t(65536)}) {
        const bytes chunk = pattern(n, std::uint32_t(n));
        f.write(chunk.data(), std::int32_t(n));
        expected.insert(expected.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(content(f), expected);
    f.close(true);
    EXPECT_EQ(get(path), expected);
}

TEST_F(Zfile, TheDiskFileChangesOnlyWhenCloseSavesAndThenWhole) {
    const bytes original = pattern(300, 3);
    const std::string path = put("p.tr4", original);
    const bytes junk(50, 0x11);
    {
        TZfile f;
        f.assign(path);
        f.reset();
        f.write(junk.data(), 50);
        f.close(false);
        f.reset();
        f.write(junk.data(), 50); // the destructor does not save either
    }
    EXPECT_EQ(get(path), original);

    // rewrite makes only the temporary file; the file keeps its content until close saves.
    const auto entries = [&] { return std::distance(fs::directory_iterator(dir), {}); };
    TZfile f;
    f.assign(path);
    f.rewrite();
    EXPECT_EQ(get(path), original);
    EXPECT_EQ(entries(), 2);
    f.write(junk.data(), 50);
    f.close(false);
    EXPECT_EQ(get(path), original);
    EXPECT_EQ(entries(), 1);
    f.rewrite();
    f.write(junk.data(), 50);
    f.close(true);
    EXPECT_EQ(get(path), junk);
    EXPECT_EQ(entries(), 1);
    {
        TZfile dropped;
        dropped.assign(path);
        dropped.rewrite(); // the destructor removes the temporary file
    }
    EXPECT_EQ(get(path), junk);
    EXPECT_EQ(entries(), 1);
}

TEST_F(Zfile, OpenFailuresAreInOutErrors) {
    TZfile f;
    f.assign((dir / "missing.tr4").string());
    try {
        f.reset();
        FAIL() << "no error";
    } catch (const EError& e) {
        EXPECT_STREQ(e.kind(), "EInOutError");
        EXPECT_NE(std::string(e.what()).find("cannot open file '"), std::string::npos) << e.what();
    }
    f.assign((dir / "no_dir" / "x.tr4").string());
    EXPECT_THROW(f.rewrite(), EInOutError);
}

TEST(ZlibRoutines, RoundTripsEmptyAndBigInputs) {
    const zbuffer empty = compress_buffer(nullptr, 0);
    EXPECT_GT(empty.size(), 0u);
    EXPECT_EQ(decompress_buffer(empty.data(), empty.size(), 0).size(), 0u);
    EXPECT_EQ(decompress_buffer(empty.data(), empty.size(), 100).size(), 0u);

    const bytes big = pattern(6 << 20, 4);
    const zbuffer packed = compress_buffer(big.data(), big.size());
    EXPECT_LT(packed.size(), big.size());
    EXPECT_EQ(decompress_buffer(packed.data(), packed.size(), 0).to_vector(), big);
    EXPECT_EQ(decompress_buffer(packed.data(), packed.size(), big.size()).to_vector(), big);
}

TEST(ZlibRoutines, CompressionMakesTheStreamOfCompress2) {
    // What zlib level 9 makes of the whole input at once, whatever pieces the output grows in
    // and however the padding zeros are fed.
    const auto compress2_of = [](const bytes& input) {
        uLongf n = compressBound(static_cast<uLong>(input.size()));
        bytes out(n);
        EXPECT_EQ(compress2(out.data(), &n, input.data(), static_cast<uLong>(input.size()), 9),
                  Z_OK);
        out.resize(n);
        return out;
    };
    bytes noisy(3 << 20);
    std::mt19937 gen(7);
    for (auto& b : noisy) {
        b = std::uint8_t(gen()); // grows the output through every doubling to the worst case
    }
    for (const bytes& content : {bytes{}, pattern(5 << 20, 11), noisy}) {
        SCOPED_TRACE(content.size());
        EXPECT_EQ(compress_buffer(content.data(), content.size()).to_vector(),
                  compress2_of(content));
    }
    // Padded: 300,000 bytes of content and 5 MiB of zeros; cut: the first 1000 bytes only.
    const bytes content = pattern(300000, 12);
    bytes padded = content;
    padded.resize(5 << 20, 0);
    EXPECT_EQ(compress_buffer(content.data(), content.size(), padded.size()).to_vector(),
              compress2_of(padded));
    EXPECT_EQ(compress_buffer(nullptr, 0, 70000).to_vector(), compress2_of(bytes(70000, 0)));
    EXPECT_EQ(compress_buffer(content.data(), content.size(), 1000).to_vector(),
              compress2_of(bytes(content.begin(), content.begin() + 1000)));
}

TEST(ZlibRoutines, DamagedAndTruncatedStreamsFail) {
    const bytes original = pattern(100000, 5);
    const bytes packed = compress_buffer(original.data(), original.size()).to_vector();
    bytes damaged = packed;
    damaged[0] ^= 0xFF; // the zlib header
    bytes corrupt_body = packed;
    for (std::size_t i = 10; i < 60; ++i) {
        corrupt_body[i] = 0xFF;
    }
    const bytes truncated(packed.begin(), packed.end() - 20);
    const bytes header_only(packed.begin(), packed.begin() + 2);

    for (const bytes* in :
         std::initializer_list<const bytes*>{&damaged, &corrupt_body, &truncated, &header_only}) {
        for (std::size_t estimate : {std::size_t(0), original.size()}) {
            try {
                decompress_buffer(in->data(), in->size(), estimate);
                ADD_FAILURE() << "no error for input of " << in->size() << " bytes";
            } catch (const EZlibError& e) {
                EXPECT_STREQ(e.kind(), "EDecompressionError");
                EXPECT_STREQ(e.what(), "error");
            }
        }
    }
    EXPECT_THROW(decompress_buffer(nullptr, 0, 0), EDecompressionError);
}

TEST(ZlibRoutines, AStreamThatInflatesAThousandfoldTakesFewReallocations) {
    // 16 KiB that inflate to 16 MiB. Growing by one step (the input length) at a time took
    // about a thousand reallocations, each copying all so far: some 12 s a call under
    // AddressSanitizer, which copies on every reallocation.
    const bytes zeros(16 << 20, 0);
    const zbuffer packed = compress_buffer(zeros.data(), zeros.size());
    ASSERT_LT(packed.size(), zeros.size() / 1000);
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t estimate : {std::size_t(0), std::size_t(1), packed.size()}) {
        EXPECT_EQ(decompress_buffer(packed.data(), packed.size(), estimate).to_vector(), zeros);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

/// Sets the process-wide inflate limit for a test, and lifts it when the test ends.
struct capped_inflation {
    explicit capped_inflation(std::uint64_t limit) { set_inflate_limit(limit); }
    ~capped_inflation() { set_inflate_limit(0); }
};

TEST(ZlibRoutines, InflatingStopsOneBytePastTheLimitWithoutReadingTheRest) {
    const bytes content = pattern(1 << 20, 5);
    const zbuffer packed = compress_buffer(content.data(), content.size());
    bytes damaged(packed.data(), packed.data() + packed.size());
    damaged.back() ^= 0xFF; // a wrong checksum, found only at the end of the stream
    for (std::size_t estimate : {std::size_t(0), content.size()}) {
        const zbuffer cut = decompress_buffer(damaged.data(), damaged.size(), estimate, 1000);
        EXPECT_EQ(cut.to_vector(), bytes(content.begin(), content.begin() + 1001));
        EXPECT_EQ(
            decompress_buffer(packed.data(), packed.size(), estimate, content.size() - 1).size(),
            content.size());
        EXPECT_EQ(
            decompress_buffer(packed.data(), packed.size(), estimate, content.size()).to_vector(),
            content);
        EXPECT_THROW(decompress_buffer(damaged.data(), damaged.size(), estimate, content.size()),
                     EDecompressionError);
    }
    const capped_inflation cap(4096);
    EXPECT_EQ(decompress_buffer(packed.data(), packed.size(), 0).size(), 4097u);
}

TEST_F(Zfile, AContainerPastWhatCanBeHeldIsRefusedWhileInflating) {
    // 3 MiB whose checksum is wrong: refused as too large, not as damaged, so the end of the
    // stream was never reached.
    const capped_inflation cap(1 << 20);
    bytes file = container_of(bytes(3 << 20, 0), 3 << 20);
    file.back() ^= 0xFF;
    TZfile f;
    f.assign(put("big.bin", file));
    try {
        f.reset();
        ADD_FAILURE() << "a container past the limit was read";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "'" + (dir / "big.bin").string() +
                      "': content of more than 1048576 bytes is too large to hold (2 GiB or more)");
    }
    // Within the limit, a stated length far beyond the content still reads the content.
    const bytes small = pattern(5000, 9);
    f.assign(put("small.bin", container_of(small, 0xFFFFFFFFu)));
    f.reset();
    EXPECT_EQ(content(f), small);
    f.close(false);
}

} // namespace
} // namespace quarlix
