// The core layer's polling loop for a resident agent: it rebuilds the device
// model when adapters appear or change, reads asynchronous events, follows
// port state and LUN path changes and reports them as host notifications.
// The utility runs one command and ends, so nothing starts the loop.
#pragma once

#include "core/sdm_device.h"
#include "mgmt/sd_types.h"

// DeviceStatus bits the loop maintains.
constexpr SD_INT32 DEVSTAT_LINK_DOWN = 0x00001;
constexpr SD_INT32 DEVSTAT_LIP = 0x00004;
constexpr SD_INT32 DEVSTAT_LINK_UP = 0x00008;
constexpr SD_INT32 DEVSTAT_DEVICE_UPDATE = 0x00010;   // SCR or device update
constexpr SD_INT32 DEVSTAT_LINK2_1 = 0x00020;         // LinkState2 is 1, 4, 5, 6
constexpr SD_INT32 DEVSTAT_LINK2_4 = 0x00040;
constexpr SD_INT32 DEVSTAT_LINK2_5 = 0x00080;
constexpr SD_INT32 DEVSTAT_LINK2_6 = 0x00100;
constexpr SD_INT32 DEVSTAT_DPORT = 0x00200;           // LinkState1 is 2, or a D-port event
constexpr SD_INT32 DEVSTAT_LINK_DOWN_NOTIFIED = 0x01000;
constexpr SD_INT32 DEVSTAT_CHANGE_PENDING = 0x08000;
constexpr SD_INT32 DEVSTAT_FEC = 0x10000;

// At most this many events are handled per device and poll.
constexpr SD_UINT32 CORE_AEN_MAX_EVENTS = 64;
// A handler's answer asking for a rebuild of the device model.
constexpr int CORE_REBUILD = -2;

// Notification kinds.
constexpr int CORE_NOTIFY_DEVICE_STATUS = 0;
constexpr int CORE_NOTIFY_LUN_PATH = 5;

// "Lip Occurred" ... "FEC Active"; "**Unknown**" for 0 and codes of 10 and more.
const char* CoreGetEventName(SD_UINT32 code);
// The code of the last event handled (0 before any).
SD_UINT32 CoreGetLastEventCode();

// Refresh flags.
int CoreDoSingleRefresh();
int CoreRequiresSingleRefresh();
int CoreClearSingleRefresh();
int CoreForceSingleRefresh();   // -1 when already set

// Single-user mode: while on, a rebuild is remembered instead of done, and
// ending the mode forces one refresh.
int CoreBeginSingleUserMode();
int CoreInSingleUserMode();
int CoreEndSingleUserMode();
int CoreConfigurationChanged();

// Events are not read while the skip flag is set.
void CoreSetSkipAen(int skip);
int CoreGetSkipAen();

int CoreGenerateHostNotificationAlarm(SDMDevice* device, int kind, int status, const char* text);

// The failover statistics parameter of the first adapter: 0, or -1 (no
// failover capability, or the parameters cannot be read or written).
int CoreFOSetParameters(int mode);
int CoreFOStartStatistics();
int CoreFOStopStatistics();

// The loop (until OSSStopCorePollingLoop) and its handlers; a handler gives
// -2 to ask for a rebuild, else 0.
int CorePollingLoop();
int CoreHandleAEN();
int CoreHandlePortStateChange();
int CoreHandleLunPathChange();
