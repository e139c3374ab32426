#include "PsdAnalyser.h"

#include <algorithm>
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

bool PSDAnalyser::PSDRawFileInfo::HoldsSector(long long sectorNumber, const SearchContext& context)
{
    return !m_bLayerPending && (sectorNumber - m_llStartSector) * context.dwSectorSize < m_llNextPos - 2;
}

int PSDAnalyser::PSDRawFileInfo::WalkImageData(const SearchContext& context)
{
    if (m_llStructEnd != 0)
        return 0;
    const unsigned char* p = nullptr;
    if (m_iCompression < 0) {
        if (const int answer = NeedRawRecord(*this, context, m_llNextPos - 2, 2, &p))
            return answer;
        m_iCompression = ReadBE16(p);
        if (m_iCompression > 1 || m_llRows <= 0 || m_llRowBytes <= 0 || m_llRows > m_llMaxSize / m_llRowBytes) {
            m_llStructEnd = -1;
            return 0;
        }
    }
    const long long limit = m_llMaxSize;
    if (m_iCompression == 0) {
        const long long data = m_llRows * m_llRowBytes;
        m_llStructEnd = data <= limit - m_llNextPos ? m_llNextPos + data : -1;
        return 0;
    }
    // Run-length rows: a table of 16-bit byte counts, one per row, then the
    // rows.
    while (m_llRowsSummed < m_llRows) {
        const long long n = std::min<long long>(m_llRows - m_llRowsSummed, 256);
        const RawRecordPlace place =
            LocateRawRecord(context, m_llStartSector, m_llNextPos + 2 * m_llRowsSummed, 2 * n, &p);
        if (place == RawRecordPlace::NotYet)
            return 0;
        if (place == RawRecordPlace::Gone) {
            m_llStructEnd = -1;
            return 0;
        }
        for (long long k = 0; k < n; ++k)
            m_llPackedBytes += ReadBE16(p + 2 * k);
        m_llRowsSummed += n;
    }
    const long long end = m_llNextPos + 2 * m_llRows + m_llPackedBytes;
    m_llStructEnd = end <= limit ? end : -1;
    return 0;
}

int PSDAnalyser::PSDRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector || sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long offset = (sectorNumber - m_llStartSector) * ss;
    if (offset == 0 && ss >= 26) {
        const long long channels = ReadBE16(sector + 12);
        const long long depth = ReadBE16(sector + 22);
        if (channels >= 1 && channels <= 56 && (depth == 1 || depth == 8 || depth == 16 || depth == 32)) {
            m_llRows = channels * static_cast<long long>(RawReadBE32(sector + 14));
            m_llRowBytes = (static_cast<long long>(RawReadBE32(sector + 18)) * depth + 7) / 8;
        }
    }
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
    if (m_bColorModePending || m_bResourcesPending || m_bLayerPending)
        return 2;
    if (m_llStructEnd >= 0) {
        if (const int answer = WalkImageData(context))
            return answer;
    }
    long long end = m_llStructEnd;
    if (end > 0) {
        if (offset + ss < end)
            return 2;
        m_bExactEnd = true;
        sectorNumber = m_llStartSector + (end - 1) / ss;
    } else {
        if (offset <= m_llNextPos || context.dwTrailingZero < kZeroTail)
            return 2;
        end = offset + BruteForce::RawUtility::Binary_Compare(sector, sectorSize);
    }
    m_llSize = end;
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld", m_llStartSector, sectorNumber);
    SetRawFileName(name);
    return 1;
}

}  // namespace RawSpeed
