#include "AudioContainerAnalysers.h"

#include <cctype>
#include <cstring>

#include "AvByteReader.h"
#include "RawRecordAccess.h"
#include "RawWalkRecord.h"

// Every probe reads a sector of at least 512 bytes; all offsets below lie in
// its first 64.

IRawFileAnalyser* CreateRIFFAnalyser(unsigned int) { return new FileRIFFAnalyser; }
IRawFileAnalyser* CreateAIFAnalyser(unsigned int) { return new CFileAIFAnalyzer; }
IRawFileAnalyser* CreateAUAnalyser(unsigned int) { return new FileAUAnalyser; }
IRawFileAnalyser* CreateSWFAnalyser(unsigned int) { return new FileSWFAnalyser; }
IRawFileAnalyser* CreateMIDAnalyser(unsigned int) { return new FileMIDAnalyser; }
IRawFileAnalyser* CreateOggAnalyser(unsigned int) { return new CFileOggAnalyser; }
IRawFileAnalyser* CreateADTSAnalyser(unsigned int) { return new CADTSAnalyser; }
IRawFileAnalyser* CreateAPEAnalyser(unsigned int) { return new CAPEAnalyser; }

namespace {

bool SameFourCC(const unsigned char* p, const char* text)
{
    for (int i = 0; i < 4; ++i)
        if (std::tolower(p[i]) != std::tolower(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

unsigned int RiffFormType(const unsigned char* sector)
{
    const unsigned char* form = sector + 8;
    const unsigned char* chunk = sector + 12;
    if (SameFourCC(form, "WAVE") && SameFourCC(chunk, "fmt "))
        return FileRIFFAnalyser::kTypeWav;
    if (SameFourCC(form, "AVI ") && SameFourCC(chunk, "LIST"))
        return FileRIFFAnalyser::kTypeAvi;
    if (SameFourCC(form, "ACON") && (SameFourCC(chunk, "LIST") || SameFourCC(chunk, "anih")))
        return FileRIFFAnalyser::kTypeAni;
    if (std::memcmp(form, "WEBP", 4) == 0 && std::memcmp(chunk, "VP8", 3) == 0)
        return FileRIFFAnalyser::kTypeWebp;
    if (std::memcmp(form, "CMX1", 4) == 0 && std::memcmp(sector + 20, "{Corel Binary Meta File}", 24) == 0)
        return FileRIFFAnalyser::kTypeCmx;
    if (SameFourCC(chunk, "vrsn")) {
        if (SameFourCC(form, "CARC"))
            return FileRIFFAnalyser::kTypeClk;
        if (SameFourCC(form, "CSL2"))
            return FileRIFFAnalyser::kTypeCsl;
        static const char* const kCdr[] = {"CDR7", "CDR8", "cdr8", "CDR9", "CDRA", "CDRB", "CDRC"};
        for (const char* name : kCdr)
            if (SameFourCC(form, name))
                return FileRIFFAnalyser::kTypeCdr;
    }
    return FileRIFFAnalyser::kTypeRiff;
}

}  // namespace

int FileRIFFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    info.m_dwType = RiffFormType(sector);
    // The chunk length leaves out the 8 bytes of the chunk's own header:
    // the file ends exactly there.
    info.m_llSize = RawReadLE32(sector + 4) + 8LL;
    return 1;
}

int CFileAIFAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector + 8, "AIF", 3) != 0)
        return 0;
    info.m_dwType = kType;
    info.m_llSize = std::memcmp(sector, "FORM", 4) == 0 ? RawReadBE32(sector + 4) + 8LL : 0;
    return 1;
}

int FileAUAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    const uint32_t dataOffset = RawReadBE32(sector + 4);
    const uint32_t dataSize = RawReadBE32(sector + 8);
    if (dataOffset < 24 || dataSize == 0xFFFFFFFFu)
        return 0;
    info.m_dwType = kType;
    info.m_llSize = static_cast<long long>(dataOffset) + dataSize;
    return 1;
}

int FileSWFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || sector[1] != 'W' || sector[2] != 'S')
        return 0;
    const unsigned int version = sector[3];
    if (version > 32)
        return 0;
    const uint32_t length = RawReadLE32(sector + 4);
    if (sector[0] == 'F') {
        info.m_llSize = length;
    } else if (sector[0] == 'C' && version >= 6) {
        // The length is that of the inflated file: an upper bound.
        info.m_llSize = length + 8LL;
    } else {
        return 0;
    }
    info.m_dwType = kType;
    return 1;
}

int FileMIDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || RawReadBE32(sector + 4) != 6)
        return 0;
    const unsigned int format = (sector[8] << 8) | sector[9];
    const unsigned int tracks = (sector[10] << 8) | sector[11];
    if (format > 2 || tracks == 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FileMIDAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    AvByteReader reader(device, info.m_llStartSector);
    unsigned long long pos = 14;
    unsigned char chunk[8];
    while (pos < kMaxSize && reader.Read(pos, chunk, sizeof(chunk)) && SameFourCC(chunk, "MTrk")) {
        // A track that would run past the limit is damage, not music.
        const unsigned long long next = pos + RawReadBE32(chunk + 4) + 8ULL;
        if (next > kMaxSize)
            break;
        pos = next;
    }
    // The chunk lengths give the end: nothing after the last track is the
    // file's.
    info.m_llSize = static_cast<long long>(pos);
    info.m_bExactEnd = true;
    return 1;
}

int CFileOggAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    // Only a stream's first page (version 0, beginning-of-stream flag, page
    // number 0) opens a file: the pages after it are part of that file.
    if (!sector || sector[4] != 0 || (sector[5] & 0x02) == 0 || RawReadLE32(sector + 18) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

int CFileOggAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    AvByteReader reader(device, info.m_llStartSector);
    unsigned long long pos = 0;
    unsigned char header[27 + 255];
    bool dataSeen = false;
    while (pos <= kMaxSize && reader.Read(pos, header, 27) && std::memcmp(header, "OggS", 4) == 0) {
        // A first page after data pages starts the next file.
        const bool first = (header[5] & 0x02) != 0;
        if (first && dataSeen)
            break;
        dataSeen = dataSeen || !first;
        const unsigned int segments = header[26];
        if (!reader.Read(pos + 27, header + 27, segments))
            break;
        unsigned long long body = 0;
        for (unsigned int i = 0; i < segments; ++i)
            body += header[27 + i];
        pos += 27 + segments + body;
    }
    info.m_llSize = static_cast<long long>(pos);
    return 1;
}

// ---- ADTS ----

bool CADTSAnalyser::s_bOverflow = false;

unsigned int CADTSAnalyser::FrameLength(const unsigned char* p)
{
    // Twelve sync bits, then the layer (bits 1 and 2 of the second byte),
    // which is always 0.
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0)
        return 0;
    const unsigned int length = ((p[3] & 0x03u) << 11) | (static_cast<unsigned int>(p[4]) << 3) | (p[5] >> 5);
    // A frame holds at least its own 7-byte header: shorter ones would
    // never move the walk on.
    return length >= 7 ? length : 0;
}

int CADTSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    return AcceptAvStart(sector, info, kType);
}

int CADTSAnalyser::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                   long long sectorNumber, long long, long long contextEnd)
{
    if (!sector || sectorSize <= 0)
        return 0;
    long long available = sectorSize;
    if (contextEnd > sectorNumber && contextEnd - sectorNumber <= (1LL << 40) / sectorSize)
        available = (contextEnd - sectorNumber) * sectorSize;
    long long pos = 0;
    int frames = 0;
    while (frames < kFramesToAccept) {
        if (pos + 9 > available) {
            if (frames == 0)
                return 0;
            s_bOverflow = true;
            break;
        }
        const unsigned int length = FrameLength(sector + pos);
        if (!length)
            return 0;
        ++frames;
        pos += length;
    }
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* CADTSAnalyser::CreateRawFileInfo()
{
    return new CADTSRawFileInfo;
}

int CADTSRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long, SearchContext& context)
{
    if (!sector || sectorSize <= 0) {
        m_llSize = 0;
        return 1;
    }
    m_llBytesSeen += sectorSize;
    while (m_llPosition < m_llBytesSeen) {
        const unsigned char* header = nullptr;
        const int need = NeedRawRecord(*this, context, m_llPosition, 9, &header);
        if (need != 0)
            return need;
        const unsigned int length = CADTSAnalyser::FrameLength(header);
        if (!length) {
            // Only a stream that zero bytes follow is taken.
            m_llSize = context.dwTrailingZero ? m_llPosition : 0;
            if (CADTSAnalyser::s_bOverflow && m_llFrames <= 4) {
                m_llSize = 0;
                CADTSAnalyser::s_bOverflow = false;
            }
            return 1;
        }
        ++m_llFrames;
        m_llPosition += length;
    }
    return 2;
}

// ---- APE ----

int CAPEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    return AcceptAvStart(sector, info, kType);
}

int CAPEAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device)
        return 0;
    AvByteReader reader(device, info.m_llStartSector);
    unsigned char d[52];
    if (!reader.Read(0, d, sizeof(d)) || std::memcmp(d, "MAC ", 4) != 0)
        return 0;
    const unsigned int version = RawReadLE16(d + 4);
    // Older files describe themselves through their seek table only.
    if (version < 3980 || version > 9999)
        return 0;
    const uint32_t descriptor = RawReadLE32(d + 8);
    if (descriptor < 52 || descriptor > 0x10000)
        return 0;
    unsigned char h[24];
    if (!reader.Read(descriptor, h, sizeof(h)))
        return 0;
    const unsigned int channels = RawReadLE16(h + 18);
    if (channels != 1 && channels != 2)
        return 0;
    // Seek table, header, WAV header, frame data (with its high part) and
    // the WAV trailer.
    const unsigned long long size = static_cast<unsigned long long>(descriptor) + RawReadLE32(d + 12) +
                                    RawReadLE32(d + 16) + RawReadLE32(d + 20) + RawReadLE32(d + 24) +
                                    (static_cast<unsigned long long>(RawReadLE32(d + 28)) << 32) + RawReadLE32(d + 32);
    if (size > kMaxSize)
        return 0;
    unsigned long long end = size;
    unsigned char tag[32];
    if (reader.Read(end, tag, sizeof(tag)) && std::memcmp(tag, "APETAGEX", 8) == 0 &&
        RawReadLE32(tag + 8) <= 65535) {
        // A tag with its header: the size counts the items and the footer.
        const uint32_t tagSize = RawReadLE32(tag + 12);
        if (tagSize >= 32 && tagSize <= kMaxTagSize)
            end += 32ULL + tagSize;
    }
    if (reader.Read(end, tag, 3) && std::memcmp(tag, "TAG", 3) == 0)
        end += 128;
    info.m_llSize = static_cast<long long>(end);
    return 1;
}
