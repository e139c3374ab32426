// Parses FAT directories into file nodes for one build of one partition:
// the root, each folder's cluster chain in runs of up to 128 sectors, and the
// guess of the first clusters that deleting a FAT32 file cut to 16 bits.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "FATBuildDataRun.h"
#include "FATBuildWorker.h"
#include "FATDirEntry.h"
#include "FATFilePropertiesBuilder.h"
#include "FATRawAnalysers.h"

class CFATFileProperties;

// Folders whose entries are still to be read, first in, first out.
using FATFolderList = std::deque<CFATFileNode*>;

class CFATBuildChildren {
public:
    // Parse result of a buffer that turned out not to be a directory.
    static constexpr unsigned int kNotADirectory = 0xFFFFFFFFu;

    explicit CFATBuildChildren(CFATBuildWorker& worker);
    CFATBuildChildren(const CFATBuildChildren&) = delete;
    CFATBuildChildren& operator=(const CFATBuildChildren&) = delete;

    // The root's entries, when the root is known; its folders go to list.
    // 0 when the root could not be read or is not a root directory.
    int BuildRoot(FATFolderList& list, int rootKnown);
    // The entries of one directory (parent none for the FAT32 root),
    // following its chain from firstCluster; its folders go to list. 0 when
    // the directory is dropped: its chain comes back to a cluster already
    // read, or its first cluster does not start as a directory of its kind.
    int BuildChildren(CFATFileNode* parent, unsigned int firstCluster, FATFolderList& list, int isRoot);
    // Parses length bytes of entries (the buffer is changed: guessed
    // clusters are written into the entries). Returns where an unfinished
    // long-name run starts, or length, or kNotADirectory when a third "."
    // entry shows that the bytes are not one directory.
    unsigned int BuildChildrenFromBuffer(uint8_t* bytes, unsigned int length, CFATFileNode* parent,
                                         FATFolderList& list, int stopAtInvalid);
    IDataRunList* BuildDataRunList(unsigned int firstCluster, long long size, int deleted);

    // The switch read from "UIConfig.ini" (FAT32 only; the guess runs
    // whatever it says).
    bool GetRevise() const { return m_bRevise; }

    // Deep scan (defined with the complete build): a guessed first cluster of
    // a deleted file is taken when the scan's file-sector map saw a file of
    // the same extension start at its sector; no sector is read for it.
    void SetFileSectorMap(const std::map<long long, unsigned int>* map);
    void SetMatchFileSectorMap(bool match);

private:
    struct Candidate {
        unsigned long long cluster;
        bool found;
    };

    void ReadReviseSwitch();
    bool ReadWorkSector(long long sector);

    // The FAT32 first-cluster guess of one entry. R: the folder's first
    // cluster as reference (0 under a made-up folder); N: the running next
    // cluster, carried from entry to entry.
    void ReverseDelFileFirstNum(CTempFATDirEntry& entry, unsigned long long R, unsigned long long& N,
                                CFATFileProperties* props, bool madeUpParent);
    // Tries x, x + 0x10000, x + 2 x 0x10000, ..., n - 1 candidates.
    Candidate TryGetRealFirstNum(unsigned long long x, unsigned int n, bool folder);
    // The cluster's first sector starts with "." and "..".
    bool bEffectiveDIRFDT(unsigned long long cluster);
    // The cluster's first sector starts a file of a known format.
    bool IsKnownFileStart(unsigned long long cluster);
    // The deep scan's file test: the map's type at the cluster's sector has
    // the current extension.
    bool IsMappedFileStart(unsigned long long cluster) const;
    bool bInDelFileOrDIRMap(unsigned long long& cluster, CTempFATDirEntry& entry, const std::string& name,
                            bool& found, bool folder);
    // Sector of a candidate cluster, or -1 when it is not worth a read.
    long long CandidateSector(unsigned long long cluster) const;
    void SetCurrentExtension(const char* name);

    CFATBuildWorker& m_worker;
    IDirecotryTreeBuilder* m_pTreeBuilder;
    CSearchedPartitionInfo* m_pPartition;
    IStorageDevice* m_pDevice;
    FATVisitedClusters* m_pVisitedClusters;
    FATFolderMap* m_pFolderMap;
    long long m_s64TotalSectors;
    enumFILE_SYSTEM_TYPE m_eFileSystemType;
    IFATTable* m_pFATTable;
    unsigned int m_dwSectorsPerCluster;
    unsigned int m_dwSectorSize;
    unsigned int m_dwRootCluster;
    long long m_s64RootStartSector;
    unsigned int m_dwRootSectors;
    long long m_s64DataStartSector;
    unsigned long long m_u64ClusterEnd;
    long long m_s64DeviceSectors;

    bool m_bRevise = false;
    std::string m_strCurrentExtension;
    CFATFilePropertiesBuilder m_propertiesBuilder;
    CFATBuildDataRun m_dataRunBuilder;

    // Directory runs are read into this.
    std::vector<uint8_t> m_vecRunBuffer;
    // One sector and a spare byte, for candidate tests; made on first use.
    std::vector<uint8_t> m_vecWorkSector;
    bool m_bAnalysersCopied = false;
    CFATRawAnalyserSet m_analysers;
    std::unordered_map<unsigned long long, std::string> m_mapDeletedFileNames;
    std::unordered_map<unsigned long long, std::string> m_mapFolderNames;

    const std::map<long long, unsigned int>* m_pFileSectorMap = nullptr;
    bool m_bMatchFileSectorMap = false;
};
