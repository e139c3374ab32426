// Text documents and early word-processor files: real RTF and HTML pages
// carved to their zero-padded end, the brace count, end-tag and UTF-16
// sizers on crafted pages, OneNote section chains and early Word headers.
#include <gtest/gtest.h>

#include <random>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DocFixtures.h"
#include "SearchHarness.h"
#include "TextDocAnalysers.h"

namespace {

constexpr long long kStart = 2;

std::vector<CarvedFile> CarveAt(const DocBytes& file, unsigned int ss, long long sectors,
                                const std::vector<std::pair<long long, unsigned char>>& fills = {})
{
    SearchHarness h(sectors, ss, GetRawAnalyserRows());
    for (const auto& [sector, byte] : fills)
        std::memset(h.Device().Sector(sector), byte, ss);
    h.Device().Put(kStart * ss, file);
    h.Run();
    std::vector<CarvedFile> out;
    for (const CarvedFile& f : h.Files())
        if (f.start == kStart)
            out.push_back(f);
    if (out.empty())
        for (const CarvedFile& f : h.Files())
            std::printf("  carved: %s/%s %lld at %lld\n", f.folder.c_str(), f.name.c_str(), f.size, f.start);
    return out;
}

DocBytes Text(const std::string& s)
{
    return DocBytes(s.begin(), s.end());
}

DocBytes Wide(const std::string& s, bool bom = true)
{
    DocBytes b;
    if (bom)
        b = {0xFF, 0xFE};
    for (char c : s) {
        b.push_back(static_cast<unsigned char>(c));
        b.push_back(0);
    }
    return b;
}

long long DeviceSize(IRawFileAnalyser& analyser, const DocBytes& file, int* rc = nullptr, unsigned int ss = 512)
{
    ByteDevice device(64 * 4096 / ss, ss);
    device.Put(4 * ss, file);
    CRawFileInfo info;
    info.m_llStartSector = 4;
    const int result = analyser.GetRawFileSize(info, &device);
    if (rc)
        *rc = result;
    return info.m_llSize;
}

// A OneNote section header of total length bytes; the length stands at 196,
// or at 100 when at100 is set.
DocBytes OneSection(long long length, bool at100 = false)
{
    DocBytes s(static_cast<size_t>(length), 0x11);
    const unsigned char id[16] = {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D,
                                  0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
    std::memcpy(s.data(), id, 16);
    DocPutLE64(s, 100, at100 ? static_cast<uint64_t>(length) : 0);
    DocPutLE64(s, 196, at100 ? 0 : static_cast<uint64_t>(length));
    return s;
}

}  // namespace

TEST(rawText, RealPagesEndWhereTheirPaddingStarts)
{
    REQUIRE_DOC_FIXTURES();
    // RTF ends with its outer group's closing brace and HTML with its
    // closing tag (each with one end of line): exactly. UTF-16 pages end in
    // the first sector with at least 8 zero bytes at its end, the one
    // holding the data's end or the next when fewer than 8 zero bytes
    // follow the data, on a whole character.
    const struct {
        const char* file;
        const char* folder;
        int extra;
        bool wide;
    } cases[] = {{"text/t.rtf", "rtf", 0, false}, {"text/t.html", "htm", 0, false}, {"text/u.htm", "htm", 0, true}};
    for (const auto& c : cases) {
        const DocBytes file = DocFixture(c.file);
        ASSERT_FALSE(file.empty()) << c.file;
        for (unsigned int ss : {512u, 4096u}) {
            SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(ss));
            const auto files = CarveAt(file, ss, static_cast<long long>(file.size() / ss) + 8);
            ASSERT_EQ(files.size(), 1u);
            EXPECT_EQ(files[0].folder, c.folder);
            const long long n = static_cast<long long>(file.size());
            const long long tail = (ss - n % ss) % ss;
            const long long want = tail >= 8 ? n : (n + ss - 1) / ss * ss;
            EXPECT_EQ(files[0].size, c.wide ? want + c.extra : n);
            EXPECT_EQ(files[0].name.rfind(std::to_string(kStart) + "-", 0), 0u) << files[0].name;
        }
    }
}

TEST(rawText, ASmallRtfEndsWithItsClosingBrace)
{
    // 298 bytes, then a sector of other data, then a zero-tailed sector.
    DocBytes rtf = Text("{\\rtf1 " + std::string(290, 'x') + "}");
    rtf.resize(300);
    DocBytes other(512, 'o');
    DocBytes last(512, 0);
    std::memset(last.data(), 'z', 100);
    DocBytes file = rtf;
    file.resize(512, 0);
    file.insert(file.end(), other.begin(), other.end());
    file.insert(file.end(), last.begin(), last.end());
    const auto files = CarveAt(file, 512, 16);
    ASSERT_EQ(files.size(), 1u);
    // Not the other data after it.
    EXPECT_EQ(files[0].size, 298);
}

TEST(rawText, RtfBracesDecideTheDeviceSize)
{
    const struct {
        const char* what;
        std::string text;
        int rc;
        long long size;
    } cases[] = {
        {"outer group with two inner groups", "{\\rtf1{\\a x}{\\b y}z}TRAILING", 1, 20},
        {"a group right after the close goes on", "{\\rtf1 a}{\\b more}tail", 1, 18},
        {"a zero byte inside the outer group", std::string("{\\rtf1{\\a x") + '\0' + "}}", 0, 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileRTFAnalyser analyser;
        int rc = -1;
        DocBytes bytes = Text(c.text);
        bytes.resize(4096, 'q');  // no zero after the text
        if (c.rc == 0)
            bytes.resize(c.text.size());  // the zero comes from the text
        const long long size = DeviceSize(analyser, bytes, &rc);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(size, c.size);
    }
    // Braces that never close: the walk is bounded.
    DocBytes open = Text("{\\rtf1");
    open.resize(8192, '{');
    ByteDevice device(64, 512);
    device.Put(0, open);
    std::memset(device.Bytes().data() + 8192, 'a', device.Bytes().size() - 8192);
    FileRTFAnalyser analyser;
    CRawFileInfo info;
    // The device ends before the limit: the zero bytes past it fail the count.
    EXPECT_EQ(analyser.GetRawFileSize(info, &device), 0);
}

TEST(rawText, HtmlProbesAcceptPagesNotFragments)
{
    const struct {
        DocBytes start;
        int streaming;
        int plain;
        int wide;
    } cases[] = {
        {Text("<!doctype html><html>"), 1, 1, 0},
        {Text("<HTML><body>"), 1, 1, 0},
        {Text("<html lang=en>"), 1, 1, 0},
        {Text("<head><title>"), 0, 0, 0},
        {Text("<!-- comment -->"), 0, 0, 0},
        {Wide("<HtMl>"), 1, 0, 1},
        {Wide("<!DOCTYPE html>"), 1, 0, 1},
        {Wide("<head>"), 0, 0, 1},
    };
    for (const auto& c : cases) {
        DocBytes sector = c.start;
        sector.resize(512, 0);
        SCOPED_TRACE(std::string(c.start.begin(), c.start.end()));
        CRawFileInfo info;
        RawSpeed::HTMLAnalyser streaming;
        FileHTMAnalyser plain;
        FileUnicodeHTMAnalyser wide;
        EXPECT_EQ(streaming.AnalyseBuffer(sector.data(), info), c.streaming);
        EXPECT_EQ(plain.AnalyseBuffer(sector.data(), info), c.plain);
        EXPECT_EQ(wide.AnalyseBuffer(sector.data(), info), c.wide);
    }
}

TEST(rawText, HtmlDeviceSizersFindTheEndTag)
{
    // 8-bit: the end tag in a zero-padded sector, rounded up to the sector.
    DocBytes page = Text("<html><body>" + std::string(700, 'b') + "</body></HTML>\n");
    FileHTMAnalyser plain;
    int rc = 0;
    EXPECT_EQ(DeviceSize(plain, page, &rc), 1024);
    EXPECT_EQ(rc, 1);

    // UTF-16: 16 bytes past where "</html>" starts.
    const DocBytes wide = Wide("<!DOCTYPE html>\n<html><body>hello</body></html>\n");
    FileUnicodeHTMAnalyser unicode;
    const std::string asText = "<!DOCTYPE html>\n<html><body>hello</body>";
    EXPECT_EQ(DeviceSize(unicode, wide, &rc), 2 + 2 * static_cast<long long>(asText.size()) + 16);
    EXPECT_EQ(rc, 1);
    // Without the end tag the scan stops at the first zero character.
    const DocBytes cut = Wide("<html><body>no end");
    EXPECT_EQ(DeviceSize(unicode, cut, &rc), static_cast<long long>(cut.size()));
    // No "<html>" in the first 498 bytes after a doctype: refused.
    DocBytes late = Wide("<!DOCTYPE html>" + std::string(300, ' ') + "<html></html>");
    DeviceSize(unicode, late, &rc);
    EXPECT_EQ(rc, 0);
    // Neither "<html>" nor a doctype: refused.
    DeviceSize(unicode, Wide("<head></head>"), &rc);
    EXPECT_EQ(rc, 0);
}

TEST(rawText, OneNoteSectionsChainIntoOneFile)
{
    const struct {
        const char* what;
        std::vector<DocBytes> sections;
        long long size;
    } cases[] = {
        {"one section", {OneSection(3000)}, 3000},
        {"length at 100", {OneSection(2100, true)}, 2100},
        {"two sections back to back", {OneSection(1500), OneSection(2600)}, 4100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DocBytes file;
        for (const DocBytes& s : c.sections)
            file.insert(file.end(), s.begin(), s.end());
        // Foreign bytes follow the sections.
        DocBytes planted = file;
        planted.resize(file.size() + 2048, 0x77);
        const auto files = CarveAt(planted, 512, 48);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0].folder, "one");
        EXPECT_EQ(files[0].size, c.size);
        FileONEAnalyser whole;
        EXPECT_EQ(DeviceSize(whole, planted), c.size);
    }
    // Absurd lengths stop the whole-file walk at its cap.
    DocBytes huge = OneSection(1024);
    DocPutLE64(huge, 196, 0xFFFFFFFFFFFFULL);
    FileONEAnalyser whole;
    EXPECT_EQ(DeviceSize(whole, huge), FileONEAnalyser::kMaxSize);
    // A header whose two lengths are zero is not followed forever.
    DocBytes zero = OneSection(1024);
    DocPutLE64(zero, 196, 0);
    EXPECT_EQ(DeviceSize(whole, zero), FileONEAnalyser::kMaxSize);
    DocBytes chain = OneSection(1024);
    DocBytes second = OneSection(1024);
    DocPutLE64(second, 196, 0);
    chain.insert(chain.end(), second.begin(), second.end());
    chain.resize(chain.size() + 2048, 0x77);
    const auto files = CarveAt(chain, 512, 48);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].size, 1024);
}

TEST(rawText, EarlyWordSizeComesFromTheHeader)
{
    const struct {
        unsigned char key[4];
        uint32_t at124;
        uint16_t at128;
        long long size;
    } cases[] = {
        {{0xDB, 0xA5, 0x2D, 0x00}, 1000, 24, 1024},
        {{0x94, 0xA6, 0x2E, 0x00}, 1000, 25, 1536},
        {{0xDB, 0xA5, 0x2D, 0x00}, 0xFFFFFFFF, 0xFFFF, (0xFFFFFFFFLL + 0xFFFF + 511) / 512 * 512},
    };
    for (const auto& c : cases) {
        DocBytes sector(512, 0);
        std::memcpy(sector.data(), c.key, 4);
        DocPutLE32(sector, 0x124, c.at124);
        DocPutLE16(sector, 0x128, c.at128);
        FileLowDocAnalyser analyser;
        CRawFileInfo info;
        EXPECT_EQ(analyser.AnalyseBuffer(sector.data(), info), 1);
        EXPECT_EQ(info.m_llSize, c.size);
        EXPECT_EQ(info.m_dwType, 23u);
    }
    // With a compound-file header: directory sector x 512 + 2,560.
    DocBytes ole(512, 0);
    const unsigned char sig[4] = {0xD0, 0xCF, 0x11, 0xE0};
    std::memcpy(ole.data(), sig, 4);
    DocPutLE32(ole, 0x30, 7);
    FileLowDocAnalyser analyser;
    CRawFileInfo info;
    analyser.AnalyseBuffer(ole.data(), info);
    EXPECT_EQ(info.m_llSize, 7 * 512 + 2560);

    // Carved whole through the searcher, and cut at the device's end.
    DocBytes file(1024, 'w');
    std::memcpy(file.data(), cases[0].key, 4);
    DocPutLE32(file, 0x124, 1000);
    DocPutLE16(file, 0x128, 24);
    const auto files = CarveAt(file, 512, 16);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].folder, "doc");
    EXPECT_EQ(files[0].size, 1024);
}

TEST(rawText, PushedOutCandidatesGoToTheSizerOfTheirText)
{
    // A page that is pushed out before its end is sized from the device by
    // the sizer that reads its kind of text.
    const struct {
        DocBytes start;
        bool wide;
    } cases[] = {{Text("<html><body>"), false}, {Wide("<!DOCTYPE html><html>"), true}};
    for (const auto& c : cases) {
        DocBytes sector = c.start;
        sector.resize(512, 'x');
        RawSpeed::HTMLAnalyser analyser;
        CRawFileInfo probe;
        ASSERT_EQ(analyser.AnalyseBuffer(sector.data(), probe), 1);
        std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
        info->m_llStartSector = 0;
        info->m_pOwner = &analyser;
        CRawFileInfo::SearchContext context;
        context.llBlockEnd = 16;
        EXPECT_EQ(info->CalcRawSize(sector.data(), 512, 0, context), 2);
        info->WillBeRemove(nullptr, -1);
        ASSERT_NE(info->m_pOwner, nullptr);
        EXPECT_NE(info->m_pOwner, &analyser);
        EXPECT_EQ(dynamic_cast<FileUnicodeHTMAnalyser*>(info->m_pOwner) != nullptr, c.wide);
        EXPECT_EQ(dynamic_cast<FileHTMAnalyser*>(info->m_pOwner) != nullptr, !c.wide);
    }
}

// Text documents end with their closing brace or tag and one end of line
// whatever follows; one cut short ends where its text does.
TEST(rawText, TextEndsWithItsClosingMarkWhateverFollows)
{
    REQUIRE_DOC_FIXTURES();
    std::mt19937 rng(4);
    DocBytes random(20000);
    for (unsigned char& c : random)
        c = static_cast<unsigned char>(rng());
    std::string pdfText = "%PDF-1.4\n1 0 obj\n<< >>\nendobj\n";
    pdfText.resize(2000, ' ');
    const DocBytes pdf = Text(pdfText);
    for (const char* name : {"text/t.rtf", "text/t.html"}) {
        const DocBytes file = DocFixture(name);
        ASSERT_GT(file.size(), 600u) << name;
        DocBytes cut(file.begin(), file.end() - 300);
        const struct {
            const char* what;
            const DocBytes& file;
            DocBytes after;
            long long size;
        } cases[] = {
            {"zeros", file, DocBytes(8192, 0), static_cast<long long>(file.size())},
            {"random bytes", file, random, static_cast<long long>(file.size())},
            {"the same document", file, file, static_cast<long long>(file.size())},
            {"a PDF", file, pdf, static_cast<long long>(file.size())},
            {"cut short, then zeros", cut, DocBytes(8192, 0), static_cast<long long>(cut.size())},
        };
        for (const auto& c : cases) {
            for (unsigned int ss : {512u, 4096u}) {
                SCOPED_TRACE(std::string(name) + ", " + c.what + " at " + std::to_string(ss));
                const FollowedCarve carved = CarveFollowed(c.file, c.after, ss, GetRawAnalyserRows());
                EXPECT_EQ(carved.file.size, c.size);
            }
        }
    }
}
