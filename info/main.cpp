// Entry point: forwards the arguments to quarlix-info's run.
#include "app/program_entry.h"
#include "info/quarlix_info.h"

QUARLIX_PROGRAM_ENTRY(quarlix::info::run, quarlix::info::status_unreadable)
