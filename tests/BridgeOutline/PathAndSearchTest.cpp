// The folder outline as the engine delivers folders, the file list of a
// folder, and the name search with its hand-over to the trees.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <memory>

#include "OutlineTestSupport.h"
#include "ZRTimeMgr.h"
#include "ZRTypeMgr.h"
#include "ZRUIOperation.h"
#include "ZRUIOutline.h"
#include "ZRUIScan.h"
#include "ZRUISearch.h"

namespace {

std::vector<std::string> ItemNames(const OpNodeData* item)
{
    std::vector<std::string> names;
    for (const OpNodeChild& child : item->children())
        if (child.isItem())
            names.push_back(child.item()->name().toStdString());
    return names;
}

std::set<std::string> FileNames(const FileNodeArray& files)
{
    std::set<std::string> names;
    for (FileNodeValue value : files)
        names.insert(OpNodeData::fileNodeName(value).toStdString());
    return names;
}

// Collects the names posted while it lives and lets the test wait for one.
class Posts {
public:
    Posts()
    {
        m_iId = ZRUINotify::AddObserver([this](const std::string& name) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_names.push_back(name);
            m_cv.notify_all();
        });
    }
    ~Posts() { ZRUINotify::RemoveObserver(m_iId); }
    bool WaitFor(const std::string& name, size_t count = 1)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_cv.wait_for(guard, std::chrono::seconds(30), [&] {
            return static_cast<size_t>(std::count(m_names.begin(), m_names.end(), name)) >= count;
        });
    }

private:
    int m_iId;
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<std::string> m_names;
};

bool Search(const std::string& key)
{
    Posts posts;
    ZRUISearch& search = ZRUISearch::instance();
    if (!search.DoSearchWithString(key, "DoSearchValue"))
        return false;
    const bool done = posts.WaitFor("DoSearchValue");
    search.StopSearch();
    return done;
}

}  // namespace

TEST(PathOutline, FoldersAppearOnceAsTheyAreDelivered)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    TestNode* docs = result.Folder(root, "docs");
    result.File(docs, "a.txt");
    result.Deliver();

    ZRUIScan::instance().SetScanType(OPNODE_TYPE_FILE);
    OpNodeArray roots;
    EXPECT_EQ(ZRUIOutline::GetScanTreeNodeData(&roots, 0), 0);
    ASSERT_EQ(roots.size(), 1u);
    OpNodeData* top = roots[0].get();
    EXPECT_EQ(top->fileNode(), root);
    EXPECT_EQ(top->isFileSystem(), 1);
    EXPECT_TRUE(top->isExpandAble());
    EXPECT_EQ(top->nodeType(), OPNODE_KIND_FILESYSTEM);
    EXPECT_EQ(ZRUIScan::instance().IsOpTreeFinished(), 1);
    ASSERT_EQ(ItemNames(top), (std::vector<std::string>{"docs"}));

    // More folders, one of them deeper, one hidden; docs comes again.
    TestNode* sub = result.Folder(docs, "sub");
    result.File(sub, "b.txt");
    TestNode* music = result.Folder(root, "music");
    TestNode* secret = result.Folder(root, "secret");
    secret->ShowNode(0);
    result.Deliver();
    result.Redeliver(docs);
    ZRUIOutline::GetScanTreeNodeData(&roots, 0);
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(ItemNames(top), (std::vector<std::string>{"docs", "music"}));
    OpNodeData* docsItem = top->children()[0].item();
    EXPECT_EQ(docsItem->parent(), top);
    EXPECT_EQ(ItemNames(docsItem), (std::vector<std::string>{"sub"}));
    (void)music;

    // After a search every folder is pending again; still no doubles.
    ZRUIScan::instance().RefreshAllData();
    ZRUIOutline::GetScanTreeNodeData(&roots, 0);
    EXPECT_EQ(ItemNames(top), (std::vector<std::string>{"docs", "music"}));
    EXPECT_EQ(ItemNames(docsItem), (std::vector<std::string>{"sub"}));

    // The clear flag shows and unchecks every root.
    root->SetCheck(CHECKED_ALL);
    ZRUIOutline::GetScanTreeNodeData(&roots, 1);
    EXPECT_EQ(root->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(ZRUIOutline::GetScanTreeNodeData(nullptr, 1), 0);
}

TEST(PathOutline, DeepFolderChainsBuildWithoutRecursion)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    CFileNode* at = root;
    constexpr int kDepth = 100000;
    for (int i = 0; i < kDepth; ++i)
        at = result.Folder(at, "d");
    result.Deliver();
    ZRUIScan::instance().SetScanType(OPNODE_TYPE_FILE);
    OpNodeArray roots;
    ZRUIOutline::GetScanTreeNodeData(&roots, 0);
    ASSERT_EQ(roots.size(), 1u);
    int depth = 0;
    for (OpNodeData* item = roots[0].get(); !item->children().empty(); item = item->children()[0].item())
        ++depth;
    EXPECT_EQ(depth, kDepth);
}

TEST(PathOutline, FolderFileLists)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    TestNode* docs = result.Folder(root, "docs");
    result.File(docs, "a.txt");
    TestNode* hidden = result.File(docs, "b.txt");
    hidden->ShowNode(0);
    result.Folder(docs, "inner");
    result.Deliver();
    OpNodeDataPtr item = OpNodeData::initWithNodeData(__TreeNodeData__{1, 0, 0, docs});
    FileNodeArray files{1, 2, 3};
    EXPECT_EQ(ZRUIOutline::GetFileNodeToArray(&files, item.get()), 1);
    EXPECT_EQ(FileNames(files), (std::set<std::string>{"a.txt"}));
    EXPECT_EQ(ZRUIOutline::GetPathInfoToArray(nullptr, item.get()), 0);
    EXPECT_EQ(ZRUIOutline::GetFileNodeToArray(&files, nullptr), 0);
    // A file's item lists nothing.
    OpNodeDataPtr fileItem = OpNodeData::initWithFileNode(FileNodeToValue(hidden));
    EXPECT_EQ(ZRUIOutline::GetPathInfoToArray(&files, fileItem.get()), 0);

    // A child chain that loops back lists each file once, wherever the
    // loop closes.
    for (int loopTo : {0, 1, 2, 3}) {
        ChainNode loop("loop", 100, true);
        std::vector<std::unique_ptr<ChainNode>> chain;
        for (int i = 0; i < 4; ++i)
            chain.push_back(std::make_unique<ChainNode>("f" + std::to_string(i), 101 + i, false));
        loop.m_pFirst = chain[0].get();
        for (int i = 0; i + 1 < 4; ++i)
            chain[i]->m_pNext = chain[i + 1].get();
        chain[3]->m_pNext = chain[loopTo].get();
        OpNodeDataPtr loopItem = OpNodeData::initWithNodeData(__TreeNodeData__{1, 0, 0, &loop});
        EXPECT_EQ(ZRUIOutline::GetPathInfoToArray(&files, loopItem.get()), 1);
        EXPECT_EQ(files.size(), 4u) << loopTo;
        EXPECT_EQ(FileNames(files), (std::set<std::string>{"f0", "f1", "f2", "f3"})) << loopTo;
        EXPECT_FALSE(loopItem->isHasFolderChildren());
    }
}

TEST(NameSearch, MatchesPartsOfNamesIgnoringCase)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    TestNode* pics = result.Folder(root, "pics");
    TestNode* photo = result.File(pics, "photo_01.png", FileTimeOfDate(2020, 5, 1));
    TestNode* holiday = result.File(pics, "Holiday.JPG", FileTimeOfDate(2020, 5, 2));
    TestNode* jpg2 = result.File(root, "jpg2", FileTimeOfDate(2021, 6, 1));
    TestNode* song = result.File(root, "song.mp3", FileTimeOfDate(2021, 6, 2));
    TestNode* accent = result.File(root, "\xc3\x89t\xc3\xa9.txt");
    result.Deliver();
    ZRUISearch& search = ZRUISearch::instance();

    struct Case {
        std::string key;
        std::set<IFileNode*> shown;
    };
    const std::vector<Case> cases = {
        {"PHOTO", {photo}},
        {"jpg", {holiday, jpg2}},
        {"o_0", {photo}},
        {"\xc3\xa9T\xc3\x89", {accent}},
        {"nothing-like-it", {}},
        {"*", {}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Search(c.key)) << c.key;
        EXPECT_EQ(search.GetSearchString(), c.key);
        FileNodeArray listed;
        ZRUIOutline::GetSearchResultToArr(&listed);
        std::set<IFileNode*> got;
        for (FileNodeValue v : listed)
            got.insert(ValueToFileNode(v));
        EXPECT_EQ(got, c.shown) << c.key;
        for (IFileNode* f : {static_cast<IFileNode*>(photo), static_cast<IFileNode*>(holiday),
                             static_cast<IFileNode*>(jpg2), static_cast<IFileNode*>(song),
                             static_cast<IFileNode*>(accent)})
            EXPECT_EQ(f->IsNodeShow() != 0, c.shown.count(f) == 1) << c.key << " " << f->GetFileName();
    }

    // The trees are rebuilt from the shown files only.
    ASSERT_TRUE(Search("song"));
    ZRUIScan::instance().SetScanType(OPNODE_TYPE_CREATE_TIME);
    OpNodeArray timeRoots;
    ZRUIOutline::GetScanTreeNodeData(&timeRoots, 0);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(timeRoots[0].get()), 1);
    ZRUIScan::instance().SetScanType(OPNODE_TYPE_FILE_TYPE);
    OpNodeArray typeRoots;
    ZRUIOutline::GetScanTreeNodeData(&typeRoots, 0);
    long long total = 0;
    for (const OpNodeDataPtr& group : typeRoots)
        total += ZRUIOutline::GetNodeChildrenCnt(group.get());
    EXPECT_EQ(total, 1);

    // An empty key shows everything again and leaves no key behind.
    ASSERT_TRUE(Search(""));
    for (TestNode* f : {photo, holiday, jpg2, song, accent})
        EXPECT_TRUE(f->IsNodeShow()) << f->m_name;
    EXPECT_FALSE(search.GetSearchKey().has_value());
    EXPECT_EQ(search.GetSearchString(), "");
    FileNodeArray listed;
    ZRUIOutline::GetSearchResultToArr(&listed);
    EXPECT_TRUE(listed.empty());
    ZRUIOutline::GetScanTreeNodeData(&typeRoots, 0);
    total = 0;
    for (const OpNodeDataPtr& group : typeRoots)
        total += ZRUIOutline::GetNodeChildrenCnt(group.get());
    EXPECT_EQ(total, 5);
    ZRUIScan::instance().SetScanType(OPNODE_TYPE_CREATE_TIME);
    ZRUIOutline::GetScanTreeNodeData(&timeRoots, 0);
    EXPECT_EQ(ZRUIOutline::GetNodeChildrenCnt(timeRoots[0].get()), 4);
}

TEST(NameSearch, KeyStorage)
{
    FakeResult result;
    ZRUISearch& search = ZRUISearch::instance();
    search.SetSearchKey("abc");
    search.SetSearchKey(nullptr);
    EXPECT_EQ(search.GetSearchString(), "abc");
    search.SetSearchKey("");
    EXPECT_FALSE(search.GetSearchKey().has_value());
    EXPECT_EQ(search.IsSearching(), 0);
    search.SetSearching(1);
    EXPECT_EQ(search.IsSearching(), 1);
    search.StopSearch();
    EXPECT_EQ(search.IsSearching(), 0);
}

TEST(NameSearch, FoldersStayInThePathOutline)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    TestNode* docs = result.Folder(root, "docs");
    TestNode* report = result.File(docs, "report.pdf");
    TestNode* photo = result.File(root, "photo.jpg");
    result.Deliver();
    ZRUIScan::instance().SetScanType(OPNODE_TYPE_FILE);
    OpNodeArray roots;
    ZRUIOutline::GetScanTreeNodeData(&roots, 0);
    ASSERT_EQ(ItemNames(roots[0].get()), (std::vector<std::string>{"docs"}));

    ASSERT_TRUE(Search("photo"));
    EXPECT_FALSE(report->IsNodeShow());
    EXPECT_TRUE(photo->IsNodeShow());
    ZRUIOutline::GetScanTreeNodeData(&roots, 0);
    ASSERT_EQ(ItemNames(roots[0].get()), (std::vector<std::string>{"docs"}));
    FileNodeArray files;
    ZRUIOutline::GetFileNodeToArray(&files, roots[0]->children()[0].item());
    EXPECT_TRUE(files.empty());
    ZRUIOutline::GetFileNodeToArray(&files, roots[0].get());
    EXPECT_EQ(FileNames(files), (std::set<std::string>{"photo.jpg"}));
    ASSERT_TRUE(Search(""));
}

TEST(NameSearch, ASecondStartWhileFlaggedIsRefused)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    TestNode* a = result.File(root, "alpha.txt");
    TestNode* b = result.File(root, "beta.txt");
    result.Deliver();
    ZRUISearch& search = ZRUISearch::instance();
    Posts posts;
    ASSERT_TRUE(search.DoSearchWithString("alpha", "DoSearchValue"));
    // Flagged until the window stops it, even after the thread ended.
    EXPECT_FALSE(search.DoSearchWithString("beta", "DoSearchValue"));
    ASSERT_TRUE(posts.WaitFor("DoSearchValue"));
    EXPECT_FALSE(search.DoSearchWithString("beta", "DoSearchValue"));
    EXPECT_EQ(search.GetSearchString(), "alpha");
    EXPECT_TRUE(a->IsNodeShow());
    EXPECT_FALSE(b->IsNodeShow());
    search.StopSearch();
    ASSERT_TRUE(Search(""));
}

TEST(NameSearch, FilesArrivingDuringASearchKeepTheirFlag)
{
    FakeResult result;
    CFilesystemNode* root = result.Root("VOL");
    TestNode* early = result.File(root, "early.log");
    result.Deliver();
    ASSERT_TRUE(Search("match"));
    EXPECT_FALSE(early->IsNodeShow());
    // Delivered after the search took its copy: shown as the engine gave it.
    TestNode* late = result.File(root, "late.log");
    result.Deliver();
    EXPECT_TRUE(late->IsNodeShow());
    FileNodeArray listed;
    ZRUIOutline::GetSearchResultToArr(&listed);
    EXPECT_EQ(FileNames(listed), (std::set<std::string>{"late.log"}));

    // A search running while the sink keeps taking batches on another
    // thread finishes and leaves the files it saw filtered.
    std::vector<TestNode*> first;
    for (int i = 0; i < 2000; ++i)
        first.push_back(result.File(root, (i % 2 ? "keep_" : "drop_") + std::to_string(i)));
    result.Deliver();
    std::vector<TestNode*> more;
    for (int i = 0; i < 2000; ++i)
        more.push_back(new TestNode("more_" + std::to_string(i)));
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        for (TestNode* node : more) {
            IFileNode* n = node;
            ZRUIScan::instance().ShowNodes(&n, 1, 0);
        }
        stop = true;
    });
    ASSERT_TRUE(Search("KEEP"));
    feeder.join();
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(first[i]->IsNodeShow() != 0, i % 2 == 1) << first[i]->m_name;
    EXPECT_TRUE(stop.load());
    ASSERT_TRUE(Search(""));
    ZRUIScan::instance().ClearData();
    for (TestNode* node : more)
        delete node;
}
