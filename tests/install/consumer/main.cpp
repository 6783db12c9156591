// Loads a TRC level, saves it under a TR4 name and loads that back through the installed library.
#include <cstdio>
#include <memory>

#include "level/trunit2.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::puts("usage: consumer LEVEL.trc OUT.tr4");
        return 2;
    }
    const auto level = std::make_unique<quarlix::Ttrlevel>();
    if (level->load(argv[1]) != 0 || level->version != quarlix::level_trc) {
        std::printf("%s did not load as TRC (version %d)\n", argv[1], static_cast<int>(level->version));
        return 1;
    }
    const unsigned rooms = level->num_rooms;
    if (level->save(argv[2]) != 0) {
        std::printf("%s was not saved\n", argv[2]);
        return 1;
    }
    const auto back = std::make_unique<quarlix::Ttrlevel>();
    if (back->load(argv[2]) != 0 || back->version != quarlix::level_tr4 || back->num_rooms != rooms) {
        std::printf("%s did not load back as TR4 with %u rooms\n", argv[2], rooms);
        return 1;
    }
    std::printf("loaded %u rooms, saved and loaded back as TR4\n", rooms);
    return 0;
}
