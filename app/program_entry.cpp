// The programs' entry: arguments in, status out, standard output for everything.
#include "app/program_entry.h"

#include <cstdlib>
#include <iostream>
#include <new>

#include "app/program.h"
#include "storage/file_system.h"

namespace quarlix::app {

namespace {

// Memory held back for the way out of an allocation failure: destructors that run while the
// failure unwinds may allocate (a JSON value frees its children through a list it makes), and
// one that fails there would end the process without the report.
constexpr std::size_t reserve_bytes = 1 << 20;
void* reserve = nullptr;

void release_reserve_and_fail() {
    if (reserve == nullptr) {
        throw std::bad_alloc();
    }
    std::free(reserve);
    reserve = nullptr;
    std::set_new_handler(nullptr);
    throw std::bad_alloc();
}

int enter_with(const std::function<std::vector<std::string>()>& arguments, program_run run,
               int failure_status) {
    // A file-size limit fails the write, which the run reports and cleans up after.
    report_file_size_limit_as_write_error();
    reserve = std::malloc(reserve_bytes);
    std::set_new_handler(release_reserve_and_fail);
    return reporting_errors(std::cout, failure_status, [&] { return run(arguments(), std::cout); });
}

} // namespace

int enter(int argc, char** argv, program_run run, int failure_status) {
    return enter_with(
        [&] { return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc); }, run,
        failure_status);
}

#ifdef _WIN32
int enter(int argc, wchar_t** argv, program_run run, int failure_status) {
    return enter_with([&] { return utf8_arguments(argc, argv); }, run, failure_status);
}
#endif

} // namespace quarlix::app
