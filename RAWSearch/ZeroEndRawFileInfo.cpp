#include "ZeroEndRawFileInfo.h"

#include <algorithm>
#include <cstring>

CZeroEndRawFileInfo::CZeroEndRawFileInfo(unsigned long long maxSize, unsigned int zeroUnit)
    : m_u64MaxSize(maxSize), m_dwZeroUnit(std::clamp(zeroUnit, 1u, 4u))
{
}

bool CZeroEndRawFileInfo::SetEndPattern(const unsigned char* pattern, unsigned int length)
{
    if (!pattern || length > sizeof(m_byEndPattern))
        return false;
    std::memset(m_byEndPattern, 0, sizeof(m_byEndPattern));
    std::memcpy(m_byEndPattern, pattern, length);
    m_wEndPatternLength = static_cast<unsigned short>(length);
    return true;
}

bool CZeroEndRawFileInfo::CapReached()
{
    if (m_llSize >= 0 && static_cast<unsigned long long>(m_llSize) >= m_u64MaxSize) {
        m_llSize = static_cast<long long>(m_u64MaxSize);
        return true;
    }
    return false;
}

int CZeroEndRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long, SearchContext& context)
{
    if (!sector || sectorSize <= 0)
        return 2;
    // The cap holds in every sector: over data without zero tails the
    // candidate would otherwise swallow everything that follows it.
    if (static_cast<unsigned long long>(m_llSize) < m_u64CheckStart) {
        m_llSize += sectorSize;
        return CapReached() ? 1 : 2;
    }
    const unsigned int z = std::min<unsigned int>(context.dwTrailingZero, static_cast<unsigned int>(sectorSize));
    if (z == 0) {
        m_llSize += sectorSize;
        return CapReached() ? 1 : 2;
    }
    const int dataEnd = z >= 32 ? extraZeroPos(sector, sectorSize, z) : sectorSize - static_cast<int>(z);
    m_llSize += dataEnd;
    if (CapReached())
        return 1;
    if (m_wEndPatternLength == 0)
        return 1;
    return foundEndByte(sector, sectorSize);
}

int CZeroEndRawFileInfo::extraZeroPos(const unsigned char* sector, int sectorSize, unsigned int z) const
{
    const int unit = static_cast<int>(m_dwZeroUnit);
    if (!sector || sectorSize <= 0 || z > static_cast<unsigned int>(sectorSize))
        return 0;
    auto unitIsZero = [&](int u) {
        for (int i = 0; i < unit; ++i) {
            int pos = u * unit + i;
            if (pos < sectorSize && sector[pos] != 0)
                return false;
        }
        return true;
    };
    int lo = 0;
    int hi = (sectorSize - static_cast<int>(z)) / unit;
    while (hi - lo > 1) {
        int mid = lo + (hi - lo) / 2;
        if (unitIsZero(mid))
            hi = mid;
        else
            lo = mid;
    }
    int pos = std::min((hi + 1) * unit, sectorSize - 1);
    while (pos >= 0 && sector[pos] == 0)
        --pos;
    return pos + 1;
}

int CZeroEndRawFileInfo::foundEndByte(const unsigned char* sector, int sectorSize)
{
    const int len = m_wEndPatternLength;
    const int offset = static_cast<int>(m_llSize % sectorSize);
    const long long sectorStart = m_llSize - offset;
    const int from = std::max(offset - len, 0);
    const int to = std::min(offset + len, sectorSize);
    for (int pos = from; pos < to && pos + len <= sectorSize; ++pos) {
        if (std::memcmp(sector + pos, m_byEndPattern, static_cast<size_t>(len)) == 0) {
            m_llSize = sectorStart + pos + len;
            return 1;
        }
    }
    // No end here: the zero run lies inside the file. The rest of this
    // sector belongs to the file, so the size moves on to the next sector's
    // start (keeping it at the data end would undercount every later byte).
    m_llSize = sectorStart + sectorSize;
    m_u64CheckStart = static_cast<unsigned long long>(m_llSize);
    return CapReached() ? 1 : 2;
}
