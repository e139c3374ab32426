// The FAT12/16/32 searcher of the deep scan. It looks at every sector of the
// device once and keeps three kinds of evidence: boot sectors, first sectors
// of a FAT, and directory sectors. Boot sectors and subdirectory first
// sectors make candidate partitions; FAT sectors and further subdirectories
// confirm them. At the end the weak candidates are dropped, the others
// scored, and each one's directory tree is rebuilt for the tree builder
// under searcher type 32.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "FATFolderSector.h"
#include "FATSearchedPartitionInfo.h"
#include "ISearcher.h"

class CTempFATDBR;
class IBlockView;
class CFATFolderAnalyser;

// What a candidate takes from a boot sector.
struct FATBootGeometry {
    enumFILE_SYSTEM_TYPE eType = FS_UNKNOWN;
    unsigned int dwReservedSectors = 0;
    unsigned int dwNumberOfFATs = 0;
    unsigned int dwSectorsPerFAT = 0;
    unsigned int dwSectorsPerCluster = 0;
    unsigned int dwRootEntries = 0;      // FAT12/16
    unsigned int dwRootCluster = 0;      // FAT32
    unsigned long long u64TotalSectors = 0;

    static FATBootGeometry FromDBR(const CTempFATDBR& dbr);
    // A FAT12 boot sector's geometry (type FS_UNKNOWN when it is none).
    static FATBootGeometry FromFat12DBR(const CTempFATDBR& dbr);
};

// Candidates ordered by data-area start sector; equal starts allowed.
struct CFatSearchedPartitionInfoLess {
    using is_transparent = void;
    bool operator()(const std::unique_ptr<CFATSearchedPartitionInfo>& a,
                    const std::unique_ptr<CFATSearchedPartitionInfo>& b) const
    {
        return a->GetUnitBase() < b->GetUnitBase();
    }
    bool operator()(const std::unique_ptr<CFATSearchedPartitionInfo>& a, long long b) const
    {
        return a->GetUnitBase() < b;
    }
    bool operator()(long long a, const std::unique_ptr<CFATSearchedPartitionInfo>& b) const
    {
        return a < b->GetUnitBase();
    }
};

// The cluster sizes a subdirectory is tried with, in this order.
inline constexpr unsigned int FAT_SUPPORTED_SECTORS_PER_CLUSTER[] = {1, 2, 4, 8, 16, 32, 64, 128};

class CFATCompleteFSearcher : public ICompleteFileSystemSearchController {
public:
    // Evidence flags of a candidate.
    enum : unsigned int {
        kFlagFat12Boot = 0x1,
        kFlagFat16Boot = 0x2,
        kFlagFat32Boot = 0x4,        // a FAT32 boot sector at the candidate's first sector
        kFlagFat32Backup = 0x8,      // one six sectors further on (the backup)
        kFlagBootEvidence = 0xF,
        kFlagDirectories = 0x10,     // made from, or voted for by, a subdirectory
        kFlagFirstFAT = 0x40 | 0x80,
        kFlagSecondFAT = 0x100 | 0x200,
    };
    static constexpr long long kBackupBootOffset = 6;
    static constexpr ResultCode kResultNoFATReader = MakeResultCode(kModuleFATSearch, 0x390, 0x07);

    // Where a FAT is expected to start, and who expects it.
    struct FATTableInfo {
        long long s64Sector;
        CFATSearchedPartitionInfo* pCandidate;
    };
    struct FATTableInfoLess {
        using is_transparent = void;
        bool operator()(const FATTableInfo& a, const FATTableInfo& b) const { return a.s64Sector < b.s64Sector; }
        bool operator()(const FATTableInfo& a, long long b) const { return a.s64Sector < b; }
        bool operator()(long long a, const FATTableInfo& b) const { return a < b.s64Sector; }
    };
    using CandidateSet = std::multiset<std::unique_ptr<CFATSearchedPartitionInfo>, CFatSearchedPartitionInfoLess>;
    using FATTableInfoSet = std::multiset<FATTableInfo, FATTableInfoLess>;
    using PartitionList = std::vector<CFATSearchedPartitionInfo*>;

    CFATCompleteFSearcher();
    ~CFATCompleteFSearcher() override;
    CFATCompleteFSearcher(const CFATCompleteFSearcher&) = delete;
    CFATCompleteFSearcher& operator=(const CFATCompleteFSearcher&) = delete;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    // No list: the number of partitions. A list with room for all of them:
    // a copy of each (owned by the caller) and their number. Less room: 0,
    // and nothing stored.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) override;
    int SetDevice(IStorageDevice* device) override;
    int SetBlockSize(int sectorsPerBlock) override;
    // Starts a scan: no partitions yet, and the walk's process-wide counters
    // back at their start.
    int PreparetoSearch() override;
    // build 0 (a stopped scan): nothing. Otherwise the candidates are culled
    // and scored, and every partition's tree is rebuilt.
    void EndSearch(int build) override;
    // Examines sectors first .. first + count - 1; always 1.
    int AnalyzeBlock(long long firstSector, long long sectorCount) override;
    void SetFileSectorMap(std::map<long long, unsigned int>* map) override { m_pFileSectorMap = map; }

    // Drops weak candidates, scores the others and appends them to list,
    // each with its position in the list as partition index; then empties
    // the candidate and expected-FAT sets.
    virtual void AddSearchedPartitionInfoList2(PartitionList& list);

    // The first candidate (in set order) with probe's data start and
    // cluster size, or none.
    CFATSearchedPartitionInfo* FindMatchedPartitionInfo(const CFATSearchedPartitionInfo* probe) const;

    // A candidate from a boot sector taken at sector start (backup: the
    // boot sector lies six sectors after start), or none when its geometry
    // does not fit the device or its own FAT size.
    std::unique_ptr<CFATSearchedPartitionInfo> BuildPartitionInfoFromBoot(const FATBootGeometry& boot,
                                                                          long long start, bool backup) const;
    // Into the candidate set, expecting its two FATs.
    void AddBootCandidate(std::unique_ptr<CFATSearchedPartitionInfo> candidate);

    // What the scan has gathered (for tests and diagnostics).
    const CandidateSet& GetCandidates() const { return m_setCandidates; }
    const FATTableInfoSet& GetExpectedFATs() const { return m_setExpectedFATs; }
    const FATFolderSectorSet& GetFolderSectors() const { return m_setFolderSectors; }
    const PartitionList& GetPartitions() const { return m_vecPartitions; }

    // The vote counter of a candidate: the subdirectories that voted for it.
    static long long GetVotes(const CSearchedPartitionInfo& candidate) { return candidate.GetCounter1(); }

    // Whether a FAT of type with data area from dataStart at this cluster
    // size fits the device; clusters and sectorsPerFat receive the sizes
    // the test worked out.
    bool IsValidFileSystem(long long dataStart, unsigned int sectorsPerCluster, enumFILE_SYSTEM_TYPE type,
                           unsigned int* clusters, unsigned int* sectorsPerFat) const;
    // FAT32, else FAT16, else unknown; FAT12 is never chosen.
    enumFILE_SYSTEM_TYPE CalcFileSystemType(long long dataStart, unsigned int sectorsPerCluster,
                                            unsigned int* clusters, unsigned int* sectorsPerFat) const;

private:
    // 1 when the boot sector in the buffer (sector s) made a candidate.
    int AnalyzeDBR(const uint8_t* sector, long long s);
    bool ExpectsFat12TableAt(long long s) const;
    void UpdateFATTableInfo(long long s);
    void AnalyzeFATSubFolderFirstSector(long long s, unsigned int firstCluster);
    std::unique_ptr<CFATSearchedPartitionInfo> BuildPartitionInfoAccordingtoSubFolder(long long s,
                                                                                      unsigned int firstCluster,
                                                                                      unsigned int spc) const;
    CFATSearchedPartitionInfo* FindCandidate(long long dataStart, unsigned int spc) const;
    ResultCode CompleteBulidDirectoryTree(CFATSearchedPartitionInfo* partition);
    void AnalyzeSector(const uint8_t* sector, long long s, CFATFolderAnalyser& folders);
    struct CandidateFields;
    std::unique_ptr<CFATSearchedPartitionInfo> NewRecord(const CandidateFields& fields) const;
    long long DeviceSectors() const;

    int m_iSectorsperBlock = -1;
    IStorageDevice* m_pDevice = nullptr;
    IBlockView* m_pView = nullptr;  // the device, when it shows cached blocks in place
    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    PartitionList m_vecPartitions;  // owned
    IProgress* m_pProgress = nullptr;  // the walk reports to nobody
    CandidateSet m_setCandidates;
    FATTableInfoSet m_setExpectedFATs;
    FATFolderSectorSet m_setFolderSectors;
    unsigned int m_dwSectorSize = 512;
    std::map<long long, unsigned int>* m_pFileSectorMap = nullptr;
    // Sectors are read a run at a time into this.
    std::vector<uint8_t> m_vecReadBuffer;
};

ICompleteFileSystemSearchController* CreateFATSearcher();
