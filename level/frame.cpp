// The file frame of TR4 and TRC levels: the first word, three header values, three compressed
// texture chunks, the level data (a compressed chunk in TR4, plain in TRC) and the sample data.
// One walk describes it; three frames follow it: the load, the size check before a save, and
// the save. The compressed chunks are inflated or deflated side by side.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <string>

#include "level/walks.h"
#include "storage/parallel.h"

namespace quarlix {

template <class Io> void walk_level_data(Io& io, Ttrlevel& l) {
    if (io.version == level_trc) {
        trc_frame frame;
        walk_trc_rooms(io, l, frame);
        walk_object_sections(io, l);
        walk_world_sections(io, l);
        walk_trc_close(io, l, frame);
    } else {
        walk_tr4_rooms(io, l);
        walk_object_sections(io, l);
        walk_world_sections(io, l);
    }
}

template void walk_level_data(level_loader&, Ttrlevel&);
template void walk_level_data(level_saver&, Ttrlevel&);

namespace {

constexpr std::uint64_t max_texture_chunk = 0xFFFFFFFF;
/// The first word, the three header values, and the two length fields of a chunk.
constexpr std::uint64_t header_bytes = 4 + 3 * 2;
constexpr std::uint64_t chunk_fields = 8;

/// A compressed chunk: its two length fields and the model's buffer of its content (none for
/// the level-data chunk, whose content is the level data).
struct tchunk {
    std::string name;
    zbuffer* data;
    std::uint32_t* size;        // when inflated
    std::uint32_t* packed_size; // as stored
    std::uint64_t saved;        // the bytes of `data` that a save compresses
    std::uint64_t limit;        // the most bytes it may inflate to
};

/// The frame in file order. `f` is the load, the size check or the save.
template <class Frame> void walk_file(Frame& f, Ttrlevel& l) {
    f.value(l.magic, "first word");
    f.value(l.num_room_textiles, "number of room textiles");
    f.value(l.num_object_textiles, "number of object textiles");
    f.value(l.num_bump_textiles, "number of bump textiles");
    const std::uint64_t textile_bytes = l.textile_bytes;
    f.chunk({"texture chunk 1", &l.textiles32, &l.textiles32_size, &l.textiles32_packed_size,
             textile_bytes * 4, max_texture_chunk});
    f.chunk({"texture chunk 2", &l.textiles16, &l.textiles16_size, &l.textiles16_packed_size,
             textile_bytes * 2, max_texture_chunk});
    f.chunk({"texture chunk 3", &l.textiles_misc, &l.textiles_misc_size,
             &l.textiles_misc_packed_size, l.textiles_misc_size, max_texture_chunk});
    if (f.version == level_tr4) {
        f.chunk({"level-data chunk", nullptr, &l.level_data_chunk_size,
                 &l.level_data_chunk_packed_size, 0, max_file_content});
    } else {
        f.plain_level_data();
    }
    f.sample_data();
}

// ---- load ----

/// Reads the frame: every chunk is found in file order, then all are inflated side by side and
/// the level data is read as soon as it is there.
class frame_loader {
  public:
    frame_loader(Ttrlevel& l, std::span<const std::uint8_t> content, const ttable_sink* places)
        : version(l.version), l_(l), file_(content, 0, "file offset", l.version), places_(places) {
        file_.report_places(places);
    }

    const std::int32_t version;

    template <class T> void value(T& v, std::string_view field) { file_.value(v, field); }

    void chunk(const tchunk& c) {
        file_.value(*c.size, c.name + " length");
        file_.value(*c.packed_size, c.name + " compressed length");
        const std::size_t at = file_.position();
        chunks_.push_back({c, file_.take(*c.packed_size, c.name), at});
    }
    void plain_level_data() {}
    /// TR4: everything after the level-data chunk. TRC: taken when the level data closes.
    void sample_data() {
        if (version == level_tr4) {
            l_.sample_data = buffer_of(file_.rest());
            l_.sample_data_size = static_cast<std::uint32_t>(l_.sample_data.size());
        }
    }

    /// Inflates and reads. A failure met while finding the chunks (`failure`) surfaces after
    /// the chunks found before it, as it would when reading in file order.
    void run(std::exception_ptr failure) {
        // Each texture chunk costs about its stated length; the level data, which is read
        // through once inflated, goes first.
        std::vector<std::function<void()>> jobs;
        std::vector<std::uint64_t> costs;
        for (std::size_t i = 0; i < chunks_.size(); ++i) {
            if (chunks_[i].chunk.data != nullptr) {
                jobs.emplace_back([&c = chunks_[i]] { inflate(c, *c.chunk.data); });
                costs.push_back(*chunks_[i].chunk.size);
            }
        }
        costs.push_back(UINT64_MAX);
        jobs.emplace_back([&] {
            if (failure) {
                std::rethrow_exception(failure);
            }
            if (version == level_tr4) {
                // The level data ends at its inflated length, whatever follows it in the file.
                zbuffer level_data;
                inflate(chunks_.back(), level_data);
                level_loader body(level_data.span(), 0, "level-data offset", version);
                body.report_places(places_);
                walk_level_data(body, l_);
            } else {
                walk_level_data(file_, l_);
            }
        });
        run_jobs(jobs, costs);
    }

  private:
    struct located {
        tchunk chunk;
        std::span<const std::uint8_t> stream;
        std::size_t at; // file offset of the stream
    };

    /// Inflates a chunk, stopping as soon as it passes its limit: a texture chunk's true length
    /// must fit its 32-bit field, and the level data the in-memory file.
    static void inflate(const located& c, zbuffer& into) {
        into = decompress_buffer(c.stream.data(), c.stream.size(), 0, c.chunk.limit);
        const std::uint64_t limit = inflate_limit(c.chunk.limit);
        if (into.size() > limit) {
            into.release();
            throw ELevelFormatError(c.chunk.name + " at file offset " + std::to_string(c.at) +
                                    ": inflates to more than " + std::to_string(limit) + " bytes");
        }
        *c.chunk.size = static_cast<std::uint32_t>(into.size());
    }

    Ttrlevel& l_;
    level_loader file_;
    const ttable_sink* places_;
    std::vector<located> chunks_;
};

// ---- the size check before a save ----

/// Measures what a save would write, by the writer's own walk of the level data counting only:
/// every count and every patched size or offset in it is checked against its field.
class frame_measure {
  public:
    frame_measure(Ttrlevel& l, std::int32_t target) : version(target), l_(l) {
        sizes.version = target;
    }

    const std::int32_t version;
    tsave_sizes sizes;

    template <class T> void value(const T&, std::string_view) {}
    void chunk(const tchunk& c) {
        if (c.data == nullptr) {
            plain_level_data();
        } else {
            std::uint64_t* const texture_sizes[] = {&sizes.textiles32, &sizes.textiles16,
                                                    &sizes.textiles_misc};
            *texture_sizes[textures_++] = c.saved;
        }
    }
    void plain_level_data() {
        level_saver measure(version);
        walk_level_data(measure, l_);
        sizes.level_data = measure.position();
    }
    void sample_data() {
        sizes.sample_data = l_.sample_data_size;
        sizes.sample_data_held = l_.sample_data.size();
    }

  private:
    Ttrlevel& l_;
    std::size_t textures_ = 0;
};

// ---- save ----

/// Compresses the first n bytes of a buffer, zero bytes standing in for what it lacks.
zbuffer compress_padded(const zbuffer& data, std::size_t n) {
    return compress_buffer(data.data(), data.size(), n);
}

/// Writes n bytes; the in-memory file takes at most 2^31 - 1 bytes per write, so more goes in
/// pieces (and fails there when the file cannot hold it), never cut to a 32-bit count.
void write_bytes(TZfile& file, const void* src, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    while (n > 0) {
        const std::size_t piece = std::min<std::size_t>(n, INT32_MAX);
        file.write(p, static_cast<std::int32_t>(piece));
        p += piece;
        n -= piece;
    }
}

/// A size for a 32-bit field; one that does not fit raises ERangeError.
std::uint32_t field_u32(std::uint64_t v, std::string_view field) {
    check_u32(v, field);
    return static_cast<std::uint32_t>(v);
}

/// Produces the level data and the compressed chunks side by side, then writes the frame in
/// file order. The size check has made sure that every length fits its field.
class frame_saver {
    /// The level data is walked before it is compressed: it goes first, the chunks by size.
    static constexpr std::uint64_t level_data_cost = UINT64_MAX;

  public:
    explicit frame_saver(Ttrlevel& l) : version(l.version), l_(l) {}

    const std::int32_t version;

    template <class T> void value(const T& v, std::string_view) {
        writes_.emplace_back([v](TZfile& file) { file.write(&v, sizeof v); });
    }
    void chunk(const tchunk& c) {
        zbuffer& packed = packed_.emplace_back();
        if (c.data != nullptr) {
            *c.size = field_u32(c.saved, c.name + " length");
            jobs_.emplace_back(
                [&packed, data = c.data, n = *c.size] { packed = compress_padded(*data, n); });
            costs_.push_back(*c.size);
        } else {
            jobs_.emplace_back([this, &packed] {
                walk();
                packed = compress_buffer(level_data_.data(), level_data_.size());
            });
            costs_.push_back(level_data_cost);
        }
        writes_.emplace_back([this, c, &packed](TZfile& file) {
            const std::uint32_t size =
                c.data != nullptr ? *c.size : field_u32(level_data_.size(), c.name + " length");
            *c.packed_size = field_u32(packed.size(), c.name + " compressed length");
            file.write(&size, 4);
            file.write(c.packed_size, 4);
            write_bytes(file, packed.data(), packed.size());
        });
    }
    void plain_level_data() {
        jobs_.emplace_back([this] { walk(); });
        costs_.push_back(level_data_cost);
        writes_.emplace_back(
            [this](TZfile& file) { write_bytes(file, level_data_.data(), level_data_.size()); });
    }
    void sample_data() {
        writes_.emplace_back([this](TZfile& file) {
            write_bytes(file, l_.sample_data.data(), l_.sample_data_size);
        });
    }

    void run(TZfile& file) {
        run_jobs(jobs_, costs_);
        for (const auto& write : writes_) {
            write(file);
        }
    }

  private:
    void walk() {
        level_saver out(level_data_, version);
        walk_level_data(out, l_);
    }

    Ttrlevel& l_;
    std::vector<std::uint8_t> level_data_;
    std::deque<zbuffer> packed_;
    std::vector<std::function<void()>> jobs_;
    std::vector<std::function<void(TZfile&)>> writes_;
    std::vector<std::uint64_t> costs_; // one per job
};

} // namespace

void check_save_sizes(const tsave_sizes& s) {
    check_u32(s.textiles32, "texture chunk 1 length");
    check_u32(s.textiles16, "texture chunk 2 length");
    check_u32(s.textiles_misc, "texture chunk 3 length");
    if (s.version == level_tr4) {
        check_u32(s.level_data, "level-data chunk length");
    }
    if (s.sample_data > s.sample_data_held) {
        throw ERangeError("sample data: length " + std::to_string(s.sample_data) + " exceeds the " +
                          std::to_string(s.sample_data_held) + " bytes held");
    }
    // The in-memory file holds less than 2 GiB; TR4 level data is compressed, so only its
    // fields count here, TRC level data goes in whole.
    const std::uint64_t least = header_bytes + 3 * chunk_fields + s.sample_data +
                                (s.version == level_tr4 ? chunk_fields : s.level_data);
    if (least > INT32_MAX) {
        throw ERangeError("the output would take at least " + std::to_string(least) +
                          " bytes; a level file holds less than 2 GiB");
    }
}

void load_file(Ttrlevel& l, std::span<const std::uint8_t> content, const ttable_sink* places) {
    if (l.version != level_tr4 && l.version != level_trc) {
        // Versions 1 to 5: one plain stream.
        level_loader file(content, 4, "file offset", l.version);
        file.report_places(places);
        load_older_textures(file, l);
        walk_level_data(file, l);
        return;
    }
    l.level_data_chunk_size = l.level_data_chunk_packed_size = 0;
    frame_loader frame(l, content, places);
    std::exception_ptr failure;
    try {
        walk_file(frame, l);
    } catch (const ELevelFormatError&) {
        failure = std::current_exception();
    }
    frame.run(failure);
    l.num_textiles = l.textiles16_size / 131072;
    l.textile_bytes = l.num_textiles * 65536;
}

void check_file(Ttrlevel& l, std::int32_t target) {
    frame_measure frame(l, target);
    walk_file(frame, l);
    check_save_sizes(frame.sizes);
}

void save_file(Ttrlevel& l, TZfile& file) {
    frame_saver frame(l);
    walk_file(frame, l);
    frame.run(file);
    file.close(true);
}

} // namespace quarlix
