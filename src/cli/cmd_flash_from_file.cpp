// Not carried by this build yet: fails clearly until its command is built.
#include "cli/commands.h"

int DoFlashUpdateAllAdaptersFromFile(const char* /*file*/, int /*mode*/, uint8_t /*family*/, uint8_t /*portOption*/) { return CmdNotAvailable("The image update from a file"); }
int DoFlashUpdateAdapterPortFromFile(SDMDevice* /*port*/, const char* /*file*/, int /*mode*/, uint8_t /*family*/, uint8_t /*portOption*/, int /*a*/, int /*b*/) { return CmdNotAvailable("The image update from a file"); }
