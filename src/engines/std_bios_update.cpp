// The standard BIOS update.
#include "engines/std_bios_update.h"

#include <string>
#include <vector>

#include "frontend/adapter_model_text.h"
#include "frontend/model_predicates.h"
#include "frontend/output.h"
#include "image/option_rom_validation.h"
#include "mgmt/sdapi.h"

SD_INT32 DoStdBiosUpdate(SDMDevice* pDevice, const char* ROMFileName) {
    if (pDevice == nullptr) {
        scfxPrint("Unable to find the selected HBA!");
        return -1;
    }
    const char* file = ROMFileName != nullptr ? ROMFileName : "";
    const int instance = static_cast<int>(pDevice->DeviceNumber);
    // Erased flash past a shorter file, never stale memory.
    std::vector<SD_UINT8> buffer(STD_BIOS_IMAGE_SIZE, 0xFF);
    SD_UINT32 size = STD_BIOS_IMAGE_SIZE;
    switch (validateOptionROMFile(file, buffer, &size)) {
        case 0: break;
        case 1: scfxPrint("Unable to open file %s!", file); return -1;
        case 3: scfxPrint("Failed to open file %s for reading!", file); return -1;
        case 4:
            scfxPrint("%s is not an acceptable multi-bootimage file for this HBA (Instance %d), wrong size!", file,
                      instance);
            return -1;
        default: scfxPrint("Unable to access file %s (Read error) !", file); return -1;
    }

    // The check walks the very bytes that are written, not a second reading
    // of the file.
    const std::string model = GetAdapterModelText(pDevice);
    const SD_UINT16 ssdid = GetNvramSubSystemID(pDevice);
    const SD_UINT16 ssvid = GetNvramSubVendorID(pDevice);
    const int check =
        validateUpdateOptionROM(ssdid, ssvid, buffer, model.c_str(), pDevice->DeviceChipProperty.DeviceID, 0);
    switch (check) {
        case 0:
        case 15:
            break;
        case 2:
            scfxPrint("Incorrect flash file for HBA %d. The selected file does not match the HBA!", instance);
            return check;
        case 4:
            scfxPrint("%s is not an acceptable multi-bootimage file for this HBA (Instance %d), wrong size!", file,
                      instance);
            return check;
        case 9:
            scfxPrint("Incorrect flash image for HBA instance %lu (%s)(Unknown hardware type)!",
                      static_cast<unsigned long>(instance), model.c_str());
            return check;
        case 10:
            scfxPrint("Incorrect flash image for HBA instance %lu (%s)(ssdid=0x%x ssvid=0x%x)!",
                      static_cast<unsigned long>(instance), model.c_str(), ssdid, ssvid);
            return check;
        case 11:
            scfxPrint("Incorrect flash file for HBA %d - %s (SSDID/SSVID mismatched)!", instance, model.c_str());
            return check;
        case 12:
            scfxPrint("Incorrect flash file, invalid checksum!");
            return check;
        default:
            scfxPrint("Unable to access file %s (Read error) !", file);
            return check;
    }

    VORNLogMessage(VORN_MSG_INFO, "Updating Flash on HBA instance %d - %8s. Please wait...", instance, model.c_str());
    const SD_UINT32 st = SDUpdateOptionRom(pDevice->DeviceHandle, 0, buffer);
    if (st != SDERR_SUCCESS && st != SDERR_FLASHED_NOT_ACTIVATED) {
        scfxPrint("Failed to update flash on HBA %d (0x%x) (%s)!", instance, st, SDGetErrorString(st));
        return -1;
    }
    static constexpr const char* kDone =
        "Flash update complete. Changes have been saved to all ports of this HBA.\n"
        "You must reboot in order for the changes to become effective.";
    VORNLogMessage(VORN_MSG_INFO, "%s", kDone);
    return st == SDERR_FLASHED_NOT_ACTIVATED ? 201 : 0;
}
