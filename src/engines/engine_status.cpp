// The engines' validation status table.
#include "engines/engine_status.h"

#include <cstdio>

#include "frontend/cli_settings.h"
#include "frontend/output.h"
#include "frontend/xml_output.h"

namespace {

// The messages of the table; several statuses share one.
enum class Message {
    IncorrectImage,        // instance, model, ssdid, ssvid
    IncorrectImageFile,    // instance, model, ssdid, ssvid
    InvalidChecksum,
    NoSignatureHeader,     // file
    NoSignatureData,       // file
    WrongSizeFirmware,     // file, instance, model
    WrongSizeBootCode,     // file, instance, model
    WrongSizeData,         // file, instance, model
    LayoutMismatch,        // instance, ssdid, ssvid
    ChipRevision,
    LayoutTableVersion,
    WrongComponent,
    ModifyFailed,          // file
    RegionSize,
};

struct Row {
    SD_INT32 status;
    Message message;
};

// Rows every family carries, each keeping its own status.
constexpr Row kCommonRows[] = {
    {0x09, Message::IncorrectImage},       {0x0C, Message::InvalidChecksum},
    {0x16, Message::NoSignatureHeader},    {0x17, Message::NoSignatureData},
    {0x19, Message::InvalidChecksum},      {0x1B, Message::WrongSizeFirmware},
    {0x1D, Message::InvalidChecksum},      {0x1E, Message::WrongSizeFirmware},
    {0x1F, Message::WrongSizeBootCode},    {0x20, Message::WrongSizeData},
    {0x1C2, Message::LayoutMismatch},      {0x1F9, Message::ChipRevision},
    {0x1FA, Message::LayoutTableVersion},  {0x1FB, Message::WrongComponent},
};

// The multiboot engines' own count and card-type statuses.
constexpr Row kMultibootRows[] = {
    {ENGINE_VALIDATION_NO_CARD_TYPE, Message::IncorrectImage},
    {ENGINE_VALIDATION_COMBINE_COUNT, Message::ModifyFailed},
    {ENGINE_VALIDATION_COMPONENT_COUNT, Message::IncorrectImageFile},
};

// The converged engines report the same failures under their own numbers.
constexpr Row kConvergedRows[] = {
    {ENGINE_VALIDATION_CNA_COMPONENT_COUNT, Message::IncorrectImageFile},
    {ENGINE_VALIDATION_CNA_COMBINE_COUNT, Message::ModifyFailed},
};

const char* Text(const char* s) { return s != nullptr ? s : ""; }

void Format(Message m, const EngineValidationArgs& a, std::span<char> out) {
    if (out.empty()) return;
    char* buf = out.data();
    const std::size_t n = out.size();
    const unsigned long instance = a.instance;
    const int instanceInt = static_cast<int>(a.instance);
    const char* file = Text(a.fileName);
    const char* model = Text(a.model);
    switch (m) {
        case Message::IncorrectImage:
            std::snprintf(buf, n, "Incorrect flash image for HBA instance %lu (%s)(ssdid=0x%x ssvid=0x%x)!", instance,
                          model, a.ssdid, a.ssvid);
            break;
        case Message::IncorrectImageFile:
            std::snprintf(buf, n, "Incorrect flash image file for HBA instance %lu (%s)(ssdid=0x%x ssvid=0x%x)!",
                          instance, model, a.ssdid, a.ssvid);
            break;
        case Message::InvalidChecksum:
            std::snprintf(buf, n, "Incorrect flash file, invalid checksum!");
            break;
        case Message::NoSignatureHeader:
            std::snprintf(buf, n, "File %s does not have valid signature header!", file);
            break;
        case Message::NoSignatureData:
            std::snprintf(buf, n, "File %s does not have valid signature data!", file);
            break;
        case Message::WrongSizeFirmware:
            std::snprintf(buf, n, "%s is not an acceptable flash FW file for this HBA (Instance %d - %s), wrong size!",
                          file, instanceInt, model);
            break;
        case Message::WrongSizeBootCode:
            std::snprintf(buf, n,
                          "%s is not an acceptable flash boot code file for this HBA (Instance %d - %s), wrong size!",
                          file, instanceInt, model);
            break;
        case Message::WrongSizeData:
            std::snprintf(buf, n,
                          "%s is not an acceptable flash data file for this HBA (Instance %d - %s), wrong size!", file,
                          instanceInt, model);
            break;
        case Message::LayoutMismatch:
            std::snprintf(buf, n,
                          "File signature or layout does not match with current adapter (Instance=%d ssdid=0x%x "
                          "ssvid=0x%x)!",
                          instanceInt, a.ssdid, a.ssvid);
            break;
        case Message::ChipRevision:
            std::snprintf(buf, n,
                          "Incorrect flash image (Adapter chip revision does not match with image chip revision)!");
            break;
        case Message::LayoutTableVersion:
            std::snprintf(buf, n, "Incompatible flash image (Unknown flash layout table version)!");
            break;
        case Message::WrongComponent:
            std::snprintf(buf, n, "Invalid flash image (Wrong flash component)!");
            break;
        case Message::ModifyFailed:
            std::snprintf(buf, n, "Failed to modify multiboot image file '%s'!", file);
            break;
        case Message::RegionSize:
            std::snprintf(buf, n, "Incompatible flash image (Region size mismatched)!");
            break;
    }
}

template <std::size_t N>
const Row* Find(const Row (&rows)[N], SD_INT32 status) {
    for (const Row& r : rows) {
        if (r.status == status) return &r;
    }
    return nullptr;
}

// Status lines go to the XML emitter instead while its flag is set.
void PrintMessage(SD_INT32 status, const char* message) {
    if (bXmlOutPut != 0) {
        XML_EmitStatusMessageNoRebootOption(status, message, 0, 0);
        return;
    }
    scfxPrint("%s", message);
}

void CompleteItem(const char* word) {
    if (bXmlOutPut == 0) scfxPrint("%s", word);
}

}  // namespace

EngineValidationResult EngineValidationStatusLookup(EngineStatusFamily family, SD_INT32 status,
                                                    const EngineValidationArgs& args, std::span<char> message) {
    if (status == ENGINE_VALIDATION_SUCCESS || status == ENGINE_VALIDATION_NOTHING_TO_WRITE) return {true, status};

    const bool multiboot = family == EngineStatusFamily::Multiboot;
    const Row* row = Find(kCommonRows, status);
    if (row == nullptr) row = multiboot ? Find(kMultibootRows, status) : Find(kConvergedRows, status);
    if (row != nullptr) {
        Format(row->message, args, message);
        return {false, status};
    }
    if (multiboot && status == ENGINE_VALIDATION_REGION_TOO_LARGE) {
        Format(Message::RegionSize, args, message);
        return {false, ENGINE_VALIDATION_FAILED};
    }
    // The last row: the adapter's identity. Only the multiboot engines replace the status.
    Format(Message::IncorrectImage, args, message);
    return {false, multiboot ? ENGINE_VALIDATION_FAILED : status};
}

void EngineValidationBegin() {
    if (bXmlOutPut == 0) scfxDiagnosticsPrint("Validating Flash Image File... ");
}

EngineValidationResult EngineValidationFinish(EngineStatusFamily family, SD_INT32 status,
                                              const EngineValidationArgs& args, std::span<char> message) {
    if (status == ENGINE_VALIDATION_SUCCESS) {
        CompleteItem("Success");
    } else if (!(family == EngineStatusFamily::Multiboot && status == ENGINE_VALIDATION_REGION_TOO_LARGE)) {
        CompleteItem("Failed");
    }
    const EngineValidationResult result = EngineValidationStatusLookup(family, status, args, message);
    if (!result.ready) {
        VORNLogMessage(VORN_MSG_DEBUG, "EngineValidationFinish: validation status %d, engine status %d", status,
                       result.status);
        PrintMessage(result.status, message.empty() ? "" : message.data());
    }
    return result;
}
