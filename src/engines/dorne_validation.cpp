// Validation chain of the Dorne engines.
#include "engines/dorne_validation.h"

#include <array>
#include <new>

#include "frontend/output.h"
#include "image/image_combination.h"
#include "image/image_combination_shared.h"
#include "image/image_layout_table.h"
#include "image/image_validation_multiboot.h"
#include "image/image_validation_region_fit.h"
#include "image/image_validation_whole.h"
#include "image/region_sequences.h"

namespace {

// The region-presence check looks at the first 13 codes of the sequence.
constexpr SD_UINT16 kSequenceChecked = 13;

SD_INT32 Chain(const DorneValidationInput& in, DorneValidated* out) {
    const SD_UINT16 chipRev = in.ids->chipRev;
    std::array<SD_UINT32, DORNE_SEQUENCE_SLOTS> sequence{};
    DorneSequence(sequence, chipRev);

    if (const int st = ValidateDorneILTImageRegionsToUpdate(in.image, sequence, kSequenceChecked, chipRev); st != 0)
        return st;
    if (const int st = ValidateDorneILTImageHeader(in.ssdid, in.ssvid, in.image, chipRev); st != 0) return st;
    out->cardType = ILT_TorviCardTypeList_GetMyCardTypeFromCardList(in.image, in.ssdid, in.ssvid);
    if (out->cardType == CARD_TYPE_NONE) return ENGINE_VALIDATION_NO_CARD_TYPE;
    // The image as one set for this adapter, before any component is read or combined.
    const std::span<const SD_UINT32> needs =
        in.inPlace ? std::span<const SD_UINT32>() : std::span<const SD_UINT32>(IMAGE_SET_NEEDS_DORNE);
    if (const int st = ValidateImageSetAsWhole(in.image, out->cardType, chipRev, in.layout->Regions,
                                               {needs, DorneWritesType});
        st != 0)
        return st;

    const SD_INT8 expected = HowManyImagesForCardTypeGeneric(in.image, out->cardType, chipRev);
    const SD_INT8 verified = ValidateDorneImageComponents(in.image, static_cast<SD_UINT16>(expected < 0 ? 0 : expected),
                                                          out->cardType, &out->versions, *in.ids);
    VORNLogMessage(VORN_MSG_DEBUG, "DorneValidateImage: card type %d, %d components, %d verified", out->cardType,
                   expected, verified);
    if (expected < 0 || verified != expected) return ENGINE_VALIDATION_COMPONENT_COUNT;

    try {
        out->combined.assign(in.image.size(), 0);
    } catch (const std::bad_alloc&) {
        return DORNE_NO_MEMORY;
    }
    const SD_INT16 combined = CombineDorneImageComponentsInBuffer(out->combined, in.image, static_cast<SD_UINT16>(expected),
                                                                  out->cardType, *in.ids, chipRev);
    VORNLogMessage(VORN_MSG_DEBUG, "DorneValidateImage: %d components combined", combined);
    if (combined != expected) return ENGINE_VALIDATION_COMBINE_COUNT;
    if (CombineSharedEntries(in.image, out->combined, out->cardType, chipRev, *in.ids, CombineDorneImage,
                             DorneWritesType, &out->kept) != 0)
        return ENGINE_VALIDATION_COMBINE_COUNT;

    for (const SD_UINT32 code : sequence) {
        if (code == 0 || !DorneHasRegion(*in.layout, code)) continue;
        if (const int st = ValidateILTRegionLen(out->combined, code, DorneRegionSize(*in.layout, code)); st != 0)
            return st;
    }
    // Every entry that will be written, the boot code with the table after it,
    // must fit its flash region before a session is opened.
    if (const int st = ValidateImageRegionsFitLayout(out->combined, sequence, in.layout->Regions, out->cardType,
                                                     chipRev);
        st != 0)
        return ILT_REGION_TOO_LARGE;
    DornePlanInput plan;
    plan.combined = out->combined;
    plan.sequence = sequence;
    plan.layout = in.layout;
    plan.cardType = out->cardType;
    plan.chipRev = chipRev;
    plan.imageSet = in.imageSet;
    plan.allRegions = in.allRegions;
    if (const int st = DorneBuildWritePlan(plan, &out->plan); st != 0)
        return st == ILT_REGION_TOO_LARGE ? st : DORNE_NO_MEMORY;
    if (out->plan.toWrite == 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "DorneValidateImage: no region of the image is written to this adapter");
        return ENGINE_VALIDATION_FAILED;
    }
    return ENGINE_VALIDATION_SUCCESS;
}

}  // namespace

void DorneSequence(std::span<SD_UINT32, DORNE_SEQUENCE_SLOTS> sequence, SD_UINT16 chipRev) {
    InitDorneFlashUpdateSequence(sequence, chipRev);
}

EngineValidationResult DorneValidateImage(const DorneValidationInput& in, DorneValidated* out, DorneMessage& message) {
    EngineValidationBegin();
    const SD_INT32 status = Chain(in, out);
    const DorneModel model(in.device);
    EngineValidationArgs args;
    args.fileName = in.fileName;
    args.instance = in.device->DeviceNumber;
    args.model = model.text;
    args.ssdid = in.ssdid;
    args.ssvid = in.ssvid;
    return EngineValidationFinish(EngineStatusFamily::Multiboot, status, args, message.text);
}
