// The deep NTFS search: every sector of a device passes cheap tests for boot
// sectors, FILE records, folder records and index records; what they find
// places partition candidates, which are scored and culled at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "ISearcher.h"
#include "LargeBuffer.h"
#include "NTFSLogFileAnalyzer.h"
#include "NTFSSearchInfo.h"

class CNTFSDBR;
class IBlockView;
class IDirecotryTreeBuilder;
class IStorageDevice;

// Lists stop growing at this many entries, so that a device full of copies
// cannot exhaust memory.
constexpr size_t kNtfsSearchListCap = 500000;

// Both sets are searched by MFT record number alone.
struct CIndexRecordInfoThanbyParentMFTNumber {
    using is_transparent = void;
    static long long Key(const std::unique_ptr<CIndexRecordInfo>& a) { return a->m_s64MFTNumber; }
    static long long Key(long long n) { return n; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const
    {
        return Key(a) < Key(b);
    }
};
struct CFolderIndexAllocationInfoLessThanbyParentMFTNumber {
    using is_transparent = void;
    static long long Key(const std::unique_ptr<CFolderIndexAllocationInfo>& a) { return a->GetMFTFileRecordNumber(); }
    static long long Key(long long n) { return n; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const
    {
        return Key(a) < Key(b);
    }
};

// The meta-file records at the head of a master file table: $MFT, then
// record k exactly 2k sectors further, up to 16 sectors.
class CMetaFileRecordGroupinMFTAnalyzer {
public:
    CMetaFileRecordGroupinMFTAnalyzer(MFTInfoList& mft, MFTMirrInfoList& mirrors, NTFSPartitionSet& set,
                                      CNTFSPartitionInfoBuilder& builder, MFTFilesPairList& pairs,
                                      FindFileList& finders, IStorageDevice* device);
    void SetDeviceTotalSectors(long long n) { m_s64DeviceSectors = n; }
    // record: 1,024 bytes as read (protected), valid or not.
    void AnalyzeNTFSMetaFileRecord(long long sector, const uint8_t* record);
    // Closes the open group (its evidence becomes candidates).
    void CloseGroup();
    // False for a $MFT or $MFTMirr record whose list is full.
    bool IsCounted(const uint8_t* plainRecord) const;

    static void AdjustPartitionSizeandMFTSector(CSearchedNTFSPartitionInfo& candidate, long long groupStart,
                                                long long clusters);

private:
    void AnalyzeSingleMFT(const CMFTInfo& mft);
    void AnalyzeMFTFilesPair(const CMFTFilesPair& pair);
    void ResetGroup();

    CMFTInfo* m_pMFT = nullptr;
    CMFTMirrInfo* m_pMirror = nullptr;
    long long m_s64Start = -1;
    long long m_s64Clusters = -1;
    MFTInfoList& m_mft;
    MFTMirrInfoList& m_mirrors;
    NTFSPartitionSet& m_set;
    CNTFSPartitionInfoBuilder& m_builder;
    MFTFilesPairList& m_pairs;
    FindFileList& m_finders;
    long long m_s64DeviceSectors = 0;
    IStorageDevice* m_pDevice;
};

class CNTFSSearchController : public ICompleteFileSystemSearchController {
public:
    CNTFSSearchController();
    ~CNTFSSearchController() override;
    CNTFSSearchController(const CNTFSSearchController&) = delete;
    CNTFSSearchController& operator=(const CNTFSSearchController&) = delete;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) override;
    int SetDevice(IStorageDevice* device) override;
    int SetBlockSize(int sectorsPerBlock) override;
    int PreparetoSearch() override;
    void EndSearch(int build) override;
    int AnalyzeBlock(long long firstSector, long long sectorCount) override;

    static long long CalcFileSystemReliabilityScore(const CSearchedNTFSPartitionInfo& candidate);
    // Scores every candidate (weigh fills its content match counts first)
    // and drops the weak ones; dropped candidates are freed.
    static void CullCandidates(NTFSPartitionSet& set,
                               const std::function<void(CSearchedNTFSPartitionInfo&)>& weigh);

    // The evidence gathered so far (for tests).
    const NTFSPartitionSet& GetCandidates() const { return m_candidates; }
    const FileRecordPositionList& GetPositions() const { return m_positions; }
    const MFTInfoList& GetMFTInfos() const { return m_mft; }
    const CLogFileAnalyzer* GetLogFileAnalyzer() const { return m_pLogFileAnalyzer.get(); }
    const CAttrDefFileAnalyzer* GetAttrDefAnalyzer() const { return m_pAttrDefAnalyzer.get(); }

    // Single tests on one sector (the block analysis calls them in order).
    void AnalyzeNTFSDBRSector(long long sector, const uint8_t* buffer);
    void AnalyzeNTFSFileRecordSector(long long sector, const uint8_t* buffer, unsigned int available);
    void AnalyzeIndexRecord(long long sector, const uint8_t* buffer, unsigned int available);

private:
    CSearchedNTFSPartitionInfo* BuildPartitionInfoFromDBR(const CNTFSDBR& dbr, long long start, unsigned int flags);
    void AnalyzeFileRecord(long long sector, const uint8_t* record);
    void AnalyzeNormalFileRecord(long long sector, const uint8_t* record);
    void AnalyzeFolderFileRecordHavingIndexAllocation(long long sector, const uint8_t* record);
    void AnalyzeIndexBuffer(long long sector, uint8_t* buffer);
    void MatchFolderAndIndex(const CFolderIndexAllocationInfo& folder, const CIndexRecordInfo& index);
    void ReleaseSearchState();
    void Cull();

    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    int m_iSectorsperBlock = 0;
    IStorageDevice* m_pDevice = nullptr;
    IBlockView* m_pView = nullptr;  // the device, when it shows cached blocks in place
    unsigned int m_dwSectorSize = 512;
    // Room for the block and the sectors after it; a block looked at in
    // place only has its last sectors copied here, with those after it.
    LargeBuffer m_pBlock;
    size_t m_nBlockBytes = 0;
    std::multiset<std::unique_ptr<CIndexRecordInfo>, CIndexRecordInfoThanbyParentMFTNumber> m_indexRecords;
    NTFSPartitionSet m_candidates;
    std::multiset<std::unique_ptr<CFolderIndexAllocationInfo>, CFolderIndexAllocationInfoLessThanbyParentMFTNumber>
        m_folders;
    MFTMirrInfoList m_mirrors;
    MFTFilesPairList m_pairs;
    MFTInfoList m_mft;
    FileRecordPositionList m_positions;
    std::unique_ptr<CMetaFileRecordGroupinMFTAnalyzer> m_pGroupAnalyzer;
    std::unique_ptr<CLogFileAnalyzer> m_pLogFileAnalyzer;
    std::unique_ptr<CAttrDefFileAnalyzer> m_pAttrDefAnalyzer;
    CNTFSPartitionInfoBuilder m_builder;
    FindFileList m_finders;

    // A FILE record whose second half is in the next block.
    long long m_s64PendingFileSector = -1;
    uint8_t m_u8PendingFile[512] = {};
    // An index record whose remaining sectors are in the next block.
    long long m_s64PendingIndexSector = -1;
    long long m_s64PendingIndexHeld = -1;
    std::vector<uint8_t> m_vecPendingIndex = std::vector<uint8_t>(4096, 0);
};

ICompleteFileSystemSearchController* CreateNTFSSearcher();
