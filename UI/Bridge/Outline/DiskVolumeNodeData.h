// An item of the device list as the disk page shows it: a disk with its
// volumes as children, or one volume. Made on the main thread from the
// device list's records; the engine never sees it.
#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

struct _DiskVolumeData;
class DiskVolumeNodeData;

using DiskVolumeNodeDataPtr = std::shared_ptr<DiskVolumeNodeData>;
using DiskVolumeNodeArray = std::vector<DiskVolumeNodeDataPtr>;

class DiskVolumeNodeData {
public:
    // Copies the record's fields (not its volumes: the caller makes the
    // children). An empty or missing name shows the localised
    // "DEVICE_NAME_UNTITILED".
    static DiskVolumeNodeDataPtr initWithNodeData(const _DiskVolumeData& data);
    explicit DiskVolumeNodeData(const _DiskVolumeData& data);
    ~DiskVolumeNodeData();
    DiskVolumeNodeData(const DiskVolumeNodeData&) = delete;
    DiskVolumeNodeData& operator=(const DiskVolumeNodeData&) = delete;

    const QString& name() const { return m_name; }
    quint64 capacity() const { return m_u64Capacity; }
    quint64 used() const { return m_u64Used; }
    int diskIndex() const { return m_iDiskIndex; }
    int volumeIndex() const { return m_iVolumeIndex; }
    // enumFILE_SYSTEM_TYPE.
    int fileSystem() const { return m_iFileSystem; }
    int isDmg() const { return m_iIsDmg; }
    int isUsb() const { return m_iIsUsb; }
    // 0: the device cannot be opened for a scan.
    int beCanOpen() const { return m_iBeCanOpen; }
    int state() const { return m_iState; }
    void setState(int state) { m_iState = state; }

    DiskVolumeNodeArray& children() { return m_children; }
    const DiskVolumeNodeArray& children() const { return m_children; }
    // Null when index is out of range.
    DiskVolumeNodeData* childAtIndex(int index) const;
    int numberOfChildren() const { return static_cast<int>(m_children.size()); }
    void setSubNode(DiskVolumeNodeArray children);

    // A disk's device name below /dev ("sdb", "loop1"); empty for a volume.
    const QString& deviceName() const { return m_deviceName; }

    // The name of the disk that holds this volume, set by the disk page.
    const QString& parentName() const { return m_parentName; }
    void setParentName(const QString& name) { m_parentName = name; }
    // That disk's device name: two disks may share a name ("disk.img",
    // two sticks of one model), never a device name.
    const QString& parentDeviceName() const { return m_parentDeviceName; }
    void setParentDeviceName(const QString& name) { m_parentDeviceName = name; }

    // Takes the item and its children apart.
    void free();

private:
    QString m_name;
    quint64 m_u64Capacity = 0;
    quint64 m_u64Used = 0;
    int m_iDiskIndex = -1;
    int m_iVolumeIndex = -1;
    int m_iFileSystem = -1;
    int m_iIsDmg = 0;
    int m_iIsUsb = 0;
    int m_iBeCanOpen = 0;
    DiskVolumeNodeArray m_children;
    QString m_parentName;
    QString m_deviceName;
    QString m_parentDeviceName;
    int m_iState = 0;
};
