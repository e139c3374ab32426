// Non-copyable base, a plain POSIX mutex and its scoped lock.
#pragma once

#include <pthread.h>

class none_copyable {
public:
    none_copyable() = default;
    virtual ~none_copyable() = default;
    none_copyable(const none_copyable&) = delete;
    none_copyable& operator=(const none_copyable&) = delete;
};

class mutex_locker : public none_copyable {
public:
    mutex_locker() { pthread_mutex_init(&m_mutex, nullptr); }
    ~mutex_locker() override { pthread_mutex_destroy(&m_mutex); }
    void lock() { pthread_mutex_lock(&m_mutex); }
    void un_lock() { pthread_mutex_unlock(&m_mutex); }
    pthread_mutex_t* native() { return &m_mutex; }

private:
    pthread_mutex_t m_mutex;
};

template <class Lock>
class autolocker : public none_copyable {
public:
    explicit autolocker(Lock& lock) : m_lock(lock) { m_lock.lock(); }
    ~autolocker() override { m_lock.un_lock(); }

private:
    Lock& m_lock;
};
