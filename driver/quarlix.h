// The command-line converter: the whole run as the user sees it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quarlix {

/// Runs the converter on the arguments after the program name, printing to out; returns the
/// exit status (0 on every path the converter ends itself, 1 after an error report).
int run(const std::vector<std::string>& args, std::ostream& out);

/// The exit status after an error report.
inline constexpr int exit_error = 1;

} // namespace quarlix
