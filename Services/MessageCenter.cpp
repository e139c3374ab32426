#include "MessageCenter.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>

namespace {

mutex_locker& MessageLock()
{
    static auto* lock = new mutex_locker;  // never destroyed, see the header
    return *lock;
}

void FreeEvent(_MSG_EVENT* event)
{
    delete[] reinterpret_cast<unsigned char*>(event);
}

_MSG_EVENT* MakeEvent(EVENT_TYPE type, int size, const void* data)
{
    size_t bytes = static_cast<size_t>(size) + _MSG_EVENT::kHeaderBytes + _MSG_EVENT::kSpareBytes;
    auto* block = new (std::nothrow) unsigned char[bytes];
    if (!block)
        return nullptr;
    std::memset(block, 0, bytes);
    auto* event = reinterpret_cast<_MSG_EVENT*>(block);
    event->type = type;
    event->size = size;
    if (size > 0)
        std::memcpy(event->Data(), data, static_cast<size_t>(size));
    return event;
}

}  // namespace

mutex_locker& g_lockerMSG = MessageLock();

struct CMessageCenter::State {
    // Guarded by g_lockerMSG.
    std::map<int, INotifyCenter*> observers;
    std::deque<_MSG_EVENT*> queue;
    _MSG_EVENT* current = nullptr;
    bool threadRecorded = false;
    unsigned long long dropped = 0;

    // Start and stop run one at a time; the thread handle belongs to them.
    std::mutex control;
    pthread_t thread{};

    // The dispatch thread's wait, cut short by a stop.
    std::mutex waitMutex;
    std::condition_variable wake;
    std::atomic<bool> stop{false};
    std::atomic<long long> periodMs{1000};
    std::atomic<unsigned long long> steps{0};
};

CMessageCenter& CMessageCenter::Instance()
{
    static CMessageCenter* center = new CMessageCenter;  // never destroyed
    return *center;
}

CMessageCenter::CMessageCenter() : m_pState(new State)
{
    StartReceiveMessage();
}

void* CMessageCenter::DispatchThread(void* arg)
{
    static_cast<CMessageCenter*>(arg)->RunDispatch();
    return nullptr;
}

void CMessageCenter::RunDispatch()
{
    State& s = *m_pState;
    while (!s.stop.load()) {
        SendEvent(PopEvent());
        s.steps.fetch_add(1);
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.periodMs.load());
        std::unique_lock<std::mutex> wait(s.waitMutex);
        s.wake.wait_until(wait, until, [&] { return s.stop.load(); });
    }
    Clear();
}

void CMessageCenter::StartReceiveMessage()
{
    State& s = *m_pState;
    std::lock_guard<std::mutex> control(s.control);
    {
        std::lock_guard<std::mutex> wait(s.waitMutex);
        s.stop.store(false);
    }
    autolocker<mutex_locker> lock(g_lockerMSG);
    if (s.threadRecorded)
        return;
    for (_MSG_EVENT* event : s.queue)
        FreeEvent(event);
    s.queue.clear();
    if (pthread_create(&s.thread, nullptr, &CMessageCenter::DispatchThread, this) == 0)
        s.threadRecorded = true;
}

void CMessageCenter::StopReceiveMessage()
{
    State& s = *m_pState;
    std::lock_guard<std::mutex> control(s.control);
    {
        std::lock_guard<std::mutex> wait(s.waitMutex);
        s.stop.store(true);
    }
    s.wake.notify_all();
    bool joinable = false;
    {
        autolocker<mutex_locker> lock(g_lockerMSG);
        joinable = s.threadRecorded;
        s.threadRecorded = false;  // from here on pushes are dropped
    }
    if (joinable)
        pthread_join(s.thread, nullptr);
}

bool CMessageCenter::RegisterNotifyCenter(int id, INotifyCenter* observer)
{
    if (!observer)
        return false;
    autolocker<mutex_locker> lock(g_lockerMSG);
    return m_pState->observers.emplace(id, observer).second;
}

void CMessageCenter::UnregisterNotifyCenter(int id)
{
    autolocker<mutex_locker> lock(g_lockerMSG);
    m_pState->observers.erase(id);
}

INotifyCenter* CMessageCenter::GetNotifyCenter(int id)
{
    autolocker<mutex_locker> lock(g_lockerMSG);
    auto it = m_pState->observers.find(id);
    return it == m_pState->observers.end() ? nullptr : it->second;
}

void CMessageCenter::UpdateNotifyCenter(int id, INotifyCenter* observer)
{
    if (!observer)
        return;
    autolocker<mutex_locker> lock(g_lockerMSG);
    m_pState->observers[id] = observer;
}

void CMessageCenter::PushEvent(EVENT_TYPE type, int size, void* data)
{
    if (size < 0 || (size > 0 && !data))
        return;
    autolocker<mutex_locker> lock(g_lockerMSG);
    State& s = *m_pState;
    if (!s.threadRecorded)
        return;
    // Nobody may be listening while a failing disk posts for hours: keep the
    // oldest events and count what does not fit.
    if (s.queue.size() >= kMaxQueuedEvents) {
        ++s.dropped;
        return;
    }
    if (_MSG_EVENT* event = MakeEvent(type, size, data))
        s.queue.push_back(event);
}

_MSG_EVENT* CMessageCenter::PopEvent()
{
    autolocker<mutex_locker> lock(g_lockerMSG);
    State& s = *m_pState;
    if (s.queue.empty()) {
        s.current = nullptr;
    } else {
        s.current = s.queue.front();
        s.queue.pop_front();
    }
    return s.current;
}

void CMessageCenter::SendEvent(_MSG_EVENT* event)
{
    autolocker<mutex_locker> lock(g_lockerMSG);
    if (!event)
        return;
    State& s = *m_pState;
    for (auto& [id, observer] : s.observers)
        observer->OnEvent(event);
    FreeEvent(event);
    if (s.current == event)
        s.current = nullptr;
}

void CMessageCenter::Clear()
{
    autolocker<mutex_locker> lock(g_lockerMSG);
    State& s = *m_pState;
    for (_MSG_EVENT* event : s.queue)
        FreeEvent(event);
    s.queue.clear();
}

void CMessageCenter::SetDispatchPeriodForTesting(long long milliseconds)
{
    // Takes effect from the next wait of the dispatch thread.
    m_pState->periodMs.store(milliseconds < 0 ? 0 : milliseconds);
}

size_t CMessageCenter::GetQueueLengthForTesting()
{
    autolocker<mutex_locker> lock(g_lockerMSG);
    return m_pState->queue.size();
}

unsigned long long CMessageCenter::GetDroppedCountForTesting()
{
    autolocker<mutex_locker> lock(g_lockerMSG);
    return m_pState->dropped;
}

unsigned long long CMessageCenter::GetDispatchStepsForTesting()
{
    return m_pState->steps.load();
}
