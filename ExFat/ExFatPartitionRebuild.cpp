#include "ExFatPartitionRebuild.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <deque>
#include <unordered_set>

#include "ExFatDBR.h"
#include "ExFatStructs.h"

namespace {

constexpr long long kBackupDistance = 12;  // the backup boot region follows the main one

uint64_t LowestBit(uint64_t value) { return value & (~value + 1); }

// The folder clusters of a set and of the sets its last entry sets run
// into, each set once.
template <class Fn>
void ForEachFolderCluster(const CFileSet* set, Fn&& fn)
{
    std::unordered_set<const CFileSet*> seen;
    for (const CFileSet* part = set; part && seen.insert(part).second; part = part->m_pNext)
        for (uint32_t cluster : part->m_vecFolderClusters)
            if (!fn(cluster))
                return;
}

// sector of cluster under (heap, size), or -1 when it does not fit in 63 bits.
long long SectorOfCluster(long long heap, uint32_t size, uint32_t cluster)
{
    if (cluster < 2)
        return -1;
    long long offset;
    if (__builtin_mul_overflow(static_cast<long long>(cluster - 2), static_cast<long long>(size), &offset) ||
        __builtin_add_overflow(offset, heap, &offset))
        return -1;
    return offset;
}

}  // namespace

long long CExFatPartitionEx::GetEnd() const
{
    const unsigned long long total = static_cast<unsigned long long>(m_s64TotalSectors);
    if (total >= static_cast<unsigned long long>(LLONG_MAX - m_s64HeapStart))
        return LLONG_MAX;
    return m_s64HeapStart + static_cast<long long>(total);
}

// ---------------------------------------------------------------------------
// Intake

void CPartitionBuilder::PrepareBuild(unsigned int sectorSize, long long deviceSectors)
{
    Clear();
    m_dwSectorSize = sectorSize;
    m_dwSectorShift = exfatle::Log2(sectorSize);
    m_s64DeviceSectors = deviceSectors;
}

void CPartitionBuilder::Clear()
{
    m_vecPending.clear();
    m_nNextPending = 0;
    m_vecAllSets.clear();
    m_setClaimed.clear();
    m_s64LastEnd = -1;
    m_vecCandidates.clear();
    m_vecSurvivors.clear();
    m_setCandidates.clear();
    m_setRemoved.clear();
    m_vecFinal.clear();
    m_vecUpcaseStarts.clear();
}

void CPartitionBuilder::PushFileSet(std::unique_ptr<CFileSet> set, CFileSet* last, CFileSet* next)
{
    if (!set)
        return;
    // Sets arrive in scan order; one that does not start after the last
    // one cannot be placed (it would break the order FindSet relies on).
    if (!m_vecAllSets.empty() && set->m_s64FirstSector <= m_vecAllSets.back()->m_s64FirstSector)
        return;
    CFileSet* raw = set.get();
    if (last) {
        raw->m_pLast = last;
        last->m_pNext = raw;
    }
    if (next) {
        raw->m_pNext = next;
        next->m_pLast = raw;
    }
    m_vecAllSets.push_back(std::move(set));
    m_vecPending.push_back(raw);
    m_s64LastEnd = raw->m_s64FirstSector + raw->m_dwMaxCluster;
}

CFileSet* CPartitionBuilder::FindSet(long long sector) const
{
    auto it = std::lower_bound(m_vecAllSets.begin(), m_vecAllSets.end(), sector,
                               [](const std::unique_ptr<CFileSet>& s, long long v) { return s->m_s64FirstSector < v; });
    return (it != m_vecAllSets.end() && (*it)->m_s64FirstSector == sector) ? it->get() : nullptr;
}

void CPartitionBuilder::Build(long long s)
{
    if (m_nNextPending >= m_vecPending.size())
        return;
    const bool tooMany = GetWaitingCount() > kMaxWaiting;
    const bool farAhead = m_s64LastEnd >= 0 && s > m_s64LastEnd && s - m_s64LastEnd > kFarAhead;
    if (tooMany || farAhead)
        BuildFromTree();
}

void CPartitionBuilder::RecordUpcaseStart(long long s)
{
    if (m_vecUpcaseStarts.size() < kMaxUpcaseStarts)
        m_vecUpcaseStarts.push_back(s);
}

// ---------------------------------------------------------------------------
// Candidates

CExFatPartitionEx* CPartitionBuilder::FindCandidate(const CExFatPartitionEx::Key& key) const
{
    auto it = m_setCandidates.find(key);
    return it == m_setCandidates.end() ? nullptr : it->get();
}

std::unique_ptr<CExFatPartitionEx> CPartitionBuilder::NewCandidate(long long heap, uint32_t sectorsPerCluster) const
{
    auto candidate = std::make_unique<CExFatPartitionEx>();
    candidate->m_dwBytesPerSector = m_dwSectorSize;
    candidate->m_dwSectorsPerCluster = sectorsPerCluster;
    candidate->m_dwBytesPerCluster = m_dwSectorSize * sectorsPerCluster;
    candidate->m_s64HeapStart = heap;
    candidate->m_dwRootCluster = CExFatPartitionEx::kUnknownRoot;
    // Until better evidence says otherwise, every cluster up to the device
    // end is valid.
    const long long reach = heap < m_s64DeviceSectors ? (m_s64DeviceSectors - heap) / sectorsPerCluster + 2 : 0;
    candidate->m_dwClusterLimit = static_cast<uint32_t>(std::min<long long>(reach, kExFatFirstInvalidCluster));
    return candidate;
}

void CPartitionBuilder::SortCandidates()
{
    std::stable_sort(m_vecCandidates.begin(), m_vecCandidates.end(), CExFatPartitionGreater());
}

void CPartitionBuilder::RemoveCandidate(CExFatPartitionEx* candidate, bool remember)
{
    if (remember)
        m_setRemoved.insert(candidate->GetKey());
    m_vecCandidates.erase(std::remove(m_vecCandidates.begin(), m_vecCandidates.end(), candidate),
                          m_vecCandidates.end());
    auto it = m_setCandidates.find(candidate->GetKey());
    if (it != m_setCandidates.end() && it->get() == candidate)
        m_setCandidates.erase(it);
}

CExFatPartitionEx* CPartitionBuilder::AddBootCandidate(const uint8_t* bootSector, long long start, uint32_t flags)
{
    const CExFatDBR dbr(bootSector);
    const long long heap = start + dbr.GetDataRegionStartSector();
    const uint32_t size = dbr.GetSectorsperCluster();
    CExFatPartitionEx* candidate = FindCandidate({heap, size});
    const bool fresh = candidate == nullptr;
    if (fresh) {
        auto made = NewCandidate(heap, size);
        candidate = made.get();
        m_setCandidates.insert(std::move(made));
        m_vecCandidates.push_back(candidate);
    }
    if (fresh || !candidate->HasBootEvidence()) {
        // The boot sector's geometry replaces what the other evidence guessed.
        const unsigned long long fatEntries =
            std::min<unsigned long long>(static_cast<unsigned long long>(dbr.GetSectorsPerFat()) *
                                             dbr.GetBytePerSector() / 4,
                                         0xFFFFFFFFULL);
        candidate->m_s64PartitionStart = start;
        candidate->m_s64TotalSectors = static_cast<long long>(std::min<unsigned long long>(
            dbr.GetTotalSectors(), static_cast<unsigned long long>(LLONG_MAX)));
        candidate->m_dwFatLength = dbr.GetSectorsPerFat();
        candidate->m_dwClusterLimit =
            std::max<unsigned int>(dbr.GetTotalCluster(), static_cast<unsigned int>(fatEntries));
        candidate->m_s64FatOffset = dbr.GetFatStartSector();
        candidate->m_dwNumberOfFats = dbr.GetNumberOfFat();
        candidate->m_dwRootCluster = dbr.GetRootDirStartCluster();
    }
    candidate->m_dwFlags |= flags;
    return candidate;
}

void CPartitionBuilder::Build(long long s, const uint8_t* bootSector)
{
    if (!bootSector)
        return;
    const CExFatDBR dbr(bootSector);
    const long long heapOffset = dbr.GetDataRegionStartSector();
    const uint32_t size = dbr.GetSectorsperCluster();

    // The backup boot sector of a volume already seen.
    if (CExFatPartitionEx* primary = FindCandidate({s - kBackupDistance + heapOffset, size});
        primary && s >= kBackupDistance) {
        primary->m_dwFlags |= CExFatPartitionEx::kBackupBoot;
        // The main boot sector was also taken as a backup: that reading
        // placed a volume 12 sectors too early, and nothing else backs it.
        CExFatPartitionEx* spurious = FindCandidate({s - 2 * kBackupDistance + heapOffset, size});
        if (spurious && spurious->m_dwFlags == CExFatPartitionEx::kBackupBoot)
            RemoveCandidate(spurious, true);
        SortCandidates();
        return;
    }
    AddBootCandidate(bootSector, s, CExFatPartitionEx::kBoot);
    if (s >= kBackupDistance)
        AddBootCandidate(bootSector, s - kBackupDistance, CExFatPartitionEx::kBackupBoot);
    SortCandidates();
}

void CPartitionBuilder::RecordFAT(long long s)
{
    for (CExFatPartitionEx* candidate : m_vecCandidates) {
        if (candidate->m_dwFlags < CExFatPartitionEx::kBackupBoot)
            continue;
        const long long first = candidate->m_s64PartitionStart + candidate->m_s64FatOffset;
        if (s == first) {
            candidate->m_dwFlags |= CExFatPartitionEx::kFirstFat;
            SortCandidates();
            return;
        }
        if (candidate->m_dwNumberOfFats == 2 && s == first + candidate->m_dwFatLength) {
            candidate->m_dwFlags |= CExFatPartitionEx::kSecondFat;
            SortCandidates();
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// Evidence from sets

bool CPartitionBuilder::ClustersApart(const std::vector<CFileSet*>& sets, uint32_t size) const
{
    const unsigned long long clusterBytes = static_cast<unsigned long long>(size) << m_dwSectorShift;
    if (clusterBytes == 0)
        return false;
    std::vector<std::pair<unsigned long long, unsigned long long>> runs;
    for (const CFileSet* set : sets) {
        for (const _tagFileBaseInfo& r : set->m_listInUse) {
            if (r.dwFirstCluster < 2 || r.dwFirstCluster > kExFatLastValidCluster)
                continue;
            unsigned long long count = 1;
            if (r.u8NoFatChain && r.u64DataLength > clusterBytes)
                count = r.u64DataLength / clusterBytes + (r.u64DataLength % clusterBytes ? 1 : 0);
            runs.emplace_back(r.dwFirstCluster, r.dwFirstCluster + count);
        }
    }
    std::sort(runs.begin(), runs.end());
    for (size_t i = 1; i < runs.size(); ++i)
        if (runs[i].first < runs[i - 1].second)
            return false;
    return true;
}

uint32_t CPartitionBuilder::CheckTree(CFileSet* set, long long heap, uint32_t size, uint32_t threshold,
                                      std::vector<CFileSet*>* sets) const
{
    if (!set || size == 0 || heap < 0 || set->m_s64FirstSector < heap)
        return 0;
    std::unordered_set<uint32_t> visited;
    const long long own = (set->m_s64FirstSector - heap) / size + 2;
    if (own > kExFatLastValidCluster)
        return 0;
    visited.insert(static_cast<uint32_t>(own));
    std::vector<CFileSet*> result{set};
    std::deque<std::pair<CFileSet*, uint32_t>> queue{{set, 1}};
    uint64_t score = 0;
    bool failed = false;
    while (!queue.empty() && !failed) {
        CFileSet* walked = queue.front().first;
        const uint32_t depth = queue.front().second;
        queue.pop_front();
        uint64_t found = 0;
        ForEachFolderCluster(walked, [&](uint32_t cluster) {
            ++m_u64TreeSteps;
            if (!visited.insert(cluster).second) {
                failed = true;  // two folders in one cluster, or a loop
                return false;
            }
            const long long sector = SectorOfCluster(heap, size, cluster);
            if (sector < 0 || sector >= m_s64DeviceSectors) {
                failed = true;
                return false;
            }
            CFileSet* child = FindSet(sector);
            if (!child)
                return true;  // that folder's sectors were not found
            if ((child->m_dwFlags & (CFileSet::kMatched | CFileSet::kAbridged)) ||
                child->EndSector() > m_s64DeviceSectors || !child->FitsClusterSize(size) ||
                size < child->m_dwSectorCount) {
                failed = true;
                return false;
            }
            result.push_back(child);
            ++found;
            if (child->HasFolders())
                queue.emplace_back(child, depth + 1);
            return true;
        });
        score += found * depth;
    }
    if (failed || score < threshold || score == 0 || !ClustersApart(result, size))
        return 0;
    if (sets)
        *sets = std::move(result);
    return static_cast<uint32_t>(std::min<uint64_t>(score, UINT32_MAX));
}

bool CPartitionBuilder::IsBelongExistedPartition(CFileSet* set)
{
    int containing = 0;
    for (CExFatPartitionEx* candidate : m_vecCandidates) {
        const long long size = candidate->m_dwSectorsPerCluster;
        if (set->m_s64FirstSector < candidate->m_s64HeapStart + 2 * size || set->EndSector() > candidate->GetEnd())
            continue;
        if (++containing > kMaxContaining)
            break;
        if (!set->FitsClusterSize(candidate->m_dwSectorsPerCluster) ||
            !candidate->IsClusterBoundary(set->m_s64FirstSector))
            continue;
        if (candidate->m_setMatched.count(set))
            return true;
        if (!set->HasFolders())
            continue;
        const uint32_t threshold = candidate->m_dwFlags > CExFatPartitionEx::kTree ? 1 : kPairThreshold;
        std::vector<CFileSet*> tree;
        if (CheckTree(set, candidate->m_s64HeapStart, candidate->m_dwSectorsPerCluster, threshold, &tree) != 0) {
            candidate->m_setMatched.insert(tree.begin(), tree.end());
            return true;
        }
    }
    return false;
}

void CPartitionBuilder::BuildFromTree()
{
    if (m_nNextPending >= m_vecPending.size())
        return;
    const size_t index = m_nNextPending++;
    CFileSet* set = m_vecPending[index];
    if (set->IsRoot()) {
        BuildFromUpcaseTable(set);
        BuildFromRoot(set);
        return;
    }
    if (!set->HasFolders() || IsBelongExistedPartition(set))
        return;
    const size_t from = index > kPairBefore ? index - kPairBefore : 0;
    const size_t to = std::min(m_vecPending.size(), index + kPairAfter + 1);
    m_u64PairingLimit = m_u64TreeSteps + kMaxPairingSteps;
    for (size_t j = from; j < to && m_u64TreeSteps < m_u64PairingLimit; ++j) {
        CFileSet* other = m_vecPending[j];
        if (other == set || other->IsRoot() || !other->HasFolders() || other->IsAbridged())
            continue;
        BuildFromTree(set, other, kPairThreshold);
    }
    m_u64PairingLimit = ~0ULL;
}

void CPartitionBuilder::BuildFromTree(CFileSet* parent, CFileSet* child, uint32_t threshold)
{
    Proposals proposals;
    uint32_t best = 0;
    const long long distance = parent->m_s64FirstSector > child->m_s64FirstSector
                                   ? parent->m_s64FirstSector - child->m_s64FirstSector
                                   : child->m_s64FirstSector - parent->m_s64FirstSector;
    for (uint64_t size = parent->m_dwMinClusterSize; size != 0 && size <= parent->m_dwMaxClusterSize; size <<= 1) {
        const uint32_t spc = static_cast<uint32_t>(size);
        if (!child->FitsClusterSize(spc) || spc < parent->m_dwSectorCount || distance % spc != 0)
            continue;
        ForEachFolderCluster(parent, [&](uint32_t cluster) {
            if (m_u64TreeSteps >= m_u64PairingLimit)
                return false;
            if (cluster > child->m_dwMaxCluster)
                return true;
            long long offset;
            if (__builtin_mul_overflow(static_cast<long long>(cluster - 2), static_cast<long long>(spc), &offset))
                return true;
            const long long heap = child->m_s64FirstSector - offset;
            if (heap < 0 || heap + 3LL * spc > parent->m_s64FirstSector || m_setRemoved.count({heap, spc}))
                return true;
            const long long own = (parent->m_s64FirstSector - heap) / spc + 2;
            if (own > parent->m_dwMaxCluster)
                return true;
            std::vector<CFileSet*> tree;
            const uint32_t score = CheckTree(parent, heap, spc, threshold, &tree);
            if (score < 5 || score < best)
                return true;
            if (score > best)
                proposals.clear();
            best = score;
            Proposal p;
            p.pExisting = FindCandidate({heap, spc});
            if (!p.pExisting) {
                for (const Proposal& q : proposals)
                    if (q.Get()->GetKey().s64Heap == heap && q.Get()->m_dwSectorsPerCluster == spc)
                        return true;
                p.pNew = NewCandidate(heap, spc);
                p.pNew->m_s64TotalSectors = m_s64DeviceSectors - heap;
            }
            p.vecSets = std::move(tree);
            proposals.push_back(std::move(p));
            return true;
        });
    }
    for (Proposal& p : proposals) {
        CExFatPartitionEx* candidate = p.Get();
        candidate->m_dwFlags |= CExFatPartitionEx::kTree;
        candidate->m_setMatched.insert(p.vecSets.begin(), p.vecSets.end());
    }
    if (!proposals.empty())
        UpdatePartitionList(proposals, nullptr);
}

void CPartitionBuilder::BuildFromUpcaseTable(CFileSet* root)
{
    if (m_vecUpcaseStarts.empty() || root->m_dwUpcaseCluster < 2 || root->m_u64UpcaseLength < 1)
        return;
    const unsigned long long tableSectors =
        (root->m_u64UpcaseLength + m_dwSectorSize - 1) / m_dwSectorSize;
    Proposals proposals;
    bool done = false;
    for (size_t i = 0; i < m_vecUpcaseStarts.size() && !done; ++i) {
        const long long u = m_vecUpcaseStarts[i];
        const long long first = root->m_s64FirstSector;
        const unsigned long long d =
            static_cast<unsigned long long>(first > u ? first - u : u - first);
        if (d < tableSectors || d == 0)
            continue;
        const uint64_t cap = std::min<uint64_t>(LowestBit(d), root->m_dwMaxClusterSize);
        for (uint64_t size = root->m_dwMinClusterSize; size != 0 && size <= cap && !done; size <<= 1) {
            if (d % size != 0)
                continue;
            const uint32_t spc = static_cast<uint32_t>(size);
            long long offset;
            if (__builtin_mul_overflow(static_cast<long long>(root->m_dwUpcaseCluster - 2),
                                       static_cast<long long>(spc), &offset))
                continue;
            const long long heap = u - offset;
            // The root lies in the heap, in a cluster below its files.
            if (heap < 0 || first < heap)
                continue;
            const long long own = (first - heap) / spc + 2;
            if (own >= root->m_dwMinCluster)
                continue;
            done = BuildPartionByRoot(heap, spc, root->m_dwTotalClusters, static_cast<uint32_t>(own), proposals);
        }
    }
    if (!proposals.empty())
        UpdatePartitionList(proposals, root);
}

void CPartitionBuilder::BuildFromRoot(CFileSet* root)
{
    if (root->m_dwMinCluster < 2 || root->m_dwMinCluster > kExFatLastValidCluster)
        return;
    Proposals proposals;
    size_t made = 0;
    bool done = false;
    for (uint64_t r = root->m_dwRootEstimate; r < root->m_dwMinCluster && !done && made < kMaxRootProposals; ++r) {
        bool anyFits = false;
        for (uint64_t size = root->m_dwMinClusterSize;
             size != 0 && size <= root->m_dwMaxClusterSize && !done && made < kMaxRootProposals; size <<= 1) {
            const unsigned long long offset = size * (r - 2);
            if (offset > static_cast<unsigned long long>(root->m_s64FirstSector))
                break;  // larger sizes reach further back still
            anyFits = true;
            const long long heap = root->m_s64FirstSector - static_cast<long long>(offset);
            done = BuildPartionByRoot(heap, static_cast<uint32_t>(size), root->m_dwTotalClusters,
                                      static_cast<uint32_t>(r), proposals);
            ++made;
        }
        if (!anyFits)
            break;  // every later root cluster puts the heap before the disk
    }
    if (!proposals.empty())
        UpdatePartitionList(proposals, root);
}

bool CPartitionBuilder::BuildPartionByRoot(long long heap, uint32_t size, uint32_t clusters, uint32_t rootCluster,
                                           Proposals& proposals)
{
    if (CExFatPartitionEx* existing = FindCandidate({heap, size})) {
        if (existing->IsRootKnown() && existing->m_dwRootCluster != rootCluster)
            return false;
        existing->m_dwRootCluster = rootCluster;
        existing->m_dwFlags |= CExFatPartitionEx::kRoot;
        proposals.clear();
        Proposal p;
        p.pExisting = existing;
        proposals.push_back(std::move(p));
        return true;
    }
    Proposal p;
    p.pNew = NewCandidate(heap, size);
    CExFatPartitionEx* candidate = p.pNew.get();
    if (clusters != 0)
        candidate->m_dwClusterLimit = clusters;
    candidate->m_dwRootCluster = rootCluster;
    const long long toEnd = m_s64DeviceSectors - heap;
    const unsigned long long bySize = static_cast<unsigned long long>(size) * clusters;
    candidate->m_s64TotalSectors =
        (bySize != 0 && bySize < static_cast<unsigned long long>(std::max(toEnd, 0LL))) ? static_cast<long long>(bySize)
                                                                                          : toEnd;
    candidate->m_dwFlags = CExFatPartitionEx::kRoot;
    proposals.push_back(std::move(p));
    return false;
}

void CPartitionBuilder::UpdatePartitionList(Proposals& proposals, CFileSet* set)
{
    if (m_vecCandidates.size() >= kListCut) {
        SortCandidates();
        std::unordered_set<const CExFatPartitionEx*> proposed;
        for (const Proposal& p : proposals)
            proposed.insert(p.Get());
        for (size_t i = m_vecCandidates.size(); i > 0 && m_vecCandidates.size() > kListKeep; --i) {
            CExFatPartitionEx* victim = m_vecCandidates[i - 1];
            if (!proposed.count(victim))
                RemoveCandidate(victim, false);
        }
    }
    for (Proposal& p : proposals) {
        CExFatPartitionEx* candidate = p.Get();
        if (set) {
            candidate->m_setMatched.insert(set);
            std::vector<CFileSet*> tree;
            if (CheckTree(set, candidate->m_s64HeapStart, candidate->m_dwSectorsPerCluster, 1, &tree) != 0)
                candidate->m_setMatched.insert(tree.begin(), tree.end());
        }
        if (p.pNew) {
            if (m_setCandidates.count(candidate->GetKey()))
                continue;  // proposed twice in one batch
            m_vecCandidates.push_back(candidate);
            m_setCandidates.insert(std::move(p.pNew));
        }
    }
    SortCandidates();
}

// ---------------------------------------------------------------------------
// Finish

void CPartitionBuilder::FinishBuid()
{
    while (m_nNextPending < m_vecPending.size())
        BuildFromTree();
    Winnow();
    RemoveCovered();
}

void CPartitionBuilder::Winnow()
{
    SortCandidates();
    const std::vector<CExFatPartitionEx*> ranked = m_vecCandidates;
    for (CExFatPartitionEx* candidate : ranked) {
        const size_t pending = m_vecPending.size();
        bool overlaps = false;
        for (CFileSet* s : candidate->m_setMatched)
            if (m_setClaimed.count(s)) {
                overlaps = true;
                break;
            }
        if (overlaps || candidate->GetMatchedCount() > pending) {
            RemoveCandidate(candidate, true);
            continue;
        }

        const long long heap = candidate->m_s64HeapStart;
        const uint32_t size = candidate->m_dwSectorsPerCluster;
        const long long end = candidate->GetEnd();
        candidate->m_setMatched.clear();
        candidate->m_mapCover.clear();
        candidate->m_vecDataSectors.clear();
        candidate->m_vecUnalignedSectors.clear();
        for (CFileSet* set : m_vecPending) {
            if (!set->FitsClusterSize(size) || set->m_s64FirstSector < heap || set->EndSector() > end)
                continue;
            const bool aligned = candidate->IsClusterBoundary(set->m_s64FirstSector);
            (aligned ? candidate->m_vecDataSectors : candidate->m_vecUnalignedSectors).push_back(set->m_s64FirstSector);
            if (!aligned || set->IsAbridged() || candidate->m_setMatched.count(set))
                continue;
            std::vector<CFileSet*> tree;
            if (const uint32_t score = CheckTree(set, heap, size, 1, &tree)) {
                for (CFileSet* t : tree) {
                    if (m_setClaimed.count(t) || !candidate->m_setMatched.insert(t).second)
                        continue;
                    uint32_t& weight = candidate->m_mapCover[t->m_s64FirstSector];
                    weight = std::max(weight, score);
                }
                continue;
            }
            const long long own = candidate->ClusterOfSector(set->m_s64FirstSector);
            const bool simple = ClustersApart({set}, size) && own + 1 == set->m_dwMinCluster;
            const bool asRoot = set->IsRoot() && (!candidate->IsRootKnown() || own == candidate->m_dwRootCluster);
            if (simple || asRoot) {
                candidate->m_setMatched.insert(set);
                set->m_dwFlags |= CFileSet::kMatched;
                uint32_t& weight = candidate->m_mapCover[set->m_s64FirstSector];
                weight = std::max<uint32_t>(weight, 1);
                if (asRoot && !candidate->IsRootKnown() && own <= kExFatLastValidCluster)
                    candidate->m_dwRootCluster = static_cast<uint32_t>(own);
            }
        }
        if (candidate->m_vecDataSectors.empty() || candidate->m_setMatched.empty()) {
            RemoveCandidate(candidate, true);
            continue;
        }
        const long long firstData = candidate->m_vecDataSectors.front();
        const long long lastData = candidate->m_vecDataSectors.back();
        for (CFileSet* s : candidate->m_setMatched)
            if (s->m_s64FirstSector >= firstData && s->m_s64FirstSector <= lastData)
                m_setClaimed.insert(s);
        std::erase_if(m_vecPending, [this](const CFileSet* s) { return m_setClaimed.count(s) != 0; });
        m_nNextPending = m_vecPending.size();
        m_vecSurvivors.push_back(candidate);
    }
}

void CPartitionBuilder::RemoveCovered()
{
    std::stable_sort(m_vecSurvivors.begin(), m_vecSurvivors.end(), CExFatPartitionGreater());
    std::vector<CExFatPartitionEx*> left = m_vecSurvivors;
    m_vecSurvivors.clear();
    auto covered = [](const CExFatPartitionEx* by, const CExFatPartitionEx* other) {
        if (other->m_mapCover.size() > by->m_mapCover.size())
            return false;
        for (const auto& [sector, weight] : other->m_mapCover) {
            auto it = by->m_mapCover.find(sector);
            if (it == by->m_mapCover.end() || it->second < weight)
                return false;
        }
        return true;
    };
    while (!left.empty()) {
        CExFatPartitionEx* first = left.front();
        left.erase(left.begin());
        std::erase_if(left, [&](CExFatPartitionEx* other) {
            if (!covered(first, other))
                return false;
            RemoveCandidate(other, true);
            return true;
        });
        const long long end = first->HasBootEvidence() ? first->GetEnd() : first->m_vecDataSectors.back();
        for (long long sector : first->m_vecUnalignedSectors)
            if (sector < end)
                first->m_vecDataSectors.push_back(sector);
        // Into the final list, out of the candidate set.
        auto it = m_setCandidates.find(first->GetKey());
        if (it == m_setCandidates.end())
            continue;
        m_vecCandidates.erase(std::remove(m_vecCandidates.begin(), m_vecCandidates.end(), first),
                              m_vecCandidates.end());
        auto node = m_setCandidates.extract(it);
        m_vecFinal.push_back(std::move(node.value()));
    }
}

std::vector<std::unique_ptr<CExFatPartitionEx>> CPartitionBuilder::TakeFinalPartitions()
{
    return std::move(m_vecFinal);
}

// ---------------------------------------------------------------------------
// Debug listing

namespace {

std::string SetLine(const CFileSet& set)
{
    char head[256];
    std::snprintf(head, sizeof head,
                  "set %lld %u flags=0x%02x clusters=%u..%u sizes=%u..%u root=%u total=%u upcase=%u last=%lld "
                  "next=%lld names=",
                  set.m_s64FirstSector, set.m_dwSectorCount, set.m_dwFlags, set.m_dwMinCluster, set.m_dwMaxCluster,
                  set.m_dwMinClusterSize, set.m_dwMaxClusterSize, set.m_dwRootEstimate, set.m_dwTotalClusters,
                  set.m_dwUpcaseCluster, set.m_pLast ? set.m_pLast->m_s64FirstSector : -1LL,
                  set.m_pNext ? set.m_pNext->m_s64FirstSector : -1LL);
    std::string line = head;
    bool firstName = true;
    for (const auto* list : {&set.m_listInUse, &set.m_listDeleted}) {
        for (const _tagFileBaseInfo& r : *list) {
            if (!firstName)
                line += '|';
            firstName = false;
            line += r.szName;
            if (!r.u8InUse)
                line += "(deleted)";
        }
    }
    return line + "\n";
}

}  // namespace

std::string CPartitionBuilder::ListSets() const
{
    std::string out;
    for (const auto& set : m_vecAllSets)
        out += SetLine(*set);
    return out;
}

std::string CPartitionBuilder::ListCandidates() const
{
    std::string out;
    auto line = [&](const char* kind, const CExFatPartitionEx& c) {
        char text[320];
        std::snprintf(text, sizeof text,
                      "%s heap=%lld spc=%u start=%lld total=%lld flags=0x%08x matched=%zu root=%u fat=%lld+%u "
                      "data=%zu\n",
                      kind, c.m_s64HeapStart, c.m_dwSectorsPerCluster, c.m_s64PartitionStart, c.m_s64TotalSectors,
                      c.m_dwFlags, c.GetMatchedCount(), c.m_dwRootCluster, c.m_s64FatOffset, c.m_dwFatLength,
                      c.m_vecDataSectors.size());
        out += text;
    };
    for (const CExFatPartitionEx* c : m_vecCandidates)
        line("candidate", *c);
    for (const auto& c : m_vecFinal)
        line("partition", *c);
    return out;
}
