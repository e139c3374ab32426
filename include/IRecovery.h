// Scan controller, result filter, file copier and node-data reader.
#pragma once

#include <string>

#include "EngineTypes.h"
#include "ResultCode.h"

class IFileNode;
class IProgress;
class IDrirectoryTree;
class IStorageDevice;
class IFileSystemSearchController;
class IRestoreSource;

class IRecoveryFilter {
public:
    virtual ~IRecoveryFilter() = default;
    virtual int ShowNormalFiles() const = 0;
    virtual void SetScanType(_SCAN_TYPE type) = 0;
    virtual int IsFileNodeValid(IFileNode* node) = 0;
    virtual void SetFilterTypes(unsigned int mask) = 0;
    virtual int GetNodeFileType(IFileNode* node) = 0;
    virtual void Release() = 0;
};

class IFileReader {
public:
    virtual ~IFileReader() = default;
    virtual int ReadData(long long offset, char* buffer, unsigned int size, int* bytesRead) = 0;
    virtual IFileReader* Clone() = 0;
    virtual long long GetDataSize() const = 0;
    virtual int IsCompressFile() = 0;
    virtual void Release() = 0;
};

class IDataRecovery {
public:
    virtual ~IDataRecovery() = default;
    virtual ResultCode Initialize(IFileSystemSearchController* searcher, IStorageDevice* device) = 0;
    virtual IFileReader* SetRecoverNode(IFileNode* node) = 0;
    virtual ResultCode RecoverTo(const char* path, IProgress* progress, int flag) = 0;
    virtual int ReadSmallJPG(char* buffer, unsigned int size) = 0;
    virtual void Release() = 0;
};

class IRecoveryController {
public:
    virtual ~IRecoveryController() = default;
    virtual _RECOVERY_CONTROLLER_TYPE thisType() = 0;
    virtual ResultCode Initialize(IRecoveryFilter* filter) = 0;
    virtual ResultCode StartDataRecovery(IStorageDevice* device, IProgress* progress, IDrirectoryTree* sink) = 0;
    virtual IDataRecovery* GetDataRecovery(_tagSearcherType type) const = 0;
    virtual void Release() = 0;
    // A loaded scan result to replay instead of searching; null for a
    // fresh scan. Not owned; set before StartDataRecovery.
    virtual void SetRestoreSource(IRestoreSource* source) = 0;
};

IRecoveryController* CreateRecoveryController(_RECOVERY_CONTROLLER_TYPE type);
// Display name of a scanned device: the volume name of a volume device whose
// record is in state 0, else empty (the tree builder then says "Disk").
std::string GetDeviceDescription(IStorageDevice* device);
IRecoveryFilter* CreateFilter();
IDataRecovery* CreateDataRecoveryObj();
