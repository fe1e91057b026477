// Header, trailer and signature-block checks of single image components.
#include "image/image_validation_headers.h"

#include <cstring>

#include "frontend/checksum.h"
#include "frontend/output.h"
#include "image/word_helpers.h"

namespace {

SD_UINT32 BE32At(ComponentBytes b, std::size_t at) {
    return SD_UINT32{b[at]} << 24 | SD_UINT32{b[at + 1]} << 16 | SD_UINT32{b[at + 2]} << 8 | SD_UINT32{b[at + 3]};
}
SD_UINT16 BE16At(ComponentBytes b, std::size_t at) { return static_cast<SD_UINT16>(b[at] << 8 | b[at + 1]); }
SD_UINT32 LE32At(ComponentBytes b, std::size_t at) {
    return SD_UINT32{b[at]} | SD_UINT32{b[at + 1]} << 8 | SD_UINT32{b[at + 2]} << 16 | SD_UINT32{b[at + 3]} << 24;
}

// The EDC and MPI headers share their layout.
template <typename H>
bool DecodeNineWordHeader(ComponentBytes b, H* h) {
    if (h == nullptr || b.size() < EDC_HEADER_SIZE) return false;
    H d{};
    SD_UINT32 w[9];
    for (std::size_t i = 0; i < 9; ++i) w[i] = BE32At(b, 4 * i);
    d.checksum = w[1];
    d.start = w[2];
    d.length = w[3];
    d.revision = w[4];
    d.reserved[0] = w[5];
    d.reserved[1] = w[6];
    d.attribute = w[7];
    d.supported = w[8];
    if constexpr (requires { d.cookie; }) d.cookie = w[0];
    else d.preamble = w[0];
    *h = d;
    return true;
}

// Bytes 1, 2, 3 of a stored big-endian revision word.
void RevisionBytes(SD_UINT32 revision, SD_UINT8& major, SD_UINT8& minor, SD_UINT8& sub) {
    major = HLPR_GetByte2(revision);
    minor = HLPR_GetByte1(revision);
    sub = HLPR_GetByte0(revision);
}

bool RevisionIsEntryVersion(SD_UINT32 revision, const ILT_Region_t& region) {
    return HLPR_GetByte2(revision) == region.regionVerMajor && HLPR_GetByte1(revision) == region.regionVerMinor &&
           HLPR_GetByte0(revision) == region.regionVerUpdate;
}

bool DecodeTrailer(ComponentBytes b, Cna_Trailer_t* t) {
    if (b.size() < CNA_TRAILER_SIZE) return false;
    t->signature = LE32At(b, 0);
    std::memcpy(t->version, b.data() + 4, 4);
    t->attributes = LE32At(b, 8);
    t->length = LE32At(b, 12);
    for (std::size_t i = 0; i < 3; ++i) t->reserved[i] = LE32At(b, 16 + 4 * i);
    t->checksum = LE32At(b, 28);
    return true;
}

bool TrailerFits(const Cna_Trailer_t& t, SD_UINT32 signature, ComponentBytes summed, SD_UINT8 version[3]) {
    if (t.signature != signature) {
        VORNLogMessage(VORN_MSG_DEBUG, "Trailer signature 0x%08x, expected 0x%08x", t.signature, signature);
        return false;
    }
    // The word sum of the component is not enforced (see word_helpers.h).
    if (HLPR_Sum32(summed, static_cast<SD_UINT32>(summed.size() / 4)) != 0) return false;
    for (int i = 0; i < 3; ++i) version[i] = t.version[i];
    return true;
}

}  // namespace

int ValidateFirmwareGeneric(ComponentBytes component, const ILT_Region_t& region, SD_UINT32 supported,
                            Fw_Header_t* header) {
    Fw_Header_t h;
    if (!DecodeFwHeader(component, &h)) {
        VORNLogMessage(VORN_MSG_DEBUG, "ValidateFirmwareGeneric: region 0x%x holds no firmware header",
                       region.regionType);
        return 0;
    }
    if (header != nullptr) *header = h;
    const bool versionFits = h.revision[0] == region.regionVerMajor && h.revision[1] == region.regionVerMinor &&
                             h.revision[2] == region.regionVerUpdate;
    VORNLogMessage(VORN_MSG_DEBUG, "ValidateFirmwareGeneric: revision %u.%u.%u supported 0x%x (want 0x%x)",
                   h.revision[0], h.revision[1], h.revision[2], h.supported, supported);
    return versionFits && h.supported == supported ? 1 : 0;
}

int ValidateFirmware(ComponentBytes component, const ILT_Region_t& region, Fw_Header_t* header) {
    return ValidateFirmwareGeneric(component, region, 8, header);
}

int ValidateRiscFirmwareGeneric(ComponentBytes firmware, MultibootVersions* pVersions, SD_UINT32 supported) {
    Fw_Header_t h;
    if (!DecodeFwHeader(firmware, &h)) return IMGVAL_RISC_INVALID;
    if (pVersions != nullptr) {
        pVersions->NewRiscFwVersionMajor = HLPR_GetByte0(h.revision[0]);
        pVersions->NewRiscFwVersionMinor = HLPR_GetByte0(h.revision[1]);
        pVersions->NewRiscFwVersionSubMinor = HLPR_GetByte0(h.revision[2]);
    }
    const bool named = std::memcmp(h.name + 8, "Firmware", 8) == 0;
    return h.supported == supported && named ? IMGVAL_RISC_VALID : IMGVAL_RISC_INVALID;
}

int GetEDCHeader(ComponentBytes component, EDC_Header_t* header) {
    return DecodeNineWordHeader(component, header) ? 1 : 0;
}

int GetMpiHeader(ComponentBytes component, Mpi_Header_t* header) {
    return DecodeNineWordHeader(component, header) ? 1 : 0;
}

int GetMpiCfgHeader(ComponentBytes component, MpiCfg_Header_t* header) {
    if (header == nullptr || component.size() < MPICFG_HEADER_SIZE) return 0;
    MpiCfg_Header_t h{};
    h.cookie = BE32At(component, 0);
    h.checksum = BE32At(component, 4);
    h.start = BE32At(component, 8);
    h.length = BE32At(component, 12);
    h.port0_offset = BE32At(component, 16);
    h.port1_offset = BE32At(component, 20);
    h.vendor_id = BE16At(component, 24);
    h.device_id = BE16At(component, 26);
    h.revision = BE32At(component, 28);
    *header = h;
    return 1;
}

void PrintEDCHeader(const EDC_Header_t* h) {
    if (h == nullptr) return;
    VORNLogMessage(VORN_MSG_DEBUG, "EDC cookie=0x%08x checksum=0x%08x start=0x%08x length=0x%08x", h->cookie,
                   h->checksum, h->start, h->length);
    VORNLogMessage(VORN_MSG_DEBUG, "EDC revision=0x%08x attribute=0x%08x supported=0x%08x", h->revision,
                   h->attribute, h->supported);
}

void PrintMpiHeader(const Mpi_Header_t* h) {
    if (h == nullptr) return;
    VORNLogMessage(VORN_MSG_DEBUG, "MPI preamble=0x%08x checksum=0x%08x start=0x%08x length=0x%08x", h->preamble,
                   h->checksum, h->start, h->length);
    VORNLogMessage(VORN_MSG_DEBUG, "MPI revision=0x%08x attribute=0x%08x supported=0x%08x", h->revision,
                   h->attribute, h->supported);
}

void PrintMpiCfgHeader(const MpiCfg_Header_t* h) {
    if (h == nullptr) return;
    VORNLogMessage(VORN_MSG_DEBUG, "MPI cfg cookie=0x%08x checksum=0x%08x start=0x%08x length=0x%08x", h->cookie,
                   h->checksum, h->start, h->length);
    VORNLogMessage(VORN_MSG_DEBUG, "MPI cfg port0=0x%08x port1=0x%08x vendor=0x%04x device=0x%04x revision=0x%08x",
                   h->port0_offset, h->port1_offset, h->vendor_id, h->device_id, h->revision);
}

int GetEDCVersion(ComponentBytes component, MultibootVersions* v) {
    EDC_Header_t h;
    if (v == nullptr || !GetEDCHeader(component, &h)) return 0;
    PrintEDCHeader(&h);
    RevisionBytes(h.revision, v->NewEdcFwVersionMajor, v->NewEdcFwVersionMinor, v->NewEdcFwVersionSubMinor);
    return 1;
}

int GetMpiVersion(ComponentBytes component, MultibootVersions* v) {
    Mpi_Header_t h;
    if (v == nullptr || !GetMpiHeader(component, &h)) return 0;
    PrintMpiHeader(&h);
    RevisionBytes(h.revision, v->NewMpiFwVersionMajor, v->NewMpiFwVersionMinor, v->NewMpiFwVersionSubMinor);
    return 1;
}

int GetMpiCfgVersion(ComponentBytes component, MultibootVersions* v) {
    MpiCfg_Header_t h;
    if (v == nullptr || !GetMpiCfgHeader(component, &h)) return 0;
    PrintMpiCfgHeader(&h);
    RevisionBytes(h.revision, v->NewMpiCfgVersionMajor, v->NewMpiCfgVersionMinor, v->NewMpiCfgVersionSubMinor);
    return 1;
}

int ValidateEDCFirmware(ComponentBytes component, const ILT_Region_t& region, MultibootVersions* v) {
    EDC_Header_t h;
    if (!GetEDCHeader(component, &h)) return 0;
    PrintEDCHeader(&h);
    if (h.cookie != EDC_COOKIE || h.supported != EDC_SUPPORTED || !RevisionIsEntryVersion(h.revision, region))
        return 0;
    return v == nullptr || GetEDCVersion(component, v) ? 1 : 0;
}

int ValidateMpiFirmware(ComponentBytes component, const ILT_Region_t& region, MultibootVersions* v) {
    Mpi_Header_t h;
    if (!GetMpiHeader(component, &h)) return 0;
    PrintMpiHeader(&h);
    if (h.supported != MPI_SUPPORTED || !RevisionIsEntryVersion(h.revision, region)) return 0;
    return v == nullptr || GetMpiVersion(component, v) ? 1 : 0;
}

int ValidateMpiConfig(ComponentBytes component, MultibootVersions* v) {
    MpiCfg_Header_t h;
    if (component.size() != MPICFG_COMPONENT_SIZE || !GetMpiCfgHeader(component, &h)) return 0;
    if (h.cookie != MPICFG_COOKIE) return 0;
    SD_UINT32 sum = 0;
    for (std::size_t at = 0; at < component.size(); at += 4) sum += BE32At(component, at);
    if (sum != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "ValidateMpiConfig: checksum does not hold (sum 0x%08x)", sum);
        return 0;
    }
    return v == nullptr || GetMpiCfgVersion(component, v) ? 1 : 0;
}

int ValidateCnaTrailerAtEnd(ComponentBytes component, std::size_t size, SD_UINT32 signature, SD_UINT8 version[3]) {
    if (size == 0) size = component.size();
    if (size < CNA_TRAILER_SIZE || size > component.size()) return 0;
    Cna_Trailer_t t;
    DecodeTrailer(component.subspan(size - CNA_TRAILER_SIZE, CNA_TRAILER_SIZE), &t);
    return TrailerFits(t, signature, component.first(size), version) ? 1 : 0;
}

int ValidateCnaTrailerAtStart(ComponentBytes component, SD_UINT32 signature, SD_UINT8 version[3]) {
    Cna_Trailer_t t;
    if (!DecodeTrailer(component, &t)) return 0;
    if (t.length < CNA_TRAILER_SIZE || t.length > component.size()) {
        VORNLogMessage(VORN_MSG_DEBUG, "Firmware trailer length 0x%x does not fit the 0x%zx-byte component", t.length,
                       component.size());
        return 0;
    }
    return TrailerFits(t, signature, component.first(t.length), version) ? 1 : 0;
}

int ValidateVrelSignatureRegion(ComponentBytes component, FlashComponentVersion* pVersions) {
    // Too short to carry both signatures: no signature block, accepted
    // without a version (nothing past the component is read).
    if (component.size() < SKT_LAYOUT_SIZE) {
        VORNLogMessage(VORN_MSG_DEBUG, "ValidateVrelSignatureRegion: No signature block");
        return 0;
    }
    SKTLayout skt;
    std::memcpy(&skt, component.data(), sizeof skt);
    if (LE32At(component, 0) != SKT_SIGNATURE || LE32At(component, SKT_SIGNATURE2_OFFSET) != SKT_SIGNATURE) {
        VORNLogMessage(VORN_MSG_DEBUG, "ValidateVrelSignatureRegion: No signature block");
        return 0;
    }
    const SD_UINT32 length = LE32At(component, offsetof(SKTLayout, Length));
    // A Length short of the checksum word would vouch for nothing.
    constexpr std::size_t kCovered = offsetof(SKTLayout, CheckSum) + 4;
    if (length < kCovered || length > component.size() || VerifyChecksum32(component.first(length), 0) != 0) {
        VORNLogMessage(VORN_MSG_DEBUG, "ValidateVrelSignatureRegion: Invalid data!");
        return IMGVAL_SKT;
    }
    if (pVersions != nullptr) {
        pVersions->SktMajorVersion = skt.MajorVer;
        pVersions->SktMinorVersion = skt.MinorVer;
        pVersions->SktSubminorVersion = skt.SubMinorVer;
    }
    return 0;
}
