#include "BVBridgeNodeSource.h"

#include "OpNodeData.h"
#include "ZRUIController.h"

bool BVBridgeNodeSource::IsScanRunning() { return ZRUIController::IsScanRunning(); }

QPixmap BVBridgeNodeSource::GetNSImageByFildNodeNSNumber(quint64 fileNode)
{
    const QImage image = ZRUIController::GetNSImageByFildNodeNSNumber(fileNode);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QString BVBridgeNodeSource::fileNodeName(quint64 fileNode) { return OpNodeData::fileNodeName(fileNode); }

int BVBridgeNodeSource::fileNodeState(quint64 fileNode) { return OpNodeData::fileNodeState(fileNode); }

void BVBridgeNodeSource::setFileNode(quint64 fileNode, int state) { OpNodeData::setFileNode(fileNode, state); }

bool BVBridgeNodeSource::isFileNodeDeleted(quint64 fileNode) { return OpNodeData::isFileNodeDeleted(fileNode); }

BVBridgeNodeSource* BVBridgeNodeSource::install()
{
    static BVBridgeNodeSource source;
    BVNodeSource::setCurrent(&source);
    return &source;
}
