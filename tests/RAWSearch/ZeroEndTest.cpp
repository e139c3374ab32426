#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZeroEndRawFileInfo.h"

namespace {

constexpr int kSS = 512;

// A document made by a standard tool: about 44 KB of HTML that begins with
// "<!DOCTYPE html>" and ends with "</html>", no zero byte inside.
const std::string& JsonHtml()
{
    static const std::string text = [] {
        TempDir dir;
        RunTool("cd '" + dir.path() + "' && python3 -m pydoc -w json >/dev/null");
        return ReadFileBytes(dir / "json.html");
    }();
    return text;
}

struct FeedResult {
    int result = 0;       // the last CalcRawSize result
    long long size = 0;
    long long sectors = 0;  // sectors fed
    std::vector<int> results;
};

// Lays data at sector 0 of a zero-filled buffer with extra empty sectors and
// feeds the candidate sector by sector, with the context the searcher fills,
// until it finishes or the buffer ends.
FeedResult Feed(CZeroEndRawFileInfo& info, const std::string& data, int extraSectors = 4)
{
    const long long sectors = static_cast<long long>((data.size() + kSS - 1) / kSS) + extraSectors;
    std::vector<unsigned char> memory(static_cast<size_t>(sectors) * kSS, 0);
    std::copy(data.begin(), data.end(), memory.begin());
    FeedResult out;
    for (long long s = 0; s < sectors; ++s) {
        unsigned char* sector = memory.data() + s * kSS;
        CRawFileInfo::SearchContext ctx;
        ctx.pBlockBase = memory.data();
        ctx.llBaseSector = 0;
        ctx.dwSectorSize = kSS;
        ctx.llLookBackStart = 0;
        ctx.llBlockEnd = sectors;
        ctx.SetZeroCounts(sector, kSS);
        out.result = info.CalcRawSize(sector, kSS, s, ctx);
        out.results.push_back(out.result);
        out.sectors = s + 1;
        if (out.result == 1)
            break;
    }
    out.size = info.m_llSize;
    return out;
}

TEST(rawZeroEnd, FixtureIsTheExpectedDocument)
{
    const std::string& text = JsonHtml();
    ASSERT_GT(text.size(), 20000u);
    EXPECT_EQ(text.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 7), "</html>");
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST(rawZeroEnd, EndsWhereTheZeroTailBegins)
{
    const std::string& text = JsonHtml();
    const size_t k = text.size() / kSS - 1;  // the data's last full sector index
    struct Case {
        const char* what;
        size_t length;      // the data's length
        unsigned unit;
        long long sectorsFed;  // where the candidate finishes
    };
    const Case cases[] = {
        // The last data sector is full: it goes on, and the empty sector
        // after it ends the file with nothing more.
        {"z=0", k * kSS, 4, static_cast<long long>(k) + 1},
        {"z=4", (k - 1) * kSS + 508, 4, static_cast<long long>(k)},
        {"z=28", (k - 1) * kSS + 484, 4, static_cast<long long>(k)},
        {"z>=32 unit 4", (k - 1) * kSS + 300, 4, static_cast<long long>(k)},
        {"z>=32 unit 2", (k - 1) * kSS + 301, 2, static_cast<long long>(k)},
        {"z>=32 unit 1", (k - 1) * kSS + 479, 1, static_cast<long long>(k)},
        {"z>=32 one byte", (k - 1) * kSS + 1, 4, static_cast<long long>(k)},
    };
    for (const Case& c : cases) {
        CZeroEndRawFileInfo info(100 << 20, c.unit);
        EXPECT_TRUE(info.WhetherImplementGuess());
        FeedResult r = Feed(info, text.substr(0, c.length));
        EXPECT_EQ(r.result, 1) << c.what;
        EXPECT_EQ(r.size, static_cast<long long>(c.length)) << c.what;
        EXPECT_EQ(r.sectors, c.sectorsFed) << c.what;
        if (std::string(c.what) == "z=0") {
            EXPECT_EQ(r.results[k - 1], 2) << "a full sector goes on";
        }
    }
}

TEST(rawZeroEnd, EndPatternAndCheckStart)
{
    const std::string& text = JsonHtml();
    const size_t k = text.size() / kSS - 1;
    const unsigned char html[] = "</html>";

    // The whole document: its end is the pattern's end.
    {
        std::string data = text.substr(0, (k - 1) * kSS + 293) + "</html>";
        CZeroEndRawFileInfo info(100 << 20, 4);
        ASSERT_TRUE(info.SetEndPattern(html, 7));
        FeedResult r = Feed(info, data);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.size, static_cast<long long>(data.size()));
    }

    // A zero run inside the file (sector 3 ends in 100 zero bytes) without
    // the pattern: the file goes on, and the bytes after the run still count.
    std::string holed = text.substr(0, 20 * kSS + 293) + "</html>";
    std::fill(holed.begin() + 3 * kSS + 412, holed.begin() + 4 * kSS, '\0');
    {
        CZeroEndRawFileInfo info(100 << 20, 4);
        ASSERT_TRUE(info.SetEndPattern(html, 7));
        FeedResult r = Feed(info, holed);
        EXPECT_EQ(r.results[3], 2);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.size, static_cast<long long>(holed.size()));
    }
    // Without a pattern the same run ends the file at the run...
    {
        CZeroEndRawFileInfo info(100 << 20, 4);
        FeedResult r = Feed(info, holed);
        EXPECT_EQ(r.size, 3 * kSS + 412);
    }
    // ...unless the check start takes the first sectors whole.
    {
        CZeroEndRawFileInfo info(100 << 20, 4);
        info.m_u64CheckStart = 5 * kSS;
        FeedResult r = Feed(info, holed);
        EXPECT_EQ(r.results[3], 2);
        EXPECT_EQ(r.size, static_cast<long long>(holed.size()));
    }
    CZeroEndRawFileInfo info(1, 4);
    unsigned char big[81] = {};
    EXPECT_FALSE(info.SetEndPattern(big, 81));
}

// Over data without zero tails the size stops at the maximum instead of
// swallowing everything that follows.
TEST(rawZeroEnd, MaximumHoldsInEverySector)
{
    std::mt19937 rng(20240611);
    std::string data(8 << 20, '\0');
    for (char& c : data)
        c = static_cast<char>(rng() | 1);  // no zero word at a sector's end
    CZeroEndRawFileInfo info(1 << 20, 4);
    FeedResult r = Feed(info, data, 0);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.size, 1048576);
    EXPECT_EQ(r.sectors, 2048);

    // The cap also holds while the check start takes sectors whole.
    CZeroEndRawFileInfo capped(10 * kSS, 4);
    capped.m_u64CheckStart = 1 << 20;
    FeedResult c = Feed(capped, data.substr(0, 64 * kSS), 0);
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.size, 10 * kSS);
}

}  // namespace
