// Information records owned by sector devices, and their holders.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineTypes.h"

class IStorageDevice;

enum : int {
    BUS_TYPE_UNKNOWN = 0,
    BUS_TYPE_ATA = 1,
    BUS_TYPE_SATA = 2,
    BUS_TYPE_SCSI = 3,
    BUS_TYPE_USB = 4,
    BUS_TYPE_VIRTUAL = 5,
};

enum : int {
    PARTITION_SCHEME_NONE = 0,
    PARTITION_SCHEME_MBR = 1,
    PARTITION_SCHEME_GPT = 2,
    PARTITION_SCHEME_APM = 3,
};

struct CCollectDiskDeviceInfoStruct {
    int32_t iState = 0;
    int32_t iReserved = 0;
    int32_t iBusType = BUS_TYPE_UNKNOWN;
    int32_t iPartitionScheme = PARTITION_SCHEME_NONE;
    int32_t iWritable = 0;
    char szRegistryName[128] = {};
    char szBsdName[128] = {};
    int64_t s64SectorSize = 512;
    int64_t s64TotalSectors = 0;
    int64_t s64Cylinders = 0;
    int64_t s64Heads = 255;
    int64_t s64SectorsPerTrack = 63;
    uint64_t u64DeviceId = 0;  // makedev(major, minor)
};

struct CCollectedVolumeDeviceInfoStruct {
    int32_t iState = 0;
    int32_t iReserved = 0;
    int32_t iReserved2 = 0;
    enumFILE_SYSTEM_TYPE eFileSystemType = FS_UNKNOWN;
    char szLabel[100] = {};
    char szVolumeName[1024] = {};
    char szBsdName[128] = {};
    int64_t s64SectorSize = 512;
    int64_t s64TotalSectors = 0;
    uint64_t u64DeviceId = 0;
    IStorageDevice* pParentDisk = nullptr;
    int32_t iPartitionNumber = -1;
    _GUID typeGuid{};
    _GUID uniqueGuid{};
    char szApmType[32] = {};
    int64_t s64StartSector = 0;
    int32_t iMounted = 0;
};

struct CCollectedPartitionDeviceInfoStruct {
    int32_t iState = 0;
    int32_t iReserved = 0;
    int32_t iReserved2 = 0;
    enumFILE_SYSTEM_TYPE eFileSystemType = FS_UNKNOWN;
    char szLabel[100] = {};
    int64_t s64SectorSize = 512;
    int64_t s64TotalSectors = 0;
    uint64_t u64DeviceId = 0;
    IStorageDevice* pParentDisk = nullptr;
    int32_t iPartitionIndex = 0;
    _GUID typeGuid{};
    _GUID uniqueGuid{};
    char szApmType[32] = {};
    int64_t s64StartSector = 0;
};

// Common base of the holders a device owns; reach the typed holder with
// dynamic_cast.
class IStorageDeviceData {
public:
    virtual ~IStorageDeviceData() = default;
};

class IDiskDeviceData : public IStorageDeviceData {
public:
    virtual CCollectDiskDeviceInfoStruct* GetDiskInfo() = 0;
    virtual void SetDiskInfo(CCollectDiskDeviceInfoStruct* info) = 0;
};

class IVolumeDeviceData : public IStorageDeviceData {
public:
    virtual CCollectedVolumeDeviceInfoStruct* GetVolumeInfo() = 0;
    virtual void SetVolumeInfo(CCollectedVolumeDeviceInfoStruct* info) = 0;
};

class IPartitionDeviceData : public IStorageDeviceData {
public:
    virtual CCollectedPartitionDeviceInfoStruct* GetPartitionInfo() = 0;
    virtual void SetPartitionInfo(CCollectedPartitionDeviceInfoStruct* info) = 0;
};

// A holder deletes its record when destroyed; Set only stores the pointer.
IDiskDeviceData* CreateDiskDeviceData(CCollectDiskDeviceInfoStruct* info);
IVolumeDeviceData* CreateVolumeDeviceData(CCollectedVolumeDeviceInfoStruct* info);
IPartitionDeviceData* CreatePartitionDeviceData(CCollectedPartitionDeviceInfoStruct* info);
