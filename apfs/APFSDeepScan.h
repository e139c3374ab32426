// The APFS searcher of the deep scan: finds container superblocks (and a
// lone volume superblock when no container is known) anywhere on a device,
// offers every other sane block to the known containers as a possible
// file-system tree leaf, and hands the found nodes to the tree builder.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "APFSContainer.h"
#include "ISearcher.h"

class APFSDeepScan : public ICompleteFileSystemSearchController, public APFSDelegate {
public:
    APFSDeepScan();
    ~APFSDeepScan() override;
    APFSDeepScan(const APFSDeepScan&) = delete;
    APFSDeepScan& operator=(const APFSDeepScan&) = delete;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    void VolumeNamed(const char* name) override;
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) override;
    int SetDevice(IStorageDevice* device) override;
    int SetBlockSize(int) override { return 0; }
    int PreparetoSearch() override { return 0; }
    void EndSearch(int build) override;
    int AnalyzeBlock(long long firstSector, long long sectorCount) override;
    void SetIProgressSink(IProgress* progress) override { m_pProgress = progress; }

    bool Continued() override;
    int AddNode(APFSFileNode* node) override;
    int ReadBlock(APFSContainer* container, uint64_t block, int byteCount, void* buffer) override;

    size_t GetContainerCount() const { return m_mapContainers.size(); }
    const std::map<uint64_t, APFSContainer*>& GetContainers() const { return m_mapContainers; }

private:
    bool ReadGroup(uint64_t block);
    bool TryContainerSuperblock(uint64_t sector, const unsigned char* data);
    bool TryVolumeSuperblock(uint64_t sector, const unsigned char* data);

    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    IStorageDevice* m_pDevice = nullptr;
    IProgress* m_pProgress = nullptr;
    std::map<uint64_t, APFSContainer*> m_mapContainers;
    int m_iSectorSize = 512;
    std::vector<unsigned char> m_vecBuffer;
};

ICompleteFileSystemSearchController* CreateAPFSDeepSearcher();
IQuickFileSystemSearchController* CreateAPFSQuickSearcher();
