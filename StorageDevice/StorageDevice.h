// The sector devices: a whole disk, a volume node, a window on a parent
// device, and a partition without a volume shown as a volume.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IStorageDevice.h"
#include "RawRead.h"
#include "StorageDeviceCodes.h"

class CMessageCenter;

// What every device of this folder keeps: its last code, sector geometry and
// owned information record.
class CSectorDeviceBase : public IStorageDevice {
public:
    unsigned int GetSectorSize() override { return m_uSectorSize; }
    long long GetTotalSectors() override { return m_s64TotalSectors; }
    // Not supported by any device here: sets the device's kind-3 code.
    int IOCtl(unsigned long long request, void* arg) override;
    IStorageDeviceData* GetPrivateData() override { return m_pPrivateData.get(); }
    ResultCode GetLastError() override { return m_llLastError; }

protected:
    explicit CSectorDeviceBase(ResultCode ioctlCode) : m_ioctlCode(ioctlCode) {}
    // Replaces the owned record; the sizes are taken by the caller.
    void ReplacePrivateData(IStorageDeviceData* data);
    // Takes a record's sector size when usable and its total when not negative.
    void TakeGeometry(long long sectorSize, long long totalSectors);

    ResultCode m_llLastError = 0;
    unsigned int m_uSectorSize = 512;
    long long m_s64TotalSectors = 0;
    std::unique_ptr<IStorageDeviceData> m_pPrivateData;

private:
    ResultCode m_ioctlCode;
};

// What the disk and the volume device share: a read-only descriptor on a
// device node or an image file.
class CRawNodeDevice : public CSectorDeviceBase {
public:
    ~CRawNodeDevice() override;
    int Open(char* path) override;
    int Close() override;
    int ReadSector(void* buffer, long long first, long long count) override;
    // The system reads into the buffer itself.
    int ReadSectorInto(LargeBuffer& buffer, long long first, long long count) override;
    int IsPermitted() override { return m_iPermitted; }
    // Open on a regular file (a disk image), not on a device node.
    bool IsRegularFile() const;

protected:
    struct Codes {
        ResultCode open, badArgument, readFailed, ioctl;
    };
    CRawNodeDevice(const char* path, const Codes& codes);
    // A volume also refuses a first sector at or past its end.
    virtual bool AcceptRead(long long first) { (void)first; return true; }
    // Called when the system read failed, before the code is set.
    virtual void OnReadFailed() {}
    // The read of either kind: read(offset, length) is the system's.
    template <class Read>
    int ReadWith(const void* buffer, long long first, long long count, const Read& read);

    int m_iFd = -1;
    std::string m_strPath;
    int m_iPermitted = 1;

private:
    Codes m_codes;

    friend IStorageDevice* CreateImageDiskDevice(const char* path, unsigned int sectorSize);
};

class CDiskDevice : public CRawNodeDevice {
public:
    explicit CDiskDevice(const char* path);
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return STORAGE_DEVICE_DISK; }

    CCollectDiskDeviceInfoStruct* GetDiskInfo();
    void SetVolumes(const std::vector<CCollectedVolumeDeviceInfoStruct>& volumes);
    const std::vector<CCollectedVolumeDeviceInfoStruct>& GetVolumes() const { return m_vecVolumes; }

private:
    std::vector<CCollectedVolumeDeviceInfoStruct> m_vecVolumes;
};

class CVolumeDevice : public CRawNodeDevice {
public:
    explicit CVolumeDevice(const char* path);
    ~CVolumeDevice() override;
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return STORAGE_DEVICE_VOLUME; }
    void SetApfsDevicePath(char* path) override;

    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo();
    const char* GetApfsDevicePath() const { return m_szApfsDevicePath; }

protected:
    bool AcceptRead(long long first) override;
    void OnReadFailed() override;

private:
    CMessageCenter* m_pMessageCenter;
    char m_szApfsDevicePath[1024] = {};
};

// What the window and the virtual volume share: a run of sectors of a parent
// device that they do not own.
class CParentWindowDevice : public CSectorDeviceBase {
public:
    int Open(char* path) override;
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long first, long long count) override;
    int IsPermitted() override { return 1; }

    virtual long long GetStartSector() { return m_s64StartSector; }
    IStorageDevice* GetParent() const { return m_pParent; }
    CCollectDiskDeviceInfoStruct* GetParentDiskInfo();

protected:
    struct Codes {
        ResultCode noParent, nullBuffer, badFirst, badCount, ioctl, parentDiskInfo;
    };
    CParentWindowDevice(IStorageDevice* parent, long long start, long long count, const Codes& codes);

    IStorageDevice* m_pParent;
    long long m_s64StartSector;

private:
    Codes m_codes;
};

class CPartitionDevice : public CParentWindowDevice {
public:
    CPartitionDevice(IStorageDevice* parent, long long start, long long count);
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return STORAGE_DEVICE_WINDOW; }

    CCollectedPartitionDeviceInfoStruct* GetPartitionInfo();
};

class CPartitionVirtualVolumeDevice : public CParentWindowDevice {
public:
    CPartitionVirtualVolumeDevice(IStorageDevice* parent, long long start, long long count,
                                  unsigned int sectorSize);
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return STORAGE_DEVICE_VOLUME; }

    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo();
};

// Factories. The disk and volume devices are made without opening them.
IStorageDevice* CreateDiskDevice(char const* path);
IStorageDevice* CreateVolumeDevice(char const* path);
IStorageDevice* CreatePartitionDevice(IStorageDevice* parent, long long start, long long count);
// A volume over the parent disk of partition's record, at the record's start
// sector; null unless the record exists, is filled (state 0) and names its
// parent disk.
IStorageDevice* CreatePartitionVirtualVolumeDevice(IStorageDevice* partition);

// Opens a disk image file or a block device node as a disk and attaches a
// filled disk record: state 0, bus "Virtual Interface", no partition scheme
// yet, registry and BSD name the file's base name, the given sector size
// (0: the device's own, 512 for a file), total = bytes / sector size, and the
// device id of a block device. Null, with the code printed, when the open
// fails or the sector size is not usable.
IStorageDevice* CreateImageDiskDevice(const char* path, unsigned int sectorSize);

// Whether every sector device reads comes from a regular file: a disk or
// volume device open on one, or windows over such a device. False for
// devices of other kinds.
bool ReadsRegularFileOnly(IStorageDevice* device);
