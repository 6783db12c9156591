// Level versions 1 to 5: read completely into the model, refused by the driver, malformed files
// refused before anything large is allocated, and buffers released by the version held.
#include "level/trunit2.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "driver/quarlix.h"
#include "level_support.h"
#include "tools/levelgen.h"

using namespace quarlix;
using quarlix::test::banner;
using quarlix::test::load_bytes;
using quarlix::test::outcome;
using quarlix::test::read_bytes;
using quarlix::test::scratch_dir;
using quarlix::test::write_bytes;
using ::testing::HasSubstr;

namespace {

using quarlix::test::bytes;

// ---- the largest single allocation, under the address sanitizer ----

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARLIX_WATCH_ALLOCATIONS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUARLIX_WATCH_ALLOCATIONS 1
#endif

std::atomic<bool> watching{false};
std::atomic<std::size_t> largest_allocation{0};

#if defined(QUARLIX_WATCH_ALLOCATIONS)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));

void on_allocation(const volatile void*, std::size_t n) {
    if (watching.load(std::memory_order_relaxed)) {
        std::size_t seen = largest_allocation.load(std::memory_order_relaxed);
        while (n > seen && !largest_allocation.compare_exchange_weak(seen, n)) {
        }
    }
}
void on_release(const volatile void*) {}
#endif

/// Records the largest single allocation while it lives; records nothing without the address
/// sanitizer, whose allocator hooks it uses.
class allocation_watch {
  public:
    allocation_watch() {
#if defined(QUARLIX_WATCH_ALLOCATIONS)
        static const int installed =
            __sanitizer_install_malloc_and_free_hooks(on_allocation, on_release);
        (void)installed;
#endif
        largest_allocation = 0;
        watching = true;
    }
    ~allocation_watch() { watching = false; }
    allocation_watch(const allocation_watch&) = delete;
    allocation_watch& operator=(const allocation_watch&) = delete;

    std::size_t largest() const { return largest_allocation; }
};

/// More than any refused load of the levels here needs for its rooms, textures and tables.
constexpr std::size_t large_allocation = std::size_t{16} << 20;

// ---- byte views and expected images ----

template <class T> std::span<const std::uint8_t> raw(const T* rows, std::size_t n) {
    return {reinterpret_cast<const std::uint8_t*>(rows), n * sizeof(T)};
}
template <class T> std::span<const std::uint8_t> raw(const std::vector<T>& rows) {
    return raw(rows.data(), rows.size());
}
template <class T, std::size_t N> std::span<const std::uint8_t> raw(const T (&table)[N]) {
    return raw(table, N);
}
/// Every row of a room table; n is the count it should hold exactly.
template <class T, std::size_t N>
std::span<const std::uint8_t> raw(const troom_table<T, N>& table, std::size_t n) {
    EXPECT_EQ(table.size(), n) << "rows held";
    return raw(table.data(), table.size());
}
template <class T, std::size_t N>
std::span<const std::uint8_t> raw(const troom_table<T, N>& table) {
    return raw(table.data(), table.size());
}

/// Records of a description as the model holds them: each padded to `size` bytes, end to end.
bytes flat(const levelgen::gen_records& recs, std::size_t size) {
    bytes out;
    for (const auto& r : recs) {
        bytes one(size, 0);
        std::copy_n(r.begin(), std::min(r.size(), size), one.begin());
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

bytes padded(const bytes& b, std::size_t size) {
    bytes out(size, 0);
    std::copy_n(b.begin(), std::min(b.size(), size), out.begin());
    return out;
}

::testing::AssertionResult same(std::span<const std::uint8_t> got,
                                std::span<const std::uint8_t> want) {
    if (got.size() != want.size()) {
        return ::testing::AssertionFailure()
               << got.size() << " bytes where " << want.size() << " were expected";
    }
    const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
    if (diff.first != got.end()) {
        return ::testing::AssertionFailure()
               << "first difference at byte " << (diff.first - got.begin()) << ": "
               << int(*diff.first) << " instead of " << int(*diff.second);
    }
    return ::testing::AssertionSuccess();
}

bool all_zero(std::span<const std::uint8_t> b) {
    return std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; });
}

/// The 24-byte item that a 22-byte item widens to: the two single bytes zero-extended.
bytes widened_item(const bytes& old) {
    bytes out(old.begin(), old.begin() + 18);
    out.insert(out.end(), {old[18], 0, old[19], 0, old[20], old[21]});
    return out;
}

/// What the model holds of an object texture of these versions: bytes 0-3 and 6-21.
bytes older_object_texture(const bytes& rec) {
    bytes out = padded(rec, 40);
    std::fill(out.begin() + 4, out.begin() + 6, 0);
    std::fill(out.begin() + 22, out.end(), 0);
    return out;
}

// ---- the model against a description ----

void expect_room(const troom& r, const levelgen::gen_room& g, int v, bool fresh) {
    const bool legacy = v <= 2;
    EXPECT_EQ(r.pos_x, g.pos_x);
    EXPECT_EQ(r.pos_z, g.pos_z);
    EXPECT_EQ(r.y_bottom, g.y_bottom);
    EXPECT_EQ(r.y_top, g.y_top);
    const std::size_t nv = g.vertices.size(), nr = g.rectangles.size(), nt = g.triangles.size(),
                      ns = g.sprites.size();
    EXPECT_EQ(r.num_data_words, g.num_data_words.value_or(static_cast<std::uint32_t>(
                                    4 + (legacy ? 4 : 6) * nv + 5 * nr + 4 * nt + 2 * ns)));

    ASSERT_EQ(r.num_vertices, nv);
    std::vector<troom_vertex> want_vertices;
    std::vector<tlegacy_vertex> want_legacy;
    for (const auto& gv : g.vertices) {
        want_legacy.push_back({gv.x, gv.y, gv.z, gv.lighting});
        want_vertices.push_back({gv.x, gv.y, gv.z, gv.lighting,
                                 legacy ? std::uint16_t{0x0010} : gv.attributes,
                                 legacy ? std::uint16_t{0x3DEF} : gv.colour});
    }
    EXPECT_TRUE(same(raw(r.vertices, nv), raw(want_vertices))) << "room vertices";
    EXPECT_TRUE(same(raw(r.legacy_vertices, nv), raw(want_legacy))) << "legacy vertices";

    ASSERT_EQ(r.num_rectangles, nr);
    std::vector<troom_rectangle> rects;
    for (const auto& x : g.rectangles) {
        rects.push_back({{x.corners[0], x.corners[1], x.corners[2], x.corners[3]}, x.texture});
    }
    EXPECT_TRUE(same(raw(r.rectangles, nr), raw(rects))) << "rectangles";
    ASSERT_EQ(r.num_triangles, nt);
    std::vector<troom_triangle> tris;
    for (const auto& x : g.triangles) {
        tris.push_back({{x.corners[0], x.corners[1], x.corners[2]}, x.texture});
    }
    EXPECT_TRUE(same(raw(r.triangles, nt), raw(tris))) << "triangles";
    ASSERT_EQ(r.num_sprites, ns);
    EXPECT_TRUE(same(raw(r.sprites, ns), flat(g.sprites, 4))) << "sprites";
    ASSERT_EQ(r.num_portals, g.portals.size());
    EXPECT_TRUE(same(raw(r.portals, r.num_portals), flat(g.portals, 32))) << "portals";
    ASSERT_EQ(r.num_z_sectors, g.z_sectors);
    ASSERT_EQ(r.num_x_sectors, g.x_sectors);
    levelgen::gen_records sectors = g.sectors;
    sectors.resize(std::size_t{g.z_sectors} * g.x_sectors);
    EXPECT_TRUE(same(raw(r.sectors, sectors.size()), flat(sectors, 8))) << "sectors";

    EXPECT_EQ(r.ambient[0], g.ambient & 0xFF);
    EXPECT_EQ(r.ambient[1], g.ambient >> 8);
    if (v >= 3 || fresh) {
        EXPECT_EQ(r.ambient_2, v >= 3 ? g.ambient_2 : 0);
    }
    if (v == 3 || v == 4 || fresh) {
        EXPECT_EQ(r.ambient_3, v == 3 || v == 4 ? g.ambient_3 : 0);
    }

    const std::size_t nl = g.lights.size(), nsi = g.static_instances.size();
    ASSERT_EQ(r.num_lights, nl);
    ASSERT_EQ(r.num_static_instances, nsi);
    if (legacy) {
        EXPECT_TRUE(same(raw(r.legacy_lights_18, nl), flat(g.lights, 18))) << "18-byte lights";
        EXPECT_TRUE(same(raw(r.legacy_static_instances, nsi), flat(g.static_instances, 18)));
    } else {
        EXPECT_TRUE(same(raw(r.legacy_lights_24, nl), flat(g.lights, 24))) << "24-byte lights";
        EXPECT_TRUE(same(raw(r.static_instances, nsi), flat(g.static_instances, 20)));
    }
    if (fresh) {
        EXPECT_TRUE(all_zero(raw(r.lights))) << "46-byte lights are not in these files";
        EXPECT_TRUE(all_zero(legacy ? raw(r.legacy_lights_24) : raw(r.legacy_lights_18)));
        EXPECT_TRUE(all_zero(legacy ? raw(r.static_instances) : raw(r.legacy_static_instances)));
    }
    EXPECT_EQ(r.alternate_room, g.alternate_room);
    EXPECT_EQ(r.flags[0], g.flags & 0xFF);
    EXPECT_EQ(r.flags[1], g.flags >> 8);
    if (v == 5) {
        const std::uint8_t tail[4] = {g.tail_bytes[0], g.tail_bytes[1], g.tail_bytes[2], 0};
        EXPECT_TRUE(same(raw(r.tail_bytes), raw(tail))) << "tail bytes";
    } else if (fresh) {
        EXPECT_TRUE(all_zero(raw(r.tail_bytes)));
    }
}

/// Every model field that a level of versions 1 to 5 fills, against its description. With
/// `fresh` (a new object), the fields that these versions do not carry must still be empty.
void expect_model(const Ttrlevel& l, const levelgen::gen_level& g, bool fresh = true) {
    const int v = g.version;
    const bool legacy = v <= 2;
    EXPECT_EQ(l.version, v);
    EXPECT_EQ(l.magic, levelgen::first_word_of(g));
    EXPECT_EQ(l.signature, "Zendrac");

    EXPECT_TRUE(same(raw(l.palette8), padded(g.palette8, 768))) << "palette8";
    if (v >= 3) {
        EXPECT_TRUE(same(raw(l.palette16), padded(g.palette16, 1024))) << "palette16";
    } else if (fresh) {
        EXPECT_TRUE(all_zero(raw(l.palette16)));
    }
    const auto textiles = static_cast<std::uint32_t>(g.textiles8.size() / 65536);
    EXPECT_EQ(l.num_textiles, g.num_textiles.value_or(textiles));
    EXPECT_EQ(l.textile_bytes, l.num_textiles * 65536);
    EXPECT_TRUE(same(l.textiles8.span(), g.textiles8)) << "textiles8";
    EXPECT_TRUE(same(l.textiles16.span(), v >= 3 ? g.textiles16 : bytes{})) << "textiles16";
    EXPECT_TRUE(l.textiles32.empty());
    EXPECT_TRUE(l.textiles_misc.empty());

    EXPECT_EQ(l.level_data_prefix, g.level_data_prefix);
    ASSERT_EQ(l.num_rooms, g.rooms.size());
    ASSERT_EQ(l.rooms.size(), g.rooms.size());
    for (std::size_t i = 0; i < g.rooms.size(); ++i) {
        SCOPED_TRACE("room " + std::to_string(i));
        expect_room(l.rooms[i], g.rooms[i], v, fresh);
    }

#define QUARLIX_EXPECT_WORDS(count, array)                                                         \
    EXPECT_EQ(l.num_##count, static_cast<std::int32_t>(g.array.size()));                           \
    EXPECT_TRUE(same(raw(l.array), raw(g.array))) << #array
#define QUARLIX_EXPECT_RECORDS(count, model, described, record_bytes)                              \
    EXPECT_EQ(l.num_##count, static_cast<std::int32_t>(g.described.size()));                       \
    EXPECT_TRUE(same(raw(l.model), flat(g.described, record_bytes))) << #model

    QUARLIX_EXPECT_WORDS(floor_data, floor_data);
    QUARLIX_EXPECT_WORDS(mesh_data, mesh_data);
    QUARLIX_EXPECT_WORDS(mesh_pointers, mesh_pointers);
    QUARLIX_EXPECT_RECORDS(animations, animations_old, animations, 32);
    QUARLIX_EXPECT_RECORDS(state_changes, state_changes, state_changes, 6);
    QUARLIX_EXPECT_RECORDS(anim_dispatches, anim_dispatches, anim_dispatches, 8);
    QUARLIX_EXPECT_WORDS(anim_commands, anim_commands);
    QUARLIX_EXPECT_WORDS(mesh_trees, mesh_trees);
    QUARLIX_EXPECT_WORDS(frames, frames);
    QUARLIX_EXPECT_RECORDS(moveables, moveables, moveables, 18);
    QUARLIX_EXPECT_RECORDS(static_meshes, static_meshes, static_meshes, 32);
    QUARLIX_EXPECT_RECORDS(sprite_textures, sprite_textures, sprite_textures, 16);
    QUARLIX_EXPECT_RECORDS(sprite_sequences, sprite_sequences, sprite_sequences, 8);
    QUARLIX_EXPECT_RECORDS(cameras, cameras, cameras, 16);
    QUARLIX_EXPECT_RECORDS(sound_sources, sound_sources, sound_sources, 16);
    if (legacy) {
        QUARLIX_EXPECT_RECORDS(boxes, boxes_old, boxes, 20);
    } else {
        QUARLIX_EXPECT_RECORDS(boxes, boxes, boxes, 8);
    }
    QUARLIX_EXPECT_WORDS(overlaps, overlaps);
    QUARLIX_EXPECT_WORDS(animated_textures, animated_textures);
    QUARLIX_EXPECT_RECORDS(ai_objects, cinematic_frames, cinematic_frames, 16);
    QUARLIX_EXPECT_WORDS(demo_data, demo_data);
    QUARLIX_EXPECT_RECORDS(sample_infos, sample_infos, sample_infos, 8);
    QUARLIX_EXPECT_WORDS(sample_indices, sample_indices);
#undef QUARLIX_EXPECT_WORDS
#undef QUARLIX_EXPECT_RECORDS

    // The parallel forms always have the count's length.
    EXPECT_EQ(l.moveables_trc.size(), g.moveables.size());
    EXPECT_EQ(l.boxes_old.size(), g.boxes.size());
    EXPECT_EQ(l.boxes.size(), g.boxes.size());

    // Object textures: only bytes 0-3 and 6-21 of each record come from the file.
    ASSERT_EQ(l.num_object_textures, static_cast<std::int32_t>(g.object_textures.size()));
    for (std::size_t i = 0; i < g.object_textures.size(); ++i) {
        const bytes want = older_object_texture(g.object_textures[i]);
        const auto got = raw(&l.object_textures[i], 1);
        if (fresh) {
            EXPECT_TRUE(same(got, want)) << "object texture " << i;
        } else {
            EXPECT_TRUE(same(got.first(4), std::span(want).first(4))) << "object texture " << i;
            EXPECT_TRUE(same(got.subspan(6, 16), std::span(want).subspan(6, 16)))
                << "object texture " << i;
        }
    }

    // Zones: num_boxes words in each of the ten arrays; versions 1 and 2 carry six of them.
    EXPECT_EQ(l.num_zones, static_cast<std::int32_t>(g.boxes.size()));
    for (int z = 0; z < 10; ++z) {
        ASSERT_EQ(l.zones[z].size(), g.boxes.size()) << "zone array " << z;
        const bool carried = !legacy || !(z == 2 || z == 3 || z == 7 || z == 8);
        if (carried) {
            std::vector<std::uint16_t> want = g.zones[z];
            want.resize(g.boxes.size());
            EXPECT_TRUE(same(raw(l.zones[z]), raw(want))) << "zone array " << z;
        } else if (fresh) {
            EXPECT_TRUE(all_zero(raw(l.zones[z]))) << "zone array " << z;
        }
    }

    // Items in both forms, whichever the file carries.
    ASSERT_EQ(l.num_items, static_cast<std::int32_t>(g.items.size()));
    ASSERT_EQ(l.items.size(), g.items.size());
    ASSERT_EQ(l.items_old.size(), g.items.size());
    for (std::size_t i = 0; i < g.items.size(); ++i) {
        const bytes old = levelgen::item_old_form(g.items[i]);
        const bytes full = legacy ? widened_item(old) : padded(g.items[i], 24);
        EXPECT_TRUE(same(raw(&l.items[i], 1), full)) << "item " << i;
        EXPECT_TRUE(same(raw(&l.items_old[i], 1), old)) << "22-byte item " << i;
    }

    EXPECT_TRUE(same(raw(l.light_map), padded(g.light_map, 8192))) << "light map";
    const std::size_t sound_map = legacy ? 512 : 740;
    EXPECT_TRUE(same(raw(l.sound_map).first(sound_map), std::span(g.sound_map).first(sound_map)))
        << "sound map";
    if (legacy) {
        EXPECT_EQ(l.sample_data_size, g.sample_data.size());
        EXPECT_TRUE(same(l.sample_data.span(), g.sample_data)) << "sample data";
    } else {
        EXPECT_TRUE(l.sample_data.empty());
    }

    if (fresh) {
        EXPECT_TRUE(l.animations.empty());
        EXPECT_TRUE(l.ai_objects.empty());
        EXPECT_EQ(l.num_flyby_cameras, 0);
        EXPECT_TRUE(l.flyby_cameras.empty());
        EXPECT_TRUE(all_zero(raw(l.moveables_trc)));
        EXPECT_TRUE(all_zero(legacy ? raw(l.boxes) : raw(l.boxes_old)));
        EXPECT_TRUE(all_zero(raw(l.sprite_prefix)));
        EXPECT_TRUE(all_zero(raw(l.object_texture_prefix)));
        EXPECT_EQ(l.sample_data_size, legacy ? g.sample_data.size() : 0u);
    }
}

// ---- versions and names ----

struct variant {
    int version;
    std::uint32_t first_word;
    const char* name;
};

const variant variants[] = {
    {1, 0x00000020, "level.phd"}, {2, 0x00000020, "LEVEL.TUB"}, {2, 0x00000020, "level.tub"},
    {3, 0x0000002D, "level.tr2"}, {4, 0x0000002D, "LEVEL.TRG"}, {4, 0x0000002D, "level.trg"},
    {5, 0xFF080038, "level.tr4"}, {5, 0xFF180038, "level.trc"},
};

std::string describe(const variant& v) {
    std::ostringstream s;
    s << "version " << v.version << ", first word 0x" << std::hex << v.first_word << ", " << v.name;
    return s.str();
}

levelgen::gen_level example(const variant& v, std::uint32_t seed) {
    levelgen::gen_level g = levelgen::make_example_level(v.version, seed);
    g.first_word = v.first_word;
    return g;
}

/// One file name per version, for tests that need one file of each.
const char* name_of(int version) {
    static const char* const names[] = {"", "a.phd", "a.tub", "a.tr2", "a.trg", "a.lvl"};
    return names[version];
}

/// The refusal of a malformed file: its message and the file offset it names. No large block
/// may have been allocated on the way to it.
struct refusal {
    std::string message;
    std::size_t offset = 0;
};

refusal refuse(std::span<const std::uint8_t> file, const std::string& name) {
    auto l = std::make_unique<Ttrlevel>();
    const allocation_watch watch;
    try {
        const int status = l->load_content(file, name);
        ADD_FAILURE() << "loaded with status " << status;
        return {"loaded", 0};
    } catch (const ELevelFormatError& e) {
        EXPECT_LT(watch.largest(), large_allocation) << "allocated before the check";
        const std::string m = e.what();
        const std::string mark = " at file offset ";
        const auto at = m.find(mark);
        EXPECT_NE(at, std::string::npos) << m;
        return {m, at == std::string::npos ? 0 : std::stoul(m.substr(at + mark.size()))};
    }
}

// ---- the driver ----

const std::string refused = banner + "Loading level...\nThis is not a tr4 or TRc level\n";

outcome convert(const std::string& input, const std::string& output) {
    return test::convert({input, output});
}

} // namespace

// ---- complete loads ----

TEST(OlderLoad, EveryVersionAndNameLoadsCompletely) {
    for (const variant& v : variants) {
        for (std::uint32_t seed : {1u, 2u}) {
            SCOPED_TRACE(describe(v) + ", seed " + std::to_string(seed));
            const levelgen::gen_level g = example(v, seed);
            auto l = std::make_unique<Ttrlevel>();
            std::memset(l->sound_map, 0xA5, sizeof l->sound_map);
            ASSERT_EQ(l->load_content(levelgen::file_bytes(g), v.name), 0);
            expect_model(*l, g);
            // The rest of the 900-byte sound map keeps what it held.
            const std::size_t carried = v.version <= 2 ? 512 : 740;
            EXPECT_TRUE(std::all_of(l->sound_map + carried, l->sound_map + 900,
                                    [](std::uint8_t b) { return b == 0xA5; }));
        }
    }
}

TEST(OlderLoad, Version4IsTheSameBytesAsVersion3) {
    const levelgen::gen_level g3 = levelgen::make_example_level(3, 4);
    levelgen::gen_level g4 = g3;
    g4.version = 4;
    const bytes file = levelgen::file_bytes(g3);
    ASSERT_EQ(file, levelgen::file_bytes(g4));
    expect_model(*load_bytes(file, "maps/level.tr2"), g3);
    expect_model(*load_bytes(file, "maps/level.TRG"), g4);
}

TEST(OlderLoad, Version2IsVersion1WithThePaletteMoved) {
    levelgen::gen_level g1 = levelgen::make_example_level(1, 5);
    levelgen::gen_layout layout;
    const bytes file1 = levelgen::file_bytes(g1, &layout);
    // Take the palette from behind the light map and put it after the sprite sequences.
    const auto palette = static_cast<std::ptrdiff_t>(layout.level.at("palette8"));
    const auto cameras = static_cast<std::ptrdiff_t>(layout.level.at("cameras"));
    bytes file2(file1.begin(), file1.begin() + palette);
    file2.insert(file2.end(), file1.begin() + palette + 768, file1.end());
    file2.insert(file2.begin() + cameras, file1.begin() + palette, file1.begin() + palette + 768);

    levelgen::gen_level g2 = g1;
    g2.version = 2;
    ASSERT_EQ(file2, levelgen::file_bytes(g2));
    expect_model(*load_bytes(file1, "level.phd"), g1);
    expect_model(*load_bytes(file2, "level.tub"), g2);
}

TEST(OlderLoad, EmptyTexturesFramesSamplesAndSections) {
    for (int version = 1; version <= 5; ++version) {
        SCOPED_TRACE("version " + std::to_string(version));
        levelgen::gen_level g = levelgen::make_example_level(version, 6);
        levelgen::set_textiles(g, 0, 0);
        g.cinematic_frames.clear();
        g.sample_data.clear();
        auto l = load_bytes(levelgen::file_bytes(g), name_of(version));
        expect_model(*l, g);
        EXPECT_EQ(l->num_textiles, 0u);
        EXPECT_TRUE(l->textiles8.empty());
        EXPECT_TRUE(l->textiles16.empty());
        EXPECT_TRUE(l->cinematic_frames.empty());
        EXPECT_EQ(l->sample_data_size, 0u);

        // Every count zero, no rooms.
        levelgen::gen_level empty;
        empty.version = version;
        empty.level_data_prefix = 0xCAFEF00D;
        expect_model(*load_bytes(levelgen::file_bytes(empty), name_of(version)), empty);
    }
}

TEST(OlderLoad, RoomTablesAtCapacityAreReadWhole) {
    for (int version = 1; version <= 5; ++version) {
        SCOPED_TRACE("version " + std::to_string(version));
        const std::size_t light = version <= 2 ? 18 : 24, instance = version <= 2 ? 18 : 20;
        levelgen::gen_level g;
        g.version = version;
        g.rooms.resize(2);
        levelgen::gen_room& r = g.rooms[0];
        for (int i = 0; i < 1500; ++i) {
            r.vertices.push_back({static_cast<std::int16_t>(i), static_cast<std::int16_t>(-i),
                                  static_cast<std::int16_t>(3 * i),
                                  static_cast<std::int16_t>(i * 7), 0x2010, 0x1234});
        }
        r.z_sectors = 32;
        r.x_sectors = 32;
        r.sectors = levelgen::pattern_records(1024, 8, 1);
        r.lights = levelgen::pattern_records(50, light, 2);
        r.static_instances = levelgen::pattern_records(50, instance, 3);
        r.tail_bytes = {7, 8, 9};
        g.rooms[1].ambient = 0x1234;
        expect_model(*load_bytes(levelgen::file_bytes(g), name_of(version)), g);
    }
}

// ---- the driver refuses every older level ----

TEST(OlderDriver, EveryVersionAndNameIsRefusedWithoutOutput) {
    scratch_dir dir;
    int n = 0;
    for (const variant& v : variants) {
        SCOPED_TRACE(describe(v));
        const std::string sub = dir.file(std::to_string(n++));
        std::filesystem::create_directory(sub);
        const std::string input = sub + "/" + v.name;
        write_bytes(input, levelgen::file_bytes(example(v, 3)));
        for (const char* out : {"out.trc", "out.tr4"}) {
            const outcome o = convert(input, sub + "/" + out);
            EXPECT_EQ(o.status, 0);
            EXPECT_EQ(o.out, refused);
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sub),
                                std::filesystem::directory_iterator()),
                  1)
            << "nothing but the input in its directory";
    }
}

TEST(OlderDriver, TheBuiltProgramRefusesThemToo) {
    scratch_dir dir;
    const std::string log = dir.file("stdout.txt");
    for (const variant& v : {variants[2], variants[7]}) {
        SCOPED_TRACE(describe(v));
        const std::string input = dir.file(v.name);
        write_bytes(input, levelgen::file_bytes(example(v, 4)));
        const std::string command = std::string("\"") + QUARLIX_BINARY + "\" \"" + input + "\" \"" +
                                    dir.file("out.tr4") + "\" > \"" + log + "\" 2>&1";
        const int raw_status = std::system(command.c_str());
        ASSERT_NE(raw_status, -1);
        ASSERT_TRUE(WIFEXITED(raw_status));
        EXPECT_EQ(WEXITSTATUS(raw_status), 0);
        const bytes printed = read_bytes(log);
        EXPECT_EQ(std::string(printed.begin(), printed.end()), refused);
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.tr4")));
    }
}

// ---- malformed older files ----

TEST(OlderMalformed, CutAtEverySectionAndInsideTables) {
    for (int version = 1; version <= 5; ++version) {
        SCOPED_TRACE("version " + std::to_string(version));
        const levelgen::gen_level g = levelgen::make_example_level(version, 2);
        levelgen::gen_layout layout;
        const bytes file = levelgen::file_bytes(g, &layout);
        std::set<std::size_t> starts; // section starts, the file's end included
        for (const auto& [name, at] : layout.level) {
            starts.insert(at);
        }
        ASSERT_EQ(*starts.rbegin(), file.size());
        const std::size_t room_count_at = layout.level.at("level_data_prefix") + 4;

        std::set<std::size_t> cuts = {4, file.size() - 1};
        for (auto it = starts.begin(); std::next(it) != starts.end(); ++it) {
            const std::size_t s = *it, next = *std::next(it);
            for (std::size_t c : {s, s + 1, s + 3, (s + next) / 2, next - 1}) {
                if (c >= 4 && c < file.size()) {
                    cuts.insert(c);
                }
            }
        }
        for (std::size_t cut : cuts) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            const refusal r = refuse(std::span(file).first(cut), name_of(version));
            EXPECT_THAT(r.message, HasSubstr(" left"));
            // The offset named is inside the section that the cut falls in, or the room count
            // when the rooms could not fit in what is left.
            const std::size_t section = *std::prev(starts.lower_bound(cut));
            if (r.message.find("rooms cannot fit") != std::string::npos) {
                EXPECT_EQ(r.offset, room_count_at);
            } else {
                EXPECT_GE(r.offset, section) << r.message;
                EXPECT_LE(r.offset, cut) << r.message;
            }
        }
        // Cut exactly at a section start, the section itself is named there.
        for (const auto& [name, at] : layout.level) {
            if (at >= 4 && at < file.size() && name != "room.0") {
                SCOPED_TRACE(name);
                EXPECT_EQ(refuse(std::span(file).first(at), name_of(version)).offset, at);
            }
        }
    }
}

TEST(OlderMalformed, TextileCountsBeyondTheFile) {
    for (int version = 1; version <= 5; ++version) {
        SCOPED_TRACE("version " + std::to_string(version));
        levelgen::gen_level g = levelgen::make_example_level(version, 7);
        levelgen::gen_layout layout;
        const bytes file = levelgen::file_bytes(g, &layout);
        const std::size_t count_at = layout.level.at("textiles");
        const std::size_t left = file.size() - (count_at + 4);
        struct bad_count {
            std::uint32_t count;
            const char* section;
            std::size_t offset;
        };
        const std::size_t textiles_at = count_at + 4;
        std::vector<bad_count> counts = {
            {0xFFFFFFFFu, "8-bit textiles", textiles_at}, // 256 GiB
            {0x00010000u, "8-bit textiles", textiles_at}, // 4 GiB: 0 in 32 bits
            {static_cast<std::uint32_t>(left / 65536 + 1), "8-bit textiles", textiles_at},
        };
        if (version >= 3) {
            // The 8-bit textiles fit; the 16-bit ones after them do not.
            const auto fits = static_cast<std::uint32_t>(left / 65536);
            counts.push_back({fits, "16-bit textiles", textiles_at + fits * std::size_t{65536}});
        }
        for (const bad_count& c : counts) {
            SCOPED_TRACE(c.count);
            bytes bad = file;
            levelgen::put_u32(bad, count_at, c.count);
            const refusal r = refuse(bad, name_of(version));
            EXPECT_THAT(r.message, HasSubstr(c.section));
            EXPECT_EQ(r.offset, c.offset);
        }
    }
}

TEST(OlderMalformed, SampleDataLengthsBeyondTheFile) {
    for (int version : {1, 2}) {
        SCOPED_TRACE("version " + std::to_string(version));
        const levelgen::gen_level g = levelgen::make_example_level(version, 8);
        levelgen::gen_layout layout;
        const bytes file = levelgen::file_bytes(g, &layout);
        const std::size_t length_at = layout.level.at("sample_data");
        const std::size_t left = file.size() - (length_at + 4);
        for (std::uint32_t length : {0xFFFFFFFFu, static_cast<std::uint32_t>(left + 1)}) {
            SCOPED_TRACE(length);
            bytes bad = file;
            levelgen::put_u32(bad, length_at, length);
            const refusal r = refuse(bad, name_of(version));
            EXPECT_THAT(r.message,
                        HasSubstr("sample data at file offset " + std::to_string(length_at + 4)));
        }
        // A length that swallows the rest: the sample indices after it are missing.
        bytes bad = file;
        levelgen::put_u32(bad, length_at, static_cast<std::uint32_t>(left));
        EXPECT_THAT(refuse(bad, name_of(version)).message,
                    HasSubstr("sample indices at file offset " + std::to_string(file.size())));
    }
}

TEST(OlderMalformed, HugeSectionCountsFailBeforeAllocating) {
    // The sections whose place or element size differs from TR4, and the two ends of the run.
    const char* const sections32[] = {"floor_data",      "animations",    "object_textures",
                                      "sprite_textures", "boxes",         "items",
                                      "sample_infos",    "sample_indices"};
    for (int version = 1; version <= 5; ++version) {
        const levelgen::gen_level g = levelgen::make_example_level(version, 9);
        levelgen::gen_layout layout;
        const bytes file = levelgen::file_bytes(g, &layout);
        for (const char* section : sections32) {
            for (std::uint32_t count : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x00FFFFFFu}) {
                SCOPED_TRACE("version " + std::to_string(version) + " " + section + " " +
                             std::to_string(count));
                bytes bad = file;
                levelgen::put_u32(bad, layout.level.at(section), count);
                EXPECT_THAT(refuse(bad, name_of(version)).message, HasSubstr("bytes needed"));
            }
        }
        // The 16-bit counts.
        for (const char* section : {"cinematic_frames", "demo_data"}) {
            SCOPED_TRACE("version " + std::to_string(version) + " " + section);
            bytes bad = file;
            bad[layout.level.at(section)] = 0xFF;
            bad[layout.level.at(section) + 1] = 0xFF;
            EXPECT_THAT(refuse(bad, name_of(version)).message, HasSubstr("bytes needed"));
        }
        // 65535 rooms cannot fit in what follows the room count.
        bytes bad = file;
        const std::size_t count_at = layout.level.at("level_data_prefix") + 4;
        bad[count_at] = 0xFF;
        bad[count_at + 1] = 0xFF;
        const refusal r = refuse(bad, name_of(version));
        EXPECT_THAT(r.message, HasSubstr("65535 rooms cannot fit"));
        EXPECT_EQ(r.offset, count_at);
    }
}

TEST(OlderMalformed, RoomTablesAboveCapacity) {
    struct bad_room {
        const char* name;
        void (*spoil)(levelgen::gen_room&, std::size_t light, std::size_t instance);
        const char* message;
    };
    const bad_room cases[] = {
        {"1501 vertices",
         [](levelgen::gen_room& r, std::size_t, std::size_t) { r.vertices.resize(1501); },
         "vertices at file offset"},
        {"33 x 32 sectors",
         [](levelgen::gen_room& r, std::size_t, std::size_t) {
             r.z_sectors = 33;
             r.x_sectors = 32;
         },
         "sectors at file offset"},
        {"51 lights",
         [](levelgen::gen_room& r, std::size_t light, std::size_t) {
             r.lights = levelgen::pattern_records(51, light, 1);
         },
         "lights at file offset"},
        {"51 static instances",
         [](levelgen::gen_room& r, std::size_t, std::size_t instance) {
             r.static_instances = levelgen::pattern_records(51, instance, 2);
         },
         "static instances at file offset"},
    };
    for (int version = 1; version <= 5; ++version) {
        for (const bad_room& c : cases) {
            SCOPED_TRACE("version " + std::to_string(version) + ", " + c.name);
            levelgen::gen_level g = levelgen::make_example_level(version, 10);
            c.spoil(g.rooms[1], version <= 2 ? 18 : 24, version <= 2 ? 18 : 20);
            EXPECT_THAT(refuse(levelgen::file_bytes(g), name_of(version)).message,
                        ::testing::AllOf(HasSubstr("room 1 "), HasSubstr(c.message),
                                         HasSubstr("exceed the capacity")));
        }
    }
}

TEST(OlderMalformed, TheDriverReportsTheRefusal) {
    scratch_dir dir;
    for (int version = 1; version <= 5; ++version) {
        SCOPED_TRACE("version " + std::to_string(version));
        const levelgen::gen_level g = levelgen::make_example_level(version, 11);
        levelgen::gen_layout layout;
        const bytes file = levelgen::file_bytes(g, &layout);
        bytes huge = file;
        levelgen::put_u32(huge, layout.level.at("textiles"), 0xFFFFFFFFu);
        const std::vector<bytes> spoiled = {
            huge,
            bytes(file.begin(),
                  file.begin() + static_cast<std::ptrdiff_t>(layout.level.at("room.1") + 10)),
            bytes(file.begin(), file.end() - 1),
        };
        for (const bytes& bad : spoiled) {
            const std::string input = dir.file(name_of(version));
            write_bytes(input, bad);
            const std::string message = refuse(bad, input).message;
            const outcome o = convert(input, dir.file("out.trc"));
            EXPECT_EQ(o.status, 1);
            EXPECT_EQ(o.out, banner + "Loading level...\nELevelFormatError: " + message + "\n");
            EXPECT_FALSE(std::filesystem::exists(dir.file("out.trc")));
        }
    }
}

// ---- a second load into the same object ----

class OlderReload : public ::testing::Test {
  protected:
    /// Writes a level under a name and loads it into the one object.
    void load(const levelgen::gen_level& g, const std::string& name) {
        write_bytes(dir.file(name), levelgen::file_bytes(g));
        ASSERT_EQ(level->load(dir.file(name)), 0) << name;
        ASSERT_EQ(level->version, g.version) << name;
    }

    scratch_dir dir;
    std::unique_ptr<Ttrlevel> level = std::make_unique<Ttrlevel>();
};

TEST_F(OlderReload, Version2ThenVersion3) {
    const levelgen::gen_level g2 = levelgen::make_example_level(2, 12);
    const levelgen::gen_level g3 = levelgen::make_example_level(3, 13);
    load(g2, "a.tub");
    ASSERT_FALSE(level->sample_data.empty());
    load(g3, "b.tr2");
    expect_model(*level, g3, false);
    EXPECT_TRUE(level->sample_data.empty()) << "released by version 2, absent in version 3";
    // Room tables that version 3 does not carry keep version 2's records.
    const auto& room2 = g2.rooms[0];
    EXPECT_TRUE(
        same(raw(level->rooms[0].legacy_lights_18, room2.lights.size()), flat(room2.lights, 18)));
    EXPECT_TRUE(same(raw(level->rooms[0].legacy_static_instances, room2.static_instances.size()),
                     flat(room2.static_instances, 18)));
}

TEST_F(OlderReload, Version4ThenVersion1) {
    const levelgen::gen_level g4 = levelgen::make_example_level(4, 14);
    const levelgen::gen_level g1 = levelgen::make_example_level(1, 15);
    load(g4, "a.trg");
    ASSERT_FALSE(level->textiles16.empty());
    load(g1, "b.phd");
    expect_model(*level, g1, false);
    EXPECT_TRUE(level->textiles16.empty()) << "released by version 4, absent in version 1";
    EXPECT_TRUE(same(raw(level->palette16), padded(g4.palette16, 1024)));
    EXPECT_EQ(level->rooms[0].ambient_3, g4.rooms[0].ambient_3);
    EXPECT_EQ(level->rooms[0].ambient_2, g4.rooms[0].ambient_2);
}

TEST_F(OlderReload, Tr4ThenVersion1) {
    const levelgen::gen_level g6 = levelgen::make_example_level(6, 16);
    const levelgen::gen_level g1 = levelgen::make_example_level(1, 17);
    load(g6, "a.tr4");
    ASSERT_FALSE(level->textiles32.empty());
    ASSERT_FALSE(level->textiles_misc.empty());
    load(g1, "b.phd");
    expect_model(*level, g1, false);
    EXPECT_TRUE(level->textiles32.empty());
    EXPECT_TRUE(level->textiles_misc.empty());
    EXPECT_TRUE(level->textiles16.empty());
    // What version 1 does not carry keeps the TR4 level's content.
    EXPECT_TRUE(same(raw(level->animations), flat(g6.animations, 40)));
    EXPECT_EQ(level->num_animations, static_cast<std::int32_t>(g1.animations.size()));
    EXPECT_TRUE(same(raw(level->ai_objects), flat(g6.ai_objects, 24)));
    EXPECT_EQ(level->num_flyby_cameras, static_cast<std::int32_t>(g6.flyby_cameras.size()));
    EXPECT_TRUE(same(raw(level->flyby_cameras), flat(g6.flyby_cameras, 40)));
    EXPECT_TRUE(same(raw(level->sprite_prefix).first(3), std::span(g6.sprite_prefix).first(3)));
    EXPECT_TRUE(same(raw(level->object_texture_prefix).first(4),
                     std::span(g6.object_texture_prefix).first(4)));
    EXPECT_TRUE(
        same(raw(level->sound_map).subspan(512, 228), std::span(g6.sound_map).subspan(512, 228)));
    EXPECT_TRUE(
        same(raw(level->rooms[0].lights, g6.rooms[0].lights.size()), flat(g6.rooms[0].lights, 46)));
}

TEST_F(OlderReload, Version5ThenTr4) {
    levelgen::gen_level g5 = levelgen::make_example_level(5, 18);
    g5.first_word = 0xFF180038;
    const levelgen::gen_level g6 = levelgen::make_example_level(6, 19);
    load(g5, "a.lvl");
    ASSERT_FALSE(level->textiles8.empty());
    load(g6, "b.tr4");
    EXPECT_TRUE(level->textiles8.empty()) << "released by version 5";
    EXPECT_TRUE(same(level->textiles16.span(), g6.textiles16));
    EXPECT_TRUE(same(level->textiles32.span(), g6.textiles32));
    EXPECT_TRUE(same(level->sample_data.span(), g6.sample_data));
    EXPECT_TRUE(same(raw(level->animations), flat(g6.animations, 40)));
    EXPECT_TRUE(same(raw(level->ai_objects), flat(g6.ai_objects, 24)));
    // What TR4 does not carry keeps the version-5 level's content.
    EXPECT_TRUE(same(raw(level->palette8), padded(g5.palette8, 768)));
    EXPECT_TRUE(same(raw(level->palette16), padded(g5.palette16, 1024)));
    EXPECT_TRUE(same(raw(level->light_map), padded(g5.light_map, 8192)));
    EXPECT_TRUE(same(raw(level->animations_old), flat(g5.animations, 32)));
    EXPECT_TRUE(same(raw(level->cinematic_frames), flat(g5.cinematic_frames, 16)));
    EXPECT_TRUE(same(raw(level->rooms[0].legacy_lights_24, g5.rooms[0].lights.size()),
                     flat(g5.rooms[0].lights, 24)));
}
