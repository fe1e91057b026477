// Image-status and auxiliary image-status steps of the Vrel engine.
#include "engines/vrel_image_status.h"

#include <cstdio>

#include "core/image_status.h"
#include "core/oss_services.h"
#include "frontend/output.h"

namespace {

// Names of the set being activated and of the other one.
struct SetNames {
    const char* updated;
    const char* other;
};

SetNames names_of(const SD_ACTIVE_REGIONS& active) {
    return active.ActiveGlobalRegions == 1 ? SetNames{"Secondary", "Primary"} : SetNames{"Primary", "Secondary"};
}

void item(std::span<char> lastLine, const char* format, const char* name) {
    char text[128];
    std::snprintf(text, sizeof text, format, name);
    if (!lastLine.empty()) std::snprintf(lastLine.data(), lastLine.size(), "%s", text);
    scfxDiagnosticsPrint("%s", text);
}

// The confirmation lines that follow a record pair written and read back.
void confirm(const SetNames& n, const char* kind) {
    char text[128];
    std::snprintf(text, sizeof text, "Verifying %s %sImage Status data... ", n.updated, kind);
    scfxDiagnosticsPrint("%s", text);
    OSSSleep(1);
    scfxPrint("Success");
    std::snprintf(text, sizeof text, "Updating Adapter %s %sImage Status... ", n.other, kind);
    scfxDiagnosticsPrint("%s", text);
    scfxPrint("Success");
    std::snprintf(text, sizeof text, "Verifying %s %sImage Status data... ", n.other, kind);
    scfxDiagnosticsPrint("%s", text);
    OSSSleep(1);
    scfxPrint("Success");
}

}  // namespace

SD_INT32 VrelWriteImageStatus(SDMDevice* pDevice, SD_ACTIVE_REGIONS* pActive, std::span<char> lastLine,
                              const CoreRecordsFound* found, SD_UINT32* pAnswer) {
    const SetNames n = names_of(*pActive);
    item(lastLine, "Updating Adapter %s Image Status... ", n.updated);
    const int status = CoreUpdateImageStatus(pDevice, pActive, 0, found, pAnswer);
    if (status != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: CoreUpdateImageStatus failed (%d)", status);
        scfxPrint("Failed");
        return VREL_IMAGE_STATUS_FAILED;
    }
    scfxPrint("Success");
    confirm(n, "");
    return 0;
}

SD_INT32 VrelWriteAuxImageStatus(SDMDevice* pDevice, SD_ACTIVE_REGIONS* pActive, SD_UINT32 uComponentUpdate,
                                 std::span<char> lastLine, const CoreRecordsFound* found, SD_UINT32* pAnswer) {
    const SetNames n = names_of(*pActive);
    item(lastLine, "Updating Adapter %s Aux Image Status... ", n.updated);
    const int status = CoreUpdateAuxImageStatus(pDevice, pActive, 0, uComponentUpdate, found, pAnswer);
    if (status != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: CoreUpdateAuxImageStatus failed (%d)", status);
        scfxPrint("Failed");
        return VREL_AUX_IMAGE_STATUS_FAILED;
    }
    scfxPrint("Success");
    confirm(n, "Aux ");
    return 0;
}

SD_INT32 VrelRestoreAuxImageStatus(SDMDevice* pDevice, const SD_ACTIVE_REGIONS& active, const CoreRecordsFound& found,
                                   std::span<char> lastLine, SD_UINT32* pAnswer) {
    if (!lastLine.empty()) lastLine[0] = '\0';
    const int status = CoreRestoreAuxImageStatus(pDevice, found, pAnswer);
    if (status == 0) return 0;
    VORNLogMessage(VORN_MSG_DEBUG, "VrelOnlineFlashUpdate: Aux image status not put back as found (%d)", status);
    item({}, "Updating Adapter %s Aux Image Status... ", names_of(active).updated);
    scfxPrint("Failed");
    return VREL_AUX_IMAGE_STATUS_FAILED;
}
