// quarlix_bench: load, both conversions with save, and the room-geometry merge on a large
// generated TRC level (and on the same rooms moved to crowded positions), each against a floor:
// zlib level 9 of the same chunk contents, one after the other. Every result is shown as a ratio
// to that floor ("x_floor") with the process's peak resident memory so far ("peak_MiB"); a
// summary table closes the run. The "bound" rows time whole conversions of the large level and
// of a level shaped like real ones against the least time two threads can take for the chunks
// that the conversion compresses: max(M, S / 2), M the time of the largest and S of all.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include "level/conversion.h"
#include "level/geometry.h"
#include "level/trunit2.h"
#include "storage/parallel.h"
#include "storage/zfiles.h"
#include "tools/levelgen.h"

namespace {

using namespace quarlix;
namespace fs = std::filesystem;

constexpr double mebibyte = 1024.0 * 1024.0;

/// Peak resident set size of this process in bytes so far; 0 where the platform does not tell.
std::uint64_t peak_resident_bytes() {
#if defined(__linux__)
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) {
        return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024; // Linux reports KiB
    }
#endif
    return 0;
}

double peak_mib() { return static_cast<double>(peak_resident_bytes()) / mebibyte; }

// ---- The level on disk ----------------------------------------------------------------------

/// A fresh directory that is removed with everything in it when the holder goes.
class scratch_dir {
  public:
    scratch_dir() {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0;; ++attempt) {
            path_ = fs::temp_directory_path() /
                    ("quarlix-bench-" + std::to_string(stamp) + "-" + std::to_string(attempt));
            if (fs::create_directory(path_)) {
                return;
            }
        }
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    ~scratch_dir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

struct bench_files {
    std::string trc;             // the generated level
    std::string marked_tr4;      // the TR4 that the conversion made of it: input of the way back
    std::string out_tr4;         // written by every TRC-to-TR4 run
    std::string out_trc;         // written by every TR4-to-TRC run
    std::string real_trc;        // the level shaped like real ones
    std::string real_marked_tr4; // and its TR4
};

const bench_files* files = nullptr;

std::uint64_t file_size(const std::string& name) { return fs::file_size(name); }

std::string in_quotes(const std::string& s) { return "\"" + s + "\""; }

/// Runs a tool of the project; fails unless it ends with status 0.
void run_tool(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

/// Texels as photographs have them: the generator's gradients and tiles with the two low bits
/// of every byte in `form` (all bytes, or the low byte of 16-bit texels) disturbed. Level 9
/// then takes about as long per byte for every chunk, as it does on real textures, instead of
/// crawling through the smooth 32-bit gradients and racing through the 16-bit ones.
void add_grain(std::vector<std::uint8_t>& texels, std::size_t stride, std::uint64_t seed) {
    std::uint64_t state = seed * 0x9E3779B97F4A7C15u + 1;
    for (std::size_t i = 0; i < texels.size(); i += stride) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        texels[i] ^= static_cast<std::uint8_t>(state >> 62);
    }
}

/// A TRC level of the shape of real ones: 10 textiles (2.5 MiB of 32-bit and 1.25 MiB of
/// 16-bit texels, the same pictures), a 0.75 MiB third chunk, 30 rooms of the large level's
/// kind, 0.8 MB of meshes, 0.4 MB of animation frames and 1 MiB of samples: 3.3 MB of level
/// data, of which the TR4 made from it keeps 1.9 MB (its first room only).
levelgen::gen_level real_shaped_level() {
    levelgen::gen_level level = levelgen::make_large_level(2);
    level.textiles32 = levelgen::textile_pixels(10, 4, 2);
    level.textiles16.resize(level.textiles32.size() / 2);
    for (std::size_t i = 0; i * 4 < level.textiles32.size(); ++i) {
        const std::uint8_t* bgra = &level.textiles32[i * 4];
        const auto argb1555 = static_cast<std::uint16_t>(
            (bgra[3] >> 7) << 15 | (bgra[2] >> 3) << 10 | (bgra[1] >> 3) << 5 | bgra[0] >> 3);
        level.textiles16[i * 2] = static_cast<std::uint8_t>(argb1555);
        level.textiles16[i * 2 + 1] = static_cast<std::uint8_t>(argb1555 >> 8);
    }
    add_grain(level.textiles32, 1, 1);
    add_grain(level.textiles16, 2, 2);
    level.textiles_misc = levelgen::textile_pixels(3, 4, 9);
    add_grain(level.textiles_misc, 1, 3);
    level.num_room_textiles = 7;
    level.num_object_textiles = 3;
    level.num_bump_textiles = 0;
    level.rooms.resize(30);
    level.floor_data.resize(100000);
    level.frames.resize(200000);
    level.mesh_data.resize(400000);
    std::erase_if(level.mesh_pointers, [](std::int32_t at) { return at >= 800000; });
    level.sample_data.resize(std::size_t{1} << 20);
    level.sample_indices.resize(std::min<std::size_t>(level.sample_indices.size(), 64));
    return level;
}

/// Converts a TRC file with the converter; fails unless it wrote the TR4.
void convert_with_program(const std::string& trc, const std::string& tr4, const std::string& log) {
    run_tool(in_quotes(QUARLIX_BINARY) + " " + in_quotes(trc) + " " + in_quotes(tr4) + " > " +
             in_quotes(log));
    // The converter ends with status 0 on a refused input too: the output must be there.
    if (!fs::is_regular_file(tr4)) {
        throw std::runtime_error("the converter wrote no " + tr4);
    }
}

/// Writes the large level, and the marked TR4 that the converter makes of it, with the
/// project's own programs: this process then holds nothing but what it measures, so its peak
/// memory belongs to the benchmarks. The real-shaped level is small enough to make here.
bench_files prepare(const scratch_dir& dir) {
    bench_files f{dir.file("large.trc"), dir.file("marked.tr4"), dir.file("out.tr4"),
                  dir.file("out.trc"),   dir.file("real.trc"),   dir.file("real_marked.tr4")};
    run_tool(in_quotes(QUARLIX_MAKE_LEVEL) + " large " + in_quotes(f.trc));
    convert_with_program(f.trc, f.marked_tr4, dir.file("convert.log"));
    if (!levelgen::write_file(f.real_trc, levelgen::file_bytes(real_shaped_level()))) {
        throw std::runtime_error("cannot write " + f.real_trc);
    }
    convert_with_program(f.real_trc, f.real_marked_tr4, dir.file("convert_real.log"));
    return f;
}

// ---- Inputs held for one benchmark at a time ------------------------------------------------

/// What the running benchmark works on, kept across its runs and dropped when a benchmark
/// with other inputs starts, so that one measurement's peak memory does not carry another's.
class input_cache {
  public:
    template <class T>
    T& get(const std::string& key, const std::function<std::shared_ptr<T>()>& make) {
        if (key != key_) {
            value_.reset();
            key_.clear();
            value_ = make();
            key_ = key;
        }
        return *static_cast<T*>(value_.get());
    }
    void clear() {
        value_.reset();
        key_.clear();
    }

  private:
    std::string key_;
    std::shared_ptr<void> value_;
};

input_cache inputs;

std::uint32_t u32_at(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(b.at(at + 2)) << 16 |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

/// The contents that a save compressed, inflated from the file it wrote: the three texture
/// chunks, and for a TR4 file the level data.
std::vector<zbuffer> chunk_contents(const std::string& name, bool tr4) {
    std::ifstream in(name, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
    std::vector<zbuffer> chunks;
    std::size_t at = 10; // first word and the three textile counts
    for (int i = 0; i < (tr4 ? 4 : 3); ++i) {
        const std::uint32_t unpacked = u32_at(file, at);
        const std::uint32_t packed = u32_at(file, at + 4);
        if (at + 8 + packed > file.size()) {
            throw std::runtime_error(name + " is cut short");
        }
        chunks.push_back(decompress_buffer(file.data() + at + 8, packed, unpacked));
        at += 8 + packed;
    }
    return chunks;
}

/// The TR4 save's chunk contents, from the marked TR4 file.
std::shared_ptr<std::vector<zbuffer>> tr4_chunk_contents() {
    return std::make_shared<std::vector<zbuffer>>(chunk_contents(files->marked_tr4, true));
}

std::unique_ptr<Ttrlevel> load_level(const std::string& name) {
    auto level = std::make_unique<Ttrlevel>();
    if (level->load(name) != 0) {
        throw std::runtime_error("cannot load " + name);
    }
    return level;
}

// ---- The merge as a linear scan, for comparison --------------------------------------------

namespace linear {

/// Number (from 1) of the first vertex at x, y, z, comparing from the first entry; 0 if none.
std::uint16_t find_vertex(const troom& room, std::int16_t x, std::int16_t y, std::int16_t z) {
    for (std::size_t i = 0; i < room.num_vertices; ++i) {
        const troom_vertex& v = room.vertices[i];
        if (v.x == x && v.y == y && v.z == z) {
            return static_cast<std::uint16_t>(i + 1);
        }
    }
    return 0;
}

/// Makes row i of a table, a zero row unless the table already holds one there.
template <class T, std::size_t N> void grow(troom_table<T, N>& table, std::size_t i) {
    if (i == table.size()) {
        table.push_back(T{});
    } else if (i > table.size()) {
        table.resize(i + 1);
    }
}

void add_vertex(troom& room, std::int16_t x, std::int16_t y, std::int16_t z) {
    if (find_vertex(room, x, y, z) != 0 || room.num_vertices >= max_room_vertices) {
        return;
    }
    const std::size_t i = room.num_vertices++;
    grow(room.legacy_vertices, i);
    grow(room.vertices, i);
    grow(room.trc_vertices, i);
    const auto low_byte = [](std::int16_t w) { return static_cast<std::int16_t>(w & 0x00FF); };
    tlegacy_vertex& legacy = room.legacy_vertices[i];
    legacy.x = x;
    legacy.y = y;
    legacy.z = z;
    legacy.lighting = low_byte(legacy.lighting);
    troom_vertex& vertex = room.vertices[i];
    vertex.x = x;
    vertex.y = y;
    vertex.z = z;
    vertex.lighting = low_byte(vertex.lighting);
}

struct position {
    std::int16_t x, y, z;
};

position position_of(const tlayer_vertex& v) {
    return {truncate_coordinate(v.x), truncate_coordinate(v.y), truncate_coordinate(v.z)};
}

std::uint16_t corner(const troom& room, const tlayer_vertex_block& block, std::uint16_t c) {
    const position p = position_of(block.vertices[c]);
    return static_cast<std::uint16_t>(find_vertex(room, p.x, p.y, p.z) - 1);
}

/// Two searches per layer vertex and one per face corner, each from the first entry.
void merge_layers(troom& room) {
    const ttr5_layers& layers = room.layers;
    room.num_vertices = 0;
    for (std::size_t k = 0; k < layers.layer_count; ++k) {
        const tlayer_vertex_block& block = layers.vertex_blocks[k];
        for (std::size_t i = 0; i < block.count; ++i) {
            const tlayer_vertex& source = block.vertices[i];
            const position p = position_of(source);
            add_vertex(room, p.x, p.y, p.z);
            const std::uint16_t n = find_vertex(room, p.x, p.y, p.z);
            if (n == 0) {
                continue;
            }
            room.trc_vertices[n - 1] = source;
            const std::uint8_t* bgr = source.colour;
            room.vertices[n - 1].colour =
                static_cast<std::uint16_t>((bgr[2] >> 3) << 10 | (bgr[1] >> 3) << 5 | bgr[0] >> 3);
        }
    }
    room.num_rectangles = 0;
    room.num_triangles = 0;
    for (std::size_t k = 0; k < layers.layer_count; ++k) {
        const tlayer_vertex_block& vertices = layers.vertex_blocks[k];
        const tlayer_rectangle_block& rectangles = layers.rectangle_blocks[k];
        for (std::size_t i = 0; i < rectangles.count; ++i) {
            const tlayer_rectangle& source = rectangles.rectangles[i];
            const std::size_t n = room.num_rectangles++;
            grow(room.rectangles, n);
            grow(room.trc_rectangles, n);
            troom_rectangle& rectangle = room.rectangles[n];
            tlayer_rectangle& trc = room.trc_rectangles[n];
            for (std::size_t c = 0; c < 4; ++c) {
                rectangle.corners[c] = trc.corners[c] = corner(room, vertices, source.corners[c]);
            }
            rectangle.texture = trc.texture = source.texture;
            trc.extra = source.extra;
        }
        const tlayer_triangle_block& triangles = layers.triangle_blocks[k];
        for (std::size_t i = 0; i < triangles.count; ++i) {
            const tlayer_triangle& source = triangles.triangles[i];
            const std::size_t n = room.num_triangles++;
            grow(room.triangles, n);
            grow(room.trc_triangles, n);
            troom_triangle& triangle = room.triangles[n];
            tlayer_triangle& trc = room.trc_triangles[n];
            for (std::size_t c = 0; c < 3; ++c) {
                triangle.corners[c] = trc.corners[c] = corner(room, vertices, source.corners[c]);
            }
            triangle.texture = trc.texture = source.texture;
            trc.extra = source.extra;
        }
    }
}

template <class T, std::size_t N>
bool same_rows(const troom_table<T, N>& a, const troom_table<T, N>& b, std::size_t n) {
    return a.size() >= n && b.size() >= n &&
           (n == 0 || std::memcmp(a.data(), b.data(), n * sizeof(T)) == 0);
}

/// Empty when the library's merge and the linear scan give the same tables for every room.
std::string compare_with_library(const Ttrlevel& level) {
    for (std::size_t i = 0; i < level.rooms.size(); ++i) {
        troom merged = level.rooms[i];
        troom scanned = level.rooms[i];
        quarlix::layers_to_room_geometry(merged);
        merge_layers(scanned);
        const bool same =
            merged.num_vertices == scanned.num_vertices &&
            merged.num_rectangles == scanned.num_rectangles &&
            merged.num_triangles == scanned.num_triangles &&
            same_rows(merged.legacy_vertices, scanned.legacy_vertices, merged.num_vertices) &&
            same_rows(merged.vertices, scanned.vertices, merged.num_vertices) &&
            same_rows(merged.trc_vertices, scanned.trc_vertices, merged.num_vertices) &&
            same_rows(merged.rectangles, scanned.rectangles, merged.num_rectangles) &&
            same_rows(merged.trc_rectangles, scanned.trc_rectangles, merged.num_rectangles) &&
            same_rows(merged.triangles, scanned.triangles, merged.num_triangles) &&
            same_rows(merged.trc_triangles, scanned.trc_triangles, merged.num_triangles);
        if (!same) {
            return "room " + std::to_string(i) + ": the merge differs from the linear scan";
        }
    }
    return {};
}

} // namespace linear

// ---- Benchmarks -----------------------------------------------------------------------------

void record_peak(benchmark::State& state) { state.counters["peak_MiB"] = peak_mib(); }

/// Destroys a level without timing it: releasing the model is not part of the operation.
void drop_untimed(benchmark::State& state, std::unique_ptr<Ttrlevel>& level) {
    state.PauseTiming();
    level.reset();
    state.ResumeTiming();
}

/// zlib level 9 of the three texture chunks and the TR4 level data, one after the other.
void floor_compress(benchmark::State& state) {
    const auto& chunks = inputs.get<std::vector<zbuffer>>("tr4 chunks", tr4_chunk_contents);
    std::size_t in = 0, out = 0;
    // Time per chunk: the largest share bounds what compressing the chunks side by side gains.
    std::vector<double> chunk_seconds(chunks.size());
    for (auto _ : state) {
        in = out = 0;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const auto start = std::chrono::steady_clock::now();
            const zbuffer packed = compress_buffer(chunks[i].data(), chunks[i].size());
            chunk_seconds[i] +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            in += chunks[i].size();
            out += packed.size();
            benchmark::DoNotOptimize(packed.data());
        }
    }
    double total = 0, largest = 0;
    for (const double t : chunk_seconds) {
        total += t;
        largest = std::max(largest, t);
    }
    state.counters["in_MiB"] = static_cast<double>(in) / mebibyte;
    state.counters["out_MiB"] = static_cast<double>(out) / mebibyte;
    state.counters["largest_share"] = total > 0 ? largest / total : 0.0;
    inputs.clear();
    record_peak(state);
}

void load_trc(benchmark::State& state, unsigned threads) {
    inputs.clear();
    set_max_threads(threads);
    for (auto _ : state) {
        auto level = std::make_unique<Ttrlevel>();
        if (level->load(files->trc) != 0) {
            state.SkipWithError("the TRC level did not load");
            break;
        }
        drop_untimed(state, level);
    }
    set_max_threads(0);
    record_peak(state);
}

void trc_to_tr4(benchmark::State& state, unsigned threads) {
    inputs.clear();
    set_max_threads(threads);
    for (auto _ : state) {
        auto level = std::make_unique<Ttrlevel>();
        level->load(files->trc);
        convert_trc_to_tr4(*level);
        level->save(files->out_tr4);
        drop_untimed(state, level);
    }
    set_max_threads(0);
    record_peak(state);
}

void tr4_to_trc(benchmark::State& state, unsigned threads) {
    inputs.clear();
    set_max_threads(threads);
    for (auto _ : state) {
        auto level = std::make_unique<Ttrlevel>();
        level->load(files->marked_tr4);
        if (!has_conversion_marker(*level)) {
            state.SkipWithError("the TR4 level lacks the conversion marker");
            break;
        }
        convert_tr4_to_trc(*level);
        level->save(files->out_trc);
        drop_untimed(state, level);
    }
    set_max_threads(0);
    record_peak(state);
}

/// One conversion as the converter makes it: load, the direction's edits, save.
void convert_file(const std::string& input, const std::string& output) {
    auto level = load_level(input);
    if (level->version == 7) {
        convert_trc_to_tr4(*level);
    } else {
        if (!has_conversion_marker(*level)) {
            throw std::runtime_error(input + " lacks the conversion marker");
        }
        convert_tr4_to_trc(*level);
    }
    if (level->save(output) != 0) {
        throw std::runtime_error("cannot save " + output);
    }
}

/// A whole conversion against the least time that two threads can take for the chunks it
/// compresses: every iteration times the conversion, then (untimed) each of the chunks that it
/// wrote compressed at level 9 one after the other, so that both are measured in the same run
/// under the same conditions. x_bound is the conversion's time over max(M, S / 2), x_S over S.
void at_bound(benchmark::State& state, std::string bench_files::*input, bool to_tr4) {
    inputs.clear();
    const std::string& in = files->*input;
    const std::string& out = to_tr4 ? files->out_tr4 : files->out_trc;
    std::vector<zbuffer> chunks;
    std::vector<double> chunk_seconds;
    double converting = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        try {
            convert_file(in, out);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
        converting +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        if (chunks.empty()) {
            chunks = chunk_contents(out, to_tr4);
            chunk_seconds.assign(chunks.size(), 0.0);
        }
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const auto begin = std::chrono::steady_clock::now();
            const zbuffer packed = compress_buffer(chunks[i].data(), chunks[i].size());
            benchmark::DoNotOptimize(packed.data());
            chunk_seconds[i] +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        }
        state.ResumeTiming();
    }
    double all = 0, largest = 0;
    for (const double t : chunk_seconds) {
        all += t;
        largest = std::max(largest, t);
    }
    // The chunks are whole jobs: the best that two threads can do is the best split of them
    // into two sets, which can be well above S / 2 when no split is even.
    double best_split = all;
    for (std::size_t set = 0; set < (std::size_t{1} << chunk_seconds.size()); ++set) {
        double one = 0;
        for (std::size_t i = 0; i < chunk_seconds.size(); ++i) {
            one += (set >> i & 1) != 0 ? chunk_seconds[i] : 0.0;
        }
        best_split = std::min(best_split, std::max(one, all - one));
    }
    if (all > 0) {
        state.counters["x_bound"] = converting / std::max(largest, all / 2);
        state.counters["x_S"] = converting / all;
        state.counters["x_split"] = converting / best_split;
        state.counters["M_of_S"] = largest / all;
    }
    record_peak(state);
}

struct loaded_model {
    std::unique_ptr<Ttrlevel> level;
    std::string mismatch; // empty when the linear scan agrees with the library
};

/// Moves every room's positions onto positions that a position hash puts into one slot: each
/// distinct position of a room, in order of first appearance, to the next crowded one. The
/// merges, faces and colours stay those of the level.
void crowd_positions(Ttrlevel& level) {
    const auto crowded = levelgen::crowded_positions(max_room_vertices);
    for (troom& room : level.rooms) {
        std::map<std::array<std::int16_t, 3>, std::size_t> moved;
        for (std::size_t k = 0; k < room.layers.layer_count; ++k) {
            tlayer_vertex_block& block = room.layers.vertex_blocks[k];
            for (std::size_t i = 0; i < block.count; ++i) {
                tlayer_vertex& v = block.vertices[i];
                const std::array<std::int16_t, 3> p = {
                    truncate_coordinate(v.x), truncate_coordinate(v.y), truncate_coordinate(v.z)};
                const std::size_t j = moved.emplace(p, moved.size()).first->second;
                if (j < crowded.size()) {
                    v.x = crowded[j][0];
                    v.y = crowded[j][1];
                    v.z = crowded[j][2];
                }
            }
        }
    }
}

template <bool crowded> std::shared_ptr<loaded_model> load_model() {
    auto model = std::make_shared<loaded_model>();
    model->level = load_level(files->trc);
    if (crowded) {
        crowd_positions(*model->level);
    }
    model->mismatch = linear::compare_with_library(*model->level);
    return model;
}

template <void (*merge)(troom&), bool crowded = false> void room_geometry(benchmark::State& state) {
    loaded_model& model =
        inputs.get<loaded_model>(crowded ? "crowded model" : "model", load_model<crowded>);
    if (!model.mismatch.empty()) {
        state.SkipWithError(model.mismatch.c_str());
        return;
    }
    std::size_t vertices = 0;
    for (auto _ : state) {
        vertices = 0;
        for (troom& room : model.level->rooms) {
            merge(room);
            vertices += room.num_vertices;
        }
        benchmark::DoNotOptimize(vertices);
    }
    state.counters["room_vertices"] = static_cast<double>(vertices);
    record_peak(state);
}

// ---- Report ---------------------------------------------------------------------------------

constexpr const char* floor_name = "floor/zlib9_sequential";

using Run = benchmark::BenchmarkReporter::Run;

double seconds_of(const Run& run) {
    return run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
}

/// CPU time of the whole process (every thread) per iteration.
double cpu_seconds_of(const Run& run) {
    return run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
}

/// The console table with each row's ratio to the floor added, and the rows kept for the
/// summary: the median of repetitions when there are any, else the mean of the runs.
class ratio_reporter : public benchmark::ConsoleReporter {
  public:
    struct row {
        double seconds = 0;
        double cpu_seconds = 0;
        double peak_mib = 0;
        double largest_share = 0; // floor only
        double x_bound = 0;       // bound rows only
        double x_s = 0;
        double x_split = 0;
    };

    ratio_reporter() : ConsoleReporter(OO_Tabular) {}

    /// The median of the repetitions when there are any, else the mean of the runs.
    struct tally {
        row sum; // peak_mib holds the largest
        int count = 0;
        row median;
        bool has_median = false;
    };

    static row summary_of(const tally& t) {
        if (t.has_median || t.count == 0) {
            return t.median;
        }
        return {t.sum.seconds / t.count,       t.sum.cpu_seconds / t.count, t.sum.peak_mib,
                t.sum.largest_share / t.count, t.sum.x_bound / t.count,     t.sum.x_s / t.count,
                t.sum.x_split / t.count};
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown = runs;
        for (const Run& run : shown) {
            if (run.error_occurred) {
                continue;
            }
            const std::string name = run.run_name.function_name;
            if (tallies_.count(name) == 0) {
                order_.push_back(name);
            }
            tally& t = tallies_[name];
            const row measured{seconds_of(run),          cpu_seconds_of(run),
                               counter(run, "peak_MiB"), counter(run, "largest_share"),
                               counter(run, "x_bound"),  counter(run, "x_S"),
                               counter(run, "x_split")};
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                t.median = measured;
                t.has_median = true;
            } else if (run.run_type == Run::RT_Iteration) {
                t.sum.seconds += measured.seconds;
                t.sum.cpu_seconds += measured.cpu_seconds;
                t.sum.peak_mib = std::max(t.sum.peak_mib, measured.peak_mib);
                t.sum.largest_share += measured.largest_share;
                t.sum.x_bound += measured.x_bound;
                t.sum.x_s += measured.x_s;
                t.sum.x_split += measured.x_split;
                ++t.count;
            }
            if (name == floor_name) {
                floor_seconds_ = summary_of(t).seconds;
            }
        }
        for (Run& run : shown) {
            const bool spread = run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean" &&
                                run.aggregate_name != "median";
            if (!run.error_occurred && !spread && floor_seconds_ > 0) {
                run.counters["x_floor"] = seconds_of(run) / floor_seconds_;
            }
        }
        ConsoleReporter::ReportRuns(shown);
    }

    void print_summary(std::FILE* out) const {
        std::fprintf(out, "\nSummary: real time per operation, its ratio to the floor, CPU time of "
                          "all threads, and the process's peak resident memory once it had run\n");
        std::fprintf(out, "%-28s %12s %10s %12s %12s\n", "benchmark", "time [ms]", "x floor",
                     "cpu [ms]", "peak [MiB]");
        for (const std::string& name : order_) {
            const row r = summary_of(tallies_.at(name));
            char ratio[32] = "-";
            if (floor_seconds_ > 0) {
                std::snprintf(ratio, sizeof ratio, "%.3f", r.seconds / floor_seconds_);
            }
            std::fprintf(out, "%-28s %12.1f %10s %12.1f %12.0f\n", name.c_str(), r.seconds * 1e3,
                         ratio, r.cpu_seconds * 1e3, r.peak_mib);
        }
        if (const auto floor = find(floor_name)) {
            std::fprintf(out,
                         "floor: its largest chunk takes %.0f%% of it, which bounds what "
                         "compressing the chunks side by side can gain\n",
                         floor->largest_share * 100);
        }
        speedup(out, "load_trc", "one thread vs all threads");
        speedup(out, "trc_to_tr4", "one thread vs all threads");
        speedup(out, "tr4_to_trc", "one thread vs all threads");
        for (const std::string& name : order_) {
            const row r = summary_of(tallies_.at(name));
            if (r.x_bound > 0) {
                std::fprintf(out, "%s: %.3f x max(M, S/2), %.3f x S, %.3f x the best split\n",
                             name.c_str(), r.x_bound, r.x_s, r.x_split);
            }
        }
        const auto linear_scan = find("room_geometry/linear_scan");
        const auto merge = find("room_geometry/merge");
        const auto crowded = find("room_geometry/merge_crowded");
        if (linear_scan && merge) {
            std::fprintf(out, "room_geometry: the merge is %.1fx as fast as the linear scan\n",
                         linear_scan->seconds / merge->seconds);
        }
        if (merge && crowded) {
            std::fprintf(out,
                         "room_geometry: crowded positions take %.2fx the time of the "
                         "level's own\n",
                         crowded->seconds / merge->seconds);
        }
    }

  private:
    std::optional<row> find(const std::string& name) const {
        const auto it = tallies_.find(name);
        if (it == tallies_.end()) {
            return std::nullopt;
        }
        return summary_of(it->second);
    }

    static double counter(const Run& run, const char* name) {
        const auto it = run.counters.find(name);
        return it == run.counters.end() ? 0.0 : static_cast<double>(it->second);
    }

    void speedup(std::FILE* out, const std::string& op, const char* what) const {
        const auto one = find(op + "/one_thread");
        const auto all = find(op + "/all_threads");
        if (one && all) {
            std::fprintf(out, "%s: %s %.2fx (%u hardware threads)\n", op.c_str(), what,
                         one->seconds / all->seconds, max_threads());
        }
    }

    double floor_seconds_ = 0;
    std::map<std::string, tally> tallies_;
    std::vector<std::string> order_;
};

void register_benchmarks() {
    const auto timed = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
    };
    // The floor first: every later row is reported against it.
    timed(benchmark::RegisterBenchmark(floor_name, floor_compress));
    timed(benchmark::RegisterBenchmark("load_trc/all_threads", load_trc, 0u));
    timed(benchmark::RegisterBenchmark("load_trc/one_thread", load_trc, 1u));
    timed(benchmark::RegisterBenchmark("trc_to_tr4/all_threads", trc_to_tr4, 0u));
    timed(benchmark::RegisterBenchmark("trc_to_tr4/one_thread", trc_to_tr4, 1u));
    timed(benchmark::RegisterBenchmark("tr4_to_trc/all_threads", tr4_to_trc, 0u));
    timed(benchmark::RegisterBenchmark("tr4_to_trc/one_thread", tr4_to_trc, 1u));
    // Several conversions per repetition: one alone is too short a sample on a busy machine.
    const auto bound = [&](benchmark::internal::Benchmark* b) { timed(b->MinTime(2.0)); };
    bound(benchmark::RegisterBenchmark("bound/large_to_tr4", at_bound, &bench_files::trc, true));
    bound(benchmark::RegisterBenchmark("bound/large_to_trc", at_bound, &bench_files::marked_tr4,
                                       false));
    bound(benchmark::RegisterBenchmark("bound/real_shaped_to_tr4", at_bound, &bench_files::real_trc,
                                       true));
    bound(benchmark::RegisterBenchmark("bound/real_shaped_to_trc", at_bound,
                                       &bench_files::real_marked_tr4, false));
    timed(benchmark::RegisterBenchmark("room_geometry/merge",
                                       room_geometry<quarlix::layers_to_room_geometry>));
    timed(benchmark::RegisterBenchmark("room_geometry/merge_crowded",
                                       room_geometry<quarlix::layers_to_room_geometry, true>));
    timed(benchmark::RegisterBenchmark("room_geometry/linear_scan",
                                       room_geometry<linear::merge_layers>));
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    try {
        const scratch_dir dir;
        const bench_files prepared = prepare(dir);
        files = &prepared;
        std::printf("Level: %.1f MiB TRC file (250 rooms of 3 layers, 64 textiles); the TR4 made "
                    "from it %.1f MiB\n",
                    static_cast<double>(file_size(prepared.trc)) / mebibyte,
                    static_cast<double>(file_size(prepared.marked_tr4)) / mebibyte);
        std::printf("Real-shaped level: %.1f MiB TRC file (30 rooms, 10 textiles, 3.3 MB of "
                    "level data); its TR4 %.1f MiB\n",
                    static_cast<double>(file_size(prepared.real_trc)) / mebibyte,
                    static_cast<double>(file_size(prepared.real_marked_tr4)) / mebibyte);
        std::printf("Model: room record %zu bytes, layer blocks %zu bytes per layer, besides the "
                    "rows they hold\n",
                    sizeof(troom),
                    sizeof(tlayer_vertex_block) + sizeof(tlayer_rectangle_block) +
                        sizeof(tlayer_triangle_block));
        std::fflush(stdout);

        register_benchmarks();
        ratio_reporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        inputs.clear();
        std::fflush(stdout);
        reporter.print_summary(stdout);
        std::printf("Peak resident memory of the whole run: %.0f MiB\n", peak_mib());
        files = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quarlix_bench: %s\n", e.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
