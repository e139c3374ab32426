// The result trees by time: below a root item the window gives, one item
// per year ("%04d"), below it one per month ("%02d"), and in the months the
// files as FileNodeValue entries, for the creation-time view (2) and the
// modification-time view (3). Years and months stay in ascending order.
// The trees grow incrementally from the scan's time maps.
//
// Main thread only.
#pragma once

#include <QString>

#include <map>
#include <memory>

#include "OpNodeData.h"

class IFileNode;

class ZRTimeMgr {
public:
    static ZRTimeMgr& share();

    // Adds the files of the current view's time map that arrived since the
    // last refresh below root. A root other than the one the view's tree
    // was built in starts that view's tree afresh in it.
    void refreshTimeTree(OpNodeData* root);
    // Files the file into its year and month below root (views 2 and 3).
    void AddFileNode(IFileNode* file, OpNodeData* root);
    OpNodeDataPtr insertYear(int year, OpNodeData* root);
    OpNodeDataPtr insertMonth(int month, int year, OpNodeData* yearItem);
    // Where name goes among items: before the first item whose name is
    // greater (numbers compare as numbers, other names ignoring case);
    // -1 when none is.
    static int GetDateInsertIndex(const QString& name, const OpNodeChildren& items);
    // The number of entries of a month's list already consumed.
    size_t getIndex(int year, int month, int viewType) const;
    void setIndex(size_t index, int year, int month, int viewType);
    void initMap();
    // For a new scan or a search: the trees start afresh (the years already
    // in a root the trees were built in are taken out of it).
    void clear();
    void setSearch(int search);

private:
    ZRTimeMgr() = default;
    void ForgetView(int viewType);
    void EmptyRoot(int viewType);

    // Per view type (2, 3): year -> year item, and year -> month -> month item.
    std::map<int, std::map<int, OpNodeDataPtr>> m_mapYears;
    std::map<int, std::map<int, std::map<int, OpNodeDataPtr>>> m_mapMonths;
    // Per view type (2, 3, 4): year * 100 + month -> entries consumed.
    std::map<int, std::map<int, size_t>> m_mapConsumed;
    // Per view type: the root its tree was built in.
    struct RootLink {
        OpNodeData* raw = nullptr;
        std::weak_ptr<OpNodeData> weak;
        bool owned = false;
    };
    std::map<int, RootLink> m_mapRoot;
};
