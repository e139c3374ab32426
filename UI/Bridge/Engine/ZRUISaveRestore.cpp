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
#include "IFileNode.h"
#include "IRecovery.h"
#include "IStorageDevice.h"
#include "Log.h"
#include "RSData.h"
#include "ZRUIDeviceData.h"
#include "ZRUIRecovery.h"
#include "ZRUIScan.h"

using namespace ScanResultFormat;
using namespace ScanResultIO;

namespace {

// The load waits this long before it starts, as the windows expect.
constexpr unsigned int kLoadStartDelayMicroseconds = 1000000;
constexpr size_t kOperationStackBytes = 8u << 20;

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
                restore->SetWholeDiskTest(
                    [](IStorageDevice* d) { return ZRUIDeviceData::instance().IsDiskStorage(d); });
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
