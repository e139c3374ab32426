#include "BookHelpFontAnalysers.h"

#include <cctype>
#include <cstring>

#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"
#include "ResultCode.h"

namespace {

uint64_t LE64(const unsigned char* p)
{
    return static_cast<uint64_t>(RawReadLE32(p)) | (static_cast<uint64_t>(RawReadLE32(p + 4)) << 32);
}

}  // namespace

int FileCHMAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    static const unsigned char kGuidTail[14] = {0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E,
                                                0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    if (!pBuffer || std::memcmp(pBuffer, "ITSF", 4) != 0 || RawReadLE32(pBuffer + 8) != 96)
        return 0;
    if (pBuffer[24] != 0x10 || pBuffer[25] != 0xFD || std::memcmp(pBuffer + 26, kGuidTail, 14) != 0)
        return 0;
    if (pBuffer[40] != 0x11 || pBuffer[41] != 0xFD || std::memcmp(pBuffer + 42, kGuidTail, 14) != 0)
        return 0;
    if (RawReadLE32(pBuffer + 96) != 0x1FE || RawReadLE32(pBuffer + 112) != 0 || RawReadLE32(pBuffer + 116) != 0)
        return 0;
    const uint64_t size = LE64(pBuffer + 104);
    if (size == 0 || size > static_cast<uint64_t>(INT64_MAX))
        return 0;
    info.m_dwType = BookTypes::kCHM;
    info.m_llSize = static_cast<long long>(size);
    return 1;
}

int FileHLPAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    if (!pBuffer)
        return 0;
    const uint32_t size = RawReadLE32(pBuffer + 12);
    if (size < 512 || size < RawReadLE32(pBuffer + 4))
        return 0;
    info.m_dwType = BookTypes::kHLP;
    info.m_llSize = size;
    return 1;
}

int FileITLAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    if (!pBuffer || std::memcmp(pBuffer, "hdfm", 4) != 0)
        return 0;
    const uint32_t size = RawReadBE32(pBuffer + 8);
    if (size == 0)
        return 0;
    info.m_dwType = BookTypes::kITL;
    info.m_llSize = size;
    return 1;
}

int FileTTFAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    static const char* const kTags[] = {"DSIG", "cmap", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "name",
                                        "post", "OS/2", "cvt ", "EBDT", "EBLC", "EBSC", "fpgm", "gasp", "hdmx",
                                        "kern", "LTSH", "prep", "PCLT", "VDMX", "vhea", "vmtx"};
    VANTREL_ASSERT(NULL != pBuffer);
    const unsigned int tables = static_cast<unsigned int>((pBuffer[4] << 8) | pBuffer[5]);
    if (tables < 1 || tables > kMaxTables)
        return 0;
    // 31 records end at byte 508: inside the smallest sector.
    unsigned long long total = 16ULL * tables + 12;
    unsigned int known = 0;
    for (unsigned int i = 0; i < tables; ++i) {
        const unsigned char* record = pBuffer + 12 + 16 * i;
        total += (static_cast<unsigned long long>(RawReadBE32(record + 12)) + 3) & ~3ULL;
        for (const char* tag : kTags) {
            if (std::memcmp(record, tag, 4) == 0) {
                ++known;
                break;
            }
        }
    }
    if (2 * known < tables)
        return 0;
    info.m_dwType = BookTypes::kTTF;
    info.m_llSize = static_cast<long long>(total);
    return 1;
}

namespace RawSpeed {

bool IsMobiStart(const unsigned char* sector)
{
    if (!sector)
        return false;
    for (int i = 0; i < 8; ++i)
        if (std::toupper(sector[60 + i]) != "BOOKMOBI"[i])
            return false;
    return true;
}

int MOBIAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!IsMobiStart(sector))
        return 0;
    info.m_dwType = BookTypes::kMOBI;
    return 1;
}

int MOBIAnalyser::MOBIRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                               SearchContext& context)
{
    const long long offset = FedOffset(sector, sectorSize, sectorNumber, 128);
    if (offset < 0)
        return 2;
    if (m_bFirstSector) {
        m_bFirstSector = false;
        // The record list's last entry: its first word is the last record's
        // offset, where the end record's mark stands.
        m_llNextPosition = static_cast<long long>(RawReadBE32(sector + 74)) * 8 + 70;
    }
    // At most two places are visited: the list entry and the end record.
    while (!m_bZeroTail && !m_bEndFound && m_llVisited < 2 && m_llNextPosition < offset + sectorSize) {
        if (m_llNextPosition < offset) {
            // A place behind the bytes already passed cannot be read now.
            m_bZeroTail = true;
            break;
        }
        ++m_llVisited;
        const unsigned char* word = context.bytes(sectorNumber, m_llNextPosition - offset, 4);
        if (!word) {
            m_bZeroTail = true;
            break;
        }
        if (word[0] == 0xE9 && word[1] == 0x8E && word[2] == 0x0D && word[3] == 0x0A)
            m_bEndFound = true;
        else if (m_llVisited == 2)
            m_bZeroTail = true;
        else
            m_llNextPosition = RawReadBE32(word);
    }
    if (offset > m_llMaxSize)
        return GiveUp();
    if (m_bZeroTail && context.dwTrailingZero >= 12)
        return Finish(sectorNumber, offset + BruteForce::RawUtility::Binary_Compare(sector, sectorSize));
    if (m_bEndFound)
        return Finish(sectorNumber, m_llNextPosition + 4);
    return 2;
}

int FileMOBIAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!IsMobiStart(sector))
        return 0;
    info.m_dwType = BookTypes::kMOBI;
    return 1;
}

int FileMOBIAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    if (!pDevice)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    const unsigned char* header = buffer.GetRawFileBuffer(0);
    if (!header)
        return 0;
    const unsigned long long entry = static_cast<unsigned long long>(RawReadBE32(header + 74)) * 8 + 70;
    const unsigned char* word = buffer.GetRawFileBuffer(entry);
    if (!word)
        return 0;
    info.m_dwType = BookTypes::kMOBI;
    info.m_llSize = static_cast<long long>(RawReadBE32(word)) + 4;
    return 1;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateCHMAnalyser(unsigned int)
{
    return new FileCHMAnalyser();
}

IRawFileAnalyser* CreateHLPAnalyser(unsigned int)
{
    return new FileHLPAnalyser();
}

IRawFileAnalyser* CreateITLAnalyser(unsigned int)
{
    return new FileITLAnalyser();
}

IRawFileAnalyser* CreateTTFAnalyser(unsigned int)
{
    return new FileTTFAnalyser();
}

IRawFileAnalyser* CreateMOBIAnalyser(unsigned int)
{
    return new RawSpeed::MOBIAnalyser();
}
