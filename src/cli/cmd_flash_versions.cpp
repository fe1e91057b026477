// Not carried by this build yet: fails clearly until its command is built.
#include "cli/commands.h"

int DisplayAllAdaptersFlashComponentsVersion() { return CmdNotAvailable("The flash component display"); }
int DisplayAdapterFlashComponentsVersion(SDMDevice* /*port*/, int /*a*/, int /*b*/) { return CmdNotAvailable("The flash component display"); }
