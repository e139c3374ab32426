#include "ZRTimeMgr.h"

#include <ctime>
#include <iterator>

#include "BridgeUtil.h"
#include "IFileNode.h"
#include "ZRUIScan.h"

namespace {

bool IsTimeView(int viewType) { return viewType == OPNODE_TYPE_CREATE_TIME || viewType == OPNODE_TYPE_MODIFY_TIME; }

// The digits of a plain decimal number without its leading zeros, or an
// empty text when name is not one.
QString Digits(const QString& name)
{
    if (name.isEmpty())
        return QString();
    qsizetype first = -1;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return QString();
        if (first < 0 && c != QLatin1Char('0'))
            first = i;
    }
    return first < 0 ? QStringLiteral("0") : name.mid(first);
}

// Names of years and months are zero-padded numbers; a year past 9999 has
// more digits and must still sort after the four-digit ones.
int CompareNames(const QString& a, const QString& b)
{
    const QString x = Digits(a);
    const QString y = Digits(b);
    if (!x.isEmpty() && !y.isEmpty()) {
        if (x.size() != y.size())
            return x.size() < y.size() ? -1 : 1;
        return QString::compare(x, y);
    }
    return QString::compare(a, b, Qt::CaseInsensitive);
}

void InsertInOrder(OpNodeData* parent, const OpNodeDataPtr& item)
{
    const int index = ZRTimeMgr::GetDateInsertIndex(item->fadeName(), parent->children());
    OpNodeChildren& children = parent->children();
    if (index < 0)
        children.emplace_back(item);
    else
        children.insert(children.begin() + index, OpNodeChild(item));
}

TimeMap TimeMapOfView(int viewType)
{
    ZRUIScan& scan = ZRUIScan::instance();
    switch (viewType) {
    case OPNODE_TYPE_CREATE_TIME: return scan.GetCreateTimeMap();
    case OPNODE_TYPE_MODIFY_TIME: return scan.GetModifyTimeMap();
    case OPNODE_TYPE_ACCESS_TIME: return scan.GetAccessTimeMap();
    default: return TimeMap();
    }
}

unsigned long long FileTimeOfView(IFileNode* file, int viewType)
{
    switch (viewType) {
    case OPNODE_TYPE_CREATE_TIME: return file->GetCreationTime();
    case OPNODE_TYPE_MODIFY_TIME: return file->GetModificationTime();
    case OPNODE_TYPE_ACCESS_TIME: return file->GetLastAccessTime();
    default: return 0;
    }
}

}  // namespace

ZRTimeMgr& ZRTimeMgr::share()
{
    static ZRTimeMgr* const s_instance = new ZRTimeMgr();
    return *s_instance;
}

void ZRTimeMgr::refreshTimeTree(OpNodeData* root)
{
    if (!root)
        return;
    const int viewType = ZRUIScan::instance().GetScanType();
    // The window makes a new root when it changes view or starts over; the
    // years of the old root are not in it, so the tree starts afresh.
    RootLink& link = m_mapRoot[viewType];
    const bool sameRoot = link.raw == root && (!link.owned || !link.weak.expired());
    if (!sameRoot) {
        ForgetView(viewType);
        link.raw = root;
        link.weak = root->weak_from_this();
        link.owned = !link.weak.expired();
    }

    const TimeMap times = TimeMapOfView(viewType);
    for (const auto& [year, months] : times) {
        for (const auto& [month, list] : months) {
            const size_t start = getIndex(year, month, viewType);
            if (start >= list.size())
                continue;
            auto it = std::next(list.begin(), static_cast<std::ptrdiff_t>(start));
            for (size_t i = start; it != list.end(); ++it, ++i) {
                setIndex(i + 1, year, month, viewType);
                IFileNode* file = *it;
                if (!file || file->IsDirectory() || FileTimeOfView(file, viewType) == 0 || !file->IsNodeShow())
                    continue;
                AddFileNode(file, root);
            }
        }
    }
}

void ZRTimeMgr::AddFileNode(IFileNode* file, OpNodeData* root)
{
    const int viewType = ZRUIScan::instance().GetScanType();
    if (!file || !root || !IsTimeView(viewType))
        return;
    int year = 0;
    int month = 0;
    ZRCPPPublic::instance().GetYearMonthByFileTime(&year, &month, U64ToFileTime(FileTimeOfView(file, viewType)));
    if (year < 1 || month <= 0)
        return;
    const OpNodeChild entry(FileNodeToValue(file));
    auto& years = m_mapYears[viewType];
    auto found = years.find(year);
    if (found == years.end()) {
        OpNodeDataPtr yearItem = insertYear(year, root);
        insertMonth(month, year, yearItem.get())->addChildObject(entry);
        return;
    }
    auto& months = m_mapMonths[viewType][year];
    auto monthItem = months.find(month);
    OpNodeData* target =
        monthItem != months.end() ? monthItem->second.get() : insertMonth(month, year, found->second.get()).get();
    target->addChildObject(entry);
}

OpNodeDataPtr ZRTimeMgr::insertYear(int year, OpNodeData* root)
{
    const int viewType = ZRUIScan::instance().GetScanType();
    OpNodeDataPtr item = OpNodeData::initWithNodeData(__TreeNodeData__{});
    item->setType(viewType);
    item->setFadeName(QString::asprintf("%04d", year));
    item->setExpandAble(1);
    item->setParent(root);
    InsertInOrder(root, item);
    m_mapYears[viewType][year] = item;
    return item;
}

OpNodeDataPtr ZRTimeMgr::insertMonth(int month, int year, OpNodeData* yearItem)
{
    const int viewType = ZRUIScan::instance().GetScanType();
    OpNodeDataPtr item = OpNodeData::initWithNodeData(__TreeNodeData__{});
    item->setType(viewType);
    item->setFadeName(QString::asprintf("%02d", month));
    item->setExpandAble(0);
    item->setParent(yearItem);

    // The item's time names its year and month for the lookups of the
    // outline. The first of the month: keeping today's day would carry the
    // 31st of a short month over into the next one.
    const time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = 1;
    local.tm_isdst = -1;
    const time_t when = std::mktime(&local);
    if (viewType == OPNODE_TYPE_CREATE_TIME) {
        item->setCreateTime(when);
        yearItem->setCreateTime(when);
    } else if (viewType == OPNODE_TYPE_MODIFY_TIME) {
        item->setModifyTime(when);
        yearItem->setModifyTime(when);
    }
    InsertInOrder(yearItem, item);
    m_mapMonths[viewType][year][month] = item;
    return item;
}

int ZRTimeMgr::GetDateInsertIndex(const QString& name, const OpNodeChildren& items)
{
    for (size_t i = 0; i < items.size(); ++i) {
        const OpNodeData* item = items[i].item();
        if (item && CompareNames(item->name(), name) > 0)
            return static_cast<int>(i);
    }
    return -1;
}

size_t ZRTimeMgr::getIndex(int year, int month, int viewType) const
{
    auto view = m_mapConsumed.find(viewType);
    if (view == m_mapConsumed.end())
        return 0;
    auto it = view->second.find(year * 100 + month);
    return it == view->second.end() ? 0 : it->second;
}

void ZRTimeMgr::setIndex(size_t index, int year, int month, int viewType)
{
    m_mapConsumed[viewType][year * 100 + month] = index;
}

void ZRTimeMgr::initMap() { m_mapConsumed.clear(); }

void ZRTimeMgr::EmptyRoot(int viewType)
{
    // The years of the old tree would stand beside the rebuilt ones.
    auto it = m_mapRoot.find(viewType);
    if (it == m_mapRoot.end() || !it->second.owned)
        return;
    if (OpNodeDataPtr root = it->second.weak.lock())
        root->children().clear();
}

void ZRTimeMgr::ForgetView(int viewType)
{
    EmptyRoot(viewType);
    m_mapYears.erase(viewType);
    m_mapMonths.erase(viewType);
    m_mapConsumed.erase(viewType);
}

void ZRTimeMgr::clear()
{
    for (const auto& [viewType, link] : m_mapRoot)
        EmptyRoot(viewType);
    initMap();
    m_mapYears.clear();
    m_mapMonths.clear();
}

void ZRTimeMgr::setSearch(int) { clear(); }
