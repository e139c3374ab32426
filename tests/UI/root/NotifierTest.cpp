#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "NotificationCenter.h"
#include "TestSupport.h"
#include "USBMonitorNotifier.h"

namespace {

// What "udevadm monitor --udev --property" printed for a stick being pulled.
const char* const kUdevRemovePartition =
    "UDEV  [12345.678901] remove   /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/"
    "block/sdb/sdb1 (block)\n"
    "ACTION=remove\n"
    "DEVPATH=/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1\n"
    "SUBSYSTEM=block\n"
    "DEVNAME=/dev/sdb1\n"
    "DEVTYPE=partition\n"
    "PARTN=1\n"
    "SEQNUM=4321\n"
    "ID_FS_LABEL=NAME=WITH=EQUALS\n"
    "MAJOR=8\n"
    "MINOR=17\n";

// A kernel uevent as read from the netlink socket: NUL-separated.
const std::string kKernelAddDisk = std::string("add@/devices/virtual/block/loop0\0ACTION=add\0", 44) +
                                   std::string("DEVPATH=/devices/virtual/block/loop0\0SUBSYSTEM=block\0", 53) +
                                   std::string("DEVNAME=loop0\0DEVTYPE=disk\0SEQNUM=9\0", 36);

struct Recorded {
    std::vector<std::string> names;    // "+" for an arrival, the name for a removal
    std::vector<std::string> devices;  // the device name of each removal
};

class NotifierFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        NotificationCenter::defaultCenter().AddObserver(this, "RefreshAttachDevice",
                                                        [this](const Notification&) { seen.names.push_back("+"); });
        NotificationCenter::defaultCenter().AddObserver(this, "RefreshDetachDevice", [this](const Notification& n) {
            seen.names.push_back(n.userInfo.value("USBPath").toString().toStdString());
            seen.devices.push_back(n.userInfo.value("BSDName").toString().toStdString());
        });
    }
    void TearDown() override
    {
        USBNotifier_dealloc();
        USBNotifier_SetSysBlockForTest("");
        NotificationCenter::defaultCenter().RemoveObserver(this);
    }
    void WriteDevice(const std::string& path, unsigned long long size, bool partition)
    {
        std::filesystem::create_directories(path);
        std::ofstream(path + "/size") << size << "\n";
        if (partition)
            std::ofstream(path + "/partition") << "1\n";
    }
    Recorded seen;
};

}  // namespace

TEST(MediaEventParser, ReadsRecordedEventText)
{
    struct Case {
        std::string text;
        bool event;
        MediaEvent::Kind kind;
        std::string name;
    };
    const std::vector<Case> cases = {
        {kUdevRemovePartition, true, MediaEvent::Detach, "sdb1"},
        {kKernelAddDisk, true, MediaEvent::Attach, "loop0"},
        // A card inserted into a reader, or a loop device given a file.
        {"ACTION=change\nSUBSYSTEM=block\nDEVNAME=/dev/mmcblk0\nDEVTYPE=disk\n", true, MediaEvent::Attach, "mmcblk0"},
        // Only the device path: its last component names the device.
        {"ACTION=remove\r\nSUBSYSTEM=block\r\nDEVPATH=/devices/virtual/block/nbd3\r\n", true, MediaEvent::Detach,
         "nbd3"},
        {"ACTION=add\nSUBSYSTEM=usb\nDEVNAME=/dev/bus/usb/001/004\n", false, {}, ""},
        {"ACTION=bind\nSUBSYSTEM=block\nDEVNAME=/dev/sdc\n", false, {}, ""},
        {"SUBSYSTEM=block\nDEVNAME=/dev/sdc\n", false, {}, ""},
        {"ACTION=remove\nSUBSYSTEM=block\n", false, {}, ""},
        {"", false, {}, ""},
        {std::string("\0\0=\0==\n", 7), false, {}, ""},
    };
    for (const Case& c : cases) {
        auto event = ParseMediaEventText(c.text);
        ASSERT_EQ(event.has_value(), c.event) << c.text;
        if (!event)
            continue;
        EXPECT_EQ(event->kind, c.kind) << c.text;
        EXPECT_EQ(event->name, c.name) << c.text;
    }
}

TEST(MediaEventParser, NameHelpersStayInsideTheirBuffers)
{
    char small[5];
    EXPECT_FALSE(GetBSDName({{"DEVNAME", "/dev/sdb12"}}, small, sizeof small));
    EXPECT_FALSE(GetBSDName({{"DEVNAME", "sdb"}}, nullptr, 10));
    EXPECT_FALSE(GetBSDName({{"DEVNAME", "sdb"}}, small, 0));
    EXPECT_FALSE(GetBSDName({}, small, sizeof small));
    ASSERT_TRUE(GetBSDName({{"DEVNAME", "/dev/sdb"}}, small, sizeof small));
    EXPECT_STREQ(small, "sdb");

    char path[9] = {};
    EXPECT_STREQ(BSDName2DevPath(path, sizeof path, "sdb1", true), "/dev/sdb");  // bounded, terminated
    char full[32];
    EXPECT_STREQ(BSDName2DevPath(full, sizeof full, "nvme0n1p2", false), "/dev/nvme0n1p2");
}

TEST(MediaScans, ComparisonFindsArrivalsAndRemovals)
{
    std::map<std::string, unsigned long long> before = {{"sda", 1000}, {"sda1", 900}, {"loop0", 0}, {"sr0", 700}};
    std::map<std::string, unsigned long long> after = {{"sda", 1000}, {"sda1", 900}, {"loop0", 2048}, {"sr0", 0},
                                                       {"loop1", 0}};
    MediaChanges changes = CompareMediaScans(before, after);
    EXPECT_TRUE(changes.attached);  // loop0 got a file
    ASSERT_EQ(changes.detached.size(), 1u);
    EXPECT_TRUE(changes.detached.count("sr0"));  // the disc was ejected

    changes = CompareMediaScans(after, before);
    EXPECT_TRUE(changes.attached);  // sr0 back with a disc
    EXPECT_TRUE(changes.detached.count("loop0"));
    EXPECT_TRUE(changes.detached.count("loop1"));

    EXPECT_FALSE(CompareMediaScans(before, before).attached);
    EXPECT_TRUE(CompareMediaScans(before, before).detached.empty());
}

TEST_F(NotifierFixture, SysfsPollingPostsOnStartArrivalAndEachRemoval)
{
    TempDir dir;
    std::string block = dir / "block";
    WriteDevice(block + "/sda", 1000, false);
    WriteDevice(block + "/sda/sda1", 900, true);
    std::filesystem::create_directories(block + "/sda/queue");  // not a partition

    USBNotifier_SetSysBlockForTest(block);
    USBNotifier_init();
    USBNotifier_init();  // once only
    EXPECT_EQ(seen.names, std::vector<std::string>({"+"}));  // the start-up drain
    auto scan = ScanSysBlock(block);
    EXPECT_EQ(scan.size(), 2u);

    WriteDevice(block + "/sdb", 64, false);
    WriteDevice(block + "/sdb/sdb1", 60, true);
    WriteDevice(block + "/sdb/sdb2", 2, true);
    USBNotifier_RescanMediaNow();
    EXPECT_EQ(seen.names, std::vector<std::string>({"+", "+"}));  // one post for the burst

    std::filesystem::remove_all(block + "/sdb");
    USBNotifier_RescanMediaNow();
    EXPECT_EQ(seen.names, std::vector<std::string>({"+", "+", "sdb", "sdb1", "sdb2"}));

    USBNotifier_dealloc();
    USBNotifier_RescanMediaNow();  // stopped: nothing more
    EXPECT_EQ(seen.names.size(), 5u);
}

TEST_F(NotifierFixture, EventsGatherArrivalsAndPostEachRemoval)
{
    TempDir dir;
    USBNotifier_SetSysBlockForTest(dir / "none");
    USBNotifier_init();
    seen.names.clear();

    for (const char* name : {"sdc", "sdc1", "sdc2"})
        USBNotifier_FeedMediaEventText(std::string("ACTION=add\nSUBSYSTEM=block\nDEVNAME=/dev/") + name + "\n");
    EXPECT_TRUE(seen.names.empty());  // gathered, not yet posted
    USBNotifier_FeedMediaEventText(kUdevRemovePartition);
    EXPECT_EQ(seen.names, std::vector<std::string>({"sdb1"}));
    USBNotifier_FeedMediaEventText("ACTION=remove\nSUBSYSTEM=block\nDEVNAME=/dev/sd\xc3\xa9\n");  // not ASCII
    USBNotifier_FeedMediaEventText("ACTION=remove\nSUBSYSTEM=block\nDEVNAME=/dev/" + std::string(300, 'x') + "\n");
    EXPECT_EQ(seen.names.size(), 1u);

    QTest::qWait(kMediaAttachBurstMs * 3);
    EXPECT_EQ(seen.names, std::vector<std::string>({"sdb1", "+"}));
}

// The results window knows the scanned disk by the name the disk page shows:
// a loop device by its backing file, a disk by its vendor and model. A
// removal names the disk so, though sysfs no longer tells those names.
TEST_F(NotifierFixture, RemovalsNameWholeDisksAsTheDiskPageDoes)
{
    TempDir dir;
    std::string block = dir / "block";
    WriteDevice(block + "/loop1", 2048, false);
    WriteDevice(block + "/loop1/loop1p1", 2000, true);
    std::filesystem::create_directories(block + "/loop1/loop");
    std::ofstream(block + "/loop1/loop/backing_file") << "/srv/images/big.img\n";
    WriteDevice(block + "/sdb", 4096, false);
    std::filesystem::create_directories(block + "/sdb/device");
    std::ofstream(block + "/sdb/device/vendor") << "ATA     \n";
    std::ofstream(block + "/sdb/device/model") << "Fast Disk       \n";
    WriteDevice(block + "/loop2", 0, false);  // nothing attached

    const auto names = MediaRegistryNames(block);
    EXPECT_EQ(names.at("loop1"), "big.img");
    EXPECT_EQ(names.at("sdb"), "ATA Fast Disk");
    EXPECT_EQ(names.at("loop2"), "loop2");

    USBNotifier_SetSysBlockForTest(block);
    USBNotifier_init();
    seen.names.clear();

    // losetup -d: the device stays, its file and size go. The udev monitor
    // tells a change; the poller sees the size drop. Either posts it once.
    std::filesystem::remove_all(block + "/loop1/loop");
    std::filesystem::remove_all(block + "/loop1/loop1p1");
    std::ofstream(block + "/loop1/size") << "0\n";
    USBNotifier_FeedMediaEventText("ACTION=change\nSUBSYSTEM=block\nDEVNAME=/dev/loop1\nDEVTYPE=disk\n");
    USBNotifier_RescanMediaNow();
    EXPECT_EQ(seen.names, std::vector<std::string>({"big.img", "loop1p1"}));
    EXPECT_EQ(seen.devices, std::vector<std::string>({"loop1", "loop1p1"}));

    // A pulled disk: removal events name it by its model, not "sdb".
    seen = {};
    std::filesystem::remove_all(block + "/sdb");
    USBNotifier_FeedMediaEventText("ACTION=remove\nSUBSYSTEM=block\nDEVNAME=/dev/sdb\nDEVTYPE=disk\n");
    USBNotifier_RescanMediaNow();
    EXPECT_EQ(seen.names, std::vector<std::string>({"ATA Fast Disk"}));
    EXPECT_EQ(seen.devices, std::vector<std::string>({"sdb"}));
}
