// A read-only device of fixed-size sectors: disks, partition windows,
// volumes and the read-ahead cache all read through this interface.
#pragma once

#include "LargeBuffer.h"
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
    // As ReadSector, into a buffer the device may keep: a device whose
    // system read did not finish in time, and may still land in the buffer,
    // takes it (buffer is then null) and fails the read.
    virtual int ReadSectorInto(LargeBuffer& buffer, long long first, long long count)
    {
        return ReadSector(buffer.get(), first, count);
    }
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
