// The level's objects decoded from their data words: meshes from the mesh data, skeletons
// from the mesh-tree words, keyframes from the frames. Reading only; every count is checked
// against the words that hold it, so random bytes give a message, never a large allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "level/trunit2.h"

namespace quarlix {

struct mesh_face {
    std::uint16_t corners[4];
    std::uint8_t num_corners; // 3 or 4
    std::uint16_t texture;    // the texture word (coloured faces: their colour)
    bool additive;            // effects word bit 0 (versions 6-7)
    bool coloured;            // versions 1-5: a face of one colour, no texture
};

struct decoded_mesh {
    std::vector<std::array<std::int16_t, 3>> vertices; // relative to the mesh's origin
    std::vector<std::array<std::int16_t, 3>> normals;  // one per vertex, or none
    std::vector<std::int16_t> shades;                  // when no normals: 0 bright to 8191 dark
    std::vector<mesh_face> faces;
    std::size_t skipped_faces = 0; // a corner beyond the vertices
};

/// Mesh `index` of the mesh pointers. Nothing, and `problem` set to what follows the mesh's
/// name ("at mesh-data offset 1180 runs past the mesh data"), when it does not read.
std::optional<decoded_mesh> read_mesh(const Ttrlevel& level, std::size_t index,
                                      std::string& problem);

/// A joint of a moveable's skeleton: mesh i of the moveable.
struct skeleton_joint {
    std::int32_t parent;                // -1: the object's origin
    std::array<std::int32_t, 3> offset; // from the parent, level units
};

/// The joints of a moveable of `num_meshes` meshes from its mesh-tree nodes (stack push and
/// pop); nothing, and `problem` set, when the nodes run past the mesh-tree words.
std::optional<std::vector<skeleton_joint>> read_skeleton(const Ttrlevel& level,
                                                         std::uint32_t first_word,
                                                         std::uint16_t num_meshes,
                                                         std::string& problem);

/// One keyframe: the root's offset and each joint's angles about x, y and z in turns.
struct keyframe {
    std::array<std::int16_t, 3> offset;
    std::vector<std::array<double, 3>> angles;
};

struct decoded_animation {
    std::size_t index;
    std::uint8_t frame_rate;         // ticks (1/30 s) between keyframes
    std::vector<keyframe> keyframes; // empty: the animation has no frame data of its own
};

/// The keyframes of animation `index` for a moveable of `num_meshes` meshes; nothing, and
/// `problem` set, when they do not read. The words decoded never exceed twice the frame data.
std::optional<decoded_animation> read_keyframes(const Ttrlevel& level, std::size_t index,
                                                std::uint16_t num_meshes, std::string& problem);

/// The keyframes that animation `index` declares (0 when it has no frame data); nothing
/// when its fields cannot give a count.
std::optional<std::size_t> declared_keyframes(const Ttrlevel& level, std::size_t index);

/// The animations of every moveable: from its own animation index up to the smallest index
/// above it at which any moveable starts, or to the last animation. Empty for none.
struct animation_span {
    std::size_t first = 0, end = 0;
};
std::vector<animation_span> moveable_animations(const Ttrlevel& level);

/// The quaternion (x, y, z, w) of angles about x, y, z (in turns) applied in the order y,
/// then x, then z, in the level's own axes.
std::array<double, 4> rotation_yxz(const std::array<double, 3>& angles);

} // namespace quarlix
