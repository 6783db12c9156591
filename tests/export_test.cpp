// quarlix-export: what it writes, decoded again and compared with the level it came from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "driver/quarlix.h"
#include "export/model.h"
#include "export/quarlix_export.h"
#include "level/trunit2.h"
#include "tests/test_support.h"
#include "tools/levelgen.h"

#define STB_IMAGE_IMPLEMENTATION
#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

namespace quarlix::test {
namespace {

namespace fs = std::filesystem;

struct run_result {
    int status;
    std::string output;
};

run_result export_level(const std::vector<std::string>& args) {
    std::ostringstream out;
    const int status = exporting::run(args, out);
    return {status, out.str()};
}

/// Every file under a directory with its bytes, by relative name.
std::map<std::string, std::vector<std::uint8_t>> tree(const fs::path& dir) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    if (!fs::exists(dir)) {
        return files;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        files[fs::relative(entry.path(), dir).generic_string()] =
            entry.is_regular_file() ? read_bytes(entry.path().string()) : std::vector<std::uint8_t>{};
    }
    return files;
}

void put16(levelgen::gen_record& rec, std::size_t at, std::uint16_t v) {
    rec[at] = static_cast<std::uint8_t>(v);
    rec[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

/// A RIFF WAVE file of n sample bytes (8-bit mono).
std::vector<std::uint8_t> wave_file(std::uint32_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> w(44 + n);
    auto u32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(w.data() + at, &v, 4); };
    std::memcpy(w.data(), "RIFF", 4);
    u32(4, 36 + n);
    std::memcpy(w.data() + 8, "WAVEfmt ", 8);
    u32(16, 16);
    u32(20, 1 | 1u << 16);
    u32(24, 11025);
    u32(28, 11025);
    u32(32, 1 | 8u << 16);
    std::memcpy(w.data() + 36, "data", 4);
    u32(40, n);
    for (std::uint32_t i = 0; i < n; ++i) w[44 + i] = static_cast<std::uint8_t>(seed + i * 7);
    return w;
}

/// Sample data of TR4 and TRC: a count, then unpacked size, stored size and bytes per sample.
std::vector<std::uint8_t> sample_list(const std::vector<std::vector<std::uint8_t>>& samples) {
    std::vector<std::uint8_t> out(4);
    const auto n = static_cast<std::uint32_t>(samples.size());
    std::memcpy(out.data(), &n, 4);
    for (const auto& s : samples) {
        const auto size = static_cast<std::uint32_t>(s.size());
        out.insert(out.end(), reinterpret_cast<const std::uint8_t*>(&size), reinterpret_cast<const std::uint8_t*>(&size) + 4);
        out.insert(out.end(), reinterpret_cast<const std::uint8_t*>(&size), reinterpret_cast<const std::uint8_t*>(&size) + 4);
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

/// A generated level whose faces use valid object textures: six textures over the pages with
/// every blend kind, a triangle texture, two-sided faces and (TRC) the layer flag bit 14;
/// transparent texels in every pixel form; for TR4 and TRC a sample list with one sample that
/// is not a WAVE file.
levelgen::gen_level textured_level(int version, std::uint32_t seed) {
    levelgen::gen_level lv = levelgen::make_example_level(version, seed);
    const std::uint32_t pages = 1 + seed % 2;
    lv.object_textures.clear();
    for (std::uint16_t i = 0; i < 6; ++i) {
        levelgen::gen_record t(40, 0);
        put16(t, 0, static_cast<std::uint16_t>(i % 3));
        put16(t, 2, static_cast<std::uint16_t>((i % pages) | (version >= 6 && i == 5 ? 0x8000 : 0)));
        for (std::size_t c = 0; c < 4; ++c) {
            const auto u = static_cast<std::uint16_t>((16 * i + 48 * (c == 1 || c == 2)) << 8 | 0x80);
            const auto v = static_cast<std::uint16_t>((8 * i + 40 * (c >= 2)) << 8 | (c == 3 ? 0xFF : 0));
            put16(t, 6 + 4 * c, u);
            put16(t, 8 + 4 * c, v);
        }
        lv.object_textures.push_back(t);
    }
    auto word = [&](std::size_t k) {
        std::uint16_t w = static_cast<std::uint16_t>(k % 6);
        if (version >= 3 && k % 2 == 1) w |= 0x8000;
        if (version == 7 && k % 3 == 0) w |= 0x4000;
        return w;
    };
    std::size_t k = 0;
    for (auto& room : lv.rooms) {
        for (auto& f : room.rectangles) f.texture = word(k++);
        for (auto& f : room.triangles) f.texture = word(k++);
        for (auto& layer : room.layers) {
            for (auto& f : layer.rectangles) f.texture = word(k++);
            for (auto& f : layer.triangles) f.texture = word(k++);
        }
    }
    // Transparent texels: alpha 0 in 32-bit, top bit clear in 16-bit, index 0 in 8-bit.
    for (std::size_t i = 0; i < 300; i += 3) {
        if (!lv.textiles32.empty()) lv.textiles32[4 * (i * 97) + 3] = static_cast<std::uint8_t>(i);
        if (!lv.textiles16.empty()) lv.textiles16[2 * (i * 89) + 1] &= 0x7F;
        if (!lv.textiles8.empty()) lv.textiles8[i * 83] = 0;
    }
    if (!lv.textiles_misc.empty()) lv.textiles_misc = levelgen::textile_pixels(1, 4, seed + 3);
    if (version >= 6) {
        std::vector<std::uint8_t> not_wave = wave_file(10, 1);
        std::memcpy(not_wave.data() + 8, "AVI ", 4);
        lv.sample_data = sample_list({wave_file(100, 3), not_wave, wave_file(33, 9)});
    }
    return lv;
}

std::string write_level(const scratch_dir& dir, const std::string& name, const levelgen::gen_level& lv) {
    const std::string path = dir.file(name);
    write_bytes(path, levelgen::file_bytes(lv));
    return path;
}

std::string level_name(int version) {
    return version == 7 ? "level.trc" : version == 6 ? "level.tr4" : version == 2 ? "level.tub" : "level.phd";
}

std::uint8_t widen5(unsigned c) { return static_cast<std::uint8_t>(c << 3 | c >> 2); }

/// The RGBA that a texel of a stored page stands for.
std::array<std::uint8_t, 4> expected_texel(const std::vector<std::uint8_t>& page, int bytes,
                                           std::size_t i, const std::vector<std::uint8_t>& palette) {
    if (bytes == 4) return {page[4 * i + 2], page[4 * i + 1], page[4 * i], page[4 * i + 3]};
    if (bytes == 2) {
        const unsigned c = page[2 * i] | page[2 * i + 1] << 8;
        return {widen5(c >> 10 & 31), widen5(c >> 5 & 31), widen5(c & 31), std::uint8_t(c & 0x8000 ? 255 : 0)};
    }
    const std::size_t x = page[i];
    return {std::uint8_t(palette[3 * x] * 4), std::uint8_t(palette[3 * x + 1] * 4), std::uint8_t(palette[3 * x + 2] * 4),
            std::uint8_t(x == 0 ? 0 : 255)};
}

TEST(Export, PagesOfEveryPixelFormReadBackAsTheirTexels) {
    for (const int version : {1, 3, 6, 7}) {
        SCOPED_TRACE("version " + std::to_string(version));
        scratch_dir dir;
        const levelgen::gen_level lv = textured_level(version, 1);  // two pages of each form
        const std::string level = write_level(dir, level_name(version), lv);
        const run_result r = export_level({level, dir.file("out"), "--textures"});
        ASSERT_EQ(r.status, 0) << r.output;

        struct form { const char* prefix; const std::vector<std::uint8_t>* texels; int bytes; };
        std::vector<form> forms;
        if (version >= 6) {
            forms = {{"page32", &lv.textiles32, 4}, {"page16", &lv.textiles16, 2}, {"misc", &lv.textiles_misc, 4}};
        } else {
            forms = {{"page8", &lv.textiles8, 1}};
            if (version >= 3) forms.push_back({"page16", &lv.textiles16, 2});
        }
        std::set<std::string> expected_names;
        std::size_t transparent = 0;
        for (const form& f : forms) {
            const std::size_t page_bytes = 65536 * static_cast<std::size_t>(f.bytes);
            for (std::size_t p = 0; p < f.texels->size() / page_bytes; ++p) {
                char name[64];
                std::snprintf(name, sizeof name, "textures/%s-%03zu.png", f.prefix, p);
                expected_names.insert(name);
                const std::vector<std::uint8_t> png = read_bytes(dir.file("out/") + name);
                int w = 0, h = 0, n = 0;
                std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
                    stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &n, 4), stbi_image_free);
                ASSERT_TRUE(pixels) << name;
                ASSERT_EQ(w, 256);
                ASSERT_EQ(h, 256);
                const std::vector<std::uint8_t> page(f.texels->begin() + static_cast<std::ptrdiff_t>(p * page_bytes),
                                                     f.texels->begin() + static_cast<std::ptrdiff_t>((p + 1) * page_bytes));
                for (std::size_t i = 0; i < 65536; ++i) {
                    const auto want = expected_texel(page, f.bytes, i, lv.palette8);
                    ASSERT_EQ(0, std::memcmp(pixels.get() + 4 * i, want.data(), 4))
                        << name << " texel " << i % 256 << "," << i / 256;
                    transparent += want[3] == 0;
                }
            }
        }
        EXPECT_GT(transparent, 0u);
        std::set<std::string> written;
        for (const auto& [name, bytes] : tree(dir.path() / "out")) {
            if (!bytes.empty()) written.insert(name);
        }
        EXPECT_EQ(written, expected_names);
    }
}

TEST(Export, SamplesAreTheStoredWaveFilesAndOthersAreSkipped) {
    for (const int version : {6, 7}) {
        SCOPED_TRACE("version " + std::to_string(version));
        scratch_dir dir;
        levelgen::gen_level lv = textured_level(version, 2);
        const std::string level = write_level(dir, level_name(version), lv);
        const run_result r = export_level({level, dir.file("out"), "--sounds"});
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("sample 1 (54 bytes at sample-data byte "), std::string::npos) << r.output;
        const auto files = tree(dir.path() / "out");
        ASSERT_EQ(files.size(), 3u);  // sounds/ and two samples
        EXPECT_EQ(files.at("sounds/sample-0000.wav"), wave_file(100, 3));
        EXPECT_EQ(files.at("sounds/sample-0002.wav"), wave_file(33, 9));

        // A list cut short: the whole samples before the cut are written, the cut is reported.
        lv.sample_data.resize(lv.sample_data.size() - 5);
        write_level(dir, level_name(version), lv);
        const run_result cut = export_level({level, dir.file("cut"), "--sounds"});
        ASSERT_EQ(cut.status, 0) << cut.output;
        EXPECT_NE(cut.output.find("sample 2 of 3: its 77 bytes at byte "), std::string::npos) << cut.output;
        EXPECT_EQ(tree(dir.path() / "cut").size(), 2u);
    }
}

// ---- The model, read back with an independent glTF loader ---------------------------------

std::vector<float> floats_of(const tinygltf::Model& m, int accessor) {
    const tinygltf::Accessor& a = m.accessors.at(static_cast<std::size_t>(accessor));
    const tinygltf::BufferView& v = m.bufferViews.at(static_cast<std::size_t>(a.bufferView));
    EXPECT_EQ(a.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
    const std::size_t n = a.count * static_cast<std::size_t>(tinygltf::GetNumComponentsInType(a.type));
    std::vector<float> out(n);
    std::memcpy(out.data(), m.buffers.at(0).data.data() + v.byteOffset + a.byteOffset, n * 4);
    return out;
}

std::vector<std::uint32_t> indices_of(const tinygltf::Model& m, int accessor) {
    const tinygltf::Accessor& a = m.accessors.at(static_cast<std::size_t>(accessor));
    const tinygltf::BufferView& v = m.bufferViews.at(static_cast<std::size_t>(a.bufferView));
    EXPECT_EQ(a.componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT);
    std::vector<std::uint32_t> out(a.count);
    std::memcpy(out.data(), m.buffers.at(0).data.data() + v.byteOffset + a.byteOffset, a.count * 4);
    return out;
}

std::string corner_text(float x, float y, float z, const float* uv, const float* rgb) {
    char s[256];
    std::snprintf(s, sizeof s, "(%.9g %.9g %.9g", x, y, z);
    std::string out = s;
    if (uv != nullptr) {
        std::snprintf(s, sizeof s, " uv %.9g %.9g", uv[0], uv[1]);
        out += s;
    }
    std::snprintf(s, sizeof s, " rgb %.6f %.6f %.6f)", rgb[0], rgb[1], rgb[2]);
    return out + s;
}

/// Every triangle of a room as text: corners in glTF order, then its material's image, alpha
/// mode and sidedness.
std::multiset<std::string> triangles_read_back(const tinygltf::Model& m, const tinygltf::Node& node) {
    std::multiset<std::string> out;
    if (node.mesh < 0) return out;
    for (const tinygltf::Primitive& p : m.meshes.at(static_cast<std::size_t>(node.mesh)).primitives) {
        const tinygltf::Material& mat = m.materials.at(static_cast<std::size_t>(p.material));
        const int texture = mat.pbrMetallicRoughness.baseColorTexture.index;
        const std::string image =
            texture < 0 ? "none" : m.images.at(static_cast<std::size_t>(m.textures.at(static_cast<std::size_t>(texture)).source)).name;
        const std::vector<float> pos = floats_of(m, p.attributes.at("POSITION"));
        const std::vector<float> rgb = floats_of(m, p.attributes.at("COLOR_0"));
        std::vector<float> uv;
        if (p.attributes.count("TEXCOORD_0") != 0) uv = floats_of(m, p.attributes.at("TEXCOORD_0"));
        EXPECT_EQ(uv.empty(), texture < 0);
        const std::vector<std::uint32_t> idx = indices_of(m, p.indices);
        for (std::size_t t = 0; t + 2 < idx.size(); t += 3) {
            std::string text;
            for (std::size_t c = 0; c < 3; ++c) {
                const std::size_t i = idx[t + c];
                text += corner_text(pos.at(3 * i), pos.at(3 * i + 1), pos.at(3 * i + 2),
                                    uv.empty() ? nullptr : &uv.at(2 * i), &rgb.at(3 * i));
            }
            out.insert(text + " " + image + " " + mat.alphaMode + (mat.doubleSided ? " two-sided" : ""));
        }
    }
    return out;
}

/// The same from the loaded level's room tables: corners turned to y up, z toward the viewer,
/// scaled to metres, each face's corner order reversed.
std::multiset<std::string> triangles_expected(const Ttrlevel& level, const troom& room) {
    std::multiset<std::string> out;
    const char* form = level.version >= 6 ? "page32" : level.version >= 3 ? "page16" : "page8";
    auto face = [&](const std::uint16_t* corners, std::size_t n, std::uint16_t word) {
        for (std::size_t c = 0; c < n; ++c) {
            if (corners[c] >= room.num_vertices) return;
        }
        const std::uint16_t index = word & (level.version == 7 ? 0x3FFF : 0x7FFF);
        const tobject_texture& t = level.object_textures.at(index);
        const char* alpha = t.blend_mode == 0 ? "OPAQUE" : t.blend_mode == 1 ? "MASK" : "BLEND";
        char image[32];
        std::snprintf(image, sizeof image, "%s-%03u", form, t.page_word & 0x7FFFu);
        const bool two_sided = level.version >= 3 && (word & 0x8000) != 0;
        auto corner = [&](std::size_t c) {
            const troom_vertex& v = room.vertices[corners[c]];
            const std::uint16_t u = t.corners[c].u, w = t.corners[c].v;
            const float uv[2] = {u / 65536.0f, w / 65536.0f};
            const float grey = (31 - std::min<int>(static_cast<std::uint16_t>(v.lighting) >> 8, 31)) / 31.0f;
            const float rgb[3] = {level.version <= 2 ? grey : (v.colour >> 10 & 31) / 31.0f,
                                  level.version <= 2 ? grey : (v.colour >> 5 & 31) / 31.0f,
                                  level.version <= 2 ? grey : (v.colour & 31) / 31.0f};
            return corner_text(v.x / 1024.0f, -v.y / 1024.0f, -v.z / 1024.0f, uv, rgb);
        };
        const std::string tail = std::string(" ") + image + " " + alpha + (two_sided ? " two-sided" : "");
        out.insert(corner(0) + corner(2) + corner(1) + tail);
        if (n == 4) out.insert(corner(0) + corner(3) + corner(2) + tail);
    };
    for (std::size_t i = 0; i < room.num_rectangles; ++i) face(room.rectangles[i].corners, 4, room.rectangles[i].texture);
    for (std::size_t i = 0; i < room.num_triangles; ++i) face(room.triangles[i].corners, 3, room.triangles[i].texture);
    return out;
}

tinygltf::Model load_glb(const std::string& path) {
    tinygltf::TinyGLTF loader;
    tinygltf::Model model;
    std::string err, warn;
    const std::vector<std::uint8_t> bytes = read_bytes(path);
    EXPECT_TRUE(loader.LoadBinaryFromMemory(&model, &err, &warn, bytes.data(), static_cast<unsigned>(bytes.size())))
        << err;
    EXPECT_EQ(warn, "");
    return model;
}

TEST(Export, ModelRoomsReadBackAsTheRoomTables) {
    for (const int version : {1, 2, 3, 5, 6, 7}) {
        SCOPED_TRACE("version " + std::to_string(version));
        scratch_dir dir;
        const std::string level = write_level(dir, level_name(version), textured_level(version, 1));
        const run_result r = export_level({level, dir.file("out"), "--model"});
        ASSERT_EQ(r.status, 0) << r.output;
        Ttrlevel loaded;
        ASSERT_EQ(loaded.load(level), 0);
        const tinygltf::Model m = load_glb(dir.file("out/level.glb"));
        ASSERT_EQ(m.nodes.size(), loaded.rooms.size());
        ASSERT_EQ(m.scenes.at(0).nodes.size(), loaded.rooms.size());
        std::size_t two_sided = 0, faces = 0;
        for (std::size_t i = 0; i < loaded.rooms.size(); ++i) {
            const troom& room = loaded.rooms[i];
            const tinygltf::Node& node = m.nodes[i];
            EXPECT_EQ(node.name, "room " + std::to_string(i));
            ASSERT_EQ(node.translation.size(), 3u);
            EXPECT_EQ(node.translation[0], room.pos_x / 1024.0);
            EXPECT_EQ(node.translation[1], 0.0);
            EXPECT_EQ(node.translation[2], -room.pos_z / 1024.0);
            const auto got = triangles_read_back(m, node);
            const auto want = triangles_expected(loaded, room);
            EXPECT_EQ(got, want) << "room " << i;
            // Every face is there: two triangles per rectangle, one per triangle.
            EXPECT_EQ(got.size(), 2u * room.num_rectangles + room.num_triangles);
            for (const std::string& t : got) two_sided += t.ends_with("two-sided");
            faces += got.size();
        }
        EXPECT_GT(faces, 0u);
        EXPECT_EQ(two_sided > 0, version >= 3);
    }
}

TEST(Export, FacesWithoutTextureOrCornerAreReportedNotLost) {
    scratch_dir dir;
    levelgen::gen_level lv = textured_level(6, 1);
    lv.rooms[0].rectangles[0].texture = 200;                  // no such object texture
    lv.rooms[0].rectangles[1].corners[2] = 999;               // beyond the room's vertices
    levelgen::gen_record& t = lv.object_textures[4];
    put16(t, 2, 7);                                           // on a page that does not exist
    const std::string level = write_level(dir, "level.tr4", lv);
    const run_result r = export_level({level, dir.file("out"), "--model"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("model: 1 face has a corner beyond its room's vertices; skipped"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("faces name no object texture on an existing page; drawn untextured"), std::string::npos)
        << r.output;
    const tinygltf::Model m = load_glb(dir.file("out/level.glb"));
    std::size_t untextured = 0, triangles = 0;
    for (const tinygltf::Node& node : m.nodes) {
        for (const std::string& tri : triangles_read_back(m, node)) {
            untextured += tri.find(" none OPAQUE") != std::string::npos;
            ++triangles;
        }
    }
    EXPECT_GE(untextured, 2u);
    std::size_t expected = 0;
    for (const auto& room : lv.rooms) expected += 2 * room.rectangles.size() + room.triangles.size();
    EXPECT_EQ(triangles, expected - 2);  // the skipped rectangle only
}

TEST(Export, AModelPastTheGlbLimitIsRefusedBeforeItIsWritten) {
    // A GLB states its lengths in 32 bits; a stand-in limit shows the refusal on a small level.
    Ttrlevel level;
    ASSERT_EQ(level.load_content(levelgen::file_bytes(textured_level(6, 1)), "level.tr4"), 0);
    std::vector<std::string> notes;
    exporting::page_store pages(level, notes);
    exporting::model_summary summary;
    exporting::glb_file whole(level, pages, summary);
    const std::vector<std::uint8_t> file = whole.bytes();
    ASSERT_EQ(file.size(), whole.size());
    std::uint32_t stated = 0;
    std::memcpy(&stated, file.data() + 8, 4);
    EXPECT_EQ(stated, file.size());

    exporting::model_summary again;
    EXPECT_NO_THROW(exporting::glb_file(level, pages, again, whole.size()));
    try {
        exporting::glb_file(level, pages, again, whole.size() - 1);
        ADD_FAILURE() << "a model one byte past its limit was made";
    } catch (const ERangeError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "the model would be " + std::to_string(whole.size()) + " bytes, more than the " +
                      std::to_string(whole.size() - 1) +
                      " that a binary glTF file's 32-bit lengths can state; level.glb is not written");
    }
}

// ---- Runs as the user sees them -------------------------------------------------------------

TEST(Export, DamagedOrMissingLevelsAndUnwritableDirectoriesLeaveNothingNew) {
    scratch_dir dir;
    std::vector<std::uint8_t> bytes = levelgen::file_bytes(textured_level(6, 1));
    const std::string good = dir.file("good.tr4");
    write_bytes(good, bytes);
    bytes.resize(bytes.size() / 2);  // the level-data chunk cut short
    const std::string damaged = dir.file("damaged.tr4");
    write_bytes(damaged, bytes);
    write_bytes(dir.file("notes.trc"), std::vector<std::uint8_t>{'n', 'o', 't', 'e'});
    fs::create_directories(dir.path() / "out");
    write_bytes(dir.file("out/keep.txt"), std::vector<std::uint8_t>{'k'});
    const auto before = tree(dir.path());

    for (const auto& [level, kind] : std::vector<std::pair<std::string, std::string>>{
             {damaged, "ELevelFormatError"}, {dir.file("missing.tr4"), "EInOutError"}, {dir.file("notes.trc"), "ELevelFormatError"}}) {
        for (const std::string& out : {dir.file("out"), dir.file("new")}) {
            const run_result r = export_level({level, out});
            EXPECT_EQ(r.status, 1) << r.output;
            EXPECT_EQ(r.output.rfind(kind, 0), 0u) << r.output;
            EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        }
    }
    // A directory that cannot be made: its name is taken by a file.
    const run_result taken = export_level({good, dir.file("notes.trc/out")});
    EXPECT_EQ(taken.status, 1);
    EXPECT_NE(taken.output.find("EInOutError: cannot create the directory"), std::string::npos) << taken.output;
    const run_result file_as_dir = export_level({good, dir.file("notes.trc")});
    EXPECT_EQ(file_as_dir.status, 1) << file_as_dir.output;
    EXPECT_EQ(tree(dir.path()), before);

    // A good export: the files of its names, nothing else touched, the level unchanged.
    write_bytes(dir.file("out/level.glb"), std::vector<std::uint8_t>{'o', 'l', 'd'});
    const run_result ok = export_level({good, dir.file("out")});
    ASSERT_EQ(ok.status, 0) << ok.output;
    EXPECT_TRUE(ok.output.ends_with("Done.\n")) << ok.output;
    const auto after = tree(dir.path());
    EXPECT_EQ(after.at("out/keep.txt"), before.at("out/keep.txt"));
    EXPECT_EQ(after.at("good.tr4"), before.at("good.tr4"));
    EXPECT_GT(after.at("out/level.glb").size(), 1000u);
    EXPECT_EQ(after.count("out/textures/page32-000.png"), 1u);
    EXPECT_EQ(after.count("out/sounds/sample-0000.wav"), 1u);
    // And the same export again gives the same bytes.
    ASSERT_EQ(export_level({good, dir.file("again")}).status, 0);
    for (const auto& [name, content] : tree(dir.path() / "again")) {
        EXPECT_EQ(content, after.at("out/" + name)) << name;
    }
}

TEST(Export, UsageHelpAndVersion) {
    const run_result none = export_level({});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.output.find("LEVEL is required"), std::string::npos) << none.output;
    EXPECT_EQ(export_level({"a", "b", "--colours"}).status, 2);
    const run_result help = export_level({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--textures"), std::string::npos);
    const run_result version = export_level({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "quarlix-export 1.0\n");
}

// ---- The reference validator ------------------------------------------------------------------

TEST(Export, ValidatorFindsNoErrorOrWarning) {
    if (std::system("node --version > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "node is not installed: the glTF validator needs Node.js";
    }
    const std::string modules = QUARLIX_NODE_MODULES;
    if (!fs::exists(fs::path(modules) / "gltf-validator")) {
        GTEST_SKIP() << "gltf-validator is not installed in " << modules << " (tools/setup.sh test installs it)";
    }
    scratch_dir dir;
    std::vector<std::string> models;
    auto export_to = [&](const std::string& level, const std::string& name) {
        const run_result r = export_level({level, dir.file(name), "--model"});
        ASSERT_EQ(r.status, 0) << r.output;
        models.push_back(dir.file(name + "/level.glb"));
    };
    for (int version = 1; version <= 7; ++version) {
        for (std::uint32_t seed : {1u, 2u}) {
            const std::string name = std::string("v") + std::to_string(version) + "-" + std::to_string(seed);
            export_to(write_level(dir, name + "-" + level_name(version), textured_level(version, seed)), name);
            export_to(write_level(dir, "plain-" + name + "-" + level_name(version),
                                  levelgen::make_example_level(version, seed)), "plain-" + name);
        }
    }
    // The bundled example and both conversion outputs.
    const std::string example = write_level(dir, "example.trc", levelgen::bundled_example_level());
    std::ostringstream ignored;
    ASSERT_EQ(quarlix::run({example, dir.file("example.tr4")}, ignored), 0);
    ASSERT_EQ(quarlix::run({dir.file("example.tr4"), dir.file("back.trc")}, ignored), 0);
    export_to(example, "example");
    export_to(dir.file("example.tr4"), "example-tr4");
    export_to(dir.file("back.trc"), "example-back");

    std::string command = "node \"" + std::string(QUARLIX_SOURCE_DIR) + "/tools/validate-gltf.cjs\" \"" + modules + "\"";
    for (const std::string& m : models) command += " \"" + m + "\"";
    command += " > \"" + dir.file("validator.log") + "\" 2>&1";
    const int status = std::system(command.c_str());
    const std::vector<std::uint8_t> log = read_bytes(dir.file("validator.log"));
    EXPECT_EQ(status, 0) << std::string(log.begin(), log.end());
}

} // namespace
} // namespace quarlix::test
