// The tree builder on damaged-disk shapes: parent ids that point round in a
// circle, and folder chains far deeper than any stack allows recursion for.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "TreeBuilderTestSupport.h"

namespace {

CountedNode* NewNode(long long id, long long parent, const char* name, bool dir)
{
    auto* n = new CountedNode(name, id, parent, dir);
    n->m_size = dir ? 0 : 1;
    n->SetBelongedPartition(0);
    return n;
}

// Runs body on a thread with a 1 MiB stack.
void RunOnSmallStack(std::function<void()> body)
{
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 1 << 20), 0);
    pthread_t thread;
    auto trampoline = [](void* arg) -> void* {
        (*static_cast<std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, trampoline, &body), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// ".Trash" (10) and "x" (11) name each other as parent. Looking for the
// user's trash and climbing towards the root must both come back.
TEST(tree_builder_robustness, ParentIdCycleEnds)
{
    const char* oldHome = std::getenv("HOME");
    std::string saved = oldHome ? oldHome : "";
    setenv("HOME", "/home/someone", 1);
    unsetenv("PKEXEC_UID");
    unsetenv("SUDO_UID");
    CountedNode::s_live = 0;
    for (unsigned threshold : {1u, 1024u}) {
        BuilderFixture fx;
        fx.builder->SetBuildThreshold(threshold);
        fx.builder->AddSearcherInfo(SEARCHER_FAT, 0);
        ASSERT_EQ(fx.Add(NewNode(10, 11, ".Trash", true), SEARCHER_FAT), 1);
        ASSERT_EQ(fx.Add(NewNode(11, 10, "x", true), SEARCHER_FAT), 1);
        ASSERT_EQ(fx.Add(NewNode(12, 10, "f.txt", false), SEARCHER_FAT), 1);
        // A second ".Trash" of the same id walks x -> .Trash -> x ... before
        // it is refused as a copy of the first.
        EXPECT_EQ(fx.Add(NewNode(10, 11, ".Trash", true), SEARCHER_FAT), 0);
        ASSERT_EQ(fx.builder->FlashBuild(SEARCHER_FAT), 1);
        for (const std::string& line : fx.sink.DeliveredLines())
            EXPECT_EQ(line.rfind("Disk(FAT/FAT32)/Other lost files", 0), 0u) << line;
        fx.ReleaseBuilder();
        EXPECT_EQ(CountedNode::s_live, 0);
    }
    if (oldHome)
        setenv("HOME", saved.c_str(), 1);
    else
        unsetenv("HOME");
}

// A 100,000-deep folder chain with one file at the bottom, added bottom-up,
// on a 1 MiB stack: the file is shown, and every node is released.
TEST(tree_builder_robustness, DeepChainOnSmallStack)
{
    const long long kDepth = 100000;
    for (bool topArrives : {true, false}) {
        SCOPED_TRACE(topArrives ? "chain reaches the root" : "chain top is lost");
        CountedNode::s_live = 0;
        size_t delivered = 0;
        std::string filePath;
        bool fileDeleted = false;
        RunOnSmallStack([&] {
            BuilderFixture fx;
            fx.builder->AddSearcherInfo(SEARCHER_FAT, 0);
            // Folder k has id k + 1 and parent id k; folder 0 hangs below the
            // root (id 0) or below a folder that never arrives.
            auto* file = NewNode(kDepth + 1, kDepth, "bottom.txt", false);
            ASSERT_EQ(fx.Add(file, SEARCHER_FAT), 1);
            for (long long k = kDepth - 1; k >= 0; --k) {
                long long parent = k == 0 ? (topArrives ? 0 : -7) : k;
                CountedNode* dir = NewNode(k + 1, parent, "d", true);
                // The top folder is deleted: the mark must reach the bottom.
                dir->m_deleted = k == 0;
                ASSERT_EQ(fx.Add(dir, SEARCHER_FAT), 1);
            }
            ASSERT_EQ(fx.builder->FlashBuild(SEARCHER_FAT), 1);
            delivered = fx.sink.NodeCount();
            filePath = NodePath(file);
            fileDeleted = file->IsDeleted();
            fx.ReleaseBuilder();
        });
        EXPECT_EQ(delivered, static_cast<size_t>(kDepth + 1 + (topArrives ? 0 : 1)));
        EXPECT_EQ(filePath.size(), std::string(topArrives ? "Disk(FAT/FAT32)" : "Disk(FAT/FAT32)/Other lost files").size() +
                                       2 * static_cast<size_t>(kDepth) + std::string("/bottom.txt").size());
        EXPECT_TRUE(fileDeleted);
        EXPECT_EQ(CountedNode::s_live, 0);
    }
}

}  // namespace
