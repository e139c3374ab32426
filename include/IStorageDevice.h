// A read-only device of fixed-size sectors: disks, partition windows,
// volumes and the read-ahead cache all read through this interface.
#pragma once

#include "ResultCode.h"

class IStorageDeviceData;

enum : int {
    STORAGE_DEVICE_DISK = 0,
    STORAGE_DEVICE_WINDOW = 1,
    STORAGE_DEVICE_VOLUME = 2,
    STORAGE_DEVICE_CACHE = 3,
};

class IStorageDevice {
public:
    virtual ~IStorageDevice() = default;
    virtual int Open(char* path) = 0;
    virtual int Close() = 0;
    virtual int ReadSector(void* buffer, long long first, long long count) = 0;
    virtual unsigned int GetSectorSize() = 0;
    virtual long long GetTotalSectors() = 0;
    virtual int IOCtl(unsigned long long request, void* arg) = 0;
    virtual IStorageDeviceData* GetPrivateData() = 0;
    virtual void SetPrivateData(IStorageDeviceData* data) = 0;
    virtual int GetType() = 0;
    virtual ResultCode GetLastError() = 0;
    virtual int IsPermitted() = 0;
    virtual void SetApfsDevicePath(char*) {}
};
