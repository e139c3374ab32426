// The process-wide scan operation and the engine's found-node sink: it runs
// one quick, deep or whole-disk scan on its worker thread and files every
// node the tree builder shows by folder, type group and time, for the
// windows, the recovery and the saving of the result.
#pragma once

#include <list>
#include <map>
#include <vector>

#include "BridgeLocks.h"
#include "EngineTypes.h"
#include "ITreeBuilder.h"
#include "ResultCode.h"
#include "ZRUIOperation.h"

class IDataRecovery;
class IFileNode;
class IRecoveryController;
class IRestoreSource;
class IStorageDevice;
struct CCollectedVolumeDeviceInfoStruct;

using NodeList = std::list<IFileNode*>;
// The found files of one type group or one month, in the order found. A
// result holds a million of them: copies of the maps (which the getters
// hand out) are one block per group, not one allocation per file.
using GroupFiles = std::vector<IFileNode*>;
using TimeMap = std::map<int, std::map<int, GroupFiles>>;
using TypeMap = std::map<int, GroupFiles>;

namespace ZRUIScanError {
// No device, the operation busy, or no recovery filter.
constexpr ResultCode kNotStarted = 0x0104003100000001ULL;
// No controller, or a stop before the volume started.
constexpr ResultCode kVolumeNotStarted = 0x0104012400000001ULL;
}  // namespace ZRUIScanError

class ZRUIScan : public ZRUIOperation, public IDrirectoryTree {
public:
    static ZRUIScan& instance();
    ~ZRUIScan() override;

    ResultCode DoScan(IStorageDevice* device, IRestoreSource* sink);
    _RECOVERY_CONTROLLER_TYPE GetScanControllerType(IStorageDevice* device);
    void SetDeepScan(int flag);
    int IsDeepScan();
    bool IsStorageVolumeUnknow(IStorageDevice* device);
    // The last scan's device has no known file system: a volume of unknown
    // type, or a disk (quick scan) all of whose volumes are of unknown type.
    bool FoundNoKnownFileSystem();
    void SaveScanSorage(IStorageDevice* device);
    IStorageDevice* GetSavedStorage();
    IRecoveryController* GetRecoveryController();
    bool IsStorageMounted(IStorageDevice* device);
    CCollectedVolumeDeviceInfoStruct* GetStorageVolumeInfo(IStorageDevice* device);

    TypeMap GetTypeMap();
    TimeMap GetCreateTimeMap();
    TimeMap GetModifyTimeMap();
    TimeMap GetAccessTimeMap();
    NodeList GetFileSystemNode();

    bool FindRemoveData(IFileNode* node);
    void RefreshAllData();
    IDataRecovery* GetFileNodeDataRecover(IFileNode* node);
    void ReleaseDataRecovery();
    void UnselectAllNodes();
    static std::string GetNodeExt(IFileNode* node);

    unsigned long long GetScanFileCnt();
    unsigned long long GetScanFileSize();
    unsigned long long GetSelectedFileCnt();
    void SetSelectedFileCnt(unsigned long long count);
    unsigned long long GetSelectedFileSize();
    void SetSelectedFileSize(unsigned long long size);
    int GetCurrentScanRecoveryCnt();
    void SetCurrentScanRecoveryCnt(int count);
    int GetScanType();
    void SetScanType(int viewType);

    void ClearData();
    void ResetRecoveryController(_RECOVERY_CONTROLLER_TYPE type);
    ResultCode DoVolumeStorageScan(IStorageDevice* device);

    // Engine callbacks, on the worker thread.
    void UpdateProgress(_PROGRESS_INFO* info) override;
    int IsOpTreeFinished() override;
    void SetOpTreeFinished(int flag) override;
    void ShowNodes(IFileNode** nodes, unsigned int count, int searcherType) override;
    void ShowFilesystemNode(IFilesystemNode* node) override;

private:
    ZRUIScan() = default;
    bool IsDisk(IStorageDevice* device);
    void ReleaseControllers();
    void NextVolumeController(_RECOVERY_CONTROLLER_TYPE type);

    IRestoreSource* m_pRestoreSink = nullptr;
    IStorageDevice* m_pSavedStorage = nullptr;
    IRecoveryController* m_pRecoveryController = nullptr;
    // A quick-scan controller searches one volume only: a whole-disk quick
    // scan gives each further volume a fresh one and keeps the earlier ones
    // here, since their trees hold the nodes already shown.
    std::list<IRecoveryController*> m_listEarlierControllers;
    int m_iDeepScan = 0;
    bool m_bNoKnownFileSystem = false;
    int m_iTreeFinished = 1;
    NodeList m_listFileSystemNodes;
    TimeMap m_mapCreateTime;
    TimeMap m_mapModifyTime;
    TimeMap m_mapAccessTime;
    TypeMap m_mapType;
    NodeList m_listAllFolders;
    std::map<IFileNode*, int> m_mapPendingFolders;
    int m_iViewType = 0;
    unsigned long long m_u64SelectedSize = 0;
    unsigned long long m_u64SelectedCount = 0;
    int m_iRemainingVolumes = 0;
    unsigned long long m_u64FoundCount = 0;
    unsigned long long m_u64FoundSize = 0;
    int m_iRecoveryRuns = 0;
    std::map<IFileNode*, IDataRecovery*> m_mapDataRecovery;
    mutex_locker m_scanLock;
};
