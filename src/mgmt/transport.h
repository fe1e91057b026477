// The one narrow interface between the management library and whatever serves
// adapter requests (a driver on a real host; the simulated platform here; a
// fault-injecting wrapper around either).
//
// A transport knows ports by instance number (0, 1, 2 ...). Every request is an
// operation code with an input and an output byte span, like a driver's extended
// request: the transport validates sizes, never touches bytes outside the spans,
// and answers with a management status (sd_types.h). Fixed records travel as
// their in-memory bytes (see zvapi_request_record below).
#pragma once

#include <cstddef>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "mgmt/sd_types.h"

enum zvapi_op : SD_UINT32 {
    // Opening the port's instance (the driver may refuse: 0x20000071 etc.).
    ZVOP_OPEN = 1,                 // out: zvapi_port_ident
    ZVOP_CLOSE,
    ZVOP_NODE_PROPERTY,            // out: DEVICENODEPROPERTY
    ZVOP_PORT_PROPERTY,            // out: DEVICEPORTPROPERTY
    ZVOP_CHIP_PROPERTY,            // out: CHIPPROPERTY
    ZVOP_DRIVER_PROPERTY,          // out: DRIVERPROPERTY
    ZVOP_DISC_TARGET,              // in: SD_UINT32 index; out: DISCTARGETPROPERTY
    ZVOP_PORT_DATABASE,            // in: SD_UINT32 mode; out: DEVICEINFOENTRY[]; *outLen = bytes of all entries
    ZVOP_STATISTICS,               // out: STATISTICS
    ZVOP_PRIV_STATS,               // out: bytes (512)
    ZVOP_BEACON,                   // out: SD_UINT32
    // Flash. Offsets are absolute byte offsets in the adapter's flash.
    ZVOP_FLASH_LAYOUT,             // out: zvapi_flash_region[]; *outLen = bytes of all entries
    ZVOP_FLASH_READ,               // in: zvapi_flash_io; out: bytes
    ZVOP_FLASH_WRITE,              // in: zvapi_flash_io followed by the bytes
    ZVOP_REGION_ACTIVATE,          // in: SD_UINT32 region code
    ZVOP_ONLINE_ACTIVATE,          // activation of newly written flash
    ZVOP_ACTIVE_REGIONS,           // out: SD_ACTIVE_REGIONS (the running set)
    ZVOP_FW_ATTRIBUTES,            // out: SD_UINT64 running firmware attribute word
    ZVOP_REFRESH_VERSIONS,         // driver re-reads the versions it reports
    ZVOP_NVRAM_READ,               // out: bytes (the port's NVRAM image)
    ZVOP_NVRAM_WRITE,              // in: bytes
    ZVOP_NVRAM_RELOAD,
    ZVOP_VPD_READ,                 // out: bytes (the port's VPD image)
    ZVOP_LOCKDOWN,                 // out: SYSTEM_LOCKDOWN_INFO
    ZVOP_MAILBOX,                  // in: SD_UINT16[]; out: SD_UINT16[]
    // SCSI and fabric passthrough.
    ZVOP_SCSI,                     // in: zvapi_scsi_request + data out; out: zvapi_scsi_reply + data in
    ZVOP_CT,                       // in: request; out: response
    ZVOP_ELS,                      // in: zvapi_els_request + payload; out: response
    ZVOP_LINK_SPEED,               // in: zvapi_link_speed
    ZVOP_SWAP_TARGET,              // in: two DEVICEINFOENTRY
    // Events, virtual ports, security, features, names.
    ZVOP_AEN_ENABLE,               // in: SD_UINT32 (1 on, 0 off)
    ZVOP_AEN_GET,                  // out: ASYNCEVENT[]; *outLen = bytes
    ZVOP_VPORT_INFO,               // in: SD_UINT32 vp id; out: VPORT_INFO
    ZVOP_SECURE_PORTS,             // out: SECUREPORTENTRY[]; *outLen = bytes of all entries
    ZVOP_NVME_HOST_INFO,           // out: bytes (512)
    ZVOP_FEATURES,                 // out: FEATURE_GET_ENTRY[]; *outLen = bytes of all entries
    ZVOP_OS_DEVICE_NAME,           // in: SD_UINT32 target id, SD_UINT32 lun; out: text
    ZVOP_FW_DUMP,                  // out: bytes; *outLen = dump size
    ZVOP_MPI_DUMP,                 // out: bytes; *outLen = dump size
    ZVOP_SFP_READ,                 // in: zvapi_sfp_io; out: bytes
    ZVOP_SFP_WRITE,                // in: zvapi_sfp_io followed by the bytes
    ZVOP_QOS_ENABLE,               // out: SD_UINT32
    ZVOP_QOS_GET,                  // in: SD_UINT8[8] target WWPN; out: SD_LUN_QOS (WWPN 0: no such target)
    ZVOP_QOS_SET,                  // in: SD_LUN_QOS
    // Failover.
    ZVOP_FO_CAPABILITY,            // out: SD_UINT32
    ZVOP_FO_DRIVER_VERSION,        // out: FODRIVERVERSION
    ZVOP_FO_SYS_PARAMS_GET,        // out: FOPARAMS
    ZVOP_FO_SYS_PARAMS_SET,        // in: FOPARAMS
    ZVOP_FO_PATHS,                 // in: FOGETPATHS; out: FOPATHSINFO
    ZVOP_FO_TARGET_DATA_GET,       // in: SD_UINT32 persistent; out: FOPORTSUMMARYLISTBUFFER
    ZVOP_FO_TARGET_DATA_SET,       // in: FOPORTSUMMARYLISTBUFFER
    ZVOP_FO_LUN_DATA_GET,          // in: SD_UINT32 persistent; out: FOLUNDATALIST
    ZVOP_FO_LUN_DATA_SET,          // in: FOLUNDATALIST
    // Secured flash update: the driver takes part in the session and learns
    // the new firmware's attributes before an on-line activation.
    ZVOP_FLASH_UPDATE_START,
    ZVOP_FLASH_UPDATE_END,
    ZVOP_FW_ATTRIBUTES_SEND,       // in: zvapi_fw_attributes
    ZVOP_COUNT_
};

// What ZVOP_OPEN tells about a port: which adapter and PCI function it is.
struct zvapi_port_ident {
    SD_UINT32 AdapterIndex;        // ports of one adapter share it
    SD_UINT32 PciFunction;         // 0..3 for physical ports
    SD_UINT32 IsPhysicalFc;        // 1 for a physical Fibre Channel port
    SD_UINT32 Reserved;
};

// One flash region as the driver describes it.
constexpr SD_UINT32 ZVAPI_REGION_NEEDS_ACTIVATION = 0x1;
struct zvapi_flash_region {
    SD_UINT32 Code;
    SD_UINT32 Offset;
    SD_UINT32 Size;
    SD_UINT32 Flags;
};

struct zvapi_flash_io {
    SD_UINT32 Offset;              // absolute flash offset
    SD_UINT32 Length;
    SD_UINT32 Region;              // region code the caller meant (0 for raw offset I/O)
    SD_UINT32 DisableReset;
};

struct zvapi_fw_attributes {
    SD_UINT64 Attributes;          // attribute word of the firmware just written
    SD_UINT32 OutageDuration;      // seconds the activation may take the port off line
    SD_UINT32 Reserved;
};

struct zvapi_scsi_request {
    DESTINATIONADDRESS Dest;
    SD_UINT8 Cdb[16];
    SD_UINT32 CdbLength;
    SD_UINT32 DataInLength;        // bytes the caller can take back
};

struct zvapi_scsi_reply {
    SD_UINT32 DataLength;          // bytes of data that follow
    SD_UINT32 SenseLength;         // bytes of sense data in Sense
    SD_UINT8 ScsiStatus;
    SD_UINT8 Reserved[3];
    SD_UINT8 Sense[80];
};

struct zvapi_els_request {
    DESTINATIONADDRESS Dest;
    SD_UINT32 Opcode;              // 0 for an ECHO
};

struct zvapi_link_speed {
    DESTINATIONADDRESS Dest;
    SD_UINT32 Flags;
    SD_UINT32 Speed;
};

struct zvapi_sfp_io {
    SD_UINT16 DevAddr;
    SD_UINT16 DataAddr;
    SD_UINT16 Options;
    SD_UINT16 Reserved;
    SD_UINT32 Length;
};

struct zvapi_transport {
    virtual ~zvapi_transport() = default;
    // Number of port instances the platform offers (0 when there is none).
    virtual SD_UINT32 PortCount() = 0;
    // One request for port `instance`. *outLen receives the bytes written to
    // `out` (or, for list answers that do not fit, the bytes needed, with
    // 0x20000072). Never writes outside `out`.
    virtual SD_UINT32 Request(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> in,
                              std::span<SD_UINT8> out, size_t* outLen) = 0;
    // The same request with its input in two parts, a record and the bytes
    // that follow it (a flash write's header and its up to a megabyte of
    // data), so that a platform taking them apart needs no joined copy. By
    // default the parts are joined.
    virtual SD_UINT32 RequestParts(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> head,
                                   std::span<const SD_UINT8> body, std::span<SD_UINT8> out, size_t* outLen);
    // Text of the platform's library and failover versions etc. may be asked
    // through Describe; the key names are the platform's own (see docs).
    virtual std::string Describe(const std::string& key) { (void)key; return {}; }
    // Wall-clock seconds as the platform keeps them; session lifetimes are
    // measured with it.
    virtual SD_INT64 Now() { return static_cast<SD_INT64>(std::time(nullptr)); }
};

// A request's two parts as one input, the record first.
inline std::vector<SD_UINT8> zvapi_joined(std::span<const SD_UINT8> head, std::span<const SD_UINT8> body) {
    std::vector<SD_UINT8> in(head.begin(), head.end());
    in.insert(in.end(), body.begin(), body.end());
    return in;
}

inline SD_UINT32 zvapi_transport::RequestParts(SD_UINT32 instance, zvapi_op op, std::span<const SD_UINT8> head,
                                               std::span<const SD_UINT8> body, std::span<SD_UINT8> out,
                                               size_t* outLen) {
    return Request(instance, op, zvapi_joined(head, body), out, outLen);
}

// Bytes of a trivially copyable record, for requests.
template <class T>
std::span<const SD_UINT8> zvapi_bytes(const T& v) {
    static_assert(std::is_trivially_copyable_v<T>);
    return {reinterpret_cast<const SD_UINT8*>(&v), sizeof v};
}
template <class T>
std::span<SD_UINT8> zvapi_bytes_out(T& v) {
    static_assert(std::is_trivially_copyable_v<T>);
    return {reinterpret_cast<SD_UINT8*>(&v), sizeof v};
}

// Creates the platform's transport: the simulated host named by the
// ZV_SIM_HOST environment variable, wrapped in its fault injector; without it
// a transport that offers no port (as a host without the driver). A host
// description that cannot be read gives an error on standard error and a
// transport without ports.
std::unique_ptr<zvapi_transport> zvapi_create_platform_transport();
