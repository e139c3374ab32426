#include <gtest/gtest.h>

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

}  // namespace
