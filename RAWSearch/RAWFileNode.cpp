#include "RAWFileNode.h"

#include "RawFileInfo.h"

CRAWFileNode::~CRAWFileNode()
{
    // The run list belongs to the properties.
    m_pDataRunList = nullptr;
    CRAWFileProperties::Destory(m_pProperties);
}

int CRAWFileNode::IsDirectory()
{
    return m_pProperties ? ((m_pProperties->GetAttribute() & FILE_ATTRIBUTE_DIRECTORY_BIT) ? 1 : 0) : 1;
}

unsigned long long CRAWFileNode::GetLastAccessTime()
{
    return m_pProperties ? TimeTextToFileTime(m_pProperties->GetRawFileTimeText()) : 0;
}

bool CRAWFileNode::Initilaize(CRawFileInfo* info, unsigned int attribute, long long parentId, long long id)
{
    if (!info)
        return false;
    CRAWFileProperties* properties = CRAWFileProperties::Create();
    properties->InitRawFileProperties(*info);
    properties->SetAttribute(static_cast<unsigned short>(attribute));

    const std::string stem = info->GetRawFileName();
    std::string name;
    if (attribute & FILE_ATTRIBUTE_DIRECTORY_BIT)
        name = CutRawName(stem, RAW_NAME_MAX_BYTES);
    else
        name = BuildFileName(static_cast<unsigned short>(info->m_dwType), stem.c_str());

    // Analysers name most files (camera, position, title), so the name
    // stands for the time only when the contents gave no time and the name
    // really is one.
    if (properties->GetRawFileTimeText().empty()) {
        std::string nameTime = TimeTextOfName(stem);
        if (!nameTime.empty())
            properties->SetRawFileTime(nameTime);
    }

    properties->SetRawFileName(name.c_str());
    CRAWFileProperties::Destory(m_pProperties);
    m_pProperties = properties;
    m_strName = std::move(name);
    m_pDataRunList = properties->GetDataRunList();
    m_llNodeID = id;
    m_llParentNodeID = parentId;
    return true;
}
