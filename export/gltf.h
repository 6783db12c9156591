// The parts of a binary glTF 2.0 file that the room model and the object files share: the
// binary chunk with its views and accessors, materials over the level's pages, textured faces
// and the .glb container.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "export/pictures.h"
#include "nlohmann/json.hpp"

namespace quarlix {
class Ttrlevel;
}

namespace quarlix::exporting {

using json = nlohmann::json;

/// Level units per glTF metre.
inline constexpr double units_per_metre = 1024.0;

/// A level position in glTF space: y up and z turned with it (a half turn about x, so
/// nothing is mirrored), in metres.
std::array<float, 3> gltf_point(double x, double y, double z);

enum alpha_mode { alpha_opaque, alpha_mask, alpha_blend };

/// What a face is drawn with: its page's image (-1 none), alpha mode, sidedness, whether it
/// is lit by normals (else by its vertex colours), and additive blending.
struct material_key {
    std::ptrdiff_t page = -1;
    int alpha = alpha_opaque;
    bool two_sided = false;
    bool lit = false;
    bool additive = false;
    bool water = false; // a face of a water room: tinted, and named so a user can select it
    auto operator<=>(const material_key&) const = default;
};

/// Faces of one material, expanded per corner.
struct primitive_data {
    std::vector<float> positions, normals, uvs, colours;
    std::vector<std::uint16_t> joints; // one joint per corner, when skinned
    std::vector<std::uint32_t> indices;
};

using primitive_map = std::map<material_key, primitive_data>;

/// One face corner as the level gives it: a position in level units, its light (red, green,
/// blue 0 to 1), a normal in level axes when lit, and the joint it moves with.
struct face_corner {
    std::array<double, 3> position{};
    std::array<float, 3> colour{1, 1, 1};
    std::array<double, 3> normal{};
    std::uint16_t joint = 0;
};

/// How the export names a page's image: embedded in the file, or the PNG file beside it.
enum class image_place { embedded, texture_files };

/// The pixel form whose pages the level's object textures refer to.
page_form model_page_form(const Ttrlevel& level, const page_store& pages);

/// The most bytes a binary glTF file may hold: its header and chunk lengths are 32-bit.
inline constexpr std::uint64_t glb_size_limit = 0xFFFFFFFFu;

/// A chunk's length padded to the 4 bytes that chunks align to.
constexpr std::uint64_t glb_padded(std::uint64_t n) { return (n + 3) / 4 * 4; }

/// The framing of a binary glTF file of a JSON chunk and a binary chunk (none when empty).
struct glb_frame {
    std::uint64_t json_length, bin_length; // before padding

    std::uint64_t size() const {
        return 12 + 8 + glb_padded(json_length) +
               (bin_length == 0 ? 0 : 8 + glb_padded(bin_length));
    }
    /// Throws ERangeError when the file would be larger than `limit`: "`what` would be N
    /// bytes, more than ...", then `consequence`.
    void check(std::uint64_t limit, std::string_view what, std::string_view consequence) const;
    /// The file header and the JSON chunk's header, which the JSON text follows.
    std::array<std::uint8_t, 20> head() const;
    /// The binary chunk's header, which its bytes follow.
    std::array<std::uint8_t, 8> bin_head() const;
};

/// The parts of a document's JSON that are made element by element.
enum class gltf_part { accessors, views, meshes, nodes };

/// Where a streamed document's parts go as they are made, in file order.
class gltf_sink {
  public:
    static constexpr unsigned bit(gltf_part part) { return 1u << static_cast<unsigned>(part); }
    virtual ~gltf_sink() = default;
    /// The parts whose elements this sink takes (their bits or-ed): the document makes no JSON
    /// for the others.
    virtual unsigned parts() const { return 0; }
    /// Bytes of the binary chunk (padding included), in order.
    virtual void bin(const void* /*data*/, std::size_t /*size*/) {}
    virtual void view(const json& /*view*/) {}
    virtual void accessor(const json& /*accessor*/) {}
    virtual void mesh(const json& /*mesh*/) {}
    virtual void node(const json& /*node*/) {}
};

/// A .glb being built: held whole (finish() makes the file), or, given a sink, its views,
/// accessors, meshes, nodes and binary bytes handed on as they are made and only the small
/// parts (materials, textures, images) kept.
class gltf_document {
  public:
    gltf_document(const Ttrlevel& level, page_store& pages, image_place images,
                  gltf_sink* sink = nullptr);

    json nodes = json::array();
    json meshes = json::array();
    json skins = json::array();
    json animations = json::array();
    json scenes = json::array();

    std::size_t view(const void* data, std::size_t size, int target);
    /// An accessor over float values of `width` components; `bounds` adds min and max.
    /// Animation keys and skin matrices are no vertex data: their views have no target.
    std::size_t floats(const std::vector<float>& values, int width, const char* type, bool bounds,
                       bool vertex_data = true);
    std::size_t indices(const std::vector<std::uint32_t>& values);

    /// The material of a face with this texture word (room or mesh face), the object texture
    /// it names (zero when none) and whether that is found on an existing page.
    material_key face_material(std::uint16_t texture_word, bool layer_face, bool additive, bool lit,
                               std::array<std::array<float, 2>, 4>& uvs, bool& textured) const;
    /// The material of a sprite on page `page` of the object textures' pages (alpha-tested,
    /// both sides); untextured when there is no such page.
    material_key sprite_material(std::uint16_t page) const;
    /// Adds one face (3 or 4 corners, clockwise in the level's frame) to the primitives.
    static void add_face(primitive_map& primitives, const material_key& key,
                         const face_corner* corners, std::size_t n,
                         const std::array<std::array<float, 2>, 4>& uvs, bool skinned);
    /// A glTF mesh of the primitives; returns its index.
    std::size_t mesh(const std::string& name, const primitive_map& primitives);

    /// Adds a node; returns its index. A streamed document's node cannot change later, so its
    /// children must be added first.
    std::size_t node(json n);

    std::size_t node_count() const { return node_count_; }
    std::size_t images() const { return images_.size(); }
    std::uint64_t bin_size() const { return bin_size_; }
    std::size_t mesh_count() const { return mesh_count_; }
    const json& materials() const { return materials_; }
    const json& textures() const { return textures_; }
    const json& image_list() const { return images_; }

    /// The whole file; `scene` is the default scene. Throws ERangeError when it would be larger
    /// than `limit` bytes.
    std::vector<std::uint8_t> finish(std::size_t scene, std::uint64_t limit = glb_size_limit);

  private:
    std::size_t material(const material_key& key);
    std::size_t accessor(json a);
    /// An accessor of `count` elements of `type` over a view, with `lo` and `hi` as its bounds
    /// when given; its JSON is made only when it goes anywhere.
    std::size_t typed_accessor(std::size_t view_index, int component_type, std::size_t count,
                               const char* type, std::span<const float> lo = {},
                               std::span<const float> hi = {});
    /// True when the JSON of a part goes anywhere (a document held whole keeps every part).
    bool makes(gltf_part part) const {
        return sink_ == nullptr || (sink_->parts() & gltf_sink::bit(part)) != 0;
    }

    const Ttrlevel& level_;
    page_store& pages_;
    image_place place_;
    gltf_sink* sink_;
    std::uint64_t bin_size_ = 0;
    std::size_t view_count_ = 0, accessor_count_ = 0, mesh_count_ = 0, node_count_ = 0;
    std::vector<std::ptrdiff_t> page_of_; // object-texture page number -> index in pages
    std::vector<std::uint8_t> bin_;
    json buffer_views_ = json::array();
    json accessors_ = json::array();
    json materials_ = json::array();
    json textures_ = json::array();
    json images_ = json::array();
    std::map<material_key, std::size_t> material_index_;
    std::map<std::ptrdiff_t, std::size_t> texture_index_;
};

} // namespace quarlix::exporting
