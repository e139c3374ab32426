#include "ExFatFileNode.h"

IFileNode* CExFatFileNode::Clone()
{
    auto* copy = new CExFatFileNode;
    copy->m_dwAttributes = m_dwAttributes;
    copy->m_ftCreation = m_ftCreation;
    copy->m_ftModification = m_ftModification;
    copy->m_ftLastAccess = m_ftLastAccess;
    copy->m_strName = m_strName;
    copy->m_s64Size = m_s64Size;
    if (m_pDataRunList)
        copy->SetDataRunList(m_pDataRunList->Clone());
    return copy;
}

void CExFatFileNode::FilterFileNameByDot() { m_strName = CFileNode::FilterFileNameByDot(m_strName); }

void CExFatFileNode::SetFileName(const char* name)
{
    if (name)
        m_strName = name;
}

void CExFatFileNode::SetFileTime(const _FILETIME& creation, const _FILETIME& modification, const _FILETIME& access)
{
    m_ftCreation = creation;
    m_ftModification = modification;
    m_ftLastAccess = access;
}
