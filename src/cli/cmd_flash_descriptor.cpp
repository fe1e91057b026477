// Not carried by this build yet: fails clearly until its command is built.
#include "cli/commands.h"

int ModifyAllHBAsFLashDescriptorTable() { return CmdNotAvailable("The flash descriptor update"); }
