// The core layer's quiet mode (1 at start; the preference file may change it).
#pragma once

int CoreGetQuietMode();
int CoreSetQuietMode(int flag);
