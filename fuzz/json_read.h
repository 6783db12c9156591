// Reading the JSON that the info and export fuzz targets check, in a file of its own so that
// the fuzzer takes no coverage from the JSON parser.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarlix::fuzz {

/// What the info target checks of one level's JSON object.
struct info_json_facts {
    std::string error;                          // why the text does not parse; empty when it does
    std::uint64_t rooms = 0;                    // elements of "rooms"
    std::optional<std::uint64_t> counted_rooms; // "counts": {"rooms": ...}
    std::uint64_t problems = 0;                 // elements of "problems"
    std::uint64_t unlisted = 0;                 // the "count"s of "problems_unlisted"
};

/// Read as the parser goes, without building the document.
info_json_facts read_info_json(std::string_view text);

/// What the export target checks of a model's JSON chunk.
struct model_json_facts {
    std::string error;            // as for info_json_facts
    std::uint64_t room_nodes = 0; // nodes named "room " and a number
    std::optional<std::uint64_t>
        buffer_bytes; // "buffers"[0]["byteLength"], when "buffers" is there
};

model_json_facts read_model_json(std::string_view text);

} // namespace quarlix::fuzz
