#include "PsdAnalyser.h"

#include <cstdio>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawWalkRecord.h"
#include "RawUtility.h"
#include "ResultCode.h"

namespace {

uint16_t ReadBE16(const unsigned char* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool HasPsdHeader(const unsigned char* p)
{
    static const unsigned char kZeros[6] = {};
    return p[4] == 0 && p[5] == 1 && std::memcmp(p + 6, kZeros, 6) == 0;
}

}  // namespace

IRawFileAnalyser* CreatePSDAnalyser(unsigned int)
{
    return new RawSpeed::PSDAnalyser;
}

int FilePSDAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    info.m_dwType = kType;
    return 1;
}

int FilePSDAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    if (info.m_llStartSector < 0)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    const unsigned char* head = buffer.GetRawFileBuffer(0);
    if (!head || !HasPsdHeader(head))
        return 0;
    const long long channels = ReadBE16(head + 12);
    const long long height = RawReadBE32(head + 14);
    const long long width = RawReadBE32(head + 18);
    const long long depth = ReadBE16(head + 22);
    long long p = static_cast<long long>(RawReadBE32(head + 26)) + 30;
    // Image resources, then the layer section: each a length field and the
    // data it counts.
    for (int section = 0; section < 2; ++section) {
        const unsigned char* length = buffer.GetRawFileBuffer(static_cast<unsigned long long>(p));
        if (!length)
            return 0;
        p += 4 + static_cast<long long>(RawReadBE32(length));
    }
    const unsigned char* compression = buffer.GetRawFileBuffer(static_cast<unsigned long long>(p));
    if (!compression)
        return 0;
    const long long rows = height * channels;
    switch (ReadBE16(compression)) {
    case 1: {
        if (rows == 0 || p >= 0xCFFFFFF) {
            info.m_llSize = p + 2;
            return 1;
        }
        // The walk stops once the sum or the position passes the limit;
        // the window is fetched once per sector, not per row.
        const long long s = pDevice->GetSectorSize() ? pDevice->GetSectorSize() : 512;
        long long sum = 0;
        const unsigned char* window = nullptr;
        long long windowAt = 0;
        for (long long row = 0; row < rows && sum <= kMaxWalk; ++row) {
            const long long at = p + 2 + 2 * row;
            if (at > kMaxWalk)
                break;
            if (!window || at + 2 > windowAt + s) {
                window = buffer.GetRawFileBuffer(static_cast<unsigned long long>(at));
                if (!window)
                    return 0;
                windowAt = at;
            }
            sum += ReadBE16(window + (at - windowAt));
        }
        info.m_llSize = p + 2 + 2 * rows + sum;
        return 1;
    }
    case 0: {
        // Header fields can claim more than 64 bits hold.
        const __int128 size = static_cast<__int128>(p) + 2 + static_cast<__int128>(rows) * width * depth / 8;
        if (size > 0x7FFFFFFFFFFFFFFFLL)
            return 0;
        info.m_llSize = static_cast<long long>(size);
        return 1;
    }
    default:
        return 0;
    }
}

namespace RawSpeed {

int PSDAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector, "8BPS", 4) != 0 || !HasPsdHeader(sector))
        return 0;
    info.m_dwType = FilePSDAnalyser::kType;
    return 1;
}

CRawFileInfo* PSDAnalyser::CreateRawFileInfo()
{
    return new PSDRawFileInfo(&m_Fallback);
}

void PSDAnalyser::PSDRawFileInfo::WillBeRemove(unsigned char*, long long)
{
    m_pOwner = m_pFallback;
}

int PSDAnalyser::PSDRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector || sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long offset = (sectorNumber - m_llStartSector) * ss;
    if (offset > 5 * m_llMaxSize) {
        m_llSize = 0;
        return 1;
    }
    // The section lengths are read as soon as their four bytes are in
    // memory, also when one starts on a sector's first byte or runs into
    // the next sector.
    while ((m_bColorModePending || m_bResourcesPending || m_bLayerPending) && m_llNextPos < offset + ss) {
        const unsigned char* p = nullptr;
        if (m_bColorModePending) {
            if (LocateRawRecord(context, m_llStartSector, 26, 4, &p) != RawRecordPlace::InMemory) {
                m_llSize = 0;
                return 1;
            }
            m_llNextPos += RawReadBE32(p);
            m_bColorModePending = false;
            continue;
        }
        if (const int answer = NeedRawRecord(*this, context, m_llNextPos, 4, &p))
            return answer;
        if (m_bResourcesPending) {
            m_dwImageResourcesLength = RawReadBE32(p);
            m_llNextPos += static_cast<long long>(m_dwImageResourcesLength) + 4;
            m_bResourcesPending = false;
        } else {
            m_dwLayerSectionLength = RawReadBE32(p);
            // The length field and the image data's compression field.
            m_llNextPos += static_cast<long long>(m_dwLayerSectionLength) + 6;
            m_bLayerPending = false;
        }
    }
    if (m_bColorModePending || m_bResourcesPending || m_bLayerPending || offset <= m_llNextPos ||
        context.dwTrailingZero < kZeroTail)
        return 2;
    m_llSize = offset + BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld", m_llStartSector, sectorNumber);
    SetRawFileName(name);
    return 1;
}

}  // namespace RawSpeed
