// The level's objects for the export: every moveable as a skinned glTF model with its
// animations, every static mesh as a glTF model, and what the scene needs to place them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "export/gltf.h"
#include "level/object_data.h"
#include "level/trunit2.h"

namespace quarlix::exporting {

/// A moveable as decoded: its skeleton, the mesh (pointer index) of every joint, the
/// animations whose keyframes read (decoded again when written, so that only one is held at
/// a time) and its pose in the first keyframe of the first of them (else the rest pose).
struct moveable_model {
    std::size_t record = 0;
    std::uint32_t object_id = 0;
    std::vector<skeleton_joint> joints;
    std::vector<std::size_t> meshes;     // mesh pointer index of joint i
    std::vector<std::size_t> animations; // in the level's order; those with keyframes
    keyframe first_pose;
};

/// The moveables and static meshes of a level, decoded once with the work they may take
/// bounded by the object data's size. Every problem is reported once with its place.
class level_objects {
  public:
    level_objects(const Ttrlevel& level, std::vector<std::string>& problems);

    const Ttrlevel& level() const { return level_; }

    const std::vector<moveable_model>& moveables() const { return moveables_; }
    /// Object ids of moveables without meshes: listed, not modelled.
    const std::vector<std::uint32_t>& meshless() const { return meshless_; }
    /// Static mesh id -> mesh pointer index, for those whose mesh reads.
    const std::map<std::uint32_t, std::size_t>& statics() const { return statics_; }
    /// The moveable of an object id, or nothing.
    const moveable_model* moveable(std::uint32_t object_id) const;
    /// A mesh that read (the caller has it from moveables() or statics()).
    const decoded_mesh& mesh(std::size_t index) const {
        return *meshes_.at(level_.mesh_pointers.at(index));
    }

    /// Adds a mesh's faces to primitives, each corner moved by `shift` (level units) and bound
    /// to `joint` when skinned.
    void add_mesh(const gltf_document& doc, primitive_map& primitives, std::size_t index,
                  const std::array<double, 3>& shift, std::uint16_t joint, bool skinned) const;

  private:
    bool mesh_reads(std::size_t index, const std::string& owner,
                    std::vector<std::string>& problems);
    bool spend(std::size_t units, const std::string& owner, std::vector<std::string>& problems);

    const Ttrlevel& level_;
    std::map<std::int32_t, std::optional<decoded_mesh>> meshes_; // by mesh-data offset
    std::vector<moveable_model> moveables_;
    std::vector<std::uint32_t> meshless_;
    std::map<std::uint32_t, std::size_t> statics_;
    std::map<std::uint32_t, std::size_t> by_id_;
    std::size_t budget_ = 0;
    bool over_budget_ = false;
};

/// A quaternion of the level's axes in glTF's (y and z turned).
std::array<double, 4> gltf_rotation(const std::array<double, 4>& level_rotation);

struct object_file {
    std::string name; // "objects/moveable-12.glb"
    std::vector<std::uint8_t> bytes;
};

struct objects_summary {
    std::size_t moveables = 0, animations = 0, keyframes = 0, statics = 0;
};

/// The model files of every moveable and static mesh; their images name the page files of
/// textures/.
std::vector<object_file> build_object_files(const Ttrlevel& level, const level_objects& objects,
                                            page_store& pages, objects_summary& summary);

} // namespace quarlix::exporting
