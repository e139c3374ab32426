#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Log.h"
#include "TestSupport.h"
#include "WorkPath.h"

namespace {

// Points the log at a folder for one test and back afterwards.
class ScopedWorkPath {
public:
    explicit ScopedWorkPath(const std::string& path) : m_old(GetAppWorkPath()) { SetAppWorkPath(path); }
    ~ScopedWorkPath() { SetAppWorkPath(m_old); }

private:
    std::string m_old;
};

size_t CountLines(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            break;
        if (text.compare(start, end - start, needle) == 0 ||
            text.substr(start, end - start).find(needle) != std::string::npos)
            ++n;
        start = end + 1;
    }
    return n;
}

TEST(Log, ConcurrentWritersGiveWholeLines)
{
    TempDir dir;
    ScopedWorkPath wp(dir.path());
    testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 1000; ++i)
                CatchExeception::WriteLog("thread %d entry %04d of the log test\n", t, i);
        });
    for (auto& th : threads)
        th.join();
    testing::internal::GetCapturedStdout();
    std::string log = ReadFileBytes(dir / "sMAC_iKolm.log");
    size_t lines = 0;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        std::string line = log.substr(start, end - start);
        // "HH:MM:SS thread T entry NNNN of the log test"
        ASSERT_EQ(line.size(), 9 + std::string("thread 0 entry 0000 of the log test").size()) << line;
        ASSERT_EQ(line[2], ':');
        ++lines;
        start = end + 1;
    }
    EXPECT_EQ(lines, 8000u);
}

TEST(Log, LongMessageIsCutAndLengthReturned)
{
    TempDir dir;
    ScopedWorkPath wp(dir.path());
    std::string text(3000, 'x');
    testing::internal::CaptureStdout();
    int n = CatchExeception::WriteLog("%s", text.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(n, 2009);
    std::string log = ReadFileBytes(dir / "sMAC_iKolm.log");
    ASSERT_EQ(log.size(), 2009u);
    EXPECT_EQ(log.substr(9), std::string(2000, 'x'));
    EXPECT_EQ(out, log);
}

TEST(Log, LocalTime)
{
    EXPECT_EQ(GetLocalTime(nullptr), 0xFFFFFFFFu);
    _SYSTEMTIME st;
    EXPECT_EQ(GetLocalTime(&st), 0u);
    EXPECT_GE(st.wYear, 2020);
    EXPECT_GE(st.wMonth, 1);
    EXPECT_LE(st.wMonth, 12);
    EXPECT_LT(st.wMilliseconds, 1000);
    unsigned a = GetTickCount();
    EXPECT_LE(GetTickCount() - a, 2000u);
}

TEST(Log, LongWorkFolderIsNotTruncated)
{
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 300)
        deep += "/folder-of-a-long-work-path";
    std::filesystem::create_directories(deep);
    ScopedWorkPath wp(deep);
    testing::internal::CaptureStdout();
    CatchExeception::WriteLog("deep entry\n");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(CountLines(ReadFileBytes(deep + "/sMAC_iKolm.log"), "deep entry"), 1u);
    // Nothing landed in a shorter folder along the way.
    for (std::string p = deep.substr(0, deep.rfind('/')); p.size() > dir.path().size() - 1;
         p = p.substr(0, p.rfind('/')))
        EXPECT_FALSE(std::filesystem::exists(p + "/sMAC_iKolm.log")) << p;
}

TEST(Log, SymlinkedLogIsNotFollowed)
{
    TempDir dir;
    ScopedWorkPath wp(dir.path());
    std::string target = dir / "target.txt";
    RunTool("printf 'keep' > '" + target + "'");
    ASSERT_EQ(symlink(target.c_str(), (dir / "sMAC_iKolm.log").c_str()), 0);
    testing::internal::CaptureStdout();
    CatchExeception::WriteLog("must reach stdout\n");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("must reach stdout"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(target), "keep");
}

// The log stays below 16 MiB: past it the file becomes the one older copy,
// and a second roll replaces that copy; no entry is split across the two.
TEST(Log, FileIsCappedWithOneOlderCopy)
{
    TempDir dir;
    ScopedWorkPath wp(dir.path());
    CatchExeception::SetEcho(false);
    const std::string text(1990, 'y');
    const off_t limit = 16 << 20;
    const int perFile = static_cast<int>(limit / 1999);
    for (int i = 0; i < perFile * 5 / 2; ++i)
        CatchExeception::WriteLog("%s\n", text.c_str());
    CatchExeception::WriteLog("last entry\n");
    CatchExeception::SetEcho(true);
    const std::string current = ReadFileBytes(dir / "sMAC_iKolm.log");
    const std::string older = ReadFileBytes(dir / "sMAC_iKolm.log.1");
    EXPECT_LE(current.size(), static_cast<size_t>(limit));
    EXPECT_LE(older.size(), static_cast<size_t>(limit));
    EXPECT_GT(older.size(), static_cast<size_t>(limit) - 4000);
    EXPECT_EQ(older.size() % 2000, 0u);
    EXPECT_NE(current.find("last entry"), std::string::npos);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        files += entry.path().filename().string().rfind("sMAC_iKolm.log", 0) == 0 ? 1 : 0;
    EXPECT_EQ(files, 2u);
}

// With the echo off (the command line's default) entries reach the file
// only.
TEST(Log, EchoOffKeepsStandardOutputClean)
{
    TempDir dir;
    ScopedWorkPath wp(dir.path());
    CatchExeception::SetEcho(false);
    testing::internal::CaptureStdout();
    CatchExeception::WriteLog("quiet entry\n");
    const std::string out = testing::internal::GetCapturedStdout();
    CatchExeception::SetEcho(true);
    EXPECT_EQ(out, "");
    EXPECT_EQ(CountLines(ReadFileBytes(dir / "sMAC_iKolm.log"), "quiet entry"), 1u);
}

TEST(LogDeathTest, ExitWhileAnotherThreadLogs)
{
    TempDir dir;
    EXPECT_EXIT(
        {
            SetAppWorkPath(dir.path());
            std::thread([] {
                for (;;)
                    CatchExeception::WriteLog("busy\n");
            }).detach();
            usleep(20000);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
