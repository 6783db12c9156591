// Entry point: forwards the arguments to the export's run.
#include "export/quarlix_export.h"
#include "storage/program_entry.h"

QUARLIX_PROGRAM_ENTRY(quarlix::exporting::run)
