#include "ZRUIOutline.h"

#include <unordered_set>
#include <vector>

#include "BridgeUtil.h"
#include "ChildWalk.h"
#include "FileTypeManager.h"
#include "IFileNode.h"
#include "OutlineText.h"
#include "ZRTimeMgr.h"
#include "ZRTypeMgr.h"
#include "ZRUIScan.h"
#include "ZRUISearch.h"

namespace {

void AppendFiles(FileNodeArray* files, const OpNodeChildren& children)
{
    for (const OpNodeChild& child : children)
        if (!child.isItem())
            files->push_back(child.fileNodeValue());
}

const char* TimeRootKey(int viewType)
{
    switch (viewType) {
    case OPNODE_TYPE_CREATE_TIME: return "CREATE_TIME_ROOT_NAME";
    case OPNODE_TYPE_MODIFY_TIME: return "MODIFY_TIME_ROOT_NAME";
    case OPNODE_TYPE_ACCESS_TIME: return "LAST_ACCESS_TIME_ROOT_NAME";
    default: return "";
    }
}

}  // namespace

int ZRUIOutline::GetScanTreeNodeData(OpNodeArray* roots, int clearNodeState)
{
    if (!roots)
        return 0;
    ZRUIScan& scan = ZRUIScan::instance();
    const int viewType = scan.GetScanType();
    // Holds back the state-query thread's notifications while the outline
    // is rebuilt.
    scan.SetOpTreeFinished(0);
    for (IFileNode* root : scan.GetFileSystemNode()) {
        if (!root)
            continue;
        if (clearNodeState) {
            root->ShowNode(1);
            root->SetCheck(CHECKED_NONE);
        }
        if (viewType == OPNODE_TYPE_FILE && !IsFileNode(root, roots)) {
            OpNodeDataPtr item = OpNodeData::initWithNodeData(
                __TreeNodeData__{root->IsDirectory(), root->IsDeleted(), 1, root});
            item->setExpandAble(1);
            roots->push_back(item);
        }
    }
    AddNodeToArr(roots);
    scan.SetOpTreeFinished(1);
    return 0;
}

void ZRUIOutline::AddNodeToArr(OpNodeArray* roots)
{
    switch (ZRUIScan::instance().GetScanType()) {
    case OPNODE_TYPE_FILE: AddPathNodeToArray(roots); break;
    case OPNODE_TYPE_FILE_TYPE: AddTypeNodeToArr(roots); break;
    case OPNODE_TYPE_CREATE_TIME:
    case OPNODE_TYPE_MODIFY_TIME:
    case OPNODE_TYPE_ACCESS_TIME: AddDateNodeToArray(roots); break;
    default: break;
    }
}

void ZRUIOutline::AddPathNodeToArray(OpNodeArray* items)
{
    if (!items)
        return;
    ZRUIScan& scan = ZRUIScan::instance();
    // Every item of the outline, without recursion: folders nest as deep
    // as a damaged disk makes them.
    std::vector<OpNodeData*> pending;
    for (auto it = items->rbegin(); it != items->rend(); ++it)
        if (*it)
            pending.push_back(it->get());
    while (!pending.empty()) {
        OpNodeData* item = pending.back();
        pending.pop_back();
        if (item->fileNode() && item->isExpandAble()) {
            std::unordered_set<IFileNode*> wrapped;
            bool wrappedKnown = false;
            outline_detail::ForEachChild(item->fileNode(), [&](IFileNode* child) {
                if (!child->IsDirectory() || !child->IsNodeShow() || !scan.FindRemoveData(child))
                    return true;
                if (!wrappedKnown) {
                    for (const OpNodeChild& c : item->children())
                        if (c.isItem() && c.item()->fileNode())
                            wrapped.insert(c.item()->fileNode());
                    wrappedKnown = true;
                }
                // A folder the engine delivered twice is shown once.
                if (!wrapped.insert(child).second)
                    return true;
                OpNodeDataPtr folder = OpNodeData::initWithNodeData(__TreeNodeData__{0, 0, 0, child});
                folder->setExpandAble(1);
                folder->setParent(item);
                item->addChildObject(folder);
                return true;
            });
        }
        const OpNodeChildren& children = item->children();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (it->isItem())
                pending.push_back(it->item());
    }
}

void ZRUIOutline::AddTypeNodeToArr(OpNodeArray* roots)
{
    if (!roots)
        return;
    roots->clear();
    ZRTypeMgr& types = ZRTypeMgr::share();
    types.refreshTypeTree();
    for (const OpNodeDataPtr& group : types.getRootNode())
        roots->push_back(group);
}

void ZRUIOutline::AddDateNodeToArray(OpNodeArray* roots)
{
    if (!roots)
        return;
    if (roots->empty()) {
        const int viewType = ZRUIScan::instance().GetScanType();
        OpNodeDataPtr root = OpNodeData::initWithNodeData(__TreeNodeData__{1, 1, 0, nullptr});
        root->setExpandAble(1);
        root->setType(viewType);
        root->setFadeName(OutlineLocalizedString(TimeRootKey(viewType)));
        roots->push_back(root);
    }
    ZRTimeMgr::share().refreshTimeTree(roots->front().get());
}

bool ZRUIOutline::IsFileNode(IFileNode* node, const OpNodeArray* items)
{
    if (!items)
        return false;
    for (const OpNodeDataPtr& item : *items)
        if (item && item->fileNode() == node)
            return true;
    return false;
}

bool ZRUIOutline::IsFileNode(IFileNode* node, const OpNodeChildren* items)
{
    if (!items)
        return false;
    for (const OpNodeChild& child : *items)
        if (child.isItem() && child.item()->fileNode() == node)
            return true;
    return false;
}

int ZRUIOutline::GetFileNodeToArray(FileNodeArray* files, OpNodeData* item)
{
    if (!item)
        return 0;
    switch (item->type()) {
    case OPNODE_TYPE_CREATE_TIME:
    case OPNODE_TYPE_MODIFY_TIME:
    case OPNODE_TYPE_ACCESS_TIME: return GetDateInfoToArray(files, item);
    case OPNODE_TYPE_FILE_TYPE: return GetTypeInfoToArray(files, item);
    case OPNODE_TYPE_FILE: return GetPathInfoToArray(files, item);
    default: return 0;
    }
}

int ZRUIOutline::GetPathInfoToArray(FileNodeArray* files, OpNodeData* item)
{
    if (!files || !item || !item->isDirect() || !item->fileNode())
        return 0;
    files->clear();
    outline_detail::ForEachChild(item->fileNode(), [files](IFileNode* child) {
        if (!child->IsDirectory() && child->IsNodeShow())
            files->push_back(FileNodeToValue(child));
        return true;
    });
    return 1;
}

int ZRUIOutline::GetTypeInfoToArray(FileNodeArray* files, OpNodeData* item)
{
    if (!item)
        return 0;
    if (files)
        files->clear();
    if (!item->parent() && !ZRTypeMgr::share().isOtherNode(item))
        return 1;
    if (files)
        AppendFiles(files, item->children());
    return 0;
}

int ZRUIOutline::GetDateInfoToArray(FileNodeArray* files, OpNodeData* item)
{
    if (!item)
        return 0;
    time_t when;
    switch (item->type()) {
    case OPNODE_TYPE_CREATE_TIME: when = item->createtime(); break;
    case OPNODE_TYPE_MODIFY_TIME: when = item->modifytime(); break;
    default: when = std::time(nullptr); break;
    }
    int year = 0;
    ZRCPPPublic::instance().GetYearMonthByTimeT(&year, nullptr, when);
    if (!files)
        return 0;
    files->clear();
    // A month item: its name is not the year.
    if (item->parent() && item->name() != QString::asprintf("%04d", year))
        AppendFiles(files, item->children());
    return 0;
}

void ZRUIOutline::GetSearchResultToArr(FileNodeArray* files)
{
    if (!files || !ZRUISearch::instance().GetSearchKey())
        return;
    for (const auto& [bit, list] : ZRUIScan::instance().GetTypeMap())
        for (IFileNode* node : list)
            if (node && node->IsNodeShow())
                files->push_back(FileNodeToValue(node));
}

long long ZRUIOutline::GetNodeChildrenCnt(OpNodeData* item) { return GetTimeNodeChildrenCnt(item); }

long long ZRUIOutline::GetTimeNodeChildrenCnt(OpNodeData* item)
{
    if (!item)
        return 0;
    long long total = 0;
    const OpNodeChildren& children = item->children();
    if (!item->parent() && (item->type() == OPNODE_TYPE_CREATE_TIME || item->type() == OPNODE_TYPE_MODIFY_TIME)) {
        for (const OpNodeChild& child : children)
            if (child.isItem())
                total += GetNodeChildrenCnt(child.item());
        return total;
    }
    for (const OpNodeChild& child : children) {
        if (!child.isItem())
            return total + static_cast<long long>(children.size());
        total += static_cast<long long>(child.item()->children().size());
    }
    return total;
}

void ZRUIOutline::RefreshTypeTreeState(OpNodeData* item)
{
    if (item)
        ZRTypeMgr::share().setNodeState(item);
    else
        ZRTypeMgr::share().refreshTypeTreeState();
}

void ZRUIOutline::RefreshTimeTreeState(const OpNodeArray* roots)
{
    if (!roots)
        return;
    ZRUIScan& scan = ZRUIScan::instance();
    std::map<int, TimeMap> maps;
    for (const OpNodeDataPtr& root : *roots) {
        if (!root)
            continue;
        for (const OpNodeChild& yearChild : root->children()) {
            OpNodeData* yearItem = yearChild.item();
            if (!yearItem)
                continue;
            for (const OpNodeChild& monthChild : yearItem->children()) {
                OpNodeData* monthItem = monthChild.item();
                if (!monthItem)
                    continue;
                const int viewType = monthItem->type();
                static const GroupFiles s_none;
                const GroupFiles* list = &s_none;
                if (viewType == OPNODE_TYPE_CREATE_TIME || viewType == OPNODE_TYPE_MODIFY_TIME) {
                    auto known = maps.find(viewType);
                    if (known == maps.end())
                        known = maps.emplace(viewType, viewType == OPNODE_TYPE_CREATE_TIME ? scan.GetCreateTimeMap()
                                                                                            : scan.GetModifyTimeMap())
                                    .first;
                    int year = 0;
                    int month = 0;
                    ZRCPPPublic::instance().GetYearMonthByTimeT(
                        &year, &month,
                        viewType == OPNODE_TYPE_CREATE_TIME ? monthItem->createtime() : monthItem->modifytime());
                    auto y = known->second.find(year);
                    if (y != known->second.end()) {
                        auto m = y->second.find(month);
                        if (m != y->second.end())
                            list = &m->second;
                    }
                }
                setNodeState(monthItem, *list);
            }
        }
    }
}

void ZRUIOutline::setNodeState(OpNodeData* item, const std::vector<IFileNode*>& witchVector)
{
    if (!item)
        return;
    long long sum = 0;
    long long count = 0;
    for (IFileNode* node : witchVector) {
        if (!node || !node->IsNodeShow())
            continue;
        sum += node->GetCheckedStatus();
        ++count;
    }
    int state = CHECKED_PARTLY;
    if (sum == 0)
        state = CHECKED_NONE;
    else if (sum == 2 * count)
        state = CHECKED_ALL;
    // The groups above follow; the files below already hold their states.
    item->setParentNodeState(state);
}

QString ZRUIOutline::getImageForType(const QString& extension) { return ZRTypeMgr::share().getImageForType(extension); }

void ZRUIOutline::initFileType()
{
    std::map<int, std::string> lists = GetFileTypeListsFromTypeMgr();
    CFileTypeManager::Initialze(lists);
}
