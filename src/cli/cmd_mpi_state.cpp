// Not carried by this build yet: fails clearly until its command is built.
#include "cli/commands.h"

int GetAdapterManagementPortInterfaceState(SDMDevice* /*port*/) { return CmdNotAvailable("The MPI state display"); }
