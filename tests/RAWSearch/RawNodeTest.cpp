#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "BridgeUtil.h"
#include "RAWFileManager.h"
#include "RAWFileNode.h"
#include "RawCandidates.h"
#include "RawSearchState.h"
#include "RecordingTreeBuilder.h"

namespace {

CRAWFileNode* Raw(const RecordingTreeBuilder::Entry* e)
{
    return e ? dynamic_cast<CRAWFileNode*>(e->node) : nullptr;
}

std::vector<DataRun> Runs(CRAWFileNode* node)
{
    std::vector<DataRun> out;
    IDataRunList* list = node->GetDataRunList();
    for (DataRun* r = list ? list->GetFirst() : nullptr; r; r = list->GetNext())
        out.push_back(*r);
    return out;
}

TEST(rawNodes, NamesFoldersAndRuns)
{
    ResetRawSearchState();
    RecordingTreeBuilder builder;
    CRAWFileManager pictures(1, 2, &builder);
    CRAWFileManager music(1, 3, &builder);

    EXPECT_EQ(pictures.AddRawFileInfo(nullptr), 0);
    EXPECT_EQ(pictures.AddRawFileInfo(MakeCandidate(35, 100, 1000).get()), 1);
    EXPECT_EQ(pictures.AddRawFileInfo(MakeCandidate(35, 300, 513).get()), 1);
    EXPECT_EQ(pictures.AddRawFileInfo(MakeCandidate(51, 900, 512).get()), 1);
    EXPECT_EQ(music.AddRawFileInfo(MakeCandidate(43, 2000, 4096, "Holiday").get()), 1);
    EXPECT_EQ(pictures.AddRawFileInfo(MakeCandidate(50, 10, 1, "\xC3\x28 bad").get()), 1);
    EXPECT_EQ(pictures.AddRawFileInfo(MakeCandidate(35, 400, 20, "v1.2").get()), 1);

    struct Expect {
        const char* name;
        long long id;
        long long parent;
        bool dir;
        long long start;
        long long length;
        long long size;
    };
    const Expect expected[] = {
        {"FILE000.JPG", 10000, 10, false, 100, 2, 1000},
        {"jpg", 10, 1, true, -1, 0, 0},
        {"FILE001.JPG", 10001, 10, false, 300, 2, 513},
        {"FILE000.PNG", 10002, 11, false, 900, 1, 512},
        {"png", 11, 1, true, -1, 0, 0},
        {"Holiday000.MP3", 10000, 12, false, 2000, 8, 4096},
        {"mp3", 12, 1, true, -1, 0, 0},
        {"FILE000.PDF", 10003, 13, false, 10, 1, 1},
        {"pdf", 13, 1, true, -1, 0, 0},
        {"v1.2002.JPG", 10004, 10, false, 400, 1, 20},
    };
    const auto& got = builder.Accepted();
    ASSERT_EQ(got.size(), std::size(expected));
    for (size_t i = 0; i < got.size(); ++i) {
        const Expect& e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(got[i].name, e.name);
        EXPECT_EQ(got[i].type, SEARCHER_RAW);
        EXPECT_EQ(got[i].id, e.id);
        EXPECT_EQ(got[i].parentId, e.parent);
        EXPECT_EQ(got[i].directory, e.dir);
        CRAWFileNode* node = Raw(&got[i]);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->GetAttribute(), e.dir ? 16u : 32u);
        EXPECT_FALSE(node->IsDeleted());
        EXPECT_EQ(node->GetFileSize(), e.size);
        auto runs = Runs(node);
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].llStart, e.start);
        EXPECT_EQ(runs[0].llLength, e.length);
        CRAWFileProperties* props = node->GetProperties();
        EXPECT_STREQ(props->GetFileName(), e.name);
        EXPECT_EQ(props->GetFileNameLength(), static_cast<int>(std::string(e.name).size() + 1));
        EXPECT_EQ(props->GetMaskFlag(), 463u);
        EXPECT_EQ(props->GetFilePropertyiesType(), 3);
        EXPECT_EQ(props->GetDataRunList(), node->GetDataRunList());
    }
}

TEST(rawNodes, RefusedFirstFileDoesNotOrphanItsFolder)
{
    ResetRawSearchState();
    RecordingTreeBuilder builder;
    bool refused = false;
    builder.SetRefuse([&](IFileNode* node, _tagSearcherType) {
        if (!refused && std::string(node->GetFileName()) == "FILE000.JPG")
            return refused = true;
        return false;
    });
    CRAWFileManager manager(1, 2, &builder);
    EXPECT_EQ(manager.AddRawFileInfo(MakeCandidate(35, 1, 100).get()), 0);
    EXPECT_EQ(manager.AddRawFileInfo(MakeCandidate(35, 2, 100).get()), 1);
    EXPECT_EQ(manager.AddRawFileInfo(MakeCandidate(35, 3, 100).get()), 1);
    EXPECT_EQ(builder.Refused(), (std::vector<std::string>{"FILE000.JPG"}));
    const auto* folder = builder.Find("jpg");
    ASSERT_NE(folder, nullptr);
    for (const char* name : {"FILE001.JPG", "FILE002.JPG"}) {
        const auto* file = builder.Find(name);
        ASSERT_NE(file, nullptr) << name;
        EXPECT_EQ(file->parentId, folder->id) << name;
    }

    // A refused folder is forgotten too: the next file makes it again.
    builder.SetRefuse([](IFileNode* node, _tagSearcherType) { return std::string(node->GetFileName()) == "png"; });
    EXPECT_EQ(manager.AddRawFileInfo(MakeCandidate(51, 4, 100).get()), 0);
    builder.SetRefuse(nullptr);
    EXPECT_EQ(manager.AddRawFileInfo(MakeCandidate(51, 5, 100).get()), 1);
    const auto* png = builder.Find("png");
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(builder.Find("FILE001.PNG")->parentId, png->id);
}

TEST(rawNodes, StemsThatWouldBreakTheName)
{
    ResetRawSearchState();
    RecordingTreeBuilder builder;
    CRAWFileManager manager(1, 6, &builder);
    EXPECT_EQ(manager.AddRawFileInfo(MakeCandidate(23, 7, 100, ".NET notes").get()), 1);
    EXPECT_NE(builder.Find("_.NET notes000.DOC"), nullptr);

    std::string longStem;
    for (int i = 0; i < 300; ++i)
        longStem += "\xC3\xA9";  // 600 bytes of "é"
    EXPECT_EQ(manager.AddRawFileInfo(MakeCandidate(35, 8, 100, longStem).get()), 1);
    const auto& last = builder.Accepted()[builder.Accepted().size() - 2];  // the file, before its folder
    EXPECT_LE(last.name.size(), 254u);
    EXPECT_GT(last.name.size(), 240u);
    EXPECT_TRUE(isValidString(last.name.c_str()));
    EXPECT_EQ(last.name.substr(last.name.size() - 7), "000.JPG");
    EXPECT_EQ(Raw(&last)->GetProperties()->GetFileNameLength(), static_cast<int>(last.name.size() + 1));

    // An empty stem, one of spaces only and one that is not UTF-8 all take the
    // FILE scheme; counters above 999 take more digits.
    EXPECT_EQ(CRAWFileNode::BuildFileName(1, ""), "FILE000.3DS");
    EXPECT_EQ(CRAWFileNode::BuildFileName(1, "\xFF"), "FILE001.3DS");
    g_s_CountPerFileTypeVector[119] = 1000;
    EXPECT_EQ(CRAWFileNode::BuildFileName(119, "pack"), "pack1000.pkg");
    EXPECT_EQ(CRAWFileNode::BuildFileName(1, nullptr), "");
}

unsigned long long FileTimeOf(int y, int mo, int d, int h, int mi, int s)
{
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<unsigned long long>(timegm(&tm) + 11644473600LL) * 10000000ULL;
}

// Times run under TZ=UTC.
TEST(rawNodes, TimesFromContentsOrFromATimeName)
{
    struct Case {
        const char* time;
        const char* name;
        unsigned long long expect;
    };
    const Case cases[] = {
        {"2020:08:27 23:16:12", "XIAOMI_Mi A3_2048-2153", FileTimeOf(2020, 8, 27, 23, 16, 12)},
        {"", "2014-05-03 10:22:31", FileTimeOf(2014, 5, 3, 10, 22, 31)},
        {"", "1234-1240_", 0},
        {"", "CANON_Canon EOS 5D Mark II_100-200", 0},
        {"2014:05:03 10:22:31", "", FileTimeOf(2014, 5, 3, 10, 22, 31)},
        {"  1601-01-01 00:00:00", "", 0},
        {"0000:00:00 00:00:00", "2014-05-03 10:22:31", 0},
        {"1969:12:31 23:59:58", "", FileTimeOf(1969, 12, 31, 23, 59, 58)},
        {"2014:13:03 10:22:31", "", 0},
        {"2014:05:03", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.time) + " | " + c.name);
        ResetRawSearchState();
        RecordingTreeBuilder builder;
        CRAWFileManager manager(1, 2, &builder);
        ASSERT_EQ(manager.AddRawFileInfo(MakeCandidate(35, 1, 10, c.name, c.time).get()), 1);
        CRAWFileNode* node = Raw(&builder.Accepted()[0]);
        EXPECT_EQ(node->GetLastAccessTime(), c.expect);
        EXPECT_EQ(node->GetCreationTime(), c.expect);
        EXPECT_EQ(node->GetModificationTime(), c.expect);
    }
    EXPECT_EQ(CRAWFileNode::TimeTextToFileTime("1601:01:01 00:00:00"), 0ull);
    EXPECT_EQ(CRAWFileNode::TimeTextToFileTime("1601:01:01 00:00:01"), 10000000ull);
}

}  // namespace
