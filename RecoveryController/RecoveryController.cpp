#include "RecoveryController.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "DataRecovery.h"
#include "DeviceInfo.h"
#include "SearcherRegistry.h"

namespace {

std::atomic<TreeBuilderFactory> g_treeBuilderFactory{nullptr};

IDirecotryTreeBuilder* NewTreeBuilder(bool restoreMode)
{
    TreeBuilderFactory factory = g_treeBuilderFactory.load();
    return factory ? factory(restoreMode) : CreateTreeBuilder(restoreMode);
}

// Every report is a zero-filled record with only these fields set.
void Report(IProgress* progress, uint32_t state, uint64_t total, uint64_t done)
{
    _PROGRESS_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.dwState = state;
    info.u64Total = total;
    info.u64Done = done;
    progress->UpdateProgress(&info);
}

CCollectedVolumeDeviceInfoStruct* VolumeRecordOf(IStorageDevice* device)
{
    if (!device)
        return nullptr;
    auto* holder = dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData());
    return holder ? holder->GetVolumeInfo() : nullptr;
}

// File-system types that have a quick searcher slot.
bool HasQuickSearcherSlot(enumFILE_SYSTEM_TYPE type)
{
    switch (type) {
    case FS_FAT12:
    case FS_FAT16:
    case FS_FAT32:
    case FS_NTFS:
    case FS_EXFAT:
    case FS_HFSPLUS:
    case FS_APFS:
        return true;
    default:
        return false;
    }
}

}  // namespace

void SetTreeBuilderFactoryForTesting(TreeBuilderFactory factory)
{
    g_treeBuilderFactory = factory;
}

unsigned int DeepScanBlockSectors(unsigned int sectorSize)
{
    unsigned int sectors = 0x400000u / (sectorSize ? sectorSize : 512u);
    return sectors ? sectors : 8192u;
}

std::string GetDeviceDescription(IStorageDevice* device)
{
    if (!device || device->GetType() != STORAGE_DEVICE_VOLUME)
        return "";
    const CCollectedVolumeDeviceInfoStruct* record = VolumeRecordOf(device);
    if (!record || record->iState != 0)
        return "";
    return std::string(record->szVolumeName, strnlen(record->szVolumeName, sizeof(record->szVolumeName)));
}

IRecoveryController* CreateRecoveryController(_RECOVERY_CONTROLLER_TYPE type)
{
    switch (type) {
    case RECOVERY_CONTROLLER_QUICK:
        return new CDeletedRecoveryController;
    case RECOVERY_CONTROLLER_DEEP:
        return new CCompleteRecoveryController;
    case RECOVERY_CONTROLLER_DEEP_DISK:
        return new CPartitionRecoveryController;
    }
    return nullptr;
}

ResultCode CRecoveryControllerBase::Initialize(IRecoveryFilter* filter)
{
    if (!filter)
        return 0;
    m_pFilter = filter;
    return 1;
}

// ---------------------------------------------------------------------------
// Quick scan

CDeletedRecoveryController::~CDeletedRecoveryController()
{
    // The builder goes first: it may still hold nodes of the searcher.
    if (m_pTreeBuilder)
        m_pTreeBuilder->Release();
    delete m_pSearcher;
}

ResultCode CDeletedRecoveryController::StartDataRecovery(IStorageDevice* device, IProgress* progress,
                                                         IDrirectoryTree* sink)
{
    if (m_bStarted)
        return kResultQuickAlreadyStarted;
    if (!device || !progress || !sink)
        return kResultQuickNullArgument;
    m_bStarted = true;

    Report(progress, PROGRESS_STATE_RUNNING, 1, 0);
    if (device->GetType() == STORAGE_DEVICE_DISK)
        return kResultQuickWholeDisk;

    m_pDevice = device;
    m_pTreeBuilder = NewTreeBuilder(false);
    if (!m_pTreeBuilder)
        return kResultQuickNoTreeBuilder;
    if (!m_pTreeBuilder->Initialize(GetDeviceDescription(device).c_str(), sink, m_pFilter))
        return kResultQuickBuilderRefused;

    const CCollectedVolumeDeviceInfoStruct* record = VolumeRecordOf(device);
    if (record && HasQuickSearcherSlot(record->eFileSystemType)) {
        if (QuickSearcherFactory factory = GetQuickSearcherFactory(record->eFileSystemType))
            m_pSearcher = factory();
    }
    if (!m_pSearcher) {
        Report(progress, PROGRESS_STATE_FINISHED, 1, 1);
        return kResultQuickUnsupported;
    }

    m_pSearcher->SetDirecotryTreeBuilder(m_pTreeBuilder);
    if (m_pRestoreSource) {
        m_pRestoreSource->SetDirecotryTreeBuilder(m_pTreeBuilder, progress, device);
    } else {
        ::sync();
        // The searcher reports its own progress and end; its result is not
        // the scan's.
        m_pSearcher->QuickSearchFiles(device, progress);
    }
    return 0;
}

IDataRecovery* CDeletedRecoveryController::GetDataRecovery(_tagSearcherType type) const
{
    if (!m_pSearcher)
        return nullptr;
    return CreateDataRecoveryFor(m_pSearcher, m_pRestoreSource, type, m_pDevice);
}

// ---------------------------------------------------------------------------
// Deep scan

CCompleteRecoveryController::~CCompleteRecoveryController()
{
    // The builder first: searchers that own their nodes (APFS) free them in
    // their destructors, and the builder's Release still touches them.
    if (m_pTreeBuilder)
        m_pTreeBuilder->Release();
    m_pTreeBuilder = nullptr;
    for (_SEARCHER_INFO& info : m_vSearchers)
        delete info.pSearcher;
    if (m_pCacheDevice)
        m_pCacheDevice->EndCache();
    m_pCacheDevice.reset();
    m_mapFileSector.clear();
    m_vSearchers.clear();
}

void CCompleteRecoveryController::CreateSearchers(IStorageDevice* device, IProgress* progress)
{
    for (const CompleteSearcherEntry& entry : GetCompleteSearcherFactories()) {
        ICompleteFileSystemSearchController* searcher = entry.factory();
        if (!searcher)
            continue;
        switch (entry.type) {
        case SEARCHER_HFSPLUS: {
            searcher->SetIProgressSink(progress);
            const CCollectedVolumeDeviceInfoStruct* record =
                device->GetType() == STORAGE_DEVICE_VOLUME ? VolumeRecordOf(device) : nullptr;
            if (record && record->eFileSystemType == FS_HFSPLUS)
                searcher->SetActivePartition(true);
            break;
        }
        case SEARCHER_FAT:
            searcher->SetFileSectorMap(&m_mapFileSector);
            break;
        case SEARCHER_RAW:
            searcher->SetFileSectorMap(&m_mapFileSector);
            searcher->SetIProgressSink(progress);
            break;
        default:
            break;
        }
        m_vSearchers.push_back({entry.type, searcher});
    }
}

ResultCode CCompleteRecoveryController::StartDataRecovery(IStorageDevice* device, IProgress* progress,
                                                          IDrirectoryTree* sink)
{
    if (m_bStarted)
        return kResultDeepAlreadyStarted;
    if (!device || !progress || !sink)
        return kResultDeepNullArgument;
    m_bStarted = true;

    m_pBitmap = std::make_unique<TBitmap>();
    Report(progress, PROGRESS_STATE_RUNNING, 1, 0);

    m_pTreeBuilder = NewTreeBuilder(m_pRestoreSource != nullptr);
    if (!m_pTreeBuilder)
        return kResultDeepNoTreeBuilder;
    if (!m_pTreeBuilder->Initialize(GetDeviceDescription(device).c_str(), sink, m_pFilter))
        return kResultDeepBuilderRefused;

    CreateSearchers(device, progress);
    if (m_vSearchers.empty())
        return kResultDeepNoSearcher;

    ::sync();
    m_pDevice = device;

    const unsigned int blockSize = DeepScanBlockSectors(device->GetSectorSize());
    m_pCacheDevice = std::make_unique<CStorageDeviceWithCache>(device);
    m_pCacheDevice->SetBlockSize(blockSize);
    m_pCacheDevice->BeginCache();

    for (_SEARCHER_INFO& info : m_vSearchers) {
        info.pSearcher->SetDevice(m_pCacheDevice.get());
        info.pSearcher->SetBlockSize(static_cast<int>(blockSize));
        info.pSearcher->SetDirecotryTreeBuilder(m_pTreeBuilder);
        info.pSearcher->SetBitmap(m_pBitmap.get());
        if (!m_pRestoreSource)
            info.pSearcher->PreparetoSearch();
    }

    ResultCode result = 0;
    if (m_pRestoreSource)
        m_pRestoreSource->SetDirecotryTreeBuilder(m_pTreeBuilder, progress, device);
    else
        result = SearchData(0, device->GetTotalSectors() - 1, progress);

    const int build = progress->shouldBuild();
    for (_SEARCHER_INFO& info : m_vSearchers) {
        // A stopped scan does not finish the RAW search.
        if (info.eType == SEARCHER_RAW && !progress->Continued())
            continue;
        info.pSearcher->EndSearch(build);
    }

    Report(progress, PROGRESS_STATE_FINISHED, 1, 1);
    return result;
}

ResultCode CCompleteRecoveryController::SearchData(long long first, long long last, IProgress* progress)
{
    if (!progress || !m_pCacheDevice)
        return kResultSearchDataNoSink;
    if (first > last)
        return kResultSearchDataBadRange;

    const long long n = DeepScanBlockSectors(m_pCacheDevice->GetSectorSize());
    const long long total = m_pCacheDevice->GetTotalSectors();
    first = std::clamp(first, 0LL, std::max(total, 0LL));
    if (last >= total)
        last = total - 1;
    if (first > last)
        return kResultSearchDataBadRange;  // nothing of the range lies on the device

    const long long firstBlock = first / n;
    const long long lastBlock = last / n;
    _PROGRESS_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.u64Total = static_cast<uint64_t>(lastBlock - firstBlock + 1);
    progress->UpdateProgress(&info);

    info.dwState = PROGRESS_STATE_RUNNING;
    for (long long b = firstBlock; b <= lastBlock; ++b) {
        if (!progress->Continued())
            return 0;  // a stop is no error
        m_pCacheDevice->SetCurCacheBlock(b);
        const long long start = b * n;
        const long long count = std::min(n, last - start + 1);
        for (_SEARCHER_INFO& s : m_vSearchers) {
            s.pSearcher->AnalyzeBlock(start, count);
            info.u64Done = std::min(info.u64Done, info.u64Total);
        }
        ++info.u64Done;
        // The loop accounts for 80 % of the scan; the searchers' ends follow.
        _PROGRESS_INFO shown = info;
        shown.u64Done = info.u64Done * 4 / 5;
        progress->UpdateProgress(&shown);
    }
    return 0;
}

IDataRecovery* CCompleteRecoveryController::GetDataRecovery(_tagSearcherType type) const
{
    auto it = std::find_if(m_vSearchers.begin(), m_vSearchers.end(),
                           [type](const _SEARCHER_INFO& info) { return info.eType == type; });
    if (it == m_vSearchers.end() || !it->pSearcher)
        return nullptr;
    return CreateDataRecoveryFor(it->pSearcher, m_pRestoreSource, type, m_pDevice);
}
