// The public interface of the HBA management library: the SD functions.
//
// Every function takes the adapter handle that SDOpenDevice gave (a signed
// integer) and returns a management status (SD_UINT32) unless said otherwise.
// Buffers travel as std::span so that the library never reads or writes past
// what the caller owns; where a record carries its own capacity (layout,
// feature list, secure-port list) the span bounds that capacity as well.
#pragma once

#include <cstddef>
#include <span>

#include "mgmt/sd_types.h"

// ---- Open, close, version ------------------------------------------------------
SD_UINT32 SDOpenDevice(SD_UINT32 Instance, int* pDevice);
SD_UINT32 SDCloseDevice(int Device);
// Writes "v6.04 build77" cut to the buffer (always terminated) and returns the
// version as a number (major << 16 | minor << 8 | build), not a status.
SD_UINT32 SDGetVersion(std::span<char> version);
// Fixed message of a status; "System Error %d." / "Unknown Error %xh." otherwise.
const char* SDGetErrorString(SD_UINT32 ErrorCode);

// ---- Properties ------------------------------------------------------------------
SD_UINT32 SDGetHbaDeviceNodeProperty(int Device, PDEVICENODEPROPERTY pNode);
SD_UINT32 SDGetHbaDevicePortProperty(int Device, SD_UINT32 HbaDevPortNum, PDEVICEPORTPROPERTY pPort);
SD_UINT32 SDGetHbaDeviceChipProperty(int Device, PCHIPPROPERTY pChip);
SD_UINT32 SDGetHbaDeviceDriverProperty(int Device, PDRIVERPROPERTY pDriver);
SD_UINT32 SDGetDiscTargetProperty(int Device, SD_UINT32 HbaDevPortNum, SD_UINT32 TargetIndex,
                                  SD_UINT32 Flags, PDISCTARGETPROPERTY pProperty);
// Buffer holds a DEVICEINFO; 0x20000072 with TotalDevices set when it is too small.
SD_UINT32 SDGetPortDatabase(int Device, SD_UINT32 TypeMode, std::span<SD_UINT8> buffer);
SD_UINT32 SDGetBeaconControl(int Device, SD_UINT32* pFlags);
SD_UINT32 SDGetStatistics(int Device, SD_UINT32 HbaDevPortNum, PSTATISTICS pStatistics);
// Buffer holds a SECUREPORTINFO whose PortCount says how many entries fit.
SD_UINT32 SDGetSecurePortInfo(int Device, std::span<SD_UINT8> buffer);
SD_UINT32 SDGetNVMeHostInfo(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer);
SD_UINT32 SDVportGetinfo(int Device, SD_UINT32 VpId, PVPORT_INFO pInfo);
SD_UINT32 zva_get_os_device_name_by_handle(int Device, SD_UINT32 TargetId, SD_UINT32 LunId,
                                           std::span<char> devname);
SD_UINT32 SDGetAdapterLockdownState(int Device, SD_UINT32 HbaDevPortNum,
                                    PSYSTEM_LOCKDOWN_INFO pSystemLockdownInfo);

// ---- NVRAM ---------------------------------------------------------------------
SD_UINT32 SDGetNVRam(int Device, SD_UINT32 HbaDevPortNum, SD_UINT32 Mode, std::span<SD_UINT8> buffer);
SD_UINT32 SDUpdateNVRam(int Device, SD_UINT16 DisableReset, SD_UINT32 Mode, std::span<const SD_UINT8> buffer);
SD_UINT32 SDReloadNvramAndInitFw(int Device, SD_UINT32 HbaDevPortNum);
// Value of one NVRAM variable read from the caller's image (not a status).
SD_UINT32 SDGetVariableValue(int Device, std::span<const SD_UINT8> nvram, SD_UINT32 ParmNumber);
SD_UINT32 SDSetVariableValue(int Device, std::span<SD_UINT8> nvram, SD_UINT32 ParmNumber, SD_UINT32 Value);

// ---- Flash layout and regions ---------------------------------------------------------
// Buffer holds an SDM_OPT_ROM_LAYOUT whose NoOfRegions says how many entries fit;
// an empty span only refreshes the library's copy of the layout.
SD_UINT32 SDGetOptionRomLayout(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> layout);
// Reads the region from its start. A buffer larger than the region gets the
// region's bytes only: *pRead (when given) gets the count read, 0 on failure.
SD_UINT32 SDGetOptionRomEx(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32 Region,
                           SD_UINT32* pRead = nullptr);
SD_UINT32 SDGetOptionRomOffset(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32 Offset);
SD_UINT32 SDUpdateOptionRomOffset(int Device, SD_UINT32 HbaDevPortNum, std::span<const SD_UINT8> buffer,
                                  SD_UINT32 Offset);
SD_UINT32 SDUpdateOptionRom(int Device, SD_UINT32 HbaDevPortNum, std::span<const SD_UINT8> buffer);
SD_UINT32 SDUpdateOptionRomEx(int Device, SD_UINT16 DisableReset, std::span<const SD_UINT8> buffer, SD_UINT32 Region);
SD_UINT32 SDUpdateOptionRomEx2(int Device, SD_UINT16 DisableReset, std::span<const SD_UINT8> buffer, SD_UINT32 Region);
SD_UINT32 SDGetActiveRegions(int Device, SD_UINT32 HbaDevPortNum, PSD_ACTIVE_REGIONS pRegions);
// Copies at most buffer.size() bytes of the VPD image; *pCopied gets the count.
SD_UINT32 SDGetVpd(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32* pCopied);

// ---- On-line (secured) flash update --------------------------------------------------
SD_UINT32 SDGetFlashUpdateCapabilities(int Device, SD_UINT32 HbaDevPortNum, SD_UINT64* pCapabilities);
SD_UINT32 SDStartFlashUpdate(int Device, SD_UINT32 HbaDevPortNum, SD_INT32* pToken);
SD_UINT32 SDEndFlashUpdate(int Device, SD_UINT32 HbaDevPortNum, SD_INT32 Token);
SD_UINT32 SDSendFlashUpdateFWAttributes(int Device, SD_UINT32 HbaDevPortNum, SD_UINT64 Attributes,
                                        SD_UINT32 OutageDuration);
SD_UINT32 SDOnlineActivateFlashUpdate(int Device, SD_UINT32 HbaDevPortNum);

// ---- Events ----------------------------------------------------------------------
SD_UINT32 SDEnableAen(int Device);
SD_UINT32 SDDisableAen(int Device);
SD_UINT32 SDGetAen(int Device, std::span<ASYNCEVENT> events, SD_UINT32* pEventCount);

// ---- Passthrough and fabric requests ---------------------------------------------------
SD_UINT32 SDSendScsiPassThruFC(int Device, PDESTINATIONADDRESS pDestAddr, std::span<const SD_UINT8> cdb,
                               std::span<const SD_UINT8> request, std::span<SD_UINT8> response,
                               std::span<SD_UINT8> sense);
SD_UINT32 SDSendScsiInquiryCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, std::span<SD_UINT8> response,
                                 std::span<SD_UINT8> sense);
SD_UINT32 SDSendScsiReadCapacityCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, std::span<SD_UINT8> response,
                                      std::span<SD_UINT8> sense);
SD_UINT32 SDSendScsiReportLunsCmdFC(int Device, PDESTINATIONADDRESS pDestAddr, std::span<SD_UINT8> response,
                                    std::span<SD_UINT8> sense);
SD_UINT32 SDSendCTPassThru(int Device, std::span<const SD_UINT8> request, std::span<SD_UINT8> response);
SD_UINT32 SDSendElsPassThru(int Device, SD_UINT32 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                            std::span<const SD_UINT8> request, std::span<SD_UINT8> response,
                            SD_UINT32* pResponseSize, SD_UINT32 Opcode);
SD_UINT32 SDSendElsEcho(int Device, SD_UINT32 HbaDevPortNum, PDESTINATIONADDRESS pTargetAddr,
                        std::span<const SD_UINT8> request, std::span<SD_UINT8> response, SD_UINT32* pResponseSize);
SD_UINT32 SDMailboxPassthru(int Device, SD_UINT32 HbaDevPortNum, std::span<const SD_UINT16> mbxIn,
                            std::span<SD_UINT16> mbxOut);
SD_UINT32 SDSetTargetIDMALinkSpeed(int Device, SD_UINT32 HbaDevPortNum, SD_UINT32 Flags,
                                   PDESTINATIONADDRESS pTargetAddr, SD_UINT32 Speed);
SD_UINT32 SDSwapTargetDevice(int Device, const DEVICEINFOENTRY* pExisting, const DEVICEINFOENTRY* pNew);

// ---- Statistics, dumps, transceiver, quality of service ------------------------------------
SD_UINT32 SDGetPrivStats(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer);
// *pSize: in the caller's wish (bounded by the span), out the dump's size.
SD_UINT32 SDGetFwDump(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32* pSize);
SD_UINT32 SDGetMPIFwDump(int Device, SD_UINT32 HbaDevPortNum, std::span<SD_UINT8> buffer, SD_UINT32* pSize);
SD_UINT32 SDReadSFPData(int Device, SD_UINT32 HbaDevPortNum, SD_UINT16 DevAddr, std::span<SD_UINT8> buffer,
                        SD_UINT16 DataAddr, SD_UINT16 Options, SD_UINT32* pExitParam);
SD_UINT32 SDWriteSFPData(int Device, SD_UINT32 HbaDevPortNum, SD_UINT16 DevAddr, std::span<const SD_UINT8> buffer,
                         SD_UINT16 DataAddr, SD_UINT16 Options, SD_UINT32* pExitParam);
SD_UINT32 SDGetLunQosEnable(int Device, SD_UINT32 HbaDevPortNum, SD_UINT32* pEnable);
SD_UINT32 SDGetLunQos(int Device, SD_UINT32 HbaDevPortNum, PSD_LUN_QOS pLunQos);
SD_UINT32 SDSetLunQos(int Device, SD_UINT32 HbaDevPortNum, const SD_LUN_QOS* pLunQos);

// ---- Process clean-up ----------------------------------------------------------------
// Releases every flash-update session that this process holds (for an interrupt
// handler; it takes no library lock).
void zvapi_release_process_sessions();

// ---- Flash-update sessions ------------------------------------------------------------
// True when SDStartFlashUpdate on this handle would open a session (an on-line
// update adapter's physical FC port) and another live process holds a live
// session token for its adapter. Only the shared database is consulted: no
// session request reaches the driver. A token of this process does not count.
bool zvapi_flash_session_held(int Device);
