// Not carried by this build yet: fails clearly until its command is built.
#include "cli/commands.h"

int DisplayAllAdapterPCIVendorInfo(int /*a*/, int /*b*/) { return CmdNotAvailable("The PCI vendor display"); }
int DisplayAdapterPCIVendorInfo(SDMDevice* /*port*/, int /*a*/, int /*b*/) { return CmdNotAvailable("The PCI vendor display"); }
