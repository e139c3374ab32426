// The facade: devices, scans, progress, the name search, the recovery,
// saving and loading, and the application helpers.
#include "ZRUIController.h"

#include <unistd.h>

#include <QDir>
#include <QVariant>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "BridgeUtil.h"
#include "BundleResources.h"
#include "DeviceInfo.h"
#include "FacadeInternal.h"
#include "FileTypeManager.h"
#include "IFileNode.h"
#include "Log.h"
#include "WorkPath.h"
#include "ZRUIDeviceData.h"
#include "ZRUIOperation.h"
#include "ZRTimeMgr.h"
#include "ZRTypeMgr.h"
#include "ZRUIRecovery.h"
#include "ZRUISaveRestore.h"
#include "ZRUIScan.h"
#include "ZRUISearch.h"

namespace {

// A build of the device list started by NotifiyDeviceInfoAfterInit and not
// yet finished: a second request while it runs must not start another.
std::atomic<bool> g_bDeviceBuildRunning{false};
// Workers started by the facade that have not returned yet. A stop request
// (status 1) with a worker behind it means "still on its way out": clearing
// it then would let the old worker run on beside a new one.
std::atomic<int> g_iScanWorkers{0};
std::atomic<int> g_iRecoveryWorkers{0};

constexpr int kRefreshWaitSteps = 30;

std::string Utf8(const QString& text) { return text.toUtf8().toStdString(); }

// The type and time trees belong to the main thread: they are emptied here,
// before the worker that replaces the result starts.
void ClearTypeAndTimeTrees()
{
    ZRTypeMgr::share().clear();
    ZRTimeMgr::share().clear();
}

ZRUIOperation& SaveOperation() { return ZRSaveAndRestoreNodeOperate::instance(); }

// The parts of a progress record the windows read; null outputs skipped.
void CopyProgress(const _PROGRESS_INFO& info, quint64* total, quint64* current, qint64* errorCode)
{
    if (total)
        *total = info.u64Total;
    if (current)
        *current = info.u64Done;
    if (errorCode)
        *errorCode = static_cast<qint64>(info.u64Result);
}

// A save or load that could not start never reports its end itself: end it
// here, so that the polling thread posts "QueryProgressFinish".
void EndUnstarted(ZRUIOperation& op)
{
    op.SetStatus(OPERATION_STATUS_IDLE);
    op.SetNeedUIUpdate(1);
}

bool IsStatusRunning(int status)
{
    return status == OPERATION_STATUS_STOP || status == OPERATION_STATUS_RUNNING || status == OPERATION_STATUS_PAUSED;
}

// The operation may be started: it has exited, or a stop request is left
// with no worker behind it (then it is cleared).
bool ReadyToStart(ZRUIOperation& op, const std::atomic<int>& workers)
{
    if (op.GetStatus() == OPERATION_STATUS_STOP && workers.load() == 0)
        op.SetStatus(OPERATION_STATUS_IDLE);
    return op.IsOperationExit();
}

}  // namespace

QString FacadeInternal::RemainingTimeText(long long elapsed, unsigned long long total, unsigned long long done)
{
    const QString unknown = QStringLiteral("-:-:-");
    const double percent = static_cast<double>(done) * 100.0 / static_cast<double>(total ? total : 1);
    if (elapsed < 1 || done == 0 || percent < 1.0)
        return unknown;
    // In 128 bits, saturated: a huge device and a long scan must give "no
    // estimate", not a product that wraps round to a small time.
    const unsigned __int128 left = total > done ? total - done : 0;
    const unsigned __int128 raw = static_cast<unsigned __int128>(elapsed) * left / done;
    int remaining = raw > static_cast<unsigned __int128>(INT_MAX) ? INT_MAX : static_cast<int>(raw);
    int adjusted = remaining;
    if (done < (total >> 2))
        adjusted = static_cast<int>(remaining * 0.5);
    else if (done < (total >> 1))
        adjusted = static_cast<int>(remaining * 0.7);
    if (adjusted > 0)
        remaining = adjusted;
    if (remaining / 3600 > 100)
        return unknown;
    return QString::asprintf("%02d:%02d:%02d", remaining / 3600, remaining % 3600 / 60, remaining % 60);
}

// ---- devices --------------------------------------------------------------------

void ZRUIController::NotifiyDeviceInfoAfterInit(const QString& key)
{
    const std::string name = key.toStdString();
    if (g_bDeviceBuildRunning.load())
        return;  // the running build posts its own name
    if (ZRUIDeviceData::instance().GetInitState() == 2) {
        ZRUIPublic::NotifyMainThread(name);
        return;
    }
    g_bDeviceBuildRunning = true;
    ZRUIPublic::NotifyMainThreadByPostKey(name, [] {
        InitDeviceInfoInBgThread();
        g_bDeviceBuildRunning = false;
    });
}

void ZRUIController::InitDeviceInfoInBgThread(const void*) { ZRUIDeviceData::instance().InitDeviceInfo(); }

void ZRUIController::GetDeviceInfoToArray(DiskVolumeNodeArray* array)
{
    if (!array || g_bDeviceBuildRunning.load())
        return;
    std::list<_DiskVolumeData> disks;
    ZRUIDeviceData::instance().GetAllDeviceInfo(disks);
    for (const _DiskVolumeData& disk : disks) {
        DiskVolumeNodeDataPtr item = DiskVolumeNodeData::initWithNodeData(disk);
        if (!disk.volumes.empty()) {
            DiskVolumeNodeArray volumes;
            for (const _DiskVolumeData& volume : disk.volumes)
                volumes.push_back(DiskVolumeNodeData::initWithNodeData(volume));
            item->setSubNode(std::move(volumes));
        }
        array->push_back(std::move(item));
    }
}

void ZRUIController::RefreshDeviceInfo()
{
    ZRUIScan& scan = ZRUIScan::instance();
    scan.StopOperation(1);
    for (int step = 0; step < kRefreshWaitSteps; ++step) {
        if (ReadyToStart(scan, g_iScanWorkers) && !g_bDeviceBuildRunning.load())
            break;
        sleep(1);
    }
    if (!ReadyToStart(scan, g_iScanWorkers) || g_bDeviceBuildRunning.load()) {
        // The scan (or a build) still reads the listed devices: dropping
        // them now would pull them from under it. Keep the old list.
        CatchExeception::WriteLog("device list kept: a scan or a listing still runs");
        return;
    }
    ZRUIDeviceData& devices = ZRUIDeviceData::instance();
    devices.Clear();
    devices.InitDeviceInfo();
    scan.SaveScanSorage(nullptr);
}

// ---- scan ---------------------------------------------------------------------------

void ZRUIController::DoScanWithData(DiskVolumeNodeData* data, const QString& key, QObject* target)
{
    if (!data)
        return;
    ZRUIScan::instance().SetDeepScan(0);
    DoScanWithDiskIndex(static_cast<unsigned int>(data->diskIndex()), static_cast<unsigned int>(data->volumeIndex()),
                        key, target);
}

void ZRUIController::DoDeepScan(QObject* target, const QString& key)
{
    ZRUIScan& scan = ZRUIScan::instance();
    IStorageDevice* device = scan.GetSavedStorage();
    if (!device || g_bDeviceBuildRunning.load())
        return;
    int disk = -1, volume = -1;
    if (!ZRUIDeviceData::instance().GetDiskVolumeIndexByStorage(device, disk, volume) || disk == -1)
        return;
    scan.SetDeepScan(1);
    DoScanWithDiskIndex(static_cast<unsigned int>(disk), static_cast<unsigned int>(volume), key, target);
}

void ZRUIController::DoScanWithDiskIndex(unsigned int diskIndex, unsigned int volumeIndex, const QString& key,
                                         QObject*)
{
    ZRUIScan& scan = ZRUIScan::instance();
    // The list being built on its thread cannot be searched for the device.
    if (g_bDeviceBuildRunning.load() || !ReadyToStart(scan, g_iScanWorkers))
        return;
    IStorageDevice* device = ZRUIDeviceData::instance().GetStorageByDiskVolumeIndex(static_cast<int>(diskIndex),
                                                                                   static_cast<int>(volumeIndex));
    if (!device)
        return;
    FacadeInternal::EnsureNotifyBridge();
    ClearTypeAndTimeTrees();
    scan.SetStatus(OPERATION_STATUS_RUNNING);
    ++g_iScanWorkers;
    const quint64 value = static_cast<quint64>(reinterpret_cast<quintptr>(device));
    if (!ZRUIOperationThreads::DoOperation(
            [value] {
                DoScanFn(value);
                --g_iScanWorkers;
            },
            &scan, key.toStdString()))
        --g_iScanWorkers;  // the worker never ran
}

void ZRUIController::DoScanFn(quint64 device)
{
    ZRUIScan::instance().DoScan(reinterpret_cast<IStorageDevice*>(static_cast<quintptr>(device)), nullptr);
}

void ZRUIController::SetViewType(int viewType) { ZRUIScan::instance().SetScanType(viewType); }

bool ZRUIController::IsDeepScan() { return ZRUIScan::instance().IsDeepScan() != 0; }

bool ZRUIController::FoundNoKnownFileSystem() { return ZRUIScan::instance().FoundNoKnownFileSystem(); }

void ZRUIController::RefreshData() { ZRUIScan::instance().RefreshAllData(); }

void ZRUIController::UnselectedAllNodes() { ZRUIScan::instance().UnselectAllNodes(); }

void ZRUIController::ReleaseDataRecovery()
{
    ZRUIScan::instance().ReleaseDataRecovery();
    ZRUIRecovery::instance().ReleaseDataRecovery();
}

// ---- progress and control of the scan ------------------------------------------------

QString ZRUIController::GetScanProgress(double* percent, quint64* fileCnt)
{
    ZRUIScan& scan = ZRUIScan::instance();
    const _PROGRESS_INFO info = scan.GetProgressInfo();
    if (fileCnt)
        *fileCnt = scan.GetScanFileCnt();
    const unsigned long long total = info.u64Total;
    const unsigned long long done = info.u64Done;
    const double pct = static_cast<double>(done) * 100.0 / static_cast<double>(total ? total : 1);
    if (percent)
        *percent = pct;

    return FacadeInternal::RemainingTimeText(scan.GetScanElapseTime(), total, done);
}

void ZRUIController::GetScanFileSize(quint64* size, quint64* cnt)
{
    ZRUIScan& scan = ZRUIScan::instance();
    if (size)
        *size = scan.GetScanFileSize();
    if (cnt)
        *cnt = scan.GetScanFileCnt();
}

void ZRUIController::PauseOrResumeScan() { ZRUIScan::instance().PauseOrResumeOperation(); }

void ZRUIController::StopScan(int flag) { ZRUIScan::instance().StopOperation(flag); }

void ZRUIController::ResetShouldBuild() { ZRUIScan::instance().SetShouldBuildTree(1); }

bool ZRUIController::IsScanRunning() { return IsStatusRunning(ZRUIScan::instance().GetStatus()); }

bool ZRUIController::IsPause() { return ZRUIScan::instance().GetStatus() == OPERATION_STATUS_PAUSED; }

// ---- name search ---------------------------------------------------------------------

bool ZRUIController::DoSearchWithString(const QString& text, const void*, const QString& key)
{
    FacadeInternal::EnsureNotifyBridge();
    return ZRUISearch::instance().DoSearchWithString(Utf8(text), key.toStdString());
}

void ZRUIController::DoSearchFn(const QString& key)
{
    ZRUISearch::instance().DoSearch();
    ZRUIPublic::NotifyMainThread(key.toStdString());
    ZRUIScan::instance().SetNeedUIUpdate(0);
}

QString ZRUIController::GetSearchString() { return QString::fromStdString(ZRUISearch::instance().GetSearchString()); }

void ZRUIController::StopSearch() { ZRUISearch::instance().StopSearch(); }

// ---- recovery -------------------------------------------------------------------------

void ZRUIController::SetRecoveryType(unsigned int mask) { ZRUIFilter::instance().ResetFilter(mask); }

FileNodeArray ZRUIController::GetSelectedFilesAndSize(quint64* size)
{
    FileNodeArray files;
    quint64 total = size ? *size : 0;
    for (const auto& [type, nodes] : ZRUIScan::instance().GetTypeMap()) {
        for (IFileNode* node : nodes) {
            if (!node || !node->IsNodeShow() || node->GetCheckedStatus() != CHECKED_ALL)
                continue;
            files.push_back(FileNodeToValue(node));
            const long long bytes = node->GetFileSize();
            if (bytes > 0)
                total += static_cast<quint64>(bytes);
        }
    }
    if (size)
        *size = total;
    return files;
}

void ZRUIController::GetSelectedFilesAmout(unsigned int* count, quint64* size)
{
    quint64 bytes = 0;
    const FileNodeArray files = GetSelectedFilesAndSize(&bytes);
    const auto n = static_cast<unsigned int>(files.size());
    if (count)
        *count = n;
    if (size)
        *size = bytes;
    ZRUIRecovery& recovery = ZRUIRecovery::instance();
    recovery.SetRecoveryTotalFilesCnt(n);
    recovery.SetRecoveryTotalSize(bytes);
}

bool ZRUIController::IsRecoveryToSameDevice(const QString& folder)
{
    if (folder.isEmpty())
        return false;
    return ZRUIRecovery::instance().RecoveryPathIsSameDevice(Utf8(folder).c_str());
}

ResultCode ZRUIController::DoRecovery(const void* selection, const QString& folder, const QString& key, const void*)
{
    // An empty folder would become "/", the root of this machine.
    if (!selection || folder.isEmpty())
        return kZRUIControllerNoRecoveryTarget;
    ZRUIRecovery& recovery = ZRUIRecovery::instance();
    // A stopped recovery's worker may still be leaving (it reports "not
    // running" as soon as the stop is asked): it is given a few seconds. A
    // recovery that still runs is refused at once.
    for (int wait = 0; wait < 50 && recovery.GetStatus() == OPERATION_STATUS_STOP &&
                       !ReadyToStart(recovery, g_iRecoveryWorkers);
         ++wait)
        usleep(100 * 1000);
    if (!ReadyToStart(recovery, g_iRecoveryWorkers))
        return kZRUIControllerRecoveryBusy;
    FacadeInternal::EnsureNotifyBridge();
    recovery.SetRecoveryPath((Utf8(folder) + "/").c_str());
    recovery.ClearCreateDirIndex();
    recovery.ResetRecoveredCounts();
    recovery.SetStatus(OPERATION_STATUS_RUNNING);
    ++g_iRecoveryWorkers;
    if (!ZRUIOperationThreads::DoOperation(
            [] {
                DoRecoveryFn();
                --g_iRecoveryWorkers;
            },
            &recovery, key.toStdString()))
        --g_iRecoveryWorkers;
    return 0;
}

void ZRUIController::DoRecoveryFn(const void*) { ZRUIRecovery::instance().DoRecovery(); }

QString ZRUIController::GetRecoveryProgressTotal(quint64* total, quint64* current, qint64* errorCode)
{
    ZRUIRecovery& recovery = ZRUIRecovery::instance();
    CopyProgress(recovery.GetProgressInfo(), total, current, errorCode);
    IFileNode* node = recovery.GetCurrentRecoveryNode();
    const char* name = node ? node->GetFileName() : nullptr;
    return name ? QString::fromUtf8(name) : QString(QLatin1String(""));
}

bool ZRUIController::IsRecoveryRunning()
{
    const int status = ZRUIRecovery::instance().GetStatus();
    return status == OPERATION_STATUS_RUNNING || status == OPERATION_STATUS_PAUSED;
}

void ZRUIController::StopRecvoery() { ZRUIRecovery::instance().StopOperation(1); }

void ZRUIController::PauseOrResumeRecovery() { ZRUIRecovery::instance().PauseOrResumeOperation(); }

quint64 ZRUIController::GetRecoveridedSize() { return ZRUIRecovery::instance().GetRecoveriedFileSize(); }

quint64 ZRUIController::GetRecoveridedFiles() { return ZRUIRecovery::instance().GetRecoveriedFilesCnt(); }

// ---- saving and loading a scan result ------------------------------------------------------

void ZRUIController::RestorPostUIUpdate(const QString& key, bool save)
{
    ZRUIOperation* op = save ? &SaveOperation() : static_cast<ZRUIOperation*>(&ZRUIScan::instance());
    FacadeInternal::EnsureNotifyBridge();
    op->SetStatus(OPERATION_STATUS_RUNNING);
    const std::string name = key.toStdString();
    if (!FacadeInternal::StartDetached([op, name] { ZRUIOperationThreads::QueryUpdateUI(op, name); }))
        ZRUIPublic::NotifyMainThread("QueryProgressFinish");
}

void ZRUIController::beginSaveOrRestoreNode(bool save, const QString& path)
{
    const std::string file = Utf8(path);
    if (save) {
        if (DoSaveScanResult(file.c_str(), &SaveOperation()) != 0)
            EndUnstarted(SaveOperation());
        return;
    }
    ZRUIScan& scan = ZRUIScan::instance();
    scan.ClearData();
    ClearTypeAndTimeTrees();
    scan.SetStatus(OPERATION_STATUS_RUNNING);
    if (DoRestoreScanResult(file.c_str(), &scan) != 0)
        EndUnstarted(scan);
}

void ZRUIController::GetSaveorRestoreProgress(quint64* total, quint64* current, qint64* errorCode, bool saver)
{
    ZRUIOperation& op = saver ? SaveOperation() : static_cast<ZRUIOperation&>(ZRUIScan::instance());
    _PROGRESS_INFO info = op.GetProgressInfo();
    if (info.dwState == PROGRESS_STATE_FINISHED)
        info.u64Done = info.u64Total;
    CopyProgress(info, total, current, errorCode);
}

QString ZRUIController::GetDefaultSavePath()
{
    // The user's work folder plays the part of the bundle's executable
    // folder: an installed program never writes beside itself.
    const QString path = QString::fromLocal8Bit(GetAppWorkPath()) + QStringLiteral("/SaveScan");
    QDir().mkdir(path);
    return path;
}

QString ZRUIController::GetSavePath()
{
    const std::optional<QVariantMap> settings = Bundle::ReadSettings();
    if (!settings)
        return QString();
    const auto it = settings->constFind(QStringLiteral("SavePath"));
    return it == settings->constEnd() ? QString() : it->toString();
}

void ZRUIController::SavePathToPList(const QString& folder)
{
    std::optional<QVariantMap> settings = Bundle::ReadSettings();
    if (!settings)
        return;
    settings->insert(QStringLiteral("SavePath"), folder);
    Bundle::WriteSettings(*settings);
}

QString ZRUIController::GetSaveFileName()
{
    IStorageDevice* device = ZRUIScan::instance().GetSavedStorage();
    ZRUIDeviceData& devices = ZRUIDeviceData::instance();
    QString name;
    if (device) {
        _DiskVolumeData data;
        const bool found = devices.IsDiskStorage(device) ? devices.GetDiskDataByStorage(device, data) != 0
                                                         : devices.GetVolumeDataByStorage(device, data) != 0;
        if (found)
            name = DiskVolumeNodeData::initWithNodeData(data)->name();
    }
    _SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d-%04d at %02d_%02d_%02d", now.wMonth, now.wDay, now.wYear, now.wHour,
                  now.wMinute, now.wSecond);
    // The name becomes one file name: a "/" in a volume label must not turn
    // it into a path.
    return QString::fromStdString(MakeSafePathComponent(Utf8(name) + "_" + stamp));
}

// ---- operation threads -------------------------------------------------------------------

bool ZRUIController::DoOperation(std::function<void()> worker, ZRUIOperation* op, const QString& key)
{
    FacadeInternal::EnsureNotifyBridge();
    return ZRUIOperationThreads::DoOperation(std::move(worker), op, key.toStdString());
}

void ZRUIController::QueryStatusAndUpdateUI(ZRUIOperation* op, const QString& key)
{
    FacadeInternal::EnsureNotifyBridge();
    if (op)
        ZRUIOperationThreads::QueryStatusAndUpdateUI(op, key.toStdString());
}

void ZRUIController::QueryUpdateUI(ZRUIOperation* op, const QString& key)
{
    FacadeInternal::EnsureNotifyBridge();
    ZRUIOperationThreads::QueryUpdateUI(op, key.toStdString());
}

// ---- application helpers ----------------------------------------------------------------

void ZRUIController::initFileType()
{
    std::map<int, std::string> lists;
    for (int i = 0; i < 5; ++i) {
        const int bit = 1 << i;
        std::string text = ZRTypeMgr::share().getTypeString(bit);
        // The engine's table takes plain ASCII words only.
        for (unsigned char c : text)
            if (c >= 0x80) {
                text.clear();
                break;
            }
        lists[bit] = text;
    }
    CFileTypeManager::Initialze(lists);
}

bool ZRUIController::IsAppRunning() { return ZRCPPPublic::instance().IsAppRunning(); }

void ZRUIController::CloseApp() { std::exit(0); }

void ZRUIController::SpyIDInstall() {}
void ZRUIController::SpyIDEnd() {}
void ZRUIController::SpyIDIncreateTable1(int) {}
void ZRUIController::SpyIDIncreateTable2(int, int) {}
void ZRUIController::SpyIDStringTable1(int, const QString&) {}
void ZRUIController::SpyIDWStringTable1(int, const QString&) {}
void ZRUIController::SpyIDStringTable2(int, const QString&) {}
void ZRUIController::SpyIDSaveToServerTable() {}
