// The core layer's life cycle around one run of the utility.
#pragma once

// Names the preference file after the configuration directory, loads the
// preferences and empties the core device list; 0.
int CoreInitialize();
// The same without its trace and the secured-flash-update setting, then finds
// the link-security configuration directory; 0.
int CorePreInitialize();
// Removes every device (closing every handle); 0.
int CoreUninitialize();
// The preference file's path ("" when the configuration directory is too long).
const char* CoreGetConfigFileName();
