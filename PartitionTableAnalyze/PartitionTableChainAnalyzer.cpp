#include <unordered_set>

#include "PartitionTableInternal.h"

namespace PartitionTableDetail {

namespace {

constexpr int kLastPrimaryIndex = 4;
// A chain longer than this is damaged or crafted; no partitioning tool makes
// that many logical partitions.
constexpr size_t kMaxExtendedBootRecords = 1024;

const uint8_t* EntryBytes(const std::vector<uint8_t>& sector, size_t i)
{
    return sector.data() + kMbrEntriesOffset + i * CPartitionTableEntry::kSize;
}

// Takes entry i of a boot record; false when its 16 bytes are all zero.
bool LoadEntry(const std::vector<uint8_t>& sector, size_t i, CPartitionTableEntry& entry)
{
    const uint8_t* bytes = EntryBytes(sector, i);
    if (!CPartitionTableEntry::IsValidPartitionTableEntry(bytes))
        return false;
    entry.InitFromBuffer(bytes);
    return true;
}

}  // namespace

ResultCode CPartitionTableChainAnalyzer::CheckBootRecord(const std::vector<uint8_t>& sector, ResultCode noSignature,
                                                         ResultCode badIndicator) const
{
    if (!HasBootSignature(sector))
        return noSignature;
    for (size_t i = 0; i < kMbrEntryCount; ++i) {
        const uint8_t indicator = EntryBytes(sector, i)[0];
        if (indicator != 0x00 && indicator != 0x80)
            return badIndicator;
    }
    return 0;
}

bool CPartitionTableChainAnalyzer::IsListedStart(long long start) const
{
    for (const PartitionEntry& e : m_out)
        if (e.s64StartSector == start)
            return true;
    return false;
}

void CPartitionTableChainAnalyzer::InsertPartitionInfoToOutList(int index, long long start,
                                                                const CPartitionTableEntry& entry)
{
    const long long total = m_pDisk->GetTotalSectors();
    const uint32_t claimed = entry.GetTotalSectors();
    // An empty entry, or one that runs past the disk, keeps the rest of the disk.
    const long long count = claimed < 1 ? total - start : CutCountAtDiskEnd(start, claimed, total);
    m_out.push_back(MakePartitionEntry(index, start, count));
}

ResultCode CPartitionTableChainAnalyzer::AnalyzeMBR()
{
    if (!m_pDisk)
        return PartitionTableError::kNoDiskForChain;
    std::vector<uint8_t> sector;
    if (ResultCode rc = ReadSectors(m_pDisk, sector, 0, 1))
        return rc;
    if (ResultCode rc =
            CheckBootRecord(sector, PartitionTableError::kMbrSignature, PartitionTableError::kMbrBootIndicator))
        return rc;

    const long long total = m_pDisk->GetTotalSectors();
    // Logical partitions are numbered on from the last one listed, so a second
    // extended container does not reuse numbers.
    int lastIndex = kLastPrimaryIndex;
    for (size_t i = 0; i < kMbrEntryCount; ++i) {
        CPartitionTableEntry entry;
        if (!LoadEntry(sector, i, entry))
            continue;
        const long long start = entry.GetLeadSectors();
        if (start >= total)
            continue;
        if (entry.IsExtenedPartition()) {
            if (ResultCode rc = AnalyzeEMBR(start, start, lastIndex))
                return rc;
            continue;
        }
        InsertPartitionInfoToOutList(static_cast<int>(i + 1), start, entry);
    }
    return 0;
}

ResultCode CPartitionTableChainAnalyzer::AnalyzeEMBR(long long extendedStart, long long ebrSector, int& lastIndex)
{
    if (!m_pDisk)
        return PartitionTableError::kNoDiskForChain;
    const long long total = m_pDisk->GetTotalSectors();
    // A chain whose link leads back to an EBR already read would never end;
    // it stops there, and what was listed stands.
    std::unordered_set<long long> visited;
    std::vector<uint8_t> sector;
    for (;;) {
        if (ebrSector >= total || visited.size() >= kMaxExtendedBootRecords || !visited.insert(ebrSector).second)
            return 0;
        if (ResultCode rc = ReadSectors(m_pDisk, sector, ebrSector, 1))
            return rc;
        if (ResultCode rc =
                CheckBootRecord(sector, PartitionTableError::kEbrSignature, PartitionTableError::kEbrBootIndicator))
            return rc;

        long long next = -1;
        for (size_t i = 0; i < kMbrEntryCount; ++i) {
            CPartitionTableEntry entry;
            if (!LoadEntry(sector, i, entry))
                continue;
            const long long start = ebrSector + entry.GetLeadSectors();
            if (IsListedStart(start))
                break;
            if (entry.IsExtenedPartition()) {
                if (next >= 0)
                    return PartitionTableError::kEbrTwoLinks;
                // Links count from the start of the extended container.
                next = extendedStart + entry.GetLeadSectors();
                continue;
            }
            if (start >= total)
                continue;
            InsertPartitionInfoToOutList(++lastIndex, start, entry);
        }
        if (next < 0)
            return 0;
        ebrSector = next;
    }
}

}  // namespace PartitionTableDetail
