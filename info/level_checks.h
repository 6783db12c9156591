// The checks of quarlix-info: references inside a loaded level that lead nowhere.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "level/trunit2.h"

namespace quarlix::info {

/// One problem, once: where (table name and index, e.g. "room 2 sector 3", "item 4"), what,
/// and the byte offset of the record where the loader noted its table.
struct problem {
    std::string where;
    std::string message;
    std::string space;                  // "file offset" or "level-data offset"; empty: unknown
    std::optional<std::size_t> offset;
};

/// Every problem of the level, in table order. A marked TR4 (a conversion's output) is
/// checked against its own sound map like any TR4; the map hidden in its floor data is floor
/// data to the checks.
/// `places` are where the load found the tables (its sink's reports); without them the
/// problems carry no offsets.
std::vector<problem> check_level(const Ttrlevel& level, std::span<const ttable_place> places = {});

} // namespace quarlix::info
