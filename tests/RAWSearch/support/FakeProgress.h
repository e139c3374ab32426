// A progress sink whose Continued() answers yes for the first N calls and
// then no; the count is atomic, as the stop signal is asked from the scan
// thread while another thread may stop it.
#pragma once

#include <atomic>
#include <climits>

#include "IProgress.h"

class FakeProgress : public IProgress {
public:
    explicit FakeProgress(long long continueCalls = LLONG_MAX) : m_llAllowed(continueCalls) {}

    void UpdateProgress(_PROGRESS_INFO* info) override
    {
        if (info)
            m_llLastDone.store(static_cast<long long>(info->u64Done));
        m_llUpdates.fetch_add(1);
    }
    int Continued() override { return m_llCalls.fetch_add(1) < m_llAllowed.load() ? 1 : 0; }
    int shouldBuild() override { return 1; }

    // Every later Continued() answers no.
    void Stop() { m_llAllowed.store(0); }
    long long Calls() const { return m_llCalls.load(); }
    long long Updates() const { return m_llUpdates.load(); }
    long long LastDone() const { return m_llLastDone.load(); }

private:
    std::atomic<long long> m_llAllowed;
    std::atomic<long long> m_llCalls{0};
    std::atomic<long long> m_llUpdates{0};
    std::atomic<long long> m_llLastDone{0};
};
