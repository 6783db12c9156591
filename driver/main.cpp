// Entry point: forwards the arguments to the converter's run.
#include <iostream>
#include <string>
#include <vector>

#include "driver/quarlix.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return quarlix::run(args, std::cout);
}
