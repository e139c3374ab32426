// The facade's texts and settings: the remaining-time estimate, sizes and
// file-system names, the settings file, the default save folder, and the
// main-thread notifier.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <thread>

#include "BridgeTestSupport.h"
#include "BundleResources.h"
#include "FacadeInternal.h"
#include "FacadeTestSupport.h"
#include "NotificationCenter.h"
#include "OtherCopies.h"
#include "TestSupport.h"
#include "WorkPath.h"
#include "ZRPublicUtilities.h"
#include "ZRUIController.h"
#include "ZRUIPublic.h"
#include "ZRUIScan.h"

namespace {

TEST(FacadeText, RemainingTimeEstimate)
{
    struct Case {
        long long elapsed;
        unsigned long long total, done;
        const char* text;
    };
    const Case cases[] = {
        {100, 100, 10, "00:07:30"},      // first quarter: the raw 900 s halved
        {100, 100, 40, "00:01:45"},      // first half: 150 s x 0.7
        {100, 100, 60, "00:01:06"},      // second half: as computed
        {0, 100, 10, "-:-:-"},           // under a second
        {100, 100, 0, "-:-:-"},          // nothing done
        {100, 1000, 5, "-:-:-"},         // under one percent
        {0, 0, 0, "-:-:-"},
        {360000, 100, 50, "100:00:00"},  // 100 hours still shows
        {363600, 100, 50, "-:-:-"},      // 101 hours does not
        {10, 100, 200, "00:00:00"},      // more done than the total
        // A product far beyond 32 bits must not wrap round to a small time.
        {1LL << 40, 1ULL << 62, (1ULL << 61) + 1, "-:-:-"},
        {4294967296LL + 100, 100, 50, "-:-:-"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FacadeInternal::RemainingTimeText(c.elapsed, c.total, c.done).toStdString(), c.text)
            << c.elapsed << " " << c.total << " " << c.done;
}

TEST(FacadeText, ProgressOfAScanWithoutTotal)
{
    ZRUIScan& scan = ZRUIScan::instance();
    if (!scan.IsOperationExit())
        GTEST_SKIP() << "a scan runs";
    const _PROGRESS_INFO saved = scan.GetProgressInfo();
    _PROGRESS_INFO info{};
    info.u64Total = 0;
    info.u64Done = 3;
    scan.SetProgressInfo(info);
    double percent = -1;
    quint64 count = 99;
    EXPECT_EQ(ZRUIController::GetScanProgress(&percent, &count).toStdString(), "-:-:-");
    EXPECT_DOUBLE_EQ(percent, 300.0);
    EXPECT_EQ(count, scan.GetScanFileCnt());
    info.u64Done = 0;
    scan.SetProgressInfo(info);
    EXPECT_EQ(ZRUIController::GetScanProgress(nullptr, nullptr).toStdString(), "-:-:-");
    scan.SetProgressInfo(saved);
}

TEST(FacadeText, SizesAndFileSystemNames)
{
    const std::pair<unsigned long long, const char*> sizes[] = {
        {0, "0 byte"},           {1023, "1023 byte"},           {1024, "1.00 KB"},
        {1536, "1.50 KB"},       {1048576, "1.00 MB"},          {1073741824, "1.00 GB"},
        {1099511627776ULL, "1.00 TB"}, {5497558138880ULL, "5.00 TB"},
    };
    for (const auto& [bytes, text] : sizes) {
        EXPECT_EQ(ZRPublicUtilities::longlongDiskSize(bytes), text) << bytes;
        EXPECT_EQ(ZRPublicUtilities::longlongConvertVolSpace(bytes), text) << bytes;
    }
    const char* names[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "RAW", "EXFAT", "HFS+", "APFS", "Unknown"};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(i, 0), names[i]) << i;
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(11, 0), "Disk");
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(-1, 0), "Disk");
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(2, 1), "Disk Image");
}

class FacadeSettings : public testing::Test {
protected:
    void SetUp() override
    {
        m_saved = Bundle::ResourcePath();
        Bundle::SetResourcePath(QString::fromStdString(m_dir.path()));
    }
    void TearDown() override { Bundle::SetResourcePath(m_saved); }
    TempDir m_dir;
    QString m_saved;
};

TEST_F(FacadeSettings, KeysOfTheSettingsFile)
{
    ASSERT_TRUE(Bundle::WriteSettings({{"FristTime", "YES"}, {"Other", 7}}));
    EXPECT_EQ(ZRPublicUtilities::isFristTime(), std::optional<std::string>("YES"));
    EXPECT_FALSE(ZRPublicUtilities::getUpDataTimeStr().has_value());
    EXPECT_TRUE(ZRUIController::GetSavePath().isNull());

    EXPECT_TRUE(ZRPublicUtilities::writeFristTime());
    EXPECT_TRUE(ZRPublicUtilities::writeUpDataTimeStr("2024-05-01 10:00:00"));
    ZRUIController::SavePathToPList("/srv/saved scans");
    EXPECT_EQ(ZRPublicUtilities::isFristTime(), std::optional<std::string>("NO"));
    EXPECT_EQ(ZRPublicUtilities::getUpDataTimeStr(), std::optional<std::string>("2024-05-01 10:00:00"));
    EXPECT_EQ(ZRUIController::GetSavePath(), "/srv/saved scans");

    // Every write keeps what it did not change.
    const std::optional<QVariantMap> all = Bundle::ReadSettings();
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->value("Other").toInt(), 7);
    EXPECT_EQ(all->size(), 4);
}

TEST_F(FacadeSettings, MissingSettingsFileIsLeftAlone)
{
    EXPECT_FALSE(ZRPublicUtilities::isFristTime().has_value());
    EXPECT_FALSE(ZRPublicUtilities::getUpDataTimeStr().has_value());
    EXPECT_TRUE(ZRUIController::GetSavePath().isNull());
    ZRUIController::SavePathToPList("/srv/x");
    EXPECT_FALSE(ZRPublicUtilities::writeUpDataTimeStr("2024-05-01 10:00:00"));
    EXPECT_FALSE(ZRPublicUtilities::writeFristTime());
    EXPECT_FALSE(QFile::exists(Bundle::SettingsPath()));
}

TEST(FacadeText, DefaultSaveFolderIsMadeInTheWorkFolder)
{
    const QString expected = QString::fromLocal8Bit(GetAppWorkPath()) + "/SaveScan";
    const bool existed = QDir(expected).exists();
    EXPECT_EQ(ZRUIController::GetDefaultSavePath(), expected);
    EXPECT_TRUE(QDir(expected).exists());
    if (!existed)
        QDir().rmdir(expected);
}

TEST(FacadeText, NotificationsArriveOnTheMainThread)
{
    BridgeListener listener;
    int seen = 0;
    const void* object = nullptr;
    bool onMain = false;
    NotificationCenter::defaultCenter().AddObserver(&seen, "FacadeTestPing", [&](const Notification& n) {
        ++seen;
        object = n.object;
        onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    std::thread([] {
        ZRUIPublic::NotifyMainThread("FacadeTestPing");
        ZRUIPublic::NotifyMainThread("FacadeTestPing");
    }).join();
    // Handed over without waiting: nothing arrives before the loop runs.
    EXPECT_EQ(seen, 0);
    EXPECT_TRUE(Pump([&] { return seen == 2; }));
    EXPECT_EQ(object, ZRUIPublic::ClassObject());
    EXPECT_TRUE(onMain);
    EXPECT_EQ(listener.Count("FacadeTestPing"), 2);
    EXPECT_TRUE(listener.AllOnMainThread());
    NotificationCenter::defaultCenter().RemoveObserver(&seen);
}

TEST(FacadeText, HooksAndAppCheck)
{
    ZRUIController::SpyIDInstall();
    ZRUIController::SpyIDIncreateTable1(3);
    ZRUIController::SpyIDIncreateTable2(4, 5);
    ZRUIController::SpyIDStringTable1(1, "a");
    ZRUIController::SpyIDWStringTable1(1, "b");
    ZRUIController::SpyIDStringTable2(2, "c");
    ZRUIController::SpyIDSaveToServerTable();
    ZRUIController::SpyIDEnd();
    // This test program is not the application.
    if (!WaitUntilNoOtherCopyRuns([] { return ZRUIController::IsAppRunning(); }))
        GTEST_SKIP() << "a copy of the application keeps running on this machine";

    // A process whose short name starts the application's name is.
    TempDir dir;
    const std::string program = dir.path() + "/vantrel DATA";
    ASSERT_EQ(symlink("/bin/sleep", program.c_str()), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    EXPECT_TRUE(Pump([] { return ZRUIController::IsAppRunning(); }, std::chrono::seconds(10)));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WaitUntilNoOtherCopyRuns([] { return ZRUIController::IsAppRunning(); }));
}

TEST(FacadeText, RecoveryNeedsASelectionAndAFolder)
{
    TempDir dest;
    OpNodeArray roots;
    EXPECT_EQ(ZRUIController::DoRecovery(nullptr, QString::fromStdString(dest.path()), "DoRecovery"),
              kZRUIControllerNoRecoveryTarget);
    EXPECT_EQ(ZRUIController::DoRecovery(&roots, QString(), "DoRecovery"), kZRUIControllerNoRecoveryTarget);
    // "" + "/" would be the root folder of this machine.
    EXPECT_EQ(ZRUIController::DoRecovery(&roots, "", "DoRecovery"), kZRUIControllerNoRecoveryTarget);
    EXPECT_FALSE(ZRUIController::IsRecoveryRunning());
    EXPECT_FALSE(ZRUIController::IsRecoveryToSameDevice(QString()));
}

}  // namespace
