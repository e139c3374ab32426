// Which nodes the recovery filter lets through, and the program's one filter.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "RecoveryFilter.h"
#include "TestSupport.h"

namespace {

TEST(recovery_filter, MaskTable)
{
    CRecoveryFilter filter({{1, "jpg;png"}});
    TestNode upper("a.JPG"), lower("a.jpg"), noext("noext"), folder("folder", 1, true), unknown("x.unknownext"),
        trailing("a.");
    struct Row {
        unsigned mask;
        int expect[6];  // a.JPG, a.jpg, noext, folder, x.unknownext, a.
    } rows[] = {
        {127, {1, 1, 1, 1, 1, 1}},
        {0, {1, 1, 1, 1, 1, 1}},
        {0x01, {1, 1, 0, 1, 0, 0}},
        {0x20, {0, 0, 1, 1, 1, 1}},
    };
    IFileNode* nodes[] = {&upper, &lower, &noext, &folder, &unknown, &trailing};
    for (const Row& r : rows) {
        filter.SetFilterTypes(r.mask);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(filter.IsFileNodeValid(nodes[i]), r.expect[i]) << "mask " << r.mask << " node " << i;
    }
    const int types[] = {1, 1, 32, 32, 32, 32};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(filter.GetNodeFileType(nodes[i]), types[i]) << "node " << i;
    EXPECT_EQ(filter.IsFileNodeValid(nullptr), 0);
}

TEST(recovery_filter, EachMaskBitSelectsItsGroup)
{
    CRecoveryFilter filter({{1, "jpg"}, {2, "mp3"}, {4, "mov"}, {8, "zip"}, {16, "pdf"}});
    const char* names[] = {"p.jpg", "m.mp3", "v.mov", "a.zip", "d.pdf", "o.exe"};
    const unsigned bits[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20};
    for (int b = 0; b < 6; ++b) {
        filter.SetFilterTypes(bits[b]);
        for (int n = 0; n < 6; ++n) {
            TestNode node(names[n]);
            EXPECT_EQ(filter.IsFileNodeValid(&node), n == b ? 1 : 0) << "bit " << bits[b] << " " << names[n];
            EXPECT_EQ(filter.GetNodeFileType(&node), static_cast<int>(bits[n])) << names[n];
        }
    }
    // Two bits together let both groups through.
    filter.SetFilterTypes(0x01 | 0x10);
    TestNode jpg("x.jpg"), pdf("x.pdf"), mp3("x.mp3");
    EXPECT_EQ(filter.IsFileNodeValid(&jpg), 1);
    EXPECT_EQ(filter.IsFileNodeValid(&pdf), 1);
    EXPECT_EQ(filter.IsFileNodeValid(&mp3), 0);
}

TEST(recovery_filter, GroupComesFromTheLastDot)
{
    CRecoveryFilter filter({{1, "jpg"}, {8, "gz"}});
    struct {
        const char* name;
        int type;
    } cases[] = {{"archive.jpg.gz", 8}, {"photo.gz.jpg", 1}, {".jpg", 1}, {"jpg", 32}, {"", 32}};
    for (auto& c : cases) {
        TestNode node(c.name);
        EXPECT_EQ(filter.GetNodeFileType(&node), c.type) << c.name;
    }
}

TEST(recovery_filter, LiveFilesShowExceptInQuickScanOfMountedVolume)
{
    CRecoveryFilter filter(std::map<int, std::string>{});
    EXPECT_EQ(filter.ShowNormalFiles(), 0) << "a new filter has scan type 0";
    filter.SetScanType(SCAN_TYPE_DEEP);
    EXPECT_EQ(filter.ShowNormalFiles(), 1);
    filter.SetScanType(SCAN_TYPE_QUICK_UNMOUNTED);
    EXPECT_EQ(filter.ShowNormalFiles(), 1);
    filter.SetScanType(SCAN_TYPE_QUICK_MOUNTED);
    EXPECT_EQ(filter.ShowNormalFiles(), 0);
}

// One filter for the whole program, built once even when several threads ask
// at the same time; Release leaves it usable. It is never destroyed on
// purpose, so scan threads that outlive main still find it.
TEST(recovery_filter, ProgramFilterIsOneObject)
{
    std::vector<IRecoveryFilter*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = CreateFilter(); });
    for (auto& t : threads)
        t.join();
    ASSERT_NE(seen[0], nullptr);
    for (IRecoveryFilter* f : seen)
        EXPECT_EQ(f, seen[0]);
    seen[0]->Release();
    EXPECT_EQ(CreateFilter(), seen[0]);
    TestNode dir("d", 1, true);
    EXPECT_EQ(CreateFilter()->IsFileNodeValid(&dir), 1);
}

}  // namespace
