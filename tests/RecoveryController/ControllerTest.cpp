#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ControllerFakes.h"
#include "DeviceInfo.h"
#include "RecoveryController.h"
#include "SearcherRegistry.h"
#include "StampedMemoryDevice.h"
#include "VolumeAnalyzeController.h"

namespace {

using namespace std::chrono_literals;

struct ReleaseController {
    void operator()(IRecoveryController* c) const
    {
        if (c)
            c->Release();
    }
};
using ControllerPtr = std::unique_ptr<IRecoveryController, ReleaseController>;

const int kDeepOrder[] = {31, 33, 32, 34, 35, 37};

// Fake searchers, recognisers and tree builder in place of the real ones.
class scan_controller : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeScan().Reset();
        SetTreeBuilderFactoryForTesting(CreateFakeTreeBuilder);
    }
    void TearDown() override
    {
        SetTreeBuilderFactoryForTesting(nullptr);
        EXPECT_TRUE(FakeScan().searchers.empty()) << "searchers outlived their controller";
    }

    ControllerPtr Make(_RECOVERY_CONTROLLER_TYPE type)
    {
        ControllerPtr c(CreateRecoveryController(type));
        EXPECT_TRUE(c);
        if (c) {
            EXPECT_EQ(c->Initialize(&filter), 1u);
        }
        return c;
    }

    ScopedSearcherRegistry registry;
    CFakeFilter filter;
    CFakeProgress progress;
    CFakeSink sink;
};

// A volume device whose record names a file system.
void AttachVolumeRecord(IStorageDevice& device, enumFILE_SYSTEM_TYPE fs, const char* name = "Untitled",
                        int state = 0)
{
    auto* record = new CCollectedVolumeDeviceInfoStruct;
    record->eFileSystemType = fs;
    record->iState = state;
    std::snprintf(record->szVolumeName, sizeof(record->szVolumeName), "%s", name);
    device.SetPrivateData(CreateVolumeDeviceData(record));
}

std::vector<std::string> EventsOf(int type)
{
    return FakeScan().log.With(std::to_string(type) + ":");
}

TEST_F(scan_controller, DeepScanFeedsEverySearcherEveryBlockInOrder)
{
    RegisterFakeCompleteSearchers();
    CStampedMemoryDevice device(102400);
    auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
    ASSERT_EQ(ctl->StartDataRecovery(&device, &progress, &sink), 0u);

    // Block by block, each block to all six in the deep-scan order.
    auto blocks = FakeScan().log.With("");
    std::vector<std::string> analyze;
    for (const std::string& e : FakeScan().log.Events())
        if (e.find(":AnalyzeBlock") != std::string::npos)
            analyze.push_back(e);
    ASSERT_EQ(analyze.size(), 13u * 6);
    for (int b = 0; b < 13; ++b)
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(analyze[b * 6 + i], std::to_string(kDeepOrder[i]) + ":AnalyzeBlock " +
                                              std::to_string(b * 8192) + " " + (b < 12 ? "8192" : "4096"));
    EXPECT_EQ(FakeScan().badBlocks, 0);

    // Each searcher's own calls, setters first.
    for (int type : kDeepOrder) {
        SCOPED_TRACE(type);
        std::vector<std::string> expected = {"Create"};
        if (type == 31)
            expected.push_back("SetIProgressSink");
        if (type == 32)
            expected.push_back("SetFileSectorMap");
        if (type == 34) {
            expected.push_back("SetFileSectorMap");
            expected.push_back("SetIProgressSink");
        }
        for (const char* e : {"SetDevice", "SetBlockSize 8192", "SetDirecotryTreeBuilder", "SetBitmap",
                              "PreparetoSearch"})
            expected.push_back(e);
        for (int b = 0; b < 13; ++b)
            expected.push_back("AnalyzeBlock " + std::to_string(b * 8192) + (b < 12 ? " 8192" : " 4096"));
        expected.push_back("EndSearch 1");
        std::vector<std::string> got = EventsOf(type);
        for (std::string& e : got)
            e = e.substr(3);
        EXPECT_EQ(got, expected);
    }

    // What they were given: the cache over the device, one empty bit set,
    // and one sector map shared by FAT and RAW.
    ASSERT_EQ(FakeScan().searchers.size(), 6u);
    CRecordingSearcher* first = FakeScan().searchers[0];
    ASSERT_TRUE(first->m_pDevice);
    EXPECT_EQ(first->m_pDevice->GetType(), STORAGE_DEVICE_CACHE);
    EXPECT_EQ(first->m_pDevice->GetTotalSectors(), 102400);
    ASSERT_TRUE(first->m_pBitmap);
    EXPECT_EQ(first->m_pBitmap->GetBitmapData(), nullptr);
    EXPECT_EQ(first->m_pProgress, &progress);
    for (CRecordingSearcher* s : FakeScan().searchers) {
        EXPECT_EQ(s->m_pDevice, first->m_pDevice);
        EXPECT_EQ(s->m_pBitmap, first->m_pBitmap);
        EXPECT_EQ(s->m_pBuilder, first->m_pBuilder);
    }
    EXPECT_EQ(FakeScan().searchers[2]->m_pSectorMap, FakeScan().searchers[3]->m_pSectorMap);
    EXPECT_NE(FakeScan().searchers[2]->m_pSectorMap, nullptr);

    const std::vector<ProgressRecord> expected = {
        {2, 1, 0, 0},   {0, 13, 0, 0},  {2, 13, 0, 0},  {2, 13, 1, 0},  {2, 13, 2, 0},
        {2, 13, 3, 0},  {2, 13, 4, 0},  {2, 13, 4, 0},  {2, 13, 5, 0},  {2, 13, 6, 0},
        {2, 13, 7, 0},  {2, 13, 8, 0},  {2, 13, 8, 0},  {2, 13, 9, 0},  {2, 13, 10, 0},
        {3, 1, 1, 0},
    };
    EXPECT_EQ(progress.Records(), expected);
    EXPECT_TRUE(progress.m_bClean) << "report records must be zero-filled";

    EXPECT_TRUE(FakeScan().log.Has("B:Create 0"));
    EXPECT_TRUE(FakeScan().log.Has("B:Initialize "));  // a disk has no description
    for (int type : kDeepOrder)
        EXPECT_TRUE(FakeScan().log.Has("B:FlashBuild " + std::to_string(type)));
}

// The device is read once, block by block, by the cache's reader and never
// by the scan thread; the searchers see the blocks the geometry gives.
TEST_F(scan_controller, DeepScanReadsEachBlockOnceOffTheScanThread)
{
    struct Case {
        long long sectors;
        unsigned int sectorSize;
        long long block;
    };
    const Case cases[] = {
        {5000, 512, 8192},
        {8193, 512, 8192},
        {102400, 512, 8192},
        {12800, 4096, 1024},
        {3000, 0, 8192},  // a device that reports no sector size counts as 512
    };
    RegisterFakeCompleteSearchers();
    for (const Case& c : cases) {
        SCOPED_TRACE("sectors " + std::to_string(c.sectors) + " of " + std::to_string(c.sectorSize));
        FakeScan().log.Clear();
        FakeScan().readBlocks = c.sectorSize != 0;
        CStampedMemoryDevice source(c.sectors, c.sectorSize ? c.sectorSize : 512);
        struct ZeroSectorSize : CCountingDevice {
            using CCountingDevice::CCountingDevice;
            unsigned int GetSectorSize() override { return 0; }
        };
        std::unique_ptr<CCountingDevice> counting =
            c.sectorSize ? std::make_unique<CCountingDevice>(&source) : std::make_unique<ZeroSectorSize>(&source);
        CFakeProgress run;
        auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
        ASSERT_EQ(ctl->StartDataRecovery(counting.get(), &run, &sink), 0u);
        ctl.reset();

        const long long blocks = (c.sectors + c.block - 1) / c.block;
        const auto reads = counting->Reads();
        ASSERT_EQ(static_cast<long long>(reads.size()), blocks);
        std::vector<std::string> expected;
        for (long long b = 0; b < blocks; ++b) {
            const long long count = std::min(c.block, c.sectors - b * c.block);
            EXPECT_EQ(reads[b].first, b * c.block);
            EXPECT_EQ(reads[b].count, count);
            EXPECT_NE(reads[b].thread, std::this_thread::get_id());
            expected.push_back("31:AnalyzeBlock " + std::to_string(b * c.block) + " " + std::to_string(count));
        }
        std::vector<std::string> got;
        for (const std::string& e : EventsOf(31))
            if (e.find("AnalyzeBlock") != std::string::npos)
                got.push_back(e);
        EXPECT_EQ(got, expected);
        EXPECT_TRUE(FakeScan().log.Has("31:SetBlockSize " + std::to_string(c.block)));
        EXPECT_EQ(FakeScan().badBlocks, 0);
    }
}

TEST(deep_controller, BlockSectorsFromSectorSize)
{
    const std::pair<unsigned int, unsigned int> cases[] = {
        {512, 8192}, {4096, 1024}, {0, 8192}, {2048, 2048}, {0x400000, 1}, {0x800000, 8192},
    };
    for (auto [sectorSize, sectors] : cases)
        EXPECT_EQ(DeepScanBlockSectors(sectorSize), sectors) << sectorSize;
}

TEST_F(scan_controller, DeepScanStoppedAfterBlockFiveKeepsWhatItFound)
{
    RegisterFakeCompleteSearchers();
    CStampedMemoryDevice device(10 * 8192);
    progress.m_iStopAfterBlocks = 6;  // blocks 0-5 done
    auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
    EXPECT_EQ(ctl->StartDataRecovery(&device, &progress, &sink), 0u);

    for (int type : kDeepOrder) {
        SCOPED_TRACE(type);
        int analyzed = 0;
        for (const std::string& e : EventsOf(type))
            analyzed += e.find("AnalyzeBlock") != std::string::npos;
        EXPECT_EQ(analyzed, 6);
        EXPECT_EQ(FakeScan().log.Has(std::to_string(type) + ":EndSearch 1"), type != 34);
    }
    ASSERT_FALSE(progress.Records().empty());
    EXPECT_EQ(progress.Records().back(), (ProgressRecord{3, 1, 1, 0}));
}

TEST_F(scan_controller, RestoreSourceReplacesTheSearch)
{
    RegisterFakeCompleteSearchers();
    RegisterFakeQuickSearchers();
    for (auto kind : {RECOVERY_CONTROLLER_DEEP, RECOVERY_CONTROLLER_DEEP_DISK, RECOVERY_CONTROLLER_QUICK}) {
        SCOPED_TRACE(kind);
        FakeScan().log.Clear();
        CStampedMemoryDevice device(20000, 512, STORAGE_DEVICE_VOLUME);
        AttachVolumeRecord(device, FS_NTFS);
        CFakeRestoreSource source;
        CFakeProgress run;
        auto ctl = Make(kind);
        ctl->SetRestoreSource(&source);
        EXPECT_EQ(ctl->StartDataRecovery(&device, &run, &sink), 0u);

        const auto events = FakeScan().log.Events();
        for (const std::string& e : events) {
            EXPECT_EQ(e.find("PreparetoSearch"), std::string::npos) << e;
            EXPECT_EQ(e.find("AnalyzeBlock"), std::string::npos) << e;
            EXPECT_EQ(e.find("QuickSearchFiles"), std::string::npos) << e;
        }
        EXPECT_TRUE(FakeScan().log.Has("R:Replay"));
        EXPECT_TRUE(FakeScan().log.Has("B:AddNode 31 saved.txt"));
        // The deep builder knows it is replaying; the quick one is made as
        // for a search.
        EXPECT_TRUE(FakeScan().log.Has(kind == RECOVERY_CONTROLLER_QUICK ? "B:Create 0" : "B:Create 1"));
        EXPECT_EQ(source.m_pProgress, &run);
        EXPECT_EQ(source.m_pDevice, &device);
        EXPECT_NE(source.m_pBuilder, nullptr);
        if (kind != RECOVERY_CONTROLLER_QUICK) {
            EXPECT_EQ(run.Records(), (std::vector<ProgressRecord>{{2, 1, 0, 0}, {3, 1, 1, 0}}));
            EXPECT_TRUE(FakeScan().log.Has("37:EndSearch 1"));
        }
    }
}

TEST_F(scan_controller, DataRecoveryOfATypeTheScanDidNotCreateIsNull)
{
    RegisterFakeCompleteSearchers();
    CStampedMemoryDevice device(100);
    auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
    ASSERT_EQ(ctl->StartDataRecovery(&device, &progress, &sink), 0u);
    EXPECT_EQ(ctl->GetDataRecovery(SEARCHER_LABEL_RAW), nullptr);
    EXPECT_EQ(ctl->GetDataRecovery(SEARCHER_NONE), nullptr);

    auto quick = Make(RECOVERY_CONTROLLER_QUICK);
    EXPECT_EQ(quick->GetDataRecovery(SEARCHER_FAT), nullptr);  // never started
}

TEST_F(scan_controller, FailuresReturnTheirCodes)
{
    RegisterFakeQuickSearchers();
    CStampedMemoryDevice disk(100, 512, STORAGE_DEVICE_DISK);
    CStampedMemoryDevice volume(100, 512, STORAGE_DEVICE_VOLUME);
    AttachVolumeRecord(volume, FS_FAT32);
    CFakeProgress p;

    struct Case {
        const char* what;
        _RECOVERY_CONTROLLER_TYPE kind;
        IStorageDevice* device;
        IProgress* progress;
        IDrirectoryTree* sink;
        ResultCode code;
    };
    const Case cases[] = {
        {"quick, no device", RECOVERY_CONTROLLER_QUICK, nullptr, &p, &sink, 0x104003800000001ULL},
        {"quick, no progress", RECOVERY_CONTROLLER_QUICK, &volume, nullptr, &sink, 0x104003800000001ULL},
        {"quick, no sink", RECOVERY_CONTROLLER_QUICK, &volume, &p, nullptr, 0x104003800000001ULL},
        {"deep, no device", RECOVERY_CONTROLLER_DEEP, nullptr, &p, &sink, 0x104004500000403ULL},
        {"deep, no progress", RECOVERY_CONTROLLER_DEEP, &disk, nullptr, &sink, 0x104004500000403ULL},
        {"deep, no sink", RECOVERY_CONTROLLER_DEEP_DISK, &disk, &p, nullptr, 0x104004500000403ULL},
        {"deep, no searcher registered", RECOVERY_CONTROLLER_DEEP, &disk, &p, &sink, 0x104008e00000402ULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto ctl = Make(c.kind);
        EXPECT_EQ(ctl->StartDataRecovery(c.device, c.progress, c.sink), c.code);
    }
    EXPECT_TRUE(p.Records().empty() || p.Records() == (std::vector<ProgressRecord>{{2, 1, 0, 0}}));

    // Every factory there but giving nothing is the same as none registered.
    RegisterFakeCompleteSearchers();
    FakeScan().nullTypes = {31, 32, 33, 34, 35, 37};
    EXPECT_EQ(Make(RECOVERY_CONTROLLER_DEEP)->StartDataRecovery(&disk, &p, &sink), 0x104008e00000402ULL);
    FakeScan().nullTypes.clear();

    // No tree builder, and a builder that refuses (no filter given).
    SetTreeBuilderFactoryForTesting(CreateNoTreeBuilder);
    EXPECT_EQ(Make(RECOVERY_CONTROLLER_QUICK)->StartDataRecovery(&volume, &p, &sink), 0x104004800000004ULL);
    EXPECT_EQ(Make(RECOVERY_CONTROLLER_DEEP)->StartDataRecovery(&disk, &p, &sink), 0x104005500000004ULL);
    SetTreeBuilderFactoryForTesting(CreateFakeTreeBuilder);
    ControllerPtr noFilter(CreateRecoveryController(RECOVERY_CONTROLLER_QUICK));
    EXPECT_EQ(noFilter->Initialize(nullptr), 0u);
    EXPECT_EQ(noFilter->StartDataRecovery(&volume, &p, &sink), 0x104004b00000001ULL);
    noFilter.reset(CreateRecoveryController(RECOVERY_CONTROLLER_DEEP));
    EXPECT_EQ(noFilter->StartDataRecovery(&disk, &p, &sink), 0x104005800000001ULL);
    EXPECT_EQ(sink.m_iCalls, 0);

    // The block loop's own checks.
    CCompleteRecoveryController deep;
    EXPECT_EQ(deep.SearchData(0, 10, &p), 0x10400f800000005ULL);  // no cache yet
    ASSERT_EQ(deep.Initialize(&filter), 1u);
    ASSERT_EQ(deep.StartDataRecovery(&disk, &p, &sink), 0u);
    EXPECT_EQ(deep.SearchData(0, 10, nullptr), 0x10400f800000005ULL);
    EXPECT_EQ(deep.SearchData(5, 4, &p), 0x10400fb00000403ULL);
    EXPECT_EQ(deep.SearchData(200, 300, &p), 0x10400fb00000403ULL);  // wholly past the device
}

TEST_F(scan_controller, QuickScanOfAWholeDiskTouchesNothing)
{
    RegisterFakeQuickSearchers();
    CStampedMemoryDevice disk(100, 512, STORAGE_DEVICE_DISK);
    AttachVolumeRecord(disk, FS_FAT32);
    auto ctl = Make(RECOVERY_CONTROLLER_QUICK);
    EXPECT_EQ(ctl->StartDataRecovery(&disk, &progress, &sink), 0x104004300000404ULL);
    EXPECT_EQ(progress.Records(), (std::vector<ProgressRecord>{{2, 1, 0, 0}}));
    EXPECT_EQ(sink.m_iCalls, 0);
    EXPECT_TRUE(FakeScan().log.Events().empty());
}

TEST_F(scan_controller, QuickScanUsesTheSearcherOfTheVolumesFileSystem)
{
    RegisterFakeQuickSearchers();
    for (enumFILE_SYSTEM_TYPE fs : {FS_FAT12, FS_FAT16, FS_FAT32, FS_NTFS, FS_EXFAT, FS_HFSPLUS}) {
        SCOPED_TRACE(fs);
        FakeScan().log.Clear();
        CStampedMemoryDevice volume(100, 512, STORAGE_DEVICE_VOLUME);
        AttachVolumeRecord(volume, fs, "Photos");
        CFakeProgress run;
        auto ctl = Make(RECOVERY_CONTROLLER_QUICK);
        // The searcher's own failure is not the scan's.
        EXPECT_EQ(ctl->StartDataRecovery(&volume, &run, &sink), 0u);
        EXPECT_EQ(FakeScan().log.Events(),
                  (std::vector<std::string>{"B:Create 0", "B:Initialize Photos", "Q:SetDirecotryTreeBuilder",
                                            "Q:QuickSearchFiles " + std::to_string(fs)}));
        EXPECT_EQ(run.Records(), (std::vector<ProgressRecord>{{2, 1, 0, 0}}));
        ctl.reset();
        EXPECT_EQ(FakeScan().log.Events().back(), "Q:Destroy");
    }
}

TEST_F(scan_controller, QuickScanWithoutASearcherIsUnsupported)
{
    RegisterFakeQuickSearchers();
    CStampedMemoryDevice noRecord(100, 512, STORAGE_DEVICE_VOLUME);
    CStampedMemoryDevice apfs(100, 512, STORAGE_DEVICE_VOLUME);
    AttachVolumeRecord(apfs, FS_APFS);
    CStampedMemoryDevice unknown(100, 512, STORAGE_DEVICE_VOLUME);
    AttachVolumeRecord(unknown, FS_UNKNOWN);
    CStampedMemoryDevice oddType(100, 512, STORAGE_DEVICE_VOLUME);
    AttachVolumeRecord(oddType, static_cast<enumFILE_SYSTEM_TYPE>(5));
    CStampedMemoryDevice partitionRecord(100, 512, STORAGE_DEVICE_VOLUME);
    partitionRecord.SetPrivateData(CreatePartitionDeviceData(new CCollectedPartitionDeviceInfoStruct));
    CStampedMemoryDevice window(100, 512, STORAGE_DEVICE_WINDOW);

    for (IStorageDevice* device :
         std::initializer_list<IStorageDevice*>{&noRecord, &apfs, &unknown, &oddType, &partitionRecord, &window}) {
        CFakeProgress run;
        auto ctl = Make(RECOVERY_CONTROLLER_QUICK);
        EXPECT_EQ(ctl->StartDataRecovery(device, &run, &sink), 0x104005700000401ULL);
        EXPECT_EQ(run.Records(), (std::vector<ProgressRecord>{{2, 1, 0, 0}, {3, 1, 1, 0}}));
        EXPECT_EQ(ctl->GetDataRecovery(SEARCHER_FAT), nullptr);
    }
    EXPECT_TRUE(FakeScan().log.With("Q:").empty());
}

TEST_F(scan_controller, HfsSearcherIsToldWhenTheDeviceIsAnHfsVolume)
{
    RegisterFakeCompleteSearchers();
    struct Case {
        int type;
        int fs;  // -1: no record
        bool active;
    };
    const Case cases[] = {
        {STORAGE_DEVICE_VOLUME, FS_HFSPLUS, true},
        {STORAGE_DEVICE_VOLUME, FS_NTFS, false},
        {STORAGE_DEVICE_VOLUME, -1, false},
        {STORAGE_DEVICE_DISK, FS_HFSPLUS, false},
    };
    for (const Case& c : cases) {
        FakeScan().log.Clear();
        CStampedMemoryDevice device(100, 512, c.type);
        if (c.fs >= 0)
            AttachVolumeRecord(device, static_cast<enumFILE_SYSTEM_TYPE>(c.fs));
        CFakeProgress run;
        auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
        ASSERT_EQ(ctl->StartDataRecovery(&device, &run, &sink), 0u);
        EXPECT_EQ(FakeScan().log.Has("31:SetActivePartition 1"), c.active) << c.type << " " << c.fs;
        for (int other : {33, 32, 34, 35, 37})
            EXPECT_TRUE(FakeScan().log.With(std::to_string(other) + ":SetActivePartition").empty());
    }
}

TEST_F(scan_controller, SecondStartIsRefusedAndChangesNothing)
{
    RegisterFakeCompleteSearchers();
    RegisterFakeQuickSearchers();
    CStampedMemoryDevice disk(3 * 8192);
    CStampedMemoryDevice volume(100, 512, STORAGE_DEVICE_VOLUME);
    AttachVolumeRecord(volume, FS_NTFS);

    for (auto kind : {RECOVERY_CONTROLLER_DEEP, RECOVERY_CONTROLLER_QUICK}) {
        SCOPED_TRACE(kind);
        FakeScan().log.Clear();
        IStorageDevice* device = kind == RECOVERY_CONTROLLER_QUICK ? static_cast<IStorageDevice*>(&volume) : &disk;
        auto ctl = Make(kind);
        ASSERT_EQ(ctl->StartDataRecovery(device, &progress, &sink), 0u);
        const auto searchers = FakeScan().searchers;
        const size_t events = FakeScan().log.Events().size();
        const size_t reports = progress.Records().size();

        const ResultCode again = ctl->StartDataRecovery(device, &progress, &sink);
        EXPECT_TRUE(IsResultFailure(again));
        EXPECT_EQ(ResultModule(again), kModuleRecoveryController);
        EXPECT_EQ(FakeScan().log.Events().size(), events);
        EXPECT_EQ(FakeScan().searchers, searchers);
        EXPECT_EQ(progress.Records().size(), reports);
        // The first run's nodes and searchers are still there for recovery.
        if (kind == RECOVERY_CONTROLLER_DEEP) {
            ASSERT_EQ(searchers.size(), 6u);
            std::vector<unsigned char> buf(512);
            EXPECT_EQ(searchers[0]->m_pDevice->ReadSector(buf.data(), 9000, 1), 1);
            EXPECT_EQ(FirstBadStamp(buf.data(), 9000, 1, 512), -1);
        }
        ctl.reset();
        EXPECT_EQ(FakeScan().log.With("B:Release").size(), 1u);
    }
}

// Searchers that own their nodes (as the APFS one does) free them in their
// destructors; the builder, whose Release still touches every node, must be
// released first. AddressSanitizer reports the other order.
TEST_F(scan_controller, BuilderIsReleasedBeforeTheSearchersAreDestroyed)
{
    RegisterFakeCompleteSearchers();
    FakeScan().nodeOwningTypes = {37, 31};
    CStampedMemoryDevice disk(8192);
    auto ctl = Make(RECOVERY_CONTROLLER_DEEP_DISK);
    EXPECT_EQ(ctl->thisType(), RECOVERY_CONTROLLER_DEEP_DISK);
    ASSERT_EQ(ctl->StartDataRecovery(&disk, &progress, &sink), 0u);
    ctl.reset();

    const auto events = FakeScan().log.Events();
    auto at = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) - events.begin(); };
    ASSERT_LT(at("B:Release"), static_cast<long>(events.size()));
    for (int type : kDeepOrder)
        EXPECT_LT(at("B:Release"), at(std::to_string(type) + ":Destroy")) << type;
}

TEST(recovery_controller, FactoryMakesTheThreeKinds)
{
    for (int kind : {0, 1, 2}) {
        ControllerPtr c(CreateRecoveryController(static_cast<_RECOVERY_CONTROLLER_TYPE>(kind)));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->thisType(), kind);
        EXPECT_EQ(c->Initialize(nullptr), 0u);
    }
    for (int kind : {-1, 3, 38})
        EXPECT_EQ(CreateRecoveryController(static_cast<_RECOVERY_CONTROLLER_TYPE>(kind)), nullptr);
}

TEST(recovery_controller, DeviceDescriptionIsTheNameOfAReadyVolume)
{
    CStampedMemoryDevice ready(10, 512, STORAGE_DEVICE_VOLUME);
    AttachVolumeRecord(ready, FS_FAT32, "Holiday");
    CStampedMemoryDevice notReady(10, 512, STORAGE_DEVICE_VOLUME);
    AttachVolumeRecord(notReady, FS_FAT32, "Holiday", 1);
    CStampedMemoryDevice disk(10, 512, STORAGE_DEVICE_DISK);
    AttachVolumeRecord(disk, FS_FAT32, "Holiday");
    CStampedMemoryDevice window(10, 512, STORAGE_DEVICE_WINDOW);
    AttachVolumeRecord(window, FS_FAT32, "Holiday");
    CStampedMemoryDevice noRecord(10, 512, STORAGE_DEVICE_VOLUME);
    CStampedMemoryDevice partitionRecord(10, 512, STORAGE_DEVICE_VOLUME);
    partitionRecord.SetPrivateData(CreatePartitionDeviceData(new CCollectedPartitionDeviceInfoStruct));
    CStampedMemoryDevice fullName(10, 512, STORAGE_DEVICE_VOLUME);
    AttachVolumeRecord(fullName, FS_FAT32);
    auto* record = dynamic_cast<IVolumeDeviceData*>(fullName.GetPrivateData())->GetVolumeInfo();
    std::memset(record->szVolumeName, 'x', sizeof(record->szVolumeName));  // no terminator

    EXPECT_EQ(GetDeviceDescription(&ready), "Holiday");
    EXPECT_EQ(GetDeviceDescription(&notReady), "");
    EXPECT_EQ(GetDeviceDescription(&disk), "");
    EXPECT_EQ(GetDeviceDescription(&window), "");
    EXPECT_EQ(GetDeviceDescription(&noRecord), "");
    EXPECT_EQ(GetDeviceDescription(&partitionRecord), "");
    EXPECT_EQ(GetDeviceDescription(nullptr), "");
    EXPECT_EQ(GetDeviceDescription(&fullName), std::string(sizeof(record->szVolumeName), 'x'));
}

// Recognisers that record what they were made with.
IStorageDevice* g_analyzedDevice = nullptr;
unsigned long long g_analyzedStart = 0;
template <enumFILE_SYSTEM_TYPE Answer>
IVolumeAnalyze* FakeRecogniser(IStorageDevice* device, unsigned long long start)
{
    g_analyzedDevice = device;
    g_analyzedStart = start;
    return new CFakeVolumeAnalyze(Answer);
}
IVolumeAnalyze* NoRecogniser(IStorageDevice*, unsigned long long)
{
    return nullptr;
}

TEST(volume_analyze_controller, FirstRecogniserThatKnowsTheVolume)
{
    ScopedSearcherRegistry registry;
    CStampedMemoryDevice device(100);
    RegisterVolumeAnalyze(FS_FAT32, FakeRecogniser<FS_UNKNOWN>);
    RegisterVolumeAnalyze(FS_EXFAT, NoRecogniser);
    RegisterVolumeAnalyze(FS_NTFS, FakeRecogniser<FS_UNKNOWN>);
    {
        std::unique_ptr<IVolumeAnalyzeController> ctl(CreateVolumeAnalyzeController(&device, 63));
        EXPECT_EQ(ctl->GetVolumeAnzlyzer(), nullptr);
        EXPECT_EQ(g_analyzedDevice, &device);
        EXPECT_EQ(g_analyzedStart, 63u);
    }
    EXPECT_EQ(CFakeVolumeAnalyze::s_live, 0);

    RegisterVolumeAnalyze(FS_HFSPLUS, FakeRecogniser<FS_HFSPLUS>);
    RegisterVolumeAnalyze(FS_APFS, FakeRecogniser<FS_APFS>);
    {
        std::unique_ptr<IVolumeAnalyzeController> ctl(CreateVolumeAnalyzeController(&device, 0));
        IVolumeAnalyze* found = ctl->GetVolumeAnzlyzer();
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->GetFileSystemType(), FS_HFSPLUS);
        EXPECT_EQ(CFakeVolumeAnalyze::s_live, 4);
    }
    EXPECT_EQ(CFakeVolumeAnalyze::s_live, 0);

    std::unique_ptr<IVolumeAnalyzeController> none(CreateVolumeAnalyzeController(nullptr, 0));
    EXPECT_EQ(none->GetVolumeAnzlyzer(), nullptr);
    EXPECT_EQ(CFakeVolumeAnalyze::s_live, 0);
}

// While the searchers work on block 0 the reader is already reading ahead:
// the source is asked for block 10 before AnalyzeBlock(0) may return.
TEST_F(scan_controller, ReadAheadOverlapsTheSearch)
{
    RegisterFakeCompleteSearchers();
    CStampedMemoryDevice source(50 * 8192);
    CCountingDevice counting(&source);
    std::atomic<bool> timedOut{false};
    FakeScan().readBlocks = false;
    FakeScan().onAnalyze = [&](int type, long long first, long long) {
        if (type != 31 || first != 0)
            return;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!counting.WasAsked(10 * 8192)) {
            if (std::chrono::steady_clock::now() > deadline) {
                timedOut = true;
                return;
            }
            std::this_thread::sleep_for(1ms);
        }
    };
    auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
    ASSERT_EQ(ctl->StartDataRecovery(&counting, &progress, &sink), 0u);
    EXPECT_FALSE(timedOut) << "block 10 was not asked for while block 0 was analysed";
}

// A source that takes 20 ms per block and leaves the bytes alone.
class CSlowSource final : public CStampedMemoryDevice {
public:
    using CStampedMemoryDevice::CStampedMemoryDevice;
    int ReadSector(void*, long long, long long) override
    {
        std::this_thread::sleep_for(20ms);
        return 1;
    }
};

// Reading and searching overlap: 50 blocks of 20 ms reading and 20 ms
// searching take about 1 s, not 2 s. The better of two runs counts, so a
// moment of load on the machine does not decide.
TEST_F(scan_controller, OverlapTiming)
{
    RegisterFakeCompleteSearchers();
    CSlowSource source(50 * 8192);
    FakeScan().readBlocks = false;
    FakeScan().onAnalyze = [](int type, long long, long long) {
        if (type == 31)
            std::this_thread::sleep_for(20ms);
    };
    double best = 1e9;
    for (int run = 0; run < 2 && best > 1.5; ++run) {
        CFakeProgress runProgress;
        auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(ctl->StartDataRecovery(&source, &runProgress, &sink), 0u);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("deep scan overlap, 50 blocks of 20 ms read + 20 ms search: %.3f s\n", best);
    EXPECT_LE(best, 1.5);
}

}  // namespace

namespace {

CCompleteRecoveryController* DeepOf(IRecoveryController* c)
{
    return dynamic_cast<CCompleteRecoveryController*>(c);
}

// A source that answers every read at once and holds nothing.
class CInstantSource final : public CStampedMemoryDevice {
public:
    using CStampedMemoryDevice::CStampedMemoryDevice;
    int ReadSector(void*, long long, long long) override { return 1; }
};

// Continued() turns 0 at a set moment, which it keeps.
class CTimedStopProgress final : public IProgress {
public:
    explicit CTimedStopProgress(std::chrono::steady_clock::time_point stopAt) : m_stopAt(stopAt) {}
    void UpdateProgress(_PROGRESS_INFO*) override {}
    int Continued() override { return std::chrono::steady_clock::now() < m_stopAt ? 1 : 0; }
    int shouldBuild() override { return 1; }

private:
    std::chrono::steady_clock::time_point m_stopAt;
};

}  // namespace

// With a worker per searcher, each searcher still gets every block once, in
// order, through a device that serves the block's own bytes; the RAW searcher
// (34) takes a block only after every other searcher finished it; the ends
// come after every block; the progress reports are those of one thread.
TEST_F(scan_controller, ParallelScanGivesEveryBlockInOrderRawLast)
{
    RegisterFakeCompleteSearchers();
    CStampedMemoryDevice device(20 * 8192 + 100);
    std::mutex lock;
    std::map<int, long long> finished;  // type -> blocks finished
    int early = 0;
    FakeScan().onAnalyze = [&](int type, long long first, long long) {
        const long long block = first / 8192;
        if (type == 34) {
            std::lock_guard<std::mutex> guard(lock);
            for (int other : kDeepOrder)
                if (other != 34 && finished[other] < block + 1)
                    ++early;
            return;
        }
        // Uneven work, so that the workers drift apart.
        std::this_thread::sleep_for(std::chrono::microseconds((type * 7 + block * 13) % 5 * 300));
        std::lock_guard<std::mutex> guard(lock);
        finished[type] = block + 1;
    };
    for (unsigned int threads : {8u, 3u, 2u}) {
        SCOPED_TRACE(threads);
        FakeScan().log.Clear();
        {
            std::lock_guard<std::mutex> guard(lock);
            finished.clear();
        }
        CFakeProgress runProgress;
        auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
        DeepOf(ctl.get())->SetScanThreads(threads);
        ASSERT_EQ(ctl->StartDataRecovery(&device, &runProgress, &sink), 0u);
        EXPECT_EQ(early, 0);
        EXPECT_EQ(FakeScan().badBlocks, 0);

        const std::vector<std::string> events = FakeScan().log.Events();
        size_t lastAnalyze = 0;
        size_t firstEnd = events.size();
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].find(":AnalyzeBlock") != std::string::npos)
                lastAnalyze = i;
            if (events[i].find(":EndSearch") != std::string::npos)
                firstEnd = std::min(firstEnd, i);
        }
        EXPECT_LT(lastAnalyze, firstEnd);
        for (int type : kDeepOrder) {
            SCOPED_TRACE(type);
            std::vector<std::string> expected;
            for (int b = 0; b < 21; ++b)
                expected.push_back(std::to_string(type) + ":AnalyzeBlock " + std::to_string(b * 8192) +
                                   (b < 20 ? " 8192" : " 100"));
            std::vector<std::string> got;
            for (const std::string& e : FakeScan().log.With(std::to_string(type) + ":AnalyzeBlock"))
                got.push_back(e);
            EXPECT_EQ(got, expected);
        }
        // 0 .. 20 blocks shown as 80 % of the whole, block by block.
        std::vector<ProgressRecord> running;
        for (const ProgressRecord& r : runProgress.Records())
            if (r.state == PROGRESS_STATE_RUNNING && r.total == 21)
                running.push_back(r);
        ASSERT_EQ(running.size(), 21u);
        for (uint64_t b = 0; b < 21; ++b)
            EXPECT_EQ(running[b].done, (b + 1) * 4 / 5);
    }
}

// A stopped deep scan leaves no read running or to come: the device may go
// as soon as the scan returns, though the controller is kept for recovering.
TEST_F(scan_controller, NoReadReachesTheDeviceOnceAStoppedScanReturns)
{
    RegisterFakeCompleteSearchers();
    for (unsigned int threads : {1u, 8u}) {
        SCOPED_TRACE(threads);
        FakeScan().log.Clear();
        CSlowSource slow(200LL * 8192);
        CCountingDevice device(&slow);
        std::atomic<bool> returned{false};
        std::atomic<int> late{0};
        device.SetHook([&](long long, long long) {
            if (returned)
                ++late;
        });
        // Reads take 20 ms a block: the stop comes a few blocks in, while
        // the reader is still ahead of the searchers.
        CTimedStopProgress stopping(std::chrono::steady_clock::now() + 90ms);
        auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
        DeepOf(ctl.get())->SetScanThreads(threads);
        ASSERT_EQ(ctl->StartDataRecovery(&device, &stopping, &sink), 0u);
        returned = true;
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(late.load(), 0);
        EXPECT_LT(device.Reads().size(), 200u);
    }
}

// How soon a stopped parallel scan must return. ThreadSanitizer slows every
// thread several times over, and CI runs these tests eight at a time under
// it: there the run checks the stop for races, and its time only for a hang.
#if defined(__SANITIZE_THREAD__)
constexpr double kParallelStopLimit = 0.5;
#else
constexpr double kParallelStopLimit = 0.1;
#endif

// A stopped parallel scan returns soon after the stop, even when every
// searcher takes a while per block, and ends every searcher but RAW.
TEST_F(scan_controller, ParallelScanStopsWithin100ms)
{
    RegisterFakeCompleteSearchers();
    CInstantSource source(2000LL * 8192);
    FakeScan().readBlocks = false;
    FakeScan().onAnalyze = [](int, long long, long long) { std::this_thread::sleep_for(5ms); };
    double best = 1e9;
    for (int run = 0; run < 3 && best > kParallelStopLimit; ++run) {
        FakeScan().log.Clear();
        const auto stopAt = std::chrono::steady_clock::now() + 50ms;
        CTimedStopProgress stopping(stopAt);
        auto ctl = Make(RECOVERY_CONTROLLER_DEEP);
        DeepOf(ctl.get())->SetScanThreads(8);
        ASSERT_EQ(ctl->StartDataRecovery(&source, &stopping, &sink), 0u);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - stopAt).count());
        EXPECT_LT(FakeScan().log.With("31:AnalyzeBlock").size(), 2000u);
        for (int type : kDeepOrder)
            EXPECT_EQ(FakeScan().log.Has(std::to_string(type) + ":EndSearch 1"), type != 34) << type;
    }
    std::printf("parallel deep scan: returned %.0f ms after the stop\n", best * 1000);
    EXPECT_LE(best, kParallelStopLimit);
}
