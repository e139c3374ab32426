#include "ZRRootEngine.h"

#include <QDesktopServices>
#include <QUrl>

#include <curl/curl.h>

#include <atomic>

#include "BundleResources.h"
#include "ZRPublicUtilities.h"
#include "ZRUIController.h"

namespace {

constexpr long kRemoteTimeoutSeconds = 10;
constexpr size_t kMaxRemoteBytes = 1 << 20;  // a version list is a few hundred bytes

std::atomic<ZRRootEngine*> g_current{nullptr};

size_t Collect(char* data, size_t size, size_t count, void* user)
{
    auto* out = static_cast<QByteArray*>(user);
    size_t bytes = size * count;
    if (static_cast<size_t>(out->size()) + bytes > kMaxRemoteBytes)
        return 0;  // too big for what it claims to be: give up
    out->append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

}  // namespace

ZRRootEngine& ZRRootEngine::current()
{
    static ZRRootEngine forwarding;
    ZRRootEngine* engine = g_current.load();
    return engine ? *engine : forwarding;
}

void ZRRootEngine::setCurrent(ZRRootEngine* engine) { g_current.store(engine); }

void ZRRootEngine::NotifiyDeviceInfoAfterInit(const QString& key) { ZRUIController::NotifiyDeviceInfoAfterInit(key); }
void ZRRootEngine::GetDeviceInfoToArray(DiskVolumeNodeArray* array) { ZRUIController::GetDeviceInfoToArray(array); }
void ZRRootEngine::RefreshDeviceInfo() { ZRUIController::RefreshDeviceInfo(); }
bool ZRRootEngine::IsAppRunning() { return ZRUIController::IsAppRunning(); }
void ZRRootEngine::initFileType() { ZRUIController::initFileType(); }
void ZRRootEngine::SetRecoveryType(unsigned int mask) { ZRUIController::SetRecoveryType(mask); }
void ZRRootEngine::ReleaseDataRecovery() { ZRUIController::ReleaseDataRecovery(); }
void ZRRootEngine::CloseApp() { ZRUIController::CloseApp(); }
bool ZRRootEngine::IsScanRunning() { return ZRUIController::IsScanRunning(); }
bool ZRRootEngine::IsPause() { return ZRUIController::IsPause(); }
void ZRRootEngine::PauseOrResumeScan() { ZRUIController::PauseOrResumeScan(); }
void ZRRootEngine::beginSaveOrRestoreNode(bool save, const QString& path)
{
    ZRUIController::beginSaveOrRestoreNode(save, path);
}
QString ZRRootEngine::GetSavePath() { return ZRUIController::GetSavePath(); }
std::optional<std::string> ZRRootEngine::isFristTime() { return ZRPublicUtilities::isFristTime(); }
bool ZRRootEngine::writeFristTime() { return ZRPublicUtilities::writeFristTime(); }
std::optional<std::string> ZRRootEngine::getUpDataTimeStr() { return ZRPublicUtilities::getUpDataTimeStr(); }
bool ZRRootEngine::writeUpDataTimeStr(const std::string& text) { return ZRPublicUtilities::writeUpDataTimeStr(text); }
bool ZRRootEngine::isCanBeUseNetWork() { return ZRPublicUtilities::isCanBeUseNetWork(); }

QVariantMap ZRRootEngine::ReadRemoteDictionary(const QString& url)
{
    if (url.isEmpty())
        return {};
    CURL* curl = curl_easy_init();
    if (!curl)
        return {};
    QByteArray body;
    QByteArray address = url.toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, kRemoteTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK)
        return {};
    return Bundle::ParsePlist(body).value_or(QVariantMap());
}

void ZRRootEngine::OpenUrl(const QString& url)
{
    if (!url.isEmpty())
        QDesktopServices::openUrl(QUrl(url));
}
