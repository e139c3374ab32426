// The tree builder on small synthetic trees: every scenario runs with its
// nodes in reverse order and in several shuffled orders, each with a build
// after every node and with the default build threshold, and must deliver the
// same trees every time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "TreeBuilderTestSupport.h"

namespace {

struct NodePlan {
    std::string label;  // unique within the scenario; the name unless given
    long long id = 0;
    long long parent = 0;
    std::string name;
    bool dir = false;
    long long size = 1;
    bool deleted = false;
    int keepOrder = 0;  // nodes with one non-zero value keep their listed order
    int expectAdd = 1;  // AddNode's answer; -1 when it depends on the order
    unsigned long long modified = 0;
    bool withRuns = false;
    unsigned short partition = 0;
};

NodePlan Dir(long long id, long long parent, std::string name)
{
    NodePlan n;
    n.id = id;
    n.parent = parent;
    n.name = std::move(name);
    n.label = n.name;
    n.dir = true;
    n.size = 0;
    return n;
}

NodePlan File(long long id, long long parent, std::string name, long long size = 1)
{
    NodePlan n;
    n.id = id;
    n.parent = parent;
    n.name = std::move(name);
    n.label = n.name;
    n.size = size;
    return n;
}

NodePlan Deleted(NodePlan n)
{
    n.deleted = true;
    return n;
}

NodePlan Refused(NodePlan n, int expect = 0)
{
    n.expectAdd = expect;
    return n;
}

// The node as found on another partition (volume) of the disk.
NodePlan OnPartition(unsigned short partition, NodePlan n)
{
    n.partition = partition;
    n.label += " @" + std::to_string(partition);
    return n;
}

using NodeMap = std::map<std::string, CountedNode*>;

struct Scenario {
    std::string title;
    _tagSearcherType type = SEARCHER_FAT;
    std::vector<long long> rootIds = {0};
    bool restore = false;
    _SCAN_TYPE scan = SCAN_TYPE_QUICK_UNMOUNTED;
    std::vector<NodePlan> nodes;
    std::vector<std::string> expected;  // RecordingSink::DeliveredLines
    std::map<std::string, std::optional<std::string>> env;  // set, or unset when empty
    std::function<void(BuilderFixture&)> beforeFlash;
    std::function<void(BuilderFixture&)> afterFlash;
    // The nodes report the scenario's searcher type, so that comparisons
    // of nodes take that file system's rules.
    bool typedNodes = false;
};

// Sets environment variables for one run and puts the old values back.
class EnvGuard {
public:
    explicit EnvGuard(const std::map<std::string, std::optional<std::string>>& env)
    {
        for (auto& [name, value] : env) {
            const char* old = std::getenv(name.c_str());
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    ~EnvGuard()
    {
        for (auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// Reverse order (seed 0) or a shuffle; nodes of one keepOrder group then take
// the places their group got, in their listed order.
std::vector<size_t> ArrivalOrder(const std::vector<NodePlan>& nodes, unsigned seed)
{
    std::vector<size_t> order(nodes.size());
    std::iota(order.begin(), order.end(), 0);
    if (seed == 0) {
        std::reverse(order.begin(), order.end());
    } else {
        std::mt19937 rng(seed);
        std::shuffle(order.begin(), order.end(), rng);
    }
    std::map<int, std::vector<size_t>> places;
    for (size_t p = 0; p < order.size(); ++p)
        if (int g = nodes[order[p]].keepOrder)
            places[g].push_back(p);
    for (auto& [g, ps] : places) {
        std::vector<size_t> members;
        for (size_t p : ps)
            members.push_back(order[p]);
        std::sort(members.begin(), members.end());
        for (size_t k = 0; k < ps.size(); ++k)
            order[ps[k]] = members[k];
    }
    return order;
}

CountedNode* MakeNode(const NodePlan& s)
{
    auto* n = new CountedNode(s.name, s.id, s.parent, s.dir);
    n->m_size = s.size;
    n->m_deleted = s.deleted;
    n->m_modified = s.modified;
    n->SetBelongedPartition(s.partition);
    if (s.withRuns) {
        IDataRunList* runs = CreateDataRunList();
        DataRun r{100, 4};
        runs->AddDataRun(&r);
        n->SetDataRunList(runs);
    }
    return n;
}

// Runs one scenario once; returns the delivered lines.
std::vector<std::string> RunOnce(const Scenario& sc, unsigned seed, unsigned threshold)
{
    SCOPED_TRACE(sc.title + (seed == 0 ? std::string(", reverse order") : ", shuffle " + std::to_string(seed)) +
                 ", threshold " + std::to_string(threshold));
    EXPECT_EQ(CountedNode::s_live, 0);
    CountedNode::s_live = 0;
    EnvGuard env(sc.env);
    std::vector<std::string> lines;
    {
        BuilderFixture fx(sc.restore, sc.scan);
        fx.builder->SetBuildThreshold(threshold);
        for (long long rootId : sc.rootIds)
            EXPECT_EQ(fx.builder->AddSearcherInfo(sc.type, rootId), 1);
        for (size_t i : ArrivalOrder(sc.nodes, seed)) {
            const NodePlan& s = sc.nodes[i];
            CountedNode* node = MakeNode(s);
            if (sc.typedNodes)
                node->m_type = sc.type;
            int taken = fx.Add(node, sc.type);
            if (s.expectAdd >= 0) {
                EXPECT_EQ(taken, s.expectAdd) << "AddNode of " << s.label;
            }
        }
        if (sc.beforeFlash)
            sc.beforeFlash(fx);
        EXPECT_EQ(fx.builder->FlashBuild(sc.type), 1);
        if (sc.afterFlash)
            sc.afterFlash(fx);

        lines = fx.sink.DeliveredLines();
        EXPECT_EQ(lines, sc.expected);

        // No node twice, one root per tree, every node below a shown root,
        // and the lost folder closes the lost batch.
        std::set<IFileNode*> seen;
        for (const auto& b : fx.sink.batches) {
            for (IFileNode* n : b.nodes) {
                EXPECT_TRUE(seen.insert(n).second) << "delivered twice: " << NodePath(n);
                IFileNode* top = n;
                while (top->GetParent())
                    top = top->GetParent();
                EXPECT_NE(std::find(fx.sink.roots.begin(), fx.sink.roots.end(), top), fx.sink.roots.end())
                    << NodePath(n);
            }
            if (b.flag == 1) {
                EXPECT_STREQ(b.nodes.back()->GetFileName(), "Other lost files");
            }
        }
        EXPECT_LE(fx.sink.roots.size(), 1u);
    }
    EXPECT_EQ(CountedNode::s_live, 0) << "nodes not released exactly once";
    CountedNode::s_live = 0;
    return lines;
}

void RunScenario(const Scenario& sc)
{
    const unsigned kDefaultThreshold = 1024;
    std::vector<std::string> first = RunOnce(sc, 0, kDefaultThreshold);
    for (unsigned seed = 0; seed <= 8; ++seed)
        for (unsigned threshold : {1u, kDefaultThreshold})
            EXPECT_EQ(RunOnce(sc, seed, threshold), first) << sc.title << " seed " << seed << " threshold " << threshold;
}

IFileNode* FindDelivered(BuilderFixture& fx, const std::string& path)
{
    for (const auto& b : fx.sink.batches)
        for (IFileNode* n : b.nodes)
            if (NodePath(n) == path)
                return n;
    return nullptr;
}

const std::string kFat = "Disk(FAT/FAT32)";
const std::string kLost = kFat + "/Other lost files";

TEST(tree_builder, OutOfOrderArrival)
{
    Scenario sc;
    sc.title = "out of order";
    sc.nodes = {Dir(1, 0, "A"), Dir(2, 1, "B"), File(3, 2, "f.txt")};
    sc.expected = {kFat + "/A", kFat + "/A/B", kFat + "/A/B/f.txt"};
    RunScenario(sc);
}

TEST(tree_builder, DotNames)
{
    Scenario sc;
    sc.title = "dot names";
    sc.nodes = {Refused(File(5, 0, ".DS_Store")), Dir(6, 0, ". .cfg"), File(7, 6, "x.txt")};
    sc.expected = {kFat + "/cfg", kFat + "/cfg/x.txt"};
    RunScenario(sc);
}

TEST(tree_builder, TrashesAtVolumeRootMarksEverythingBelowDeleted)
{
    Scenario sc;
    sc.title = ".Trashes";
    sc.nodes = {Dir(10, 0, ".Trashes"), File(11, 10, "f.txt"), Dir(12, 10, "sub"), File(13, 12, "g.txt")};
    sc.expected = {kFat + "/Trashes [deleted]", kFat + "/Trashes/f.txt [deleted]", kFat + "/Trashes/sub [deleted]",
                   kFat + "/Trashes/sub/g.txt [deleted]"};
    RunScenario(sc);
}

TEST(tree_builder, UsersTrashFollowsTheInvokingUser)
{
    {
        EnvGuard env({{"PKEXEC_UID", "0"}, {"SUDO_UID", std::nullopt}, {"HOME", "/nonexistent"}});
        ASSERT_EQ(CDirectoryTreeBuilder::GetInvokingUserHome(), "/root/") << "uid 0 must live in /root";
    }
    Scenario sc;
    sc.title = "user's trash";
    sc.nodes = {Dir(20, 0, "root"), Dir(21, 20, ".Trash"), Deleted(File(22, 21, "f.txt"))};
    sc.env = {{"PKEXEC_UID", "0"}, {"SUDO_UID", std::nullopt}, {"HOME", "/nonexistent"}};
    sc.expected = {kFat + "/root", kFat + "/root/Trash [deleted]", kFat + "/root/Trash/f.txt [deleted]"};
    RunScenario(sc);

    sc.title = "no user's trash";
    sc.env = {{"PKEXEC_UID", std::nullopt}, {"SUDO_UID", std::nullopt}, {"HOME", "/nonexistent"}};
    sc.expected = {kFat + "/root", kFat + "/root/Trash", kFat + "/root/Trash/f.txt [deleted]"};
    RunScenario(sc);

    // sudo names the user too; HOME then no longer counts.
    sc.title = "sudo user's trash";
    sc.env = {{"PKEXEC_UID", std::nullopt}, {"SUDO_UID", "0"}, {"HOME", "/home/else"}};
    sc.expected = {kFat + "/root", kFat + "/root/Trash [deleted]", kFat + "/root/Trash/f.txt [deleted]"};
    RunScenario(sc);

    // Without pkexec or sudo, HOME names the folder.
    sc.title = "HOME trash";
    sc.env = {{"PKEXEC_UID", std::nullopt}, {"SUDO_UID", std::nullopt}, {"HOME", "/root"}};
    RunScenario(sc);
}

TEST(tree_builder, OrphansGoToOtherLostFiles)
{
    Scenario sc;
    sc.title = "orphans";
    sc.nodes = {File(30, 999, "a.txt", 5), File(31, 999, "empty.txt", 0), Dir(32, 998, "od"), Dir(33, 997, "od2"),
                File(34, 33, "b.txt", 3)};
    sc.expected = {kLost + " [lost]", kLost + "/a.txt [lost]", kLost + "/od2 [lost]", kLost + "/od2/b.txt [lost]"};
    RunScenario(sc);

    sc.title = "no orphans";
    sc.nodes = {File(35, 0, "a.txt")};
    sc.expected = {kFat + "/a.txt"};
    RunScenario(sc);
}

TEST(tree_builder, DuplicateIds)
{
    Scenario sc;
    sc.title = "duplicate ids";
    // Sightings of one file, in this order: the first is kept.
    auto sighting = [](const char* label, long long size, unsigned long long modified, int expectAdd) {
        NodePlan n = File(40, 0, "d.txt", size);
        n.label = label;
        n.modified = modified;
        n.keepOrder = 1;
        n.expectAdd = expectAdd;
        return n;
    };
    NodePlan first = sighting("first", 100, 500, 1);
    NodePlan empty = sighting("empty", 0, 100, 0);
    NodePlan older = sighting("older, with data", 200, 100, 0);
    older.withRuns = true;
    NodePlan newer = sighting("newer", 300, 900, 0);
    sc.nodes = {first, empty, older, newer};
    sc.expected = {kFat + "/d.txt"};
    sc.afterFlash = [](BuilderFixture& fx) {
        auto* d = dynamic_cast<CFileNode*>(FindDelivered(fx, kFat + "/d.txt"));
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->GetFileSize(), 200) << "merged from the older sighting only";
        ASSERT_NE(d->GetDataRunList(), nullptr);
        EXPECT_EQ(d->GetDataRunList()->GetFirst()->llStart, 100);
    };
    RunScenario(sc);
}

TEST(tree_builder, HfsPrivateDataIsNeverShown)
{
    Scenario sc;
    sc.title = "HFS+ private data";
    sc.type = SEARCHER_HFSPLUS;
    sc.rootIds = {2};
    sc.nodes = {Refused(Dir(16, 2, "HFS+ Private Data")), Refused(Dir(17, 16, "iNodeDir"), -1), File(18, 2, "n.txt", 4),
                Dir(19, 2, "docs"), File(21, 19, "d.txt")};
    sc.expected = {"Disk(HFS+)/docs", "Disk(HFS+)/docs/d.txt", "Disk(HFS+)/n.txt"};
    RunScenario(sc);
}

TEST(tree_builder, RecycleBinIsFiledAtFlashBuild)
{
    Scenario sc;
    sc.title = "recycle bin";
    sc.type = SEARCHER_NTFS;
    sc.rootIds = {5};
    sc.nodes = {Dir(50, 5, "$RECYCLE.BIN"), File(51, 50, "$R1A2B3C.txt", 10), File(52, 50, "$I1A2B3C.txt", 50)};
    sc.beforeFlash = [](BuilderFixture& fx) { EXPECT_TRUE(fx.sink.batches.empty()) << "set aside until FlashBuild"; };
    sc.expected = {"Disk(NTFS)/$RECYCLE.BIN [deleted]", "Disk(NTFS)/$RECYCLE.BIN/$R1A2B3C.txt [deleted]"};
    RunScenario(sc);
}

TEST(tree_builder, RestoreModeKeepsSameIdNodesAndReleasesUnshownAtRelease)
{
    Scenario sc;
    sc.title = "restore mode";
    sc.restore = true;
    NodePlan second = File(61, 60, "x.txt", 5);
    second.label = "x.txt second";
    sc.nodes = {Dir(60, 0, "R"), File(61, 60, "x.txt", 5), second, File(62, 777, "e.txt", 0), Dir(63, 776, "od")};
    sc.expected = {kFat + "/R", kFat + "/R/x.txt", kFat + "/R/x.txt"};
    RunScenario(sc);
}

TEST(tree_builder, LiveFilesOfAMountedVolumeAreHeldBack)
{
    Scenario sc;
    sc.title = "scan type 0";
    sc.scan = SCAN_TYPE_QUICK_MOUNTED;
    sc.nodes = {Dir(70, 0, "D1"), File(71, 70, "live.txt"), Deleted(File(72, 70, "del.txt")), Dir(73, 0, "D2"),
                File(74, 73, "live2.txt")};
    sc.expected = {kFat + "/D1", kFat + "/D1/del.txt [deleted]"};
    RunScenario(sc);

    sc.title = "scan type 2";
    sc.scan = SCAN_TYPE_QUICK_UNMOUNTED;
    sc.expected = {kFat + "/D1", kFat + "/D1/del.txt [deleted]", kFat + "/D1/live.txt", kFat + "/D2",
                   kFat + "/D2/live2.txt"};
    RunScenario(sc);
}

TEST(tree_builder, DeletedParentMakesChildrenDeleted)
{
    Scenario sc;
    sc.title = "deleted parent";
    sc.nodes = {Deleted(Dir(80, 0, "P")), Dir(81, 80, "D"), File(82, 81, "F"),
                Deleted(Dir(83, 900, "X")), Dir(84, 83, "Y"), File(85, 84, "G")};
    sc.expected = {kLost + " [lost]",
                   kLost + "/X [deleted] [lost]",
                   kLost + "/X/Y [deleted] [lost]",
                   kLost + "/X/Y/G [deleted] [lost]",
                   kFat + "/P [deleted]",
                   kFat + "/P/D [deleted]",
                   kFat + "/P/D/F [deleted]"};
    RunScenario(sc);

    // A live file that a mounted volume holds back is shown once a folder
    // above it turns out to be deleted.
    sc.title = "deleted parent, scan type 0";
    sc.scan = SCAN_TYPE_QUICK_MOUNTED;
    RunScenario(sc);
}

TEST(tree_builder, SecondRootIdOfOneTypeOnlyReplacesTheRootId)
{
    Scenario sc;
    sc.title = "second root id";
    sc.type = SEARCHER_NTFS;
    sc.rootIds = {5, 9};
    sc.nodes = {File(100, 9, "a.txt"), File(101, 5, "b.txt")};
    sc.expected = {"Disk(NTFS)/Other lost files [lost]", "Disk(NTFS)/Other lost files/b.txt [lost]",
                   "Disk(NTFS)/a.txt"};
    sc.afterFlash = [](BuilderFixture& fx) {
        EXPECT_EQ(fx.sink.RootNames(), std::vector<std::string>{"Disk(NTFS)"});
    };
    RunScenario(sc);
}

// Every delivered node hangs below a folder of its own partition.
void ExpectParentsOfOwnPartition(BuilderFixture& fx)
{
    for (const auto& b : fx.sink.batches) {
        for (IFileNode* n : b.nodes) {
            auto* node = dynamic_cast<CFileNode*>(n);
            auto* parent = node ? node->GetParent() : nullptr;
            if (!parent || dynamic_cast<CFilesystemNode*>(parent))
                continue;
            EXPECT_EQ(node->GetBelongedPartition(), parent->GetBelongedPartition()) << NodePath(n);
        }
    }
}

// Two volumes of one file system on one disk reuse node ids: the root folder
// of every HFS+ volume is 2, of every NTFS volume 5, and volumes made alike
// number their folders alike. Each volume's nodes are filed below its own
// folders, and none is taken for a second sighting of the other's.
TEST(tree_builder, VolumesOfOneDiskKeepTheirOwnIds)
{
    struct Kind {
        _tagSearcherType type;
        long long root;
        const char* tree;
    };
    const Kind kinds[] = {{SEARCHER_FAT, 0, "Disk(FAT/FAT32)"},
                          {SEARCHER_NTFS, 5, "Disk(NTFS)"},
                          {SEARCHER_HFSPLUS, 2, "Disk(HFS+)"},
                          {SEARCHER_EXFAT, -1, "Disk(ExFat)"},
                          {SEARCHER_APFS, 2, "Disk(APFS)"}};
    for (const auto& [type, root, tree] : kinds) {
        Scenario sc;
        sc.title = "two volumes of type " + std::to_string(type);
        sc.type = type;
        sc.rootIds = {root};
        sc.typedNodes = true;
        for (unsigned short p : {0, 1}) {
            // Same names, sizes and times: only the partition tells them apart.
            for (const NodePlan& n : {Dir(16, root, "docs"), Dir(17, 16, "sub"), File(18, 17, "b.txt", 7),
                                      File(19, 16, "a.txt", 5), File(20, root, "top.txt", 3)})
                sc.nodes.push_back(OnPartition(p, n));
        }
        for (const char* path : {"/docs", "/docs/a.txt", "/docs/sub", "/docs/sub/b.txt", "/top.txt"})
            for (int v = 0; v < 2; ++v)
                sc.expected.push_back(tree + std::string(path));
        std::sort(sc.expected.begin(), sc.expected.end());
        sc.afterFlash = ExpectParentsOfOwnPartition;
        RunScenario(sc);
    }
}

// Ids an HFS+ tree keeps to recognise nodes by belong to one volume: each
// volume's private-data folder is hidden with the folders directly inside
// it, and a folder of another volume that carries the same id is an
// ordinary folder.
TEST(tree_builder, HfsPrivateDataOfEachVolume)
{
    Scenario sc;
    sc.title = "HFS+ private data of two volumes";
    sc.type = SEARCHER_HFSPLUS;
    sc.rootIds = {2};
    sc.nodes = {OnPartition(0, Refused(Dir(16, 2, "HFS+ Private Data"))),
                OnPartition(0, Refused(Dir(17, 16, "iNodeDir"), -1)),
                OnPartition(0, Dir(30, 2, "docs")),
                OnPartition(0, File(31, 30, "a.txt")),
                OnPartition(1, Refused(Dir(40, 2, "HFS+ Private Data"))),
                OnPartition(1, Refused(Dir(41, 40, "iNodeDir"), -1)),
                OnPartition(1, Dir(16, 2, "docs")),
                OnPartition(1, Dir(17, 16, "sub")),
                OnPartition(1, File(18, 17, "b.txt"))};
    sc.expected = {"Disk(HFS+)/docs", "Disk(HFS+)/docs", "Disk(HFS+)/docs/a.txt", "Disk(HFS+)/docs/sub",
                   "Disk(HFS+)/docs/sub/b.txt"};
    sc.afterFlash = ExpectParentsOfOwnPartition;
    RunScenario(sc);
}

// A recycle bin of one volume does not make a folder of another volume that
// carries the same id a recycle bin.
TEST(tree_builder, RecycleBinOfOneVolume)
{
    Scenario sc;
    sc.title = "recycle bin id on another volume";
    sc.type = SEARCHER_NTFS;
    sc.rootIds = {5};
    sc.nodes = {OnPartition(0, Dir(50, 5, "$RECYCLE.BIN")), OnPartition(0, File(51, 50, "$R1A2B3C.txt", 10)),
                OnPartition(1, Dir(50, 5, "data")), OnPartition(1, File(52, 50, "keep.txt", 10))};
    sc.expected = {"Disk(NTFS)/$RECYCLE.BIN [deleted]", "Disk(NTFS)/$RECYCLE.BIN/$R1A2B3C.txt [deleted]",
                   "Disk(NTFS)/data", "Disk(NTFS)/data/keep.txt"};
    sc.afterFlash = ExpectParentsOfOwnPartition;
    RunScenario(sc);
}

}  // namespace
