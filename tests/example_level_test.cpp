// The bundled example level, read through the library: the level checks find nothing in it,
// and beyond what they check its portals and faces face into their rooms, its meshes and
// animations fit their data, its items are existing objects, its texture pages are whole and
// its samples are PCM WAVE files.
#include "level/trunit2.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "info/level_checks.h"
#include "level/samples.h"
#include "level_support.h"
#include "tools/levelgen.h"

using namespace quarlix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using problems = std::vector<std::string>;

template <class T> T at(const void* record, std::size_t offset) {
    T v;
    std::memcpy(&v, static_cast<const std::uint8_t*>(record) + offset, sizeof v);
    return v;
}

void expect(problems& out, bool ok, const std::string& where) {
    if (!ok)
        out.push_back(where);
}

std::unique_ptr<Ttrlevel> load_example() {
    return test::load_bytes(levelgen::file_bytes(levelgen::bundled_example_level()), "example.trc");
}

using point = std::array<long long, 3>;

point cross(point a, point b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
point minus(point a, point b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
long long dot(point a, point b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

/// Portals lie flat with their unit normal into the room and have a twin in the room beyond;
/// seen from the middle of its (box-shaped) room every face shows its front, corners clockwise.
problems check_room_shapes(const Ttrlevel& l) {
    problems out;
    const auto world_portal = [&](std::size_t r, const tportal& p) {
        std::set<point> corners;
        for (const auto& c : p.corners)
            corners.insert({l.rooms[r].pos_x + c[0], c[1], l.rooms[r].pos_z + c[2]});
        return corners;
    };
    for (std::size_t r = 0; r < l.rooms.size(); ++r) {
        const troom& room = l.rooms[r];
        const std::string where = "room " + std::to_string(r);
        for (std::size_t i = 0; i < room.num_portals; ++i) {
            const std::string place = where + " portal " + std::to_string(i);
            const tportal& p = room.portals[i];
            const point normal{p.normal[0], p.normal[1], p.normal[2]};
            std::array<point, 4> c;
            for (std::size_t k = 0; k < 4; ++k)
                c[k] = {p.corners[k][0], p.corners[k][1], p.corners[k][2]};
            bool flat = dot(normal, normal) == 1;
            for (std::size_t k = 1; k < 4; ++k)
                flat = flat && dot(normal, minus(c[k], c[0])) == 0;
            expect(out, flat && dot(cross(minus(c[2], c[0]), minus(c[1], c[0])), normal) > 0,
                   place + " shape");
            bool twin = false; // in another room: a portal into its own room would be its own twin
            for (std::size_t j = 0;
                 p.room != r && p.room < l.rooms.size() && j < l.rooms[p.room].num_portals; ++j) {
                const tportal& back = l.rooms[p.room].portals[j];
                twin = twin || (back.room == r && world_portal(p.room, back) == world_portal(r, p));
            }
            expect(out, twin, place + " twin");
        }
        const point middle{room.num_x_sectors * 512, (room.y_top + room.y_bottom) / 2,
                           room.num_z_sectors * 512};
        const auto face = [&](const std::uint16_t* corners, std::size_t n,
                              const std::string& place) {
            bool ok = true;
            for (std::size_t k = 0; k < n; ++k)
                ok = ok && corners[k] < room.num_vertices;
            if (ok) {
                std::array<point, 3> c;
                for (std::size_t k = 0; k < 3; ++k) {
                    const troom_vertex v = room.vertices[corners[k]];
                    c[k] = {v.x, v.y, v.z};
                }
                ok = dot(cross(minus(c[2], c[0]), minus(c[1], c[0])), minus(middle, c[0])) > 0;
            }
            expect(out, ok, place);
        };
        for (std::size_t i = 0; i < room.num_rectangles; ++i)
            face(room.rectangles[i].corners, 4, where + " rectangle " + std::to_string(i));
        for (std::size_t i = 0; i < room.num_triangles; ++i)
            face(room.triangles[i].corners, 3, where + " triangle " + std::to_string(i));
    }
    return out;
}

/// Meshes lie inside the mesh data with their corners and textures in range; moveables have
/// meshes and frames; animations' frames fit the frame data; dispatches lead to existing
/// animations; items are existing objects.
problems check_objects(const Ttrlevel& l) {
    problems out;
    const std::size_t mesh_words = l.mesh_data.size();
    for (std::size_t i = 0; i < l.mesh_pointers.size(); ++i) {
        const std::int32_t offset = l.mesh_pointers[i];
        bool ok = offset >= 0 && offset % 4 == 0 && std::size_t(offset) / 2 < mesh_words;
        std::size_t w = ok ? std::size_t(offset) / 2 + 5 : 0; // centre and radius
        const auto word = [&]() -> std::int16_t {
            ok = ok && w < mesh_words;
            return ok ? static_cast<std::int16_t>(l.mesh_data[w++]) : 0;
        };
        const std::int16_t vertices = word();
        w += 3 * std::size_t(std::max<std::int16_t>(vertices, 0));
        const std::int16_t normals = word();
        w += normals > 0 ? 3 * std::size_t(normals) : std::size_t(-normals);
        for (std::size_t corners : {4, 3}) {
            const std::int16_t faces = word();
            for (std::int16_t f = 0; ok && f < faces; ++f) {
                for (std::size_t k = 0; k < corners; ++k)
                    ok = ok && word() < vertices;
                ok = ok && face_texture_index(static_cast<std::uint16_t>(word()), false) <
                               l.object_textures.size();
                word(); // effects
            }
        }
        expect(out, ok && vertices > 0, "mesh pointer " + std::to_string(i));
    }

    const std::size_t frame_bytes = l.frames.size() * 2;
    std::set<std::int64_t> objects;
    for (std::size_t i = 0; i < l.moveables.size(); ++i) {
        const tmoveable& m = l.moveables[i];
        objects.insert(m.object_id);
        expect(out,
               m.num_meshes > 0 && (m.animation == no_animation || m.frame_offset < frame_bytes),
               "moveable " + std::to_string(i));
    }
    for (std::size_t i = 0; i < l.animations.size(); ++i) {
        const tanimation& a = l.animations[i];
        expect(out,
               a.frame_rate > 0 && a.first_frame <= a.last_frame &&
                   a.frame_offset + ((a.last_frame - a.first_frame) / a.frame_rate + 1u) *
                                        a.frame_size * 2u <=
                       frame_bytes,
               "animation " + std::to_string(i));
    }
    for (std::size_t i = 0; i < l.anim_dispatches.size(); ++i) {
        const tanim_dispatch& d = l.anim_dispatches[i];
        expect(out, d.next_animation >= 0 && std::size_t(d.next_animation) < l.animations.size(),
               "animation dispatch " + std::to_string(i));
    }
    for (const auto& s : l.sprite_sequences)
        objects.insert(s.object_id);
    for (std::size_t i = 0; i < l.items.size(); ++i)
        expect(out, objects.count(l.items[i].object_id) != 0, "item " + std::to_string(i));
    return out;
}

/// The sample list: a count of the sample indices, then each sample's two sizes (equal) and a
/// mono PCM RIFF WAVE file, up to the end of the sample data.
problems check_samples(const Ttrlevel& l) {
    problems out;
    const std::span<const std::uint8_t> data = l.sample_data.span();
    const sample_list list = read_sample_list(data);
    for (std::size_t i = 0; i < list.samples.size(); ++i) {
        const sample_entry& s = list.samples[i];
        const std::span<const std::uint8_t> bytes = sample_bytes(data, s);
        const std::uint8_t* w = bytes.data();
        const std::uint32_t n = s.stored_size;
        const bool ok = s.size == n && n >= 44 && is_riff_wave(bytes) &&
                        at<std::uint32_t>(w, 4) == n - 8 && std::memcmp(w + 12, "fmt ", 4) == 0 &&
                        at<std::uint32_t>(w, 16) == 16 && at<std::uint16_t>(w, 20) == 1 &&
                        at<std::uint16_t>(w, 22) == 1;
        const std::uint16_t align = ok ? at<std::uint16_t>(w, 32) : 0,
                            bits = ok ? at<std::uint16_t>(w, 34) : 0;
        expect(out,
               ok && (bits == 8 || bits == 16) && align == bits / 8 &&
                   at<std::uint32_t>(w, 28) == at<std::uint32_t>(w, 24) * align &&
                   std::memcmp(w + 36, "data", 4) == 0 && at<std::uint32_t>(w, 40) == n - 44,
               "sample " + std::to_string(i));
    }
    const std::size_t end =
        list.samples.empty() ? 4 : list.samples.back().offset + list.samples.back().stored_size;
    expect(out,
           list.complete && !list.samples.empty() && end == data.size() &&
               list.declared == l.sample_indices.size(),
           "sample list");
    return out;
}

TEST(ExampleLevel, EveryIndexPointsAtSomethingThatExists) {
    const auto l = load_example();
    ASSERT_EQ(l->version, level_trc);
    const std::vector<info::problem> found = info::check_level(*l);
    for (const info::problem& p : found)
        ADD_FAILURE() << p.where << ": " << p.message;
    EXPECT_THAT(check_room_shapes(*l), IsEmpty());
    EXPECT_THAT(check_objects(*l), IsEmpty());
    EXPECT_THAT(check_samples(*l), IsEmpty());

    // Not vacuous: rooms joined by portals, with several layers somewhere, textured faces of
    // both kinds, items, meshes, animations, sounds and samples.
    EXPECT_EQ(l->num_rooms, 5);
    std::size_t portals = 0, triangles = 0, layers = 0;
    for (const troom& room : l->rooms) {
        portals += room.num_portals;
        triangles += room.num_triangles;
        layers += room.num_layers;
        EXPECT_GT(room.num_rectangles, 10);
        EXPECT_GT(room.num_lights, 0);
    }
    EXPECT_EQ(portals, 6u);
    EXPECT_GT(triangles, 0u);
    EXPECT_GT(layers, l->rooms.size());
    EXPECT_GE(l->num_items, 3);
    EXPECT_GT(l->num_animations, 1);
    EXPECT_GT(l->num_state_changes, 0);
    EXPECT_GT(l->num_anim_dispatches, 0);
    EXPECT_GT(l->num_sample_infos, 0);
    // A water room, a room that flips into another, static instances in two rooms, and a
    // moveable of four meshes with two animations of its own.
    std::size_t water = 0, flips = 0, static_rooms = 0;
    for (const troom& room : l->rooms) {
        water += room.flags[0] & 1u;
        flips += room_alternate(room, l->version) != -1;
        static_rooms += room.num_static_instances > 0;
    }
    EXPECT_EQ(water, 1u);
    EXPECT_EQ(flips, 1u);
    EXPECT_EQ(static_rooms, 2u);
    EXPECT_EQ(l->moveables.back().num_meshes, 4);
    EXPECT_EQ(l->moveables.back().animation, l->num_animations - 2);
    std::set<std::uint16_t> blends;
    for (const auto& t : l->object_textures)
        blends.insert(t.blend_mode);
    EXPECT_EQ(blends, (std::set<std::uint16_t>{0, 1})); // opaque and alpha-tested
}

// Only the checks above: faults in what the level checks cover are planted in the info tests.
TEST(ExampleLevel, PlantedFaultsAreEachFoundInTheirPlace) {
    const auto l = load_example();
    ASSERT_GE(l->rooms[1].num_portals, 1);
    tportal& portal = l->rooms[1].portals[0];
    portal.room = 1; // into its own room: room 0 loses its twin
    for (std::int16_t& n : portal.normal)
        n = static_cast<std::int16_t>(-n); // out of the room
    std::swap(l->rooms[3].rectangles[4].corners[0],
              l->rooms[3].rectangles[4].corners[2]); // turned away
    l->anim_dispatches[0].next_animation = 9;        // next animation
    l->items[2].object_id = 999;                     // no such object
    l->sample_data.data()[12 + 4] += 1;              // sample 0's RIFF length
    EXPECT_THAT(check_room_shapes(*l), ElementsAre("room 0 portal 0 twin", "room 1 portal 0 shape",
                                                   "room 1 portal 0 twin", "room 3 rectangle 4"));
    EXPECT_THAT(check_objects(*l), ElementsAre("animation dispatch 0", "item 2"));
    EXPECT_THAT(check_samples(*l), ElementsAre("sample 0"));
}

TEST(ExampleLevel, TexturePagesAreWholeAndAlikeInBothDepths) {
    const auto l = load_example();
    const std::size_t pages =
        std::size_t{l->num_room_textiles} + l->num_object_textiles + l->num_bump_textiles;
    ASSERT_GT(pages, 0u);
    ASSERT_EQ(l->textiles32_size, pages * 65536 * 4);
    ASSERT_EQ(l->textiles16_size, pages * 65536 * 2);
    EXPECT_EQ(l->num_textiles, pages);
    EXPECT_GT(l->textiles_misc_size, 0u);
    EXPECT_EQ(l->textiles_misc_size % (65536 * 4), 0u);

    // Each 16-bit pixel is its 32-bit pixel in A1R5G5B5; every page is a picture, not a fill.
    std::size_t mismatches = 0;
    std::set<std::string> distinct; // the pages' bytes
    for (std::size_t p = 0; p < pages; ++p) {
        std::set<std::uint32_t> colours;
        for (std::size_t i = p * 65536; i < (p + 1) * 65536; ++i) {
            const std::uint8_t* c = l->textiles32.data() + 4 * i;
            const auto expected = static_cast<std::uint16_t>((c[3] >> 7) << 15 | (c[2] >> 3) << 10 |
                                                             (c[1] >> 3) << 5 | c[0] >> 3);
            mismatches += at<std::uint16_t>(l->textiles16.data(), 2 * i) != expected;
            colours.insert(at<std::uint32_t>(c, 0));
        }
        EXPECT_GT(colours.size(), 8u) << "page " << p;
        distinct.emplace(reinterpret_cast<const char*>(l->textiles32.data()) + p * 262144, 262144);
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(distinct.size(), pages);
}

} // namespace
