// Entry point: forwards the arguments to quarlix-info's run.
#include <iostream>
#include <string>
#include <vector>

#include "info/quarlix_info.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return quarlix::info::run(args, std::cout);
}
