// The quick search over images made by mkntfs, ntfscp and an ntfs-3g mount:
// names, folders, deleted flags, sizes, times and bytes against what the
// fixture put there and what fls says; errors; damaged records and run lists.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "FileReader.h"
#include "ImageFileDevice.h"
#include "NTFSDBR.h"
#include "NTFSFileNode.h"
#include "NTFSQuickSearch.h"
#include "NTFSVolumeAnalyze.h"
#include "NtfsTestSupport.h"
#include "SearchedPartitionInfo.h"
#include "TestSupport.h"

namespace {

struct Scan {
    std::unique_ptr<CNtfsRecordingBuilder> builder = std::make_unique<CNtfsRecordingBuilder>();
    CNtfsRecordingProgress progress;
    std::unique_ptr<CNTFSQuickSearch> searcher = std::make_unique<CNTFSQuickSearch>();
    std::unique_ptr<CImageFileDevice> device;
    ResultCode result = 0;
};

void RunScan(Scan& scan, const std::string& image, unsigned int sectorSize = 512)
{
    scan.device = OpenImageFileDisk(image, sectorSize);
    ASSERT_TRUE(scan.device);
    scan.searcher->SetDirecotryTreeBuilder(scan.builder.get());
    scan.result = scan.searcher->QuickSearchFiles(scan.device.get(), &scan.progress);
}

// The node's bytes read through the engine's file reader with the searcher's
// partition record.
std::string ReadNode(Scan& scan, CNTFSFileNode* node)
{
    CSearchedPartitionInfo* partition = nullptr;
    EXPECT_EQ(scan.searcher->GetSearchedPartitionInfo(&partition, 1), 1);
    std::unique_ptr<CSearchedPartitionInfo> owned(partition);
    CFileReader reader;
    if (!reader.Open(scan.device.get(), node, partition))
        return "<cannot open>";
    std::string out(static_cast<size_t>(node->GetFileSize()), '\0');
    int got = 0;
    if (!reader.Read(0, reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(out.size()), got, nullptr))
        return "<read failed>";
    out.resize(static_cast<size_t>(got));
    return out;
}

size_t RunCount(CNTFSFileNode* node)
{
    size_t n = 0;
    IDataRunList* runs = node->GetDataRunList();
    for (DataRun* r = runs ? runs->GetFirst() : nullptr; r; r = runs->GetNext())
        ++n;
    return n;
}

// What the fixture put where, for the mounted image.
struct Expected {
    const char* path;
    const char* source;  // null for folders
    bool deleted;
};
const Expected kBasic[] = {
    {"/small.txt", "small.txt", false},
    {"/big.bin", "big.bin", false},
    {"/dir1", nullptr, false},
    {"/dir1/inner.txt", "inner.txt", false},
    {"/dir1/sub", nullptr, false},
    {"/dir1/sub/deep.bin", "deep.bin", false},
    {"/Ünïcödé-名前.txt", "uni.txt", false},
    {"/f1.bin", "f1.bin", false},
    {"/f3.bin", "f3.bin", false},
    {"/frag.bin", "frag.bin", false},
    {"/pad.bin", "pad.bin", false},
    {"/many", nullptr, false},
    {"/old folder", nullptr, true},
    {"/old folder/gone.bin", "gone.bin", true},
    {"/tinygone.txt", "tinygone.txt", true},
};

}  // namespace

TEST(ntfs_quick, BasicImageKnownAnswers)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here: the image has no folders or deletions";
    const std::string image = NtfsImagePath("ntfs-basic.img");
    const std::string before = FileDigest(image);
    Scan scan;
    RunScan(scan, image);
    ASSERT_EQ(scan.result, 0u);

    const auto nodes = scan.builder->ByPath();
    const auto oracle = NtfsFlsTree(image);
    // Besides these, many/ holds m001.txt to m100.txt.
    ASSERT_EQ(nodes.size(), std::size(kBasic) + 100);
    ASSERT_EQ(oracle.size(), std::size(kBasic) + 100);
    for (int i = 1; i <= 100; ++i) {
        char path[32], text[32];
        std::snprintf(path, sizeof path, "/many/m%03d.txt", i);
        std::snprintf(text, sizeof text, "many %03d\n", i);
        ASSERT_TRUE(nodes.count(path) && oracle.count(path)) << path;
        EXPECT_EQ(nodes.at(path)->GetCurrentNodeID(), oracle.at(path).inode) << path;
        EXPECT_EQ(ReadNode(scan, nodes.at(path)), text) << path;
    }
    const unsigned long long fixtureTime = UnixToFileTime(kFixtureUnixTime);
    for (const Expected& e : kBasic) {
        ASSERT_TRUE(nodes.count(e.path)) << e.path;
        ASSERT_TRUE(oracle.count(e.path)) << e.path;
        CNTFSFileNode* node = nodes.at(e.path);
        const FlsEntry& fls = oracle.at(e.path);
        EXPECT_EQ(node->GetCurrentNodeID(), fls.inode) << e.path;
        EXPECT_EQ(node->IsDeleted() != 0, e.deleted) << e.path;
        EXPECT_EQ(fls.deleted, e.deleted) << e.path;
        EXPECT_EQ(node->IsDirectory() != 0, e.source == nullptr) << e.path;
        EXPECT_EQ(fls.directory, e.source == nullptr) << e.path;
        if (!e.source)
            continue;
        const std::string bytes = NtfsSource(e.source);
        EXPECT_EQ(node->GetFileSize(), static_cast<long long>(bytes.size())) << e.path;
        EXPECT_EQ(node->GetModificationTime(), fixtureTime) << e.path;
        EXPECT_TRUE(ReadNode(scan, node) == bytes) << e.path;
    }
    // Resident and non-resident data, and a file in two pieces around f1.bin.
    EXPECT_EQ(nodes.at("/small.txt")->GetDataRunList()->IsResident(), 1);
    EXPECT_EQ(nodes.at("/big.bin")->GetDataRunList()->IsResident(), 0);
    EXPECT_GE(RunCount(nodes.at("/frag.bin")), 2u);

    EXPECT_EQ(scan.builder->m_events.front(), "info 35 5");
    ASSERT_GE(scan.builder->m_events.size(), 2u);
    EXPECT_EQ(scan.builder->m_events[scan.builder->m_events.size() - 2], "partition");
    EXPECT_EQ(scan.builder->m_events.back(), "flash 35");
    ASSERT_FALSE(scan.progress.m_reports.empty());
    const auto& last = scan.progress.m_reports.back();
    EXPECT_EQ(last.state, 3u);
    EXPECT_EQ(last.done, last.total);
    EXPECT_GT(last.total, 0u);

    CSearchedPartitionInfo* partition = nullptr;
    ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(&partition, 1), 1);
    EXPECT_EQ(partition->GetFileSystemType(), FS_NTFS);
    EXPECT_EQ(partition->GetSectorsPerUnit(), 8u);
    EXPECT_EQ(partition->GetTotalSectors(), static_cast<unsigned long long>(scan.device->GetTotalSectors()));
    delete partition;
    EXPECT_EQ(scan.searcher->GetSearchedPartitionInfo(&partition, 0), 1);
    EXPECT_EQ(FileDigest(image), before);
}

TEST(ntfs_quick, FourKiBSectors)
{
    const std::string image = NtfsImagePath("ntfs-4k.img");
    Scan scan;
    RunScan(scan, image, 4096);
    ASSERT_EQ(scan.result, 0u);
    const auto nodes = scan.builder->ByPath();
    const auto oracle = NtfsFlsTree(image, 4096);
    ASSERT_EQ(nodes.size(), 3u);
    for (const char* name : {"small.txt", "big.bin", "inner.txt"}) {
        const std::string path = std::string("/") + name;
        ASSERT_TRUE(nodes.count(path)) << path;
        ASSERT_TRUE(oracle.count(path)) << path;
        EXPECT_EQ(nodes.at(path)->GetCurrentNodeID(), oracle.at(path).inode);
        EXPECT_TRUE(ReadNode(scan, nodes.at(path)) == NtfsSource(name)) << path;
    }
}

TEST(ntfs_quick, NamesInExtensionRecords)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here";
    const std::string image = NtfsImagePath("ntfs-links.img");
    Scan scan;
    RunScan(scan, image);
    ASSERT_EQ(scan.result, 0u);
    // One node for the file (its extension records are not files of their own).
    ASSERT_EQ(scan.builder->m_nodes.size(), 1u);
    CNTFSFileNode* node = scan.builder->m_nodes[0];
    EXPECT_EQ(node->GetCurrentNodeID(), 64);
    EXPECT_EQ(node->GetParentNodeID(), 5);
    EXPECT_EQ(node->GetFileSize(), 100000);
    EXPECT_TRUE(ReadNode(scan, node) == NtfsSource("big.bin"));
    // The $ATTRIBUTE_LIST (in clusters) names records 65 to 69, each placed
    // where its record lies.
    const ExtendFileRecordInfoList* list = node->GetFileProperties()->GetExtendFileRecordInfoList();
    ASSERT_TRUE(list);
    std::vector<long long> numbers;
    for (const auto& info : *list) {
        numbers.push_back(info->m_s64MFTNumber);
        EXPECT_EQ(static_cast<unsigned long long>(info->m_s64StartSector) * 512,
                  NtfsRecordOffset(image, info->m_s64MFTNumber));
    }
    EXPECT_EQ(numbers, (std::vector<long long>{65, 66, 67, 68, 69}));
    // Every link's name is in the records: the multi-record finds all seven.
    std::vector<uint8_t> bytes = ReadAt(image, NtfsRecordOffset(image, 64), 1024);
    CNTFSMultiFileRecord multi(bytes.data(), 1024, node->GetFileProperties()->GetFileRecordStartSector(),
                               scan.device.get(), list);
    ASSERT_TRUE(multi.IsValid());
    int names = 0;
    while (multi.FindAttibute(NTFS_ATTR_FILE_NAME, static_cast<unsigned int>(names), nullptr, nullptr))
        ++names;
    EXPECT_EQ(names, 7);
}

TEST(ntfs_quick, CompressedAndSparseExtents)
{
    const std::string image = NtfsImagePath("ntfs-packed.img");
    if (!std::filesystem::exists(image))
        GTEST_SKIP() << "no ntfs-3g mount or setfattr here";
    Scan scan;
    RunScan(scan, image);
    ASSERT_EQ(scan.result, 0u);
    const auto nodes = scan.builder->ByPath();
    ASSERT_TRUE(nodes.count("/packed/comp.txt"));
    ASSERT_TRUE(nodes.count("/sparse.bin"));
    CNTFSFileNode* packed = nodes.at("/packed/comp.txt");
    EXPECT_EQ(packed->IsCompressed(), 1);
    EXPECT_EQ(packed->GetAttribute() & 0x800u, 0x800u);
    CNTFSFileNode* sparse = nodes.at("/sparse.bin");
    EXPECT_EQ(sparse->IsCompressed(), 0);
    EXPECT_EQ(sparse->GetFileSize(), static_cast<long long>(NtfsSource("sparse.bin").size()));
    bool hole = false;
    IDataRunList* runs = sparse->GetDataRunList();
    for (DataRun* r = runs->GetFirst(); r; r = runs->GetNext())
        hole = hole || r->llStart < 0;
    EXPECT_TRUE(hole);
    EXPECT_TRUE(ReadNode(scan, sparse) == NtfsSource("sparse.bin"));
}

TEST(ntfs_quick, Recogniser)
{
    auto device = OpenImageFileDisk(NtfsImagePath("ntfs-basic.img"));
    ASSERT_TRUE(device);
    std::unique_ptr<IVolumeAnalyze> found(CreateNTFSVolumeAnalyze(device.get(), 0));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->GetFileSystemType(), FS_NTFS);
    EXPECT_EQ(found->GetTotalSector(), 24LL * 1024 * 1024 / 512 - 1);
    char label[8] = "xxxxxxx";
    found->GetLabel(label, sizeof label);
    EXPECT_STREQ(label, "");
    char one[1] = {'y'};
    found->GetLabel(one, 1);
    EXPECT_EQ(one[0], 'y');
    EXPECT_FALSE(CreateNTFSVolumeAnalyze(device.get(), 1));
    EXPECT_FALSE(CreateNTFSVolumeAnalyze(nullptr, 0));
    EXPECT_FALSE(CreateNTFSVolumeAnalyze(device.get(), 1ULL << 40));  // beyond the device
}

TEST(ntfs_quick, ErrorCodes)
{
    TempDir dir;
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    CNTFSQuickSearch searcher;
    auto device = OpenImageFileDisk(basic);
    CNtfsRecordingProgress progress;
    EXPECT_EQ(searcher.QuickSearchFiles(nullptr, &progress), CNTFSQuickSearch::kNoDevice);
    EXPECT_EQ(searcher.QuickSearchFiles(device.get(), nullptr), CNTFSQuickSearch::kNoDevice);

    // Sector 0 gone, the backup boot sector at the end still there.
    const std::string noBoot = dir / "noboot.img";
    CopyImage(basic, noBoot);
    const std::vector<uint8_t> zero(512, 0);
    WriteAt(noBoot, 0, zero.data(), zero.size());
    const std::vector<uint8_t> backup = ReadAt(noBoot, 24ULL * 1024 * 1024 - 512, 512);
    ASSERT_TRUE(CNTFSDBR::IsFullValidDBR(backup.data()));
    Scan s1;
    RunScan(s1, noBoot);
    EXPECT_EQ(s1.result, CNTFSQuickSearch::kBadBootSector);
    EXPECT_TRUE(s1.builder->m_nodes.empty());

    // Both the $MFT record and its mirror copy damaged.
    const std::string noMft = dir / "nomft.img";
    CopyImage(basic, noMft);
    const std::vector<uint8_t> boot = ReadAt(basic, 0, 512);
    unsigned long long mft = 0, mirror = 0;
    std::memcpy(&mft, boot.data() + 48, 8);
    std::memcpy(&mirror, boot.data() + 56, 8);
    WriteAt(noMft, mft * 4096, "XXXX", 4);
    WriteAt(noMft, mirror * 4096, "XXXX", 4);
    Scan s2;
    RunScan(s2, noMft);
    EXPECT_EQ(s2.result, CNTFSQuickSearch::kNoMFT);

    // Only the $MFT record damaged: the mirror gives the same files.
    const std::string mirrorOnly = dir / "mirror.img";
    CopyImage(basic, mirrorOnly);
    WriteAt(mirrorOnly, mft * 4096, "XXXX", 4);
    Scan s3, intact;
    RunScan(s3, mirrorOnly);
    RunScan(intact, basic);
    EXPECT_EQ(s3.result, 0u);
    EXPECT_EQ(s3.builder->m_nodes.size(), intact.builder->m_nodes.size());
    EXPECT_TRUE(s3.searcher->GetMFTDataRunList().IsEqual(intact.searcher->GetMFTDataRunList()));

    // A record size the boot sector cannot mean.
    const std::string bigRecords = dir / "bigrec.img";
    CopyImage(basic, bigRecords);
    const uint8_t huge = 0x80;
    WriteAt(bigRecords, 64, &huge, 1);
    Scan s4;
    RunScan(s4, bigRecords);
    EXPECT_EQ(s4.result, CNTFSQuickSearch::kNoMFT);
}
