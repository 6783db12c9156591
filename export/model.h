// The rooms as one binary glTF 2.0 file: textured through the object textures onto the pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "export/gltf.h"
#include "export/objects.h"
#include "export/pictures.h"

namespace quarlix {
class Ttrlevel;
}

namespace quarlix::exporting {

struct model_summary {
    std::size_t rooms = 0;
    std::size_t faces = 0;            // faces written
    std::size_t skipped_faces = 0;    // a corner beyond the room's vertices
    std::size_t untextured_faces = 0; // no such object texture, or its page is missing
    std::size_t images = 0;
    std::size_t items = 0;      // placed
    std::size_t statics = 0;    // static instances placed
    std::size_t sprites = 0;    // room sprites placed
    std::size_t unmodelled = 0; // items placed without a model: no such moveable or sprite
    std::size_t unplaced = 0;   // items in no room, instances of no static mesh, sprites of nothing
};

/// The rooms as a .glb file. Every room is a node "room N" at its position, y up, z turned with
/// it (a half turn about x, so nothing is mirrored) and 1024 units to the metre. A face is
/// visible where its corners run clockwise seen in the level's own frame (y down); glTF wants
/// them counter-clockwise, so each face's corner order is reversed. In the rooms stand their
/// items (a moveable in its first pose, or a sprite), static instances and sprites. Rooms that
/// others turn into when the level flips are left out of the default scene and shown in a second
/// one.
///
/// The file is made while it is written: the constructor walks the rooms
/// once to find every length (the summary is filled then). A model whose parts take at most
/// `keep_limit` bytes keeps them from that walk; a larger one is made again by write(), one room
/// at a time, so that the memory taken is the level's, one room's and the pages'.
/// A file that would pass `limit` bytes is refused before anything is written.
class glb_file {
  public:
    /// Throws ERangeError when the file would be larger than `limit`.
    glb_file(const level_objects& objects, page_store& pages, model_summary& summary,
             std::uint64_t limit = glb_size_limit, std::uint64_t keep_limit = 1u << 20);
    ~glb_file();
    std::uint64_t size() const { return frame_.size(); }
    void write(std::ostream& out);
    /// The whole file in memory.
    std::vector<std::uint8_t> bytes();

  private:
    struct first_walk;
    const level_objects& objects_;
    page_store& pages_;
    std::unique_ptr<first_walk> first_;
    glb_frame frame_{};
};

} // namespace quarlix::exporting
