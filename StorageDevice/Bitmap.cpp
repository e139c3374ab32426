#include "Bitmap.h"

int TBitmap::GetBit(long long index) const
{
    if (index < 0 || index > m_s64MaxIndex)
        return 0;
    const unsigned long long byte = static_cast<unsigned long long>(index) / 8;
    if (byte >= m_vData.size())
        return 0;
    return (m_vData[byte] >> (index % 8)) & 1;
}
