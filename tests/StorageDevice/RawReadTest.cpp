// The raw read path: chunking, end of file, time-outs that must not land in
// a reused buffer, short reads, and reads from several threads at once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "CommandStatus.h"
#include "StampedImage.h"
#include "StorageDevice.h"
#include "TestSupport.h"

namespace {

constexpr unsigned int kSector = 512;
constexpr long long kMiB = 1024 * 1024;

class RawReadTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeStampedImage(m_image, 8 * kMiB / kSector, kSector));
        m_digest = FileDigest(m_image);
    }
    void TearDown() override
    {
        SetRawReadTimeoutForTesting(30000);
        for (int fd : m_fifos)
            close(fd);
        EXPECT_EQ(FileDigest(m_image), m_digest) << "the image was changed";
    }

    // A FIFO opened for reading and writing: it never blocks the open, and
    // reads wait until the test writes.
    int MakeFifo(const std::string& name)
    {
        std::string path = m_dir / name;
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        m_fifos.push_back(fd);
        return fd;
    }

    static void WriteBytes(int fd, char value, size_t count)
    {
        std::string bytes(count, value);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Once their data arrived, timed-out requests are freed by the next read.
    void ExpectOrphansFreed()
    {
        std::vector<unsigned char> sector(kSector);
        std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(m_image.c_str()));
        ASSERT_EQ(disk->Open(nullptr), 1);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(disk->ReadSector(sector.data(), 0, 1), 1);
        } while (GetRawReadOrphanCountForTesting() != 0 && std::chrono::steady_clock::now() < deadline);
        EXPECT_EQ(GetRawReadOrphanCountForTesting(), 0);
    }

    void ExpectStampedRead(IStorageDevice* disk, long long first, long long count)
    {
        std::vector<unsigned char> buffer(count * kSector, 0xAA);
        ASSERT_EQ(disk->ReadSector(buffer.data(), first, count), 1) << FormatResultCode(disk->GetLastError());
        long long bad = 0;
        for (long long i = 0; i < count; ++i)
            bad += HasSectorStamp(&buffer[i * kSector], first + i, kSector) ? 0 : 1;
        EXPECT_EQ(bad, 0) << "sectors without their own stamp, read at " << first;
    }

    TempDir m_dir;
    std::string m_image = m_dir / "stamped.img";
    std::string m_digest;
    std::vector<int> m_fifos;
};

TEST_F(RawReadTest, RefusedArgumentsReadNothing)
{
    int fd = open(m_image.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<unsigned char> buffer(kSector, 0xAA);
    EXPECT_EQ(ZRReadAsyncData(buffer.data(), fd, 0, 0), 0);
    EXPECT_EQ(ZRReadAsyncData(nullptr, fd, 0, kSector), 0);
    EXPECT_EQ(ZRReadAsyncData(buffer.data(), -1, 0, kSector), 0);
    EXPECT_EQ(ZRReadAsyncData(buffer.data(), fd, -512, kSector), 0);
    EXPECT_EQ(ZRReadAsyncData(buffer.data(), fd, 0, -1), 0);
    EXPECT_EQ(ZRReadAsyncData(buffer.data(), fd, INT64_MAX - 10, kSector), 0);
    EXPECT_TRUE(AllBytesAre(buffer.data(), buffer.size(), 0xAA));
    EXPECT_EQ(ZRReadAsyncData(buffer.data(), fd, 3 * kSector, kSector), kSector);
    EXPECT_TRUE(HasSectorStamp(buffer.data(), 3, kSector));
    close(fd);
}

TEST_F(RawReadTest, FailedSecondChunkGivesZerosAndFailure)
{
    // 8 MiB asked of a 4 MiB file: the first chunk is data, the second lies
    // wholly past the end and fails; the call as a whole fails.
    std::string small = m_dir / "small.img";
    ASSERT_TRUE(MakeStampedImage(small, 4 * kMiB / kSector, kSector));
    int fd = open(small.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<unsigned char> buffer(8 * kMiB, 0xAA);
    EXPECT_EQ(ZRReadAsyncData(buffer.data(), fd, 0, 8 * kMiB), 0);
    long long bad = 0;
    for (long long s = 0; s < 4 * kMiB / kSector; ++s)
        bad += HasSectorStamp(&buffer[s * kSector], s, kSector) ? 0 : 1;
    EXPECT_EQ(bad, 0);
    EXPECT_TRUE(AllBytesAre(&buffer[4 * kMiB], 4 * kMiB, 0));
    close(fd);
}

TEST_F(RawReadTest, ImageEndInsideAChunkKeepsTheDataAndZeros)
{
    // 8 MiB + 100 bytes: the two sectors at 16,384 hold 100 bytes of data.
    std::string image = m_dir / "tail.img";
    ASSERT_TRUE(MakeStampedImage(image, 8 * kMiB / kSector + 1, kSector));
    RunTool("truncate -s " + std::to_string(8 * kMiB + 100) + " '" + image + "'");
    const std::string digest = FileDigest(image);
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(image.c_str()));
    ASSERT_EQ(disk->Open(nullptr), 1);
    std::vector<unsigned char> buffer(2 * kSector, 0xAA);
    ASSERT_EQ(disk->ReadSector(buffer.data(), 16384, 2), 1) << FormatResultCode(disk->GetLastError());
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(buffer[i], static_cast<unsigned char>(16384ULL >> (8 * (i % 8)))) << "byte " << i;
    EXPECT_TRUE(AllBytesAre(&buffer[100], buffer.size() - 100, 0));
    EXPECT_EQ(FileDigest(image), digest);
}

TEST_F(RawReadTest, TimedOutReadNeverLandsInALaterRead)
{
    SetRawReadTimeoutForTesting(200);
    int fifo = MakeFifo("late");
    std::vector<unsigned char> first(4096, 0xAA);
    EXPECT_EQ(ZRReadAsyncData(first.data(), fifo, 0, 4096), 0);
    EXPECT_TRUE(AllBytesAre(first.data(), first.size(), 0));
    EXPECT_EQ(GetRawReadOrphanCountForTesting(), 1);

    // The stuck read now completes while later reads use the read path.
    WriteBytes(fifo, 'L', 4096);
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(m_image.c_str()));
    ASSERT_EQ(disk->Open(nullptr), 1);
    ExpectStampedRead(disk.get(), 0, 8192);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ExpectStampedRead(disk.get(), 8192, 8192);
    EXPECT_TRUE(AllBytesAre(first.data(), first.size(), 0)) << "the late data reached the first caller's buffer";
    ExpectOrphansFreed();
}

// The read straight into the caller's buffer gives what the copying read
// gives, zeros past the end included.
TEST_F(RawReadTest, DirectReadsMatchCopyingReads)
{
    std::string image = m_dir / "tail.img";
    ASSERT_TRUE(MakeStampedImage(image, 8 * kMiB / kSector + 1, kSector));
    RunTool("truncate -s " + std::to_string(8 * kMiB + 100) + " '" + image + "'");
    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct Case {
        long long offset;
        long long length;
        long long result;
    };
    const Case cases[] = {
        {3 * kSector, kSector, kSector},              // one sector
        {kMiB - kSector, 4 * kMiB, 4 * kMiB},         // one whole chunk
        {kSector, 6 * kMiB, 6 * kMiB},                // over two chunks
        {8 * kMiB, 2 * kSector, 2 * kSector},         // the file ends inside
        {8 * kMiB - kSector, 8 * kMiB, 0},            // a second chunk past the end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        std::vector<unsigned char> copied(c.length, 0xAA);
        EXPECT_EQ(ZRReadAsyncData(copied.data(), fd, c.offset, c.length), c.result);
        LargeBuffer direct = AllocateLargeBuffer(c.length);
        ASSERT_TRUE(direct);
        std::fill_n(direct.get(), c.length, 0x55);
        EXPECT_EQ(ZRReadAsyncDataInto(direct, fd, c.offset, c.length), c.result);
        ASSERT_TRUE(direct) << "a read that did not time out kept the buffer";
        EXPECT_EQ(std::memcmp(direct.get(), copied.data(), c.length), 0);
    }
    LargeBuffer none;
    EXPECT_EQ(ZRReadAsyncDataInto(none, fd, 0, kSector), 0);
    close(fd);
}

// A direct read that times out gives its buffer up to the read path, which
// frees it once the late data arrived.
TEST_F(RawReadTest, TimedOutDirectReadTakesTheBuffer)
{
    SetRawReadTimeoutForTesting(200);
    int fifo = MakeFifo("late-direct");
    LargeBuffer buffer = AllocateLargeBuffer(4096);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(ZRReadAsyncDataInto(buffer, fifo, 0, 4096), 0);
    EXPECT_FALSE(buffer);
    EXPECT_EQ(GetRawReadOrphanCountForTesting(), 1);

    // Through a device too, while the first request is still stuck.
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(m_image.c_str()));
    ASSERT_EQ(disk->Open(nullptr), 1);
    LargeBuffer sectors = AllocateLargeBuffer(16 * kSector);
    ASSERT_EQ(disk->ReadSectorInto(sectors, 100, 16), 1);
    ASSERT_TRUE(sectors);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(HasSectorStamp(sectors.get() + i * kSector, 100 + i, kSector)) << i;

    WriteBytes(fifo, 'L', 4096);
    ExpectOrphansFreed();
}

TEST_F(RawReadTest, ShortReadThatStallsFailsTheChunk)
{
    // The first 1,000 bytes arrive, the rest never does: the chunk fails as a
    // whole instead of passing zeros off as data.
    SetRawReadTimeoutForTesting(200);
    int fifo = MakeFifo("short");
    WriteBytes(fifo, 'S', 1000);
    std::vector<unsigned char> buffer(4096, 0xAA);
    EXPECT_EQ(ZRReadAsyncData(buffer.data(), fifo, 0, 4096), 0);
    EXPECT_TRUE(AllBytesAre(buffer.data(), buffer.size(), 0));
    WriteBytes(fifo, 'S', 4096);
    ExpectOrphansFreed();
}

TEST_F(RawReadTest, StuckRequestsAreCappedThenRecovered)
{
    SetRawReadTimeoutForTesting(100);
    std::vector<int> fifos;
    for (int i = 0; i < 8; ++i)
        fifos.push_back(MakeFifo("stuck" + std::to_string(i)));
    std::vector<unsigned char> buffer(4096);
    for (int fd : fifos)
        EXPECT_EQ(ZRReadAsyncData(buffer.data(), fd, 0, 4096), 0);
    EXPECT_EQ(GetRawReadOrphanCountForTesting(), 8);

    // With eight requests stuck the path refuses at once, even a good file.
    std::unique_ptr<IStorageDevice> disk(CreateDiskDevice(m_image.c_str()));
    ASSERT_EQ(disk->Open(nullptr), 1);
    std::vector<unsigned char> sectors(4 * kSector, 0xAA);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(disk->ReadSector(sectors.data(), 0, 4), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(disk->GetLastError(), kDiskReadFailed);
    EXPECT_TRUE(AllBytesAre(sectors.data(), sectors.size(), 0));

    for (int fd : fifos)
        WriteBytes(fd, 'X', 4096);
    ExpectOrphansFreed();
    ExpectStampedRead(disk.get(), 0, 4);
}

TEST_F(RawReadTest, ThreadsWithTheirOwnDevicesReadTheirOwnSectors)
{
    std::string image4k = m_dir / "stamped4k.img";
    constexpr long long k4kSectors = 8 * kMiB / 4096;
    ASSERT_TRUE(MakeStampedImage(image4k, k4kSectors, 4096));
    const std::string digest4k = FileDigest(image4k);
    std::atomic<long long> reads{0}, bad{0};
    auto worker = [&](unsigned seed) {
        std::unique_ptr<IStorageDevice> small(CreateImageDiskDevice(m_image.c_str(), 0));
        std::unique_ptr<IStorageDevice> large(CreateImageDiskDevice(image4k.c_str(), 4096));
        if (!small || !large) {
            ++bad;
            return;
        }
        std::mt19937_64 rng(seed);
        std::vector<unsigned char> buffer(64 * 4096);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < until) {
            IStorageDevice* device = (rng() & 1) ? small.get() : large.get();
            const unsigned size = device->GetSectorSize();
            const long long total = device->GetTotalSectors();
            long long count = 1 + static_cast<long long>(rng() % 64);
            long long first = static_cast<long long>(rng() % static_cast<unsigned long long>(total - count));
            if (!device->ReadSector(buffer.data(), first, count)) {
                ++bad;
                continue;
            }
            for (long long i = 0; i < count; ++i)
                if (!HasSectorStamp(&buffer[i * size], first + i, size))
                    ++bad;
            ++reads;
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t)
        threads.emplace_back(worker, 1000 + t);
    for (auto& t : threads)
        t.join();
    EXPECT_GT(reads.load(), 100);
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(FileDigest(image4k), digest4k);
}

TEST_F(RawReadTest, LoopDeviceWith4096ByteSectors)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "loop devices need root";
    std::string image = m_dir / "stamped4k.img";
    ASSERT_TRUE(MakeStampedImage(image, 16384, 4096));  // 64 MiB
    const std::string digest = FileDigest(image);
    std::string loop;
    if (RunCommandStatus("losetup -f --show -r --sector-size 4096 '" + image + "'", loop) != 0)
        GTEST_SKIP() << "losetup failed: " << loop;
    loop.erase(loop.find_last_not_of("\n") + 1);
    struct Detach {
        std::string dev;
        ~Detach()
        {
            std::string out;
            RunCommandStatus("losetup -d '" + dev + "'", out);
        }
    } detach{loop};

    CDiskDevice disk(loop.c_str());
    ASSERT_EQ(disk.Open(nullptr), 1) << FormatResultCode(disk.GetLastError());
    EXPECT_EQ(disk.GetSectorSize(), 4096u);
    EXPECT_EQ(disk.GetTotalSectors(), 16384);
    std::vector<unsigned char> buffer(3 * 4096);
    for (long long first : {0LL, 1LL, 8191LL, 16381LL}) {
        ASSERT_EQ(disk.ReadSector(buffer.data(), first, 3), 1);
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(HasSectorStamp(&buffer[i * 4096], first + i, 4096)) << first + i;
    }

    std::unique_ptr<IStorageDevice> imageDisk(CreateImageDiskDevice(loop.c_str(), 0));
    ASSERT_NE(imageDisk, nullptr);
    auto* info = static_cast<CDiskDevice*>(imageDisk.get())->GetDiskInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->s64SectorSize, 4096);
    EXPECT_EQ(info->s64TotalSectors, 16384);
    struct stat st {};
    ASSERT_EQ(stat(loop.c_str(), &st), 0);
    EXPECT_EQ(info->u64DeviceId, static_cast<uint64_t>(st.st_rdev));
    EXPECT_STREQ(info->szBsdName, loop.substr(loop.rfind('/') + 1).c_str());
    disk.Close();
    imageDisk.reset();
    EXPECT_EQ(FileDigest(image), digest);
}

}  // namespace
