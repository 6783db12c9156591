// The entry point of each program: the arguments after the program name go to its run, as
// UTF-8 on Windows too (taken from the wide command line, so that names outside the system code
// page arrive whole).
#pragma once

#include <iostream>
#include <string>
#include <vector>

#include "storage/file_system.h"

#ifdef _WIN32
#define QUARLIX_PROGRAM_ENTRY(run)                                                                \
    int wmain(int argc, wchar_t** argv) { return run(quarlix::utf8_arguments(argc, argv), std::cout); }
#else
#define QUARLIX_PROGRAM_ENTRY(run)                                                                \
    int main(int argc, char** argv) {                                                             \
        const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);              \
        return run(args, std::cout);                                                              \
    }
#endif
