// The image update of every port whose flash.cfg record asks for it, which no
// command of this tool runs (the MCTP update has its own pass).
#pragma once

#include "mgmt/sd_types.h"

// Needs flash.cfg read (BuildFlashCtrListFromFile). For every port of the
// device list: its record, a table copy a cut write left written back
// (RollBackTableCopiesBeforeUpdate; one that cannot be used fails the port),
// its own versions, the update policy, and the
// record's image written through updateOptionROMSingleHBA where the policy
// says so (0, 201 and 2 count as done). 0 all done, 2 none needed, 3 none
// done, 4 some done, 9 no port, -1 memory exhausted; the summary goes to the
// output file. `ROMFileName` is not used: each port takes its record's file.
int updateOptionROMAllHBAs(const char* ROMFileName, SD_INT32 AllPorts, SD_UINT16 DisableReset);
