// The bundled example level, read through the library: every index in it points at something
// that exists, its faces and portals face into their rooms, its texture pages are whole and its
// samples are WAVE files. The checks are general; planted faults show that each one bites.
#include "level/trunit2.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

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
    if (!ok) out.push_back(where);
}

std::unique_ptr<Ttrlevel> load_example() {
    const std::vector<std::uint8_t> bytes = levelgen::file_bytes(levelgen::bundled_example_level());
    auto level = std::make_unique<Ttrlevel>();
    EXPECT_EQ(level->load_content(bytes, "example.trc"), 0);
    return level;
}

using point = std::array<long long, 3>;

point cross(point a, point b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
point minus(point a, point b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
long long dot(point a, point b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

/// Portals lead to existing rooms, lie flat with their normal into the room and have a twin
/// in the room beyond; sectors name existing rooms, boxes and floor data; faces use existing
/// vertices and object textures and face the middle of their (box-shaped) room; TRC layers
/// add up to the header totals.
problems check_rooms(const Ttrlevel& l) {
    problems out;
    const auto world_portal = [&](std::size_t r, std::size_t i) {
        const troom& room = l.rooms[r];
        std::set<point> corners;
        for (std::size_t c = 0; c < 4; ++c)
            corners.insert({room.pos_x + at<std::int16_t>(room.portals[i].bytes, 8 + 6 * c),
                            at<std::int16_t>(room.portals[i].bytes, 10 + 6 * c),
                            room.pos_z + at<std::int16_t>(room.portals[i].bytes, 12 + 6 * c)});
        return corners;
    };
    const std::uint16_t texture_mask = l.version == level_trc ? 0x3FFF : 0x7FFF;
    for (std::size_t r = 0; r < l.rooms.size(); ++r) {
        const troom& room = l.rooms[r];
        const std::string where = "room " + std::to_string(r);
        for (std::size_t i = 0; i < room.num_portals; ++i) {
            const std::string place = where + " portal " + std::to_string(i);
            const std::uint8_t* p = room.portals[i].bytes;
            const std::uint16_t other = at<std::uint16_t>(p, 0);
            const point normal{at<std::int16_t>(p, 2), at<std::int16_t>(p, 4), at<std::int16_t>(p, 6)};
            std::array<point, 4> c;
            for (std::size_t k = 0; k < 4; ++k)
                c[k] = {at<std::int16_t>(p, 8 + 6 * k), at<std::int16_t>(p, 10 + 6 * k), at<std::int16_t>(p, 12 + 6 * k)};
            bool flat = dot(normal, normal) == 1;
            for (std::size_t k = 1; k < 4; ++k) flat = flat && dot(normal, minus(c[k], c[0])) == 0;
            expect(out, flat && dot(cross(minus(c[2], c[0]), minus(c[1], c[0])), normal) > 0, place + " shape");
            if (other >= l.rooms.size()) {
                out.push_back(place);
                continue;
            }
            bool twin = false;
            for (std::size_t j = 0; j < l.rooms[other].num_portals; ++j)
                twin = twin || (at<std::uint16_t>(l.rooms[other].portals[j].bytes, 0) == r &&
                                world_portal(other, j) == world_portal(r, i));
            expect(out, twin, place + " twin");
        }
        for (std::size_t i = 0; i < std::size_t{room.num_x_sectors} * room.num_z_sectors; ++i) {
            const std::uint8_t* s = room.sectors[i].bytes;
            const std::uint16_t box = at<std::uint16_t>(s, 2);
            const bool no_box = box == 0xFFFF || (box >> 4 & 0x7FF) == 0x7FF;
            expect(out,
                   at<std::uint16_t>(s, 0) < l.floor_data.size() && (no_box || (box >> 4 & 0x7FF) < l.num_boxes) &&
                       (s[4] == 255 || s[4] < l.num_rooms) && (s[6] == 255 || s[6] < l.num_rooms),
                   where + " sector " + std::to_string(i));
        }
        // Seen from the middle of the room every face shows its front, its corners clockwise.
        const point middle{room.num_x_sectors * 512, (room.y_top + room.y_bottom) / 2, room.num_z_sectors * 512};
        const auto face = [&](const std::uint16_t* corners, std::size_t n, std::uint16_t texture, const std::string& place) {
            bool ok = (texture & texture_mask) < l.object_textures.size();
            for (std::size_t k = 0; k < n; ++k) ok = ok && corners[k] < room.num_vertices;
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
            face(room.rectangles[i].corners, 4, room.rectangles[i].texture, where + " rectangle " + std::to_string(i));
        for (std::size_t i = 0; i < room.num_triangles; ++i)
            face(room.triangles[i].corners, 3, room.triangles[i].texture, where + " triangle " + std::to_string(i));
        if (l.version != level_trc) continue;
        std::uint64_t rectangles = 0, triangles = 0;
        for (std::size_t k = 0; k < room.layer_headers.size(); ++k) {
            const auto& vertices = room.layers.vertex_blocks[k];
            const auto& rects = room.layers.rectangle_blocks[k];
            const auto& tris = room.layers.triangle_blocks[k];
            rectangles += room.layer_headers[k].num_rectangles;
            triangles += room.layer_headers[k].num_triangles;
            bool ok = room.layer_headers[k].num_vertices == vertices.count;
            for (std::size_t i = 0; i < rects.count; ++i)
                for (std::uint16_t c : rects.rectangles[i].corners) ok = ok && c < vertices.count;
            for (std::size_t i = 0; i < tris.count; ++i)
                for (std::uint16_t c : tris.triangles[i].corners) ok = ok && c < vertices.count;
            expect(out, ok, where + " layer " + std::to_string(k));
        }
        expect(out, rectangles == room.trc_num_rectangles && triangles == room.trc_num_triangles, where + " layers");
    }
    return out;
}

/// Texture pages exist; meshes lie inside the mesh data with their corners and textures in
/// range; moveables, static meshes, animations, state changes and dispatches point inside
/// their tables.
problems check_objects(const Ttrlevel& l) {
    problems out;
    const std::size_t pages = std::size_t{l.num_room_textiles} + l.num_object_textiles + l.num_bump_textiles;
    for (std::size_t i = 0; i < l.object_textures.size(); ++i)
        expect(out, (l.object_textures[i].field_2 & 0x7FFF) < pages, "object texture " + std::to_string(i));
    for (std::size_t i = 0; i < l.sprite_textures.size(); ++i)
        expect(out, at<std::uint16_t>(l.sprite_textures[i].bytes, 0) < pages, "sprite texture " + std::to_string(i));

    const std::size_t mesh_words = l.mesh_data.size();
    for (std::size_t i = 0; i < l.mesh_pointers.size(); ++i) {
        const std::int32_t offset = l.mesh_pointers[i];
        bool ok = offset >= 0 && offset % 2 == 0 && std::size_t(offset) / 2 < mesh_words;
        std::size_t w = ok ? std::size_t(offset) / 2 + 5 : 0;  // centre and radius
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
                for (std::size_t k = 0; k < corners; ++k) ok = ok && word() < vertices;
                ok = ok && (word() & 0x7FFF) < l.num_object_textures;
                word();  // effects
            }
        }
        expect(out, ok && vertices > 0, "mesh pointer " + std::to_string(i));
    }

    const std::size_t frame_bytes = l.frames.size() * 2;
    for (std::size_t i = 0; i < l.moveables.size(); ++i) {
        const std::uint8_t* m = l.moveables[i].bytes;
        const std::uint16_t meshes = at<std::uint16_t>(m, 4), anim = at<std::uint16_t>(m, 16);
        expect(out,
               meshes > 0 && at<std::uint16_t>(m, 6) + std::size_t{meshes} <= l.mesh_pointers.size() &&
                   at<std::uint32_t>(m, 8) + 4 * (std::size_t{meshes} - 1) <= l.mesh_trees.size() &&
                   (anim == 0xFFFF || (anim < l.animations.size() && at<std::uint32_t>(m, 12) < frame_bytes)),
               "moveable " + std::to_string(i));
    }
    for (std::size_t i = 0; i < l.static_meshes.size(); ++i)
        expect(out, at<std::uint16_t>(l.static_meshes[i].bytes, 4) < l.mesh_pointers.size(),
               "static mesh " + std::to_string(i));
    for (std::size_t i = 0; i < l.animations.size(); ++i) {
        const std::uint8_t* a = l.animations[i].bytes;
        const std::size_t rate = a[4], size = a[5], first = at<std::uint16_t>(a, 24), last = at<std::uint16_t>(a, 26);
        const bool frames = rate > 0 && first <= last &&
                            at<std::uint32_t>(a, 0) + ((last - first) / rate + 1) * size * 2 <= frame_bytes;
        expect(out,
               frames && at<std::uint16_t>(a, 28) < l.animations.size() &&
                   at<std::uint16_t>(a, 34) + std::size_t{at<std::uint16_t>(a, 32)} <= l.state_changes.size() &&
                   at<std::uint16_t>(a, 38) + std::size_t{at<std::uint16_t>(a, 36)} <= l.anim_commands.size(),
               "animation " + std::to_string(i));
    }
    for (std::size_t i = 0; i < l.state_changes.size(); ++i) {
        const std::uint8_t* s = l.state_changes[i].bytes;
        expect(out, at<std::uint16_t>(s, 4) + std::size_t{at<std::uint16_t>(s, 2)} <= l.anim_dispatches.size(),
               "state change " + std::to_string(i));
    }
    for (std::size_t i = 0; i < l.anim_dispatches.size(); ++i)
        expect(out, at<std::uint16_t>(l.anim_dispatches[i].bytes, 4) < l.animations.size(),
               "animation dispatch " + std::to_string(i));
    return out;
}

/// Items, AI objects, cameras and flyby cameras stand in existing rooms (items as existing
/// objects); sound sources, the sound map and the sample infos point inside their tables.
problems check_world(const Ttrlevel& l) {
    problems out;
    std::set<std::int32_t> objects;
    for (const auto& m : l.moveables) objects.insert(at<std::int32_t>(m.bytes, 0));
    for (const auto& s : l.sprite_sequences) objects.insert(at<std::int32_t>(s.bytes, 0));
    for (std::size_t i = 0; i < l.items.size(); ++i)
        expect(out, objects.count(static_cast<std::int16_t>(l.items[i].f0)) && l.items[i].f2 < l.num_rooms,
               "item " + std::to_string(i));
    for (std::size_t i = 0; i < l.ai_objects.size(); ++i)
        expect(out, at<std::uint16_t>(l.ai_objects[i].bytes, 2) < l.num_rooms, "AI object " + std::to_string(i));
    for (std::size_t i = 0; i < l.cameras.size(); ++i)
        expect(out, at<std::uint16_t>(l.cameras[i].bytes, 12) < l.num_rooms, "camera " + std::to_string(i));
    for (std::size_t i = 0; i < l.flyby_cameras.size(); ++i)
        expect(out, at<std::uint32_t>(l.flyby_cameras[i].bytes, 36) < l.num_rooms, "flyby camera " + std::to_string(i));

    const std::size_t sounds = l.version == level_trc ? 450 : 370;
    for (std::size_t i = 0; i < l.sound_sources.size(); ++i)
        expect(out, at<std::uint16_t>(l.sound_sources[i].bytes, 12) < sounds, "sound source " + std::to_string(i));
    for (std::size_t i = 0; i < sounds; ++i) {
        const std::int16_t entry = at<std::int16_t>(l.sound_map, 2 * i);
        expect(out, entry == -1 || (entry >= 0 && entry < l.num_sample_infos), "sound map entry " + std::to_string(i));
    }
    const std::uint32_t samples = l.sample_data_size >= 4 ? at<std::uint32_t>(l.sample_data.data(), 0) : 0;
    for (std::size_t i = 0; i < l.sample_infos.size(); ++i) {
        const std::uint8_t* s = l.sample_infos[i].bytes;
        expect(out, at<std::uint16_t>(s, 0) + std::size_t{at<std::uint16_t>(s, 6) >> 2 & 15u} <= samples,
               "sample info " + std::to_string(i));
    }
    return out;
}

/// The sample list: a count, then each sample's two sizes and a mono PCM RIFF WAVE file.
problems check_samples(const Ttrlevel& l) {
    problems out;
    const std::uint8_t* d = l.sample_data.data();
    const std::size_t size = l.sample_data_size;
    const std::uint32_t count = size >= 4 ? at<std::uint32_t>(d, 0) : 0;
    std::size_t pos = 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string where = "sample " + std::to_string(i);
        if (pos > size || size - pos < 8 + 44) {
            out.push_back(where);
            return out;
        }
        const std::uint32_t n = at<std::uint32_t>(d, pos);
        const std::uint8_t* w = d + pos + 8;
        const std::uint16_t align = at<std::uint16_t>(w, 32), bits = at<std::uint16_t>(w, 34);
        expect(out,
               n == at<std::uint32_t>(d, pos + 4) && n <= size - pos - 8 && std::memcmp(w, "RIFF", 4) == 0 &&
                   at<std::uint32_t>(w, 4) == n - 8 && std::memcmp(w + 8, "WAVEfmt ", 8) == 0 &&
                   at<std::uint32_t>(w, 16) == 16 && at<std::uint16_t>(w, 20) == 1 && at<std::uint16_t>(w, 22) == 1 &&
                   (bits == 8 || bits == 16) && align == bits / 8 &&
                   at<std::uint32_t>(w, 28) == at<std::uint32_t>(w, 24) * align && std::memcmp(w + 36, "data", 4) == 0 &&
                   at<std::uint32_t>(w, 40) == n - 44,
               where);
        pos += 8 + std::size_t{n};
    }
    expect(out, count > 0 && pos == size && count == l.sample_indices.size(), "sample list");
    return out;
}

TEST(ExampleLevel, EveryIndexPointsAtSomethingThatExists) {
    const auto l = load_example();
    ASSERT_EQ(l->version, level_trc);
    EXPECT_THAT(check_rooms(*l), IsEmpty());
    EXPECT_THAT(check_objects(*l), IsEmpty());
    EXPECT_THAT(check_world(*l), IsEmpty());
    EXPECT_THAT(check_samples(*l), IsEmpty());

    // Not vacuous: rooms joined by portals, with several layers somewhere, textured faces of
    // both kinds, items, meshes, animations, sounds and samples.
    EXPECT_EQ(l->num_rooms, 4);
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
    std::set<std::uint16_t> blends;
    for (const auto& t : l->object_textures) blends.insert(t.field_0);
    EXPECT_EQ(blends, (std::set<std::uint16_t>{0, 1}));  // opaque and alpha-tested
}

TEST(ExampleLevel, PlantedFaultsAreEachFoundInTheirPlace) {
    const auto l = load_example();
    ASSERT_GE(l->rooms[1].num_portals, 1);
    l->rooms[1].portals[0].bytes[0] = 9;                          // a room that does not exist
    l->rooms[2].sectors[3].bytes[3] = 0x40;                       // box 1039 of 4
    l->rooms[0].trc_num_rectangles += 1;                          // header total above the layers'
    std::swap(l->rooms[3].rectangles[4].corners[0], l->rooms[3].rectangles[4].corners[2]);  // turned away
    l->mesh_pointers[1] += 1;                                     // odd
    l->animations[1].bytes[28] = 40;                              // next animation
    l->anim_dispatches[0].bytes[4] = 9;                           // next animation
    l->items[2].f2 = 7;                                           // room
    l->sound_map[10] = 99;                                        // sound 5: sample info 99
    l->sound_map[11] = 0;
    l->sample_infos[0].bytes[0] = 50;                             // first sample
    EXPECT_THAT(check_rooms(*l), ElementsAre("room 0 portal 0 twin", "room 0 layers", "room 1 portal 0",
                                                 "room 2 sector 3", "room 3 rectangle 4"));
    EXPECT_THAT(check_objects(*l), ElementsAre("mesh pointer 1", "animation 1", "animation dispatch 0"));
    EXPECT_THAT(check_world(*l), ElementsAre("item 2", "sound map entry 5", "sample info 0"));
}

TEST(ExampleLevel, TexturePagesAreWholeAndAlikeInBothDepths) {
    const auto l = load_example();
    const std::size_t pages = std::size_t{l->num_room_textiles} + l->num_object_textiles + l->num_bump_textiles;
    ASSERT_GT(pages, 0u);
    ASSERT_EQ(l->textiles32_size, pages * 65536 * 4);
    ASSERT_EQ(l->textiles16_size, pages * 65536 * 2);
    EXPECT_EQ(l->num_textiles, pages);
    EXPECT_GT(l->textiles_misc_size, 0u);
    EXPECT_EQ(l->textiles_misc_size % (65536 * 4), 0u);

    // Each 16-bit pixel is its 32-bit pixel in A1R5G5B5; every page is a picture, not a fill.
    std::size_t mismatches = 0;
    std::set<std::string> distinct;  // the pages' bytes
    for (std::size_t p = 0; p < pages; ++p) {
        std::set<std::uint32_t> colours;
        for (std::size_t i = p * 65536; i < (p + 1) * 65536; ++i) {
            const std::uint8_t* c = l->textiles32.data() + 4 * i;
            const auto expected = static_cast<std::uint16_t>((c[3] >> 7) << 15 | (c[2] >> 3) << 10 | (c[1] >> 3) << 5 | c[0] >> 3);
            mismatches += at<std::uint16_t>(l->textiles16.data(), 2 * i) != expected;
            colours.insert(at<std::uint32_t>(c, 0));
        }
        EXPECT_GT(colours.size(), 8u) << "page " << p;
        distinct.emplace(reinterpret_cast<const char*>(l->textiles32.data()) + p * 262144, 262144);
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(distinct.size(), pages);
}

}  // namespace
