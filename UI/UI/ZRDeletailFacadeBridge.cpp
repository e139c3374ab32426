// The results window's engine access through the facade.
#include "ZRDeletailBridge.h"
#include "ZRUIController.h"

namespace {

class FacadeBridge final : public ZRDeletailBridge {
public:
    void DoScanWithData(DiskVolumeNodeData* data, const QString& postKey, const void*) override
    {
        ZRUIController::DoScanWithData(data, postKey);
    }
    void DoDeepScan(const void*, const QString& postKey) override { ZRUIController::DoDeepScan(nullptr, postKey); }
    void RestorPostUIUpdate(const QString& postKey, bool save) override
    {
        ZRUIController::RestorPostUIUpdate(postKey, save);
    }
    bool IsScanRunning() override { return ZRUIController::IsScanRunning(); }
    bool IsPause() override { return ZRUIController::IsPause(); }
    bool IsDeepScan() override { return ZRUIController::IsDeepScan(); }
    void PauseOrResumeScan() override { ZRUIController::PauseOrResumeScan(); }
    void StopScan(int flag) override { ZRUIController::StopScan(flag); }
    void ResetShouldBuild() override { ZRUIController::ResetShouldBuild(); }
    QString GetScanProgress(double& percent, uint64_t& fileCount) override
    {
        quint64 count = 0;
        QString text = ZRUIController::GetScanProgress(&percent, &count);
        fileCount = count;
        return text;
    }
    void GetScanFileSize(uint64_t& size, uint64_t& count) override
    {
        quint64 s = 0, c = 0;
        ZRUIController::GetScanFileSize(&s, &c);
        size = s;
        count = c;
    }
    bool FoundNoKnownFileSystem() override { return ZRUIController::FoundNoKnownFileSystem(); }
    void RefreshDeviceInfo() override { ZRUIController::RefreshDeviceInfo(); }
    void SetViewType(int viewType) override { ZRUIController::SetViewType(viewType); }
    void RefreshData() override { ZRUIController::RefreshData(); }
    void GetScanTreeNodeData(ZRNodeArray& roots, bool clearNodeState) override
    {
        ZRUIController::GetScanTreeNodeData(&roots, clearNodeState);
    }
    void GetFileNodeToArray(FileNodeArray& files, OpNodeData* node) override
    {
        ZRUIController::GetFileNodeToArray(&files, node);
    }
    long long GetNodeChildrenCnt(OpNodeData* node) override { return ZRUIController::GetNodeChildrenCnt(node); }
    QImage getImageForType(const QString& extension) override { return ZRUIController::getImageForType(extension); }
    bool DoSearchWithString(const QString& key, const void* postObject, const QString& postKey) override
    {
        return ZRUIController::DoSearchWithString(key, postObject, postKey);
    }
    QString GetSearchString() override { return ZRUIController::GetSearchString(); }
    void StopSearch() override { ZRUIController::StopSearch(); }
    void GetSearchResultToArr(FileNodeArray& files) override { ZRUIController::GetSearchResultToArr(&files); }
    void UnselectedAllNodes() override { ZRUIController::UnselectedAllNodes(); }
    void RefreshTypeTreeState(OpNodeData* node) override { ZRUIController::RefreshTypeTreeState(node); }
    void RefreshTimeTreeState(const ZRNodeArray& roots) override
    {
        ZRNodeArray copy = roots;
        ZRUIController::RefreshTimeTreeState(&copy);
    }
    void GetSelectedFilesAmout(uint32_t& count, uint64_t& size) override
    {
        unsigned int c = 0;
        quint64 s = 0;
        ZRUIController::GetSelectedFilesAmout(&c, &s);
        count = c;
        size = s;
    }
    bool IsRecoveryToSameDevice(const QString& folder) override
    {
        return ZRUIController::IsRecoveryToSameDevice(folder);
    }
    uint64_t DoRecovery(const ZRNodeArray* roots, const QString& folder, const QString& postKey,
                        const void* object) override
    {
        return ZRUIController::DoRecovery(roots, folder, postKey, object);
    }
    bool IsRecoveryRunning() override { return ZRUIController::IsRecoveryRunning(); }
    QString GetRecoveryProgressTotal(uint64_t& total, uint64_t& current, int64_t& errorCode) override
    {
        quint64 t = 0, c = 0;
        qint64 e = 0;
        QString name = ZRUIController::GetRecoveryProgressTotal(&t, &c, &e);
        total = t;
        current = c;
        errorCode = e;
        return name;
    }
    void PauseOrResumeRecovery() override { ZRUIController::PauseOrResumeRecovery(); }
    void StopRecvoery() override { ZRUIController::StopRecvoery(); }
    uint64_t GetRecoveridedFiles() override { return ZRUIController::GetRecoveridedFiles(); }
    void SpyIDIncreateTable1(int event) override { ZRUIController::SpyIDIncreateTable1(event); }
    void SpyIDStringTable1(int event, const QString& text) override { ZRUIController::SpyIDStringTable1(event, text); }
    void SpyIDStringTable2(int event, const QString& text) override { ZRUIController::SpyIDStringTable2(event, text); }
    void SpyIDIncreateTable2(int id, int value) override { ZRUIController::SpyIDIncreateTable2(id, value); }
    void beginSaveOrRestoreNode(bool save, const QString& path) override
    {
        ZRUIController::beginSaveOrRestoreNode(save, path);
    }
    QString GetDefaultSavePath() override { return ZRUIController::GetDefaultSavePath(); }
    QString GetSaveFileName() override { return ZRUIController::GetSaveFileName(); }
    void SavePathToPList(const QString& path) override { ZRUIController::SavePathToPList(path); }
    void SpyIDSaveToServerTable() override { ZRUIController::SpyIDSaveToServerTable(); }
};

}  // namespace

std::unique_ptr<ZRDeletailBridge> ZRDeletailFacadeBridge()
{
    return std::make_unique<FacadeBridge>();
}
