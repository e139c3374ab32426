// The outline, the trees and the search over a real scan: a FAT16 image made
// by mkfs.fat and mtools, scanned by the scan operation on its worker
// thread, then shown the way the results window asks for it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>

#include "BridgeMachine.h"
#include "BridgeTestSupport.h"
#include "DirectoryTreeBuilder.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "FileTypeLists.h"
#include "FileTypeManager.h"
#include "IFileNode.h"
#include "TestSupport.h"
#include "ZRTimeMgr.h"
#include "ZRTypeMgr.h"
#include "ZRUIDeviceData.h"
#include "ZRUIOperation.h"
#include "ZRUIOutline.h"
#include "ZRUIRecovery.h"
#include "ZRUIScan.h"
#include "ZRUISearch.h"

namespace {

void TheMachine() { ListBridgeMachine(false); }

// Scans the image volume the way the facade does: both trees emptied, the
// operation running, the worker and state-query threads started.
bool ScanImageVolume()
{
    TheMachine();
    IStorageDevice* volume = ZRUIDeviceData::instance().GetStorageByDiskVolumeIndex(0, 0);
    if (!volume)
        return false;
    ZRUIScan& scan = ZRUIScan::instance();
    ZRUIFilter::instance().ResetFilter(127);
    ZRTypeMgr::share().clear();
    ZRTimeMgr::share().clear();
    scan.SetDeepScan(0);
    scan.SetShouldBuildTree(1);
    scan.SetStatus(OPERATION_STATUS_RUNNING);
    auto done = std::make_shared<std::atomic<bool>>(false);
    if (!ZRUIOperationThreads::DoOperation(
            [done, volume] {
                ZRUIScan::instance().DoScan(volume, nullptr);
                *done = true;
            },
            &scan, "NormalScranValue"))
        return false;
    return PumpUntil([&] { return done->load() && scan.IsOperationExit(); });
}

std::set<std::string> FileNames(const FileNodeArray& files)
{
    std::set<std::string> names;
    for (FileNodeValue value : files)
        names.insert(OpNodeData::fileNodeName(value).toStdString());
    return names;
}

OpNodeData* Child(OpNodeData* item, const std::string& name)
{
    for (const OpNodeChild& child : item ? item->children() : OpNodeChildren())
        if (child.isItem() && child.item()->name().toStdString() == name)
            return child.item();
    return nullptr;
}

OpNodeData* Group(const OpNodeArray& roots, _FILTER_TYPE bit)
{
    for (const OpNodeDataPtr& root : roots)
        if (root->name().toStdString() == ZRCPPPublic::instance().FilterTypeToString(bit))
            return root.get();
    return nullptr;
}

FileNodeArray FilesOf(OpNodeData* item)
{
    FileNodeArray files;
    ZRUIOutline::GetFileNodeToArray(&files, item);
    return files;
}

bool SearchFor(const std::string& key)
{
    std::atomic<bool> posted{false};
    const int id = ZRUINotify::AddObserver([&](const std::string& name) {
        if (name == "DoSearchValue")
            posted = true;
    });
    const bool started = ZRUISearch::instance().DoSearchWithString(key, "DoSearchValue");
    const bool done = started && PumpUntil([&] { return posted.load(); });
    ZRUINotify::RemoveObserver(id);
    ZRUISearch::instance().StopSearch();
    return done;
}

}  // namespace

TEST(ScanOutline, ViewsOfARealScan)
{
    EnsureBridgeApp();
    const std::string digest = FileDigest(BridgeImage("vol.img"));
    ASSERT_TRUE(ScanImageVolume());
    ZRUIScan& scan = ZRUIScan::instance();
    ASSERT_EQ(scan.GetScanFileCnt(), 6u);

    // Folders: one file-system root, the folder below it, their files.
    scan.SetScanType(OPNODE_TYPE_FILE);
    OpNodeArray pathRoots;
    ZRUIOutline::GetScanTreeNodeData(&pathRoots, 1);
    ASSERT_EQ(pathRoots.size(), 1u);
    OpNodeData* top = pathRoots[0].get();
    EXPECT_EQ(top->nodeType(), OPNODE_KIND_FILESYSTEM);
    ASSERT_EQ(top->children().size(), 1u);
    OpNodeData* docs = Child(top, "docs");
    ASSERT_NE(docs, nullptr);
    EXPECT_TRUE(docs->isDirect());
    EXPECT_TRUE(top->isHasFolderChildren());
    EXPECT_EQ(FileNames(FilesOf(top)), (std::set<std::string>{"photo.jpg", "song.mp3", "clip.mp4", "#one.txt"}));
    const FileNodeArray docFiles = FilesOf(docs);
    EXPECT_EQ(FileNames(docFiles), (std::set<std::string>{"report.pdf", "data.bin"}));
    for (FileNodeValue value : docFiles) {
        OpNodeDataPtr file = OpNodeData::initWithFileNode(value);
        EXPECT_TRUE(file->path().endsWith(QStringLiteral("/docs/") + file->name())) << file->path().toStdString();
        EXPECT_FALSE(file->modifyTime().isEmpty());
        EXPECT_GT(file->size(), 0);
    }
    // Asked again, nothing is doubled.
    ZRUIOutline::GetScanTreeNodeData(&pathRoots, 0);
    EXPECT_EQ(pathRoots.size(), 1u);
    EXPECT_EQ(top->children().size(), 1u);

    // Types: the lists decide the kind and the folder.
    scan.SetScanType(OPNODE_TYPE_FILE_TYPE);
    OpNodeArray typeRoots;
    ZRUIOutline::GetScanTreeNodeData(&typeRoots, 0);
    ASSERT_EQ(typeRoots.size(), 6u);
    EXPECT_EQ(FileNames(FilesOf(Child(Group(typeRoots, FILTER_TYPE_PICTURE), "jpg"))),
              (std::set<std::string>{"photo.jpg"}));
    EXPECT_EQ(FileNames(FilesOf(Child(Group(typeRoots, FILTER_TYPE_MOVIE), "mp4"))),
              (std::set<std::string>{"clip.mp4"}));
    EXPECT_NE(Child(Group(typeRoots, FILTER_TYPE_DOCUMENT), "pdf"), nullptr);
    EXPECT_EQ(FileNames(FilesOf(Group(typeRoots, FILTER_TYPE_OTHER))), (std::set<std::string>{"data.bin"}));
    long long total = 0;
    for (const OpNodeDataPtr& group : typeRoots)
        total += ZRUIOutline::GetNodeChildrenCnt(group.get());
    EXPECT_EQ(total, 6);

    // Modification time: every file was written in March 2021 (UTC).
    scan.SetScanType(OPNODE_TYPE_MODIFY_TIME);
    OpNodeArray timeRoots;
    ZRUIOutline::GetScanTreeNodeData(&timeRoots, 0);
    ASSERT_EQ(timeRoots.size(), 1u);
    OpNodeData* year = Child(timeRoots[0].get(), "2021");
    ASSERT_NE(year, nullptr);
    ASSERT_EQ(year->children().size(), 1u);
    OpNodeData* march = Child(year, "03");
    ASSERT_NE(march, nullptr);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(timeRoots[0].get()), 6);
    EXPECT_EQ(FilesOf(march).size(), 6u);

    // Checking March checks every file; the type groups follow.
    march->setNodeState(CHECKED_ALL);
    for (FileNodeValue value : FilesOf(march))
        EXPECT_EQ(OpNodeData::fileNodeState(value), CHECKED_ALL);
    EXPECT_EQ(timeRoots[0]->state(), CHECKED_ALL);
    ZRUIOutline::RefreshTypeTreeState(nullptr);
    for (const OpNodeDataPtr& group : typeRoots) {
        if (!group->children().empty()) {
            EXPECT_EQ(group->state(), CHECKED_ALL) << group->name().toStdString();
        }
    }
    ZRUIOutline::RefreshTimeTreeState(&timeRoots);
    EXPECT_EQ(march->state(), CHECKED_ALL);
    timeRoots[0]->setNodeState(CHECKED_NONE);
    EXPECT_EQ(top->state(), CHECKED_NONE);

    // The search narrows every view to the matching file and back.
    ASSERT_TRUE(SearchFor("photo"));
    FileNodeArray found;
    ZRUIOutline::GetSearchResultToArr(&found);
    EXPECT_EQ(FileNames(found), (std::set<std::string>{"photo.jpg"}));
    EXPECT_EQ(FileNames(FilesOf(top)), (std::set<std::string>{"photo.jpg"}));
    EXPECT_TRUE(FilesOf(docs).empty());
    ZRUIOutline::GetScanTreeNodeData(&timeRoots, 0);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(timeRoots[0].get()), 1);
    ASSERT_TRUE(SearchFor(""));
    EXPECT_EQ(FilesOf(top).size(), 4u);
    ZRUIOutline::GetScanTreeNodeData(&timeRoots, 0);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(timeRoots[0].get()), 6);

    // The items go before the next scan releases the nodes.
    pathRoots.clear();
    typeRoots.clear();
    timeRoots.clear();
    ZRTypeMgr::share().clear();
    ZRTimeMgr::share().clear();
    EXPECT_EQ(FileDigest(BridgeImage("vol.img")), digest);
}
