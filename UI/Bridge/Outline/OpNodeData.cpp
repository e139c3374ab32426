#include "OpNodeData.h"

#include "ChildWalk.h"
#include "IFileNode.h"

namespace {

bool IsClickState(int state) { return state == CHECKED_NONE || state == CHECKED_ALL; }

// The engine refuses anything but 0 and 2 (and asserts on 1).
void SetEngineCheck(IFileNode* node, int state)
{
    if (node && IsClickState(state))
        node->SetCheck(static_cast<_tagCheckedStatus>(state));
}

QString NodeName(IFileNode* node)
{
    const char* name = node ? node->GetFileName() : nullptr;
    return name ? QString::fromUtf8(name) : QString();
}

int ChildState(const OpNodeChild& child)
{
    if (child.isItem())
        return child.item()->state();
    return OpNodeData::fileNodeState(child.fileNodeValue());
}

// Moves the items among children onto pending and empties children.
void TakeItems(OpNodeChildren& children, std::vector<OpNodeDataPtr>& pending)
{
    for (const OpNodeChild& child : children)
        if (child.isItem())
            pending.push_back(child.itemPtr());
    children.clear();
}

}  // namespace

OpNodeDataPtr OpNodeData::initWithNodeData(const __TreeNodeData__& data) { return std::make_shared<OpNodeData>(data); }

OpNodeDataPtr OpNodeData::initWithFileNode(FileNodeValue fileNode) { return std::make_shared<OpNodeData>(fileNode); }

OpNodeData::OpNodeData(const __TreeNodeData__& data)
    : m_iIsFileSystem(static_cast<int>(data.llFileSystem)),
      m_ptFileNode(data.pFileNode),
      m_tCreateTime(std::time(nullptr)),
      m_tModifyTime(m_tCreateTime)
{
}

OpNodeData::OpNodeData(FileNodeValue fileNode)
    : m_ptFileNode(ValueToFileNode(fileNode)), m_tCreateTime(std::time(nullptr)), m_tModifyTime(m_tCreateTime)
{
}

OpNodeData::~OpNodeData()
{
    // A folder outline is as deep as the folders of a damaged disk: the
    // items below are let go one by one instead of by nested destructors.
    std::vector<OpNodeDataPtr> pending;
    TakeItems(m_children, pending);
    while (!pending.empty()) {
        OpNodeDataPtr item = std::move(pending.back());
        pending.pop_back();
        if (item.use_count() == 1)
            TakeItems(item->m_children, pending);
    }
}

OpNodeData* OpNodeData::parent() const { return m_parent.lock().get(); }

void OpNodeData::setParent(OpNodeData* parent)
{
    m_parent = parent ? parent->weak_from_this() : std::weak_ptr<OpNodeData>();
}

void OpNodeData::setSubNode(OpNodeChildren children)
{
    m_children = std::move(children);
    for (const OpNodeChild& child : m_children)
        if (child.isItem())
            child.item()->setParent(this);
}

void OpNodeData::addChildObject(OpNodeChild child) { m_children.push_back(std::move(child)); }

bool OpNodeData::isFadeNode() const { return m_iType != OPNODE_TYPE_FILE && !m_ptFileNode; }

bool OpNodeData::isDirect() const
{
    if (isFadeNode())
        return true;
    return m_ptFileNode && m_ptFileNode->IsDirectory();
}

long long OpNodeData::size() const
{
    if (!m_ptFileNode || m_ptFileNode->IsDirectory())
        return 0;
    return m_ptFileNode->GetFileSize();
}

QString OpNodeData::name() const
{
    if (m_ptFileNode)
        return NodeName(m_ptFileNode);
    if (isFadeNode())
        return m_fadeName;
    return QString();
}

QString OpNodeData::path() const
{
    if (!m_ptFileNode)
        return QString();
    return QString::fromStdString(ZRUIPublic::GetPathByFileNode(m_ptFileNode));
}

bool OpNodeData::isDeleted() const { return m_ptFileNode && m_ptFileNode->IsDeleted(); }

QString OpNodeData::createTime() const
{
    const unsigned long long value = createTimeValue();
    if (value == 0)
        return QString();
    return QString::fromStdString(ZRUIPublic::FormatFileTimeToString(value));
}

QString OpNodeData::modifyTime() const
{
    if (!m_ptFileNode)
        return QString();
    return QString::fromStdString(ZRUIPublic::FormatFileTimeToString(m_ptFileNode->GetModificationTime()));
}

QString OpNodeData::lastAccessTime() const
{
    if (!m_ptFileNode)
        return QString();
    return QString::fromStdString(ZRUIPublic::FormatFileTimeToString(m_ptFileNode->GetLastAccessTime()));
}

unsigned long long OpNodeData::createTimeValue() const { return m_ptFileNode ? m_ptFileNode->GetCreationTime() : 0; }

unsigned long long OpNodeData::modifyTimeValue() const
{
    return m_ptFileNode ? m_ptFileNode->GetModificationTime() : 0;
}

bool OpNodeData::IsShow() const
{
    if (isFadeNode())
        return true;
    return m_ptFileNode && m_ptFileNode->IsNodeShow();
}

void OpNodeData::SetShow(int show)
{
    if (m_ptFileNode)
        m_ptFileNode->ShowNode(show);
}

bool OpNodeData::isHasFolderChildren() const
{
    if (isFadeNode())
        return m_iIsExpandAble != 0;
    if (!m_ptFileNode)
        return false;
    bool found = false;
    outline_detail::ForEachChild(m_ptFileNode, [&found](IFileNode* child) {
        found = child->IsDirectory() != 0;
        return !found;
    });
    return found;
}

int OpNodeData::nodeType() const
{
    if (m_ptFileNode)
        return m_iIsFileSystem ? OPNODE_KIND_FILESYSTEM : OPNODE_KIND_FILE;
    if (!isFadeNode())
        return OPNODE_KIND_GROUP;
    if (m_iType == OPNODE_TYPE_FILE_TYPE) {
        // The title turns back into its group only when it is one of the
        // six titles; the lookup answers "other" for any text.
        const std::string title = m_fadeName.toStdString();
        const _FILTER_TYPE group = ZRCPPPublic::instance().StringToFilterType(title.c_str());
        if (ZRCPPPublic::instance().FilterTypeToString(group) != title)
            return OPNODE_KIND_GROUP;
        switch (group) {
        case FILTER_TYPE_PICTURE: return OPNODE_KIND_PICTURE;
        case FILTER_TYPE_MUSIC: return OPNODE_KIND_MUSIC;
        case FILTER_TYPE_MOVIE: return OPNODE_KIND_MOVIE;
        case FILTER_TYPE_ARCHIVE: return OPNODE_KIND_ARCHIVE;
        case FILTER_TYPE_DOCUMENT: return OPNODE_KIND_DOCUMENT;
        case FILTER_TYPE_OTHER: return OPNODE_KIND_OTHER;
        }
        return OPNODE_KIND_GROUP;
    }
    if (m_iType >= OPNODE_TYPE_CREATE_TIME && m_iType <= OPNODE_TYPE_ACCESS_TIME)
        return parent() ? OPNODE_KIND_TIME_GROUP : OPNODE_KIND_TIME_ROOT;
    return OPNODE_KIND_GROUP;
}

int OpNodeData::state() const
{
    if (m_ptFileNode)
        return m_ptFileNode->GetCheckedStatus();
    return m_iState;
}

void OpNodeData::setNodeState(int state)
{
    if (m_ptFileNode)
        SetEngineCheck(m_ptFileNode, state);
    else
        m_iState = state;
    OpNodeData* above = parent();
    if (above && above->isFadeNode())
        setParentNodeState(state);
    SetChildrenNodeState(state);
}

void OpNodeData::setParentNodeState(int state)
{
    OpNodeData* item = this;
    while (item) {
        item->m_iState = state;
        OpNodeData* above = item->parent();
        if (!above || !above->isFadeNode())
            return;
        if (state != CHECKED_PARTLY) {
            // A group is checked when every entry below it is, unchecked
            // when none is, and mixed otherwise.
            long long sum = 0;
            for (const OpNodeChild& child : above->m_children)
                sum += ChildState(child);
            if (sum == 0)
                state = CHECKED_NONE;
            else if (sum == 2 * static_cast<long long>(above->m_children.size()))
                state = CHECKED_ALL;
            else
                state = CHECKED_PARTLY;
        }
        item = above;
    }
}

void OpNodeData::SetChildrenNodeState(int state)
{
    std::vector<OpNodeData*> pending{this};
    while (!pending.empty()) {
        OpNodeData* item = pending.back();
        pending.pop_back();
        if (item->m_ptFileNode) {
            // Below a file node the engine carries the change itself.
            OpNodeData* above = item->parent();
            if (above && above->isFadeNode())
                SetEngineCheck(item->m_ptFileNode, state);
            continue;
        }
        item->m_iState = state;
        if (state == CHECKED_PARTLY)
            continue;
        for (const OpNodeChild& child : item->m_children) {
            if (child.isItem())
                pending.push_back(child.item());
            else
                SetEngineCheck(child.fileNode(), state);
        }
    }
}

void OpNodeData::free()
{
    std::vector<OpNodeDataPtr> pending;
    TakeItems(m_children, pending);
    while (!pending.empty()) {
        OpNodeDataPtr item = std::move(pending.back());
        pending.pop_back();
        TakeItems(item->m_children, pending);
    }
}

bool OpNodeData::isFileNodeDirect(FileNodeValue fileNode)
{
    IFileNode* node = ValueToFileNode(fileNode);
    return node && node->IsDirectory();
}

bool OpNodeData::isFileNodeDeleted(FileNodeValue fileNode)
{
    IFileNode* node = ValueToFileNode(fileNode);
    return node && node->IsDeleted();
}

int OpNodeData::fileNodeState(FileNodeValue fileNode)
{
    IFileNode* node = ValueToFileNode(fileNode);
    return node ? node->GetCheckedStatus() : CHECKED_NONE;
}

void OpNodeData::setFileNode(FileNodeValue fileNode, int withState) { SetEngineCheck(ValueToFileNode(fileNode), withState); }

QString OpNodeData::fileNodeName(FileNodeValue fileNode) { return NodeName(ValueToFileNode(fileNode)); }
