// What the running firmware and the driver report, read from the components
// of one image set in flash: the firmware header (attribute word and
// version), the MPI and PEP firmware versions and the boot-code chain.
// Values host.json gives win; components that are not there (erased
// regions, regions the family lacks) leave the platform's defaults.
#pragma once

#include "mgmt/sd_types.h"
#include "mgmt/sim/sim_host.h"

// Region codes of an image set's components on this adapter; 0 when the
// family has none.
SD_UINT32 zvsim_firmware_region(const zvsim_adapter& a, SD_UINT8 set);
SD_UINT32 zvsim_mpi_region(const zvsim_adapter& a, SD_UINT8 set);
SD_UINT32 zvsim_pep_region(const zvsim_adapter& a, SD_UINT8 set);
SD_UINT32 zvsim_boot_code_region(const zvsim_adapter& a, SD_UINT8 set);

// The running part: firmware attribute word and version text, MPI and PEP
// versions (loaded at boot, region activation and reset).
void zvsim_load_running_firmware(const zvsim_adapter& a, SD_UINT8 set, zvsim_live& live);
// The flash part: the versions the driver reports of the images in flash
// (read at boot and when the driver is asked to refresh them).
void zvsim_load_flash_versions(const zvsim_adapter& a, SD_UINT8 set, zvsim_live& live);
