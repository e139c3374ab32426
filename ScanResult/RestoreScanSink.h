// The replay of a loaded scan result: a recovery controller given this sink
// hands it its tree builder instead of searching, and takes the saved
// partitions of each searcher type from it for its data-recovery objects.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "IRestoreSource.h"
#include "ScanResultFile.h"

class IDirecotryTreeBuilder;

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

    // A device is a whole disk when its type says so, or when this test
    // does (the windows' device list knows disks that the type does not).
    void SetWholeDiskTest(std::function<bool(IStorageDevice*)> test) { m_isWholeDisk = std::move(test); }

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
    std::function<bool(IStorageDevice*)> m_isWholeDisk;
    bool m_bDamaged = false;
    int m_iReplayedTrees = 0;
};
