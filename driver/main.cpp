// Entry point: forwards the arguments to the converter's run.
#include "driver/quarlix.h"
#include "storage/program_entry.h"

QUARLIX_PROGRAM_ENTRY(quarlix::run)
