#include "VideoContainerAnalysers.h"

#include <algorithm>
#include <cstring>

#include "AvByteReader.h"
#include "RawRecordAccess.h"

// Probes read a sector of at least 512 bytes; the offsets they read lie in
// its first 512.

IRawFileAnalyser* CreateMKVAnalyser(unsigned int) { return new FileMKVAnalyser; }
IRawFileAnalyser* CreateFLVAnalyser(unsigned int) { return new FileFLVAnalyser; }
IRawFileAnalyser* CreateMPGAnalyser(unsigned int) { return new FileMPGAnalyser; }
IRawFileAnalyser* CreateM2TSAnalyser(unsigned int) { return new CM2TSAnalyser; }
IRawFileAnalyser* CreateMxfAnalyser(unsigned int) { return new MxfAnalyser; }
IRawFileAnalyser* CreateAsfAnalyser(unsigned int) { return new CAsfAnalyser; }
IRawFileAnalyser* CreateRMAnalyser(unsigned int) { return new RM_RMVBAnalyser; }
IRawFileAnalyser* CreateMLvAnalyser(unsigned int) { return new MLvAnalyser; }

// ---- Matroska ----

unsigned int DecodeEbmlSize(const unsigned char* p, unsigned int available, unsigned long long& value)
{
    value = 0;
    if (!p || available == 0 || p[0] == 0)
        return 0;
    unsigned int length = 1;
    while (!(p[0] & (0x80 >> (length - 1))))
        ++length;
    if (length > available)
        return 0;
    value = p[0] & (0xFF >> length);
    for (unsigned int i = 1; i < length; ++i)
        value = (value << 8) | p[i];
    return length;
}

int FileMKVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    unsigned long long headerLength = 0;
    const unsigned int n = DecodeEbmlSize(sector + 4, 8, headerLength);
    if (n == 0 || headerLength > kMaxSegmentOffset)
        return 0;
    const unsigned int segment = 4 + n + static_cast<unsigned int>(headerLength);
    // The Segment's identifier and its size field must lie in the sector's
    // first 512 bytes, all that every sector holds.
    if (segment + 5 > kMaxSegmentOffset || RawReadBE32(sector + segment) != 0x18538067u)
        return 0;
    unsigned long long segmentSize = 0;
    const unsigned int m = DecodeEbmlSize(sector + segment + 4, kMaxSegmentOffset - segment - 4, segmentSize);
    // All ones marks a size the writer never filled in: no end is known.
    if (m == 0 || segmentSize == (1ULL << (7 * m)) - 1 || segmentSize > (1ULL << 40))
        return 0;
    info.m_dwType = kType;
    info.m_llSize = static_cast<long long>(segment + 4 + m + segmentSize);
    return 1;
}

// ---- Flash video ----

int FileFLVAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, "FLV", 3) != 0 || sector[3] != 1 || sector[9] != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileFLVAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    AvByteReader reader(device, info.m_llStartSector);
    unsigned long long pos = 9;
    unsigned long long lastPos = 0;
    uint32_t expected = 0;
    unsigned long long end = 0;
    while (pos < kMaxSize) {
        unsigned char tag[15];
        if (!reader.Read(pos, tag, 4) || RawReadBE32(tag) != expected) {
            // The tag before this size field (or past the device's end) was
            // not a tag after all.
            end = lastPos ? lastPos + 4 : pos;
            break;
        }
        const unsigned int type = reader.Read(pos + 4, tag + 4, 11) ? tag[4] : 0;
        if ((type != 8 && type != 9 && type != 18) || AvReadBE24(tag + 12) != 0) {
            end = pos + 4;
            break;
        }
        const uint32_t dataSize = AvReadBE24(tag + 5);
        lastPos = pos;
        expected = dataSize + 11;
        pos += 15ULL + dataSize;
        end = pos;
    }
    info.m_llSize = static_cast<long long>(std::min(end, kMaxSize));
    return 1;
}

// ---- MPEG program streams ----

namespace {

bool IsMpgPackStart(const unsigned char* p)
{
    static const unsigned char kStarts[][4] = {
        {0x21, 0x00, 0x01, 0x00}, {0x21, 0x00, 0x71, 0x6F}, {0x21, 0x00, 0x01, 0x09}, {0x44, 0x00, 0x2C, 0x48},
        {0x44, 0x00, 0x04, 0x00}, {0x44, 0x00, 0x04, 0x04}, {0x2F, 0xFF, 0xFF, 0x13},
    };
    for (const auto& start : kStarts)
        if (std::memcmp(p + 4, start, 4) == 0)
            return true;
    return false;
}

}  // namespace

int FileMPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !IsMpgPackStart(sector))
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileMPGAnalyser::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long, long long sectorNumber,
                                     long long, long long)
{
    if (!sector || !IsMpgPackStart(sector))
        return 0;
    const long long last = m_llLastPackSector;
    m_llLastPackSector = sectorNumber;
    // A later search starts over at lower sector numbers.
    if (last >= 0 && sectorNumber > last && sectorNumber - last < kMinStartGap)
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileMPGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    AvByteReader reader(device, info.m_llStartSector);
    unsigned long long pos = 0;
    unsigned long long end = 0;
    unsigned int zeroRun = 0;
    while (pos < kMaxSize) {
        unsigned char h[14];
        if (!reader.Read(pos, h, sizeof(h)))
            break;
        if (h[0] == 0 && h[1] == 0 && h[2] == 1) {
            zeroRun = 0;
            const unsigned int code = h[3];
            unsigned long long length;
            if (code == 0xBA) {
                // MPEG-2 packs carry stuffing bytes; MPEG-1 packs are 12.
                length = (h[4] & 0xC0) == 0x40 ? 14 + (h[13] & 7) : 12;
            } else if (code == 0xB9) {
                end = pos + 4;
                break;
            } else if (code >= 0xBB) {
                length = 6 + ((static_cast<unsigned int>(h[4]) << 8) | h[5]);
            } else {
                // Not a system-layer packet: the stream ends before it.
                break;
            }
            pos += length;
            end = pos;
            continue;
        }
        // Padding between packs: zeros, one byte at a time, for a while.
        if (h[0] != 0 || ++zeroRun > kMaxZeroRun)
            break;
        ++pos;
    }
    if (end == 0)
        return 0;
    info.m_llSize = static_cast<long long>(std::min(end, kMaxSize));
    return 1;
}

// ---- MPEG transport streams ----

bool CM2TSAnalyser::s_bNewFile = false;
unsigned int CM2TSAnalyser::s_dwPacketSize = 188;

namespace {

bool IsTsPacketStart(const unsigned char* p)
{
    return p[0] == 0x47 && (p[1] == 0x40 || p[1] == 0x41 || p[1] == 0x10 || p[1] == 0x50);
}

bool AllFF(const unsigned char* p)
{
    static const unsigned char kFF[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return std::memcmp(p, kFF, 8) == 0;
}

}  // namespace

int CM2TSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    // Asked about every sector: the flag first, then single bytes.
    if (!sector || s_bNewFile || AllFF(sector + 8))
        return 0;
    unsigned int packet = 0;
    if (sector[4] == 0x47 && IsTsPacketStart(sector + 4) && sector[196] == 0x47 && !AllFF(sector + 200))
        packet = 192;
    else if (IsTsPacketStart(sector) && sector[188] == 0x47 && !AllFF(sector + 196))
        packet = 188;
    if (!packet)
        return 0;
    s_dwPacketSize = packet;
    s_bNewFile = true;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* CM2TSAnalyser::CreateRawFileInfo()
{
    auto* info = new CM2TSFileInfo;
    info->m_dwPacketSize = s_dwPacketSize;
    return info;
}

CM2TSFileInfo::~CM2TSFileInfo()
{
    if (!m_bFinished)
        CM2TSAnalyser::s_bNewFile = false;
}

void CM2TSFileInfo::Finish(bool keepSize)
{
    if (!m_bFinished)
        CM2TSAnalyser::s_bNewFile = false;
    m_bFinished = true;
    const long long size = m_llPackets * m_dwPacketSize;
    m_llSize = keepSize && size >= CM2TSAnalyser::kMinSize ? std::min(size, CM2TSAnalyser::kMaxSize) : 0;
}

int CM2TSFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long, SearchContext&)
{
    if (m_bFinished || !sector || sectorSize <= 0 || !m_dwPacketSize) {
        Finish(!m_bFinished);
        return 1;
    }
    const int sync = m_dwPacketSize == 192 ? 4 : 0;
    while (m_iPositionInSector + sync < sectorSize) {
        if (sector[m_iPositionInSector + sync] != 0x47) {
            Finish(true);
            return 1;
        }
        ++m_llPackets;
        m_iPositionInSector += static_cast<int>(m_dwPacketSize);
        if (m_llPackets * m_dwPacketSize >= CM2TSAnalyser::kMaxSize) {
            Finish(true);
            return 1;
        }
    }
    m_iPositionInSector -= sectorSize;
    return 2;
}

void CM2TSFileInfo::WillBeRemove(unsigned char*, long long)
{
    // Dropped while open (the search ended or too many were open): what was
    // counted so far is the file.
    Finish(true);
}

// ---- MXF ----

int MxfAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || RawReadBE32(sector) != 0x060E2B34u || sector[4] != 0x02 || sector[5] != 0x05 ||
        sector[6] != 0x01 || sector[20] != 0x00 || sector[21] != 0x01)
        return 0;
    // Only the header partition, the one at the file's first byte, opens a
    // file: body partitions also begin sectors inside it.
    if (RawReadBE32(sector + 28) != 0 || RawReadBE32(sector + 32) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

int MxfAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    AvByteReader reader(device, info.m_llStartSector);
    unsigned long long pos = 0;
    while (pos <= kMaxSize) {
        unsigned char klv[25];
        if (!reader.Read(pos, klv, sizeof(klv)) || RawReadBE32(klv) != 0x060E2B34u)
            break;
        // The length is BER-coded: short form below 0x80, else the count of
        // big-endian bytes that follow (writers use up to 8).
        unsigned long long length = klv[16];
        unsigned int lengthBytes = 1;
        if (length & 0x80) {
            const unsigned int count = klv[16] & 0x7F;
            if (count == 0 || count > 8)
                break;
            length = 0;
            for (unsigned int i = 0; i < count; ++i)
                length = (length << 8) | klv[17 + i];
            lengthBytes += count;
        }
        if (length > kMaxSize)
            break;
        pos += 16 + lengthBytes + length;
    }
    if (pos == 0 || pos > kMaxSize)
        return 0;
    info.m_llSize = static_cast<long long>(pos);
    return 1;
}

// ---- ASF ----

namespace {

const unsigned char kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kAsfData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kAsfSimpleIndex[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                           0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
const unsigned char kAsfIndex[16] = {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,
                                     0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE};
const unsigned char kAsfMediaObjectIndex[16] = {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C,
                                                0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C};
const unsigned char kAsfTimecodeIndex[16] = {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48,
                                             0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C};
const unsigned char kAsfStreamProperties[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const unsigned char kAsfAudioMedia[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                          0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const unsigned char kAsfVideoMedia[16] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                          0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

bool IsAsfTopLevel(const unsigned char* guid)
{
    for (const unsigned char* known : {kAsfData, kAsfSimpleIndex, kAsfIndex, kAsfMediaObjectIndex, kAsfTimecodeIndex})
        if (std::memcmp(guid, known, 16) == 0)
            return true;
    return false;
}

}  // namespace

int CAsfAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, kAsfHeader, 16) != 0)
        return 0;
    info.m_dwType = kTypeAsf;
    return 1;
}

int CAsfAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    AvByteReader reader(device, info.m_llStartSector);
    unsigned char object[40];
    if (!reader.Read(0, object, 24) || std::memcmp(object, kAsfHeader, 16) != 0)
        return 0;
    const unsigned long long headerEnd = AvReadLE64(object + 16);
    if (headerEnd < 30 || headerEnd > kMaxSize)
        return 0;

    unsigned int audioOrVideo = 0, video = 0, other = 0;
    unsigned long long walk = 30;
    for (unsigned int i = 0; i < kMaxHeaderObjects && walk + 24 <= headerEnd; ++i) {
        if (!reader.Read(walk, object, 24))
            break;
        const unsigned long long size = AvReadLE64(object + 16);
        if (size < 24 || size > headerEnd - walk)
            break;
        if (std::memcmp(object, kAsfStreamProperties, 16) == 0 && size >= 40 &&
            reader.Read(walk + 24, object + 24, 16)) {
            if (std::memcmp(object + 24, kAsfVideoMedia, 16) == 0) {
                ++video;
                ++audioOrVideo;
            } else if (std::memcmp(object + 24, kAsfAudioMedia, 16) == 0) {
                ++audioOrVideo;
            } else {
                ++other;
            }
        }
        walk += size;
    }

    unsigned long long top = headerEnd;
    while (top < kMaxSize) {
        if (!reader.Read(top, object, 24) || !IsAsfTopLevel(object))
            break;
        const unsigned long long size = AvReadLE64(object + 16);
        if (size < 24 || size > kMaxSize - top)
            break;
        top += size;
    }
    if (other == 0 && video == 1)
        info.m_dwType = kTypeWmv;
    else if (other == 0 && audioOrVideo > 0)
        info.m_dwType = kTypeWma;
    else
        info.m_dwType = kTypeAsf;
    info.m_llSize = static_cast<long long>(top);
    return 1;
}

// ---- RealMedia ----

int RM_RMVBAnalyser::RMFlag(const unsigned char* head, unsigned int length)
{
    static const char kVideo[] = "Video Stream";
    const unsigned int limit = std::min(length, 1024u);
    for (unsigned int i = 0; i + 4 <= limit; ++i) {
        if (std::memcmp(head + i, "MDPR", 4) != 0)
            continue;
        const unsigned int to = std::min(i + 160, length);
        for (unsigned int j = i; j + sizeof(kVideo) - 1 <= to; ++j)
            if (std::memcmp(head + j, kVideo, sizeof(kVideo) - 1) == 0)
                return 0;
    }
    return 1;
}

namespace {

// Where the packets of the data chunk at chunk end, walking count packets
// from its 18-byte header; 0 when one is damaged.
unsigned long long RMPacketsEnd(AvByteReader& reader, unsigned long long chunk, uint32_t count)
{
    unsigned long long at = chunk + 18;
    for (uint32_t i = 0; i < count && at < RM_RMVBAnalyser::kMaxSize; ++i) {
        unsigned char packet[4];
        if (!reader.Read(at, packet, sizeof(packet)))
            return 0;
        const unsigned int length = (packet[2] << 8) | packet[3];
        if (packet[0] != 0 || packet[1] > 1 || length < 12)
            return 0;
        at += length;
    }
    return count ? at : 0;
}

}  // namespace

int RM_RMVBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    return AcceptAvStart(sector, info, kTypeRm);
}

int RM_RMVBAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    AvByteReader reader(device, info.m_llStartSector);
    unsigned char head[1024 + 160];
    if (!reader.Read(0, head, sizeof(head)) || std::memcmp(head, ".RMF", 4) != 0)
        return 0;
    info.m_dwType = RMFlag(head, sizeof(head)) ? kTypeRm : kTypeRmvb;
    unsigned long long pos = RawReadBE32(head + 4);
    if (pos < 8)
        return 0;
    static const char* const kChunks[] = {"PROP", "MDPR", "CONT", "DATA", "INDX"};
    while (pos < kMaxSize) {
        unsigned char chunk[20];
        if (!reader.Read(pos, chunk, sizeof(chunk)))
            break;
        const bool known = std::any_of(std::begin(kChunks), std::end(kChunks),
                                       [&](const char* id) { return std::memcmp(chunk, id, 4) == 0; });
        const uint32_t size = RawReadBE32(chunk + 4);
        if (!known || size < 8)
            break;
        if (std::memcmp(chunk, "DATA", 4) == 0) {
            // Some writers count more bytes in the data chunk than its packets
            // hold: the packets themselves tell where the data ends.
            const unsigned long long packetsEnd = RMPacketsEnd(reader, pos, RawReadBE32(chunk + 10));
            if (packetsEnd && packetsEnd < pos + size) {
                // An empty 8-byte end header may close the packets.
                unsigned char tail[8];
                static const unsigned char kZero[8] = {};
                const unsigned long long chunkEnd = pos + size;
                pos = packetsEnd;
                if (packetsEnd + 8 <= chunkEnd && reader.Read(packetsEnd, tail, sizeof(tail)) &&
                    std::memcmp(tail, kZero, sizeof(tail)) == 0)
                    pos += sizeof(tail);
                continue;
            }
        }
        pos += size;
        // An index chunk with no next index is the file's last chunk.
        if (std::memcmp(chunk, "INDX", 4) == 0 && RawReadBE32(chunk + 16) == 0)
            break;
    }
    info.m_llSize = static_cast<long long>(std::min(pos, kMaxSize));
    return 1;
}

// ---- MLV raw video ----

int MLvAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, "MLVI", 4) != 0 || std::memcmp(sector + 52, "RAWI", 4) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

int MLvAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    static const char kBlocks[][5] = {"MLVI", "RAWI", "INFO", "RTCI", "EXPO", "LENS", "IDNT", "WBAL",
                                      "STYL", "WAVI", "MARK", "VIDF", "NULL", "AUDF", "BKUP"};
    AvByteReader reader(device, info.m_llStartSector);
    unsigned long long pos = 0;
    while (pos < kMaxSize) {
        unsigned char block[8];
        if (!reader.Read(pos, block, sizeof(block)))
            break;
        const bool known = std::any_of(std::begin(kBlocks), std::end(kBlocks),
                                       [&](const char* id) { return std::memcmp(block, id, 4) == 0; });
        const uint32_t size = RawReadLE32(block + 4);
        // Every block holds at least its own 8-byte header.
        if (!known || size < 8)
            break;
        pos += size;
    }
    if (pos == 0)
        return 0;
    info.m_llSize = static_cast<long long>(std::min(pos, kMaxSize));
    return 1;
}
