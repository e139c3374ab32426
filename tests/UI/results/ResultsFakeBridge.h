// A scripted engine for the results window's tests: the scan's state, its
// progress figures and the result trees are whatever the test sets, and every
// call the window makes is recorded.
#pragma once

#include <QString>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "NotificationCenter.h"
#include "TestSupport.h"
#include "ZRDeletailBridge.h"
#include "ZRUIPublic.h"

class ResultsFakeBridge : public ZRDeletailBridge {
public:
    // Scan states as the engine keeps them.
    int state = 0;  // 0 idle, 1 stop asked, 2 running, 3 paused
    bool deep = false;
    double percent = 0;
    uint64_t found = 0;
    QString remaining = "-:-:-";
    uint64_t totalSize = 0, totalCount = 0;
    QString searchKey;
    bool searching = false;
    int viewType = 0;
    std::vector<std::string> calls;
    // Roots per view type, handed out by GetScanTreeNodeData.
    std::map<int, ZRNodeArray> roots;
    // Files per tree node.
    std::map<OpNodeData*, FileNodeArray> files;
    // Every file the engine found (for totals, search and unchecking).
    std::vector<TestNode*> allFiles;
    FileNodeArray searchHits;

    int Count(const std::string& call) const
    {
        int n = 0;
        for (const auto& c : calls)
            n += c == call ? 1 : 0;
        return n;
    }
    // The engine's notification of new data, as the state-query thread
    // posts it.
    static void Post() { NotificationCenter::defaultCenter().PostNotification("NormalScranValue", ZRUIPublic::ClassObject()); }

    void DoScanWithData(DiskVolumeNodeData*, const QString&, const void*) override
    {
        calls.push_back("DoScanWithData");
        state = 2;
    }
    void DoDeepScan(const void*, const QString&) override
    {
        calls.push_back("DoDeepScan");
        deep = true;
        state = 2;
    }
    void RestorPostUIUpdate(const QString&, bool save) override
    {
        calls.push_back(save ? "RestorPostUIUpdate:save" : "RestorPostUIUpdate:load");
    }
    bool IsScanRunning() override { return state == 1 || state == 2 || state == 3; }
    bool IsPause() override { return state == 3; }
    bool IsDeepScan() override { return deep; }
    void PauseOrResumeScan() override
    {
        calls.push_back("PauseOrResumeScan");
        if (state == 2)
            state = 3;
        else if (state == 3)
            state = 2;
    }
    void StopScan(int flag) override
    {
        calls.push_back("StopScan:" + std::to_string(flag));
        if (state != 0)
            state = 1;
    }
    void ResetShouldBuild() override { calls.push_back("ResetShouldBuild"); }
    QString GetScanProgress(double& p, uint64_t& count) override
    {
        p = percent;
        count = found;
        return remaining;
    }
    void GetScanFileSize(uint64_t& size, uint64_t& count) override
    {
        size = totalSize;
        count = totalCount;
    }
    void RefreshDeviceInfo() override { calls.push_back("RefreshDeviceInfo"); }
    void SetViewType(int type) override
    {
        calls.push_back("SetViewType:" + std::to_string(type));
        viewType = type;
    }
    void RefreshData() override { calls.push_back("RefreshData"); }
    void GetScanTreeNodeData(ZRNodeArray& array, bool clear) override
    {
        calls.push_back(clear ? "GetScanTreeNodeData:1" : "GetScanTreeNodeData:0");
        if (viewType == 1)
            array.clear();
        for (const OpNodeDataPtr& root : roots[viewType]) {
            bool present = false;
            for (const OpNodeDataPtr& have : array)
                present = present || have == root;
            if (!present)
                array.push_back(root);
        }
    }
    void GetFileNodeToArray(FileNodeArray& out, OpNodeData* node) override
    {
        auto it = files.find(node);
        if (it != files.end())
            out.insert(out.end(), it->second.begin(), it->second.end());
    }
    long long GetNodeChildrenCnt(OpNodeData* node) override
    {
        auto it = files.find(node);
        return it == files.end() ? 0 : static_cast<long long>(it->second.size());
    }
    QImage getImageForType(const QString&) override { return {}; }
    bool DoSearchWithString(const QString& key, const void*, const QString&) override
    {
        calls.push_back("DoSearchWithString:" + key.toStdString());
        if (searching)
            return false;
        searching = true;
        searchKey = key;
        return true;
    }
    QString GetSearchString() override { return searchKey; }
    void StopSearch() override
    {
        calls.push_back("StopSearch");
        searching = false;
    }
    void GetSearchResultToArr(FileNodeArray& out) override
    {
        if (!searchKey.isEmpty())
            out.insert(out.end(), searchHits.begin(), searchHits.end());
    }
    void UnselectedAllNodes() override
    {
        calls.push_back("UnselectedAllNodes");
        for (TestNode* node : allFiles)
            node->SetCheck(CHECKED_NONE);
    }
    void RefreshTypeTreeState(OpNodeData*) override { calls.push_back("RefreshTypeTreeState"); }
    void RefreshTimeTreeState(const ZRNodeArray&) override { calls.push_back("RefreshTimeTreeState"); }
    // Recovery.
    int recoveryState = 0;  // 0 idle, 2 running, 3 paused
    bool sameDevice = false;
    uint64_t recTotal = 0, recDone = 0, recFiles = 0;
    int64_t recError = 0;
    QString recName;
    QString recFolder;
    bool IsRecoveryToSameDevice(const QString&) override { return sameDevice; }
    uint64_t DoRecovery(const ZRNodeArray* roots, const QString& folder, const QString&, const void*) override
    {
        calls.push_back(roots ? "DoRecovery" : "DoRecovery:null");
        recFolder = folder;
        recoveryState = 2;
        return 0;
    }
    bool IsRecoveryRunning() override { return recoveryState == 2 || recoveryState == 3; }
    QString GetRecoveryProgressTotal(uint64_t& total, uint64_t& current, int64_t& error) override
    {
        total = recTotal;
        current = recDone;
        error = recError;
        return recName;
    }
    void PauseOrResumeRecovery() override
    {
        calls.push_back("PauseOrResumeRecovery");
        if (recoveryState == 2)
            recoveryState = 3;
        else if (recoveryState == 3)
            recoveryState = 2;
    }
    void StopRecvoery() override
    {
        calls.push_back("StopRecvoery");
        recoveryState = 0;
    }
    uint64_t GetRecoveridedFiles() override { return recFiles; }
    static void PostRecovery() { NotificationCenter::defaultCenter().PostNotification("DoRecovery", ZRUIPublic::ClassObject()); }

    void GetSelectedFilesAmout(uint32_t& count, uint64_t& size) override
    {
        count = 0;
        size = 0;
        for (TestNode* node : allFiles)
            if (!node->IsDirectory() && node->GetCheckedStatus() == CHECKED_ALL) {
                ++count;
                size += static_cast<uint64_t>(node->GetFileSize());
            }
    }
};
