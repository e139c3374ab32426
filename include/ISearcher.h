// Searcher interfaces the scan controllers drive, and volume recognisers.
#pragma once

#include <map>

#include "EngineTypes.h"
#include "ResultCode.h"

class IDirecotryTreeBuilder;
class IStorageDevice;
class IProgress;
class CSearchedPartitionInfo;
class TBitmap;

class IFileSystemSearchController {
public:
    virtual int SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder) = 0;
    // Fills at most capacity new copies (owned by the caller) and returns
    // how many there are in all.
    virtual int GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity) = 0;

protected:
    ~IFileSystemSearchController() = default;
};

class IQuickFileSystemSearchController : public IFileSystemSearchController {
public:
    virtual ~IQuickFileSystemSearchController() = default;
    virtual ResultCode QuickSearchFiles(IStorageDevice* volume, IProgress* progress) = 0;
};

class ICompleteFileSystemSearchController : public IFileSystemSearchController {
public:
    virtual ~ICompleteFileSystemSearchController() = default;
    virtual int SetDevice(IStorageDevice* device) = 0;
    virtual int SetBlockSize(int sectorsPerBlock) = 0;
    virtual int PreparetoSearch() = 0;
    virtual void EndSearch(int /*build*/) {}
    virtual int AnalyzeBlock(long long firstSector, long long sectorCount) = 0;
    virtual void SetIProgressSink(IProgress*) {}
    virtual void SetBitmap(TBitmap*) {}
    virtual void SetFileSectorMap(std::map<long long, unsigned int>*) {}
    virtual TBitmap* GetBitmap() { return nullptr; }
    virtual void SetActivePartition(bool) {}
};

class IVolumeAnalyze {
public:
    virtual ~IVolumeAnalyze() = default;
    virtual enumFILE_SYSTEM_TYPE GetFileSystemType() = 0;
    virtual long long GetTotalSector() = 0;
    virtual int GetLabel(char* buffer, int size) = 0;
};

class IVolumeAnalyzeController {
public:
    virtual ~IVolumeAnalyzeController() = default;
    virtual IVolumeAnalyze* GetVolumeAnzlyzer() = 0;
};

// Asks every registered recogniser about the volume at startSector of the
// device; the caller deletes the controller, which owns the recognisers.
IVolumeAnalyzeController* CreateVolumeAnalyzeController(IStorageDevice* device, unsigned long long startSector);

using QuickSearcherFactory = IQuickFileSystemSearchController* (*)();
using CompleteSearcherFactory = ICompleteFileSystemSearchController* (*)();
using VolumeAnalyzeFactory = IVolumeAnalyze* (*)(IStorageDevice*, unsigned long long);
