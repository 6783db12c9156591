// Converts a TRC level to TR4 through the installed library, loads the result back and checks
// the conversion marker; every public header is included, so each one must be installed.
#include <cstdio>
#include <memory>

#include "level/conversion.h"
#include "level/geometry.h"
#include "level/records.h"
#include "level/samples.h"
#include "level/sections.h"
#include "level/trunit2.h"
#include "storage/parallel.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::puts("usage: consumer LEVEL.trc OUT.tr4");
        return 2;
    }
    const auto level = std::make_unique<quarlix::Ttrlevel>();
    if (level->load(argv[1]) != 0 || level->version != quarlix::level_trc) {
        std::printf("%s did not load as TRC (version %d)\n", argv[1],
                    static_cast<int>(level->version));
        return 1;
    }
    const unsigned rooms = level->num_rooms;
    quarlix::convert_trc_to_tr4(*level);
    if (level->save(argv[2]) != 0) {
        std::printf("%s was not saved\n", argv[2]);
        return 1;
    }
    const auto back = std::make_unique<quarlix::Ttrlevel>();
    if (back->load(argv[2]) != 0 || back->version != quarlix::level_tr4 || back->num_rooms != 1 ||
        !quarlix::has_conversion_marker(*back)) {
        std::printf("%s did not load back as a marked TR4 of one room\n", argv[2]);
        return 1;
    }
    std::printf("converted %u rooms to a marked TR4 of one room and loaded it back\n", rooms);
    return 0;
}
