#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "BufferStorageDevice.h"
#include "CountingDevice.h"
#include "StampedMemoryDevice.h"

namespace {

constexpr unsigned kSS = 512;
constexpr unsigned kBlock = 8;
constexpr unsigned kBlocks = 20;

struct Ring {
    CStampedMemoryDevice source{400, kSS};
    CountingDevice fallback{&source};
    CBufferStorageDevice ring;
    long long added = 0;  // blocks added

    Ring() { EXPECT_EQ(ring.InitBufferDevice(&fallback, 0, kSS, kBlock, kBlocks), 1); }
    void AddBlocks(int n)
    {
        std::vector<char> block(kBlock * kSS);
        for (int i = 0; i < n; ++i, ++added) {
            ASSERT_EQ(source.ReadSector(block.data(), added * kBlock, kBlock), 1);
            ring.AddBlockToBuffer(block.data());
        }
    }
    // Reads through the ring and checks every sector carries its own stamp.
    bool ReadsRight(long long first, long long count)
    {
        std::vector<unsigned char> buf(static_cast<size_t>(count) * kSS);
        return ring.ReadSector(buf.data(), first, count) == 1 && FirstBadStamp(buf.data(), first, count, kSS) == -1;
    }
};

TEST(rawRing, FillingUp)
{
    Ring r;
    EXPECT_EQ(r.ring.GetTotalSectors(), 0);
    EXPECT_EQ(r.ring.GetType(), 3);
    EXPECT_FALSE(r.ring.IsFullBuffer());
    r.AddBlocks(1);
    EXPECT_EQ(r.ring.GetTotalSectors(), 8);
    EXPECT_EQ(r.ring.GetDeviceStartSector(), 0);
    EXPECT_TRUE(r.ReadsRight(0, 1));
    EXPECT_EQ(r.fallback.ReadCount(), 0u);
    r.AddBlocks(18);
    EXPECT_FALSE(r.ring.IsFullBuffer());
    EXPECT_TRUE(r.ReadsRight(0, 152));
    EXPECT_EQ(r.fallback.ReadCount(), 0u);
    r.AddBlocks(1);
    EXPECT_TRUE(r.ring.IsFullBuffer());
    EXPECT_EQ(r.ring.GetTotalSectors(), 160);
}

TEST(rawRing, WrappedReadsAndFallback)
{
    Ring r;
    r.AddBlocks(25);
    EXPECT_EQ(r.ring.GetTotalSectors(), 160);
    EXPECT_EQ(r.ring.GetDeviceStartSector(), 40);

    struct Case {
        long long first;
        long long count;
        size_t fallbackReads;  // cumulative
    };
    const Case cases[] = {
        {150, 20, 0},   // crosses the ring's end in memory
        {40, 160, 0},   // everything held, oldest first
        {199, 1, 0},    // the newest sector
        {40, 1, 0},     // the oldest
        {39, 1, 1},     // one before the oldest: the device
        {39, 3, 2},     // straddling the oldest
        {199, 2, 3},    // past the newest
        {300, 8, 4},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(r.ReadsRight(c.first, c.count)) << c.first << "+" << c.count;
        EXPECT_EQ(r.fallback.ReadCount(), c.fallbackReads) << c.first << "+" << c.count;
    }
    std::vector<unsigned char> buf(kSS);
    EXPECT_EQ(r.ring.ReadSector(buf.data(), 50, 0), 0);
    EXPECT_EQ(r.ring.ReadSector(nullptr, 50, 1), 0);

    // Without a fallback or before initialisation nothing is read.
    CBufferStorageDevice bare;
    EXPECT_EQ(bare.ReadSector(buf.data(), 0, 1), 0);
    bare.InitBufferDevice(nullptr, 0, kSS, kBlock, 2);
    EXPECT_EQ(bare.ReadSector(buf.data(), 0, 1), 0);
    EXPECT_EQ(bare.GetSectorSize(), kSS);
    EXPECT_EQ(bare.InitBufferDevice(nullptr, 0, kSS, 0, 2), 0);
}

// A new start keeps the ring's memory: what the ring held before is never
// answered from it again, only what was added since.
TEST(rawRing, RestartForgetsWhatWasHeld)
{
    Ring r;
    r.AddBlocks(5);
    ASSERT_TRUE(r.ReadsRight(0, 40));
    ASSERT_EQ(r.fallback.ReadCount(), 0u);
    // Same size, a start further on: nothing is held yet.
    ASSERT_EQ(r.ring.InitBufferDevice(&r.fallback, 80, kSS, kBlock, kBlocks), 1);
    EXPECT_EQ(r.ring.GetTotalSectors(), 0);
    EXPECT_EQ(r.ring.GetDeviceStartSector(), 80);
    EXPECT_TRUE(r.ReadsRight(80, 8));
    EXPECT_EQ(r.fallback.ReadCount(), 1u);
    std::vector<char> block(kBlock * kSS);
    ASSERT_EQ(r.source.ReadSector(block.data(), 80, kBlock), 1);
    r.ring.AddBlockToBuffer(block.data());
    EXPECT_TRUE(r.ReadsRight(80, 8));
    EXPECT_EQ(r.fallback.ReadCount(), 1u);
    // The old range, whose bytes are still in the ring's memory, comes from
    // the device.
    EXPECT_TRUE(r.ReadsRight(0, 8));
    EXPECT_EQ(r.fallback.ReadCount(), 2u);
    // Another size, and an unusable one.
    ASSERT_EQ(r.ring.InitBufferDevice(&r.fallback, 0, kSS, kBlock, 3), 1);
    r.added = 0;
    r.AddBlocks(4);
    EXPECT_TRUE(r.ring.IsFullBuffer());
    EXPECT_TRUE(r.ReadsRight(8, 24));
    EXPECT_EQ(r.fallback.ReadCount(), 2u);
    // An unusable size leaves nothing to read from, as before any start.
    EXPECT_EQ(r.ring.InitBufferDevice(&r.fallback, 0, kSS, 0, 3), 0);
    EXPECT_FALSE(r.ReadsRight(8, 8));
    EXPECT_EQ(r.fallback.ReadCount(), 2u);
}

// A block written in place lies right after the block added before it and
// has the slack's zeros after it; the held blocks stay readable until it is
// committed, and it is not read from the ring before.
TEST(rawRing, BlocksWrittenInPlace)
{
    constexpr unsigned kSlack = 700;
    CStampedMemoryDevice source{90 * kBlock, kSS};
    CountingDevice fallback{&source};
    CBufferStorageDevice ring;
    ASSERT_EQ(ring.InitBufferDevice(&fallback, 0, kSS, kBlock, kBlocks, kSlack), 1);
    const size_t blockBytes = kBlock * kSS;
    std::vector<unsigned char> buf(2 * blockBytes);
    // Enough blocks for the ring's memory to wrap more than twice.
    for (long long b = 0; b < 90; ++b) {
        SCOPED_TRACE(b);
        unsigned char* slot = ring.BeginBlock();
        ASSERT_NE(slot, nullptr);
        if (b > 0) {
            EXPECT_EQ(FirstBadStamp(slot - blockBytes, (b - 1) * kBlock, kBlock, kSS), -1) << "the block before";
        }
        ASSERT_EQ(source.ReadSector(slot, b * kBlock, kBlock), 1);
        std::vector<unsigned char> zeros(kSlack, 0);
        EXPECT_EQ(std::memcmp(slot + blockBytes, zeros.data(), kSlack), 0) << "the slack after it";
        // Everything held is still there; the new block is not held yet.
        const long long held = std::min<long long>(b, kBlocks) * kBlock;
        const size_t before = fallback.ReadCount();
        if (held > 0) {
            std::vector<unsigned char> all(static_cast<size_t>(held) * kSS);
            ASSERT_EQ(ring.ReadSector(all.data(), b * kBlock - held, held), 1);
            EXPECT_EQ(FirstBadStamp(all.data(), b * kBlock - held, held, kSS), -1);
        }
        EXPECT_EQ(fallback.ReadCount(), before);
        ASSERT_EQ(ring.ReadSector(buf.data(), b * kBlock, 1), 1);
        EXPECT_EQ(fallback.ReadCount(), before + 1);
        ring.CommitBlock();
        EXPECT_EQ(ring.GetTotalSectors(), std::min<long long>(b + 1, kBlocks) * kBlock);
        ASSERT_EQ(ring.ReadSector(buf.data(), b * kBlock, kBlock), 1);
        EXPECT_EQ(FirstBadStamp(buf.data(), b * kBlock, kBlock, kSS), -1);
        EXPECT_EQ(fallback.ReadCount(), before + 1);
    }
    // Copied blocks and blocks written in place share the ring.
    std::vector<char> block(blockBytes);
    ASSERT_EQ(source.ReadSector(block.data(), 0, kBlock), 1);
    ring.AddBlockToBuffer(block.data());
    EXPECT_EQ(ring.GetDeviceStartSector(), 71 * kBlock);
    // Before a start nothing is handed out.
    CBufferStorageDevice bare;
    EXPECT_EQ(bare.BeginBlock(), nullptr);
    bare.CommitBlock();
    EXPECT_EQ(bare.GetTotalSectors(), 0);
}

}  // namespace
