#include "APFSFileNode.h"

#include <strings.h>

namespace {

bool IsDsStore(const char* name, int length)
{
    return name && length == 10 && strncasecmp(name, ".DS_Store", 9) == 0 && name[9] == '\0';
}

}  // namespace

APFSFileNode::~APFSFileNode()
{
    if (m_pDataRunList) {
        m_pDataRunList->Release();
        m_pDataRunList = nullptr;
    }
}

void APFSFileNode::SetParentNodeID(long long id)
{
    if (m_byFlags & kReported)
        return;
    m_byFlags |= kParentIdSet;
    if ((id & 0xFFFFFFFFLL) == 1) {
        const auto index = static_cast<int16_t>(GetBelongedPartition());
        id = (static_cast<long long>(index) << 32) | 2;
    }
    m_llParentNodeID = id;
}

IFileNode* APFSFileNode::Clone()
{
    // A detached copy that the caller owns; it is released with delete since
    // Release() leaves nodes to their container.
    auto* copy = new APFSFileNode;
    copy->m_llNodeID = m_llNodeID;
    copy->m_llParentNodeID = m_llParentNodeID;
    copy->m_u64Status = m_u64Status;
    copy->m_strName = m_strName;
    copy->m_u64Size = m_u64Size;
    copy->m_u64CreationTime = m_u64CreationTime;
    copy->m_u64ModificationTime = m_u64ModificationTime;
    copy->m_u64AccessTime = m_u64AccessTime;
    copy->m_u64FoundAt = m_u64FoundAt;
    copy->m_u64Key = m_u64Key;
    copy->m_u64ParentKey = m_u64ParentKey;
    copy->m_byFlags = m_byFlags;
    copy->m_mapExtents = m_mapExtents;
    copy->CopyRunsFrom(*this);
    return copy;
}

void APFSFileNode::SetKind(bool folder)
{
    if (m_byFlags & kKindFixed)
        return;
    if (folder)
        m_byFlags |= kFolder;
    else
        m_byFlags &= static_cast<uint8_t>(~kFolder);
    m_byFlags |= kKindFixed;
}

bool APFSFileNode::AcceptName(const char* name, int length)
{
    return !IsDsStore(name, length);
}

std::string APFSFileNode::MakeName(const char* raw, int length)
{
    if (!raw || length <= 0 || IsDsStore(raw, length))
        return std::string();
    if (length >= 2 && raw[0] == '.') {
        ++raw;
        --length;
    }
    return std::string(raw, static_cast<size_t>(length));
}

void APFSFileNode::SetName(const char* raw, int length)
{
    SetMadeName(MakeName(raw, length));
}

void APFSFileNode::SetMadeName(std::string name)
{
    m_strName = std::move(name);
    if (m_strName.size() == 8 && strncasecmp(m_strName.data(), "Trashes", 7) == 0 && m_strName[7] == '\0')
        m_byFlags |= kFolder | kDeleted | kKindFixed;
}

void APFSFileNode::SetSize(uint64_t size)
{
    if (m_u64Size != 0 && !(m_byFlags & kDeleted))
        return;
    m_u64Size = size;
    m_byFlags &= static_cast<uint8_t>(~kExtentsCoverSize);
}

uint64_t APFSFileNode::ExtentTotal(int sectorSize) const
{
    uint64_t sectors = 0;
    for (const auto& [offset, run] : m_mapExtents)
        sectors += static_cast<uint64_t>(run.llLength);
    return sectors * static_cast<uint64_t>(sectorSize);
}

void APFSFileNode::UpdateCoverage(int sectorSize)
{
    const uint64_t total = ExtentTotal(sectorSize);
    const uint64_t rounded = (m_u64Size + 4095) & ~uint64_t{4095};
    if (total > rounded)
        m_u64Size = total;
    if (total >= m_u64Size)
        m_byFlags |= kExtentsCoverSize;
    else
        m_byFlags &= static_cast<uint8_t>(~kExtentsCoverSize);
}

void APFSFileNode::RebuildRuns()
{
    auto* list = new CDataRunList;
    for (const auto& [offset, run] : m_mapExtents)
        list->AddDataRun(&run);
    SetDataRunList(list);
}

void APFSFileNode::CopyRunsFrom(const APFSFileNode& other)
{
    if (other.m_pDataRunList)
        SetDataRunList(other.m_pDataRunList->Clone());
}

bool APFSFileNode::AddExtent(uint64_t startSector, uint64_t sectorCount, int sectorSize, uint64_t logicalOffset)
{
    if (m_u64Size != 0) {
        UpdateCoverage(sectorSize);
        if (ExtentTotal(sectorSize) >= m_u64Size)
            return false;
    }
    if (logicalOffset == 0 && !m_mapExtents.empty())
        m_mapExtents.clear();
    auto found = m_mapExtents.find(logicalOffset);
    if (found != m_mapExtents.end()) {
        if (found->second.llStart == static_cast<long long>(startSector) &&
            static_cast<uint64_t>(found->second.llLength) > sectorCount)
            found->second.llLength = static_cast<long long>(sectorCount);
        else
            return m_u64Size != 0 && ExtentTotal(sectorSize) >= m_u64Size;
    } else {
        DataRun run;
        run.llStart = static_cast<long long>(startSector);
        run.llLength = static_cast<long long>(sectorCount);
        m_mapExtents.emplace(logicalOffset, run);
    }
    RebuildRuns();
    if (m_u64Size == 0)
        return false;
    UpdateCoverage(sectorSize);
    return ExtentTotal(sectorSize) >= m_u64Size;
}

void APFSFileNode::AttachToParent(APFSFileNode* parent, APFSFileNode* child)
{
    if (!parent || !child || parent == child)
        return;
    // Merged folders form chains; follow them a bounded number of steps.
    for (int i = 0; i < 1024 && parent->m_pMergedInto; ++i)
        parent = parent->m_pMergedInto;
    if (parent == child)
        return;
    child->m_pApfsParent = parent;
    child->SetParentNodeID(parent->GetCurrentNodeID());
    if (child->m_byFlags & kFolder) {
        for (APFSFileNode* sibling = parent->m_pApfsFirstChild; sibling; sibling = sibling->m_pApfsNextSibling) {
            if (sibling != child && (sibling->m_byFlags & kFolder) && sibling->m_strName == child->m_strName) {
                child->m_pMergedInto = sibling;
                child->m_byFlags |= kMerged;
                return;
            }
        }
    }
    child->m_pApfsNextSibling = parent->m_pApfsFirstChild;
    parent->m_pApfsFirstChild = child;
}

bool APFSFileNode::IsReportable(bool final)
{
    if ((m_byFlags & kReported) || ((m_byFlags & kMerged) && m_pMergedInto) || m_strName.empty() ||
        (!(m_byFlags & kFolder) && m_u64CreationTime == 0))
        return false;
    if (final) {
        if (m_llParentNodeID == -1)
            m_llParentNodeID = (static_cast<long long>(GetBelongedPartition()) << 32) | 3;
        return true;
    }
    const long long low = m_llParentNodeID;
    return low == 1 || low == 2 || m_pApfsParent != nullptr;
}
