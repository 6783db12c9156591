// What the three programs share in talking to the user: lines, counts and the one report line
// of an error.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

namespace quarlix::app {

/// Prints one line and flushes it, so that the lines so far are out before anything fails.
void say(std::ostream& out, const std::string& line);

/// "1 room", "2 rooms".
std::string plural(std::size_t n, const char* one, const char* many);

/// The kind and message of the exception being handled: an EError as it is, an allocation
/// failure as EOutOfMemory. Anything else is thrown on.
struct error_report {
    std::string kind;
    std::string message;
};
error_report current_error();

/// Prints the exception being handled (as current_error takes it) as the one report line,
/// "Kind: message", without allocating for an allocation failure.
void print_current_error(std::ostream& out);

/// Runs body and returns its status; an error or allocation failure that escapes it is
/// printed as its report line and gives failure_status.
int reporting_errors(std::ostream& out, int failure_status, const std::function<int()>& body);

} // namespace quarlix::app
