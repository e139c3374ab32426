#include "ZRUISearch.h"

#include <thread>

#include "BridgeUtil.h"
#include "IFileNode.h"
#include "Log.h"
#include "ZRTimeMgr.h"
#include "ZRTypeMgr.h"
#include "ZRUIOperation.h"
#include "ZRUIScan.h"

ZRUISearch& ZRUISearch::instance()
{
    // Never destroyed: a detached search thread may still use it while the
    // process exits.
    static ZRUISearch* const s_instance = new ZRUISearch();
    return *s_instance;
}

void ZRUISearch::SetSearchKey(const char* key)
{
    if (!key)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (*key)
        m_strSearchKey = std::string(key);
    else
        m_strSearchKey.reset();
}

std::optional<std::string> ZRUISearch::GetSearchKey()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_strSearchKey;
}

void ZRUISearch::SetSearching(int searching)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_iSearching = searching;
}

int ZRUISearch::IsSearching()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_iSearching;
}

void ZRUISearch::DoSearch()
{
    std::lock_guard<std::mutex> run(m_searchRun);
    ZRUIScan& scan = ZRUIScan::instance();
    scan.RefreshAllData();
    // The key is read once: the window may store another one meanwhile.
    const std::optional<std::string> key = GetSearchKey();
    const char* text = key ? key->c_str() : nullptr;
    for (const auto& [bit, list] : scan.GetTypeMap())
        for (IFileNode* node : list)
            if (node)
                node->ShowNode(ZRUIPublic::IsStringInFileNode(text, node) ? 1 : 0);
    scan.SetNeedUIUpdate(1);
}

bool ZRUISearch::DoSearchWithString(const std::string& key, const std::string& postKey)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_iSearching) {
            CatchExeception::WriteLog("++++++++++skip search key:%s++++++++", key.c_str());
            return false;
        }
    }
    ZRTypeMgr::share().setSearch(1);
    ZRTimeMgr::share().setSearch(1);
    SetSearching(1);
    SetSearchKey(key.c_str());
    try {
        std::thread([postKey] {
            ZRUISearch::instance().DoSearch();
            ZRUINotify::NotifyMainThread(postKey);
            ZRUIScan::instance().SetNeedUIUpdate(0);
        }).detach();
    } catch (const std::system_error&) {
        // No thread, no search: the window must be able to start another.
        SetSearching(0);
        return false;
    }
    return true;
}

std::string ZRUISearch::GetSearchString() { return GetSearchKey().value_or(std::string()); }

void ZRUISearch::StopSearch() { SetSearching(0); }
