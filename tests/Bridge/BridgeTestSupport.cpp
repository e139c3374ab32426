#include "BridgeTestSupport.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <thread>

#include "ZRUIOperation.h"

void EnsureBridgeApp()
{
    static int argc = 1;
    static char name[] = "bridge_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

NotificationRecorder::NotificationRecorder()
{
    m_iId = ZRUINotify::AddObserver([this](const std::string& name) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_names.push_back(name);
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            m_bOffMain = true;
    });
}

NotificationRecorder::~NotificationRecorder()
{
    ZRUINotify::RemoveObserver(m_iId);
}

int NotificationRecorder::Count(const std::string& name)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(std::count(m_names.begin(), m_names.end(), name));
}

bool NotificationRecorder::AllOnMainThread()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return !m_bOffMain;
}

#include "EnumTestSupport.h"
#include "TestSupport.h"

std::string BridgeImage(const std::string& name)
{
    static TempDir dir;
    static const bool made = (RunTool(std::string(BRIDGE_IMAGE_SCRIPT) + " " + dir.path()), true);
    (void)made;
    return dir.path() + "/" + name;
}

void AddBridgeDisks(FakeSys& sys, const std::string& sameDev)
{
    FakeSys::Disk sda;
    sda.name = "sda";
    sda.dev = "8:0";
    sda.busPath = "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block";
    sda.size512 = 131072;
    sda.image = BridgeImage("disk.img");
    sda.vendor = "Fake    ";
    sda.model = "Stick           ";
    sys.AddDisk(sda);
    sys.AddPartition({"sda", "sda1", "8:1", 1, 2048, 16384, BridgeImage("disk-p1.img")});
    sys.AddPartition({"sda", "sda2", "8:2", 2, 18432, 40960, BridgeImage("disk-p2.img")});
    sys.AddPartition({"sda", "sda3", sameDev.empty() ? "8:3" : sameDev, 3, 59392, 40960, BridgeImage("disk-p3.img")});
    FakeSys::Disk loop;
    loop.name = "loop0";
    loop.dev = "7:0";
    loop.busPath = "virtual/block";
    loop.size512 = 65536;
    loop.image = BridgeImage("vol.img");
    loop.backingFile = "/srv/images/vol.img";
    sys.AddDisk(loop);
}
