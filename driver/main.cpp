// Entry point: forwards the arguments to the converter's run. On Windows they come from the
// wide command line, so that names outside the system code page arrive whole (as UTF-8).
#include <iostream>
#include <string>
#include <vector>

#include "driver/quarlix.h"
#include "storage/file_system.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return quarlix::run(quarlix::utf8_arguments(argc, argv), std::cout);
}
#else
int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return quarlix::run(args, std::cout);
}
#endif
