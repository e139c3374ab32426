// The deep NTFS search over a whole disk made by sfdisk and mkntfs: which
// partition candidates the sector tests place, how blocks that split records
// are joined, how candidates are scored and culled, and damaged disks.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "CacheDevice.h"
#include "FileReader.h"
#include "NTFSFileNode.h"

#include "ImageFileDevice.h"
#include "NTFSDBR.h"
#include "NTFSLogFileAnalyzer.h"
#include "NTFSSearchController.h"
#include "NtfsTestSupport.h"
#include "SearchedPartitionInfo.h"
#include "StampedMemoryDevice.h"
#include "TestSupport.h"

namespace {

constexpr long long kPartitionStart = 2048;

struct Deep {
    std::unique_ptr<CImageFileDevice> device;
    CNtfsRecordingBuilder builder;
    CNTFSSearchController search;
};

// Feeds the whole image block by block, as the deep scan does.
void RunDeep(Deep& d, const std::string& image, int block, bool end = true)
{
    d.device = OpenImageFileDisk(image, 512);
    ASSERT_TRUE(d.device);
    d.search.SetDirecotryTreeBuilder(&d.builder);
    ASSERT_EQ(d.search.SetDevice(d.device.get()), 1);
    ASSERT_EQ(d.search.SetBlockSize(block), 1);
    ASSERT_EQ(d.search.PreparetoSearch(), 1);
    const long long total = d.device->GetTotalSectors();
    for (long long s = 0; s < total; s += block)
        ASSERT_EQ(d.search.AnalyzeBlock(s, std::min<long long>(block, total - s)), 1);
    if (end)
        d.search.EndSearch(1);
}

struct Seen {
    long long start;
    unsigned spc;
    unsigned flags;
    long long indexMatches;
    bool operator==(const Seen&) const = default;
};
std::vector<Seen> Candidates(const CNTFSSearchController& search)
{
    std::vector<Seen> out;
    for (auto* c : search.GetCandidates())
        out.push_back({c->GetStartSector(), c->GetSectorsPerUnit(), c->GetPartitionBuildFromFlags(),
                       c->GetFolderIndexMatchCount()});
    return out;
}
std::string Show(const std::vector<Seen>& seen)
{
    std::string s;
    for (const Seen& c : seen)
        s += std::to_string(c.start) + "/" + std::to_string(c.spc) + " flags " + std::to_string(c.flags) + " indx " +
             std::to_string(c.indexMatches) + "\n";
    return s;
}

// Refuses reads of more than a given number of sectors.
class CShortReadDevice : public CCountingDevice {
public:
    CShortReadDevice(IStorageDevice* source, long long most) : CCountingDevice(source), m_most(most) {}
    int ReadSector(void* buffer, long long first, long long count) override
    {
        return count > m_most ? 0 : CCountingDevice::ReadSector(buffer, first, count);
    }

private:
    long long m_most;
};

// Writes `count` sectors of random bytes that start with an NTFS record
// signature at random places after the partition start.
void PlantSignatureNoise(const std::string& image, std::mt19937& random, int count)
{
    const long long sectors = static_cast<long long>(std::filesystem::file_size(image) / 512);
    for (int k = 0; k < count; ++k) {
        std::vector<uint8_t> junk(512);
        for (auto& b : junk)
            b = static_cast<uint8_t>(random());
        static const char* const kSignatures[] = {"FILE", "INDX", "RSTR", "RCRD"};
        std::memcpy(junk.data(), kSignatures[random() % 4], 4);
        const long long at = kPartitionStart + static_cast<long long>(random() % static_cast<unsigned>(sectors - kPartitionStart));
        WriteAt(image, static_cast<unsigned long long>(at) * 512, junk.data(), junk.size());
    }
}

}  // namespace

TEST(ntfs_deep, IntactDisk)
{
    const std::string image = NtfsImagePath("ntfs-disk.img");
    const std::string before = FileDigest(image);
    CNTFSDBR dbr;
    ASSERT_TRUE(dbr.InitFromBuffer(ReadAt(image, kPartitionStart * 512, 512).data()));
    Deep d;
    RunDeep(d, image, 128, false);
    // Boot sector, backup boot sector, $MFT confirmed by $MFTMirr, and the
    // index blocks of the root-level folders.
    const auto seen = Candidates(d.search);
    ASSERT_EQ(seen.size(), 1u) << Show(seen);
    EXPECT_EQ(seen[0].start, kPartitionStart);
    EXPECT_EQ(seen[0].spc, 8u);
    EXPECT_EQ(seen[0].flags, NTFS_BUILD_FROM_BOOT | NTFS_BUILD_FROM_BACKUP_BOOT | NTFS_BUILD_FROM_MFT_GROUP |
                                 (NtfsFixtureMounted() ? NTFS_BUILD_FROM_INDX : 0u))
        << Show(seen);
    if (NtfsFixtureMounted()) {
        EXPECT_GE(seen[0].indexMatches, 1);
    }
    EXPECT_FALSE(d.search.GetPositions().empty());
    EXPECT_GE(d.search.GetMFTInfos().size(), 2u);  // the table and its mirror

    d.search.EndSearch(1);
    EXPECT_EQ(Candidates(d.search), seen);
    CSearchedPartitionInfo* records[2] = {};
    ASSERT_EQ(d.search.GetSearchedPartitionInfo(nullptr, 0), 1);
    ASSERT_EQ(d.search.GetSearchedPartitionInfo(records, 2), 1);
    std::unique_ptr<CSearchedPartitionInfo> record(records[0]);
    auto* ntfs = dynamic_cast<CSearchedNTFSPartitionInfo*>(record.get());
    ASSERT_TRUE(ntfs);
    EXPECT_EQ(ntfs->GetPartitionStart(), kPartitionStart);
    EXPECT_EQ(ntfs->GetFileSystemType(), FS_NTFS);
    EXPECT_EQ(ntfs->GetSerialNumber(), static_cast<long long>(dbr.GetSerialNumber()));
    EXPECT_EQ(ntfs->GetTotalSectors(), dbr.GetTotalSectors() / 8 * 8);
    // 30 + 10 + 30 for the flags, 10 for the five sectors of $AttrDef.
    EXPECT_EQ(ntfs->GetReliability(), 80);
    EXPECT_EQ(ntfs->m_s64AttrDefMatchCount, 5);
    EXPECT_EQ(ntfs->GetScore(), 1.0);
    EXPECT_EQ(ntfs->m_dwMark, 1u);
    EXPECT_EQ(ntfs->m_s64MFTRecordSector, kPartitionStart + static_cast<long long>(dbr.GetMFTStartCluster()) * 8);
    EXPECT_EQ(d.builder.m_events.front(), "info 35 5");
    EXPECT_EQ(d.builder.m_events.back(), "flash 35");
    EXPECT_EQ(FileDigest(image), before);
}

// Blocks that end inside a FILE record or an index block give the same
// evidence as blocks that do not.
TEST(ntfs_deep, RecordsSplitAcrossBlocks)
{
    const std::string image = NtfsImagePath("ntfs-disk.img");
    Deep whole;
    RunDeep(whole, image, 128, false);
    const auto expected = Candidates(whole.search);
    const size_t positions = whole.search.GetPositions().size();
    for (int block : {127, 7, 3, 1}) {
        Deep d;
        RunDeep(d, image, block, false);
        EXPECT_EQ(Candidates(d.search), expected) << block << "\n" << Show(Candidates(d.search));
        EXPECT_EQ(d.search.GetPositions().size(), positions) << block;
    }
    // A device that cannot read past the block: records are joined from the
    // pieces of consecutive blocks.
    for (int block : {127, 7, 3, 1}) {
        auto source = OpenImageFileDisk(image, 512);
        CShortReadDevice device(source.get(), block);
        CNTFSSearchController search;
        ASSERT_EQ(search.SetDevice(&device), 1);
        ASSERT_EQ(search.SetBlockSize(block), 1);
        ASSERT_EQ(search.PreparetoSearch(), 1);
        const long long total = device.GetTotalSectors();
        for (long long s = 0; s < total; s += block)
            search.AnalyzeBlock(s, std::min<long long>(block, total - s));
        auto seen = Candidates(search);
        // Restart pages are not joined; there are none on this disk.
        EXPECT_EQ(seen, expected) << block << "\n" << Show(seen);
        EXPECT_EQ(search.GetPositions().size(), positions) << block;
    }
}

TEST(ntfs_deep, DamagedDisks)
{
    const std::string intact = NtfsImagePath("ntfs-disk.img");
    CNTFSDBR dbr;
    ASSERT_TRUE(dbr.InitFromBuffer(ReadAt(intact, kPartitionStart * 512, 512).data()));
    const unsigned long long mft = (kPartitionStart + dbr.GetMFTStartCluster() * 8) * 512;
    const unsigned long long backup = (kPartitionStart + dbr.GetTotalSectors()) * 512;
    const std::vector<uint8_t> zeros(8192, 0);
    struct Case {
        const char* what;
        bool boot, table, backupBoot;
    } cases[] = {
        {"boot sector wiped", true, false, false},
        {"boot sector and MFT start wiped", true, true, false},
        {"both boot sectors and MFT start wiped", true, true, true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string image = dir / "disk.img";
        CopyImage(intact, image);
        if (c.boot)
            WriteAt(image, kPartitionStart * 512, zeros.data(), 512);
        if (c.table)
            WriteAt(image, mft, zeros.data(), zeros.size());
        if (c.backupBoot)
            WriteAt(image, backup, zeros.data(), 512);
        Deep d;
        RunDeep(d, image, 128);
        const auto seen = Candidates(d.search);
        ASSERT_FALSE(seen.empty()) << c.what;
        bool found = false;
        for (const Seen& s : seen)
            if (s.start == kPartitionStart && s.spc == 8) {
                found = true;
                EXPECT_EQ((s.flags & NTFS_BUILD_FROM_BOOT) != 0, !c.boot) << c.what << "\n" << Show(seen);
                EXPECT_EQ((s.flags & NTFS_BUILD_FROM_BACKUP_BOOT) != 0, !c.backupBoot) << c.what << "\n" << Show(seen);
            }
        EXPECT_TRUE(found) << c.what << "\n" << Show(seen);
        // With the table intact every file is still there. Without it the
        // records cannot be numbered by their place in the table: only
        // folders below other folders are placed, with what they hold.
        const auto nodes = d.builder.ByPath();
        if (NtfsFixtureMounted() && !c.table) {
            EXPECT_EQ(nodes.size(), NtfsFlsTree(NtfsImagePath("ntfs-basic.img")).size()) << c.what;
        }
        if (NtfsFixtureMounted() && c.table) {
            EXPECT_TRUE(nodes.count("?/sub/deep.bin")) << c.what;
            EXPECT_FALSE(nodes.count("/small.txt")) << c.what;
        }
    }
}

TEST(ntfs_deep, EndSearchWithoutBuild)
{
    Deep d;
    RunDeep(d, NtfsImagePath("ntfs-disk.img"), 128, false);
    d.search.EndSearch(0);
    ASSERT_EQ(d.search.GetCandidates().size(), 1u);
    EXPECT_EQ((*d.search.GetCandidates().begin())->GetReliability(), 1);  // not scored
    for (const std::string& e : d.builder.m_events)
        EXPECT_NE(e, "flash 35");
}

TEST(ntfs_deep, ReliabilityScore)
{
    struct Case {
        unsigned flags;
        long long upcase, log, attrdef, score;
    } cases[] = {
        {0x03, -1, -1, -1, 40},   {0x01 | 0x02 | 0x04 | 0x40, -1, -1, -1, 80},
        {0x20, -1, -1, -1, 0},    {0xFF, -1, -1, -1, 110},
        {0, 255, 0, 4, 0},        {0, 256, 25000, 5, 30},
        {0, 100000, 9999, 50, 20},
    };
    for (const Case& c : cases) {
        CSearchedNTFSPartitionInfo p;
        p.SetPartitionBuildFromFlag(c.flags);
        p.m_s64UpCaseMatchCount = c.upcase;
        p.m_s64LogFileMatchCount = c.log;
        p.m_s64AttrDefMatchCount = c.attrdef;
        EXPECT_EQ(CNTFSSearchController::CalcFileSystemReliabilityScore(p), c.score) << c.flags;
    }
}

TEST(ntfs_deep, BootSectorPlacement)
{
    std::vector<uint8_t> boot = ReadAt(NtfsImagePath("ntfs-disk.img"), kPartitionStart * 512, 512);
    const unsigned long long total = 1999;
    std::memcpy(boot.data() + 0x28, &total, 8);
    ASSERT_TRUE(CNTFSDBR::IsFullValidDBR(boot.data()));
    auto run = [&](std::initializer_list<long long> sectors) {
        auto d = std::make_unique<Deep>();
        d->device = OpenImageFileDisk(NtfsImagePath("ntfs-disk.img"), 512);
        d->search.SetDevice(d->device.get());
        for (long long s : sectors)
            d->search.AnalyzeNTFSDBRSector(s, boot.data());
        return Candidates(d->search);
    };
    // A primary, then its backup: one volume with both flags.
    EXPECT_EQ(run({1, 2000}), (std::vector<Seen>{{1, 8, 0x03, 0}}));
    // A lone boot sector: a backup guess behind it and a primary at it.
    EXPECT_EQ(run({5000}), (std::vector<Seen>{{3001, 8, 0x02, 0}, {5000, 8, 0x01, 0}}));
    // Too near the end of the device for a volume.
    const long long end = OpenImageFileDisk(NtfsImagePath("ntfs-disk.img"), 512)->GetTotalSectors();
    EXPECT_EQ(run({end - 4}), (std::vector<Seen>{{end - 4 - 1999, 8, 0x02, 0}}));
}

TEST(ntfs_deep, NoiseNeverStopsTheSearch)
{
    const std::string intact = NtfsImagePath("ntfs-disk.img");
    std::mt19937 random(11);
    for (int round = 0; round < 4; ++round) {
        TempDir dir;
        const std::string image = dir / "noise.img";
        CopyImage(intact, image);
        PlantSignatureNoise(image, random, 400);
        Deep d;
        RunDeep(d, image, 61);
        EXPECT_LE(d.search.GetCandidates().size(), 8u);
    }
}

TEST(ntfs_deep, FilesOfTheFoundPartition)
{
    if (!NtfsFixtureMounted())
        GTEST_SKIP() << "no ntfs-3g mount here: the image has no folders or deletions";
    const std::string image = NtfsImagePath("ntfs-disk.img");
    Deep d;
    RunDeep(d, image, 128);
    const auto nodes = d.builder.ByPath();
    const auto oracle = NtfsFlsTree(NtfsImagePath("ntfs-basic.img"));
    std::set<std::string> got, expected;
    for (const auto& [path, node] : nodes)
        got.insert(path);
    for (const auto& [path, entry] : oracle)
        expected.insert(path);
    EXPECT_EQ(got, expected);
    for (const auto& [path, entry] : oracle) {
        if (!nodes.count(path))
            continue;
        CNTFSFileNode* node = nodes.at(path);
        EXPECT_EQ(node->GetCurrentNodeID(), entry.inode) << path;
        EXPECT_EQ(node->IsDeleted() != 0, entry.deleted) << path;
        EXPECT_EQ(node->IsDirectory() != 0, entry.directory) << path;
        EXPECT_EQ(node->GetBelongedPartition(), 0) << path;
    }
    // The bytes, through the engine's file reader and the partition record.
    CSearchedPartitionInfo* partition = nullptr;
    ASSERT_EQ(d.search.GetSearchedPartitionInfo(&partition, 1), 1);
    std::unique_ptr<CSearchedPartitionInfo> owned(partition);
    for (const auto& [path, source] : std::vector<std::pair<std::string, std::string>>{
             {"/small.txt", "small.txt"}, {"/big.bin", "big.bin"}, {"/dir1/sub/deep.bin", "deep.bin"},
             {"/frag.bin", "frag.bin"}, {"/old folder/gone.bin", "gone.bin"}, {"/many/m042.txt", ""}}) {
        ASSERT_TRUE(nodes.count(path)) << path;
        CNTFSFileNode* node = nodes.at(path);
        CFileReader reader;
        ASSERT_TRUE(reader.Open(d.device.get(), node, partition)) << path;
        std::string out(static_cast<size_t>(node->GetFileSize()), '\0');
        int got = 0;
        ASSERT_TRUE(reader.Read(0, reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(out.size()), got,
                                nullptr))
            << path;
        out.resize(static_cast<size_t>(got));
        EXPECT_TRUE(out == (source.empty() ? std::string("many 042\n") : NtfsSource(source))) << path;
    }
}

TEST(ntfs_deep, SeenSectorRanges)
{
    CMetaFileAnalyzer one;
    for (unsigned long long s = 100; s < 108; ++s)
        one.CombineSectorOfRange(s);
    ASSERT_EQ(one.GetRanges().size(), 1u);
    EXPECT_EQ(one.GetSectorRangeCount(100, 107), 8u);
    CMetaFileAnalyzer shifted;
    for (unsigned long long s = 104; s < 114; ++s)
        shifted.CombineSectorOfRange(s);
    EXPECT_EQ(shifted.GetSectorRangeCount(100, 107), 4u);
    CMetaFileAnalyzer long_;
    for (unsigned long long s = 5000; s < 7000; ++s)
        long_.CombineSectorOfRange(s);
    long_.CombineSectorOfRange(9000);
    EXPECT_EQ(long_.GetRanges().size(), 2u);
    // Run (LCN 10, 2 clusters) of 4 sectors: sectors 40 to 48, both ends.
    CMetaFileAnalyzer nine;
    for (unsigned long long s = 40; s < 49; ++s)
        nine.CombineSectorOfRange(s);
    CNTFSDataRunList runs;
    runs.AddDataRun(10, 0, 2);
    EXPECT_EQ(nine.GetMatchCount(runs, 0, 4), 9u);
    runs.AddDataRun(-1, 2, 5);  // sparse: nothing
    EXPECT_EQ(nine.GetMatchCount(runs, 0, 4), 9u);
}

// Restart and record pages where the volume's $LogFile lies: the volume
// gains both restart flags and the record pages count for it.
TEST(ntfs_deep, LogFileEvidence)
{
    TempDir dir;
    const std::string image = dir / "log.img";
    CopyImage(NtfsImagePath("ntfs-disk.img"), image);
    std::vector<uint8_t> record = NtfsReadRecord(NtfsImagePath("ntfs-basic.img"), 2);
    CNTFSFileRecord::UnfixupFileRecord(record.data(), 1024);
    const uint32_t at = CNTFSFileRecord::GetAttributeOffset(record.data(), NTFS_ATTR_DATA, 0);
    ASSERT_NE(at, 0xFFFFFFFFu);
    CNTFSDataRunList runs;
    ASSERT_TRUE(CNTFSFileRecordDataRunsAttribute::GetDataRunList(record.data() + at, runs));
    const long long lcn = runs.GetLCN(0);
    ASSERT_GT(lcn, 0);
    ASSERT_GE(runs.GetLCN(11), lcn);  // the first pages lie in one run
    auto page = [](const char* magic, uint16_t usnAt) {
        std::vector<uint8_t> p(4096, 0);
        std::memcpy(p.data(), magic, 4);
        const uint16_t usn = 0x0303;
        std::memcpy(p.data() + usnAt, &usn, 2);
        for (int k = 0; k < 8; ++k)
            std::memcpy(p.data() + 510 + 512 * k, &usn, 2);
        return p;
    };
    std::vector<uint8_t> restart = page("RSTR", 30);
    std::memcpy(restart.data() + 0x90, "N\0T\0F\0S\0", 8);
    ASSERT_TRUE(CLogFileAnalyzer::IsValidRSTRRecord(restart.data(), 4096));
    EXPECT_FALSE(CLogFileAnalyzer::IsValidRSTRRecord(restart.data(), 4095));
    std::vector<uint8_t> recordPage = page("RCRD", 40);
    const uint16_t usaOffset = 40, usaCount = 9;
    std::memcpy(recordPage.data() + 4, &usaOffset, 2);
    std::memcpy(recordPage.data() + 6, &usaCount, 2);
    const unsigned long long base = (kPartitionStart + lcn * 8) * 512;
    WriteAt(image, base, restart.data(), 4096);
    WriteAt(image, base + 4096, restart.data(), 4096);
    for (int p = 2; p < 12; ++p)
        WriteAt(image, base + 4096ULL * p, recordPage.data(), 4096);

    for (int block : {128, 13}) {
        Deep d;
        RunDeep(d, image, block, false);
        const auto seen = Candidates(d.search);
        ASSERT_EQ(seen.size(), 1u) << "block " << block << "\n" << Show(seen);
        EXPECT_EQ(seen[0].start, kPartitionStart);
        EXPECT_EQ(seen[0].flags & 0xC0u, 0xC0u) << Show(seen);
        EXPECT_EQ(d.search.GetLogFileAnalyzer()->GetRCRDRanges().GetSectorRangeCount(0, 1ULL << 40), 80u) << block;
        d.search.EndSearch(1);
        ASSERT_EQ(d.search.GetCandidates().size(), 1u);
        const CSearchedNTFSPartitionInfo* c = *d.search.GetCandidates().begin();
        EXPECT_EQ(c->m_s64LogFileMatchCount, 80);
        EXPECT_EQ(c->GetReliability(), 100);
    }
}

// The attribute-definition table a newly formatted volume holds, as mkntfs
// wrote it, is what the content test looks for.
TEST(ntfs_deep, AttrDefContent)
{
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    TempDir dir;
    RunTool("icat '" + basic + "' 4 > '" + (dir / "attrdef.bin") + "'");
    const std::string written = ReadFileBytes(dir / "attrdef.bin");
    ASSERT_EQ(written.size(), CAttrDefFileAnalyzer::kTableBytes);
    EXPECT_EQ(std::memcmp(written.data(), CAttrDefFileAnalyzer::GetReferenceTable(), written.size()), 0);
    CAttrDefFileAnalyzer analyzer;
    for (int k = 0; k < 5; ++k)
        EXPECT_TRUE(analyzer.AnalyzeSectorBuffer(100 + k, reinterpret_cast<const uint8_t*>(written.data()) + 512 * k));
    std::vector<uint8_t> other(written.begin(), written.begin() + 512);
    other[300] ^= 1;
    EXPECT_FALSE(analyzer.AnalyzeSectorBuffer(200, other.data()));
    EXPECT_EQ(analyzer.GetRanges().GetSectorRangeCount(0, 1000), 5u);
}

// Two volumes on one disk: both kept, ranked by start, each node carrying
// the index of its partition.
TEST(ntfs_deep, TwoVolumesOnOneDisk)
{
    const std::string basic = NtfsImagePath("ntfs-basic.img");
    TempDir dir;
    const std::string image = dir / "two.img";
    const long long second = kPartitionStart + 49152 + 2048;
    RunTool("truncate -s 52M '" + image + "' && dd if='" + basic + "' of='" + image +
            "' bs=512 seek=2048 conv=notrunc status=none && dd if='" + basic + "' of='" + image + "' bs=512 seek=" +
            std::to_string(second) + " conv=notrunc status=none");
    Deep d;
    RunDeep(d, image, 128);
    const auto seen = Candidates(d.search);
    ASSERT_EQ(seen.size(), 2u) << Show(seen);
    EXPECT_EQ(seen[0].start, kPartitionStart);
    EXPECT_EQ(seen[1].start, second);
    CSearchedPartitionInfo* records[2] = {};
    ASSERT_EQ(d.search.GetSearchedPartitionInfo(records, 2), 2);
    std::unique_ptr<CSearchedPartitionInfo> first(records[0]), other(records[1]);
    EXPECT_EQ(first->GetScore(), 2.0);
    EXPECT_EQ(other->GetScore(), 1.0);
    EXPECT_EQ(first->GetPartitionIndex(), 0);
    EXPECT_EQ(other->GetPartitionIndex(), 1);
    EXPECT_EQ(other->GetPartitionStart(), second);
    std::map<int, size_t> perPartition;
    for (CNTFSFileNode* node : d.builder.m_nodes)
        ++perPartition[node->GetBelongedPartition()];
    if (NtfsFixtureMounted()) {
        const size_t files = NtfsFlsTree(basic).size();
        EXPECT_EQ(perPartition[0], files);
        EXPECT_EQ(perPartition[1], files);
    }
    EXPECT_EQ(perPartition.size(), 2u);
}

TEST(ntfs_deep, Culling)
{
    // flags, folder-index matches, $MFT sector known; expected survivors.
    struct Candidate {
        unsigned flags;
        long long indexMatches;
        bool mft;
    };
    struct Case {
        const char* what;
        std::vector<Candidate> candidates;
        std::vector<long long> kept;  // starts, 100 apart from 100
    } cases[] = {
        {"two weak ones are kept", {{0x20, 0, false}, {0x20, 0, false}}, {100, 200}},
        {"20, 20, 80 without index matches", {{0x12, 0, false}, {0x12, 0, false}, {0x0F, 0, false}}, {100, 200}},
        {"20, 20, 80 with index matches", {{0x12, 0, false}, {0x12, 0, false}, {0x0F, 3, false}}, {300}},
        {"a known $MFT survives any score", {{0x20, 0, true}, {0x12, 0, false}, {0x0F, 3, false}}, {100, 300}},
        {"only flag 0x20 at position 2 goes", {{0x01, 0, true}, {0x01, 0, true}, {0x20, 9, true}}, {100, 200}},
    };
    for (const Case& c : cases) {
        NTFSPartitionSet set;
        long long start = 100;
        for (const Candidate& k : c.candidates) {
            auto* p = new CSearchedNTFSPartitionInfo();
            p->SetStartSector(start);
            p->SetSectorsPerUnit(8);
            p->SetPartitionBuildFromFlag(k.flags);
            p->SetCounter2(k.indexMatches);
            p->m_s64MFTRecordSector = k.mft ? start + 32 : -1;
            set.insert(p);
            start += 100;
        }
        CNTFSSearchController::CullCandidates(set, nullptr);
        std::vector<long long> kept;
        for (auto* p : set) {
            kept.push_back(p->GetPartitionStart());
            delete p;
        }
        EXPECT_EQ(kept, c.kept) << c.what;
    }
}

// The searcher looks at a cached block where it lies, copying only the last
// sectors with the ones after the block; it finds what it finds reading
// every block into its own buffer, for blocks of any size, on an intact
// disk and on one with structure signatures planted at random.
TEST(ntfs_deep, CachedBlocksInPlaceGiveTheSameEvidence)
{
    const std::string intact = NtfsImagePath("ntfs-disk.img");
    TempDir dir;
    const std::string noisy = dir / "noise.img";
    CopyImage(intact, noisy);
    std::mt19937 random(25);
    PlantSignatureNoise(noisy, random, 600);
    for (const std::string& image : {intact, noisy}) {
        for (int block : {128, 61, 17, 16, 3}) {
            SCOPED_TRACE(std::to_string(block) + " " + image);
            Deep copied;
            RunDeep(copied, image, block);

            auto source = OpenImageFileDisk(image, 512);
            ASSERT_TRUE(source);
            CStorageDeviceWithCache cache(source.get());
            cache.SetBlockSize(static_cast<unsigned int>(block));
            cache.BeginCache();
            CNtfsRecordingBuilder builder;
            CNTFSSearchController search;
            search.SetDirecotryTreeBuilder(&builder);
            ASSERT_EQ(search.SetDevice(&cache), 1);
            ASSERT_EQ(search.SetBlockSize(block), 1);
            ASSERT_EQ(search.PreparetoSearch(), 1);
            const long long total = cache.GetTotalSectors();
            for (long long s = 0; s < total; s += block) {
                ASSERT_EQ(cache.SetCurCacheBlock(s / block), 1);
                ASSERT_TRUE(cache.ViewSectors(s, std::min<long long>(block, total - s)));
                ASSERT_EQ(search.AnalyzeBlock(s, std::min<long long>(block, total - s)), 1);
            }
            search.EndSearch(1);
            cache.EndCache();

            EXPECT_EQ(Candidates(search), Candidates(copied.search)) << Show(Candidates(search));
            EXPECT_EQ(search.GetPositions().size(), copied.search.GetPositions().size());
            EXPECT_EQ(builder.m_events, copied.builder.m_events);
            std::vector<std::string> paths;
            std::vector<std::string> expected;
            for (CNTFSFileNode* node : builder.m_nodes)
                paths.push_back(builder.PathOf(node));
            for (CNTFSFileNode* node : copied.builder.m_nodes)
                expected.push_back(copied.builder.PathOf(node));
            EXPECT_EQ(paths, expected);
            EXPECT_FALSE(expected.empty());
        }
    }
}
