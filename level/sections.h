// The level sections after the rooms: what one element of each takes in a version's files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarlix {

/// Bytes one element of a level section takes in the level's version ("items", "boxes", ...,
/// named as the model's counts without "num_"); 0 for a name it does not know.
std::size_t section_element_size(std::string_view section, std::int32_t version);

} // namespace quarlix
