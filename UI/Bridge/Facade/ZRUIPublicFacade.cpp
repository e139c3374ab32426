// The windows' notifier (ZRUIPublic) and settings helpers (ZRPublicUtilities).
#include <QVariant>

#include <mutex>
#include <thread>

#include "BundleResources.h"
#include "FacadeInternal.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "ZRPublicUtilities.h"
#include "ZRUIOperation.h"
#include "ZRUIPublic.h"

namespace {

constexpr char kFristTimeKey[] = "FristTime";
constexpr char kUpDataTimeKey[] = "upDataTimeStr";

// The address every bridge notification carries as its object.
const char g_classObject = 0;

std::optional<std::string> ReadSettingText(const char* key)
{
    const std::optional<QVariantMap> settings = Bundle::ReadSettings();
    if (!settings)
        return std::nullopt;
    const auto it = settings->constFind(QString::fromLatin1(key));
    if (it == settings->constEnd() || !it->canConvert<QString>())
        return std::nullopt;
    return it->toString().toStdString();
}

bool WriteSettingText(const char* key, const std::string& text)
{
    std::optional<QVariantMap> settings = Bundle::ReadSettings();
    if (!settings)
        return false;
    settings->insert(QString::fromLatin1(key), QString::fromStdString(text));
    return Bundle::WriteSettings(*settings);
}

}  // namespace

void FacadeInternal::EnsureNotifyBridge()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // ZRUINotify hands the name to the application's thread; from there
        // it goes to the screens' notification centre.
        ZRUINotify::AddObserver([](const std::string& name) { ZRUIPublic::NotifyMainThreadCB(name); });
    });
}

bool FacadeInternal::StartDetached(std::function<void()> body)
{
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error& e) {
        CatchExeception::WriteLog("no thread for a bridge job: %s", e.what());
        return false;
    }
}

const void* ZRUIPublic::ClassObject() { return &g_classObject; }

void ZRUIPublic::NotifyMainThread(const std::string& name)
{
    FacadeInternal::EnsureNotifyBridge();
    ZRUINotify::NotifyMainThread(name);
}

void ZRUIPublic::NotifyMainThreadCB(const std::string& name)
{
    NotificationCenter::defaultCenter().PostNotification(name, ClassObject(), {});
}

void ZRUIPublic::NotifyMainThreadByPostKey(const std::string& name, std::function<void()> work)
{
    FacadeInternal::EnsureNotifyBridge();
    ZRUINotify::NotifyMainThreadByPostKey(name, std::move(work));
}

std::optional<std::string> ZRPublicUtilities::isFristTime() { return ReadSettingText(kFristTimeKey); }

bool ZRPublicUtilities::writeFristTime() { return WriteSettingText(kFristTimeKey, "NO"); }

std::optional<std::string> ZRPublicUtilities::getUpDataTimeStr() { return ReadSettingText(kUpDataTimeKey); }

bool ZRPublicUtilities::writeUpDataTimeStr(const std::string& text) { return WriteSettingText(kUpDataTimeKey, text); }
