// The entry point of each program: the arguments after the program name go to its run, as
// UTF-8 on Windows too (taken from the wide command line, so that names outside the system code
// page arrive whole). An error or allocation failure that escapes the run is still the one
// report line, with the program's failure status.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quarlix::app {

using program_run = int (*)(const std::vector<std::string>& args, std::ostream& out);

int enter(int argc, char** argv, program_run run, int failure_status);
#ifdef _WIN32
int enter(int argc, wchar_t** argv, program_run run, int failure_status);
#endif

} // namespace quarlix::app

#ifdef _WIN32
#define QUARLIX_PROGRAM_ENTRY(run, failure_status)                                                 \
    int wmain(int argc, wchar_t** argv) {                                                          \
        return quarlix::app::enter(argc, argv, run, failure_status);                               \
    }
#else
#define QUARLIX_PROGRAM_ENTRY(run, failure_status)                                                 \
    int main(int argc, char** argv) { return quarlix::app::enter(argc, argv, run, failure_status); }
#endif
