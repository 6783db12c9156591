// The programs' command lines, parsed with CLI11.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace quarlix::app {

/// Adds --version (printing "PROGRAM VERSION") after the program's own options and parses the
/// arguments after the program name. Help, the version and a usage error are printed to out
/// and end the run with done_status (help, version) or usage_status; otherwise nothing is
/// returned and the run goes on.
std::optional<int> parse_arguments(CLI::App& app, const std::vector<std::string>& args,
                                   std::ostream& out, int done_status, int usage_status);

} // namespace quarlix::app
