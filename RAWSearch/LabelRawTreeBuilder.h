// The "(Label RAW Files)" tree: carved files grouped by the kind of label
// their contents carry (artist, camera, author...) and then by its text.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "RawFileInfo.h"

class CRAWFileNode;
class IDirecotryTreeBuilder;

constexpr long long LABEL_RAW_ROOT_ID = 1000;
constexpr long long LABEL_RAW_FIRST_ID = 2001;

// One per searcher, shared by the file managers of all its type groups, so
// that a label folder is made once per search.
class CLABELRAWTreeBuilder {
public:
    CLABELRAWTreeBuilder() = default;
    CLABELRAWTreeBuilder(const CLABELRAWTreeBuilder&) = delete;
    CLABELRAWTreeBuilder& operator=(const CLABELRAWTreeBuilder&) = delete;

    // Files one tagged candidate: the file node, then the folders made for
    // it, newest first. The result is the last hand-over's; 0 without a
    // file node.
    int InsertNodeToTree(CRawFileInfo* info, IDirecotryTreeBuilder* builder);

    // True when the candidate's tag and type have a folder in this tree
    // (tags 0 to 5; an office tag only on the six office types).
    static bool HasLabelFolder(CRawFileInfo* info);

    // The label key: the filtered tag value and a suffix by tag.
    static std::string GetKeyName(CRawFileInfo* info);

    // Ids of label folders and files; 2001 at the start of every search.
    static long long m_gRawCount;

private:
    CRAWFileNode* InsertTagKeyNodeToTree(CRawFileInfo* info);
    CRAWFileNode* InsertSubTagNodeToTree(long long parentId, CRawFileInfo* info, IDirecotryTreeBuilder* builder);
    // The office sub-folder's id, made when missing; none for other types.
    std::optional<long long> InsertOfficeNode(long long parentId, CRawFileInfo* info);
    std::optional<long long> GetParentNode(CRawFileInfo* info);
    CRAWFileNode* MakeDirNode(long long parentId, long long id, const char* name);
    CRAWFileNode* MakeFileNode(long long parentId, long long id, CRawFileInfo* info);
    // A refused folder is released and forgotten, so it is made again.
    void ForgetFolder(long long id);

    // Folder ids rather than nodes: the tree builder owns the nodes and may
    // free those it never showed.
    std::map<int, long long> m_mapTopFolders;
    // Keyed by tag as well as label key: "Word" by an Illustrator author and
    // the office "Word" folder, or an AI author "X_MP3" and the artist "X",
    // are different folders.
    std::map<std::pair<int, std::string>, long long> m_mapLabelFolders;
    std::map<std::string, long long> m_mapOfficeFolders;
    // Folders made while filing the current file, newest first.
    std::vector<CRAWFileNode*> m_vecPending;
};
