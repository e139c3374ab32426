#include "RawFileInfo.h"

#include <utility>

#include "FileNameFilter.h"

int CRawFileInfo::CalcRawSize(unsigned char*, int, long long, SearchContext&)
{
    return 2;
}

void CRawFileInfo::SetRawFileName(std::string name)
{
    m_strName = ApiStrFilterBadFileName(std::move(name));
}

std::string CRawFileInfo::GetRawFileName()
{
    m_strName = ApiStrFilterBadFileName(std::move(m_strName));
    return m_strName;
}

void CRawFileInfo::SetRawFileTagAndValue(RAW_FILE_TAG tag, std::string value)
{
    m_eTag = tag;
    m_strTagValue = ApiStrFilterBadFileName(std::move(value));
}

void CRawFileInfo::GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value)
{
    tag = m_eTag;
    value = ApiStrFilterBadFileName(m_strTagValue);
}

// ---- SearchContext ----------------------------------------------------------

const unsigned char* CRawFileInfo::SearchContext::bytes(long long absSector, long long offset, long long length) const
{
    if (!pBlockBase || length <= 0 || dwSectorSize == 0)
        return nullptr;
    if (absSector < llLookBackStart || absSector > llBlockEnd || llLookBackStart < llBaseSector)
        return nullptr;
    // 128-bit arithmetic: offsets and lengths come from file contents.
    const __int128 ss = dwSectorSize;
    const __int128 begin = (static_cast<__int128>(absSector) - llBaseSector) * ss + offset;
    const __int128 lo = (static_cast<__int128>(llLookBackStart) - llBaseSector) * ss;
    const __int128 hi = (static_cast<__int128>(llBlockEnd) - llBaseSector) * ss;
    if (begin < lo || begin + length > hi)
        return nullptr;
    return pBlockBase + static_cast<long long>(begin);
}

unsigned int CRawFileInfo::SearchContext::CountLeadingZero(const unsigned char* sector, unsigned int sectorSize)
{
    if (!sector || sectorSize < 4)
        return 0;
    return (sector[0] | sector[1] | sector[2] | sector[3]) == 0 ? 4 : 0;
}

unsigned int CRawFileInfo::SearchContext::CountTrailingZero(const unsigned char* sector, unsigned int sectorSize)
{
    if (!sector)
        return 0;
    unsigned int words = 0;
    unsigned int end = sectorSize;
    while (words < 8 && end >= 4) {
        const unsigned char* w = sector + end - 4;
        if (w[0] | w[1] | w[2] | w[3])
            break;
        ++words;
        end -= 4;
    }
    return words * 4;
}

void CRawFileInfo::SearchContext::SetZeroCounts(const unsigned char* sector, unsigned int sectorSize)
{
    dwLeadingZero = CountLeadingZero(sector, sectorSize);
    dwTrailingZero = CountTrailingZero(sector, sectorSize);
}
