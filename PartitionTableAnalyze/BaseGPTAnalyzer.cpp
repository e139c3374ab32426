#include <algorithm>

#include "PartitionTableInternal.h"

namespace PartitionTableDetail {

namespace {

constexpr size_t kGptEntrySize = 128;
constexpr size_t kGptEntryCount = 128;
constexpr size_t kGptEntriesBytes = kGptEntrySize * kGptEntryCount;
constexpr long long kGptEntriesFirstSector = 2;
// Partitions of at most this size (BIOS boot, reserved areas) hold no volume
// worth offering and are left out.
constexpr uint64_t kGptSmallestListedBytes = 8ULL * 1024 * 1024;

_GUID LoadGuid(const uint8_t* p)
{
    _GUID g;
    g.Data1 = LoadLE32(p);
    g.Data2 = LoadLE16(p + 4);
    g.Data3 = LoadLE16(p + 6);
    std::copy(p + 8, p + 16, g.Data4);
    return g;
}

}  // namespace

// Only the entry array is read: the header at sector 1 and its checksums are
// not checked, so a disk whose header is damaged still shows its partitions.
ResultCode CBaseGPTAnalyzer::AnalyzeBaseGPT()
{
    if (!m_pDisk)
        return PartitionTableError::kNoDisk;
    const unsigned sectorSize = m_pDisk->GetSectorSize();
    if (sectorSize < kMinSectorSize || sectorSize > kMaxSectorSize)
        return PartitionTableError::kSectorSize;
    const long long sectors = static_cast<long long>((kGptEntriesBytes + sectorSize - 1) / sectorSize);
    std::vector<uint8_t> entries;
    if (ResultCode rc = ReadSectors(m_pDisk, entries, kGptEntriesFirstSector, sectors))
        return rc;
    AnalyzeBaseGPTInBuf(entries.data(), std::min(entries.size(), kGptEntriesBytes));
    return 0;
}

void CBaseGPTAnalyzer::AnalyzeBaseGPTInBuf(const uint8_t* buffer, size_t size)
{
    const size_t count = std::min(size / kGptEntrySize, kGptEntryCount);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = buffer + i * kGptEntrySize;
        if (std::all_of(entry, entry + 16, [](uint8_t b) { return b == 0; }))
            continue;
        InsertPartitionInfoToOutList(static_cast<int>(i + 1), entry);
    }
}

void CBaseGPTAnalyzer::InsertPartitionInfoToOutList(int index, const uint8_t* entry)
{
    const long long total = m_pDisk->GetTotalSectors();
    const uint64_t first = LoadLE64(entry + 32);
    const uint64_t last = LoadLE64(entry + 40);
    // A first LBA past the end (or one that would read as negative) is no
    // partition of this disk.
    if (total <= 0 || first >= static_cast<uint64_t>(total))
        return;
    // A last LBA beyond the disk, or before the first, is cut at the disk's end.
    const bool fits = last >= first && last < static_cast<uint64_t>(total);
    const long long count = fits ? static_cast<long long>(last - first + 1) : total - static_cast<long long>(first);
    if (static_cast<uint64_t>(count) <= kGptSmallestListedBytes / m_pDisk->GetSectorSize())
        return;
    PartitionEntry e = MakePartitionEntry(index, static_cast<long long>(first), count);
    e.typeGuid = LoadGuid(entry);
    e.uniqueGuid = LoadGuid(entry + 16);
    m_out.push_back(e);
}

}  // namespace PartitionTableDetail
