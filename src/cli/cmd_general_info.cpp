// Not carried by this build yet: fails clearly until its command is built.
#include "cli/commands.h"

int DisplayAllHBAInformation() { return CmdNotAvailable("The general information report"); }
int PrintHBAGenInfos(SDMDevice* /*port*/) { return CmdNotAvailable("The general information report"); }
