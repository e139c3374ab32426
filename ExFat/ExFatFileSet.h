// Deep-scan evidence from directory sectors: a file set is what one run of
// consecutive directory sectors holds, and the pre-analyser groups the
// sectors of a scan into such sets, repairing entry sets that a sector or
// cluster boundary cut in two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "EFDTAnalyze.h"
#include "ExFatStructs.h"

class CFileSet {
public:
    // Evidence flags of a set.
    static constexpr uint32_t kLabel = 0x1;     // a volume-label entry
    static constexpr uint32_t kBitmap = 0x2;    // an allocation-bitmap entry
    static constexpr uint32_t kUpcase = 0x4;    // an up-case-table entry
    static constexpr uint32_t kAbridged = 0x8;  // begins with secondary entries whose file entry lies elsewhere
    static constexpr uint32_t kNotEnded = 0x10; // its last entry set runs past its last sector
    static constexpr uint32_t kMatched = 0x20;  // taken by a partition on its own evidence
    static constexpr uint32_t kRootFlags = kLabel | kBitmap | kUpcase;

    // Size bounds in bytes while the set grows.
    static constexpr uint32_t kInitialMinClusterBytes = 512;
    static constexpr uint32_t kInitialMaxClusterBytes = 0x2000000;

    // Records of in-use entry sets, ascending by first cluster (a new record
    // goes before the first one with a higher cluster).
    std::list<_tagFileBaseInfo> m_listInUse;
    // Records of deleted entry sets, in arrival order.
    std::list<_tagFileBaseInfo> m_listDeleted;
    // First clusters of the in-use directories, in arrival order.
    std::vector<uint32_t> m_vecFolderClusters;
    uint32_t m_dwMinCluster = kExFatFirstInvalidCluster;
    uint32_t m_dwMaxCluster = 0;
    // Bytes while the set grows, sectors once CalculateClusterSize ran.
    uint32_t m_dwMinClusterSize = kInitialMinClusterBytes;
    uint32_t m_dwMaxClusterSize = kInitialMaxClusterBytes;
    long long m_s64FirstSector = -1;
    uint32_t m_dwSectorCount = 0;
    uint32_t m_dwFlags = 0;
    // One more than the highest bitmap or up-case first cluster.
    uint32_t m_dwRootEstimate = 2;
    uint32_t m_dwTotalClusters = 0;
    uint32_t m_dwUpcaseCluster = 0;
    uint64_t m_u64UpcaseLength = 0;
    std::u16string m_strLabel;
    // Neighbouring sets tied to this one by an entry set that crosses from
    // one to the other.
    CFileSet* m_pNext = nullptr;
    CFileSet* m_pLast = nullptr;

    bool IsRoot() const { return (m_dwFlags & kRootFlags) == kRootFlags; }
    bool IsAbridged() const { return (m_dwFlags & kAbridged) != 0; }
    bool IsEmpty() const { return m_dwSectorCount == 0; }
    bool HasFiles() const { return !m_listInUse.empty() || !m_listDeleted.empty(); }
    bool HasFolders() const { return !m_vecFolderClusters.empty(); }
    // One past the last sector.
    long long EndSector() const { return m_s64FirstSector + m_dwSectorCount; }
    // True when a cluster of sectorsPerCluster sectors lies within the
    // bounds (in sectors, after CalculateClusterSize).
    bool FitsClusterSize(uint32_t sectorsPerCluster) const
    {
        return sectorsPerCluster >= m_dwMinClusterSize && sectorsPerCluster <= m_dwMaxClusterSize;
    }

    // Files one finished record: cluster range, size bound of a directory,
    // and the in-use or deleted list.
    void AddRecord(const _tagFileBaseInfo& record);
    // Raises the smallest cluster size to what the contiguous in-use files
    // need to fit between their neighbours, then turns both bounds into
    // sectors (the smallest at least 1).
    void CalculateClusterSize(unsigned int sectorShift);
};

// Groups the directory sectors of a deep scan into file sets.
class CFDTPreAnaylze {
public:
    // Bytes of a sector head kept for a later join: 18 entries.
    static constexpr size_t kHeadBytes = 576;
    // Kept not-ended entry sets and sector heads, each; the oldest give way.
    static constexpr size_t kMaxKept = 4096;

    CFDTPreAnaylze();

    void PrepareAnayze(unsigned int sectorShift, unsigned int clusterShift, unsigned long long deviceSectors);
    // Examines sector s at sector. available is the number of valid bytes
    // from sector on (the sector itself and what follows it in memory).
    // True when the current set should be handed over now: the sector ended
    // early, or the set spans its largest possible cluster size.
    bool Analyze(long long s, const uint8_t* sector, size_t available);
    // The current set, when it holds a file or is a root set, with its
    // cluster-size bounds computed; a new current set starts. Otherwise
    // null, and the current set is kept.
    std::unique_ptr<CFileSet> GetFileSet();
    // First sector of the set that completes the last entry set of the set
    // starting at firstSector, or -1.
    long long GetNext(long long firstSector) const;
    // First sector of the set whose last entry set this set completes, or -1.
    long long GetLast(long long firstSector) const;
    // Drops every set, kept entry set, head and join.
    void Clear();

    const CFileSet& GetCurrentSet() const { return *m_pCurrent; }
    unsigned int GetSectorShift() const { return m_dwSectorShift; }

private:
    struct KeptEntrySet {
        std::vector<uint8_t> bytes;  // from the file entry to its sector's end
        long long s64Sector = 0;     // the sector that holds the file entry
    };

    // Clears the current set and the entry set being assembled.
    void ResetCurrent();
    // The entry types the sector walk below takes; any other ends a sector.
    static bool IsDirectoryEntryType(uint8_t type);
    // Parses one entry through the entry-set assembler; false when its
    // plausibility test fails. Records it completes join the current set.
    bool Feed(const uint8_t* entry, long long sector);
    void TakeFinishedRecords(CEFDTAnalyze& analyze);
    // A file entry whose set does not fit in the rest of the sector: true
    // when the set is taken as not ended here (the sector then ends).
    bool CheckAndRecordNotEnd(long long s, const uint8_t* sector, size_t index, size_t available, long long key);
    // The first sector of an abridged set: join it to a kept not-ended entry
    // set, or keep its head for a later one.
    void RecordAbrige(long long key, const uint8_t* sector, size_t available);
    // Completes an entry set from its first part (from a sector's end) and a
    // sector head; true, with the record filed into the current set, for the
    // first split that checks out.
    bool Joint(const KeptEntrySet& incomplete, const uint8_t* head, size_t headBytes);
    void RecordJoin(long long from, long long to);
    template <class Map>
    static void KeepBounded(Map& map);

    unsigned long long m_u64DeviceSectors = 0;
    // m_pCurrent is a new set, nothing is being assembled and no record
    // waits: resetting changes nothing.
    bool m_bCurrentFresh = true;
    unsigned int m_dwClusterShift = 25;
    unsigned int m_dwSectorShift = 9;
    unsigned int m_dwEntriesPerSector = 16;
    std::map<long long, KeptEntrySet> m_mapNotEnded;
    std::map<long long, std::vector<uint8_t>> m_mapAbridgedHeads;
    std::map<long long, long long> m_mapJoins;
    std::map<long long, long long> m_mapJoinsReverse;
    std::unique_ptr<CFileSet> m_pCurrent;
    // The entry set being assembled, shared by all sets; trial joins use
    // their own assembler so that this one is never disturbed.
    CEFDTAnalyze m_analyze;
    CEFDTAnalyze m_joint;
};
