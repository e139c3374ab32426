#include "ZRUISaveRestore.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>

#include "BridgeUtil.h"
#include "HFSPlusVolume.h"
#include "IFileNode.h"
#include "IRecovery.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "Log.h"
#include "RSData.h"
#include "SearchedPartitionInfo.h"
#include "ZRUIDeviceData.h"
#include "ZRUIRecovery.h"
#include "ZRUIScan.h"

using namespace ScanResultFormat;
using namespace ScanResultIO;

namespace {

constexpr unsigned int kProgressStepTicks = 100;
constexpr uint64_t kProgressTotal = 100;
constexpr uint64_t kProgressStart = 5;
// The load waits this long before it starts, as the windows expect.
constexpr unsigned int kLoadStartDelayMicroseconds = 1000000;
constexpr size_t kOperationStackBytes = 8u << 20;

// The one progress record of saving and loading (one runs at a time).
struct SharedProgress {
    std::mutex lock;
    _PROGRESS_INFO info{};
    unsigned int lastTick = 0;
};

SharedProgress& Progress()
{
    static SharedProgress* const s_progress = new SharedProgress;
    return *s_progress;
}

struct HFSPlusVolumes {
    std::mutex lock;
    std::map<int, CHFSPlusVolume*> map;
};

// The HFS+ volume readers of the last load, by searcher type (owned).
HFSPlusVolumes& CachedHFSPlusVolumes()
{
    static HFSPlusVolumes* const s_map = new HFSPlusVolumes;
    return *s_map;
}

// The sinks of the last loads. The scan's controllers keep asking theirs for
// the loaded partitions whenever a data-recovery object is made again, long
// after the load's thread ended; a load replaces those controllers, unless
// its scan could not start. Keeping the last few keeps every sink a living
// controller may use (each holds only partition records).
void KeepRestoreSink(std::unique_ptr<RestoreScanSink> sink)
{
    constexpr size_t kKeptSinks = 4;
    static std::mutex s_lock;
    // Never destroyed: controllers of the last load may outlive main.
    static auto* const s_sinks = new std::deque<std::unique_ptr<RestoreScanSink>>;
    std::lock_guard<std::mutex> guard(s_lock);
    s_sinks->push_back(std::move(sink));
    while (s_sinks->size() > kKeptSinks)
        s_sinks->pop_front();
}

bool StartDetached(void (*body)(SaveRestoreResult::OperationPara*), SaveRestoreResult::OperationPara* para)
{
    struct Start {
        void (*body)(SaveRestoreResult::OperationPara*);
        SaveRestoreResult::OperationPara* para;
    };
    auto* start = new Start{body, para};
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        delete start;
        return false;
    }
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const bool ok = pthread_attr_setstacksize(&attr, kOperationStackBytes) == 0 &&
                    pthread_create(
                        &thread, &attr,
                        [](void* arg) -> void* {
                            std::unique_ptr<Start> s(static_cast<Start*>(arg));
                            s->body(s->para);
                            return nullptr;
                        },
                        start) == 0;
    pthread_attr_destroy(&attr);
    if (!ok)
        delete start;
    return ok;
}

int StartOperation(const char* path, IProgress* sink, void (*body)(SaveRestoreResult::OperationPara*))
{
    if (!path || !sink)
        return -1;
    auto* para = new SaveRestoreResult::OperationPara{path, sink};
    if (!StartDetached(body, para)) {
        delete para;
        return -2;
    }
    return 0;
}

// The device as the device list describes it, for the scanned-device frame.
SavedDeviceRecord DescribeDevice(IStorageDevice* device)
{
    SavedDeviceRecord record;
    if (!device)
        return record;
    ZRUIDeviceData& devices = ZRUIDeviceData::instance();
    _DiskVolumeData data;
    const int known = devices.IsDiskStorage(device) ? devices.GetDiskDataByStorage(device, data)
                                                    : devices.GetVolumeDataByStorage(device, data);
    if (!known)
        return record;
    record.u64Capacity = data.capacity;
    record.iDiskIndex = data.diskIndex;
    record.iVolumeIndex = data.volumeIndex;
    record.iFileSystem = data.fileSystem;
    record.strName = data.name ? data.name : "";
    return record;
}

bool SameDevice(const _DiskVolumeData& data, const SavedDeviceRecord& saved)
{
    if (!data.name || !*data.name)
        return false;
    return std::strlen(data.name) == saved.strName.size() &&
           std::memcmp(data.name, saved.strName.data(), saved.strName.size()) == 0 &&
           data.fileSystem == saved.iFileSystem && data.capacity == saved.u64Capacity;
}

bool IsKnownSearcherType(int type)
{
    return type >= SEARCHER_HFSPLUS && type <= SEARCHER_APFS;
}

}  // namespace

// ---- entry points ----------------------------------------------------------------

int DoSaveScanResult(const char* path, IProgress* sink)
{
    return StartOperation(path, sink, SaveRestoreResult::Static_SaveScanResult);
}

int DoRestoreScanResult(const char* path, IProgress* sink)
{
    return StartOperation(path, sink, SaveRestoreResult::Static_RestoreScanResult);
}

ZRSaveAndRestoreNodeOperate& ZRSaveAndRestoreNodeOperate::instance()
{
    // Never destroyed: a detached save may still report while the process ends.
    static ZRSaveAndRestoreNodeOperate* const s_instance = new ZRSaveAndRestoreNodeOperate();
    return *s_instance;
}

void ZRSaveAndRestoreNodeOperate::UpdateProgress(_PROGRESS_INFO* info)
{
    if (!info)
        return;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    SetProgressInfo(*info);
    if (info->dwState == PROGRESS_STATE_FINISHED) {
        SetStatus(OPERATION_STATUS_IDLE);
        std::printf("=====Scan Progress finished!=====\n");
    }
    SetNeedUIUpdate(1);
}

// ---- progress -----------------------------------------------------------------------

void SaveRestoreResult::IncProgress(IProgress* sink, bool finish, bool start)
{
    if (!sink)
        return;
    SharedProgress& p = Progress();
    _PROGRESS_INFO report;
    {
        std::lock_guard<std::mutex> guard(p.lock);
        if (start) {
            std::memset(&p.info, 0, sizeof(p.info));
            p.info.dwState = PROGRESS_STATE_RUNNING;
            p.info.u64Total = kProgressTotal;
            p.info.u64Done = kProgressStart;
        } else if (finish) {
            p.info.dwState = PROGRESS_STATE_FINISHED;
            p.info.u64Done = p.info.u64Total;
        } else {
            const unsigned int now = GetTickCount();
            if (p.lastTick + kProgressStepTicks > now)
                return;
            p.lastTick = now;
            if (p.info.u64Done + 2 < p.info.u64Total)
                ++p.info.u64Done;
        }
        report = p.info;
    }
    sink->UpdateProgress(&report);
}

void SaveRestoreResult::TipError(IProgress* sink, int code)
{
    if (!sink)
        return;
    SharedProgress& p = Progress();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        // Remembered for the finish report of the same save or load.
        p.info.u64Result = static_cast<uint64_t>(code);
    }
    _PROGRESS_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.dwState = PROGRESS_STATE_FINISHED;
    info.u64Total = kProgressTotal;
    info.u64Done = kProgressTotal;
    info.u64Result = static_cast<uint64_t>(code);
    CatchExeception::WriteLog("%s %d\r\n", "TipError", code);
    sink->UpdateProgress(&info);
}

// ---- HFS+ readers of the last load ------------------------------------------------------

CHFSPlusVolume* SaveRestoreResult::GetCachedHFSPlusVolume(int searcherType)
{
    HFSPlusVolumes& cache = CachedHFSPlusVolumes();
    std::lock_guard<std::mutex> guard(cache.lock);
    auto it = cache.map.find(searcherType);
    return it == cache.map.end() ? nullptr : it->second;
}

void SaveRestoreResult::KeepHFSPlusVolume(int searcherType, CHFSPlusVolume* volume)
{
    HFSPlusVolumes& cache = CachedHFSPlusVolumes();
    std::lock_guard<std::mutex> guard(cache.lock);
    CHFSPlusVolume*& slot = cache.map[searcherType];
    if (slot && slot != volume)
        delete volume;  // one reader per type: the first stays
    else
        slot = volume;
}

void SaveRestoreResult::ClearHFSPlusVolumes()
{
    HFSPlusVolumes& cache = CachedHFSPlusVolumes();
    std::lock_guard<std::mutex> guard(cache.lock);
    for (auto& [type, volume] : cache.map)
        delete volume;
    cache.map.clear();
}

// ---- device lookup ----------------------------------------------------------------------------

IStorageDevice* SaveRestoreResult::GetFromDiskVolumeData(const SavedDeviceRecord& saved)
{
    ZRUIDeviceData& devices = ZRUIDeviceData::instance();
    if (devices.GetInitState() != 2)
        devices.InitDeviceInfo();

    if (IStorageDevice* device = devices.GetStorageByDiskVolumeIndex(saved.iDiskIndex, saved.iVolumeIndex)) {
        _DiskVolumeData data;
        const int known = devices.IsDiskStorage(device) ? devices.GetDiskDataByStorage(device, data)
                                                        : devices.GetVolumeDataByStorage(device, data);
        if (known && data.capacity == saved.u64Capacity)
            return device;
    }

    // The indices moved (a device came or went): find it by name, file
    // system and size.
    std::list<_DiskVolumeData> all;
    devices.GetAllDeviceInfo(all);
    for (const _DiskVolumeData& disk : all) {
        if (SameDevice(disk, saved))
            return devices.GetStorageByDiskVolumeIndex(disk.diskIndex, -1);
        for (const _DiskVolumeData& volume : disk.volumes)
            if (SameDevice(volume, saved))
                return devices.GetStorageByDiskVolumeIndex(volume.diskIndex, volume.volumeIndex);
    }
    return nullptr;
}

// ---- save -------------------------------------------------------------------------------------------

void SaveRestoreResult::Static_SaveScanResult(OperationPara* rawPara)
{
    std::unique_ptr<OperationPara> para(rawPara);
    IProgress* sink = para->pSink;
    CatchExeception::WriteLog("%s %d\r\n", "Static_SaveScanResult", __LINE__);
    std::unique_ptr<CRSData> stream(new (std::nothrow) CRSData(RS_MODE_WRITE));
    IncProgress(sink, false, true);

    bool opened = false;
    if (!stream) {
        CatchExeception::WriteLog("%s %d\r\n", "Static_SaveScanResult", __LINE__);
        TipError(sink, SCAN_RESULT_NO_STREAM);
    } else {
        try {
            IncProgress(sink, false, false);
            // Written beside the target and put in its place only when whole:
            // a failed save leaves an earlier result of that name intact.
            opened = stream->StartRSReplacing(para->strPath.c_str()) != 0;
            if (!opened) {
                CatchExeception::WriteLog("%s %d\r\n", "Static_SaveScanResult", __LINE__);
                TipError(sink, SCAN_RESULT_CANNOT_OPEN);
            } else {
                IncProgress(sink, false, false);
                FILEHEADER header;
                header.eStatus = static_cast<FileStatus>(kFileStatusSaved);
                if (!stream->WriteFileHeader(header))
                    throw CRSException(RS_ERROR_WRITE_FAILED);
                IncProgress(sink, false, false);

                ZRUIScan& scan = ZRUIScan::instance();
                IStorageDevice* device = scan.GetSavedStorage();
                SavedScanKind kind;
                kind.dwControllerType = static_cast<uint32_t>(scan.GetScanControllerType(device));
                kind.dwDeepScan = static_cast<uint32_t>(scan.IsDeepScan());
                WriteScanKindFrame(stream.get(), kind);
                IncProgress(sink, false, false);

                WriteDeviceFrame(stream.get(), DescribeDevice(device));
                IncProgress(sink, false, false);

                const bool quick = kind.dwControllerType == RECOVERY_CONTROLLER_QUICK;
                RecoveryOfRoot recoveryOf = [quick, &scan](IFileNode* root) -> IDataRecovery* {
                    if (quick)
                        return scan.GetFileNodeDataRecover(root);
                    return ZRUIRecovery::instance().GetDataRecoveryByType(
                        ZRCPPPublic::instance().GetNodeSearcheType(root));
                };
                const NodeList roots = scan.GetFileSystemNode();
                WriteNodeTreeFrame(stream.get(), roots, recoveryOf, sink);
                stream->CloseFrame();
                const int committed = stream->CommitRS();
                opened = false;
                // Bytes that did not reach the storage device make the saved
                // result worthless: say so instead of reporting success.
                if (!committed)
                    TipError(sink, SCAN_RESULT_CANNOT_OPEN);
            }
        } catch (const CRSException& e) {
            CatchExeception::WriteLog("%s %d\r\n", "Static_SaveScanResult", static_cast<int>(e.GetErrorcode()));
            TipError(sink, SCAN_RESULT_CANNOT_OPEN);
        } catch (const std::exception&) {
            // Out of memory while gathering a record: the file is incomplete.
            CatchExeception::WriteLog("%s %d\r\n", "Static_SaveScanResult", __LINE__);
            TipError(sink, SCAN_RESULT_CANNOT_OPEN);
        }
        if (opened)
            stream->EndRS();
        stream.reset();
    }
    CatchExeception::WriteLog("%s %d\r\n", "Static_SaveScanResult", __LINE__);
    IncProgress(sink, true, false);
}

// ---- load ---------------------------------------------------------------------------------------------

void SaveRestoreResult::Static_RestoreScanResult(OperationPara* rawPara)
{
    std::unique_ptr<OperationPara> para(rawPara);
    IProgress* sink = para->pSink;
    CatchExeception::WriteLog("%s %d\r\n", "Static_RestoreScanResult", __LINE__);
    usleep(kLoadStartDelayMicroseconds);
    std::unique_ptr<CRSData> stream(new (std::nothrow) CRSData(RS_MODE_READ));
    ZRUIScan& scan = ZRUIScan::instance();
    scan.ClearData();
    ClearHFSPlusVolumes();
    IncProgress(sink, false, true);

    if (!stream) {
        TipError(sink, SCAN_RESULT_NO_STREAM);
    } else {
        IncProgress(sink, false, false);
        if (!stream->StartRS(para->strPath.c_str(), 0)) {
            TipError(sink, SCAN_RESULT_CANNOT_OPEN);
        } else {
            IncProgress(sink, false, false);
            SavedScanKind kind;
            SavedDeviceRecord saved;
            SavedIntegrity integrity;
            const int head = ReadResultHead(stream.get(), kind, saved, sink, integrity);
            IStorageDevice* device = head == SCAN_RESULT_OK ? GetFromDiskVolumeData(saved) : nullptr;
            if (head != SCAN_RESULT_OK) {
                TipError(sink, head);
            } else if (!device) {
                TipError(sink, SCAN_RESULT_NO_DEVICE);
            } else if (integrity.bTreesDamaged) {
                // Trees that fail their checksum would send a recovery to the
                // wrong sectors: nothing of them is shown.
                CatchExeception::WriteLog("%s %d\r\n", "Static_RestoreScanResult", __LINE__);
                TipError(sink, SCAN_RESULT_DAMAGED_TREES);
            } else {
                IncProgress(sink, false, false);
                auto restore = std::make_unique<RestoreScanSink>(stream.get());
                bool damaged = false;
                try {
                    // The controller type follows from the device and this flag.
                    scan.SetDeepScan(static_cast<int>(kind.dwDeepScan != 0));
                    scan.DoScan(device, restore.get());
                    scan.SetOpTreeFinished(1);
                    damaged = restore->IsDamaged();
                } catch (const std::exception&) {
                    // Out of memory while replaying: what was built stays.
                    CatchExeception::WriteLog("%s %d\r\n", "Static_RestoreScanResult", __LINE__);
                    damaged = true;
                }
                // Kept past this thread: the scan's controllers still use it.
                restore->DetachStream();
                KeepRestoreSink(std::move(restore));
                if (damaged)
                    TipError(sink, SCAN_RESULT_DAMAGED_TREES);
            }
            stream->EndRS();
        }
        stream.reset();
    }
    CatchExeception::WriteLog("%s %d\r\n", "Static_RestoreScanResult", __LINE__);
    IncProgress(sink, true, false);
}

// ---- restore sink ------------------------------------------------------------------------------------

RestoreScanSink::RestoreScanSink(IRSData* stream) : m_pStream(stream) {}

RestoreScanSink::~RestoreScanSink()
{
    ClearMapCell();
}

int RestoreScanSink::ClearMapCell()
{
    for (auto& [type, list] : m_mapPartitions)
        for (CSearchedPartitionInfo* p : list)
            delete p;
    m_mapPartitions.clear();
    return 0;
}

const std::vector<CSearchedPartitionInfo*>& RestoreScanSink::GetSearchedPartition(int searcherType)
{
    return m_mapPartitions[searcherType];
}

int RestoreScanSink::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress,
                                             IStorageDevice* device)
{
    if (!m_pStream || !builder || !device)
        return 1;
    // On a volume, the trees saved under its name: the name its scan gave
    // them, which is the builder's "Disk" when the volume has none.
    const bool wholeDisk =
        device->GetType() == STORAGE_DEVICE_DISK || ZRUIDeviceData::instance().IsDiskStorage(device);
    std::string expected = GetDeviceDescription(device);
    // A device without a name of its own had its trees named after the
    // volumes' labels (or "Disk"): every tree saved from it is its own.
    const bool unnamedDevice = expected.empty();
    if (expected.empty())
        expected = "Disk";

    // Every saved result has this frame, if only with a count of 0: a file
    // without it was cut or damaged.
    try {
        if (!m_pStream->OpenFrame(_frFileSystemNode)) {
            m_bDamaged = true;
            return 1;
        }
    } catch (const CRSException&) {
        m_bDamaged = true;
        return 1;
    }
    ClearMapCell();

    auto keepGoing = [progress] { return !progress || progress->Continued(); };
    bool replaying = false;
    _tagSearcherType type = SEARCHER_NONE;
    try {
        const uint64_t count = GetU64(m_pStream);
        SaveRestoreResult::IncProgress(progress, false, false);
        for (uint64_t tree = 0; tree < count && keepGoing(); ++tree) {
            if (GetU32(m_pStream) != kTreeMarker) {
                m_bDamaged = true;
                break;
            }
            std::unique_ptr<SaveRestoreResult::RestoreSystemNode> root(
                SaveRestoreResult::RestoreSystemNode::ReadSystemNode(m_pStream, nullptr));
            type = root->GetSearcheType();
            const char* volumeName = root->GetVolumeName();
            replaying =
                IsKnownSearcherType(type) && *volumeName && (wholeDisk || unnamedDevice || expected == volumeName);
            if (replaying) {
                builder->AddSearcherInfo(type, root->GetCurrentNodeID());
                builder->SetSearcherVolumeName(type, volumeName);
                ++m_iReplayedTrees;
                SaveRestoreResult::IncProgress(progress, false, false);
                // One reader per type for the compressed files of the load.
                if (type == SEARCHER_HFSPLUS && !SaveRestoreResult::GetCachedHFSPlusVolume(type)) {
                    auto volume = std::make_unique<CHFSPlusVolume>(device, true);
                    if (!IsResultFailure(volume->GetLastError()))
                        SaveRestoreResult::KeepHFSPlusVolume(type, volume.release());
                }
            }
            root.reset();

            const uint32_t partitions = GetU32(m_pStream);
            if (partitions > kMaxPartitions) {
                m_bDamaged = true;
                break;
            }
            std::vector<CSearchedPartitionInfo*>* list = replaying ? &m_mapPartitions[type] : nullptr;
            bool badKind = false;
            for (uint32_t i = 0; i < partitions; ++i) {
                // Each kind is followed by its record: an unknown kind means
                // the bytes are not what the writer put there.
                if (GetU32(m_pStream) > kMaxPartitionKind) {
                    badKind = true;
                    break;
                }
                std::unique_ptr<CSearchedPartitionInfo> p(SaveRestoreResult::ReadPartitionRecord(m_pStream));
                if (list)
                    list->push_back(p.release());
            }
            if (badKind) {
                m_bDamaged = true;
                break;
            }

            uint32_t marker = GetU32(m_pStream);
            while (marker == kNodeMarker && keepGoing()) {
                std::unique_ptr<SaveRestoreResult::RestoreFileNode> node(
                    SaveRestoreResult::RestoreFileNode::ReadFileNode(m_pStream, nullptr));
                if (replaying && builder->AddNode(node.get(), type))
                    node.release();  // the builder owns it now
                SaveRestoreResult::IncProgress(progress, false, false);
                marker = GetU32(m_pStream);
            }
            if (replaying)
                builder->FlashBuild(type);
            replaying = false;
            if (marker != kNodeMarker && marker != kEndMarker) {
                m_bDamaged = true;
                break;
            }
        }
    } catch (const CRSException&) {
        // The frame ends inside a tree (a cut or damaged file): what was
        // read of that tree is shown too.
        m_bDamaged = true;
        if (replaying)
            builder->FlashBuild(type);
    }
    m_pStream->CloseFrame();
    return 0;
}
