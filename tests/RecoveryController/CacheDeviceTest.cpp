#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Bitmap.h"
#include "CacheDevice.h"
#include "StampedImage.h"
#include "StampedMemoryDevice.h"

namespace {

using namespace std::chrono_literals;

// A gate one thread waits at until another opens it.
class Latch {
public:
    void Open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bOpen = true;
        m_cv.notify_all();
    }
    // False when the gate stayed shut for the whole time-out.
    bool WaitFor(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [this] { return m_bOpen; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bOpen = false;
};

// A cache over a counting wrapper over a stamped source.
struct CacheRig {
    CacheRig(long long sectors, unsigned int sectorSize, unsigned int blockSize)
        : source(sectors, sectorSize), counting(&source), cache(&counting)
    {
        cache.SetBlockSize(blockSize);
    }
    long long Blocks()
    {
        return (source.GetTotalSectors() + cache.GetBlockSize() - 1) / cache.GetBlockSize();
    }
    // Reads block b through the cache and checks every sector's stamp.
    ::testing::AssertionResult BlockIsRight(long long b)
    {
        const long long first = b * cache.GetBlockSize();
        const long long count = std::min<long long>(cache.GetBlockSize(), source.GetTotalSectors() - first);
        std::vector<unsigned char> buf(static_cast<size_t>(count) * source.GetSectorSize(), 0xEE);
        if (!cache.ReadSector(buf.data(), first, count))
            return ::testing::AssertionFailure() << "read of block " << b << " failed";
        long long bad = FirstBadStamp(buf.data(), first, count, source.GetSectorSize());
        if (bad >= 0)
            return ::testing::AssertionFailure() << "block " << b << ": sector " << bad << " is wrong";
        return ::testing::AssertionSuccess();
    }

    CStampedMemoryDevice source;
    CCountingDevice counting;
    CStorageDeviceWithCache cache;
};

TEST(cache_device, WalkReadsEveryBlockOnceOnTheReaderThread)
{
    struct Case {
        long long sectors;
        unsigned int sectorSize;
        unsigned int blockSize;
    };
    const Case cases[] = {
        {5000, 512, 8192},      // shorter than one block
        {8193, 512, 8192},      // one full block and one sector
        {102400, 512, 8192},    // 12 full blocks and a half one
        {12800, 4096, 1024},    // 4096-byte sectors
        {160, 512, 16},         // exactly ten blocks
        {176, 512, 16},         // eleven: one more than the read-ahead
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("sectors " + std::to_string(c.sectors) + ", block " + std::to_string(c.blockSize));
        CacheRig rig(c.sectors, c.sectorSize, c.blockSize);
        rig.cache.BeginCache();
        const long long blocks = rig.Blocks();
        for (long long b = 0; b < blocks; ++b) {
            ASSERT_EQ(rig.cache.SetCurCacheBlock(b), 1);
            ASSERT_TRUE(rig.BlockIsRight(b));
        }
        // Past the end: refused, and the last block stays current.
        EXPECT_EQ(rig.cache.SetCurCacheBlock(blocks), 0);
        EXPECT_EQ(rig.cache.GetCurCacheBlock(), blocks - 1);
        EXPECT_TRUE(rig.BlockIsRight(blocks - 1));
        rig.cache.EndCache();

        const auto reads = rig.counting.Reads();
        ASSERT_EQ(static_cast<long long>(reads.size()), blocks);
        for (long long b = 0; b < blocks; ++b) {
            EXPECT_EQ(reads[b].first, b * c.blockSize);
            EXPECT_EQ(reads[b].count, std::min<long long>(c.blockSize, c.sectors - b * c.blockSize));
            EXPECT_NE(reads[b].thread, std::this_thread::get_id());
        }
    }
}

TEST(cache_device, BlocksAskedOutOfOrderAreStillRight)
{
    struct Case {
        long long sectors;
        std::vector<long long> order;
    };
    const Case cases[] = {
        {320, {0, 5}},              // skips queued blocks
        {320, {0, 5, 6, 7, 19}},    // goes on after a skip, then jumps past the queue
        {320, {3, 0, 1}},           // backwards
        {320, {0, 0, 1, 1}},        // the same block twice
        {48, {0, 1, 2, 1, 0}},      // all taken, the reader has stopped
        {320, {19, 18, 2}},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (long long b : c.order)
            trace += std::to_string(b) + " ";
        SCOPED_TRACE("order " + trace);
        CacheRig rig(c.sectors, 512, 16);
        rig.cache.BeginCache();
        for (long long b : c.order) {
            ASSERT_EQ(rig.cache.SetCurCacheBlock(b), 1);
            EXPECT_EQ(rig.cache.GetCurCacheBlock(), b);
            EXPECT_TRUE(rig.BlockIsRight(b));
        }
    }
}

TEST(cache_device, ReadsAroundTheCurrentBlock)
{
    // 100 sectors in blocks of 16; block 2 (sectors 32-47) is current.
    struct Case {
        const char* what;
        long long first;
        long long count;
        int result;
        size_t sourceReads;  // reads the request itself sends to the source
    };
    const Case cases[] = {
        {"inside", 40, 4, 1, 0},
        {"whole block", 32, 16, 1, 0},
        {"inside, past the block's end", 44, 8, 1, 1},
        {"before", 20, 8, 1, 1},
        {"before, into the block", 28, 8, 1, 1},
        {"before, over the whole block", 30, 20, 1, 1},
        {"after", 60, 4, 1, 1},
        {"inside, past the device's end", 46, 60, 0, 1},
        {"past the device's end", 100, 1, 0, 1},
    };
    CacheRig rig(100, 512, 16);
    rig.cache.BeginCache();
    ASSERT_EQ(rig.cache.SetCurCacheBlock(0), 1);
    ASSERT_EQ(rig.cache.SetCurCacheBlock(1), 1);
    ASSERT_EQ(rig.cache.SetCurCacheBlock(2), 1);
    rig.cache.EndCache();  // no more read-ahead: only the requests reach the source
    ASSERT_EQ(rig.cache.GetCurCacheBlock(), 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = rig.counting.Reads().size();
        std::vector<unsigned char> buf(static_cast<size_t>(c.count) * 512, 0xEE);
        EXPECT_EQ(rig.cache.ReadSector(buf.data(), c.first, c.count), c.result);
        EXPECT_EQ(rig.counting.Reads().size() - before, c.sourceReads);
        if (c.result) {
            EXPECT_EQ(FirstBadStamp(buf.data(), c.first, c.count, 512), -1);
        }
    }

    unsigned char one[512];
    EXPECT_EQ(rig.cache.ReadSector(nullptr, 40, 1), 0);
    EXPECT_EQ(rig.cache.ReadSector(one, 40, 0), 0);
    EXPECT_EQ(rig.cache.ReadSector(one, -1, 1), 0);

    // Without a current block everything comes from the source.
    CacheRig fresh(100, 512, 16);
    std::vector<unsigned char> buf(8 * 512);
    EXPECT_EQ(fresh.cache.ReadSector(buf.data(), 10, 8), 1);
    EXPECT_EQ(FirstBadStamp(buf.data(), 10, 8, 512), -1);
    EXPECT_EQ(fresh.counting.Reads().size(), 1u);
}

// A searcher's device at a block reads what runs past that block's end from
// the next block when it has it, and only the rest from the source.
TEST(cache_device, BlockDeviceReadsOnIntoTheNextBlock)
{
    // 200 sectors in blocks of 16; the blocks taken are 2, 3 and 5.
    CacheRig rig(200, 512, 16);
    rig.cache.BeginCache();
    std::shared_ptr<const CCachedBlock> taken[6];
    for (long long b = 0; b < 6; ++b)
        ASSERT_TRUE(taken[b] = rig.cache.TakeBlock(b));
    rig.cache.EndCache();  // no more read-ahead: only the requests reach the source
    // Block 4 taken as the source failed it.
    auto failed = std::make_shared<CCachedBlock>();
    failed->s64First = 64;
    failed->s64Count = 16;
    failed->nBytes = 16 * 512;
    failed->pData = AllocateLargeBuffer(16 * 512);
    std::fill_n(failed->pData.get(), 16 * 512, 0);

    struct Case {
        const char* what;
        int current;  // block index, -1 for none
        int next;     // block index, 4 for the failed one, -1 for none
        long long first;
        long long count;
        size_t sourceReads;
    };
    const Case cases[] = {
        {"inside the block", 2, 3, 36, 8, 0},
        {"on into the next", 2, 3, 44, 8, 0},
        {"the whole of both", 2, 3, 32, 32, 0},
        {"past both", 2, 3, 40, 40, 1},
        {"inside the next alone", 2, 3, 50, 4, 0},
        {"from before the block", 2, 3, 30, 4, 1},
        {"a next that does not follow", 2, 5, 44, 8, 1},
        {"a next the source failed", 3, 4, 60, 8, 1},
        {"no next", 2, -1, 44, 8, 1},
        {"the next alone", -1, 3, 50, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCachedBlockDevice device(&rig.cache);
        const auto pick = [&](int b) -> std::shared_ptr<const CCachedBlock> {
            return b < 0 ? nullptr : b == 4 ? std::shared_ptr<const CCachedBlock>(failed) : taken[b];
        };
        device.SetBlock(pick(c.current), pick(c.next));
        const size_t before = rig.counting.Reads().size();
        std::vector<unsigned char> buf(static_cast<size_t>(c.count) * 512, 0xEE);
        ASSERT_EQ(device.ReadSector(buf.data(), c.first, c.count), 1);
        EXPECT_EQ(rig.counting.Reads().size() - before, c.sourceReads);
        EXPECT_EQ(FirstBadStamp(buf.data(), c.first, c.count, 512), -1);
        // Only the current block is shown in place.
        if (c.next == 3) {
            EXPECT_EQ(device.ViewSectors(52, 2), nullptr);
        }
    }
}

// A source that keeps the buffer of a read it may still write to: the cache
// never hands that memory out, and the block counts as unread.
class CKeepingSource final : public CStampedMemoryDevice {
public:
    CKeepingSource(long long sectors, long long keptFirst) : CStampedMemoryDevice(sectors), m_s64Kept(keptFirst) {}
    int ReadSectorInto(LargeBuffer& buffer, long long first, long long count) override
    {
        if (first != m_s64Kept)
            return ReadSector(buffer.get(), first, count);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vKept.push_back(std::move(buffer));
        return 0;
    }
    // Late data landing in every kept buffer.
    void LandLate(size_t bytes)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (LargeBuffer& b : m_vKept)
            std::fill_n(b.get(), bytes, 0xAB);
    }
    size_t Kept()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_vKept.size();
    }

private:
    long long m_s64Kept;
    std::mutex m_mutex;
    std::vector<LargeBuffer> m_vKept;
};

TEST(cache_device, BufferKeptByTheSourceIsNeverReused)
{
    constexpr unsigned int kBlock = 16;
    constexpr long long kBlocks = 30;
    // Read by the reader thread, by SetCurCacheBlock and by TakeBlock.
    for (const char* way : {"current block", "taken block"}) {
        SCOPED_TRACE(way);
        CKeepingSource source(kBlocks * kBlock, 7 * kBlock);
        CStorageDeviceWithCache cache(&source);
        cache.SetBlockSize(kBlock);
        cache.BeginCache();
        std::vector<std::shared_ptr<const CCachedBlock>> held;
        std::vector<unsigned char> buf(kBlock * 512);
        for (long long b = 0; b < kBlocks; ++b) {
            SCOPED_TRACE(b);
            if (std::string(way) == "current block") {
                ASSERT_EQ(cache.SetCurCacheBlock(b), 1);
                // The block is unread: the searcher gets the source's answer.
                EXPECT_EQ(cache.ViewSectors(b * kBlock, kBlock) != nullptr, b != 7);
                if (b != 7) {
                    ASSERT_EQ(cache.ReadSector(buf.data(), b * kBlock, kBlock), 1);
                    EXPECT_EQ(FirstBadStamp(buf.data(), b * kBlock, kBlock, 512), -1);
                }
            } else {
                std::shared_ptr<const CCachedBlock> block = cache.TakeBlock(b);
                ASSERT_TRUE(block);
                EXPECT_EQ(block->bRead, b != 7);
                if (b == 7) {
                    EXPECT_TRUE(AllBytesAre(block->pData.get(), kBlock * 512, 0));
                } else {
                    EXPECT_EQ(FirstBadStamp(block->pData.get(), b * kBlock, kBlock, 512), -1);
                }
                held.push_back(std::move(block));
            }
            if (b == 8)
                source.LandLate(kBlock * 512);
        }
        // Blocks read (and buffers reused) after the late data are right.
        for (size_t i = 0; i < held.size(); ++i)
            if (i != 7) {
                EXPECT_EQ(FirstBadStamp(held[i]->pData.get(), static_cast<long long>(i) * kBlock, kBlock, 512), -1)
                    << "block " << i;
            }
        EXPECT_EQ(source.Kept(), 1u);
        cache.EndCache();
    }
}

// A source whose reads of chosen blocks fail a number of times, leaving the
// caller's buffer as it was.
class CFlakySource final : public CStampedMemoryDevice {
public:
    CFlakySource(long long sectors, std::map<long long, int> failures)
        : CStampedMemoryDevice(sectors), m_failures(std::move(failures))
    {
    }
    int ReadSector(void* buffer, long long first, long long count) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_failures.find(first);
            if (it != m_failures.end() && it->second > 0) {
                --it->second;
                return 0;
            }
        }
        return CStampedMemoryDevice::ReadSector(buffer, first, count);
    }

private:
    std::mutex m_mutex;
    std::map<long long, int> m_failures;
};

// A block the source failed to give is never served as if it had been read:
// the searcher gets the source's answer for it, and the blocks around it
// (in reused buffers) stay right.
TEST(cache_device, FailedBlockReadsReachTheSearcher)
{
    constexpr unsigned int kBlock = 16;
    // Block 12 fails every time, block 20 only the first time.
    CFlakySource source(30 * kBlock, {{12 * kBlock, 1000}, {20 * kBlock, 1}});
    CStorageDeviceWithCache cache(&source);
    cache.SetBlockSize(kBlock);
    cache.BeginCache();
    std::vector<unsigned char> buf(kBlock * 512);
    for (long long b = 0; b < 30; ++b) {
        SCOPED_TRACE(b);
        ASSERT_EQ(cache.SetCurCacheBlock(b), 1);
        std::fill(buf.begin(), buf.end(), 0xEE);
        const int result = cache.ReadSector(buf.data(), b * kBlock, kBlock);
        if (b == 12) {
            EXPECT_EQ(result, 0);
        } else {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(FirstBadStamp(buf.data(), b * kBlock, kBlock, 512), -1);
        }
    }
}

// The reader must not hold the queue while it reads: a read that hangs may
// not keep the scan thread from blocks that are already queued.
TEST(cache_device, QueuedBlocksAreTakenWhileAReadHangs)
{
    constexpr unsigned int kBlock = 16;
    CacheRig rig(50 * kBlock, 512, kBlock);
    Latch latch;
    std::atomic<bool> timedOut{false};
    rig.counting.SetHook([&](long long first, long long) {
        if (first == 11 * kBlock && !latch.WaitFor(5000ms))
            timedOut = true;
    });
    rig.cache.BeginCache();
    for (long long b = 0; b < 50; ++b) {
        ASSERT_EQ(rig.cache.SetCurCacheBlock(b), 1);
        ASSERT_TRUE(rig.BlockIsRight(b));
        if (b == 1) {
            // Blocks 10 and 11 are now asked for; go on once the read of
            // block 11 is under way (and hangs).
            for (int i = 0; i < 5000 && !rig.counting.WasAsked(11 * kBlock); ++i)
                std::this_thread::sleep_for(1ms);
            ASSERT_TRUE(rig.counting.WasAsked(11 * kBlock));
        }
        if (b == 3)
            latch.Open();
    }
    rig.cache.EndCache();
    EXPECT_FALSE(timedOut) << "blocks 2 and 3 waited for the read of block 11";
}

TEST(cache_device, ReadAheadStopsTenBlocksAhead)
{
    constexpr unsigned int kBlock = 16;
    CacheRig rig(100 * kBlock, 512, kBlock);
    rig.cache.BeginCache();
    auto waitForReads = [&](size_t n) {
        for (int i = 0; i < 2500 && rig.counting.Reads().size() < n; ++i)
            std::this_thread::sleep_for(2ms);
    };
    ASSERT_EQ(rig.cache.SetCurCacheBlock(0), 1);
    waitForReads(11);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.counting.Reads().size(), 11u);  // blocks 0-9, then 10 for the one taken

    for (long long b = 1; b <= 5; ++b)
        ASSERT_EQ(rig.cache.SetCurCacheBlock(b), 1);
    waitForReads(16);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.counting.Reads().size(), 16u);
}

// Many tiny blocks with random delays on both sides: every hand-over between
// the reader and the scan thread is exercised (run under ThreadSanitizer).
TEST(cache_device, StressWithRandomDelays)
{
    constexpr long long kSectors = 10000;
    CacheRig rig(kSectors, 512, 1);
    rig.counting.SetHook([](long long, long long) {
        thread_local std::mt19937 rng(std::random_device{}());
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 201));
    });
    std::mt19937 rng(12345);
    rig.cache.BeginCache();
    for (long long b = 0; b < kSectors; ++b) {
        ASSERT_EQ(rig.cache.SetCurCacheBlock(b), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 201));
        ASSERT_TRUE(rig.BlockIsRight(b));
    }
    rig.cache.EndCache();
    EXPECT_EQ(static_cast<long long>(rig.counting.Reads().size()), kSectors);
}

TEST(cache_device, EdgesDoNotReadOrHang)
{
    // No source.
    CStorageDeviceWithCache none(nullptr);
    none.SetBlockSize(16);
    none.BeginCache();
    EXPECT_EQ(none.Open(nullptr), 0);
    EXPECT_EQ(none.GetSectorSize(), 512u);
    EXPECT_EQ(none.GetTotalSectors(), 0);
    EXPECT_EQ(none.GetType(), STORAGE_DEVICE_CACHE);
    EXPECT_EQ(none.SetCurCacheBlock(0), 0);
    none.EndCache();

    // Block size 0, and an empty source.
    {
        CacheRig rig(100, 512, 0);
        rig.cache.BeginCache();
        EXPECT_EQ(rig.cache.SetCurCacheBlock(0), 0);
        CacheRig empty(0, 512, 16);
        empty.cache.BeginCache();
        EXPECT_EQ(empty.cache.SetCurCacheBlock(0), 0);
        EXPECT_EQ(empty.cache.SetCurCacheBlock(-1), 0);
        empty.cache.EndCache();
        EXPECT_TRUE(rig.counting.Reads().empty());
        EXPECT_TRUE(empty.counting.Reads().empty());
    }

    // Begun twice, ended twice, and destroyed while a slow read runs.
    {
        CacheRig rig(1000, 512, 16);
        rig.counting.SetHook([](long long, long long) { std::this_thread::sleep_for(20ms); });
        rig.cache.BeginCache();
        rig.cache.BeginCache();
        ASSERT_EQ(rig.cache.SetCurCacheBlock(0), 1);
        EXPECT_TRUE(rig.BlockIsRight(0));
        rig.cache.EndCache();
        rig.cache.EndCache();
        rig.cache.BeginCache();
        ASSERT_EQ(rig.cache.SetCurCacheBlock(1), 1);
        EXPECT_TRUE(rig.BlockIsRight(1));
    }
}

TEST(cache_bitmap, EmptySetOwnsNothing)
{
    TBitmap bitmap;
    EXPECT_EQ(bitmap.GetBitmapData(), nullptr);
    EXPECT_EQ(bitmap.GetSectorsPerBit(), 1u);
    for (long long i : {-1LL, 0LL, 1LL, 7LL, 8LL, 1LL << 40})
        EXPECT_EQ(bitmap.GetBit(i), 0) << i;
}

}  // namespace
