// glTF building: one mesh per room, one primitive per material, faces expanded per corner.
#include "export/model.h"

#include <algorithm>
#include <array>

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
               const std::uint16_t (&corners)[N], std::uint16_t word, model_summary& summary) {
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
    const material_key key = doc.face_material(word, level.version == level_trc, false, false, uvs, textured);
    if (!textured) {
        ++summary.untextured_faces;
    }
    gltf_document::add_face(primitives, key, c, N, uvs, false);
    ++summary.faces;
}

} // namespace

std::vector<std::uint8_t> build_glb(const Ttrlevel& level, page_store& pages, model_summary& summary) {
    gltf_document doc(level, pages, image_place::embedded);
    json scene_nodes = json::array();
    for (std::size_t r = 0; r < level.rooms.size(); ++r) {
        const troom& room = level.rooms[r];
        primitive_map primitives;
        for (std::size_t i = 0; i < room.num_rectangles; ++i) {
            room_face(doc, level, room, primitives, room.rectangles[i].corners, room.rectangles[i].texture, summary);
        }
        for (std::size_t i = 0; i < room.num_triangles; ++i) {
            room_face(doc, level, room, primitives, room.triangles[i].corners, room.triangles[i].texture, summary);
        }
        const std::string name = "room " + std::to_string(r);
        const auto at = gltf_point(room.pos_x, 0, room.pos_z);
        json node = {{"name", name}, {"translation", {at[0], 0.0, at[2]}}};
        if (!primitives.empty()) {
            node["mesh"] = doc.mesh(name, primitives);
        }
        doc.nodes.push_back(std::move(node));
        scene_nodes.push_back(r);
    }
    summary.rooms = level.rooms.size();
    summary.images = doc.images();
    doc.scenes.push_back({{"name", "level"}, {"nodes", scene_nodes}});
    return doc.finish(0);
}

} // namespace quarlix::exporting
