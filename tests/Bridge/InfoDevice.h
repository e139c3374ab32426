// Devices that carry only their information record, for the rules the bridge
// reads off disk and volume records (partition scheme, file system).
#pragma once

#include "DeviceInfo.h"
#include "IStorageDevice.h"

class InfoDevice : public IStorageDevice {
public:
    InfoDevice(IStorageDeviceData* data, int type) : m_pData(data), m_iType(type) {}
    ~InfoDevice() override { delete m_pData; }
    InfoDevice(const InfoDevice&) = delete;
    InfoDevice& operator=(const InfoDevice&) = delete;
    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void*, long long, long long) override { return 0; }
    unsigned int GetSectorSize() override { return 512; }
    long long GetTotalSectors() override { return 0; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_pData; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return m_iType; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

private:
    IStorageDeviceData* m_pData;
    int m_iType;
};

// A disk with the given partition scheme.
inline IStorageDeviceData* DiskRecord(int scheme)
{
    auto* info = new CCollectDiskDeviceInfoStruct;
    info->iPartitionScheme = scheme;
    return CreateDiskDeviceData(info);
}

// A volume with the given file system.
inline IStorageDeviceData* VolumeRecord(enumFILE_SYSTEM_TYPE type)
{
    auto* info = new CCollectedVolumeDeviceInfoStruct;
    info->eFileSystemType = type;
    return CreateVolumeDeviceData(info);
}
