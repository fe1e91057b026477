// The core layer's preference file (agent.properties): a generic key=value
// reader and writer and the settings kept from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr const char* PREF_FILE_NAME = "agent.properties";
inline constexpr const char* PREF_KEY_POLLING_INTERVAL = "node.agent.polling.interval";
inline constexpr const char* PREF_KEY_FABRIC_SCANNING = "node.agent.fabric.scanning.enable";
inline constexpr const char* PREF_KEY_QUIET_MODE = "node.agent.quiet.mode.enable";
inline constexpr const char* PREF_KEY_SECURED_FLASH = "node.agent.secured.flash.update.zvremote.enable";
inline constexpr const char* PREF_KEY_PASSWORD = "node.agent.security.password";
inline constexpr const char* PREF_KEY_EDIF_CONFIG_PATH = "node.agent.edif.config.path";
inline constexpr const char* PREF_KEY_EDIF_SOURCE_PATH = "node.agent.edif.source.path";

// Generic file access.
FILE* PrefOpenPreferenceFile(const char* path);            // "r+"; null on failure
FILE* PrefOpenPreferenceFileWriteMode(const char* path);   // "w+"; null on failure
int PrefClosePreferenceFile(FILE* file);
// The value of the key, or null. The text lives in a process-wide buffer valid
// until the next call. A null file reads "agent.properties" of the current directory.
const char* PrefGetProperty(FILE* file, const char* key);
// Rewrites every line whose key (the text before its first "=") is the key, or
// appends "key=value"; the file then holds exactly the new content. 0 or -1.
int PrefSetProperty(FILE* file, const char* key, const char* value);

// Settings, loaded from the configuration file by CoreInitialize.
int CoreLoadPollingInterval();
int CoreLoadFabricScanning();
int CoreLoadQuietMode();
int CoreGetFlashUpdateConfig();
int CoreGetPollingInterval();
int CoreGetFabricScanning();
int CoreGetSecuredFlashUpdate();
int CoreSetPollingInterval(int seconds);
// Puts every setting back to its start value (a new run inside one process).
void CoreResetPreferences();

int CoreValidateConfigurationPassword(const char* text);
int CoreUpdateConfigurationPassword(const char* text);

// Per-target beacon and per-remote-port link speed keys.
int CoreBuildTargetBeaconKey(char* buffer, size_t size, int instance, const uint8_t* wwn);
int CoreSetTargetBeaconState(const char* key, int state);
int CoreGetTargetBeaconState(const char* key, int* state);
int CoreBuildiiDMAKey(char* buffer, size_t size, const uint8_t* portWwn, const uint8_t* remoteWwn);
int CoreSetiiDMAValue(const char* key, int value);
int CoreGetiiDMAValue(const char* key, int* value);

// Value of the first line whose text before its first "=" is the key, into out
// (size bytes); 0 whether or not found, -1 when the file is missing.
int CoreGetStringValueFromPropertiesFile(const char* key, char* out, size_t size);
