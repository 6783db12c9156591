// Entry point: forwards the arguments to quarlix-info's run.
#include "info/quarlix_info.h"
#include "storage/program_entry.h"

QUARLIX_PROGRAM_ENTRY(quarlix::info::run)
