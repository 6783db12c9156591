// What quarlix-info says about a level: one JSON summary, and the text forms made from it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "info/level_checks.h"
#include "level/trunit2.h"

namespace quarlix::info {

using json = nlohmann::ordered_json;

/// What the file itself showed besides the level: its name and size, and whether its content
/// came out of a "ZLIB" container.
struct file_facts {
    std::string name;
    std::uint64_t size = 0;
    bool container = false;
};

/// The summary of a loaded level, in the documented schema (without "problems").
json describe_level(const Ttrlevel& level, const file_facts& file);
/// The problems as the schema's "problems" array.
json problems_json(const std::vector<problem>& problems);
/// "room 2 sector 3 (level-data offset 1234): ..." for one problem.
std::string problem_line(const json& problem);

/// The readable report of one summary (with its problems when it has them).
void print_report(const json& summary, std::ostream& out);
/// Two summaries side by side, every differing line marked with '*' in the first column.
void print_difference(const json& left, const json& right, std::ostream& out);

} // namespace quarlix::info
