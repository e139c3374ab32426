// The quick search over images made by mkntfs, ntfscp and an ntfs-3g mount:
// names, folders, deleted flags, sizes, times and bytes against what the
// fixture put there and what fls says; errors; damaged records and run lists.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "FileReader.h"
#include "FindFileFromLogFile.h"
#include "ImageFileDevice.h"
#include "NTFSDBR.h"
#include "NTFSFileNode.h"
#include "NTFSFileRecord.h"
#include "NTFSQuickSearch.h"
#include "NTFSSearchController.h"
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

// ---- Deleted files given back their extents by the transaction log ----
//
// The fixture's tools keep no journal of their own, so the log pages a
// journaling driver would have left are written into the image's real
// $LogFile clusters: file-record images (redo data) and attribute changes
// with the old bytes (undo data).

namespace {

constexpr unsigned int kLogPage = 4096;

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
void Set16(std::vector<uint8_t>& b, size_t at, uint16_t v) { std::memcpy(b.data() + at, &v, 2); }
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
void Set64(std::vector<uint8_t>& b, size_t at, uint64_t v) { std::memcpy(b.data() + at, &v, 8); }

// A log record: 48-byte header (LSN, client data length) then client data.
std::vector<uint8_t> LogRecord(uint64_t lsn, const std::vector<uint8_t>& client)
{
    std::vector<uint8_t> r(48, 0);
    Set64(r, 0, lsn);
    Set32(r, 24, static_cast<uint32_t>(client.size()));
    r.insert(r.end(), client.begin(), client.end());
    return r;
}

// Redo data of a file-record initialisation: the record at record offset 88.
std::vector<uint8_t> ImageRecord(uint64_t lsn, const std::vector<uint8_t>& fileRecord)
{
    std::vector<uint8_t> client(40, 0);
    client.insert(client.end(), fileRecord.begin(), fileRecord.begin() + 1024);
    return LogRecord(lsn, client);
}

// An attribute change of MFT record `number` (4 records to a 4 KiB cluster)
// whose undo data holds the bytes as they were.
std::vector<uint8_t> UndoRecord(uint64_t lsn, long long number, uint16_t attributeOffset, uint16_t offsetInAttribute,
                                const std::vector<uint8_t>& undo)
{
    std::vector<uint8_t> client(40, 0);
    Set16(client, 56 - 48, 40);
    Set16(client, 58 - 48, static_cast<uint16_t>(undo.size()));
    Set16(client, 64 - 48, attributeOffset);
    Set16(client, 66 - 48, offsetInAttribute);
    Set16(client, 68 - 48, static_cast<uint16_t>((number % 4) * 2));
    Set32(client, 72 - 48, static_cast<uint32_t>(number / 4));
    client.insert(client.end(), undo.begin(), undo.end());
    return LogRecord(lsn, client);
}

struct LogPage {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kLogPage, 0);
    void Put(size_t at, const std::vector<uint8_t>& record, size_t from = 0)
    {
        const size_t n = std::min(record.size() - from, kLogPage - at);
        std::memcpy(bytes.data() + at, record.data() + from, n);
    }
    // Header and update-sequence protection.
    std::vector<uint8_t> Finish(uint64_t lastLsn, uint64_t lastEndLsn)
    {
        std::memcpy(bytes.data(), "RCRD", 4);
        Set16(bytes, 4, 40);
        Set16(bytes, 6, 9);
        Set64(bytes, 8, lastLsn);
        Set64(bytes, 32, lastEndLsn);
        Set16(bytes, 40, 0x0707);
        for (unsigned k = 0; k < 8; ++k) {
            std::memcpy(bytes.data() + 42 + 2 * k, bytes.data() + k * 512 + 510, 2);
            Set16(bytes, k * 512 + 510, 0x0707);
        }
        return bytes;
    }
};

// Writes page n of the image's $LogFile (4 KiB clusters).
void WriteLogPage(const std::string& image, unsigned long long n, const std::vector<uint8_t>& page)
{
    std::vector<uint8_t> record = NtfsReadRecord(image, 2);
    CNTFSFileRecord::UnfixupFileRecord(record.data(), 1024);
    const uint32_t at = CNTFSFileRecord::GetAttributeOffset(record.data(), NTFS_ATTR_DATA, 0);
    ASSERT_NE(at, 0xFFFFFFFFu);
    CNTFSDataRunList runs;
    ASSERT_TRUE(CNTFSFileRecordDataRunsAttribute::GetDataRunList(record.data() + at, runs));
    const long long lcn = runs.GetLCN(static_cast<long long>(n));
    ASSERT_GE(lcn, 0);
    WriteAt(image, static_cast<unsigned long long>(lcn) * 4096, page.data(), page.size());
}

// Empties the $DATA of a deleted record the way a deletion that clears the
// mapping does: sizes 0, mapping pairs gone. Gives back the attribute's
// offset, its mapping-pairs offset and the old mapping pairs.
struct Emptied {
    uint16_t attribute = 0;
    uint16_t pairsAt = 0;
    std::vector<uint8_t> pairs;
};
Emptied EmptyData(const std::string& image, long long number)
{
    Emptied e;
    PatchRecord(image, number, [&](std::vector<uint8_t>& r) {
        const uint32_t at = CNTFSFileRecord::GetAttributeOffset(r.data(), NTFS_ATTR_DATA, 0);
        ASSERT_NE(at, 0xFFFFFFFFu);
        ASSERT_EQ(r[at + 8], 1) << "non-resident";
        e.attribute = static_cast<uint16_t>(at);
        e.pairsAt = Get16(r, at + 32);
        const uint32_t length = CNTFSFileRecordAttribute::GetLength(r.data() + at);
        e.pairs.assign(r.begin() + at + e.pairsAt, r.begin() + at + length);
        for (size_t k = at + e.pairsAt; k < at + length; ++k)
            r[k] = 0;
        for (size_t field : {0x18, 0x28, 0x30, 0x38})
            Set64(r, at + field, 0);
    });
    return e;
}

}  // namespace

TEST(ntfs_logfile, MftNumberOfLogRecord)
{
    struct Case {
        unsigned spc, sectorSize;
        uint32_t vcn;
        uint16_t index;
        long long number;
    } cases[] = {
        {8, 512, 10, 4, 42}, {8, 512, 10, 0, 40}, {8, 512, 10, 6, 43},
        {8, 512, 10, 3, -1},  // not the start of a record
        {8, 512, 10, 8, -1},  // past the cluster
        {2, 512, 77, 0, 77},  // one record to a cluster
        {1, 4096, 5, 2, 21},  // 4 KiB sectors, 4 records to a cluster
        {16, 512, 3, 14, 31},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> head(88, 0);
        Set16(head, 68, c.index);
        Set32(head, 72, c.vcn);
        EXPECT_EQ(CFindFileFromLogFile::GetMFTNumberOfLogRecord(head.data(), c.spc, c.sectorSize), c.number)
            << c.spc << " " << c.vcn << " " << c.index;
    }
}

TEST(ntfs_logfile, EmptiedRecordRepairedFromImage)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here: the image has no deletions";
    TempDir dir;
    const std::string image = dir / "log.img";
    CopyImage(NtfsImagePath("ntfs-basic.img"), image);
    const auto oracle = NtfsFlsTree(image);
    const long long gone = oracle.at("/old folder/gone.bin").inode;
    const long long folder = oracle.at("/old folder").inode;
    const std::vector<uint8_t> original = NtfsReadRecord(image, gone);

    // A fresh log: found, but nothing in it.
    {
        Scan scan;
        RunScan(scan, image);
        EXPECT_TRUE(scan.searcher->GetLogFileFinder().IsReady());
        EXPECT_TRUE(scan.searcher->GetLogFileFinder().GetImages().empty());
    }

    EmptyData(image, gone);
    {
        Scan scan;
        RunScan(scan, image);
        const auto nodes = scan.builder->ByPath();
        ASSERT_TRUE(nodes.count("/old folder/gone.bin"));
        EXPECT_EQ(nodes.at("/old folder/gone.bin")->GetFileSize(), 0);
    }

    // A decoy image of the same name under the root with another size, then
    // the real one under its folder, crossing from page 4 into page 5.
    std::vector<uint8_t> decoy = original;
    CNTFSFileRecord::UnfixupFileRecord(decoy.data(), 1024);
    const uint32_t name = CNTFSFileRecord::GetAttributeOffset(decoy.data(), NTFS_ATTR_FILE_NAME, 0);
    const uint32_t data = CNTFSFileRecord::GetAttributeOffset(decoy.data(), NTFS_ATTR_DATA, 0);
    ASSERT_NE(name, 0xFFFFFFFFu);
    ASSERT_NE(data, 0xFFFFFFFFu);
    Set64(decoy, name + Get16(decoy, name + 20), 5 | (5ULL << 48));
    Set64(decoy, data + 0x30, 12345);
    ASSERT_NE(CNTFSFileRecord::FixupFileRecord(decoy.data(), 1024), 0);

    const std::vector<uint8_t> first = ImageRecord(100, decoy), second = ImageRecord(101, original);
    LogPage p4;
    p4.Put(64, first);
    p4.Put(3000, second);
    WriteLogPage(image, 4, p4.Finish(101, 100));
    LogPage p5;
    const size_t rest = second.size() - (kLogPage - 3000);
    p5.Put(64, second, kLogPage - 3000);
    p5.Put(64 + rest, LogRecord(102, {}));
    WriteLogPage(image, 5, p5.Finish(102, 102));
    // A page that is no record page stops nothing.
    WriteLogPage(image, 6, std::vector<uint8_t>(kLogPage, 0xFF));

    const std::string before = FileDigest(image);
    Scan scan;
    RunScan(scan, image);
    ASSERT_EQ(scan.result, 0u);
    EXPECT_EQ(FileDigest(image), before);
    const auto& images = scan.searcher->GetLogFileFinder().GetImages();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].s64Parent, 5);
    EXPECT_EQ(images[1].s64Parent, folder);
    const auto nodes = scan.builder->ByPath();
    ASSERT_TRUE(nodes.count("/old folder/gone.bin"));
    CNTFSFileNode* node = nodes.at("/old folder/gone.bin");
    EXPECT_TRUE(node->IsDeleted());
    EXPECT_EQ(node->GetFileSize(), 20000);
    EXPECT_TRUE(ReadNode(scan, node) == NtfsSource("gone.bin"));
    // Live files and the deleted folder are left as they were.
    EXPECT_TRUE(ReadNode(scan, nodes.at("/big.bin")) == NtfsSource("big.bin"));
    EXPECT_TRUE(nodes.at("/old folder")->IsDirectory());
}

TEST(ntfs_logfile, EmptiedRecordRepairedFromUndoData)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here: the image has no deletions";
    TempDir dir;
    const std::string image = dir / "undo.img";
    CopyImage(NtfsImagePath("ntfs-basic.img"), image);
    const long long gone = NtfsFlsTree(image).at("/old folder/gone.bin").inode;
    const Emptied e = EmptyData(image, gone);
    ASSERT_FALSE(e.pairs.empty());
    std::vector<uint8_t> undo = e.pairs;
    undo.resize(std::max<size_t>(undo.size(), 16), 0);

    LogPage p4;
    size_t at = 64;
    // Changes that do not apply: another record, the attribute header, too
    // little undo data.
    for (const auto& r : {UndoRecord(200, gone + 1, e.attribute, e.pairsAt, undo),
                          UndoRecord(201, gone, e.attribute, 0, undo),
                          UndoRecord(202, gone, e.attribute, e.pairsAt, std::vector<uint8_t>(8, 0x11)),
                          UndoRecord(203, gone, e.attribute, e.pairsAt, undo)}) {
        p4.Put(at, r);
        at += r.size();
    }
    WriteLogPage(image, 4, p4.Finish(203, 203));

    Scan scan;
    RunScan(scan, image);
    ASSERT_EQ(scan.result, 0u);
    EXPECT_EQ(scan.searcher->GetLogFileFinder().GetRecords().size(), 4u);
    const auto nodes = scan.builder->ByPath();
    ASSERT_TRUE(nodes.count("/old folder/gone.bin"));
    CNTFSFileNode* node = nodes.at("/old folder/gone.bin");
    // Whole clusters: the size is not in the log.
    EXPECT_EQ(node->GetFileSize(), 5 * 4096);
    EXPECT_EQ(ReadNode(scan, node).substr(0, 20000), NtfsSource("gone.bin"));
}

TEST(ntfs_logfile, DamagedLogPagesNeverStopTheScan)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here";
    std::mt19937 random(7);
    for (int round = 0; round < 6; ++round) {
        TempDir dir;
        const std::string image = dir / "noise.img";
        CopyImage(NtfsImagePath("ntfs-basic.img"), image);
        const long long gone = NtfsFlsTree(image).at("/old folder/gone.bin").inode;
        EmptyData(image, gone);
        for (unsigned long long n = 4; n < 10; ++n) {
            LogPage page;
            for (auto& b : page.bytes)
                b = static_cast<uint8_t>(random());
            // Small client lengths so that many records are walked.
            for (size_t k = 64; k + 28 <= kLogPage; k += 96)
                Set32(page.bytes, k + 24, static_cast<uint32_t>(random() % (round < 3 ? 64 : 9000)));
            WriteLogPage(image, n, page.Finish(random(), random()));
        }
        Scan scan;
        RunScan(scan, image);
        EXPECT_EQ(scan.result, 0u);
        EXPECT_TRUE(scan.builder->ByPath().count("/old folder/gone.bin"));
    }
}

// A damaged run list of $LogFile claims far more than the volume holds: the
// log read for the scan is no larger than the device, not the 128 MiB the
// run claims.
TEST(ntfs_logfile, LogNoLargerThanItsDevice)
{
    TempDir dir;
    const std::string image = dir / "long-log.img";
    CopyImage(NtfsImagePath("ntfs-basic.img"), image);
    const unsigned long long imageBytes = std::filesystem::file_size(image);
    PatchRecord(image, 2, [](std::vector<uint8_t>& r) {
        const uint32_t at = CNTFSFileRecord::GetAttributeOffset(r.data(), NTFS_ATTR_DATA, 0);
        ASSERT_NE(at, 0xFFFFFFFFu);
        const uint16_t pairs = static_cast<uint16_t>(r[at + 32] | r[at + 33] << 8);
        // One run, a two-byte length: now 32,767 clusters of 4 KiB.
        ASSERT_EQ(r[at + pairs] & 0x0F, 2);
        r[at + pairs + 1] = 0xFF;
        r[at + pairs + 2] = 0x7F;
    });
    Scan scan;
    RunScan(scan, image);
    EXPECT_EQ(scan.result, 0u);
    const CFindFileFromLogFile& log = scan.searcher->GetLogFileFinder();
    ASSERT_TRUE(log.IsReady());
    EXPECT_GT(log.GetLogPageCount(), 0u);
    EXPECT_LE(log.GetLogPageCount() * CFindFileFromLogFile::kPageSize, imageBytes);
}

// The deep scan's rebuild repairs the same record, with the volume inside a
// partition of a disk.
TEST(ntfs_logfile, DeepScanRepairsFromImage)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here: the image has no deletions";
    TempDir dir;
    const std::string volume = dir / "volume.img";
    CopyImage(NtfsImagePath("ntfs-basic.img"), volume);
    const long long gone = NtfsFlsTree(volume).at("/old folder/gone.bin").inode;
    const std::vector<uint8_t> original = NtfsReadRecord(volume, gone);
    EmptyData(volume, gone);
    LogPage p4;
    p4.Put(64, ImageRecord(300, original));
    WriteLogPage(volume, 4, p4.Finish(300, 300));
    const std::string disk = dir / "disk.img";
    RunTool("truncate -s 26M '" + disk + "' && dd if='" + volume + "' of='" + disk +
            "' bs=512 seek=2048 conv=notrunc status=none");

    auto device = OpenImageFileDisk(disk, 512);
    ASSERT_TRUE(device);
    CNtfsRecordingBuilder builder;
    std::unique_ptr<ICompleteFileSystemSearchController> search(CreateNTFSSearcher());
    search->SetDirecotryTreeBuilder(&builder);
    search->SetDevice(device.get());
    search->SetBlockSize(128);
    ASSERT_EQ(search->PreparetoSearch(), 1);
    for (long long s = 0; s < device->GetTotalSectors(); s += 128)
        search->AnalyzeBlock(s, std::min<long long>(128, device->GetTotalSectors() - s));
    search->EndSearch(1);
    const auto nodes = builder.ByPath();
    ASSERT_TRUE(nodes.count("/old folder/gone.bin"));
    CNTFSFileNode* node = nodes.at("/old folder/gone.bin");
    EXPECT_EQ(node->GetFileSize(), 20000);
    CSearchedPartitionInfo* partition = nullptr;
    ASSERT_EQ(search->GetSearchedPartitionInfo(&partition, 1), 1);
    std::unique_ptr<CSearchedPartitionInfo> owned(partition);
    CFileReader reader;
    ASSERT_TRUE(reader.Open(device.get(), node, partition));
    std::string out(20000, '\0');
    int got = 0;
    ASSERT_TRUE(reader.Read(0, reinterpret_cast<unsigned char*>(out.data()), 20000, got, nullptr));
    EXPECT_TRUE(out == NtfsSource("gone.bin"));
}
