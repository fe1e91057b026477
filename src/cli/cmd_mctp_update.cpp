// Not carried by this build yet: fails clearly until its command is built.
#include "cli/commands.h"

int UpdateAdapterMCTPSupport(int enable) { return CmdNotAvailable(enable != 0 ? "MCTP config enable" : "MCTP config disable"); }
