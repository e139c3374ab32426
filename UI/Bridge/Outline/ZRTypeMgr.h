// The result tree by file type: one group per kind (pictures, music, movies,
// archives, documents, other), below it one folder per extension, and in
// the folders the files as FileNodeValue entries. The tree grows
// incrementally from the scan's type map: each refresh places only the
// files that arrived since the previous one.
//
// Main thread only.
#pragma once

#include <QString>

#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "OpNodeData.h"

class IFileNode;

class ZRTypeMgr {
public:
    // Type bit of a group -> its extensions.
    using TypeDictionary = std::map<int, std::vector<std::string>>;

    // Created on first use from the shipped lists (FileTypeLists.h) and
    // never freed.
    static ZRTypeMgr& share();
    // The shipped lists as a dictionary: bits 1 to 16 from
    // GetDefaultFileTypeLists, bit 32 empty.
    static TypeDictionary DefaultDictionary();

    // Rebuilds the manager from another dictionary: extension table, six
    // empty groups, start positions 0. A later bit wins for an extension
    // listed under two bits.
    void init(const TypeDictionary& dic);

    // The six groups in the order 1, 2, 4, 8, 16, 32.
    OpNodeArray getRootNode() const;
    // Places the shown files that arrived since the last refresh.
    void refreshTypeTree();
    // Recomputes the check box of every group from its files.
    void refreshTypeTreeState();
    // The check box of one extension folder (or of the "other" group) from
    // its files: all checked 2, some 1, none 0.
    void setNodeState(OpNodeData* folder);
    // For a new scan: every group emptied and unchecked, every file
    // forgotten.
    void clear();
    // Unchecks every group (and so every file listed below it) and empties
    // the groups.
    void clearData();
    // For a search: the tree is rebuilt from the shown files only.
    void setSearch(int search);

    // The freedesktop icon name of an extension that the lists know
    // ("image-jpeg"); "" when the lists do not know it.
    QString getImageForType(const QString& extension) const;
    // The extensions of a type bit joined with ";" ("" for an unknown bit).
    std::string getTypeString(int typeBit) const;
    // Whether item is the group of bit 32.
    bool isOtherNode(const OpNodeData* item) const;
    // A new folder for extension below the group of its bit.
    OpNodeDataPtr insertSubNodeToTree(const std::string& extension);
    OpNodeDataPtr createRootNode(int typeBit);

private:
    ZRTypeMgr();
    void initRootNode();
    void initTypeMap();
    OpNodeData* Group(int typeBit) const;

    TypeDictionary dic;
    std::map<std::string, int> typeDict;
    std::map<std::string, OpNodeDataPtr> subNodeDict;
    std::unordered_set<IFileNode*> insertFileNodeMap;
    std::map<int, size_t> typeIndexMap;
    std::map<int, OpNodeDataPtr> rootNode;
};

// The extension lists of bits 1 to 16 from the type tree's dictionary, for
// the engine's extension table (CFileTypeManager::Initialze).
std::map<int, std::string> GetFileTypeListsFromTypeMgr();
