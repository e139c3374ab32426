#include "ZRUIOperation.h"

#include <pthread.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <map>
#include <memory>

#include "Log.h"

ZRUIOperation::ZRUIOperation() = default;
ZRUIOperation::~ZRUIOperation() = default;

int ZRUIOperation::Continued()
{
    for (;;) {
        {
            std::lock_guard<std::recursive_mutex> guard(m_lock);
            if (m_iStatus != OPERATION_STATUS_PAUSED)
                return m_iStatus == OPERATION_STATUS_RUNNING ? 1 : 0;
        }
        usleep(ZRUIOperationThreads::kPauseMicroseconds);
    }
}

int ZRUIOperation::shouldBuild()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_iShouldBuild;
}

int ZRUIOperation::GetStatus()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_iStatus;
}

void ZRUIOperation::SetStatus(int status)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_iStatus = status;
}

int ZRUIOperation::IsNeedUIUpdate()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_iNeedUpdate;
}

void ZRUIOperation::SetNeedUIUpdate(int flag)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_iNeedUpdate = flag;
}

void ZRUIOperation::SetShouldBuildTree(int flag)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_iShouldBuild = flag;
}

_PROGRESS_INFO ZRUIOperation::GetProgressInfo()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_progress;
}

void ZRUIOperation::SetProgressInfo(const _PROGRESS_INFO& info)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_progress = info;
}

bool ZRUIOperation::IsOperationExit()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_iStatus == OPERATION_STATUS_IDLE || m_iStatus == OPERATION_STATUS_FINISHED;
}

void ZRUIOperation::PauseOrResumeOperation()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_iStatus == OPERATION_STATUS_PAUSED)
        m_iStatus = OPERATION_STATUS_RUNNING;
    else if (m_iStatus == OPERATION_STATUS_RUNNING)
        m_iStatus = OPERATION_STATUS_PAUSED;
}

void ZRUIOperation::StopOperation(int discard)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_iStatus != OPERATION_STATUS_IDLE) {
        m_iStatus = OPERATION_STATUS_STOP;
        m_iShouldBuild = discard ? 0 : 1;
    }
    m_iNeedUpdate = 1;
}

long long ZRUIOperation::GetScanElapseTime()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_s64LastTime - m_s64StartTime;
}

void ZRUIOperation::SetStartTime(long long t)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_s64StartTime = t;
}

void ZRUIOperation::SetLastTime(long long t)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_s64LastTime = t;
}

namespace {

struct Observers {
    std::mutex lock;
    int next = 1;
    std::map<int, ZRUINotify::Observer> list;
};

Observers& GetObservers()
{
    // Never destroyed: a detached thread may post while the process exits.
    static Observers* observers = new Observers;
    return *observers;
}

void Deliver(const std::string& name)
{
    std::map<int, ZRUINotify::Observer> copy;
    {
        std::lock_guard<std::mutex> guard(GetObservers().lock);
        copy = GetObservers().list;
    }
    for (auto& [id, observer] : copy)
        observer(name);
}

void* RunFunction(void* arg)
{
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return nullptr;
}

// A detached thread; stackBytes 0 keeps the default stack.
bool StartThread(std::function<void()> body, size_t stackBytes)
{
    auto* heap = new std::function<void()>(std::move(body));
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        delete heap;
        return false;
    }
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    bool ok = (stackBytes == 0 || pthread_attr_setstacksize(&attr, stackBytes) == 0) &&
              pthread_create(&thread, &attr, RunFunction, heap) == 0;
    pthread_attr_destroy(&attr);
    if (!ok)
        delete heap;
    return ok;
}

}  // namespace

int ZRUINotify::AddObserver(Observer observer)
{
    auto& o = GetObservers();
    std::lock_guard<std::mutex> guard(o.lock);
    const int id = o.next++;
    o.list.emplace(id, std::move(observer));
    return id;
}

void ZRUINotify::RemoveObserver(int id)
{
    auto& o = GetObservers();
    std::lock_guard<std::mutex> guard(o.lock);
    o.list.erase(id);
}

void ZRUINotify::NotifyMainThread(const std::string& name)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        Deliver(name);
        return;
    }
    QMetaObject::invokeMethod(app, [name] { Deliver(name); }, Qt::QueuedConnection);
}

void ZRUINotify::NotifyMainThreadByPostKey(const std::string& name, std::function<void()> work)
{
    auto body = [name, work = std::move(work)] {
        if (work)
            work();
        NotifyMainThread(name);
    };
    if (!StartThread(body, 0))
        body();  // no thread to be had: do the work here rather than never post
}

bool ZRUIOperationThreads::DoOperation(std::function<void()> worker, ZRUIOperation* op, const std::string& key)
{
    if (!op)
        return false;
    if (!StartThread([op, key] { QueryStatusAndUpdateUI(op, key); }, 0)) {
        op->SetStatus(OPERATION_STATUS_IDLE);
        ZRUINotify::NotifyMainThread(key);
        return false;
    }
    if (!StartThread(std::move(worker), kWorkerStackBytes)) {
        // The state-query thread sees the exit within one tick and posts once.
        op->SetStatus(OPERATION_STATUS_IDLE);
        return false;
    }
    return true;
}

void ZRUIOperationThreads::QueryStatusAndUpdateUI(ZRUIOperation* op, const std::string& key)
{
    bool posted = false;
    while (!op->IsOperationExit()) {
        usleep(kPollMicroseconds);
        if (op->IsNeedUIUpdate()) {
            op->SetNeedUIUpdate(0);
            if (op->IsOpTreeFinished()) {
                ZRUINotify::NotifyMainThread(key);
                posted = true;
            }
        }
    }
    if (!posted)
        ZRUINotify::NotifyMainThread(key);
    op->SetNeedUIUpdate(0);
    CatchExeception::WriteLog("!!!!!!! The state query thread is exited!!!!!!!!!");
}

void ZRUIOperationThreads::QueryUpdateUI(ZRUIOperation* op, const std::string& key)
{
    if (op) {
        while (!op->IsOperationExit()) {
            usleep(kPollMicroseconds);
            if (op->IsNeedUIUpdate()) {
                op->SetNeedUIUpdate(0);
                ZRUINotify::NotifyMainThread(key);
            }
        }
    }
    CatchExeception::WriteLog("---------Send Progress finish notify to UI-------");
    ZRUINotify::NotifyMainThread("QueryProgressFinish");
    CatchExeception::WriteLog("---------The Progress thread is exited-----------");
}
