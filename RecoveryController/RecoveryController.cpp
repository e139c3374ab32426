#include "RecoveryController.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "DataRecovery.h"
#include "DeviceInfo.h"
#include "SearcherRegistry.h"
#include "StorageDevice.h"

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

// Writes of mounted file systems still held in memory reach the device
// first, so that the scan reads what they wrote. An image file is read
// through the page cache its writers write into, and needs no flush of every
// file system of the machine.
void FlushWritesBeforeReading(IStorageDevice* device)
{
    if (!ReadsRegularFileOnly(device))
        ::sync();
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

// The tree builder of a parallel scan: the searchers' workers call it one at
// a time. Each searcher files into trees of its own type, so the order of
// every tree's nodes is the order its searcher found them in.
class CSerializedTreeBuilder final : public IDirecotryTreeBuilder {
public:
    explicit CSerializedTreeBuilder(IDirecotryTreeBuilder* builder) : m_pBuilder(builder) {}

    int Initialize(const char* description, IDrirectoryTree* sink, IRecoveryFilter* filter) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_pBuilder->Initialize(description, sink, filter);
    }
    int AddNode(IFileNode* node, _tagSearcherType type) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_pBuilder->AddNode(node, type);
    }
    int AddSearcherInfo(_tagSearcherType type, long long rootId) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_pBuilder->AddSearcherInfo(type, rootId);
    }
    int FlashBuild(_tagSearcherType type) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_pBuilder->FlashBuild(type);
    }
    // The controller releases the builder itself.
    void Release() override {}
    int SetPartitonDevice(CSearchedPartitionInfo* partition, IStorageDevice* device) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_pBuilder->SetPartitonDevice(partition, device);
    }
    int SetSearcherVolumeName(_tagSearcherType type, const char* name) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_pBuilder->SetSearcherVolumeName(type, name);
    }

private:
    IDirecotryTreeBuilder* m_pBuilder;
    std::mutex m_lock;
};

// Blocks in flight in a parallel scan: a searcher starts block b once
// block b + 1 is out as well (reads that run past a block's end are served
// from the next one), and the reader hands b + 2 (and b + 3) out meanwhile.
constexpr long long kPipelineBlocks = 4;
// How often the scan thread looks at the stop button and the progress
// while it waits for the workers.
constexpr std::chrono::milliseconds kStopPoll{10};

}  // namespace

namespace {
std::atomic<unsigned int> g_defaultScanThreads{1};
}

void SetDefaultDeepScanThreads(unsigned int threads)
{
    g_defaultScanThreads = threads;
}

unsigned int DeepScanThreads()
{
    if (const char* text = std::getenv("VANTREL_SCAN_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == 0 && value >= 1 && value <= 64)
            return static_cast<unsigned int>(value);
    }
    if (const unsigned int threads = g_defaultScanThreads.load())
        return threads;
    const unsigned int cores = std::thread::hardware_concurrency();
    return cores ? cores : 1;
}

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
        FlushWritesBeforeReading(device);
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
    m_vBlockDevices.clear();
    m_pSharedBuilder.reset();
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

    FlushWritesBeforeReading(device);
    m_pDevice = device;

    const unsigned int blockSize = DeepScanBlockSectors(device->GetSectorSize());
    m_pCacheDevice = std::make_unique<CStorageDeviceWithCache>(device);
    m_pCacheDevice->SetBlockSize(blockSize);
    // A restored result reads the device itself, on this thread: a reader
    // thread would read the whole device for nothing, at the same time.
    if (!m_pRestoreSource)
        m_pCacheDevice->BeginCache();

    // Each searcher of a parallel scan reads through a device of its own
    // that shows the block it is at.
    const bool parallel = !m_pRestoreSource && WorkerThreads() > 1;
    if (parallel) {
        m_pSharedBuilder = std::make_unique<CSerializedTreeBuilder>(m_pTreeBuilder);
        for (size_t i = 0; i < m_vSearchers.size(); ++i)
            m_vBlockDevices.push_back(std::make_unique<CCachedBlockDevice>(m_pCacheDevice.get()));
    }
    for (size_t i = 0; i < m_vSearchers.size(); ++i) {
        _SEARCHER_INFO& info = m_vSearchers[i];
        info.pSearcher->SetDevice(parallel ? static_cast<IStorageDevice*>(m_vBlockDevices[i].get())
                                           : m_pCacheDevice.get());
        info.pSearcher->SetBlockSize(static_cast<int>(blockSize));
        info.pSearcher->SetDirecotryTreeBuilder(parallel ? m_pSharedBuilder.get() : m_pTreeBuilder);
        info.pSearcher->SetBitmap(m_pBitmap.get());
        if (!m_pRestoreSource)
            info.pSearcher->PreparetoSearch();
    }

    ResultCode result = 0;
    if (m_pRestoreSource)
        m_pRestoreSource->SetDirecotryTreeBuilder(m_pTreeBuilder, progress, device);
    else
        result = SearchData(0, device->GetTotalSectors() - 1, progress);
    // The walk is over (ended or stopped): the reader reads no further ahead.
    // What the searchers' ends read goes to the device on this thread, and
    // once this returns the caller may let the device go while this
    // controller is kept for recovering.
    m_pCacheDevice->EndCache();

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

    if (!m_vBlockDevices.empty() && m_vBlockDevices.size() == m_vSearchers.size())
        return SearchDataParallel(firstBlock, lastBlock, last, progress, WorkerThreads());

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

unsigned int CCompleteRecoveryController::WorkerThreads() const
{
    const unsigned int wanted = m_dwThreads ? m_dwThreads : DeepScanThreads();
    return static_cast<unsigned int>(std::min<size_t>(wanted, m_vSearchers.size()));
}

ResultCode CCompleteRecoveryController::SearchDataParallel(long long firstBlock, long long lastBlock, long long last,
                                                           IProgress* progress, unsigned int threads)
{
    const long long n = DeepScanBlockSectors(m_pCacheDevice->GetSectorSize());
    const size_t count = m_vSearchers.size();
    const uint64_t total = static_cast<uint64_t>(lastBlock - firstBlock + 1);

    // Shared with the workers, guarded by lock.
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::shared_ptr<const CCachedBlock>> slots(kPipelineBlocks);
    long long published = firstBlock - 1;          // the last block handed out
    std::vector<long long> done(count, firstBlock - 1);  // the last block each searcher finished
    bool stop = false;

    const auto lowest = [&](bool rawToo) {
        long long low = lastBlock;
        for (size_t i = 0; i < count; ++i)
            if (rawToo || m_vSearchers[i].eType != SEARCHER_RAW)
                low = std::min(low, done[i]);
        return low;
    };

    // The RAW searcher consults what the others found up to its block, so it
    // has a worker of its own and takes block b only once every other
    // searcher finished it; the others share the remaining workers.
    std::vector<std::vector<size_t>> plan;
    std::vector<size_t> raw;
    std::vector<size_t> others;
    for (size_t i = 0; i < count; ++i)
        (m_vSearchers[i].eType == SEARCHER_RAW ? raw : others).push_back(i);
    const size_t otherWorkers = std::max<size_t>(1, std::min<size_t>(others.size(), threads - (raw.empty() ? 0 : 1)));
    plan.resize(otherWorkers);
    for (size_t k = 0; k < others.size(); ++k)
        plan[k % otherWorkers].push_back(others[k]);
    if (!raw.empty())
        plan.push_back(raw);

    const auto work = [&](const std::vector<size_t>& mine) {
        for (long long b = firstBlock; b <= lastBlock; ++b) {
            std::shared_ptr<const CCachedBlock> block;
            std::shared_ptr<const CCachedBlock> next;
            {
                std::unique_lock<std::mutex> guard(lock);
                changed.wait(guard, [&] { return stop || published >= std::min(b + 1, lastBlock); });
                if (stop)
                    return;
                block = slots[static_cast<size_t>(b % kPipelineBlocks)];
                if (b < lastBlock)
                    next = slots[static_cast<size_t>((b + 1) % kPipelineBlocks)];
            }
            const long long start = b * n;
            const long long sectors = std::min(n, last - start + 1);
            for (size_t i : mine) {
                if (m_vSearchers[i].eType == SEARCHER_RAW) {
                    std::unique_lock<std::mutex> guard(lock);
                    changed.wait(guard, [&] { return stop || lowest(false) >= b; });
                    if (stop)
                        return;
                }
                m_vBlockDevices[i]->SetBlock(block, next);
                m_vSearchers[i].pSearcher->AnalyzeBlock(start, sectors);
                m_vBlockDevices[i]->SetBlock(nullptr);
                std::lock_guard<std::mutex> guard(lock);
                done[i] = b;
                changed.notify_all();
            }
        }
    };

    std::vector<std::thread> workers;
    workers.reserve(plan.size());
    for (const std::vector<size_t>& mine : plan)
        workers.emplace_back(work, std::cref(mine));

    _PROGRESS_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.u64Total = total;
    info.dwState = PROGRESS_STATE_RUNNING;
    uint64_t shownDone = 0;
    // One report per finished block, as the loop on one thread gives them.
    const auto report = [&](long long finished) {
        const uint64_t blocks = std::min(static_cast<uint64_t>(finished - firstBlock + 1), total);
        for (; shownDone < blocks; ++shownDone) {
            // The loop accounts for 80 % of the scan; the searchers' ends follow.
            _PROGRESS_INFO shown = info;
            shown.u64Done = (shownDone + 1) * 4 / 5;
            progress->UpdateProgress(&shown);
        }
    };
    // Waits for cond, looking at the stop button and showing progress now
    // and then; false when the scan was stopped.
    const auto waitFor = [&](const auto& cond) {
        for (;;) {
            long long finished;
            {
                std::unique_lock<std::mutex> guard(lock);
                if (changed.wait_for(guard, kStopPoll, [&] { return cond(); }))
                    return true;
                finished = lowest(true);
            }
            report(finished);
            if (!progress->Continued())
                return false;
        }
    };

    bool stopped = false;
    for (long long b = firstBlock; b <= lastBlock && !stopped; ++b) {
        // The slot of block b is free once every searcher finished the block
        // that was in it.
        if (!waitFor([&] { return lowest(true) >= b - kPipelineBlocks; }) || !progress->Continued()) {
            stopped = true;
            break;
        }
        std::shared_ptr<const CCachedBlock> block = m_pCacheDevice->TakeBlock(b);
        std::lock_guard<std::mutex> guard(lock);
        slots[static_cast<size_t>(b % kPipelineBlocks)] = std::move(block);
        published = b;
        changed.notify_all();
    }
    if (!stopped)
        stopped = !waitFor([&] { return lowest(true) >= lastBlock; });
    if (stopped) {
        std::lock_guard<std::mutex> guard(lock);
        stop = true;
        changed.notify_all();
    }
    for (std::thread& worker : workers)
        worker.join();
    report(lowest(true));
    return 0;  // a stop is no error
}

IDataRecovery* CCompleteRecoveryController::GetDataRecovery(_tagSearcherType type) const
{
    auto it = std::find_if(m_vSearchers.begin(), m_vSearchers.end(),
                           [type](const _SEARCHER_INFO& info) { return info.eType == type; });
    if (it == m_vSearchers.end() || !it->pSearcher)
        return nullptr;
    return CreateDataRecoveryFor(it->pSearcher, m_pRestoreSource, type, m_pDevice);
}
