// Ttrlevel: count setters, version detection, and the frame of load and save.
#include "level/trunit2.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <functional>
#include <filesystem>
#include <new>
#include <string_view>
#include <utility>

#include "level/geometry.h"
#include "level/sections.h"
#include "level/walks.h"
#include "storage/file_system.h"
#include "storage/parallel.h"

namespace quarlix {

namespace {

constexpr std::uint32_t magic_tr4 = 0x00345254u;  // "TR4" and a zero byte
constexpr std::uint32_t magic_tr4_alt = 0xFFFFFFF0u;

bool name_holds(const std::string& name, std::string_view upper, std::string_view lower) {
    return name.find(upper) != std::string::npos || name.find(lower) != std::string::npos;
}

/// Fails unless n elements of every array of a setter fit a signed 32-bit size; checked
/// before the first array is resized, so a failure changes nothing.
template <class... T> void check_range(std::int32_t n, const char* count) {
    constexpr std::size_t widest = std::max({sizeof(T)...});
    if (n < 0 || std::uint64_t(n) * widest > std::uint64_t(INT32_MAX)) {
        throw ERangeError(std::string(count) + ": " + std::to_string(n) +
                          " elements of " + std::to_string(widest) + " bytes are out of range");
    }
}

/// Resizes one array to n zero-filled elements.
template <class T> void resize_array(std::vector<T>& rows, std::int32_t n, const char* count) {
    check_range<T>(n, count);
    rows.resize(static_cast<std::size_t>(n));
}

} // namespace

bool is_trc_name(const std::string& file_name) { return name_holds(file_name, ".TRC", ".trc"); }

std::int32_t detect_version(std::uint32_t first_word, const std::string& file_name) {
    switch (first_word) {
    case 0x00000020u:
        return name_holds(file_name, ".TUB", ".tub") ? 2 : 1;
    case 0x0000002Du:
        return name_holds(file_name, ".TRG", ".trg") ? 4 : 3;
    case 0xFF080038u:
    case 0xFF180038u:
        return 5;
    case magic_tr4:
    case magic_tr4_alt:
        return is_trc_name(file_name) ? level_trc : level_tr4;
    default:
        return level_none;
    }
}

// ---- count setters ----

void Ttrlevel::set_num_rooms(std::uint16_t n) {
    rooms.resize(n);
    num_rooms = n;
}

namespace {

/// Resizes a section's one array and stores its count.
template <class T> void set_rows(Ttrlevel& l, const tsection& section, std::vector<T>& rows,
                                 std::int32_t n) {
    resize_array(rows, n, section.count_name);
    l.*section.count = n;
}

/// Resizes a section's two forms (the wider checked first, so a failure changes nothing).
template <class A, class B> void set_forms(Ttrlevel& l, const tsection& section,
                                           std::vector<A>& a, std::vector<B>& b, std::int32_t n) {
    check_range<A, B>(n, section.count_name);
    resize_array(a, n, section.count_name);
    set_rows(l, section, b, n);
}

} // namespace

#define QUARLIX_SIMPLE_SETTER(name)                                                            \
    void Ttrlevel::set_num_##name(std::int32_t n) { set_rows(*this, section_##name, name, n); }

QUARLIX_SIMPLE_SETTER(floor_data)
QUARLIX_SIMPLE_SETTER(mesh_data)
QUARLIX_SIMPLE_SETTER(mesh_pointers)
QUARLIX_SIMPLE_SETTER(state_changes)
QUARLIX_SIMPLE_SETTER(anim_dispatches)
QUARLIX_SIMPLE_SETTER(anim_commands)
QUARLIX_SIMPLE_SETTER(mesh_trees)
QUARLIX_SIMPLE_SETTER(frames)
QUARLIX_SIMPLE_SETTER(static_meshes)
QUARLIX_SIMPLE_SETTER(object_textures)
QUARLIX_SIMPLE_SETTER(sprite_textures)
QUARLIX_SIMPLE_SETTER(sprite_sequences)
QUARLIX_SIMPLE_SETTER(cameras)
QUARLIX_SIMPLE_SETTER(flyby_cameras)
QUARLIX_SIMPLE_SETTER(sound_sources)
QUARLIX_SIMPLE_SETTER(overlaps)
QUARLIX_SIMPLE_SETTER(animated_textures)
QUARLIX_SIMPLE_SETTER(demo_data)
QUARLIX_SIMPLE_SETTER(sample_infos)
QUARLIX_SIMPLE_SETTER(sample_indices)

#undef QUARLIX_SIMPLE_SETTER

void Ttrlevel::set_num_animations(std::int32_t n) {
    if (version >= level_tr4) {
        set_rows(*this, section_animations, animations, n);
    } else {
        set_rows(*this, section_animations, animations_old, n);
    }
}

void Ttrlevel::set_num_ai_objects(std::int32_t n) {
    if (version >= level_tr4) {
        set_rows(*this, section_ai_objects, ai_objects, n);
    } else {
        set_rows(*this, section_ai_objects, cinematic_frames, n);
    }
}

void Ttrlevel::set_num_moveables(std::int32_t n) {
    set_forms(*this, section_moveables, moveables, moveables_trc, n);
}

void Ttrlevel::set_num_boxes(std::int32_t n) { set_forms(*this, section_boxes, boxes_old, boxes, n); }

void Ttrlevel::set_num_zones(std::int32_t n) {
    check_range<std::uint16_t>(n, section_zones.count_name);
    for (auto& zone : zones) {
        resize_array(zone, n, section_zones.count_name);
    }
    num_zones = n;
}

void Ttrlevel::set_num_items(std::int32_t n) { set_forms(*this, section_items, items_old, items, n); }

// ---- load ----

void Ttrlevel::release_buffers() {
    if (version >= 1 && version <= 5) {
        textiles8.release();
    }
    if (version >= 3 && version <= 7) {
        textiles16.release();
    }
    if (version == level_tr4 || version == level_trc) {
        textiles32.release();
        textiles_misc.release();
    }
    if (version == 1 || version == 2 || version == level_tr4 || version == level_trc) {
        sample_data.release();
        sample_data_size = 0;  // the size always describes the buffer a save would write
    }
}

std::uint8_t Ttrlevel::load(const std::string& file_name) {
    if (signature == level_signature) {
        release_buffers();
    }
    if (!file_exists(file_name)) {
        return 1;
    }
    TZfile file;
    file.assign(file_name);
    file.reset();
    const std::uint8_t status = load_content(file.content(), file_name);
    file.close(false);
    return status;
}

namespace {

/// A compressed chunk found in the file: its zlib stream and the fields its inflation fills.
struct located_chunk {
    std::span<const std::uint8_t> stream;
    zbuffer* into;
    std::uint32_t* size;  // replaced by the true length once inflated
    std::string name;
    std::size_t at;       // file offset of the stream
    std::uint64_t limit;  // the most bytes the chunk may inflate to
};

/// Reads a chunk's U and C and steps over its C bytes of stream.
located_chunk locate_chunk(level_loader& io, zbuffer& into, std::uint32_t& size,
                           std::uint32_t& packed_size, const std::string& chunk,
                           std::uint64_t limit) {
    io.value(size, chunk + " length");
    io.value(packed_size, chunk + " compressed length");
    const std::size_t at = io.position();
    return {io.take(packed_size, chunk), &into, &size, chunk, at, limit};
}

/// Inflates a chunk, stopping as soon as it passes its limit: a texture chunk's true length
/// must fit its 32-bit field, and the level data the in-memory file.
void inflate(const located_chunk& c) {
    *c.into = decompress_buffer(c.stream.data(), c.stream.size(), 0, c.limit);
    const std::uint64_t limit = inflate_limit(c.limit);
    if (c.into->size() > limit) {
        c.into->release();
        throw ELevelFormatError(c.name + " at file offset " + std::to_string(c.at) +
                                ": inflates to more than " + std::to_string(limit) + " bytes");
    }
    *c.size = static_cast<std::uint32_t>(c.into->size());
}

constexpr std::uint64_t max_texture_chunk = 0xFFFFFFFF;

} // namespace

std::uint8_t Ttrlevel::load_content(std::span<const std::uint8_t> content,
                                    const std::string& file_name) {
    std::uint32_t first_word = 0;
    if (content.size() >= 4) {
        std::memcpy(&first_word, content.data(), 4);
    }
    const std::int32_t detected = detect_version(first_word, file_name);
    if (detected == level_none) {
        magic = 0;
        return 2;
    }
    magic = first_word;
    version = 0;
    signature = level_signature;
    version = detected;

    level_loader file(content, 4, "file offset");
    table_places.clear();
    std::vector<ttable_place>* const places = keep_table_places ? &table_places : nullptr;
    file.keep_places(places);
    if (version != level_tr4 && version != level_trc) {
        // Versions 1 to 5: one plain stream.
        load_older_textures(file, *this);
        walk_tr4_rooms(file, *this);
        walk_object_sections(file, *this);
        walk_world_sections(file, *this);
        return 0;
    }

    // The chunks are found one after the other, then inflated side by side; the level data is
    // read as soon as it is there. Errors still surface in file order: a chunk header that
    // cannot be read is reported after the chunks before it.
    std::vector<located_chunk> chunks;
    std::exception_ptr header_failure;
    zbuffer level_data;
    level_data_chunk_size = level_data_chunk_packed_size = 0;
    try {
        file.value(num_room_textiles, "number of room textiles");
        file.value(num_object_textiles, "number of object textiles");
        file.value(num_bump_textiles, "number of bump textiles");
        chunks.push_back(locate_chunk(file, textiles32, textiles32_size, textiles32_packed_size,
                                      "texture chunk 1", max_texture_chunk));
        chunks.push_back(locate_chunk(file, textiles16, textiles16_size, textiles16_packed_size,
                                      "texture chunk 2", max_texture_chunk));
        chunks.push_back(locate_chunk(file, textiles_misc, textiles_misc_size,
                                      textiles_misc_packed_size, "texture chunk 3",
                                      max_texture_chunk));
        if (version == level_tr4) {
            chunks.push_back(locate_chunk(file, level_data, level_data_chunk_size,
                                          level_data_chunk_packed_size, "level-data chunk",
                                          max_file_content));
            sample_data = buffer_of(file.rest());
            sample_data_size = static_cast<std::uint32_t>(sample_data.size());
        }
    } catch (const ELevelFormatError&) {
        header_failure = std::current_exception();
    }

    // Each texture chunk costs about its stated length; the level data, which is read
    // through once inflated, goes first.
    std::vector<std::function<void()>> jobs;
    std::vector<std::uint64_t> costs;
    for (std::size_t i = 0; i < chunks.size() && i < 3; ++i) {
        jobs.emplace_back([&c = chunks[i]] { inflate(c); });
        costs.push_back(*chunks[i].size);
    }
    costs.push_back(UINT64_MAX);
    jobs.emplace_back([&] {
        if (header_failure) {
            std::rethrow_exception(header_failure);
        }
        if (version == level_tr4) {
            inflate(chunks[3]);
            // The level data ends at its decompressed length, whatever follows it in the file.
            level_loader body(level_data.span(), 0, "level-data offset");
            body.keep_places(places);
            walk_tr4_rooms(body, *this);
            walk_object_sections(body, *this);
            walk_world_sections(body, *this);
        } else {
            trc_frame frame;
            walk_trc_rooms(file, *this, frame);
            walk_object_sections(file, *this);
            walk_world_sections(file, *this);
            walk_trc_close(file, *this, frame);
        }
    });
    run_jobs(jobs, costs);
    num_textiles = textiles16_size / 131072;
    textile_bytes = num_textiles * 65536;
    return 0;
}

// ---- save ----

namespace {

/// Compresses the first n bytes of a buffer, zero bytes standing in for what it lacks.
zbuffer compress_padded(const zbuffer& data, std::size_t n) {
    return compress_buffer(data.data(), data.size(), n);
}

void write_u32(TZfile& file, std::uint32_t v) { file.write(&v, 4); }

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

/// Drops an output that could not be written whole, which never reached the output name;
/// says what is there.
std::string discard_output(TZfile& file, const std::string& name) {
    std::string said;
    if (!file.discard()) {
        said = "; a temporary file beside '" + name + "' could not be removed";
    }
    return said + (file_exists(name) ? "; '" + name + "' was left as it was"
                                     : "; no output '" + name + "' was made");
}

void write_chunk(TZfile& file, std::uint32_t size, const zbuffer& packed,
                 std::string_view chunk) {
    write_u32(file, size);
    write_u32(file, field_u32(packed.size(), std::string(chunk) + " compressed length"));
    write_bytes(file, packed.data(), packed.size());
}

/// The header, the three texture chunks' fields and the sample data around the level data.
constexpr std::uint64_t header_bytes = 4 + 3 * 2;
constexpr std::uint64_t chunk_fields = 8;

} // namespace

void check_save_sizes(const tsave_sizes& s) {
    check_u32(s.textiles32, "texture chunk 1 length");
    check_u32(s.textiles16, "texture chunk 2 length");
    check_u32(s.textiles_misc, "texture chunk 3 length");
    if (s.version == level_tr4) {
        check_u32(s.level_data, "level-data chunk length");
    }
    if (s.sample_data > s.sample_data_held) {
        throw ERangeError("sample data: length " + std::to_string(s.sample_data) +
                          " exceeds the " + std::to_string(s.sample_data_held) + " bytes held");
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

void Ttrlevel::check_save(std::int32_t target) {
    tsave_sizes sizes;
    sizes.version = target;
    sizes.textiles32 = std::uint64_t{textile_bytes} * 4;
    sizes.textiles16 = std::uint64_t{textile_bytes} * 2;
    sizes.textiles_misc = std::max<std::uint64_t>(textiles_misc_size, textiles_misc.size());
    sizes.sample_data = sample_data_size;
    sizes.sample_data_held = sample_data.size();
    // The writer's walk, counting only: the level data's size, and every count and patched
    // size or offset in it checked against its field.
    const std::int32_t loaded_version = std::exchange(version, target);
    try {
        level_saver measure;
        if (target == level_trc) {
            trc_frame frame;
            walk_trc_rooms(measure, *this, frame);
            walk_object_sections(measure, *this);
            walk_world_sections(measure, *this);
            walk_trc_close(measure, *this, frame);
        } else {
            walk_tr4_rooms(measure, *this);
            walk_object_sections(measure, *this);
            walk_world_sections(measure, *this);
        }
        sizes.level_data = measure.position();
    } catch (...) {
        version = loaded_version;
        throw;
    }
    version = loaded_version;
    check_save_sizes(sizes);
}

std::uint8_t Ttrlevel::save(const std::string& file_name) {
    if (signature != level_signature) {
        return 1;
    }
    const std::int32_t target = detect_version(magic, file_name);
    if (target != level_tr4 && target != level_trc) {
        throw EError("a level of version " + std::to_string(version) +
                     " cannot be saved; only TR4 and TRC levels are written");
    }
    // Nothing that the output cannot hold gets as far as creating it.
    try {
        check_save(target);
    } catch (EError& e) {
        e.append("; no output was written");
        throw;
    }
    TZfile file;
    file.assign(file_name);
    file.rewrite();
    version = target;
    // From here on a temporary file holds the new content: a failure removes it.
    try {
        write_level(file);
    } catch (EError& e) {
        e.append(discard_output(file, file_name));
        throw;
    } catch (const std::bad_alloc&) {
        EOutOfMemory e;
        e.append(discard_output(file, file_name));
        throw e;
    }
    return 0;
}

void Ttrlevel::write_level(TZfile& file) {
    // The level data and the three texture chunks are produced side by side. check_save
    // has made sure that every length fits its field.
    textiles32_size = field_u32(std::uint64_t{textile_bytes} * 4, "texture chunk 1 length");
    textiles16_size = field_u32(std::uint64_t{textile_bytes} * 2, "texture chunk 2 length");
    zbuffer packed32, packed16, packed_misc, packed_level;
    std::vector<std::uint8_t> level_data;
    const std::function<void()> jobs[] = {
        [&] { packed32 = compress_padded(textiles32, textiles32_size); },
        [&] { packed16 = compress_padded(textiles16, textiles16_size); },
        [&] { packed_misc = compress_padded(textiles_misc, textiles_misc_size); },
        [&] {
            level_saver out(level_data);
            if (version == level_trc) {
                trc_frame frame;
                walk_trc_rooms(out, *this, frame);
                walk_object_sections(out, *this);
                walk_world_sections(out, *this);
                walk_trc_close(out, *this, frame);
            } else {
                walk_tr4_rooms(out, *this);
                walk_object_sections(out, *this);
                walk_world_sections(out, *this);
                packed_level = compress_buffer(level_data.data(), level_data.size());
            }
        },
    };
    // The level data is walked before it is compressed: it goes first, the chunks by size.
    const std::uint64_t costs[] = {textiles32_size, textiles16_size, textiles_misc_size,
                                   UINT64_MAX};
    run_jobs(jobs, costs);
    textiles32_packed_size = field_u32(packed32.size(), "texture chunk 1 compressed length");
    textiles16_packed_size = field_u32(packed16.size(), "texture chunk 2 compressed length");
    textiles_misc_packed_size =
        field_u32(packed_misc.size(), "texture chunk 3 compressed length");

    write_u32(file, magic);
    file.write(&num_room_textiles, 2);
    file.write(&num_object_textiles, 2);
    file.write(&num_bump_textiles, 2);
    write_chunk(file, textiles32_size, packed32, "texture chunk 1");
    write_chunk(file, textiles16_size, packed16, "texture chunk 2");
    write_chunk(file, textiles_misc_size, packed_misc, "texture chunk 3");
    if (version == level_tr4) {
        write_chunk(file, field_u32(level_data.size(), "level-data chunk length"), packed_level,
                    "level-data chunk");
    } else {
        write_bytes(file, level_data.data(), level_data.size());
    }
    write_bytes(file, sample_data.data(), sample_data_size);
    file.close(true);
}

void Ttrlevel::room_geometry_to_layers() {
    for (troom& room : rooms) {
        room_to_layers(room);
    }
}

} // namespace quarlix
