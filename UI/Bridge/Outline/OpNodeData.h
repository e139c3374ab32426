// An item of a result tree as the windows show it. An item either wraps an
// engine file node (owned by the engine's tree builder, never by the item)
// or stands for a group that exists only in the view (a file-type group, an
// extension folder, a year, a month): a "fade node". Items carry the
// tri-state check box: 0 unchecked, 1 mixed, 2 checked.
//
// Items are shared objects (OpNodeDataPtr): the arrays that hold them keep
// them alive, the link to the parent is weak. Engine file nodes cross to the
// windows as 64-bit values holding the IFileNode address (FileNodeValue);
// the type and time groups list their files that way. Every item must be
// dropped before the engine's result is released (a new scan).
//
// Main thread only.
#pragma once

#include <QString>
#include <QtGlobal>

#include <ctime>
#include <memory>
#include <vector>

#include "BridgeUtil.h"

class IFileNode;
class OpNodeData;

using OpNodeDataPtr = std::shared_ptr<OpNodeData>;
// The IFileNode address of a file as the windows keep it; 0 for none.
using FileNodeValue = quint64;

inline FileNodeValue FileNodeToValue(IFileNode* node) { return static_cast<FileNodeValue>(reinterpret_cast<quintptr>(node)); }
inline IFileNode* ValueToFileNode(FileNodeValue value) { return reinterpret_cast<IFileNode*>(static_cast<quintptr>(value)); }

// One element of an item's children: an item, or a file given by its value.
class OpNodeChild {
public:
    OpNodeChild(OpNodeDataPtr item) : m_item(std::move(item)) {}  // NOLINT: an item converts implicitly
    explicit OpNodeChild(FileNodeValue fileNode) : m_u64FileNode(fileNode) {}

    bool isItem() const { return m_item != nullptr; }
    // The item, or null for a file.
    OpNodeData* item() const { return m_item.get(); }
    const OpNodeDataPtr& itemPtr() const { return m_item; }
    // The file's value, 0 for an item.
    FileNodeValue fileNodeValue() const { return m_u64FileNode; }
    IFileNode* fileNode() const { return ValueToFileNode(m_u64FileNode); }

private:
    OpNodeDataPtr m_item;
    FileNodeValue m_u64FileNode = 0;
};

using OpNodeChildren = std::vector<OpNodeChild>;
// The root item arrays the windows keep.
using OpNodeArray = std::vector<OpNodeDataPtr>;
// The file lists the windows show.
using FileNodeArray = std::vector<FileNodeValue>;

// Item kinds by type().
enum : int {
    OPNODE_TYPE_FILE = 0,
    OPNODE_TYPE_FILE_TYPE = 1,
    OPNODE_TYPE_CREATE_TIME = 2,
    OPNODE_TYPE_MODIFY_TIME = 3,
    OPNODE_TYPE_ACCESS_TIME = 4,
};

// What nodeType() answers: the picture the views draw for an item.
enum : int {
    OPNODE_KIND_FILESYSTEM = 0,
    OPNODE_KIND_FILE = 1,
    OPNODE_KIND_PICTURE = 2,
    OPNODE_KIND_MUSIC = 3,
    OPNODE_KIND_MOVIE = 4,
    OPNODE_KIND_ARCHIVE = 5,
    OPNODE_KIND_DOCUMENT = 6,
    OPNODE_KIND_OTHER = 7,
    OPNODE_KIND_TIME_ROOT = 8,
    OPNODE_KIND_TIME_GROUP = 9,
    OPNODE_KIND_GROUP = 10,
};

class OpNodeData : public std::enable_shared_from_this<OpNodeData> {
public:
    // Made from a tree-node record: its file-system flag and node are kept.
    static OpNodeDataPtr initWithNodeData(const __TreeNodeData__& data);
    // Made from a file's value; not a file-system root.
    static OpNodeDataPtr initWithFileNode(FileNodeValue fileNode);

    // Use the two makers above: an item needs shared ownership for its
    // children to find it as their parent.
    explicit OpNodeData(const __TreeNodeData__& data);
    explicit OpNodeData(FileNodeValue fileNode);
    ~OpNodeData();
    OpNodeData(const OpNodeData&) = delete;
    OpNodeData& operator=(const OpNodeData&) = delete;

    // ---- plain accessors
    IFileNode* fileNode() const { return m_ptFileNode; }
    int isFileSystem() const { return m_iIsFileSystem; }
    // The item above, null at the top or when it is gone (weak link).
    OpNodeData* parent() const;
    OpNodeDataPtr parentPtr() const { return m_parent.lock(); }
    void setParent(OpNodeData* parent);
    OpNodeChildren& children() { return m_children; }
    const OpNodeChildren& children() const { return m_children; }
    int type() const { return m_iType; }
    void setType(int type) { m_iType = type; }
    const QString& fadeName() const { return m_fadeName; }
    void setFadeName(const QString& name) { m_fadeName = name; }
    int isExpandAble() const { return m_iIsExpandAble; }
    void setExpandAble(int expandable) { m_iIsExpandAble = expandable; }
    // Times kept by the item itself (set to now at creation).
    time_t createtime() const { return m_tCreateTime; }
    void setCreateTime(time_t t) { m_tCreateTime = t; }
    time_t modifytime() const { return m_tModifyTime; }
    void setModifyTime(time_t t) { m_tModifyTime = t; }

    // Takes children as the item's children and makes the item the parent
    // of every item among them.
    void setSubNode(OpNodeChildren children);
    // Appends one child (an item gets no parent from this; see setParent).
    void addChildObject(OpNodeChild child);

    // ---- what the views show
    // A group of the view: a type but no file node.
    bool isFadeNode() const;
    // Groups and folders.
    bool isDirect() const;
    // Bytes; 0 for folders and items without a file node.
    long long size() const;
    // The file node's name (UTF-8), a group's own name, or "".
    QString name() const;
    // "/VOLUME/FOLDER/NAME"; "" for groups.
    QString path() const;
    bool isDeleted() const;
    // The file node's times as the locale's long date and short time; ""
    // for groups and items without a file node, and for a creation time 0.
    QString createTime() const;
    QString modifyTime() const;
    QString lastAccessTime() const;
    // Raw file times (100-ns units since 1601); 0 without a file node.
    unsigned long long createTimeValue() const;
    unsigned long long modifyTimeValue() const;
    // Groups are always shown; files follow the engine's shown flag.
    bool IsShow() const;
    void SetShow(int show);
    // A group's expandable flag, or whether the file node has a folder child.
    bool isHasFolderChildren() const;
    // OPNODE_KIND_*.
    int nodeType() const;

    // ---- the check box
    // The file node's state when there is one, else the item's own.
    int state() const;
    // A click: 0 or 2. Sets the item (its file node when it has one), then
    // recomputes the groups above and sets the groups and files below.
    void setNodeState(int state);
    void setParentNodeState(int state);
    void SetChildrenNodeState(int state);

    // Takes a whole tree of items apart (children first).
    void free();

    // ---- files given by value (the list, grid and cover-flow views)
    static bool isFileNodeDirect(FileNodeValue fileNode);
    static bool isFileNodeDeleted(FileNodeValue fileNode);
    static int fileNodeState(FileNodeValue fileNode);
    // Sets the engine node's check state for 0 and 2; anything else, and a
    // value of 0, changes nothing.
    static void setFileNode(FileNodeValue fileNode, int withState);
    static QString fileNodeName(FileNodeValue fileNode);

private:
    int m_iIsFileSystem = 0;
    IFileNode* m_ptFileNode = nullptr;
    int m_iState = 0;
    int m_iIsExpandAble = 0;
    time_t m_tCreateTime = 0;
    time_t m_tModifyTime = 0;
    std::weak_ptr<OpNodeData> m_parent;
    OpNodeChildren m_children;
    QString m_fadeName;
    int m_iType = OPNODE_TYPE_FILE;
};
