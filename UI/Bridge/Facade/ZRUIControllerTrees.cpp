// The facade's result trees and node getters: the outline assembly does the
// work.
#include "FacadeInternal.h"
#include "ZRUIController.h"
#include "ZRUIOutline.h"

int ZRUIController::GetScanTreeNodeData(OpNodeArray* array, bool clear)
{
    return ZRUIOutline::GetScanTreeNodeData(array, clear ? 1 : 0);
}
void ZRUIController::AddNodeToArr(OpNodeArray* array) { ZRUIOutline::AddNodeToArr(array); }
void ZRUIController::AddPathNodeToArray(OpNodeArray* array) { ZRUIOutline::AddPathNodeToArray(array); }
void ZRUIController::AddTypeNodeToArr(OpNodeArray* array) { ZRUIOutline::AddTypeNodeToArr(array); }
void ZRUIController::AddDateNodeToArray(OpNodeArray* array) { ZRUIOutline::AddDateNodeToArray(array); }
bool ZRUIController::IsFileNode(IFileNode* node, OpNodeArray* array) { return ZRUIOutline::IsFileNode(node, array); }
int ZRUIController::GetFileNodeToArray(FileNodeArray* files, OpNodeData* item)
{
    return ZRUIOutline::GetFileNodeToArray(files, item);
}
int ZRUIController::GetPathInfoToArray(FileNodeArray* files, OpNodeData* item)
{
    return ZRUIOutline::GetPathInfoToArray(files, item);
}
int ZRUIController::GetTypeInfoToArray(FileNodeArray* files, OpNodeData* item)
{
    return ZRUIOutline::GetTypeInfoToArray(files, item);
}
int ZRUIController::GetDateInfoToArray(FileNodeArray* files, OpNodeData* item)
{
    return ZRUIOutline::GetDateInfoToArray(files, item);
}
void ZRUIController::GetSearchResultToArr(FileNodeArray* files) { ZRUIOutline::GetSearchResultToArr(files); }
long long ZRUIController::GetNodeChildrenCnt(OpNodeData* item) { return ZRUIOutline::GetNodeChildrenCnt(item); }
long long ZRUIController::GetTimeNodeChildrenCnt(OpNodeData* item) { return ZRUIOutline::GetTimeNodeChildrenCnt(item); }
void ZRUIController::RefreshTypeTreeState(OpNodeData* item) { ZRUIOutline::RefreshTypeTreeState(item); }
void ZRUIController::RefreshTimeTreeState(OpNodeArray* roots) { ZRUIOutline::RefreshTimeTreeState(roots); }
void ZRUIController::setNodeState(OpNodeData* item, const std::vector<IFileNode*>& witchVector)
{
    ZRUIOutline::setNodeState(item, witchVector);
}
QImage ZRUIController::getImageForType(const QString& extension)
{
    // The type tree knows the icon names of the extensions it lists; any
    // other extension gets the icon of its file type.
    const QString name = ZRUIOutline::getImageForType(extension);
    QString ext = extension.toLower();
    if (!ext.isEmpty() && !ext.startsWith('.'))
        ext.prepend('.');
    return name.isEmpty() ? FacadeInternal::ExtensionIcon(ext.toStdString()) : FacadeInternal::IconImage(name);
}
