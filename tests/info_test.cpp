// quarlix-info on levels built from their byte layouts: clean levels of every version, one
// planted fault per check, the difference a conversion makes, the exit statuses and the JSON.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "driver/quarlix.h"
#include "info/quarlix_info.h"
#include "test_support.h"
#include "tools/levelgen.h"

using namespace levelgen;
using nlohmann::json;

namespace {

struct ran {
    int status;
    std::string text;
};

ran info(const std::vector<std::string>& args) {
    std::ostringstream out;
    const int status = quarlix::info::run(args, out);
    return {status, out.str()};
}

json info_json(std::vector<std::string> args, int expected_status) {
    args.insert(args.begin(), "--json");
    const ran r = info(args);
    EXPECT_EQ(r.status, expected_status) << r.text;
    return json::parse(r.text);
}

gen_record record(std::size_t size,
                  std::initializer_list<std::pair<std::size_t, std::uint32_t>> u16s,
                  std::initializer_list<std::pair<std::size_t, std::uint32_t>> u32s = {}) {
    gen_record r(size, 0);
    for (auto [at, v] : u16s) {
        r[at] = static_cast<std::uint8_t>(v);
        r[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    for (auto [at, v] : u32s) {
        for (int i = 0; i < 4; ++i)
            r[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    return r;
}

/// A sector: floor-data index, box field, room below, room above.
gen_record sector(std::uint16_t floor, std::uint16_t box, std::uint8_t below, std::uint8_t above) {
    gen_record r = record(8, {{0, floor}, {2, box}});
    r[4] = below;
    r[6] = above;
    return r;
}

/// A room of four vertices, one rectangle and one triangle, 2 x 2 sectors, and a portal to
/// `other`. Its sectors carry a box, a wall's 0x7FF box, no box (0xFFFF), and a room below.
gen_room clean_room(int version, std::uint16_t other, std::int32_t x) {
    gen_room room;
    room.pos_x = x;
    room.y_bottom = 0;
    room.y_top = -1024;
    room.z_sectors = room.x_sectors = 2;
    const std::uint16_t box1 = version <= 2 ? 1 : (1 << 4) | 2;
    const std::uint16_t wall = version <= 2 ? 0xFFFF : (0x7FF << 4) | 5;
    room.sectors = {sector(0, box1, 255, 255), sector(1, wall, other, 255),
                    sector(2, 0xFFFF, 255, 255), sector(0, 0, 255, other)};
    room.portals = {record(32, {{0, other}, {2, 1}})};
    room.vertices = {{0, 0, 0}, {1024, 0, 0}, {1024, 0, 1024}, {0, 0, 1024}};
    room.rectangles = {{{0, 1, 2, 3}, 1}};
    room.triangles = {{{0, 1, 2}, std::uint16_t(version <= 2 ? 0 : 0x8000)}}; // both sides
    room.alternate_room = -1;
    if (version == version_trc) {
        gen_layer layer;
        for (const gen_vertex& v : room.vertices) {
            layer.vertices.push_back({float(v.x), float(v.y), float(v.z)});
        }
        layer.rectangles = {{{0, 1, 2, 3}, 1}};
        layer.triangles = {{{0, 1, 2}, 0x4000}}; // bit 14: a layer face flag
        room.layers = {layer};
    }
    return room;
}

/// A level of the version in which every index leads somewhere.
gen_level clean_level(int version) {
    gen_level lv;
    lv.version = version;
    const bool newer = version >= version_tr4;
    if (version <= 5)
        lv.textiles8.assign(2 * 65536, 1);
    // Two pages, counted from the 16-bit chunk (the 32-bit one stays empty to keep files small).
    if (version >= 3)
        lv.textiles16.assign(2 * 131072, 2);
    if (newer)
        lv.num_room_textiles = 2;
    lv.rooms = {clean_room(version, 1, 0), clean_room(version, 0, 2048)};
    lv.floor_data = {0, 1, 2, 3};
    lv.mesh_data.assign(40, 0);
    lv.mesh_pointers = {0, 40};
    const std::size_t anim = newer ? 40 : 32, tail = newer ? 24 : 16;
    for (int a = 0; a < 2; ++a) {
        // Frames from byte 10 a, next animation the other, a state change and two commands.
        lv.animations.push_back(record(
            anim,
            {{tail + 4, 1u - a}, {tail + 8, 1}, {tail + 10, 0}, {tail + 12, 1}, {tail + 14, 1}},
            {{0, 10u * a}}));
    }
    lv.state_changes = {record(6, {{2, 2}, {4, 0}})};
    lv.anim_dispatches = {record(8, {{4, 1}}), record(8, {{4, 0}})};
    lv.anim_commands = {1, 2, 3};
    lv.mesh_trees = {0, 0, 0, 0};
    lv.frames.assign(20, 0);
    lv.moveables = {record(version == version_trc ? 20 : 18, {{4, 2}, {6, 0}, {16, 1}}, {{8, 0}})};
    lv.static_meshes = {record(32, {{4, 1}})};
    lv.object_textures = {record(40, {{2, 0}}), record(40, {{2, 0x8001}})}; // bit 15: triangle
    lv.sprite_textures = {record(16, {{0, 1}})};
    lv.cameras = {record(16, {{12, 1}})};
    if (newer)
        lv.flyby_cameras = {record(40, {}, {{36, 1}})};
    lv.sound_sources = {record(16, {{12, 5}})};
    lv.boxes = {gen_record(version <= 2 ? 20 : 8, 0), gen_record(version <= 2 ? 20 : 8, 0)};
    lv.items = {record(24, {{2, 0}}), record(24, {{2, 1}})};
    if (newer)
        lv.ai_objects = {record(24, {{2, 1}})};
    else
        lv.cinematic_frames = {gen_record(16, 0)};
    for (std::size_t i = 0; i < 900; i += 2)
        lv.sound_map[i] = lv.sound_map[i + 1] = 0xFF;
    lv.sound_map[10] = lv.sound_map[11] = 0;              // entry 5: sample info 0
    lv.sample_infos = {record(8, {{0, 1}, {6, 2 << 2}})}; // samples 1 and 2
    if (newer) {
        byte_writer w;
        w.u32(3);
        for (int s = 0; s < 3; ++s)
            w.u32(6), w.u32(6), w.text("RIFF..");
        lv.sample_data = w.take();
    }
    return lv;
}

struct level_files {
    quarlix::test::scratch_dir dir;
    std::string write(const gen_level& lv, const std::string& name) {
        const std::string path = dir.file(name);
        quarlix::test::write_bytes(path, file_bytes(lv));
        return path;
    }
};

std::string name_of(int version) {
    // The name test tells versions 1 and 2, 3 and 4, TR4 and TRC apart.
    const char* names[] = {"",          "level.phd", "level.tub", "level.tr2",
                           "level.trg", "level.tr3", "level.tr4", "level.trc"};
    return names[version];
}

} // namespace

TEST(QuarlixInfo, CleanLevelOfEveryVersionReportsNothingAndTheBuildersCounts) {
    level_files files;
    for (int version = 1; version <= 7; ++version) {
        SCOPED_TRACE("version " + std::to_string(version));
        const gen_level lv = clean_level(version);
        const json s = info_json({"--check", files.write(lv, name_of(version))}, 0);
        for (const char* key : {"file", "file_size", "version", "format", "first_word", "name_test",
                                "container", "textiles", "chunks", "marked", "counts", "rooms",
                                "sections", "samples", "problems"}) {
            EXPECT_TRUE(s.contains(key)) << key;
        }
        EXPECT_EQ(s["problems"], json::array()) << s["problems"].dump(1);
        EXPECT_EQ(s["version"], version);
        EXPECT_FALSE(s["container"].get<bool>());
        EXPECT_FALSE(s["marked"].get<bool>());
        const json& c = s["counts"];
        EXPECT_EQ(c.size(), 27u);
        const std::pair<const char*, std::size_t> expected[] = {
            {"rooms", lv.rooms.size()},
            {"floor_data", lv.floor_data.size()},
            {"mesh_data", lv.mesh_data.size()},
            {"mesh_pointers", lv.mesh_pointers.size()},
            {"animations", lv.animations.size()},
            {"state_changes", lv.state_changes.size()},
            {"anim_dispatches", lv.anim_dispatches.size()},
            {"anim_commands", lv.anim_commands.size()},
            {"mesh_trees", lv.mesh_trees.size()},
            {"frames", lv.frames.size()},
            {"moveables", lv.moveables.size()},
            {"static_meshes", lv.static_meshes.size()},
            {"object_textures", lv.object_textures.size()},
            {"sprite_textures", lv.sprite_textures.size()},
            {"cameras", lv.cameras.size()},
            {"flyby_cameras", lv.flyby_cameras.size()},
            {"sound_sources", lv.sound_sources.size()},
            {"boxes", lv.boxes.size()},
            {"zones", lv.boxes.size()},
            {"items", lv.items.size()},
            {"ai_objects", version >= 6 ? lv.ai_objects.size() : lv.cinematic_frames.size()},
            {"sample_infos", lv.sample_infos.size()}};
        for (auto [key, n] : expected)
            EXPECT_EQ(c[key], n) << key;
        ASSERT_EQ(s["rooms"].size(), 2u);
        const json& room = s["rooms"][1];
        for (const char* key : {"vertices", "rectangles", "triangles", "sectors_z", "sectors_x",
                                "portals", "layers"}) {
            EXPECT_TRUE(room.contains(key)) << key;
        }
        EXPECT_EQ(room["vertices"], 4);
        EXPECT_EQ(room["rectangles"], 1);
        EXPECT_EQ(room["triangles"], 1);
        EXPECT_EQ(room["portals"], json::array({0}));
        EXPECT_EQ(room["layers"], version == 7 ? json(1) : json(nullptr));
        EXPECT_EQ(s["samples"]["count"], version >= 6 ? json(3) : json(nullptr));
        // The moveable owns the animations from its first to the end; both items show object 0.
        EXPECT_EQ(
            s["objects"]["moveables"],
            json::parse(R"([{"index":0,"object_id":0,"meshes":2,"animations":1,"keyframes":0}])"));
        EXPECT_EQ(s["objects"]["static_meshes"], json::parse(R"([{"index":0,"id":0,"mesh":1}])"));
        EXPECT_EQ(s["objects"]["items"], json::parse(R"([{"object_id":0,"count":2}])"));
    }
    // The example's lever: four meshes, two animations of three and four keyframes.
    const json example =
        info_json({files.write(levelgen::bundled_example_level(), "example.trc")}, 0);
    EXPECT_EQ(example["objects"]["moveables"].back(),
              json::parse(R"({"index":3,"object_id":4,"meshes":4,"animations":2,"keyframes":7})"));
}

TEST(QuarlixInfo, EachPlantedFaultIsFoundOnceWithItsPlace) {
    struct fault {
        const char* where;
        std::function<void(gen_level&)> plant;
        int versions;             // bit v: planted in version v
        std::size_t probe_at = 0; // 16-bit word within the record at the reported offset
        int probe = -1;           // its planted value; -1: the offset is not checked
    };
    const int all = 0xFE, newer = 0xC0, older_and_tr4 = 0x7E;
    const fault faults[] = {
        {"room 0 portal 0", [](gen_level& l) { l.rooms[0].portals[0][0] = 2; }, all, 0, 2},
        {"room 1 sector 2", [](gen_level& l) { l.rooms[1].sectors[2][4] = 7; }, all, 4, 7},
        {"room 1 sector 2", [](gen_level& l) { l.rooms[1].sectors[2][6] = 9; }, all, 6, 9},
        {"room 0 sector 3",
         [](gen_level& l) { l.rooms[0].sectors[3][2] = l.version <= 2 ? 2 : 2 << 4; }, all, 2, -1},
        {"room 0 sector 1", [](gen_level& l) { l.rooms[0].sectors[1][0] = 4; }, all, 0, 4},
        {"room 1 rectangle 0", [](gen_level& l) { l.rooms[1].rectangles[0].corners[2] = 4; },
         older_and_tr4, 4, 4},
        {"room 0 triangle 0", [](gen_level& l) { l.rooms[0].triangles[0].texture = 0x8002; },
         older_and_tr4, 6, 0x8002},
        {"room 1 layer 0 rectangle 0",
         [](gen_level& l) { l.rooms[1].layers[0].rectangles[0].corners[3] = 4; }, 0x80, 6, 4},
        {"room 0 layer 0 triangle 0",
         [](gen_level& l) { l.rooms[0].layers[0].triangles[0].texture = 0x4002; }, 0x80, 6, 0x4002},
        {"room 1", [](gen_level& l) { l.rooms[1].trc_num_rectangles = 2; }, 0x80},
        {"room 1",
         [](gen_level& l) { l.rooms[1].alternate_room = l.rooms[1].trc_alternate_room = 2; }, all},
        {"object texture 1", [](gen_level& l) { l.object_textures[1][2] = 2; }, all, 2, 0x8002},
        {"sprite texture 0", [](gen_level& l) { l.sprite_textures[0][0] = 2; }, all, 0, 2},
        {"mesh pointer 1", [](gen_level& l) { l.mesh_pointers[1] = 42; }, all, 0,
         42}, // 4-byte boundary
        {"mesh pointer 0", [](gen_level& l) { l.mesh_pointers[0] = 80; }, all, 0, 80},
        {"moveable 0", [](gen_level& l) { l.moveables[0][6] = 1; }, all, 6, 1},
        {"moveable 0", [](gen_level& l) { l.moveables[0][8] = 1; }, all, 8, 1},
        {"moveable 0", [](gen_level& l) { l.moveables[0][16] = 2; }, all, 16, 2},
        {"static mesh 0", [](gen_level& l) { l.static_meshes[0][4] = 2; }, all, 4, 2},
        {"animation 1", [](gen_level& l) { l.animations[1][0] = 40; }, all, 0, 40},
        {"animation 1", [](gen_level& l) { l.animations[1][l.version >= 6 ? 34 : 26] = 1; }, all},
        {"animation 1", [](gen_level& l) { l.animations[1][l.version >= 6 ? 38 : 30] = 3; }, all},
        {"animation 0", [](gen_level& l) { l.animations[0][l.version >= 6 ? 28 : 20] = 2; }, all},
        {"state change 0", [](gen_level& l) { l.state_changes[0][4] = 1; }, all, 4, 1},
        {"item 1", [](gen_level& l) { l.items[1][2] = 2; }, all, 2, 2},
        {"AI object 0", [](gen_level& l) { l.ai_objects[0][3] = 0x80; }, newer, 2, 0x8001},
        {"camera 0", [](gen_level& l) { l.cameras[0][12] = 3; }, all, 12, 3},
        {"flyby camera 0", [](gen_level& l) { l.flyby_cameras[0][36] = 2; }, newer, 36, 2},
        {"sound source 0", [](gen_level& l) { l.sound_sources[0][13] = l.version <= 2 ? 1 : 2; },
         all},
        {"sound map entry 12", [](gen_level& l) { l.sound_map[24] = 1, l.sound_map[25] = 0; },
         newer, 0, 1},
        {"sample info 0", [](gen_level& l) { l.sample_infos[0][0] = 2; }, newer, 0, 2},
    };
    level_files files;
    for (const fault& f : faults) {
        for (int version = 1; version <= 7; ++version) {
            if ((f.versions & (1 << version)) == 0)
                continue;
            SCOPED_TRACE(std::string(f.where) + ", version " + std::to_string(version));
            gen_level lv = clean_level(version);
            f.plant(lv);
            const json s = info_json({"--check", files.write(lv, name_of(version))}, 1);
            ASSERT_EQ(s["problems"].size(), 1u) << s["problems"].dump(1);
            const json& p = s["problems"][0];
            EXPECT_EQ(p["where"], f.where) << p["message"];
            if (f.probe < 0)
                continue;
            // The offset names the planted record: in the level data of TR4, else in the file.
            const bool tr4 = version == version_tr4;
            ASSERT_EQ(p["offset_in"], tr4 ? "level-data offset" : "file offset");
            const auto data = tr4 ? level_data_bytes(lv) : file_bytes(lv);
            EXPECT_EQ(get_u16(data, p["offset"].get<std::size_t>() + f.probe_at), f.probe);
        }
    }
}

TEST(QuarlixInfo, ConversionDifferenceAndWhatItLeavesDangling) {
    level_files files;
    const std::string trc = files.write(clean_level(version_trc), "level.trc");
    const std::string tr4 = files.dir.file("level.tr4");
    std::ostringstream ignored;
    ASSERT_EQ(quarlix::run({trc, tr4}, ignored), 0);

    const ran diff = info({trc, tr4});
    EXPECT_EQ(diff.status, 0);
    EXPECT_NE(diff.text.find("* version"), std::string::npos) << diff.text;
    EXPECT_NE(diff.text.find("* rooms "), std::string::npos);
    EXPECT_NE(diff.text.find("* room 0 layers "), std::string::npos); // TRC only
    EXPECT_NE(diff.text.find("\n  room 0 vertices "), std::string::npos);
    // The dropped room: one row, its fields left out.
    const std::size_t dropped = diff.text.find("* room 1 ");
    ASSERT_NE(dropped, std::string::npos);
    EXPECT_EQ(diff.text.substr(dropped, diff.text.find('\n', dropped) - dropped).rfind("(none)"),
              diff.text.find('\n', dropped) - dropped - 6);
    EXPECT_EQ(diff.text.find("room 1 vertices"), std::string::npos);
    EXPECT_NE(diff.text.find("\n  section mesh_data "), std::string::npos); // kept alike

    const json both = info_json({"--check", trc, tr4}, 1);
    const json& left = both["left"];
    const json& right = both["right"];
    EXPECT_EQ(left["problems"], json::array());
    EXPECT_TRUE(right["marked"].get<bool>());
    EXPECT_EQ(right["counts"]["rooms"], 1);
    EXPECT_EQ(right["counts"]["boxes"], 0);
    EXPECT_EQ(right["counts"]["items"], 1);
    EXPECT_EQ(right["counts"]["floor_data"], 451);
    EXPECT_EQ(right["rooms"][0]["portals"], json::array({1}));
    // The portal, the sectors and the AI object still name the dropped room and boxes, and
    // the triangle keeps the TRC layer flag (bit 14), which TR4 reads as part of its index.
    std::vector<std::string> places;
    for (const json& p : right["problems"])
        places.push_back(p["where"]);
    EXPECT_EQ(places,
              (std::vector<std::string>{"room 0 portal 0", "room 0 sector 0", "room 0 sector 1",
                                        "room 0 sector 3", "room 0 sector 3", "room 0 triangle 0",
                                        "AI object 0"}))
        << right["problems"].dump(1);
}

TEST(QuarlixInfo, ProblemsOfOneKindAreListedUpToTheBoundWithTheCountOfTheRest) {
    level_files files;
    gen_level lv = clean_level(version_tr4);
    for (gen_room& room : lv.rooms) {
        room.z_sectors = room.x_sectors = 32;
        room.sectors.assign(1024, sector(0, (9 << 4) | 2, 255, 255)); // box 9 of 2
    }
    lv.items[0][2] = 9; // one problem of another kind, after them
    const std::string path = files.write(lv, "many.tr4");

    const ran text = info({"--check", path});
    EXPECT_EQ(text.status, 1);
    const auto lines_with = [&](const std::string& part) {
        std::size_t n = 0;
        for (std::size_t at = text.text.find(part); at != std::string::npos;
             at = text.text.find(part, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_NE(text.text.find("\n2049 problems found:\n  room 0 sector 0 (level-data offset "),
              std::string::npos);
    EXPECT_EQ(lines_with(": box 9 is beyond the 2 boxes\n"), 1000u);
    EXPECT_EQ(lines_with("  room 0 sector 999 ("), 1u);
    EXPECT_EQ(lines_with("  room 0 sector 1000 ("), 0u);
    EXPECT_NE(text.text.find("\n  item 0 (level-data offset "), std::string::npos);
    EXPECT_TRUE(
        text.text.ends_with("\n  ... 1048 more: room N sector N: box N is beyond the N boxes\n"));

    const json j = info_json({"--check", path}, 1);
    EXPECT_EQ(j["problems"].size(), 1001u);
    EXPECT_EQ(j["problems"][999]["where"], "room 0 sector 999");
    EXPECT_EQ(j["problems"][1000]["where"], "item 0");
    EXPECT_EQ(j["problems_unlisted"],
              json::parse(
                  R"([{"kind": "room N sector N: box N is beyond the N boxes", "count": 1048}])"));
    // Below the bound nothing changes: no key is added.
    const json clean =
        info_json({"--check", files.write(clean_level(version_tr4), "clean.tr4")}, 0);
    EXPECT_FALSE(clean.contains("problems_unlisted"));
}

TEST(QuarlixInfo, ExitStatusesAndTheirReports) {
    level_files files;
    gen_level broken = clean_level(version_tr4);
    broken.items[0][2] = 9;
    const std::string clean = files.write(clean_level(version_tr4), "clean.tr4");
    const std::string faulty = files.write(broken, "faulty.tr4");
    auto truncated = file_bytes(clean_level(version_trc));
    truncated.resize(truncated.size() - 200);
    const std::string cut = files.dir.file("cut.trc");
    quarlix::test::write_bytes(cut, truncated);
    const std::string notes = files.dir.file("notes.trc");
    quarlix::test::write_bytes(notes, std::vector<std::uint8_t>{'n', 'o', 't', 'e', 's', '\n'});
    const std::string missing = files.dir.file("missing.tr4");
    const std::string empty = files.dir.file("empty.tr4");
    quarlix::test::write_bytes(empty, std::vector<std::uint8_t>{});

    EXPECT_EQ(info({clean}).status, 0);
    EXPECT_EQ(info({"--check", clean}).status, 0);
    EXPECT_EQ(info({faulty}).status, 0);
    const ran found = info({"--check", faulty});
    EXPECT_EQ(found.status, 1);
    EXPECT_NE(found.text.find("1 problem found:\n  item 0 (level-data offset "), std::string::npos)
        << found.text;
    EXPECT_EQ(info({"--check", clean, faulty}).status, 1);

    // Unreadable: the converter's one-line report, also when the other level reads well.
    const std::pair<std::string, std::string> unreadable[] = {
        {missing, "EInOutError: cannot open file '" + missing + "' for reading\n"},
        {notes, "ELevelFormatError: '" + notes +
                    "' is not a level of any known version (first word 0x65746F6E)\n"},
        {empty, "ELevelFormatError: '" + empty +
                    "' is not a level of any known version (first word 0x00000000)\n"},
        {cut, ""}};
    for (const auto& [file, line] : unreadable) {
        const ran r = info({"--check", clean, file});
        EXPECT_EQ(r.status, 2) << file;
        if (!line.empty()) {
            EXPECT_EQ(r.text, line);
        }
        EXPECT_EQ(std::count(r.text.begin(), r.text.end(), '\n'), 1) << r.text;
        const json j = info_json({file}, 2);
        EXPECT_TRUE(j["error"].contains("kind") && j["error"].contains("message")) << j.dump();
    }
    EXPECT_EQ(info({cut}).text.rfind("ELevelFormatError: ", 0), 0u);

    // Bad usage, whatever CLI11 would have returned.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--frobnicate", clean}, {clean, clean, clean}}) {
        const ran r = info(args);
        EXPECT_EQ(r.status, 3) << r.text;
        EXPECT_FALSE(r.text.empty());
    }
    const ran help = info({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.text.find("--check"), std::string::npos);
    EXPECT_NE(help.text.find("Exit status"), std::string::npos);
    EXPECT_EQ(info({"--version"}).text, "quarlix-info 1.0\n");
}
