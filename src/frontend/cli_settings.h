// Process-wide settings of the front end: written by the command line only, read
// by the MCTP update and the image subsystems.
#pragma once

#include <cstdint>

// Adapter-family filter values.
constexpr uint8_t VORN_FAMILY_RUNA = 1;
constexpr uint8_t VORN_FAMILY_SIVO = 2;
constexpr uint8_t VORN_FAMILY_TAMO = 3;   // also "wexi"
constexpr uint8_t VORN_FAMILY_DAFE = 4;
constexpr uint8_t VORN_FAMILY_KEFA = 5;
constexpr uint8_t VORN_FAMILY_KAMU = 8;   // "vobi" and "kamu": chip type 25
constexpr uint8_t VORN_FAMILY_ZUKA = 9;   // chip type 27
constexpr uint8_t VORN_FAMILY_DEFAULT = 10;

// Adapter argument kinds.
constexpr uint8_t VORN_INPUT_ALL = 0;
constexpr uint8_t VORN_INPUT_NUMBER = 1;
constexpr uint8_t VORN_INPUT_WWPN = 2;

constexpr int VORN_NAME_SIZE = 260;

extern int g_CmdOperation;
extern uint8_t g_AdapterFamilyType;
extern uint8_t g_AdapterInputType;
extern uint32_t hbaNumber;
extern uint8_t hbaWWPN[8];
extern uint8_t g_ForceUpdate;
extern uint8_t g_FlashUpdateMode;
extern uint8_t g_PortUpdateOption;
extern uint8_t g_UpdateOnlyPrimaryRegion;
extern int bAllHBA;
extern int bXmlOutPut;
extern char FileName[VORN_NAME_SIZE];
extern char DirectoryName[VORN_NAME_SIZE];

// Puts every setting back to its start value.
void InitializeParameters();

uint8_t GetAdapterFamilyType();
uint8_t SetAdapterFamilyType(uint8_t value);
uint8_t GetForceUpdateOption();
uint8_t SetForceUpdateOption(uint8_t value);
uint8_t GetAdapterPortUpdateOption();
uint8_t GetFlashUpdateMode();
uint8_t SetFlashUpdateMode(uint8_t value);
