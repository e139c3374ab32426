#include <cstring>

#include "PartitionTableInternal.h"
#include "TextUtil.h"

namespace PartitionTableDetail {

namespace {

constexpr uint16_t kDriverMapSignature = 0x4552;  // "ER"
constexpr uint16_t kMapSignature = 0x504D;        // "PM"
constexpr uint16_t kOldMapSignature = 0x5453;     // "TS"
constexpr uint32_t kMaxMapEntries = 31;
constexpr size_t kMapTypeOffset = 48;
constexpr size_t kMapTypeLength = 32;

bool HasMapSignature(const std::vector<uint8_t>& sector)
{
    const uint16_t signature = LoadBE16(sector.data());
    return signature == kMapSignature || signature == kOldMapSignature;
}

}  // namespace

ResultCode CAPMAnaly::AnalyzePartition(std::list<PartitionEntry>& out)
{
    if (!m_pDevice)
        return PartitionTableError::kNoDiskForApm;
    m_dwSectorSize = m_pDevice->GetSectorSize();
    if (m_dwSectorSize == 0 || m_dwSectorSize % 512 != 0)
        return PartitionTableError::kApmSectorSize;
    if (m_dwSectorSize > kMaxSectorSize)
        return PartitionTableError::kSectorSize;
    if (ResultCode rc = GetSectorsPerBlock())
        return rc;
    if (ResultCode rc = GetPartCount())
        return rc;
    return AnalyzePartitionTable(out);
}

// The driver descriptor map in block 0 gives the map's block size.
ResultCode CAPMAnaly::GetSectorsPerBlock()
{
    if (ResultCode rc = ReadSectors(m_pDevice, m_sector, 0, 1))
        return rc;
    if (LoadBE16(m_sector.data()) != kDriverMapSignature)
        return PartitionTableError::kApmNoDriverMap;
    m_dwSectorsPerBlock = LoadBE16(m_sector.data() + 2) / m_dwSectorSize;
    return 0;
}

// Every map entry repeats the entry count; the first one is taken.
ResultCode CAPMAnaly::GetPartCount()
{
    if (ResultCode rc = ReadSectors(m_pDevice, m_sector, m_dwSectorsPerBlock, 1))
        return rc;
    if (!HasMapSignature(m_sector))
        return PartitionTableError::kApmNoPartitionMap;
    const uint32_t count = LoadBE32(m_sector.data() + 4);
    if (count > kMaxMapEntries)
        return PartitionTableError::kApmTooManyEntries;
    m_dwEntryCount = count;
    return 0;
}

// Lists every entry, the map itself and free space included; a failed read
// ends the walk and keeps what was listed before it.
ResultCode CAPMAnaly::AnalyzePartitionTable(std::list<PartitionEntry>& out)
{
    const long long total = m_pDevice->GetTotalSectors();
    const uint64_t spb = m_dwSectorsPerBlock;
    for (uint32_t k = 1; k <= m_dwEntryCount; ++k) {
        if (ResultCode rc = ReadSectors(m_pDevice, m_sector, static_cast<long long>(k * spb), 1))
            return rc;
        if (!HasMapSignature(m_sector))
            continue;
        const uint64_t start = LoadBE32(m_sector.data() + 8) * spb;
        const uint64_t count = LoadBE32(m_sector.data() + 12) * spb;
        if (total <= 0 || start >= static_cast<uint64_t>(total))
            continue;
        PartitionEntry e = MakePartitionEntry(static_cast<int>(k), static_cast<long long>(start),
                                              CutCountAtDiskEnd(start, count, total));
        char type[kMapTypeLength + 1] = {};
        std::memcpy(type, m_sector.data() + kMapTypeOffset, kMapTypeLength);
        CopyTextField(e.szTypeName, type);
        out.push_back(e);
    }
    return 0;
}

}  // namespace PartitionTableDetail
