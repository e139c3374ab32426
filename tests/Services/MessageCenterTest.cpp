// The message center: delivery order and pace, observers, stop and start,
// and the bounded queue.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "MessageCenter.h"

namespace {

using Clock = std::chrono::steady_clock;

// Unregisters the identifiers before the observers on the test's stack go.
struct ScopedUnregister {
    std::vector<int> ids;
    ~ScopedUnregister()
    {
        for (int id : ids)
            CMessageCenter::Instance().UnregisterNotifyCenter(id);
    }
};

// Records what it receives; called on the dispatch thread.
class RecordingObserver : public INotifyCenter {
public:
    explicit RecordingObserver(int id = 0, std::vector<int>* calls = nullptr) : m_id(id), m_calls(calls) {}

    void OnEvent(_MSG_EVENT* event) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Received r;
        r.type = event->type;
        r.size = event->size;
        r.data.assign(event->Data(), event->Data() + event->size);
        r.at = Clock::now();
        m_received.push_back(std::move(r));
        if (m_calls)
            m_calls->push_back(m_id);
    }

    struct Received {
        int type = 0;
        int size = 0;
        std::vector<unsigned char> data;
        Clock::time_point at;
    };

    std::vector<Received> Snapshot()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

    // Waits until count events arrived, at most timeout.
    bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(1500))
    {
        auto until = Clock::now() + timeout;
        while (Clock::now() < until) {
            if (Snapshot().size() >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return Snapshot().size() >= count;
    }

private:
    int m_id;
    std::vector<int>* m_calls;
    std::mutex m_mutex;
    std::vector<Received> m_received;
};

class MessageCenterTest : public testing::Test {
protected:
    void SetUp() override { Restart(10); }
    void TearDown() override { Restart(1000); }

    // A fresh dispatch thread with the given period, past its first step so
    // that what the test pushes next is not taken early.
    void Restart(long long periodMs)
    {
        m_center.StopReceiveMessage();
        m_center.SetDispatchPeriodForTesting(periodMs);
        unsigned long long steps = m_center.GetDispatchStepsForTesting();
        m_center.StartReceiveMessage();
        auto until = Clock::now() + std::chrono::seconds(2);
        while (m_center.GetDispatchStepsForTesting() == steps && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GT(m_center.GetDispatchStepsForTesting(), steps);
    }

    static void PushNumber(int value)
    {
        CMessageCenter::Instance().PushEvent(EVENT_TYPE_READ_SECTOR_FAILED, sizeof value, &value);
    }

    CMessageCenter& m_center = CMessageCenter::Instance();
};

TEST_F(MessageCenterTest, EventsArriveInPushingOrderOnePeriodApart)
{
    RecordingObserver observer;
    ScopedUnregister cleanup{{1}};
    ASSERT_TRUE(m_center.RegisterNotifyCenter(1, &observer));
    for (int i = 0; i < 10; ++i)
        PushNumber(i);
    ASSERT_TRUE(observer.WaitFor(10));
    auto got = observer.Snapshot();
    ASSERT_EQ(got.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].type, EVENT_TYPE_READ_SECTOR_FAILED);
        ASSERT_EQ(got[i].size, 4);
        int value = -1;
        std::memcpy(&value, got[i].data.data(), sizeof value);
        EXPECT_EQ(value, i);
        if (i > 0) {
            EXPECT_GE(got[i].at - got[i - 1].at, std::chrono::milliseconds(10));
        }
    }
}

TEST_F(MessageCenterTest, WithoutObserverEventsAreFreedAtTheNextStep)
{
    // LeakSanitizer reports the event if a step takes it without freeing it.
    for (int i = 0; i < 3; ++i)
        PushNumber(i);
    unsigned long long steps = m_center.GetDispatchStepsForTesting();
    auto until = Clock::now() + std::chrono::seconds(1);
    while ((m_center.GetQueueLengthForTesting() != 0 || m_center.GetDispatchStepsForTesting() < steps + 4) &&
           Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(m_center.GetQueueLengthForTesting(), 0u);
}

TEST_F(MessageCenterTest, ObserversByIdentifier)
{
    std::vector<int> calls;  // written on the dispatch thread, read after WaitFor
    RecordingObserver one(1, &calls), two(2, &calls), three(3, &calls), other;
    ScopedUnregister cleanup{{1, 2, 3, 7}};
    EXPECT_TRUE(m_center.RegisterNotifyCenter(3, &three));
    EXPECT_TRUE(m_center.RegisterNotifyCenter(1, &one));
    EXPECT_TRUE(m_center.RegisterNotifyCenter(2, &two));
    EXPECT_FALSE(m_center.RegisterNotifyCenter(2, &other)) << "a taken identifier";
    EXPECT_FALSE(m_center.RegisterNotifyCenter(5, nullptr));
    EXPECT_EQ(m_center.GetNotifyCenter(2), &two);
    EXPECT_EQ(m_center.GetNotifyCenter(5), nullptr);

    PushNumber(7);
    ASSERT_TRUE(three.WaitFor(1));
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3})) << "observers are called in ascending identifier order";
    EXPECT_TRUE(other.Snapshot().empty());

    m_center.UpdateNotifyCenter(2, &other);
    EXPECT_EQ(m_center.GetNotifyCenter(2), &other);
    m_center.UpdateNotifyCenter(7, &other);
    EXPECT_EQ(m_center.GetNotifyCenter(7), &other);
    m_center.UnregisterNotifyCenter(2);
    EXPECT_EQ(m_center.GetNotifyCenter(2), nullptr);
    m_center.UnregisterNotifyCenter(2);  // nothing left to remove
}

TEST_F(MessageCenterTest, StoppedCenterDropsPushesAndStartsAgain)
{
    RecordingObserver observer;
    ScopedUnregister cleanup{{40}};
    ASSERT_TRUE(m_center.RegisterNotifyCenter(40, &observer));
    m_center.StopReceiveMessage();
    PushNumber(1);
    EXPECT_EQ(m_center.GetQueueLengthForTesting(), 0u);

    m_center.StartReceiveMessage();
    PushNumber(2);
    ASSERT_TRUE(observer.WaitFor(1));
    auto got = observer.Snapshot();
    ASSERT_EQ(got.size(), 1u);
    int value = 0;
    std::memcpy(&value, got[0].data.data(), sizeof value);
    EXPECT_EQ(value, 2);
}

TEST_F(MessageCenterTest, MalformedPushesAreDropped)
{
    Restart(3600 * 1000);
    size_t before = m_center.GetQueueLengthForTesting();
    int value = 1;
    m_center.PushEvent(EVENT_TYPE_READ_SECTOR_FAILED, -1, &value);
    m_center.PushEvent(EVENT_TYPE_READ_SECTOR_FAILED, 4, nullptr);
    EXPECT_EQ(m_center.GetQueueLengthForTesting(), before);
    m_center.PushEvent(EVENT_TYPE_READ_SECTOR_FAILED, 0, nullptr);
    EXPECT_EQ(m_center.GetQueueLengthForTesting(), before + 1);
}

TEST_F(MessageCenterTest, QueueIsBoundedAndCountsWhatItDrops)
{
    Restart(3600 * 1000);  // no step runs while the test pushes
    unsigned long long droppedBefore = m_center.GetDroppedCountForTesting();
    for (int i = 0; i < 5000; ++i)
        PushNumber(i);
    EXPECT_EQ(m_center.GetQueueLengthForTesting(), 1024u);
    EXPECT_EQ(m_center.GetDroppedCountForTesting() - droppedBefore, 3976u);

    // A stop does not wait out the hour.
    auto start = Clock::now();
    m_center.StopReceiveMessage();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(m_center.GetQueueLengthForTesting(), 0u) << "the stopping thread frees the queue";
}

}  // namespace
