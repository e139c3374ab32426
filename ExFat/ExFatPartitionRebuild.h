// Rebuilding lost exFAT volumes from deep-scan evidence: candidate volumes
// (cluster-heap start and cluster size) proposed by boot sectors, up-case
// tables, root directories and folder trees, kept when they explain the most
// file sets.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "ExFatFileSet.h"
#include "ExFatPartition.h"

// Orders file sets by their first sector (sets never share one).
struct CFileSetLess {
    bool operator()(const CFileSet* a, const CFileSet* b) const { return a->m_s64FirstSector < b->m_s64FirstSector; }
};

class CExFatPartitionEx : public CExFatPartition {
public:
    // Evidence flags.
    static constexpr uint32_t kBoot = 0x80000000u;        // a boot sector at its first sector
    static constexpr uint32_t kBackupBoot = 0x40000000u;  // a boot sector 12 sectors after it
    static constexpr uint32_t kRoot = 0x10000000u;        // made or confirmed from a root set
    static constexpr uint32_t kTree = 0x08000000u;        // made or confirmed from a folder tree
    static constexpr uint32_t kFirstFat = 0x1u;
    static constexpr uint32_t kSecondFat = 0x2u;
    static constexpr uint32_t kUnknownRoot = 0xFFFFFFFFu;

    struct Key {
        long long s64Heap;
        uint32_t dwSectorsPerCluster;
        bool operator<(const Key& o) const
        {
            return s64Heap != o.s64Heap ? s64Heap < o.s64Heap : dwSectorsPerCluster < o.dwSectorsPerCluster;
        }
    };

    Key GetKey() const { return {m_s64HeapStart, m_dwSectorsPerCluster}; }
    bool HasBootEvidence() const { return (m_dwFlags & (kBoot | kBackupBoot)) != 0; }
    bool IsRootKnown() const { return m_dwRootCluster != kUnknownRoot; }
    // The cluster a sector lies in (meaningful for sectors at or after the heap).
    long long ClusterOfSector(long long sector) const
    {
        return (sector - m_s64HeapStart) / m_dwSectorsPerCluster + 2;
    }
    bool IsClusterBoundary(long long sector) const
    {
        return sector >= m_s64HeapStart && (sector - m_s64HeapStart) % m_dwSectorsPerCluster == 0;
    }
    // One past the last sector a set may reach: heap + total sectors.
    long long GetEnd() const;
    size_t GetMatchedCount() const { return m_setMatched.size(); }

    uint32_t m_dwFlags = 0;
    uint32_t m_dwNumberOfFats = 0;
    uint32_t m_dwFatLength = 0;
    long long m_s64FatOffset = 0;
    std::set<CFileSet*, CFileSetLess> m_setMatched;
    // First sectors of matched sets on a cluster boundary, then (after the
    // cover removal) the unaligned ones kept.
    std::vector<long long> m_vecDataSectors;
    std::vector<long long> m_vecUnalignedSectors;
    // First sector of a set matched in the winnow to its weight.
    std::map<long long, uint32_t> m_mapCover;
};

// The key of the candidate set: cluster-heap start, then sectors per cluster.
struct CExFatPartitionLess {
    using is_transparent = void;
    bool operator()(const std::unique_ptr<CExFatPartitionEx>& a, const std::unique_ptr<CExFatPartitionEx>& b) const
    {
        return a->GetKey() < b->GetKey();
    }
    bool operator()(const std::unique_ptr<CExFatPartitionEx>& a, const CExFatPartitionEx::Key& b) const
    {
        return a->GetKey() < b;
    }
    bool operator()(const CExFatPartitionEx::Key& a, const std::unique_ptr<CExFatPartitionEx>& b) const
    {
        return a < b->GetKey();
    }
};

// Ranking: higher evidence flags (as an unsigned number) first, then more
// matched sets.
struct CExFatPartitionGreater {
    bool operator()(const CExFatPartitionEx* a, const CExFatPartitionEx* b) const
    {
        if (a->m_dwFlags != b->m_dwFlags)
            return a->m_dwFlags > b->m_dwFlags;
        return a->GetMatchedCount() > b->GetMatchedCount();
    }
};

class CPartitionBuilder {
public:
    // Processing starts when more sets than this wait ...
    static constexpr size_t kMaxWaiting = 2176;
    // ... or when the scan is this many sectors past the last set's reach.
    static constexpr long long kFarAhead = 0x2000000;
    // Neighbours a set with folders is paired with.
    static constexpr size_t kPairBefore = 31;
    static constexpr size_t kPairAfter = 128;
    static constexpr uint32_t kPairThreshold = 7;
    // The candidate list is cut back to kListKeep when it reaches kListCut.
    static constexpr size_t kListCut = 1025;
    static constexpr size_t kListKeep = 512;
    static constexpr int kMaxContaining = 16;
    // Proposals one root set may make from its own position (nearest the
    // root estimate first): the enumeration otherwise grows with the
    // set's distance from the disk start.
    static constexpr size_t kMaxRootProposals = 4096;
    // Up-case-table starts remembered.
    static constexpr size_t kMaxUpcaseStarts = 65536;
    // Folder lookups that the neighbour pairing of one set may spend on tree
    // scores: pairing costs grow with the square of a set's folder count.
    static constexpr unsigned long long kMaxPairingSteps = 1ULL << 24;

    CPartitionBuilder() = default;
    CPartitionBuilder(const CPartitionBuilder&) = delete;
    CPartitionBuilder& operator=(const CPartitionBuilder&) = delete;

    void PrepareBuild(unsigned int sectorSize, long long deviceSectors);
    // Takes a set; links it with the sets its entry sets cross to.
    void PushFileSet(std::unique_ptr<CFileSet> set, CFileSet* last, CFileSet* next);
    // The batch trigger, run after every hand-over at sector s.
    void Build(long long s);
    // Boot-sector evidence at sector s.
    void Build(long long s, const uint8_t* bootSector);
    // A first FAT sector at s.
    void RecordFAT(long long s);
    void RecordUpcaseStart(long long s);
    // After the last block: every pending set, the winnow and the cover
    // removal; the final partitions are then ready to be taken.
    void FinishBuid();
    std::vector<std::unique_ptr<CExFatPartitionEx>> TakeFinalPartitions();
    // Drops every set and candidate.
    void Clear();

    // The set that starts at sector, or null.
    CFileSet* FindSet(long long sector) const;
    // Processes the next pending set.
    void BuildFromTree();
    // Folder-tree evidence from a pair of sets.
    void BuildFromTree(CFileSet* parent, CFileSet* child, uint32_t threshold);
    // Score of the folder tree below set under the geometry (heap, size):
    // 0 when the walk fails or scores below threshold. The sets walked
    // (the start set first) go to sets when given.
    uint32_t CheckTree(CFileSet* set, long long heap, uint32_t size, uint32_t threshold,
                       std::vector<CFileSet*>* sets) const;
    bool IsBelongExistedPartition(CFileSet* set);

    // Folder clusters looked up by tree scores so far.
    unsigned long long GetTreeSteps() const { return m_u64TreeSteps; }
    size_t GetWaitingCount() const { return m_vecPending.size() - m_nNextPending; }
    size_t GetProcessedCount() const { return m_nNextPending; }
    const std::vector<std::unique_ptr<CFileSet>>& GetAllSets() const { return m_vecAllSets; }
    const std::vector<CExFatPartitionEx*>& GetCandidateList() const { return m_vecCandidates; }
    const std::vector<std::unique_ptr<CExFatPartitionEx>>& GetFinalPartitions() const { return m_vecFinal; }

    // Debug listing, one line per set and per candidate (for tests).
    std::string ListSets() const;
    std::string ListCandidates() const;

private:
    struct Proposal {
        CExFatPartitionEx* pExisting = nullptr;
        std::unique_ptr<CExFatPartitionEx> pNew;
        std::vector<CFileSet*> vecSets;  // sets to take as matched
        CExFatPartitionEx* Get() const { return pExisting ? pExisting : pNew.get(); }
    };
    using Proposals = std::vector<Proposal>;

    CExFatPartitionEx* FindCandidate(const CExFatPartitionEx::Key& key) const;
    std::unique_ptr<CExFatPartitionEx> NewCandidate(long long heap, uint32_t sectorsPerCluster) const;
    // Adds the candidate, or ors flags into the one with its key.
    CExFatPartitionEx* AddBootCandidate(const uint8_t* bootSector, long long start, uint32_t flags);
    void RemoveCandidate(CExFatPartitionEx* candidate, bool remember);
    void SortCandidates();
    void BuildFromUpcaseTable(CFileSet* root);
    void BuildFromRoot(CFileSet* root);
    // A proposal from a root set's position; true when it confirmed an
    // existing candidate, which ends the search.
    bool BuildPartionByRoot(long long heap, uint32_t size, uint32_t clusters, uint32_t rootCluster,
                            Proposals& proposals);
    void UpdatePartitionList(Proposals& proposals, CFileSet* set);
    // True when no two in-use records of the sets share a cluster.
    bool ClustersApart(const std::vector<CFileSet*>& sets, uint32_t size) const;
    void Winnow();
    void RemoveCovered();

    std::vector<CFileSet*> m_vecPending;
    size_t m_nNextPending = 0;
    std::vector<std::unique_ptr<CFileSet>> m_vecAllSets;
    std::unordered_set<const CFileSet*> m_setClaimed;
    long long m_s64LastEnd = -1;
    std::set<std::unique_ptr<CExFatPartitionEx>, CExFatPartitionLess> m_setCandidates;
    std::set<CExFatPartitionEx::Key> m_setRemoved;
    std::vector<CExFatPartitionEx*> m_vecCandidates;
    std::vector<CExFatPartitionEx*> m_vecSurvivors;
    std::vector<std::unique_ptr<CExFatPartitionEx>> m_vecFinal;
    std::vector<long long> m_vecUpcaseStarts;
    mutable unsigned long long m_u64TreeSteps = 0;
    unsigned long long m_u64PairingLimit = ~0ULL;
    unsigned int m_dwSectorSize = 512;
    unsigned int m_dwSectorShift = 9;
    long long m_s64DeviceSectors = 0;
};
