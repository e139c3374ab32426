// The enumerator over fake sysfs trees: which disks are listed, their
// volumes, partitions and offered partitions, mounts, udev, ids, order and
// the list protocol.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "DeviceInfo.h"
#include "EnumDevice.h"
#include "EnumDeviceList.h"
#include "EnumTestSupport.h"
#include "SearcherRegistry.h"
#include "StorageDevice.h"
#include "TestSupport.h"
#include "TextUtil.h"

namespace fs = std::filesystem;

namespace {

// Link targets below sys/devices; each names the bus the way the kernel does.
const char kUsbPath[] = "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block";
const char kAtaPath[] = "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block";
const char kNvmePath[] = "pci0000:00/0000:00:06.0/nvme/nvme0";
const char kScsiPath[] = "platform/host2/target2:0:0/2:0:0:0/block";
const char kVirtioPath[] = "pci0000:00/0000:00:05.0/virtio2/block";
const char kVirtioScsiPath[] = "pci0000:00/0000:00:04.0/virtio1/host0/target0:0:0/0:0:0:0/block";
const char kVirtualPath[] = "virtual/block";
const char kCcissPath[] = "pci0000:00/0000:00:08.0/cciss0/c0d0/block";

const std::string& Images()
{
    // Made once per test process, removed when it exits.
    static TempDir dir;
    static const bool made = (MakeEnumImages(dir.path(), true), true);
    (void)made;
    return dir.path();
}

std::string Image(const std::string& name)
{
    return Images() + "/" + name;
}

FakeSys::Disk EightMiB(const std::string& name, const std::string& dev, const std::string& busPath)
{
    FakeSys::Disk d;
    d.name = name;
    d.dev = dev;
    d.busPath = busPath;
    d.size512 = 16384;
    d.image = Image("eight.img");
    return d;
}

// sdc = mbr.img with the kernel partitions 1, 2, 3 (the extended container,
// two units long) and 5.
void AddMbrDisk(FakeSys& sys, const std::string& busPath, bool logicalHasStart = true)
{
    FakeSys::Disk d;
    d.name = "sdc";
    d.dev = "8:32";
    d.busPath = busPath;
    d.size512 = 131072;
    d.image = Image("mbr.img");
    d.vendor = "ATA     ";
    d.model = "QEMU HARDDISK   ";
    sys.AddDisk(d);
    sys.AddPartition({"sdc", "sdc1", "8:33", 1, 2048, 20480, Image("mbr-p1.img")});
    sys.AddPartition({"sdc", "sdc2", "8:34", 2, 22528, 20480, Image("mbr-p2.img")});
    sys.AddPartition({"sdc", "sdc3", "8:35", 3, 43008, 2, Image("mbr-p3.img")});
    FakeSys::Part logical{"sdc", "sdc5", "8:37", 5, 45056, 16384, Image("mbr-p5.img")};
    if (!logicalHasStart)
        logical.start512.reset();
    sys.AddPartition(logical);
}

// The listing of an empty 8 MiB disk: no table, so its only volume and its
// only partition are the whole disk.
std::string BareDisk(const std::string& name, const std::string& dev, int bus, const std::string& registry,
                     int writable = 1)
{
    const std::string disk = "disk " + name + " dev=" + dev + " bus=" + std::to_string(bus) +
                             " scheme=0 ss=512 sectors=16384 writable=" + std::to_string(writable) +
                             " permitted=1 registry=\"" + registry + "\" records=1\n";
    const std::string partition = "  partition -1 start=0 sectors=16384 fs=10 label=\"\"\n";
    const std::string volume = "  volume " + name + " #-1 start=0 sectors=16384 ss=512 fs=10 label=\"\" name=\"" +
                               name + "\" mounted=0 dev=" + dev + "\n";
    return disk + partition + volume;
}

const char kMbrPartitions[] = R"(  partition 1 start=2048 sectors=20480 fs=1 label="FATONE"
  partition 2 start=22528 sectors=20480 fs=10 label=""
  partition 5 start=45056 sectors=16384 fs=1 label="LOGIC"
)";

const std::string kMbrListing = std::string(R"(disk sdc dev=8:32 bus=2 scheme=1 ss=512 sectors=131072 writable=1 permitted=1 registry="ATA QEMU HARDDISK" records=3
)") + kMbrPartitions + R"(  volume sdc1 #1 start=2048 sectors=20480 ss=512 fs=1 label="FATONE" name="FATONE" mounted=0 dev=8:33
  volume sdc2 #2 start=22528 sectors=20480 ss=512 fs=10 label="" name="sdc2" mounted=0 dev=8:34
  volume sdc5 #5 start=45056 sectors=16384 ss=512 fs=1 label="LOGIC" name="LOGIC" mounted=0 dev=8:37
)";

const char kUnrecognisedMbrHead[] = R"(disk sdc dev=8:32 bus=2 scheme=1 ss=512 sectors=131072 writable=1 permitted=1 registry="ATA QEMU HARDDISK" records=3
  partition 1 start=2048 sectors=20480 fs=10 label=""
  partition 2 start=22528 sectors=20480 fs=10 label=""
  partition 5 start=45056 sectors=16384 fs=10 label=""
)";

// Answers APFS, labelled "Macintosh HD", for anything.
IVolumeAnalyze* CreateFakeApfsRecogniser(IStorageDevice*, unsigned long long)
{
    class Apfs : public IVolumeAnalyze {
    public:
        enumFILE_SYSTEM_TYPE GetFileSystemType() override { return FS_APFS; }
        long long GetTotalSector() override { return 0; }
        int GetLabel(char* buffer, int size) override
        {
            return CopyTextField(buffer, static_cast<size_t>(size), "Macintosh HD") > 0 ? 12 : 0;
        }
    };
    return new Apfs;
}

struct Row {
    const char* name;
    std::function<void(FakeSys&)> build;
    VolumeAnalyzeFactory recogniser;  // the only one registered, or none
    std::string expected;
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

const Row kRows[] = {
    {"size_limit",
     [](FakeSys& sys) {
         FakeSys::Disk small = EightMiB("sda", "8:0", kUsbPath);
         small.size512 = 8192;
         small.image = Image("small.img");
         sys.AddDisk(small);
         sys.AddDisk(EightMiB("sdb", "8:16", kUsbPath));
     },
     CreateTestFat16Recogniser,
     BareDisk("sdb", "8:16", 4, "sdb")},

    {"left_out",
     [](FakeSys& sys) {
         FakeSys::Disk sr0 = EightMiB("sr0", "11:0", kAtaPath);
         sr0.deviceType = 5;
         sys.AddDisk(sr0);
         sys.AddDisk(EightMiB("sdx", "11:16", kAtaPath));  // optical major
         FakeSys::Disk sdy = EightMiB("sdy", "8:48", kUsbPath);
         sdy.deviceType = 5;  // optical by its SCSI type
         sys.AddDisk(sdy);
         sys.AddDisk(EightMiB("zram0", "252:0", kVirtualPath));
         sys.AddDisk(EightMiB("ram0", "1:0", kVirtualPath));
         sys.AddDisk(EightMiB("dm-0", "253:0", kVirtualPath));
         sys.AddDisk(EightMiB("md0", "9:0", kVirtualPath));
         sys.AddDisk(EightMiB("loop3", "7:3", kVirtualPath));  // nothing attached
         // Kept: an attached loop device, a plain disk of SCSI type 0, and
         // a disk whose node lives in a sub-folder of /dev.
         FakeSys::Disk loop4 = EightMiB("loop4", "7:4", kVirtualPath);
         loop4.backingFile = "/srv/images/stick.img";
         loop4.ro = 1;
         sys.AddDisk(loop4);
         FakeSys::Disk sdz = EightMiB("sdz", "8:64", kAtaPath);
         sdz.deviceType = 0;
         sdz.vendor = "ATA     ";
         sdz.model = "Fake Disk       ";
         sys.AddDisk(sdz);
         FakeSys::Disk cciss = EightMiB("cciss!c0d0", "104:0", kCcissPath);
         cciss.devName = "cciss/c0d0";
         sys.AddDisk(cciss);
     },
     CreateTestFat16Recogniser,
     R"(disk cciss/c0d0 dev=104:0 bus=0 scheme=0 ss=512 sectors=16384 writable=1 permitted=1 registry="cciss!c0d0" records=1
  partition -1 start=0 sectors=16384 fs=10 label=""
  volume cciss/c0d0 #-1 start=0 sectors=16384 ss=512 fs=10 label="" name="cciss!c0d0" mounted=0 dev=104:0
)" +
         BareDisk("loop4", "7:4", 5, "stick.img", 0) + BareDisk("sdz", "8:64", 2, "ATA Fake Disk")},

    // The kernel knows partitions 1 and 2 only; the table reader lists 2
    // and 3 (not the 1 MiB one). Partition 3 is offered as a volume.
    {"gpt",
     [](FakeSys& sys) {
         FakeSys::Disk d;
         d.name = "nvme0n1";
         d.dev = "259:0";
         d.busPath = kNvmePath;
         d.size512 = 163840;
         d.image = Image("gpt.img");
         d.model = "Fake NVMe";
         sys.AddDisk(d);
         sys.AddPartition({"nvme0n1", "nvme0n1p1", "259:1", 1, 2048, 2048, Image("gpt-p1.img")});
         sys.AddPartition({"nvme0n1", "nvme0n1p2", "259:7", 2, 4096, 40960, Image("gpt-p2.img")});
     },
     CreateTestFat16Recogniser,
     R"(disk nvme0n1 dev=259:0 bus=0 scheme=2 ss=512 sectors=163840 writable=1 permitted=1 registry="Fake NVMe" records=2
  partition 2 start=4096 sectors=40960 fs=10 label="" type=ebd0a0a2-b9e5-4433-87c0-68b6b72699c7
  partition 3 start=45056 sectors=81920 fs=10 label="" type=0fc63daf-8483-4772-8e79-3d69d8477de4
  volume nvme0n1p1 #1 start=2048 sectors=2048 ss=512 fs=10 label="" name="nvme0n1p1" mounted=0 dev=259:1
  volume nvme0n1p2 #2 start=4096 sectors=40960 ss=512 fs=10 label="" name="nvme0n1p2" mounted=0 dev=259:7 type=ebd0a0a2-b9e5-4433-87c0-68b6b72699c7
  offered #3 start=45056 sectors=81920 ss=512 fs=10 label="" name="" mounted=0 dev=259:0 type=0fc63daf-8483-4772-8e79-3d69d8477de4
)"},

    {"mbr", [](FakeSys& sys) { AddMbrDisk(sys, kAtaPath); }, CreateTestFat16Recogniser, kMbrListing},

    // Without its own start the logical volume takes entry 5's.
    {"mbr_start_from_table", [](FakeSys& sys) { AddMbrDisk(sys, kAtaPath, false); }, CreateTestFat16Recogniser, kMbrListing},

    {"sectors_4k",
     [](FakeSys& sys) {
         FakeSys::Disk d;
         d.name = "sdd";
         d.dev = "8:48";
         d.busPath = kScsiPath;
         d.size512 = 131072;
         d.logicalBlockSize = 4096;
         d.image = Image("g4k.img");
         sys.AddDisk(d);
         sys.AddPartition({"sdd", "sdd1", "8:49", 1, 2048, 98304, Image("g4k-p1.img")});
     },
     CreateTestFat16Recogniser,
     R"(disk sdd dev=8:48 bus=3 scheme=2 ss=4096 sectors=16384 writable=1 permitted=1 registry="sdd" records=1
  partition 1 start=256 sectors=12288 fs=10 label="" type=0fc63daf-8483-4772-8e79-3d69d8477de4
  volume sdd1 #1 start=256 sectors=12288 ss=4096 fs=10 label="" name="sdd1" mounted=0 dev=8:49 type=0fc63daf-8483-4772-8e79-3d69d8477de4
)"},

    // Mounted by device number, by a FUSE source path, and by a symlink
    // below /dev; without a recogniser the mount point names the volume.
    {"mounted",
     [](FakeSys& sys) {
         AddMbrDisk(sys, kAtaPath);
         fs::create_directories(sys.DevPath("disk/by-uuid"));
         fs::create_symlink("../../sdc5", sys.DevPath("disk/by-uuid/1234-ABCD"));
         sys.AddMountLine(R"(36 25 8:33 / /media/u/My\040Card rw - vfat /dev/sdc1 rw)");
         sys.AddMountLine(R"(40 25 0:52 / /mnt/n rw - fuseblk /dev/sdc2 rw)");
         sys.AddMountLine(R"(41 25 0:53 / /mnt/by\040uuid rw shared:5 - exfat /dev/disk/by-uuid/1234-ABCD rw)");
     },
     nullptr,
     std::string(kUnrecognisedMbrHead) +
         R"(  volume sdc1 #1 start=2048 sectors=20480 ss=512 fs=10 label="" name="My Card" mounted=1 dev=8:33
  volume sdc2 #2 start=22528 sectors=20480 ss=512 fs=10 label="" name="n" mounted=1 dev=8:34
  volume sdc5 #5 start=45056 sectors=16384 ss=512 fs=10 label="" name="by uuid" mounted=1 dev=8:37
)"},

    // Another device's number marks nothing, whatever source it names.
    {"mounted_elsewhere",
     [](FakeSys& sys) {
         AddMbrDisk(sys, kAtaPath);
         sys.AddMountLine(R"(37 25 8:17 / /media/u/Other rw - vfat /dev/sdc1 rw)");
     },
     nullptr,
     std::string(kUnrecognisedMbrHead) +
         R"(  volume sdc1 #1 start=2048 sectors=20480 ss=512 fs=10 label="" name="sdc1" mounted=0 dev=8:33
  volume sdc2 #2 start=22528 sectors=20480 ss=512 fs=10 label="" name="sdc2" mounted=0 dev=8:34
  volume sdc5 #5 start=45056 sectors=16384 ss=512 fs=10 label="" name="sdc5" mounted=0 dev=8:37
)"},

    // udev's bus wins over the link path; its label names the volume. A
    // udev record without a bus leaves the link path to decide. A virtual
    // machine's disks are no disk images: a virtio disk has no bus of its
    // own, one behind a virtio SCSI host is a SCSI disk.
    {"udev",
     [](FakeSys& sys) {
         AddMbrDisk(sys, kUsbPath);
         sys.AddUdev("8:32", "S:disk/by-id/ata-QEMU\nE:ID_BUS=ata\nE:ID_ATA_SATA=1\nE:DEVTYPE=disk\n");
         sys.AddUdev("8:33", "E:ID_FS_LABEL=CamCard\nE:ID_FS_TYPE=vfat\n");
         sys.AddDisk(EightMiB("vda", "254:0", kVirtioPath));
         sys.AddUdev("254:0", "E:DEVTYPE=disk\n");
         sys.AddDisk(EightMiB("sde", "8:64", kVirtioScsiPath));
     },
     CreateTestFat16Recogniser,
     std::string(R"(disk sdc dev=8:32 bus=2 scheme=1 ss=512 sectors=131072 writable=1 permitted=1 registry="ATA QEMU HARDDISK" records=3
)") + kMbrPartitions +
         R"(  volume sdc1 #1 start=2048 sectors=20480 ss=512 fs=1 label="FATONE" name="CamCard" mounted=0 dev=8:33
  volume sdc2 #2 start=22528 sectors=20480 ss=512 fs=10 label="" name="sdc2" mounted=0 dev=8:34
  volume sdc5 #5 start=45056 sectors=16384 ss=512 fs=1 label="LOGIC" name="LOGIC" mounted=0 dev=8:37
)" + BareDisk("sde", "8:64", 3, "sde") + BareDisk("vda", "254:0", 0, "vda")},

    // An APFS volume is named by its label alone: not by udev, not by its
    // mount point.
    {"apfs",
     [](FakeSys& sys) {
         sys.AddDisk(EightMiB("sdb", "8:16", kUsbPath));
         sys.AddUdev("8:16", "E:ID_FS_LABEL=FromUdev\n");
         sys.AddMountLine("50 25 8:16 / /Volumes/Mounted ro - apfs /dev/sdb ro");
     },
     CreateFakeApfsRecogniser,
     R"(disk sdb dev=8:16 bus=4 scheme=0 ss=512 sectors=16384 writable=1 permitted=1 registry="sdb" records=1
  partition -1 start=0 sectors=16384 fs=9 label="Macintosh HD"
  volume sdb #-1 start=0 sectors=16384 ss=512 fs=9 label="Macintosh HD" name="Macintosh HD" mounted=1 dev=8:16
)"},

    // Disks come in byte order of their names.
    {"disk_order",
     [](FakeSys& sys) {
         sys.AddDisk(EightMiB("sdb", "8:16", kUsbPath));
         FakeSys::Disk loop2 = EightMiB("loop2", "7:2", kVirtualPath);
         loop2.backingFile = "/images/two.img";
         sys.AddDisk(loop2);
         FakeSys::Disk loop10 = EightMiB("loop10", "7:10", kVirtualPath);
         loop10.backingFile = "/images/ten.img (deleted)";
         sys.AddDisk(loop10);
     },
     CreateTestFat16Recogniser,
     BareDisk("loop10", "7:10", 5, "ten.img (deleted)") + BareDisk("loop2", "7:2", 5, "two.img") +
         BareDisk("sdb", "8:16", 4, "sdb")},
};

const Row& RowNamed(const std::string& name)
{
    for (const Row& row : kRows)
        if (name == row.name)
            return row;
    throw std::logic_error("no row " + name);
}

// Every run gets an empty $TMPDIR and must leave it empty: the enumerator
// writes no temporary file.
class FakeTreeTest : public testing::Test {
protected:
    void SetUp() override
    {
        Images();
        m_sys = std::make_unique<FakeSys>(m_dir.path());
        if (const char* old = std::getenv("TMPDIR"))
            m_oldTmpdir = old;
        m_tmpdir = m_dir / "tmp";
        setenv("TMPDIR", m_tmpdir.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ec;
        EXPECT_TRUE(fs::is_empty(m_tmpdir, ec)) << "something was written to $TMPDIR";
        if (m_oldTmpdir)
            setenv("TMPDIR", m_oldTmpdir->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    // Only this recogniser, or none.
    void UseRecogniser(VolumeAnalyzeFactory factory)
    {
        if (factory)
            RegisterVolumeAnalyze(FS_FAT32, factory);
    }

    TempDir m_dir;
    std::unique_ptr<FakeSys> m_sys;
    ScopedSearcherRegistry m_registry;
    std::string m_tmpdir;
    std::optional<std::string> m_oldTmpdir;
};

class FakeTableTest : public FakeTreeTest, public testing::WithParamInterface<Row> {};
using enum_fake_table = FakeTableTest;
using enum_fake = FakeTreeTest;

TEST_P(enum_fake_table, Lists)
{
    const Row& row = GetParam();
    row.build(*m_sys);
    UseRecogniser(row.recogniser);
    CEnumDeviceEx enumerator(m_sys->Platform());
    ASSERT_EQ(enumerator.Init(), 0u);
    EXPECT_EQ(RenderEnumeration(enumerator), row.expected);
    EXPECT_EQ(enumerator.Uninit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, enum_fake_table, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The 64-bit device id keeps a partition major above 255.
TEST_F(enum_fake, DeviceIdKeepsHighMajor)
{
    RowNamed("gpt").build(*m_sys);  // nvme0n1p2 is 259:7
    CEnumDeviceEx enumerator(m_sys->Platform());
    ASSERT_EQ(enumerator.Init(), 0u);
    IStorageDevice* disk = nullptr;
    int n = 1;
    ASSERT_EQ(enumerator.EnumDiskDevice(&disk, n), 0u);
    IStorageDevice* volumes[8] = {};
    n = 8;
    ASSERT_EQ(enumerator.EnumVolumeDevice(disk, volumes, n), 0u);
    ASSERT_EQ(n, 3);
    auto* p2 = dynamic_cast<CVolumeDevice*>(volumes[1]);
    ASSERT_NE(p2, nullptr);
    const uint64_t id = p2->GetVolumeInfo()->u64DeviceId;
    EXPECT_EQ(id, static_cast<uint64_t>(makedev(259, 7)));
    EXPECT_EQ(major(id), 259u);
    EXPECT_EQ(minor(id), 7u);
    delete volumes[2];  // the offered partition is the caller's
}

// Null list counts; a short list fails with kind 9; capacity 0 answers 0
// with nothing written for disks and partitions (not for volumes).
TEST_F(enum_fake, ListProtocol)
{
    RowNamed("disk_order").build(*m_sys);  // three disks
    CEnumDeviceEx enumerator(m_sys->Platform());
    int n = -1;
    EXPECT_EQ(enumerator.EnumDiskDevice(nullptr, n), EnumDeviceError::kDisksNotInitialised);
    EXPECT_EQ(enumerator.Uninit(), EnumDeviceError::kUninitBeforeInit);
    ASSERT_EQ(enumerator.Init(), 0u);

    IStorageDevice* const sentinel = reinterpret_cast<IStorageDevice*>(0x1);
    IStorageDevice* list[4] = {sentinel, sentinel, sentinel, sentinel};
    n = -1;
    ASSERT_EQ(enumerator.EnumDiskDevice(nullptr, n), 0u);
    ASSERT_EQ(n, 3);
    n = 2;
    EXPECT_EQ(enumerator.EnumDiskDevice(list, n), EnumDeviceError::kDiskListTooSmall);
    EXPECT_EQ(ResultKind(EnumDeviceError::kDiskListTooSmall), 9u);
    EXPECT_EQ(list[0], sentinel);
    n = 0;
    EXPECT_EQ(enumerator.EnumDiskDevice(list, n), 0u);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(list[0], sentinel);
    n = 4;
    ASSERT_EQ(enumerator.EnumDiskDevice(list, n), 0u);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(list[3], sentinel);
    IStorageDevice* disk = list[0];

    IStorageDevice* one[2] = {sentinel, sentinel};
    n = 0;
    EXPECT_EQ(enumerator.EnumPartitionDevice(disk, one, n), 0u);
    EXPECT_EQ(one[0], sentinel);
    n = 0;
    EXPECT_EQ(enumerator.EnumVolumeDevice(disk, one, n), EnumDeviceError::kVolumeListTooSmall);
    EXPECT_EQ(one[0], sentinel);
    n = 0;
    EXPECT_EQ(enumerator.EnumPartitionDevice(nullptr, one, n), EnumDeviceError::kPartitionsNoDisk);
    EXPECT_EQ(enumerator.EnumVolumeDevice(nullptr, one, n), EnumDeviceError::kVolumesNoDisk);
    int x = 0;
    const auto* stranger = reinterpret_cast<const IStorageDevice*>(&x);
    EXPECT_EQ(enumerator.EnumVolumeDevice(stranger, one, n), EnumDeviceError::kUnknownDisk);
    EXPECT_EQ(ResultKind(EnumDeviceError::kUnknownDisk), 5u);

    EXPECT_EQ(enumerator.Uninit(), 0u);
    n = 4;
    EXPECT_EQ(enumerator.EnumDiskDevice(list, n), EnumDeviceError::kDisksNotInitialised);
    EXPECT_EQ(enumerator.EnumVolumeDevice(disk, list, n), EnumDeviceError::kVolumesNotInitialised);
}

TEST_F(enum_fake, NoDiskFailsInitAndStaysUninitialised)
{
    m_sys->AddDisk(EightMiB("loop0", "7:0", kVirtualPath));  // nothing attached
    CEnumDeviceEx enumerator(m_sys->Platform());
    EXPECT_EQ(enumerator.Init(), EnumDeviceError::kInitNoDisk);
    int n = 0;
    EXPECT_EQ(enumerator.EnumDiskDevice(nullptr, n), EnumDeviceError::kDisksNotInitialised);
}

// Offered partitions are new on every call and belong to the caller; the
// enumerator's own devices survive the caller deleting them, and Init may
// run again, before or after Uninit.
TEST_F(enum_fake, OfferedVolumesBelongToCaller)
{
    RowNamed("gpt").build(*m_sys);
    CEnumDeviceEx enumerator(m_sys->Platform());
    ASSERT_EQ(enumerator.Init(), 0u);
    const std::string first = RenderEnumeration(enumerator);

    IStorageDevice* disk = nullptr;
    int n = 1;
    ASSERT_EQ(enumerator.EnumDiskDevice(&disk, n), 0u);
    IStorageDevice* a[3] = {};
    IStorageDevice* b[3] = {};
    n = 3;
    ASSERT_EQ(enumerator.EnumVolumeDevice(disk, a, n), 0u);
    n = 3;
    ASSERT_EQ(enumerator.EnumVolumeDevice(disk, b, n), 0u);
    EXPECT_EQ(a[0], b[0]);
    EXPECT_NE(a[2], b[2]);
    char sector[512];
    EXPECT_EQ(a[2]->ReadSector(sector, 0, 1), 1);
    delete a[2];
    EXPECT_EQ(b[2]->ReadSector(sector, 0, 1), 1);
    delete b[2];

    ASSERT_EQ(enumerator.Init(), 0u);  // again, without Uninit
    EXPECT_EQ(RenderEnumeration(enumerator), first);
    ASSERT_EQ(enumerator.Uninit(), 0u);
    ASSERT_EQ(enumerator.Init(), 0u);
    EXPECT_EQ(RenderEnumeration(enumerator), first);
}

// Each list comes out in its own order whatever order it went in.
TEST_F(enum_fake, SortOrder)
{
    std::vector<std::unique_ptr<IStorageDevice>> owned;
    auto disk = [&](const char* name) {
        auto* d = CreateDiskDevice(name);
        auto* info = new CCollectDiskDeviceInfoStruct;
        CopyTextField(info->szBsdName, name);
        d->SetPrivateData(CreateDiskDeviceData(info));
        owned.emplace_back(d);
        return d;
    };
    std::list<IStorageDevice*> disks = {disk("sdb"), disk("loop2"), disk("sdaa"), disk("loop10"), disk("sda")};
    CDevListSortAlgorithm::Sort(disks);
    std::string names;
    for (IStorageDevice* d : disks)
        names += std::string(EnumDiskInfoOf(d)->szBsdName) + " ";
    EXPECT_EQ(names, "loop10 loop2 sda sdaa sdb ");

    IStorageDevice* parent = owned.front().get();
    auto partition = [&](int index) {
        auto* p = CreatePartitionDevice(parent, 0, 1);
        auto* info = new CCollectedPartitionDeviceInfoStruct;
        info->iPartitionIndex = index;
        p->SetPrivateData(CreatePartitionDeviceData(info));
        owned.emplace_back(p);
        return p;
    };
    std::list<IStorageDevice*> partitions = {partition(5), partition(-1), partition(2), partition(1)};
    CDevListSortAlgorithm::Sort(partitions);
    std::string indexes;
    for (IStorageDevice* p : partitions)
        indexes += std::to_string(EnumPartitionInfoOf(p)->iPartitionIndex) + " ";
    EXPECT_EQ(indexes, "-1 1 2 5 ");

    auto volume = [&](int number) {
        auto* v = CreateVolumeDevice("/nonexistent");
        auto* info = new CCollectedVolumeDeviceInfoStruct;
        info->iPartitionNumber = number;
        v->SetPrivateData(CreateVolumeDeviceData(info));
        owned.emplace_back(v);
        return v;
    };
    std::list<IStorageDevice*> volumes = {volume(12), volume(3), volume(-1), volume(10)};
    CDevListSortAlgorithm::Sort(volumes);
    std::string numbers;
    for (IStorageDevice* v : volumes)
        numbers += std::to_string(EnumVolumeInfoOf(v)->iPartitionNumber) + " ";
    EXPECT_EQ(numbers, "-1 3 10 12 ");
}

// A disk the user may not open is listed as not permitted; one whose node is
// missing is dropped. Run by a child that gave up root (or, when the tests
// do not run as root, by the same user).
TEST_F(enum_fake, NotPermittedDiskIsListed)
{
    FakeSys::Disk sdb = EightMiB("sdb", "8:16", kUsbPath);
    sdb.image.clear();
    m_sys->AddDisk(sdb);
    fs::copy_file(Image("eight.img"), m_sys->DevPath("sdb"));
    // Root's own file, or, when the tests do not run as root, one its owner
    // may not read either.
    ASSERT_EQ(chmod(m_sys->DevPath("sdb").c_str(), geteuid() == 0 ? 0600 : 0), 0);
    FakeSys::Disk sde = EightMiB("sde", "8:64", kUsbPath);
    sde.image.clear();  // no device node
    m_sys->AddDisk(sde);
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0755), 0);

    if (geteuid() == 0) {
        CEnumDeviceEx enumerator(m_sys->Platform());
        ASSERT_EQ(enumerator.Init(), 0u);
        EXPECT_EQ(RenderEnumeration(enumerator),
                  BareDisk("sdb", "8:16", 4, "sdb"));
    }

    const std::string output = RunTool(std::string("'") + ENUM_FAKE_CHILD + "' '" + m_dir.path() + "'");
    std::istringstream lines(output);
    std::string line, results;
    while (std::getline(lines, line))
        if (line.rfind("RESULT ", 0) == 0)
            results += line.substr(7) + "\n";
    EXPECT_EQ(results, "uid=" + std::to_string(geteuid() == 0 ? 65534 : geteuid()) +
                           "\ninit=0\ndisk sdb permitted=0 sectors=16384 volumes=1 partitions=0\n")
        << output;
}

TEST(enum_fake_mountinfo, Unescape)
{
    const std::pair<const char*, const char*> cases[] = {
        {R"(/media/u/My\040Card)", "/media/u/My Card"},
        {R"(a\011b\012c\134d)", "a\tb\nc\\d"},
        {R"(\134040)", "\\040"},  // an escaped backslash is not the start of another escape
        {R"(odd\101 and short\04)", R"(odd\101 and short\04)"},
        {R"(end\)", R"(end\)"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(UnescapeMountField(in), out) << in;

    const auto entries = ParseMountinfo("36 25 8:33 / /a\\040b rw shared:1 master:2 - vfat /dev/x\\040y rw\n"
                                        "garbage line\n"
                                        "37 25 0:52 / /c rw - fuse.x\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].uMajor, 8u);
    EXPECT_EQ(entries[0].uMinor, 33u);
    EXPECT_EQ(entries[0].strMountPoint, "/a b");
    EXPECT_EQ(entries[0].strSource, "/dev/x y");
    EXPECT_EQ(entries[1].strMountPoint, "/c");
    EXPECT_EQ(entries[1].strSource, "");
}

}  // namespace
