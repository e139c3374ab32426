// The APFS deep scan end to end through vantrel-cli: the listing matches what
// the fixture put there and what an independent reader sees, recovered files
// match their sources, and the image is never changed.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "ApfsTestSupport.h"
#include "TestSupport.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string RunCli(const TempDir& dir, const std::string& image, const std::string& args)
{
    const std::string before = FileDigest(image);
    RunTool("(" + std::string(VANTREL_CLI) + " " + args + " " + Quote(image) + " > " + Quote(dir / "out.txt") +
            " 2> " + Quote(dir / "err.txt") + ")");
    EXPECT_EQ(FileDigest(image), before) << "the scan changed " << image;
    return ReadFileBytes(dir / "out.txt");
}

// path to its tab-separated fields
std::map<std::string, std::vector<std::string>> Listing(const std::string& text)
{
    std::map<std::string, std::vector<std::string>> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, '\t'))
            fields.push_back(field);
        if (fields.size() == 7 && fields[0] == "37")
            out[fields[1]] = fields;
    }
    return out;
}

}  // namespace

TEST(ApfsCli, DeepScanListsLiveAndDeletedFiles)
{
    const ApfsFixture& f = SharedApfsFixture();
    TempDir dir;
    auto list = Listing(RunCli(dir, f.image, "scan --deep --list"));
    struct Expect {
        const char* path;
        const char* size;
        const char* deleted;
        const char* dir;
        const char* created;
        const char* modified;
    } expected[] = {
        {"/Docs", "0", "0", "1", "2020-09-13T12:26:40Z", "2020-09-13T12:26:42Z"},
        {"/hello.txt", "5000", "0", "0", "2020-09-13T12:26:40Z", "2020-09-13T12:26:42Z"},
        {"/Docs/inner.bin", "10000", "0", "0", "2020-09-13T12:26:40Z", "2020-09-13T12:26:42Z"},
        {"/gone.txt", "3000", "1", "0", "2020-09-13T12:28:20Z", "2020-09-13T12:28:22Z"},
        {"/OldDir", "0", "1", "1", "2020-09-13T12:30:00Z", "2020-09-13T12:30:02Z"},
        {"/OldDir/old.txt", "100", "1", "0", "2020-09-13T12:31:40Z", "2020-09-13T12:31:42Z"},
        {"/Docs/extra.txt", "50", "1", "0", "2020-09-13T12:35:00Z", "2020-09-13T12:35:02Z"},
        {"/stale-map.txt", "20", "0", "0", "2020-09-13T12:36:40Z", "2020-09-13T12:36:42Z"},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.path);
        ASSERT_TRUE(list.count(e.path));
        const auto& fields = list[e.path];
        EXPECT_EQ(fields[2], e.size);
        EXPECT_EQ(fields[3], e.deleted);
        EXPECT_EQ(fields[4], e.dir);
        EXPECT_EQ(fields[5], e.created);
        EXPECT_EQ(fields[6], e.modified);
    }
    EXPECT_FALSE(list.count("/.DS_Store"));
    EXPECT_FALSE(list.count("/DS_Store"));

    // Every live entry an independent reader lists (but the record that is
    // dropped on purpose) is listed as live here.
    const std::string oracle = RunTool("fsapfsinfo -H " + Quote(f.image));
    std::istringstream lines(oracle);
    std::string line;
    int seen = 0;
    while (std::getline(lines, line)) {
        const size_t brace = line.find("}/");
        if (line.rfind("/{", 0) != 0 || brace == std::string::npos || brace + 2 >= line.size())
            continue;
        const std::string path = line.substr(brace + 1);
        if (path == "/.DS_Store")
            continue;
        ++seen;
        ASSERT_TRUE(list.count(path)) << path;
        EXPECT_EQ(list[path][3], "0") << path;
    }
    EXPECT_EQ(seen, 3);
}

TEST(ApfsCli, DeepScanRecoversTheBytes)
{
    const ApfsFixture& f = SharedApfsFixture();
    TempDir dir;
    RunCli(dir, f.image, "scan --deep --recover " + Quote(dir / "out"));
    for (const char* name : {"hello.txt", "Docs/inner.bin", "gone.txt", "OldDir/old.txt", "Docs/extra.txt", "stale-map.txt"}) {
        SCOPED_TRACE(name);
        const std::string found =
            RunTool("find " + Quote(dir / "out") + " -type f -path " + Quote(std::string("*/") + name));
        ASSERT_FALSE(found.empty());
        const std::string path = found.substr(0, found.find('\n'));
        EXPECT_EQ(FileDigest(path), FileDigest(f.source + "/" + name));
    }
}

TEST(ApfsCli, QuickScanOfAnApfsVolumeIsNotSupported)
{
    const ApfsFixture& f = SharedApfsFixture();
    TempDir dir;
    const std::string before = FileDigest(f.image);
    const int status = std::system((std::string(VANTREL_CLI) + " scan --quick --list " + Quote(f.image) + " > " +
                                    Quote(dir / "out.txt") + " 2>&1")
                                       .c_str());
    EXPECT_NE(status, 0);
    EXPECT_EQ(FileDigest(f.image), before);
}
