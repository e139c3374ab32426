// The FAT reader: chunk cache, eviction, bounds and 64-bit offsets, counted
// on the reads that reach the device.
#include <gtest/gtest.h>

#include "ExFatPartition.h"
#include "ExFatTestSupport.h"
#include "ExFatTable.h"
#include "ImageFileDevice.h"
#include "StampedMemoryDevice.h"
#include "TestSupport.h"

namespace {

constexpr long long kFatStart = 2048;
constexpr unsigned int kEntriesPerChunk = 262144;
constexpr long long kChunkSectors = 2048;  // 1 MiB of 512-byte sectors

// A sparse image with a FAT of fatSectors sectors at kFatStart and room
// behind it; value is written as the FAT entry of each listed cluster.
std::string MakeSparseFat(const TempDir& dir, unsigned long long fatSectors,
                          const std::vector<std::pair<uint64_t, uint32_t>>& entries)
{
    const std::string path = dir / "fat.img";
    RunTool("truncate -s " + std::to_string((kFatStart + fatSectors + kChunkSectors) * 512) + " '" + path + "'");
    for (const auto& [cluster, value] : entries) {
        uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        WriteAt(path, kFatStart * 512 + cluster * 4, bytes, 4);
    }
    return path;
}

size_t ReadsSince(const CCountingDevice& device, size_t& seen)
{
    const size_t now = device.Reads().size();
    const size_t fresh = now - seen;
    seen = now;
    return fresh;
}

}  // namespace

// A 40 MiB FAT: ten chunks, one looked-up entry in each.
TEST(exfat_fat_table, EvictsTheLowestChunkAndReadsEachHeldChunkOnce)
{
    TempDir dir;
    const unsigned long long fatSectors = 40ULL * 2048;
    std::vector<std::pair<uint64_t, uint32_t>> entries;
    for (uint32_t k = 0; k < 10; ++k)
        entries.push_back({k * kEntriesPerChunk + 7, 0x1000 + k});
    const std::string path = MakeSparseFat(dir, fatSectors, entries);
    auto image = OpenImageFileDisk(path, 512);
    ASSERT_TRUE(image);
    CCountingDevice device(image.get());

    CFatTable fat;
    ASSERT_TRUE(fat.CreateFatTable(&device, kFatStart, static_cast<unsigned int>(fatSectors), 0));
    ASSERT_TRUE(fat.IsValid());
    ASSERT_EQ(device.Reads().size(), 1u);
    EXPECT_EQ(device.Reads()[0].first, kFatStart);
    EXPECT_EQ(device.Reads()[0].count, kChunkSectors);
    size_t seen = 1;

    for (int round = 0; round < 2; ++round) {
        for (uint32_t k = 0; k < 9; ++k) {
            EXPECT_EQ(fat.GetNextCluster(k * kEntriesPerChunk + 7), 0x1000 + k) << k;
            EXPECT_EQ(ReadsSince(device, seen), round == 0 && k > 0 ? 1u : 0u) << "chunk " << k;
            EXPECT_LE(fat.GetHeldChunks().size(), CFatTable::kMaxChunks);
        }
    }
    for (uint32_t k = 1; k < 9; ++k)
        EXPECT_EQ(device.Reads()[k].first, kFatStart + k * kChunkSectors);

    // The tenth chunk takes the place of the lowest.
    EXPECT_EQ(fat.GetNextCluster(9 * kEntriesPerChunk + 7), 0x1009u);
    EXPECT_EQ(ReadsSince(device, seen), 1u);
    std::vector<long long> held = fat.GetHeldChunks();
    ASSERT_EQ(held.size(), 9u);
    EXPECT_EQ(held.front(), kFatStart + kChunkSectors);
    EXPECT_EQ(held.back(), kFatStart + 9 * kChunkSectors);
    EXPECT_EQ(fat.GetNextCluster(1 * kEntriesPerChunk + 7), 0x1001u);
    EXPECT_EQ(ReadsSince(device, seen), 0u) << "chunk 1 is still held";
    EXPECT_EQ(fat.GetNextCluster(7), 0x1000u);
    EXPECT_EQ(ReadsSince(device, seen), 1u) << "chunk 0 was dropped";
    held = fat.GetHeldChunks();
    EXPECT_EQ(held.size(), 9u);
    EXPECT_TRUE(std::find(held.begin(), held.end(), kFatStart + kChunkSectors) == held.end())
        << "chunk 1 went next";

    // Out of range: nothing is read.
    const uint32_t entryCount = static_cast<uint32_t>(fatSectors * 512 / 4);
    for (uint32_t c : {0u, 1u, entryCount, entryCount + 1, 0x40000001u, 0xFFFFFFF7u, 0xFFFFFFFFu})
        EXPECT_EQ(fat.GetNextCluster(c), 0xFFFFFFFFu) << c;
    EXPECT_EQ(ReadsSince(device, seen), 0u);
    EXPECT_EQ(fat.GetNextCluster(entryCount - 1), 0u);
    EXPECT_EQ(ReadsSince(device, seen), 1u);

    // A chunk that cannot be read answers the end of a chain and is not kept.
    RunTool("truncate -s " + std::to_string((kFatStart + kChunkSectors + 10) * 512) + " '" + path + "'");
    EXPECT_EQ(fat.GetNextCluster(1 * kEntriesPerChunk + 9), 0xFFFFFFFFu);
    for (long long key : fat.GetHeldChunks())
        EXPECT_NE(key, kFatStart + kChunkSectors);
    EXPECT_EQ(fat.GetNextCluster(7), 0x1000u) << "held chunks still answer";

    fat.ClearFatData();
    EXPECT_FALSE(fat.IsValid());
    EXPECT_EQ(fat.GetNextCluster(7), 0xFFFFFFFFu);
}

// 2^31 entries (an 8 GiB FAT in a sparse file): offsets past 4 GiB must not
// wrap to the FAT's start.
TEST(exfat_fat_table, OffsetsAreComputedIn64Bits)
{
    TempDir dir;
    const unsigned long long fatSectors = (1ULL << 33) / 512;
    struct Case {
        uint32_t cluster;
        long long key;
        uint64_t entryOffset;
    } cases[] = {
        {2, kFatStart, 8},
        {0x3FFFF, kFatStart, 0xFFFFC},
        {0x40000, kFatStart + kChunkSectors, 0},
        {0x3FFFFFFF, kFatStart + 4095 * kChunkSectors, 0xFFFFC},
        {0x40000000, kFatStart + 4096 * kChunkSectors, 0},
        {0x40000001, kFatStart + 4096 * kChunkSectors, 4},
        {0x7FFFFFFF, kFatStart + 8191 * kChunkSectors, 0xFFFFC},
    };
    std::vector<std::pair<uint64_t, uint32_t>> entries;
    for (const Case& c : cases)
        entries.push_back({c.cluster, c.cluster ^ 0x5A5A5A5Au});
    entries.push_back({1, 0x11111111});  // what a wrapped offset of 0x40000001 would find
    const std::string path = MakeSparseFat(dir, fatSectors, entries);
    auto image = OpenImageFileDisk(path, 512);
    ASSERT_TRUE(image);
    CCountingDevice device(image.get());

    CFatTable fat;
    ASSERT_TRUE(fat.CreateFatTable(&device, kFatStart, static_cast<unsigned int>(fatSectors), 0));
    EXPECT_EQ(fat.GetFatEntryCount(), 1ULL << 31);
    for (const Case& c : cases) {
        EXPECT_EQ(fat.GetNextCluster(c.cluster), c.cluster ^ 0x5A5A5A5Au) << std::hex << c.cluster;
        std::vector<long long> held = fat.GetHeldChunks();
        EXPECT_TRUE(std::find(held.begin(), held.end(), c.key) != held.end()) << std::hex << c.cluster;
        EXPECT_EQ((uint64_t(c.cluster) * 4) % (1u << 20), c.entryOffset);
    }
    const size_t reads = device.Reads().size();
    EXPECT_EQ(fat.GetNextCluster(0x80000000u), 0xFFFFFFFFu);
    EXPECT_EQ(device.Reads().size(), reads);
}

TEST(exfat_fat_table, MakingTheReader)
{
    CStampedMemoryDevice device(10000);
    CFatTable fat;
    EXPECT_FALSE(fat.CreateFatTable(nullptr, 10, 10, 0));
    EXPECT_FALSE(fat.CreateFatTable(&device, 10, 0, 0));
    EXPECT_FALSE(fat.CreateFatTable(&device, -1, 10, 0));
    EXPECT_FALSE(fat.CreateFatTable(&device, 9990, 10, 0)) << "the FAT must end before the device does";
    EXPECT_FALSE(fat.CreateFatTable(&device, 20000, 10, 0));
    EXPECT_FALSE(fat.IsValid());
    ASSERT_TRUE(fat.CreateFatTable(&device, 9989, 10, 0));
    // Sector 9989 holds its own number in every 8 bytes: entry 2 is its low half.
    EXPECT_EQ(fat.GetNextCluster(2), 9989u);
    EXPECT_EQ(fat.GetNextCluster(3), 0u);
    EXPECT_EQ(fat.GetNextCluster(128), 9990u);
    EXPECT_EQ(fat.GetNextCluster(1280), 0xFFFFFFFFu) << "past the FAT's 10 sectors";
}

// ex-quick.img: a FAT of 128 sectors, 16,384 entries.
TEST(exfat_fat_table, QuickImageChainsAndBounds)
{
    auto image = OpenImageFileDisk(ExFatImagePath("ex-quick.img"), 512);
    ASSERT_TRUE(image);
    CCountingDevice device(image.get());
    CExFatPartition partition;
    ASSERT_TRUE(partition.CreateFatTable(&device, 2048, 128, 15872));
    partition.m_dwClusterLimit = 16384;
    const size_t reads = device.Reads().size();
    EXPECT_EQ(reads, 1u);

    EXPECT_EQ(partition.GetNextCluster(0x40000001u), 0xFFFFFFFFu);
    EXPECT_EQ(partition.GetNextCluster(16384u), 0xFFFFFFFFu);
    EXPECT_EQ(partition.GetNextCluster(0x40000001u, 0), 0xFFFFFFFFu);
    EXPECT_EQ(partition.GetNextCluster(16384u, 0), 0xFFFFFFFFu);
    EXPECT_EQ(device.Reads().size(), reads);

    EXPECT_EQ(partition.GetNextCluster(5, 0), 0xFFFFFFFFu) << "the root is one cluster";
    EXPECT_EQ(partition.GetNextCluster(6, 0), 0u) << "contig's FAT entries are 0";
    EXPECT_EQ(partition.GetNextCluster(6, 1), 0u) << "a FAT is held, so it is asked";
    // D.txt: 29..33, then the second extent.
    for (uint32_t c = 29; c < 33; ++c)
        EXPECT_EQ(partition.GetNextCluster(c, 0), c + 1);
    EXPECT_GT(partition.GetNextCluster(33, 0), 33u);
    EXPECT_EQ(device.Reads().size(), reads);
}
