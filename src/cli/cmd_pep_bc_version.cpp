// Not carried by this build yet: fails clearly until its command is built.
#include "cli/commands.h"

int DisplayAllHBAsPEPBCVersion() { return CmdNotAvailable("The PEP board configuration display"); }
