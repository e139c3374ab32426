// Gives each partition the deep NTFS search kept its files: the FILE records
// the search saw are read again, grouped by the master file table they
// belong to, and handed to the tree builder linked by MFT record numbers.
#pragma once

#include <list>
#include <memory>
#include <set>

#include "NTFSSearchInfo.h"

class CNTFSFileNode;
class CSearchedPartitionInfo;
class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;

using RecordInfoList = std::list<std::unique_ptr<CCommonFileRecordInfo>>;
using RecordInfoSet = std::multiset<CCommonFileRecordInfo*, CLessThanbyParentMFTNumber>;

// One master file table of a partition and the records found in it.
class CMFTDirectoryTreeBuildInfo {
public:
    explicit CMFTDirectoryTreeBuildInfo(CMFTInfo* mft) : m_pMFT(mft) {}
    CMFTInfo* m_pMFT;
    RecordInfoList m_records;
};

class CMFTDirectoryTreeBuilder {
public:
    // Links the table's records (or, without a table, only lost-file linking
    // of the given records).
    void BuildDirectoryTree(CMFTDirectoryTreeBuildInfo* info, RecordInfoList& records, long long partitionStart,
                            unsigned int sectorsPerCluster, IDirecotryTreeBuilder* tree, int index);
    static long long GetMFTNumber(long long recordSector, const CMFTInfo& mft, long long partitionStart,
                                  unsigned int sectorsPerCluster);

private:
    void BuildNormalFiles(const CMFTInfo& mft);
    void BuildLostFiles();
    // A node of the record's file, or null when it has no properties left.
    CNTFSFileNode* MakeNode(CCommonFileRecordInfo& info, long long parent, long long id);

    RecordInfoSet m_set;
    long long m_s64Start = 0;
    unsigned int m_dwSectorsPerCluster = 1;
    IDirecotryTreeBuilder* m_pTree = nullptr;
    int m_iIndex = 0;
};

class CNTFSDirectoryTreeBuilder {
public:
    CNTFSDirectoryTreeBuilder() = default;
    ~CNTFSDirectoryTreeBuilder();
    CNTFSDirectoryTreeBuilder(const CNTFSDirectoryTreeBuilder&) = delete;
    CNTFSDirectoryTreeBuilder& operator=(const CNTFSDirectoryTreeBuilder&) = delete;

    // Adds the candidate's files to the tree builder; returns the result node
    // (always null).
    CNTFSFileNode* BuildDirectoryTree(CNTFSIntelligentSearchInfo* info, CSearchedPartitionInfo* candidate,
                                      IStorageDevice* device, int index, IProgress* progress,
                                      IDirecotryTreeBuilder* tree);

    // The blocks that re-reading would read for a candidate: (first sector,
    // sectors) in order (for tests).
    static std::vector<std::pair<long long, long long>> PlanBlocks(const FileRecordPositionList& positions,
                                                                   long long start, long long totalSectors,
                                                                   long long deviceSectors);

    // When set, the tree is named after the volume's $Volume name (the
    // controller sets it when this candidate is the only one).
    void SetNameTreeAfterVolume(bool name) { m_bNameTree = name; }

private:
    void ReadFileRecords(const CSearchedNTFSPartitionInfo& candidate);
    bool m_bNameTree = false;
    void ExamineBlock(long long first, long long count, const CSearchedNTFSPartitionInfo& candidate);
    std::unique_ptr<CCommonFileRecordInfo> BuildCommonFileRecordInfoandFileProperties(const uint8_t* buffer,
                                                                                      long long sector,
                                                                                      CMFTInfo* table);
    void Clear();

    std::list<std::unique_ptr<CMFTDirectoryTreeBuildInfo>> m_matched;
    RecordInfoList m_loose;
    IStorageDevice* m_pDevice = nullptr;
    long long m_s64PartitionStart = -1;
    unsigned int m_dwSectorsPerCluster = 0;
    CNTFSIntelligentSearchInfo* m_pSearchInfo = nullptr;
    CSearchedPartitionInfo* m_pCandidate = nullptr;
    int m_iPartitionIndex = -1;
    IProgress* m_pProgress = nullptr;
    CNTFSFileNode* m_pResult = nullptr;
    int m_iDone = 0;
    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
};
