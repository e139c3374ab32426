#include "MailAnalysers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"
#include "ResultCode.h"

// ---- Outlook and single messages --------------------------------------------------

int FilePSTAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (std::memcmp(pBuffer, "!BDN", 4) != 0)
        return 0;
    long long size = kUnknownVersionSize;
    if (pBuffer[10] == 23)
        size = RawReadLE32(pBuffer + 184);
    else if (pBuffer[10] == 14)
        size = RawReadLE32(pBuffer + 168);
    // A stated size of zero names no file.
    if (size == 0)
        return 0;
    info.m_dwType = MailTypes::kPST;
    info.m_llSize = size;
    return 1;
}

int FileEMLXAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    if (!pBuffer || std::memcmp(pBuffer + 11, "X-QQ-FEAT:", 10) != 0)
        return 0;
    long long length = 0;
    int digits = 0;
    while (digits < 10 && pBuffer[digits] >= '0' && pBuffer[digits] <= '9')
        length = length * 10 + (pBuffer[digits++] - '0');
    if (digits == 0)
        return 0;
    info.m_dwType = MailTypes::kEMLX;
    info.m_llSize = length + 402;
    return 1;
}

// ---- mbox --------------------------------------------------------------------------

int FileMboxAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    if (!pBuffer || std::memcmp(pBuffer, "From ", 5) != 0)
        return 0;
    info.m_dwType = MailTypes::kMBOX;
    return 1;
}

int FileMboxAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    if (!pDevice)
        return 0;
    static const char kDashEnd[] = "--\n\n";
    static const char kAddressEnd[] = ".com>\n\n";
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned long long offset = 0;
    info.m_llSize = 0;
    while (offset <= kLimit) {
        const unsigned char* step = buffer.GetRawFileBuffer(offset);
        if (!step)
            break;
        if (RawReadLE32(step + kStep - 4) != 0) {
            offset += kStep;
            continue;
        }
        auto find = [&](const char* pattern, size_t length) -> long long {
            const unsigned char* hit = std::search(step, step + kStep, pattern, pattern + length);
            return hit == step + kStep ? -1 : hit - step;
        };
        long long at = find(kDashEnd, 4);
        if (at >= 0) {
            long long size = static_cast<long long>(offset) + at + 4;
            // The step's window reaches one sector further, so the two bytes
            // after a match at the step's end are readable.
            if (step[at + 4] == '\n' && step[at + 5] == '\n')
                size += 2;
            info.m_llSize = size;
            return 1;
        }
        at = find(kAddressEnd, 7);
        if (at >= 0) {
            info.m_llSize = static_cast<long long>(offset) + at + 7;
            return 1;
        }
        offset += kStep;
    }
    info.m_llSize = static_cast<long long>(offset);
    return info.m_llSize > 0 ? 1 : 0;
}

// ---- Outlook Express ---------------------------------------------------------------

namespace RawSpeed {

int DbxAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    static const unsigned char kHeaders[5][16] = {
        {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0xC6, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0xC7, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0},
        {0xCF, 0xAD, 0x12, 0xFE, 0x30, 0x9D, 0xFE, 0x26, 0x8F, 0x1A, 0xD2, 0x11, 0xAA, 0xBF, 0x00, 0x60},
        {0xF7, 0x89, 0x34, 0x2C, 0xF7, 0xF0, 0xEE, 0x6D, 0xAF, 0x22, 0x89, 0xD1, 0x00, 0xFF, 0xF0, 0xB0},
    };
    static const unsigned char kJmf[8] = {'J', 'M', 'F', '6', 0x03, 0x00, 0x01, 0x00};
    if (!sector)
        return 0;
    bool known = std::memcmp(sector, kJmf, 8) == 0;
    for (const auto& header : kHeaders)
        known = known || std::memcmp(sector, header, 16) == 0;
    if (!known)
        return 0;
    info.m_dwType = MailTypes::kDBX;
    return 1;
}

int DbxAnalyser::DBXRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    const long long offset = FedOffset(sector, sectorSize, sectorNumber, 128);
    if (offset < 0)
        return 2;
    if (offset > m_llMaxSize)
        return GiveUp();
    if (m_bFirstSector) {
        m_bFirstSector = false;
        m_bZeroTail = sector[0] == 0xF7 && sector[1] == 0x89 && sector[2] == 0x34 && sector[3] == 0x2C;
    }
    if (m_bZeroTail) {
        if (context.dwTrailingZero < 12)
            return 2;
        char name[64];
        std::snprintf(name, sizeof(name), "%lld-%lld.", m_llStartSector, sectorNumber);
        return Finish(sectorNumber, offset + BruteForce::RawUtility::Binary_Compare(sector, sectorSize), name);
    }
    // The header's file-size field (on later sectors the same place is read,
    // which only matters when the first sector was never fed).
    const long long stated = RawReadLE32(sector + 124);
    m_llSize = std::min(m_llMaxSize, stated);
    return 1;
}

}  // namespace RawSpeed

IRawFileAnalyser* CreateDbxAnalyser(unsigned int)
{
    return new RawSpeed::DbxAnalyser();
}

IRawFileAnalyser* CreatePSTAnalyser(unsigned int)
{
    return new FilePSTAnalyser();
}

IRawFileAnalyser* CreateMboxAnalyser(unsigned int)
{
    return new FileMboxAnalyser();
}
