// Saving a real scan of a FAT image to a file and loading it back through
// the scan operation, as the windows do: the same files return, they recover
// to the same bytes, the errors of a load are reported, and nothing is ever
// written to the image.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "BridgeMachine.h"
#include "BridgeTestSupport.h"
#include "DirectoryTreeBuilder.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "FileTypeLists.h"
#include "FileTypeManager.h"
#include "IFileNode.h"
#include "IStorageDevice.h"
#include "RSData.h"
#include "TestSupport.h"
#include "ZRUIDeviceData.h"
#include "ZRUIRecovery.h"
#include "ZRUISaveRestore.h"
#include "ZRUIScan.h"

namespace fs = std::filesystem;

namespace {

void TheMachine() { ListBridgeMachine(false); }

IStorageDevice* ImageVolume()
{
    TheMachine();
    return ZRUIDeviceData::instance().GetStorageByDiskVolumeIndex(0, 0);
}

std::string SourceOf(const std::string& relative)
{
    return fs::path(BridgeImage("vol.img")).parent_path().string() + "/" + relative;
}

bool RunScan(IStorageDevice* device, int deep)
{
    ZRUIScan& scan = ZRUIScan::instance();
    ZRUIFilter::instance().ResetFilter(127);
    scan.SetDeepScan(deep);
    scan.SetShouldBuildTree(1);
    if (!scan.IsOperationExit())
        return false;
    scan.SetStatus(OPERATION_STATUS_RUNNING);
    auto done = std::make_shared<std::atomic<bool>>(false);
    if (!ZRUIOperationThreads::DoOperation(
            [done, device] {
                ZRUIScan::instance().DoScan(device, nullptr);
                *done = true;
            },
            &scan, "NormalScranValue"))
        return false;
    return PumpUntil([&] { return done->load() && scan.IsOperationExit(); });
}

// The finished record of a save or load: state 3 with done = total = 100.
bool Finished(const _PROGRESS_INFO& p)
{
    return p.dwState == PROGRESS_STATE_FINISHED && p.u64Total == 100 && p.u64Done == 100;
}

// A save as the windows start it; the error code of its finish.
long long Save(const std::string& path)
{
    ZRSaveAndRestoreNodeOperate& op = ZRSaveAndRestoreNodeOperate::instance();
    op.SetProgressInfo(_PROGRESS_INFO{});
    op.SetStatus(OPERATION_STATUS_RUNNING);
    EXPECT_EQ(DoSaveScanResult(path.c_str(), &op), 0);
    EXPECT_TRUE(PumpUntil([&] { return op.IsOperationExit() && Finished(op.GetProgressInfo()); }));
    return static_cast<long long>(op.GetProgressInfo().u64Result);
}

// A load as the windows start it; the error code of its finish.
long long Load(const std::string& path)
{
    ZRUIScan& scan = ZRUIScan::instance();
    ZRUIFilter::instance().ResetFilter(127);
    scan.ClearData();
    scan.SetShouldBuildTree(1);
    scan.SetProgressInfo(_PROGRESS_INFO{});
    scan.SetStatus(OPERATION_STATUS_RUNNING);
    EXPECT_EQ(DoRestoreScanResult(path.c_str(), &scan), 0);
    EXPECT_TRUE(PumpUntil([&] { return scan.IsOperationExit() && Finished(scan.GetProgressInfo()); }));
    return static_cast<long long>(scan.GetProgressInfo().u64Result);
}

struct Found {
    std::string name;
    long long size;
    int deleted;
    unsigned long long modified;
    auto operator<=>(const Found&) const = default;
};

std::set<Found> FoundFiles()
{
    std::set<Found> out;
    for (auto& [type, nodes] : ZRUIScan::instance().GetTypeMap())
        for (IFileNode* n : nodes)
            out.insert({n->GetFileName(), n->GetFileSize(), n->IsDeleted(), n->GetModificationTime()});
    return out;
}

IFileNode* FileNamed(const std::string& name)
{
    for (auto& [type, nodes] : ZRUIScan::instance().GetTypeMap())
        for (IFileNode* n : nodes)
            if (name == n->GetFileName())
                return n;
    return nullptr;
}

// Checks only name, copies every file of the current result to dir.
std::map<std::string, std::string> RecoverAll(const std::string& dir)
{
    ZRUIScan& scan = ZRUIScan::instance();
    scan.UnselectAllNodes();
    for (IFileNode* root : scan.GetFileSystemNode())
        root->SetCheck(CHECKED_ALL);
    ZRUIRecovery& recovery = ZRUIRecovery::instance();
    recovery.SetRecoveryPath((dir + "/").c_str());
    recovery.ClearCreateDirIndex();
    recovery.SetStatus(OPERATION_STATUS_RUNNING);
    auto done = std::make_shared<std::atomic<bool>>(false);
    EXPECT_TRUE(ZRUIOperationThreads::DoOperation(
        [done] {
            ZRUIRecovery::instance().DoRecovery();
            *done = true;
        },
        &recovery, "DoRecovery"));
    EXPECT_TRUE(PumpUntil([&] { return done->load() && recovery.IsOperationExit(); }));
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto& entry : fs::recursive_directory_iterator(dir, ec))
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return files;
}

// Every progress record a save or load sends.
struct RecordingSink : IProgress {
    std::vector<_PROGRESS_INFO> seen;
    void UpdateProgress(_PROGRESS_INFO* i) override { seen.push_back(*i); }
    int Continued() override { return 1; }
    int shouldBuild() override { return 1; }
};

class SaveRestore : public testing::Test {
protected:
    void SetUp() override
    {
        EnsureBridgeApp();
        TheMachine();
        m_digest = FileDigest(BridgeImage("vol.img"));
    }
    void TearDown() override { EXPECT_EQ(FileDigest(BridgeImage("vol.img")), m_digest); }

    TempDir m_dir;
    std::string m_digest;
};

TEST_F(SaveRestore, QuickScanSavesAndLoadsTheSameFiles)
{
    IStorageDevice* volume = ImageVolume();
    ASSERT_NE(volume, nullptr);
    ASSERT_TRUE(RunScan(volume, 0));
    const std::set<Found> scanned = FoundFiles();
    ASSERT_EQ(scanned.size(), 6u);
    const std::map<std::string, std::string> before = RecoverAll(m_dir / "before");
    ASSERT_EQ(before.size(), 6u);

    const std::string path = m_dir / "quick.rsf";
    EXPECT_EQ(Save(path), 0);
    // Saving again overwrites the file with the same result.
    const std::string first = ReadFileBytes(path);
    EXPECT_EQ(Save(path), 0);
    EXPECT_EQ(ReadFileBytes(path), first);

    // The file names the scanned volume as the device list describes it.
    {
        CRSData stream(RS_MODE_READ);
        ASSERT_TRUE(stream.StartRS(path.c_str(), 0));
        SavedScanKind kind;
        SavedDeviceRecord device;
        ASSERT_EQ(SaveRestoreResult::ReadResultHead(&stream, kind, device, nullptr), 0);
        EXPECT_EQ(kind.dwControllerType, 0u);
        EXPECT_EQ(kind.dwDeepScan, 0u);
        EXPECT_EQ(device.strName, "BRIDGEVOL");
        EXPECT_EQ(device.iDiskIndex, 0);
        EXPECT_EQ(device.iVolumeIndex, 0);
        EXPECT_EQ(device.iFileSystem, FS_FAT16);
        EXPECT_EQ(device.u64Capacity, 32u << 20);
    }

    EXPECT_EQ(Load(path), 0);
    EXPECT_EQ(FoundFiles(), scanned);
    EXPECT_EQ(ZRUIScan::instance().GetFileSystemNode().size(), 1u);
    EXPECT_EQ(ZRUIScan::instance().GetSavedStorage(), volume);
    const std::map<std::string, std::string> after = RecoverAll(m_dir / "after");
    EXPECT_EQ(after, before);
    EXPECT_EQ(after.at("photo.jpg"), ReadFileBytes(SourceOf("src/photo.jpg")));
    EXPECT_EQ(after.at("clip.mp4"), ReadFileBytes(SourceOf("src/clip.mp4")));
}

TEST_F(SaveRestore, DeepScanSavesAndLoadsTheSameFiles)
{
    IStorageDevice* volume = ImageVolume();
    ASSERT_NE(volume, nullptr);
    ASSERT_TRUE(RunScan(volume, 1));
    const std::set<Found> scanned = FoundFiles();
    ASSERT_GE(scanned.size(), 6u);
    const std::string path = m_dir / "deep.rsf";
    EXPECT_EQ(Save(path), 0);

    // A normal quick scan in between leaves no trace in the load.
    ASSERT_TRUE(RunScan(volume, 0));
    EXPECT_EQ(Load(path), 0);
    EXPECT_TRUE(ZRUIScan::instance().IsDeepScan());
    EXPECT_EQ(FoundFiles(), scanned);
    IFileNode* photo = FileNamed("photo.jpg");
    ASSERT_NE(photo, nullptr);
    const auto after = RecoverAll(m_dir / "after");
    ASSERT_EQ(after.count("photo.jpg"), 1u);
    EXPECT_EQ(after.at("photo.jpg"), ReadFileBytes(SourceOf("src/photo.jpg")));
    EXPECT_EQ(after.at("report.pdf"), ReadFileBytes(SourceOf("src/docs/report.pdf")));
}

// A quick scan of a whole disk is a scan of each volume in turn: loaded, each
// volume takes back the trees saved under its own name, each recoverable.
TEST_F(SaveRestore, WholeDiskQuickScanLoadsVolumeByVolume)
{
    const std::string diskDigest = FileDigest(BridgeImage("disk.img"));
    IStorageDevice* disk = ZRUIDeviceData::instance().GetStorageByDiskVolumeIndex(1, -1);
    ASSERT_NE(disk, nullptr);
    ASSERT_TRUE(RunScan(disk, 0));
    const std::set<Found> scanned = FoundFiles();
    ASSERT_EQ(scanned.size(), 3u);
    ASSERT_EQ(ZRUIScan::instance().GetFileSystemNode().size(), 3u);
    const std::string path = m_dir / "disk.rsf";
    EXPECT_EQ(Save(path), 0);

    EXPECT_EQ(Load(path), 0);
    EXPECT_EQ(FoundFiles(), scanned);
    EXPECT_EQ(ZRUIScan::instance().GetFileSystemNode().size(), 3u);
    const auto after = RecoverAll(m_dir / "after");
    EXPECT_EQ(after.size(), 3u);
    EXPECT_EQ(after.at("a.jpg"), ReadFileBytes(SourceOf("src/a.jpg")));
    EXPECT_EQ(after.at("b.txt"), ReadFileBytes(SourceOf("src/b.txt")));
    EXPECT_EQ(FileDigest(BridgeImage("disk.img")), diskDigest);
}

TEST_F(SaveRestore, LoadErrorsAreReported)
{
    ASSERT_TRUE(RunScan(ImageVolume(), 0));
    const std::string good = m_dir / "good.rsf";
    ASSERT_EQ(Save(good), 0);
    const std::string bytes = ReadFileBytes(good);
    const std::string bad = m_dir / "bad.rsf";
    auto write = [&](const std::string& f) { std::ofstream(bad, std::ios::binary | std::ios::trunc) << f; };

    EXPECT_EQ(Load(m_dir / "missing.rsf"), SCAN_RESULT_CANNOT_OPEN);
    EXPECT_TRUE(FoundFiles().empty());

    std::string f = bytes;
    f[20] ^= 0x5A;  // the header checksum
    write(f);
    EXPECT_EQ(Load(bad), SCAN_RESULT_BAD_HEADER);
    EXPECT_TRUE(FoundFiles().empty());

    // A saved file checks its frames: a changed device frame is damage.
    f = bytes;
    const size_t device = 132 + 36 + 12 + 36;
    f[device + 8] = 7;
    write(f);
    EXPECT_EQ(Load(bad), SCAN_RESULT_BAD_DEVICE);
    EXPECT_TRUE(FoundFiles().empty());

    // The same changes in a file of an older build, which has no checksum
    // frame (the last frame; its payload ends with the entry count and its
    // own CRC). A device of another size and name: none matches.
    uint32_t entries = 0;
    for (int i = 3; i >= 0; --i)
        entries = (entries << 8) | static_cast<unsigned char>(bytes[bytes.size() - 8 + i]);
    const std::string older = bytes.substr(0, bytes.size() - 36 - 32 * entries - 8);
    f = older;
    f[device + 7] = 0x40;
    f[device + 24] ^= 0x20;  // "bRIDGEVOL"
    write(f);
    EXPECT_EQ(Load(bad), SCAN_RESULT_NO_DEVICE);
    EXPECT_TRUE(FoundFiles().empty());

    // Moved indices: still found by name, file system and size.
    f = older;
    f[device + 8] = 7;
    write(f);
    EXPECT_EQ(Load(bad), 0);
    EXPECT_EQ(FoundFiles().size(), 6u);

    // Its node trees changed: nothing shows it, the file loads as it reads.
    // With the checksum frame the same change loads nothing and says so.
    f = bytes;
    f[bytes.size() - 36 - 32 * entries - 8 - 20] ^= 0x01;
    write(f);
    EXPECT_EQ(Load(bad), SCAN_RESULT_DAMAGED_TREES);
    EXPECT_TRUE(FoundFiles().empty());

    // A file cut inside its node trees loads what came before and says so.
    write(bytes.substr(0, bytes.size() - 300));
    EXPECT_EQ(Load(bad), SCAN_RESULT_DAMAGED_TREES);
    EXPECT_LT(FoundFiles().size(), 6u);
    EXPECT_TRUE(ZRUIScan::instance().IsOperationExit());

    // Nothing to save to: the folder does not exist, or the disk is full.
    EXPECT_EQ(Save(m_dir / "no/such/folder.rsf"), SCAN_RESULT_CANNOT_OPEN);
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(Save("/dev/full"), SCAN_RESULT_CANNOT_OPEN);
    }
    EXPECT_EQ(DoSaveScanResult(nullptr, &ZRSaveAndRestoreNodeOperate::instance()), -1);
    EXPECT_EQ(DoRestoreScanResult("x", nullptr), -1);
}

// A failed save or load reports its end once, when its thread is done: an
// earlier finished record let the next load start while the failed one still
// ran, and the failed one's late finish was then read as the next one's.
TEST_F(SaveRestore, AFailedLoadOrSaveFinishesOnceAtItsEnd)
{
    const std::string header = m_dir / "header.rsf";
    std::ofstream(header, std::ios::binary) << std::string(512, 'x');
    struct Case {
        bool save;
        std::string path;
        uint64_t code;
    };
    const Case cases[] = {
        {false, m_dir / "missing.rsf", SCAN_RESULT_CANNOT_OPEN},
        {false, header, SCAN_RESULT_BAD_HEADER},
        {true, m_dir / "no/such/folder.rsf", SCAN_RESULT_CANNOT_OPEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        RecordingSink sink;
        auto* para = new SaveRestoreResult::OperationPara{c.path, &sink};
        if (c.save)
            SaveRestoreResult::Static_SaveScanResult(para);
        else
            SaveRestoreResult::Static_RestoreScanResult(para);
        ASSERT_FALSE(sink.seen.empty());
        size_t finished = 0;
        for (const _PROGRESS_INFO& p : sink.seen)
            finished += p.dwState == PROGRESS_STATE_FINISHED;
        EXPECT_EQ(finished, 1u);
        EXPECT_TRUE(Finished(sink.seen.back()));
        EXPECT_EQ(sink.seen.back().u64Result, c.code);
    }
}

TEST_F(SaveRestore, ProgressClimbsAtMostOneStepATickAndStopsAt98)
{
    RecordingSink sink;
    SaveRestoreResult::IncProgress(&sink, false, true);
    ASSERT_EQ(sink.seen.size(), 1u);
    EXPECT_EQ(sink.seen[0].u64Done, 5u);
    // Steps within the same tick do nothing.
    for (int i = 0; i < 1000; ++i)
        SaveRestoreResult::IncProgress(&sink, false, false);
    EXPECT_LE(sink.seen.size(), 3u);
    for (const _PROGRESS_INFO& p : sink.seen)
        EXPECT_LE(p.u64Done, 98u);
    SaveRestoreResult::TipError(&sink, 6);
    SaveRestoreResult::IncProgress(&sink, true, false);
    EXPECT_EQ(sink.seen.back().dwState, PROGRESS_STATE_FINISHED);
    EXPECT_EQ(sink.seen.back().u64Done, 100u);
    EXPECT_EQ(sink.seen.back().u64Result, 6u);
    // A new operation starts without the old error.
    SaveRestoreResult::IncProgress(&sink, false, true);
    SaveRestoreResult::IncProgress(&sink, true, false);
    EXPECT_EQ(sink.seen.back().u64Result, 0u);
}

}  // namespace
