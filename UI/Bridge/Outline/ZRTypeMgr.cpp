#include "ZRTypeMgr.h"

#include <QMimeDatabase>

#include <algorithm>
#include <cctype>
#include <iterator>

#include "BridgeUtil.h"
#include "FileTypeLists.h"
#include "IFileNode.h"
#include "ZRUIScan.h"

namespace {

constexpr int kTypeBits[] = {FILTER_TYPE_PICTURE, FILTER_TYPE_MUSIC,    FILTER_TYPE_MOVIE,
                             FILTER_TYPE_ARCHIVE, FILTER_TYPE_DOCUMENT, FILTER_TYPE_OTHER};

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> SplitList(const std::string& list)
{
    std::vector<std::string> pieces;
    size_t begin = 0;
    while (begin <= list.size()) {
        size_t end = list.find(';', begin);
        if (end == std::string::npos)
            end = list.size();
        if (end > begin)
            pieces.push_back(list.substr(begin, end - begin));
        begin = end + 1;
    }
    return pieces;
}

OpNodeDataPtr NewGroupItem(const QString& name)
{
    OpNodeDataPtr item = OpNodeData::initWithNodeData(__TreeNodeData__{});
    item->setExpandAble(1);
    item->setFadeName(name);
    item->setType(OPNODE_TYPE_FILE_TYPE);
    return item;
}

}  // namespace

ZRTypeMgr& ZRTypeMgr::share()
{
    static ZRTypeMgr* const s_instance = new ZRTypeMgr();
    return *s_instance;
}

ZRTypeMgr::TypeDictionary ZRTypeMgr::DefaultDictionary()
{
    TypeDictionary result;
    for (const auto& [bit, list] : GetDefaultFileTypeLists())
        result[bit] = SplitList(list);
    result[FILTER_TYPE_OTHER];
    return result;
}

ZRTypeMgr::ZRTypeMgr() { init(DefaultDictionary()); }

void ZRTypeMgr::init(const TypeDictionary& dictionary)
{
    dic = dictionary;
    typeDict.clear();
    for (int bit : kTypeBits) {
        auto it = dic.find(bit);
        if (it == dic.end())
            continue;
        for (const std::string& extension : it->second)
            if (!extension.empty())
                typeDict[Lower(extension)] = bit;
    }
    subNodeDict.clear();
    insertFileNodeMap.clear();
    initRootNode();
    initTypeMap();
}

void ZRTypeMgr::initRootNode()
{
    rootNode.clear();
    for (int bit : kTypeBits)
        rootNode[bit] = createRootNode(bit);
}

void ZRTypeMgr::initTypeMap()
{
    typeIndexMap.clear();
    for (int bit : kTypeBits)
        typeIndexMap[bit] = 0;
}

OpNodeDataPtr ZRTypeMgr::createRootNode(int typeBit)
{
    const std::string title = ZRCPPPublic::instance().FilterTypeToString(static_cast<_FILTER_TYPE>(typeBit));
    return NewGroupItem(QString::fromStdString(title));
}

OpNodeData* ZRTypeMgr::Group(int typeBit) const
{
    auto it = rootNode.find(typeBit);
    return it == rootNode.end() ? nullptr : it->second.get();
}

OpNodeArray ZRTypeMgr::getRootNode() const
{
    OpNodeArray roots;
    for (int bit : kTypeBits)
        if (auto it = rootNode.find(bit); it != rootNode.end())
            roots.push_back(it->second);
    return roots;
}

OpNodeDataPtr ZRTypeMgr::insertSubNodeToTree(const std::string& extension)
{
    const std::string name = Lower(extension);
    auto known = typeDict.find(name);
    OpNodeData* group = Group(known == typeDict.end() ? static_cast<int>(FILTER_TYPE_OTHER) : known->second);
    OpNodeDataPtr folder = NewGroupItem(QString::fromStdString(name));
    folder->setParent(group);
    group->addChildObject(folder);
    subNodeDict[name] = folder;
    return folder;
}

void ZRTypeMgr::refreshTypeTree()
{
    const TypeMap types = ZRUIScan::instance().GetTypeMap();
    OpNodeData* other = Group(FILTER_TYPE_OTHER);
    for (const auto& [bit, list] : types) {
        size_t& start = typeIndexMap[bit];
        if (start >= list.size())
            continue;
        auto it = std::next(list.begin(), static_cast<std::ptrdiff_t>(start));
        for (size_t i = start; it != list.end(); ++it, ++i) {
            start = i;
            IFileNode* node = *it;
            if (!node || !node->IsNodeShow() || !insertFileNodeMap.insert(node).second)
                continue;
            const std::string extension = ZRUIScan::GetNodeExt(node);
            const OpNodeChild entry(FileNodeToValue(node));
            // The group comes from the lists, not from the bit the engine's
            // filter gave the file.
            if (typeDict.count(extension)) {
                auto folder = subNodeDict.find(extension);
                OpNodeData* target =
                    folder != subNodeDict.end() ? folder->second.get() : insertSubNodeToTree(extension).get();
                target->addChildObject(entry);
            } else {
                other->addChildObject(entry);
            }
        }
    }
}

void ZRTypeMgr::setNodeState(OpNodeData* folder)
{
    if (!folder)
        return;
    size_t checked = 0;
    for (const OpNodeChild& child : folder->children()) {
        const int state = child.isItem() ? child.item()->state() : OpNodeData::fileNodeState(child.fileNodeValue());
        if (state == CHECKED_ALL)
            ++checked;
    }
    const size_t total = folder->children().size();
    int state = CHECKED_NONE;
    if (checked > 0 && checked == total)
        state = CHECKED_ALL;
    else if (checked > 0)
        state = CHECKED_PARTLY;
    folder->setNodeState(state);
}

void ZRTypeMgr::refreshTypeTreeState()
{
    for (const OpNodeDataPtr& group : getRootNode()) {
        if (group->children().empty())
            continue;
        if (isOtherNode(group.get())) {
            setNodeState(group.get());
            continue;
        }
        // A copy: the folders' new states do not change the list, but a
        // callee must not be able to pull it from under the loop.
        const OpNodeChildren folders = group->children();
        for (const OpNodeChild& folder : folders)
            if (folder.isItem())
                setNodeState(folder.item());
    }
}

void ZRTypeMgr::clearData()
{
    for (const OpNodeDataPtr& group : getRootNode()) {
        group->setNodeState(CHECKED_NONE);
        // The folders of every group, "other" included, are forgotten with
        // their files, so that no later file lands in a folder that is no
        // longer in the tree.
        for (OpNodeChild& child : group->children()) {
            if (!child.isItem())
                continue;
            subNodeDict.erase(child.item()->fadeName().toStdString());
            child.item()->children().clear();
        }
        group->children().clear();
    }
}

void ZRTypeMgr::clear()
{
    subNodeDict.clear();
    for (const auto& [bit, group] : rootNode) {
        group->children().clear();
        // A group of the last scan must not show its check in the next one,
        // and takes the titles the windows use now.
        group->setParentNodeState(CHECKED_NONE);
        group->setFadeName(createRootNode(bit)->fadeName());
    }
    insertFileNodeMap.clear();
    initTypeMap();
}

void ZRTypeMgr::setSearch(int)
{
    insertFileNodeMap.clear();
    clearData();
    initTypeMap();
}

QString ZRTypeMgr::getImageForType(const QString& extension) const
{
    const std::string name = Lower(extension.toStdString());
    if (name.empty() || !typeDict.count(name))
        return QString();
    static const QMimeDatabase s_mime;
    const QMimeType type = s_mime.mimeTypeForFile(QStringLiteral("x.") + QString::fromStdString(name),
                                                  QMimeDatabase::MatchExtension);
    return type.iconName();
}

std::string ZRTypeMgr::getTypeString(int typeBit) const
{
    std::string joined;
    auto it = dic.find(typeBit);
    if (it == dic.end())
        return joined;
    for (const std::string& extension : it->second) {
        if (!joined.empty())
            joined += ';';
        joined += extension;
    }
    return joined;
}

bool ZRTypeMgr::isOtherNode(const OpNodeData* item) const { return item && item == Group(FILTER_TYPE_OTHER); }

std::map<int, std::string> GetFileTypeListsFromTypeMgr()
{
    std::map<int, std::string> lists;
    for (int i = 0; i < 5; ++i) {
        const int bit = 1 << i;
        std::string list = ZRTypeMgr::share().getTypeString(bit);
        // The engine's table takes plain ASCII words only.
        if (std::any_of(list.begin(), list.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; }))
            list.clear();
        lists[bit] = list;
    }
    return lists;
}
