// Engine log, recursive lock, local time and tick count.
#pragma once

#include <pthread.h>

#include "EngineTypes.h"

class CatchExeception {
public:
    // Prints one time-stamped entry and appends it to the log file in the
    // work folder; returns the entry's length.
    static int WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // The same entry in the log file only, for callers whose standard
    // output carries results.
    static int WriteLogFile(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // The work folder, copied once from GetAppWorkPath().
    static const char* GetWorkPath();
};

class SimpleCs {
public:
    SimpleCs();
    ~SimpleCs();
    SimpleCs(const SimpleCs&) = delete;
    SimpleCs& operator=(const SimpleCs&) = delete;
    void Enter();
    void Leave();

private:
    pthread_mutex_t m_mutex;
    pthread_t m_owner{};
    bool m_bOwned = false;
};

class SimpleLock {
public:
    explicit SimpleLock(SimpleCs* cs) : m_pCs(cs) { if (m_pCs) m_pCs->Enter(); }
    ~SimpleLock() { if (m_pCs) m_pCs->Leave(); }
    SimpleLock(const SimpleLock&) = delete;
    SimpleLock& operator=(const SimpleLock&) = delete;

private:
    SimpleCs* m_pCs;
};

unsigned int GetLocalTime(_SYSTEMTIME* time);
unsigned int GetTickCount();
