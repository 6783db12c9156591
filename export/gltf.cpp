// glTF building blocks: views and accessors in one binary chunk, materials per page and
// alpha, faces expanded per corner, the .glb container.
#include "export/gltf.h"

#include <algorithm>
#include <cmath>

#include "level/records.h"
#include "level/trunit2.h"
#include "storage/errors.h"

namespace quarlix::exporting {

namespace {

constexpr int gl_float = 5126;
constexpr int gl_unsigned_short = 5123;
constexpr int gl_unsigned_int = 5125;
constexpr int gl_array_buffer = 34962;
constexpr int gl_element_array_buffer = 34963;

const char* alpha_name(int alpha) {
    return alpha == alpha_mask ? "MASK" : alpha == alpha_blend ? "BLEND" : "OPAQUE";
}

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

std::array<float, 3> gltf_point(double x, double y, double z) {
    // 0 - v, not -v: a zero stays +0.
    return {static_cast<float>(x / units_per_metre), static_cast<float>(0.0 - y / units_per_metre),
            static_cast<float>(0.0 - z / units_per_metre)};
}

gltf_document::gltf_document(const Ttrlevel& level, page_store& pages, image_place images,
                             gltf_sink* sink)
    : level_(level), pages_(pages), place_(images), sink_(sink) {
    const page_form form = model_page_form(level, pages);
    for (const level_page& page : pages.pages()) {
        if (page.form == form) {
            page_of_.push_back(pages.find(form, static_cast<std::uint32_t>(page_of_.size())));
        }
    }
}

std::size_t gltf_document::view(const void* data, std::size_t size, int target) {
    static constexpr std::uint8_t zeros[4] = {};
    const std::uint64_t offset = glb_padded(bin_size_);
    const bool made = makes(gltf_part::views);
    json v;
    if (made) {
        v = {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", size}};
        if (target != 0) {
            v["target"] = target;
        }
    }
    if (sink_ != nullptr) {
        sink_->bin(zeros, static_cast<std::size_t>(offset - bin_size_));
        if (made) {
            sink_->view(v);
        }
        sink_->bin(data, size);
    } else {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        bin_.resize(static_cast<std::size_t>(offset), 0);
        bin_.insert(bin_.end(), bytes, bytes + size);
        buffer_views_.push_back(std::move(v));
    }
    bin_size_ = offset + size;
    return view_count_++;
}

std::size_t gltf_document::accessor(json a) {
    if (sink_ != nullptr) {
        sink_->accessor(a);
    } else {
        accessors_.push_back(std::move(a));
    }
    return accessor_count_++;
}

std::size_t gltf_document::node(json n) {
    if (sink_ != nullptr) {
        if (makes(gltf_part::nodes)) {
            sink_->node(n);
        }
    } else {
        nodes.push_back(std::move(n));
    }
    return node_count_++;
}

std::size_t gltf_document::typed_accessor(std::size_t view_index, int component_type,
                                          std::size_t count, const char* type,
                                          std::span<const float> lo, std::span<const float> hi) {
    if (!makes(gltf_part::accessors)) {
        return accessor_count_++; // counted for the indices that follow, not made
    }
    json a = {{"bufferView", view_index},
              {"componentType", component_type},
              {"count", count},
              {"type", type}};
    if (!lo.empty()) {
        a["min"] = json(std::vector<double>(lo.begin(), lo.end()));
        a["max"] = json(std::vector<double>(hi.begin(), hi.end()));
    }
    return accessor(std::move(a));
}

std::size_t gltf_document::floats(const std::vector<float>& values, int width, const char* type,
                                  bool bounds, bool vertex_data) {
    const std::size_t view_index =
        view(values.data(), values.size() * 4, vertex_data ? gl_array_buffer : 0);
    const std::size_t count = values.size() / static_cast<std::size_t>(width);
    if (!bounds || !makes(gltf_part::accessors)) {
        return typed_accessor(view_index, gl_float, count, type);
    }
    std::vector<float> lo(values.begin(), values.begin() + width);
    std::vector<float> hi = lo;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t c = i % static_cast<std::size_t>(width);
        lo[c] = std::min(lo[c], values[i]);
        hi[c] = std::max(hi[c], values[i]);
    }
    return typed_accessor(view_index, gl_float, count, type, lo, hi);
}

std::size_t gltf_document::indices(const std::vector<std::uint32_t>& values) {
    const std::size_t view_index = view(values.data(), values.size() * 4, gl_element_array_buffer);
    return typed_accessor(view_index, gl_unsigned_int, values.size(), "SCALAR");
}

material_key gltf_document::face_material(std::uint16_t texture_word, bool layer_face,
                                          bool additive, bool lit,
                                          std::array<std::array<float, 2>, 4>& uvs,
                                          bool& textured) const {
    material_key key;
    key.two_sided = face_two_sided(texture_word, level_.version);
    key.lit = lit;
    const std::uint16_t index = face_texture_index(texture_word, layer_face);
    uvs = {};
    if (index < level_.object_textures.size()) {
        const tobject_texture& texture = level_.object_textures[index];
        key.alpha = texture.blend_mode == 0   ? alpha_opaque
                    : texture.blend_mode == 1 ? alpha_mask
                                              : alpha_blend;
        if (texture_page(texture) < page_of_.size()) {
            key.page = page_of_[texture_page(texture)];
        }
        for (std::size_t c = 0; c < 4; ++c) {
            uvs[c] = {static_cast<float>(texture.corners[c].u) / 65536.0f,
                      static_cast<float>(texture.corners[c].v) / 65536.0f};
        }
    }
    textured = key.page >= 0;
    if (!textured) {
        key.alpha = alpha_opaque;
    } else if (additive) {
        key.alpha = alpha_blend;
        key.additive = true;
    }
    return key;
}

material_key gltf_document::sprite_material(std::uint16_t page) const {
    material_key key;
    key.two_sided = true;
    if (page < page_of_.size() && page_of_[page] >= 0) {
        key.page = page_of_[page];
        key.alpha = alpha_mask;
    }
    return key;
}

void gltf_document::add_face(primitive_map& primitives, const material_key& key,
                             const face_corner* corners, std::size_t n,
                             const std::array<std::array<float, 2>, 4>& uvs, bool skinned) {
    primitive_data& p = primitives[key];
    const auto base = static_cast<std::uint32_t>(p.positions.size() / 3);
    for (std::size_t c = 0; c < n; ++c) {
        const face_corner& corner = corners[c];
        const auto at = gltf_point(corner.position[0], corner.position[1], corner.position[2]);
        p.positions.insert(p.positions.end(), at.begin(), at.end());
        p.colours.insert(p.colours.end(), corner.colour.begin(), corner.colour.end());
        if (key.lit) {
            const auto& v = corner.normal;
            const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            if (length > 0) {
                p.normals.insert(p.normals.end(), {static_cast<float>(v[0] / length),
                                                   static_cast<float>(-v[1] / length),
                                                   static_cast<float>(-v[2] / length)});
            } else {
                p.normals.insert(p.normals.end(), {0.0f, 1.0f, 0.0f}); // none given: up
            }
        }
        if (key.page >= 0) {
            p.uvs.insert(p.uvs.end(), uvs[c].begin(), uvs[c].end());
        }
        if (skinned) {
            p.joints.insert(p.joints.end(), {corner.joint, 0, 0, 0});
        }
    }
    // Corners reversed: clockwise in the level's frame is counter-clockwise in glTF's.
    p.indices.insert(p.indices.end(), {base, base + 2, base + 1});
    if (n == 4) {
        p.indices.insert(p.indices.end(), {base, base + 3, base + 2});
    }
}

std::size_t gltf_document::mesh(const std::string& name, const primitive_map& primitives) {
    // The accessors, views and materials are made in the same order whether or not the mesh's
    // own JSON is wanted: their numbers and the binary chunk do not depend on the sink.
    const bool made = makes(gltf_part::meshes);
    json list = json::array();
    for (const auto& [key, p] : primitives) {
        json attributes = json::object();
        const auto attribute = [&](const char* name, std::size_t accessor_index) {
            if (made) {
                attributes[name] = accessor_index;
            }
        };
        attribute("POSITION", floats(p.positions, 3, "VEC3", true));
        attribute("COLOR_0", floats(p.colours, 3, "VEC3", false));
        if (key.lit) {
            attribute("NORMAL", floats(p.normals, 3, "VEC3", false));
        }
        if (key.page >= 0) {
            attribute("TEXCOORD_0", floats(p.uvs, 2, "VEC2", false));
        }
        if (!p.joints.empty()) {
            const std::size_t view_index =
                view(p.joints.data(), p.joints.size() * 2, gl_array_buffer);
            attribute("JOINTS_0",
                      typed_accessor(view_index, gl_unsigned_short, p.joints.size() / 4, "VEC4"));
            std::vector<float> weights(p.joints.size(), 0.0f);
            for (std::size_t i = 0; i < weights.size(); i += 4) {
                weights[i] = 1.0f;
            }
            attribute("WEIGHTS_0", floats(weights, 4, "VEC4", false));
        }
        const std::size_t indices_index = indices(p.indices);
        const std::size_t material_index = material(key);
        if (made) {
            list.push_back({{"attributes", std::move(attributes)},
                            {"indices", indices_index},
                            {"material", material_index},
                            {"mode", 4}});
        }
    }
    if (sink_ != nullptr) {
        if (made) {
            sink_->mesh(json{{"name", name}, {"primitives", std::move(list)}});
        }
    } else {
        meshes.push_back({{"name", name}, {"primitives", std::move(list)}});
    }
    return mesh_count_++;
}

std::size_t gltf_document::material(const material_key& key) {
    const auto found = material_index_.find(key);
    if (found != material_index_.end()) {
        return found->second;
    }
    json m = {{"alphaMode", alpha_name(key.alpha)},
              {"doubleSided", key.two_sided},
              {"pbrMetallicRoughness", {{"metallicFactor", 0.0}, {"roughnessFactor", 1.0}}}};
    if (!key.lit) {
        m["extensions"] = {{"KHR_materials_unlit", json::object()}};
    }
    std::string name = "untextured";
    if (key.page >= 0) {
        const level_page& page = pages_.pages()[static_cast<std::size_t>(key.page)];
        auto [t, added] = texture_index_.try_emplace(key.page, textures_.size());
        if (added) {
            if (place_ == image_place::embedded) {
                const std::vector<std::uint8_t>& png =
                    pages_.png(static_cast<std::size_t>(key.page));
                images_.push_back({{"name", page_name(page)},
                                   {"bufferView", view(png.data(), png.size(), 0)},
                                   {"mimeType", "image/png"}});
            } else {
                images_.push_back({{"name", page_name(page)},
                                   {"uri", "../textures/" + page_name(page) + ".png"}});
            }
            textures_.push_back({{"sampler", 0}, {"source", images_.size() - 1}});
        }
        m["pbrMetallicRoughness"]["baseColorTexture"] = {{"index", t->second}};
        name = page_name(page);
    }
    name += std::string(" ") + (key.additive                ? "additive"
                                : key.alpha == alpha_opaque ? "opaque"
                                : key.alpha == alpha_mask   ? "mask"
                                                            : "blend");
    if (key.two_sided) {
        name += " two-sided";
    }
    if (key.lit) {
        name += " lit";
    }
    if (key.water) {
        name += " water";
        m["pbrMetallicRoughness"]["baseColorFactor"] = {0.55, 0.75, 1.0, 1.0};
    }
    m["name"] = name;
    materials_.push_back(std::move(m));
    material_index_.emplace(key, materials_.size() - 1);
    return materials_.size() - 1;
}

std::vector<std::uint8_t> gltf_document::finish(std::size_t scene, std::uint64_t limit) {
    json gltf = {{"asset", {{"version", "2.0"}, {"generator", "quarlix-export 1.0"}}},
                 {"scene", scene},
                 {"scenes", scenes},
                 {"nodes", nodes}};
    if (!meshes.empty()) {
        gltf["meshes"] = meshes;
    }
    if (!materials_.empty()) {
        gltf["materials"] = materials_;
        bool unlit = false;
        for (const json& m : materials_) {
            unlit = unlit || m.contains("extensions");
        }
        if (unlit) {
            gltf["extensionsUsed"] = {"KHR_materials_unlit"};
        }
    }
    if (!skins.empty()) {
        gltf["skins"] = skins;
    }
    if (!animations.empty()) {
        gltf["animations"] = animations;
    }
    if (!accessors_.empty()) {
        gltf["accessors"] = accessors_;
    }
    if (!images_.empty()) {
        gltf["images"] = images_;
        gltf["textures"] = textures_;
        gltf["samplers"] = {
            {{"magFilter", 9728}, {"minFilter", 9987}, {"wrapS", 33071}, {"wrapT", 33071}}};
    }
    if (!bin_.empty()) {
        gltf["bufferViews"] = buffer_views_;
        gltf["buffers"] = {{{"byteLength", bin_.size()}}};
    }

    std::string text = gltf.dump();
    text.resize(glb_padded(text.size()), ' ');
    const glb_frame frame{text.size(), bin_.size()};
    frame.check(limit, "a model", "");
    std::vector<std::uint8_t> out(static_cast<std::size_t>(frame.size()), 0);
    auto at = out.begin();
    const auto bytes = [&at](const auto& from) { at = std::copy(from.begin(), from.end(), at); };
    bytes(frame.head());
    bytes(text);
    if (!bin_.empty()) {
        bytes(frame.bin_head());
        bytes(bin_); // the padding after it is already zeros
    }
    return out;
}

namespace {

template <std::size_t N>
void put_u32s(std::array<std::uint8_t, N>& out, std::initializer_list<std::uint64_t> words) {
    std::size_t at = 0;
    for (const std::uint64_t word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            out[at++] = static_cast<std::uint8_t>(word >> shift);
        }
    }
}

} // namespace

void glb_frame::check(std::uint64_t limit, std::string_view what,
                      std::string_view consequence) const {
    if (size() > limit) {
        throw ERangeError(std::string(what) + " would be " + std::to_string(size()) +
                          " bytes, more than the " + std::to_string(limit) +
                          " that a binary glTF file's 32-bit lengths can state" +
                          std::string(consequence));
    }
}

std::array<std::uint8_t, 20> glb_frame::head() const {
    std::array<std::uint8_t, 20> head{};
    put_u32s(head, {0x46546C67u /* "glTF" */, 2, size(), glb_padded(json_length),
                    0x4E4F534Au /* "JSON" */});
    return head;
}

std::array<std::uint8_t, 8> glb_frame::bin_head() const {
    std::array<std::uint8_t, 8> head{};
    put_u32s(head, {glb_padded(bin_length), 0x004E4942u /* "BIN" */});
    return head;
}

} // namespace quarlix::exporting
