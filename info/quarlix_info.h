// quarlix-info: what a level holds, what differs between two levels, and what is broken in one.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quarlix::info {

/// Exit statuses, distinct for each outcome.
enum status : int {
    status_read = 0,       // every level read (with --check: nothing found)
    status_problems = 1,   // --check found problems
    status_unreadable = 2, // a file could not be read, or is no level of a known version
    status_usage = 3,      // bad usage: unknown option, missing or extra arguments
};

/// Runs quarlix-info on the arguments after the program name, printing everything to out;
/// returns the exit status. Never changes a file.
int run(const std::vector<std::string>& args, std::ostream& out);

} // namespace quarlix::info
