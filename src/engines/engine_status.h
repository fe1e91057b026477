// Validation statuses of the multi-region flash engines and their user
// messages. Every engine validates an image in a chain of steps and turns the
// first non-zero status of that chain into exactly one message through this
// table; the engine families differ in a few rows.
#pragma once

#include <cstddef>
#include <span>

#include "mgmt/sd_types.h"

// Size of the engines' message buffer.
constexpr std::size_t ENGINE_MESSAGE_SIZE = 256;

// Statuses the table knows by name.
constexpr SD_INT32 ENGINE_VALIDATION_SUCCESS = 0;
constexpr SD_INT32 ENGINE_VALIDATION_NOTHING_TO_WRITE = 0x1C;   // go on, but write no region
constexpr SD_INT32 ENGINE_VALIDATION_FAILED = 0x22;             // multiboot engines' catch-all
constexpr SD_INT32 ENGINE_VALIDATION_NO_CARD_TYPE = 0x208;      // multiboot engines
constexpr SD_INT32 ENGINE_VALIDATION_COMBINE_COUNT = 0x209;     // multiboot engines
constexpr SD_INT32 ENGINE_VALIDATION_COMPONENT_COUNT = 0x20A;   // multiboot engines
constexpr SD_INT32 ENGINE_VALIDATION_CNA_NO_CARD_TYPE = 0x1C3;  // converged engines
constexpr SD_INT32 ENGINE_VALIDATION_CNA_COMPONENT_COUNT = 0x1C4;
constexpr SD_INT32 ENGINE_VALIDATION_CNA_COMBINE_COUNT = 0x1C5;
constexpr SD_INT32 ENGINE_VALIDATION_REGION_TOO_LARGE = -4;

enum class EngineStatusFamily {
    Multiboot,   // the Dorne (online and offline) and Vrel engines
    Converged,   // the K7R, Torvi and Pemra engines
};

// What the messages are filled with. Null texts print as empty.
struct EngineValidationArgs {
    const char* fileName = nullptr;   // the image file
    SD_UINT32 instance = 0;           // the adapter's instance number
    const char* model = nullptr;      // the model text the engine shows
    SD_UINT32 ssdid = 0;              // subsystem device id the engine validated with
    SD_UINT32 ssvid = 0;              // subsystem vendor id
};

struct EngineValidationResult {
    bool ready = false;     // the update may go on
    SD_INT32 status = 0;    // the status the engine goes on with, or returns
};

// Looks a chain status up. A "go on" row (0, 0x1C) sets `ready` and leaves the
// message buffer untouched; every other row formats its message into `message`
// (cut to fit, always terminated) and gives the status the engine returns:
// the multiboot engines turn -4 and every status without a row of its own into
// 34, the converged engines keep every status as it is.
EngineValidationResult EngineValidationStatusLookup(EngineStatusFamily family, SD_INT32 status,
                                                    const EngineValidationArgs& args, std::span<char> message);

// Writes the progress item "Validating Flash Image File... " before the chain runs.
void EngineValidationBegin();

// Ends the validation after the chain: completes the progress item ("Success"
// for 0, "Failed" for any other status except the multiboot engines' region
// length failure -4, whose message completes the item instead), looks the
// status up and, when the update cannot go on, prints the message.
EngineValidationResult EngineValidationFinish(EngineStatusFamily family, SD_INT32 status,
                                              const EngineValidationArgs& args, std::span<char> message);
