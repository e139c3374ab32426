#include "DeviceInfo.h"

namespace {

class CDiskDeviceData final : public IDiskDeviceData {
public:
    explicit CDiskDeviceData(CCollectDiskDeviceInfoStruct* info) : m_pInfo(info) {}
    ~CDiskDeviceData() override { delete m_pInfo; }
    CCollectDiskDeviceInfoStruct* GetDiskInfo() override { return m_pInfo; }
    void SetDiskInfo(CCollectDiskDeviceInfoStruct* info) override { m_pInfo = info; }

private:
    CCollectDiskDeviceInfoStruct* m_pInfo;
};

class CVolumeDeviceData final : public IVolumeDeviceData {
public:
    explicit CVolumeDeviceData(CCollectedVolumeDeviceInfoStruct* info) : m_pInfo(info) {}
    ~CVolumeDeviceData() override { delete m_pInfo; }
    CCollectedVolumeDeviceInfoStruct* GetVolumeInfo() override { return m_pInfo; }
    void SetVolumeInfo(CCollectedVolumeDeviceInfoStruct* info) override { m_pInfo = info; }

private:
    CCollectedVolumeDeviceInfoStruct* m_pInfo;
};

class CPartitionDeviceData final : public IPartitionDeviceData {
public:
    explicit CPartitionDeviceData(CCollectedPartitionDeviceInfoStruct* info) : m_pInfo(info) {}
    ~CPartitionDeviceData() override { delete m_pInfo; }
    CCollectedPartitionDeviceInfoStruct* GetPartitionInfo() override { return m_pInfo; }
    void SetPartitionInfo(CCollectedPartitionDeviceInfoStruct* info) override { m_pInfo = info; }

private:
    CCollectedPartitionDeviceInfoStruct* m_pInfo;
};

}  // namespace

IDiskDeviceData* CreateDiskDeviceData(CCollectDiskDeviceInfoStruct* info) { return new CDiskDeviceData(info); }
IVolumeDeviceData* CreateVolumeDeviceData(CCollectedVolumeDeviceInfoStruct* info) { return new CVolumeDeviceData(info); }
IPartitionDeviceData* CreatePartitionDeviceData(CCollectedPartitionDeviceInfoStruct* info)
{
    return new CPartitionDeviceData(info);
}
