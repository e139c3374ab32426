// Turns the engine's progress sink into the per-record steps and stop
// checks of the HFS+ walks.
#pragma once

#include <memory>

#include "IProgress.h"

class CHFSPlusQuickFileSystemSearchProgress {
public:
    CHFSPlusQuickFileSystemSearchProgress(IProgress* sink, bool silent);
    // Unless silent, sends the finishing report (state 3).
    ~CHFSPlusQuickFileSystemSearchProgress();
    CHFSPlusQuickFileSystemSearchProgress(const CHFSPlusQuickFileSystemSearchProgress&) = delete;
    CHFSPlusQuickFileSystemSearchProgress& operator=(const CHFSPlusQuickFileSystemSearchProgress&) = delete;

    // One step done, reported to the sink unless silent.
    void UpdateProgress();
    // 1 to go on.
    int Continued();
    void SetTotal(unsigned long long total) { m_pInfo->u64Total = total; }
    const _PROGRESS_INFO& GetInfo() const { return *m_pInfo; }

private:
    IProgress* m_pSink;
    std::unique_ptr<_PROGRESS_INFO> m_pInfo;
    bool m_bSilent;
};
