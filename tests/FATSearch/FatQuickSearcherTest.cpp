// The FAT quick searcher: its result codes, boot sectors, partition record
// and registration.
#include <gtest/gtest.h>

#include "DeviceInfo.h"
#include "FATBuildWorker.h"
#include "FatSearchTestSupport.h"
#include "FatVolumeAnalyze.h"
#include "SearcherRegistry.h"
#include "TestSupport.h"

namespace {

bool EndsFinished(const CRecordingProgress& progress)
{
    return !progress.reports.empty() && progress.reports.back().dwState == 3 &&
           progress.reports.back().u64Total == 100 && progress.reports.back().u64Done == 100;
}

std::vector<std::string> Paths(const CRecordingTreeBuilder& builder)
{
    std::vector<std::string> out;
    for (const auto& [path, node] : NodesByPath(builder))
        out.push_back(path);
    return out;
}

std::vector<std::string> ExpectedPaths(int subFiles)
{
    std::vector<std::string> out;
    for (const auto& [path, node] : ExpectedWalkTree(subFiles))
        out.push_back(path);
    return out;
}

}  // namespace

TEST(fat_quick, RefusalsBeforeTheSearch)
{
    auto volume = OpenFatVolume("fat16.img", FS_FAT16);
    CRecordingTreeBuilder builder;
    CRecordingProgress progress;

    CFATQuickSearcher searcher;
    searcher.SetDirecotryTreeBuilder(&builder);
    EXPECT_EQ(searcher.QuickSearchFiles(volume.get(), nullptr), 0x010A004E00000005ULL);
    EXPECT_EQ(searcher.QuickSearchFiles(nullptr, &progress), 0x010A004E00000005ULL);
    EXPECT_TRUE(progress.reports.empty());

    CFATQuickSearcher noBuilder;
    EXPECT_EQ(noBuilder.QuickSearchFiles(volume.get(), &progress), 0x010A005300000007ULL);
    EXPECT_TRUE(progress.reports.empty());
    EXPECT_TRUE(builder.nodes.empty());
    EXPECT_TRUE(builder.flashBuilds.empty());
    CSearchedPartitionInfo* clone = nullptr;
    EXPECT_EQ(noBuilder.GetSearchedPartitionInfo(&clone, 1), 0);
    EXPECT_EQ(clone, nullptr);
}

TEST(fat_quick, VolumesThatAreNotSearched)
{
    struct Case {
        const char* what;
        int deviceType;
        int holder;  // 0 none, 1 a holder without record, 2 a record
        enumFILE_SYSTEM_TYPE type;
        const char* image;
        ResultCode code;
    };
    const Case cases[] = {
        {"a disk", STORAGE_DEVICE_DISK, 2, FS_FAT16, "fat16.img", 0x010A008100000003ULL},
        {"no volume holder", STORAGE_DEVICE_VOLUME, 0, FS_FAT16, "fat16.img", 0x010A008800000007ULL},
        {"no volume record", STORAGE_DEVICE_VOLUME, 1, FS_FAT16, "fat16.img", 0x010A008F00000007ULL},
        {"FAT12", STORAGE_DEVICE_VOLUME, 2, FS_FAT12, "fat12.img", 0x010A00610000000CULL},
        {"NTFS", STORAGE_DEVICE_VOLUME, 2, FS_NTFS, "fat16.img", 0x010A00610000000CULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CImageFileDevice device(512, c.deviceType);
        std::string path = FatImagePath(c.image);
        ASSERT_TRUE(device.Open(path.data()));
        if (c.holder == 1) {
            device.SetPrivateData(CreateVolumeDeviceData(nullptr));
        } else if (c.holder == 2) {
            auto* record = new CCollectedVolumeDeviceInfoStruct;
            record->eFileSystemType = c.type;
            device.SetPrivateData(CreateVolumeDeviceData(record));
        }
        CRecordingTreeBuilder builder;
        CRecordingProgress progress;
        CFATQuickSearcher searcher;
        searcher.SetDirecotryTreeBuilder(&builder);
        EXPECT_EQ(searcher.QuickSearchFiles(&device, &progress), c.code);
        EXPECT_TRUE(EndsFinished(progress));
        EXPECT_EQ(progress.reports.size(), 1u);
        EXPECT_TRUE(builder.nodes.empty());
        EXPECT_TRUE(builder.searcherInfos.empty());
    }
}

TEST(fat_quick, DamagedBootSectors)
{
    const std::vector<uint8_t> zeros(512, 0);
    TempDir dir;

    // FAT16 keeps no backup: a zeroed sector 0 ends the search.
    const std::string fat16 = dir / "fat16.img";
    CopyImage(FatImagePath("fat16.img"), fat16);
    PatchFile(fat16, 0, zeros);
    auto broken = QuickScan(fat16, FS_FAT16);
    EXPECT_EQ(broken->result, 0x010A00CA0000000CULL);
    EXPECT_TRUE(EndsFinished(broken->progress));
    EXPECT_TRUE(broken->builder.nodes.empty());
    EXPECT_TRUE(broken->builder.searcherInfos.empty());
    EXPECT_EQ(broken->builder.flashBuilds, std::vector<_tagSearcherType>{SEARCHER_FAT});
    EXPECT_EQ(broken->builder.partition, nullptr);

    // FAT32 is searched through its backup boot sector at sector 6: a
    // zeroed sector 0, or one whose reserved count (32, raised to 33) puts
    // both FATs a sector off.
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        unsigned long long at;
    };
    const Case cases[] = {{"zeroed", zeros, 0}, {"reserved 33", {33}, 14}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string fat32 = dir / "fat32.img";
        CopyImage(FatImagePath("fat32.img"), fat32);
        PatchFile(fat32, c.at, c.bytes);
        auto device = OpenFatImage(fat32);
        std::vector<uint8_t> sector0 = ReadImageSectors(fat32, 0, 1);
        EXPECT_FALSE(CFATBuildWorker::IsFullValidDBR(sector0.data(), 0, device.get()));
        std::vector<uint8_t> sector6 = ReadImageSectors(fat32, 6, 1);
        EXPECT_TRUE(CFATBuildWorker::IsFullValidDBR(sector6.data(), 0, device.get()));

        if (c.at == 14) {
            // Still a FAT32 boot sector to the recogniser.
            std::unique_ptr<IVolumeAnalyze> recogniser(CreateFatVolumeAnalyze(device.get(), 0));
            EXPECT_EQ(recogniser->GetFileSystemType(), FS_FAT32);
        }

        auto scan = QuickScan(fat32, FS_FAT32);
        EXPECT_EQ(scan->result, 0u);
        EXPECT_EQ(Paths(scan->builder), ExpectedPaths(4));
        EXPECT_TRUE(EndsFinished(scan->progress));
    }
}

TEST(fat_quick, PartitionRecord)
{
    struct Case {
        const char* image;
        enumFILE_SYSTEM_TYPE type;
        unsigned int sectorSize;
        unsigned int flags;
    };
    const Case cases[] = {
        {"fat16.img", FS_FAT16, 512, 0x3C3},
        {"fat32.img", FS_FAT32, 512, 0x3CC},
        {"fat32-4k.img", FS_FAT32, 4096, 0x3CC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        const std::string image = FatImagePath(c.image);
        auto scan = QuickScan(c.image, c.type, c.sectorSize);
        ASSERT_EQ(scan->result, 0u);
        ASSERT_NE(scan->builder.partition, nullptr);
        CSearchedPartitionInfo* list[2] = {nullptr, nullptr};
        ASSERT_EQ(scan->searcher.GetSearchedPartitionInfo(list, 1), 1);
        std::unique_ptr<CSearchedPartitionInfo> clone(list[0]);
        ASSERT_NE(clone, nullptr);
        EXPECT_NE(clone.get(), scan->builder.partition) << "a copy, owned by the caller";
        EXPECT_EQ(list[1], nullptr);
        auto* fat = dynamic_cast<CFATSearchedPartitionInfo*>(clone.get());
        ASSERT_NE(fat, nullptr);
        EXPECT_EQ(fat->GetType(), 1);
        EXPECT_EQ(fat->GetPartitionIndex(), 0);
        EXPECT_EQ(fat->GetFileSystemType(), c.type);
        EXPECT_EQ(fat->GetSectorSize(), c.sectorSize);
        EXPECT_EQ(fat->GetStartSector(), 0);
        EXPECT_EQ(fat->GetFlag(), c.flags);
        // The data area, where cluster 2 starts, is the unit base of the
        // extents; fsstat gives the same geometry.
        const std::string fsstat = RunTool("fsstat '" + image + "'");
        const size_t at = fsstat.find("Cluster Area: ");
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(fat->GetUnitBase(), std::stoll(fsstat.substr(at + 14)));
        EXPECT_EQ(static_cast<long long>(fat->GetTotalSectors()), FsstatTotalSectors(image));
        EXPECT_EQ(fat->GetTotalCluster(),
                  (fat->GetTotalSectors() - fat->GetUnitBase()) / fat->GetSectorsPerUnit());
        if (c.type == FS_FAT32)
            EXPECT_EQ(fat->GetRootInfo(), 2u);
        else
            EXPECT_EQ(fat->GetRootInfo(), (fat->GetUnitBase() - fat->GetReservedSector()) - 2 * fat->GetSectorPerFAT());
    }
}

TEST(fat_quick, TotalSectorsAreCutToTheDevice)
{
    TempDir dir;
    const std::string cut = dir / "cut.img";
    CopyImage(FatImagePath("fat16.img"), cut);
    RunTool("truncate -s 40M '" + cut + "'");
    auto scan = QuickScan(cut, FS_FAT16);
    EXPECT_EQ(scan->result, 0u);
    CSearchedPartitionInfo* clone = nullptr;
    ASSERT_EQ(scan->searcher.GetSearchedPartitionInfo(&clone, 1), 1);
    std::unique_ptr<CSearchedPartitionInfo> holder(clone);
    EXPECT_EQ(clone->GetTotalSectors(), 40ULL * 2048);
    for (const CReadLogDevice::Read& r : scan->device->reads)
        EXPECT_LE(r.first + r.count, 40LL * 2048);
}

TEST(fat_quick, RegisteredForTheFatTypes)
{
    for (enumFILE_SYSTEM_TYPE type : {FS_FAT12, FS_FAT16, FS_FAT32}) {
        QuickSearcherFactory factory = GetQuickSearcherFactory(type);
        ASSERT_NE(factory, nullptr) << type;
        std::unique_ptr<IQuickFileSystemSearchController> searcher(factory());
        EXPECT_NE(dynamic_cast<CFATQuickSearcher*>(searcher.get()), nullptr);
    }
}
