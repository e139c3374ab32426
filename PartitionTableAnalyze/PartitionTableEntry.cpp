#include <cstring>

#include "PartitionTableInternal.h"

using namespace PartitionTableDetail;

void CPartitionTableEntry::InitFromBuffer(const void* buffer)
{
    VANTREL_ASSERT(buffer != nullptr);
    const auto* p = static_cast<const uint8_t*>(buffer);
    m_byBootIndicator = p[0];
    std::memcpy(m_byStartChs, p + 1, sizeof m_byStartChs);
    m_byType = p[4];
    std::memcpy(m_byEndChs, p + 5, sizeof m_byEndChs);
    m_dwLeadSectors = LoadLE32(p + 8);
    m_dwTotalSectors = LoadLE32(p + 12);
}

bool CPartitionTableEntry::IsValidPartitionTableEntry(const void* buffer)
{
    VANTREL_ASSERT(buffer != nullptr);
    const auto* p = static_cast<const uint8_t*>(buffer);
    for (unsigned i = 0; i < kSize; ++i)
        if (p[i] != 0)
            return true;
    return false;
}

long long CPartitionTableEntry::GetEndSector() const
{
    return static_cast<long long>(m_dwLeadSectors) + static_cast<long long>(m_dwTotalSectors) - 1;
}

bool CPartitionTableEntry::IsExtenedPartition() const
{
    return m_byType == 0x05 || m_byType == 0x0F || m_byType == 0x85;
}
