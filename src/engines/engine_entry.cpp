// Every update flow has its engine in its own file: the Dorne engines
// (dorne_*), the Vrel engine (vrel_*), the converged adapters' (k7r_*,
// torvi_*, boardcfg/cna_option_rom_update) and the single-region flows of
// older adapters (option_rom_region_update, std_bios_update). This file
// keeps the entry header's home.
#include "engines/engine_entry.h"
