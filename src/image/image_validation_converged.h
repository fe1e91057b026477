// Component checks of the converged adapters' multiboot images (Torvi,
// Pemra, K7R and the first generation) and the versions they collect into
// MultibootVersions. Statuses: -5 NIC or FC boot code, -6 MPI firmware or
// configuration, -7 EDC firmware, -8 FCoE or iSCSI boot code, -9 RISC
// firmware, -10 boot loader, -11 pegtune, -12 CRB init, -13 converged or NIC
// firmware; region types a family does not check pass with 0.
#pragma once

#include "image/ilt_accessors.h"
#include "image/image_validation_headers.h"

// One component by its region type.
int ValidateTorviImages(const ILT_Region_t& region, ComponentBytes component, MultibootVersions* pVersions,
                        SD_UINT16 adapterChipRev);
int ValidatePemraImages(const ILT_Region_t& region, ComponentBytes component, MultibootVersions* pVersions,
                        SD_UINT16 adapterChipRev);
int ValidateK7RImages(const ILT_Region_t& region, ComponentBytes component, MultibootVersions* pVersions,
                      SD_UINT16 adapterChipRev);
int ValidateImages(const ILT_Region_t& region, ComponentBytes component, MultibootVersions* pVersions);

// The loops: the header versions (not for the first generation), then every
// entry whose card types fit (and, for Torvi and Pemra, whose chip revision
// fits). The count of checked components (0 to 127) or the first failure;
// `totalImages` is not consulted.
SD_INT8 ValidateTorviImageComponents(IltBytes buffer, SD_UINT16 totalImages, SD_INT16 cardType,
                                     MultibootVersions* pVersions, SD_UINT16 adapterChipRev);
SD_INT8 ValidatePemraImageComponents(IltBytes buffer, SD_UINT16 totalImages, SD_INT16 cardType,
                                     MultibootVersions* pVersions, SD_UINT16 adapterChipRev);
SD_INT8 ValidateK7RImageComponents(IltBytes buffer, SD_UINT16 totalImages, SD_INT16 cardType,
                                   MultibootVersions* pVersions, SD_UINT16 adapterChipRev);
SD_INT8 ValidateImageComponents(IltBytes buffer, SD_UINT16 totalImages, SD_INT16 cardType,
                                MultibootVersions* pVersions);

// A K7R NIC partition's boot code (device 0x8023): the chain and its
// versions, without the flash-layout locator: 0 or -5.
int ValidateK7RNICPartition(ComponentBytes component, MultibootVersions* pVersions);
