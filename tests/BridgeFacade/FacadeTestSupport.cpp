#include "FacadeTestSupport.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "BridgeTestSupport.h"
#include "DirectoryTreeBuilder.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "IFileNode.h"
#include "NotificationCenter.h"
#include "TestSupport.h"
#include "ZRUIController.h"
#include "ZRUIDeviceData.h"
#include "ZRUIPublic.h"
#include "ZRUIScan.h"

namespace {

struct Machine {
    TempDir root;
    TempDir previews;
    std::unique_ptr<FakeSys> sys;
    std::unique_ptr<CEnumDeviceEx> enumerator;
};

Machine* g_machine = nullptr;

}  // namespace

std::string PreviewImage(const std::string& name)
{
    static TempDir dir;
    static const bool made = (RunTool(std::string(PREVIEW_IMAGE_SCRIPT) + " " + dir.path()), true);
    (void)made;
    return dir.path() + "/" + name;
}

void EnsureFacadeMachine()
{
    if (g_machine)
        return;
    auto* m = new Machine;
    struct stat st {};
    EXPECT_EQ(stat(m->root.path().c_str(), &st), 0);
    const std::string tempDev = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    m->sys = std::make_unique<FakeSys>(m->root.path());
    AddBridgeDisks(*m->sys, tempDev);
    FakeSys::Disk loop;
    loop.name = "loop1";
    loop.dev = "7:1";
    loop.busPath = "virtual/block";
    loop.size512 = 32768;
    loop.image = PreviewImage("preview.img");
    loop.backingFile = "/srv/images/preview.img";
    m->sys->AddDisk(loop);
    m->enumerator = std::make_unique<CEnumDeviceEx>(m->sys->Platform());
    CDirectoryTreeBuilder::SetDefaultFirstBatchPause(std::chrono::milliseconds(0));
    ZRUIDeviceData::instance().ReplaceEnumerator(m->enumerator.get());
    g_machine = m;

    ZRUIController::initFileType();
    ZRUIController::SetRecoveryType(127);
    // The first listing, the way the root window asks for it.
    BridgeListener listener;
    ZRUIController::NotifiyDeviceInfoAfterInit("aInitFinished");
    // A second request while the listing runs must not start another one.
    ZRUIController::NotifiyDeviceInfoAfterInit("aInitFinished");
    EXPECT_TRUE(Pump([&] { return listener.Count("aInitFinished") >= 1; }));
    Pump([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(listener.Count("aInitFinished"), 1);
    EXPECT_TRUE(listener.AllOnMainThread());
    EXPECT_EQ(ZRUIDeviceData::instance().GetInitState(), 2);
    // Asked again once listed: posted at once, and only then.
    ZRUIController::NotifiyDeviceInfoAfterInit("aInitFinished");
    EXPECT_EQ(listener.Count("aInitFinished"), 1);
    EXPECT_TRUE(Pump([&] { return listener.Count("aInitFinished") == 2; }));

    // No scan yet: a deep scan has no device to start on.
    ZRUIController::DoDeepScan(nullptr, "NormalScranValue");
    EXPECT_FALSE(ZRUIController::IsScanRunning());
}

void UseEnumerator(IEnumDeviceEx* enumerator)
{
    ZRUIScan::instance().SaveScanSorage(nullptr);
    ZRUIDeviceData::instance().ReplaceEnumerator(enumerator);
}

void ReinstallFacadeMachineDevices()
{
    UseEnumerator(g_machine ? g_machine->enumerator.get() : nullptr);
    if (!g_machine)
        return;
    BridgeListener listener;
    ZRUIController::NotifiyDeviceInfoAfterInit("aInitFinished");
    EXPECT_TRUE(Pump([&] { return listener.Count("aInitFinished") >= 1; }));
}

DiskVolumeNodeArray FacadeDevices()
{
    EnsureFacadeMachine();
    DiskVolumeNodeArray devices;
    ZRUIController::GetDeviceInfoToArray(&devices);
    return devices;
}

DiskVolumeNodeDataPtr FindDevice(const QString& name)
{
    for (const DiskVolumeNodeDataPtr& disk : FacadeDevices()) {
        if (disk->name() == name)
            return disk;
        for (const DiskVolumeNodeDataPtr& volume : disk->children())
            if (volume->name() == name)
                return volume;
    }
    return nullptr;
}

BridgeListener::BridgeListener()
{
    NotificationCenter::defaultCenter().AddObserver(
        this, "",
        [this](const Notification& n) {
            std::function<void()> probe;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_names.push_back(n.name);
                if (QThread::currentThread() != QCoreApplication::instance()->thread() ||
                    n.object != ZRUIPublic::ClassObject() || !n.userInfo.isEmpty())
                    m_bOffMain = true;
                if (n.name == m_strProbeName)
                    probe = m_probe;
            }
            if (probe)
                probe();
        },
        ZRUIPublic::ClassObject());
}

BridgeListener::~BridgeListener() { NotificationCenter::defaultCenter().RemoveObserver(this); }

int BridgeListener::Count(const std::string& name)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(std::count(m_names.begin(), m_names.end(), name));
}

bool BridgeListener::AllOnMainThread()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return !m_bOffMain;
}

void BridgeListener::OnEach(const std::string& name, std::function<void()> probe)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_strProbeName = name;
    m_probe = std::move(probe);
}

bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return PumpUntil(done, limit);
}

bool ScanThroughFacade(const QString& name, bool deep)
{
    DiskVolumeNodeDataPtr item = FindDevice(name);
    EXPECT_NE(item, nullptr) << name.toStdString();
    if (!item)
        return false;
    BridgeListener listener;
    bool ended = false;
    listener.OnEach("NormalScranValue", [&] {
        if (!ZRUIController::IsScanRunning())
            ended = true;
    });
    if (deep) {
        // A deep scan follows a quick scan of the same device.
        ZRUIController::DoScanWithData(item.get(), "NormalScranValue", nullptr);
        if (!Pump([&] { return ended; }))
            return false;
        ended = false;
        ZRUIController::ResetShouldBuild();
        ZRUIController::DoDeepScan(nullptr, "NormalScranValue");
    } else {
        ZRUIController::DoScanWithData(item.get(), "NormalScranValue", nullptr);
    }
    EXPECT_TRUE(ZRUIController::IsScanRunning());
    const bool ok = Pump([&] { return ended; });
    // Notifications posted before the end may still be on their way; let
    // them arrive here rather than in the caller's next listener.
    Pump([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(listener.AllOnMainThread());
    return ok;
}

std::vector<IFileNode*> FoundFiles()
{
    std::vector<IFileNode*> files;
    for (auto& [type, nodes] : ZRUIScan::instance().GetTypeMap())
        files.insert(files.end(), nodes.begin(), nodes.end());
    return files;
}

IFileNode* FoundFile(const std::string& name)
{
    for (IFileNode* node : FoundFiles())
        if (node->GetFileName() && name == node->GetFileName())
            return node;
    return nullptr;
}
