// The enumerator against the kernel: images attached to real loop devices.
// Needs root and working loop devices; every test skips, saying why, where
// it cannot attach one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

#include "CommandStatus.h"
#include "DeviceInfo.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "SearcherRegistry.h"
#include "StorageDevice.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

int Shell(const std::string& command, std::string* output = nullptr)
{
    std::string ignored;
    return RunCommandStatus(command, output ? *output : ignored);
}

uint64_t NodeId(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_rdev) : 0;
}

class LoopTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to attach loop devices";
        if (Shell("command -v losetup") != 0)
            GTEST_SKIP() << "losetup is not installed";
        std::string out;
        if (Shell("losetup -f", &out) != 0)
            GTEST_SKIP() << "no loop device can be attached here (losetup -f: " << FirstLine(out) << ")";
        MakeEnumImages(m_dir.path(), false);
    }

    void TearDown() override
    {
        for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it)
            Shell("umount '" + *it + "'");
        for (auto it = m_loops.rbegin(); it != m_loops.rend(); ++it) {
            Shell("partx -d " + *it);
            Shell("losetup -d " + *it);
        }
    }

    // Attaches an image read-only; nothing (with the reason in m_skip) when
    // the kernel refuses.
    std::optional<std::string> Attach(const std::string& image, const std::string& options)
    {
        std::string out;
        if (Shell("losetup -f --show -r " + options + " '" + m_dir / image + "'", &out) != 0) {
            m_skip = "cannot attach " + image + " (" + FirstLine(out) + ")";
            return std::nullopt;
        }
        const std::string loop = FirstLine(out);
        m_loops.push_back(loop);
        return loop;
    }

    // Waits until the kernel shows partition part of the loop device.
    bool WaitForPartition(const std::string& loop, const std::string& part)
    {
        Shell("partx -a " + loop);  // the partitions may be there already
        const std::string name = Name(loop);
        for (int i = 0; i < 50; ++i) {
            if (fs::exists("/sys/block/" + name + "/" + name + part))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        m_skip = "the kernel shows no partitions of " + loop;
        return false;
    }

    static std::string Name(const std::string& loop) { return fs::path(loop).filename().string(); }

    // The rendering of one disk, without device numbers (they are checked
    // against the device nodes instead).
    static std::string DiskListing(const std::string& all, const std::string& name)
    {
        const std::string head = "disk " + name + " ";
        size_t from = all.rfind(head, 0) == 0 ? 0 : all.find("\n" + head);
        if (from == std::string::npos)
            return {};
        if (from != 0)
            ++from;
        size_t to = all.find("\ndisk ", from);
        std::string block = all.substr(from, to == std::string::npos ? std::string::npos : to + 1 - from);
        for (size_t at; (at = block.find(" dev=")) != std::string::npos;)
            block.erase(at, block.find_first_not_of("0123456789:", at + 5) - at);
        return block;
    }

    // The disk device of the loop device, and its volumes (the caller's
    // offered ones are deleted by the fixture).
    IStorageDevice* FindDisk(IEnumDeviceEx& enumerator, const std::string& name)
    {
        int n = 0;
        enumerator.EnumDiskDevice(nullptr, n);
        std::vector<IStorageDevice*> disks(static_cast<size_t>(n));
        if (n > 0)
            enumerator.EnumDiskDevice(disks.data(), n);
        for (IStorageDevice* disk : disks) {
            auto* holder = dynamic_cast<IDiskDeviceData*>(disk->GetPrivateData());
            if (holder && name == holder->GetDiskInfo()->szBsdName)
                return disk;
        }
        return nullptr;
    }

    std::vector<CCollectedVolumeDeviceInfoStruct> KernelVolumes(IEnumDeviceEx& enumerator, IStorageDevice* disk)
    {
        std::vector<CCollectedVolumeDeviceInfoStruct> out;
        int n = 0;
        enumerator.EnumVolumeDevice(disk, nullptr, n);
        std::vector<IStorageDevice*> volumes(static_cast<size_t>(n));
        if (n > 0)
            enumerator.EnumVolumeDevice(disk, volumes.data(), n);
        for (IStorageDevice* v : volumes) {
            if (auto* kernel = dynamic_cast<CVolumeDevice*>(v))
                out.push_back(*kernel->GetVolumeInfo());
            else
                delete v;
        }
        return out;
    }

    TempDir m_dir;
    ScopedSearcherRegistry m_registry;  // no recogniser unless a test adds one
    std::vector<std::string> m_loops;
    std::vector<std::string> m_mounts;
    std::string m_skip;
};

using enum_loop = LoopTest;

TEST_F(enum_loop, PartitionedMbr)
{
    const std::string digest = FileDigest(m_dir / "mbr.img");
    auto loop = Attach("mbr.img", "-P");
    if (!loop || !WaitForPartition(*loop, "p5"))
        GTEST_SKIP() << m_skip;
    const std::string n = Name(*loop);
    RegisterVolumeAnalyze(FS_FAT32, CreateTestFat16Recogniser);

    CEnumDeviceEx enumerator;
    ASSERT_EQ(enumerator.Init(), 0u);
    EXPECT_EQ(DiskListing(RenderEnumeration(enumerator), n),
              "disk " + n + R"( bus=5 scheme=1 ss=512 sectors=131072 writable=0 permitted=1 registry="mbr.img" records=3
  partition 1 start=2048 sectors=20480 fs=1 label="FATONE"
  partition 2 start=22528 sectors=20480 fs=10 label=""
  partition 5 start=45056 sectors=16384 fs=1 label="LOGIC"
  volume )" + n + R"(p1 #1 start=2048 sectors=20480 ss=512 fs=1 label="FATONE" name="FATONE" mounted=0
  volume )" + n + R"(p2 #2 start=22528 sectors=20480 ss=512 fs=10 label="" name=")" + n + R"(p2" mounted=0
  volume )" + n + R"(p5 #5 start=45056 sectors=16384 ss=512 fs=1 label="LOGIC" name="LOGIC" mounted=0
)");

    IStorageDevice* disk = FindDisk(enumerator, n);
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(dynamic_cast<CDiskDevice*>(disk)->GetDiskInfo()->u64DeviceId, NodeId(*loop));
    for (const auto& v : KernelVolumes(enumerator, disk))
        EXPECT_EQ(v.u64DeviceId, NodeId("/dev/" + std::string(v.szBsdName))) << v.szBsdName;
    ASSERT_EQ(enumerator.Uninit(), 0u);
    EXPECT_EQ(FileDigest(m_dir / "mbr.img"), digest);
}

// Without kernel partitions every table entry is offered as a volume.
TEST_F(enum_loop, UnpartitionedMbr)
{
    auto loop = Attach("mbr.img", "");
    if (!loop)
        GTEST_SKIP() << m_skip;
    Shell("partx -d " + *loop);  // in case the kernel scanned it anyway
    const std::string n = Name(*loop);
    RegisterVolumeAnalyze(FS_FAT32, CreateTestFat16Recogniser);

    CEnumDeviceEx enumerator;
    ASSERT_EQ(enumerator.Init(), 0u);
    EXPECT_EQ(DiskListing(RenderEnumeration(enumerator), n),
              "disk " + n + R"( bus=5 scheme=1 ss=512 sectors=131072 writable=0 permitted=1 registry="mbr.img" records=0
  partition 1 start=2048 sectors=20480 fs=1 label="FATONE"
  partition 2 start=22528 sectors=20480 fs=10 label=""
  partition 5 start=45056 sectors=16384 fs=1 label="LOGIC"
  offered #1 start=2048 sectors=20480 ss=512 fs=1 label="FATONE" name="" mounted=0
  offered #2 start=22528 sectors=20480 ss=512 fs=10 label="" name="" mounted=0
  offered #5 start=45056 sectors=16384 ss=512 fs=1 label="LOGIC" name="" mounted=0
)");
}

TEST_F(enum_loop, FourKnSectors)
{
    auto loop = Attach("g4k.img", "-P --sector-size 4096");
    if (!loop || !WaitForPartition(*loop, "p1"))
        GTEST_SKIP() << m_skip;
    const std::string n = Name(*loop);

    CEnumDeviceEx enumerator;
    ASSERT_EQ(enumerator.Init(), 0u);
    EXPECT_EQ(DiskListing(RenderEnumeration(enumerator), n),
              "disk " + n + R"( bus=5 scheme=2 ss=4096 sectors=16384 writable=0 permitted=1 registry="g4k.img" records=1
  partition 1 start=256 sectors=12288 fs=10 label="" type=0fc63daf-8483-4772-8e79-3d69d8477de4
  volume )" + n + R"(p1 #1 start=256 sectors=12288 ss=4096 fs=10 label="" name=")" + n +
                  R"(p1" mounted=0 type=0fc63daf-8483-4772-8e79-3d69d8477de4
)");
}

TEST_F(enum_loop, SizeLimit)
{
    auto small = Attach("small.img", "");
    auto eight = small ? Attach("eight.img", "") : std::nullopt;
    if (!small || !eight)
        GTEST_SKIP() << m_skip;
    CEnumDeviceEx enumerator;
    ASSERT_EQ(enumerator.Init(), 0u);
    EXPECT_EQ(FindDisk(enumerator, Name(*small)), nullptr) << "a 4 MiB disk is listed";
    EXPECT_NE(FindDisk(enumerator, Name(*eight)), nullptr) << "an 8 MiB disk is not listed";
}

// Without a recogniser the mount point's last component names the volume.
// Mounted by the kernel where it has FAT, else through FUSE (an anonymous
// device number, found by the mount source).
TEST_F(enum_loop, MountedVolume)
{
    auto loop = Attach("mbr.img", "-P");
    if (!loop || !WaitForPartition(*loop, "p5"))
        GTEST_SKIP() << m_skip;
    const std::string point = m_dir / "My Card";
    const std::string part = *loop + "p1";
    fs::create_directory(point);
    std::string kernel, fuse, how;
    if (Shell("mount -t vfat -o ro " + part + " '" + point + "'", &kernel) == 0)
        how = "mounted by the kernel";
    else if (Shell("command -v fusefat") == 0 &&
             Shell("fusefat -o ro,fsname=" + part + " " + part + " '" + point + "'", &fuse) == 0)
        how = "mounted through FUSE";
    else
        GTEST_SKIP() << "cannot mount a FAT volume here (" << FirstLine(kernel) << "; fusefat: " << FirstLine(fuse)
                     << ")";
    m_mounts.push_back(point);
    SCOPED_TRACE(how);

    CEnumDeviceEx enumerator;
    ASSERT_EQ(enumerator.Init(), 0u);
    IStorageDevice* disk = FindDisk(enumerator, Name(*loop));
    ASSERT_NE(disk, nullptr);
    const auto volumes = KernelVolumes(enumerator, disk);
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[0].iMounted, 1);
    EXPECT_STREQ(volumes[0].szVolumeName, "My Card");
    EXPECT_EQ(volumes[1].iMounted, 0);
    EXPECT_EQ(volumes[2].iMounted, 0);
}

// The command line shows the kernel volumes of the attached disk.
TEST_F(enum_loop, CliDevices)
{
    const std::string digest = FileDigest(m_dir / "mbr.img");
    auto loop = Attach("mbr.img", "-P");
    if (!loop || !WaitForPartition(*loop, "p5"))
        GTEST_SKIP() << m_skip;
    std::string output;
    // Standard output only: the engine's diagnostics go to standard error.
    EXPECT_EQ(RunCommandStatus(std::string("('") + VANTREL_CLI + "' devices 2>/dev/null)", output), 0);
    std::string mine;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string kind, path, sectorSize, sectors;
        fields >> kind >> path >> sectorSize >> sectors;
        if (path != *loop && path.rfind(*loop + "p", 0) != 0)
            continue;
        // Which file system shows depends on the recognisers of the build.
        const std::string mounted = line.substr(line.rfind('\t') + 1);
        mine += kind + " " + path + " " + sectorSize + " " + sectors + " " + mounted + "\n";
    }
    const std::string& l = *loop;
    EXPECT_EQ(mine, "disk " + l + " 512 131072 \nvolume " + l + "p1 512 20480 0\nvolume " + l +
                        "p2 512 20480 0\nvolume " + l + "p5 512 16384 0\n")
        << output;
    EXPECT_EQ(FileDigest(m_dir / "mbr.img"), digest);
}

}  // namespace
