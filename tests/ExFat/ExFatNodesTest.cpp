// The exFAT node and the partition's node making: fields, clone, runs.
#include <gtest/gtest.h>

#include "ExFatFileNode.h"
#include "ExFatPartition.h"
#include "ExFatTestSupport.h"
#include "ImageFileDevice.h"
#include "TestSupport.h"

namespace {

using Extent = std::pair<long long, long long>;  // start, length

std::vector<Extent> Runs(IDataRunList* list)
{
    std::vector<Extent> out;
    for (DataRun* r = list ? list->GetFirst() : nullptr; r; r = list->GetNext())
        out.push_back({r->llStart, r->llLength});
    return out;
}

_tagFileBaseInfo Record(const char* name, uint32_t cluster, uint64_t length, bool noFatChain = true,
                        uint16_t attributes = 0x20, bool inUse = true)
{
    _tagFileBaseInfo r;
    std::snprintf(r.szName, sizeof r.szName, "%s", name);
    r.dwFirstCluster = cluster;
    r.u64DataLength = length;
    r.u8NoFatChain = noFatChain ? 1 : 0;
    r.wAttributes = attributes;
    r.u8InUse = inUse ? 1 : 0;
    const uint32_t stamp = (41u << 25) | (3u << 21) | (4u << 16) | (5u << 11) | (6u << 5) | 4u;
    r.dwCreateTime = stamp;
    r.dwModifyTime = stamp + 1;       // 05:06:10
    r.dwAccessTime = stamp + (1u << 16);  // the next day
    r.s64MetadataSector = 4128;
    return r;
}

}  // namespace

TEST(exfat_nodes, NodeFieldsAndAttributeWord)
{
    CExFatFileNode node;
    EXPECT_STREQ(node.GetFileName(), "");
    EXPECT_EQ(node.GetFileSize(), 0);
    EXPECT_EQ(node.GetAttribute(), 0u);
    EXPECT_EQ(node.GetCreationTime(), 0u);
    EXPECT_EQ(node.GetFirstCluster(), 0xFFFFFFFFu);
    EXPECT_EQ(node.GetCurrentNodeID(), -1);

    node.SetFileAttributes(0x10);
    node.SetFileAttributes(0x01);
    node.SetFileAttributes(CExFatFileNode::kAttrFatInvalid);
    EXPECT_EQ(node.GetAttribute(), 0x11u) << "only the on-disk bits";
    EXPECT_EQ(node.IsDirectory(), 1);
    EXPECT_EQ(node.IsFatInvalid(), 1);
    EXPECT_EQ(node.IsDeleted(), 0);
    node.MarkDeleted();
    EXPECT_EQ(node.IsDeleted(), 1);
    EXPECT_EQ(node.GetAttributeWord(), 0xC0000011u);

    node.SetFileName(" ..hidden name");
    node.SetFileName(nullptr);
    EXPECT_STREQ(node.GetFileName(), " ..hidden name");
    node.FilterFileNameByDot();
    EXPECT_STREQ(node.GetFileName(), "hidden name");
}

TEST(exfat_nodes, CloneCopiesContentNotIdentity)
{
    CExFatFileNode node;
    node.SetFileName("photo 1.txt");
    node.SetFileSize(4800);
    node.SetFileAttributes(0x20 | CExFatFileNode::kAttrFatInvalid);
    node.SetFileDeleted();
    node.SetFileTime(U64ToFileTime(1), U64ToFileTime(2), U64ToFileTime(3));
    node.SetID(4700);
    node.SetParentID(4664);
    node.SetFirstCluster(77);
    node.SetMetaDataSector(4664);
    IDataRunList* runs = CreateDataRunList();
    DataRun run{75, 2};
    runs->AddDataRun(&run);
    node.SetDataRunList(runs);

    std::unique_ptr<CExFatFileNode, void (*)(CExFatFileNode*)> copy(
        dynamic_cast<CExFatFileNode*>(node.Clone()), [](CExFatFileNode* n) { n->Release(); });
    ASSERT_TRUE(copy);
    EXPECT_STREQ(copy->GetFileName(), "photo 1.txt");
    EXPECT_NE(copy->GetFileName(), node.GetFileName());
    EXPECT_EQ(copy->GetFileSize(), 4800);
    EXPECT_EQ(copy->GetAttributeWord(), node.GetAttributeWord());
    EXPECT_EQ(copy->GetCreationTime(), 1u);
    EXPECT_EQ(copy->GetModificationTime(), 2u);
    EXPECT_EQ(copy->GetLastAccessTime(), 3u);
    ASSERT_TRUE(copy->GetDataRunList());
    EXPECT_NE(copy->GetDataRunList(), runs);
    EXPECT_EQ(Runs(copy->GetDataRunList()), Runs(runs));
    EXPECT_EQ(copy->GetCurrentNodeID(), -1);
    EXPECT_EQ(copy->GetParentNodeID(), -1);
    EXPECT_EQ(copy->GetFirstCluster(), 0xFFFFFFFFu);
    EXPECT_NE(copy->GetMetadataStartPosition(), 4664);
}

TEST(exfat_nodes, PartitionClustersAndContiguousNext)
{
    CExFatPartition partition;
    partition.m_dwSectorsPerCluster = 8;
    partition.m_s64HeapStart = 4096;
    partition.m_dwClusterLimit = 16384;
    struct {
        uint32_t cluster;
        long long sector;
    } sectors[] = {{0, 0}, {1, 0}, {2, 4096}, {5, 4120}, {0xFFFFFFF5u, 4096 + 8LL * 0xFFFFFFF3u}};
    for (const auto& c : sectors)
        EXPECT_EQ(partition.ConvertClusterNumToSector(c.cluster), c.sector) << c.cluster;

    // No FAT held: a contiguous walk stays on the cluster, a chained one ends.
    EXPECT_EQ(partition.GetNextCluster(9, 1), 9u);
    EXPECT_EQ(partition.GetNextCluster(16384, 1), 0xFFFFFFFFu);
    EXPECT_EQ(partition.GetNextCluster(9, 0), 0xFFFFFFFFu);
}

TEST(exfat_nodes, DataRunsOfRecords)
{
    auto image = OpenImageFileDisk(ExFatImagePath("ex-quick.img"), 512);
    ASSERT_TRUE(image);
    CExFatPartition partition;
    partition.m_dwSectorsPerCluster = 8;
    partition.m_dwBytesPerCluster = 4096;
    partition.m_s64HeapStart = 4096;
    partition.m_dwClusterLimit = 16384;
    ASSERT_TRUE(partition.CreateFatTable(image.get(), 2048, 128, 15872));

    struct Case {
        const char* what;
        _tagFileBaseInfo record;
        std::vector<Extent> runs;
    } cases[] = {
        {"contiguous, 18000 bytes", Record("A.txt", 24, 18000), {{22, 5}}},
        {"contiguous, exactly 2 clusters", Record("x", 24, 8192), {{22, 2}}},
        {"contiguous, its FAT is not asked", Record("x", 6, 20480), {{4, 5}}},
        {"chained: D.txt in two extents", Record("D.txt", 29, 54000, false), {{27, 5}, {}}},
        {"chained, zeroed FAT: first cluster only", Record("S.txt", 53, 54000, false), {{51, 1}}},
        {"chained, shorter than its chain", Record("D.txt", 29, 4097, false), {{27, 2}}},
        {"chained, one byte", Record("D.txt", 29, 1, false), {{27, 1}}},
        {"folder", Record("photos", 72, 4096, true, 0x10), {}},
        {"empty", Record("empty1.txt", 0, 0, false), {}},
        {"length 0 with a cluster", Record("x", 24, 0), {}},
        {"length above 2^63", Record("x", 24, 1ULL << 63), {}},
        {"cluster 1", Record("x", 1, 100), {}},
        {"cluster 0xFFFFFFF6", Record("x", 0xFFFFFFF6u, 100), {}},
    };
    // D.txt's second extent, as the FAT has it.
    uint32_t second = partition.GetNextCluster(33, 0);
    cases[3].runs[1] = {static_cast<long long>(second) - 2, 9};
    for (Case& c : cases) {
        IDataRunList* list = partition.BuildFileDataRun(c.record);
        ASSERT_TRUE(list) << c.what;
        EXPECT_EQ(Runs(list), c.runs) << c.what;
        list->Release();
    }
}

// A FAT whose chains loop: the run list still ends.
TEST(exfat_nodes, LoopingChainEnds)
{
    TempDir dir;
    const std::string path = dir / "loop.img";
    RunTool("truncate -s 1M '" + path + "'");
    const uint32_t fat[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11, 12, 10, 13, 13};  // 10->11->12->10, 13->13
    WriteAt(path, 16 * 512, fat, sizeof fat);
    auto image = OpenImageFileDisk(path, 512);
    ASSERT_TRUE(image);
    CExFatPartition partition;
    partition.m_dwBytesPerCluster = 512;
    partition.m_dwClusterLimit = 1000;
    ASSERT_TRUE(partition.CreateFatTable(image.get(), 16, 8, 1000));
    for (uint32_t first : {10u, 13u}) {
        IDataRunList* list = partition.BuildFileDataRun(Record("loop", first, 1ULL << 40, false));
        size_t clusters = 0;
        for (const Extent& r : Runs(list))
            clusters += static_cast<size_t>(r.second);
        EXPECT_LE(clusters, 16u) << first;
        EXPECT_GE(clusters, first == 10 ? 3u : 1u) << first;
        list->Release();
    }
}

TEST(exfat_nodes, BuildFileFromARecord)
{
    CExFatPartition partition;
    partition.m_dwBytesPerCluster = 4096;
    partition.m_dwClusterLimit = 16384;
    struct Case {
        _tagFileBaseInfo record;
        bool deleted, fatInvalid, directory;
    } cases[] = {
        {Record("A.txt", 24, 18000), false, true, false},
        {Record("gone.txt", 147, 10500, true, 0x20, false), true, true, false},
        {Record("D.txt", 29, 54000, false), false, false, false},
        {Record("contig", 6, 20480, true, 0x10), false, true, true},
        {Record("old stuff", 73, 4096, true, 0x10, false), true, true, true},
    };
    for (const Case& c : cases) {
        CExFatFileNode* node = partition.BuildFile(c.record);
        ASSERT_TRUE(node);
        EXPECT_STREQ(node->GetFileName(), c.record.szName);
        EXPECT_EQ(node->GetFileSize(), static_cast<long long>(c.record.u64DataLength));
        EXPECT_EQ(node->GetFirstCluster(), c.record.dwFirstCluster);
        EXPECT_EQ(node->IsDeleted(), c.deleted ? 1 : 0) << c.record.szName;
        EXPECT_EQ(node->IsFatInvalid(), c.fatInvalid ? 1 : 0) << c.record.szName;
        EXPECT_EQ(node->IsDirectory(), c.directory ? 1 : 0) << c.record.szName;
        EXPECT_EQ(node->GetMetadataStartPosition(), 4128);
        EXPECT_EQ(FileTimeToUnix(node->GetCreationTime()), 1614834368);
        EXPECT_EQ(FileTimeToUnix(node->GetModificationTime()), 1614834370);
        EXPECT_EQ(FileTimeToUnix(node->GetLastAccessTime()), 1614834368 + 86400);
        ASSERT_TRUE(node->GetDataRunList());
        node->Release();
    }
}
