// A process-wide queue of small events with numbered observers and one
// dispatch thread that hands one event per period to every observer.
#pragma once

#include <cstdint>

#include "BridgeLocks.h"

enum EVENT_TYPE : int32_t {
    EVENT_TYPE_READ_SECTOR_FAILED = 1,  // a sector read of a volume device failed
};

// One heap block of size + 12 bytes: type, size, the data bytes, then four
// spare bytes. Made and freed by the center only.
struct _MSG_EVENT {
    EVENT_TYPE type;
    int32_t size;
    unsigned char* Data() { return reinterpret_cast<unsigned char*>(this) + kHeaderBytes; }
    const unsigned char* Data() const { return reinterpret_cast<const unsigned char*>(this) + kHeaderBytes; }

    static constexpr int kHeaderBytes = 8;
    static constexpr int kSpareBytes = 4;
};
static_assert(sizeof(_MSG_EVENT) == _MSG_EVENT::kHeaderBytes);

class INotifyCenter {
public:
    // Called on the dispatch thread with the center's lock held: the event
    // stays the center's, and the observer must not call back into the center.
    virtual void OnEvent(_MSG_EVENT* event) = 0;
    virtual ~INotifyCenter() = default;
};

// Guards the observers, the queue and the current event. Never destroyed, so
// the dispatch thread and late callers may use it during process exit.
extern mutex_locker& g_lockerMSG;

class CMessageCenter {
public:
    // The one center, made with its dispatch thread on first use and never
    // destroyed.
    static CMessageCenter& Instance();

    void StartReceiveMessage();
    void StopReceiveMessage();

    bool RegisterNotifyCenter(int id, INotifyCenter* observer);
    void UnregisterNotifyCenter(int id);
    INotifyCenter* GetNotifyCenter(int id);
    void UpdateNotifyCenter(int id, INotifyCenter* observer);

    // Queues a copy of size bytes of data. Dropped while no dispatch thread
    // runs, for a negative size, and when the queue already holds
    // kMaxQueuedEvents (such drops are counted).
    void PushEvent(EVENT_TYPE type, int size, void* data);
    _MSG_EVENT* PopEvent();
    void SendEvent(_MSG_EVENT* event);
    void Clear();

    static constexpr size_t kMaxQueuedEvents = 1024;

    // Tests only: the wait between dispatch steps (default 1 s), the queue's
    // length, the events dropped on a full queue, and the dispatch steps run.
    void SetDispatchPeriodForTesting(long long milliseconds);
    size_t GetQueueLengthForTesting();
    unsigned long long GetDroppedCountForTesting();
    unsigned long long GetDispatchStepsForTesting();

    CMessageCenter(const CMessageCenter&) = delete;
    CMessageCenter& operator=(const CMessageCenter&) = delete;

private:
    CMessageCenter();
    ~CMessageCenter() = delete;
    struct State;
    static void* DispatchThread(void* arg);
    void RunDispatch();

    State* m_pState;
};
