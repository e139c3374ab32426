// A loaded scan result that a controller replays instead of searching.
#pragma once

#include <vector>

class IDirecotryTreeBuilder;
class IProgress;
class IStorageDevice;
class CSearchedPartitionInfo;

class IRestoreSource {
public:
    virtual ~IRestoreSource() = default;
    // 0 after a replay, 1 when nothing was replayed.
    virtual int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder, IProgress* progress, IStorageDevice* device) = 0;
    // Records stay owned by the source.
    virtual const std::vector<CSearchedPartitionInfo*>& GetSearchedPartition(int searcherType) = 0;
};
