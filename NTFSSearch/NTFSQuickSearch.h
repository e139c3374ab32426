// Quick searcher of one NTFS volume: reads the master file table from start
// to end and hands every file and folder, live and deleted, to the tree
// builder under searcher type 35.
#pragma once

#include <cstdint>
#include <vector>

#include "FindFileFromLogFile.h"
#include "ISearcher.h"
#include "NTFSDataRunList.h"
#include "SearchedPartitionInfo.h"

class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;

class CNTFSQuickSearch : public IQuickFileSystemSearchController {
public:
    static constexpr ResultCode kNoDevice = 0x0112006500000005ULL;
    static constexpr ResultCode kBadBootSector = 0x0112007500000010ULL;
    static constexpr ResultCode kNoMFT = 0x0112007E00000011ULL;

    CNTFSQuickSearch();
    ~CNTFSQuickSearch() override = default;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) override;
    ResultCode QuickSearchFiles(IStorageDevice* volume, IProgress* progress) override;

    // The $MFT runs found by the last search (for tests).
    const CNTFSDataRunList& GetMFTDataRunList() const { return m_mftRuns; }
    const CFindFileFromLogFile& GetLogFileFinder() const { return m_logFile; }

private:
    bool GetMFTInfo(unsigned long long mftCluster, unsigned long long mirrorCluster);
    bool ReadMFTInfoFromFileRecord(long long recordSector, unsigned int sectorsPerRecord);
    ResultCode BuildFileNodeFromMFTFileRecord();
    // Records of one batch: bytes read from consecutive sectors starting at
    // firstSector, whose first byte is byte mftOffset of the MFT.
    void BuildFileNodeFromBuffer(uint8_t* buffer, unsigned long long bytes, long long firstSector,
                                 unsigned long long mftOffset);
    // offsetInSector: where the record begins in its sector (records smaller
    // than a sector).
    void BuildOneRecord(uint8_t* record, long long number, long long sector, unsigned int offsetInSector);

    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    IStorageDevice* m_pDevice = nullptr;
    IProgress* m_pProgress = nullptr;
    CSearchedPartitionInfo m_partition;
    CNTFSDataRunList m_mftRuns;
    unsigned int m_dwSectorsPerCluster = 1;
    unsigned int m_dwSectorSize = 512;
    unsigned int m_dwRecordSize = 1024;
    CFindFileFromLogFile m_logFile;
};

IQuickFileSystemSearchController* CreateNTFSQuickSearcher();
