// The base of the bridge's long operations (scan, recovery, saving): the
// engine's progress sink and the one place where an operation's status, its
// last progress record and its "new data for the windows" flag live. Also the
// pair of threads that runs an operation and watches it, and the main-thread
// notifications the windows observe.
#pragma once

#include <ctime>
#include <functional>
#include <mutex>
#include <string>

#include "IProgress.h"

enum : int {
    OPERATION_STATUS_IDLE = 0,
    OPERATION_STATUS_STOP = 1,
    OPERATION_STATUS_RUNNING = 2,
    OPERATION_STATUS_PAUSED = 3,
    OPERATION_STATUS_FINISHED = 4,
};

class ZRUIOperation : public IProgress {
public:
    ZRUIOperation();
    ~ZRUIOperation() override;
    ZRUIOperation(const ZRUIOperation&) = delete;
    ZRUIOperation& operator=(const ZRUIOperation&) = delete;

    void UpdateProgress(_PROGRESS_INFO* info) override = 0;
    // Asked by the engine on the working thread: waits while paused, then
    // true only while running.
    int Continued() override;
    int shouldBuild() override;
    virtual int IsOpTreeFinished() { return 1; }
    virtual void SetOpTreeFinished(int) {}

    int GetStatus();
    void SetStatus(int status);
    int IsNeedUIUpdate();
    void SetNeedUIUpdate(int flag);
    void SetShouldBuildTree(int flag);
    _PROGRESS_INFO GetProgressInfo();
    void SetProgressInfo(const _PROGRESS_INFO& info);
    bool IsOperationExit();
    void PauseOrResumeOperation();
    void StopOperation(int discard);
    long long GetScanElapseTime();

protected:
    void SetStartTime(long long t);
    void SetLastTime(long long t);
    static long long Now() { return static_cast<long long>(std::time(nullptr)); }

    std::recursive_mutex m_lock;

private:
    long long m_s64StartTime = 0;
    long long m_s64LastTime = 0;
    int m_iStatus = OPERATION_STATUS_IDLE;
    int m_iShouldBuild = 1;
    int m_iNeedUpdate = 0;
    _PROGRESS_INFO m_progress{};
};

// Main-thread notifications. A name is posted to the observers on the thread
// that runs the Qt event loop of the application object; without an
// application object it is handed to them at once on the posting thread.
class ZRUINotify {
public:
    using Observer = std::function<void(const std::string& name)>;
    // Returns an id for RemoveObserver.
    static int AddObserver(Observer observer);
    static void RemoveObserver(int id);
    // Posts without waiting.
    static void NotifyMainThread(const std::string& name);
    // Runs work on a thread of its own, then posts name.
    static void NotifyMainThreadByPostKey(const std::string& name, std::function<void()> work);
};

// The operation threads of the facade.
class ZRUIOperationThreads {
public:
    // Starts the state-query thread over op with key, then the worker with
    // the scan threads' stack. Neither is joined. False when a thread could
    // not be started (the worker then did not run; op's status is set 0 so
    // the state-query thread ends and the windows hear of it once).
    static bool DoOperation(std::function<void()> worker, ZRUIOperation* op, const std::string& key);
    // Body of the state-query thread.
    static void QueryStatusAndUpdateUI(ZRUIOperation* op, const std::string& key);
    // Body of the save/load polling thread: posts key on each update and
    // "QueryProgressFinish" when op has exited.
    static void QueryUpdateUI(ZRUIOperation* op, const std::string& key);

    static constexpr size_t kWorkerStackBytes = 8u << 20;
    static constexpr int kPollMicroseconds = 100000;
    static constexpr int kPauseMicroseconds = 80000;
};
