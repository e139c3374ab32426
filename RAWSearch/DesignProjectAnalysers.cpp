#include "DesignProjectAnalysers.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "RawRecordAccess.h"
#include "RawWalkRecord.h"
#include "RawUtility.h"

namespace {

constexpr unsigned char kInddHead[24] = {0x06, 0x06, 0xED, 0xF5, 0xD8, 0x1D, 0x46, 0xE5, 0xBD, 0x31, 0xEF, 0xE7,
                                         0xFE, 0x74, 0xB7, 0x1D, 'D', 'O', 'C', 'U', 'M', 'E', 'N', 'T'};
constexpr unsigned char kInddObject[16] = {0xDE, 0x39, 0x39, 0x79, 0x51, 0x88, 0x4B, 0x6C,
                                           0x8E, 0x63, 0xEE, 0xF8, 0xAE, 0xE0, 0xDD, 0x38};
// An object's header (with its length at 24) and trailer.
constexpr long long kInddObjectOverhead = 64;
constexpr long long kInddLengthAt = 24;

}  // namespace

IRawFileAnalyser* CreateInddAnalyser(unsigned int)
{
    return new RawSpeed::InddAnalyser;
}

IRawFileAnalyser* CreateAEPAnalyser(unsigned int)
{
    return new RawSpeed::AEPAnalyser;
}

IRawFileAnalyser* CreateSIBAnalyser(unsigned int)
{
    return new RawSpeed::SIBAnalyser;
}

IRawFileAnalyser* CreateNGRRAnalyser(unsigned int)
{
    return new RawSpeed::NGRRAnalyser;
}

namespace RawSpeed {

int DesignRawFileInfo::End(long long size, long long sectorNumber)
{
    m_llSize = size;
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld_", m_llStartSector, sectorNumber);
    SetRawFileName(name);
    return 1;
}

long long DesignRawFileInfo::FileOffset(const unsigned char* sector, int sectorSize, long long sectorNumber) const
{
    if (!sector || sectorSize < 512 || sectorNumber < m_llStartSector)
        return -1;
    return (sectorNumber - m_llStartSector) * sectorSize;
}

// ---- INDD ------------------------------------------------------------------------

int InddAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, kInddHead, sizeof(kInddHead)) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* InddAnalyser::CreateRawFileInfo()
{
    return new InddRawFileInfo;
}

int InddAnalyser::InddRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                               SearchContext& context)
{
    const long long offset = FileOffset(sector, sectorSize, sectorNumber);
    if (offset < 0)
        return 2;
    if (m_bFirstSector) {
        m_bFirstSector = false;
        // The objects follow the page area.
        m_llNextPos = static_cast<long long>(RawReadLE32(sector + 280)) * kPage;
    }
    if (offset > m_llMaxSize) {
        m_llSize = 0;
        return 1;
    }
    // An object header is read once its bytes are in memory; one that runs
    // into a sector not yet read waits for it.
    while (m_llNextPos < offset + sectorSize) {
        const unsigned char* p = nullptr;
        if (const int answer = NeedRawRecord(*this, context, m_llNextPos, kInddLengthAt + 4, &p))
            return answer;
        if (std::memcmp(p, kInddObject, sizeof(kInddObject)) != 0) {
            m_bEndFound = true;
            return End(m_llNextPos - m_llNextPos % kPage + kPage, sectorNumber);
        }
        m_llNextPos += static_cast<long long>(RawReadLE32(p + kInddLengthAt)) + kInddObjectOverhead;
    }
    return 2;
}

// ---- AEP -------------------------------------------------------------------------

int AEPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, "RIFX", 4) != 0 || std::memcmp(sector + 8, "Egg", 3) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* AEPAnalyser::CreateRawFileInfo()
{
    return new AEPRawFileInfo;
}

int AEPAnalyser::AEPRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    const long long offset = FileOffset(sector, sectorSize, sectorNumber);
    if (offset < 0)
        return 2;
    if (m_bFirstSector) {
        m_bFirstSector = false;
        m_llChunkLength = RawReadBE32(sector + 4);
    }
    if (offset > m_llMaxSize) {
        m_llSize = 0;
        return 1;
    }
    if (m_bTrailerMode) {
        if (context.dwTrailingZero < kTrailerZeroTail)
            return 2;
        return End(offset + BruteForce::RawUtility::Binary_Compare(sector, sectorSize) + 8, sectorNumber);
    }
    // The chunk ends in this sector: an XMP packet may follow it.
    const long long chunkEnd = m_llChunkLength + 8;
    if (chunkEnd > offset + sectorSize)
        return 2;
    const unsigned char* p = nullptr;
    if (const int answer = NeedRawRecord(*this, context, chunkEnd, 9, &p))
        return answer;
    if (std::memcmp(p, "<?xpacket", 9) != 0)
        return End(chunkEnd, sectorNumber);
    // The packet may end in this very sector.
    m_bTrailerMode = true;
    if (context.dwTrailingZero < kTrailerZeroTail)
        return 2;
    return End(offset + BruteForce::RawUtility::Binary_Compare(sector, sectorSize) + 8, sectorNumber);
}

// ---- SIB -------------------------------------------------------------------------

int SIBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || sector[0] != 0x0F || strncasecmp(reinterpret_cast<const char*>(sector + 1), "SIBELIUS", 8) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* SIBAnalyser::CreateRawFileInfo()
{
    return new SIBRawFileInfo;
}

int SIBAnalyser::SIBRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    const long long offset = FileOffset(sector, sectorSize, sectorNumber);
    if (offset < 0)
        return 2;
    if (offset > m_llMaxSize)
        return End(offset, sectorNumber);
    if (context.dwTrailingZero < kZeroTail || offset < m_llMinSize)
        return 2;
    return End(offset + BruteForce::RawUtility::Binary_Compare(sector, sectorSize), sectorNumber);
}

// ---- NGRR ------------------------------------------------------------------------

int NGRRAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || strncasecmp(reinterpret_cast<const char*>(sector), "-in-", 4) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* NGRRAnalyser::CreateRawFileInfo()
{
    return new NGRRRawFileInfo;
}

int NGRRAnalyser::NGRRRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                               SearchContext& context)
{
    const long long offset = FileOffset(sector, sectorSize, sectorNumber);
    if (offset < 0)
        return 2;
    if (offset > m_llMaxSize)
        return End(offset, sectorNumber);
    while (m_llNextBlock < offset + sectorSize) {
        const unsigned char* p = nullptr;
        if (const int answer = NeedRawRecord(*this, context, m_llNextBlock, 20, &p))
            return answer;
        if (std::memcmp(p, "atad", 4) != 0)
            return End(m_llNextBlock, sectorNumber);
        m_llNextBlock += static_cast<long long>(RawReadLE32(p + 16)) + 24;
    }
    return 2;
}

}  // namespace RawSpeed
