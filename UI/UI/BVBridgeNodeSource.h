#pragma once
// The picture items' view of the result, answered by the bridge. The
// results window installs one (BVNodeSource::setCurrent) before it shows
// the collection.

#include "BVView.h"

class BVBridgeNodeSource : public BVNodeSource
{
public:
    bool IsScanRunning() override;
    QPixmap GetNSImageByFildNodeNSNumber(quint64 fileNode) override;
    QString fileNodeName(quint64 fileNode) override;
    int fileNodeState(quint64 fileNode) override;
    void setFileNode(quint64 fileNode, int state) override;
    bool isFileNodeDeleted(quint64 fileNode) override;

    // One source for the process; installs it and answers it.
    static BVBridgeNodeSource* install();
};
