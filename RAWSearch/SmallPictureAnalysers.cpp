#include "SmallPictureAnalysers.h"

#include <cstring>

#include "RawRecordAccess.h"

// Every probe reads a sector of at least 512 bytes; all offsets below are
// within its first 262.

IRawFileAnalyser* CreateICOAnalyser(unsigned int) { return new FileICOAnalyser; }
IRawFileAnalyser* CreateBMPAnalyser(unsigned int) { return new FileBMPAnalyser; }
IRawFileAnalyser* CreateEMFAnalyser(unsigned int) { return new FileEMFAnalyser; }
IRawFileAnalyser* CreateWMFAnalyser(unsigned int) { return new FileWMFAnalyser; }
IRawFileAnalyser* CreateICNSAnalyser(unsigned int) { return new FileICNSAnalyser; }

bool FileICOAnalyser::IsInvalidIconDirEntry(unsigned char* entry)
{
    return entry && entry[3] == 0 && RawReadLE16(entry + 6) <= 256 && RawReadLE32(entry + 8) <= kMaxEntryValue &&
           RawReadLE32(entry + 12) <= kMaxEntryValue;
}

int FileICOAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    const unsigned int kind = RawReadLE16(sector + 2);
    const unsigned int count = RawReadLE16(sector + 4);
    if ((kind != 1 && kind != 2) || count < 1 || count > kMaxEntries)
        return 0;
    unsigned long long size = 6;
    for (unsigned int i = 0; i < count; ++i) {
        unsigned char* entry = sector + 6 + 16 * i;
        if (!IsInvalidIconDirEntry(entry))
            return 0;
        size += RawReadLE32(entry + 8) + 16ULL;
    }
    if (size > kMaxSize)
        return 0;
    info.m_dwType = kind == 1 ? kTypeIco : kTypeCur;
    info.m_llSize = static_cast<long long>(size);
    return 1;
}

int FileBMPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || sector[0] != 'B' || sector[1] != 'M' || RawReadLE16(sector + 6) != 0 ||
        RawReadLE16(sector + 8) != 0)
        return 0;
    const uint32_t header = RawReadLE32(sector + 14);
    if (header != 40 && header != 108 && header != 124)
        return 0;
    info.m_dwType = kType;
    info.m_llSize = RawReadLE32(sector + 2);
    return 1;
}

int FileEMFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    // Asked about every sector: the cheapest test first.
    if (!sector || std::memcmp(sector + 40, " EMF", 4) != 0 || RawReadLE16(sector + 58) != 0)
        return 0;
    const uint32_t size = RawReadLE32(sector + 48);
    if (size == 0)
        return 0;
    info.m_dwType = kType;
    info.m_llSize = size;
    return 1;
}

int FileWMFAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    static const unsigned char kPlaceable[6] = {0xD7, 0xCD, 0xC6, 0x9A, 0x00, 0x00};
    // Sizes are in 16-bit words: doubled in 64 bits.
    if (RawReadLE32(sector) == 0x00090001u) {
        if (RawReadLE16(sector + 16) != 0)
            return 0;
        info.m_dwType = kType;
        info.m_llSize = 2LL * RawReadLE32(sector + 6);
        return 1;
    }
    if (std::memcmp(sector, kPlaceable, sizeof(kPlaceable)) != 0)
        return 0;
    uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i)
        checksum ^= RawReadLE16(sector + 2 * i);
    if (checksum != RawReadLE16(sector + 20) || RawReadLE16(sector + 4) != 0 || RawReadLE32(sector + 16) != 0 ||
        RawReadLE32(sector + 22) != 0x00090001u || RawReadLE16(sector + 38) != 0)
        return 0;
    info.m_dwType = kType;
    info.m_llSize = 2LL * RawReadLE32(sector + 28) + 22;
    return 1;
}

int FileICNSAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, "icns", 4) != 0)
        return 0;
    const uint32_t size = RawReadBE32(sector + 4);
    if (size < 1 || size > kMaxSize)
        return 0;
    info.m_dwType = kType;
    info.m_llSize = size;
    return 1;
}
