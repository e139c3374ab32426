// The exFAT searcher of the deep scan: classifies every sector of the device
// (boot sector, first FAT sector, up-case-table start, directory sector),
// rebuilds the lost volumes from that evidence, and at the end hands each
// volume's files to the tree builder under searcher type 33.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ExFatFileSet.h"
#include "ExFatPartitionRebuild.h"
#include "ISearcher.h"
#include "LargeBuffer.h"

class IDirecotryTreeBuilder;
class IStorageDevice;

class CExFatCompleteSearch : public ICompleteFileSystemSearchController {
public:
    CExFatCompleteSearch() = default;
    ~CExFatCompleteSearch() override = default;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    // The final partitions, in list order; stores them only when capacity
    // is at least their number.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) override;
    int SetDevice(IStorageDevice* device) override;
    int SetBlockSize(int sectorsPerBlock) override;
    int PreparetoSearch() override { return 1; }
    // Builds the trees of the rebuilt volumes; nothing when build is 0.
    void EndSearch(int build) override;
    // 0 when the device, tree builder or block size is missing, the block
    // is larger than the block size, or the read fails; else 1.
    int AnalyzeBlock(long long firstSector, long long sectorCount) override;

    // Debug listing of the sets, the candidates and the final partitions
    // (tests check intermediate states with it).
    std::string DebugListing() const;
    const CPartitionBuilder& GetBuilder() const { return m_builder; }
    const std::vector<std::unique_ptr<CExFatPartitionEx>>& GetPartitions() const { return m_listPartitions; }

private:
    bool Prepare();
    void AnalyzeSector(long long s, const uint8_t* sector, size_t available);
    void HandOver(long long s);
    void BuildPartitionTree(size_t index);

    IStorageDevice* m_pDevice = nullptr;
    unsigned int m_iSectorsperBlock = 0;
    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    unsigned int m_dwSectorSize = 0;
    long long m_s64TotalSectors = 0;
    // Carried tail (two sectors), then the block, then room for two more.
    LargeBuffer m_pBuffer;
    size_t m_nBlockBytes = 0;
    size_t m_nTailBytes = 0;
    // The last two sectors of the previous block, and where the next block
    // must start for them to precede it.
    std::vector<uint8_t> m_vecTail;
    long long m_s64NextStart = -1;
    CFDTPreAnaylze m_preAnalyze;
    CPartitionBuilder m_builder;
    std::vector<std::unique_ptr<CExFatPartitionEx>> m_listPartitions;
    bool m_bPrepared = false;
    bool m_bEnded = false;
};

ICompleteFileSystemSearchController* CreateEXFatSearcher();
