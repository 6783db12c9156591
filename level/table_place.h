// Where a table lies in a level file, as the loader notes it for reports and checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace quarlix {

/// What a table is, in the places that the loader reports.
enum class ttable_kind : std::uint8_t {
    section, // a counted section after the rooms
    sound_map,
    room_vertices,
    room_rectangles,
    room_triangles,
    room_sprites,
    room_portals,
    room_sectors,
    room_lights,
    room_static_instances,
    room_aux_records,
    layer_vertices,
    layer_rectangles,
    layer_triangles,
};

struct tsection;

/// Which table: its kind, and for a section which one.
struct ttable_key {
    ttable_kind kind;
    const tsection* section = nullptr;
    constexpr ttable_key(ttable_kind k) : kind(k) {}
    constexpr ttable_key(const tsection& s) : kind(ttable_kind::section), section(&s) {}
};

/// Where the loader found the first record of a table.
struct ttable_place {
    ttable_key table;
    std::int32_t room = -1;  // room and layer tables: the room
    std::int32_t layer = -1; // layer tables: the layer
    std::string_view space;  // "file offset" or "level-data offset"
    std::size_t offset = 0;
};

/// Receives every table's place, in reading order, from a load that is given one.
using ttable_sink = std::function<void(const ttable_place&)>;

} // namespace quarlix
