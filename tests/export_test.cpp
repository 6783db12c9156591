// quarlix-export: what it writes, decoded again and compared with the level it came from.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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
            entry.is_regular_file() ? read_bytes(entry.path().string())
                                    : std::vector<std::uint8_t>{};
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
    for (std::uint32_t i = 0; i < n; ++i)
        w[44 + i] = static_cast<std::uint8_t>(seed + i * 7);
    return w;
}

/// Sample data of TR4 and TRC: a count, then unpacked size, stored size and bytes per sample.
std::vector<std::uint8_t> sample_list(const std::vector<std::vector<std::uint8_t>>& samples) {
    std::vector<std::uint8_t> out(4);
    const auto n = static_cast<std::uint32_t>(samples.size());
    std::memcpy(out.data(), &n, 4);
    for (const auto& s : samples) {
        const auto size = static_cast<std::uint32_t>(s.size());
        out.insert(out.end(), reinterpret_cast<const std::uint8_t*>(&size),
                   reinterpret_cast<const std::uint8_t*>(&size) + 4);
        out.insert(out.end(), reinterpret_cast<const std::uint8_t*>(&size),
                   reinterpret_cast<const std::uint8_t*>(&size) + 4);
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
        put16(t, 2,
              static_cast<std::uint16_t>((i % pages) | (version >= 6 && i == 5 ? 0x8000 : 0)));
        for (std::size_t c = 0; c < 4; ++c) {
            const auto u =
                static_cast<std::uint16_t>((16 * i + 48 * (c == 1 || c == 2)) << 8 | 0x80);
            const auto v =
                static_cast<std::uint16_t>((8 * i + 40 * (c >= 2)) << 8 | (c == 3 ? 0xFF : 0));
            put16(t, 6 + 4 * c, u);
            put16(t, 8 + 4 * c, v);
        }
        lv.object_textures.push_back(t);
    }
    auto word = [&](std::size_t k) {
        std::uint16_t w = static_cast<std::uint16_t>(k % 6);
        if (version >= 3 && k % 2 == 1)
            w |= 0x8000;
        if (version == 7 && k % 3 == 0)
            w |= 0x4000;
        return w;
    };
    std::size_t k = 0;
    for (auto& room : lv.rooms) {
        for (auto& f : room.rectangles)
            f.texture = word(k++);
        for (auto& f : room.triangles)
            f.texture = word(k++);
        for (auto& layer : room.layers) {
            for (auto& f : layer.rectangles)
                f.texture = word(k++);
            for (auto& f : layer.triangles)
                f.texture = word(k++);
        }
    }
    // Transparent texels: alpha 0 in 32-bit, top bit clear in 16-bit, index 0 in 8-bit.
    for (std::size_t i = 0; i < 300; i += 3) {
        if (!lv.textiles32.empty())
            lv.textiles32[4 * (i * 97) + 3] = static_cast<std::uint8_t>(i);
        if (!lv.textiles16.empty())
            lv.textiles16[2 * (i * 89) + 1] &= 0x7F;
        if (!lv.textiles8.empty())
            lv.textiles8[i * 83] = 0;
    }
    if (!lv.textiles_misc.empty())
        lv.textiles_misc = levelgen::textile_pixels(1, 4, seed + 3);
    if (version >= 6) {
        std::vector<std::uint8_t> not_wave = wave_file(10, 1);
        std::memcpy(not_wave.data() + 8, "AVI ", 4);
        lv.sample_data = sample_list({wave_file(100, 3), not_wave, wave_file(33, 9)});
    }
    return lv;
}

std::string write_level(const scratch_dir& dir, const std::string& name,
                        const levelgen::gen_level& lv) {
    const std::string path = dir.file(name);
    write_bytes(path, levelgen::file_bytes(lv));
    return path;
}

std::string level_name(int version) {
    return version == 7   ? "level.trc"
           : version == 6 ? "level.tr4"
           : version == 2 ? "level.tub"
                          : "level.phd";
}

std::uint8_t widen5(unsigned c) { return static_cast<std::uint8_t>(c << 3 | c >> 2); }

/// The RGBA that a texel of a stored page stands for.
std::array<std::uint8_t, 4> expected_texel(const std::vector<std::uint8_t>& page, int bytes,
                                           std::size_t i,
                                           const std::vector<std::uint8_t>& palette) {
    if (bytes == 4)
        return {page[4 * i + 2], page[4 * i + 1], page[4 * i], page[4 * i + 3]};
    if (bytes == 2) {
        const unsigned c = page[2 * i] | page[2 * i + 1] << 8;
        return {widen5(c >> 10 & 31), widen5(c >> 5 & 31), widen5(c & 31),
                std::uint8_t(c & 0x8000 ? 255 : 0)};
    }
    const std::size_t x = page[i];
    return {std::uint8_t(palette[3 * x] * 4), std::uint8_t(palette[3 * x + 1] * 4),
            std::uint8_t(palette[3 * x + 2] * 4), std::uint8_t(x == 0 ? 0 : 255)};
}

TEST(Export, PagesOfEveryPixelFormReadBackAsTheirTexels) {
    for (const int version : {1, 3, 6, 7}) {
        SCOPED_TRACE("version " + std::to_string(version));
        scratch_dir dir;
        const levelgen::gen_level lv = textured_level(version, 1); // two pages of each form
        const std::string level = write_level(dir, level_name(version), lv);
        const run_result r = export_level({level, dir.file("out"), "--textures"});
        ASSERT_EQ(r.status, 0) << r.output;

        struct form {
            const char* prefix;
            const std::vector<std::uint8_t>* texels;
            int bytes;
        };
        std::vector<form> forms;
        if (version >= 6) {
            forms = {{"page32", &lv.textiles32, 4},
                     {"page16", &lv.textiles16, 2},
                     {"misc", &lv.textiles_misc, 4}};
        } else {
            forms = {{"page8", &lv.textiles8, 1}};
            if (version >= 3)
                forms.push_back({"page16", &lv.textiles16, 2});
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
                    stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &n, 4),
                    stbi_image_free);
                ASSERT_TRUE(pixels) << name;
                ASSERT_EQ(w, 256);
                ASSERT_EQ(h, 256);
                const std::vector<std::uint8_t> page(
                    f.texels->begin() + static_cast<std::ptrdiff_t>(p * page_bytes),
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
            if (!bytes.empty())
                written.insert(name);
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
        EXPECT_NE(r.output.find("sample 1 (54 bytes at sample-data byte "), std::string::npos)
            << r.output;
        const auto files = tree(dir.path() / "out");
        ASSERT_EQ(files.size(), 3u); // sounds/ and two samples
        EXPECT_EQ(files.at("sounds/sample-0000.wav"), wave_file(100, 3));
        EXPECT_EQ(files.at("sounds/sample-0002.wav"), wave_file(33, 9));

        // A list cut short: the whole samples before the cut are written, the cut is reported.
        lv.sample_data.resize(lv.sample_data.size() - 5);
        write_level(dir, level_name(version), lv);
        const run_result cut = export_level({level, dir.file("cut"), "--sounds"});
        ASSERT_EQ(cut.status, 0) << cut.output;
        EXPECT_NE(cut.output.find("sample 2 of 3: its 77 bytes at byte "), std::string::npos)
            << cut.output;
        EXPECT_EQ(tree(dir.path() / "cut").size(), 2u);
    }
}

// ---- The model, read back with an independent glTF loader ---------------------------------

std::vector<float> floats_of(const tinygltf::Model& m, int accessor) {
    const tinygltf::Accessor& a = m.accessors.at(static_cast<std::size_t>(accessor));
    const tinygltf::BufferView& v = m.bufferViews.at(static_cast<std::size_t>(a.bufferView));
    EXPECT_EQ(a.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
    const std::size_t n =
        a.count * static_cast<std::size_t>(tinygltf::GetNumComponentsInType(a.type));
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
std::multiset<std::string> triangles_read_back(const tinygltf::Model& m,
                                               const tinygltf::Node& node) {
    std::multiset<std::string> out;
    if (node.mesh < 0)
        return out;
    for (const tinygltf::Primitive& p :
         m.meshes.at(static_cast<std::size_t>(node.mesh)).primitives) {
        const tinygltf::Material& mat = m.materials.at(static_cast<std::size_t>(p.material));
        const int texture = mat.pbrMetallicRoughness.baseColorTexture.index;
        const std::string image =
            texture < 0 ? "none"
                        : m.images
                              .at(static_cast<std::size_t>(
                                  m.textures.at(static_cast<std::size_t>(texture)).source))
                              .name;
        const std::vector<float> pos = floats_of(m, p.attributes.at("POSITION"));
        const std::vector<float> rgb = floats_of(m, p.attributes.at("COLOR_0"));
        std::vector<float> uv;
        if (p.attributes.count("TEXCOORD_0") != 0)
            uv = floats_of(m, p.attributes.at("TEXCOORD_0"));
        EXPECT_EQ(uv.empty(), texture < 0);
        const std::vector<std::uint32_t> idx = indices_of(m, p.indices);
        for (std::size_t t = 0; t + 2 < idx.size(); t += 3) {
            std::string text;
            for (std::size_t c = 0; c < 3; ++c) {
                const std::size_t i = idx[t + c];
                text += corner_text(pos.at(3 * i), pos.at(3 * i + 1), pos.at(3 * i + 2),
                                    uv.empty() ? nullptr : &uv.at(2 * i), &rgb.at(3 * i));
            }
            out.insert(text + " " + image + " " + mat.alphaMode +
                       (mat.doubleSided ? " two-sided" : ""));
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
            if (corners[c] >= room.num_vertices)
                return;
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
            // Versions 1-4: a shade, 0 bright to 8191 dark (3 and 4: the second word); TRC:
            // the layer vertex's bytes blue, green, red; else 5-5-5.
            const int shade = std::clamp<int>(
                level.version <= 2 ? v.lighting : static_cast<std::int16_t>(v.colour), 0, 8191);
            const float grey = static_cast<float>(8191 - shade) / 8191.0f;
            float rgb[3] = {(v.colour >> 10 & 31) / 31.0f, (v.colour >> 5 & 31) / 31.0f,
                            (v.colour & 31) / 31.0f};
            if (level.version <= 4)
                rgb[0] = rgb[1] = rgb[2] = grey;
            if (level.version == 7) {
                const std::uint8_t* bgr = room.trc_vertices[corners[c]].colour;
                for (int k = 0; k < 3; ++k)
                    rgb[k] = bgr[2 - k] / 255.0f;
            }
            return corner_text(v.x / 1024.0f, -v.y / 1024.0f, -v.z / 1024.0f, uv, rgb);
        };
        const std::string tail =
            std::string(" ") + image + " " + alpha + (two_sided ? " two-sided" : "");
        out.insert(corner(0) + corner(2) + corner(1) + tail);
        if (n == 4)
            out.insert(corner(0) + corner(3) + corner(2) + tail);
    };
    for (std::size_t i = 0; i < room.num_rectangles; ++i)
        face(room.rectangles[i].corners, 4, room.rectangles[i].texture);
    for (std::size_t i = 0; i < room.num_triangles; ++i)
        face(room.triangles[i].corners, 3, room.triangles[i].texture);
    return out;
}

tinygltf::Model load_glb(const std::string& path) {
    tinygltf::TinyGLTF loader;
    tinygltf::Model model;
    std::string err, warn;
    const std::vector<std::uint8_t> bytes = read_bytes(path);
    EXPECT_TRUE(loader.LoadBinaryFromMemory(&model, &err, &warn, bytes.data(),
                                            static_cast<unsigned>(bytes.size())))
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
        std::map<std::string, std::size_t> by_name;
        for (std::size_t n = 0; n < m.nodes.size(); ++n)
            by_name[m.nodes[n].name] = n;
        std::size_t two_sided = 0, faces = 0;
        for (std::size_t i = 0; i < loaded.rooms.size(); ++i) {
            const troom& room = loaded.rooms[i];
            const tinygltf::Node& node = m.nodes.at(by_name.at("room " + std::to_string(i)));
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
            for (const std::string& t : got)
                two_sided += t.ends_with("two-sided");
            faces += got.size();
        }
        EXPECT_GT(faces, 0u);
        EXPECT_EQ(two_sided > 0, version >= 3);
    }
}

TEST(Export, FacesWithoutTextureOrCornerAreReportedNotLost) {
    scratch_dir dir;
    levelgen::gen_level lv = textured_level(6, 1);
    lv.rooms[0].rectangles[0].texture = 200;    // no such object texture
    lv.rooms[0].rectangles[1].corners[2] = 999; // beyond the room's vertices
    levelgen::gen_record& t = lv.object_textures[4];
    put16(t, 2, 7); // on a page that does not exist
    const std::string level = write_level(dir, "level.tr4", lv);
    const run_result r = export_level({level, dir.file("out"), "--model"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("model: 1 face has a corner beyond its room's vertices; skipped"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("faces name no object texture on an existing page; drawn untextured"),
              std::string::npos)
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
    for (const auto& room : lv.rooms)
        expected += 2 * room.rectangles.size() + room.triangles.size();
    EXPECT_EQ(triangles, expected - 2); // the skipped rectangle only
}

TEST(Export, AModelPastTheGlbLimitIsRefusedBeforeItIsWritten) {
    // A GLB states its lengths in 32 bits; a stand-in limit shows the refusal on a small level.
    Ttrlevel level;
    ASSERT_EQ(level.load_content(levelgen::file_bytes(textured_level(6, 1)), "level.tr4"), 0);
    std::vector<std::string> notes;
    exporting::page_store pages(level, notes);
    exporting::model_summary summary;
    std::vector<std::string> problems;
    const exporting::level_objects objects(level, problems);
    exporting::glb_file whole(objects, pages, summary);
    const std::vector<std::uint8_t> file = whole.bytes();
    ASSERT_EQ(file.size(), whole.size());
    std::uint32_t stated = 0;
    std::memcpy(&stated, file.data() + 8, 4);
    EXPECT_EQ(stated, file.size());

    // A model too large to keep its parts from the first walk makes them again as it is
    // written: the same bytes.
    exporting::model_summary again;
    EXPECT_EQ(exporting::glb_file(objects, pages, again, exporting::glb_size_limit, 0).bytes(),
              file);
    EXPECT_NO_THROW(exporting::glb_file(objects, pages, again, whole.size()));
    try {
        exporting::glb_file(objects, pages, again, whole.size() - 1);
        ADD_FAILURE() << "a model one byte past its limit was made";
    } catch (const ERangeError& e) {
        EXPECT_EQ(
            std::string(e.what()),
            "the model would be " + std::to_string(whole.size()) + " bytes, more than the " +
                std::to_string(whole.size() - 1) +
                " that a binary glTF file's 32-bit lengths can state; level.glb is not written");
    }

    // An object file is held whole and checked as it is finished.
    exporting::gltf_document object(level, pages, exporting::image_place::texture_files);
    object.floats({0, 1, 2}, 3, "VEC3", true);
    object.scenes.push_back({{"nodes", exporting::json::array()}});
    const std::vector<std::uint8_t> object_file = object.finish(0);
    std::memcpy(&stated, object_file.data() + 8, 4);
    EXPECT_EQ(stated, object_file.size());
    EXPECT_THROW(object.finish(0, object_file.size() - 1), ERangeError);
}

// ---- Runs as the user sees them -------------------------------------------------------------

TEST(Export, DamagedOrMissingLevelsAndUnwritableDirectoriesLeaveNothingNew) {
    scratch_dir dir;
    std::vector<std::uint8_t> bytes = levelgen::file_bytes(textured_level(6, 1));
    const std::string good = dir.file("good.tr4");
    write_bytes(good, bytes);
    bytes.resize(bytes.size() / 2); // the level-data chunk cut short
    const std::string damaged = dir.file("damaged.tr4");
    write_bytes(damaged, bytes);
    write_bytes(dir.file("notes.trc"), std::vector<std::uint8_t>{'n', 'o', 't', 'e'});
    fs::create_directories(dir.path() / "out");
    write_bytes(dir.file("out/keep.txt"), std::vector<std::uint8_t>{'k'});
    const auto before = tree(dir.path());

    for (const auto& [level, kind] : std::vector<std::pair<std::string, std::string>>{
             {damaged, "ELevelFormatError"},
             {dir.file("missing.tr4"), "EInOutError"},
             {dir.file("notes.trc"), "ELevelFormatError"}}) {
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
    EXPECT_NE(taken.output.find("EInOutError: cannot create the directory"), std::string::npos)
        << taken.output;
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

// ---- Objects -------------------------------------------------------------------------------

using matrix3 = std::array<std::array<double, 3>, 3>;

matrix3 times(const matrix3& a, const matrix3& b) {
    matrix3 c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                c[i][j] += a[i][k] * b[k][j];
    return c;
}

/// A turn of `turns` about axis 0 (x), 1 (y) or 2 (z), right-handed, in the level's own axes.
matrix3 turn(int axis, double turns) {
    const double a = turns * 2 * 3.14159265358979323846, c = std::cos(a), s = std::sin(a);
    const int p = (axis + 1) % 3, q = (axis + 2) % 3;
    matrix3 m{};
    m[axis][axis] = 1;
    m[p][p] = c, m[p][q] = -s, m[q][p] = s, m[q][q] = c;
    return m;
}

/// A joint's rotation read straight from the frame words at `at`: two words for three angles
/// (1024ths) or, versions 3-7, one word for one axis (versions 6-7 in 4096ths, 3-5 in
/// 1024ths); versions 1-2 always two words, stored second word first. Applied y, then x, then
/// z. The result is in glTF's axes (y and z turned): diag(1, -1, -1) M diag(1, -1, -1).
matrix3 frame_rotation(const std::vector<std::int16_t>& frames, std::size_t& at, int version) {
    auto w = static_cast<std::uint16_t>(frames.at(at++));
    double angle[3] = {0, 0, 0};
    if (version <= 2 || (w >> 14) == 0) {
        auto w2 = static_cast<std::uint16_t>(frames.at(at++));
        if (version <= 2)
            std::swap(w, w2);
        angle[0] = ((w >> 4) & 1023) / 1024.0;
        angle[1] = (((w & 15) << 6) | (w2 >> 10)) / 1024.0;
        angle[2] = (w2 & 1023) / 1024.0;
    } else {
        const unsigned unit = version >= 6 ? 4096 : 1024;
        angle[(w >> 14) - 1] = (w & (unit - 1)) / double(unit);
    }
    matrix3 m = times(times(turn(1, angle[1]), turn(0, angle[0])), turn(2, angle[2]));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] *= (i == 0 ? 1 : -1) * (j == 0 ? 1 : -1);
    return m;
}

matrix3 quaternion_matrix(const float* q) {
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    return {{{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
             {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
             {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}}};
}

/// The joints of a moveable file (skin order) and each joint's parent node.
struct skin_tree {
    std::vector<int> joint;
    std::map<int, int> parent;
};

skin_tree skin_of(const tinygltf::Model& m, std::size_t meshes) {
    skin_tree t;
    EXPECT_EQ(m.skins.size(), 1u);
    for (std::size_t n = 0; n < m.nodes.size(); ++n)
        for (int c : m.nodes[n].children)
            t.parent[c] = static_cast<int>(n);
    t.joint = m.skins.at(0).joints;
    EXPECT_EQ(t.joint.size(), meshes);
    for (std::size_t i = 0; i < t.joint.size(); ++i)
        EXPECT_EQ(m.nodes.at(static_cast<std::size_t>(t.joint[i])).name,
                  "mesh " + std::to_string(i));
    return t;
}

/// Every sampler of an animation against the level's frame words at its first and last
/// keyframe: the times, the root's offset and every joint's rotation, read with this file's
/// own reader. `index` is the level's animation index; `meshes` the moveable's mesh count.
template <class Record>
void expect_keyframes_from_frames(const tinygltf::Model& m, const tinygltf::Animation& a,
                                  const skin_tree& skin, const Ttrlevel& l, const Record& record,
                                  std::size_t meshes) {
    SCOPED_TRACE(a.name);
    const int version = l.version;
    const std::size_t keyframes = (record.last_frame - record.first_frame) / record.frame_rate + 1u;
    // Versions 1-2: a mesh-count word after the offset, and a size from the mesh count.
    const std::size_t size = version <= 2 ? 10 + 2 * meshes : record.frame_size;
    EXPECT_EQ(a.channels.size(), meshes + 1);
    for (const tinygltf::AnimationChannel& c : a.channels) {
        const tinygltf::AnimationSampler& s = a.samplers.at(static_cast<std::size_t>(c.sampler));
        const std::vector<float> time = floats_of(m, s.input), out = floats_of(m, s.output);
        ASSERT_EQ(time.size(), keyframes);
        EXPECT_FLOAT_EQ(time.back(), float((keyframes - 1) * record.frame_rate / 30.0));
        const auto joint_number = static_cast<std::size_t>(
            std::find(skin.joint.begin(), skin.joint.end(), c.target_node) - skin.joint.begin());
        ASSERT_LT(joint_number, meshes);
        for (const std::size_t k : {std::size_t{0}, keyframes - 1}) {
            std::size_t at = record.frame_offset / 2 + k * size + 6;
            if (c.target_path == "translation") {
                EXPECT_EQ(joint_number, 0u);
                EXPECT_FLOAT_EQ(out.at(3 * k), l.frames.at(at) / 1024.0f);
                EXPECT_FLOAT_EQ(out.at(3 * k + 1), -l.frames.at(at + 1) / 1024.0f);
                EXPECT_FLOAT_EQ(out.at(3 * k + 2), -l.frames.at(at + 2) / 1024.0f);
                continue;
            }
            EXPECT_EQ(c.target_path, "rotation");
            at += version <= 2 ? 4 : 3;
            matrix3 want{};
            for (std::size_t j = 0; j <= joint_number; ++j)
                want = frame_rotation(l.frames, at, version);
            const matrix3 got = quaternion_matrix(&out.at(4 * k));
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    EXPECT_NEAR(got[i][j], want[i][j], 1e-5) << "keyframe " << k;
        }
    }
}

TEST(ExportObjects, JointsAndKeyframesAreTheMeshTreeAndTheFrameWords) {
    scratch_dir dir;
    const std::string level = write_level(dir, "example.trc", levelgen::bundled_example_level());
    const run_result r = export_level({level, dir.file("out"), "--objects"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(
        r.output.find("objects: 4 moveables with 5 animations of 12 keyframes, 2 static meshes\n"),
        std::string::npos)
        << r.output;
    Ttrlevel l;
    ASSERT_EQ(l.load(level), 0);
    const tmoveable lever =
        l.moveables.back(); // object 4: base, arm on it, knob on the arm, flag on the base
    const tinygltf::Model m = load_glb(dir.file("out/objects/moveable-4.glb"));
    const skin_tree skin = skin_of(m, lever.num_meshes);
    const std::vector<int>& joint = skin.joint;
    EXPECT_EQ(skin.parent.at(joint[1]), joint[0]);
    EXPECT_EQ(skin.parent.at(joint[2]), joint[1]);
    EXPECT_EQ(skin.parent.at(joint[3]), joint[0]); // popped back to the base
    const std::vector<double> flag_at = {160 / 1024.0, 128 / 1024.0, 0.0};
    EXPECT_EQ(m.nodes.at(joint[3]).translation, flag_at);

    ASSERT_EQ(m.animations.size(), 2u);
    EXPECT_EQ(m.animations[0].name, "animation 3");
    EXPECT_EQ(m.animations[1].name, "animation 4");
    for (std::size_t a = 0; a < 2; ++a)
        expect_keyframes_from_frames(m, m.animations[a], skin, l, l.animations.at(3 + a),
                                     lever.num_meshes);
}

// Versions 1-5 hold their meshes and frames in their own forms: the generated levels carry a
// moveable of three meshes (the arm on the base pushed, the flag on the base popped) with two
// animations, and a static mesh, shaded and with faces of one colour.
TEST(ExportObjects, OlderVersionsObjectsReadInTheirOwnForms) {
    const std::pair<int, const char*> versions[] = {
        {1, "level.phd"}, {2, "level.tub"}, {3, "level.tr2"}, {4, "level.trg"}, {5, "level.tr4"}};
    for (const auto& [version, name] : versions) {
        SCOPED_TRACE("version " + std::to_string(version));
        scratch_dir dir;
        const std::string level = write_level(dir, name, textured_level(version, 1));
        const run_result r = export_level({level, dir.file("out"), "--model", "--objects"});
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("objects: 1 moveable with 2 animations of 5 keyframes, 1 static "
                                "mesh\n"),
                  std::string::npos)
            << r.output;
        EXPECT_NE(r.output.find("; 1 item, 1 static instance, "), std::string::npos) << r.output;
        Ttrlevel l;
        ASSERT_EQ(l.load(level), 0);
        ASSERT_EQ(l.version, version);
        const tinygltf::Model m = load_glb(dir.file("out/objects/moveable-7.glb"));
        const skin_tree skin = skin_of(m, 3);
        EXPECT_EQ(skin.parent.at(skin.joint.at(1)), skin.joint[0]);
        EXPECT_EQ(skin.parent.at(skin.joint.at(2)), skin.joint[0]); // popped back to the base
        EXPECT_EQ(m.nodes.at(static_cast<std::size_t>(skin.joint[2])).translation,
                  (std::vector<double>{160 / 1024.0, 128 / 1024.0, 0.0}));
        ASSERT_EQ(m.animations.size(), 2u);
        for (std::size_t a = 0; a < 2; ++a) {
            EXPECT_EQ(m.animations[a].name, "animation " + std::to_string(a));
            expect_keyframes_from_frames(m, m.animations[a], skin, l, l.animations_old.at(a), 3);
        }
        // The faces of one colour are drawn untextured: the arm's two ends, the pyramid's
        // four sides; the rest through the object textures.
        const auto untextured = [](const std::multiset<std::string>& triangles) {
            return std::count_if(triangles.begin(), triangles.end(), [](const std::string& t) {
                return t.find(" none ") != std::string::npos;
            });
        };
        std::multiset<std::string> triangles;
        for (const tinygltf::Node& node : m.nodes)
            for (const std::string& t : triangles_read_back(m, node))
                triangles.insert(t);
        EXPECT_EQ(triangles.size(), 36u);
        EXPECT_EQ(untextured(triangles), 4);
        const tinygltf::Model s = load_glb(dir.file("out/objects/static-5.glb"));
        triangles = triangles_read_back(s, s.nodes.at(0));
        EXPECT_EQ(triangles.size(), 6u);
        EXPECT_EQ(untextured(triangles), 4);
    }
}

TEST(ExportObjects, TrcAndItsTr4ConversionGiveTheSameObjectFiles) {
    scratch_dir dir;
    std::ostringstream ignored;
    std::vector<levelgen::gen_level> levels = {levelgen::bundled_example_level()};
    for (std::uint32_t seed : {1u, 2u})
        levels.push_back(textured_level(7, seed));
    for (std::size_t i = 0; i < levels.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string trc = write_level(dir, std::to_string(i) + ".trc", levels[i]);
        const std::string tr4 = dir.file(std::to_string(i) + ".tr4");
        ASSERT_EQ(quarlix::run({trc, tr4}, ignored), 0);
        ASSERT_EQ(export_level({trc, dir.file("trc" + std::to_string(i)), "--objects"}).status, 0);
        ASSERT_EQ(export_level({tr4, dir.file("tr4" + std::to_string(i)), "--objects"}).status, 0);
        const auto from_trc = tree(dir.path() / ("trc" + std::to_string(i)) / "objects");
        EXPECT_EQ(from_trc, tree(dir.path() / ("tr4" + std::to_string(i)) / "objects"));
        if (i == 0) {
            EXPECT_EQ(from_trc.size(), 6u);
        }
    }
}

TEST(ExportObjects, BrokenObjectsAreReportedOnceAndCostFollowsTheBytes) {
    scratch_dir dir;
    levelgen::gen_level lv = levelgen::bundled_example_level();
    auto moveable = [](std::uint32_t id, std::uint16_t meshes, std::uint16_t first,
                       std::uint16_t animation) {
        levelgen::gen_record r(20, 0);
        for (int b = 0; b < 4; ++b)
            r[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(id >> (8 * b));
        put16(r, 4, meshes);
        put16(r, 6, first);
        put16(r, 16, animation);
        return r;
    };
    lv.moveables.push_back(moveable(446, 0, 0, 0xFFFF)); // no meshes: listed, no file
    lv.mesh_pointers.push_back(static_cast<std::int32_t>(2 * lv.mesh_data.size() - 8));
    lv.moveables.push_back(
        moveable(9, 1, static_cast<std::uint16_t>(lv.mesh_pointers.size() - 1), 0xFFFF));
    // 65,535 animations of 65,535 keyframes each, all over the same 3 MiB of frames.
    const auto first = static_cast<std::uint16_t>(lv.animations.size());
    const auto frame_at = static_cast<std::uint32_t>(2 * lv.frames.size());
    lv.frames.resize(lv.frames.size() + 11u * 65535u + 2u, 0);
    levelgen::gen_record a(40, 0);
    std::memcpy(a.data(), &frame_at, 4);
    a[4] = 1;            // frame rate
    a[5] = 11;           // frame size: box, offset, two one-word rotations
    put16(a, 26, 65534); // last frame
    lv.animations.resize(65535, a);
    lv.moveables.push_back(moveable(10, 2, 3, first));
    const std::string level = write_level(dir, "level.trc", lv);
    const auto start = std::chrono::steady_clock::now();
    const run_result r = export_level({level, dir.file("out"), "--objects"});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.status, 0) << r.output.substr(0, 2000);
    EXPECT_NE(r.output.find("objects: 1 moveable has no meshes and no model (object 446)\n"),
              std::string::npos);
    EXPECT_NE(r.output.find("objects: moveable 5: mesh 0 at mesh-data offset " +
                            std::to_string(2 * lv.mesh_data.size() - 8) +
                            " runs past the mesh data; left out\n"),
              std::string::npos)
        << r.output.substr(0, 2000);
    // Work stops at a bound that follows the object data; the report says where, once.
    const std::string bound =
        "the objects so far take all the work that the level's object data justifies";
    EXPECT_NE(r.output.find(bound), std::string::npos);
    EXPECT_EQ(r.output.find(bound), r.output.rfind(bound));
    const auto files = tree(dir.path() / "out" / "objects");
    EXPECT_EQ(files.count("moveable-446.glb") + files.count("moveable-9.glb"), 0u);
    EXPECT_EQ(files.count("moveable-4.glb"), 1u);
    std::size_t bytes = 0;
    for (const auto& [name, content] : files)
        bytes += content.size();
    EXPECT_LT(bytes, 64u << 20);
    EXPECT_LT(seconds, 60.0); // a guard against runaway work, not a speed target
}

TEST(ExportObjects, ItemsAndStaticInstancesStandWhereTheirRecordsSay) {
    scratch_dir dir;
    const std::string level = write_level(dir, "example.trc", levelgen::bundled_example_level());
    const run_result r = export_level({level, dir.file("out"), "--model"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("; 7 items, 2 static instances, 0 room sprites\n"), std::string::npos)
        << r.output;
    Ttrlevel l;
    ASSERT_EQ(l.load(level), 0);
    const tinygltf::Model m = load_glb(dir.file("out/level.glb"));
    std::map<std::string, int> by_name;
    std::map<int, int> parent;
    for (std::size_t n = 0; n < m.nodes.size(); ++n) {
        by_name[m.nodes[n].name] = static_cast<int>(n);
        for (int c : m.nodes[n].children)
            parent[c] = static_cast<int>(n);
    }
    // Where a node stands, in level units and the level's axes, and its turn about y.
    auto expect_placed = [&](const std::string& name, std::size_t room,
                             std::array<std::int32_t, 3> at, std::uint16_t angle) {
        SCOPED_TRACE(name);
        const tinygltf::Node& node = m.nodes.at(static_cast<std::size_t>(by_name.at(name)));
        const int room_node = parent.at(by_name.at(name));
        EXPECT_EQ(m.nodes.at(static_cast<std::size_t>(room_node)).name,
                  "room " + std::to_string(room));
        const std::vector<double>& base =
            m.nodes.at(static_cast<std::size_t>(room_node)).translation;
        ASSERT_EQ(node.translation.size(), 3u);
        EXPECT_NEAR((base[0] + node.translation[0]) * 1024, at[0], 1e-3);
        EXPECT_NEAR(-(base[1] + node.translation[1]) * 1024, at[1], 1e-3);
        EXPECT_NEAR(-(base[2] + node.translation[2]) * 1024, at[2], 1e-3);
        matrix3 want = turn(1, angle / 65536.0);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                want[i][j] *= (i == 0 ? 1 : -1) * (j == 0 ? 1 : -1);
        const float q[4] = {float(node.rotation.at(0)), float(node.rotation.at(1)),
                            float(node.rotation.at(2)), float(node.rotation.at(3))};
        const matrix3 got = quaternion_matrix(q);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(got[i][j], want[i][j], 1e-6);
    };
    for (std::size_t i = 0; i < l.items.size(); ++i) {
        const titem& item = l.items[i];
        expect_placed("item " + std::to_string(i), std::size_t(item.room), {item.x, item.y, item.z},
                      static_cast<std::uint16_t>(item.angle));
        // A moveable's meshes hang from it, a sprite's quad is its mesh.
        const tinygltf::Node& node =
            m.nodes.at(static_cast<std::size_t>(by_name.at("item " + std::to_string(i))));
        EXPECT_TRUE(!node.children.empty() || node.mesh >= 0) << "item " << i;
    }
    EXPECT_EQ(m.nodes.at(static_cast<std::size_t>(by_name.at("item 5 mesh 3"))).translation,
              (std::vector<double>{160 / 1024.0, 128 / 1024.0, 0.0}));
    std::size_t statics = 0;
    for (std::size_t r = 0; r < l.rooms.size(); ++r) {
        for (std::size_t k = 0; k < l.rooms[r].num_static_instances; ++k, ++statics) {
            const tstatic_instance& s = l.rooms[r].static_instances[k];
            expect_placed("room " + std::to_string(r) + " static " + std::to_string(k), r,
                          {s.x, s.y, s.z}, s.rotation);
        }
    }
    EXPECT_EQ(statics, 2u);
    // Room 1 flips into room 4: room 4 only in the flipped scene, in room 1's place; room 3 is
    // water.
    ASSERT_EQ(m.scenes.size(), 2u);
    const std::vector<int> normal = m.scenes[0].nodes, flipped = m.scenes[1].nodes;
    ASSERT_EQ(normal.size(), 4u);
    EXPECT_EQ(std::count(normal.begin(), normal.end(), by_name.at("room 4")), 0);
    EXPECT_EQ(flipped.at(1), by_name.at("room 4"));
    EXPECT_EQ(normal.at(1), by_name.at("room 1"));
    const tinygltf::Node& water = m.nodes.at(static_cast<std::size_t>(by_name.at("room 3")));
    EXPECT_TRUE(water.extras.Has("water"));
    const tinygltf::Primitive& p =
        m.meshes.at(static_cast<std::size_t>(water.mesh)).primitives.at(0);
    EXPECT_TRUE(m.materials.at(static_cast<std::size_t>(p.material)).name.ends_with(" water"));
}

TEST(ExportObjects, ARoomSpriteIsATexturedQuadStandingOnItsVertex) {
    scratch_dir dir;
    levelgen::gen_level lv = textured_level(6, 1); // two pages
    // Sprite texture 1: page 1, pixels (32, 64) to (47, 95); x, y, width and height repeat them.
    levelgen::gen_record t(16, 0);
    put16(t, 0, 1);
    t[2] = 32, t[3] = 64;
    put16(t, 4, 15 * 256);
    put16(t, 6, 31 * 256);
    put16(t, 8, 32), put16(t, 10, 64), put16(t, 12, 47),
        put16(t, 14, 95); // left, top, right, bottom
    lv.sprite_textures.at(1) = t;
    for (auto& room : lv.rooms)
        room.sprites.clear();
    levelgen::gen_record sprite(4, 0);
    put16(sprite, 0, 4); // vertex 4
    put16(sprite, 2, 1);
    lv.rooms.at(1).sprites = {sprite};
    const std::string level = write_level(dir, "level.tr4", lv);
    const run_result r = export_level({level, dir.file("out"), "--model"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" 1 room sprite\n"), std::string::npos) << r.output;

    const tinygltf::Model m = load_glb(dir.file("out/level.glb"));
    std::map<std::string, std::size_t> by_name;
    for (std::size_t n = 0; n < m.nodes.size(); ++n)
        by_name[m.nodes[n].name] = n;
    const tinygltf::Node& room = m.nodes.at(by_name.at("room 1"));
    const tinygltf::Node& node = m.nodes.at(by_name.at("room 1 sprite 0"));
    EXPECT_EQ(std::count(room.children.begin(), room.children.end(),
                         static_cast<int>(by_name.at("room 1 sprite 0"))),
              1);
    // Room position plus vertex, in level units.
    const levelgen::gen_vertex& v = lv.rooms[1].vertices.at(4);
    ASSERT_EQ(node.translation.size(), 3u);
    EXPECT_EQ((room.translation[0] + node.translation[0]) * 1024, lv.rooms[1].pos_x + v.x);
    EXPECT_EQ(-node.translation[1] * 1024, v.y);
    EXPECT_EQ(-(room.translation[2] + node.translation[2]) * 1024, lv.rooms[1].pos_z + v.z);
    // 16 x 32 pixels at 8 units each, standing on the vertex, facing -z of the level; the
    // pixel rectangle of page 1, alpha-tested and seen from both sides.
    const float white[3] = {1, 1, 1};
    auto corner = [&](float x, float y, float u, float w) {
        const float uv[2] = {u / 256, w / 256};
        return corner_text(x / 1024, y / 1024, 0, uv, white);
    };
    const std::string c0 = corner(-64, 256, 32, 64), c1 = corner(64, 256, 48, 64),
                      c2 = corner(64, 0, 48, 96), c3 = corner(-64, 0, 32, 96);
    const std::string tail = " page32-001 MASK two-sided";
    EXPECT_EQ(triangles_read_back(m, node),
              (std::multiset<std::string>{c0 + c2 + c1 + tail, c0 + c3 + c2 + tail}));
}

// ---- The reference validator ------------------------------------------------------------------

TEST(Export, ValidatorFindsNoErrorOrWarning) {
    if (std::system("node --version > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "node is not installed: the glTF validator needs Node.js";
    }
    const std::string modules = QUARLIX_NODE_MODULES;
    if (!fs::exists(fs::path(modules) / "gltf-validator")) {
        GTEST_SKIP() << "gltf-validator is not installed in " << modules
                     << " (tools/setup.sh test installs it)";
    }
    scratch_dir dir;
    std::vector<std::string> models;
    auto export_to = [&](const std::string& level, const std::string& name) {
        const run_result r = export_level({level, dir.file(name), "--model", "--objects"});
        ASSERT_EQ(r.status, 0) << r.output;
        models.push_back(dir.file(name + "/level.glb"));
        for (const auto& [file, bytes] : tree(dir.path() / name / "objects"))
            models.push_back(dir.file(name + "/objects/" + file));
    };
    for (int version = 1; version <= 7; ++version) {
        for (std::uint32_t seed : {1u, 2u}) {
            const std::string name =
                std::string("v") + std::to_string(version) + "-" + std::to_string(seed);
            export_to(
                write_level(dir, name + "-" + level_name(version), textured_level(version, seed)),
                name);
            export_to(write_level(dir, "plain-" + name + "-" + level_name(version),
                                  levelgen::make_example_level(version, seed)),
                      "plain-" + name);
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

    std::string command = "node \"" + std::string(QUARLIX_SOURCE_DIR) +
                          "/tools/validate-gltf.cjs\" \"" + modules + "\"";
    for (const std::string& m : models)
        command += " \"" + m + "\"";
    command += " > \"" + dir.file("validator.log") + "\" 2>&1";
    const int status = std::system(command.c_str());
    const std::vector<std::uint8_t> log = read_bytes(dir.file("validator.log"));
    EXPECT_EQ(status, 0) << std::string(log.begin(), log.end());
}

} // namespace
} // namespace quarlix::test
