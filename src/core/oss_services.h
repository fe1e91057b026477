// Linux operating-system services of the core layer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/sdm_device.h"

// Sleeps whole seconds (through the C library, so tests can make it instant),
// or less, or not at all, once an interrupt is ending the run; 0.
int OSSSleep(unsigned int seconds);
// The core log's sink: silent while the sink's quiet flag is set.
int OSSLogMessage(int level, const char* text);

// Quiet flag of the log sink: copied from the core quiet mode by OSSInitialize.
void OSSSetLogQuiet(int quiet);
int OSSGetLogQuiet();

// Start-up of the layer: host description, root check (ends the process with
// status 1 for another user), the process mutex, the configuration directory.
int OSSInitialize(int argc, char** argv);
// Destroys the mutex and flushes standard output; 0.
int OSSUninitialize();

// Configuration directory, ending in "/".
const char* OSSGetConfigPath();
// Copies at most 255 characters; -1 for null, else 0.
int OSSSetConfigPath(const char* path);

const char* OSSGetHostName();
const char* OSSGetHostSystemType();
const char* OSSGetHostSystemVersion();
const char* OSSGetAgentVersion();
struct _HostInformation;
// Host name, version, type and agent version into the record (each cut to its
// 64-byte field); -1 for null, else 0.
int OSSGetHostInformation(_HostInformation* record);
// Host type from the distribution's release files under root ("" for the real
// root): "Linux - <name>" from the first readable file, else the system name;
// then a blank and the hardware name. At most 127 characters.
std::string OSSBuildHostType(const char* root, const char* sysname, const char* machine);

// The process mutex (error-checking: a second lock by its holder is refused).
int OSSInitCriticalSection();
int OSSDeleteCriticalSection();
int OSSEnterCriticalSection();
int OSSLeaveCriticalSection();

// Notifications end here on this platform.
int OSSGenerateHostNotificationAlarm(SDMDevice* device, int kind, int status, const char* text);
int OSSRebootHost();

// Hooks of the core polling loop.
int OSSContinueCorePollingLoop();
int OSSStopCorePollingLoop();
int OSSPreInitializeDevices();
// Before the first round: lets the loop run; with no device to watch it ends the
// process (SIGTERM to the process that initialised this layer, when one did).
// Either way it wakes whoever waits for the end of initialisation.
int OSSPreCorePollingLoop();
// The main wait condition: a start-up that initialises on another thread waits
// for it. It latches: OSSWaitMainWaitCondition returns once it has been
// broadcast, also when that happened before the wait began. 0, or the
// pthread error.
int OSSBroadcastMainWaitCondition();
int OSSWaitMainWaitCondition();
int OSSPostInitializeDevices();
int OSSPostCorePollingLoop();
int OSSInnerCorePollingLoop();
int OSSOuterCorePollingLoop();
int OSSUpdateCoreDevices();

// "/var/log" cut to size; -1 for null, else 0.
int GetAppDataPath(char* buffer, size_t size);

// Copies one regular file through a small buffer, checking every open, read,
// write and close, into a fresh file (whatever had the destination's name is
// removed first, and no link is followed); 0, or -1 (a destination that was
// started is removed).
int CopyFile(const char* source, const char* destination);
// Copies the regular files of a directory into another (its last name made,
// mode 0755, when missing; a missing name before it is not). The destination
// is opened one name at a time and its files are made inside that very
// directory; a link in its path is followed only when root owns it and only
// root may write the directory it lies in (at most 40, its target walked by
// the same rule). It is refused (the reason in `refusal`, e.g. "it is a
// symbolic link") for any other link or a name that is no directory, or when
// a user other than root owns it or group or others may write it.
// -1 when either is null, the source cannot be opened, the destination cannot be
// made, is refused or is the source itself, or any file failed (its name goes
// to `failed`).
int CopyDirectory(const char* source, const char* destination, std::vector<std::string>* failed = nullptr,
                  std::string* refusal = nullptr);
