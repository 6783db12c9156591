// glTF building: one mesh per room, one primitive per material, faces expanded per corner.
#include "export/model.h"

#include <algorithm>
#include <array>
#include <map>

#include "level/records.h"
#include "level/trunit2.h"
#include "nlohmann/json.hpp"

namespace quarlix::exporting {

namespace {

using json = nlohmann::json;

constexpr int gl_float = 5126;
constexpr int gl_unsigned_int = 5125;
constexpr int gl_array_buffer = 34962;
constexpr int gl_element_array_buffer = 34963;

enum alpha_mode { alpha_opaque, alpha_mask, alpha_blend };

/// What a face is drawn with: its page's image (-1 none), alpha mode and sidedness.
struct material_key {
    std::ptrdiff_t page = -1;
    int alpha = alpha_opaque;
    bool two_sided = false;
    auto operator<=>(const material_key&) const = default;
};

struct primitive_data {
    std::vector<float> positions, uvs, colours;
    std::vector<std::uint32_t> indices;
};

/// The binary chunk and the JSON arrays that describe it.
class glb_builder {
public:
    json buffer_views = json::array();
    json accessors = json::array();
    std::vector<std::uint8_t> bin;

    std::size_t view(const void* data, std::size_t size, int target) {
        bin.resize((bin.size() + 3) / 4 * 4, 0);
        json v = {{"buffer", 0}, {"byteOffset", bin.size()}, {"byteLength", size}};
        if (target != 0) {
            v["target"] = target;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        bin.insert(bin.end(), bytes, bytes + size);
        buffer_views.push_back(std::move(v));
        return buffer_views.size() - 1;
    }

    std::size_t floats(const std::vector<float>& values, int width, const char* type,
                       bool bounds) {
        const std::size_t count = values.size() / static_cast<std::size_t>(width);
        json a = {{"bufferView", view(values.data(), values.size() * 4, gl_array_buffer)},
                  {"componentType", gl_float}, {"count", count}, {"type", type}};
        if (bounds) {
            std::vector<float> lo(values.begin(), values.begin() + width);
            std::vector<float> hi = lo;
            for (std::size_t i = 0; i < values.size(); ++i) {
                const std::size_t c = i % static_cast<std::size_t>(width);
                lo[c] = std::min(lo[c], values[i]);
                hi[c] = std::max(hi[c], values[i]);
            }
            a["min"] = json(std::vector<double>(lo.begin(), lo.end()));
            a["max"] = json(std::vector<double>(hi.begin(), hi.end()));
        }
        accessors.push_back(std::move(a));
        return accessors.size() - 1;
    }

    std::size_t indices(const std::vector<std::uint32_t>& values) {
        accessors.push_back({{"bufferView", view(values.data(), values.size() * 4, gl_element_array_buffer)},
                             {"componentType", gl_unsigned_int},
                             {"count", values.size()},
                             {"type", "SCALAR"}});
        return accessors.size() - 1;
    }
};

const char* alpha_name(int alpha) {
    return alpha == alpha_mask ? "MASK" : alpha == alpha_blend ? "BLEND" : "OPAQUE";
}

/// Red, green and blue of a room vertex, 0 to 1.
std::array<float, 3> vertex_colour(const troom_vertex& v, std::int32_t version) {
    if (version <= 2) {
        // These versions store only a shade: 0 bright, 31 dark.
        const float grey = static_cast<float>(31 - std::min(lighting_shade(v.lighting), std::uint8_t{31})) / 31.0f;
        return {grey, grey, grey};
    }
    return {static_cast<float>((v.colour >> 10) & 31) / 31.0f,
            static_cast<float>((v.colour >> 5) & 31) / 31.0f,
            static_cast<float>(v.colour & 31) / 31.0f};
}

float metres(std::int32_t units) { return static_cast<float>(units / units_per_metre); }

/// Builds the primitives of one room.
class room_builder {
public:
    room_builder(const Ttrlevel& level, const troom& room, const std::vector<std::ptrdiff_t>& page_of,
                 model_summary& summary)
        : level_(level), room_(room), page_of_(page_of), summary_(summary) {}

    std::map<material_key, primitive_data> primitives;

    template <std::size_t N> void face(const std::uint16_t (&corners)[N], std::uint16_t word) {
        for (const std::uint16_t c : corners) {
            if (c >= room_.num_vertices) {
                ++summary_.skipped_faces;
                return;
            }
        }
        material_key key;
        key.two_sided = face_two_sided(word, level_.version);
        tobject_texture texture{};
        // A TRC room's faces are all layer faces.
        const std::uint16_t index = face_texture_index(word, level_.version == level_trc);
        if (index < level_.object_textures.size()) {
            texture = level_.object_textures[index];
            key.alpha = texture.blend_mode == 0 ? alpha_opaque : texture.blend_mode == 1 ? alpha_mask : alpha_blend;
            if (texture_page(texture) < page_of_.size()) {
                key.page = page_of_[texture_page(texture)];
            }
        }
        if (key.page < 0) {
            ++summary_.untextured_faces;
            key.alpha = alpha_opaque;
        }
        primitive_data& p = primitives[key];
        const auto base = static_cast<std::uint32_t>(p.positions.size() / 3);
        for (std::size_t c = 0; c < N; ++c) {
            const troom_vertex& v = room_.vertices[corners[c]];
            // A half turn about x: y up, z toward the viewer; nothing mirrored.
            p.positions.insert(p.positions.end(), {metres(v.x), 0.0f - metres(v.y), 0.0f - metres(v.z)});
            const auto colour = vertex_colour(v, level_.version);
            p.colours.insert(p.colours.end(), colour.begin(), colour.end());
            if (key.page >= 0) {
                p.uvs.insert(p.uvs.end(), {static_cast<float>(texture.corners[c].u) / 65536.0f,
                                           static_cast<float>(texture.corners[c].v) / 65536.0f});
            }
        }
        // Corners reversed: clockwise in the level's frame is counter-clockwise in glTF's.
        p.indices.insert(p.indices.end(), {base, base + 2, base + 1});
        if (N == 4) {
            p.indices.insert(p.indices.end(), {base, base + 3, base + 2});
        }
        ++summary_.faces;
    }

private:
    const Ttrlevel& level_;
    const troom& room_;
    const std::vector<std::ptrdiff_t>& page_of_;
    model_summary& summary_;
};

} // namespace

page_form model_page_form(const Ttrlevel& level, const page_store& pages) {
    if (level.version >= level_tr4) {
        return page_form::bits32;
    }
    if (level.version >= 3 && pages.find(page_form::bits16, 0) >= 0) {
        return page_form::bits16;
    }
    return page_form::bits8;
}

std::vector<std::uint8_t> build_glb(const Ttrlevel& level, page_store& pages,
                                    model_summary& summary) {
    const page_form form = model_page_form(level, pages);
    std::vector<std::ptrdiff_t> page_of;  // object-texture page number -> index in pages
    for (const level_page& page : pages.pages()) {
        if (page.form == form) {
            page_of.push_back(pages.find(form, static_cast<std::uint32_t>(page_of.size())));
        }
    }

    glb_builder glb;
    std::map<material_key, std::size_t> material_index;
    std::map<std::ptrdiff_t, std::size_t> texture_index;  // page -> glTF texture (and image)
    json materials = json::array(), textures = json::array(), images = json::array();
    json meshes = json::array(), nodes = json::array(), scene_nodes = json::array();

    auto material = [&](const material_key& key) {
        const auto found = material_index.find(key);
        if (found != material_index.end()) {
            return found->second;
        }
        json m = {{"alphaMode", alpha_name(key.alpha)},
                  {"doubleSided", key.two_sided},
                  {"extensions", {{"KHR_materials_unlit", json::object()}}},
                  {"pbrMetallicRoughness", {{"metallicFactor", 0.0}, {"roughnessFactor", 1.0}}}};
        std::string name = "untextured";
        if (key.page >= 0) {
            auto [t, added] = texture_index.try_emplace(key.page, textures.size());
            if (added) {
                const std::vector<std::uint8_t>& png = pages.png(static_cast<std::size_t>(key.page));
                images.push_back({{"name", page_name(pages.pages()[static_cast<std::size_t>(key.page)])},
                                  {"bufferView", glb.view(png.data(), png.size(), 0)},
                                  {"mimeType", "image/png"}});
                textures.push_back({{"sampler", 0}, {"source", images.size() - 1}});
            }
            m["pbrMetallicRoughness"]["baseColorTexture"] = {{"index", t->second}};
            name = page_name(pages.pages()[static_cast<std::size_t>(key.page)]);
        }
        name += std::string(" ") + (key.alpha == alpha_opaque ? "opaque" : key.alpha == alpha_mask ? "mask" : "blend");
        if (key.two_sided) {
            name += " two-sided";
        }
        m["name"] = name;
        materials.push_back(std::move(m));
        material_index.emplace(key, materials.size() - 1);
        return materials.size() - 1;
    };

    for (std::size_t r = 0; r < level.rooms.size(); ++r) {
        const troom& room = level.rooms[r];
        room_builder builder(level, room, page_of, summary);
        for (std::size_t i = 0; i < room.num_rectangles; ++i) {
            builder.face(room.rectangles[i].corners, room.rectangles[i].texture);
        }
        for (std::size_t i = 0; i < room.num_triangles; ++i) {
            builder.face(room.triangles[i].corners, room.triangles[i].texture);
        }
        const std::string name = "room " + std::to_string(r);
        json node = {{"name", name},
                     {"translation", {metres(room.pos_x), 0.0, 0.0f - metres(room.pos_z)}}};
        if (!builder.primitives.empty()) {
            json primitives = json::array();
            for (const auto& [key, p] : builder.primitives) {
                json attributes = {{"POSITION", glb.floats(p.positions, 3, "VEC3", true)},
                                   {"COLOR_0", glb.floats(p.colours, 3, "VEC3", false)}};
                if (key.page >= 0) {
                    attributes["TEXCOORD_0"] = glb.floats(p.uvs, 2, "VEC2", false);
                }
                primitives.push_back({{"attributes", attributes},
                                      {"indices", glb.indices(p.indices)},
                                      {"material", material(key)},
                                      {"mode", 4}});
            }
            meshes.push_back({{"name", name}, {"primitives", primitives}});
            node["mesh"] = meshes.size() - 1;
        }
        nodes.push_back(std::move(node));
        scene_nodes.push_back(r);
    }
    summary.rooms = level.rooms.size();
    summary.images = images.size();

    json gltf = {{"asset", {{"version", "2.0"}, {"generator", "quarlix-export 1.0"}}},
                 {"scene", 0},
                 {"scenes", {{{"name", "level"}, {"nodes", scene_nodes}}}},
                 {"nodes", nodes}};
    if (!meshes.empty()) {
        gltf["meshes"] = meshes;
        gltf["materials"] = materials;
        gltf["accessors"] = glb.accessors;
        gltf["extensionsUsed"] = {"KHR_materials_unlit"};
    }
    if (!images.empty()) {
        gltf["images"] = images;
        gltf["textures"] = textures;
        gltf["samplers"] = {{{"magFilter", 9728}, {"minFilter", 9987}, {"wrapS", 33071}, {"wrapT", 33071}}};
    }
    if (!glb.bin.empty()) {
        gltf["bufferViews"] = glb.buffer_views;
        gltf["buffers"] = {{{"byteLength", glb.bin.size()}}};
    }

    std::string text = gltf.dump();
    text.resize((text.size() + 3) / 4 * 4, ' ');
    std::vector<std::uint8_t>& bin = glb.bin;
    const std::size_t bin_chunk = bin.empty() ? 0 : 8 + (bin.size() + 3) / 4 * 4;
    const auto total = static_cast<std::uint32_t>(12 + 8 + text.size() + bin_chunk);
    std::vector<std::uint8_t> out;
    out.reserve(total);
    auto u32 = [&](std::uint32_t v) {
        const std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
        out.insert(out.end(), b, b + 4);
    };
    u32(0x46546C67u);  // "glTF"
    u32(2);
    u32(total);
    u32(static_cast<std::uint32_t>(text.size()));
    u32(0x4E4F534Au);  // "JSON"
    out.insert(out.end(), text.begin(), text.end());
    if (!bin.empty()) {
        const std::size_t padded = (bin.size() + 3) / 4 * 4;
        u32(static_cast<std::uint32_t>(padded));
        u32(0x004E4942u);  // "BIN"
        out.insert(out.end(), bin.begin(), bin.end());
        out.resize(out.size() + padded - bin.size(), 0);
    }
    return out;
}

} // namespace quarlix::exporting
