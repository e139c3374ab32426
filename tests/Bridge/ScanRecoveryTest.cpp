// The scan operation over real FAT images on its worker thread (progress,
// pause, stop, the found-node sink's lists, the whole-disk loop) and the
// recovery of checked nodes (known bytes, skipped nodes, the same-device
// test, and the pause on a failed write).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "BridgeMachine.h"
#include "BridgeTestSupport.h"
#include "InfoDevice.h"
#include "DeviceInfo.h"
#include "DirectoryTreeBuilder.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "FileTypeLists.h"
#include "FileTypeManager.h"
#include "IFileNode.h"
#include "IRecovery.h"
#include "IStorageDevice.h"
#include "TestSupport.h"
#include "ZRUIDeviceData.h"
#include "ZRUIRecovery.h"
#include "ZRUIScan.h"

namespace fs = std::filesystem;

namespace {

void TheMachine() { ListBridgeMachine(true); }

IStorageDevice* ImageVolume()
{
    TheMachine();
    return ZRUIDeviceData::instance().GetStorageByDiskVolumeIndex(0, 0);
}

IStorageDevice* StickDisk()
{
    TheMachine();
    return ZRUIDeviceData::instance().GetStorageByDiskVolumeIndex(1, -1);
}

// Forwards to a device; while armed, the read with the given number waits
// until the test opens the gate.
class GateDevice : public IStorageDevice {
public:
    explicit GateDevice(IStorageDevice* inner) : m_pInner(inner) {}
    void Arm(int readNumber)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_iGateAt = readNumber;
        m_bOpen = false;
    }
    bool WaitUntilHeld(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_cv.wait_for(guard, limit, [this] { return m_bHeld; });
    }
    void Open()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bOpen = true;
        m_cv.notify_all();
    }
    int Open(char* path) override { return m_pInner->Open(path); }
    int Close() override { return m_pInner->Close(); }
    int ReadSector(void* buffer, long long first, long long count) override
    {
        {
            std::unique_lock<std::mutex> guard(m_lock);
            if (++m_iReads == m_iGateAt) {
                m_bHeld = true;
                m_cv.notify_all();
                m_cv.wait(guard, [this] { return m_bOpen; });
            }
        }
        return m_pInner->ReadSector(buffer, first, count);
    }
    unsigned int GetSectorSize() override { return m_pInner->GetSectorSize(); }
    long long GetTotalSectors() override { return m_pInner->GetTotalSectors(); }
    int IOCtl(unsigned long long r, void* a) override { return m_pInner->IOCtl(r, a); }
    IStorageDeviceData* GetPrivateData() override { return m_pInner->GetPrivateData(); }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return m_pInner->GetType(); }
    ResultCode GetLastError() override { return m_pInner->GetLastError(); }
    int IsPermitted() override { return m_pInner->IsPermitted(); }

private:
    IStorageDevice* m_pInner;
    std::mutex m_lock;
    std::condition_variable m_cv;
    int m_iReads = 0;
    int m_iGateAt = -1;
    bool m_bOpen = true;
    bool m_bHeld = false;
};

struct Job {
    std::atomic<bool> done{false};
    std::atomic<ResultCode> result{0};
};

// Starts a scan the way the windows do: status 2, then the threads.
std::shared_ptr<Job> StartScan(IStorageDevice* device, int deep)
{
    ZRUIScan& scan = ZRUIScan::instance();
    ZRUIFilter::instance().ResetFilter(127);
    scan.SetDeepScan(deep);
    scan.SetShouldBuildTree(1);
    if (scan.GetStatus() == OPERATION_STATUS_STOP)
        scan.SetStatus(OPERATION_STATUS_IDLE);
    EXPECT_TRUE(scan.IsOperationExit());
    scan.SetStatus(OPERATION_STATUS_RUNNING);
    auto job = std::make_shared<Job>();
    EXPECT_TRUE(ZRUIOperationThreads::DoOperation(
        [job, device] {
            job->result = ZRUIScan::instance().DoScan(device, nullptr);
            job->done = true;
        },
        &scan, "NormalScranValue"));
    return job;
}

bool WaitForScan(const std::shared_ptr<Job>& job)
{
    return PumpUntil([&] { return job->done.load() && ZRUIScan::instance().IsOperationExit(); });
}

std::shared_ptr<Job> StartRecovery(const std::string& destination, unsigned long long totalSize)
{
    ZRUIRecovery& recovery = ZRUIRecovery::instance();
    recovery.SetRecoveryPath((destination + "/").c_str());
    recovery.ClearCreateDirIndex();
    recovery.SetRecoveryTotalSize(totalSize);
    recovery.SetStatus(OPERATION_STATUS_RUNNING);
    auto job = std::make_shared<Job>();
    EXPECT_TRUE(ZRUIOperationThreads::DoOperation(
        [job] {
            job->result = ZRUIRecovery::instance().DoRecovery();
            job->done = true;
        },
        &recovery, "DoRecovery"));
    return job;
}

bool WaitForRecovery(const std::shared_ptr<Job>& job)
{
    return PumpUntil([&] { return job->done.load() && ZRUIRecovery::instance().IsOperationExit(); });
}

// Every file of the type map by name.
std::map<std::string, IFileNode*> FilesByName()
{
    std::map<std::string, IFileNode*> files;
    for (auto& [type, nodes] : ZRUIScan::instance().GetTypeMap())
        for (IFileNode* node : nodes)
            files[node->GetFileName()] = node;
    return files;
}

std::set<std::string> NamesOf(const GroupFiles& nodes)
{
    std::set<std::string> names;
    for (IFileNode* node : nodes)
        names.insert(node->GetFileName());
    return names;
}

// Recovered files below a destination, by file name.
std::map<std::string, std::string> Recovered(const std::string& destination)
{
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto& entry : fs::recursive_directory_iterator(destination, ec))
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = entry.path().string();
    return files;
}

const std::map<std::string, std::string> kSources = {
    {"photo.jpg", "src/photo.jpg"}, {"song.mp3", "src/song.mp3"},         {"clip.mp4", "src/clip.mp4"},
    {"report.pdf", "src/docs/report.pdf"}, {"data.bin", "src/docs/data.bin"},
};

class BridgeScan : public testing::Test {
protected:
    void SetUp() override
    {
        EnsureBridgeApp();
        TheMachine();
        m_imageDigest = FileDigest(BridgeImage("vol.img"));
        m_diskDigest = FileDigest(BridgeImage("disk.img"));
    }
    void TearDown() override
    {
        // Nothing may ever be written to a scanned image.
        EXPECT_EQ(FileDigest(BridgeImage("vol.img")), m_imageDigest);
        EXPECT_EQ(FileDigest(BridgeImage("disk.img")), m_diskDigest);
    }
    std::string m_imageDigest, m_diskDigest;
};

TEST_F(BridgeScan, QuickScanFillsTheSink)
{
    NotificationRecorder recorder;
    ZRUIScan& scan = ZRUIScan::instance();
    IStorageDevice* volume = ImageVolume();
    ASSERT_NE(volume, nullptr);
    auto job = StartScan(volume, 0);
    ASSERT_TRUE(WaitForScan(job));
    EXPECT_FALSE(IsResultFailure(job->result.load())) << FormatResultCode(job->result.load());
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("NormalScranValue") >= 1; }));
    EXPECT_TRUE(recorder.AllOnMainThread());

    ASSERT_NE(scan.GetRecoveryController(), nullptr);
    EXPECT_EQ(scan.GetRecoveryController()->thisType(), RECOVERY_CONTROLLER_QUICK);
    EXPECT_EQ(scan.GetSavedStorage(), volume);
    EXPECT_FALSE(scan.IsStorageMounted(volume));
    EXPECT_TRUE(scan.IsStorageMounted(StickDisk()));
    EXPECT_FALSE(scan.IsStorageMounted(nullptr));
    const _PROGRESS_INFO progress = scan.GetProgressInfo();
    EXPECT_EQ(progress.dwState, PROGRESS_STATE_FINISHED);
    EXPECT_EQ(progress.u64Done, progress.u64Total);

    // Five live files and the deleted one; the folder is not a file.
    EXPECT_EQ(scan.GetScanFileCnt(), 6u);
    EXPECT_EQ(scan.GetScanFileSize(), 3000u + 2500 + 200000 + 1800 + 1200 + 700);
    const TypeMap types = scan.GetTypeMap();
    std::map<int, std::set<std::string>> byType;
    for (auto& [type, nodes] : types)
        byType[type] = NamesOf(nodes);
    ASSERT_EQ(byType.size(), 5u);
    EXPECT_EQ(byType[1], (std::set<std::string>{"photo.jpg"}));
    EXPECT_EQ(byType[2], (std::set<std::string>{"song.mp3"}));
    EXPECT_EQ(byType[4], (std::set<std::string>{"clip.mp4"}));
    EXPECT_EQ(byType[16], (std::set<std::string>{"report.pdf", "#one.txt"}));
    EXPECT_EQ(byType[32], (std::set<std::string>{"data.bin"}));
    // Every file was modified in March 2021 (and mtools gave them the same
    // creation time); nothing fills the access-time map.
    for (const TimeMap& map : {scan.GetModifyTimeMap(), scan.GetCreateTimeMap()}) {
        ASSERT_EQ(map.size(), 1u);
        ASSERT_EQ(map.begin()->first, 2021);
        ASSERT_EQ(map.begin()->second.size(), 1u);
        EXPECT_EQ(map.begin()->second.begin()->first, 3);
        EXPECT_EQ(map.begin()->second.begin()->second.size(), 6u);
    }
    EXPECT_TRUE(scan.GetAccessTimeMap().empty());

    // One file-system root, with its data-recovery object.
    const NodeList roots = scan.GetFileSystemNode();
    ASSERT_EQ(roots.size(), 1u);
    const auto files = FilesByName();
    ASSERT_EQ(files.count("photo.jpg"), 1u);
    IFileNode* photo = files.at("photo.jpg");
    EXPECT_NE(scan.GetFileNodeDataRecover(photo), nullptr);
    EXPECT_EQ(scan.GetFileNodeDataRecover(nullptr), nullptr);
    EXPECT_EQ(ZRUIScan::GetNodeExt(photo), "jpg");
    EXPECT_EQ(ZRUIScan::GetNodeExt(nullptr), "");

    // The path view places each folder once, again after a refresh.
    IFileNode* docs = files.at("report.pdf")->GetParent();
    ASSERT_NE(docs, nullptr);
    EXPECT_TRUE(scan.FindRemoveData(photo));
    EXPECT_TRUE(scan.FindRemoveData(docs));
    EXPECT_FALSE(scan.FindRemoveData(docs));
    scan.RefreshAllData();
    EXPECT_TRUE(scan.FindRemoveData(docs));
    EXPECT_FALSE(scan.FindRemoveData(docs));
    EXPECT_FALSE(scan.FindRemoveData(nullptr));
}

TEST_F(BridgeScan, DeepScanPausesAndResumes)
{
    ZRUIScan& scan = ZRUIScan::instance();
    GateDevice gate(ImageVolume());
    gate.Arm(3);
    auto job = StartScan(&gate, 1);
    ASSERT_TRUE(gate.WaitUntilHeld(std::chrono::seconds(60)));
    scan.PauseOrResumeOperation();
    EXPECT_EQ(scan.GetStatus(), OPERATION_STATUS_PAUSED);
    gate.Open();
    // The engine now waits in Continued(): no progress while paused.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const unsigned long long held = scan.GetProgressInfo().u64Done;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(scan.GetProgressInfo().u64Done, held);
    EXPECT_FALSE(job->done.load());
    EXPECT_EQ(scan.GetStatus(), OPERATION_STATUS_PAUSED);
    scan.PauseOrResumeOperation();
    ASSERT_TRUE(WaitForScan(job));
    EXPECT_FALSE(IsResultFailure(job->result.load())) << FormatResultCode(job->result.load());
    ASSERT_NE(scan.GetRecoveryController(), nullptr);
    EXPECT_EQ(scan.GetRecoveryController()->thisType(), RECOVERY_CONTROLLER_DEEP);
    EXPECT_EQ(scan.GetStatus(), OPERATION_STATUS_IDLE);
    EXPECT_GE(scan.GetScanFileCnt(), 5u);
    const auto files = FilesByName();
    EXPECT_EQ(files.count("clip.mp4"), 1u);
    // A deep scan's roots get no data-recovery object of their own; the
    // recovery goes through its per-type objects.
    EXPECT_EQ(scan.GetFileNodeDataRecover(files.begin()->second), nullptr);
    EXPECT_NE(ZRUIRecovery::instance().GetDataRecoveryByType(SEARCHER_FAT), nullptr);
    for (auto& [name, node] : files)
        node->SetCheck(name == "clip.mp4" ? CHECKED_ALL : CHECKED_NONE);
    TempDir destination;
    auto recovery = StartRecovery(destination.path(), 200000);
    ASSERT_TRUE(WaitForRecovery(recovery));
    const auto out = Recovered(destination.path());
    ASSERT_EQ(out.count("clip.mp4"), 1u);
    EXPECT_EQ(FileDigest(out.at("clip.mp4")), FileDigest(BridgeImage("src/clip.mp4")));
    EXPECT_EQ(out.size(), 1u);
    scan.SetDeepScan(0);
}

TEST_F(BridgeScan, StopEndsTheScanWithoutTrees)
{
    ZRUIScan& scan = ZRUIScan::instance();
    GateDevice gate(ImageVolume());
    gate.Arm(3);
    auto job = StartScan(&gate, 1);
    ASSERT_TRUE(gate.WaitUntilHeld(std::chrono::seconds(60)));
    scan.StopOperation(1);
    EXPECT_EQ(scan.GetStatus(), OPERATION_STATUS_STOP);
    EXPECT_EQ(scan.shouldBuild(), 0);
    gate.Open();
    ASSERT_TRUE(WaitForScan(job));
    EXPECT_TRUE(scan.IsOperationExit());
    scan.SetDeepScan(0);
    scan.SetShouldBuildTree(1);

    // A stop before a volume starts: that volume is refused.
    scan.SetStatus(OPERATION_STATUS_STOP);
    EXPECT_EQ(scan.DoVolumeStorageScan(ImageVolume()), ZRUIScanError::kVolumeNotStarted);
    scan.SetStatus(OPERATION_STATUS_IDLE);
    EXPECT_EQ(scan.DoScan(nullptr, nullptr), ZRUIScanError::kNotStarted);
    EXPECT_TRUE(scan.IsOperationExit());
}

TEST_F(BridgeScan, WholeDiskQuickScanWalksItsVolumes)
{
    ZRUIScan& scan = ZRUIScan::instance();
    auto job = StartScan(StickDisk(), 0);
    ASSERT_TRUE(WaitForScan(job));
    EXPECT_FALSE(IsResultFailure(job->result.load())) << FormatResultCode(job->result.load());
    EXPECT_EQ(scan.GetStatus(), OPERATION_STATUS_IDLE);
    EXPECT_EQ(scan.GetFileSystemNode().size(), 3u);
    const auto files = FilesByName();
    EXPECT_EQ(files.size(), 3u);
    for (const char* name : {"efi.txt", "a.jpg", "b.txt"}) {
        ASSERT_EQ(files.count(name), 1u) << name;
        EXPECT_NE(scan.GetFileNodeDataRecover(files.at(name)), nullptr) << name;
    }
    EXPECT_EQ(scan.GetScanControllerType(StickDisk()), RECOVERY_CONTROLLER_QUICK);
    EXPECT_EQ(scan.GetScanControllerType(nullptr), 3);
    scan.SetDeepScan(1);
    EXPECT_EQ(scan.GetScanControllerType(StickDisk()), RECOVERY_CONTROLLER_DEEP_DISK);
    EXPECT_EQ(scan.GetScanControllerType(ImageVolume()), RECOVERY_CONTROLLER_DEEP);
    scan.SetDeepScan(0);

    // MORE (the third volume) carries the temporary folders' device number:
    // a destination there is on the scanned disk, not on the image volume.
    ZRUIRecovery& recovery = ZRUIRecovery::instance();
    TempDir destination;
    EXPECT_TRUE(recovery.RecoveryPathIsSameDevice(destination.path().c_str()));
    EXPECT_FALSE(recovery.RecoveryPathIsSameDevice(nullptr));
    EXPECT_FALSE(recovery.RecoveryPathIsSameDevice((destination / "missing").c_str()));
    scan.SaveScanSorage(ImageVolume());
    EXPECT_FALSE(recovery.RecoveryPathIsSameDevice(destination.path().c_str()));
    scan.SaveScanSorage(ZRUIDeviceData::instance().GetStorageByDiskVolumeIndex(1, 2));
    EXPECT_TRUE(recovery.RecoveryPathIsSameDevice(destination.path().c_str()));
}

TEST_F(BridgeScan, RecoversCheckedShownFiles)
{
    NotificationRecorder recorder;
    auto scanJob = StartScan(ImageVolume(), 0);
    ASSERT_TRUE(WaitForScan(scanJob));
    auto files = FilesByName();
    for (auto& [name, node] : files)
        node->SetCheck(CHECKED_ALL);
    files.at("data.bin")->SetCheck(CHECKED_NONE);  // unchecked
    files.at("song.mp3")->ShowNode(0);              // hidden by a search
    TempDir destination;
    ZRUIRecovery& recovery = ZRUIRecovery::instance();
    auto job = StartRecovery(destination.path(), 3000 + 200000 + 1800 + 700);
    ASSERT_TRUE(WaitForRecovery(job));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("DoRecovery") >= 1; }));
    files.at("song.mp3")->ShowNode(1);

    const auto out = Recovered(destination.path());
    for (const char* name : {"photo.jpg", "clip.mp4", "report.pdf"}) {
        ASSERT_EQ(out.count(name), 1u) << name;
        EXPECT_EQ(FileDigest(out.at(name)), FileDigest(BridgeImage(kSources.at(name)))) << name;
    }
    EXPECT_EQ(out.count("song.mp3"), 0u);
    EXPECT_EQ(out.count("data.bin"), 0u);
    EXPECT_EQ(out.size(), 4u) << "the three live files and the deleted one";
    EXPECT_EQ(recovery.GetRecoveriedFilesCnt(), 4u);
    EXPECT_EQ(recovery.GetRecoveriedFileSize(), 3000u + 200000 + 1800 + 700);
    const _PROGRESS_INFO progress = recovery.GetProgressInfo();
    EXPECT_EQ(progress.u64Done, progress.u64Total);
    EXPECT_EQ(recovery.GetCurrentRecoveryNode(), nullptr);
    EXPECT_EQ(ZRUIScan::instance().GetCurrentScanRecoveryCnt(), 1);
    // The root folder is named for the file system, and its number kept.
    EXPECT_TRUE(fs::is_directory(destination / "Fat_0001"));
    EXPECT_EQ(recovery.GetCreateDirIndex(SEARCHER_FAT), 1);
    EXPECT_FALSE(IsResultFailure(job->result.load())) << FormatResultCode(job->result.load());
}

// Writes beyond this size fail for the whole process while it is set.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    void Lift() { setrlimit(RLIMIT_FSIZE, &m_old); }
    ~FileSizeLimit()
    {
        Lift();
        signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

TEST_F(BridgeScan, FailedWritePausesTheJob)
{
    for (bool resume : {true, false}) {
        SCOPED_TRACE(resume ? "resumed" : "stopped");
        auto scanJob = StartScan(ImageVolume(), 0);
        ASSERT_TRUE(WaitForScan(scanJob));
        auto files = FilesByName();
        for (auto& [name, node] : files)
            node->SetCheck(kSources.count(name) ? CHECKED_ALL : CHECKED_NONE);
        TempDir destination;
        ZRUIRecovery& recovery = ZRUIRecovery::instance();
        // In type order the five files are PHOTO, SONG, CLIP (200,000
        // bytes: its writes fail past 64 KiB), REPORT and DATA.
        FileSizeLimit limit(64 * 1024);
        auto job = StartRecovery(destination.path(), 3000 + 2500 + 200000 + 1800 + 1200);
        ASSERT_TRUE(PumpUntil([&] { return recovery.GetStatus() == OPERATION_STATUS_PAUSED; },
                              std::chrono::seconds(30)));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(ResultKind(recovery.GetProgressInfo().u64Result), ZRUIRecovery::kWriteIncompleteKind);
        EXPECT_FALSE(job->done.load());
        auto out = Recovered(destination.path());
        EXPECT_EQ(out.count("report.pdf"), 0u) << "the job must wait before the fourth file";
        EXPECT_EQ(out.count("photo.jpg"), 1u);
        limit.Lift();
        if (resume)
            recovery.PauseOrResumeOperation();
        else
            recovery.StopOperation(1);
        ASSERT_TRUE(WaitForRecovery(job));
        out = Recovered(destination.path());
        if (resume) {
            for (auto& [name, source] : kSources) {
                ASSERT_EQ(out.count(name), 1u) << name;
                EXPECT_EQ(FileDigest(out.at(name)), FileDigest(BridgeImage(source))) << name;
            }
            EXPECT_FALSE(IsResultFailure(job->result.load()));
        } else {
            EXPECT_EQ(out.count("report.pdf"), 0u);
            EXPECT_EQ(out.count("data.bin"), 0u);
        }
    }
}

}  // namespace

namespace {

// A volume device that carries only its information record.
class InfoVolume : public InfoDevice {
public:
    explicit InfoVolume(enumFILE_SYSTEM_TYPE type) : InfoDevice(VolumeRecord(type), STORAGE_DEVICE_VOLUME) {}
};

TEST(BridgeScanSink, UnknownFileSystemIsScannedDeep)
{
    ZRUIScan& scan = ZRUIScan::instance();
    InfoVolume unknown(FS_UNKNOWN), fat(FS_FAT16);
    scan.SetDeepScan(0);
    scan.SaveScanSorage(&fat);
    EXPECT_EQ(scan.IsDeepScan(), 0);
    EXPECT_EQ(scan.GetScanControllerType(&fat), RECOVERY_CONTROLLER_QUICK);
    scan.SaveScanSorage(&unknown);
    EXPECT_EQ(scan.IsDeepScan(), 1);
    EXPECT_EQ(scan.GetScanControllerType(&unknown), RECOVERY_CONTROLLER_DEEP);
    scan.SetDeepScan(0);
    scan.SaveScanSorage(nullptr);
}

TEST(BridgeScanSink, FilesAndFoldersGoToTheirLists)
{
    // Straight into the sink, without a scan.
    TheMachine();
    ZRUIScan& scan = ZRUIScan::instance();
    ZRUIFilter::instance().ResetFilter(127);
    scan.ClearData();
    TestNode folderA("a", 1, true), folderB("b", 2, true);
    IFileNode* folders[] = {&folderA, &folderB};
    scan.ShowNodes(folders, 2, SEARCHER_FAT);
    EXPECT_EQ(scan.GetScanFileCnt(), 0u);
    EXPECT_TRUE(scan.GetTypeMap().empty());
    EXPECT_TRUE(scan.GetCreateTimeMap().empty());
    EXPECT_TRUE(scan.FindRemoveData(&folderA));

    // 2021-03-04 and 2022-11-30 as file times; no creation time.
    const unsigned long long march2021 = (1614834368ULL + 11644473600ULL) * 10000000ULL;
    const unsigned long long nov2022 = (1669766400ULL + 11644473600ULL) * 10000000ULL;
    TestNode song("x.MP3", 3), picture("y.jpg", 4);
    song.m_size = 10;
    song.m_modified = march2021;
    picture.m_size = 5;
    picture.m_created = nov2022;
    picture.m_modified = nov2022;
    IFileNode* batch[] = {&song, nullptr, &picture};
    scan.ShowNodes(batch, 3, SEARCHER_FAT);
    scan.ShowNodes(batch, 0, SEARCHER_FAT);
    EXPECT_EQ(scan.GetScanFileCnt(), 2u);
    EXPECT_EQ(scan.GetScanFileSize(), 15u);
    const TypeMap types = scan.GetTypeMap();
    ASSERT_EQ(types.size(), 2u);
    EXPECT_EQ(types.at(2).front(), &song);
    EXPECT_EQ(types.at(1).front(), &picture);
    const TimeMap created = scan.GetCreateTimeMap();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created.at(2022).at(11).front(), &picture);
    const TimeMap modified = scan.GetModifyTimeMap();
    EXPECT_EQ(modified.at(2021).at(3).front(), &song);
    EXPECT_EQ(modified.at(2022).at(11).front(), &picture);
    EXPECT_EQ(ZRUIScan::GetNodeExt(&song), "mp3");

    // A root that is not a folder is refused.
    scan.ShowFilesystemNode(nullptr);
    EXPECT_TRUE(scan.GetFileSystemNode().empty());
    scan.ClearData();
    EXPECT_EQ(scan.GetScanFileCnt(), 0u);
    EXPECT_TRUE(scan.GetModifyTimeMap().empty());
}

}  // namespace
