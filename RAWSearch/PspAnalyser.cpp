#include "PspAnalyser.h"

#include <cstdio>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawWalkRecord.h"
#include "ResultCode.h"

namespace {

constexpr unsigned char kSignature[32] = {'P', 'a', 'i', 'n', 't', ' ', 'S', 'h', 'o', 'p', ' ',
                                          'P', 'r', 'o', ' ', 'I', 'm', 'a', 'g', 'e', ' ', 'F',
                                          'i', 'l', 'e', 0x0A, 0x1A, 0, 0, 0, 0, 0};
// The block marker, the block's id (2 bytes) and its length (4 bytes).
constexpr long long kBlockHeader = 10;

}  // namespace

bool IsPspBlock(const unsigned char* p)
{
    return p[0] == 0x7E && p[1] == 0x42 && p[2] == 0x4B && p[3] == 0x00;
}

IRawFileAnalyser* CreatePSPAnalyser(unsigned int)
{
    return new RawSpeed::PSPAnalyser;
}

int FilePSPAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (std::memcmp(pBuffer, kSignature, sizeof(kSignature)) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

int FilePSPAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    if (info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    long long pos = kFirstBlock;
    while (pos <= kMaxWalk) {
        const unsigned char* p = buffer.GetRawFileBuffer(static_cast<unsigned long long>(pos));
        if (!p)
            return 0;
        if (!IsPspBlock(p))
            break;
        pos += static_cast<long long>(RawReadLE32(p + 6)) + kBlockHeader;
    }
    if (pos < 512)
        return 0;
    info.m_llSize = pos;
    return 1;
}

namespace RawSpeed {

int PSPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, kSignature, sizeof(kSignature)) != 0)
        return 0;
    info.m_dwType = FilePSPAnalyser::kType;
    return 1;
}

CRawFileInfo* PSPAnalyser::CreateRawFileInfo()
{
    return new PSPRawFileInfo(&m_Fallback);
}

void PSPAnalyser::PSPRawFileInfo::WillBeRemove(unsigned char*, long long)
{
    m_pOwner = m_pFallback;
}

int PSPAnalyser::PSPRawFileInfo::End(long long size, long long sectorNumber)
{
    m_llSize = size;
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld.", m_llStartSector, sectorNumber);
    SetRawFileName(name);
    return 1;
}

int PSPAnalyser::PSPRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector || sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long offset = (sectorNumber - m_llStartSector) * ss;
    m_bFirstSector = false;
    if (offset > m_llMaxSize)
        return End(m_llNextBlock, sectorNumber);
    // Every block header that starts in this sector or before is read once
    // its ten bytes are in memory.
    while (m_llNextBlock < offset + ss) {
        const unsigned char* p = nullptr;
        if (const int answer = NeedRawRecord(*this, context, m_llNextBlock, kBlockHeader, &p))
            return answer;
        if (!IsPspBlock(p))
            return End(m_llNextBlock, sectorNumber);
        m_llNextBlock += static_cast<long long>(RawReadLE32(p + 6)) + kBlockHeader;
    }
    return 2;
}

}  // namespace RawSpeed
