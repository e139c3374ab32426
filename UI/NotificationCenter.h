// The application's notification centre: screens and the bridge post named
// notifications, observers registered for a name hear them. Delivery is
// synchronous on the posting thread; PostOnMainThread hands a notification to
// the thread of the application object without waiting.
#pragma once

#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QObject;

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender, or what the poster names as such
    QVariantMap userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // Registers handler for name (an empty name hears every notification),
    // optionally only from sender. The observer key is what RemoveObserver
    // takes. With lifetime set the registration ends when that object is
    // destroyed.
    void AddObserver(const void* observer, const std::string& name, Handler handler,
                     const void* sender = nullptr, QObject* lifetime = nullptr);
    void RemoveObserver(const void* observer);
    void RemoveObserver(const void* observer, const std::string& name);

    // Calls every matching handler on this thread, in the order they were
    // added. A handler may add or remove observers while it runs.
    void PostNotification(const std::string& name, const void* object = nullptr,
                          const QVariantMap& userInfo = {});
    // Posts on the application object's thread, without waiting; with no
    // application object it posts at once on this thread.
    void PostOnMainThread(const std::string& name, const void* object = nullptr,
                          const QVariantMap& userInfo = {});

    size_t ObserverCount();

private:
    struct Entry {
        const void* observer;
        std::string name;
        const void* sender;
        std::shared_ptr<Handler> handler;
    };
    std::mutex m_lock;
    std::vector<Entry> m_entries;
};
