// Quick searcher of one exFAT volume: walks the directory tree from the
// root, breadth first, and hands every file and folder to the tree builder
// under searcher type 33.
#pragma once

#include <cstdint>
#include <deque>
#include <unordered_set>
#include <vector>

#include "EFDTAnalyze.h"
#include "ExFatPartition.h"
#include "ISearcher.h"

class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;

class CExFatQuickSearch : public IQuickFileSystemSearchController {
public:
    CExFatQuickSearch() = default;
    ~CExFatQuickSearch() override = default;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) override;
    // Always 0. With a progress sink, the last report is the finished one
    // (state 3, total 1, done 1) whatever happened.
    ResultCode QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override;


private:
    // A folder whose entries are still to be read.
    struct WaitingDir {
        uint32_t dwFirstCluster;
        long long s64Size;
        bool bContiguous;
        bool bDeleted;
    };

    bool PrepareSearch(IStorageDevice* device);
    void QuickSearch(IStorageDevice* device, IProgress* progress);
    // Reads one folder's clusters and hands its entries to the builder;
    // false when a cluster could not be read.
    bool BuildChildren(IStorageDevice* device, uint32_t firstCluster, long long size, bool contiguous,
                       bool parentDeleted, std::deque<WaitingDir>& waiting);
    void EndWalk(IStorageDevice* device, IProgress* progress);

    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    CExFatPartition m_partition;
    CEFDTAnalyze m_analyze;
    std::vector<uint8_t> m_vecClusterBuffer;
    std::unordered_set<uint32_t> m_setDirClusters;
    bool m_bTreeAnnounced = false;
};

IQuickFileSystemSearchController* CreateEXFatQuickSearcher();
