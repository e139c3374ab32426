#include <gtest/gtest.h>
#include <pthread.h>

#include <memory>
#include <vector>

#include "FileNode.h"
#include "SearchedPartitionInfo.h"
#include "TestSupport.h"

namespace {

// Owns a forest of test nodes for one test.
struct Forest {
    std::vector<std::unique_ptr<TestNode>> nodes;
    TestNode* Make(const std::string& name = "n", long long id = -1, bool dir = false)
    {
        nodes.push_back(std::make_unique<TestNode>(name, id, dir));
        return nodes.back().get();
    }
};

std::vector<DataRun> Runs(IDataRunList* list)
{
    std::vector<DataRun> out;
    for (DataRun* r = list->GetFirst(); r; r = list->GetNext())
        out.push_back(*r);
    return out;
}

TEST(DataRunList, AddDataRunMergesOnlyAdjacentNonSparseRuns)
{
    struct Case {
        std::vector<DataRun> in;
        std::vector<DataRun> out;
    };
    const Case cases[] = {
        {{{10, 5}, {15, 3}}, {{10, 8}}},
        {{{10, 5}, {16, 3}}, {{10, 5}, {16, 3}}},
        {{{-1, 4}, {3, 2}}, {{-1, 4}, {3, 2}}},
        {{{-1, 4}, {-1, 4}}, {{-1, 4}, {-1, 4}}},
        {{{0, 2}, {2, 2}, {4, 1}, {9, 1}}, {{0, 5}, {9, 1}}},
        // Sums that do not fit (damaged input) are never formed.
        {{{INT64_MAX - 4, 16}, {11, 1}}, {{INT64_MAX - 4, 16}, {11, 1}}},
        {{{0, INT64_MAX}, {INT64_MAX, 1}}, {{0, INT64_MAX}, {INT64_MAX, 1}}},
        {{{8, INT64_MAX - 8}, {INT64_MAX, 0}}, {{8, INT64_MAX - 8}}},
    };
    for (const Case& c : cases) {
        std::unique_ptr<IDataRunList, void (*)(IDataRunList*)> list(CreateDataRunList(),
                                                                    [](IDataRunList* l) { l->Release(); });
        for (const DataRun& r : c.in)
            list->AddDataRun(&r);
        list->AddDataRun(nullptr);
        auto got = Runs(list.get());
        ASSERT_EQ(got.size(), c.out.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].llStart, c.out[i].llStart);
            EXPECT_EQ(got[i].llLength, c.out[i].llLength);
        }
        EXPECT_TRUE(list->IsDone());
        EXPECT_EQ(list->GetDataRunListType(), 5);
        IDataRunList* copy = list->Clone();
        EXPECT_EQ(Runs(copy).size(), got.size());
        copy->Release();
    }
}

TEST(FileNode, NewNodeAndPackedWord)
{
    TestNode n;
    EXPECT_EQ(static_cast<long long>(n.GetStatusWord()), -240);
    EXPECT_EQ(n.GetCheckedStatus(), 0);
    EXPECT_EQ(n.IsNodeShow(), 1);
    EXPECT_EQ(n.GetBelongedPartition(), 0xFFFF);
    EXPECT_EQ(n.GetMetadataStartPosition(), -1);
    EXPECT_EQ(n.GetCurrentNodeID(), -1);
    EXPECT_EQ(n.GetParentNodeID(), -1);
    EXPECT_EQ(n.GetSearcheType(), SEARCHER_NONE);

    const long long sectors[] = {0, 1, 123456789, (1LL << 39) - 1, -1, -(1LL << 39)};
    for (long long s : sectors) {
        n.SetBelongedPartition(7);
        n.SetMetaDataSector(s);
        EXPECT_EQ(n.GetMetadataStartPosition(), s);
        EXPECT_EQ(n.GetBelongedPartition(), 7);
        EXPECT_EQ(n.IsNodeShow(), 1);
        EXPECT_EQ(n.GetStatusWord() & 0xFFFFFF, 0x000710u);
    }
}

TEST(FileNode, CheckAndShowPropagateUpAndDown)
{
    Forest f;
    TestNode* root = f.Make("root", 1, true);
    TestNode* dir = f.Make("dir", 2, true);
    TestNode* a = f.Make("a", 3);
    TestNode* b = f.Make("b", 4);
    ASSERT_EQ(root->AddChild(dir), 1);
    ASSERT_EQ(dir->AddChild(a), 1);
    ASSERT_EQ(dir->AddChild(b), 1);

    a->SetCheck(CHECKED_ALL);
    EXPECT_EQ(dir->GetCheckedStatus(), CHECKED_PARTLY);
    EXPECT_EQ(root->GetCheckedStatus(), CHECKED_PARTLY);
    b->SetCheck(CHECKED_ALL);
    EXPECT_EQ(dir->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(root->GetCheckedStatus(), CHECKED_ALL);
    a->SetCheck(CHECKED_NONE);
    EXPECT_EQ(dir->GetCheckedStatus(), CHECKED_PARTLY);
    b->SetCheck(CHECKED_NONE);
    EXPECT_EQ(root->GetCheckedStatus(), CHECKED_NONE);

    root->SetCheck(CHECKED_ALL);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(b->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(dir->GetCheckedStatus(), CHECKED_ALL);

    // Hidden nodes keep their state and are skipped by a check from above.
    root->SetCheck(CHECKED_NONE);
    b->ShowNode(0);
    EXPECT_EQ(dir->IsNodeShow(), 1);
    a->ShowNode(0);
    EXPECT_EQ(dir->IsNodeShow(), 0);
    EXPECT_EQ(root->IsNodeShow(), 0);
    a->ShowNode(1);
    EXPECT_EQ(dir->IsNodeShow(), 1);
    EXPECT_EQ(root->IsNodeShow(), 1);
    root->SetCheck(CHECKED_ALL);
    EXPECT_EQ(a->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(b->GetCheckedStatus(), CHECKED_NONE);
    // A hidden node cannot be checked.
    b->SetCheck(CHECKED_ALL);
    EXPECT_EQ(b->GetCheckedStatus(), CHECKED_NONE);
}

TEST(FileNode, AddChildRefusals)
{
    Forest f;
    TestNode* root = f.Make("root", 1, true);
    TestNode* mid = f.Make("mid", 2, true);
    TestNode* leaf = f.Make("leaf", 3);
    ASSERT_EQ(root->AddChild(mid), 1);
    ASSERT_EQ(mid->AddChild(leaf), 1);
    struct Case {
        CFileNode* parent;
        IFileNode* child;
    };
    const Case refused[] = {{leaf, root}, {leaf, mid}, {mid, root}, {mid, mid}, {root, nullptr}};
    for (const Case& c : refused) {
        unsigned before = c.parent->GetShownChildrenCount();
        CFileNode* firstBefore = c.parent->GetFirstChild();
        EXPECT_EQ(c.parent->AddChild(c.child), 0);
        EXPECT_EQ(c.parent->GetShownChildrenCount(), before);
        EXPECT_EQ(c.parent->GetFirstChild(), firstBefore);
    }
    EXPECT_EQ(root->GetParent(), nullptr);
    EXPECT_EQ(leaf->GetParent(), mid);
}

TEST(FileNode, LinksAddNextAndRemoveChild)
{
    Forest f;
    TestNode* root = f.Make("root", 1, true);
    TestNode* a = f.Make("a");
    TestNode* b = f.Make("b");
    TestNode* c = f.Make("c");
    root->AddChild(a);
    root->AddChild(b);  // children now b, a
    EXPECT_EQ(root->GetFirstChild(), b);
    EXPECT_EQ(b->GetNextNode(), a);
    EXPECT_EQ(b->AddNext(c), 1);  // b, c, a
    EXPECT_EQ(b->GetNextNode(), c);
    EXPECT_EQ(c->GetNextNode(), a);
    EXPECT_EQ(b->AddNext(nullptr), 0);

    EXPECT_EQ(root->RemoveChild(a), 1);
    EXPECT_EQ(a->GetParent(), nullptr);
    EXPECT_EQ(c->GetNextNode(), nullptr);
    EXPECT_EQ(root->RemoveChild(a), 0);
    EXPECT_EQ(root->RemoveChild(b), 1);
    EXPECT_EQ(root->GetShownChildrenCount(), 0u);
    EXPECT_EQ(root->GetFirstChild(), nullptr);
}

// Overrides the FAT hook to record that it ran.
class HookNode : public TestNode {
public:
    using TestNode::TestNode;
    int hookRuns = 0;

protected:
    void OnSameIdDirectoryRenamed(CFileNode&) override { ++hookRuns; }
};

TEST(FileNode, EqualityRules)
{
    struct Side {
        const char* name;
        long long id, parent;
        bool dir;
        _tagSearcherType type;
        unsigned long long created;
        long long size;
        unsigned short partition;
    };
    struct Case {
        Side a, b;
        bool equal;
        int hookRuns;
    };
    const Case cases[] = {
        // different ids, kinds or parents
        {{"x", 1, 0, false, SEARCHER_NTFS, 0, 0, 0}, {"x", 2, 0, false, SEARCHER_NTFS, 0, 0, 0}, false, 0},
        {{"x", 1, 0, false, SEARCHER_NTFS, 0, 0, 0}, {"x", 1, 0, true, SEARCHER_NTFS, 0, 0, 0}, false, 0},
        {{"x", 1, 0, false, SEARCHER_NTFS, 0, 0, 0}, {"x", 1, 9, false, SEARCHER_NTFS, 0, 0, 0}, false, 0},
        // same names
        {{"d", 1, 0, true, SEARCHER_NTFS, 0, 0, 0}, {"d", 1, 0, true, SEARCHER_NTFS, 5, 0, 3}, true, 0},
        {{"f", 1, 0, false, SEARCHER_HFSPLUS, 5, 10, 0}, {"f", 1, 0, false, SEARCHER_HFSPLUS, 5, 10, 1}, true, 0},
        {{"f", 1, 0, false, SEARCHER_HFSPLUS, 5, 10, 0}, {"f", 1, 0, false, SEARCHER_HFSPLUS, 6, 10, 0}, false, 0},
        {{"f", 1, 0, false, SEARCHER_HFSPLUS, 5, 10, 0}, {"f", 1, 0, false, SEARCHER_HFSPLUS, 5, 11, 0}, false, 0},
        {{"f", 1, 0, false, SEARCHER_NTFS, 5, 10, 2}, {"f", 1, 0, false, SEARCHER_NTFS, 9, 99, 2}, true, 0},
        {{"f", 1, 0, false, SEARCHER_NTFS, 5, 10, 2}, {"f", 1, 0, false, SEARCHER_NTFS, 5, 10, 3}, false, 0},
        // different names: the FAT hook runs for a not-older directory only
        {{"A", 1, 0, true, SEARCHER_FAT, 5, 0, 0}, {"B", 1, 0, true, SEARCHER_FAT, 5, 0, 0}, false, 1},
        {{"A", 1, 0, true, SEARCHER_FAT, 5, 0, 0}, {"B", 1, 0, true, SEARCHER_FAT, 4, 0, 0}, false, 0},
        {{"A", 1, 0, false, SEARCHER_FAT, 5, 0, 0}, {"B", 1, 0, false, SEARCHER_FAT, 9, 0, 0}, false, 0},
        {{"A", 1, 0, true, SEARCHER_EXFAT, 5, 0, 0}, {"B", 1, 0, true, SEARCHER_EXFAT, 9, 0, 0}, false, 0},
    };
    auto make = [](const Side& s) {
        auto n = std::make_unique<HookNode>(s.name, s.id, s.dir);
        n->SetParentNodeID(s.parent);
        n->m_type = s.type;
        n->m_created = s.created;
        n->m_size = s.size;
        n->SetBelongedPartition(s.partition);
        return n;
    };
    int i = 0;
    for (const Case& c : cases) {
        auto a = make(c.a);
        auto b = make(c.b);
        EXPECT_EQ(*a == *b, c.equal) << "case " << i;
        EXPECT_EQ(a->hookRuns, c.hookRuns) << "case " << i;
        ++i;
    }
}

TEST(FileNode, MergeNodeTakesTheOtherRunList)
{
    TestNode a("a"), b("b");
    a.SetDataRunList(CreateDataRunList());
    DataRun r{100, 4};
    IDataRunList* bl = CreateDataRunList();
    bl->AddDataRun(&r);
    b.SetDataRunList(bl);
    b.m_size = 4096;
    a.MergeNode(&b);
    EXPECT_EQ(a.GetDataRunList(), bl);
    EXPECT_EQ(b.GetDataRunList(), nullptr);
    EXPECT_EQ(a.GetFileSize(), 4096);
}

TEST(FileNode, FilterFileNameByDot)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", ""}, {"...", ""}, {" . .", ""}, {"..a.b", "a.b"}, {" x ", "x "}, {"name", "name"}};
    for (auto [in, out] : cases)
        EXPECT_EQ(CFileNode::FilterFileNameByDot(in), out) << in;
}

TEST(FileNode, FilesystemNode)
{
    CFilesystemNode root("VOL", "Volume", SEARCHER_FAT, 0);
    EXPECT_STREQ(root.GetFileName(), "VOL");
    EXPECT_STREQ(root.GetVolumeName(), "Volume");
    EXPECT_EQ(root.GetSearcheType(), SEARCHER_FAT);
    EXPECT_EQ(root.IsDirectory(), 1);
    EXPECT_EQ(root.IsDeleted(), 0);
    EXPECT_EQ(root.GetFileSize(), 0);
    EXPECT_EQ(root.GetCreationTime(), 0u);
    EXPECT_EQ(root.GetCurrentNodeID(), 0);
    std::unique_ptr<IFileNode, void (*)(IFileNode*)> copy(root.Clone(), [](IFileNode* n) { n->Release(); });
    EXPECT_STREQ(copy->GetVolumeName(), "Volume");
    EXPECT_EQ(copy->GetCurrentNodeID(), 0);
    EXPECT_EQ(copy->GetSearcheType(), SEARCHER_FAT);
}

TEST(FileNodeDeathTest, SetCheckPartlyAborts)
{
    TestNode n;
    EXPECT_DEATH(n.SetCheck(CHECKED_PARTLY), "eStatus != 1|status != 1");
}

// A chain far deeper than any recursion could walk on a small stack.
void* DeepChain(void* result)
{
    constexpr int kDepth = 200000;
    std::vector<std::unique_ptr<TestNode>> chain;
    chain.reserve(kDepth);
    for (int i = 0; i < kDepth; ++i) {
        chain.push_back(std::make_unique<TestNode>("d", i, i + 1 < kDepth));
        if (i > 0)
            chain[i - 1]->AddChild(chain[i].get());
    }
    TestNode* root = chain.front().get();
    TestNode* leaf = chain.back().get();
    bool ok = true;
    root->SetCheck(CHECKED_ALL);
    ok = ok && leaf->GetCheckedStatus() == CHECKED_ALL;
    leaf->SetCheck(CHECKED_NONE);
    for (auto& n : chain)
        ok = ok && n->GetCheckedStatus() == CHECKED_NONE;
    leaf->ShowNode(0);
    ok = ok && root->IsNodeShow() == 0;
    *static_cast<bool*>(result) = ok;
    return nullptr;
}

TEST(FileNode, DeepChainOnSmallStack)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    bool ok = false;
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, &attr, DeepChain, &ok), 0);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_TRUE(ok);
}

TEST(SearchedPartitionInfo, SectorSizeAndDefaults)
{
    const std::pair<unsigned, unsigned> cases[] = {{0, 512}, {4000, 512}, {1024, 1024}, {4096, 4096}, {512, 512}};
    for (auto [in, out] : cases)
        EXPECT_EQ(CSearchedPartitionInfo(in).GetSectorSize(), out) << in;
    CSearchedPartitionInfo p(512);
    EXPECT_EQ(p.GetType(), 4);
    EXPECT_EQ(p.GetPartitionIndex(), 0xFFFF);
    EXPECT_EQ(p.GetFileSystemType(), FS_UNKNOWN);
    EXPECT_EQ(p.GetReliability(), 1);
    p.SetUnitBase(2048);
    p.SetScore(3.5);
    std::unique_ptr<CSearchedPartitionInfo> copy(p.Clone());
    EXPECT_EQ(copy->GetUnitBase(), 2048);
    EXPECT_EQ(copy->GetScore(), 3.5);
}

}  // namespace
