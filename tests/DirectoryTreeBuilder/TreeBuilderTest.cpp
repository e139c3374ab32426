// The tree builder in fixed call sequences: roots, refusals, parent choice,
// build triggers, the pause before the first batch, and ownership corners.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "FlatHashMap.h"

#include "RecyclerFilter.h"
#include "TreeBuilderTestSupport.h"

namespace {

CountedNode* NewFile(long long id, long long parent, const char* name, long long size = 1)
{
    auto* n = new CountedNode(name, id, parent, false);
    n->m_size = size;
    n->SetBelongedPartition(0);
    return n;
}

CountedNode* NewDir(long long id, long long parent, const char* name)
{
    auto* n = new CountedNode(name, id, parent, true);
    n->SetBelongedPartition(0);
    return n;
}

class tree_builder_fixed : public testing::Test {
protected:
    void SetUp() override { CountedNode::s_live = 0; }
    void TearDown() override { EXPECT_EQ(CountedNode::s_live, 0) << "nodes not released exactly once"; }
};

TEST_F(tree_builder_fixed, RootNamesPerSearcherType)
{
    struct {
        _tagSearcherType type;
        const char* name;
    } cases[] = {
        {SEARCHER_HFSPLUS, "Disk(HFS+)"}, {SEARCHER_FAT, "Disk(FAT/FAT32)"},
        {SEARCHER_EXFAT, "Disk(ExFat)"},  {SEARCHER_RAW, "Disk(RAW Files)"},
        {SEARCHER_NTFS, "Disk(NTFS)"},    {SEARCHER_LABEL_RAW, "Disk(Label RAW Files)"},
        {SEARCHER_APFS, "Disk(APFS)"},    {SEARCHER_NONE, "Disk"},
    };
    BuilderFixture fx;
    long long id = 100;
    for (auto& c : cases) {
        ASSERT_EQ(fx.builder->AddSearcherInfo(c.type, 7), 1);
        ASSERT_EQ(fx.Add(NewFile(++id, 7, "f.txt"), c.type), 1);
        ASSERT_EQ(fx.builder->FlashBuild(c.type), 1);
    }
    std::vector<std::string> expected;
    for (auto& c : cases)
        expected.push_back(c.name);
    EXPECT_EQ(fx.sink.RootNames(), expected);
    for (IFilesystemNode* r : fx.sink.roots) {
        EXPECT_STREQ(r->GetVolumeName(), "Disk");
        EXPECT_EQ(r->GetCurrentNodeID(), 7);
    }
}

TEST_F(tree_builder_fixed, DescriptionNamesTheRoots)
{
    BuilderFixture fx(false, SCAN_TYPE_DEEP, "USB Stick");
    fx.builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    ASSERT_EQ(fx.Add(NewFile(30, 5, "a.txt"), SEARCHER_NTFS), 1);
    fx.builder->FlashBuild(SEARCHER_NTFS);
    ASSERT_EQ(fx.sink.roots.size(), 1u);
    EXPECT_STREQ(fx.sink.roots[0]->GetFileName(), "USB Stick(NTFS)");
    EXPECT_STREQ(fx.sink.roots[0]->GetVolumeName(), "USB Stick");
}

TEST_F(tree_builder_fixed, Refusals)
{
    CRecoveryFilter filter(std::map<int, std::string>{{1, "jpg"}});
    RecordingSink sink;
    auto* builder = new CDirectoryTreeBuilder(false);
    builder->SetFirstBatchPause(std::chrono::milliseconds(0));
    builder->AddSearcherInfo(SEARCHER_FAT, 0);
    CountedNode* n = NewFile(1, 0, "a.jpg");
    EXPECT_EQ(builder->AddNode(n, SEARCHER_FAT), 0) << "no filter before Initialize";

    EXPECT_EQ(builder->Initialize(nullptr, &sink, &filter), 0);
    EXPECT_EQ(builder->Initialize("d", nullptr, &filter), 0);
    EXPECT_EQ(builder->Initialize("d", &sink, nullptr), 0);
    ASSERT_EQ(builder->Initialize("d", &sink, &filter), 1);

    filter.SetFilterTypes(0x01);
    CountedNode* txt = NewFile(2, 0, "a.txt");
    CountedNode* self = NewFile(3, 3, "self.jpg");
    EXPECT_EQ(builder->AddNode(nullptr, SEARCHER_FAT), 0);
    EXPECT_EQ(builder->AddNode(txt, SEARCHER_FAT), 0) << "the filter rejects it";
    EXPECT_EQ(builder->AddNode(self, SEARCHER_FAT), 0) << "its own parent";
    EXPECT_EQ(builder->AddNode(n, SEARCHER_NTFS), 0) << "no tree of that type";
    EXPECT_EQ(builder->FlashBuild(SEARCHER_NTFS), 0);
    EXPECT_EQ(builder->AddNode(n, SEARCHER_FAT), 1);
    txt->Release();
    self->Release();
    builder->Release();
}

// With several folders of one id, a child goes to the one that already has a
// child, else to the one created nearest the child's last access, skipping
// folders of other partitions.
TEST_F(tree_builder_fixed, ParentChoiceAmongFoldersOfOneId)
{
    BuilderFixture fx;
    fx.builder->SetBuildThreshold(1);
    fx.builder->AddSearcherInfo(SEARCHER_FAT, 0);
    CountedNode* early = NewDir(7, 0, "early");
    early->m_created = 100;
    CountedNode* late = NewDir(7, 0, "late");
    late->m_created = 1000;
    ASSERT_EQ(fx.Add(early, SEARCHER_FAT), 1);
    ASSERT_EQ(fx.Add(late, SEARCHER_FAT), 1);
    CountedNode* f1 = NewFile(70, 7, "f1");
    f1->m_accessed = 950;
    ASSERT_EQ(fx.Add(f1, SEARCHER_FAT), 1);
    EXPECT_EQ(f1->GetParent(), late) << "created nearest the access time";
    CountedNode* f2 = NewFile(71, 7, "f2");
    f2->m_accessed = 100;
    ASSERT_EQ(fx.Add(f2, SEARCHER_FAT), 1);
    EXPECT_EQ(f2->GetParent(), late) << "the folder that already has a child";

    CountedNode* otherPartition = NewDir(8, 0, "p1");
    otherPartition->m_created = 950;
    otherPartition->SetBelongedPartition(1);
    CountedNode* samePartition = NewDir(8, 0, "p0");
    samePartition->m_created = 100;
    ASSERT_EQ(fx.Add(otherPartition, SEARCHER_FAT), 1);
    ASSERT_EQ(fx.Add(samePartition, SEARCHER_FAT), 1);
    CountedNode* g = NewFile(80, 8, "g");
    g->m_accessed = 950;
    ASSERT_EQ(fx.Add(g, SEARCHER_FAT), 1);
    EXPECT_EQ(g->GetParent(), samePartition);
    fx.builder->FlashBuild(SEARCHER_FAT);
}

TEST_F(tree_builder_fixed, BuildTriggers)
{
    BuilderFixture fx;
    fx.builder->AddSearcherInfo(SEARCHER_FAT, 0);
    long long id = 1;
    for (int i = 0; i < 1023; ++i)
        ASSERT_EQ(fx.Add(NewFile(++id, 0, "f"), SEARCHER_FAT), 1);
    EXPECT_TRUE(fx.sink.batches.empty()) << "1,023 pending nodes wait";
    ASSERT_EQ(fx.Add(NewFile(++id, 0, "f"), SEARCHER_FAT), 1);
    ASSERT_EQ(fx.sink.batches.size(), 1u) << "the 1,024th node builds";
    EXPECT_EQ(fx.sink.batches[0].nodes.size(), 1024u);

    ASSERT_EQ(fx.Add(NewFile(++id, 0, "f"), SEARCHER_FAT), 1);
    fx.now += 2.0;
    ASSERT_EQ(fx.Add(NewFile(++id, 0, "f"), SEARCHER_FAT), 1);
    EXPECT_EQ(fx.sink.batches.size(), 1u) << "2 s are not more than 2 s";
    fx.now += 0.1;
    ASSERT_EQ(fx.Add(NewFile(++id, 0, "f"), SEARCHER_FAT), 1);
    ASSERT_EQ(fx.sink.batches.size(), 2u) << "2.1 s after the last build";
    EXPECT_EQ(fx.sink.batches[1].nodes.size(), 3u);
    fx.builder->FlashBuild(SEARCHER_FAT);
    EXPECT_EQ(fx.sink.batches.size(), 2u);
}

TEST_F(tree_builder_fixed, HfsTreeWaitsForItsPrivateDataFolder)
{
    BuilderFixture fx;
    fx.builder->SetBuildThreshold(1);
    fx.builder->AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    ASSERT_EQ(fx.Add(NewFile(20, 2, "a"), SEARCHER_HFSPLUS), 1);
    ASSERT_EQ(fx.Add(NewFile(21, 2, "b"), SEARCHER_HFSPLUS), 1);
    EXPECT_TRUE(fx.sink.batches.empty());
    EXPECT_EQ(fx.Add(NewDir(18, 2, "HFS+ Private Data"), SEARCHER_HFSPLUS), 0);
    ASSERT_EQ(fx.Add(NewFile(22, 2, "c"), SEARCHER_HFSPLUS), 1);
    ASSERT_EQ(fx.sink.batches.size(), 1u);
    EXPECT_EQ(fx.sink.batches[0].nodes.size(), 3u);
    fx.builder->FlashBuild(SEARCHER_HFSPLUS);
}

TEST_F(tree_builder_fixed, PauseFollowsTheFirstRootOnly)
{
    BuilderFixture fx;
    fx.builder->SetBuildThreshold(1);
    fx.builder->SetFirstBatchPause(std::chrono::milliseconds(200));
    fx.builder->AddSearcherInfo(SEARCHER_FAT, 0);
    auto timed = [&](long long id) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(fx.Add(NewFile(id, 0, "f"), SEARCHER_FAT), 1);
        return std::chrono::steady_clock::now() - start;
    };
    EXPECT_GE(timed(1), std::chrono::milliseconds(200));
    EXPECT_LT(timed(2), std::chrono::milliseconds(150));
    EXPECT_EQ(fx.sink.roots.size(), 1u);
    EXPECT_EQ(fx.sink.batches.size(), 2u);
    fx.builder->FlashBuild(SEARCHER_FAT);
}

TEST_F(tree_builder_fixed, DefaultPauseAppliesToNewBuilders)
{
    CDirectoryTreeBuilder::SetDefaultFirstBatchPause(std::chrono::milliseconds(0));
    CRecoveryFilter filter(std::map<int, std::string>{});
    filter.SetScanType(SCAN_TYPE_DEEP);
    RecordingSink sink;
    IDirecotryTreeBuilder* builder = CreateTreeBuilder(false);
    ASSERT_EQ(builder->Initialize("", &sink, &filter), 1);
    builder->AddSearcherInfo(SEARCHER_FAT, 0);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(builder->AddNode(NewFile(1, 0, "f"), SEARCHER_FAT), 1);
    builder->FlashBuild(SEARCHER_FAT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(sink.NodeCount(), 1u);
    builder->Release();
    CDirectoryTreeBuilder::SetDefaultFirstBatchPause(std::chrono::milliseconds(1000));
}

// A node handed in twice is shown once and released once, whether same-id
// nodes are compared (scan) or all kept (restore).
TEST_F(tree_builder_fixed, NodeHandedInTwiceIsShownAndReleasedOnce)
{
    for (bool restore : {false, true}) {
        SCOPED_TRACE(restore ? "restore mode" : "scan");
        BuilderFixture fx(restore);
        fx.builder->SetBuildThreshold(1);
        fx.builder->AddSearcherInfo(SEARCHER_FAT, 0);
        CountedNode* dir = NewDir(1, 0, "d");
        CountedNode* file = NewFile(2, 1, "f");
        ASSERT_EQ(fx.Add(dir, SEARCHER_FAT), 1);
        ASSERT_EQ(fx.Add(file, SEARCHER_FAT), 1);
        ASSERT_EQ(fx.Add(file, SEARCHER_FAT), 1);
        ASSERT_EQ(fx.Add(dir, SEARCHER_FAT), 1);
        fx.builder->FlashBuild(SEARCHER_FAT);
        EXPECT_EQ(fx.sink.DeliveredLines(), (std::vector<std::string>{"Disk(FAT/FAT32)/d", "Disk(FAT/FAT32)/d/f"}));
    }
}

// A live file of a mounted volume is held back until its folder turns out to
// lie in a deleted folder; it is shown with that build, not only at the end.
TEST_F(tree_builder_fixed, HeldBackFileIsShownOnceItsFolderIsDeleted)
{
    BuilderFixture fx(false, SCAN_TYPE_QUICK_MOUNTED);
    fx.builder->SetBuildThreshold(1);
    fx.builder->AddSearcherInfo(SEARCHER_FAT, 0);
    ASSERT_EQ(fx.Add(NewFile(3, 2, "live.txt"), SEARCHER_FAT), 1);
    ASSERT_EQ(fx.Add(NewDir(2, 1, "inner"), SEARCHER_FAT), 1);
    CountedNode* bin = NewDir(1, 0, "bin");
    bin->m_deleted = true;
    ASSERT_EQ(fx.Add(bin, SEARCHER_FAT), 1);
    EXPECT_EQ(fx.sink.DeliveredLines(),
              (std::vector<std::string>{"Disk(FAT/FAT32)/bin [deleted]", "Disk(FAT/FAT32)/bin/inner [deleted]",
                                        "Disk(FAT/FAT32)/bin/inner/live.txt [deleted]"}));
    fx.builder->FlashBuild(SEARCHER_FAT);
}

// Recycle-bin nodes wait for the FlashBuild of their own tree; another tree's
// FlashBuild leaves them alone.
TEST_F(tree_builder_fixed, RecycledNodesStayInTheirTree)
{
    BuilderFixture fx;
    fx.builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    fx.builder->AddSearcherInfo(SEARCHER_FAT, 0);
    CountedNode* bin = NewDir(50, 5, "$Recycle.Bin");
    CountedNode* recycled = NewFile(51, 50, "$RAB12.jpg", 10);
    ASSERT_EQ(fx.Add(bin, SEARCHER_NTFS), 1);
    ASSERT_EQ(fx.Add(recycled, SEARCHER_NTFS), 1);
    ASSERT_EQ(fx.Add(NewFile(3, 0, "plain.txt"), SEARCHER_FAT), 1);
    fx.builder->FlashBuild(SEARCHER_FAT);
    EXPECT_EQ(fx.sink.DeliveredLines(), std::vector<std::string>{"Disk(FAT/FAT32)/plain.txt"});
    fx.builder->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(fx.sink.DeliveredLines(),
              (std::vector<std::string>{"Disk(FAT/FAT32)/plain.txt", "Disk(NTFS)/$Recycle.Bin [deleted]",
                                        "Disk(NTFS)/$Recycle.Bin/$RAB12.jpg [deleted]"}));
}

// Re-added recycle nodes that are refused then (a dot name, a duplicate of a
// node already filed) were ours already: they are released, not lost.
TEST_F(tree_builder_fixed, RefusedRecycledNodesAreReleased)
{
    BuilderFixture fx;
    fx.builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    ASSERT_EQ(fx.Add(NewDir(50, 5, "RECYCLER"), SEARCHER_NTFS), 1);
    ASSERT_EQ(fx.Add(NewFile(60, 50, ".hidden"), SEARCHER_NTFS), 1) << "inside a recycle bin: set aside";
    CountedNode* filed = NewFile(61, 5, "$Rdup.txt", 7);
    filed->m_modified = 10;
    ASSERT_EQ(fx.Add(NewFile(61, 5, "$Rdup.txt", 7), SEARCHER_NTFS), 1);
    ASSERT_EQ(fx.Add(filed, SEARCHER_NTFS), 1);
    fx.builder->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(fx.sink.DeliveredLines(), (std::vector<std::string>{"Disk(NTFS)/$Rdup.txt [deleted]"}));
}

// The builder's hash map against std::map under a long random mix of
// insertions and removals (removal moves later entries back into the hole).
TEST(tree_builder_flat_map, MatchesStdMap)
{
    std::mt19937_64 rng(7);
    CFlatHashMap<long long, long long> flat;
    std::map<long long, long long> ref;
    for (int step = 0; step < 200000; ++step) {
        // Few distinct keys, some spaced by large powers of two, so probe runs
        // grow long and wrap around the table.
        long long key = static_cast<long long>(rng() % 3000);
        if (key % 3 == 0)
            key <<= 20;
        switch (rng() % 3) {
        case 0:
            flat[key] = step;
            ref[key] = step;
            break;
        case 1:
            ASSERT_EQ(flat.erase(key), ref.erase(key) == 1) << key;
            break;
        default: {
            long long* v = flat.find(key);
            auto it = ref.find(key);
            ASSERT_EQ(v != nullptr, it != ref.end()) << key;
            if (v) {
                ASSERT_EQ(*v, it->second);
            }
        }
        }
        ASSERT_EQ(flat.size(), ref.size());
    }
    size_t seen = 0;
    flat.for_each([&](long long key, long long value) {
        ++seen;
        EXPECT_EQ(ref.at(key), value);
    });
    EXPECT_EQ(seen, ref.size());
}

TEST(tree_builder_recycler, NamesOfRecycleBins)
{
    struct {
        const char* name;
        bool dir;
        bool binFolder, info, recycled;
    } cases[] = {
        {"$RECYCLE.BIN", true, true, false, true},  // "$R..." too, and not a metadata name
        {"recycler", true, true, false, false},
        {"RECYCLED", true, true, false, false},
        {"$RECYCLE.BI0", true, true, false, true},
        {"Recycler", false, false, false, false},  // a file of that name is no bin
        {"$IAB12.txt", false, false, true, false},
        {"#Ixyz", false, false, true, false},
        {"$RAB12.txt", false, false, false, true},
        {"#Rxyz", false, false, false, true},
        {"$R", false, false, false, false},  // part of "$RmMetadata$Reparse$Repair"
        {"$Repair", false, false, false, false},
        {"$RmMetadata", false, false, false, false},
        {"$I", false, false, true, false},
        {"I", false, false, false, false},
        {"", false, false, false, false},
    };
    for (auto& c : cases) {
        TestNode n(c.name, 1, c.dir);
        EXPECT_EQ(CRecyclerFilter::IsRecycleBinFolder(&n), c.binFolder) << c.name;
        EXPECT_EQ(CRecyclerFilter::IsRecoverNode(&n), c.info) << c.name;
        EXPECT_EQ(CRecyclerFilter::IsRecoverNodeEx(&n), c.recycled) << c.name;
    }
    // Below a bin folder through parent links.
    TestNode bin("Recycled", 1, true), sub("S-1-5", 2, true), file("a.txt", 3);
    bin.AddChild(&sub);
    sub.AddChild(&file);
    EXPECT_TRUE(CRecyclerFilter::IsRecycleBin(&file));
    TestNode loose("a.txt", 4);
    EXPECT_FALSE(CRecyclerFilter::IsRecycleBin(&loose));
}

// APFS trees show folders that hold no files.
TEST_F(tree_builder_fixed, ApfsShowsEmptyFolders)
{
    BuilderFixture fx;
    fx.builder->AddSearcherInfo(SEARCHER_APFS, 2);
    ASSERT_EQ(fx.Add(NewDir(10, 2, "empty"), SEARCHER_APFS), 1);
    ASSERT_EQ(fx.Add(NewDir(11, 10, "inner"), SEARCHER_APFS), 1);
    fx.builder->FlashBuild(SEARCHER_APFS);
    EXPECT_EQ(fx.sink.DeliveredLines(), (std::vector<std::string>{"Disk(APFS)/empty", "Disk(APFS)/empty/inner"}));
}

}  // namespace
