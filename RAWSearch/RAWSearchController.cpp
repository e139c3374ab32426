#include "RAWSearchController.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Bitmap.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "Log.h"
#include "NotifyCenter.h"
#include "RAWFileManager.h"
#include "RawFileAnalyserList.h"
#include "RawFileExtTable.h"
#include "RawRecordAccess.h"
#include "RawSearchState.h"
#include "ResultCode.h"
#include "SearchedPartitionInfo.h"

ICompleteFileSystemSearchController* CreateRAWSearcher()
{
    return new CRAWSearchController;
}

CRAWSearchController::CRAWSearchController() : m_pFileTypeManager(std::make_unique<CFileTypeManager>()) {}

CRAWSearchController::~CRAWSearchController()
{
    // A stopped scan never reaches EndSearch: whatever is still held goes
    // here.
    DeleteCandidates();
    DeleteManagers();
    if (m_pProgress)
        CNotifyCenter::Instance()->Reset();
}

int CRAWSearchController::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

int CRAWSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** out, int count)
{
    if (!out || count < 1)
        return 1;
    unsigned int ss = m_pDevice ? m_pDevice->GetSectorSize() : 0;
    auto* info = new CSearchedPartitionInfo(ss ? ss : 512);
    info->SetScore(1.0);
    info->SetUnitBase(0);
    info->SetSectorsPerUnit(1);
    info->SetPartitionStart(0);
    out[0] = info;
    return 1;
}

int CRAWSearchController::SetDevice(IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    m_pDevice = pDevice;
    return 1;
}

int CRAWSearchController::SetBlockSize(int iSectorsperBlock)
{
    VANTREL_ASSERT(0 < iSectorsperBlock);
    m_iSectorsperBlock = iSectorsperBlock;
    return 1;
}

void CRAWSearchController::SetIProgressSink(IProgress* progress)
{
    m_pProgress = progress;
    CNotifyCenter::Instance()->SetProgress(progress);
}

int CRAWSearchController::PreparetoSearch()
{
    // Candidates of an earlier search point at analysers about to go.
    DeleteCandidates();
    CRawFileAnalyserListSingle* registry = CRawFileAnalyserListSingle::CreateInstance();
    if (m_pTreeBuilder)
        registry->ReinitAnalyzeList(nullptr);
    // Folder ids, name counters and label ids start again, and the stop
    // signal is this search's.
    ResetRawSearchState();
    CNotifyCenter::Instance()->SetProgress(m_pProgress);

    m_pBlockBuffer.reset();
    m_dwBufferSize = 0;
    if (!m_pDevice || m_iSectorsperBlock < 1)
        return 0;
    const unsigned int ss = m_pDevice->GetSectorSize() ? m_pDevice->GetSectorSize() : 512;
    const unsigned long long bufferSize = 2ULL * ss * static_cast<unsigned long long>(m_iSectorsperBlock);
    if (bufferSize > 0x7FFFFFFFULL)
        return 0;
    m_iSectorSize = static_cast<int>(ss);

    m_BlockCache.InitBufferDevice(m_pDevice, 0, ss, static_cast<unsigned int>(m_iSectorsperBlock), kCacheBlocks);
    m_pFileTypeManager = std::make_unique<CFileTypeManager>();
    m_pFileTypeManager->Initialize();
    DeleteManagers();
    m_pLabelBuilder = std::make_unique<CLABELRAWTreeBuilder>();
    if (m_pTreeBuilder) {
        m_pTreeBuilder->AddSearcherInfo(SEARCHER_RAW, RAW_ROOT_ID);
        m_pTreeBuilder->AddSearcherInfo(SEARCHER_LABEL_RAW, LABEL_RAW_ROOT_ID);
    }
    m_dwBufferSize = static_cast<unsigned int>(bufferSize);
    m_pBlockBuffer = AllocateLargeBuffer(bufferSize + kBufferSlack);
    if (!m_pBlockBuffer) {
        m_dwBufferSize = 0;
        return 0;
    }
    m_llPreviousBlock = -1;
    m_llNextBlock = 0;
    return 1;
}

CRAWFileManager* CRAWSearchController::GetFileManager(unsigned int type)
{
    if (type >= RAW_FILE_TYPE_SLOTS)
        return nullptr;
    if (m_vecManagerByType.size() != RAW_FILE_TYPE_SLOTS)
        m_vecManagerByType.assign(RAW_FILE_TYPE_SLOTS, nullptr);
    if (CRAWFileManager* known = m_vecManagerByType[type])
        return known;
    const FILE_TYPE_ID group = m_pFileTypeManager->GetFileTypeID(GetRawFileExt(type));
    auto found = m_mapFileManagers.find(group);
    if (found != m_mapFileManagers.end())
        return m_vecManagerByType[type] = found->second;
    if (!m_pLabelBuilder)
        m_pLabelBuilder = std::make_unique<CLABELRAWTreeBuilder>();
    auto* manager = new CRAWFileManager(static_cast<int>(RAW_ROOT_ID), static_cast<int>(group), m_pTreeBuilder,
                                        m_pLabelBuilder.get());
    m_mapFileManagers.emplace(group, manager);
    return m_vecManagerByType[type] = manager;
}

IRawFileAnalyser* CRAWSearchController::Lookup(unsigned char* sector, CRawFileInfo& probe, long long sectorNumber,
                                               const CRawFileInfo::SearchContext& context)
{
    CRawFileAnalyserListSingle* registry = CRawFileAnalyserListSingle::CreateInstance();
    auto ask = [&](IRawFileAnalyser* analyser) {
        if (ISpecialRawFileAnalyser* special = analyser->GetSpecialRawFile())
            return special->AnalyseBufferEx(sector, probe, m_iSectorSize, sectorNumber, context.llLookBackStart,
                                            context.llBlockEnd) != 0;
        return analyser->AnalyseBuffer(sector, probe) == 1;
    };
    const uint32_t key4 = RawReadLE32(sector);
    // Four zero bytes match no key: only the every-sector list is asked.
    if (key4 != 0) {
        auto& map = registry->GetAnalyserMap(0);
        auto found = map.find(key4);
        if (found != map.end() && ask(found->second))
            return found->second;
        auto [from, to] = registry->GetAnalyserMultimap(0).equal_range(static_cast<unsigned short>(key4 & 0xFFFF));
        for (auto it = from; it != to; ++it)
            if (ask(it->second))
                return it->second;
    }
    for (IRawFileAnalyser* analyser : registry->GetAnalyserList(0))
        if (analyser->AnalyseBuffer(sector, probe) != 0)
            return analyser;
    return nullptr;
}

int CRAWSearchController::AnalyzeBlock(long long startSector, long long sectorCount)
{
    CRawFileAnalyserListSingle* registry = CRawFileAnalyserListSingle::CreateInstance();
    if (registry->GetAnalyserList(0).empty() && registry->GetAnalyserMap(0).empty() &&
        registry->GetAnalyserMultimap(0).empty())
        return 1;
    if (!m_pBlockBuffer || !m_pDevice || startSector < 0 || sectorCount <= 0)
        return 1;
    const long long spb = m_iSectorsperBlock;
    const long long count = std::min(sectorCount, spb);
    const size_t ss = static_cast<size_t>(m_iSectorSize);
    const size_t half = m_dwBufferSize / 2;

    long long granule = 1;
    bool checkBitmap = false;
    if (m_pBitmap && m_pBitmap->GetBitmapData()) {
        granule = std::max(1u, m_pBitmap->GetSectorsPerBit());
        checkBitmap = true;
    }

    // Blocks that do not follow each other share no look-back memory, and
    // the ring starts again at the new block.
    if (startSector != m_llNextBlock) {
        m_BlockCache.InitBufferDevice(m_pDevice, static_cast<unsigned long long>(startSector),
                                      static_cast<unsigned int>(ss), static_cast<unsigned int>(spb), kCacheBlocks);
        m_llPreviousBlock = -1;
    }

    unsigned char* current = m_pBlockBuffer.get() + half;
    // An unreadable block counts as zeros, as the devices give them; it is
    // probed by nobody but keeps its place in the look-back half and the
    // ring. A short last block has zeros after its end, never the bytes of
    // the block before.
    const bool readable = m_pDevice->ReadSector(current, startSector, count) != 0;
    if (!readable)
        std::memset(current, 0, half);
    else if (static_cast<size_t>(count) * ss < half)
        std::memset(current + count * ss, 0, half - count * ss);

    CRawFileInfo::SearchContext context;
    context.llLookBackStart = m_llPreviousBlock >= 0 && m_llPreviousBlock + spb == startSector ? m_llPreviousBlock
                                                                                               : startSector;
    context.llBlockEnd = startSector + count;
    context.pBlockBase = m_pBlockBuffer.get();
    context.llBaseSector = startSector - spb;
    context.dwSectorSize = static_cast<unsigned int>(ss);

    CNotifyCenter* notify = CNotifyCenter::Instance();
    for (long long i = 0; readable && i < count;) {
        const long long sectorNumber = startSector + i;
        if (checkBitmap && m_pBitmap->GetBit(sectorNumber / granule)) {
            i += sectorNumber % granule == 0 ? granule : 1;
            continue;
        }
        if (!notify->isContinue())
            break;
        unsigned char* sector = current + i * ss;
        context.SetZeroCounts(sector, static_cast<unsigned int>(ss));
        context.pNewCandidate = nullptr;

        CRawFileInfo probe;
        CRawFileInfo* created = nullptr;
        IRawFileAnalyser* analyser = Lookup(sector, probe, sectorNumber, context);
        // A header of the format of an open candidate that holds this
        // sector is one of that file's own records (a tar member, a ZIP
        // entry), not a file of its own.
        if (analyser && HeldAsOwnRecord(analyser->GetAnalyserID(), sectorNumber, context))
            analyser = nullptr;
        if (analyser) {
            created = analyser->CreateRawFileInfo();
            if (!created) {
                ++i;
                continue;
            }
            created->m_dwType = probe.m_dwType;
            created->m_llSize = std::max(probe.m_llSize, 0LL);
            created->m_llStartSector = sectorNumber;
            created->m_pOwner = analyser;
            created->m_dwAnalyserID = analyser->GetAnalyserID();
            if (m_pFileSectorMap)
                m_pFileSectorMap->emplace(sectorNumber, created->m_dwType);
            EndOpenAtHeader(sectorNumber, context, created);
            // Sized by its header: finished at once, and this sector feeds
            // no open candidate.
            if (created->m_llSize != 0 && GetFileManager(created->m_dwType)) {
                HandOn(created);
                delete created;
                ++i;
                continue;
            }
            FileCandidate(created, sector, sectorNumber);
        }
        FeedOpenCandidates(sector, sectorNumber, context, created);
        ++i;
    }

    // The current block becomes the look-back block of the next call.
    std::memcpy(m_pBlockBuffer.get(), current, half);
    if (m_BlockCache.IsFullBuffer())
        SizeWaitingFromRing(spb);
    VANTREL_ASSERT(m_pBlockBuffer);
    m_BlockCache.AddBlockToBuffer(reinterpret_cast<const char*>(m_pBlockBuffer.get()));
    m_llPreviousBlock = startSector;
    m_llNextBlock = startSector + spb;
    return 1;
}

void CRAWSearchController::FileCandidate(CRawFileInfo* info, unsigned char* sector, long long sectorNumber)
{
    const bool streaming = info->WhetherImplementGuess();
    if (!streaming && info->m_llSize == 0) {
        InsertWait(info);
        return;
    }
    if (streaming && info->m_llSize == 0) {
        if (m_iOpenCount == kMaxOpenCandidates) {
            OpenCandidate oldest = m_arrOpen[0];
            RemoveOpen(0);
            oldest.pInfo->WillBeRemove(sector, sectorNumber);
            // One its owner can size waits with the rest, so the ring
            // sizes it while its data is still in memory.
            if (oldest.pInfo->m_llSize == 0 && oldest.pInfo->m_pOwner) {
                m_listPending.erase(oldest.itPending);
                InsertWait(oldest.pInfo);
            }
        }
        m_arrOpen[m_iOpenCount++] = {info, m_listPending.insert(m_listPending.end(), info)};
        return;
    }
    m_listPending.push_back(info);
}

void CRAWSearchController::FeedOpenCandidates(unsigned char* sector, long long sectorNumber,
                                              CRawFileInfo::SearchContext& context, CRawFileInfo* newCandidate)
{
    for (int j = 0; j < m_iOpenCount;) {
        OpenCandidate open = m_arrOpen[j];
        context.pNewCandidate = open.pInfo == newCandidate ? nullptr : newCandidate;
        if (open.pInfo->CalcRawSize(sector, m_iSectorSize, sectorNumber, context) != 1) {
            ++j;
            continue;
        }
        RemoveOpen(j);
        CRawFileInfo* info = open.pInfo;
        m_listPending.erase(open.itPending);
        if (info->m_llSize != 0) {
            HandOn(info);
            delete info;
        } else if (info->m_pOwner) {
            info->WillBeRemove(sector, sectorNumber);
            InsertWait(info);
        } else {
            // Finished without a size and nobody to size it: no file.
            delete info;
        }
    }
}

void CRAWSearchController::EndAsBeforeZeros(CRawFileInfo* info, long long sectorNumber,
                                            const CRawFileInfo::SearchContext& context)
{
    // It ends as it would before zeros, fed two zero sectors in the
    // header's place.
    std::vector<unsigned char> zeros(static_cast<size_t>(m_iSectorSize) * 2 + kBufferSlack, 0);
    CRawFileInfo::SearchContext blank = context;
    blank.dwLeadingZero = 4;
    blank.dwTrailingZero = 32;
    blank.pNewCandidate = nullptr;
    // The block memory holds the other file's bytes: none are offered.
    blank.pBlockBase = nullptr;
    for (long long k = 0; k < 2 && info->m_llSize == 0; ++k)
        if (info->CalcRawSize(zeros.data() + k * m_iSectorSize, m_iSectorSize, sectorNumber + k, blank) == 1)
            break;
    // Zeros it never held cannot place its end past the header.
    if (info->m_llSize > info->m_llHeaderBound)
        info->m_bExactEnd = false;
}

bool CRAWSearchController::HeldAsOwnRecord(unsigned int analyserId, long long sectorNumber,
                                           const CRawFileInfo::SearchContext& context)
{
    for (int j = 0; j < m_iOpenCount; ++j) {
        CRawFileInfo* info = m_arrOpen[j].pInfo;
        if (info->m_dwAnalyserID == analyserId && info->m_llStartSector < sectorNumber &&
            info->OwnRecordAt(sectorNumber, context))
            return true;
    }
    return false;
}

void CRAWSearchController::EndOpenAtHeader(long long sectorNumber, CRawFileInfo::SearchContext& context,
                                           CRawFileInfo* newCandidate)
{
    // The candidate ends with the sector before the header; its bytes are
    // still in memory unless the block before was not read.
    const unsigned char* last = context.bytes(sectorNumber - 1, 0, m_iSectorSize);
    for (int j = 0; j < m_iOpenCount;) {
        CRawFileInfo* info = m_arrOpen[j].pInfo;
        if (info == newCandidate || info->m_llSize != 0 || info->m_llStartSector >= sectorNumber ||
            info->HoldsSector(sectorNumber, context)) {
            ++j;
            continue;
        }
        const CandidateList::iterator pending = m_arrOpen[j].itPending;
        RemoveOpen(j);
        m_listPending.erase(pending);
        info->m_llHeaderBound = (sectorNumber - info->m_llStartSector) * m_iSectorSize;
        info->WillBeRemove(const_cast<unsigned char*>(last), last ? sectorNumber - 1 : -1);
        if (info->m_llSize == 0)
            EndAsBeforeZeros(info, sectorNumber, context);
        if (info->m_llSize == 0 && !info->m_pOwner)
            info->m_llSize = info->m_llHeaderBound;
        if (info->m_llSize == 0 && info->m_pOwner) {
            InsertWait(info);
        } else {
            HandOn(info);
            delete info;
        }
    }
}

void CRAWSearchController::RemoveOpen(int index)
{
    for (int k = index; k + 1 < m_iOpenCount; ++k)
        m_arrOpen[k] = m_arrOpen[k + 1];
    --m_iOpenCount;
}

void CRAWSearchController::InsertWait(CRawFileInfo* info)
{
    auto it = m_listWait.end();
    while (it != m_listWait.begin()) {
        auto before = std::prev(it);
        if ((*before)->m_llStartSector <= info->m_llStartSector)
            break;
        it = before;
    }
    m_listWait.insert(it, info);
}

namespace {

// Asks the owner for the size of a candidate that has none; a failed sizing
// leaves none.
void SizeThroughOwner(CRawFileInfo* info, IStorageDevice* device)
{
    if (info->m_llSize != 0 || !info->m_pOwner)
        return;
    if (!info->m_pOwner->GetRawFileSize(*info, device))
        info->m_llSize = 0;
    // Ended by another file's header: it keeps its bytes before that header.
    if (info->m_llSize == 0)
        info->m_llSize = info->m_llHeaderBound;
}

}  // namespace

void CRAWSearchController::SizeWaitingFromRing(long long blockSectors)
{
    // Only candidates that start in the oldest block, which the current
    // block is about to replace, are sized now.
    const long long oldestEnd = m_BlockCache.GetDeviceStartSector() + blockSectors;
    CNotifyCenter* notify = CNotifyCenter::Instance();
    while (!m_listWait.empty()) {
        if (!notify->isContinue())
            break;
        CRawFileInfo* head = m_listWait.front();
        if (head->m_llStartSector >= oldestEnd)
            break;
        m_listWait.pop_front();
        SizeThroughOwner(head, &m_BlockCache);
        HandOn(head);
        delete head;
    }
}

void CRAWSearchController::HandOn(CRawFileInfo* info)
{
    if (!info || info->m_llSize <= 0)
        return;
    // Another file's header ended it: its guessed end stays before that.
    if (info->m_llHeaderBound > 0 && !info->m_bExactEnd && info->m_llSize > info->m_llHeaderBound)
        info->m_llSize = info->m_llHeaderBound;
    // Whatever a header claims, a file ends where the device does.
    const long long total = m_pDevice ? m_pDevice->GetTotalSectors() : 0;
    if (total > 0) {
        const long long left = total - info->m_llStartSector;
        if (left <= 0)
            return;
        const __int128 room = static_cast<__int128>(left) * m_iSectorSize;
        if (info->m_llSize > room)
            info->m_llSize = static_cast<long long>(room);
    }
    if (CRAWFileManager* manager = GetFileManager(info->m_dwType))
        manager->AddRawFileInfo(info);
}

void CRAWSearchController::EndSearch(int flag)
{
    if (!flag)
        return;
    for (int j = 0; j < m_iOpenCount; ++j)
        m_arrOpen[j].pInfo->WillBeRemove(nullptr, -1);
    m_iOpenCount = 0;
    m_listPending.splice(m_listPending.end(), m_listWait);

    // Standard output may carry a listing: these go to the log file alone.
    CatchExeception::WriteLogFile("--------------%s:%d:list size = %d--------\n", "EndSearch", 401,
                                  static_cast<int>(m_listPending.size()));
    // What is left is sized from the device itself. Every entry with a size
    // then becomes a file, also those that set it while they were fed.
    CNotifyCenter* notify = CNotifyCenter::Instance();
    while (!m_listPending.empty()) {
        if (!notify->isContinue())
            break;
        CRawFileInfo* info = m_listPending.front();
        m_listPending.pop_front();
        SizeThroughOwner(info, m_pDevice);
        HandOn(info);
        delete info;
    }
    DeleteCandidates();
    CatchExeception::WriteLogFile("--------------%s:%d:--------\n", "EndSearch", 436);

    CNotifyCenter::Instance()->Reset();
    m_pBlockBuffer.reset();
    m_BlockCache.Close();
    if (m_pTreeBuilder) {
        m_pTreeBuilder->FlashBuild(SEARCHER_RAW);
        m_pTreeBuilder->FlashBuild(SEARCHER_LABEL_RAW);
    }
    m_pBitmap = nullptr;
}

void CRAWSearchController::DeleteCandidates()
{
    for (CRawFileInfo* info : m_listPending)
        delete info;
    for (CRawFileInfo* info : m_listWait)
        delete info;
    m_listPending.clear();
    m_listWait.clear();
    m_iOpenCount = 0;
}

void CRAWSearchController::DeleteManagers()
{
    for (auto& [group, manager] : m_mapFileManagers)
        delete manager;
    m_mapFileManagers.clear();
    m_vecManagerByType.clear();
}
