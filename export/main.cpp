// Entry point: forwards the arguments to the export's run.
#include "app/program_entry.h"
#include "export/quarlix_export.h"

QUARLIX_PROGRAM_ENTRY(quarlix::exporting::run, quarlix::exporting::exit_failed)
