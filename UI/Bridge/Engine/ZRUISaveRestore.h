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

#include <map>
#include <vector>

#include "IRestoreSource.h"
#include "ZRUIOperation.h"
#include "ZRUIScanResultFile.h"

class IDirecotryTreeBuilder;

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

// Replays the node-tree frame of a loaded file into a controller's tree
// builder instead of a search, and keeps the saved partitions of each
// searcher type for the data-recovery objects. Used on one thread only.
class RestoreScanSink : public IRestoreSource {
public:
    // The stream is not owned and must outlive the sink's use.
    explicit RestoreScanSink(IRSData* stream);
    ~RestoreScanSink() override;
    RestoreScanSink(const RestoreScanSink&) = delete;
    RestoreScanSink& operator=(const RestoreScanSink&) = delete;

    // Replays the trees meant for device: on a whole disk every tree, on a
    // volume those saved under the volume's name. 0 after a replay, 1 when
    // nothing could be replayed (no node-tree frame, no builder or device).
    int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress, IStorageDevice* device) override;
    // An empty list is made when there is none.
    const std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int searcherType) override;
    int ClearMapCell();

    // Set once a replay met a damaged or cut node-tree frame; what was read
    // before the damage stays replayed.
    bool IsDamaged() const { return m_bDamaged; }
    // Trees handed to a builder so far.
    int GetReplayedTreeCount() const { return m_iReplayedTrees; }
    // Forgets the stream (before it goes away); later replays do nothing,
    // the loaded partitions stay.
    void DetachStream() { m_pStream = nullptr; }

private:
    IRSData* m_pStream;
    std::map<int, std::vector<CSearchedPartitionInfo*>> m_mapPartitions;
    bool m_bDamaged = false;
    int m_iReplayedTrees = 0;
};
