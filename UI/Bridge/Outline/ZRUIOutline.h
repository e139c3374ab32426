// Assembly of the results window's outline: the root items of the current
// view (folders, file types, creation or modification time), the files of a
// selected item, the counts beside groups and the check boxes of groups.
// The facade forwards to these; all of them run on the main thread.
//
// Item arrays and file arrays are given by pointer: a null array is left
// alone, as the window may not have made one yet.
#pragma once

#include <QString>

#include <list>
#include <vector>

#include "OpNodeData.h"

class IFileNode;

class ZRUIOutline {
public:
    // Fills roots with the root items of the scan's view type. With
    // clearNodeState every found file-system root is shown and unchecked
    // first. Returns 0.
    static int GetScanTreeNodeData(OpNodeArray* roots, int clearNodeState);
    static void AddNodeToArr(OpNodeArray* roots);
    // Grows the folder outline by the folders the engine delivered since
    // the last call; each folder appears once.
    static void AddPathNodeToArray(OpNodeArray* items);
    static void AddTypeNodeToArr(OpNodeArray* roots);
    static void AddDateNodeToArray(OpNodeArray* roots);
    // Whether an item of items wraps exactly node.
    static bool IsFileNode(IFileNode* node, const OpNodeArray* items);
    static bool IsFileNode(IFileNode* node, const OpNodeChildren* items);

    // The files shown for item, by its type.
    static int GetFileNodeToArray(FileNodeArray* files, OpNodeData* item);
    // A folder's shown files; 1 when the folder's files were listed.
    static int GetPathInfoToArray(FileNodeArray* files, OpNodeData* item);
    // The files of an extension folder or of the "other" group; a kind group
    // lists nothing and returns 1.
    static int GetTypeInfoToArray(FileNodeArray* files, OpNodeData* item);
    // The files of a month item; years and roots list nothing.
    static int GetDateInfoToArray(FileNodeArray* files, OpNodeData* item);
    // With a search key stored: every shown file of the scan, type group by
    // type group. Appends; without a key adds nothing.
    static void GetSearchResultToArr(FileNodeArray* files);

    // The count beside a group: the files below it.
    static long long GetNodeChildrenCnt(OpNodeData* item);
    static long long GetTimeNodeChildrenCnt(OpNodeData* item);
    // One type-tree folder's check box from its files, or with null the
    // whole type tree's.
    static void RefreshTypeTreeState(OpNodeData* item);
    // The check boxes of every year and month below the given time roots.
    static void RefreshTimeTreeState(const OpNodeArray* roots);
    // A month item's check box from the shown files of list: all checked 2,
    // none 0, else 1; the groups above follow.
    static void setNodeState(OpNodeData* item, const std::vector<IFileNode*>& witchVector);
    // ZRTypeMgr::getImageForType.
    static QString getImageForType(const QString& extension);

    // Hands the type tree's extension lists of bits 1 to 16 to the engine's
    // extension table; before the first scan.
    static void initFileType();
};
