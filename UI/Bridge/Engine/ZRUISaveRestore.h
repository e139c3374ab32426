// Saving the current scan result to an "rsf" file and loading one back, on
// detached worker threads with a synthetic progress (5 at the start, one
// step at most every 100 ms up to 98, 100 at the end) and a finish report
// that carries a ScanResultError code (0 on success).
//
// How the windows drive these (the facade):
//   save:  DoSaveScanResult(path, &ZRSaveAndRestoreNodeOperate::instance())
//          after setting that operation running; its progress record holds
//          total, done and the error code, and it turns idle on the finish.
//   load:  ZRUIScan::instance().ClearData(), clear the type and time trees,
//          ZRUIScan::instance().SetStatus(OPERATION_STATUS_RUNNING), then
//          DoRestoreScanResult(path, &ZRUIScan::instance()). The load finds
//          the attached device the file names and runs the ordinary scan on
//          it with a RestoreScanSink, so the result arrives exactly as after
//          a real scan; the scan operation's progress record ends with the
//          error code.
//   Both are polled with ZRUIOperationThreads::QueryUpdateUI.
#pragma once

#include <string>

#include "RestoreScanSink.h"
#include "ScanResultFile.h"
#include "ZRUIOperation.h"

// -1 for a null argument, -2 when the thread could not be started, else 0.
// The path is copied.
int DoSaveScanResult(const char* path, IProgress* sink);
int DoRestoreScanResult(const char* path, IProgress* sink);

// The progress sink of a save.
class ZRSaveAndRestoreNodeOperate : public ZRUIOperation {
public:
    static ZRSaveAndRestoreNodeOperate& instance();
    // Keeps a copy of the record; a finished record makes the operation idle.
    void UpdateProgress(_PROGRESS_INFO* info) override;
    // A save cannot be stopped.
    int Continued() override { return 1; }

private:
    ZRSaveAndRestoreNodeOperate() = default;
};

// The threads of saving and loading; the file format is ScanResultFile.h.
namespace SaveRestoreResult {
    struct OperationPara {
        std::string strPath;
        IProgress* pSink = nullptr;  // not owned
    };
    IStorageDevice* GetFromDiskVolumeData(const SavedDeviceRecord& saved);
    void Static_SaveScanResult(OperationPara* para);
    void Static_RestoreScanResult(OperationPara* para);
}  // namespace SaveRestoreResult
