// quarlix-export: a level's texture pages as PNG, its samples as WAVE files and its rooms as one
// binary glTF file, written into a directory.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace quarlix::exporting {

/// Exit statuses of a run.
enum : int { exit_done = 0, exit_failed = 1, exit_usage = 2 };

/// Runs the export on the arguments after the program name, printing to out; returns the exit
/// status. The files are written all or nothing; a run that fails leaves the directory as it was.
int run(const std::vector<std::string>& args, std::ostream& out);

/// For tests: called in every run once each file is whole under its temporary name, before
/// any is renamed over its name; an error that it throws fails the run there.
void set_file_written_hook(std::function<void(const std::string& name)> hook);

} // namespace quarlix::exporting
