// Scan controllers: the quick scan of one volume through its own file
// system, and the deep scan that feeds every complete searcher the whole
// device block by block through the read-ahead cache.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "Bitmap.h"
#include "CacheDevice.h"
#include "IProgress.h"
#include "IRecovery.h"
#include "IRestoreSource.h"
#include "ISearcher.h"
#include "ITreeBuilder.h"

// Result codes of the controllers (module 0x04).
constexpr ResultCode kResultQuickNullArgument = 0x104003800000001ULL;     // null device, progress or sink
constexpr ResultCode kResultQuickWholeDisk = 0x104004300000404ULL;        // device is a whole disk
constexpr ResultCode kResultQuickNoTreeBuilder = 0x104004800000004ULL;    // tree builder not created
constexpr ResultCode kResultQuickBuilderRefused = 0x104004b00000001ULL;   // builder refused description, sink or filter
constexpr ResultCode kResultQuickUnsupported = 0x104005700000401ULL;      // no volume record or no quick searcher
constexpr ResultCode kResultQuickAlreadyStarted = 0x104003b00000003ULL;   // second start of one controller
constexpr ResultCode kResultDeepNullArgument = 0x104004500000403ULL;      // null device, progress or sink
constexpr ResultCode kResultDeepNoTreeBuilder = 0x104005500000004ULL;     // tree builder not created
constexpr ResultCode kResultDeepBuilderRefused = 0x104005800000001ULL;    // builder refused description, sink or filter
constexpr ResultCode kResultDeepNoSearcher = 0x104008e00000402ULL;        // no searcher created
constexpr ResultCode kResultDeepAlreadyStarted = 0x104004700000003ULL;    // second start of one controller
constexpr ResultCode kResultSearchDataNoSink = 0x10400f800000005ULL;      // no progress sink or no cache device
constexpr ResultCode kResultSearchDataBadRange = 0x10400fb00000403ULL;    // first sector after last sector
static_assert(kResultQuickAlreadyStarted == MakeResultCode(kModuleRecoveryController, 0x3b, 3));
static_assert(kResultDeepAlreadyStarted == MakeResultCode(kModuleRecoveryController, 0x47, 3));

// Where the controllers get their tree builder. Tests put a factory of their
// own in place; null restores CreateTreeBuilder.
using TreeBuilderFactory = IDirecotryTreeBuilder* (*)(bool restoreMode);
void SetTreeBuilderFactoryForTesting(TreeBuilderFactory factory);

// Sectors per deep-scan block: 4 MiB worth, 512-byte sectors when the device
// reports none, 8192 when a sector is larger than 4 MiB.
unsigned int DeepScanBlockSectors(unsigned int sectorSize);

// Worker threads of a deep scan: VANTREL_SCAN_THREADS when it is a number
// from 1 to 64, else the default set below (1 unless a program sets it; 0
// stands for the machine's cores). 1 runs every searcher on the scan thread,
// one after the other.
unsigned int DeepScanThreads();
void SetDefaultDeepScanThreads(unsigned int threads);

// What both kinds keep: the restore source, the tree builder (owned), the
// recovery filter and the scanned device (neither owned).
//
// A restore source set with SetRestoreSource is borrowed, not owned: it must
// outlive the controller (GetDataRecovery reads it after the scan).
class CRecoveryControllerBase : public IRecoveryController {
public:
    CRecoveryControllerBase() = default;
    CRecoveryControllerBase(const CRecoveryControllerBase&) = delete;
    CRecoveryControllerBase& operator=(const CRecoveryControllerBase&) = delete;

    // 1 with a filter, 0 for null.
    ResultCode Initialize(IRecoveryFilter* filter) override;
    void Release() override { delete this; }
    void SetRestoreSource(IRestoreSource* source) override { m_pRestoreSource = source; }

protected:
    IRestoreSource* m_pRestoreSource = nullptr;
    IDirecotryTreeBuilder* m_pTreeBuilder = nullptr;
    IRecoveryFilter* m_pFilter = nullptr;
    IStorageDevice* m_pDevice = nullptr;
    // A controller runs one scan: its nodes belong to that scan's builder and
    // searchers, so a second start is refused and changes nothing.
    bool m_bStarted = false;
};

// Quick scan of one volume (kind 0).
class CDeletedRecoveryController final : public CRecoveryControllerBase {
public:
    ~CDeletedRecoveryController() override;

    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_QUICK; }
    ResultCode StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* sink) override;
    IDataRecovery* GetDataRecovery(_tagSearcherType type) const override;

private:
    IQuickFileSystemSearchController* m_pSearcher = nullptr;  // owned
};

struct _SEARCHER_INFO {
    _tagSearcherType eType;
    ICompleteFileSystemSearchController* pSearcher;  // owned by the controller
};

// Deep scan (kind 1).
class CCompleteRecoveryController : public CRecoveryControllerBase {
public:
    ~CCompleteRecoveryController() override;

    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_DEEP; }
    ResultCode StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* sink) override;
    IDataRecovery* GetDataRecovery(_tagSearcherType type) const override;

    // The block loop over sectors [first, last] of the cache device.
    ResultCode SearchData(long long first, long long last, IProgress* progress);

    // Worker threads for the next scan (0: DeepScanThreads()). Nodes, trees
    // and saved results do not depend on it.
    void SetScanThreads(unsigned int threads) { m_dwThreads = threads; }

private:
    void CreateSearchers(IStorageDevice* device, IProgress* progress);
    // The block loop with each searcher on a worker thread.
    ResultCode SearchDataParallel(long long firstBlock, long long lastBlock, long long last, IProgress* progress,
                                  unsigned int threads);
    unsigned int WorkerThreads() const;

    unsigned int m_dwThreads = 0;
    // The builder the searchers of a parallel scan share, one call at a time.
    std::unique_ptr<IDirecotryTreeBuilder> m_pSharedBuilder;
    // What each searcher reads through in a parallel scan, by searcher.
    std::vector<std::unique_ptr<CCachedBlockDevice>> m_vBlockDevices;
    std::vector<_SEARCHER_INFO> m_vSearchers;
    std::unique_ptr<CStorageDeviceWithCache> m_pCacheDevice;
    std::map<long long, unsigned int> m_mapFileSector;  // shared with the FAT and RAW searchers
    std::unique_ptr<TBitmap> m_pBitmap;
};

// Deep scan of a whole disk (kind 2).
class CPartitionRecoveryController final : public CCompleteRecoveryController {
public:
    _RECOVERY_CONTROLLER_TYPE thisType() override { return RECOVERY_CONTROLLER_DEEP_DISK; }
};
