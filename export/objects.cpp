// Moveables as skinned models with their animations, static meshes as plain models.
#include "export/objects.h"

#include <algorithm>
#include <cmath>

#include "level/records.h"
#include "level/trunit2.h"

namespace quarlix::exporting {

namespace {

/// Ticks of the frame rate: 30 a second.
constexpr double ticks_per_second = 30.0;

/// Work units (about two bytes of output each) the objects may take beyond sixteen for every
/// word of object data: the modelling cost follows the level's bytes, so a level that
/// declares more than its data holds (shared meshes, overlapping frames) stops at a bound
/// instead of growing without one.
constexpr std::size_t base_budget = std::size_t{1} << 22;

std::string moveable_place(std::size_t record) { return "moveable " + std::to_string(record); }

/// Red, green and blue of a mesh shade: 0 bright to 8191 dark.
std::array<float, 3> shade_colour(std::int16_t shade) {
    const float grey = static_cast<float>(8191 - std::clamp<int>(shade, 0, 8191)) / 8191.0f;
    return {grey, grey, grey};
}

} // namespace

std::array<double, 4> gltf_rotation(const std::array<double, 4>& q) {
    return {q[0], 0.0 - q[1], 0.0 - q[2], q[3]};
}

level_objects::level_objects(const Ttrlevel& level, std::vector<std::string>& problems)
    : level_(level) {
    budget_ =
        base_budget + 16 * (level.mesh_data.size() + level.frames.size() + level.mesh_trees.size() +
                            16 * (level.moveables.size() + level.static_meshes.size()));
    const std::vector<animation_span> spans = moveable_animations(level);
    for (std::size_t i = 0; i < level.moveables.size(); ++i) {
        // Plain copies of the packed fields: references to them would be misaligned.
        const struct {
            std::uint32_t object_id;
            std::uint16_t num_meshes, first_mesh;
            std::uint32_t mesh_tree;
        } f{level.moveables[i].object_id, level.moveables[i].num_meshes,
            level.moveables[i].first_mesh, level.moveables[i].mesh_tree};
        const std::string place = moveable_place(i);
        if (f.num_meshes == 0) {
            meshless_.push_back(f.object_id);
            continue;
        }
        if (by_id_.count(f.object_id) != 0) {
            problems.push_back(
                place + ": object " + std::to_string(f.object_id) + " is already moveable " +
                std::to_string(moveables_[by_id_[f.object_id]].record) + "; left out");
            continue;
        }
        moveable_model m;
        m.record = i;
        m.object_id = f.object_id;
        std::string problem;
        auto joints = read_skeleton(level, f.mesh_tree, f.num_meshes, problem);
        if (!joints) {
            problems.push_back(place + ": " + problem + "; left out");
            continue;
        }
        m.joints = std::move(*joints);
        bool meshes_read = spend(f.num_meshes, place, problems);
        std::size_t corners = 0;
        for (std::size_t k = 0; meshes_read && k < f.num_meshes; ++k) {
            const std::size_t index = std::size_t{f.first_mesh} + k;
            meshes_read = mesh_reads(index, place + ": mesh " + std::to_string(k), problems);
            m.meshes.push_back(index);
            corners += meshes_read ? 4 * mesh(index).faces.size() : 0;
        }
        // Its model repeats its meshes' faces: that costs too.
        if (!meshes_read || !spend(corners, place, problems)) {
            continue;
        }
        m.first_pose = {{0, 0, 0}, std::vector<std::array<double, 3>>(f.num_meshes, {0, 0, 0})};
        for (std::size_t a = spans[i].first; a < spans[i].end; ++a) {
            const std::optional<std::size_t> count = declared_keyframes(level, a);
            const std::string at = place + ": animation " + std::to_string(a);
            // About the bytes its samplers take: a rotation per joint and the root's offset.
            if (count && !spend(*count * (f.num_meshes + 1u) * 8, at, problems)) {
                break;
            }
            const auto animation = read_keyframes(level, a, f.num_meshes, problem);
            if (!animation) {
                problems.push_back(at + ": " + problem + "; left out");
            } else if (!animation->keyframes.empty()) {
                if (m.animations.empty()) {
                    m.first_pose = animation->keyframes.front();
                }
                m.animations.push_back(a);
            }
        }
        by_id_[m.object_id] = moveables_.size();
        moveables_.push_back(std::move(m));
    }
    for (std::size_t i = 0; i < level.static_meshes.size(); ++i) {
        const struct {
            std::uint32_t id;
            std::uint16_t mesh;
        } s{level.static_meshes[i].id, level.static_meshes[i].mesh};
        const std::string place = "static mesh " + std::to_string(i);
        if (statics_.count(s.id) != 0) {
            problems.push_back(place + ": id " + std::to_string(s.id) +
                               " is already taken; left out");
        } else if (spend(1, place, problems) &&
                   mesh_reads(s.mesh, place + ": mesh " + std::to_string(s.mesh), problems) &&
                   spend(4 * mesh(s.mesh).faces.size(), place, problems)) {
            statics_[s.id] = s.mesh;
        }
    }
}

bool level_objects::spend(std::size_t units, const std::string& owner,
                          std::vector<std::string>& problems) {
    if (!over_budget_ && units <= budget_) {
        budget_ -= units;
        return true;
    }
    if (!over_budget_) {
        problems.push_back(
            owner +
            ": the objects so far take all the work that the level's object data "
            "justifies (their meshes or frames repeat); it and the objects after it are left out");
        over_budget_ = true;
    }
    return false;
}

bool level_objects::mesh_reads(std::size_t index, const std::string& owner,
                               std::vector<std::string>& problems) {
    std::string problem;
    if (index >= level_.mesh_pointers.size()) {
        read_mesh(level_, index, problem);
        problems.push_back(owner + " " + problem + "; left out");
        return false;
    }
    // Pointers to one offset share what was read there; a mesh that does not read is
    // described once.
    const std::int32_t offset = level_.mesh_pointers[index];
    auto found = meshes_.find(offset);
    if (found != meshes_.end()) {
        if (!found->second) {
            problems.push_back(owner + " at mesh-data offset " + std::to_string(offset) +
                               " did not read; left out");
        }
        return found->second.has_value();
    }
    std::optional<decoded_mesh> mesh = read_mesh(level_, index, problem);
    if (!mesh) {
        problems.push_back(owner + " " + problem + "; left out");
    } else if (!spend(mesh->vertices.size() + 4 * mesh->faces.size(), owner, problems)) {
        mesh.reset();
    }
    return meshes_.emplace(offset, std::move(mesh)).first->second.has_value();
}

const moveable_model* level_objects::moveable(std::uint32_t object_id) const {
    const auto found = by_id_.find(object_id);
    return found == by_id_.end() ? nullptr : &moveables_[found->second];
}

void level_objects::add_mesh(const gltf_document& doc, primitive_map& primitives, std::size_t index,
                             const std::array<double, 3>& shift, std::uint16_t joint,
                             bool skinned) const {
    const decoded_mesh& m = mesh(index);
    const bool lit = !m.normals.empty();
    for (const mesh_face& f : m.faces) {
        face_corner c[4];
        for (std::size_t k = 0; k < f.num_corners; ++k) {
            const std::size_t v = f.corners[k];
            for (std::size_t a = 0; a < 3; ++a) {
                c[k].position[a] = m.vertices[v][a] + shift[a];
            }
            if (lit) {
                c[k].normal = {double(m.normals[v][0]), double(m.normals[v][1]),
                               double(m.normals[v][2])};
            } else if (v < m.shades.size()) {
                c[k].colour = shade_colour(m.shades[v]);
            }
            c[k].joint = joint;
        }
        std::array<std::array<float, 2>, 4> uvs{};
        bool textured = false;
        // Coloured faces (versions 1-5) hold no object texture: drawn untextured.
        const material_key key =
            f.coloured ? material_key{-1, alpha_opaque, false, lit, false}
                       : doc.face_material(f.texture, false, f.additive, lit, uvs, textured);
        gltf_document::add_face(primitives, key, c, f.num_corners, uvs, skinned);
    }
}

namespace {

/// Joint i's position in the rest pose (no rotation), level units.
std::vector<std::array<double, 3>> rest_positions(const std::vector<skeleton_joint>& joints) {
    std::vector<std::array<double, 3>> at(joints.size(), {0, 0, 0});
    for (std::size_t i = 0; i < joints.size(); ++i) {
        const skeleton_joint& j = joints[i];
        const std::array<double, 3> base =
            j.parent < 0 ? std::array<double, 3>{0, 0, 0} : at[std::size_t(j.parent)];
        for (std::size_t a = 0; a < 3; ++a) {
            at[i][a] = base[a] + j.offset[a];
        }
    }
    return at;
}

json quaternion_json(const std::array<double, 3>& angles) {
    const auto q = gltf_rotation(rotation_yxz(angles));
    return json::array({q[0], q[1], q[2], q[3]});
}

std::vector<std::uint8_t> moveable_file(const Ttrlevel& level, const level_objects& objects,
                                        page_store& pages, const moveable_model& m,
                                        objects_summary& summary) {
    gltf_document doc(level, pages, image_place::texture_files);
    const std::size_t n = m.joints.size();
    const keyframe& pose = m.first_pose;
    // Node 0 the object's origin, nodes 1 to n the joints, node n + 1 the skinned model.
    doc.nodes.push_back(
        {{"name", "moveable " + std::to_string(m.object_id)}, {"children", json::array()}});
    for (std::size_t i = 0; i < n; ++i) {
        const skeleton_joint& j = m.joints[i];
        const auto t = i == 0 ? gltf_point(pose.offset[0], pose.offset[1], pose.offset[2])
                              : gltf_point(j.offset[0], j.offset[1], j.offset[2]);
        doc.nodes.push_back({{"name", "mesh " + std::to_string(i)},
                             {"translation", {t[0], t[1], t[2]}},
                             {"rotation", quaternion_json(pose.angles[i])}});
        json& parent = doc.nodes[j.parent < 0 ? 0 : std::size_t(j.parent) + 1];
        parent["children"].push_back(i + 1);
    }
    const auto rest = rest_positions(m.joints);
    primitive_map primitives;
    for (std::size_t i = 0; i < n; ++i) {
        objects.add_mesh(doc, primitives, m.meshes[i], rest[i], static_cast<std::uint16_t>(i),
                         true);
    }
    std::vector<float> inverse_binds;
    for (std::size_t i = 0; i < n; ++i) {
        const auto t = gltf_point(rest[i][0], rest[i][1], rest[i][2]);
        inverse_binds.insert(inverse_binds.end(),
                             {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -t[0], -t[1], -t[2], 1});
    }
    json joints = json::array();
    for (std::size_t i = 0; i < n; ++i) {
        joints.push_back(i + 1);
    }
    json model = {{"name", "model " + std::to_string(m.object_id)}};
    if (!primitives.empty()) {
        model["mesh"] = doc.mesh("moveable " + std::to_string(m.object_id), primitives);
        model["skin"] = 0;
        doc.skins.push_back(
            {{"name", "moveable " + std::to_string(m.object_id)},
             {"skeleton", 0},
             {"joints", joints},
             {"inverseBindMatrices", doc.floats(inverse_binds, 16, "MAT4", false, false)}});
    }
    doc.nodes.push_back(std::move(model));

    for (const std::size_t index : m.animations) {
        std::string problem;
        const std::optional<decoded_animation> decoded =
            read_keyframes(level, index, static_cast<std::uint16_t>(n), problem);
        const decoded_animation& a = *decoded; // it read when the objects were decoded
        std::vector<float> times, root;
        std::vector<std::vector<float>> rotations(n);
        for (std::size_t k = 0; k < a.keyframes.size(); ++k) {
            const keyframe& f = a.keyframes[k];
            times.push_back(
                static_cast<float>(static_cast<double>(k) * a.frame_rate / ticks_per_second));
            const auto t = gltf_point(f.offset[0], f.offset[1], f.offset[2]);
            root.insert(root.end(), t.begin(), t.end());
            for (std::size_t i = 0; i < n; ++i) {
                const auto q = gltf_rotation(rotation_yxz(f.angles[i]));
                rotations[i].insert(rotations[i].end(),
                                    {float(q[0]), float(q[1]), float(q[2]), float(q[3])});
            }
        }
        const std::size_t input = doc.floats(times, 1, "SCALAR", true, false);
        json samplers = json::array(), channels = json::array();
        samplers.push_back({{"input", input},
                            {"output", doc.floats(root, 3, "VEC3", false, false)},
                            {"interpolation", "LINEAR"}});
        channels.push_back({{"sampler", 0}, {"target", {{"node", 1}, {"path", "translation"}}}});
        for (std::size_t i = 0; i < n; ++i) {
            samplers.push_back({{"input", input},
                                {"output", doc.floats(rotations[i], 4, "VEC4", false, false)},
                                {"interpolation", "LINEAR"}});
            channels.push_back(
                {{"sampler", i + 1}, {"target", {{"node", i + 1}, {"path", "rotation"}}}});
        }
        doc.animations.push_back({{"name", "animation " + std::to_string(a.index)},
                                  {"samplers", samplers},
                                  {"channels", channels}});
        ++summary.animations;
        summary.keyframes += a.keyframes.size();
    }
    doc.scenes.push_back(
        {{"name", "moveable " + std::to_string(m.object_id)}, {"nodes", {0, n + 1}}});
    return doc.finish(0);
}

std::vector<std::uint8_t> static_file(const Ttrlevel& level, const level_objects& objects,
                                      page_store& pages, std::uint32_t id, std::size_t mesh) {
    gltf_document doc(level, pages, image_place::texture_files);
    primitive_map primitives;
    objects.add_mesh(doc, primitives, mesh, {0, 0, 0}, 0, false);
    json node = {{"name", "static " + std::to_string(id)}};
    if (!primitives.empty()) {
        node["mesh"] = doc.mesh("static " + std::to_string(id), primitives);
    }
    doc.nodes.push_back(std::move(node));
    doc.scenes.push_back({{"name", "static " + std::to_string(id)}, {"nodes", {0}}});
    return doc.finish(0);
}

} // namespace

std::vector<object_file> build_object_files(const Ttrlevel& level, const level_objects& objects,
                                            page_store& pages, objects_summary& summary) {
    std::vector<object_file> files;
    for (const moveable_model& m : objects.moveables()) {
        files.push_back({"objects/moveable-" + std::to_string(m.object_id) + ".glb",
                         moveable_file(level, objects, pages, m, summary)});
        ++summary.moveables;
    }
    for (const auto& [id, mesh] : objects.statics()) {
        files.push_back({"objects/static-" + std::to_string(id) + ".glb",
                         static_file(level, objects, pages, id, mesh)});
        ++summary.statics;
    }
    return files;
}

} // namespace quarlix::exporting
