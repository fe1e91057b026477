// Re-initialisation of the device model.
#include "core/device_reinit.h"

#include "core/core_log.h"
#include "core/device_discovery.h"
#include "core/oss_services.h"
#include "core/polling_loop.h"
#include "core/sdm_device.h"

int CoreReinitializeDevices(int reason) {
    CoreLogMessage(ZV_MSG_DEBUG, "CoreReinitializeDevices: reason %d", reason);
    // Null when the list is empty or the copy cannot be made: nothing to restore then.
    SDMDevice* before = CloneCopySDMDeviceList(GetDeviceList());
    RemoveAllDevicesFromDeviceList();
    CoreInitializeDevices();
    OSSUpdateCoreDevices();
    constexpr SD_INT32 kKept = DEVSTAT_LINK_DOWN | DEVSTAT_LINK_DOWN_NOTIFIED;
    for (const SDMDevice* old = before; old != nullptr; old = old->next) {
        SDMDevice* now = GetDeviceList()->firstDevice;
        while (now != nullptr && now->DeviceNumber != old->DeviceNumber) now = now->next;
        if (now == nullptr) {
            CoreLogMessage(ZV_MSG_DEBUG, "DeviceStatePersist: Cannot find HBA - instance (%d) to maintain",
                           static_cast<int>(old->DeviceNumber));
            continue;
        }
        now->DeviceStatus = (now->DeviceStatus & ~kKept) | (old->DeviceStatus & kKept);
    }
    CloneFreeSDMDeviceList(before);
    SDMDevice* first = GetDeviceList()->firstDevice;
    if (first != nullptr) CoreGenerateHostNotificationAlarm(first, CORE_NOTIFY_DEVICE_STATUS, first->DeviceStatus, nullptr);
    return 0;
}
