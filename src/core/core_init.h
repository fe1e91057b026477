// The core layer's life cycle around one run of the utility.
#pragma once

// Names the preference file after the configuration directory, loads the
// preferences and empties the core device list; 0.
int CoreInitialize();
// Removes every device (closing every handle); 0.
int CoreUninitialize();
// The preference file's path ("" when the configuration directory is too long).
const char* CoreGetConfigFileName();
