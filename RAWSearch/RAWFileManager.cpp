#include "RAWFileManager.h"

#include <cctype>

#include "ITreeBuilder.h"
#include "RAWFileNode.h"
#include "RawFileInfo.h"

unsigned int CRAWFileManager::g_nID = RAW_FIRST_FOLDER_ID;

CRAWFileManager::CRAWFileManager(int rootId, int group, IDirecotryTreeBuilder* builder, CLABELRAWTreeBuilder* labels)
    : m_dwRootID(static_cast<unsigned int>(rootId)),
      m_dwGroup(static_cast<unsigned int>(group)),
      m_pTreeBuilder(builder),
      m_pOwnLabelBuilder(labels ? nullptr : std::make_unique<CLABELRAWTreeBuilder>()),
      m_pLabelBuilder(labels ? labels : m_pOwnLabelBuilder.get())
{
}

int CRAWFileManager::AddRawFileInfo(CRawFileInfo* info)
{
    if (!info)
        return 0;
    int id = static_cast<int>(m_dwNextFileID++);
    return AddNode(info, 32, static_cast<int>(m_dwGroup), id);
}

int CRAWFileManager::AddNode(CRawFileInfo* info, unsigned int attribute, int parentId, int id)
{
    if (!info)
        return 0;
    RAW_FILE_TAG tag;
    std::string value;
    info->GetRawFileTagAndValue(tag, value);
    // A tagged file shows in the label tree alone. One the label tree has no
    // folder for is filed here like an untagged one rather than lost.
    if ((tag != RAW_TAG_NONE || !value.empty()) && CLABELRAWTreeBuilder::HasLabelFolder(info))
        return m_pLabelBuilder->InsertNodeToTree(info, m_pTreeBuilder);

    auto* node = new CRAWFileNode;
    if (!node->Initilaize(info, attribute, parentId, id) || !m_pTreeBuilder) {
        node->Release();
        return 0;
    }

    int folderId = 0;
    CRAWFileNode* folder = nullptr;
    if (bFindParent(node, folderId)) {
        node->SetParentNodeID(folderId);
    } else {
        folder = CreateParentNode(node);
        node->SetParentNodeID(folder->GetCurrentNodeID());
    }

    const std::string ext = GetExt(node);
    if (!m_pTreeBuilder->AddNode(node, SEARCHER_RAW)) {
        node->Release();
        if (folder) {
            // The folder was made for this file alone: forget it, so the next
            // file of the extension makes it again instead of naming a
            // parent that never arrives.
            m_mapFolderIDs.erase(ext);
            folder->Release();
        }
        return 0;
    }
    if (!folder)
        return 1;
    if (m_pTreeBuilder->AddNode(folder, SEARCHER_RAW))
        return 1;
    m_mapFolderIDs.erase(ext);
    folder->Release();
    return 0;
}

bool CRAWFileManager::bFindParent(CRAWFileNode* node, int& folderId)
{
    auto found = m_mapFolderIDs.find(GetExt(node));
    if (found == m_mapFolderIDs.end())
        return false;
    folderId = found->second;
    return true;
}

CRAWFileNode* CRAWFileManager::CreateParentNode(CRAWFileNode* node)
{
    const std::string ext = GetExt(node);
    std::unique_ptr<CRawFileInfo> info(MakeDirNode(ext.c_str()));
    auto* folder = new CRAWFileNode;
    folder->Initilaize(info.get(), FILE_ATTRIBUTE_DIRECTORY_BIT, m_dwRootID, g_nID);
    m_mapFolderIDs[ext] = static_cast<int>(g_nID);
    ++g_nID;
    return folder;
}

std::string CRAWFileManager::GetExt(CRAWFileNode* node)
{
    const std::string name = node && node->GetFileName() ? node->GetFileName() : "";
    size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

CRawFileInfo* CRAWFileManager::MakeDirNode(const char* extension)
{
    auto* info = new CRawFileInfo;
    info->m_llStartSector = -1;
    info->SetRawFileName(extension ? extension : "");
    return info;
}
