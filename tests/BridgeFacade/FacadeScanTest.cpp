// Scans, selection and recovery through the facade over real FAT images, the
// way the windows drive them: device list, quick and whole-disk scans with
// their notifications, a deep scan paused and stopped, selection totals,
// recovery to a folder with byte-exact files, the same-device check and the
// default file name of a saved result.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "BridgeTestSupport.h"
#include "FacadeTestSupport.h"
#include "IFileNode.h"
#include "TestSupport.h"
#include "ZRUIController.h"
#include "ZRUIRecovery.h"
#include "ZRUIScan.h"

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> Recovered(const std::string& destination)
{
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto& entry : fs::recursive_directory_iterator(destination, ec))
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = entry.path().string();
    return files;
}

class FacadeScan : public testing::Test {
protected:
    void SetUp() override
    {
        EnsureFacadeMachine();
        m_volDigest = FileDigest(BridgeImage("vol.img"));
        m_diskDigest = FileDigest(BridgeImage("disk.img"));
    }
    void TearDown() override
    {
        // Nothing may ever be written to a scanned image.
        EXPECT_EQ(FileDigest(BridgeImage("vol.img")), m_volDigest);
        EXPECT_EQ(FileDigest(BridgeImage("disk.img")), m_diskDigest);
    }
    std::string m_volDigest, m_diskDigest;
};

TEST_F(FacadeScan, DeviceListAsTheDiskPageSeesIt)
{
    const DiskVolumeNodeArray devices = FacadeDevices();
    ASSERT_EQ(devices.size(), 3u);
    std::map<QString, std::vector<QString>> volumes;  // by volume: its disk's volumes
    for (const DiskVolumeNodeDataPtr& disk : devices) {
        EXPECT_EQ(disk->volumeIndex(), -1);
        std::vector<QString> names;
        for (const DiskVolumeNodeDataPtr& volume : disk->children()) {
            names.push_back(volume->name());
            EXPECT_EQ(volume->diskIndex(), disk->diskIndex());
            EXPECT_GE(volume->volumeIndex(), 0);
        }
        for (const QString& n : names)
            volumes[n] = names;
    }
    EXPECT_EQ(volumes["BRIDGEVOL"], std::vector<QString>{"BRIDGEVOL"});
    EXPECT_EQ(volumes["PREVIEWS"], std::vector<QString>{"PREVIEWS"});
    ASSERT_NE(FindDevice("Fake Stick"), nullptr);
    EXPECT_EQ(FindDevice("Fake Stick")->children().size(), 3u);
    ASSERT_NE(FindDevice("PREVIEWS"), nullptr);
    // A null array is ignored; a second call lists the same again.
    ZRUIController::GetDeviceInfoToArray(nullptr);
    EXPECT_EQ(FacadeDevices().size(), 3u);
}

TEST_F(FacadeScan, QuickScanSelectionAndRecovery)
{
    ASSERT_TRUE(ScanThroughFacade("BRIDGEVOL"));
    EXPECT_FALSE(ZRUIController::IsScanRunning());
    EXPECT_FALSE(ZRUIController::IsPause());
    EXPECT_FALSE(ZRUIController::IsDeepScan());

    double percent = 0;
    quint64 count = 0;
    ZRUIController::GetScanProgress(&percent, &count);
    EXPECT_DOUBLE_EQ(percent, 100.0);
    EXPECT_EQ(count, 6u);  // five live files and the deleted one
    quint64 size = 0, files = 0;
    ZRUIController::GetScanFileSize(&size, &files);
    EXPECT_EQ(files, 6u);
    EXPECT_EQ(size, 3000u + 2500 + 200000 + 1800 + 1200 + 700);

    const QString name = ZRUIController::GetSaveFileName();
    EXPECT_TRUE(QRegularExpression("^BRIDGEVOL_\\d\\d-\\d\\d-\\d{4} at \\d\\d_\\d\\d_\\d\\d$").match(name).hasMatch())
        << name.toStdString();

    // Selection: nothing, then two files checked the way the list view does.
    ZRUIController::UnselectedAllNodes();
    unsigned int selected = 99;
    quint64 bytes = 99;
    ZRUIController::GetSelectedFilesAmout(&selected, &bytes);
    EXPECT_EQ(selected, 0u);
    EXPECT_EQ(bytes, 0u);
    IFileNode* photo = FoundFile("photo.jpg");
    IFileNode* data = FoundFile("data.bin");
    ASSERT_NE(photo, nullptr);
    ASSERT_NE(data, nullptr);
    OpNodeData::setFileNode(FileNodeToValue(photo), 2);
    OpNodeData::setFileNode(FileNodeToValue(data), 2);
    ZRUIController::GetSelectedFilesAmout(&selected, &bytes);
    EXPECT_EQ(selected, 2u);
    EXPECT_EQ(bytes, 4200u);
    quint64 start = 10;
    const FileNodeArray chosen = ZRUIController::GetSelectedFilesAndSize(&start);
    EXPECT_EQ(start, 4210u);
    EXPECT_EQ(std::set<FileNodeValue>(chosen.begin(), chosen.end()),
              (std::set<FileNodeValue>{FileNodeToValue(photo), FileNodeToValue(data)}));
    EXPECT_EQ(ZRUIRecovery::instance().GetRecoveryTotalSize(), 4200u);

    TempDir dest;
    EXPECT_FALSE(ZRUIController::IsRecoveryToSameDevice(QString::fromStdString(dest.path())));
    BridgeListener listener;
    bool ended = false;
    int posts = 0;
    listener.OnEach("DoRecovery", [&] {
        ++posts;
        if (!ZRUIController::IsRecoveryRunning())
            ended = true;
    });
    OpNodeArray roots;
    ASSERT_EQ(ZRUIController::DoRecovery(&roots, QString::fromStdString(dest.path()), "DoRecovery"), 0u);
    // A second start while the first runs is refused.
    if (ZRUIController::IsRecoveryRunning()) {
        EXPECT_EQ(ZRUIController::DoRecovery(&roots, QString::fromStdString(dest.path()), "DoRecovery"),
                  kZRUIControllerRecoveryBusy);
    }
    ASSERT_TRUE(Pump([&] { return ended; }));
    EXPECT_TRUE(listener.AllOnMainThread());
    EXPECT_GE(posts, 1);

    const auto out = Recovered(dest.path());
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(out.count("photo.jpg"), 1u);
    ASSERT_EQ(out.count("data.bin"), 1u);
    EXPECT_EQ(ReadFileBytes(out.at("photo.jpg")), ReadFileBytes(BridgeImage("src/photo.jpg")));
    EXPECT_EQ(ReadFileBytes(out.at("data.bin")), ReadFileBytes(BridgeImage("src/docs/data.bin")));
    // The files sit below one root folder per file system, then the volume.
    EXPECT_NE(out.at("data.bin").find("/BRIDGEVOL/"), std::string::npos) << out.at("data.bin");

    quint64 total = 0, done = 0;
    qint64 error = -1;
    EXPECT_EQ(ZRUIController::GetRecoveryProgressTotal(&total, &done, &error), "");
    EXPECT_EQ(total, 4200u);
    EXPECT_EQ(done, 4200u);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ZRUIController::GetRecoveridedFiles(), 2u);
    EXPECT_EQ(ZRUIController::GetRecoveridedSize(), 4200u);
    ZRUIController::UnselectedAllNodes();

    // The next recovery counts from 0 as soon as it is started: a stop made
    // at once must not report the previous run's files.
    TempDir again;
    ended = false;
    ASSERT_EQ(ZRUIController::DoRecovery(&roots, QString::fromStdString(again.path()), "DoRecovery"), 0u);
    EXPECT_EQ(ZRUIController::GetRecoveridedFiles(), 0u);
    ASSERT_TRUE(Pump([&] { return ended; }));
    EXPECT_EQ(ZRUIController::GetRecoveridedFiles(), 0u);
}

TEST_F(FacadeScan, WholeDiskScanAndTheSameDeviceCheck)
{
    ASSERT_TRUE(ScanThroughFacade("Fake Stick"));
    std::set<std::string> names;
    for (IFileNode* node : FoundFiles())
        names.insert(node->GetFileName());
    EXPECT_EQ(names, (std::set<std::string>{"efi.txt", "a.jpg", "b.txt"}));
    // MORE, a volume of the scanned disk, has the temporary folders' device
    // number; nothing on this machine has vol.img's.
    TempDir dest;
    EXPECT_TRUE(ZRUIController::IsRecoveryToSameDevice(QString::fromStdString(dest.path())));
    EXPECT_FALSE(ZRUIController::IsRecoveryToSameDevice(QString::fromStdString(dest.path() + "/missing")));
    EXPECT_TRUE(ZRUIController::GetSaveFileName().startsWith("Fake Stick_"));

    ASSERT_TRUE(ScanThroughFacade("MORE"));
    EXPECT_TRUE(ZRUIController::IsRecoveryToSameDevice(QString::fromStdString(dest.path())));
    ASSERT_TRUE(ScanThroughFacade("DATA"));
    EXPECT_FALSE(ZRUIController::IsRecoveryToSameDevice(QString::fromStdString(dest.path())));
}

TEST_F(FacadeScan, DeepScanPausesResumesAndStops)
{
    ASSERT_TRUE(ScanThroughFacade("BRIDGEVOL"));
    BridgeListener listener;
    bool ended = false;
    listener.OnEach("NormalScranValue", [&] {
        if (!ZRUIController::IsScanRunning())
            ended = true;
    });

    // Paused at once: the engine waits before it reads anything.
    ZRUIController::ResetShouldBuild();
    ZRUIController::DoDeepScan(nullptr, "NormalScranValue");
    ASSERT_TRUE(ZRUIController::IsScanRunning());
    EXPECT_TRUE(ZRUIController::IsDeepScan());
    ZRUIController::PauseOrResumeScan();
    EXPECT_TRUE(ZRUIController::IsPause());
    // A start while one runs is ignored.
    ZRUIController::DoScanWithData(FindDevice("BRIDGEVOL").get(), "NormalScranValue", nullptr);
    EXPECT_TRUE(ZRUIController::IsPause());
    Pump([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_TRUE(ZRUIController::IsScanRunning());
    EXPECT_FALSE(ended);
    // Emptied for the new scan, and nothing found while paused.
    quint64 found = 99;
    ZRUIController::GetScanFileSize(nullptr, &found);
    EXPECT_EQ(found, 0u);
    ZRUIController::PauseOrResumeScan();
    EXPECT_FALSE(ZRUIController::IsPause());
    ASSERT_TRUE(Pump([&] { return ended; }, std::chrono::seconds(120)));
    EXPECT_TRUE(listener.AllOnMainThread());
    double percent = 0;
    ZRUIController::GetScanProgress(&percent, nullptr);
    EXPECT_DOUBLE_EQ(percent, 100.0);
    EXPECT_NE(FoundFile("photo.jpg"), nullptr);

    // Stopped while paused: it stays "running" until the worker has ended,
    // and the last notification says it no longer runs.
    ended = false;
    ZRUIController::ResetShouldBuild();
    ZRUIController::DoDeepScan(nullptr, "NormalScranValue");
    ASSERT_TRUE(ZRUIController::IsScanRunning());
    ZRUIController::PauseOrResumeScan();
    ZRUIController::StopScan(1);
    EXPECT_TRUE(ZRUIController::IsScanRunning());
    EXPECT_FALSE(ZRUIController::IsPause());
    ASSERT_TRUE(Pump([&] { return ended; }));
    EXPECT_FALSE(ZRUIController::IsScanRunning());
    // Stopping an idle scan changes nothing.
    ZRUIController::StopScan(1);
    EXPECT_FALSE(ZRUIController::IsScanRunning());
    ZRUIController::ResetShouldBuild();
}

std::set<std::string> NamesOf(const FileNodeArray& files)
{
    std::set<std::string> names;
    for (FileNodeValue value : files)
        names.insert(OpNodeData::fileNodeName(value).toStdString());
    return names;
}

TEST_F(FacadeScan, SearchNarrowsTheShownFiles)
{
    ASSERT_TRUE(ScanThroughFacade("BRIDGEVOL"));
    BridgeListener listener;
    ASSERT_TRUE(ZRUIController::DoSearchWithString("jpg", nullptr, "DoSearchValue"));
    EXPECT_FALSE(ZRUIController::DoSearchWithString("mp3", nullptr, "DoSearchValue"));
    ASSERT_TRUE(Pump([&] { return listener.Count("DoSearchValue") == 1; }));
    EXPECT_EQ(ZRUIController::GetSearchString(), "jpg");
    FileNodeArray found;
    ZRUIController::GetSearchResultToArr(&found);
    EXPECT_EQ(NamesOf(found), (std::set<std::string>{"photo.jpg"}));
    // Only shown files are selected and recovered.
    for (IFileNode* node : FoundFiles())
        OpNodeData::setFileNode(FileNodeToValue(node), 2);
    unsigned int count = 0;
    quint64 bytes = 0;
    ZRUIController::GetSelectedFilesAmout(&count, &bytes);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(bytes, 3000u);
    ZRUIController::UnselectedAllNodes();

    // Still flagged until the window stops it.
    EXPECT_FALSE(ZRUIController::DoSearchWithString("mp3", nullptr, "DoSearchValue"));
    ZRUIController::StopSearch();
    ASSERT_TRUE(ZRUIController::DoSearchWithString("", nullptr, "DoSearchValue"));
    ASSERT_TRUE(Pump([&] { return listener.Count("DoSearchValue") == 2; }));
    EXPECT_EQ(ZRUIController::GetSearchString(), "");
    found.clear();
    ZRUIController::GetSearchResultToArr(&found);
    EXPECT_TRUE(found.empty());
    for (IFileNode* node : FoundFiles())
        EXPECT_TRUE(node->IsNodeShow()) << node->GetFileName();
    ZRUIController::StopSearch();
    EXPECT_TRUE(listener.AllOnMainThread());
}

TEST_F(FacadeScan, ResultTreesThroughTheFacade)
{
    ASSERT_TRUE(ScanThroughFacade("BRIDGEVOL"));
    ZRUIController::UnselectedAllNodes();

    // Folders: one file-system root, its folder below it, its files listed.
    ZRUIController::SetViewType(0);
    ZRUIController::RefreshData();
    OpNodeArray roots;
    EXPECT_EQ(ZRUIController::GetScanTreeNodeData(&roots, true), 0);
    ASSERT_EQ(roots.size(), 1u);
    FileNodeArray files;
    ZRUIController::GetFileNodeToArray(&files, roots[0].get());
    EXPECT_EQ(NamesOf(files), (std::set<std::string>{"photo.jpg", "song.mp3", "clip.mp4", "#one.txt"}));
    ASSERT_EQ(roots[0]->children().size(), 1u);
    OpNodeData* docs = roots[0]->children()[0].item();
    ASSERT_NE(docs, nullptr);
    EXPECT_TRUE(ZRUIController::IsFileNode(roots[0]->fileNode(), &roots));
    files.clear();
    ZRUIController::GetFileNodeToArray(&files, docs);
    EXPECT_EQ(NamesOf(files), (std::set<std::string>{"report.pdf", "data.bin"}));
    // A second request adds nothing twice.
    ZRUIController::GetScanTreeNodeData(&roots, false);
    EXPECT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0]->children().size(), 1u);

    // Types: six groups; checking the pictures group selects the photo.
    ZRUIController::SetViewType(1);
    OpNodeArray types;
    ZRUIController::GetScanTreeNodeData(&types, false);
    ASSERT_EQ(types.size(), 6u);
    EXPECT_EQ(types[0]->nodeType(), OPNODE_KIND_PICTURE);
    EXPECT_EQ(ZRUIController::GetNodeChildrenCnt(types[0].get()), 1);
    types[0]->setNodeState(2);
    ZRUIController::RefreshTypeTreeState(nullptr);
    unsigned int count = 0;
    quint64 bytes = 0;
    ZRUIController::GetSelectedFilesAmout(&count, &bytes);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(bytes, 3000u);
    EXPECT_EQ(types[0]->state(), 2);
    ZRUIController::UnselectedAllNodes();
    (void)ZRUIController::getImageForType("jpg");

    // Modification time: one root, every file in March 2021.
    ZRUIController::SetViewType(3);
    OpNodeArray times;
    ZRUIController::GetScanTreeNodeData(&times, false);
    ASSERT_EQ(times.size(), 1u);
    EXPECT_EQ(ZRUIController::GetNodeChildrenCnt(times[0].get()), 6);
    ASSERT_EQ(times[0]->children().size(), 1u);
    EXPECT_EQ(times[0]->children()[0].item()->name(), "2021");
    ZRUIController::RefreshTimeTreeState(&times);
    EXPECT_EQ(times[0]->state(), 0);
    ZRUIController::SetViewType(0);
}

TEST_F(FacadeScan, SavedResultLoadsBackAndRecovers)
{
    ASSERT_TRUE(ScanThroughFacade("BRIDGEVOL"));
    TempDir dir;
    const QString path = QString::fromStdString(dir.path()) + "/" + ZRUIController::GetSaveFileName() + ".rsf";

    BridgeListener listener;
    ZRUIController::RestorPostUIUpdate("QueryProgressInfo", true);
    ZRUIController::beginSaveOrRestoreNode(true, path);
    ASSERT_TRUE(Pump([&] { return listener.Count("QueryProgressFinish") == 1; }));
    quint64 total = 0, done = 1;
    qint64 error = -1;
    ZRUIController::GetSaveorRestoreProgress(&total, &done, &error, true);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(done, total);
    EXPECT_GT(total, 0u);
    ASSERT_TRUE(QFile::exists(path));

    // Loading replays into the scan: the same files, ready to recover.
    ZRUIController::RestorPostUIUpdate("NormalScranValue", false);
    ZRUIController::beginSaveOrRestoreNode(false, path);
    ASSERT_TRUE(Pump([&] { return listener.Count("QueryProgressFinish") == 2; }));
    EXPECT_FALSE(ZRUIController::IsScanRunning());
    ZRUIController::GetSaveorRestoreProgress(&total, &done, &error, false);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(done, total);
    std::set<std::string> names;
    for (IFileNode* node : FoundFiles())
        names.insert(node->GetFileName());
    EXPECT_EQ(names, (std::set<std::string>{"photo.jpg", "song.mp3", "clip.mp4", "report.pdf", "data.bin", "#one.txt"}));
    IFileNode* song = FoundFile("song.mp3");
    ASSERT_NE(song, nullptr);
    OpNodeData::setFileNode(FileNodeToValue(song), 2);
    unsigned int count = 0;
    quint64 bytes = 0;
    ZRUIController::GetSelectedFilesAmout(&count, &bytes);
    ASSERT_EQ(count, 1u);
    TempDir dest;
    bool ended = false;
    listener.OnEach("DoRecovery", [&] { ended = !ZRUIController::IsRecoveryRunning(); });
    OpNodeArray selection;
    ASSERT_EQ(ZRUIController::DoRecovery(&selection, QString::fromStdString(dest.path()), "DoRecovery"), 0u);
    ASSERT_TRUE(Pump([&] { return ended; }));
    const auto out = Recovered(dest.path());
    ASSERT_EQ(out.count("song.mp3"), 1u);
    EXPECT_EQ(ReadFileBytes(out.at("song.mp3")), ReadFileBytes(BridgeImage("src/song.mp3")));
    ZRUIController::UnselectedAllNodes();

    // A file that is no scan result ends the load with an error, and the
    // window hears the end.
    const std::string junk = dir.path() + "/junk.rsf";
    RunTool("head -c 4096 /dev/urandom > " + junk);
    ZRUIController::RestorPostUIUpdate("NormalScranValue", false);
    ZRUIController::beginSaveOrRestoreNode(false, QString::fromStdString(junk));
    ASSERT_TRUE(Pump([&] { return listener.Count("QueryProgressFinish") == 3; }));
    EXPECT_FALSE(ZRUIController::IsScanRunning());
    ZRUIController::GetSaveorRestoreProgress(&total, &done, &error, false);
    EXPECT_NE(error, 0);
    EXPECT_TRUE(listener.AllOnMainThread());
}

TEST_F(FacadeScan, RefreshingTheDeviceListForgetsTheLastDevice)
{
    ASSERT_TRUE(ScanThroughFacade("BRIDGEVOL"));
    ZRUIController::RefreshDeviceInfo();
    EXPECT_EQ(FacadeDevices().size(), 3u);
    // The device of the last scan is forgotten: a deep scan has nothing to
    // start on and posts nothing.
    BridgeListener listener;
    ZRUIController::DoDeepScan(nullptr, "NormalScranValue");
    EXPECT_FALSE(ZRUIController::IsScanRunning());
    Pump([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(listener.Count("NormalScranValue"), 0);
    // The new list scans as before.
    ASSERT_TRUE(ScanThroughFacade("BRIDGEVOL"));
    EXPECT_NE(FoundFile("photo.jpg"), nullptr);
}

}  // namespace
