// Process-wide settings of the front end.
#include "frontend/cli_settings.h"

#include <cstring>

int g_CmdOperation = 0;
uint8_t g_AdapterFamilyType = VORN_FAMILY_DEFAULT;
uint8_t g_AdapterInputType = VORN_INPUT_ALL;
uint32_t hbaNumber = 0;
uint8_t hbaWWPN[8] = {};
uint8_t g_ForceUpdate = 0;
uint8_t g_FlashUpdateMode = 0;
uint8_t g_PortUpdateOption = 0;
uint8_t g_UpdateOnlyPrimaryRegion = 0;
int bAllHBA = 1;
int bXmlOutPut = 0;
char FileName[VORN_NAME_SIZE] = {};
char DirectoryName[VORN_NAME_SIZE] = {};

void InitializeParameters() {
    g_CmdOperation = 0;
    g_AdapterFamilyType = VORN_FAMILY_DEFAULT;
    g_AdapterInputType = VORN_INPUT_ALL;
    hbaNumber = 0;
    std::memset(hbaWWPN, 0, sizeof hbaWWPN);
    g_ForceUpdate = 0;
    g_FlashUpdateMode = 0;
    g_PortUpdateOption = 0;
    g_UpdateOnlyPrimaryRegion = 0;
    bAllHBA = 1;
    bXmlOutPut = 0;
    std::memset(FileName, 0, sizeof FileName);
    std::memset(DirectoryName, 0, sizeof DirectoryName);
}

uint8_t GetAdapterFamilyType() { return g_AdapterFamilyType; }
uint8_t SetAdapterFamilyType(uint8_t value) { return g_AdapterFamilyType = value; }
uint8_t GetForceUpdateOption() { return g_ForceUpdate; }
uint8_t SetForceUpdateOption(uint8_t value) { return g_ForceUpdate = value; }
uint8_t GetAdapterPortUpdateOption() { return g_PortUpdateOption; }
uint8_t GetFlashUpdateMode() { return g_FlashUpdateMode; }
uint8_t SetFlashUpdateMode(uint8_t value) { return g_FlashUpdateMode = value; }
