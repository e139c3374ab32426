// What the results window asks of the engine, one operation per facade call
// it makes. The window holds this interface instead of calling the facade
// directly so that its sequences (pause, stop, back home, the check boxes)
// can be driven by a scripted engine in tests; ZRDeletailFacadeBridge()
// gives the one that forwards to the real facade.
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>

#include "OpNodeData.h"

class DiskVolumeNodeData;

using ZRNodeArray = OpNodeArray;

class ZRDeletailBridge {
public:
    virtual ~ZRDeletailBridge() = default;

    // Scan.
    virtual void DoScanWithData(DiskVolumeNodeData* data, const QString& postKey, const void* target) = 0;
    virtual void DoDeepScan(const void* target, const QString& postKey) = 0;
    virtual void RestorPostUIUpdate(const QString& postKey, bool save) = 0;
    virtual bool IsScanRunning() = 0;
    virtual bool IsPause() = 0;
    virtual bool IsDeepScan() = 0;
    virtual void PauseOrResumeScan() = 0;
    virtual void StopScan(int flag) = 0;
    virtual void ResetShouldBuild() = 0;
    // Remaining-time text; percent 0-100 and files found so far.
    virtual QString GetScanProgress(double& percent, uint64_t& fileCount) = 0;
    virtual void GetScanFileSize(uint64_t& size, uint64_t& count) = 0;
    // The scanned device has no file system the engine knows.
    virtual bool FoundNoKnownFileSystem() { return false; }
    virtual void RefreshDeviceInfo() = 0;

    // Result trees.
    virtual void SetViewType(int viewType) = 0;
    virtual void RefreshData() = 0;
    virtual void GetScanTreeNodeData(ZRNodeArray& roots, bool clearNodeState) = 0;
    virtual void GetFileNodeToArray(FileNodeArray& files, OpNodeData* node) = 0;
    virtual long long GetNodeChildrenCnt(OpNodeData* node) = 0;
    virtual QImage getImageForType(const QString& extension) = 0;

    // Search and selection.
    virtual bool DoSearchWithString(const QString& key, const void* postObject, const QString& postKey) = 0;
    virtual QString GetSearchString() = 0;
    virtual void StopSearch() = 0;
    virtual void GetSearchResultToArr(FileNodeArray& files) = 0;
    virtual void UnselectedAllNodes() = 0;
    virtual void RefreshTypeTreeState(OpNodeData* node) = 0;
    virtual void RefreshTimeTreeState(const ZRNodeArray& roots) = 0;
    virtual void GetSelectedFilesAmout(uint32_t& count, uint64_t& size) = 0;

    // Recovery.
    virtual bool IsRecoveryToSameDevice(const QString& folder) = 0;
    // Copies every checked file below folder; 0 when started.
    virtual uint64_t DoRecovery(const ZRNodeArray* roots, const QString& folder, const QString& postKey,
                                const void* object) = 0;
    virtual bool IsRecoveryRunning() = 0;
    // Name of the file being copied; bytes to copy, copied, last error.
    virtual QString GetRecoveryProgressTotal(uint64_t& total, uint64_t& current, int64_t& errorCode) = 0;
    virtual void PauseOrResumeRecovery() = 0;
    virtual void StopRecvoery() = 0;
    virtual uint64_t GetRecoveridedFiles() = 0;

    // Saving the scan result to a file (the progress is read by the
    // scan-result progress window).
    virtual void beginSaveOrRestoreNode(bool /*save*/, const QString& /*path*/) {}
    virtual QString GetDefaultSavePath() { return {}; }
    virtual QString GetSaveFileName() { return {}; }
    virtual void SavePathToPList(const QString& /*path*/) {}

    // User-experience hooks: they take their arguments and do nothing.
    virtual void SpyIDIncreateTable1(int /*event*/) {}
    virtual void SpyIDStringTable1(int /*event*/, const QString& /*text*/) {}
    virtual void SpyIDStringTable2(int /*event*/, const QString& /*text*/) {}
    virtual void SpyIDIncreateTable2(int /*id*/, int /*value*/) {}
    virtual void SpyIDSaveToServerTable() {}
};

// The bridge that forwards to the facade (ZRUIController and friends).
std::unique_ptr<ZRDeletailBridge> ZRDeletailFacadeBridge();
