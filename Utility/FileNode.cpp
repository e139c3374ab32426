#include "FileNode.h"

#include <cstring>
#include <utility>
#include <vector>

#include "ResultCode.h"

namespace {

constexpr unsigned long long kCheckedMask = 0xFULL;
constexpr unsigned long long kShownMask = 0xF0ULL;
constexpr unsigned long long kPartitionMask = 0xFFFF00ULL;
constexpr unsigned long long kLowBits = 0xFFFFFFULL;

// Sign-extends a 4-bit field.
int Signed4(unsigned long long v)
{
    int x = static_cast<int>(v & 0xF);
    return x >= 8 ? x - 16 : x;
}

bool SameName(const char* a, const char* b)
{
    if (!a || !b)
        return a == b;
    return std::strcmp(a, b) == 0;
}

}  // namespace

// ---- CFileNode ------------------------------------------------------------

CFileNode::~CFileNode()
{
    m_pFirstChild = nullptr;
    m_pNextSibling = nullptr;
    m_pParent = nullptr;
    if (m_pDataRunList)
        m_pDataRunList->Release();
    m_pDataRunList = nullptr;
}

CFileNode& CFileNode::operator=(const CFileNode& other)
{
    if (this == &other)
        return *this;
    m_pFirstChild = other.m_pFirstChild;
    m_pNextSibling = other.m_pNextSibling;
    m_dwShownChildren = other.m_dwShownChildren;
    m_pDataRunList = other.m_pDataRunList;
    m_llNodeID = other.m_llNodeID;
    m_llParentNodeID = other.m_llParentNodeID;
    m_u64Status = other.m_u64Status;
    m_pParent = other.m_pParent;
    m_dwCheckedChildren = other.m_dwCheckedChildren;
    m_dwCompressed = other.m_dwCompressed;
    m_bWasParent = other.m_bWasParent || other.m_pFirstChild != nullptr;
    return *this;
}

int CFileNode::IsNodeShow() const { return Signed4(m_u64Status >> 4); }

_tagCheckedStatus CFileNode::GetCheckedStatus() { return static_cast<_tagCheckedStatus>(Signed4(m_u64Status)); }

void CFileNode::SetCheckedBits(int status)
{
    m_u64Status = (m_u64Status & ~kCheckedMask) | (static_cast<unsigned long long>(status) & 0xF);
}

void CFileNode::SetShownBits(int shown)
{
    m_u64Status = (m_u64Status & ~kShownMask) | ((static_cast<unsigned long long>(shown) & 0xF) << 4);
}

void CFileNode::SetBelongedPartition(unsigned short index)
{
    m_u64Status = (m_u64Status & ~kPartitionMask) | (static_cast<unsigned long long>(index) << 8);
}

unsigned short CFileNode::GetBelongedPartition() const
{
    return static_cast<unsigned short>((m_u64Status >> 8) & 0xFFFF);
}

void CFileNode::SetMetaDataSector(long long sector)
{
    m_u64Status = (m_u64Status & kLowBits) | (static_cast<unsigned long long>(sector) << 24);
}

long long CFileNode::GetMetadataStartPosition() const
{
    return static_cast<long long>(m_u64Status) >> 24;
}

void CFileNode::SetDataRunList(IDataRunList* list)
{
    if (m_pDataRunList && m_pDataRunList != list)
        m_pDataRunList->Release();
    m_pDataRunList = list;
}

void CFileNode::ShowNode(int show)
{
    int shown = show != 0 ? 1 : 0;
    if (m_pParent && IsNodeShow() != shown)
        m_pParent->ShowParent(shown ? 1 : -1);
    SetShownBits(shown);
}

// A folder is shown while at least one child is; the change climbs as far as
// it alters a folder's state.
void CFileNode::ShowParent(int change)
{
    CFileNode* node = this;
    while (node && change != 0) {
        node->m_dwShownChildren += static_cast<unsigned int>(change);
        int nowShown = node->m_dwShownChildren != 0 ? 1 : 0;
        int next = 0;
        if (node->m_pParent && nowShown != node->IsNodeShow())
            next = nowShown ? 1 : -1;
        node->SetShownBits(nowShown);
        node = node->m_pParent;
        change = next;
    }
}

void CFileNode::SetCheck(_tagCheckedStatus status)
{
    VANTREL_ASSERT(status != 1);
    if (!IsNodeShow() || status < 0 || status >= 3)
        return;
    int old = GetCheckedStatus();
    if (m_pParent)
        m_pParent->SetParentStatus(status - old);
    if (m_pFirstChild)
        SetChildStatus(m_pFirstChild, status);
    SetCheckedBits(status);
    m_dwCheckedChildren = m_dwShownChildren * static_cast<unsigned int>(status);
}

void CFileNode::SetParentStatus(int change)
{
    CFileNode* node = this;
    while (node && change != 0) {
        node->m_dwCheckedChildren += static_cast<unsigned int>(change);
        int state;
        if (node->m_dwCheckedChildren == 0)
            state = 0;
        else if (node->m_dwCheckedChildren == 2 * node->m_dwShownChildren)
            state = 2;
        else
            state = 1;
        int next = state - node->GetCheckedStatus();
        node->SetCheckedBits(state);
        node = node->m_pParent;
        change = next;
    }
}

// Sets status on first, its shown siblings and all their shown descendants.
// Walked with an explicit stack: damaged volumes give very deep chains.
void CFileNode::SetChildStatus(CFileNode* first, _tagCheckedStatus status)
{
    std::vector<std::pair<CFileNode*, bool>> work;
    work.emplace_back(first, true);
    while (!work.empty()) {
        auto [node, withSiblings] = work.back();
        work.pop_back();
        if (node->IsNodeShow())
            node->SetCheckedBits(status);
        if (status == CHECKED_PARTLY)
            continue;
        node->m_dwCheckedChildren = node->m_dwShownChildren * static_cast<unsigned int>(status);
        if (node->m_pFirstChild)
            work.emplace_back(node->m_pFirstChild, true);
        if (withSiblings) {
            for (CFileNode* s = node->m_pNextSibling; s; s = s->m_pNextSibling)
                if (s->IsNodeShow())
                    work.emplace_back(s, false);
        }
    }
}

bool CFileNode::IsLoopedToSelf(IFileNode* node, IFileNode* candidate)
{
    for (IFileNode* p = node ? node->GetParent() : nullptr; p; p = p->GetParent())
        if (p == candidate)
            return true;
    return false;
}

void CFileNode::SetParent(CFileNode* parent)
{
    m_pParent = parent;
    if (parent)
        parent->m_bWasParent = true;
}

int CFileNode::AddChild(IFileNode* node)
{
    auto* child = dynamic_cast<CFileNode*>(node);
    if (!child || child == this || (child->m_bWasParent && IsLoopedToSelf(this, child)))
        return 0;
    ++m_dwShownChildren;
    child->m_pParent = this;
    m_bWasParent = true;
    child->m_pNextSibling = m_pFirstChild;
    m_pFirstChild = child;
    return 1;
}

int CFileNode::AddNext(IFileNode* node)
{
    auto* next = dynamic_cast<CFileNode*>(node);
    if (!next || next == this)
        return 0;
    // a.AddNext(b) puts b behind a and hands a's former follower to b.
    CFileNode* a = this;
    CFileNode* b = next;
    while (b && b != a) {
        CFileNode* former = a->m_pNextSibling;
        a->m_pNextSibling = b;
        a = b;
        b = former;
    }
    return 1;
}

int CFileNode::RemoveChild(CFileNode* child)
{
    if (!child)
        return 0;
    CFileNode* prev = nullptr;
    CFileNode* cur = m_pFirstChild;
    while (cur && cur != child) {
        prev = cur;
        cur = cur->m_pNextSibling;
    }
    if (!cur)
        return 0;
    if (prev)
        prev->m_pNextSibling = cur->m_pNextSibling;
    else
        m_pFirstChild = cur->m_pNextSibling;
    cur->m_pParent = nullptr;
    cur->m_pNextSibling = nullptr;
    cur->m_pFirstChild = nullptr;
    if (m_dwShownChildren > 0)
        --m_dwShownChildren;
    if (m_dwShownChildren == 0)
        m_pFirstChild = nullptr;
    return 1;
}

void CFileNode::MergeNode(CFileNode* other)
{
    if (!other || other == this)
        return;
    if (m_pDataRunList)
        m_pDataRunList->Release();
    m_pDataRunList = other->m_pDataRunList;
    other->m_pDataRunList = nullptr;
    UpdateFileSize(other->GetFileSize());
}

bool CFileNode::operator==(CFileNode& other)
{
    if (m_llNodeID != other.m_llNodeID)
        return false;
    if ((IsDirectory() != 0) != (other.IsDirectory() != 0))
        return false;
    if (m_llParentNodeID != other.m_llParentNodeID)
        return false;
    // FAT node ids are cluster numbers, which repeat from one partition to
    // the next: nodes of two partitions are never one node, and neither
    // takes over the other's properties.
    if (GetSearcheType() == SEARCHER_FAT && GetBelongedPartition() != other.GetBelongedPartition())
        return false;
    if (SameName(GetFileName(), other.GetFileName())) {
        if (IsDirectory())
            return true;
        if (GetSearcheType() == SEARCHER_HFSPLUS)
            return GetCreationTime() == other.GetCreationTime() && GetFileSize() == other.GetFileSize();
        return GetBelongedPartition() == other.GetBelongedPartition();
    }
    if (GetSearcheType() == SEARCHER_FAT && other.IsDirectory() &&
        other.GetCreationTime() >= GetCreationTime())
        OnSameIdDirectoryRenamed(other);
    return false;
}

std::string CFileNode::FilterFileNameByDot(const std::string& name)
{
    size_t i = name.find_first_not_of(" .");
    return i == std::string::npos ? std::string() : name.substr(i);
}

// ---- CFilesystemNode ------------------------------------------------------

CFilesystemNode::CFilesystemNode(const char* name, const char* volumeName, _tagSearcherType type, long long nodeId)
    : m_eSearcherType(type), m_strName(name ? name : ""), m_strVolumeName(volumeName ? volumeName : "")
{
    m_llNodeID = nodeId;
}

IFileNode* CFilesystemNode::Clone()
{
    return new CFilesystemNode(m_strName.c_str(), m_strVolumeName.c_str(), m_eSearcherType, m_llNodeID);
}
