#include "ZRUIRecovery.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>

#include "DeviceInfo.h"
#include "IFileNode.h"
#include "IRecovery.h"
#include "ZRUIDeviceData.h"
#include "ZRUIScan.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

const _tagSearcherType kRecoveryTypes[] = {SEARCHER_HFSPLUS, SEARCHER_FAT,       SEARCHER_EXFAT, SEARCHER_RAW,
                                           SEARCHER_NTFS,    SEARCHER_LABEL_RAW, SEARCHER_APFS};

}  // namespace

ZRUIFilter& ZRUIFilter::instance()
{
    static ZRUIFilter* const s_instance = new ZRUIFilter();
    return *s_instance;
}

ZRUIFilter::ZRUIFilter() : m_pFilter(CreateFilter()) {}

ZRUIFilter::~ZRUIFilter()
{
    if (m_pFilter)
        m_pFilter->Release();
}

void ZRUIFilter::ResetFilter(unsigned int mask)
{
    if (!m_pFilter)
        m_pFilter = CreateFilter();
    if (m_pFilter)
        m_pFilter->SetFilterTypes(mask);
}

ZRUIRecovery& ZRUIRecovery::instance()
{
    // Never destroyed: its worker thread may outlive main.
    static ZRUIRecovery* const s_instance = new ZRUIRecovery();
    return *s_instance;
}

ZRUIRecovery::~ZRUIRecovery()
{
    ReleaseDataRecovery();
}

void ZRUIRecovery::InitDataRecoveryController()
{
    Guard guard(m_lock);
    if (!m_pController)
        m_pController = ZRUIScan::instance().GetRecoveryController();
    if (!m_pController)
        return;
    for (_tagSearcherType type : kRecoveryTypes) {
        IDataRecovery*& slot = m_mapDataRecovery[type];
        // An object already held stays: replacing it would leak it.
        if (!slot)
            slot = m_pController->GetDataRecovery(type == SEARCHER_LABEL_RAW ? SEARCHER_RAW : type);
    }
    if (ZRUIScan::instance().IsDeepScan())
        m_iDeepReady = 1;
}

void ZRUIRecovery::ResetParam()
{
    Guard guard(m_lock);
    m_pController = nullptr;
    m_pCurrentNode = nullptr;
    InitDataRecoveryController();
    if (GetStatus() != OPERATION_STATUS_RUNNING) {
        m_u64RecoveredSize = 0;
        m_u64TotalSize = 0;
    }
    m_u64TotalFiles = 0;
    SetNeedUIUpdate(0);
    _PROGRESS_INFO info{};
    SetProgressInfo(info);
}

void ZRUIRecovery::ReleaseDataRecovery()
{
    Guard guard(m_lock);
    for (auto& [type, recovery] : m_mapDataRecovery)
        if (recovery)
            recovery->Release();
    m_mapDataRecovery.clear();
    m_pController = nullptr;
    m_iDeepReady = 0;
}

IDataRecovery* ZRUIRecovery::ChooseDataRecovery(IFileNode* node)
{
    Guard guard(m_lock);
    if (!m_pController)
        ResetParam();
    if (ZRUIScan::instance().IsDeepScan() && !m_iDeepReady)
        ResetParam();
    if (!m_pController)
        return nullptr;
    if (m_pController->thisType() != RECOVERY_CONTROLLER_QUICK) {
        auto it = m_mapDataRecovery.find(ZRCPPPublic::instance().GetNodeSearcheType(node));
        return it == m_mapDataRecovery.end() ? nullptr : it->second;
    }
    return ZRUIScan::instance().GetFileNodeDataRecover(node);
}

ResultCode ZRUIRecovery::DoRecovery()
{
    ResultCode result = 0;
    ResetRecoveredCounts();
    ZRUIScan& scan = ZRUIScan::instance();
    scan.SetCurrentScanRecoveryCnt(scan.GetCurrentScanRecoveryCnt() + 1);
    const TypeMap types = scan.GetTypeMap();
    for (const auto& [type, nodes] : types) {
        if (!Continued())
            break;
        for (IFileNode* node : nodes) {
            if (!Continued())
                break;
            if (!node || !node->IsNodeShow() || node->GetCheckedStatus() != CHECKED_ALL)
                continue;
            IDataRecovery* recovery = ChooseDataRecovery(node);
            if (!recovery)
                continue;
            IFileReader* reader = recovery->SetRecoverNode(node);
            std::string destination;
            {
                Guard guard(m_lock);
                m_pCurrentNode = node;
                ++m_u64CurrentIndex;
                destination = m_strDestination;
            }
            char* path = CreateRecoveryFilePathByNode(node, destination.c_str(), this);
            result = recovery->RecoverTo(path, this, 0);
            std::free(path);
            if (reader)
                reader->Release();
        }
    }
    {
        Guard guard(m_lock);
        m_pCurrentNode = nullptr;
        SetNeedUIUpdate(1);
        SetStatus(OPERATION_STATUS_IDLE);
    }
    std::printf("========Recovery finished!==========\n");
    return result;
}

void ZRUIRecovery::UpdateProgress(_PROGRESS_INFO* info)
{
    if (!info)
        return;
    Guard guard(m_lock);
    if (info->dwState == 1) {
        SetNeedUIUpdate(1);
        return;
    }
    if (info->u64Done > m_u64LastDone)
        m_u64RecoveredSize += info->u64Done - m_u64LastDone;
    m_u64LastDone = info->u64Done;
    _PROGRESS_INFO job{};
    job.dwState = info->dwState;
    job.u64Total = m_u64TotalSize;
    job.u64Done = m_u64RecoveredSize;
    job.u64Result = info->u64Result;
    SetProgressInfo(job);
    if (m_pCurrentNode && info->u64Done == info->u64Total)
        std::printf("===Recvoeried file(%lld):%s=====\n", static_cast<long long>(m_u64CurrentIndex),
                    m_pCurrentNode->GetFileName() ? m_pCurrentNode->GetFileName() : "");
    if (ResultKind(info->u64Result) == kWriteIncompleteKind && GetStatus() == OPERATION_STATUS_RUNNING)
        SetStatus(OPERATION_STATUS_PAUSED);
    SetNeedUIUpdate(1);
}

void ZRUIRecovery::SetRecoveryPath(const char* path)
{
    Guard guard(m_lock);
    m_strDestination = path ? path : "";
}

void ZRUIRecovery::SetRecoveryTotalSize(unsigned long long size)
{
    Guard guard(m_lock);
    m_u64TotalSize = size;
}

void ZRUIRecovery::SetRecoveryTotalFilesCnt(unsigned long long count)
{
    Guard guard(m_lock);
    m_u64TotalFiles = count;
}

unsigned long long ZRUIRecovery::GetRecoveryTotalSize()
{
    Guard guard(m_lock);
    return m_u64TotalSize;
}

unsigned long long ZRUIRecovery::GetRecoveryTotalFilesCnt()
{
    Guard guard(m_lock);
    return m_u64TotalFiles;
}

unsigned long long ZRUIRecovery::GetRecoveriedFileSize()
{
    Guard guard(m_lock);
    return m_u64RecoveredSize;
}

unsigned long long ZRUIRecovery::GetRecoveriedFilesCnt()
{
    Guard guard(m_lock);
    return m_u64CurrentIndex;
}

IFileNode* ZRUIRecovery::GetCurrentRecoveryNode()
{
    Guard guard(m_lock);
    return m_pCurrentNode;
}

int ZRUIRecovery::GetCreateDirIndex(_tagSearcherType type)
{
    Guard guard(m_lock);
    auto it = m_mapCreateDirIndex.find(type);
    return it == m_mapCreateDirIndex.end() ? 0 : it->second;
}

void ZRUIRecovery::SetCreateDirIndex(_tagSearcherType type, int index)
{
    Guard guard(m_lock);
    m_mapCreateDirIndex[type] = index;
}

void ZRUIRecovery::ResetRecoveredCounts()
{
    Guard guard(m_lock);
    m_u64RecoveredSize = 0;
    m_u64CurrentIndex = 0;
    m_u64LastDone = 0;
}

void ZRUIRecovery::ClearCreateDirIndex()
{
    Guard guard(m_lock);
    m_mapCreateDirIndex.clear();
}

IDataRecovery* ZRUIRecovery::GetDataRecoveryByType(_tagSearcherType type)
{
    Guard guard(m_lock);
    auto it = m_mapDataRecovery.find(type);
    return it == m_mapDataRecovery.end() ? nullptr : it->second;
}

bool ZRUIRecovery::CheckWhetherNeedReset()
{
    Guard guard(m_lock);
    return m_mapDataRecovery.empty();
}

bool ZRUIRecovery::RecoveryPathIsSameDevice(const char* path)
{
    if (!path)
        return false;
    struct stat st {};
    if (stat(path, &st) != 0)
        return false;
    const unsigned long long id = static_cast<unsigned long long>(st.st_dev);
    IStorageDevice* saved = ZRUIScan::instance().GetSavedStorage();
    if (!saved)
        return false;
    ZRUIDeviceData& devices = ZRUIDeviceData::instance();
    if (devices.IsDiskStorage(saved)) {
        std::list<IStorageDevice*> volumes;
        devices.GetDiskVolumeStorage(saved, volumes);
        for (IStorageDevice* volume : volumes) {
            CCollectedVolumeDeviceInfoStruct* info = ZRUIScan::instance().GetStorageVolumeInfo(volume);
            if (info && info->u64DeviceId == id)
                return true;
        }
        return false;
    }
    CCollectedVolumeDeviceInfoStruct* info = ZRUIScan::instance().GetStorageVolumeInfo(saved);
    return info && info->u64DeviceId == id;
}
