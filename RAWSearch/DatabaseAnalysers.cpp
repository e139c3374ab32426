#include "DatabaseAnalysers.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "DocCharset.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"
#include "ResultCode.h"

namespace {

uint16_t BE16(const unsigned char* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool Contains(const unsigned char* bytes, size_t length, const char* text)
{
    const size_t n = std::strlen(text);
    if (n == 0 || n > length)
        return false;
    return std::search(bytes, bytes + length, text, text + n) != bytes + length;
}

}  // namespace

namespace BruteForce {

// ---- SQLite ------------------------------------------------------------------------

int CFCPEvtAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, "SQLite format 3", 15) != 0)
        return 0;
    // A page size of 1024 to 32768: byte 17 zero, the low bits of byte 16
    // clear. Byte 59 is the text encoding's low byte (1 to 3, 0 unset).
    // The value 1 stands for 65,536.
    const bool largest = sector[16] == 0 && sector[17] == 1;
    if (!largest && (sector[16] == 0 || (sector[16] & 3) != 0 || sector[17] != 0))
        return 0;
    if (sector[59] > 3)
        return 0;
    info.m_dwType = DatabaseTypes::kFCPEVENT;
    return 1;
}

bool CFCPEvtFileInfo::IsAddressBookPage(const unsigned char* page, unsigned int length, unsigned int cellCount)
{
    if (!page || 2ULL * cellCount + 8 > length)
        return false;
    int found = 0;
    for (unsigned int i = 0; i < cellCount; ++i) {
        const int p = static_cast<int16_t>(BE16(page + 8 + 2 * i));
        if (p < 0)
            break;
        if (static_cast<unsigned int>(p) > length)
            return false;
        if (static_cast<unsigned int>(p) + 2 >= length)
            break;
        const int h = page[p + 2];
        const long long textStart = static_cast<long long>(p) + h + 2;
        if (textStart > length)
            break;
        const int textLength = page[p] - h;
        if (textLength <= 0)
            break;
        if (textLength > 50)
            return false;
        if (textStart + textLength > length)
            break;
        const std::string text(reinterpret_cast<const char*>(page + textStart), static_cast<size_t>(textLength));
        if (text.rfind("ABCDRecord", 0) == 0 || text.rfind("ABCDPhoneNumber", 0) == 0) {
            if (++found == 2)
                return true;
        }
    }
    return false;
}

bool CFCPEvtFileInfo::SchemaCheck(const SearchContext& context)
{
    // The cell is found by its file offset, which holds for every sector
    // size and wherever the block boundaries fall.
    const unsigned char* cell = nullptr;
    if (LocateRawRecord(context, m_llStartSector, static_cast<long long>(m_dwFirstCell) + 10, 34, &cell) !=
        RawRecordPlace::InMemory)
        return false;
    const std::string text = DocCharset::ConvertToUtf8("UTF-16LE", cell, 34, 34);
    // A database of no schema this analyser knows is a plain SQLite file.
    if (text.find("tableactiveactive") == std::string::npos) {
        m_dwType = DatabaseTypes::kSQLITE;
        return true;
    }
    const unsigned char* content = nullptr;
    if (LocateRawRecord(context, m_llStartSector, static_cast<long long>(m_dwCellContentStart) + 10, 200, &content) !=
        RawRecordPlace::InMemory)
        return false;
    if (Contains(content, 200, "payload") && Contains(content, 200, "metadata")) {
        m_dwType = DatabaseTypes::kSKETCH;
        return true;
    }
    return false;
}

void CFCPEvtFileInfo::TrySchema(const SearchContext& context, int sectorSize)
{
    // Tried from the sector that holds the first cell on, while the cell is
    // still in memory: a cell at a block's end is read from the next block.
    if (!m_bSchemaPending || m_dwFirstCell >= m_llCurrentOffset + sectorSize)
        return;
    if (SchemaCheck(context))
        m_bSchemaPending = false;
}

bool CFCPEvtFileInfo::HoldsSector(long long sectorNumber, const SearchContext& context)
{
    return (sectorNumber - m_llStartSector) * static_cast<long long>(context.dwSectorSize) < m_llStated;
}

int CFCPEvtFileInfo::End(long long sectorNumber)
{
    if (m_llStated > 0) {
        m_bExactEnd = true;
        return Finish(sectorNumber, m_llStated);
    }
    const long long freePages = m_bSchemaPending ? m_dwFreelistPages : 0;
    long long size = m_llCurrentOffset - static_cast<long long>(m_dwSuspicious) * m_dwPageSize +
                     freePages * m_dwPageSize;
    size = std::clamp<long long>(size, 0, kMaxSize);
    const long long stated = static_cast<long long>(m_dwPageCount) * m_dwPageSize;
    if (m_dwType == DatabaseTypes::kSKETCH && stated > 0 && std::llabs(stated - size) <= 3LL * m_dwPageSize)
        size = std::min(stated, kMaxSize);
    // Free pages at the file's end look like the zero run that follows it;
    // when the header's page count ends among the pages just passed, those
    // pages are the file's own, and cutting them leaves a damaged database.
    if (stated > size && stated <= m_llCurrentOffset)
        size = std::min(stated, kMaxSize);
    return Finish(sectorNumber, size);
}

int CFCPEvtFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                 SearchContext& context)
{
    const long long offset = FedOffset(sector, sectorSize, sectorNumber, 512);
    if (offset < 0)
        return 2;
    m_llCurrentOffset = offset;
    if (m_dwPageSize == 0) {
        m_dwPageSize = BE16(sector + 16);
        if (m_dwPageSize == 1)
            m_dwPageSize = 65536;
        m_dwPageCount = RawReadBE32(sector + 28);
        // The page count is valid while the (nonzero) change counter
        // matches the number it was written with.
        if (m_dwPageSize != 0 && m_dwPageCount != 0 && RawReadBE32(sector + 24) != 0 &&
            RawReadBE32(sector + 92) == RawReadBE32(sector + 24))
            m_llStated = std::min<long long>(static_cast<long long>(m_dwPageCount) * m_dwPageSize, kMaxSize);
        m_dwFreelistPages = RawReadBE32(sector + 36);
        m_dwCellContentStart = BE16(sector + 105);
        m_dwFirstCell = BE16(sector + 108);
        if (m_dwPageSize == 0)
            return GiveUp();
        // With large sectors the first cell may lie in the first one.
        TrySchema(context, sectorSize);
        return 2;
    }
    TrySchema(context, sectorSize);
    if (m_llStated > 0 && offset >= m_llStated) {
        m_bExactEnd = true;
        return Finish(sectorNumber - 1, m_llStated);
    }
    if (offset % m_dwPageSize != 0)
        return 2;
    const unsigned int cells = BE16(sector + 3);
    if (cells >= 26 && cells <= 34) {
        const long long pageSectors = std::max<long long>(1, m_dwPageSize / sectorSize);
        if (context.llBlockEnd - sectorNumber < pageSectors)
            return 2;
        const unsigned char* page = context.bytes(sectorNumber, 0, m_dwPageSize);
        if (page && IsAddressBookPage(page, m_dwPageSize, cells))
            m_dwType = DatabaseTypes::kABCDDB;
    }
    if (offset > kMaxSize)
        return GiveUp();
    switch (sector[0]) {
    case 1: case 2: case 5: case 8: case 10: case 13: case 0x41:
        m_dwRunStarted = m_dwSuspicious = m_dwLastChain = 0;
        return 2;
    case 0: {
        // Overflow and free pages start with the next page's number.
        const unsigned int n = sector[3];
        if (!m_dwRunStarted && n != 0) {
            m_dwRunStarted = 1;
            m_dwLastChain = n;
            ++m_dwSuspicious;
            return 2;
        }
        if (n == m_dwLastChain + 1) {
            m_dwSuspicious = 0;
            m_dwLastChain = n;
            return 2;
        }
        m_dwLastChain = n;
        if (m_dwSuspicious >= kSuspiciousRun)
            return End(sectorNumber);
        if (sector[4] == 0)
            ++m_dwSuspicious;
        else
            m_dwSuspicious = 0;
        return 2;
    }
    default:
        return End(sectorNumber);
    }
}

}  // namespace BruteForce

// ---- Access and Money -------------------------------------------------------------

int FileMDBAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned long long offset = 4096;
    while (offset < kLimit) {
        const unsigned char* page = buffer.GetRawFileBuffer(offset);
        if (!page || page[0] == 0 || RawReadLE16(page) >= 0x0902)
            break;
        offset += 4096;
    }
    info.m_llSize = static_cast<long long>(offset);
    return 1;
}

int FileMNYAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    if (!pBuffer || std::memcmp(pBuffer + 4, "MSISAM Database", 15) != 0)
        return 0;
    info.m_dwType = DatabaseTypes::kMNY;
    info.m_llSize = 0x100000;
    return 1;
}

namespace RawSpeed {

int CMDBAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    static const unsigned char kJet[20] = {0, 1, 0, 0, 'S', 't', 'a', 'n', 'd', 'a',
                                           'r', 'd', ' ', 'J', 'e', 't', ' ', 'D', 'B', 0};
    static const unsigned char kAce[20] = {0, 1, 0, 0, 'S', 't', 'a', 'n', 'd', 'a',
                                           'r', 'd', ' ', 'A', 'C', 'E', ' ', 'D', 'B', 0};
    if (!sector)
        return 0;
    if (std::memcmp(sector, kJet, 20) == 0)
        info.m_dwType = DatabaseTypes::kMDB;
    else if (std::memcmp(sector, kAce, 20) == 0)
        info.m_dwType = DatabaseTypes::kACCDB;
    else
        return 0;
    return 1;
}

int CMDBAnalyser::CMDBRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                                SearchContext& context)
{
    const long long offset = FedOffset(sector, sectorSize, sectorNumber, 512);
    if (offset < 0)
        return 2;
    if (offset > m_llMaxSize)
        return Finish(sectorNumber, offset);
    if (offset < m_llMinSize || offset % m_dwPageSize != 0)
        return 2;
    if (!m_dwPageTypeCheck) {
        // Past an unknown second page the pages are not checked: the file
        // ends where a page's sector ends in zeros.
        return context.dwTrailingZero >= 12 ? Finish(sectorNumber, offset) : 2;
    }
    const unsigned int type = RawReadLE16(sector);
    if (type >= 0x0101 && type <= 0x0109) {
        m_dwEmptyRun = 0;
        if (!m_dwOddPage)
            return 2;
    } else if (type == 0) {
        ++m_dwEmptyRun;
        if (m_dwEmptyRun < kEmptyRunEnd && !m_dwOddPage)
            return 2;
    } else {
        m_dwOddPage = 1;
        if (offset == m_dwPageSize) {
            m_dwPageTypeCheck = 0;
            return 2;
        }
    }
    const long long size =
        m_dwEmptyRun > 0 ? offset - static_cast<long long>(m_dwEmptyRun - 1) * m_dwPageSize : offset;
    return Finish(sectorNumber, size);
}

int JKSAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    static const unsigned char kMagic[4] = {0xFE, 0xED, 0xFE, 0xED};
    if (std::memcmp(pBuffer, kMagic, 4) != 0)
        return 0;
    info.m_dwType = DatabaseTypes::kJKS;
    return 1;
}

int PSAFE3Analyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    auto at = [&](int offset) {
        for (int i = 0; i < 4; ++i)
            if (std::toupper(pBuffer[offset + i]) != "PWS3"[i])
                return false;
        return true;
    };
    if (!at(0) && !at(3))
        return 0;
    info.m_dwType = DatabaseTypes::kPSAFE3;
    return 1;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateFCPEvtAnalyser(unsigned int)
{
    return new BruteForce::CFCPEvtAnalyser();
}

IRawFileAnalyser* CreateMDBAnalyser(unsigned int)
{
    return new RawSpeed::CMDBAnalyser();
}

IRawFileAnalyser* CreateMNYAnalyser(unsigned int)
{
    return new FileMNYAnalyser();
}

IRawFileAnalyser* CreateJKSAnalyser(unsigned int)
{
    return new RawSpeed::JKSAnalyser();
}

IRawFileAnalyser* CreatePSAFE3Analyser(unsigned int)
{
    return new RawSpeed::PSAFE3Analyser();
}
