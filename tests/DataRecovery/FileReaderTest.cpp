// Plain reader: byte ranges of a node's extents on a stamped image.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "FileReader.h"
#include "ImageFileDevice.h"
#include "RecoveryTestSupport.h"
#include "StampedImage.h"
#include "StampedMemoryDevice.h"

namespace {

constexpr long long kSpu = 8;     // 4 KiB clusters
constexpr long long kBase = 100;  // unit 0 at sector 100

class reader_plain : public ::testing::Test {
protected:
    void SetUp() override
    {
        image = dir / "stamped.img";
        ASSERT_TRUE(MakeStampedImage(image, 2048, 512));
        device = OpenImageFileDisk(image, 512);
        ASSERT_TRUE(device);
    }
    TempDir dir;
    std::string image;
    std::unique_ptr<CImageFileDevice> device;
};

TEST_F(reader_plain, AnyOffsetAndSizeGivesTheBytesOfTheExtents)
{
    // Three extents out of order on the disk; the file ends 100 bytes into
    // its last cluster.
    const std::vector<std::pair<long long, long long>> runs = {{10, 4}, {30, 3}, {5, 2}};
    const long long size = 9 * 4096 - 100;
    RunNode node("three.bin", size, {{10, 4}, {30, 3}, {5, 2}});
    CSearchedPartitionInfo part = MakePartition(kSpu, kBase);
    CFileReader reader;
    ASSERT_EQ(reader.Open(device.get(), &node, &part), 1);
    const std::vector<unsigned char> expected = StampedFileBytes(runs, kSpu, kBase, size);
    ASSERT_EQ(static_cast<long long>(expected.size()), size);

    const long long runEnd = 4 * 4096;
    for (long long offset : {0LL, 1LL, 511LL, 512LL, 4095LL, runEnd - 1, runEnd}) {
        for (unsigned int want : {1u, 511u, 513u, 4u << 20}) {
            SCOPED_TRACE("offset " + std::to_string(offset) + " size " + std::to_string(want));
            // Exactly the asked size on the heap: a write past it is caught.
            std::unique_ptr<char[]> buf(new char[want]);
            int got = reader.ReadData(offset, buf.get(), want, nullptr);
            long long expectGot = std::min<long long>(want, size - offset);
            ASSERT_EQ(got, expectGot);
            ASSERT_EQ(std::memcmp(buf.get(), expected.data() + offset, static_cast<size_t>(got)), 0);
        }
    }
}

TEST_F(reader_plain, ShortRunsOffSectorBoundariesTakeOneRequest)
{
    // One extent of 40 clusters (160 KiB); the file ends 100 bytes into its
    // last cluster. Each read asks the device as seldom as it can.
    const long long size = 40 * 4096 - 100;
    RunNode node("one.bin", size, {{10, 40}});
    CSearchedPartitionInfo part = MakePartition(kSpu, kBase);
    CCountingDevice counting(device.get());
    CFileReader reader;
    ASSERT_EQ(reader.Open(&counting, &node, &part), 1);
    const std::vector<unsigned char> expected = StampedFileBytes({{10, 40}}, kSpu, kBase, size);
    const struct {
        long long offset;
        unsigned int want;
        size_t requests;
    } rows[] = {
        {0, 8192, 1},           // whole sectors
        {0, 1000, 1},           // ends inside a sector
        {100, 1000, 1},         // starts and ends inside sectors
        {511, 513, 1},          // two partial sectors
        {100, 100, 1},          // inside one sector
        {0, 100000, 2},         // longer: whole sectors, then the last one
        {100, 100000, 3},       // longer: first sector, whole ones, last one
        {size - 1000, 5000, 1}, // the file's end
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("offset " + std::to_string(row.offset) + " size " + std::to_string(row.want));
        const size_t before = counting.Reads().size();
        std::unique_ptr<char[]> buf(new char[row.want]);
        const int got = reader.ReadData(row.offset, buf.get(), row.want, nullptr);
        ASSERT_EQ(got, std::min<long long>(row.want, size - row.offset));
        EXPECT_EQ(std::memcmp(buf.get(), expected.data() + row.offset, static_cast<size_t>(got)), 0);
        EXPECT_EQ(counting.Reads().size() - before, row.requests);
    }
}

TEST_F(reader_plain, NeverWritesPastTheCallersSize)
{
    // 1,000 bytes are two sectors on the disk; the buffer holds 1,000.
    RunNode node("small.bin", 1000, {{20, 1}});
    CSearchedPartitionInfo part = MakePartition(kSpu, kBase);
    CFileReader reader;
    ASSERT_EQ(reader.Open(device.get(), &node, &part), 1);
    std::unique_ptr<char[]> exact(new char[1000]);
    ASSERT_EQ(reader.ReadData(0, exact.get(), 1000, nullptr), 1000);
    std::vector<unsigned char> expected = StampedFileBytes({{20, 1}}, kSpu, kBase, 1000);
    EXPECT_EQ(std::memcmp(exact.get(), expected.data(), 1000), 0);

    // A 4 MiB request of the 1,000-byte file gives 1,000 bytes and leaves
    // the rest of the buffer alone.
    std::vector<char> big(4 << 20, 'x');
    ASSERT_EQ(reader.ReadData(0, big.data(), static_cast<unsigned int>(big.size()), nullptr), 1000);
    EXPECT_EQ(big[1000], 'x');
    EXPECT_EQ(big.back(), 'x');

    // Offsets at and past the end fail.
    int error = 0;
    EXPECT_EQ(reader.ReadData(1000, exact.get(), 1, &error), 0);
    EXPECT_EQ(reader.ReadData(999, exact.get(), 10, nullptr), 1);
}

TEST_F(reader_plain, SparseExtentsReadAsZeros)
{
    const std::vector<std::pair<long long, long long>> runs = {{10, 4}, {-1, 4}, {30, 4}};
    const long long size = 12 * 4096;
    RunNode node("sparse.bin", size, {{10, 4}, {-1, 4}, {30, 4}});
    CSearchedPartitionInfo part = MakePartition(kSpu, kBase);
    CFileReader reader;
    ASSERT_EQ(reader.Open(device.get(), &node, &part), 1);
    std::vector<char> buf(size);
    ASSERT_EQ(reader.ReadData(0, buf.data(), static_cast<unsigned int>(size), nullptr), size);
    std::vector<unsigned char> expected = StampedFileBytes(runs, kSpu, kBase, size);
    EXPECT_EQ(std::memcmp(buf.data(), expected.data(), size), 0);
    EXPECT_TRUE(AllBytesAre(buf.data() + 4 * 4096, 4 * 4096, 0));
    EXPECT_FALSE(AllBytesAre(buf.data(), 4096, 0));
}

TEST_F(reader_plain, ExtentsOffTheDeviceAreFailedReads)
{
    // A damaged extent: its sector overflows, or lies past the device end.
    struct Case {
        long long start;
        unsigned int spu;
    } cases[] = {{1LL << 62, 8}, {1LL << 62, 1}, {1LL << 40, 8}, {300, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " x " + std::to_string(c.spu));
        RunNode node("far.bin", 8192, {{c.start, 2}});
        CSearchedPartitionInfo part = MakePartition(c.spu, kBase);
        CFileReader reader;
        ASSERT_EQ(reader.Open(device.get(), &node, &part), 1);
        std::vector<char> buf(8192, 'x');
        int error = 0;
        EXPECT_EQ(reader.ReadData(0, buf.data(), 8192, &error), 0);
        EXPECT_EQ(error, -1);
    }
}

TEST(reader_open, RefusesWhatCannotBeRead)
{
    CStampedMemoryDevice device(1000);
    CSearchedPartitionInfo part = MakePartition(8, 0);
    CSearchedPartitionInfo noUnits = MakePartition(0, 0);
    RunNode empty("empty.bin", 0, {{1, 1}});
    RunNode noRuns("noruns.bin", 100);
    noRuns.SetDataRunList(nullptr);
    RunNode good("good.bin", 100, {{1, 1}});
    CFileReader reader;
    EXPECT_EQ(reader.Open(nullptr, &good, &part), 0);
    EXPECT_EQ(reader.Open(&device, nullptr, &part), 0);
    EXPECT_EQ(reader.Open(&device, &good, nullptr), 0);
    EXPECT_EQ(reader.Open(&device, &empty, &part), 0);
    EXPECT_EQ(reader.Open(&device, &noRuns, &part), 0);
    EXPECT_EQ(reader.Open(&device, &good, &noUnits), 0);
    ASSERT_EQ(reader.Open(&device, &good, &part), 1);
    EXPECT_EQ(reader.GetDataSize(), 100);

    // A copy reads the same bytes; a closed reader reads nothing.
    IFileReader* copy = reader.Clone();
    char a[100], b[100];
    ASSERT_EQ(copy->ReadData(0, a, 100, nullptr), 100);
    ASSERT_EQ(reader.ReadData(0, b, 100, nullptr), 100);
    EXPECT_EQ(std::memcmp(a, b, 100), 0);
    std::vector<unsigned char> expected = StampedFileBytes({{1, 1}}, 8, 0, 100);
    EXPECT_EQ(std::memcmp(a, expected.data(), 100), 0);
    copy->Release();
    reader.Close();
    EXPECT_EQ(reader.ReadData(0, a, 100, nullptr), 0);
    EXPECT_EQ(reader.GetDataSize(), 0);
}

// ---- resident data ----------------------------------------------------------

long long g_askedSector = -2;

int TinyByNode(CFileNode*, IStorageDevice*, unsigned int* length, unsigned char* buffer, unsigned int capacity)
{
    if (capacity < 4)
        return 0;
    std::memcpy(buffer, "tiny", 4);
    *length = 4;
    return 1;
}

int NotMine(CFileNode*, IStorageDevice*, unsigned int*, unsigned char*, unsigned int) { return -1; }

int RecordBySector(long long sector, IStorageDevice*, unsigned int* length, unsigned char* buffer, unsigned int)
{
    g_askedSector = sector;
    std::memcpy(buffer, "record", 6);
    *length = 6;
    return 1;
}

struct ProviderReset {
    ~ProviderReset() { SetResidentDataProvider(nullptr, nullptr); }
};

TEST(reader_resident, CopiesFromTheOffsetWithinTheCallersSize)
{
    ProviderReset reset;
    CStampedMemoryDevice device(1000);
    CSearchedPartitionInfo part = MakePartition(8, 0, FS_NTFS);
    RunNode node("tiny.txt", 4);
    auto* list = new ResidentRunList();
    DataRun r;
    r.llStart = 77;
    r.llLength = 1;
    list->AddDataRun(&r);
    node.SetDataRunList(list);

    CFileReader reader;
    ASSERT_EQ(reader.Open(&device, &node, &part), 1);
    char buf[16];
    // No provider registered: the read fails.
    EXPECT_EQ(reader.ReadData(0, buf, 4, nullptr), 0);

    SetResidentDataProvider(TinyByNode, nullptr);
    std::unique_ptr<char[]> ten(new char[10]);
    ASSERT_EQ(reader.ReadData(2, ten.get(), 10, nullptr), 2);
    EXPECT_EQ(std::string(ten.get(), 2), "ny");
    ASSERT_EQ(reader.ReadData(0, ten.get(), 3, nullptr), 3);
    EXPECT_EQ(std::string(ten.get(), 3), "tin");
    EXPECT_EQ(reader.ReadData(4, ten.get(), 10, nullptr), 0);

    // A node the provider does not know goes by the record's sector.
    SetResidentDataProvider(NotMine, RecordBySector);
    // The file is 4 bytes long as the node said when the reader was opened.
    EXPECT_EQ(reader.ReadData(1, buf, 16, nullptr), 3);
    EXPECT_EQ(std::string(buf, 3), "eco");
    EXPECT_EQ(g_askedSector, 77);
}

}  // namespace
