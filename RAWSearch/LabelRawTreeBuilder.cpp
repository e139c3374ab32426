#include "LabelRawTreeBuilder.h"

#include "ITreeBuilder.h"
#include "RAWFileNode.h"
#include "RawFileExtTable.h"

long long CLABELRAWTreeBuilder::m_gRawCount = LABEL_RAW_FIRST_ID;

namespace {

struct FixedFolder {
    const char* pszName;
    long long llId;
};

// Top folders by tag 0 to 5, all under the tree's root.
const FixedFolder kTopFolders[] = {
    {"Artists", -14}, {"Camera", -15}, {"Office", -13}, {"MOV", -8}, {"PDF", -7}, {"AI", -6},
};

const char* const kKeySuffix[] = {"_MP3", "_CAMERA", "", "_MOV", "_PDF", ""};

// The office sub-folder of a type index, and its key suffix.
struct OfficeFolder {
    FixedFolder folder;
    const char* pszSuffix;
};

std::optional<OfficeFolder> OfficeFolderOf(RAW_FILE_TYPE type)
{
    switch (type) {
    case RAW_TYPE_DOC:
    case RAW_TYPE_DOCX:
        return OfficeFolder{{"Word", -12}, "_Word"};
    case RAW_TYPE_XLS:
    case RAW_TYPE_XLSX:
        return OfficeFolder{{"Excel", -11}, "_Excel"};
    case RAW_TYPE_PPT:
    case RAW_TYPE_PPTX:
        return OfficeFolder{{"PowerPoint", -10}, "_PowerPoint"};
    default:
        return std::nullopt;
    }
}

bool IsLabelTag(int tag)
{
    return tag >= RAW_TAG_ARTIST && tag <= RAW_TAG_AI;
}

}  // namespace

bool CLABELRAWTreeBuilder::HasLabelFolder(CRawFileInfo* info)
{
    if (!info || !IsLabelTag(info->m_eTag))
        return false;
    return info->m_eTag != RAW_TAG_OFFICE || OfficeFolderOf(info->m_dwType).has_value();
}

std::string CLABELRAWTreeBuilder::GetKeyName(CRawFileInfo* info)
{
    RAW_FILE_TAG tag;
    std::string value;
    info->GetRawFileTagAndValue(tag, value);
    if (tag == RAW_TAG_OFFICE) {
        auto office = OfficeFolderOf(info->m_dwType);
        return office ? value + office->pszSuffix : value;
    }
    return IsLabelTag(tag) ? value + kKeySuffix[tag] : value;
}

int CLABELRAWTreeBuilder::InsertNodeToTree(CRawFileInfo* info, IDirecotryTreeBuilder* builder)
{
    if (!info || info->m_eTag == RAW_TAG_NONE)
        return 0;
    m_vecPending.clear();

    std::optional<long long> parentId = GetParentNode(info);
    // A folder the tree builder refused earlier is made again, so the
    // label folders below it get their parent.
    if (!m_mapTopFolders.count(info->m_eTag))
        InsertTagKeyNodeToTree(info);
    auto top = m_mapTopFolders.find(info->m_eTag);
    if (top != m_mapTopFolders.end()) {
        if (!parentId) {
            if (CRAWFileNode* folder = InsertSubTagNodeToTree(top->second, info, builder))
                parentId = folder->GetCurrentNodeID();
        } else if (info->m_eTag == RAW_TAG_OFFICE) {
            InsertOfficeNode(top->second, info);
        }
    }
    if (!parentId) {
        // Nothing to file under: give back what was made on the way.
        for (CRAWFileNode* folder : m_vecPending) {
            ForgetFolder(folder->GetCurrentNodeID());
            folder->Release();
        }
        m_vecPending.clear();
        return 1;
    }

    CRAWFileNode* file = MakeFileNode(*parentId, m_gRawCount, info);
    ++m_gRawCount;
    int result = 0;
    if (file && builder) {
        result = builder->AddNode(file, SEARCHER_LABEL_RAW);
        if (!result)
            file->Release();
    } else if (file) {
        file->Release();
    }
    for (CRAWFileNode* folder : m_vecPending) {
        result = builder ? builder->AddNode(folder, SEARCHER_LABEL_RAW) : 0;
        if (!result) {
            ForgetFolder(folder->GetCurrentNodeID());
            folder->Release();
        }
    }
    m_vecPending.clear();
    return file ? result : 0;
}

CRAWFileNode* CLABELRAWTreeBuilder::InsertTagKeyNodeToTree(CRawFileInfo* info)
{
    if (!IsLabelTag(info->m_eTag))
        return nullptr;
    const FixedFolder& fixed = kTopFolders[info->m_eTag];
    CRAWFileNode* folder = MakeDirNode(LABEL_RAW_ROOT_ID, fixed.llId, fixed.pszName);
    m_vecPending.insert(m_vecPending.begin(), folder);
    m_mapTopFolders[info->m_eTag] = fixed.llId;
    return folder;
}

CRAWFileNode* CLABELRAWTreeBuilder::InsertSubTagNodeToTree(long long parentId, CRawFileInfo* info,
                                                           IDirecotryTreeBuilder*)
{
    if (info->m_eTag == RAW_TAG_OFFICE) {
        auto office = InsertOfficeNode(parentId, info);
        if (!office)
            return nullptr;
        parentId = *office;
    }
    RAW_FILE_TAG tag;
    std::string value;
    info->GetRawFileTagAndValue(tag, value);
    CRAWFileNode* folder = MakeDirNode(parentId, m_gRawCount, value.c_str());
    ++m_gRawCount;
    m_vecPending.insert(m_vecPending.begin(), folder);
    m_mapLabelFolders[{info->m_eTag, GetKeyName(info)}] = folder->GetCurrentNodeID();
    return folder;
}

std::optional<long long> CLABELRAWTreeBuilder::InsertOfficeNode(long long parentId, CRawFileInfo* info)
{
    auto office = OfficeFolderOf(info->m_dwType);
    if (!office)
        return std::nullopt;
    auto found = m_mapOfficeFolders.find(office->folder.pszName);
    if (found != m_mapOfficeFolders.end())
        return found->second;
    CRAWFileNode* folder = MakeDirNode(parentId, office->folder.llId, office->folder.pszName);
    m_mapOfficeFolders[office->folder.pszName] = office->folder.llId;
    m_vecPending.insert(m_vecPending.begin(), folder);
    return office->folder.llId;
}

std::optional<long long> CLABELRAWTreeBuilder::GetParentNode(CRawFileInfo* info)
{
    auto found = m_mapLabelFolders.find({info->m_eTag, GetKeyName(info)});
    if (found == m_mapLabelFolders.end())
        return std::nullopt;
    return found->second;
}

CRAWFileNode* CLABELRAWTreeBuilder::MakeDirNode(long long parentId, long long id, const char* name)
{
    CRawFileInfo folder;
    folder.m_llStartSector = -1;
    folder.SetRawFileName(name ? name : "");
    auto* node = new CRAWFileNode;
    node->Initilaize(&folder, FILE_ATTRIBUTE_DIRECTORY_BIT, parentId, id);
    return node;
}

CRAWFileNode* CLABELRAWTreeBuilder::MakeFileNode(long long parentId, long long id, CRawFileInfo* info)
{
    auto* node = new CRAWFileNode;
    if (!node->Initilaize(info, 32, parentId, id)) {
        node->Release();
        return nullptr;
    }
    return node;
}

void CLABELRAWTreeBuilder::ForgetFolder(long long id)
{
    for (auto it = m_mapTopFolders.begin(); it != m_mapTopFolders.end();)
        it = it->second == id ? m_mapTopFolders.erase(it) : std::next(it);
    for (auto it = m_mapLabelFolders.begin(); it != m_mapLabelFolders.end();)
        it = it->second == id ? m_mapLabelFolders.erase(it) : std::next(it);
    for (auto it = m_mapOfficeFolders.begin(); it != m_mapOfficeFolders.end();)
        it = it->second == id ? m_mapOfficeFolders.erase(it) : std::next(it);
}
