// glTF building: one mesh per room, one primitive per material, faces expanded per corner. The
// file is made room by room while it is written, after a first walk has found its size.
#include "export/model.h"

#include <algorithm>
#include <array>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "level/records.h"
#include "level/trunit2.h"
#include "storage/errors.h"
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

/// What a walk over the rooms meets, in file order. A pass overrides what it writes or counts.
class glb_visitor {
public:
    virtual ~glb_visitor() = default;
    /// Bytes of the binary chunk (padding included), in order.
    virtual void bin(const void* /*data*/, std::size_t /*size*/) {}
    virtual void view(const json& /*view*/) {}
    virtual void accessor(const json& /*accessor*/) {}
    virtual void mesh(const json& /*mesh*/) {}
    virtual void node(const json& /*node*/) {}
};

/// Walks the rooms one at a time and makes the model's parts in the order they stand in the
/// file; only one room's primitives are held at a time. Every walk meets the same parts, so a
/// file can be counted in one walk and written in others.
class glb_walker {
public:
    glb_walker(const Ttrlevel& level, page_store& pages, const std::vector<std::ptrdiff_t>& page_of)
        : level_(level), pages_(pages), page_of_(page_of) {}

    // What the walk found besides the rooms: small, bounded by the pages and blend modes.
    std::uint64_t bin_size = 0;
    std::size_t meshes = 0;
    json materials = json::array(), textures = json::array(), images = json::array();

    void walk(glb_visitor& v, model_summary& summary) {
        visitor_ = &v;
        bin_size = 0;
        views_ = accessors_ = meshes = 0;
        material_index_.clear();
        texture_index_.clear();
        materials = json::array();
        textures = json::array();
        images = json::array();
        for (std::size_t r = 0; r < level_.rooms.size(); ++r) {
            room(r, summary);
        }
    }

private:
    std::size_t view(const void* data, std::size_t size, int target) {
        static constexpr std::uint8_t zeros[4] = {};
        const std::uint64_t offset = (bin_size + 3) / 4 * 4;
        visitor_->bin(zeros, static_cast<std::size_t>(offset - bin_size));
        json v = {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", size}};
        if (target != 0) {
            v["target"] = target;
        }
        visitor_->view(v);
        visitor_->bin(data, size);
        bin_size = offset + size;
        return views_++;
    }

    std::size_t accessor(json a) {
        visitor_->accessor(a);
        return accessors_++;
    }

    std::size_t floats(const std::vector<float>& values, int width, const char* type, bool bounds) {
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
        return accessor(std::move(a));
    }

    std::size_t indices(const std::vector<std::uint32_t>& values) {
        return accessor({{"bufferView", view(values.data(), values.size() * 4, gl_element_array_buffer)},
                         {"componentType", gl_unsigned_int},
                         {"count", values.size()},
                         {"type", "SCALAR"}});
    }

    std::size_t material(const material_key& key) {
        const auto found = material_index_.find(key);
        if (found != material_index_.end()) {
            return found->second;
        }
        json m = {{"alphaMode", alpha_name(key.alpha)},
                  {"doubleSided", key.two_sided},
                  {"extensions", {{"KHR_materials_unlit", json::object()}}},
                  {"pbrMetallicRoughness", {{"metallicFactor", 0.0}, {"roughnessFactor", 1.0}}}};
        std::string name = "untextured";
        if (key.page >= 0) {
            const auto page = static_cast<std::size_t>(key.page);
            auto [t, added] = texture_index_.try_emplace(key.page, textures.size());
            if (added) {
                const std::vector<std::uint8_t>& png = pages_.png(page);
                images.push_back({{"name", page_name(pages_.pages()[page])},
                                  {"bufferView", view(png.data(), png.size(), 0)},
                                  {"mimeType", "image/png"}});
                textures.push_back({{"sampler", 0}, {"source", images.size() - 1}});
            }
            m["pbrMetallicRoughness"]["baseColorTexture"] = {{"index", t->second}};
            name = page_name(pages_.pages()[page]);
        }
        name += std::string(" ") + (key.alpha == alpha_opaque ? "opaque" : key.alpha == alpha_mask ? "mask" : "blend");
        if (key.two_sided) {
            name += " two-sided";
        }
        m["name"] = name;
        materials.push_back(std::move(m));
        material_index_.emplace(key, materials.size() - 1);
        return materials.size() - 1;
    }

    void room(std::size_t r, model_summary& summary) {
        const troom& room = level_.rooms[r];
        room_builder builder(level_, room, page_of_, summary);
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
                json attributes = {{"POSITION", floats(p.positions, 3, "VEC3", true)},
                                   {"COLOR_0", floats(p.colours, 3, "VEC3", false)}};
                if (key.page >= 0) {
                    attributes["TEXCOORD_0"] = floats(p.uvs, 2, "VEC2", false);
                }
                const std::size_t index_accessor = indices(p.indices);
                primitives.push_back({{"attributes", attributes},
                                      {"indices", index_accessor},
                                      {"material", material(key)},
                                      {"mode", 4}});
            }
            visitor_->mesh({{"name", name}, {"primitives", primitives}});
            node["mesh"] = meshes++;
        }
        visitor_->node(node);
    }

    const Ttrlevel& level_;
    page_store& pages_;
    const std::vector<std::ptrdiff_t>& page_of_;
    glb_visitor* visitor_ = nullptr;
    std::size_t views_ = 0, accessors_ = 0;
    std::map<material_key, std::size_t> material_index_;
    std::map<std::ptrdiff_t, std::size_t> texture_index_;  // page -> glTF texture (and image)
};

/// Where the text of the JSON chunk goes: counted only, or written too.
class text_sink {
public:
    explicit text_sink(std::ostream* out) : out_(out) {}
    void put(std::string_view text) {
        size_ += text.size();
        if (out_ != nullptr) {
            out_->write(text.data(), static_cast<std::streamsize>(text.size()));
        }
    }
    std::uint64_t size() const { return size_; }
    /// Counts text of a known length, which a sink that writes cannot take.
    void skip(std::uint64_t length) {
        if (out_ != nullptr) {
            throw std::logic_error("text skipped while writing");
        }
        size_ += length;
    }

private:
    std::ostream* out_;
    std::uint64_t size_ = 0;
};

enum class part { accessors, views, meshes, nodes };

/// The length of each part's elements, comma-separated, counted in one walk.
class part_lengths : public glb_visitor {
public:
    void view(const json& v) override { element(part::views, v); }
    void accessor(const json& a) override { element(part::accessors, a); }
    void mesh(const json& m) override { element(part::meshes, m); }
    void node(const json& n) override { element(part::nodes, n); }
    std::uint64_t of(part which) const { return lengths_[static_cast<int>(which)]; }

private:
    void element(part which, const json& value) {
        std::uint64_t& length = lengths_[static_cast<int>(which)];
        length += (length == 0 ? 0 : 1) + value.dump().size();
    }
    std::uint64_t lengths_[4] = {};
};

/// Puts one part's elements, comma-separated, as a walk meets them.
class part_text : public glb_visitor {
public:
    part_text(text_sink& sink, part wanted) : sink_(sink), wanted_(wanted) {}
    void view(const json& v) override { element(part::views, v); }
    void accessor(const json& a) override { element(part::accessors, a); }
    void mesh(const json& m) override { element(part::meshes, m); }
    void node(const json& n) override { element(part::nodes, n); }

private:
    void element(part which, const json& value) {
        if (which == wanted_) {
            sink_.put(first_ ? "" : ",");
            sink_.put(value.dump());
            first_ = false;
        }
    }
    text_sink& sink_;
    part wanted_;
    bool first_ = true;
};

/// Puts the binary chunk's bytes.
class bin_bytes : public glb_visitor {
public:
    explicit bin_bytes(std::ostream& out) : out_(out) {}
    void bin(const void* data, std::size_t size) override {
        out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

private:
    std::ostream& out_;
};

/// The JSON chunk's text (its keys sorted, as a JSON object's dump sorts them), each part
/// that grows with the rooms made by a walk of its own, or only counted when `lengths` holds
/// their lengths. `walker` has walked once already.
void json_text(glb_walker& walker, text_sink& sink, std::size_t rooms,
               const part_lengths* lengths) {
    model_summary scratch;
    bool first = true;
    const auto key = [&](const char* name) {
        sink.put(first ? "{\"" : ",\"");
        sink.put(name);
        sink.put("\":");
        first = false;
    };
    const auto walked = [&](part which) {
        sink.put("[");
        if (lengths != nullptr) {
            sink.skip(lengths->of(which));
        } else {
            part_text text(sink, which);
            walker.walk(text, scratch);
        }
        sink.put("]");
    };
    const bool meshes = walker.meshes != 0, images = !walker.images.empty();
    if (meshes) {
        key("accessors");
        walked(part::accessors);
    }
    key("asset");
    sink.put(json{{"version", "2.0"}, {"generator", "quarlix-export 1.0"}}.dump());
    if (walker.bin_size != 0) {
        key("bufferViews");
        walked(part::views);
        key("buffers");
        sink.put(json::array({{{"byteLength", walker.bin_size}}}).dump());
    }
    if (meshes) {
        key("extensionsUsed");
        sink.put(json::array({"KHR_materials_unlit"}).dump());
    }
    if (images) {
        key("images");
        sink.put(walker.images.dump());
    }
    if (meshes) {
        key("materials");
        sink.put(walker.materials.dump());
        key("meshes");
        walked(part::meshes);
    }
    key("nodes");
    walked(part::nodes);
    if (images) {
        key("samplers");
        sink.put(json::array({{{"magFilter", 9728}, {"minFilter", 9987}, {"wrapS", 33071}, {"wrapT", 33071}}}).dump());
    }
    key("scene");
    sink.put("0");
    key("scenes");
    sink.put("[{\"name\":\"level\",\"nodes\":[");
    for (std::size_t r = 0; r < rooms; ++r) {
        sink.put(r == 0 ? "" : ",");
        sink.put(std::to_string(r));
    }
    sink.put("]}]");
    if (images) {
        key("textures");
        sink.put(walker.textures.dump());
    }
    sink.put("}");
}

void put_u32(std::ostream& out, std::uint32_t v) {
    const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.write(b, 4);
}

std::uint64_t padded4(std::uint64_t n) { return (n + 3) / 4 * 4; }

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


glb_file::glb_file(const Ttrlevel& level, page_store& pages, model_summary& summary,
                   std::uint64_t limit)
    : level_(level), pages_(pages) {
    const page_form form = model_page_form(level, pages);
    for (const level_page& page : pages.pages()) {
        if (page.form == form) {
            page_of_.push_back(pages.find(form, static_cast<std::uint32_t>(page_of_.size())));
        }
    }
    glb_walker walker(level, pages, page_of_);
    part_lengths lengths;
    walker.walk(lengths, summary);
    summary.rooms = level.rooms.size();
    summary.images = walker.images.size();
    text_sink text(nullptr);
    json_text(walker, text, level.rooms.size(), &lengths);
    json_size_ = text.size();
    bin_size_ = walker.bin_size;
    size_ = 12 + 8 + padded4(json_size_) + (bin_size_ == 0 ? 0 : 8 + padded4(bin_size_));
    if (size_ > limit) {
        throw ERangeError("the model would be " + std::to_string(size_) +
                          " bytes, more than the " + std::to_string(limit) +
                          " that a binary glTF file's 32-bit lengths can state; level.glb is "
                          "not written");
    }
}

void glb_file::write(std::ostream& out) {
    put_u32(out, 0x46546C67u);  // "glTF"
    put_u32(out, 2);
    put_u32(out, static_cast<std::uint32_t>(size_));
    put_u32(out, static_cast<std::uint32_t>(padded4(json_size_)));
    put_u32(out, 0x4E4F534Au);  // "JSON"
    glb_walker walker(level_, pages_, page_of_);
    model_summary scratch;
    glb_visitor count;
    walker.walk(count, scratch);
    text_sink text(&out);
    json_text(walker, text, level_.rooms.size(), nullptr);
    out.write("   ", static_cast<std::streamsize>(padded4(json_size_) - json_size_));
    if (bin_size_ != 0) {
        put_u32(out, static_cast<std::uint32_t>(padded4(bin_size_)));
        put_u32(out, 0x004E4942u);  // "BIN"
        bin_bytes bin(out);
        walker.walk(bin, scratch);
        out.write("\0\0\0", static_cast<std::streamsize>(padded4(bin_size_) - bin_size_));
    }
}

std::vector<std::uint8_t> glb_file::bytes() {
    std::ostringstream out;
    write(out);
    const std::string text = std::move(out).str();
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> build_glb(const Ttrlevel& level, page_store& pages,
                                    model_summary& summary) {
    return glb_file(level, pages, summary).bytes();
}

} // namespace quarlix::exporting
