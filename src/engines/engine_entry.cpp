// Entry points of the update flows. The engines come with later work; until
// then each entry answers ENGINE_NOT_AVAILABLE without touching the adapter.
#include "engines/engine_entry.h"

namespace {

SD_INT32 not_available() { return ENGINE_NOT_AVAILABLE; }

}  // namespace

SD_INT32 DorneOnlineFlashUpdate(SDMDevice*, const char*, SD_UINT16) {
    return not_available();
}

SD_INT32 DorneFlashUpdate(SDMDevice*, const char*, SD_UINT16) { return not_available(); }

SD_INT32 VrelOnlineFlashUpdate(SDMDevice*, const char*, SD_UINT16, SD_UINT32) {
    return not_available();
}

SD_INT32 CNAOptionROMRegionUpdate(SDMDevice*, const char*, SD_UINT16) {
    return not_available();
}

SD_INT32 CNAK7ORevA0ptionROMRegionUpdate(SDMDevice*, const char*, SD_UINT16) {
    return not_available();
}

SD_INT32 CNATorviOptionROMRegionUpdate(SDMDevice*, const char*, SD_UINT16) {
    return not_available();
}

SD_INT32 OptionROMRegionUpdate(SDMDevice*, const char*) { return not_available(); }

SD_INT32 DoStdBiosUpdate(SDMDevice*, const char*) { return not_available(); }
