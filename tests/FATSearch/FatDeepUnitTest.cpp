// The FAT complete searcher case by case: orphan directories, 4 KiB
// sectors, the partition list it hands out, a stopped scan, the FAT12
// branches, the partition rules of nodes and parents, the FAT32 guess
// against the file-sector map, and damaged or random input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <set>

#include "DirectoryTreeBuilder.h"
#include "FATCompleteSearcher.h"
#include "FATBuildWorker.h"
#include "FatDeepSupport.h"
#include "RawFileExtTable.h"
#include "RecoveryFilter.h"
#include "SearcherRegistry.h"
#include "TestSupport.h"

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// First sector of a path of a fixture image, from The Sleuth Kit.
long long FirstSectorOf(const std::string& image, const std::string& path)
{
    for (const auto& [p, inode] : FlsInodes(image))
        if (Lower(p) == Lower(path)) {
            const std::vector<long long> sectors = IstatSectors(image, inode);
            return sectors.empty() ? -1 : sectors.front();
        }
    ADD_FAILURE() << path << " is not in " << image;
    return -1;
}

void ExpectScoresInRange(const DeepRun& run)
{
    for (CFATSearchedPartitionInfo* p : run.Partitions()) {
        EXPECT_GE(p->GetScore(), 20.0) << "partition at " << p->GetStartSector();
        EXPECT_LE(p->GetScore(), 100.0) << "partition at " << p->GetStartSector();
    }
}

}  // namespace

// Directories cut off from their volume: one alone makes no partition; three
// of one volume make one FAT16, made from the first and voted for by the
// other two, at the one cluster size they agree on.
TEST(fat_deep, OrphanDirectories)
{
    const std::string fat16 = FatImagePath("fat16.img");
    const long long dirA = FirstSectorOf(fat16, "dirA");
    const long long frag = FirstSectorOf(fat16, "frag");
    const long long sub = FirstSectorOf(fat16, "dirA/_ub");
    ASSERT_GT(dirA, 0);
    ASSERT_GT(frag, dirA);
    ASSERT_GT(sub, frag);

    struct Case {
        const char* name;
        std::vector<long long> sectors;
        size_t partitions;
    };
    // o3 twice: the made-up folders' names start at DIR0 in every scan.
    const Case cases[] = {{"o1.img", {dirA}, 0}, {"o3.img", {dirA, frag, sub}, 1}, {"o3.img", {dirA, frag, sub}, 1}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string image = dir / c.name;
        RunTool("truncate -s 16M '" + image + "'");
        for (long long s : c.sectors)
            RunTool("dd if='" + fat16 + "' of='" + image + "' bs=512 skip=" + std::to_string(s) +
                    " seek=" + std::to_string(s) + " count=1 conv=notrunc status=none");
        auto device = OpenFatImage(image);

        auto run = ScanBlocks(device.get());
        CFATCompleteFSearcher& searcher = run->searcher;
        const CRecordingTreeBuilder& builder = run->builder;
        EXPECT_EQ(searcher.GetFolderSectors().size(), c.sectors.size());
        // The first directory makes a candidate at every cluster size whose
        // FAT would fit the device; each starts its data area at dirA.
        ASSERT_GE(searcher.GetCandidates().size(), 2u);
        for (const auto& candidate : searcher.GetCandidates()) {
            EXPECT_EQ(candidate->GetUnitBase(), dirA);
            EXPECT_EQ(candidate->GetFlag(), 0x10u);
        }
        searcher.EndSearch(1);

        ASSERT_EQ(searcher.GetPartitions().size(), c.partitions);
        EXPECT_TRUE(searcher.GetCandidates().empty());
        if (c.partitions == 0) {
            EXPECT_TRUE(builder.searcherInfos.empty());
            EXPECT_TRUE(builder.flashBuilds.empty());
            continue;
        }
        const CFATSearchedPartitionInfo* p = searcher.GetPartitions().front();
        EXPECT_EQ(p->GetFileSystemType(), FS_FAT16);
        EXPECT_EQ(p->GetUnitBase(), dirA);
        EXPECT_EQ(p->GetSectorsPerUnit(), 4u);
        EXPECT_EQ(p->GetFlag(), 0x10u);
        EXPECT_EQ(CFATCompleteFSearcher::GetVotes(*p), 2);
        EXPECT_EQ(p->GetScore(), 20.0);
        EXPECT_EQ(p->GetPartitionIndex(), 0);
        // Without a boot sector there is no root: the three folders become
        // made-up "DIR" folders with the files of their first clusters.
        const NodeSet nodes = PartitionNodes(builder, 0);
        // Only the first sector of each directory is there: 13 of dirA's
        // files, SUB's first four, and FRAG's three. Under a made-up folder
        // everything counts as deleted.
        const auto deleted = [&](const std::string& path) {
            const auto it = nodes.find(path);
            return it != nodes.end() && it->second.deleted;
        };
        EXPECT_TRUE(deleted("DIR0/file00.bin")) << NodeSetDifference(nodes, {});
        EXPECT_TRUE(deleted("DIR0/file12.bin"));
        EXPECT_TRUE(deleted("DIR0/#ub/sub file 3.txt"));
        EXPECT_TRUE(deleted("DIR1/D"));
        EXPECT_EQ(nodes.size(), 3u + 13 + 4 + 3);
    }
}

// 4 KiB sectors: the buffers follow the device's sector size. A boot sector
// in sectors 0 to 5 makes no backup candidate; the backup at 6 confirms the
// volume at 0.
TEST(fat_deep, FourKiBSectors)
{
    auto device = OpenFatImage("fat32-4k.img", 4096);
    auto run = ScanBlocks(device.get(), nullptr, 1024);
    CFATCompleteFSearcher& searcher = run->searcher;
    const long long total = device->GetTotalSectors();
    std::set<long long> starts;
    for (const auto& candidate : searcher.GetCandidates())
        if (candidate->GetFlag() & CFATCompleteFSearcher::kFlagBootEvidence)
            starts.insert(candidate->GetStartSector());
    EXPECT_EQ(starts, (std::set<long long>{0, 6}));
    searcher.EndSearch(1);

    ASSERT_EQ(searcher.GetPartitions().size(), 1u);
    const CFATSearchedPartitionInfo* p = searcher.GetPartitions().front();
    EXPECT_EQ(p->GetFileSystemType(), FS_FAT32);
    EXPECT_EQ(p->GetStartSector(), 0);
    EXPECT_EQ(p->GetSectorSize(), 4096u);
    EXPECT_EQ(p->GetFlag() & 0x3CCu, 0x3CCu);
    EXPECT_EQ(p->GetScore(), 100.0);
    const NodeSet quick = QuickScanNodes(FatImagePath("fat32-4k.img"), 0, total, FS_FAT32, 4096);
    const NodeSet deep = PartitionNodes(run->builder, 0);
    EXPECT_EQ(deep, quick) << NodeSetDifference(deep, quick);
}

// Copies for the caller only when all fit; a stopped scan adds nothing.
TEST(fat_deep, PartitionListAndStoppedScan)
{
    auto device = OpenFatImage("fat-disk.img");
    auto run = RunDeepScan(device.get());
    ASSERT_EQ(run->Partitions().size(), 2u);

    CSearchedPartitionInfo* sentinel = reinterpret_cast<CSearchedPartitionInfo*>(0x1);
    CSearchedPartitionInfo* list[3] = {sentinel, sentinel, sentinel};
    EXPECT_EQ(run->searcher.GetSearchedPartitionInfo(nullptr, 0), 2);
    EXPECT_EQ(run->searcher.GetSearchedPartitionInfo(list, 1), 0);
    EXPECT_EQ(list[0], sentinel) << "nothing stored when the array is short";
    ASSERT_EQ(run->searcher.GetSearchedPartitionInfo(list, 2), 2);
    EXPECT_EQ(list[2], sentinel);
    for (int i = 0; i < 2; ++i) {
        std::unique_ptr<CSearchedPartitionInfo> copy(list[i]);
        const CFATSearchedPartitionInfo* own = run->Partitions()[static_cast<size_t>(i)];
        auto* fat = dynamic_cast<CFATSearchedPartitionInfo*>(copy.get());
        ASSERT_NE(fat, nullptr);
        EXPECT_NE(copy.get(), own);
        EXPECT_EQ(fat->GetPartitionIndex(), i);
        EXPECT_EQ(fat->GetUnitBase(), own->GetUnitBase());
        EXPECT_EQ(fat->GetStartSector(), own->GetStartSector());
        EXPECT_EQ(fat->GetSectorsPerUnit(), own->GetSectorsPerUnit());
        EXPECT_EQ(fat->GetFlag(), own->GetFlag());
    }
    EXPECT_EQ(run->builder.searcherInfos, (std::vector<std::pair<_tagSearcherType, long long>>{{SEARCHER_FAT, 0}}));
    EXPECT_EQ(run->builder.flashBuilds, std::vector<_tagSearcherType>{SEARCHER_FAT});
    EXPECT_EQ(run->builder.partitionDeviceCalls, 1);
    EXPECT_EQ(run->builder.partition, nullptr);
    EXPECT_EQ(run->builder.device, device.get());

    auto stopped = RunDeepScan(device.get(), nullptr, 0, 0);
    EXPECT_EQ(stopped->searcher.GetSearchedPartitionInfo(nullptr, 0), 0);
    EXPECT_TRUE(stopped->builder.nodes.empty());
    EXPECT_TRUE(stopped->builder.searcherInfos.empty());
    EXPECT_TRUE(stopped->builder.flashBuilds.empty());
    EXPECT_EQ(stopped->builder.partitionDeviceCalls, 0);
}

// Nothing in the scan makes a FAT12 candidate (the boot-sector view, the
// FAT-sector test and the directory typing never answer FAT12), so its
// branches are called directly.
TEST(fat_deep, Fat12BranchesCalledDirectly)
{
    CBufferDevice device(std::vector<uint8_t>(8192 * 512, 0));
    CFATCompleteFSearcher searcher;
    searcher.SetDevice(&device);
    searcher.SetBlockSize(8192);

    FATBootGeometry floppy;
    floppy.eType = FS_FAT12;
    floppy.dwReservedSectors = 1;
    floppy.dwNumberOfFATs = 2;
    floppy.dwSectorsPerFAT = 9;
    floppy.dwSectorsPerCluster = 1;
    floppy.dwRootEntries = 224;
    floppy.u64TotalSectors = 2880;

    struct Case {
        const char* what;
        unsigned long long total;
        unsigned int spf;
        bool backup;
        bool made;
        unsigned int flag;
    };
    const Case cases[] = {
        {"a floppy", 2880, 9, false, true, 0x1},
        {"taken as a backup", 2880, 9, true, true, 0x0},
        {"4,085 clusters are too many", 39 + 4085, 12, false, false, 0},
        {"a FAT too small for its clusters (3 half-bytes each)", 2880, 8, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FATBootGeometry g = floppy;
        g.u64TotalSectors = c.total;
        g.dwSectorsPerFAT = c.spf;
        auto candidate = searcher.BuildPartitionInfoFromBoot(g, 100, c.backup);
        ASSERT_EQ(candidate != nullptr, c.made);
        if (!candidate)
            continue;
        EXPECT_EQ(candidate->GetFileSystemType(), FS_FAT12);
        EXPECT_EQ(candidate->GetFlag(), c.flag);
        EXPECT_EQ(candidate->GetUnitBase(), 100 + 1 + 18 + 14);
        EXPECT_EQ(candidate->GetRootInfo(), 14u);
        EXPECT_EQ(candidate->GetTotalCluster(), 2880u - 33u);
    }

    // The size test of a directory-built FAT12: 3 half-bytes per entry,
    // 1 to 4,084 clusters.
    unsigned int clusters = 0, spf = 0;
    EXPECT_TRUE(searcher.IsValidFileSystem(8192 - 4084, 1, FS_FAT12, &clusters, &spf));
    EXPECT_EQ(clusters, 4084u);
    EXPECT_EQ(spf, 12u);
    EXPECT_FALSE(searcher.IsValidFileSystem(8192 - 4085, 1, FS_FAT12, &clusters, &spf));
    EXPECT_EQ(searcher.CalcFileSystemType(8192 - 4084, 1, &clusters, &spf), FS_UNKNOWN) << "never chosen";

    // A FAT12 boot candidate with its first FAT seen scores 45 + 50.
    searcher.AddBootCandidate(searcher.BuildPartitionInfoFromBoot(floppy, 100, false));
    const uint8_t header[] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(device.Bytes().data() + 101 * 512, header, sizeof header);
    searcher.AnalyzeBlock(0, 8192);
    searcher.EndSearch(1);
    ASSERT_EQ(searcher.GetPartitions().size(), 1u);
    EXPECT_EQ(searcher.GetPartitions().front()->GetFlag(), 0x1u | 0xC0u);
    EXPECT_EQ(searcher.GetPartitions().front()->GetScore(), 95.0);
}

// The deep scan makes the FAT searcher in its place among the others.
TEST(fat_deep, RegisteredAsTheCompleteSearcher)
{
    std::vector<_tagSearcherType> order;
    for (const CompleteSearcherEntry& entry : GetCompleteSearcherFactories()) {
        order.push_back(entry.type);
        if (entry.type != SEARCHER_FAT)
            continue;
        std::unique_ptr<ICompleteFileSystemSearchController> searcher(entry.factory());
        EXPECT_NE(dynamic_cast<CFATCompleteFSearcher*>(searcher.get()), nullptr);
    }
    const auto fat = std::find(order.begin(), order.end(), SEARCHER_FAT);
    ASSERT_NE(fat, order.end());
    for (_tagSearcherType before : {SEARCHER_HFSPLUS, SEARCHER_EXFAT})
        EXPECT_TRUE(std::find(fat, order.end(), before) == order.end()) << before;
    for (_tagSearcherType after : {SEARCHER_RAW, SEARCHER_NTFS, SEARCHER_APFS})
        EXPECT_TRUE(std::find(order.begin(), fat, after) == fat) << after;
}

// ---- partitions of one tree --------------------------------------------------

namespace {

CFATFileNode* FatNode(const char* name, long long id, long long parent, bool folder, unsigned short partition,
                      unsigned long long created)
{
    auto* props = CFATFileProperties::Create();
    props->SetFileName(name);
    props->SetAttribute(folder ? 0x10 : 0x20);
    props->SetFileSize(folder ? 0 : 10);
    props->SetFirstClusterNum(id);
    props->SetParentFirstClusterNum(parent);
    _FILETIME t;
    t.dwLowDateTime = static_cast<uint32_t>(created);
    t.dwHighDateTime = static_cast<uint32_t>(created >> 32);
    props->SetCreationTime(t);
    auto* node = new CFATFileNode;
    node->SetFileProperties(props);
    node->SetBelongedPartition(partition);
    return node;
}

using NodePtr = std::unique_ptr<CFATFileNode, void (*)(CFATFileNode*)>;
NodePtr Own(CFATFileNode* n) { return NodePtr(n, [](CFATFileNode* p) { p->Release(); }); }

// Delivered nodes as "path" lines (the lost-files folder included).
class PathSink : public IDrirectoryTree {
public:
    void ShowNodes(IFileNode** nodes, unsigned int count, int) override
    {
        for (unsigned int i = 0; i < count; ++i) {
            std::string path = nodes[i]->GetFileName();
            int depth = 0;
            for (CFileNode* p = static_cast<CFileNode*>(nodes[i])->GetParent(); p && p->GetParent() && depth < 64;
                 p = p->GetParent(), ++depth)
                path = std::string(p->GetFileName()) + "/" + path;
            lines.insert(path);
        }
    }
    void ShowFilesystemNode(IFilesystemNode*) override {}
    std::set<std::string> lines;
};

}  // namespace

// Folder and file nodes of one id: nodes of two partitions are never one
// node and never take over each other's properties; within one partition
// nothing changes.
TEST(fat_deep, PartitionRulesOfNodes)
{
    struct Case {
        const char* what;
        const char* aName;
        unsigned short aPartition;
        const char* bName;
        unsigned short bPartition;
        bool folders;
        bool equal;
        const char* aNameAfter;
    };
    const Case cases[] = {
        {"same folder, same partition", "dirA", 0, "dirA", 0, true, true, "dirA"},
        {"renamed folder, same partition: the later one's properties", "DIR0", 0, "dirA", 0, true, false, "dirA"},
        {"same name, two partitions", "dirA", 0, "dirA", 1, true, false, "dirA"},
        {"another name, two partitions", "frag", 0, "dirA", 1, true, false, "frag"},
        {"same file, same partition", "a.txt", 0, "a.txt", 0, false, true, "a.txt"},
        {"same file name, two partitions", "a.txt", 0, "a.txt", 1, false, false, "a.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NodePtr a = Own(FatNode(c.aName, 3, 0, c.folders, c.aPartition, 100));
        NodePtr b = Own(FatNode(c.bName, 3, 0, c.folders, c.bPartition, 200));
        EXPECT_EQ(*a == *b, c.equal);
        EXPECT_STREQ(a->GetFileName(), c.aNameAfter);
        EXPECT_EQ(a->GetBelongedPartition(), c.aPartition);
    }
}

// A parent is chosen only among the folders of the child's partition; with
// none, the child ends among the lost files.
TEST(fat_deep, PartitionRulesOfParents)
{
    struct Case {
        const char* what;
        std::vector<unsigned short> folderPartitions;  // folders of id 3, in arrival order
        bool firstHasChild;                            // the first folder got a child of its own first
        unsigned short childPartition;
        const char* expected;
    };
    const Case cases[] = {
        {"one folder of another partition", {0}, false, 1, "Other lost files/f.txt"},
        {"one folder of the child's partition", {1}, false, 1, "P1/f.txt"},
        {"the other partition's folder already has a child", {0, 1}, true, 1, "P1/f.txt"},
        {"two folders, the child's second", {0, 1}, false, 1, "P1/f.txt"},
        {"two folders, the child's first", {0, 1}, false, 0, "P0/f.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CRecoveryFilter filter(std::map<int, std::string>{{16, "txt"}});
        filter.SetScanType(SCAN_TYPE_DEEP);
        PathSink sink;
        std::unique_ptr<CDirectoryTreeBuilder, void (*)(CDirectoryTreeBuilder*)> builder(
            new CDirectoryTreeBuilder(false), [](CDirectoryTreeBuilder* b) { b->Release(); });
        builder->SetFirstBatchPause(std::chrono::milliseconds(0));
        ASSERT_EQ(builder->Initialize("disk", &sink, &filter), 1);
        ASSERT_EQ(builder->AddSearcherInfo(SEARCHER_FAT, 0), 1);
        for (size_t i = 0; i < c.folderPartitions.size(); ++i) {
            const unsigned short part = c.folderPartitions[i];
            const std::string name = "P" + std::to_string(part);
            ASSERT_EQ(builder->AddNode(FatNode(name.c_str(), 3, 0, true, part, 100 + i), SEARCHER_FAT), 1);
            if (i == 0 && c.firstHasChild) {
                ASSERT_EQ(builder->AddNode(FatNode("own.txt", 40, 3, false, part, 0), SEARCHER_FAT), 1);
            }
        }
        ASSERT_EQ(builder->AddNode(FatNode("f.txt", 50, 3, false, c.childPartition, 0), SEARCHER_FAT), 1);
        builder->FlashBuild(SEARCHER_FAT);
        std::set<std::string> files;
        for (const std::string& line : sink.lines)
            if (line.size() >= 5 && line.compare(line.size() - 5, 5, "f.txt") == 0)
                files.insert(line);
        EXPECT_EQ(files, std::set<std::string>{c.expected});
    }
}

// ---- the FAT32 guess of the complete build ------------------------------------

namespace {

// First sector of the image that starts like the file, or -1.
long long SectorStartingLike(const std::string& image, const std::string& file)
{
    const std::string head = ReadFileBytes(file).substr(0, 512);
    std::ifstream in(image, std::ios::binary);
    std::vector<char> sector(512);
    for (long long s = 0; in.read(sector.data(), 512); ++s)
        if (std::memcmp(sector.data(), head.data(), head.size()) == 0)
            return s;
    return -1;
}

unsigned int RawTypeOf(const char* extension)
{
    for (unsigned int i = 0; i < RAW_FILE_TYPE_USED; ++i)
        if (Lower(g_s_strFileExtName[i]) == extension)
            return i;
    ADD_FAILURE() << "no RAW type for " << extension;
    return 0;
}

struct GuessScan {
    std::unique_ptr<CImageFileDevice> image;
    std::unique_ptr<CReadLogDevice> device;
    std::unique_ptr<DeepRun> run;
    size_t readsBeforeBuild = 0;
};

std::unique_ptr<GuessScan> ScanWin(std::map<long long, unsigned int>* map)
{
    auto scan = std::make_unique<GuessScan>();
    scan->image = OpenFatImage("fat32-win.img");
    scan->device = std::make_unique<CReadLogDevice>(scan->image.get());
    scan->run = ScanBlocks(scan->device.get(), map, 8192);
    scan->readsBeforeBuild = scan->device->reads.size();
    scan->run->searcher.EndSearch(1);
    return scan;
}

}  // namespace

TEST(fat_deep, Fat32GuessAgainstTheFileSectorMap)
{
    const std::string win = FatImagePath("win");
    const std::vector<std::pair<std::string, std::string>> guessedByPlace = {
        {"photos/photo one.jpg", "photo one.jpg"},     {"photos/photo two.png", "photo two.png"},
        {"photos/photo three.jpg", "photo three.jpg"}, {"old stuff/letter A.pdf", "letter A.pdf"},
        {"old stuff/letter B.pdf", "letter B.pdf"},    {"root picture.jpg", "root picture.jpg"},
    };
    const std::vector<std::pair<std::string, std::string>> docs = {
        {"docs/doc picture.jpg", "doc picture.jpg"},
        {"docs/doc image.png", "doc image.png"},
        {"docs/doc paper.pdf", "doc paper.pdf"},
    };

    // With an empty map nothing is taken from file contents: the files that
    // lie by their folder or their neighbours get their true clusters, the
    // docs files (above 0x10000 in a folder below it) keep their low ones.
    std::map<long long, unsigned int> empty;
    auto plain = ScanWin(&empty);
    ASSERT_EQ(plain->run->Partitions().size(), 1u);
    CSearchedPartitionInfo* partition = plain->run->Partitions().front();
    for (const auto& [path, source] : guessedByPlace) {
        CFATFileNode* node = FindNode(plain->run->builder, 0, path);
        ASSERT_NE(node, nullptr) << path;
        EXPECT_EQ(ReadNodeBytes(plain->image.get(), node, partition), ReadFileBytes(win + "/" + source)) << path;
    }
    for (const auto& [path, source] : docs) {
        CFATFileNode* node = FindNode(plain->run->builder, 0, path);
        ASSERT_NE(node, nullptr) << path;
        EXPECT_TRUE(node->IsDeleted());
        EXPECT_LT(node->GetFileProperties()->GetFirstClusterNum(), 0x10000) << path;
    }

    // The map marks where the RAW search saw the three docs files start:
    // they move there and read back whole.
    const std::string image = FatImagePath("fat32-win.img");
    std::map<long long, unsigned int> marked;
    for (const auto& [path, source] : docs) {
        const long long sector = SectorStartingLike(image, win + "/" + source);
        ASSERT_GT(sector, 0) << source;
        marked[sector] = RawTypeOf(source.substr(source.rfind('.') + 1).c_str());
    }
    auto guided = ScanWin(&marked);
    ASSERT_EQ(guided->run->Partitions().size(), 1u);
    partition = guided->run->Partitions().front();
    for (const auto& list : {guessedByPlace, docs}) {
        for (const auto& [path, source] : list) {
            CFATFileNode* node = FindNode(guided->run->builder, 0, path);
            ASSERT_NE(node, nullptr) << path;
            EXPECT_EQ(ReadNodeBytes(guided->image.get(), node, partition), ReadFileBytes(win + "/" + source))
                << path;
        }
    }

    // The test of a candidate cluster reads nothing: no read of the build
    // touches a sector that any deleted file's candidates start at. (The
    // quick walk of the same volume does read them.)
    std::set<long long> candidateSectors;
    const long long dataStart = partition->GetUnitBase();
    for (CFATFileNode* node : guided->run->builder.nodes) {
        if (!node->IsDeleted() || node->IsDirectory() || node->GetFileSize() <= 0)
            continue;
        const long long low = node->GetFileProperties()->GetFirstClusterNum() & 0xFFFF;
        for (long long i = 0; i < 50; ++i)
            candidateSectors.insert(dataStart + low + i * 0x10000 - 2);
    }
    ASSERT_FALSE(candidateSectors.empty());
    auto touches = [&](const CReadLogDevice::Read& r) {
        auto it = candidateSectors.lower_bound(r.first);
        return it != candidateSectors.end() && *it < r.first + r.count;
    };
    for (size_t i = guided->readsBeforeBuild; i < guided->device->reads.size(); ++i)
        EXPECT_FALSE(touches(guided->device->reads[i]))
            << "read of " << guided->device->reads[i].count << " at " << guided->device->reads[i].first;
    auto quick = QuickScan("fat32-win.img", FS_FAT32);
    EXPECT_TRUE(std::any_of(quick->device->reads.begin(), quick->device->reads.end(), touches));
}

// ---- damaged and random input ----------------------------------------------------

TEST(fat_deep, RandomAndDamagedInput)
{
    std::mt19937_64 random(20240611);
    std::vector<uint8_t> noise(64 << 20);
    for (size_t i = 0; i < noise.size(); i += 8) {
        const uint64_t v = random();
        std::memcpy(noise.data() + i, &v, 8);
    }
    {
        CBufferDevice device(std::move(noise));
        auto run = RunDeepScan(&device);
        ExpectScoresInRange(*run);
    }

    TempDir dir;
    const std::string damaged = dir / "damaged.img";
    CopyImage(FatImagePath("fat-disk.img"), damaged);
    {
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(f);
        std::vector<char> sector(512);
        const long long sectors = 256LL * 2048;
        for (long long s = 0; s < sectors; s += 10) {
            for (size_t i = 0; i < sector.size(); i += 8) {
                const uint64_t v = random();
                std::memcpy(sector.data() + i, &v, 8);
            }
            f.seekp(s * 512);
            f.write(sector.data(), 512);
        }
        ASSERT_TRUE(f);
    }
    auto device = OpenFatImage(damaged);
    const std::string digest = FileDigest(damaged);
    auto run = RunDeepScan(device.get());
    ExpectScoresInRange(*run);
    EXPECT_FALSE(run->builder.nodes.empty()) << "a tenth of the sectors lost, not everything";
    EXPECT_EQ(FileDigest(damaged), digest);
}
