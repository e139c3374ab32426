// The deep scan's searcher that carves files by their leading bytes: probes
// every sector not yet owned by a file, follows open candidates sector by
// sector, sizes the others from a ring of recent blocks or from the device,
// and files finished ones into the "(RAW Files)" and "(Label RAW Files)"
// trees.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <vector>

#include "BufferStorageDevice.h"
#include "FileTypeManager.h"
#include "ISearcher.h"
#include "LabelRawTreeBuilder.h"
#include "LargeBuffer.h"
#include "RawFileInfo.h"

class CRAWFileManager;
class IRawFileAnalyser;

class CRAWSearchController : public ICompleteFileSystemSearchController {
public:
    static constexpr int kMaxOpenCandidates = 32;
    static constexpr unsigned int kCacheBlocks = 20;
    // Analysers may read this far past the end of the current block.
    static constexpr unsigned int kBufferSlack = 4096;

    CRAWSearchController();
    ~CRAWSearchController() override;
    CRAWSearchController(const CRAWSearchController&) = delete;
    CRAWSearchController& operator=(const CRAWSearchController&) = delete;

    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) override;
    // One record for the whole device (the caller owns it); returns 1.
    int GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int count) override;
    int SetDevice(IStorageDevice* pDevice) override;
    int SetBlockSize(int iSectorsperBlock) override;
    int PreparetoSearch() override;
    void EndSearch(int flag) override;
    int AnalyzeBlock(long long startSector, long long sectorCount) override;
    void SetIProgressSink(IProgress* progress) override;
    void SetBitmap(TBitmap* bitmap) override { m_pBitmap = bitmap; }
    void SetFileSectorMap(std::map<long long, unsigned int>* map) override { m_pFileSectorMap = map; }
    TBitmap* GetBitmap() override { return m_pBitmap; }

    // The manager of a type's group, made on first use; null for a type
    // index past the table.
    CRAWFileManager* GetFileManager(unsigned int type);

    // Candidates held, for tests: open ones are also pending.
    size_t GetPendingCount() const { return m_listPending.size(); }
    size_t GetWaitCount() const { return m_listWait.size(); }
    int GetOpenCount() const { return m_iOpenCount; }

private:
    using CandidateList = std::list<CRawFileInfo*>;

    struct OpenCandidate {
        CRawFileInfo* pInfo;
        CandidateList::iterator itPending;
    };

    // The first analyser that accepts the sector, or null.
    IRawFileAnalyser* Lookup(unsigned char* sector, CRawFileInfo& probe, long long sectorNumber,
                             const CRawFileInfo::SearchContext& context);
    void FileCandidate(CRawFileInfo* info, unsigned char* sector, long long sectorNumber);
    void FeedOpenCandidates(unsigned char* sector, long long sectorNumber, CRawFileInfo::SearchContext& context,
                            CRawFileInfo* newCandidate);
    // A header at sectorNumber ends every open candidate that has no size
    // yet and does not hold that sector.
    void EndOpenAtHeader(long long sectorNumber, CRawFileInfo::SearchContext& context, CRawFileInfo* newCandidate);
    // A candidate ended by a header, without a size yet.
    void EndAsBeforeZeros(CRawFileInfo* info, long long sectorNumber, const CRawFileInfo::SearchContext& context);
    bool HeldAsOwnRecord(unsigned int analyserId, long long sectorNumber,
                         const CRawFileInfo::SearchContext& context);
    void RemoveOpen(int index);
    // Keeps the wait list in start order, so the ring sizes every candidate
    // of its oldest block before that block is replaced.
    void InsertWait(CRawFileInfo* info);
    void SizeWaitingFromRing(long long sectorCount);
    // The one place a finished candidate leaves: its size is cut to what the
    // device holds from its start, and a non-empty one goes to its group's
    // manager. The caller deletes the candidate.
    void HandOn(CRawFileInfo* info);
    void DeleteCandidates();
    void DeleteManagers();

    std::unique_ptr<CFileTypeManager> m_pFileTypeManager;
    std::map<FILE_TYPE_ID, CRAWFileManager*> m_mapFileManagers;
    // The manager of each type index once looked up: a group lookup that
    // misses walks the whole extension table.
    std::vector<CRAWFileManager*> m_vecManagerByType;
    IStorageDevice* m_pDevice = nullptr;
    int m_iSectorsperBlock = 0;
    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    CBufferStorageDevice m_BlockCache;
    CandidateList m_listPending;
    CandidateList m_listWait;
    std::map<long long, unsigned int>* m_pFileSectorMap = nullptr;
    unsigned int m_dwBufferSize = 0;
    // Previous block, current block, then kBufferSlack zero bytes.
    LargeBuffer m_pBlockBuffer;
    TBitmap* m_pBitmap = nullptr;
    int m_iSectorSize = 512;
    OpenCandidate m_arrOpen[kMaxOpenCandidates] = {};
    int m_iOpenCount = 0;

    IProgress* m_pProgress = nullptr;
    // One label tree for all groups of this search.
    std::unique_ptr<CLABELRAWTreeBuilder> m_pLabelBuilder;
    // Start sector of the block in the buffer's first half, -1 when it holds
    // none that the current block follows.
    long long m_llPreviousBlock = -1;
    // Where the ring expects the next block.
    long long m_llNextBlock = 0;
};

ICompleteFileSystemSearchController* CreateRAWSearcher();
