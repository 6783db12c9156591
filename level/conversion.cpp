// The model edits of the two conversion directions.
#include "level/conversion.h"

#include <cstring>

#include "level/trunit2.h"

namespace quarlix {

namespace {

constexpr std::uint16_t widened_moveable_word = 0xFFEF;

static_assert(sizeof Ttrlevel::sound_map == std::size_t{2} * (marked_floor_words - 1),
              "the marked floor data holds the marker and the whole sound map");

} // namespace

void convert_trc_to_tr4(Ttrlevel& level) {
    level.set_num_rooms(1);
    level.set_num_boxes(0);
    level.set_num_overlaps(0);
    level.set_num_zones(0);
    level.set_num_items(1);
    level.set_num_cameras(0);
    level.set_num_sound_sources(0);
    level.set_num_flyby_cameras(0);
    level.set_num_floor_data(marked_floor_words);
    std::memcpy(reinterpret_cast<std::uint8_t*>(level.floor_data.data()) + 2, level.sound_map,
                sizeof level.sound_map);
    level.floor_data[0] = static_cast<std::int16_t>(conversion_marker);
}

bool has_conversion_marker(const Ttrlevel& level) {
    // A marker without the whole sound map behind it cannot be taken back: not ours.
    return level.num_floor_data >= marked_floor_words &&
           static_cast<std::uint16_t>(level.floor_data[0]) == conversion_marker;
}

void convert_tr4_to_trc(Ttrlevel& level) {
    std::memcpy(level.sound_map, reinterpret_cast<const std::uint8_t*>(level.floor_data.data()) + 2,
                sizeof level.sound_map);
    for (std::size_t i = 0; i < level.moveables.size(); ++i) {
        level.moveables_trc[i] = tmoveable_trc{level.moveables[i], widened_moveable_word};
    }
    for (tobject_texture& texture : level.object_textures) {
        texture.last = 0;
    }
    // Every room is written as TRC, so every room gets its one layer header.
    for (troom& room : level.rooms) {
        room.layer_headers.resize(1);
    }
    level.room_geometry_to_layers();
}

} // namespace quarlix
