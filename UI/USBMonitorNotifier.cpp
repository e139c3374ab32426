#include "USBMonitorNotifier.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QVariantMap>

#include <libudev.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "BlockDevices.h"
#include "NotificationCenter.h"

namespace {

constexpr size_t kMaxNameBytes = 255;
constexpr int kRescanIntervalMs = 2000;
constexpr size_t kMaxSysEntries = 4096;
constexpr int kMaxEventsPerWake = 256;

std::map<std::string, std::string> SplitProperties(const std::string& text)
{
    std::map<std::string, std::string> properties;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(std::string("\n\0", 2), start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t eq = line.find('=');
        // A key is one upper-case word; the kernel's "add@/devices/..." and
        // udevadm's header lines have none before their first '='.
        if (eq != std::string::npos && eq > 0) {
            std::string key = line.substr(0, eq);
            bool plain = true;
            for (char c : key)
                plain = plain && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
            if (plain)
                properties[key] = line.substr(eq + 1);
        }
        start = end + 1;
    }
    return properties;
}

std::string KernelName(const std::map<std::string, std::string>& properties)
{
    auto it = properties.find("DEVNAME");
    std::string name = it == properties.end() ? std::string() : it->second;
    if (name.rfind("/dev/", 0) == 0)
        name.erase(0, 5);
    if (name.empty()) {
        // Some events carry only the device path: its last component is the name.
        auto path = properties.find("DEVPATH");
        if (path != properties.end()) {
            size_t slash = path->second.rfind('/');
            name = slash == std::string::npos ? path->second : path->second.substr(slash + 1);
        }
    }
    return name;
}

bool IsAsciiName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameBytes)
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c > 0x7e)
            return false;
    return true;
}

unsigned long long ReadSize(const std::string& file)
{
    std::ifstream in(file);
    unsigned long long size = 0;
    if (!(in >> size))
        return 0;
    return size;
}

bool IsDir(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// The process-wide state: one watcher object living on the main thread.
class MediaWatcher : public QObject {
public:
    explicit MediaWatcher(std::string sysBlock) : m_sysBlock(std::move(sysBlock))
    {
        m_burst.setSingleShot(true);
        m_burst.setInterval(kMediaAttachBurstMs);
        QObject::connect(&m_burst, &QTimer::timeout, this, [this] {
            m_names = MediaRegistryNames(m_sysBlock);
            usbDeviceAdded();
        });
        m_rescan.setInterval(kRescanIntervalMs);
        QObject::connect(&m_rescan, &QTimer::timeout, this, [this] { Rescan(); });
    }

    ~MediaWatcher() override
    {
        m_notifier.reset();
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        if (m_udev)
            udev_unref(m_udev);
    }

    // Sets up the source. With a udev daemon running the monitor is used;
    // otherwise (containers, minimal systems) sysfs is polled.
    bool Register(bool preferUdev)
    {
        m_last = ScanSysBlock(m_sysBlock);
        m_names = MediaRegistryNames(m_sysBlock);
        if (preferUdev && OpenMonitor())
            return true;
        m_rescan.start();
        return true;
    }

    void HandleEvent(const std::optional<MediaEvent>& event)
    {
        if (!event)
            return;
        if (event->kind == MediaEvent::Detach) {
            const std::string shown = ShownName(event->name);
            m_last.erase(event->name);
            usbDeviceRemoved(shown, event->name);
            return;
        }
        // A loop device that lost its file, or a reader whose card was
        // taken out, tells a change, not a removal: its size went to 0.
        PostRemovals();
        m_burst.start();  // gathers a burst of arrivals into one post
    }

    void Rescan()
    {
        if (PostRemovals()) {
            m_names = MediaRegistryNames(m_sysBlock);
            usbDeviceAdded();
        }
    }

private:
    // The name the windows know a medium by: a whole disk's registry name
    // as it was while the disk was there, else the kernel name.
    std::string ShownName(const std::string& kernelName) const
    {
        auto it = m_names.find(kernelName);
        return it == m_names.end() ? kernelName : it->second;
    }

    // Posts every medium that left since the last look; true when one
    // arrived.
    bool PostRemovals()
    {
        auto now = ScanSysBlock(m_sysBlock);
        MediaChanges changes = CompareMediaScans(m_last, now);
        m_last = std::move(now);
        for (const auto& [name, unused] : changes.detached)
            usbDeviceRemoved(ShownName(name), name);
        return changes.attached;
    }

    bool OpenMonitor()
    {
        if (!Exists("/run/udev/control"))
            return false;
        m_udev = udev_new();
        if (!m_udev)
            return false;
        m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
        if (!m_monitor || udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "block", nullptr) < 0 ||
            udev_monitor_enable_receiving(m_monitor) < 0) {
            std::fprintf(stderr, "matching notification registration failed: %d\n", -1);
            if (m_monitor)
                udev_monitor_unref(m_monitor);
            m_monitor = nullptr;
            udev_unref(m_udev);
            m_udev = nullptr;
            return false;
        }
        int fd = udev_monitor_get_fd(m_monitor);
        m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { ReadMonitor(); });
        return true;
    }

    void ReadMonitor()
    {
        // The socket is non-blocking; a bounded number per wake keeps the
        // main thread responsive during an event storm.
        for (int i = 0; i < kMaxEventsPerWake; ++i) {
            udev_device* device = udev_monitor_receive_device(m_monitor);
            if (!device)
                break;
            std::map<std::string, std::string> properties;
            for (udev_list_entry* e = udev_device_get_properties_list_entry(device); e;
                 e = udev_list_entry_get_next(e)) {
                const char* name = udev_list_entry_get_name(e);
                const char* value = udev_list_entry_get_value(e);
                if (name)
                    properties[name] = value ? value : "";
            }
            udev_device_unref(device);
            HandleEvent(ParseMediaEventProperties(properties));
        }
    }

    std::string m_sysBlock;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_burst;
    QTimer m_rescan;
    std::map<std::string, unsigned long long> m_last;
    std::map<std::string, std::string> m_names;  // kernel name -> registry name
};

std::unique_ptr<MediaWatcher> g_watcher;
std::string g_testSysBlock;
bool notificationsArePrimed = false;

}  // namespace

std::optional<MediaEvent> ParseMediaEventProperties(const std::map<std::string, std::string>& properties)
{
    auto subsystem = properties.find("SUBSYSTEM");
    auto action = properties.find("ACTION");
    if (subsystem == properties.end() || subsystem->second != "block" || action == properties.end())
        return std::nullopt;
    MediaEvent event;
    if (action->second == "add" || action->second == "change")
        event.kind = MediaEvent::Attach;
    else if (action->second == "remove")
        event.kind = MediaEvent::Detach;
    else
        return std::nullopt;
    event.name = KernelName(properties);
    if (event.name.empty())
        return std::nullopt;
    return event;
}

std::optional<MediaEvent> ParseMediaEventText(const std::string& text)
{
    return ParseMediaEventProperties(SplitProperties(text));
}

std::map<std::string, unsigned long long> ScanSysBlock(const std::string& sysBlock)
{
    std::map<std::string, unsigned long long> found;
    DIR* top = opendir(sysBlock.c_str());
    if (!top)
        return found;
    while (dirent* d = readdir(top)) {
        if (found.size() >= kMaxSysEntries)
            break;
        std::string disk = d->d_name;
        if (disk.empty() || disk[0] == '.')
            continue;
        std::string diskPath = sysBlock + "/" + disk;
        if (!IsDir(diskPath))
            continue;
        found[disk] = ReadSize(diskPath + "/size");
        DIR* inner = opendir(diskPath.c_str());
        if (!inner)
            continue;
        while (dirent* p = readdir(inner)) {
            if (found.size() >= kMaxSysEntries)
                break;
            std::string part = p->d_name;
            if (part.empty() || part[0] == '.')
                continue;
            std::string partPath = diskPath + "/" + part;
            if (IsDir(partPath) && Exists(partPath + "/partition"))
                found[part] = ReadSize(partPath + "/size");
        }
        closedir(inner);
    }
    closedir(top);
    return found;
}

std::map<std::string, std::string> MediaRegistryNames(const std::string& sysBlock)
{
    // The block folder lies in the system folder the device list reads.
    std::string sysRoot = sysBlock;
    while (sysRoot.size() > 1 && sysRoot.back() == '/')
        sysRoot.pop_back();
    const size_t slash = sysRoot.rfind('/');
    sysRoot = slash == std::string::npos ? std::string(".") : sysRoot.substr(0, slash);
    std::map<std::string, std::string> names;
    const CBlockDevices devices(sysRoot.empty() ? std::string("/") : sysRoot);
    for (const BlockDiskFacts& disk : devices.ListDisks())
        names[disk.strName] = BlockRegistryName(disk);
    return names;
}

MediaChanges CompareMediaScans(const std::map<std::string, unsigned long long>& before,
                               const std::map<std::string, unsigned long long>& after)
{
    MediaChanges changes;
    for (const auto& [name, size] : after) {
        // An empty device node (an unused loop device, a card reader
        // without a card) is not a medium.
        auto old = before.find(name);
        if (size > 0 && (old == before.end() || old->second == 0))
            changes.attached = true;
    }
    for (const auto& [name, size] : before) {
        auto now = after.find(name);
        if (now == after.end() || (size > 0 && now->second == 0))
            changes.detached[name] = true;
    }
    return changes;
}

bool GetBSDName(const std::map<std::string, std::string>& properties, char* buffer, size_t size)
{
    if (!buffer || size < 1)
        return false;
    auto it = properties.find("DEVNAME");
    if (it == properties.end())
        return false;
    std::string name = it->second;
    if (name.rfind("/dev/", 0) == 0)
        name.erase(0, 5);
    if (name.empty() || name.size() + 1 > size)
        return false;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return true;
}

char* BSDName2DevPath(char* destination, size_t size, const char* bsdName, bool /*raw*/)
{
    if (!destination || size == 0)
        return destination;
    std::snprintf(destination, size, "/dev/%s", bsdName ? bsdName : "");
    return destination;
}

void usbDeviceAdded()
{
    NotificationCenter::defaultCenter().PostNotification("RefreshAttachDevice");
}

void usbDeviceRemoved(const std::string& name, const std::string& kernelName)
{
    if (!IsAsciiName(name))
        return;
    std::fprintf(stderr, "usb detatch name = %s\n", name.c_str());
    QVariantMap info{{"USBPath", QString::fromStdString(name)}};
    // sysfs writes the '/' of a device name as '!' ("cciss!c0d0").
    std::string device = kernelName;
    for (char& c : device)
        if (c == '!')
            c = '/';
    if (IsAsciiName(device))
        info.insert("BSDName", QString::fromStdString(device));
    NotificationCenter::defaultCenter().PostNotification("RefreshDetachDevice", nullptr, info);
}

bool registerForUSBNotifications()
{
    if (!g_watcher)
        return false;
    bool ok = g_watcher->Register(g_testSysBlock.empty());
    // The first drain: one arrival post for what is present now.
    if (ok)
        usbDeviceAdded();
    notificationsArePrimed = true;
    return ok;
}

void USBNotifier_init()
{
    if (g_watcher)
        return;
    notificationsArePrimed = false;
    g_watcher = std::make_unique<MediaWatcher>(g_testSysBlock.empty() ? std::string("/sys/block") : g_testSysBlock);
    registerForUSBNotifications();
}

void USBNotifier_dealloc()
{
    g_watcher.reset();
    notificationsArePrimed = false;
}

void USBNotifier_SetSysBlockForTest(const std::string& sysBlock) { g_testSysBlock = sysBlock; }

void USBNotifier_FeedMediaEventText(const std::string& text)
{
    if (g_watcher)
        g_watcher->HandleEvent(ParseMediaEventText(text));
}

void USBNotifier_RescanMediaNow()
{
    if (g_watcher)
        g_watcher->Rescan();
}
