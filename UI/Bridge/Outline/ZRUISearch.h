// The name search over the current scan result: it narrows the found files
// to those whose names contain the typed text by setting each file node's
// shown flag; every view and the recovery follow that flag. It runs on a
// thread of its own and tells the windows by a notification when done.
#pragma once

#include <mutex>
#include <optional>
#include <string>

class ZRUISearch {
public:
    static ZRUISearch& instance();

    // A null key changes nothing; otherwise the key is replaced, and an
    // empty key leaves no key.
    void SetSearchKey(const char* key);
    // A copy of the stored key, nothing when there is none.
    std::optional<std::string> GetSearchKey();
    void SetSearching(int searching);
    int IsSearching();

    // Shows every file of the scan's type map whose name contains the key
    // (ignoring case), hides the others; folders keep their flag. With no
    // key every file is shown. Sets the scan's refresh flag.
    void DoSearch();

    // The whole start of a search for the facade: refused (false, logged)
    // while a search is flagged; otherwise the type and time trees go into
    // search mode, the flag is set, the key stored, and a thread runs
    // DoSearch, posts postKey on the main thread and clears the scan's
    // refresh flag. The flag stays set until StopSearch.
    bool DoSearchWithString(const std::string& key, const std::string& postKey);
    // The key, "" when none is stored.
    std::string GetSearchString();
    void StopSearch();

private:
    ZRUISearch() = default;

    std::mutex m_lock;
    std::optional<std::string> m_strSearchKey;
    int m_iSearching = 0;
    // One search changes the shown flags at a time: a later search waits
    // for an earlier one, so the last key given is the one that holds.
    std::mutex m_searchRun;
};
