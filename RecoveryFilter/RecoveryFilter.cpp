#include "RecoveryFilter.h"

#include <cstring>

#include "IFileNode.h"

CRecoveryFilter::CRecoveryFilter()
{
    m_FileTypeManager.Initialize();
}

CRecoveryFilter::CRecoveryFilter(const std::map<int, std::string>& lists)
{
    m_FileTypeManager.Initialize(lists);
}

int CRecoveryFilter::ShowNormalFiles() const
{
    return m_eScanType != SCAN_TYPE_QUICK_MOUNTED ? 1 : 0;
}

void CRecoveryFilter::SetScanType(_SCAN_TYPE type)
{
    m_eScanType = type;
}

void CRecoveryFilter::SetFilterTypes(unsigned int mask)
{
    m_dwFilterMask = mask;
    m_setWanted.clear();
    if (mask == 127)
        return;
    static const struct {
        unsigned int bit;
        FILE_TYPE_ID group;
    } kBits[] = {
        {0x01, FILE_TYPE_PICTURE}, {0x02, FILE_TYPE_MUSIC},   {0x04, FILE_TYPE_MOVIE},
        {0x10, FILE_TYPE_DOCUMENT}, {0x08, FILE_TYPE_ARCHIVE}, {0x20, FILE_TYPE_OTHER},
    };
    for (const auto& b : kBits)
        if (mask & b.bit)
            m_setWanted.insert(b.group);
}

FILE_TYPE_ID CRecoveryFilter::GetNodeGroup(IFileNode* node) const
{
    const char* name = node ? node->GetFileName() : nullptr;
    if (!name)
        return FILE_TYPE_OTHER;
    const char* dot = std::strrchr(name, '.');
    if (!dot)
        return FILE_TYPE_OTHER;
    return m_FileTypeManager.GetFileTypeID(dot + 1);
}

int CRecoveryFilter::IsFileNodeValid(IFileNode* node)
{
    if (!node)
        return 0;
    if (m_setWanted.empty() || node->IsDirectory())
        return 1;
    return m_setWanted.count(GetNodeGroup(node)) ? 1 : 0;
}

int CRecoveryFilter::GetNodeFileType(IFileNode* node)
{
    switch (GetNodeGroup(node)) {
    case FILE_TYPE_PICTURE: return 0x01;
    case FILE_TYPE_MUSIC: return 0x02;
    case FILE_TYPE_MOVIE: return 0x04;
    case FILE_TYPE_ARCHIVE: return 0x08;
    case FILE_TYPE_DOCUMENT: return 0x10;
    default: return 0x20;
    }
}

IRecoveryFilter* CreateFilter()
{
    // Built on first use and deliberately never destroyed: a scan thread still
    // running while the process exits keeps using a valid filter.
    static CRecoveryFilter* const s_pFilter = new CRecoveryFilter();
    return s_pFilter;
}
