// The quick walk over the committed images into a recording builder, its
// finishing reports, and damaged folders.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "ExFatFileNode.h"
#include "ExFatQuickSearch.h"
#include "ExFatTestSupport.h"
#include "ImageFileDevice.h"
#include "SearchedPartitionInfo.h"
#include "StampedMemoryDevice.h"
#include "TestSupport.h"

namespace {

struct Scan {
    std::unique_ptr<CRecordingBuilder> builder = std::make_unique<CRecordingBuilder>();
    CRecordingProgress progress;
    std::unique_ptr<CExFatQuickSearch> searcher = std::make_unique<CExFatQuickSearch>();
};

void RunScan(Scan& scan, IStorageDevice* device, bool withProgress = true)
{
    scan.searcher->SetDirecotryTreeBuilder(scan.builder.get());
    EXPECT_EQ(scan.searcher->QuickSearchFiles(device, withProgress ? &scan.progress : nullptr), 0u);
}

// The sectors that a node's runs cover, cut to its size.
std::vector<long long> RunSectors(CExFatFileNode* node, long long heap, unsigned int perCluster,
                                  unsigned int sectorSize)
{
    std::vector<long long> out;
    IDataRunList* runs = node->GetDataRunList();
    for (DataRun* r = runs ? runs->GetFirst() : nullptr; r; r = runs->GetNext())
        for (long long i = 0; i < r->llLength * perCluster; ++i)
            out.push_back(heap + r->llStart * perCluster + i);
    const size_t needed = static_cast<size_t>((node->GetFileSize() + sectorSize - 1) / sectorSize);
    if (out.size() > needed)
        out.resize(needed);
    return out;
}

std::string ReadRuns(const std::string& image, CExFatFileNode* node, long long heap, unsigned int perCluster,
                     unsigned int sectorSize)
{
    std::string bytes;
    for (long long s : RunSectors(node, heap, perCluster, sectorSize)) {
        std::vector<uint8_t> one = ReadAt(image, static_cast<unsigned long long>(s) * sectorSize, sectorSize);
        bytes.append(one.begin(), one.end());
    }
    bytes.resize(std::min<size_t>(bytes.size(), static_cast<size_t>(node->GetFileSize())));
    return bytes;
}

std::string Sha256(const std::string& bytes)
{
    TempDir dir;
    std::ofstream(dir / "b", std::ios::binary) << bytes;
    return FileDigest(dir / "b");
}

void ExpectFinished(const CRecordingProgress& progress, const std::string& what)
{
    ASSERT_FALSE(progress.m_reports.empty()) << what;
    const auto& last = progress.m_reports.back();
    EXPECT_EQ(last.state, 3u) << what;
    EXPECT_EQ(last.total, 1u) << what;
    EXPECT_EQ(last.done, 1u) << what;
    for (size_t i = 0; i + 1 < progress.m_reports.size(); ++i)
        EXPECT_EQ(progress.m_reports[i].state, 2u) << what << ": only the last report finishes";
}

bool EndsWithTreeFlush(const CRecordingBuilder& builder)
{
    const auto& e = builder.m_events;
    return e.size() >= 2 && e[e.size() - 2] == "partition none device" && e.back() == "flash 33";
}

}  // namespace

// Known answers for ex-quick.img: every node, its folder, flags, ids, runs
// and times against fls and istat, and the bytes against the manifest.
TEST(exfat_quick, QuickImageKnownAnswers)
{
    const std::string image = ExFatImagePath("ex-quick.img");
    const std::string digest = FileDigest(image);
    auto device = OpenImageFileDisk(image, 512);
    ASSERT_TRUE(device);
    Scan scan;
    RunScan(scan, device.get());
    CRecordingBuilder& b = *scan.builder;

    ASSERT_FALSE(b.m_events.empty());
    EXPECT_EQ(b.m_events.front(), "info 33 4120");
    EXPECT_TRUE(EndsWithTreeFlush(b));
    ExpectFinished(scan.progress, "ex-quick");
    for (_tagSearcherType t : b.m_nodeTypes)
        EXPECT_EQ(t, SEARCHER_EXFAT);

    const auto byPath = b.ByPath();
    const auto tree = FlsTree(image);
    EXPECT_EQ(byPath.size(), static_cast<size_t>(kQuickNodes));
    EXPECT_EQ(tree.size(), static_cast<size_t>(kQuickNodes));
    int deleted = 0;
    for (const auto& [path, e] : tree) {
        auto it = byPath.find(path);
        ASSERT_NE(it, byPath.end()) << path;
        CExFatFileNode* node = it->second;
        EXPECT_EQ(node->IsDeleted(), e.deleted ? 1 : 0) << path;
        EXPECT_EQ(node->IsDirectory(), e.directory ? 1 : 0) << path;
        deleted += node->IsDeleted();

        const IstatInfo info = Istat(image, e.inode);
        EXPECT_EQ(node->GetFileSize(), info.size) << path;
        const long long id = info.sectors.empty() ? 0 : info.sectors.front();
        EXPECT_EQ(node->GetCurrentNodeID(), id) << path;
        const size_t slash = path.rfind('/');
        const long long parent =
            slash == std::string::npos ? kQuickRootSector : byPath.at(path.substr(0, slash))->GetCurrentNodeID();
        EXPECT_EQ(node->GetParentNodeID(), parent) << path;

        if (!node->IsDirectory()) {
            std::vector<long long> expected = info.sectors;
            // istat lists one sector more when the size is a whole number of sectors.
            expected.resize(std::min<size_t>(expected.size(), (info.size + 511) / 512));
            if (path == "S.txt")  // its FAT entries were zeroed: the first cluster only
                expected.resize(kQuickSectorsPerCluster);
            EXPECT_EQ(RunSectors(node, kQuickHeap, kQuickSectorsPerCluster, 512), expected) << path;
        } else {
            EXPECT_TRUE(RunSectors(node, kQuickHeap, kQuickSectorsPerCluster, 512).empty()) << path;
        }
        EXPECT_EQ(FileTimeToUnix(node->GetModificationTime()), info.written) << path;
        EXPECT_EQ(FileTimeToUnix(node->GetLastAccessTime()), info.accessed) << path;
        // The 10-ms field that may add a second is not used.
        const long long created = FileTimeToUnix(node->GetCreationTime());
        EXPECT_TRUE(created == info.created || created + 1 == info.created) << path;
    }
    EXPECT_EQ(deleted, 8);

    const std::set<long long> emptyIds = [&] {
        std::set<long long> ids;
        for (const auto& [path, node] : byPath)
            if (node->GetFileSize() == 0)
                ids.insert(node->GetCurrentNodeID());
        return ids;
    }();
    EXPECT_EQ(emptyIds, std::set<long long>{0}) << "every empty file has node id 0";

    // Bytes of every file written, through the runs.
    const auto manifest = Manifest("ex-quick.sha256");
    EXPECT_EQ(manifest.size(), 142u);
    for (const auto& [path, sha] : manifest) {
        auto it = byPath.find(path);
        ASSERT_NE(it, byPath.end()) << path;
        const std::string bytes = ReadRuns(image, it->second, kQuickHeap, kQuickSectorsPerCluster, 512);
        if (path == "S.txt")
            EXPECT_EQ(bytes.substr(0, 4096), PutContent("S.txt", 3000).substr(0, 4096));
        else
            EXPECT_EQ(Sha256(bytes), sha) << path;
    }

    // The contiguous folder is read whole, not through its (zero) FAT entries.
    int contigChildren = 0;
    for (const auto& [path, node] : byPath)
        if (path.rfind("contig/", 0) == 0 && path.find('/', 7) == std::string::npos)
            ++contigChildren;
    EXPECT_EQ(contigChildren, 121);
    ASSERT_TRUE(byPath.count("contig/sub/inner.txt"));
    ASSERT_TRUE(byPath.count("contig/data.txt"));
    EXPECT_EQ(byPath.at("contig/data.txt")->GetFileSize(), 42000);
    EXPECT_TRUE(byPath.count("emoji-😀-name.txt"));
    EXPECT_TRUE(byPath.count("abcdefghijklmn😀.txt"));
    EXPECT_TRUE(byPath.count("Ünïcödé-名前.txt"));

    CSearchedPartitionInfo* records[2] = {};
    EXPECT_EQ(scan.searcher->GetSearchedPartitionInfo(records, 0), 1);
    EXPECT_EQ(records[0], nullptr);
    ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(records, 2), 1);
    std::unique_ptr<CSearchedPartitionInfo> record(records[0]);
    ASSERT_TRUE(record);
    EXPECT_EQ(records[1], nullptr);
    EXPECT_EQ(record->GetFileSystemType(), FS_EXFAT);
    EXPECT_EQ(record->GetSectorsPerUnit(), 8u);
    EXPECT_EQ(record->GetUnitBase(), 4096);
    EXPECT_EQ(record->GetSectorSize(), 512u);
    EXPECT_EQ(record->GetPartitionStart(), 0);
    EXPECT_EQ(FileDigest(image), digest);
}

TEST(exfat_quick, FourKiBSectorImage)
{
    const std::string image = ExFatImagePath("ex-4k.img");
    auto device = OpenImageFileDisk(image, 4096);
    ASSERT_TRUE(device);
    Scan scan;
    RunScan(scan, device.get());
    CRecordingBuilder& b = *scan.builder;
    ASSERT_FALSE(b.m_events.empty());
    EXPECT_EQ(b.m_events.front(), "info 33 515");
    ExpectFinished(scan.progress, "ex-4k");

    const auto byPath = b.ByPath();
    const auto tree = FlsTree(image);
    ASSERT_EQ(byPath.size(), 4u);
    ASSERT_EQ(tree.size(), 4u);
    const auto manifest = Manifest("ex-4k.sha256");
    for (const auto& [path, e] : tree) {
        ASSERT_TRUE(byPath.count(path)) << path;
        CExFatFileNode* node = byPath.at(path);
        EXPECT_EQ(node->IsDeleted(), e.deleted ? 1 : 0) << path;
        if (node->IsDirectory())
            continue;
        std::vector<long long> expected = Istat(image, e.inode).sectors;
        expected.resize(std::min<size_t>(expected.size(), (node->GetFileSize() + 4095) / 4096));
        EXPECT_EQ(RunSectors(node, 512, 1, 4096), expected) << path;
        EXPECT_EQ(Sha256(ReadRuns(image, node, 512, 1, 4096)), manifest.at(path)) << path;
    }
    EXPECT_EQ(byPath.at("dir/two.txt")->IsDeleted(), 1);
    CSearchedPartitionInfo* record = nullptr;
    ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(&record, 1), 1);
    EXPECT_EQ(record->GetSectorSize(), 4096u);
    EXPECT_EQ(record->GetSectorsPerUnit(), 1u);
    EXPECT_EQ(record->GetUnitBase(), 512);
    delete record;
}

// Every way the walk can end sends the finishing report; once the tree was
// announced, the builder is flushed as well.
TEST(exfat_quick, EveryEndSendsTheFinishingReport)
{
    TempDir dir;
    const std::string source = ExFatImagePath("ex-quick.img");

    {   // No boot sector: nothing announced, still finished, still exFAT.
        const std::string copy = dir / "noboot.img";
        CopyFile(source, copy);
        RunTool("dd if=/dev/zero of='" + copy + "' bs=512 count=1 conv=notrunc status=none");
        auto device = OpenImageFileDisk(copy, 512);
        Scan scan;
        RunScan(scan, device.get());
        EXPECT_TRUE(scan.builder->m_events.empty());
        ExpectFinished(scan.progress, "no boot sector");
        EXPECT_EQ(scan.progress.m_reports.size(), 1u);
        CSearchedPartitionInfo* record = nullptr;
        ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(&record, 1), 1);
        EXPECT_EQ(record->GetFileSystemType(), FS_EXFAT);
        delete record;
    }
    {   // Cut at sector 4,120: the root cluster cannot be read.
        const std::string copy = dir / "cut.img";
        CopyFile(source, copy);
        RunTool("truncate -s " + std::to_string(4120 * 512) + " '" + copy + "'");
        auto device = OpenImageFileDisk(copy, 512);
        Scan scan;
        RunScan(scan, device.get());
        EXPECT_TRUE(scan.builder->m_nodes.empty());
        EXPECT_EQ(scan.builder->m_events.front(), "info 33 4120");
        EXPECT_TRUE(EndsWithTreeFlush(*scan.builder));
        ExpectFinished(scan.progress, "unreadable root");
    }
    {   // Stopped after the first folder below the root.
        auto device = OpenImageFileDisk(source, 512);
        Scan scan;
        scan.progress.m_stopAfter = 1;
        RunScan(scan, device.get());
        EXPECT_TRUE(EndsWithTreeFlush(*scan.builder));
        ExpectFinished(scan.progress, "stopped");
        EXPECT_EQ(scan.progress.m_continuedCalls, 2);
        const auto byPath = scan.builder->ByPath();
        EXPECT_TRUE(byPath.count("contig/data.txt"));
        EXPECT_FALSE(byPath.count("contig/sub/inner.txt"));
        EXPECT_FALSE(byPath.count("photos/photo 1.txt"));
    }
    {   // Without a progress sink nothing is walked, but the tree is flushed.
        auto device = OpenImageFileDisk(source, 512);
        Scan scan;
        RunScan(scan, device.get(), false);
        EXPECT_TRUE(scan.builder->m_nodes.empty());
        EXPECT_TRUE(EndsWithTreeFlush(*scan.builder));
    }
    {   // Without a device or a builder.
        Scan scan;
        RunScan(scan, nullptr);
        ExpectFinished(scan.progress, "no device");
        CExFatQuickSearch alone;
        CRecordingProgress progress;
        CStampedMemoryDevice device(1000);
        EXPECT_EQ(alone.QuickSearchFiles(&device, &progress), 0u);
        ExpectFinished(progress, "no builder");
    }
}

TEST(exfat_quick, RefusedNodesAreReleasedAndRefusedFoldersNotWalked)
{
    auto device = OpenImageFileDisk(ExFatImagePath("ex-quick.img"), 512);
    Scan scan;
    scan.builder->m_refuse = [](IFileNode* node) {
        const std::string name = node->GetFileName();
        return name == "contig" || name == "A.txt";
    };
    RunScan(scan, device.get());
    const auto byPath = scan.builder->ByPath();
    EXPECT_FALSE(byPath.count("A.txt"));
    EXPECT_FALSE(byPath.count("contig"));
    EXPECT_TRUE(byPath.count("photos/photo 1.txt"));
    for (const auto& [path, node] : byPath)
        EXPECT_EQ(path.find("contig"), std::string::npos) << path;
    EXPECT_EQ(byPath.size(), static_cast<size_t>(kQuickNodes) - 2 - 121 - 1);
}

// Children of a deleted folder are deleted even when their own entries are
// live; a folder that leads back to itself is read once.
TEST(exfat_quick, DeletedFoldersAndLoops)
{
    TempDir dir;
    const std::string copy = dir / "q.img";
    CopyFile(ExFatImagePath("ex-quick.img"), copy);
    // "old stuff" is cluster 73 (sector 4664); make note 1's entries live.
    std::vector<uint8_t> folder = ReadAt(copy, 4664ULL * 512, 4096);
    folder[0] |= 0x80;
    folder[32] |= 0x80;
    folder[64] |= 0x80;
    WriteAt(copy, 4664ULL * 512, folder.data(), folder.size());
    // The root's FAT entry points back to the root.
    const uint32_t self = 5;
    WriteAt(copy, 2048ULL * 512 + 5 * 4, &self, 4);

    auto device = OpenImageFileDisk(copy, 512);
    Scan scan;
    RunScan(scan, device.get());
    const auto byPath = scan.builder->ByPath();
    ASSERT_TRUE(byPath.count("old stuff/note 1.txt"));
    EXPECT_EQ(byPath.at("old stuff/note 1.txt")->IsDeleted(), 1);
    EXPECT_EQ(byPath.size(), static_cast<size_t>(kQuickNodes));
    ExpectFinished(scan.progress, "loop");
}

// Every folder cluster of ex-quick.img overwritten in turn, by random bytes
// and by random byte changes: no crash, no read outside the device, and a
// finishing report each time.
TEST(exfat_quick, DamagedFolderClusters)
{
    TempDir dir;
    const std::string copy = dir / "fuzz.img";
    CopyFile(ExFatImagePath("ex-quick.img"), copy);
    const uint32_t clusters[] = {5, 6, 7, 8, 9, 10, 22, 72, 73};
    std::mt19937 random(20210304);
    for (uint32_t cluster : clusters) {
        const unsigned long long offset = (kQuickHeap + (cluster - 2ULL) * 8) * 512;
        const std::vector<uint8_t> original = ReadAt(copy, offset, 4096);
        for (int variant = 0; variant < 6; ++variant) {
            std::vector<uint8_t> bytes = original;
            if (variant == 0) {
                for (uint8_t& b : bytes)
                    b = static_cast<uint8_t>(random());
            } else {
                // Keep the entry types mostly plausible so that the entry
                // tests, not the type switch, meet the damage.
                for (int k = 0; k < 40 * variant; ++k)
                    bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
            }
            WriteAt(copy, offset, bytes.data(), bytes.size());
            auto image = OpenImageFileDisk(copy, 512);
            ASSERT_TRUE(image);
            CCountingDevice device(image.get());
            Scan scan;
            RunScan(scan, &device);
            const std::string what = "cluster " + std::to_string(cluster) + " variant " + std::to_string(variant);
            ExpectFinished(scan.progress, what);
            EXPECT_TRUE(EndsWithTreeFlush(*scan.builder)) << what;
            for (const auto& read : device.Reads())
                EXPECT_TRUE(read.first >= 0 && read.count > 0 && read.first + read.count <= image->GetTotalSectors())
                    << what << ": read " << read.first << "+" << read.count;
        }
        WriteAt(copy, offset, original.data(), original.size());
    }
}

// A name holding a character no exFAT name may hold ('/', '\', ':', a
// control character), in the folder's first file or in a later one: that
// file is lost, every other entry of the folder is still listed.
TEST(exfat_quick, DamagedNameCostsOnlyItsFile)
{
    const std::string image = ExFatImagePath("ex-quick.img");
    auto clean = OpenImageFileDisk(image, 512);
    ASSERT_TRUE(clean);
    Scan baseline;
    RunScan(baseline, clean.get());
    const auto all = baseline.builder->ByPath();
    ASSERT_EQ(all.size(), static_cast<size_t>(kQuickNodes));

    // The in-use entry sets of the root folder: offset and ASCII name.
    const unsigned long long root = kQuickRootSector * 512ULL;
    const std::vector<uint8_t> cluster = ReadAt(image, root, kQuickSectorsPerCluster * 512);
    std::vector<std::pair<size_t, std::string>> sets;
    for (size_t at = 0; at + 3 * 32 <= cluster.size(); at += 32) {
        if (cluster[at] != 0x85 || cluster[at + 32] != 0xC0 || cluster[at + 64] != 0xC1)
            continue;
        std::string name;
        for (size_t i = 0; i < cluster[at + 32 + 3] && i < 15; ++i)
            name.push_back(static_cast<char>(cluster[at + 64 + 2 + 2 * i]));
        sets.emplace_back(at, name);
    }
    ASSERT_GE(sets.size(), 3u);
    for (size_t which : {size_t{0}, sets.size() / 2}) {
        const auto& [at, name] = sets[which];
        ASSERT_TRUE(all.count(name)) << name;
        for (uint16_t bad : {uint16_t{'/'}, uint16_t{'\\'}, uint16_t{':'}, uint16_t{0x07}, uint16_t{0x0A}}) {
            SCOPED_TRACE(name + " with character " + std::to_string(bad));
            TempDir dir;
            const std::string copy = dir / "name.img";
            CopyFile(image, copy);
            const uint8_t units[2] = {static_cast<uint8_t>(bad), 0};
            WriteAt(copy, root + at + 64 + 2, units, 2);
            const std::string digest = FileDigest(copy);
            auto damaged = OpenImageFileDisk(copy, 512);
            ASSERT_TRUE(damaged);
            Scan scan;
            RunScan(scan, damaged.get());
            std::set<std::string> want, got;
            for (const auto& [path, node] : all)
                if (path != name && path.rfind(name + "/", 0) != 0)
                    want.insert(path);
            for (const auto& [path, node] : scan.builder->ByPath())
                got.insert(path);
            EXPECT_EQ(got, want);
            EXPECT_EQ(FileDigest(copy), digest);
        }
    }
}
