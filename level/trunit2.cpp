// Ttrlevel: count setters, version detection, and the frame of load and save.
#include "level/trunit2.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <new>
#include <string_view>

#include "level/geometry.h"
#include "level/sections.h"
#include "level/walks.h"
#include "storage/file_system.h"

namespace quarlix {

namespace {

constexpr std::uint32_t magic_tr4 = 0x00345254u; // "TR4" and a zero byte
constexpr std::uint32_t magic_tr4_alt = 0xFFFFFFF0u;

bool name_holds(const std::string& name, std::string_view upper, std::string_view lower) {
    return name.find(upper) != std::string::npos || name.find(lower) != std::string::npos;
}

/// Fails unless n elements of every array of a setter fit a signed 32-bit size; checked
/// before the first array is resized, so a failure changes nothing.
template <class... T> void check_range(std::int32_t n, const char* count) {
    constexpr std::size_t widest = std::max({sizeof(T)...});
    if (n < 0 || std::uint64_t(n) * widest > std::uint64_t(INT32_MAX)) {
        throw ERangeError(std::string(count) + ": " + std::to_string(n) + " elements of " +
                          std::to_string(widest) + " bytes are out of range");
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
template <class T>
void set_rows(Ttrlevel& l, const tsection& section, std::vector<T>& rows, std::int32_t n) {
    resize_array(rows, n, section.count_name);
    l.*section.count = n;
}

/// Resizes a section's two forms (the wider checked first, so a failure changes nothing).
template <class A, class B>
void set_forms(Ttrlevel& l, const tsection& section, std::vector<A>& a, std::vector<B>& b,
               std::int32_t n) {
    check_range<A, B>(n, section.count_name);
    resize_array(a, n, section.count_name);
    set_rows(l, section, b, n);
}

} // namespace

#define QUARLIX_SIMPLE_SETTER(name)                                                                \
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

void Ttrlevel::set_num_boxes(std::int32_t n) {
    set_forms(*this, section_boxes, boxes_old, boxes, n);
}

void Ttrlevel::set_num_zones(std::int32_t n) {
    check_range<std::uint16_t>(n, section_zones.count_name);
    for (auto& zone : zones) {
        resize_array(zone, n, section_zones.count_name);
    }
    num_zones = n;
}

void Ttrlevel::set_num_items(std::int32_t n) {
    set_forms(*this, section_items, items_old, items, n);
}

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
        sample_data_size = 0; // the size always describes the buffer a save would write
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

std::uint8_t Ttrlevel::load_content(std::span<const std::uint8_t> content,
                                    const std::string& file_name, const ttable_sink& places) {
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

    load_file(*this, content, &places);
    return 0;
}

// ---- save ----

namespace {

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

} // namespace

void Ttrlevel::check_save(std::int32_t target) { check_file(*this, target); }

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
        save_file(*this, file);
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

void Ttrlevel::room_geometry_to_layers() {
    for (troom& room : rooms) {
        room_to_layers(room);
    }
}

} // namespace quarlix
