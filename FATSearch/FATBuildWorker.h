// One FAT12/16/32 partition turned into file nodes: its geometry, and the
// walk of its directory tree that hands every live and deleted file and
// folder to the tree builder under searcher type 32.
#pragma once

#include <cstdint>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "EngineTypes.h"
#include "FATFolderSector.h"
#include "ResultCode.h"

class CFATBuildChildren;
class CFATFileNode;
class CSearchedPartitionInfo;
class IDirecotryTreeBuilder;
class IFATTable;
class IProgress;
class IStorageDevice;

// First cluster of a folder to its node (nodes owned by the tree builder).
using FATFolderMap = std::unordered_map<uint32_t, CFATFileNode*>;
// Clusters already read as directory clusters.
using FATVisitedClusters = std::unordered_set<uint32_t>;

class CFATBuildWorker {
public:
    // Result codes of the quick build.
    static constexpr ResultCode kResultStopped = MakeResultCode(kModuleFATSearch, 0x98, 0x0D);
    static constexpr ResultCode kResultRootFailed = MakeResultCode(kModuleFATSearch, 0x8E, 0x01);

    // Sectors are the device's: the partition starts at startSector; the
    // root directory (FAT12/16) at rootStartSector; the data area at
    // dataStartSector. fromBootSector: the boot sector was seen, so the root
    // is known. fat: not owned; neither are the other pointers.
    CFATBuildWorker(IDirecotryTreeBuilder* builder, IProgress* progress, CSearchedPartitionInfo* partition,
                    IStorageDevice* device, enumFILE_SYSTEM_TYPE type, long long startSector,
                    unsigned int sectorsPerCluster, long long rootStartSector, unsigned int rootSectors,
                    unsigned int rootCluster, int fromBootSector, long long dataStartSector, long long totalSectors,
                    IFATTable* fat);
    CFATBuildWorker(const CFATBuildWorker&) = delete;
    CFATBuildWorker& operator=(const CFATBuildWorker&) = delete;

    // Walks the tree from the root, folder by folder (an iterative walk:
    // folders may nest as deep as the disk allows). 0 when done;
    // kResultStopped when the progress sink asked to stop; kResultRootFailed
    // when the root could not be walked. Every build lists live and deleted
    // entries alike, so mode is not looked at (the quick searcher passes 1).
    ResultCode QuickBuildDirectoryTree(int mode);

    // Whether bytes (one sector of the device's size) hold a FAT16 or FAT32
    // boot sector whose FATs fit the volume and one of whose two FAT copies,
    // read from the device, starts like a FAT.
    static bool IsFullValidDBR(const uint8_t* lpDBRBuffer, long long partitionStart, IStorageDevice* device);

    // 0 for clusters below 2.
    long long ConvertClusterNumToSector(unsigned long long cluster) const;
    unsigned int ConvertSectorToClusterNum(long long sector) const;
    bool IsFirsectorInCluster(long long sector) const;

    // Clusters of the data area: valid cluster numbers are 2 up to (not
    // including) this value.
    unsigned long long GetClusterEnd() const;

    // Deep scan (defined with the complete build). The tree from the root,
    // when the boot sector was seen, and from every directory sector the
    // scan recorded in this partition; directory clusters no walk reached
    // are parsed as lost entries. Always 1.
    int CompleteBuildDirectoryTree(const FATFolderSectorSet& folderSectors);
    // The deep scan's map from a file's first sector to its RAW type index;
    // deleted FAT32 files are matched against it instead of being read.
    void SetFileSectorMap(std::map<long long, unsigned int>* map);
    // A made-up folder "DIR<n>" (deleted and made up: state 9) standing in
    // for a directory whose own entry was not found. Owned by the caller.
    CFATFileNode* CreateTempFileNode(unsigned int cluster, unsigned int parentCluster);
    // Every deep scan starts the "DIR<n>" names and the empty-file ids anew.
    static void ResetDeepScanCounters();

private:
    friend class CFATBuildChildren;

    // A sector of a FAT12/16 root directory whose boot sector is lost.
    void BuildFat16LostRoot(CFATBuildChildren& children, long long sector);
    // Directory clusters that no walk read, parsed under a throw-away parent.
    void BuildLostNode(CFATBuildChildren& children, const FATFolderSectorSet& folderSectors);

    IDirecotryTreeBuilder* m_pTreeBuilder;
    IProgress* m_pProgress;
    CSearchedPartitionInfo* m_pPartition;
    IStorageDevice* m_pDevice;
    enumFILE_SYSTEM_TYPE m_eFileSystemType;
    long long m_s64StartSector;
    unsigned int m_dwSectorsPerCluster;
    long long m_s64RootStartSector;
    unsigned int m_dwRootSectors;
    unsigned int m_dwRootCluster;
    int m_iFromBootSector;
    long long m_s64DataStartSector;
    long long m_s64TotalSectors;
    IFATTable* m_pFATTable;
    FATFolderMap m_mapFolders;
    FATVisitedClusters m_setVisitedClusters;
    unsigned int m_dwSectorSize = 512;
    std::map<long long, unsigned int>* m_pFileSectorMap = nullptr;
};
