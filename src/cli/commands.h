// Entry points of the commands that the dispatcher runs. Each lives in a file of
// its own (cmd_*.cpp), so that the work that builds a command replaces only that file.
#pragma once

#include <cstdint>

#include "core/sdm_device.h"

// No command word: MCTP enable (1) or, with "package.cfg", disable (0).
int UpdateAdapterMCTPSupport(int enable);                       // cmd_mctp_update.cpp
// "-g": the host block, then the adapter list.
int ShowHostInfo();                                             // cmd_host_info.cpp
int DisplayAllHBAs();                                           // cmd_display_hbas.cpp
// "-l": general information.
int DisplayAllHBAInformation();                                 // cmd_general_info.cpp
int PrintHBAGenInfos(SDMDevice* port);
// "-i": flash component versions.
int DisplayAllAdaptersFlashComponentsVersion();                 // cmd_flash_versions.cpp
int DisplayAdapterFlashComponentsVersion(SDMDevice* port, int a, int b);
// "-b": image update from a file, to the adapters the family option selects
// (none without one): every port (0 when one succeeded, else 34) or one port
// (the update dispatch's status, 19 when skipped, 161 when an FC VPD is left
// damaged, 350 or 360 when a table copy a cut write left on the host cannot
// be used or written back). Both take the host's update lock first (3 when
// it is held); a chip-type-25 adapter's table copies go back before anything
// else is written to it.
int DoFlashUpdateAllAdaptersFromFile(const char* file, int mode, uint8_t family, uint8_t portOption);  // cmd_flash_from_file.cpp
int DoFlashUpdateAdapterPortFromFile(SDMDevice* port, const char* file, int mode, uint8_t family,
                                     uint8_t portOption, int a, int b);
// Operations without a command word.
int DisplayAllHBAsPEPBCVersion();                               // cmd_pep_bc_version.cpp
int ModifyAllHBAsFLashDescriptorTable();                        // cmd_flash_descriptor.cpp
// "-mpi": management-port interface state of one adapter.
int GetAdapterManagementPortInterfaceState(SDMDevice* port);    // cmd_mpi_state.cpp
// "-pci": PCI subsystem vendor and device ids.
int DisplayAllAdapterPCIVendorInfo(int a, int b);               // cmd_pci_vendor.cpp
int DisplayAdapterPCIVendorInfo(SDMDevice* port, int a, int b);
// "-x": copies the installation directory's regular files into target; 0 or -1.
int ExtractDirectory(const char* source, const char* target);   // cmd_extract_dir.cpp
