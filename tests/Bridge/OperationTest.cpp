// The operation base: status rules, pause and stop as the engine sees them
// through Continued(), and the state-query thread's notifications.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "BridgeTestSupport.h"
#include "ZRUIOperation.h"

namespace {

class TestOperation : public ZRUIOperation {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override
    {
        if (info)
            SetProgressInfo(*info);
        SetNeedUIUpdate(1);
    }
    int IsOpTreeFinished() override { return m_iTreeFinished.load(); }
    std::atomic<int> m_iTreeFinished{1};
};

TEST(BridgeOperation, StatusRules)
{
    TestOperation op;
    // Stop on an idle operation: status stays 0, the windows are told, the
    // build-trees flag is untouched.
    op.SetShouldBuildTree(1);
    op.StopOperation(1);
    EXPECT_EQ(op.GetStatus(), OPERATION_STATUS_IDLE);
    EXPECT_EQ(op.IsNeedUIUpdate(), 1);
    EXPECT_EQ(op.shouldBuild(), 1);
    EXPECT_TRUE(op.IsOperationExit());

    struct Case { int before; int afterToggle; };
    for (Case c : {Case{2, 3}, Case{3, 2}, Case{0, 0}, Case{1, 1}, Case{4, 4}}) {
        op.SetStatus(c.before);
        op.PauseOrResumeOperation();
        EXPECT_EQ(op.GetStatus(), c.afterToggle) << c.before;
    }
    op.SetStatus(OPERATION_STATUS_RUNNING);
    op.StopOperation(1);
    EXPECT_EQ(op.GetStatus(), OPERATION_STATUS_STOP);
    EXPECT_EQ(op.shouldBuild(), 0);
    op.SetStatus(OPERATION_STATUS_RUNNING);
    op.StopOperation(0);
    EXPECT_EQ(op.shouldBuild(), 1);
    EXPECT_EQ(op.Continued(), 0);
    op.SetStatus(OPERATION_STATUS_FINISHED);
    EXPECT_EQ(op.Continued(), 0);
    EXPECT_TRUE(op.IsOperationExit());
}

TEST(BridgeOperation, ContinuedWaitsWhilePaused)
{
    for (int resumeTo : {OPERATION_STATUS_RUNNING, OPERATION_STATUS_STOP}) {
        TestOperation op;
        op.SetStatus(OPERATION_STATUS_PAUSED);
        std::atomic<int> answer{-1};
        std::thread engine([&] { answer = op.Continued(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        EXPECT_EQ(answer.load(), -1) << "Continued() returned while paused";
        op.SetStatus(resumeTo);
        engine.join();
        EXPECT_EQ(answer.load(), resumeTo == OPERATION_STATUS_RUNNING ? 1 : 0);
    }
}

TEST(BridgeOperation, QuickOperationPostsExactlyOnce)
{
    EnsureBridgeApp();
    NotificationRecorder recorder;
    static TestOperation op;  // outlives the detached threads
    op.SetStatus(OPERATION_STATUS_RUNNING);
    std::atomic<bool> ran{false};
    ASSERT_TRUE(ZRUIOperationThreads::DoOperation([&] { ran = true; op.SetStatus(OPERATION_STATUS_IDLE); }, &op,
                                                  "QuickKey"));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("QuickKey") >= 1; }));
    // Give a late second post the chance to show up.
    PumpUntil([] { return false; }, std::chrono::milliseconds(400));
    EXPECT_TRUE(ran.load());
    EXPECT_EQ(recorder.Count("QuickKey"), 1);
    EXPECT_TRUE(recorder.AllOnMainThread());
}

TEST(BridgeOperation, UpdatesPostOnlyWhileTreesAreFinished)
{
    EnsureBridgeApp();
    NotificationRecorder recorder;
    static TestOperation op;
    op.m_iTreeFinished = 0;
    op.SetStatus(OPERATION_STATUS_RUNNING);
    std::atomic<int> phase{0};
    ASSERT_TRUE(ZRUIOperationThreads::DoOperation(
        [&] {
            _PROGRESS_INFO info{};
            for (int i = 0; i < 5; ++i) {
                op.UpdateProgress(&info);
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
            }
            phase = 1;
            while (phase.load() != 2)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            op.m_iTreeFinished = 1;
            for (int i = 0; i < 3; ++i) {
                op.UpdateProgress(&info);
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
            }
            op.SetStatus(OPERATION_STATUS_IDLE);
        },
        &op, "TreeKey"));
    ASSERT_TRUE(PumpUntil([&] { return phase.load() == 1; }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(recorder.Count("TreeKey"), 0) << "updates while the trees are rebuilt must be dropped";
    phase = 2;
    ASSERT_TRUE(PumpUntil([&] { return op.IsOperationExit() && recorder.Count("TreeKey") >= 2; }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_GE(recorder.Count("TreeKey"), 2);
    EXPECT_LE(recorder.Count("TreeKey"), 3);
}

TEST(BridgeOperation, PollingThreadEndsWithFinishNotice)
{
    EnsureBridgeApp();
    NotificationRecorder recorder;
    static TestOperation op;
    op.SetStatus(OPERATION_STATUS_RUNNING);
    std::thread poll([] { ZRUIOperationThreads::QueryUpdateUI(&op, "SaveKey"); });
    op.SetNeedUIUpdate(1);
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("SaveKey") == 1; }));
    op.SetStatus(OPERATION_STATUS_FINISHED);
    poll.join();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("QueryProgressFinish") == 1; }));
    EXPECT_TRUE(recorder.AllOnMainThread());
}

}  // namespace
