#include "FATFileNode.h"

#include <cstdio>
#include <new>

namespace {

// Bits 8-23 of the packed word: the owning partition's index.
constexpr unsigned long long kPartitionBits = 0xFFFF00ULL;

// Diagnostic line per node, on the stream where the engine prints its other
// diagnostics (standard output, as the log does).
void PrintNodeLine(const char* name, long long id, long long parent)
{
    std::fprintf(stdout, "=====%s====== Current:%llx Parent:%llx\n", name ? name : "",
                 static_cast<unsigned long long>(id), static_cast<unsigned long long>(parent));
}

}  // namespace

CFATFileNode::~CFATFileNode() { delete m_pFileProperties; }

const char* CFATFileNode::GetFileName()
{
    const char* name = m_pFileProperties ? m_pFileProperties->GetFileName() : nullptr;
    return name ? name : "";
}

long long CFATFileNode::GetFileSize() { return m_pFileProperties ? m_pFileProperties->GetFileSize() : 0; }

unsigned int CFATFileNode::GetAttribute()
{
    return m_pFileProperties ? (m_pFileProperties->GetAttribute() & 0xFFFF) : 0;
}

unsigned long long CFATFileNode::GetCreationTime()
{
    return m_pFileProperties ? m_pFileProperties->GetCreationTime() : 0;
}

unsigned long long CFATFileNode::GetModificationTime()
{
    return m_pFileProperties ? m_pFileProperties->GetModificationTime() : 0;
}

unsigned long long CFATFileNode::GetLastAccessTime()
{
    return m_pFileProperties ? m_pFileProperties->GetLastAccessTime() : 0;
}

int CFATFileNode::IsDirectory() { return (GetAttribute() & FILE_ATTRIBUTE_DIRECTORY_BIT) ? 1 : 0; }

int CFATFileNode::IsDeleted() { return m_pFileProperties && (m_pFileProperties->GetState() & 1) ? 1 : 0; }

void CFATFileNode::SetParentNodeID(long long id)
{
    CFileNode::SetParentNodeID(id);
    if (m_pFileProperties)
        m_pFileProperties->SetParentFirstClusterNum(id);
}

void CFATFileNode::MarkDeleted()
{
    if (m_pFileProperties)
        m_pFileProperties->SetState(m_pFileProperties->GetState() | 1);
}

void CFATFileNode::SetFileName(const char* name)
{
    if (m_pFileProperties)
        m_pFileProperties->SetFileName(name);
}

void CFATFileNode::FilterFileNameByDot()
{
    if (m_pFileProperties)
        SetFileName(CFileNode::FilterFileNameByDot(GetFileName()).c_str());
}

void CFATFileNode::SetFileProperties(IFileProperties* props)
{
    auto* fat = dynamic_cast<CFATFileProperties*>(props);
    if (!fat) {
        delete props;
        return;
    }
    if (fat != m_pFileProperties)
        delete m_pFileProperties;
    m_pFileProperties = fat;
    m_llNodeID = fat->GetFirstClusterNum();
    m_llParentNodeID = fat->GetParentFirstClusterNum();
    CFileNode::SetMetaDataSector(fat->GetMetaDataSector());
    PrintNodeLine(fat->GetFileName(), m_llNodeID, m_llParentNodeID);
}

IFileNode* CFATFileNode::Clone()
{
    auto* node = new (std::nothrow) CFATFileNode;
    if (!node)
        return nullptr;
    if (m_pFileProperties) {
        IFileProperties* props = m_pFileProperties->Clone();
        if (!props) {
            delete node;
            return nullptr;
        }
        node->SetFileProperties(props);
    }
    if (m_pDataRunList)
        node->SetDataRunList(m_pDataRunList->Clone());
    node->m_u64Status = (node->m_u64Status & ~kPartitionBits) | (m_u64Status & kPartitionBits);
    return node;
}

void CFATFileNode::OnSameIdDirectoryRenamed(CFileNode& other)
{
    auto* fat = dynamic_cast<CFATFileNode*>(&other);
    if (fat && fat->m_pFileProperties && m_pFileProperties)
        *m_pFileProperties = *fat->m_pFileProperties;
}
