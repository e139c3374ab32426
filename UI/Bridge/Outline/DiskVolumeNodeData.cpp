#include "DiskVolumeNodeData.h"

#include "OutlineText.h"
#include "ZRUIDeviceData.h"

DiskVolumeNodeDataPtr DiskVolumeNodeData::initWithNodeData(const _DiskVolumeData& data)
{
    return std::make_shared<DiskVolumeNodeData>(data);
}

DiskVolumeNodeData::DiskVolumeNodeData(const _DiskVolumeData& data)
    : m_u64Capacity(data.capacity),
      m_u64Used(data.used),
      m_iDiskIndex(data.diskIndex),
      m_iVolumeIndex(data.volumeIndex),
      m_iFileSystem(data.fileSystem),
      m_iIsDmg(data.isDmg),
      m_iIsUsb(data.isUsb),
      m_iBeCanOpen(data.beCanOpen)
{
    if (data.name && *data.name)
        m_name = QString::fromUtf8(data.name);
    else
        m_name = OutlineLocalizedString("DEVICE_NAME_UNTITILED");
    if (data.deviceName)
        m_deviceName = QString::fromUtf8(data.deviceName);
}

DiskVolumeNodeData::~DiskVolumeNodeData() { free(); }

DiskVolumeNodeData* DiskVolumeNodeData::childAtIndex(int index) const
{
    if (index < 0 || index >= numberOfChildren())
        return nullptr;
    return m_children[static_cast<size_t>(index)].get();
}

void DiskVolumeNodeData::setSubNode(DiskVolumeNodeArray children)
{
    m_children = std::move(children);
}

void DiskVolumeNodeData::free()
{
    // A disk holds volumes only: one level is all there is.
    DiskVolumeNodeArray old;
    old.swap(m_children);
    for (DiskVolumeNodeDataPtr& child : old)
        if (child)
            child->free();
}
