// glTF building: one mesh per room, one primitive per material, faces expanded per corner.
#include "export/model.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "level/records.h"
#include "level/trunit2.h"
#include "storage/errors.h"

namespace quarlix::exporting {

namespace {

/// Red, green and blue (0 to 1) of vertex i of a room, from the light the version stores.
std::array<float, 3> vertex_colour(const troom& room, std::size_t i, std::int32_t version) {
    const troom_vertex& v = room.vertices[i];
    if (version <= 4) {
        // A shade from 0 (bright) to 8191 (dark); versions 3 and 4 light with their second one.
        const int shade = std::clamp<int>(
            version <= 2 ? v.lighting : static_cast<std::int16_t>(v.colour), 0, 8191);
        const float grey = static_cast<float>(8191 - shade) / 8191.0f;
        return {grey, grey, grey};
    }
    if (version == level_trc && i < room.trc_vertices.size()) {
        // The layer vertex's own bytes: blue, green, red.
        const std::uint8_t* c = room.trc_vertices[i].colour;
        return {static_cast<float>(c[2]) / 255.0f, static_cast<float>(c[1]) / 255.0f,
                static_cast<float>(c[0]) / 255.0f};
    }
    return {static_cast<float>((v.colour >> 10) & 31) / 31.0f,
            static_cast<float>((v.colour >> 5) & 31) / 31.0f,
            static_cast<float>(v.colour & 31) / 31.0f};
}

/// Adds a room face: skipped (and counted) when a corner is beyond the room's vertices.
template <std::size_t N>
void room_face(const gltf_document& doc, const Ttrlevel& level, const troom& room,
               primitive_map& primitives, const std::uint16_t (&corners)[N], std::uint16_t word,
               bool water, model_summary& summary) {
    face_corner c[N];
    for (std::size_t k = 0; k < N; ++k) {
        if (corners[k] >= room.num_vertices) {
            ++summary.skipped_faces;
            return;
        }
        const troom_vertex& v = room.vertices[corners[k]];
        c[k].position = {static_cast<double>(v.x), static_cast<double>(v.y),
                         static_cast<double>(v.z)};
        c[k].colour = vertex_colour(room, corners[k], level.version);
    }
    std::array<std::array<float, 2>, 4> uvs;
    bool textured = false;
    // A TRC room's faces are all layer faces.
    material_key key =
        doc.face_material(word, level.version == level_trc, false, false, uvs, textured);
    key.water = water;
    if (!textured) {
        ++summary.untextured_faces;
    }
    gltf_document::add_face(primitives, key, c, N, uvs, false);
    ++summary.faces;
}

/// Level units a pixel of a sprite stands in versions 6 and 7, whose files give sprites no
/// size in the level.
constexpr double sprite_units_per_pixel = 8;

/// Everything placed in the rooms: items, static instances, room sprites. Meshes and sprite
/// quads are made once and shared by every node that shows them.
class scene_builder {
  public:
    scene_builder(gltf_document& doc, const level_objects& objects, model_summary& summary)
        : doc_(doc), objects_(objects), level_(objects.level()), summary_(summary) {
        // Placed joints cost a node each: bounded by the data that describes them.
        joint_budget_ =
            (std::size_t{1} << 20) + 4 * (level_.mesh_trees.size() + level_.items.size());
    }

    /// The node of a room: its faces, and the nodes of what is placed in it.
    std::size_t room(std::size_t r) {
        const troom& room = level_.rooms[r];
        const bool water = (room.flags[0] & 0x01u) != 0;
        primitive_map primitives;
        for (std::size_t i = 0; i < room.num_rectangles; ++i) {
            room_face(doc_, level_, room, primitives, room.rectangles[i].corners,
                      room.rectangles[i].texture, water, summary_);
        }
        for (std::size_t i = 0; i < room.num_triangles; ++i) {
            room_face(doc_, level_, room, primitives, room.triangles[i].corners,
                      room.triangles[i].texture, water, summary_);
        }
        const std::string name = "room " + std::to_string(r);
        const auto at = gltf_point(room.pos_x, 0, room.pos_z);
        json node = {{"name", name}, {"translation", {at[0], 0.0, at[2]}}};
        if (!primitives.empty()) {
            node["mesh"] = doc_.mesh(name, primitives);
        }
        json extras = json::object();
        if (water) {
            extras["water"] = true;
        }
        const std::int16_t alternate = room_alternate(room, level_.version);
        if (alternate != -1) {
            extras["alternate_room"] = alternate;
        }
        if (!extras.empty()) {
            node["extras"] = extras;
        }
        // The children first: a node is final once added.
        json children = json::array();
        const bool legacy = level_.version <= 2;
        const std::size_t statics =
            legacy ? room.legacy_static_instances.size() : room.static_instances.size();
        for (std::size_t k = 0; k < std::min<std::size_t>(statics, room.num_static_instances);
             ++k) {
            const auto child = legacy ? static_instance(room, r, k, room.legacy_static_instances[k])
                                      : static_instance(room, r, k, room.static_instances[k]);
            if (child) {
                children.push_back(*child);
            }
        }
        for (std::size_t k = 0; k < std::min<std::size_t>(room.num_sprites, room.sprites.size());
             ++k) {
            if (const auto child = room_sprite(room, r, k)) {
                children.push_back(*child);
            }
        }
        for (const std::size_t i : items_in_[r]) {
            children.push_back(item(room, i));
        }
        if (!children.empty()) {
            node["children"] = std::move(children);
        }
        return add(std::move(node));
    }

    /// Sorts the items into their rooms; those in no room are counted.
    void sort_items() {
        items_in_.assign(level_.rooms.size(), {});
        const std::size_t n = level_.version <= 2 ? level_.items_old.size() : level_.items.size();
        for (std::size_t i = 0; i < n; ++i) {
            const std::int16_t room =
                level_.version <= 2 ? level_.items_old[i].room : level_.items[i].room;
            if (room >= 0 && std::size_t(room) < items_in_.size()) {
                items_in_[std::size_t(room)].push_back(i);
            } else {
                ++summary_.unplaced;
            }
        }
    }

  private:
    std::size_t add(json node) { return doc_.node(std::move(node)); }

    static json turn_about_y(std::uint16_t angle) {
        const auto q = gltf_rotation(rotation_yxz({0, angle / 65536.0, 0}));
        return json::array({q[0], q[1], q[2], q[3]});
    }

    /// A node at an absolute position inside the room.
    json placed(const troom& room, const std::string& name, std::int32_t x, std::int32_t y,
                std::int32_t z, std::uint16_t angle) {
        const auto t = gltf_point(double(x) - room.pos_x, y, double(z) - room.pos_z);
        return {
            {"name", name}, {"translation", {t[0], t[1], t[2]}}, {"rotation", turn_about_y(angle)}};
    }

    std::size_t mesh_of(std::size_t index) {
        const auto found = meshes_.find(index);
        if (found != meshes_.end()) {
            return found->second;
        }
        primitive_map primitives;
        objects_.add_mesh(doc_, primitives, index, {0, 0, 0}, 0, false);
        const std::size_t mesh =
            primitives.empty() ? no_mesh : doc_.mesh("mesh " + std::to_string(index), primitives);
        meshes_.emplace(index, mesh);
        return mesh;
    }

    /// A quad of sprite texture `t`, standing on its point; nothing when there is no such texture.
    std::optional<std::size_t> sprite_of(std::size_t t) {
        if (t >= level_.sprite_textures.size()) {
            return std::nullopt;
        }
        const auto found = sprites_.find(t);
        if (found != sprites_.end()) {
            return found->second;
        }
        const tsprite_texture& s = level_.sprite_textures[t];
        double u0 = 0, v0 = 0, u1 = 0, v1 = 0, left = 0, top = 0, right = 0, bottom = 0;
        if (level_.version >= level_tr4) {
            // The pixel rectangle in the page; the size in the level is ours to choose.
            u0 = s.left, v0 = s.top, u1 = s.right + 1.0, v1 = s.bottom + 1.0;
            const double w = std::max(1.0, u1 - u0) * sprite_units_per_pixel;
            const double h = std::max(1.0, v1 - v0) * sprite_units_per_pixel;
            left = -w / 2, right = w / 2, top = -h, bottom = 0;
        } else {
            u0 = s.x, v0 = s.y;
            u1 = u0 + (s.width - 255) / 256 + 1, v1 = v0 + (s.height - 255) / 256 + 1;
            left = s.left, top = s.top, right = s.right, bottom = s.bottom;
        }
        face_corner c[4];
        c[0].position = {left, top, 0};
        c[1].position = {right, top, 0};
        c[2].position = {right, bottom, 0};
        c[3].position = {left, bottom, 0};
        const std::array<std::array<float, 2>, 4> uvs = {{{float(u0 / 256), float(v0 / 256)},
                                                          {float(u1 / 256), float(v0 / 256)},
                                                          {float(u1 / 256), float(v1 / 256)},
                                                          {float(u0 / 256), float(v1 / 256)}}};
        primitive_map primitives;
        gltf_document::add_face(primitives, doc_.sprite_material(s.page), c, 4, uvs, false);
        const std::size_t mesh = doc_.mesh("sprite " + std::to_string(t), primitives);
        sprites_.emplace(t, mesh);
        return mesh;
    }

    template <class Instance>
    std::optional<std::size_t> static_instance(const troom& room, std::size_t r, std::size_t k,
                                               const Instance& s) {
        const std::uint32_t id = s.mesh_id; // a copy: the field is packed
        const auto found = objects_.statics().find(id);
        if (found == objects_.statics().end()) {
            ++summary_.unplaced;
            return std::nullopt;
        }
        json node = placed(room, "room " + std::to_string(r) + " static " + std::to_string(k), s.x,
                           s.y, s.z, s.rotation);
        node["extras"] = {{"static_mesh", id}};
        if (const std::size_t mesh = mesh_of(found->second); mesh != no_mesh) {
            node["mesh"] = mesh;
        }
        ++summary_.statics;
        return add(std::move(node));
    }

    std::optional<std::size_t> room_sprite(const troom& room, std::size_t r, std::size_t k) {
        const tsprite& sprite = room.sprites[k];
        const auto mesh = sprite_of(static_cast<std::uint16_t>(sprite.texture));
        if (sprite.vertex < 0 || sprite.vertex >= room.num_vertices || !mesh) {
            ++summary_.unplaced;
            return std::nullopt;
        }
        const troom_vertex& v = room.vertices[std::size_t(sprite.vertex)];
        const auto t = gltf_point(v.x, v.y, v.z);
        ++summary_.sprites;
        return add({{"name", "room " + std::to_string(r) + " sprite " + std::to_string(k)},
                    {"translation", {t[0], t[1], t[2]}},
                    {"mesh", *mesh}});
    }

    std::size_t item(const troom& room, std::size_t i) {
        const bool legacy = level_.version <= 2;
        const auto object = static_cast<std::uint32_t>(static_cast<std::int32_t>(
            legacy ? level_.items_old[i].object_id : level_.items[i].object_id));
        json node =
            legacy ? placed(room, "item " + std::to_string(i), level_.items_old[i].x,
                            level_.items_old[i].y, level_.items_old[i].z,
                            static_cast<std::uint16_t>(level_.items_old[i].angle))
                   : placed(room, "item " + std::to_string(i), level_.items[i].x, level_.items[i].y,
                            level_.items[i].z, static_cast<std::uint16_t>(level_.items[i].angle));
        node["extras"] = {{"object_id", object}};
        ++summary_.items;
        if (const moveable_model* m = objects_.moveable(object)) {
            if (m->joints.size() > joint_budget_) {
                ++summary_.unmodelled;
            } else {
                joint_budget_ -= m->joints.size();
                node["children"] = pose(*m, "item " + std::to_string(i));
            }
        } else if (const auto sprite = sequence_sprite(object)) {
            node["mesh"] = *sprite;
        } else {
            ++summary_.unmodelled;
        }
        return add(std::move(node));
    }

    /// The joints of a moveable in its first pose, as plain nodes; returns those that hang
    /// from the object's origin.
    json pose(const moveable_model& m, const std::string& name) {
        // Joint j becomes node first + j; its children are known before any is added.
        std::vector<json> nodes;
        std::vector<json> children(m.joints.size(), json::array());
        for (std::size_t j = 0; j < m.joints.size(); ++j) {
            const auto& o =
                j == 0 ? std::array<std::int32_t, 3>{m.first_pose.offset[0], m.first_pose.offset[1],
                                                     m.first_pose.offset[2]}
                       : m.joints[j].offset;
            const auto t = gltf_point(o[0], o[1], o[2]);
            const auto q = gltf_rotation(rotation_yxz(m.first_pose.angles[j]));
            json node = {{"name", name + " mesh " + std::to_string(j)},
                         {"translation", {t[0], t[1], t[2]}},
                         {"rotation", {q[0], q[1], q[2], q[3]}}};
            if (const std::size_t mesh = mesh_of(m.meshes[j]); mesh != no_mesh) {
                node["mesh"] = mesh;
            }
            nodes.push_back(std::move(node));
        }
        const std::size_t first = doc_.node_count();
        // Mesh 0 and the joints whose parent is the object's origin hang from the item.
        json top = json::array({first});
        for (std::size_t j = 1; j < m.joints.size(); ++j) {
            const std::int32_t parent = m.joints[j].parent;
            (parent < 0 ? top : children[std::size_t(parent)]).push_back(first + j);
        }
        for (std::size_t j = 0; j < m.joints.size(); ++j) {
            if (!children[j].empty()) {
                nodes[j]["children"] = std::move(children[j]);
            }
            add(std::move(nodes[j]));
        }
        return top;
    }

    /// The first sprite of the sprite sequence of an object id.
    std::optional<std::size_t> sequence_sprite(std::uint32_t object) {
        for (const tsprite_sequence& s : level_.sprite_sequences) {
            if (static_cast<std::uint32_t>(s.object_id) == object && s.negative_length < 0 &&
                s.first_texture >= 0) {
                return sprite_of(std::size_t(s.first_texture));
            }
        }
        return std::nullopt;
    }

    static constexpr std::size_t no_mesh = static_cast<std::size_t>(-1);

    gltf_document& doc_;
    const level_objects& objects_;
    const Ttrlevel& level_;
    model_summary& summary_;
    std::size_t joint_budget_ = 0;
    std::vector<std::vector<std::size_t>> items_in_;
    std::map<std::size_t, std::size_t> meshes_, sprites_;
};

/// What a walk over the rooms leaves besides the parts it handed on: bounded by the pages,
/// the materials and the count of rooms.
struct glb_walk {
    std::uint64_t bin_size = 0;
    std::size_t meshes = 0;
    json materials, textures, images, scenes;
};

/// Makes the model's parts in file order into `sink`, one room at a time: only one room's
/// primitives (and the meshes its items show, once) are held. Every walk meets the same parts,
/// so a file can be counted in one walk and written in others.
glb_walk walk(const level_objects& objects, page_store& pages, gltf_sink& sink,
              model_summary& summary) {
    const Ttrlevel& level = objects.level();
    gltf_document doc(level, pages, image_place::embedded, &sink);
    scene_builder scene(doc, objects, summary);
    scene.sort_items();
    std::vector<std::size_t> room_node(level.rooms.size());
    for (std::size_t r = 0; r < level.rooms.size(); ++r) {
        room_node[r] = scene.room(r);
    }
    // A room that another turns into when the level flips is out of the default scene, and
    // takes that room's place in the flipped one.
    std::vector<std::int64_t> flips_to(level.rooms.size(), -1);
    std::vector<bool> flip_room(level.rooms.size(), false);
    for (std::size_t r = 0; r < level.rooms.size(); ++r) {
        const std::int16_t alternate = room_alternate(level.rooms[r], level.version);
        if (alternate >= 0 && std::size_t(alternate) < level.rooms.size() &&
            std::size_t(alternate) != r) {
            flips_to[r] = alternate;
            flip_room[std::size_t(alternate)] = true;
        }
    }
    json normal = json::array(), flipped = json::array();
    for (std::size_t r = 0; r < level.rooms.size(); ++r) {
        if (!flip_room[r]) {
            normal.push_back(room_node[r]);
            flipped.push_back(room_node[flips_to[r] < 0 ? r : std::size_t(flips_to[r])]);
        }
    }
    json scenes = json::array({{{"name", "level"}, {"nodes", normal}}});
    if (normal != flipped) {
        scenes.push_back({{"name", "level flipped"}, {"nodes", flipped}});
    }
    summary.rooms = level.rooms.size();
    summary.images = doc.images();
    return {doc.bin_size(), doc.mesh_count(), doc.materials(),
            doc.textures(), doc.image_list(), std::move(scenes)};
}

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
    bool writes() const { return out_ != nullptr; }
    /// Counts text of a known length without its text (only where nothing is written).
    void skip(std::uint64_t length) { size_ += length; }

  private:
    std::ostream* out_;
    std::uint64_t size_ = 0;
};

using part = gltf_part;

/// The length of each part's elements, comma-separated, counted in one walk; while the parts'
/// text and the binary bytes stay within `keep_limit` bytes together, they are kept too, so that
/// a small model is written without walking its rooms again.
class part_lengths : public gltf_sink {
  public:
    explicit part_lengths(std::uint64_t keep_limit) : keep_limit_(keep_limit) {}
    unsigned parts() const override {
        return bit(part::accessors) | bit(part::views) | bit(part::meshes) | bit(part::nodes);
    }
    void bin(const void* data, std::size_t size) override {
        if (keep(size)) {
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            bin_.insert(bin_.end(), bytes, bytes + size);
        }
    }
    void view(const json& v) override { element(part::views, v); }
    void accessor(const json& a) override { element(part::accessors, a); }
    void mesh(const json& m) override { element(part::meshes, m); }
    void node(const json& n) override { element(part::nodes, n); }
    std::uint64_t of(part which) const { return lengths_[static_cast<int>(which)]; }
    /// True when every part's text and the binary bytes were kept.
    bool kept() const { return keeping_; }
    const std::string& text(part which) const { return texts_[static_cast<int>(which)]; }
    const std::vector<std::uint8_t>& bin_bytes() const { return bin_; }

  private:
    void element(part which, const json& value) {
        std::uint64_t& length = lengths_[static_cast<int>(which)];
        const bool comma = length != 0;
        const std::string text = value.dump();
        length += (comma ? 1 : 0) + text.size();
        if (keep(text.size() + 1)) {
            std::string& kept = texts_[static_cast<int>(which)];
            kept.append(comma ? "," : "").append(text);
        }
    }
    /// Whether `more` bytes are kept; past the limit, what was kept is let go.
    bool keep(std::uint64_t more) {
        if (keeping_ && (kept_ += more) > keep_limit_) {
            keeping_ = false;
            for (std::string& text : texts_) {
                std::string().swap(text);
            }
            std::vector<std::uint8_t>().swap(bin_);
        }
        return keeping_;
    }
    std::uint64_t lengths_[4] = {};
    std::uint64_t keep_limit_, kept_ = 0;
    bool keeping_ = true;
    std::string texts_[4];
    std::vector<std::uint8_t> bin_;
};

/// Puts one part's elements, comma-separated, as a walk meets them.
class part_text : public gltf_sink {
  public:
    part_text(text_sink& sink, part wanted) : sink_(sink), wanted_(wanted) {}
    unsigned parts() const override { return bit(wanted_); }
    void view(const json& v) override { element(part::views, v); }
    void accessor(const json& a) override { element(part::accessors, a); }
    void mesh(const json& m) override { element(part::meshes, m); }
    void node(const json& n) override { element(part::nodes, n); }

  private:
    /// The document hands on only the wanted part.
    void element(part, const json& value) {
        sink_.put(first_ ? "" : ",");
        sink_.put(value.dump());
        first_ = false;
    }
    text_sink& sink_;
    part wanted_;
    bool first_ = true;
};

/// Puts the binary chunk's bytes, and counts them.
class bin_bytes : public gltf_sink {
  public:
    explicit bin_bytes(std::ostream& out) : out_(out) {}
    void bin(const void* data, std::size_t size) override {
        out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        size_ += size;
    }
    std::uint64_t size() const { return size_; }

  private:
    std::ostream& out_;
    std::uint64_t size_ = 0;
};

/// The JSON chunk's text (its keys sorted, as a JSON object's dump sorts them). Each part that
/// grows with the rooms is the text that `lengths` kept, or made by a walk of its own, or only
/// counted when the sink writes nothing. `walked_once` is what the first walk left.
void json_text(const level_objects& objects, page_store& pages, const glb_walk& walked_once,
               text_sink& sink, const part_lengths& lengths) {
    bool first = true;
    const auto key = [&](const char* name) {
        sink.put(first ? "{\"" : ",\"");
        sink.put(name);
        sink.put("\":");
        first = false;
    };
    const auto walked = [&](part which) {
        sink.put("[");
        if (lengths.kept()) {
            sink.put(lengths.text(which));
        } else if (!sink.writes()) {
            sink.skip(lengths.of(which));
        } else {
            model_summary scratch;
            part_text text(sink, which);
            walk(objects, pages, text, scratch);
        }
        sink.put("]");
    };
    const bool meshes = walked_once.meshes != 0, images = !walked_once.images.empty();
    bool unlit = false;
    for (const json& m : walked_once.materials) {
        unlit = unlit || m.contains("extensions");
    }
    if (meshes) {
        key("accessors");
        walked(part::accessors);
    }
    key("asset");
    sink.put(json{{"version", "2.0"}, {"generator", "quarlix-export 1.0"}}.dump());
    if (walked_once.bin_size != 0) {
        key("bufferViews");
        walked(part::views);
        key("buffers");
        sink.put(json::array({{{"byteLength", walked_once.bin_size}}}).dump());
    }
    if (unlit) {
        key("extensionsUsed");
        sink.put(json::array({"KHR_materials_unlit"}).dump());
    }
    if (images) {
        key("images");
        sink.put(walked_once.images.dump());
    }
    if (meshes) {
        key("materials");
        sink.put(walked_once.materials.dump());
        key("meshes");
        walked(part::meshes);
    }
    key("nodes");
    walked(part::nodes);
    if (images) {
        key("samplers");
        sink.put(
            json::array(
                {{{"magFilter", 9728}, {"minFilter", 9987}, {"wrapS", 33071}, {"wrapT", 33071}}})
                .dump());
    }
    key("scene");
    sink.put("0");
    key("scenes");
    sink.put(walked_once.scenes.dump());
    if (images) {
        key("textures");
        sink.put(walked_once.textures.dump());
    }
    sink.put("}");
}

void put(std::ostream& out, std::span<const std::uint8_t> bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

/// A part written in another walk than it was counted in must come to the length counted: the
/// header already states it.
void check_written(const char* part, std::uint64_t written, std::uint64_t counted) {
    if (written != counted) {
        throw ERangeError(std::string("the model's ") + part + " came to " +
                          std::to_string(written) + " bytes where " + std::to_string(counted) +
                          " were counted; level.glb is not written");
    }
}

} // namespace

/// What the first walk left, kept for writing.
struct glb_file::first_walk {
    explicit first_walk(std::uint64_t keep_limit) : lengths(keep_limit) {}
    part_lengths lengths;
    glb_walk walked;
};

glb_file::glb_file(const level_objects& objects, page_store& pages, model_summary& summary,
                   std::uint64_t limit, std::uint64_t keep_limit)
    : objects_(objects), pages_(pages), first_(std::make_unique<first_walk>(keep_limit)) {
    first_->walked = walk(objects, pages, first_->lengths, summary);
    text_sink text(nullptr);
    json_text(objects, pages, first_->walked, text, first_->lengths);
    frame_ = {text.size(), first_->walked.bin_size};
    frame_.check(limit, "the model", "; level.glb is not written");
}

glb_file::~glb_file() = default;

void glb_file::write(std::ostream& out) {
    put(out, frame_.head());
    text_sink text(&out);
    json_text(objects_, pages_, first_->walked, text, first_->lengths);
    check_written("JSON", text.size(), frame_.json_length);
    out.write("   ", static_cast<std::streamsize>(glb_padded(text.size()) - text.size()));
    if (frame_.bin_length != 0) {
        put(out, frame_.bin_head());
        std::uint64_t written = 0;
        if (first_->lengths.kept()) {
            put(out, first_->lengths.bin_bytes());
            written = first_->lengths.bin_bytes().size();
        } else {
            model_summary scratch;
            bin_bytes bin(out);
            walk(objects_, pages_, bin, scratch);
            written = bin.size();
        }
        check_written("binary chunk", written, frame_.bin_length);
        out.write("\0\0\0", static_cast<std::streamsize>(glb_padded(written) - written));
    }
}

std::vector<std::uint8_t> glb_file::bytes() {
    std::ostringstream out;
    write(out);
    const std::string text = std::move(out).str();
    return {text.begin(), text.end()};
}

} // namespace quarlix::exporting
