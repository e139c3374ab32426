#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BufferStorageDevice.h"
#include "CountingDevice.h"
#include "FakeProgress.h"
#include "ImageFileDevice.h"
#include "NotifyCenter.h"
#include "RawFileBuffer.h"
#include "StampedMemoryDevice.h"
#include "TestSupport.h"

namespace {

// Images of deterministic random bytes, 640 + r sectors, made once.
class Images {
public:
    static Images& Get()
    {
        static Images images;
        return images;
    }
    std::string Path(unsigned ss, int r) const { return m_dir / ("dev-" + std::to_string(ss) + "-" + std::to_string(r) + ".img"); }

private:
    Images()
    {
        RunTool("cd '" + m_dir.path() + "' && for ss in 512 4096; do for r in 300 129 128 5; do "
                "python3 -c 'import random,sys; n=int(sys.argv[1]); "
                "sys.stdout.buffer.write(random.Random(n).randbytes(n))' "
                "$(( (640 + r) * ss )) > dev-$ss-$r.img; done; done");
    }
    TempDir m_dir;
};

// The bytes the window must show: the file's, zero past its end.
std::vector<unsigned char> Expected(int fd, long long offset, size_t length)
{
    std::vector<unsigned char> out(length, 0);
    ssize_t n = pread(fd, out.data(), length, offset);
    EXPECT_GE(n, 0);
    return out;
}

struct Opened {
    std::unique_ptr<CImageFileDevice> image;
    std::unique_ptr<CountingDevice> device;
    int fd = -1;
    long long totalBytes = 0;
    unsigned ss = 0;
    Opened(unsigned sectorSize, int r) : ss(sectorSize)
    {
        const std::string path = Images::Get().Path(sectorSize, r);
        image = OpenImageFileDisk(path, sectorSize);
        EXPECT_NE(image, nullptr) << path;
        device = std::make_unique<CountingDevice>(image.get());
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        totalBytes = (640LL + r) * sectorSize;
    }
    ~Opened()
    {
        if (fd >= 0)
            close(fd);
    }
};

// Checks the window at offset against the file: every byte the pointer is
// valid for (the rest of its window plus one sector).
void CheckOffset(Opened& o, RawFileBuffer& buf, unsigned long long startSector, unsigned long long offset)
{
    const unsigned windowBytes = buf.GetWindowBytes();
    const long long fileOffset = static_cast<long long>(startSector) * o.ss + static_cast<long long>(offset);
    const long long windowStart = fileOffset - static_cast<long long>(offset % windowBytes);
    unsigned char* p = buf.GetRawFileBuffer(offset);
    if (windowStart >= o.totalBytes) {
        EXPECT_EQ(p, nullptr) << "offset " << offset;
        return;
    }
    ASSERT_NE(p, nullptr) << "offset " << offset;
    const size_t valid = windowBytes - offset % windowBytes + o.ss;
    auto want = Expected(o.fd, fileOffset, valid);
    ASSERT_EQ(std::memcmp(p, want.data(), valid), 0) << "offset " << offset << " of " << o.totalBytes;
}

TEST(rawWindow, MatchesTheDeviceEverywhere)
{
    for (unsigned ss : {512u, 4096u}) {
        for (int r : {300, 129, 128, 5}) {
            SCOPED_TRACE("dev-" + std::to_string(ss) + "-" + std::to_string(r));
            Opened o(ss, r);
            ASSERT_NE(o.image, nullptr);
            for (unsigned long long start : {0ull, 3ull}) {
                RawFileBuffer buf(o.device.get(), start);
                EXPECT_EQ(buf.GetWindowBytes(), 128 * ss);
                const unsigned long long span = static_cast<unsigned long long>(o.totalBytes) - start * ss;
                std::vector<unsigned long long> offsets;
                std::mt19937_64 rng(ss * 1000 + r + start);
                for (int i = 0; i < 1000; ++i)
                    offsets.push_back(rng() % (span + 200ull * ss));
                for (long long s = 1; s <= 5; ++s)
                    offsets.push_back(span - s * ss);
                for (unsigned long long w = 0; w <= span / buf.GetWindowBytes() + 1; ++w) {
                    const unsigned long long edge = w * buf.GetWindowBytes();
                    offsets.push_back(edge);
                    if (edge)
                        offsets.push_back(edge - 1);
                }
                for (unsigned long long off : offsets)
                    CheckOffset(o, buf, start, off);
            }
        }
    }
}

TEST(rawWindow, EndCasesReadWhatIsLeft)
{
    // Window 5 starts at sector 640, so r sectors are left in it.
    for (unsigned ss : {512u, 4096u}) {
        for (int r : {128, 5, 129}) {
            Opened o(ss, r);
            RawFileBuffer buf(o.device.get(), 0);
            const unsigned long long w5 = 5ull * buf.GetWindowBytes();
            unsigned char* p = buf.GetRawFileBuffer(w5);
            ASSERT_NE(p, nullptr) << ss << " " << r;
            EXPECT_EQ(o.device->ReadCount(), 1u);
            const auto reads = o.device->Reads();
            EXPECT_EQ(reads.back().first, 640);
            EXPECT_EQ(reads.back().count, std::min(129, r));
            // Past the device's end the window reads zeros.
            if (r < 129) {
                const size_t left = static_cast<size_t>(r) * ss;
                std::vector<unsigned char> zeros(129 * ss - left, 0);
                EXPECT_EQ(std::memcmp(p + left, zeros.data(), zeros.size()), 0);
            }
        }
    }
}

TEST(rawWindow, OneReadPerWindowAndNoneOnAStop)
{
    Opened o(512, 300);
    {
        RawFileBuffer buf(o.device.get(), 0);
        ASSERT_NE(buf.GetRawFileBuffer(2 * 65536 + 10), nullptr);
        ASSERT_NE(buf.GetRawFileBuffer(2 * 65536 + 60000), nullptr);
        EXPECT_EQ(o.device->ReadCount(), 1u);
        ASSERT_NE(buf.GetRawFileBuffer(3 * 65536), nullptr);
        EXPECT_EQ(o.device->ReadCount(), 2u);
    }
    FakeProgress stopped(0);
    CNotifyCenter::Instance()->SetProgress(&stopped);
    RawFileBuffer buf(o.device.get(), 0);
    EXPECT_EQ(buf.GetRawFileBuffer(0), nullptr);
    EXPECT_EQ(o.device->ReadCount(), 2u);
    EXPECT_GE(stopped.Calls(), 1);
    CNotifyCenter::Instance()->Reset();
    EXPECT_EQ(CNotifyCenter::Instance()->isContinue(), 1);
    EXPECT_NE(buf.GetRawFileBuffer(0), nullptr);

    // A failed read gives null and no stale bytes on the next try.
    RawFileBuffer failing(o.device.get(), 0);
    o.device->FailSectors(400, 1);
    EXPECT_EQ(failing.GetRawFileBuffer(3 * 65536), nullptr);
}

// Two live windows share one buffer; each must still see its own bytes.
TEST(rawWindow, TwoWindowsDoNotAlias)
{
    Opened o(512, 300);
    RawFileBuffer a(o.device.get(), 0);
    RawFileBuffer b(o.device.get(), 77);
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200; ++i) {
        const unsigned long long offA = rng() % (600ull * 512);
        const unsigned long long offB = rng() % (500ull * 512);
        CheckOffset(o, a, 0, offA);
        CheckOffset(o, b, 77, offB);
        CheckOffset(o, a, 0, offA + 1);
    }
}

TEST(rawWindow, LargeSectorsAndTheRingsDevice)
{
    // 8,192-byte sectors: the buffer grows to 129 of them.
    CStampedMemoryDevice big(1000, 8192);
    RawFileBuffer buf(&big, 10);
    for (unsigned long long sector : {0ull, 127ull, 128ull, 500ull, 989ull}) {
        unsigned char* p = buf.GetRawFileBuffer(sector * 8192);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(FirstBadStamp(p, 10 + static_cast<long long>(sector), 1, 8192), -1) << sector;
    }
    unsigned char* past = buf.GetRawFileBuffer(990ull * 8192);  // sector 1000 is past the end
    ASSERT_NE(past, nullptr);
    EXPECT_EQ(std::count(past, past + 8192, 0), 8192);
    EXPECT_EQ(buf.GetRawFileBuffer(1024ull * 8192), nullptr);
    CStampedMemoryDevice huge(10, 1u << 20);
    RawFileBuffer refused(&huge, 0);
    EXPECT_EQ(refused.GetRawFileBuffer(0), nullptr);

    // Through the scan-block ring the device's size is the fallback's, not
    // the sectors the ring holds.
    Opened o(512, 128);
    CBufferStorageDevice ring;
    ring.InitBufferDevice(o.device.get(), 0, 512, 8, 20);
    std::vector<char> block(8 * 512);
    ASSERT_EQ(o.image->ReadSector(block.data(), 0, 8), 1);
    ring.AddBlockToBuffer(block.data());
    RawFileBuffer viaRing(&ring, 0);
    CheckOffset(o, viaRing, 0, 5ull * 65536 + 100);
    CheckOffset(o, viaRing, 0, 100);
}

}  // namespace
