// LZNT1 reader: unit regrouping, chunk decoding and whole files of the
// committed NTFS image compared with The Sleuth Kit's copies.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <list>
#include <memory>
#include <random>

#include "CompressFileReader.h"
#include "NtfsImage.h"
#include "RecoveryTestSupport.h"
#include "StampedImage.h"
#include "StampedMemoryDevice.h"

namespace {

using Piece = std::tuple<long long, int, tagCompressUnitType>;

std::vector<Piece> Regroup(std::initializer_list<std::pair<long long, long long>> runs, long long dataSize = 0)
{
    CStampedMemoryDevice device(1 << 20);
    CSearchedPartitionInfo part = MakePartition(8, 0, FS_NTFS);
    RunNode node("c.bin", dataSize > 0 ? dataSize : 1, runs);
    node.SetCompressed(true);
    CCompressFileReader reader;
    std::list<tagCompressDataRun> pieces;
    if (dataSize > 0) {
        EXPECT_EQ(reader.Open(&device, &node, &part), 1);
        reader.ReGroupCompressDataRunList(node.GetDataRunList(), pieces);
    } else {
        reader.ReGroupCompressDataRunList(node.GetDataRunList(), pieces);
    }
    std::vector<Piece> out;
    for (const tagCompressDataRun& p : pieces)
        out.emplace_back(p.s64LCN, p.iCount, p.eType);
    return out;
}

TEST(lznt1_regroup, SplitsExtentsIntoCompressionUnits)
{
    // Five real clusters padded by sparse ones: a compressed unit; a whole
    // sparse unit; a whole real unit stored as it is.
    EXPECT_EQ(Regroup({{100, 5}, {-1, 11}, {-1, 16}, {200, 16}}),
              (std::vector<Piece>{{100, 5, COMPRESSED_UNIT},
                                  {-1, 11, COMPRESSED_UNIT},
                                  {-1, 16, SPARSE_UNIT},
                                  {200, 16, NONECOMPRESSED_UNIT}}));
    // A run spanning units yields one piece per unit; the tail of a file
    // whose extents end early: all real is stored, real with sparse is
    // compressed (its real cluster holds LZNT1 data).
    EXPECT_EQ(Regroup({{300, 35}}), (std::vector<Piece>{{300, 16, NONECOMPRESSED_UNIT},
                                                         {316, 16, NONECOMPRESSED_UNIT},
                                                         {332, 3, NONECOMPRESSED_UNIT}}));
    EXPECT_EQ(Regroup({{12851, 1}, {-1, 1}}),
              (std::vector<Piece>{{12851, 1, COMPRESSED_UNIT}, {-1, 1, COMPRESSED_UNIT}}));
}

TEST(lznt1_regroup, StopsAtTheEndOfTheFile)
{
    // A damaged extent of 2^50 clusters in a file of two units.
    auto pieces = Regroup({{-1, 1LL << 50}}, 2 * 16 * 4096);
    EXPECT_EQ(pieces, (std::vector<Piece>{{-1, 16, SPARSE_UNIT}, {-1, 16, SPARSE_UNIT}}));
}

// ---- chunks -----------------------------------------------------------------

std::vector<unsigned char> Chunk(unsigned int header, std::vector<unsigned char> body)
{
    body.insert(body.begin(), {static_cast<unsigned char>(header), static_cast<unsigned char>(header >> 8)});
    return body;
}

TEST(lznt1_decode, StoredAndCompressedChunks)
{
    std::vector<unsigned char> out(4096, 0xEE);
    // Stored chunk (bit 15 clear) of 4,096 bytes.
    std::vector<unsigned char> stored(4096);
    for (size_t i = 0; i < stored.size(); ++i)
        stored[i] = static_cast<unsigned char>(i * 7);
    std::vector<unsigned char> in = Chunk(0x3FFF, stored);
    ASSERT_EQ(CCompressFileReader::DecompressBlock(out.data(), static_cast<int>(in.size()), in.data()), 4096);
    EXPECT_EQ(out, stored);

    // "abc" then a copy of 6 from 3 back: abcabcabc.
    in = Chunk(0xB000 | 6, {0x08, 'a', 'b', 'c', 0x03, 0x20});
    ASSERT_EQ(CCompressFileReader::DecompressBlock(out.data(), static_cast<int>(in.size()), in.data()), 9);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), 9), "abcabcabc");

    // A back-reference before the chunk start gives zeros: "A", then 3
    // bytes from 5 back.
    in = Chunk(0xB000 | 3, {0x02, 'A', 0x00, 0x40});
    ASSERT_EQ(CCompressFileReader::DecompressBlock(out.data(), static_cast<int>(in.size()), in.data()), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), 4), std::string("A\0\0\0", 4));

    EXPECT_EQ(CCompressFileReader::DecompressBlock(out.data(), 1, in.data()), 0);
}

TEST(lznt1_decode, OutputNeverPassesOneChunk)
{
    // Back-references of the greatest length the position allows, enough to
    // make 20,000 bytes if nothing stopped them.
    // One literal "x", then tokens copying from one byte back.
    std::vector<unsigned char> body = {0xFE, 'x'};
    long long produced = 1;
    int inGroup = 1;
    while (body.size() + 3 < 4095) {
        if (inGroup == 8) {
            body.push_back(0xFF);
            inGroup = 0;
        }
        int k = 0;
        // The format's widest split is that of position 4,096.
        for (long long x = std::min(produced, 4096LL) - 1; x > 15; x >>= 1)
            ++k;
        unsigned int length = 0xFFFu >> k;
        body.push_back(static_cast<unsigned char>(length));
        body.push_back(static_cast<unsigned char>(length >> 8));
        produced += length + 3;
        ++inGroup;
    }
    ASSERT_GT(produced, 20000);
    std::vector<unsigned char> in = Chunk(0xB000 | static_cast<unsigned int>(body.size() - 1), body);
    // Exactly one chunk of room on the heap.
    std::unique_ptr<unsigned char[]> out(new unsigned char[4096]);
    EXPECT_EQ(CCompressFileReader::DecompressBlock(out.get(), static_cast<int>(in.size()), in.data()), 4096);
    EXPECT_TRUE(AllBytesAre(out.get(), 4096, 'x'));
}

TEST(lznt1_decode, HeaderLongerThanTheInputStaysInside)
{
    std::mt19937 rng(7);
    for (unsigned int header : {0xBFFFu, 0x3FFFu}) {
        std::unique_ptr<unsigned char[]> in(new unsigned char[100]);
        for (int i = 0; i < 100; ++i)
            in[i] = static_cast<unsigned char>(rng());
        in[0] = static_cast<unsigned char>(header);
        in[1] = static_cast<unsigned char>(header >> 8);
        std::unique_ptr<unsigned char[]> out(new unsigned char[4096]);
        int n = CCompressFileReader::DecompressBlock(out.get(), 100, in.get());
        EXPECT_GE(n, 0);
        EXPECT_LE(n, 4096);
        if (!(header & 0x8000)) {
            EXPECT_EQ(n, 98);
        }
    }
}

// ---- whole files --------------------------------------------------------------

class lznt1_image : public ::testing::Test {
protected:
    void SetUp() override
    {
        image = NtfsImage::Get();
        ASSERT_NE(image, nullptr);
        device = image->OpenDevice();
        ASSERT_TRUE(device);
        part = image->Partition();
    }
    std::unique_ptr<CCompressFileReader> OpenReader(RunNode& node)
    {
        auto reader = std::make_unique<CCompressFileReader>();
        EXPECT_EQ(reader->Open(device.get(), &node, &part), 1);
        return reader;
    }
    NtfsImage* image = nullptr;
    std::unique_ptr<CImageFileDevice> device;
    CSearchedPartitionInfo part;
    TempDir out;
};

TEST_F(lznt1_image, FilesEqualTheOracle)
{
    for (const char* name : {"text.txt", "mixed.bin"}) {
        SCOPED_TRACE(name);
        auto node = image->MakeNode(name);
        ASSERT_TRUE(node);
        const std::string& oracle = image->Oracle(name);
        ASSERT_EQ(static_cast<long long>(oracle.size()), node->GetFileSize());
        auto reader = OpenReader(*node);
        bool fallback = true;
        std::string path = out / name;
        ASSERT_EQ(reader->Recovery(path.c_str(), nullptr, fallback), 1);
        EXPECT_FALSE(fallback);
        EXPECT_TRUE(ReadFileBytes(path) == oracle);

        // The first MiB into memory, and ranges at any offset.
        std::vector<char> mib(1 << 20);
        ASSERT_EQ(reader->Recovery(mib.data(), static_cast<int>(mib.size()), nullptr), 1);
        EXPECT_EQ(std::memcmp(mib.data(), oracle.data(), std::min(mib.size(), oracle.size())), 0);
        for (long long offset : {0LL, 1LL, 65535LL, 65536LL, 100000LL, 300001LL,
                                 static_cast<long long>(oracle.size()) - 5000}) {
            std::unique_ptr<char[]> buf(new char[5000]);
            ASSERT_EQ(reader->ReadData(offset, buf.get(), 5000), 5000) << offset;
            EXPECT_EQ(std::memcmp(buf.get(), oracle.data() + offset, 5000), 0) << offset;
        }
        EXPECT_EQ(reader->ReadData(static_cast<long long>(oracle.size()), mib.data(), 10), 0);
    }
}

// Stops after a number of reports.
class StopAfter : public IProgress {
public:
    explicit StopAfter(int reports) : m_left(reports) {}
    void UpdateProgress(_PROGRESS_INFO*) override { --m_left; }
    int Continued() override { return m_left > 0; }
    int shouldBuild() override { return 1; }

private:
    int m_left;
};

TEST_F(lznt1_image, AStoppedCopyKeepsWhatWasWritten)
{
    auto node = image->MakeNode("text.txt");
    ASSERT_TRUE(node);
    auto reader = OpenReader(*node);
    StopAfter sink(4);
    bool fallback = false;
    std::string path = out / "stopped.txt";
    ASSERT_EQ(reader->Recovery(path.c_str(), &sink, fallback), 1);
    std::string got = ReadFileBytes(path);
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), 1300000u);
    EXPECT_EQ(got, image->Oracle("text.txt").substr(0, got.size()));
}

TEST_F(lznt1_image, ClustersAbove4KiBFailCleanly)
{
    auto node = image->MakeNode("text.txt");
    ASSERT_TRUE(node);
    CSearchedPartitionInfo big = MakePartition(16, 0, FS_NTFS);
    CCompressFileReader reader;
    ASSERT_EQ(reader.Open(device.get(), node.get(), &big), 1);
    bool fallback = false;
    std::string path = out / "big.txt";
    EXPECT_EQ(reader.Recovery(path.c_str(), nullptr, fallback), 0);
    std::vector<char> buf(1 << 16);
    EXPECT_EQ(reader.Recovery(buf.data(), static_cast<int>(buf.size()), nullptr), 0);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

TEST_F(lznt1_image, APreviewDecodesOnlyTheRangeAsked)
{
    if (kUnderAddressSanitizer)
        GTEST_SKIP() << "the address-space limit does not apply under AddressSanitizer";
    // A 3 GiB file: the text's first compressed unit, then sparse clusters.
    const ManifestEntry* text = image->GetManifest().Find("text.txt");
    ASSERT_TRUE(text);
    const long long size = 3LL << 30;
    RunNode node("huge.txt", size, {text->runs[0], text->runs[1], {-1, size / 4096 - 16}});
    node.SetCompressed(true);
    const std::string expected = image->Oracle("text.txt").substr(0, 65536) + std::string((2 << 20) - 65536, '\0');

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{1LL << 30, 1LL << 30};
        setrlimit(RLIMIT_AS, &limit);
        auto reader = OpenReader(node);
        std::vector<char> buf(2 << 20);
        int n = reader->ReadData(0, buf.data(), static_cast<unsigned int>(buf.size()));
        _exit(n == static_cast<int>(buf.size()) && std::memcmp(buf.data(), expected.data(), buf.size()) == 0 ? 0
                                                                                                            : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
