// Entry point: forwards the arguments to the export's run.
#include <iostream>
#include <string>
#include <vector>

#include "export/quarlix_export.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return quarlix::exporting::run(args, std::cout);
}
