#include "NotifyCenter.h"

#include "IProgress.h"

CNotifyCenter* CNotifyCenter::Instance()
{
    static CNotifyCenter instance;
    return &instance;
}

int CNotifyCenter::isContinue()
{
    IProgress* progress = m_pProgress.load();
    return progress ? progress->Continued() : 1;
}
