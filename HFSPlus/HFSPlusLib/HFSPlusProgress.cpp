#include "HFSPlusProgress.h"

#include <cstring>

CHFSPlusQuickFileSystemSearchProgress::CHFSPlusQuickFileSystemSearchProgress(IProgress* sink, bool silent)
    : m_pSink(sink), m_pInfo(std::make_unique<_PROGRESS_INFO>()), m_bSilent(silent)
{
    std::memset(m_pInfo.get(), 0, sizeof(_PROGRESS_INFO));
    m_pInfo->dwState = PROGRESS_STATE_RUNNING;
}

CHFSPlusQuickFileSystemSearchProgress::~CHFSPlusQuickFileSystemSearchProgress()
{
    if (!m_bSilent && m_pSink) {
        m_pInfo->dwState = PROGRESS_STATE_FINISHED;
        m_pSink->UpdateProgress(m_pInfo.get());
    }
}

void CHFSPlusQuickFileSystemSearchProgress::UpdateProgress()
{
    if (m_bSilent)
        return;
    ++m_pInfo->u64Done;
    if (m_pSink)
        m_pSink->UpdateProgress(m_pInfo.get());
}

int CHFSPlusQuickFileSystemSearchProgress::Continued() { return m_pSink ? m_pSink->Continued() : 1; }
