// The four sector devices over one stamped image: reads, refusals and codes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "StampedImage.h"
#include "StampedMemoryDevice.h"
#include "StorageDevice.h"
#include "TestSupport.h"

namespace {

constexpr unsigned int kSector = 512;
constexpr long long kImageSectors = 16384;  // 8 MiB

enum class Kind { Disk, Volume, Window, Virtual };

const char* KindName(Kind kind)
{
    switch (kind) {
    case Kind::Disk: return "disk";
    case Kind::Volume: return "volume";
    case Kind::Window: return "window";
    case Kind::Virtual: return "virtual volume";
    }
    return "?";
}

CCollectedPartitionDeviceInfoStruct* PartitionRecord(IStorageDevice* parent, long long start, long long total)
{
    auto* info = new CCollectedPartitionDeviceInfoStruct;
    info->iState = 0;
    info->pParentDisk = parent;
    info->s64StartSector = start;
    info->s64TotalSectors = total;
    info->s64SectorSize = parent ? parent->GetSectorSize() : kSector;
    return info;
}

// Every kind of device over the same image. The volume's record ends at
// volumeTotal; the window and the virtual volume cover total sectors at start.
struct DeviceSet {
    std::unique_ptr<IStorageDevice> disk, volume, partition, window, virtualVolume;

    DeviceSet(const std::string& image, long long volumeTotal, long long start, long long total)
    {
        disk.reset(CreateImageDiskDevice(image.c_str(), 0));
        EXPECT_NE(disk, nullptr);
        if (!disk)
            return;
        volume.reset(CreateVolumeDevice(image.c_str()));
        EXPECT_EQ(volume->Open(nullptr), 1);
        auto* vinfo = new CCollectedVolumeDeviceInfoStruct;
        vinfo->s64SectorSize = kSector;
        vinfo->s64TotalSectors = volumeTotal;
        volume->SetPrivateData(CreateVolumeDeviceData(vinfo));

        window.reset(CreatePartitionDevice(disk.get(), start, total));
        EXPECT_EQ(window->Open(nullptr), 1);

        // The virtual volume is made from a partition record; its own window
        // starts elsewhere, so reads show it is built over the disk itself.
        partition.reset(CreatePartitionDevice(disk.get(), start + 7, total));
        partition->SetPrivateData(CreatePartitionDeviceData(PartitionRecord(disk.get(), start, total)));
        virtualVolume.reset(CreatePartitionVirtualVolumeDevice(partition.get()));
        EXPECT_NE(virtualVolume, nullptr);
        if (virtualVolume) {
            EXPECT_EQ(virtualVolume->Open(nullptr), 1);
        }
    }

    IStorageDevice* Get(Kind kind)
    {
        switch (kind) {
        case Kind::Disk: return disk.get();
        case Kind::Volume: return volume.get();
        case Kind::Window: return window.get();
        case Kind::Virtual: return virtualVolume.get();
        }
        return nullptr;
    }
};

class StorageDeviceTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeStampedImage(m_image, kImageSectors, kSector));
        m_digest = FileDigest(m_image);
    }
    void TearDown() override { EXPECT_EQ(FileDigest(m_image), m_digest) << "the image was changed"; }

    TempDir m_dir;
    std::string m_image = m_dir / "stamped.img";
    std::string m_digest;
};

struct ReadRow {
    const char* what;
    Kind kind;
    bool nullBuffer;
    long long first, count;
    int result;
    ResultCode code;
    long long dataFirst;    // image sector stamped in the buffer's first sector
    long long dataSectors;  // sectors of data, then...
    long long zeroSectors;  // ...zero sectors; the rest keeps its 0xAA fill
};

constexpr long long kVolumeTotal = 1000;
constexpr long long kWindowStart = 2000, kWindowTotal = 100;
constexpr long long kHuge = LLONG_MAX / 256;

const ReadRow kReadRows[] = {
    {"disk reads its sectors", Kind::Disk, false, 10, 4, 1, 0, 10, 4, 0},
    {"disk read cut by the image end", Kind::Disk, false, kImageSectors - 2, 4, 1, 0, kImageSectors - 2, 2, 2},
    {"disk read wholly past the end", Kind::Disk, false, kImageSectors, 1, 0, kDiskReadFailed, 0, 0, 1},
    {"disk null buffer", Kind::Disk, true, 0, 1, 0, kDiskBadArgument, 0, 0, 0},
    {"disk negative first", Kind::Disk, false, -1, 1, 0, kDiskBadArgument, 0, 0, 0},
    {"disk zero count", Kind::Disk, false, 0, 0, 0, kDiskBadArgument, 0, 0, 0},
    {"disk negative count", Kind::Disk, false, 0, -3, 0, kDiskBadArgument, 0, 0, 0},
    {"disk offset overflows", Kind::Disk, false, kHuge, 1, 0, kDiskBadArgument, 0, 0, 0},
    {"disk length overflows", Kind::Disk, false, 0, kHuge, 0, kDiskBadArgument, 0, 0, 0},
    {"volume reads below its total", Kind::Volume, false, kVolumeTotal - 1, 1, 1, 0, kVolumeTotal - 1, 1, 0},
    {"volume refuses its total", Kind::Volume, false, kVolumeTotal, 1, 0, kVolumeBadArgument, 0, 0, 0},
    {"volume refuses past its total", Kind::Volume, false, kVolumeTotal + 5, 1, 0, kVolumeBadArgument, 0, 0, 0},
    {"volume negative first", Kind::Volume, false, -1, 1, 0, kVolumeBadArgument, 0, 0, 0},
    {"volume null buffer", Kind::Volume, true, 0, 1, 0, kVolumeBadArgument, 0, 0, 0},
    {"volume length overflows", Kind::Volume, false, 0, kHuge, 0, kVolumeBadArgument, 0, 0, 0},
    {"window reads at its start", Kind::Window, false, 0, 3, 1, 0, kWindowStart, 3, 0},
    {"window read cut at its end", Kind::Window, false, 95, 10, 1, 0, kWindowStart + 95, 5, 5},
    {"window asked for more than it holds", Kind::Window, false, 0, kWindowTotal + 1, 0, kWindowBadCount, 0, 0, 0},
    {"window zero count", Kind::Window, false, 0, 0, 0, kWindowBadCount, 0, 0, 0},
    {"window first at its total", Kind::Window, false, kWindowTotal, 1, 0, kWindowBadFirst, 0, 0, 0},
    {"window negative first", Kind::Window, false, -1, 1, 0, kWindowBadFirst, 0, 0, 0},
    {"window null buffer", Kind::Window, true, 0, 1, 0, kWindowNullBuffer, 0, 0, 0},
    {"virtual volume reads at its start", Kind::Virtual, false, 0, 2, 1, 0, kWindowStart, 2, 0},
    {"virtual volume read cut at its end", Kind::Virtual, false, kWindowTotal - 5, 10, 1, 0,
     kWindowStart + kWindowTotal - 5, 5, 5},
    {"virtual volume asked for more than it holds", Kind::Virtual, false, 0, kWindowTotal + 1, 0, kVirtualBadCount,
     0, 0, 0},
    {"virtual volume first at its total", Kind::Virtual, false, kWindowTotal, 1, 0, kVirtualBadFirst, 0, 0, 0},
    {"virtual volume null buffer", Kind::Virtual, true, 0, 1, 0, kVirtualNullBuffer, 0, 0, 0},
};

TEST_F(StorageDeviceTest, ReadTableOverAllKinds)
{
    DeviceSet set(m_image, kVolumeTotal, kWindowStart, kWindowTotal);
    ASSERT_NE(set.disk, nullptr);
    ASSERT_NE(set.virtualVolume, nullptr);
    constexpr long long kBufferSectors = 16;
    std::vector<unsigned char> buffer(kBufferSectors * kSector);
    for (const ReadRow& row : kReadRows) {
        SCOPED_TRACE(row.what);
        IStorageDevice* device = set.Get(row.kind);
        std::memset(buffer.data(), 0xAA, buffer.size());
        int result = device->ReadSector(row.nullBuffer ? nullptr : buffer.data(), row.first, row.count);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(device->GetLastError(), row.code) << FormatResultCode(device->GetLastError());
        long long s = 0;
        for (; s < row.dataSectors; ++s)
            EXPECT_TRUE(HasSectorStamp(&buffer[s * kSector], row.dataFirst + s, kSector)) << "sector " << s;
        for (; s < row.dataSectors + row.zeroSectors; ++s)
            EXPECT_TRUE(AllBytesAre(&buffer[s * kSector], kSector, 0)) << "sector " << s << " not zero";
        EXPECT_TRUE(AllBytesAre(&buffer[s * kSector], buffer.size() - s * kSector, 0xAA))
            << "bytes written beyond the sectors read";
    }
}

TEST_F(StorageDeviceTest, WindowsPassOnTheParentsFailure)
{
    // Windows reaching past the image: the parent disk fails and its code is
    // what the window reports.
    std::unique_ptr<IStorageDevice> disk(CreateImageDiskDevice(m_image.c_str(), 0));
    ASSERT_NE(disk, nullptr);
    std::unique_ptr<IStorageDevice> window(CreatePartitionDevice(disk.get(), kImageSectors - 4, 100));
    ASSERT_EQ(window->Open(nullptr), 1);
    std::vector<unsigned char> buffer(kSector);
    EXPECT_EQ(window->ReadSector(buffer.data(), 10, 1), 0);
    EXPECT_EQ(window->GetLastError(), kDiskReadFailed);
    EXPECT_EQ(window->ReadSector(buffer.data(), 3, 1), 1);
    EXPECT_TRUE(HasSectorStamp(buffer.data(), kImageSectors - 1, kSector));
}

TEST_F(StorageDeviceTest, TypesAndUnsupportedIOCtl)
{
    DeviceSet set(m_image, kVolumeTotal, kWindowStart, kWindowTotal);
    ASSERT_NE(set.virtualVolume, nullptr);
    struct {
        Kind kind;
        int type;
        ResultCode ioctl;
    } rows[] = {
        {Kind::Disk, STORAGE_DEVICE_DISK, kDiskIOCtlUnsupported},
        {Kind::Volume, STORAGE_DEVICE_VOLUME, kVolumeIOCtlUnsupported},
        {Kind::Window, STORAGE_DEVICE_WINDOW, kWindowIOCtlUnsupported},
        {Kind::Virtual, STORAGE_DEVICE_VOLUME, kVirtualIOCtlUnsupported},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(KindName(row.kind));
        IStorageDevice* device = set.Get(row.kind);
        EXPECT_EQ(device->GetType(), row.type);
        int value = 0;
        EXPECT_EQ(device->IOCtl(0x40046418, &value), 0);
        EXPECT_EQ(device->GetLastError(), row.ioctl);
        EXPECT_EQ(ResultKind(device->GetLastError()), 3u);
        EXPECT_EQ(device->IsPermitted(), 1);
    }
    EXPECT_EQ(static_cast<CParentWindowDevice*>(set.window.get())->GetStartSector(), kWindowStart);
    EXPECT_EQ(static_cast<CParentWindowDevice*>(set.virtualVolume.get())->GetStartSector(), kWindowStart);
}

TEST_F(StorageDeviceTest, ReadsRegularFileOnlyFollowsWindowsDownToTheFile)
{
    // What a scan asks before it flushes the machine's file systems: only
    // devices whose sectors all come from an image file need no flush.
    DeviceSet set(m_image, kVolumeTotal, kWindowStart, kWindowTotal);
    ASSERT_NE(set.virtualVolume, nullptr);
    std::unique_ptr<IStorageDevice> unopened(CreateDiskDevice(m_image.c_str()));
    CPartitionDevice overUnopened(unopened.get(), 0, 10);
    CPartitionDevice windowOnWindow(set.window.get(), 1, 10);
    CPartitionDevice orphan(nullptr, 0, 10);
    CPartitionDevice loop(&loop, 0, 10);
    CStampedMemoryDevice memory(64);
    const struct {
        const char* what;
        IStorageDevice* device;
        bool expected;
    } rows[] = {
        {"disk on the image", set.disk.get(), true},
        {"volume on the image", set.volume.get(), true},
        {"window on the disk", set.window.get(), true},
        {"virtual volume on the disk", set.virtualVolume.get(), true},
        {"window on a window", &windowOnWindow, true},
        {"disk not open", unopened.get(), false},
        {"window on a disk not open", &overUnopened, false},
        {"window without parent", &orphan, false},
        {"window on itself", &loop, false},
        {"device of another kind", &memory, false},
        {"no device", nullptr, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(ReadsRegularFileOnly(row.device), row.expected);
    }
}

TEST_F(StorageDeviceTest, WindowsWithoutParentOrParentRecord)
{
    std::unique_ptr<IStorageDevice> bare(CreateDiskDevice(m_image.c_str()));
    ASSERT_EQ(bare->Open(nullptr), 1);  // no record attached
    std::vector<unsigned char> buffer(kSector);

    CPartitionDevice window(bare.get(), 0, 10);
    EXPECT_EQ(window.Open(nullptr), 0);
    EXPECT_EQ(window.GetLastError(), kWindowParentDiskInfoMissing);
    EXPECT_EQ(ResultKind(window.GetLastError()), 7u);

    CPartitionVirtualVolumeDevice virt(bare.get(), 0, 10, kSector);
    EXPECT_EQ(virt.Open(nullptr), 0);
    EXPECT_EQ(ResultKind(virt.GetLastError()), 7u);

    CPartitionDevice orphanWindow(nullptr, 0, 10);
    EXPECT_EQ(orphanWindow.Open(nullptr), 0);
    EXPECT_EQ(ResultKind(orphanWindow.GetLastError()), 7u);
    EXPECT_EQ(orphanWindow.ReadSector(buffer.data(), 0, 1), 0);
    EXPECT_EQ(orphanWindow.GetLastError(), kWindowNoParent);

    CPartitionVirtualVolumeDevice orphanVirtual(nullptr, 0, 10, kSector);
    EXPECT_EQ(orphanVirtual.ReadSector(buffer.data(), 0, 1), 0);
    EXPECT_EQ(orphanVirtual.GetLastError(), kVirtualNoParent);
}

TEST_F(StorageDeviceTest, WindowRefusesAParentOfAnotherSectorSize)
{
    // The parent reads whole sectors of its own size; a 4096-byte parent
    // under a 512-byte window would write eight times the caller's buffer.
    std::unique_ptr<IStorageDevice> disk(CreateImageDiskDevice(m_image.c_str(), 0));
    ASSERT_NE(disk, nullptr);
    CPartitionDevice window(disk.get(), 0, 10);
    ASSERT_EQ(window.Open(nullptr), 1);
    auto* bigger = new CCollectDiskDeviceInfoStruct;
    bigger->s64SectorSize = 4096;
    bigger->s64TotalSectors = kImageSectors / 8;
    disk->SetPrivateData(CreateDiskDeviceData(bigger));
    ASSERT_EQ(disk->GetSectorSize(), 4096u);
    std::vector<unsigned char> buffer(kSector, 0xAA);
    EXPECT_EQ(window.ReadSector(buffer.data(), 0, 1), 0);
    EXPECT_EQ(ResultKind(window.GetLastError()), 7u);
    EXPECT_TRUE(AllBytesAre(buffer.data(), buffer.size(), 0xAA));
    // Opened again, the window follows the parent's record.
    ASSERT_EQ(window.Open(nullptr), 1);
    EXPECT_EQ(window.GetSectorSize(), 4096u);
}

TEST_F(StorageDeviceTest, RecordsSetSizesAndGettersReportMissingRecords)
{
    std::unique_ptr<IStorageDevice> diskBase(CreateImageDiskDevice(m_image.c_str(), 4096));
    ASSERT_NE(diskBase, nullptr);
    auto* disk = static_cast<CDiskDevice*>(diskBase.get());
    EXPECT_EQ(disk->GetSectorSize(), 4096u);
    EXPECT_EQ(disk->GetTotalSectors(), kImageSectors / 8);

    // Windows take the parent disk record's sector size at Open; a virtual
    // volume keeps the larger of its own and its volume record's.
    CPartitionDevice window(disk, 1, 4);
    ASSERT_EQ(window.Open(nullptr), 1);
    EXPECT_EQ(window.GetSectorSize(), 4096u);
    std::vector<unsigned char> buffer(4096);
    ASSERT_EQ(window.ReadSector(buffer.data(), 0, 1), 1);
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(HasSectorStamp(&buffer[i * kSector], 8 + i, kSector));

    auto volumeRecord = [](long long sectorSize, long long total) {
        auto* info = new CCollectedVolumeDeviceInfoStruct;
        info->s64SectorSize = sectorSize;
        info->s64TotalSectors = total;
        return CreateVolumeDeviceData(info);
    };
    CPartitionVirtualVolumeDevice virt(disk, 0, 4, 512);
    virt.SetPrivateData(volumeRecord(512, 3));
    EXPECT_EQ(virt.GetSectorSize(), 512u);
    EXPECT_EQ(virt.GetTotalSectors(), 3);
    ASSERT_EQ(virt.Open(nullptr), 1);
    virt.SetPrivateData(volumeRecord(2048, 2));
    EXPECT_EQ(virt.GetSectorSize(), 4096u);
    EXPECT_EQ(virt.GetTotalSectors(), 2);

    // Each getter clears the code when the record is there, and answers null
    // with kind 7 for no holder, a holder of another kind or an empty holder.
    auto getterCases = [&](IStorageDevice* device, auto getRecord, IStorageDeviceData* rightKindEmpty,
                           IStorageDeviceData* wrongKind, ResultCode missing) {
        device->IOCtl(0, nullptr);
        EXPECT_NE(getRecord(), nullptr);
        EXPECT_EQ(device->GetLastError(), 0u);
        device->SetPrivateData(nullptr);
        EXPECT_EQ(getRecord(), nullptr);
        EXPECT_EQ(device->GetLastError(), missing);
        device->SetPrivateData(wrongKind);
        EXPECT_EQ(getRecord(), nullptr);
        EXPECT_EQ(device->GetLastError(), missing);
        device->SetPrivateData(rightKindEmpty);
        EXPECT_EQ(getRecord(), nullptr);
        EXPECT_EQ(device->GetLastError(), missing);
        EXPECT_EQ(ResultKind(missing), 7u);
    };
    {
        SCOPED_TRACE("disk");
        getterCases(disk, [&] { return disk->GetDiskInfo(); }, CreateDiskDeviceData(nullptr),
                    CreateVolumeDeviceData(new CCollectedVolumeDeviceInfoStruct), kDiskInfoMissing);
    }
    std::unique_ptr<IStorageDevice> owner(CreateImageDiskDevice(m_image.c_str(), 0));
    ASSERT_NE(owner, nullptr);
    {
        SCOPED_TRACE("volume");
        CVolumeDevice volume(m_image.c_str());
        volume.SetPrivateData(CreateVolumeDeviceData(new CCollectedVolumeDeviceInfoStruct));
        getterCases(&volume, [&] { return volume.GetVolumeInfo(); }, CreateVolumeDeviceData(nullptr),
                    CreateDiskDeviceData(new CCollectDiskDeviceInfoStruct), kVolumeInfoMissing);
    }
    {
        SCOPED_TRACE("window");
        CPartitionDevice part(owner.get(), 0, 4);
        part.SetPrivateData(CreatePartitionDeviceData(PartitionRecord(owner.get(), 0, 4)));
        EXPECT_NE(part.GetParentDiskInfo(), nullptr);
        getterCases(&part, [&] { return part.GetPartitionInfo(); }, CreatePartitionDeviceData(nullptr),
                    CreateDiskDeviceData(new CCollectDiskDeviceInfoStruct), kWindowPartitionInfoMissing);
    }
    {
        SCOPED_TRACE("virtual volume");
        CPartitionVirtualVolumeDevice vv(owner.get(), 0, 4, kSector);
        vv.SetPrivateData(CreateVolumeDeviceData(new CCollectedVolumeDeviceInfoStruct));
        EXPECT_NE(vv.GetParentDiskInfo(), nullptr);
        getterCases(&vv, [&] { return vv.GetVolumeInfo(); }, CreateVolumeDeviceData(nullptr),
                    CreatePartitionDeviceData(new CCollectedPartitionDeviceInfoStruct), kVirtualVolumeInfoMissing);
    }
}

TEST_F(StorageDeviceTest, VirtualVolumeNeedsAFilledRecordThatNamesItsDisk)
{
    std::unique_ptr<IStorageDevice> disk(CreateImageDiskDevice(m_image.c_str(), 0));
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(nullptr), nullptr);

    CPartitionDevice partition(disk.get(), 100, 50);
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(&partition), nullptr) << "no record";

    auto* notFilled = PartitionRecord(disk.get(), 100, 50);
    notFilled->iState = 1;
    partition.SetPrivateData(CreatePartitionDeviceData(notFilled));
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(&partition), nullptr) << "state not 0";

    partition.SetPrivateData(CreatePartitionDeviceData(PartitionRecord(nullptr, 100, 50)));
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(&partition), nullptr) << "no parent disk";

    partition.SetPrivateData(CreateVolumeDeviceData(new CCollectedVolumeDeviceInfoStruct));
    EXPECT_EQ(CreatePartitionVirtualVolumeDevice(&partition), nullptr) << "record of another kind";

    partition.SetPrivateData(CreatePartitionDeviceData(PartitionRecord(disk.get(), 300, 50)));
    std::unique_ptr<IStorageDevice> virt(CreatePartitionVirtualVolumeDevice(&partition));
    ASSERT_NE(virt, nullptr);
    EXPECT_EQ(virt->GetTotalSectors(), 50);
    EXPECT_EQ(virt->GetSectorSize(), kSector);
    std::vector<unsigned char> buffer(kSector);
    ASSERT_EQ(virt->ReadSector(buffer.data(), 0, 1), 1);
    EXPECT_TRUE(HasSectorStamp(buffer.data(), 300, kSector)) << "built over the disk at the record's start";
}

TEST_F(StorageDeviceTest, ImageDiskRecord)
{
    // 8 MiB + 100 bytes: the last partial sector is not counted.
    RunTool("truncate -s +100 '" + m_image + "'");
    m_digest = FileDigest(m_image);
    for (unsigned int size : {0u, 512u, 4096u}) {
        SCOPED_TRACE(size);
        std::unique_ptr<IStorageDevice> device(CreateImageDiskDevice(m_image.c_str(), size));
        ASSERT_NE(device, nullptr);
        auto* info = static_cast<CDiskDevice*>(device.get())->GetDiskInfo();
        ASSERT_NE(info, nullptr);
        const long long expectSize = size == 0 ? 512 : size;
        const long long expectTotal = (kImageSectors * kSector) / expectSize;
        EXPECT_EQ(info->iState, 0);
        EXPECT_EQ(info->iBusType, BUS_TYPE_VIRTUAL);
        EXPECT_EQ(info->iPartitionScheme, PARTITION_SCHEME_NONE);
        EXPECT_STREQ(info->szRegistryName, "stamped.img");
        EXPECT_STREQ(info->szBsdName, "stamped.img");
        EXPECT_EQ(info->s64SectorSize, expectSize);
        EXPECT_EQ(info->s64TotalSectors, expectTotal);
        EXPECT_EQ(info->s64Cylinders, expectTotal / 16065);
        EXPECT_EQ(info->s64Heads, 255);
        EXPECT_EQ(info->s64SectorsPerTrack, 63);
        EXPECT_EQ(info->u64DeviceId, 0u);
        EXPECT_EQ(device->GetSectorSize(), static_cast<unsigned int>(expectSize));
        EXPECT_EQ(device->GetTotalSectors(), expectTotal);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(CreateImageDiskDevice((m_dir / "missing.img").c_str(), 0), nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("open failed:2,"), std::string::npos) << out;
    EXPECT_NE(out.find("0x10e004400000001"), std::string::npos) << out;
}

TEST_F(StorageDeviceTest, OpenTakesOnlyBlockDevicesAndFiles)
{
    std::string fifo = m_dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Row {
        std::string path;
        bool volume;
        ResultCode code;
    } rows[] = {
        {m_dir / "missing.img", false, kDiskOpenFailed},
        {m_dir / "missing.img", true, kVolumeOpenFailed},
        {m_dir.path(), false, kDiskOpenFailed},
        {fifo, false, kDiskOpenFailed},  // a FIFO without a writer must not hang the open
        {fifo, true, kVolumeOpenFailed},
        {"/dev/null", false, kDiskOpenFailed},
        {"", false, kDiskOpenFailed},
    };
    testing::internal::CaptureStdout();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        std::unique_ptr<IStorageDevice> device(row.volume ? CreateVolumeDevice(row.path.c_str())
                                                          : CreateDiskDevice(row.path.c_str()));
        EXPECT_EQ(device->Open(nullptr), 0);
        EXPECT_EQ(device->GetLastError(), row.code);
        EXPECT_EQ(device->IsPermitted(), 1);
        EXPECT_EQ(device->Close(), 0);
    }
    testing::internal::GetCapturedStdout();

    // A path given to Open replaces the one given at construction.
    std::unique_ptr<IStorageDevice> device(CreateDiskDevice((m_dir / "missing.img").c_str()));
    ASSERT_EQ(device->Open(m_image.data()), 1);
    EXPECT_EQ(device->GetLastError(), 0u);
    EXPECT_EQ(device->GetSectorSize(), kSector);
    EXPECT_EQ(device->GetTotalSectors(), kImageSectors);
    EXPECT_EQ(device->Close(), 1);
    EXPECT_EQ(device->Close(), 0);
}

TEST_F(StorageDeviceTest, LongPathsAreKeptWhole)
{
    std::string dir = m_dir.path();
    while (dir.size() < 220)
        dir += "/a-rather-long-folder-name";
    ASSERT_EQ(RunTool("mkdir -p '" + dir + "' && cp '" + m_image + "' '" + dir + "/deep.img' && echo ok"), "ok\n");
    std::string path = dir + "/deep.img";
    ASSERT_GT(path.size(), 200u);
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(path.c_str()));
    ASSERT_EQ(disk->Open(nullptr), 1) << FormatResultCode(disk->GetLastError());
    std::unique_ptr<IStorageDevice> volume(CreateVolumeDevice(path.c_str()));
    ASSERT_EQ(volume->Open(nullptr), 1);
    std::vector<unsigned char> buffer(kSector);
    ASSERT_EQ(disk->ReadSector(buffer.data(), 1234, 1), 1);
    EXPECT_TRUE(HasSectorStamp(buffer.data(), 1234, kSector));
    EXPECT_EQ(FileDigest(path), m_digest);
}

TEST_F(StorageDeviceTest, PermissionRefusalClearsPermittedFlag)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    // The folder lets anyone through; the image itself is root's only.
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0711), 0);
    ASSERT_EQ(chmod(m_image.c_str(), 0600), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        int bad = 0;
        const bool asVolume[] = {false, true};
        for (bool volume : asVolume) {
            IStorageDevice* device =
                volume ? CreateVolumeDevice(m_image.c_str()) : CreateDiskDevice(m_image.c_str());
            ResultCode expect = volume ? kVolumeOpenFailed : kDiskOpenFailed;
            if (device->Open(nullptr) != 0 || device->IsPermitted() != 0 || device->GetLastError() != expect)
                bad |= volume ? 2 : 1;
            // Not deleted: the child leaves at once and must not wait on
            // locks that threads of the parent held at fork time.
            (void)device;
        }
        _exit(bad);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: disk wrong, 2: volume wrong, 3: both, 10: setuid failed";
}

}  // namespace
