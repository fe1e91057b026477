// The flash version in the transceiver's I2C memory.
#include "core/sfp_version.h"

#include <cstdio>

#include "core/core_log.h"
#include "core/oss_services.h"
#include "mgmt/sdapi.h"

uint32_t CoreUpdateVersionInI2cVpdOverAll(int handle, uint32_t port, const char* flashVersion, const char* date,
                                          uint32_t region) {
    if (region != 0x14 || flashVersion == nullptr || *flashVersion == '\0') return 0;
    SD_UINT8 record[36] = {};
    std::snprintf(reinterpret_cast<char*>(record), 36, "V:%s,D:%s,A:Y,T:M", flashVersion,
                  date != nullptr ? date : "");
    SD_UINT32 exitParam = 0;
    SD_UINT32 st = SDWriteSFPData(handle, port, 0xA0, record, 0x406, 0x1000, &exitParam);
    CoreLogMessage(ZV_MSG_DEBUG, "SDWriteSFPData: update i2c Over ALL flashVersion retStatus = %x\n", st);
    if (st != SDERR_SUCCESS) return st;

    SD_UINT8 status[1] = {0};
    st = SDReadSFPData(handle, port, 0xE0, status, 0, 0x1001, &exitParam);
    CoreLogMessage(ZV_MSG_DEBUG, "SDReadSFPData: Read the status register:  0x%x retStatus = 0x%x\n", status[0], st);
    // A register that could not be read is not written back from a guess.
    if (st != SDERR_SUCCESS) return st;

    status[0] = static_cast<SD_UINT8>(status[0] & ~0x10);
    st = SDWriteSFPData(handle, port, 0xE0, status, 1, 0x1001, &exitParam);
    CoreLogMessage(ZV_MSG_DEBUG, "SDWriteSFPData: Write the status register 0x%x retStatus = 0x%x\n", status[0], st);
    OSSSleep(1);
    status[0] = static_cast<SD_UINT8>(status[0] | 0x10);
    st = SDWriteSFPData(handle, port, 0xE0, status, 1, 0x1001, &exitParam);
    CoreLogMessage(ZV_MSG_DEBUG, "SDWriteSFPData: Write the status register 0x%x Final retStatus = 0x%x\n", status[0],
                   st);
    return st;
}

uint32_t CoreHandleVersionInI2cVpdOverAll(int handle, uint32_t region, const char* flashVersion, const char* date) {
    return CoreUpdateVersionInI2cVpdOverAll(handle, 0, flashVersion, date, region);
}
