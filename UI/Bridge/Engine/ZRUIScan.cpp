#include "ZRUIScan.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "BridgeUtil.h"
#include "DeviceInfo.h"
#include "IFileNode.h"
#include "IRecovery.h"
#include "IStorageDevice.h"
#include "Log.h"
#include "ZRUIDeviceData.h"
#include "ZRUIRecovery.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;
constexpr int kOperationLockAttempts = 100;
constexpr useconds_t kOperationLockWaitMicroseconds = 20000;

_FILETIME ToFileTime(unsigned long long value)
{
    _FILETIME t;
    t.dwLowDateTime = static_cast<uint32_t>(value);
    t.dwHighDateTime = static_cast<uint32_t>(value >> 32);
    return t;
}

}  // namespace

ZRUIScan& ZRUIScan::instance()
{
    // Never destroyed: a detached worker or state-query thread may still use
    // it while the process exits.
    static ZRUIScan* const s_instance = new ZRUIScan();
    return *s_instance;
}

ZRUIScan::~ZRUIScan()
{
    Guard guard(m_lock);
    ReleaseDataRecovery();
    ReleaseControllers();
}

void ZRUIScan::ReleaseControllers()
{
    Guard guard(m_lock);
    if (m_pRecoveryController)
        m_pRecoveryController->Release();
    m_pRecoveryController = nullptr;
    for (IRecoveryController* controller : m_listEarlierControllers)
        controller->Release();
    m_listEarlierControllers.clear();
}

void ZRUIScan::NextVolumeController(_RECOVERY_CONTROLLER_TYPE type)
{
    Guard guard(m_lock);
    if (m_pRecoveryController)
        m_listEarlierControllers.push_back(m_pRecoveryController);
    m_pRecoveryController = CreateRecoveryController(type);
    if (m_pRecoveryController && m_pRestoreSink)
        m_pRecoveryController->SetRestoreSource(m_pRestoreSink);
}

bool ZRUIScan::IsDisk(IStorageDevice* device)
{
    return device && (ZRUIDeviceData::instance().IsDiskStorage(device) || device->GetType() == STORAGE_DEVICE_DISK);
}

ResultCode ZRUIScan::DoScan(IStorageDevice* device, IRestoreSource* sink)
{
    CatchExeception::WriteLog("%s:%d started!\r", "DoScan", __LINE__);
    m_pRestoreSink = sink;
    usleep(80000);
    autolocker<mutex_locker> scanLock(m_scanLock);
    ZRUIRecovery::instance().ReleaseDataRecovery();

    ResultCode result = ZRUIScanError::kNotStarted;
    // Whatever ends this scan, the operation must not look running
    // afterwards: the state-query thread waits for it to exit.
    auto finish = [this] {
        Guard guard(m_lock);
        if (GetStatus() != OPERATION_STATUS_IDLE && GetStatus() != OPERATION_STATUS_FINISHED)
            SetStatus(OPERATION_STATUS_IDLE);
        SetNeedUIUpdate(1);
        m_pRestoreSink = nullptr;
    };
    if (!device) {
        finish();
        return result;
    }
    SaveScanSorage(device);
    SetNeedUIUpdate(0);
    const _RECOVERY_CONTROLLER_TYPE type = GetScanControllerType(device);
    // The state-query thread takes the operation lock for a moment every
    // 100 ms: a single try could lose to it and leave the scan unstarted.
    // Only a holder that keeps the lock for seconds means another thread
    // works on this operation.
    bool locked = m_lock.try_lock();
    for (int attempt = 0; !locked && attempt < kOperationLockAttempts; ++attempt) {
        usleep(kOperationLockWaitMicroseconds);
        locked = m_lock.try_lock();
    }
    if (!locked) {
        // Another thread works on this operation; its status is not ours.
        m_pRestoreSink = nullptr;
        return result;
    }
    m_lock.unlock();

    const int deep = IsDeepScan();
    {
        // A volume the device list knows no file system of, or a disk
        // none of whose volumes has one, is said so when the scan ends
        // (a deep scan of a whole disk reads more than its volumes).
        bool unknown = false;
        if (!IsDisk(device)) {
            unknown = IsStorageVolumeUnknow(device);
        } else if (!deep) {
            std::list<IStorageDevice*> volumes;
            ZRUIDeviceData::instance().GetDiskVolumeStorage(device, volumes);
            unknown = true;
            for (IStorageDevice* volume : volumes)
                unknown = unknown && IsStorageVolumeUnknow(volume);
        }
        Guard guard(m_lock);
        m_bNoKnownFileSystem = unknown;
    }
    // The data-recovery objects read through the old controller's
    // searchers: they go before it does.
    ReleaseDataRecovery();
    {
        // The lists of found roots and folders point into the old
        // controller's nodes: they are emptied before those nodes go, under
        // one hold of the lock, so that a window asking for its trees in
        // between never sees freed nodes.
        Guard guard(m_lock);
        ClearData();
        ResetRecoveryController(type);
    }
    IRecoveryFilter* filter = ZRUIFilter::instance().GetFilter();
    if (!filter) {
        finish();
        return result;
    }

    if (!deep && IsDisk(device)) {
        std::list<IStorageDevice*> volumes;
        ZRUIDeviceData::instance().GetDiskVolumeStorage(device, volumes);
        {
            Guard guard(m_lock);
            m_iRemainingVolumes = static_cast<int>(volumes.size());
        }
        bool scannedOne = false;
        for (IStorageDevice* volume : volumes) {
            int remaining;
            {
                Guard guard(m_lock);
                if (m_iRemainingVolumes < 1)
                    break;
                remaining = --m_iRemainingVolumes;
            }
            if (ZRUIDeviceData::instance().IsVolumeStorageSupported(volume)) {
                filter->SetScanType(IsStorageMounted(volume) ? SCAN_TYPE_QUICK_MOUNTED : SCAN_TYPE_QUICK_UNMOUNTED);
                if (scannedOne)
                    NextVolumeController(type);
                scannedOne = true;
                result = DoVolumeStorageScan(volume);
                if (IsResultFailure(result) && GetStatus() == OPERATION_STATUS_STOP) {
                    SetStatus(OPERATION_STATUS_IDLE);
                    SetNeedUIUpdate(1);
                    break;
                }
            } else if (remaining == 0) {
                SetStatus(OPERATION_STATUS_IDLE);
                SetNeedUIUpdate(1);
            }
        }
    } else {
        if (deep)
            filter->SetScanType(SCAN_TYPE_DEEP);
        else
            filter->SetScanType(IsStorageMounted(device) ? SCAN_TYPE_QUICK_MOUNTED : SCAN_TYPE_QUICK_UNMOUNTED);
        result = DoVolumeStorageScan(device);
    }

    ZRUIRecovery::instance().ResetParam();
    finish();
    CatchExeception::WriteLog("%s:%d end!\r", "DoScan", __LINE__);
    return result;
}

_RECOVERY_CONTROLLER_TYPE ZRUIScan::GetScanControllerType(IStorageDevice* device)
{
    if (!device)
        return static_cast<_RECOVERY_CONTROLLER_TYPE>(3);
    if (IsDeepScan())
        return IsDisk(device) ? RECOVERY_CONTROLLER_DEEP_DISK : RECOVERY_CONTROLLER_DEEP;
    return RECOVERY_CONTROLLER_QUICK;
}

void ZRUIScan::SetDeepScan(int flag)
{
    Guard guard(m_lock);
    m_iDeepScan = flag;
}

int ZRUIScan::IsDeepScan()
{
    Guard guard(m_lock);
    if (m_iDeepScan == 0 && m_pSavedStorage && !IsDisk(m_pSavedStorage))
        m_iDeepScan = IsStorageVolumeUnknow(m_pSavedStorage) ? 1 : 0;
    return m_iDeepScan;
}

bool ZRUIScan::FoundNoKnownFileSystem()
{
    Guard guard(m_lock);
    return m_bNoKnownFileSystem;
}

bool ZRUIScan::IsStorageVolumeUnknow(IStorageDevice* device)
{
    if (!device || IsDisk(device))
        return false;
    CCollectedVolumeDeviceInfoStruct* info = GetStorageVolumeInfo(device);
    return info && info->eFileSystemType == FS_UNKNOWN;
}

void ZRUIScan::SaveScanSorage(IStorageDevice* device)
{
    Guard guard(m_lock);
    m_pSavedStorage = device;
}

IStorageDevice* ZRUIScan::GetSavedStorage()
{
    Guard guard(m_lock);
    return m_pSavedStorage;
}

IRecoveryController* ZRUIScan::GetRecoveryController()
{
    Guard guard(m_lock);
    return m_pRecoveryController;
}

bool ZRUIScan::IsStorageMounted(IStorageDevice* device)
{
    if (!device)
        return false;
    if (IsDisk(device))
        return true;
    CCollectedVolumeDeviceInfoStruct* info = GetStorageVolumeInfo(device);
    return info && info->iMounted != 0;
}

CCollectedVolumeDeviceInfoStruct* ZRUIScan::GetStorageVolumeInfo(IStorageDevice* device)
{
    auto* holder = device ? dynamic_cast<IVolumeDeviceData*>(device->GetPrivateData()) : nullptr;
    return holder ? holder->GetVolumeInfo() : nullptr;
}

TypeMap ZRUIScan::GetTypeMap()
{
    Guard guard(m_lock);
    return m_mapType;
}

TimeMap ZRUIScan::GetCreateTimeMap()
{
    Guard guard(m_lock);
    return m_mapCreateTime;
}

TimeMap ZRUIScan::GetModifyTimeMap()
{
    Guard guard(m_lock);
    return m_mapModifyTime;
}

TimeMap ZRUIScan::GetAccessTimeMap()
{
    Guard guard(m_lock);
    return m_mapAccessTime;
}

NodeList ZRUIScan::GetFileSystemNode()
{
    Guard guard(m_lock);
    return m_listFileSystemNodes;
}

bool ZRUIScan::FindRemoveData(IFileNode* node)
{
    if (!node)
        return false;
    if (!node->IsDirectory())
        return true;
    Guard guard(m_lock);
    return m_mapPendingFolders.erase(node) != 0;
}

void ZRUIScan::RefreshAllData()
{
    Guard guard(m_lock);
    if (m_iViewType != 0)
        return;
    for (IFileNode* folder : m_listAllFolders)
        m_mapPendingFolders[folder] = 0;
}

IDataRecovery* ZRUIScan::GetFileNodeDataRecover(IFileNode* node)
{
    if (!node)
        return nullptr;
    IFileNode* root = ZRCPPPublic::instance().GetFileSystemNode(node);
    Guard guard(m_lock);
    auto it = m_mapDataRecovery.find(root);
    return it == m_mapDataRecovery.end() ? nullptr : it->second;
}

void ZRUIScan::ReleaseDataRecovery()
{
    Guard guard(m_lock);
    for (auto& [node, recovery] : m_mapDataRecovery)
        if (recovery)
            recovery->Release();
    m_mapDataRecovery.clear();
}

void ZRUIScan::UnselectAllNodes()
{
    for (IFileNode* node : GetFileSystemNode())
        node->SetCheck(CHECKED_NONE);
}

std::string ZRUIScan::GetNodeExt(IFileNode* node)
{
    const char* name = node ? node->GetFileName() : nullptr;
    const char* dot = name ? std::strrchr(name, '.') : nullptr;
    if (!dot)
        return std::string();
    std::string ext(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

unsigned long long ZRUIScan::GetScanFileCnt()
{
    Guard guard(m_lock);
    return m_u64FoundCount;
}

unsigned long long ZRUIScan::GetScanFileSize()
{
    Guard guard(m_lock);
    return m_u64FoundSize;
}

unsigned long long ZRUIScan::GetSelectedFileCnt()
{
    Guard guard(m_lock);
    return m_u64SelectedCount;
}

void ZRUIScan::SetSelectedFileCnt(unsigned long long count)
{
    Guard guard(m_lock);
    m_u64SelectedCount = count;
}

unsigned long long ZRUIScan::GetSelectedFileSize()
{
    Guard guard(m_lock);
    return m_u64SelectedSize;
}

void ZRUIScan::SetSelectedFileSize(unsigned long long size)
{
    Guard guard(m_lock);
    m_u64SelectedSize = size;
}

int ZRUIScan::GetCurrentScanRecoveryCnt()
{
    Guard guard(m_lock);
    return m_iRecoveryRuns;
}

void ZRUIScan::SetCurrentScanRecoveryCnt(int count)
{
    Guard guard(m_lock);
    m_iRecoveryRuns = count;
}

int ZRUIScan::GetScanType()
{
    Guard guard(m_lock);
    return m_iViewType;
}

void ZRUIScan::SetScanType(int viewType)
{
    Guard guard(m_lock);
    m_iViewType = viewType;
}

void ZRUIScan::ClearData()
{
    Guard guard(m_lock);
    m_u64FoundCount = 0;
    m_u64FoundSize = 0;
    m_u64SelectedSize = 0;
    m_u64SelectedCount = 0;
    m_iRemainingVolumes = 0;
    m_iRecoveryRuns = 0;
    SetStartTime(Now());
    SetLastTime(Now());
    // Forgetting these objects without giving them back would leak them and
    // the buffers they hold; nobody else can reach them.
    ReleaseDataRecovery();
    m_listFileSystemNodes.clear();
    m_listAllFolders.clear();
    m_mapPendingFolders.clear();
    m_mapType.clear();
    m_mapCreateTime.clear();
    m_mapModifyTime.clear();
    m_mapAccessTime.clear();
}

void ZRUIScan::ResetRecoveryController(_RECOVERY_CONTROLLER_TYPE type)
{
    Guard guard(m_lock);
    ReleaseControllers();
    m_pRecoveryController = CreateRecoveryController(type);
    if (m_pRecoveryController && m_pRestoreSink && type >= RECOVERY_CONTROLLER_QUICK &&
        type <= RECOVERY_CONTROLLER_DEEP_DISK)
        m_pRecoveryController->SetRestoreSource(m_pRestoreSink);
}

ResultCode ZRUIScan::DoVolumeStorageScan(IStorageDevice* device)
{
    IRecoveryController* controller = GetRecoveryController();
    if (!device || !controller || !Continued())
        return ZRUIScanError::kVolumeNotStarted;
    SetStatus(OPERATION_STATUS_RUNNING);
    controller->Initialize(ZRUIFilter::instance().GetFilter());
    int remaining;
    {
        Guard guard(m_lock);
        remaining = m_iRemainingVolumes;
    }
    CCollectedVolumeDeviceInfoStruct* info = GetStorageVolumeInfo(device);
    std::printf("=======scan volumes(%d):(%s)======\n", remaining, info ? info->szVolumeName : "");
    return controller->StartDataRecovery(device, this, this);
}

void ZRUIScan::ShowNodes(IFileNode** nodes, unsigned int count, int)
{
    if (!nodes || count == 0)
        return;
    IRecoveryFilter* filter = ZRUIFilter::instance().GetFilter();
    unsigned long long files = 0;
    for (unsigned int i = 0; i < count; ++i) {
        IFileNode* node = nodes[i];
        if (!node)
            continue;
        Guard guard(m_lock);
        if (node->IsDirectory()) {
            m_listAllFolders.push_back(node);
            m_mapPendingFolders[node] = 0;
            continue;
        }
        ++files;
        int year = 0, month = 0;
        if (const unsigned long long created = node->GetCreationTime()) {
            ZRCPPPublic::instance().GetYearMonthByFileTime(&year, &month, ToFileTime(created));
            m_mapCreateTime[year][month].push_back(node);
        }
        if (const unsigned long long modified = node->GetModificationTime()) {
            ZRCPPPublic::instance().GetYearMonthByFileTime(&year, &month, ToFileTime(modified));
            m_mapModifyTime[year][month].push_back(node);
        }
        if (filter)
            m_mapType[filter->GetNodeFileType(node)].push_back(node);
        const long long size = node->GetFileSize();
        if (size > 0)
            m_u64FoundSize += static_cast<unsigned long long>(size);
    }
    Guard guard(m_lock);
    m_u64FoundCount += files;
    SetNeedUIUpdate(1);
}

void ZRUIScan::ShowFilesystemNode(IFilesystemNode* node)
{
    std::printf("=====ShowFileSystemNodes:%s\n", node && node->GetFileName() ? node->GetFileName() : "");
    if (!node || !node->IsDirectory())
        return;
    const _tagSearcherType type = ZRCPPPublic::instance().GetNodeSearcheType(node);
    Guard guard(m_lock);
    if (m_pRecoveryController && m_pRecoveryController->thisType() == RECOVERY_CONTROLLER_QUICK) {
        IDataRecovery*& slot = m_mapDataRecovery[node];
        // A root shown twice keeps one object, not a leaked second one.
        if (!slot)
            slot = m_pRecoveryController->GetDataRecovery(type);
    }
    m_listFileSystemNodes.push_back(node);
    SetNeedUIUpdate(1);
}

void ZRUIScan::UpdateProgress(_PROGRESS_INFO* info)
{
    if (!info)
        return;
    Guard guard(m_lock);
    SetProgressInfo(*info);
    if (info->dwState == PROGRESS_STATE_FINISHED) {
        if (m_iRemainingVolumes <= 0 || GetStatus() == OPERATION_STATUS_STOP) {
            m_iRemainingVolumes = 0;
            SetStatus(OPERATION_STATUS_IDLE);
        }
        std::printf("=====Scan Progress finished!=====\n");
    }
    SetLastTime(Now());
    SetNeedUIUpdate(1);
}

int ZRUIScan::IsOpTreeFinished()
{
    Guard guard(m_lock);
    return m_iTreeFinished;
}

void ZRUIScan::SetOpTreeFinished(int flag)
{
    Guard guard(m_lock);
    m_iTreeFinished = flag;
}
