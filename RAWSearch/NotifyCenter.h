// The process-wide stop signal of the RAW search: the running search's
// progress sink, asked once per sector and per read-window access.
#pragma once

#include <atomic>

class IProgress;

class CNotifyCenter {
public:
    static CNotifyCenter* Instance();

    void SetProgress(IProgress* progress) { m_pProgress.store(progress); }
    void Reset() { m_pProgress.store(nullptr); }
    // The sink's Continued(); 1 when no sink is set.
    int isContinue();

private:
    CNotifyCenter() = default;
    std::atomic<IProgress*> m_pProgress{nullptr};
};
