// Not carried by this build yet: fails clearly until its command is built.
#include "cli/commands.h"

int DisplayAllHBAs() { return CmdNotAvailable("The adapter list"); }
