// The host-wide lock that every command writing adapter flash holds, so
// that two runs never interleave their writes to one adapter.
#pragma once

#include <string>

enum class UpdateLock { Taken, Held, Unusable };

// Takes the lock for the rest of the process (once taken, later calls say
// Taken at once). Held: another run holds it. Unusable: `why` gets the reason.
UpdateLock TakeUpdateLock(std::string& why);

// Takes the lock, or says why not on the console and in the output file,
// each line led by `prefix` ("MCTP config enable: " or ""): "Another update
// is in progress on this host; nothing was written." or "The update lock
// <path> cannot be used: <reason>; nothing was written.". True when taken.
bool TakeUpdateLockOrSay(const char* prefix);
