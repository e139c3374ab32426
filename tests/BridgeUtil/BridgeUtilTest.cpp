// Bridge helpers: texts for the windows, times, node paths, the
// single-instance check, settings, Unicode name search and the network probe.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "BridgeUtil.h"
#include "CommandStatus.h"
#include "OtherCopies.h"
#include "TestSupport.h"

namespace {

TEST(bridge_util, SizeAndFileSystemTexts)
{
    const std::pair<unsigned long long, const char*> sizes[] = {
        {0, "0 byte"},         {1023, "1023 byte"},     {1024, "1.00 KB"},
        {1536, "1.50 KB"},     {1048576, "1.00 MB"},    {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"}, {1099511627776ULL, "1.00 TB"}};
    for (auto [bytes, text] : sizes) {
        EXPECT_EQ(ZRPublicUtilities::longlongDiskSize(bytes), text) << bytes;
        EXPECT_EQ(ZRPublicUtilities::longlongConvertVolSpace(bytes), text) << bytes;
    }
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(1, 0), "FAT16");
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(8, 0), "HFS+");
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(10, 0), "Unknown");
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(11, 0), "Disk");
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(-1, 0), "Disk");
    EXPECT_EQ(ZRPublicUtilities::fileSystemTypeForInt(1, 1), "Disk Image");
}

TEST(bridge_util, TimesAndCalendar)
{
    EXPECT_EQ(convertWindowsTimeToUnixTime(U64ToFileTime(116444736000000000ULL)), 0);
    EXPECT_EQ(convertWindowsTimeToUnixTime(U64ToFileTime(116444736009999999ULL)), 0);
    EXPECT_EQ(convertWindowsTimeToUnixTime(U64ToFileTime(130000000000000000ULL)), 1355526400);
    int year = 0, month = 0;
    // 2014-03-15 12:00 UTC (the tests run with TZ=UTC).
    ZRCPPPublic::instance().GetYearMonthByFileTime(&year, &month,
                                                   U64ToFileTime((1394884800ULL + 11644473600ULL) * 10000000ULL));
    EXPECT_EQ(year, 2014);
    EXPECT_EQ(month, 3);
    ZRCPPPublic::instance().GetYearMonthByTimeT(nullptr, &month, 0);
    EXPECT_EQ(month, 1);
}

TEST(bridge_util, ValidUtf8)
{
    const std::pair<const char*, bool> cases[] = {
        {"plain ascii", true},
        {"\xF0\x9F\x98\x80 four bytes", true},
        {"caf\xC3\xA9", true},
        {"\xC0\xAF", false},          // overlong "/"
        {"\xED\xA0\x80", false},      // a surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xE2\x82", false},          // cut short
        {"\x80", false},
    };
    for (auto [text, valid] : cases)
        EXPECT_EQ(isValidString(text), valid) << text;
    EXPECT_FALSE(isValidString(nullptr));
}

TEST(bridge_util, NodePathsAndTreeTypes)
{
    CFilesystemNode root("CARD(FAT/FAT32)", "CARD", SEARCHER_FAT, 0);
    TestNode dcim("DCIM", 2, true);
    TestNode a("a.jpg", 3);
    root.AddChild(&dcim);
    dcim.AddChild(&a);
    EXPECT_EQ(ZRUIPublic::GetPathByFileNode(&a), "/CARD/DCIM/a.jpg");
    EXPECT_EQ(ZRUIPublic::GetPathByFileNode(nullptr), "");
    EXPECT_EQ(ZRCPPPublic::instance().GetNodeSearcheType(&a), SEARCHER_FAT);
    EXPECT_EQ(ZRCPPPublic::instance().GetFileSystemNode(&a), &root);
    // A node outside any tree.
    TestNode loose("x", 9);
    EXPECT_EQ(ZRCPPPublic::instance().GetNodeSearcheType(&loose), SEARCHER_NONE);
    EXPECT_EQ(ZRCPPPublic::instance().GetNodeSearcheType(nullptr), SEARCHER_NONE);
    EXPECT_STREQ(ZRUIPublic::GetFileSystemStrByType(SEARCHER_FAT), "Fat_");
    EXPECT_STREQ(ZRUIPublic::GetFileSystemStrByType(SEARCHER_NTFS), "");
    dcim.RemoveChild(&a);
    root.RemoveChild(&dcim);
}

TEST(bridge_util, AnotherCopyOfTheApplicationIsSeen)
{
    const auto anotherCopyRuns = [] { return ZRCPPPublic::instance().IsAppRunning(); };
    if (!WaitUntilNoOtherCopyRuns(anotherCopyRuns))
        GTEST_SKIP() << "a copy of the application keeps running on this machine";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        prctl(PR_SET_NAME, "vantrel data");
        char c = 1;
        ssize_t n = write(ready[1], &c, 1);
        (void)n;
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(ZRCPPPublic::instance().IsAppRunning());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(WaitUntilNoOtherCopyRuns(anotherCopyRuns));
}

TEST(bridge_util, SettingsRoundTrip)
{
    TempDir dir;
    std::string ini = dir / "settings.ini";
    EXPECT_FALSE(ZRPublicUtilities::isFristTime(ini).has_value());
    EXPECT_FALSE(ZRPublicUtilities::getUpDataTimeStr(ini).has_value());
    ASSERT_TRUE(ZRPublicUtilities::writeUpDataTimeStr(ini, "2024-05-01 10:00:00"));
    ASSERT_TRUE(ZRPublicUtilities::writeFristTime(ini));
    ASSERT_TRUE(ZRPublicUtilities::writeUpDataTimeStr(ini, "2024-05-08 11:30:00"));
    EXPECT_EQ(ZRPublicUtilities::isFristTime(ini).value_or(""), "NO");
    EXPECT_EQ(ZRPublicUtilities::getUpDataTimeStr(ini).value_or(""), "2024-05-08 11:30:00");
    // Only the settings file is there: the temporary files were renamed.
    std::string listing = RunTool("ls -A '" + dir.path() + "'");
    EXPECT_EQ(listing, "settings.ini\n");
    EXPECT_FALSE(ZRPublicUtilities::writeFristTime(dir / "missing/settings.ini"));
}

// ---- QtCore ---------------------------------------------------------------------

TEST(bridge_util_text, UnicodeCaseInsensitiveSearch)
{
    EXPECT_TRUE(ZRUIPublic::IsStringInString("\xC3\xA9", "caf\xC3\xA9 \xC3\x89"));
    EXPECT_TRUE(ZRUIPublic::IsStringInString("\xC3\x89", "caf\xC3\xA9"));
    EXPECT_TRUE(ZRUIPublic::IsStringInString("PHOTO", "my photo.jpg"));
    EXPECT_FALSE(ZRUIPublic::IsStringInString("x", "abc"));
    EXPECT_TRUE(ZRUIPublic::IsStringInString("", nullptr));
    EXPECT_FALSE(ZRUIPublic::IsStringInString("a", nullptr));

    CFilesystemNode root("tree", "CARD", SEARCHER_FAT, 0);
    TestNode d1("D1", 2, true), d2("D2", 3, true);
    TestNode cafe("Caf\xC3\xA9.txt", 4);
    root.AddChild(&d1);
    d1.AddChild(&d2);
    d2.AddChild(&cafe);
    EXPECT_TRUE(ZRUIPublic::IsStringInFileNode("CAF\xC3\x89", &root));
    EXPECT_TRUE(ZRCPPPublic::instance().IsStringInFileNode("caf", &d1));
    EXPECT_FALSE(ZRUIPublic::IsStringInFileNode("D2", &root));  // folders match by what they hold
    EXPECT_FALSE(ZRUIPublic::IsStringInFileNode("x", nullptr));
    EXPECT_TRUE(ZRUIPublic::IsStringInFileNode("", nullptr));
    d2.RemoveChild(&cafe);
    d1.RemoveChild(&d2);
    root.RemoveChild(&d1);
}

std::string Localised(const char* key) { return std::string("T:") + key; }

TEST(bridge_util_text, TypeTitlesAndTimes)
{
    EXPECT_EQ(ZRCPPPublic::instance().FilterTypeToString(FILTER_TYPE_MUSIC), "Music");
    EXPECT_EQ(ZRCPPPublic::instance().FilterTypeToString(static_cast<_FILTER_TYPE>(3)), "");
    for (unsigned int t : {1u, 2u, 4u, 8u, 16u, 32u}) {
        auto type = static_cast<_FILTER_TYPE>(t);
        std::string title = ZRCPPPublic::instance().FilterTypeToString(type);
        EXPECT_EQ(ZRCPPPublic::instance().StringToFilterType(title.c_str()), type) << title;
    }
    EXPECT_EQ(ZRCPPPublic::instance().StringToFilterType(nullptr), FILTER_TYPE_OTHER);
    EXPECT_EQ(ZRCPPPublic::instance().StringToFilterType("nothing"), FILTER_TYPE_OTHER);
    ZRCPPPublic::SetTitleLookup(Localised);
    EXPECT_EQ(ZRCPPPublic::instance().FilterTypeToString(FILTER_TYPE_PICTURE), "T:PAGE_TWO_PICTURE_TITLE");
    EXPECT_EQ(ZRCPPPublic::instance().StringToFilterType("T:PAGE_TWO_DOCUMENT_TITLE"), FILTER_TYPE_DOCUMENT);
    ZRCPPPublic::SetTitleLookup(nullptr);

    // 2014-03-15 12:34 UTC in the locale's long date and short time.
    std::string text = ZRUIPublic::FormatFileTimeToString((1394886840ULL + 11644473600ULL) * 10000000ULL);
    EXPECT_NE(text.find("2014"), std::string::npos) << text;
    EXPECT_NE(text.find("12:34"), std::string::npos) << text;
    EXPECT_NE(text.find("March"), std::string::npos) << text;
}

// A free port on the loopback interface, closed again.
int FreePort()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

TEST(bridge_util_network, ProbeAnswersByWhatComesBack)
{
    TempDir dir;
    std::ofstream(dir / "index.html") << "hello";
    int port = FreePort();
    pid_t server = fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        execlp("python3", "python3", "-m", "http.server", std::to_string(port).c_str(), "--bind", "127.0.0.1",
               "--directory", dir.path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        up = ZRPublicUtilities::isCanBeUseNetWork(url);
        if (!up)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(up);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ZRPublicUtilities::isCanBeUseNetWork("http://127.0.0.1:" + std::to_string(FreePort()) + "/"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
}

}  // namespace
