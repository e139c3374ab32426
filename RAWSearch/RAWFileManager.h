// Files finished candidates of one type group as nodes of the "(RAW Files)"
// tree, one folder per extension, or hands tagged ones to the label tree.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "LabelRawTreeBuilder.h"

class CRAWFileNode;
class CRawFileInfo;
class IDirecotryTreeBuilder;

constexpr long long RAW_ROOT_ID = 1;
constexpr unsigned int RAW_FIRST_FOLDER_ID = 10;
constexpr unsigned int RAW_FIRST_FILE_ID = 10000;

class CRAWFileManager {
public:
    // labels is the searcher's label builder, shared by all its managers;
    // without one the manager keeps a builder of its own.
    CRAWFileManager(int rootId, int group, IDirecotryTreeBuilder* builder, CLABELRAWTreeBuilder* labels = nullptr);
    CRAWFileManager(const CRAWFileManager&) = delete;
    CRAWFileManager& operator=(const CRAWFileManager&) = delete;

    // Takes the next file id and files the candidate; 0 for null.
    int AddRawFileInfo(CRawFileInfo* info);
    // 1 when filed.
    int AddNode(CRawFileInfo* info, unsigned int attribute, int parentId, int id);

    bool bFindParent(CRAWFileNode* node, int& folderId);
    // Makes the extension folder of a node and records its id.
    CRAWFileNode* CreateParentNode(CRAWFileNode* node);
    // The lower-case text after the node name's last ".".
    std::string GetExt(CRAWFileNode* node);
    CRawFileInfo* MakeDirNode(const char* extension);

    unsigned int GetGroup() const { return m_dwGroup; }

    // Next folder id, shared by all managers; 10 at the start of a search.
    static unsigned int g_nID;

private:
    unsigned int m_dwNextFileID = RAW_FIRST_FILE_ID;
    unsigned int m_dwRootID;
    unsigned int m_dwGroup;
    IDirecotryTreeBuilder* m_pTreeBuilder;
    std::map<std::string, int> m_mapFolderIDs;
    std::unique_ptr<CLABELRAWTreeBuilder> m_pOwnLabelBuilder;
    CLABELRAWTreeBuilder* m_pLabelBuilder;
};
