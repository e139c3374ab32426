// The bridge helpers that need QtCore (Unicode text, locale) or the network.
#include <curl/curl.h>

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <atomic>
#include <mutex>
#include <vector>

#include "BridgeUtil.h"
#include "IFileNode.h"

namespace {

constexpr char kDefaultProbeUrl[] = "https://www.example.com/";
constexpr long kProbeTimeoutMs = 5000;

std::atomic<ZRCPPPublic::TitleLookup> g_titleLookup{nullptr};

struct TitleEntry {
    _FILTER_TYPE type;
    const char* key;
    const char* english;
};

// In the order the title comparison tries them.
constexpr TitleEntry kTitles[] = {
    {FILTER_TYPE_PICTURE, "PAGE_TWO_PICTURE_TITLE", "Pictures"},
    {FILTER_TYPE_MUSIC, "PAGE_TWO_MUSIC_TITLE", "Music"},
    {FILTER_TYPE_MOVIE, "PAGE_TWO_MOVIE_TITLE", "Movies"},
    {FILTER_TYPE_ARCHIVE, "PAGE_TWO_ARCHIVE_TITLE", "Archives"},
    {FILTER_TYPE_DOCUMENT, "PAGE_TWO_DOCUMENT_TITLE", "Documents"},
    {FILTER_TYPE_OTHER, "PAGE_TWO_OTHER_TITLE", "Others"},
};

std::string Title(const TitleEntry& entry)
{
    ZRCPPPublic::TitleLookup lookup = g_titleLookup.load();
    return lookup ? lookup(entry.key) : std::string(entry.english);
}

bool NameContains(const char* text, const QString& key)
{
    return text && QString::fromUtf8(text).contains(key, Qt::CaseInsensitive);
}

size_t CountBytes(char*, size_t size, size_t count, void* total)
{
    *static_cast<size_t*>(total) += size * count;
    return size * count;
}

}  // namespace

// ---- ZRUIPublic -------------------------------------------------------------

bool ZRUIPublic::IsStringInString(const char* key, const char* text)
{
    if (!key || !*key)
        return true;
    return NameContains(text, QString::fromUtf8(key));
}

bool ZRUIPublic::IsStringInFileNode(const char* key, IFileNode* node)
{
    if (!key || !*key)
        return true;
    if (!node)
        return false;
    const QString needle = QString::fromUtf8(key);
    // Depth first, in child order, without recursion: trees can be deep.
    std::vector<IFileNode*> pending{node};
    while (!pending.empty()) {
        IFileNode* n = pending.back();
        pending.pop_back();
        if (!n->IsDirectory()) {
            if (NameContains(n->GetFileName(), needle))
                return true;
            continue;
        }
        std::vector<IFileNode*> children;
        for (IFileNode* c = n->GetFirstChild(); c; c = c->GetNextNode())
            children.push_back(c);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return false;
}

std::string ZRUIPublic::FormatFileTimeToString(unsigned long long fileTime)
{
    const long long seconds = convertWindowsTimeToUnixTime(U64ToFileTime(fileTime));
    const QDateTime when = QDateTime::fromSecsSinceEpoch(seconds).toLocalTime();
    const QLocale locale;
    const QString text = locale.toString(when.date(), QLocale::LongFormat) + " " +
                         locale.toString(when.time(), QLocale::ShortFormat);
    return text.toStdString();
}

// ---- ZRCPPPublic ------------------------------------------------------------

void ZRCPPPublic::SetTitleLookup(TitleLookup lookup) { g_titleLookup.store(lookup); }

std::string ZRCPPPublic::FilterTypeToString(_FILTER_TYPE type)
{
    for (const TitleEntry& entry : kTitles)
        if (entry.type == type)
            return Title(entry);
    return std::string();
}

_FILTER_TYPE ZRCPPPublic::StringToFilterType(const char* text)
{
    if (!text)
        return FILTER_TYPE_OTHER;
    for (const TitleEntry& entry : kTitles)
        if (Title(entry) == text)
            return entry.type;
    return FILTER_TYPE_OTHER;
}

bool ZRCPPPublic::IsStringInFileNode(const char* key, IFileNode* node)
{
    return ZRUIPublic::IsStringInFileNode(key, node);
}

// ---- ZRPublicUtilities --------------------------------------------------------

bool ZRPublicUtilities::isCanBeUseNetWork(const std::string& url)
{
    static std::once_flag s_init;
    std::call_once(s_init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl)
        return false;
    size_t received = 0;
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    const std::string target = url.empty() ? std::string(kDefaultProbeUrl) : url;
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kProbeTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kProbeTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CountBytes);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
    curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return received > 0;
}
