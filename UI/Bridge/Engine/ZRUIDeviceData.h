// The process-wide list of disks and their volumes as the windows see them,
// and the answers the scan and the recovery need about a device: is it a
// whole disk, which volumes lie on it, which of them may be scanned.
#pragma once

#include <list>
#include <map>
#include <set>

#include "DeviceInfo.h"

class IEnumDeviceEx;
class IStorageDevice;

// The description of one disk or volume for the disk page. The names point
// into the enumerator's records and stay valid until the list is cleared.
struct _DiskVolumeData {
    const char* name = nullptr;
    const char* deviceName = nullptr;
    unsigned long long capacity = 0;
    unsigned long long used = 0;
    int diskIndex = -1;
    int volumeIndex = -1;
    int fileSystem = -1;
    int isDmg = 0;
    int isUsb = 0;
    int beCanOpen = 1;
    std::list<_DiskVolumeData> volumes;
};

class ZRUIDeviceData {
public:
    // Over the machine's enumerator (CreateEnumDeviceEx).
    static ZRUIDeviceData& instance();
    // Over another enumerator, which the caller keeps alive.
    explicit ZRUIDeviceData(IEnumDeviceEx* enumerator);
    virtual ~ZRUIDeviceData();
    ZRUIDeviceData(const ZRUIDeviceData&) = delete;
    ZRUIDeviceData& operator=(const ZRUIDeviceData&) = delete;

    void InitDeviceInfo();
    int GetInitState() const { return m_iInitState; }
    void Clear();
    // Clears the list and lists through another enumerator from now on
    // (not owned); the state goes back to 0.
    void ReplaceEnumerator(IEnumDeviceEx* enumerator);

    void GetAllDeviceInfo(std::list<_DiskVolumeData>& list);
    void GetDiskVolumeInfo(IStorageDevice* disk, std::list<_DiskVolumeData>& list);
    int GetDiskDataByStorage(IStorageDevice* disk, _DiskVolumeData& data);
    int GetVolumeDataByStorage(IStorageDevice* volume, _DiskVolumeData& data);
    int GetDiskDataByDiskInfo(CCollectDiskDeviceInfoStruct* info, _DiskVolumeData& data);
    int GetVolumeDataByVolumeInfo(CCollectedVolumeDeviceInfoStruct* info, _DiskVolumeData& data);

    IStorageDevice* GetStorageByDiskVolumeIndex(int disk, int volume);
    IStorageDevice* GetDiskStorageByIndex(int index);
    IStorageDevice* GetVolumeStorageByIndex(IStorageDevice* disk, int index);
    bool GetDiskVolumeIndexByStorage(IStorageDevice* device, int& disk, int& volume);
    int GetDiskIndexByStorage(IStorageDevice* disk);
    IStorageDevice* GetDiskStorageByVolumeStorage(IStorageDevice* volume);
    int GetVolumeIndexByStorage(IStorageDevice* disk, IStorageDevice* volume);
    bool IsDiskStorage(IStorageDevice* device);
    void GetDiskVolumeStorage(IStorageDevice* disk, std::list<IStorageDevice*>& list);
    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo(IStorageDevice* device);
    bool IsSupportVolume(CCollectedVolumeDeviceInfoStruct* info);
    bool IsVolumeStorageSupported(IStorageDevice* volume);

private:
    void BuildDiskMap(bool force);
    void BuildVolumeMap(bool force);
    void ReleaseOwned();

    IEnumDeviceEx* m_pEnumDevice;
    std::map<unsigned int, IStorageDevice*> m_mapDisks;
    std::map<IStorageDevice*, std::list<IStorageDevice*>> m_mapVolumes;
    int m_iInitState = 0;
    // Volumes the enumerator made for our call (partitions offered as
    // volumes): ours to delete before the enumerator lets go of the disk.
    std::set<IStorageDevice*> m_setOwned;
};
