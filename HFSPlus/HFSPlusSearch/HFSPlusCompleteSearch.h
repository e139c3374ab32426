// The HFS+ searcher of the deep scan: looks at every sector for volume
// headers, journal records and B-tree nodes, keeps one record per volume it
// finds, turns loose catalog leaf records into file nodes of the volume they
// belong to, and at the end reports the volumes as partitions.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "HFSPlusStructs.h"
#include "ISearcher.h"

class CHFSPlusVolume;
class CHFSPlusBTNode;
class IBlockView;
class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;
union HFSPlusCatalogRecord;

// One volume found on the device.
struct CompleteSearchPatition {
    CompleteSearchPatition() = default;
    ~CompleteSearchPatition();
    CompleteSearchPatition(const CompleteSearchPatition&) = delete;
    CompleteSearchPatition& operator=(const CompleteSearchPatition&) = delete;

    long long s64StartSector = 0;
    long long s64TotalSectors = 0;
    uint32_t dwBlockSize = 4096;
    uint32_t dwFileCount = 0;
    uint32_t dwFolderCount = 0;
    std::unique_ptr<HFSPlusVolumeHeader> pHeader;
    long long s64HeaderSector = -1;
    std::unique_ptr<IStorageDevice> pWindow;
    std::unique_ptr<CHFSPlusVolume> pVolume;
    std::unique_ptr<JournalInfoBlock> pJournalInfo;
    long long s64JournalInfoSector = -1;
    std::unique_ptr<JournalHeader> pJournalHeader;
    long long s64JournalHeaderSector = -1;
    uint16_t wIndex = 0;
    // An open was tried and failed: the record takes no nodes from then on.
    bool bOpenFailed = false;
};

class CHFSPlusCompleteFileSystemSearchController : public ICompleteFileSystemSearchController {
public:
    CHFSPlusCompleteFileSystemSearchController() = default;
    ~CHFSPlusCompleteFileSystemSearchController() override;
    CHFSPlusCompleteFileSystemSearchController(const CHFSPlusCompleteFileSystemSearchController&) = delete;
    CHFSPlusCompleteFileSystemSearchController& operator=(const CHFSPlusCompleteFileSystemSearchController&) = delete;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    // When count is below the number of found volumes, that number and
    // nothing filled; else the records made.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int count) override;
    int SetDevice(IStorageDevice* device) override;
    int SetBlockSize(int sectorsPerBlock) override;
    int PreparetoSearch() override;
    // Works out each volume's start and size; nothing when flush is 0.
    void EndSearch(int flush) override;
    int AnalyzeBlock(long long firstSector, long long sectorCount) override;
    void SetIProgressSink(IProgress* progress) override { m_pProgress = progress; }

    const std::vector<std::unique_ptr<CompleteSearchPatition>>& GetFoundVolumes() const { return m_listPartitions; }
    ResultCode GetLastError() const { return m_llLastError; }

private:
    void ClearPartitions();
    bool ReadOneSector(long long s);
    // Each test looks at the sector m_pSector shows: in the cached block, or
    // the copy ReadOneSector made.
    bool TestVolumeHeader(long long s);
    // slice: which 512-byte part of sector s holds the header.
    void RecordVolumeHeader(const HFSPlusVolumeHeader& header, long long s, unsigned int slice);
    void MoveFirstStartToHeader(CompleteSearchPatition& p, const HFSPlusVolumeHeader& header, long long s,
                                unsigned int slice);
    bool TestJournalInfoBlock(long long s);
    bool TestJournalHeader(long long s);
    // The sectors of the node at s (at most left), 0 when none.
    long long TestBTreeNode(long long s, long long left);
    void AnalyzeNode(CHFSPlusBTNode& node, long long s);
    void AnalyzeCatalogLeaf(CHFSPlusBTNode& node, long long s);
    CompleteSearchPatition* AdjustNodeBelongsPartitionIndex(const HFSPlusCatalogRecord& record, long long s,
                                                           CHFSPlusVolume** volume);
    // Opens the volume of a record; false when it cannot be opened.
    bool OpenPartitionVolume(CompleteSearchPatition& p);
    // True when the device begins with the first record's volume; may
    // attach the device's own header to a record that has none.
    bool DeviceBeginsWithVolume(CompleteSearchPatition& p);
    // Opens the first record's volume once, and scans it when the device
    // begins with it.
    void OpenFirstPartition(CompleteSearchPatition& p);

    IStorageDevice* m_pDevice = nullptr;
    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    uint32_t m_dwBlockSize = 0;
    uint32_t m_dwSectorSize = 0;
    long long m_s64TotalSectors = 0;
    std::vector<std::unique_ptr<CompleteSearchPatition>> m_listPartitions;
    std::vector<unsigned char> m_vecSector;
    const unsigned char* m_pSector = nullptr;
    IBlockView* m_pView = nullptr;
    ResultCode m_llLastError = 0;
    IProgress* m_pProgress = nullptr;
    // The 32 KiB that a B-tree node can span.
    std::vector<unsigned char> m_vecNode;
};

ICompleteFileSystemSearchController* CreateHFSPlusSearcher();
