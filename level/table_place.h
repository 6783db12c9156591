// Where a table lies in a level file, as the loader notes it for reports.
#pragma once

#include <cstddef>
#include <string>

namespace quarlix {

/// Where the loader found the first record of a table: its name as in the loader's messages
/// ("items", "room 2 sectors", "TRC room 0 layer rectangles"), the offset space ("file offset"
/// or "level-data offset") and the offset.
struct ttable_place {
    std::string table;
    std::string space;
    std::size_t offset = 0;
};

} // namespace quarlix
