// Room geometry conversion: TRC layers to the single-list TR4 form, and back to one layer.
#pragma once

#include <cstdint>

#include "level/room.h"

namespace quarlix {

/// Rounds toward zero to 32 bits and keeps the low 16 bits; NaN, infinities and values
/// outside the 32-bit range give 0.
std::int16_t truncate_coordinate(float value);

/// Number (from 1) of the first of the room's vertices at x, y, z; 0 when there is none.
std::uint16_t find_room_vertex(const troom& room, std::int16_t x, std::int16_t y, std::int16_t z);

/// Makes sure a vertex at x, y, z is in the room's table; a new position is dropped when the
/// table already holds 1500 vertices.
void add_room_vertex(troom& room, std::int16_t x, std::int16_t y, std::int16_t z);

/// Rebuilds the room's vertex, rectangle and triangle tables (all their forms) from its
/// layers, merging layer vertices that land on the same integer position.
void layers_to_room_geometry(troom& room);

/// Fills the room's TRC forms, TRC header fields and first layer header from its TR4
/// geometry. The room must hold at least one layer header; none is created here.
void room_to_layers(troom& room);

/// The colour byte of a 5-bit shade: ((31 - s) * 8) mod 256.
inline std::uint8_t shade_to_colour(std::uint8_t s) {
    return static_cast<std::uint8_t>((31 - s) * 8);
}

} // namespace quarlix
