// The recogniser and the quick scan over a volume made by xorriso: known
// answers, progress, partition records, stops, damaged catalogs, and the
// deleted records that a journal's older node copies hold.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <set>

#include "HFSPlusFileNode.h"
#include "HFSPlusQuickSearch.h"
#include "HFSPlusStructs.h"
#include "HFSPlusVolume.h"
#include "HfsTestSupport.h"
#include "ImageFileDevice.h"
#include "SearchedPartitionInfo.h"
#include "StampedMemoryDevice.h"
#include "StorageDevice.h"
#include "TestSupport.h"

namespace {

// HFS+ keeps names decomposed.
const std::string kUnicodeName = "U\xCC\x88ni\xCC\x88" "co\xCC\x88" "de\xCC\x81 \xF0\x9F\x98\x80.txt";

std::string StoredPath(const std::string& path)
{
    return path.rfind("\xC3\x9C", 0) == 0 ? kUnicodeName : path;
}

struct Scan {
    std::unique_ptr<CHfsRecordingBuilder> builder = std::make_unique<CHfsRecordingBuilder>();
    CHfsRecordingProgress progress;
    std::unique_ptr<CHFSPlusQuickFileSystemSearchController> searcher =
        std::make_unique<CHFSPlusQuickFileSystemSearchController>();
    ResultCode rc = 0;
};

void RunScan(Scan& scan, IStorageDevice* device)
{
    scan.searcher->SetDirecotryTreeBuilder(scan.builder.get());
    scan.rc = scan.searcher->QuickSearchFiles(device, &scan.progress);
}

void PutBE32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
long long ImageSectors(const std::string& image) { return static_cast<long long>(ReadFileBytes(image).size() / 512); }

}  // namespace

TEST(hfs_quick, RecogniserOnBothSectorSizes)
{
    const HfsFixture& f = SharedHfsFixture();
    const std::vector<uint8_t> h = ReadAt(f.image, static_cast<unsigned long long>(f.volumeStart) * 512 + 1024, 512);
    const unsigned long long bytes = static_cast<unsigned long long>(ReadBE32(h.data() + 44)) * ReadBE32(h.data() + 40);

    CImageFileDevice disk(512);
    std::string path = f.image;
    ASSERT_TRUE(disk.Open(path.data()));
    std::unique_ptr<IVolumeAnalyze> hfs(CreateHFSPlusVolumeAnalyze(&disk, static_cast<unsigned long long>(f.volumeStart)));
    EXPECT_EQ(hfs->GetFileSystemType(), FS_HFSPLUS);
    EXPECT_EQ(hfs->GetTotalSector(), static_cast<long long>(bytes / 512));
    char label[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    hfs->GetLabel(label, sizeof label);
    EXPECT_EQ(label[0], 0);
    EXPECT_EQ(label[7], 0);

    std::unique_ptr<IVolumeAnalyze> none(CreateHFSPlusVolumeAnalyze(&disk, 0));
    EXPECT_EQ(none->GetFileSystemType(), FS_UNKNOWN);
    EXPECT_EQ(none->GetTotalSector(), 0);
    std::unique_ptr<IVolumeAnalyze> noDevice(CreateHFSPlusVolumeAnalyze(nullptr, 0));
    EXPECT_EQ(noDevice->GetFileSystemType(), FS_UNKNOWN);

    // The volume starts on a 4 KiB boundary: as 4096-byte sectors the header
    // lies 1024 bytes into the volume's first sector.
    ASSERT_EQ(f.volumeStart % 8, 0);
    CImageFileDevice big(4096);
    ASSERT_TRUE(big.Open(path.data()));
    std::unique_ptr<IVolumeAnalyze> four(CreateHFSPlusVolumeAnalyze(&big, static_cast<unsigned long long>(f.volumeStart / 8)));
    EXPECT_EQ(four->GetFileSystemType(), FS_HFSPLUS);
    EXPECT_EQ(four->GetTotalSector(), static_cast<long long>(bytes / 4096));
}

// Every file and folder, with ids from fls, sizes, flags, a known time and
// the bytes of every file through its data runs.
TEST(hfs_quick, FixtureKnownAnswers)
{
    const HfsFixture& f = SharedHfsFixture();
    const std::string digest = FileDigest(f.image);
    auto device = OpenVolume(f.image, f.volumeStart, f.volumeSectors);
    Scan scan;
    RunScan(scan, device.get());
    EXPECT_EQ(scan.rc, 0u);
    EXPECT_EQ(scan.builder->m_events, (std::vector<std::string>{"info 31 2", "flash 31"}));

    const auto byPath = scan.builder->ByPath();
    const auto files = HfsFixtureFiles();
    // The volume's root folder comes too (its parent is the root's parent).
    EXPECT_EQ(byPath.size(), files.size() + HfsFixtureFolders().size() + 1);
    EXPECT_EQ(scan.builder->m_nodes.size(), byPath.size());
    const uint32_t blockSize = ReadGeometry(f).blockSize;
    for (const auto& [path, content] : files) {
        auto it = byPath.find(StoredPath(path));
        ASSERT_NE(it, byPath.end()) << path;
        CHFSPlusFileNode* node = it->second;
        EXPECT_FALSE(node->IsDirectory()) << path;
        EXPECT_FALSE(node->IsDeleted()) << path;
        EXPECT_EQ(node->GetFileSize(), static_cast<long long>(content.size())) << path;
        EXPECT_EQ(ReadNodeData(f, node, blockSize), content) << path;
    }
    for (const std::string& folder : HfsFixtureFolders()) {
        auto it = byPath.find(folder);
        ASSERT_NE(it, byPath.end()) << folder;
        EXPECT_TRUE(it->second->IsDirectory());
    }
    const unsigned long long aTime = byPath.at("a.txt")->GetModificationTime();
    EXPECT_EQ((aTime - 116444736000000000ULL) / 10000000ULL, static_cast<unsigned long long>(kHfsFixtureATime));

    // Catalog ids against The Sleuth Kit.
    const std::string fls = RunTool("fls -r -p -o " + std::to_string(f.volumeStart) + " '" + f.image + "'");
    for (const char* path : {"a.txt", "docs/sub/deep.txt", "many/f300.txt"}) {
        const size_t at = fls.find(std::string(":\t") + path + "\n");
        ASSERT_NE(at, std::string::npos) << path;
        const size_t start = fls.rfind(' ', at) + 1;
        EXPECT_EQ(std::stoll(fls.substr(start, at - start)), byPath.at(path)->GetCurrentNodeID()) << path;
    }

    // Progress: one step per live node, a total of files + folders + 1, and
    // the finishing report last.
    ASSERT_FALSE(scan.progress.m_reports.empty());
    const auto& last = scan.progress.m_reports.back();
    EXPECT_EQ(last.state, 3u);
    EXPECT_EQ(last.done, byPath.size());
    const std::vector<uint8_t> h = ReadAt(f.image, static_cast<unsigned long long>(f.volumeStart) * 512 + 1024, 512);
    EXPECT_EQ(last.total, 1ull + ReadBE32(h.data() + 32) + ReadBE32(h.data() + 36));
    EXPECT_EQ(FileDigest(f.image), digest);

    // The partition record.
    CSearchedPartitionInfo* out[1] = {nullptr};
    EXPECT_EQ(scan.searcher->GetSearchedPartitionInfo(out, 0), 1);
    EXPECT_EQ(out[0], nullptr);
    ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(out, 1), 1);
    std::unique_ptr<CSearchedPartitionInfo> info(out[0]);
    EXPECT_EQ(info->GetFileSystemType(), FS_HFSPLUS);
    EXPECT_EQ(info->GetSectorsPerUnit(), blockSize / 512);
    EXPECT_EQ(info->GetVolumeContext(), scan.searcher->GetPrivateData());
    EXPECT_EQ(info->GetTotalSectors(), static_cast<unsigned long long>(f.volumeSectors));
    EXPECT_EQ(info->GetPartitionIndex(), 0);
}

TEST(hfs_quick, FailuresAndStops)
{
    const HfsFixture& f = SharedHfsFixture();
    {
        Scan scan;
        scan.searcher->SetDirecotryTreeBuilder(scan.builder.get());
        EXPECT_EQ(scan.searcher->QuickSearchFiles(nullptr, &scan.progress), 0x105001A00000005ULL);
        ASSERT_FALSE(scan.progress.m_reports.empty());
        EXPECT_EQ(scan.progress.m_reports.back().state, 3u);
    }
    {
        auto device = OpenVolume(f.image, f.volumeStart, f.volumeSectors);
        CHFSPlusQuickFileSystemSearchController searcher;
        EXPECT_EQ(searcher.QuickSearchFiles(device.get(), nullptr), 0x105001B00000002ULL);
    }
    {
        // Not a volume: the open fails and nothing reaches the builder.
        auto device = OpenVolume(f.image, 0, f.volumeStart);
        Scan scan;
        RunScan(scan, device.get());
        EXPECT_TRUE(IsResultFailure(scan.rc));
        EXPECT_TRUE(scan.builder->m_nodes.empty());
    }
    for (int stopAfter : {0, 1, 5, 40}) {
        auto device = OpenVolume(f.image, f.volumeStart, f.volumeSectors);
        Scan scan;
        scan.progress.m_stopAfter = stopAfter;
        RunScan(scan, device.get());
        EXPECT_EQ(scan.rc, 0u) << stopAfter;
        EXPECT_LE(scan.builder->m_nodes.size(), static_cast<size_t>(stopAfter)) << stopAfter;
        EXPECT_EQ(scan.progress.m_reports.back().state, 3u);
    }
    {
        // Refused nodes are released by the searcher (the leak checker
        // watches this).
        auto device = OpenVolume(f.image, f.volumeStart, f.volumeSectors);
        Scan scan;
        scan.builder->m_refuseAll = true;
        RunScan(scan, device.get());
        EXPECT_TRUE(scan.builder->m_nodes.empty());
    }
}

// Damaged catalog nodes: the scan ends, in bounded time, with fewer files
// and no crash.
TEST(hfs_quick, DamagedCatalogYieldsFewerFiles)
{
    TempDir dir;
    const HfsFixture base = MakeHfsFixture(dir.path());
    const HfsGeometry g = ReadGeometry(base);
    ASSERT_EQ(g.catalogNodeSize, 4096u);
    ASSERT_GE(g.catalogTotalNodes, 4u);
    const size_t full = HfsFixtureFiles().size() + HfsFixtureFolders().size() + 1;
    const unsigned long long root = g.catalogOffset + static_cast<unsigned long long>(g.catalogRoot) * g.catalogNodeSize;
    const std::vector<uint8_t> rootNode = ReadAt(base.image, root, g.catalogNodeSize);
    ASSERT_EQ(static_cast<int8_t>(rootNode[8]), 0) << "the fixture's root should be an index node";
    const unsigned records = ReadBE16(rootNode.data() + 10);
    const unsigned long long leaf =
        g.catalogOffset + static_cast<unsigned long long>(g.catalogFirstLeaf + 2) * g.catalogNodeSize;

    struct Damage {
        const char* what;
        std::function<void(const std::string&)> apply;
        bool opens;
    };
    const std::vector<Damage> damages = {
        {"every child of the root is the root",
         [&](const std::string& image) {
             for (unsigned i = 0; i < records; ++i) {
                 const unsigned offset = ReadBE16(rootNode.data() + g.catalogNodeSize - 2 * (i + 1));
                 const unsigned keyLength = ReadBE16(rootNode.data() + offset) + 2;
                 std::vector<uint8_t> child(4);
                 PutBE32(child, 0, g.catalogRoot);
                 WriteAt(image, root + offset + keyLength, child.data(), 4);
             }
         },
         true},
        {"children beyond the tree",
         [&](const std::string& image) {
             const unsigned offset = ReadBE16(rootNode.data() + g.catalogNodeSize - 2);
             const unsigned keyLength = ReadBE16(rootNode.data() + offset) + 2;
             std::vector<uint8_t> child(4);
             PutBE32(child, 0, 0x7FFFFFFF);
             WriteAt(image, root + offset + keyLength, child.data(), 4);
         },
         true},
        {"leaf record count far too large",
         [&](const std::string& image) {
             const uint8_t count[2] = {0xFF, 0xFF};
             WriteAt(image, leaf + 10, count, 2);
         },
         true},
        {"leaf record offsets out of order",
         [&](const std::string& image) {
             const uint8_t offsets[6] = {0x00, 0x20, 0x0F, 0xF0, 0x00, 0x0E};
             WriteAt(image, leaf + g.catalogNodeSize - 6, offsets, 6);
         },
         true},
        {"leaf key lengths beyond their records",
         [&](const std::string& image) {
             const uint8_t big[2] = {0x0F, 0xF0};
             WriteAt(image, leaf + 14, big, 2);
         },
         true},
        {"root pointing nowhere",
         [&](const std::string& image) {
             std::vector<uint8_t> v(4);
             PutBE32(v, 0, 0xFFFFFFF0);
             WriteAt(image, g.catalogOffset + 14 + 2, v.data(), 4);
         },
         true},
        {"node size zero",
         [&](const std::string& image) {
             const uint8_t zero[2] = {0, 0};
             WriteAt(image, g.catalogOffset + 14 + 18, zero, 2);
         },
         false},
        {"catalog overwritten with noise",
         [&](const std::string& image) {
             std::mt19937 rng(7);
             std::vector<uint8_t> noise(static_cast<size_t>(g.catalogNodeSize) * (g.catalogTotalNodes - 1));
             for (auto& b : noise)
                 b = static_cast<uint8_t>(rng());
             WriteAt(image, g.catalogOffset + g.catalogNodeSize, noise.data(), noise.size());
         },
         true},
    };
    for (const Damage& d : damages) {
        const std::string image = dir / "damaged.iso";
        CopyImage(base.image, image);
        d.apply(image);
        const std::string digest = FileDigest(image);
        auto device = OpenVolume(image, base.volumeStart, base.volumeSectors);
        Scan scan;
        const auto started = std::chrono::steady_clock::now();
        RunScan(scan, device.get());
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << d.what;
        EXPECT_EQ(!IsResultFailure(scan.rc), d.opens) << d.what;
        EXPECT_LT(scan.builder->m_nodes.size(), full) << d.what;
        EXPECT_EQ(scan.progress.m_reports.back().state, 3u) << d.what;
        EXPECT_EQ(FileDigest(image), digest) << d.what;
    }
}

// A journal whose stale part holds an older copy of a catalog leaf: the
// records the live leaf lost come back as deleted files, once each, with
// their data.
TEST(hfs_quick, JournalCopiesGiveDeletedFiles)
{
    TempDir dir;
    const HfsFixture base = MakeHfsFixture(dir.path());
    const HfsGeometry g = ReadGeometry(base);
    const std::string image = base.image;
    const std::set<std::string> expected = AddJournalOfOldLeaf(base);
    const std::string digest = FileDigest(image);
    auto device = OpenVolume(image, base.volumeStart, ImageSectors(image) - base.volumeStart);
    Scan scan;
    RunScan(scan, device.get());
    EXPECT_EQ(scan.rc, 0u);
    std::set<std::string> deleted;
    for (CHFSPlusFileNode* node : scan.builder->m_nodes) {
        if (!node->IsDeleted())
            continue;
        deleted.insert(node->GetFileName());
        EXPECT_EQ(scan.builder->PathOf(node).rfind("many/", 0), 0u) << node->GetFileName();
        const std::string content = HfsFixtureFiles().at("many/" + std::string(node->GetFileName()));
        EXPECT_EQ(ReadNodeData(base, node, g.blockSize), content) << node->GetFileName();
    }
    EXPECT_EQ(deleted, expected);
    // The deleted nodes come first, then every live one.
    ASSERT_FALSE(scan.builder->m_nodes.empty());
    EXPECT_TRUE(scan.builder->m_nodes.front()->IsDeleted());
    EXPECT_EQ(scan.builder->m_nodes.size(),
              HfsFixtureFiles().size() + HfsFixtureFolders().size() + 1);
    // Progress: one step per record found in the journal, one per deleted
    // node taken, one per live node.
    EXPECT_EQ(scan.progress.m_reports.back().done, scan.builder->m_nodes.size() + expected.size());
    EXPECT_EQ(FileDigest(image), digest);
}

// The catalog is kept in memory only when the device can hold it: a fork
// claiming more gets no copy, and nothing is read for one, while a fork the
// device holds is copied in one pass.
TEST(hfs_quick, CatalogCopyOnlyWhatTheDeviceHolds)
{
    const HfsFixture& f = SharedHfsFixture();
    auto source = OpenVolume(f.image, f.volumeStart, f.volumeSectors);
    CCountingDevice device(source.get());
    CHFSPlusVolume volume(&device, false);
    ASSERT_EQ(volume.GetLastError(), 0u);
    const HFSPlusForkData& catalog = volume.GetVolumeHeader()->catalogFile;
    {
        const size_t before = device.Reads().size();
        CHFSPlusFileCache copy(&volume, 4, catalog);
        EXPECT_EQ(copy.GetLoadedLength(), static_cast<unsigned long long>(catalog.totalBlocks) * volume.GetBlockSize());
        EXPECT_GT(device.Reads().size(), before);
    }
    HFSPlusForkData claimed = catalog;
    const unsigned long long deviceBlocks =
        static_cast<unsigned long long>(device.GetTotalSectors()) * device.GetSectorSize() / volume.GetBlockSize();
    for (unsigned long long blocks : {deviceBlocks + 1, 0xFFFFFFFFULL}) {
        SCOPED_TRACE(blocks);
        claimed.totalBlocks = static_cast<uint32_t>(blocks);
        const size_t before = device.Reads().size();
        CHFSPlusFileCache copy(&volume, 4, claimed);
        EXPECT_EQ(copy.GetLoadedLength(), 0u);
        EXPECT_EQ(device.Reads().size(), before);
        // Its first node still reads through the extents.
        std::vector<unsigned char> node(512);
        EXPECT_EQ(copy.Read(0, node.data(), node.size()), node.size());
    }
}

// Searches and lookups of an opened volume.
TEST(hfs_quick, VolumeSearchesAndOwners)
{
    const HfsFixture& f = SharedHfsFixture();
    auto device = OpenVolume(f.image, f.volumeStart, f.volumeSectors);
    CHFSPlusVolume volume(device.get(), false);
    ASSERT_EQ(volume.GetLastError(), 0u);
    // This volume has no attributes file, and opens all the same.
    EXPECT_EQ(volume.GetAttributesTree(), nullptr);
    std::vector<unsigned char> data;
    EXPECT_EQ(volume.getAttribute(16, "com.apple.decmpfs", data), 0u);

    auto key = [](uint32_t parent, const std::u16string& name) {
        BTKey k;
        std::memset(&k, 0, sizeof k);
        k.catalog.keyLength = static_cast<uint16_t>(6 + 2 * name.size());
        k.catalog.parentID = parent;
        k.catalog.nodeName.length = static_cast<uint16_t>(name.size());
        std::memcpy(k.raw + 8, name.data(), 2 * name.size());
        return k;
    };
    HFSPlusSearchResult result;
    unsigned char* record = nullptr;
    BTKey a = key(2, u"A.TXT");  // case-folding catalog
    ASSERT_EQ(volume.Search(4, &a, result, &record), 0u);
    std::unique_ptr<unsigned char[]> owned(record);
    ASSERT_EQ(result.found, 1);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(int16_t{reinterpret_cast<HFSPlusCatalogRecord*>(record)->recordType}, kHFSPlusFileRecord);

    // Below the first key of the index root there is no child to take.
    BTKey first = key(0, u"");
    EXPECT_EQ(volume.Search(4, &first, result, nullptr), 0x105008600000006ULL);
    EXPECT_EQ(result.found, 0);
    BTKey missing = key(2, u"no such file");
    ASSERT_EQ(volume.Search(4, &missing, result, nullptr), 0u);
    EXPECT_EQ(result.found, 0);
    EXPECT_EQ(volume.Search(5, &a, result, nullptr), 0x105008A00000003ULL);

    const std::vector<uint8_t> h = ReadAt(f.image, static_cast<unsigned long long>(f.volumeStart) * 512 + 1024, 512);
    const uint32_t bs = ReadBE32(h.data() + 40);
    EXPECT_EQ(volume.GetNodeBelongToFile(static_cast<unsigned long long>(ReadBE32(h.data() + 272 + 16)) * bs), 4);
    EXPECT_EQ(volume.GetNodeBelongToFile(static_cast<unsigned long long>(ReadBE32(h.data() + 192 + 16)) * bs), 3);
    EXPECT_EQ(volume.GetNodeBelongToFile(static_cast<unsigned long long>(ReadBE32(h.data() + 112 + 16)) * bs), 6);
    EXPECT_EQ(volume.GetNodeBelongToFile(0), 0);

    // Opened without its catalog, the volume reports it but keeps the rest.
    CHFSPlusVolume bare(device.get(), true);
    EXPECT_TRUE(IsResultFailure(bare.GetLastError()));
    EXPECT_NE(bare.GetVolumeHeader(), nullptr);
    EXPECT_NE(bare.GetExtentsTree(), nullptr);
    EXPECT_EQ(bare.GetCatalogTree(), nullptr);
    EXPECT_EQ(CHFSPlusVolume(nullptr, false).GetLastError(), 0x105002000000005ULL);
}

// Damaged journals end their walk with fewer or no deleted files, never a
// hang; the live files are all there.
TEST(hfs_quick, DamagedJournals)
{
    TempDir dir;
    const HfsFixture base = MakeHfsFixture(dir.path());
    const std::set<std::string> deleted = AddJournalOfOldLeaf(base);
    const unsigned long long volume = static_cast<unsigned long long>(base.volumeStart) * 512;
    const std::vector<uint8_t> h = ReadAt(base.image, volume + 1024, 512);
    const unsigned long long info = volume + static_cast<unsigned long long>(ReadBE32(h.data() + 12)) * ReadBE32(h.data() + 40);
    const std::vector<uint8_t> infoBlock = ReadAt(base.image, info, 52);
    unsigned long long journal = 0;
    for (int i = 0; i < 8; ++i)
        journal = (journal << 8) | infoBlock[36 + i];
    journal += volume;
    const size_t live = HfsFixtureFiles().size() + HfsFixtureFolders().size() + 1;

    struct Damage {
        const char* what;
        unsigned long long at;  // byte offset from the journal's start
        std::vector<uint8_t> bytes;
        size_t expectedDeleted;
    };
    const std::vector<Damage> damages = {
        {"journal size zero (header and info block)", 24, {0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"end offset not on a step", 16, {0x01, 0x02, 0, 0, 0, 0, 0, 0}, 0},
        {"journal header size zero", 40, {0, 0, 0, 0}, 0},
        {"block count beyond the list", 512 + 2, {0xFF, 0xFF}, deleted.size()},
        {"block sizes huge", 512 + 16 + 8, {0xFF, 0xFF, 0xFF, 0x7F}, 0},
        {"bad magic", 0, {0, 0, 0, 0}, 0},
        {"other byte order", 4, {0x12, 0x34, 0x56, 0x78}, 0},
    };
    for (const Damage& d : damages) {
        const std::string image = dir / "journal.iso";
        CopyImage(base.image, image);
        WriteAt(image, journal + d.at, d.bytes.data(), d.bytes.size());
        if (std::string(d.what).rfind("journal size zero", 0) == 0) {
            const std::vector<uint8_t> zero(8, 0);
            WriteAt(image, info + 44, zero.data(), zero.size());
        }
        auto device = OpenVolume(image, base.volumeStart, ImageSectors(image) - base.volumeStart);
        Scan scan;
        const auto started = std::chrono::steady_clock::now();
        RunScan(scan, device.get());
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << d.what;
        EXPECT_EQ(scan.rc, 0u) << d.what;
        size_t found = 0;
        for (CHFSPlusFileNode* node : scan.builder->m_nodes)
            found += node->IsDeleted() ? 1 : 0;
        EXPECT_EQ(found, d.expectedDeleted) << d.what;
        EXPECT_EQ(scan.builder->m_nodes.size() - found, live - deleted.size()) << d.what;
    }
}

// A stop during the deleted records delivers at most one more of them, and
// the catalog walk then stops at its first question.
TEST(hfs_quick, StopDuringDeletedRecords)
{
    TempDir dir;
    const HfsFixture base = MakeHfsFixture(dir.path());
    ASSERT_GE(AddJournalOfOldLeaf(base).size(), 2u);
    auto device = OpenVolume(base.image, base.volumeStart, ImageSectors(base.image) - base.volumeStart);
    Scan scan;
    // Two questions for the two journal blocks, one before the deleted
    // records, then the stop.
    scan.progress.m_stopAfter = 3;
    RunScan(scan, device.get());
    EXPECT_EQ(scan.rc, 0u);
    ASSERT_EQ(scan.builder->m_nodes.size(), 1u);
    EXPECT_TRUE(scan.builder->m_nodes.front()->IsDeleted());
    EXPECT_EQ(scan.progress.m_reports.back().state, 3u);
}

// The same volume read as 4096-byte sectors gives the same files: the byte
// reads split and join sectors of either size.
TEST(hfs_quick, FourKiBSectors)
{
    const HfsFixture& f = SharedHfsFixture();
    TempDir dir;
    std::string path = dir / "volume.img";
    RunTool("dd if='" + f.image + "' of='" + path + "' bs=512 skip=" + std::to_string(f.volumeStart) +
            " count=" + std::to_string(f.volumeSectors) + " status=none");
    auto volumeDevice = std::make_unique<CImageFileDevice>(4096, STORAGE_DEVICE_VOLUME);
    ASSERT_TRUE(volumeDevice->Open(path.data()));
    Scan scan;
    RunScan(scan, volumeDevice.get());
    EXPECT_EQ(scan.rc, 0u);
    const auto byPath = scan.builder->ByPath();
    EXPECT_EQ(byPath.size(), HfsFixtureFiles().size() + HfsFixtureFolders().size() + 1);
    for (const char* name : {"a.txt", "docs/big.txt", "many/f123.txt"}) {
        ASSERT_TRUE(byPath.count(name)) << name;
        EXPECT_EQ(byPath.at(name)->GetFileSize(), static_cast<long long>(HfsFixtureFiles().at(name).size()));
    }
    const CHFSPlusVolume* volume = scan.searcher->GetPrivateData()->GetVolume();
    EXPECT_EQ(volume->GetSectorSize(), 4096u);
    // Unaligned reads across sector edges.
    std::vector<unsigned char> viaVolume(5000);
    auto* v = const_cast<CHFSPlusVolume*>(volume);
    ASSERT_EQ(v->Read(1000, viaVolume.data(), viaVolume.size()), viaVolume.size());
    const std::vector<uint8_t> direct = ReadAt(f.image, static_cast<unsigned long long>(f.volumeStart) * 512 + 1000, 5000);
    EXPECT_TRUE(std::equal(direct.begin(), direct.end(), viaVolume.begin()));
}
