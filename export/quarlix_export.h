// quarlix-export: a level's texture pages as PNG, its samples as WAVE files and its rooms as one
// binary glTF file, written into a directory.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quarlix::exporting {

/// Exit statuses of a run.
enum : int { exit_done = 0, exit_failed = 1, exit_usage = 2 };

/// Runs the export on the arguments after the program name, printing to out; returns the exit
/// status. A level that cannot be read leaves the directory as it was.
int run(const std::vector<std::string>& args, std::ostream& out);

} // namespace quarlix::exporting
