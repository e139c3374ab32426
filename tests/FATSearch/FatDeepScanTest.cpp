// The FAT complete searcher over whole disk images and damaged copies of
// them: the partitions it finds, their evidence and scores, and the trees it
// rebuilds, compared with quick scans of the same volumes.
#include <gtest/gtest.h>

#include <set>

#include "FatDeepSupport.h"
#include "TestSupport.h"

namespace {

// How a partition's rebuilt tree is checked.
enum class TreeCheck {
    kQuickScan,           // equals the quick scan of the partition on the same image
    kQuickScanAndLostSub, // the same, plus SUB's unreachable second cluster as lost files
    kQuickScanOfIntact,   // equals the quick scan of the undamaged fat16-end.img
    kMadeUpFolders,       // dirA's and FRAG's live files under made-up "DIR" folders
    kFloppyRoot,          // the FAT12 floppy's two root files (no quick scan reads FAT12)
};

struct ExpectedPartition {
    enumFILE_SYSTEM_TYPE type;
    long long start;
    long long dataStart;
    unsigned int sectorsPerCluster;
    unsigned int flagsSet;    // all of these
    unsigned int flagsClear;  // none of these
    double score;
    TreeCheck tree;
    long long votes = -1;          // -1: not checked
    long long reserved = -1;
    long long sectorsPerFat = -1;
};

struct Variant {
    const char* name;
    const char* image;
    std::vector<std::pair<long long, long long>> zeroed;  // first sector, count
    std::vector<ExpectedPartition> partitions;
};

const ExpectedPartition kFat16{FS_FAT16, 2048, 2340, 4, 0x2 | 0x3C0, 0x8, 100, TreeCheck::kQuickScan};
const ExpectedPartition kFat32{FS_FAT32, 133120, 136178, 1, 0x4 | 0x8 | 0x3C0, 0, 100,
                               TreeCheck::kQuickScanAndLostSub};

// The two files of the deleted SUB whose entries lie in its second cluster,
// which no walk reaches on FAT32 (one cluster holds 16 entries there).
const char* const kLostSubFiles[] = {"#UBFIL~5.TXT", "sub file 5.txt"};

void CheckTree(const DeepRun& run, const CFATSearchedPartitionInfo& p, const ExpectedPartition& e,
               const std::string& image, IStorageDevice* device)
{
    const NodeSet deep = PartitionNodes(run.builder, p.GetPartitionIndex());
    switch (e.tree) {
    case TreeCheck::kFloppyRoot: {
        ASSERT_EQ(deep.size(), 2u) << NodeSetDifference(deep, {});
        ASSERT_EQ(deep.count("readme.txt"), 1u);
        ASSERT_EQ(deep.count("A"), 1u);
        EXPECT_EQ(deep.find("readme.txt")->second.size, 870);
        EXPECT_EQ(deep.find("A")->second.size, 20000);
        break;
    }
    case TreeCheck::kQuickScan:
    case TreeCheck::kQuickScanAndLostSub: {
        NodeSet quick = QuickScanNodes(image, e.start, static_cast<long long>(p.GetTotalSectors()), e.type);
        ASSERT_FALSE(quick.empty());
        if (e.tree == TreeCheck::kQuickScanAndLostSub)
            for (const char* name : kLostSubFiles) {
                const auto lost = deep.find(kLostFolder + name);
                ASSERT_NE(lost, deep.end()) << name;
                EXPECT_EQ(lost->second.size, 1500);
                EXPECT_TRUE(lost->second.deleted);
                quick.insert(*lost);
            }
        EXPECT_EQ(deep, quick) << NodeSetDifference(deep, quick);
        if (e.tree == TreeCheck::kQuickScanAndLostSub) {
            // sub file 4 and 5 (SUBFIL~5 is the short name of sub file 4).
            const std::string src = FatImagePath("src") + "/dirA/sub/";
            EXPECT_EQ(ReadNodeBytes(device, FindNode(run.builder, p.GetPartitionIndex(), kLostFolder + kLostSubFiles[0]),
                                    const_cast<CFATSearchedPartitionInfo*>(&p)),
                      ReadFileBytes(src + "sub file 4.txt"));
            EXPECT_EQ(ReadNodeBytes(device, FindNode(run.builder, p.GetPartitionIndex(), kLostFolder + kLostSubFiles[1]),
                                    const_cast<CFATSearchedPartitionInfo*>(&p)),
                      ReadFileBytes(src + "sub file 5.txt"));
        }
        break;
    }
    case TreeCheck::kQuickScanOfIntact: {
        // The same data runs as the quick scan: the candidate read its FAT
        // at start + 1 without any FAT evidence, and FRAG/D's fragments
        // follow it.
        const NodeSet quick = QuickScanNodes(FatImagePath("fat16-end.img"), 2048, 131072, FS_FAT16);
        ASSERT_EQ(quick.count("#mpty2.dat"), 1u);
        EXPECT_TRUE(quick.find("#mpty2.dat")->second.deleted);
        EXPECT_EQ(deep, quick) << NodeSetDifference(deep, quick);
        break;
    }
    case TreeCheck::kMadeUpFolders: {
        // The files that were live in dirA and FRAG, each folder's under one
        // made-up folder (which counts them as deleted: their real folder
        // was not found).
        std::map<std::string, std::set<std::string>> live;  // folder -> files of live names
        for (const auto& [path, facts] : deep) {
            const size_t slash = path.find('/');
            if (path.rfind("DIR", 0) == 0 && slash != std::string::npos && path.find('/', slash + 1) == std::string::npos &&
                path[slash + 1] != '#' && !facts.directory)
                live[path.substr(0, slash)].insert(path.substr(slash + 1));
        }
        std::set<std::string> dirA, frag{"A", "C", "D"};
        for (int i = 0; i < 40; ++i)
            if (i != 31)
                dirA.insert((i < 10 ? "file0" : "file") + std::to_string(i) + ".bin");
        bool sawDirA = false, sawFrag = false;
        for (const auto& [folder, files] : live) {
            sawDirA |= files == dirA;
            sawFrag |= files == frag;
        }
        EXPECT_TRUE(sawDirA) << NodeSetDifference(deep, {});
        EXPECT_TRUE(sawFrag);
        // Its range runs to the device's end, so the lost-cluster parse
        // also takes directory clusters of the FAT32 volume after it: the
        // later clusters of that volume's dirA.
        EXPECT_EQ(deep.count(kLostFolder + "file20.bin"), 1u);
        break;
    }
    }
}

}  // namespace

TEST(fat_deep, VariantTable)
{
    ExpectedPartition fat32Backup = kFat32;
    fat32Backup.flagsSet = 0x8 | 0x3C0;
    fat32Backup.flagsClear = 0x4;
    fat32Backup.score = 95;
    const ExpectedPartition fat16FromDirectories{FS_FAT16, 2051, 2340, 4, 0x10, ~0x10u, 20,
                                                 TreeCheck::kQuickScanOfIntact, 2, 1, 128};
    const ExpectedPartition fat16TakenForFat32{FS_FAT32, 299, 2340, 4, 0x10, ~0x10u, 20,
                                               TreeCheck::kMadeUpFolders, 2, 1, 1020};

    const ExpectedPartition fat12Floppy{FS_FAT12, 2048, 2081, 1, 0x1 | 0x3C0, 0x2, 100, TreeCheck::kFloppyRoot};

    const Variant variants[] = {
        {"intact", "fat-disk.img", {}, {kFat16, kFat32}},
        {"no MBR", "fat-disk.img", {{0, 1}}, {kFat16, kFat32}},
        {"FAT32 primary boot sector zeroed", "fat-disk.img", {{133120, 1}}, {kFat16, fat32Backup}},
        {"FAT16 to the disk's end, boot sector zeroed", "fat16-end.img", {{2048, 1}}, {fat16FromDirectories}},
        {"FAT16 boot sector zeroed", "fat-disk.img", {{2048, 1}}, {fat16TakenForFat32, kFat32}},
        // Reserved 1, two FATs of 9 sectors, 224 root entries: both FATs and
        // the boot sector seen, the highest score.
        {"FAT12 floppy on a disk", "fat12-disk.img", {}, {fat12Floppy}},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        TempDir dir;
        const std::string image = ZeroedCopy(dir, v.image, "v.img", v.zeroed);
        const std::string digest = FileDigest(image);
        auto device = OpenFatImage(image);
        auto run = RunDeepScan(device.get());

        ASSERT_EQ(run->Partitions().size(), v.partitions.size());
        for (size_t i = 0; i < v.partitions.size(); ++i) {
            const ExpectedPartition& e = v.partitions[i];
            const CFATSearchedPartitionInfo& p = *run->Partitions()[i];
            SCOPED_TRACE("partition " + std::to_string(i));
            EXPECT_EQ(p.GetPartitionIndex(), i);
            EXPECT_EQ(p.GetFileSystemType(), e.type);
            EXPECT_EQ(p.GetStartSector(), e.start);
            EXPECT_EQ(p.GetUnitBase(), e.dataStart);
            EXPECT_EQ(p.GetSectorsPerUnit(), e.sectorsPerCluster);
            EXPECT_EQ(p.GetFlag() & e.flagsSet, e.flagsSet) << std::hex << p.GetFlag();
            EXPECT_EQ(p.GetFlag() & e.flagsClear, 0u) << std::hex << p.GetFlag();
            EXPECT_EQ(p.GetScore(), e.score);
            if (e.votes >= 0) {
                EXPECT_EQ(CFATCompleteFSearcher::GetVotes(p), e.votes);
            }
            if (e.reserved >= 0) {
                EXPECT_EQ(p.GetReservedSector(), e.reserved);
            }
            if (e.sectorsPerFat >= 0) {
                EXPECT_EQ(p.GetSectorPerFAT(), e.sectorsPerFat);
            }
            CheckTree(*run, p, e, image, device.get());
        }
        // One tree for every FAT partition of the scan.
        if (!v.partitions.empty()) {
            EXPECT_EQ(run->builder.searcherInfos,
                      (std::vector<std::pair<_tagSearcherType, long long>>{{SEARCHER_FAT, 0}}));
        } else {
            EXPECT_TRUE(run->builder.nodes.empty());
        }
        EXPECT_EQ(FileDigest(image), digest);
    }
}
