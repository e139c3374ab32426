// Engine log, recursive lock, local time and tick count.
#pragma once

#include <pthread.h>

#include "EngineTypes.h"

class CatchExeception {
public:
    // Prints one time-stamped entry and appends it to the log file in the
    // log folder; returns the entry's length. The file is kept below 16 MiB
    // by moving it to "<name>.1" (replacing the older copy).
    static int WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // The same entry in the log file only, for callers whose standard
    // output carries results.
    static int WriteLogFile(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // The log folder, copied again whenever it changes: the work folder the
    // program set with SetAppWorkPath(), else VANTREL_WORK_DIR, else
    // "vantrel-data-recovery" in the state folder of the user the program
    // works for ($XDG_STATE_HOME, else ~/.local/state; the invoking user's
    // home when elevated). Created on the first entry.
    static const char* GetWorkPath();
    // Whether WriteLog also prints its entries on standard output (on by
    // default; the command-line driver turns it off unless asked to be
    // verbose).
    static void SetEcho(bool echo);
    // Whether entries reach the log file at all (off when the log folder
    // lies on the device being scanned).
    static void SetFileEnabled(bool enabled);
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
