// Merging the components of a Pemra multiboot image for one adapter.
#include "engines/pemra_combination.h"

#include "frontend/output.h"
#include "image/ilt_accessors.h"
#include "image/ilt_entry_data.h"

namespace {

SD_UINT8 OrFail(SD_INT32 done, SD_UINT8 failure) { return done == 1 ? 0 : failure; }

// One operation between its two log lines, named as the operation.
template <typename Op>
SD_UINT8 Logged(const char* before, const char* after, SD_UINT8 failure, Op op) {
    VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImage: %s", before);
    const SD_UINT8 rc = OrFail(op(), failure);
    if (rc == 0) VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImage: %s", after);
    return rc;
}

SD_INT32 PlainCopy(CombinedBytes out, ImageBytes in, const ILT_Region_t* region, const char* who) {
    if (!CopyImageRegion(out, in, region, who)) return 0;
    VORNLogMessage(VORN_MSG_DEBUG, "%s: Finished!", who);
    return 1;
}

}  // namespace

SD_INT32 UpdateResetSequence(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    return PlainCopy(out, in, region, "UpdateResetSequence");
}

SD_INT32 UpdateMiniDumpTemplates(CombinedBytes out, ImageBytes in, const ILT_Region_t* region) {
    return PlainCopy(out, in, region, "UpdateMiniDumpTemplates");
}

SD_UINT8 CombinePemraImage(CombinedBytes out, const ILT_Region_t* region, ImageBytes in, const sHbaIdentifiers& ids) {
    if (region == nullptr) return COMBINE_OUT_OF_BOUNDS;
    VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImage: Region no=0x%x image chipRev=0x%x", region->regionType,
                   region->chipRev);
    VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImage: Region no=0x%x adapter chipRev=0x%x", region->regionType,
                   ids.chipRev);
    switch (region->regionType) {
        case 0x2E:
            return Logged("Updating NIC Bootcode...", "NIC Bootcode updated", PEMRA_COMBINE_NIC_FAILED, [&] {
                return UpdateCNANICBootCode(out, in, region, ids, PEMRA_NIC_DEVICE_ID);
            });
        case 0x4F:
            return Logged("Updating iSCSI Bootcode...", "iSCSI Bootcode updated", PEMRA_COMBINE_ISCSI_FAILED, [&] {
                return UpdateCNAiSCSIBootCode(out, in, region, ids, PEMRA_ISCSI_DEVICE_ID);
            });
        case 0xA2:
            return Logged("Updating FCOE Bootcode...", "FCOE Bootcode updated", PEMRA_COMBINE_FCOE_FAILED, [&] {
                return UpdateCNAFCoEBootCode(out, in, region, ids, PEMRA_FCOE_DEVICE_ID);
            });
        case 0x70:
            if (region->chipRev == 0) {
                VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImage: Updating CRBINIT (ChipRev=0x%x)...",
                               region->chipRev);
            } else if (region->chipRev == ids.chipRev) {
                VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImage: Updating CRBINIT...");
            } else {
                return 0;   // built for another chip revision
            }
            if (UpdateCNACRBInitRegion(out, in, region) != 1) return PEMRA_COMBINE_NIC_FAILED;
            VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImage: CRBINIT Updated to updateBuffer");
            return 0;
        case 0x72:
            return Logged("Updating Boot Loader...", "Boot Loader updated", PEMRA_COMBINE_NIC_FAILED,
                          [&] { return UpdateCNABootLoaderRegion(out, in, region); });
        case 0x73:
            return Logged("Updating Pegtune...", "Pegtune updated", PEMRA_COMBINE_NIC_FAILED,
                          [&] { return UpdateCNAPegTuneRegion(out, in, region); });
        case 0x97:
            return Logged("Updating Firmware...", "Firmware updated", PEMRA_COMBINE_FIRMWARE_FAILED,
                          [&] { return UpdateCNAFirmware(out, in, region); });
        case 0xA4:
            return Logged("Updating FCoE Firmware...", "FCoE Firmware updated", PEMRA_COMBINE_FIRMWARE_FAILED,
                          [&] { return UpdateCNAFirmware(out, in, region); });
        case 0xA3:
            return Logged("Updating mini dump templates...", "mini dump templates updated",
                          PEMRA_COMBINE_MINIDUMP_FAILED, [&] { return UpdateMiniDumpTemplates(out, in, region); });
        case 0xB1:
            return Logged("Updating Reset Sequence...", "Reset Sequence updated", PEMRA_COMBINE_RESET_SEQUENCE_FAILED,
                          [&] { return UpdateResetSequence(out, in, region); });
        default:
            VORNLogMessage(VORN_MSG_DEBUG, "CombineTorviImage: Unrecognized Image Type...\n");
            return 0;
    }
}

SD_INT16 CombinePemraImageComponentsInBuffer(CombinedBytes out, std::span<SD_UINT8> in, SD_UINT16, SD_INT16 cardType,
                                             SD_UINT16 hardwareRevision, const sHbaIdentifiers& ids) {
    VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImageComponentsInBuffer: cardtype %d", cardType);
    int count = 0;
    // A negative card type names no adapter: no entry is merged for it.
    const int entries = cardType < 0 ? 0 : static_cast<int>(ILT_Header_GetNumOfRegionEntries(in)) - 1;
    for (int i = 0; i < entries; ++i) {
        const auto region = ILT_Region_GetRegionByIndex(in, static_cast<SD_UINT16>(i));
        // An entry that cannot be read leaves no count to trust: the walk ends.
        if (!region) {
            VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImageComponentsInBuffer: entry %d cannot be read", i);
            return -1;
        }
        if (!CardTypeComapre(region->swapModeCardType, static_cast<SD_UINT16>(cardType)) ||
            !HwRevComapre(hardwareRevision, region->chipRev))
            continue;
        const SD_UINT8 rc = CombinePemraImage(out, &*region, in, ids);
        if (rc != 0) {
            VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImageComponentsInBuffer: CombineTorviImage failed!");
            return rc;
        }
        // Counts share the result with failure codes from 128 up.
        if (++count > COMBINE_MAX_ENTRIES) return COMBINE_TOO_MANY;
    }
    // Without its table the combined image is no image: never report it combined.
    if (UdpateTimeStamp(out, in) != 1) {
        VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImageComponentsInBuffer: the image layout table cannot be stamped");
        return COMBINE_OUT_OF_BOUNDS;
    }
    VORNLogMessage(VORN_MSG_DEBUG, "CombinePemraImageComponentsInBuffer: combined/updated %d images for cardtype %d",
                   count, cardType);
    return static_cast<SD_INT16>(count);
}
