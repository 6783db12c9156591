// Lines, counts and error reports of the programs.
#include "app/program.h"

#include <new>

#include "storage/errors.h"

namespace quarlix::app {

void say(std::ostream& out, const std::string& line) { out << line << '\n' << std::flush; }

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

error_report current_error() {
    try {
        throw;
    } catch (const EError& e) {
        return {e.kind(), e.what()};
    } catch (const std::bad_alloc&) {
        const EOutOfMemory e;
        return {e.kind(), e.what()};
    }
}

void print_current_error(std::ostream& out) {
    try {
        throw;
    } catch (const EError& e) {
        out << e.kind() << ": " << e.what() << '\n' << std::flush;
    } catch (const std::bad_alloc&) {
        const EOutOfMemory e;
        out << e.kind() << ": " << e.what() << '\n' << std::flush;
    }
}

int reporting_errors(std::ostream& out, int failure_status, const std::function<int()>& body) {
    try {
        return body();
    } catch (...) {
        print_current_error(out);
    }
    return failure_status;
}

} // namespace quarlix::app
