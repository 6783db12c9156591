// Entry point: forwards the arguments to the converter's run.
#include "app/program_entry.h"
#include "driver/quarlix.h"

QUARLIX_PROGRAM_ENTRY(quarlix::run, quarlix::exit_error)
