#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FileNameFilter.h"
#include "RawFileAnalyser.h"
#include "RawFileInfo.h"

namespace {

TEST(rawContract, NewCandidateAndDefaultAnalyser)
{
    CRawFileInfo info;
    EXPECT_EQ(info.m_llStartSector, 0);
    EXPECT_EQ(info.m_llSize, 0);
    EXPECT_EQ(info.m_dwType, 0u);
    EXPECT_EQ(info.m_dwAnalyserID, 0xFFFFu);
    EXPECT_EQ(info.m_eTag, RAW_TAG_NONE);
    EXPECT_TRUE(info.m_strName.empty() && info.m_strTime.empty() && info.m_strTagValue.empty());
    EXPECT_EQ(info.m_pOwner, nullptr);
    EXPECT_FALSE(info.WhetherImplementGuess());
    CRawFileInfo::SearchContext ctx;
    unsigned char sector[512] = {};
    EXPECT_EQ(info.CalcRawSize(sector, 512, 0, ctx), 2);

    // An analyser that overrides nothing accepts nothing, sizes nothing and
    // yields plain candidates.
    IRawFileAnalyser analyser(42);
    EXPECT_EQ(analyser.GetAnalyserID(), 42u);
    info.m_llSize = 77;
    EXPECT_EQ(analyser.AnalyseBuffer(sector, info), 0);
    EXPECT_EQ(analyser.GetRawFileSize(info, nullptr), 1);
    EXPECT_EQ(info.m_llSize, 77);
    EXPECT_EQ(analyser.GetSpecialRawFile(), nullptr);
    EXPECT_EQ(analyser.GetRawFileName(), "");
    EXPECT_EQ(analyser.GetRawFileTime(), "");
    CRawFileInfo* made = analyser.CreateRawFileInfo();
    ASSERT_NE(made, nullptr);
    EXPECT_FALSE(made->WhetherImplementGuess());
    delete made;
}

TEST(rawContract, NameFilter)
{
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"a:b?c  ", "a_b_c"},
        {"   ", ""},
        {"", ""},
        {"  lead", "  lead"},
        {"x\\y/z\"<>|*\r\n\x01w", "x_y_z________w"},
        {"trail \t ", "trail \t"},
        {"caf\xC3\xA9 ok", "caf\xC3\xA9 ok"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ApiStrFilterBadFileName(c.in), c.out) << c.in;

    CRawFileInfo info;
    info.m_strName = "DCIM/100 ";  // set directly, as an analyser might
    EXPECT_EQ(info.GetRawFileName(), "DCIM_100");
    EXPECT_EQ(info.m_strName, "DCIM_100");
    info.SetRawFileName("a|b");
    EXPECT_EQ(info.m_strName, "a_b");

    info.SetRawFileTagAndValue(RAW_TAG_CAMERA, "Canon:EOS ");
    info.m_strTagValue += "/x";
    RAW_FILE_TAG tag = RAW_TAG_NONE;
    std::string value;
    info.GetRawFileTagAndValue(tag, value);
    EXPECT_EQ(tag, RAW_TAG_CAMERA);
    EXPECT_EQ(value, "Canon_EOS_x");
}

// The accessor is the only way an analyser reads bytes around its sector, so
// its bounds are the safety of every analyser.
TEST(rawContract, BlockMemoryAccessorStaysInsideLookBackAndBlock)
{
    const unsigned ss = 512;
    // Look-back block 100..107 and current block 108..115, as the searcher
    // keeps them, plus a zero tail it may append.
    std::vector<unsigned char> memory(16 * ss + 4096);
    for (size_t i = 0; i < 16 * ss; ++i)
        memory[i] = static_cast<unsigned char>(i / ss + 1);
    CRawFileInfo::SearchContext ctx;
    ctx.pBlockBase = memory.data();
    ctx.llBaseSector = 100;
    ctx.dwSectorSize = ss;
    ctx.llLookBackStart = 100;
    ctx.llBlockEnd = 116;

    struct Case {
        long long sector;
        long long offset;
        long long length;
        long long expectIndex;  // -1: null
    };
    const Case cases[] = {
        {100, 0, 1, 0},
        {110, 0, 512, 10 * 512},
        {110, -512, 1024, 9 * 512},        // across a sector boundary
        {100, -1, 1, -1},                  // before the look-back start
        {115, 0, 512, 15 * 512},           // the block's last sector
        {115, 1, 512, -1},                 // one byte past the block end
        {116, 0, 1, -1},                   // past the end
        {99, 0, 1, -1},
        {108, 0, 0, -1},
        {108, 0, -5, -1},
        {108, 1LL << 62, 4, -1},           // offsets from file contents
        {108, -(1LL << 62), 4, -1},
        {1LL << 62, 0, 1, -1},
        {108, 0, 1LL << 62, -1},
    };
    for (const Case& c : cases) {
        const unsigned char* p = ctx.bytes(c.sector, c.offset, c.length);
        if (c.expectIndex < 0)
            EXPECT_EQ(p, nullptr) << c.sector << " " << c.offset << " " << c.length;
        else
            EXPECT_EQ(p, memory.data() + c.expectIndex) << c.sector << " " << c.offset;
    }

    // At the device's start there is no look-back block.
    ctx.llLookBackStart = 108;
    EXPECT_EQ(ctx.bytes(107, 0, 1), nullptr);
    EXPECT_NE(ctx.bytes(108, 0, 1), nullptr);
    ctx.pBlockBase = nullptr;
    EXPECT_EQ(ctx.bytes(110, 0, 1), nullptr);
}

TEST(rawContract, ZeroCountsOfASector)
{
    struct Case {
        int dataBytes;  // bytes of 0xAA at the start, zeros after
        unsigned leading;
        unsigned trailing;
    };
    const Case cases[] = {
        {512, 0, 0}, {511, 0, 0}, {508, 0, 4}, {505, 0, 4}, {484, 0, 28}, {480, 0, 32}, {10, 0, 32}, {0, 4, 32},
    };
    for (const Case& c : cases) {
        unsigned char sector[512] = {};
        std::memset(sector, 0xAA, static_cast<size_t>(c.dataBytes));
        CRawFileInfo::SearchContext ctx;
        ctx.SetZeroCounts(sector, 512);
        EXPECT_EQ(ctx.dwLeadingZero, c.leading) << c.dataBytes;
        EXPECT_EQ(ctx.dwTrailingZero, c.trailing) << c.dataBytes;
    }
}

}  // namespace
