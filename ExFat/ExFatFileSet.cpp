#include "ExFatFileSet.h"

#include <algorithm>
#include <cstring>

#include "ExFatDirEntry.h"

namespace {

// Largest power of two that divides value (0 for 0).
uint64_t LowestBit(uint64_t value) { return value & (~value + 1); }

uint64_t RoundUpPow2(uint64_t value)
{
    uint64_t p = 1;
    while (p < value)
        p <<= 1;
    return p;
}

bool AllZero(const uint8_t* p, size_t from, size_t to)
{
    for (size_t i = from; i <= to; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// CFileSet

void CFileSet::AddRecord(const _tagFileBaseInfo& record)
{
    const uint32_t cluster = record.dwFirstCluster;
    // A first cluster of 0 means "no cluster" (an empty file): it says
    // nothing about where the volume's clusters lie.
    if (cluster >= 2 && cluster <= kExFatLastValidCluster) {
        m_dwMinCluster = std::min(m_dwMinCluster, cluster);
        m_dwMaxCluster = std::max(m_dwMaxCluster, cluster);
    }
    if (record.IsDirectory() && record.u64DataLength != 0) {
        const uint64_t bound = LowestBit(record.u64DataLength);
        if (bound < m_dwMaxClusterSize)
            m_dwMaxClusterSize = static_cast<uint32_t>(bound);
    }
    if (record.u8InUse) {
        // Before the first record with a higher cluster, that is after the
        // last one with a cluster not above it; searched from the back, as
        // files mostly arrive in cluster order.
        auto at = std::find_if(m_listInUse.rbegin(), m_listInUse.rend(),
                               [cluster](const _tagFileBaseInfo& r) { return r.dwFirstCluster <= cluster; });
        m_listInUse.insert(at.base(), record);
        if (record.IsDirectory() && cluster >= 2 && cluster <= kExFatLastValidCluster)
            m_vecFolderClusters.push_back(cluster);
    } else {
        m_listDeleted.push_back(record);
    }
}

void CFileSet::CalculateClusterSize(unsigned int sectorShift)
{
    // A contiguous file fills the clusters up to the next file's first
    // cluster at most, so a cluster holds at least its length spread over
    // them. The bound starts at one sector.
    constexpr uint64_t kCap = uint64_t{kInitialMaxClusterBytes} << 1;
    uint64_t lower = uint64_t{1} << sectorShift;
    const _tagFileBaseInfo* previous = nullptr;
    for (const _tagFileBaseInfo& record : m_listInUse) {
        if (record.dwFirstCluster < 2 || record.dwFirstCluster > kExFatLastValidCluster)
            continue;
        if (previous && previous->u8NoFatChain && previous->u64DataLength != 0 &&
            record.dwFirstCluster > previous->dwFirstCluster) {
            const uint64_t distance = record.dwFirstCluster - previous->dwFirstCluster;
            const uint64_t spread = previous->u64DataLength / distance + (previous->u64DataLength % distance ? 1 : 0);
            lower = std::max(lower, RoundUpPow2(std::min(spread, kCap)));
        }
        previous = &record;
    }
    const uint64_t minBytes = std::max<uint64_t>(m_dwMinClusterSize, lower);
    m_dwMinClusterSize = static_cast<uint32_t>(std::max<uint64_t>(1, std::min(minBytes, kCap) >> sectorShift));
    m_dwMaxClusterSize = static_cast<uint32_t>(uint64_t{m_dwMaxClusterSize} >> sectorShift);
}

// ---------------------------------------------------------------------------
// CFDTPreAnaylze

CFDTPreAnaylze::CFDTPreAnaylze() : m_pCurrent(std::make_unique<CFileSet>()) {}

void CFDTPreAnaylze::PrepareAnayze(unsigned int sectorShift, unsigned int clusterShift,
                                   unsigned long long deviceSectors)
{
    Clear();
    m_dwSectorShift = sectorShift;
    m_dwClusterShift = clusterShift;
    m_u64DeviceSectors = deviceSectors;
    m_dwEntriesPerSector = (1u << sectorShift) / kExFatEntrySize;
    m_analyze.PrepareAnayze(sectorShift, clusterShift, deviceSectors);
    m_joint.PrepareAnayze(sectorShift, clusterShift, deviceSectors);
}

void CFDTPreAnaylze::Clear()
{
    m_mapNotEnded.clear();
    m_mapAbridgedHeads.clear();
    m_mapJoins.clear();
    m_mapJoinsReverse.clear();
    ResetCurrent();
}

bool CFDTPreAnaylze::IsDirectoryEntryType(uint8_t type)
{
    switch (type) {
    case EXFAT_ENTRY_FILE:
    case EXFAT_ENTRY_FILE_DELETED:
    case EXFAT_ENTRY_STREAM:
    case EXFAT_ENTRY_STREAM_DELETED:
    case EXFAT_ENTRY_NAME:
    case EXFAT_ENTRY_NAME_DELETED:
    case EXFAT_ENTRY_LABEL:
    case EXFAT_ENTRY_NO_LABEL:
    case EXFAT_ENTRY_BITMAP:
    case EXFAT_ENTRY_UPCASE:
        return true;
    default:
        return false;
    }
}

void CFDTPreAnaylze::ResetCurrent()
{
    if (!m_bCurrentFresh || !m_pCurrent) {
        m_pCurrent = std::make_unique<CFileSet>();
        m_bCurrentFresh = true;
    }
    m_analyze.ClearEntrySet();
    m_analyze.GetFileList().clear();
}

long long CFDTPreAnaylze::GetNext(long long firstSector) const
{
    auto it = m_mapJoins.find(firstSector);
    return it == m_mapJoins.end() ? -1 : it->second;
}

long long CFDTPreAnaylze::GetLast(long long firstSector) const
{
    auto it = m_mapJoinsReverse.find(firstSector);
    return it == m_mapJoinsReverse.end() ? -1 : it->second;
}

std::unique_ptr<CFileSet> CFDTPreAnaylze::GetFileSet()
{
    if (!m_pCurrent->HasFiles() && !m_pCurrent->IsRoot())
        return nullptr;
    m_pCurrent->CalculateClusterSize(m_dwSectorShift);
    std::unique_ptr<CFileSet> out = std::move(m_pCurrent);
    m_bCurrentFresh = false;
    ResetCurrent();
    return out;
}

void CFDTPreAnaylze::TakeFinishedRecords(CEFDTAnalyze& analyze)
{
    std::list<_tagFileBaseInfo>& done = analyze.GetFileList();
    for (const _tagFileBaseInfo& record : done)
        m_pCurrent->AddRecord(record);
    done.clear();
}

bool CFDTPreAnaylze::Feed(const uint8_t* entry, long long sector)
{
    const bool ok = m_analyze.Analyze(entry, kExFatEntrySize, sector);
    TakeFinishedRecords(m_analyze);
    return ok;
}

bool CFDTPreAnaylze::Analyze(long long s, const uint8_t* sector, size_t available)
{
    const size_t sectorBytes = size_t{1} << m_dwSectorShift;
    if (!sector || available < sectorBytes)
        return true;
    // Most sectors are no directory: a first entry of no type a set holds
    // ends the sector at once, and a new set stays as it is.
    if (m_bCurrentFresh && !IsDirectoryEntryType(sector[0]))
        return true;
    // A set is one run of consecutive sectors: a set kept without files
    // does not reach over a gap to the next directory sector.
    if (!m_pCurrent->IsEmpty() && s != m_pCurrent->EndSector())
        ResetCurrent();
    m_bCurrentFresh = false;  // the walk below changes the set

    CFileSet& set = *m_pCurrent;
    const bool fresh = set.IsEmpty();
    const long long key = fresh ? s : set.m_s64FirstSector;
    const size_t entries = m_dwEntriesPerSector;
    size_t accepted = 0;
    bool ended = false;

    for (size_t i = 0; i < entries && !ended; ++i) {
        const uint8_t* raw = sector + i * kExFatEntrySize;
        const _tagExFatDirEntry& entry = *_tagExFatDirEntry::At(raw);
        bool ok = true;
        switch (entry.Type()) {
        case EXFAT_ENTRY_FILE:
        case EXFAT_ENTRY_FILE_DELETED:
            if (!IsValidFileEntry(entry)) {
                ok = false;
                break;
            }
            if (entry.SecondaryCount() + 1u > entries - i &&
                CheckAndRecordNotEnd(s, sector, i, available, key)) {
                ++accepted;
                ended = true;  // the rest of the sector belongs to the cut set
                continue;
            }
            ok = Feed(raw, s);
            break;
        case EXFAT_ENTRY_STREAM:
        case EXFAT_ENTRY_STREAM_DELETED:
        case EXFAT_ENTRY_NAME:
        case EXFAT_ENTRY_NAME_DELETED:
            ok = Feed(raw, s);
            // The tail of an entry set whose file entry lies elsewhere.
            if (ok && i == 0 && fresh)
                set.m_dwFlags |= CFileSet::kAbridged;
            break;
        case EXFAT_ENTRY_LABEL:
        case EXFAT_ENTRY_NO_LABEL:
            ok = !(set.m_dwFlags & CFileSet::kLabel) && IsValidVolumeLabelEntry(entry);
            if (ok) {
                set.m_dwFlags |= CFileSet::kLabel;
                set.m_strLabel.clear();
                for (size_t c = 0; c < entry.CharacterCount(); ++c)
                    set.m_strLabel.push_back(entry.LabelChar(c));
                m_analyze.ClearEntrySet();
            }
            break;
        case EXFAT_ENTRY_BITMAP:
        case EXFAT_ENTRY_UPCASE: {
            const bool bitmap = entry.Type() == EXFAT_ENTRY_BITMAP;
            const uint32_t flag = bitmap ? CFileSet::kBitmap : CFileSet::kUpcase;
            const uint32_t first = exfatle::Load32(raw + 20);
            const uint64_t length = exfatle::Load64(raw + 24);
            ok = !(set.m_dwFlags & flag) && first >= 2 && first <= kExFatLastValidCluster &&
                 (length >> m_dwSectorShift) < m_u64DeviceSectors &&
                 (length >> m_dwClusterShift) + first <= kExFatLastValidCluster &&
                 (bitmap ? AllZero(raw, 2, 19) : (AllZero(raw, 1, 3) && AllZero(raw, 8, 19)));
            if (!ok)
                break;
            set.m_dwFlags |= flag;
            set.m_dwRootEstimate = std::max(set.m_dwRootEstimate, first + 1);
            if (bitmap) {
                set.m_dwTotalClusters = static_cast<uint32_t>(std::min<uint64_t>(length * 8, 0xFFFFFFFFu));
            } else {
                set.m_dwUpcaseCluster = first;
                set.m_u64UpcaseLength = length;
            }
            m_analyze.ClearEntrySet();
            break;
        }
        default:
            ok = false;  // 0x00 and every entry type not handled end the sector
            break;
        }
        if (!ok)
            ended = true;
        else
            ++accepted;
    }

    if (accepted > 0) {
        if (fresh) {
            set.m_s64FirstSector = s;
            set.m_dwSectorCount = 1;
        } else {
            ++set.m_dwSectorCount;
        }
        if (set.IsAbridged() && set.m_dwSectorCount == 1)
            RecordAbrige(key, sector, available);
    } else if (set.IsEmpty()) {
        ResetCurrent();
    }
    if (ended)
        m_analyze.ClearEntrySet();  // an entry set never continues past an early end
    const uint64_t span = uint64_t{m_pCurrent->m_dwSectorCount} << m_dwSectorShift;
    return ended || span >= m_pCurrent->m_dwMaxClusterSize;
}

bool CFDTPreAnaylze::CheckAndRecordNotEnd(long long s, const uint8_t* sector, size_t index, size_t available,
                                          long long key)
{
    CFileSet& set = *m_pCurrent;
    const uint8_t* first = sector + index * kExFatEntrySize;
    const size_t need = (size_t{first[1]} + 1) * kExFatEntrySize;
    const size_t sectorBytes = size_t{1} << m_dwSectorShift;
    // The set goes on in the next sector when the set has room for another
    // sector in its cluster and the bytes there complete the entry set.
    const uint64_t spanWithThis = uint64_t{set.m_dwSectorCount + 1u} << m_dwSectorShift;
    const size_t lookAhead = std::min(available, sectorBytes * 3);
    if (spanWithThis < set.m_dwMaxClusterSize && index * kExFatEntrySize + need <= lookAhead &&
        CheckDirEntry(first, need, exfatle::Load16(first + 2)))
        return false;

    set.m_dwFlags |= CFileSet::kNotEnded;
    KeptEntrySet kept;
    kept.bytes.assign(first, sector + sectorBytes);
    kept.s64Sector = s;
    for (auto it = m_mapAbridgedHeads.begin(); it != m_mapAbridgedHeads.end(); ++it) {
        if (it->first == key)
            continue;
        if (Joint(kept, it->second.data(), it->second.size())) {
            RecordJoin(key, it->first);
            m_mapAbridgedHeads.erase(it);
            return true;
        }
    }
    m_mapNotEnded[key] = std::move(kept);
    KeepBounded(m_mapNotEnded);
    return true;
}

void CFDTPreAnaylze::RecordAbrige(long long key, const uint8_t* sector, size_t available)
{
    const size_t headBytes = std::min(available, kHeadBytes);
    for (auto it = m_mapNotEnded.begin(); it != m_mapNotEnded.end(); ++it) {
        if (it->first == key)
            continue;
        if (Joint(it->second, sector, headBytes)) {
            RecordJoin(it->first, key);
            m_mapNotEnded.erase(it);
            return;
        }
    }
    m_mapAbridgedHeads[key].assign(sector, sector + headBytes);
    KeepBounded(m_mapAbridgedHeads);
}

void CFDTPreAnaylze::RecordJoin(long long from, long long to)
{
    m_mapJoins[from] = to;
    m_mapJoinsReverse[to] = from;
}

template <class Map>
void CFDTPreAnaylze::KeepBounded(Map& map)
{
    while (map.size() > kMaxKept)
        map.erase(map.begin());
}

bool CFDTPreAnaylze::Joint(const KeptEntrySet& incomplete, const uint8_t* head, size_t headBytes)
{
    const size_t have = incomplete.bytes.size() / kExFatEntrySize;
    if (have == 0)
        return false;
    const size_t n = incomplete.bytes[1];  // SecondaryCount
    const size_t total = (n + 1) * kExFatEntrySize;
    const uint16_t checksum = exfatle::Load16(incomplete.bytes.data() + 2);
    const size_t headEntries = headBytes / kExFatEntrySize;
    std::vector<uint8_t> whole(total);
    for (size_t k = std::min(n, have); k >= 1; --k) {
        const size_t rest = n + 1 - k;
        if (rest > headEntries)
            continue;
        std::memcpy(whole.data(), incomplete.bytes.data(), k * kExFatEntrySize);
        std::memcpy(whole.data() + k * kExFatEntrySize, head, rest * kExFatEntrySize);
        if (!CheckDirEntry(whole.data(), total, checksum))
            continue;
        // Every entry must pass its test and be taken into the set, which
        // then completes exactly at its last entry.
        m_joint.ClearEntrySet();
        m_joint.GetFileList().clear();
        if (m_joint.Analyze(whole.data(), total, incomplete.s64Sector) && m_joint.GetFileList().size() == 1) {
            TakeFinishedRecords(m_joint);
            return true;
        }
        m_joint.GetFileList().clear();
    }
    return false;
}
