// glTF building: one mesh per room, one primitive per material, faces expanded per corner.
#include "export/model.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include "level/records.h"
#include "level/trunit2.h"

namespace quarlix::exporting {

namespace {

/// Red, green and blue (0 to 1) of vertex i of a room, from the light the version stores.
std::array<float, 3> vertex_colour(const troom& room, std::size_t i, std::int32_t version) {
    const troom_vertex& v = room.vertices[i];
    if (version <= 4) {
        // A shade from 0 (bright) to 8191 (dark); versions 3 and 4 light with their second one.
        const int shade = std::clamp<int>(version <= 2 ? v.lighting : static_cast<std::int16_t>(v.colour), 0, 8191);
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
void room_face(const gltf_document& doc, const Ttrlevel& level, const troom& room, primitive_map& primitives,
               const std::uint16_t (&corners)[N], std::uint16_t word, bool water, model_summary& summary) {
    face_corner c[N];
    for (std::size_t k = 0; k < N; ++k) {
        if (corners[k] >= room.num_vertices) {
            ++summary.skipped_faces;
            return;
        }
        const troom_vertex& v = room.vertices[corners[k]];
        c[k].position = {static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
        c[k].colour = vertex_colour(room, corners[k], level.version);
    }
    std::array<std::array<float, 2>, 4> uvs;
    bool textured = false;
    // A TRC room's faces are all layer faces.
    material_key key = doc.face_material(word, level.version == level_trc, false, false, uvs, textured);
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
        joint_budget_ = (std::size_t{1} << 20) + 4 * (level_.mesh_trees.size() + level_.items.size());
    }

    /// The node of a room: its faces, and the nodes of what is placed in it.
    std::size_t room(std::size_t r) {
        const troom& room = level_.rooms[r];
        const bool water = (room.flags[0] & 0x01u) != 0;
        primitive_map primitives;
        for (std::size_t i = 0; i < room.num_rectangles; ++i) {
            room_face(doc_, level_, room, primitives, room.rectangles[i].corners, room.rectangles[i].texture, water, summary_);
        }
        for (std::size_t i = 0; i < room.num_triangles; ++i) {
            room_face(doc_, level_, room, primitives, room.triangles[i].corners, room.triangles[i].texture, water, summary_);
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
        const std::size_t index = add(std::move(node));
        json children = json::array();
        const bool legacy = level_.version <= 2;
        const std::size_t statics = legacy ? room.legacy_static_instances.size() : room.static_instances.size();
        for (std::size_t k = 0; k < std::min<std::size_t>(statics, room.num_static_instances); ++k) {
            const auto child = legacy ? static_instance(room, r, k, room.legacy_static_instances[k])
                                      : static_instance(room, r, k, room.static_instances[k]);
            if (child) {
                children.push_back(*child);
            }
        }
        for (std::size_t k = 0; k < std::min<std::size_t>(room.num_sprites, room.sprites.size()); ++k) {
            if (const auto child = room_sprite(room, r, k)) {
                children.push_back(*child);
            }
        }
        for (const std::size_t i : items_in_[r]) {
            children.push_back(item(room, i));
        }
        if (!children.empty()) {
            doc_.nodes[index]["children"] = children;
        }
        return index;
    }

    /// Sorts the items into their rooms; those in no room are counted.
    void sort_items() {
        items_in_.assign(level_.rooms.size(), {});
        const std::size_t n = level_.version <= 2 ? level_.items_old.size() : level_.items.size();
        for (std::size_t i = 0; i < n; ++i) {
            const std::int16_t room = level_.version <= 2 ? level_.items_old[i].room : level_.items[i].room;
            if (room >= 0 && std::size_t(room) < items_in_.size()) {
                items_in_[std::size_t(room)].push_back(i);
            } else {
                ++summary_.unplaced;
            }
        }
    }

private:
    std::size_t add(json node) {
        doc_.nodes.push_back(std::move(node));
        return doc_.nodes.size() - 1;
    }

    static json turn_about_y(std::uint16_t angle) {
        const auto q = gltf_rotation(rotation_yxz({0, angle / 65536.0, 0}));
        return json::array({q[0], q[1], q[2], q[3]});
    }

    /// A node at an absolute position inside the room.
    json placed(const troom& room, const std::string& name, std::int32_t x, std::int32_t y, std::int32_t z,
                std::uint16_t angle) {
        const auto t = gltf_point(double(x) - room.pos_x, y, double(z) - room.pos_z);
        return {{"name", name}, {"translation", {t[0], t[1], t[2]}}, {"rotation", turn_about_y(angle)}};
    }

    std::size_t mesh_of(std::size_t index) {
        const auto found = meshes_.find(index);
        if (found != meshes_.end()) {
            return found->second;
        }
        primitive_map primitives;
        objects_.add_mesh(doc_, primitives, index, {0, 0, 0}, 0, false);
        const std::size_t mesh = primitives.empty() ? no_mesh : doc_.mesh("mesh " + std::to_string(index), primitives);
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
        const std::array<std::array<float, 2>, 4> uvs = {{{float(u0 / 256), float(v0 / 256)}, {float(u1 / 256), float(v0 / 256)},
                                                          {float(u1 / 256), float(v1 / 256)}, {float(u0 / 256), float(v1 / 256)}}};
        primitive_map primitives;
        gltf_document::add_face(primitives, doc_.sprite_material(s.page), c, 4, uvs, false);
        const std::size_t mesh = doc_.mesh("sprite " + std::to_string(t), primitives);
        sprites_.emplace(t, mesh);
        return mesh;
    }

    template <class Instance>
    std::optional<std::size_t> static_instance(const troom& room, std::size_t r, std::size_t k, const Instance& s) {
        const std::uint32_t id = s.mesh_id;  // a copy: the field is packed
        const auto found = objects_.statics().find(id);
        if (found == objects_.statics().end()) {
            ++summary_.unplaced;
            return std::nullopt;
        }
        json node = placed(room, "room " + std::to_string(r) + " static " + std::to_string(k), s.x, s.y, s.z, s.rotation);
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
        const auto object = static_cast<std::uint32_t>(static_cast<std::int32_t>(legacy ? level_.items_old[i].object_id : level_.items[i].object_id));
        json node = legacy ? placed(room, "item " + std::to_string(i), level_.items_old[i].x, level_.items_old[i].y,
                                    level_.items_old[i].z, static_cast<std::uint16_t>(level_.items_old[i].angle))
                           : placed(room, "item " + std::to_string(i), level_.items[i].x, level_.items[i].y,
                                    level_.items[i].z, static_cast<std::uint16_t>(level_.items[i].angle));
        node["extras"] = {{"object_id", object}};
        const std::size_t index = add(std::move(node));
        ++summary_.items;
        if (const moveable_model* m = objects_.moveable(object)) {
            if (m->joints.size() > joint_budget_) {
                ++summary_.unmodelled;
                return index;
            }
            joint_budget_ -= m->joints.size();
            doc_.nodes[index]["children"] = pose(*m, "item " + std::to_string(i));
        } else if (const auto sprite = sequence_sprite(object)) {
            doc_.nodes[index]["mesh"] = *sprite;
        } else {
            ++summary_.unmodelled;
        }
        return index;
    }

    /// The joints of a moveable in its first pose, as plain nodes; returns those that hang
    /// from the object's origin.
    json pose(const moveable_model& m, const std::string& name) {
        std::vector<std::size_t> nodes;
        std::vector<json> children(m.joints.size(), json::array());
        for (std::size_t j = 0; j < m.joints.size(); ++j) {
            const auto& o = j == 0 ? std::array<std::int32_t, 3>{m.first_pose.offset[0], m.first_pose.offset[1], m.first_pose.offset[2]}
                                   : m.joints[j].offset;
            const auto t = gltf_point(o[0], o[1], o[2]);
            const auto q = gltf_rotation(rotation_yxz(m.first_pose.angles[j]));
            json node = {{"name", name + " mesh " + std::to_string(j)},
                         {"translation", {t[0], t[1], t[2]}},
                         {"rotation", {q[0], q[1], q[2], q[3]}}};
            if (const std::size_t mesh = mesh_of(m.meshes[j]); mesh != no_mesh) {
                node["mesh"] = mesh;
            }
            nodes.push_back(add(std::move(node)));
        }
        // Mesh 0 and the joints whose parent is the object's origin hang from the item.
        json top = json::array({nodes.front()});
        for (std::size_t j = 1; j < m.joints.size(); ++j) {
            const std::int32_t parent = m.joints[j].parent;
            (parent < 0 ? top : children[std::size_t(parent)]).push_back(nodes[j]);
        }
        for (std::size_t j = 0; j < m.joints.size(); ++j) {
            if (!children[j].empty()) {
                doc_.nodes[nodes[j]]["children"] = children[j];
            }
        }
        return top;
    }

    /// The first sprite of the sprite sequence of an object id.
    std::optional<std::size_t> sequence_sprite(std::uint32_t object) {
        for (const tsprite_sequence& s : level_.sprite_sequences) {
            if (static_cast<std::uint32_t>(s.object_id) == object && s.negative_length < 0 && s.first_texture >= 0) {
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

} // namespace

std::vector<std::uint8_t> build_glb(const level_objects& objects, page_store& pages, model_summary& summary) {
    const Ttrlevel& level = objects.level();
    gltf_document doc(level, pages, image_place::embedded);
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
        if (alternate >= 0 && std::size_t(alternate) < level.rooms.size() && std::size_t(alternate) != r) {
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
    doc.scenes.push_back({{"name", "level"}, {"nodes", normal}});
    if (normal != flipped) {
        doc.scenes.push_back({{"name", "level flipped"}, {"nodes", flipped}});
    }
    summary.rooms = level.rooms.size();
    summary.images = doc.images();
    return doc.finish(0);
}

} // namespace quarlix::exporting
