// Sizing an MP3 from the device: by its ID3 tag and frames, by the byte
// count of its Xing/Info frame, or by walking its frames.
#include <algorithm>
#include <cstring>

#include "FileNameFilter.h"
#include "IStorageDevice.h"
#include "Mp3Analyser.h"
#include "Mp3TagText.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"

namespace {

constexpr unsigned long long kId3WalkLimit = 0x104000000ULL;
constexpr unsigned long long kFrameWalkLimit = 0x81FFFFFFULL;
constexpr unsigned int kResyncReach = 4095;
constexpr unsigned long long kApeTagReach = 102400;
constexpr unsigned int kMaxTextFrame = 1024;
constexpr int kMaxId3Frames = 4096;

// Destroyed sizers so far, and the count the remembered range belongs to.
unsigned long long g_destroyedSizers = 0;
unsigned long long g_rangeGeneration = 0;
// The last range GetRawFileSizeFromFrame sized: start sector, sectors.
long long g_rangeStart = 0;
long long g_rangeCount = 0;

// Copies length bytes at offset of the file; false when a read fails.
bool ReadAt(RawFileBuffer& buffer, unsigned long long offset, unsigned char* out, size_t length, unsigned int ss)
{
    while (length) {
        const unsigned char* p = buffer.GetRawFileBuffer(offset);
        if (!p)
            return false;
        // Each answer holds at least one sector past offset.
        const size_t chunk = std::min<size_t>(length, ss);
        std::memcpy(out, p, chunk);
        out += chunk;
        offset += chunk;
        length -= chunk;
    }
    return true;
}

unsigned int SectorSizeOf(IStorageDevice* device)
{
    const unsigned int ss = device->GetSectorSize();
    return ss ? ss : 512;
}

// Where a frame walk that stopped at pos ends, by the tags that may follow:
// ID3v1 (naming the file), an APE tag, or an ID3v1 just after. pos itself
// when none is there.
unsigned long long TagEnd(RawFileBuffer& buffer, unsigned long long pos, unsigned int ss, std::string& title,
                          std::string& artist)
{
    unsigned char tail[256] = {};
    if (!ReadAt(buffer, pos, tail, sizeof(tail), ss))
        return pos;
    if (std::memcmp(tail, "TAG", 3) == 0) {
        ReadId3v1(tail, title, artist);
        return pos + 128;
    }
    if (std::memcmp(tail, "APETAGEX", 8) == 0 && tail[8] == 0xD0)
        return pos + 260;
    for (unsigned int k = 1; k < 128; ++k)
        if (std::memcmp(tail + k, "TAG", 3) == 0)
            return pos + k + 128;
    return pos;
}

}  // namespace

FileMP3Analyser::~FileMP3Analyser()
{
    ++g_destroyedSizers;
}

int FileMP3Analyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    const bool id3 = std::memcmp(sector, "ID3", 3) == 0 && (sector[3] == 3 || sector[3] == 4);
    if (!id3 && !Mp3FrameLength(sector))
        return 0;
    info.m_dwType = kType;
    return 1;
}

void FileMP3Analyser::GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value)
{
    tag = m_eTag;
    value = m_strTagValue;
}

void FileMP3Analyser::SetNameAndLabel(CRawFileInfo& info, const std::string& artist, const std::string& title)
{
    const std::string a = ApiStrFilterBadFileName(artist);
    const std::string t = ApiStrFilterBadFileName(title);
    if (!a.empty()) {
        m_eTag = RAW_TAG_ARTIST;
        m_strTagValue = a;
        info.SetRawFileTagAndValue(RAW_TAG_ARTIST, a);
    }
    if (!a.empty() || !t.empty()) {
        m_strName = a + "_" + t;
        info.SetRawFileName(m_strName);
    }
}

int FileMP3Analyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    m_strName.clear();
    m_strTime.clear();
    m_eTag = RAW_TAG_NONE;
    m_strTagValue.clear();
    if (!device || info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char head[64] = {};
    if (!ReadAt(buffer, 0, head, sizeof(head), SectorSizeOf(device)))
        return 0;
    if (std::memcmp(head, "ID3", 3) == 0)
        return GetRawFileSizeID3(info, device);
    const bool xingStart = head[0] == 0xFF && head[1] == 0xFB && (head[2] == 0xE0 || head[2] == 0xB0);
    if (xingStart && (std::memcmp(head + 36, "Info", 4) == 0 || std::memcmp(head + 36, "Xing", 4) == 0))
        return GetRawFileSizeXING(info, device);
    if ((head[0] == 0xFF && head[1] == 0xFB) || Mp3FrameLength(head))
        return GetRawFileSizeFromFrame(info, device);
    return 0;
}

int FileMP3Analyser::GetRawFileSizeID3(CRawFileInfo& info, IStorageDevice* device)
{
    const unsigned int ss = SectorSizeOf(device);
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char header[10];
    unsigned int tagSize = 0;
    if (!ReadAt(buffer, 0, header, sizeof(header), ss) || !classMp3Search::GetSynchsafeInteger(header + 6, &tagSize))
        return 0;

    // The text frames of the ID3v2 tag.
    BruteForce::MP3RawFileInfo text(nullptr);
    std::string artist;
    std::string title;
    std::string year;
    const unsigned long long tagEnd = static_cast<unsigned long long>(tagSize) + 10;
    unsigned long long pos = 10;
    for (int n = 0; n < kMaxId3Frames && pos + 10 <= tagEnd; ++n) {
        unsigned char frame[10];
        if (!ReadAt(buffer, pos, frame, sizeof(frame), ss))
            break;
        const uint32_t size = RawReadBE32(frame + 4);
        if (size < 1 || size > 0x40000000)
            break;
        const bool artistFrame = std::memcmp(frame, "TPE1", 4) == 0;
        const bool titleFrame = std::memcmp(frame, "TIT2", 4) == 0;
        const bool yearFrame = std::memcmp(frame, "TYER", 4) == 0;
        if (artistFrame || titleFrame || yearFrame) {
            unsigned char body[kMaxTextFrame];
            const unsigned int length = std::min<unsigned int>(size, kMaxTextFrame);
            if (ReadAt(buffer, pos + 10, body, length, ss))
                text.GetTagValue(body, length, artistFrame ? artist : titleFrame ? title : year, titleFrame);
        }
        pos += 10ULL + size;
    }

    // The frames after the tag, to the first thing that is not one.
    CMPAHeader reference;
    bool haveReference = false;
    unsigned long long end = 0;
    pos = tagEnd;
    std::string v1Title;
    std::string v1Artist;
    while (pos <= kId3WalkLimit) {
        unsigned char p[4];
        if (!ReadAt(buffer, pos, p, sizeof(p), ss)) {
            end = pos;
            break;
        }
        CMPAHeader header4;
        if (const uint32_t length = Mp3FrameLength(p, &header4); length && (!haveReference || header4 == reference)) {
            if (!haveReference) {
                reference = header4;
                haveReference = true;
            }
            pos += length;
            continue;
        }
        unsigned char tail[12] = {};
        if (!ReadAt(buffer, pos, tail, sizeof(tail), ss)) {
            end = pos;
            break;
        }
        if (std::memcmp(tail, "TAG", 3) == 0) {
            end = TagEnd(buffer, pos, ss, v1Title, v1Artist);
            break;
        }
        if (std::memcmp(tail, "ID3", 3) == 0 && pos % ss == 0) {
            end = pos;
            break;
        }
        if (std::memcmp(tail, "APETAGEX", 8) == 0 && tail[8] == 0xD0) {
            // The ID3v1 tag that usually follows an APE tag ends the file.
            end = pos + 260;
            unsigned char chunk[4096 + 2];
            for (unsigned long long at = pos + 8; at < pos + kApeTagReach; at += 4096) {
                if (!ReadAt(buffer, at, chunk, sizeof(chunk), ss))
                    break;
                const unsigned char* found = nullptr;
                for (size_t k = 0; k + 3 <= sizeof(chunk) && !found; ++k)
                    if (std::memcmp(chunk + k, "TAG", 3) == 0)
                        found = chunk + k;
                if (found) {
                    end = at + static_cast<unsigned long long>(found - chunk) + 128;
                    break;
                }
            }
            break;
        }
        // A damaged frame: the stream may go on a little further.
        unsigned char reach[kResyncReach + 4];
        if (!haveReference || !ReadAt(buffer, pos + 1, reach, sizeof(reach), ss)) {
            end = pos;
            break;
        }
        unsigned long long next = 0;
        for (unsigned int k = 0; k < kResyncReach && !next; ++k) {
            CMPAHeader candidate;
            if (Mp3FrameLength(reach + k, &candidate) && candidate == reference)
                next = pos + 1 + k;
        }
        if (!next) {
            end = pos;
            break;
        }
        pos = next;
    }
    if (end <= tagEnd)
        return 0;
    if (title.empty())
        title = v1Title;
    if (artist.empty())
        artist = v1Artist;
    SetNameAndLabel(info, artist, title);
    if (!year.empty()) {
        m_strTime = year;
        info.m_strTime = year;
    }
    info.m_llSize = static_cast<long long>(end);
    return 1;
}

int FileMP3Analyser::GetRawFileSizeXING(CRawFileInfo& info, IStorageDevice* device)
{
    const unsigned int ss = SectorSizeOf(device);
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char head[52];
    if (!ReadAt(buffer, 0, head, sizeof(head), ss))
        return 0;
    unsigned long long size = RawReadBE32(head + 48);
    if (size == 0)
        return 0;
    unsigned char tag[128];
    if (ReadAt(buffer, size, tag, sizeof(tag), ss) && std::memcmp(tag, "TAG", 3) == 0) {
        std::string title;
        std::string artist;
        ReadId3v1(tag, title, artist);
        SetNameAndLabel(info, artist, title);
        size += 128;
    }
    info.m_dwType = kType;
    info.m_llSize = static_cast<long long>(size);
    return 1;
}

int FileMP3Analyser::GetRawFileSizeFromFrame(CRawFileInfo& info, IStorageDevice* device)
{
    const unsigned int ss = SectorSizeOf(device);
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char head[4];
    CMPAHeader reference;
    if (!ReadAt(buffer, 0, head, sizeof(head), ss))
        return 0;
    const uint32_t first = Mp3FrameLength(head, &reference);
    unsigned char second[4];
    if (!first || !ReadAt(buffer, first, second, sizeof(second), ss) || !Mp3FrameLength(second))
        return 0;
    info.m_dwType = kType;

    if (g_rangeGeneration != g_destroyedSizers) {
        g_rangeGeneration = g_destroyedSizers;
        g_rangeStart = g_rangeCount = 0;
    }
    // A start inside the stream sized last is one of its frames.
    if (g_rangeCount > 0 && info.m_llStartSector > g_rangeStart && info.m_llStartSector < g_rangeStart + g_rangeCount)
        return 0;

    unsigned long long pos = 0;
    std::string title;
    std::string artist;
    while (pos <= kFrameWalkLimit) {
        unsigned char p[4];
        CMPAHeader header;
        if (!ReadAt(buffer, pos, p, sizeof(p), ss))
            break;
        const uint32_t length = Mp3FrameLength(p, &header);
        if (!length || !(header == reference)) {
            pos = TagEnd(buffer, pos, ss, title, artist);
            break;
        }
        pos += length;
    }
    if (pos < static_cast<unsigned long long>(BruteForce::MP3RawFileInfo::kShortStream))
        return 0;
    const long long sectors = static_cast<long long>((pos + ss - 1) / ss);
    const long long newEnd = info.m_llStartSector + sectors;
    if (g_rangeCount > 0 && !(newEnd <= g_rangeStart || newEnd > g_rangeStart + g_rangeCount))
        return 0;
    g_rangeStart = info.m_llStartSector;
    g_rangeCount = sectors;
    SetNameAndLabel(info, artist, title);
    info.m_llSize = static_cast<long long>(pos);
    return 1;
}
