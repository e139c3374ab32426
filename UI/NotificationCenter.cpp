#include "NotificationCenter.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <memory>

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::AddObserver(const void* observer, const std::string& name, Handler handler,
                                     const void* sender, QObject* lifetime)
{
    if (!handler)
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_entries.push_back({observer, name, sender, std::make_shared<Handler>(std::move(handler))});
    }
    if (lifetime)
        QObject::connect(lifetime, &QObject::destroyed, [this, observer]() { RemoveObserver(observer); });
}

void NotificationCenter::RemoveObserver(const void* observer)
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::erase_if(m_entries, [observer](const Entry& e) { return e.observer == observer; });
}

void NotificationCenter::RemoveObserver(const void* observer, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::erase_if(m_entries, [&](const Entry& e) { return e.observer == observer && e.name == name; });
}

void NotificationCenter::PostNotification(const std::string& name, const void* object, const QVariantMap& userInfo)
{
    // Handlers run outside the lock on a snapshot, so that they may observe
    // or stop observing; one removed by an earlier handler is skipped.
    std::vector<Entry> matching;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const Entry& e : m_entries)
            if ((e.name.empty() || e.name == name) && (!e.sender || e.sender == object))
                matching.push_back(e);
    }
    Notification note{name, object, userInfo};
    for (const Entry& e : matching) {
        bool live = false;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            live = std::any_of(m_entries.begin(), m_entries.end(),
                               [&](const Entry& x) { return x.handler == e.handler; });
        }
        if (live)
            (*e.handler)(note);
    }
}

void NotificationCenter::PostOnMainThread(const std::string& name, const void* object, const QVariantMap& userInfo)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        PostNotification(name, object, userInfo);
        return;
    }
    QMetaObject::invokeMethod(
        app, [this, name, object, userInfo]() { PostNotification(name, object, userInfo); }, Qt::QueuedConnection);
}

size_t NotificationCenter::ObserverCount()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_entries.size();
}
