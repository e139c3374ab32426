// Databases, keystores, mail, books, help files and fonts on crafted bytes:
// probes, sizes read from headers, the page and record walks of the
// streaming candidates, and damaged or hostile values.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BookHelpFontAnalysers.h"
#include "CameraRawBytes.h"
#include "DatabaseAnalysers.h"
#include "MailAnalysers.h"
#include "DbTestBytes.h"
#include "SearchHarness.h"

namespace {

using namespace rawtest;
using namespace dbtest;

// ---- SQLite ------------------------------------------------------------------------

Bytes SqliteHeader(unsigned int pageSize, unsigned char encoding)
{
    Bytes h(512, 0);
    PutText(h, 0, "SQLite format 3");
    Put16(h, 16, pageSize == 65536 ? 1 : pageSize, false);
    h[59] = encoding;
    return h;
}

TEST(DbSqlite, ProbeChecksPageSizeAndEncoding)
{
    struct Case {
        unsigned int pageSize;
        unsigned char encoding;
        bool accepted;
    } cases[] = {{512, 1, false}, {4096, 2, true}, {1024, 0, true}, {32768, 3, true},
                 {65536, 1, true}, {4096, 4, false}, {1536, 1, false}};
    BruteForce::CFCPEvtAnalyser analyser;
    for (const Case& c : cases) {
        CRawFileInfo info;
        Bytes h = SqliteHeader(c.pageSize, c.encoding);
        EXPECT_EQ(analyser.AnalyseBuffer(h.data(), info) == 1, c.accepted) << c.pageSize << " " << int(c.encoding);
        if (c.accepted) {
            EXPECT_EQ(info.m_dwType, 115u);
        }
    }
    Bytes wrong = SqliteHeader(4096, 1);
    wrong[14] = '4';
    CRawFileInfo info;
    EXPECT_EQ(analyser.AnalyseBuffer(wrong.data(), info), 0);
}

// A database of page size 1024: page 1 (header, first cell at 1000), the
// pages given by their first bytes, each filled with non-zero bytes.
Bytes SqliteFile(const std::vector<Bytes>& pageStarts)
{
    Bytes file = NonZero(1024, 1);
    Bytes header = SqliteHeader(1024, 1);
    std::copy(header.begin(), header.begin() + 100, file.begin());
    Put32(file, 28, static_cast<uint32_t>(pageStarts.size() + 1), false);
    Put32(file, 36, 0, false);
    Put16(file, 105, 900, false);
    Put16(file, 108, 1000, false);
    for (size_t i = 0; i < pageStarts.size(); ++i) {
        Bytes page = NonZero(1024, static_cast<unsigned>(10 + i));
        std::copy(pageStarts[i].begin(), pageStarts[i].end(), page.begin());
        Append(file, page);
    }
    return file;
}

TEST(DbSqlite, ZeroPagesEndTheFileWhereTheirRunBegan)
{
    const Bytes leaf = {0x0D, 0, 0, 0, 1};
    const Bytes zeroPage(1024, 0);
    for (unsigned int ss : {512u, 1024u}) {
        // Three b-tree pages, then five zero pages and a page of another
        // kind: the file ends where the zero pages began.
        Bytes file = SqliteFile({leaf, leaf, {0x05, 0, 0, 0, 1}});
        const size_t end = file.size();
        for (int i = 0; i < 5; ++i)
            Append(file, zeroPage);
        Append(file, Bytes(1024, 0x77));
        BruteForce::CFCPEvtFileInfo info;
        const FeedResult r = Feed(info, file, ss);
        EXPECT_EQ(r.llSize, static_cast<long long>(end)) << ss;
        EXPECT_EQ(info.GetRawFileName(), "0-" + std::to_string(r.llSector) + "_");
        // The first cell's record does not name the activity table: a plain
        // SQLite database.
        EXPECT_EQ(info.m_dwType, 147u);

        // Only zero pages after it (a zero gap): the sixth ends the file at
        // the same place.
        Bytes padded = SqliteFile({leaf, leaf, {0x05, 0, 0, 0, 1}});
        padded.resize(padded.size() + 8 * 1024, 0);
        BruteForce::CFCPEvtFileInfo zeros;
        EXPECT_EQ(Feed(zeros, padded, ss).llSize, static_cast<long long>(end)) << ss;
    }
}

TEST(DbSqlite, OverflowChainsAndDamagedHeaders)
{
    // An overflow chain of pages 3, 4, 5 (next-page numbers 4, 5, 0) stays in
    // the file; the page after it, of an unknown kind, ends it.
    Bytes file = SqliteFile({{0x0D, 0, 0, 0, 1}, {0, 0, 0, 4, 9}, {0, 0, 0, 5, 9}, {0, 0, 0, 0, 9}, {0x0A, 0, 0, 0, 1}});
    const size_t end = file.size();
    Append(file, Bytes(1024, 0xEE));
    BruteForce::CFCPEvtFileInfo info;
    EXPECT_EQ(Feed(info, file, 512).llSize, static_cast<long long>(end));

    // A page size of zero in the fed header: no size, finished at once.
    Bytes bad = SqliteFile({{0x0D}});
    bad[16] = 0;
    BruteForce::CFCPEvtFileInfo zero;
    const FeedResult r = Feed(zero, bad, 512);
    EXPECT_EQ(r.llSector, 0);
    EXPECT_EQ(r.llSize, 0);
}

TEST(DbSqlite, FreePagesAtTheEndStayWhenTheHeaderCountsThem)
{
    // Two free pages (first bytes zero) end the file, then zeros: the walk
    // takes them for the zero run; the header's page count keeps them,
    // but never beyond the pages already passed.
    const Bytes freePage = {0, 0, 0, 0, 0};
    for (uint32_t stated : {5u, 40u, 2u}) {
        Bytes file = SqliteFile({{0x0D, 0, 0, 0, 1}, {0x0D, 0, 0, 0, 1}, freePage, freePage});
        Put32(file, 28, stated, false);
        const size_t end = file.size();
        file.resize(end + 10 * 1024, 0);
        BruteForce::CFCPEvtFileInfo info;
        const long long want = stated == 5 ? static_cast<long long>(end) : 3 * 1024;
        EXPECT_EQ(Feed(info, file, 512).llSize, want) << stated;
    }
}

TEST(DbSqlite, AValidPageCountEndsTheFileWhateverFollows)
{
    // The change counter matches the number the count was written with:
    // the count's pages are the file, whatever bytes follow them, and at
    // 65,536-byte pages too.
    for (unsigned int pageSize : {1024u, 65536u}) {
        Bytes file = SqliteFile({{0x0D, 0, 0, 0, 1}, {0, 0, 0, 0, 0}, {0x0D, 0, 0, 0, 1}});
        if (pageSize == 65536) {
            Put16(file, 16, 1, false);
            file.resize(2 * 65536, 0x33);
            Put32(file, 28, 2, false);
        }
        Put32(file, 24, 7, false);
        Put32(file, 92, 7, false);
        const size_t end = file.size();
        Append(file, NonZero(3 * 1024, 99));
        for (unsigned int ss : {512u, 4096u}) {
            BruteForce::CFCPEvtFileInfo info;
            EXPECT_EQ(Feed(info, file, ss).llSize, static_cast<long long>(end)) << pageSize << " at " << ss;
        }
    }
}

TEST(DbSqlite, AValidPageCountEndsItThroughTheSearcher)
{
    Bytes file = SqliteFile({{0x0D, 0, 0, 0, 1}, {0x0D, 0, 0, 0, 1}, {0x0D, 0, 0, 0, 1}});
    Put32(file, 24, 2, false);
    Put32(file, 92, 2, false);
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    jpeg.resize(2048, 0x11);
    for (const Bytes& after : {Bytes(4096, 0), NonZero(4096, 5), jpeg}) {
        for (unsigned int ss : {512u, 4096u}) {
            const FollowedCarve carved = CarveFollowed(file, after, ss, GetRawAnalyserRows());
            EXPECT_EQ(carved.file.size, static_cast<long long>(file.size())) << ss << " " << int(after[0]);
        }
    }
}

TEST(DbSqlite, SchemaCellTellsMuseFromSketch)
{
    // First cell at 1000: UTF-16 "tableactiveactive" 10 bytes in; the cell
    // content at 900 names payload and metadata.
    Bytes file = SqliteFile({{0x0D, 0, 0, 0, 1}});
    std::string wide;
    for (char c : std::string("tableactiveactive"))
        wide += std::string(1, c) + std::string(1, '\0');
    std::copy(wide.begin(), wide.end(), file.begin() + 1010);
    PutText(file, 910, "CREATE TABLE payload(x); metadata");
    Append(file, Bytes(1024, 0xEE));
    BruteForce::CFCPEvtFileInfo sketch;
    Feed(sketch, file, 512);
    EXPECT_EQ(sketch.m_dwType, 143u);

    // Without the two words the check fails and keeps the first type.
    PutText(file, 910, "CREATE TABLE nothing_here_at_all");
    BruteForce::CFCPEvtFileInfo plain;
    Feed(plain, file, 512);
    EXPECT_EQ(plain.m_dwType, 115u);
}

// A page of cells whose texts are name records: byte p is the text length +
// h, byte p + 2 is h, the text starts at p + h + 2.
Bytes AddressPage(const std::vector<std::string>& texts, unsigned int length = 1024)
{
    Bytes page(length, 0);
    page[0] = 0x0D;
    Put16(page, 3, static_cast<uint32_t>(texts.size()), false);
    size_t longest = 0;
    for (const std::string& t : texts)
        longest = std::max(longest, t.size());
    const unsigned int step = static_cast<unsigned int>(std::max<size_t>(24, longest + 8));
    unsigned int at = 400;
    EXPECT_LE(at + step * texts.size(), length + 0u);
    for (size_t i = 0; i < texts.size() && at + step <= length; ++i) {
        Put16(page, 8 + 2 * i, at, false);
        const unsigned int h = 3;
        page[at] = static_cast<unsigned char>(texts[i].size() + h);
        page[at + 2] = h;
        PutText(page, at + h + 2, texts[i]);
        at += step;
    }
    return page;
}

TEST(DbSqlite, AddressBookPageTest)
{
    using Info = BruteForce::CFCPEvtFileInfo;
    Bytes two = AddressPage({"ABCDRecord", "other", "ABCDPhoneNumber"});
    EXPECT_TRUE(Info::IsAddressBookPage(two.data(), 1024, 3));
    Bytes one = AddressPage({"ABCDRecord", "other"});
    EXPECT_FALSE(Info::IsAddressBookPage(one.data(), 1024, 2));
    // A text longer than 50 characters fails the page.
    Bytes longText = AddressPage({"ABCDRecord", std::string(51, 'x'), "ABCDRecord"});
    EXPECT_FALSE(Info::IsAddressBookPage(longText.data(), 1024, 3));
    // A pointer past the page fails; a cell count whose pointers do not fit
    // is refused without reading past the page.
    Bytes outside = AddressPage({"ABCDRecord", "ABCDRecord"});
    Put16(outside, 8, 2000, false);
    EXPECT_FALSE(Info::IsAddressBookPage(outside.data(), 1024, 2));
    Bytes small = AddressPage({"ABCDRecord", "ABCDRecord"});
    small.resize(64);
    EXPECT_FALSE(Info::IsAddressBookPage(small.data(), 64, 40));
    // A pointer at the page's very end stops the walk inside the page.
    Bytes edge = AddressPage({"ABCDRecord"});
    Put16(edge, 8, 1023, false);
    EXPECT_FALSE(Info::IsAddressBookPage(edge.data(), 1024, 1));
}

TEST(DbSqlite, AddressBookPageTypesTheFile)
{
    // 26 cells, two of them name records, on page 2.
    std::vector<std::string> texts(26, "cell");
    texts[3] = "ABCDRecord";
    texts[7] = "ABCDPhoneNumber";
    Bytes page = AddressPage(texts);
    Bytes file = SqliteFile({{0x0D, 0, 0, 0, 1}});
    std::copy(page.begin(), page.end(), file.begin() + 1024);
    Append(file, Bytes(1024, 0xEE));
    BruteForce::CFCPEvtFileInfo info;
    EXPECT_EQ(Feed(info, file, 512).llSize, 2048);
    EXPECT_EQ(info.m_dwType, 121u);
}

// ---- Access and Money -------------------------------------------------------------

Bytes AccessFile(const std::vector<uint16_t>& pageTypes, bool ace = false)
{
    Bytes file = NonZero(4096, 3);
    file[0] = 0;
    file[1] = 1;
    file[2] = file[3] = 0;
    PutText(file, 4, ace ? "Standard ACE DB" : "Standard Jet DB");
    file[19] = 0;
    for (size_t i = 0; i < pageTypes.size(); ++i) {
        Bytes page = NonZero(4096, static_cast<unsigned>(20 + i));
        Put16(page, 0, pageTypes[i], true);
        Append(file, page);
    }
    return file;
}

TEST(DbAccess, ProbeTellsJetFromAce)
{
    RawSpeed::CMDBAnalyser analyser;
    CRawFileInfo jet, ace, other;
    Bytes j = AccessFile({}), a = AccessFile({}, true), o = AccessFile({});
    o[12] = 'x';
    EXPECT_EQ(analyser.AnalyseBuffer(j.data(), jet), 1);
    EXPECT_EQ(jet.m_dwType, 39u);
    EXPECT_EQ(analyser.AnalyseBuffer(a.data(), ace), 1);
    EXPECT_EQ(ace.m_dwType, 76u);
    EXPECT_EQ(analyser.AnalyseBuffer(o.data(), other), 0);
}

TEST(DbAccess, PageWalk)
{
    RawSpeed::CMDBAnalyser analyser;
    for (unsigned int ss : {512u, 4096u}) {
        // Known pages, then an unknown one: the file ends before it.
        {
            Bytes file = AccessFile({0x0101, 0x0102, 0x0105});
            const size_t end = file.size();
            Append(file, Bytes(4096, 0xAB));
            std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
            EXPECT_EQ(Feed(*info, file, ss).llSize, static_cast<long long>(end)) << ss;
        }
        // 36 empty pages end the file where they began.
        {
            Bytes file = AccessFile({0x0101, 0x0104});
            const size_t end = file.size();
            file.resize(end + 40 * 4096, 0);
            std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
            const FeedResult r = Feed(*info, file, ss);
            EXPECT_EQ(r.llSize, static_cast<long long>(end)) << ss;
            EXPECT_EQ(r.llSector * ss, static_cast<long long>(end + 35 * 4096)) << ss;
        }
        // An unknown second page switches to the zero-tail rule instead of
        // ending at 4096: the first page whose sector ends in zeros ends it.
        {
            Bytes file = AccessFile({0x4242, 0x0101, 0x7777});
            Bytes last(4096, 0x11);
            std::fill(last.begin() + 496, last.begin() + 512, 0);
            std::fill(last.end() - 16, last.end(), 0);
            Append(file, last);
            std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
            const FeedResult r = Feed(*info, file, ss);
            EXPECT_EQ(r.llSize, 4 * 4096) << ss;
        }
    }
}

TEST(DbAccess, FallbackSizesFromTheDevice)
{
    FileMDBAnalyser fallback;
    Bytes file = AccessFile({0x0101, 0x0102, 0x0103});
    const size_t end = file.size();
    Append(file, Bytes(4096, 0));
    EXPECT_EQ(DeviceSize(fallback, file, 512), static_cast<long long>(end));
    // A page type of 0x0902 or more ends it as well.
    Bytes high = AccessFile({0x0101, 0x0902});
    EXPECT_EQ(DeviceSize(fallback, high, 512), 8192);
    // Past the device's end nothing is readable: the offset reached stays.
    Bytes full = AccessFile({0x0101, 0x0101});
    EXPECT_EQ(DeviceSize(fallback, full, 4096, nullptr, 0), 3 * 4096);

    // The streaming candidate hands itself to the fallback when evicted.
    RawSpeed::CMDBAnalyser analyser;
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    info->WillBeRemove(nullptr, -1);
    EXPECT_NE(info->m_pOwner, nullptr);
    EXPECT_NE(info->m_pOwner, &analyser);
}

// ---- one-shot probes ---------------------------------------------------------------

TEST(DbOneShot, HeaderSizes)
{
    {
        Bytes pst(512, 0);
        PutText(pst, 0, "!BDN");
        Put32(pst, 184, 777777, true);
        Put32(pst, 168, 555555, true);
        FilePSTAnalyser analyser;
        for (auto [version, size] : {std::pair{23, 777777LL}, {14, 555555LL}, {15, 0x100000LL}, {0, 0x100000LL}}) {
            pst[10] = static_cast<unsigned char>(version);
            CRawFileInfo info;
            EXPECT_EQ(analyser.AnalyseBuffer(pst.data(), info), 1) << version;
            EXPECT_EQ(info.m_llSize, size) << version;
            EXPECT_EQ(info.m_dwType, 56u);
        }
        Put32(pst, 184, 0, true);
        pst[10] = 23;
        CRawFileInfo info;
        EXPECT_EQ(analyser.AnalyseBuffer(pst.data(), info), 0);
    }
    {
        Bytes mny(512, 0);
        PutText(mny, 4, "MSISAM Database");
        CRawFileInfo info;
        EXPECT_EQ(FileMNYAnalyser().AnalyseBuffer(mny.data(), info), 1);
        EXPECT_EQ(info.m_llSize, 0x100000);
    }
    {
        Bytes emlx(512, 0);
        PutText(emlx, 0, "1234      ");
        PutText(emlx, 11, "X-QQ-FEAT: abc");
        CRawFileInfo info;
        EXPECT_EQ(FileEMLXAnalyser().AnalyseBuffer(emlx.data(), info), 1);
        EXPECT_EQ(info.m_llSize, 1234 + 402);
        emlx[0] = ' ';
        CRawFileInfo none;
        EXPECT_EQ(FileEMLXAnalyser().AnalyseBuffer(emlx.data(), none), 0);
    }
    {
        Bytes itl(512, 0);
        PutText(itl, 0, "hdfm");
        CRawFileInfo zero, sized;
        EXPECT_EQ(FileITLAnalyser().AnalyseBuffer(itl.data(), zero), 0);
        Put32(itl, 8, 0x123456, false);
        EXPECT_EQ(FileITLAnalyser().AnalyseBuffer(itl.data(), sized), 1);
        EXPECT_EQ(sized.m_llSize, 0x123456);
    }
    {
        Bytes hlp(512, 0);
        Put32(hlp, 0, 0x00035F3F, true);
        Put32(hlp, 4, 600, true);
        struct {
            uint32_t size;
            bool ok;
        } cases[] = {{5000, true}, {600, true}, {599, false}, {511, false}};
        for (auto c : cases) {
            Put32(hlp, 12, c.size, true);
            CRawFileInfo info;
            EXPECT_EQ(FileHLPAnalyser().AnalyseBuffer(hlp.data(), info) == 1, c.ok) << c.size;
        }
    }
}

Bytes ChmHeader(uint64_t size)
{
    static const unsigned char kGuid[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                            0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    Bytes h(512, 0);
    PutText(h, 0, "ITSF");
    Put32(h, 4, 3, true);
    Put32(h, 8, 96, true);
    std::copy(kGuid, kGuid + 16, h.begin() + 24);
    std::copy(kGuid, kGuid + 16, h.begin() + 40);
    h[40] = 0x11;
    Put32(h, 96, 0x1FE, true);
    Put32(h, 104, static_cast<uint32_t>(size), true);
    Put32(h, 108, static_cast<uint32_t>(size >> 32), true);
    return h;
}

TEST(DbOneShot, CompiledHelpHeader)
{
    FileCHMAnalyser analyser;
    CRawFileInfo info;
    Bytes good = ChmHeader(0x123456789ULL);
    EXPECT_EQ(analyser.AnalyseBuffer(good.data(), info), 1);
    EXPECT_EQ(info.m_llSize, 0x123456789LL);
    // Each of the other fields in turn spoils it.
    for (size_t at : {8u, 24u, 40u, 52u, 96u, 112u, 116u}) {
        Bytes bad = ChmHeader(5000);
        bad[at] ^= 0x40;
        CRawFileInfo none;
        EXPECT_EQ(analyser.AnalyseBuffer(bad.data(), none), 0) << at;
    }
}

Bytes FontDirectory(int tables, int known)
{
    Bytes h(512, 0);
    Put32(h, 0, 0x00010000, false);
    Put16(h, 4, static_cast<uint32_t>(tables), false);
    for (int i = 0; i < tables; ++i) {
        const size_t at = 12 + 16 * static_cast<size_t>(i);
        PutText(h, at, i < known ? std::string("glyf") : std::string("zz") + char('a' + i % 26) + 'q');
        Put32(h, at + 12, static_cast<uint32_t>(100 + i), false);
    }
    return h;
}

TEST(DbOneShot, FontTableDirectory)
{
    FileTTFAnalyser analyser;
    CRawFileInfo rejected, accepted;
    Bytes four = FontDirectory(10, 4);
    EXPECT_EQ(analyser.AnalyseBuffer(four.data(), rejected), 0);
    Bytes five = FontDirectory(10, 5);
    EXPECT_EQ(analyser.AnalyseBuffer(five.data(), accepted), 1);
    // 16 × 10 + 12 and each length (100 to 109) rounded up to 4.
    long long want = 172;
    for (int i = 0; i < 10; ++i)
        want += (100 + i + 3) & ~3;
    EXPECT_EQ(accepted.m_llSize, want);
    for (int count : {0, 32, 0xFFFF}) {
        Bytes bad = FontDirectory(1, 1);
        Put16(bad, 4, static_cast<uint32_t>(count), false);
        CRawFileInfo none;
        EXPECT_EQ(analyser.AnalyseBuffer(bad.data(), none), 0) << count;
    }
    // 31 tables with the largest lengths: read inside the sector, no wrap.
    Bytes most = FontDirectory(31, 31);
    for (int i = 0; i < 31; ++i)
        Put32(most, 12 + 16 * i + 12, 0xFFFFFFFFu, false);
    CRawFileInfo big;
    EXPECT_EQ(analyser.AnalyseBuffer(most.data(), big), 1);
    EXPECT_EQ(big.m_llSize, 16LL * 31 + 12 + 31 * 0x100000000LL);
}

// ---- keystores ---------------------------------------------------------------------

TEST(DbKeystore, ProbesAndZeroTail)
{
    RawSpeed::PSAFE3Analyser safe;
    RawSpeed::JKSAnalyser jks;
    struct {
        const char* text;
        size_t at;
        bool ok;
    } cases[] = {{"PWS3", 0, true}, {"pws3", 0, true}, {"PwS3", 3, true}, {"PWS4", 0, false}, {"PWS3", 1, false}};
    for (auto c : cases) {
        Bytes s(512, 0x20);
        PutText(s, c.at, c.text);
        CRawFileInfo info;
        EXPECT_EQ(safe.AnalyseBuffer(s.data(), info) == 1, c.ok) << c.text << " at " << c.at;
    }
    Bytes k(512, 0);
    Put32(k, 0, 0xFEEDFEED, false);
    CRawFileInfo info;
    EXPECT_EQ(jks.AnalyseBuffer(k.data(), info), 1);
    EXPECT_EQ(info.m_dwType, 135u);

    // Ends in the first sector past byte 20 whose last 8 bytes are zero.
    Bytes file = NonZero(1500, 4);
    Put32(file, 0, 0xFEEDFEED, false);
    std::unique_ptr<CRawFileInfo> candidate(jks.CreateRawFileInfo());
    const FeedResult r = Feed(*candidate, file, 512);
    EXPECT_EQ(r.llSector, 2);
    EXPECT_GE(r.llSize, 1500);
    EXPECT_LE(r.llSize, 1501);
    EXPECT_EQ(candidate->GetRawFileName(), "0-2_");
    // Without zeros it stops at its maximum, sized there.
    std::unique_ptr<CRawFileInfo> endless(safe.CreateRawFileInfo());
    Bytes noise = NonZero(53 * 1024 * 1024, 5);
    const FeedResult capped = Feed(*endless, noise, 4096);
    EXPECT_GT(capped.llSize, 52428800);
    EXPECT_LE(capped.llSize, 52428800 + 4096);
}

// ---- Outlook Express ----------------------------------------------------------------

TEST(DbDbx, HeaderSizeOrZeroTail)
{
    RawSpeed::DbxAnalyser analyser;
    Bytes file = NonZero(3000, 6);
    const unsigned char dbx[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F,
                                   0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};
    std::copy(dbx, dbx + 16, file.begin());
    Put32(file, 124, 2900, true);
    CRawFileInfo probe;
    ASSERT_EQ(analyser.AnalyseBuffer(file.data(), probe), 1);
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    EXPECT_EQ(Feed(*info, file, 512).llSize, 2900);
    // A stated size above the cap is cut to it.
    Put32(file, 124, 0xF0000000u, true);
    std::unique_ptr<CRawFileInfo> capped(analyser.CreateRawFileInfo());
    EXPECT_EQ(Feed(*capped, file, 512).llSize, 500000000);

    // The F7 89 34 2C kind ends at zeros and is named with a dot.
    const unsigned char other[16] = {0xF7, 0x89, 0x34, 0x2C, 0xF7, 0xF0, 0xEE, 0x6D,
                                     0xAF, 0x22, 0x89, 0xD1, 0x00, 0xFF, 0xF0, 0xB0};
    std::copy(other, other + 16, file.begin());
    std::unique_ptr<CRawFileInfo> tail(analyser.CreateRawFileInfo());
    const FeedResult r = Feed(*tail, file, 512);
    EXPECT_GE(r.llSize, 3000);
    EXPECT_LE(r.llSize, 3001);
    EXPECT_EQ(tail->GetRawFileName(), "0-5.");
    // Evicted, it has nobody to size it.
    tail->WillBeRemove(nullptr, -1);
    EXPECT_EQ(tail->m_pOwner, nullptr);

    Bytes jmf(512, 0);
    PutText(jmf, 0, "JMF6");
    jmf[4] = 3;
    jmf[6] = 1;
    CRawFileInfo j;
    EXPECT_EQ(analyser.AnalyseBuffer(jmf.data(), j), 1);
    jmf[6] = 2;
    EXPECT_EQ(analyser.AnalyseBuffer(jmf.data(), j), 0);
}

// ---- mbox --------------------------------------------------------------------------

TEST(DbMbox, DeviceScanForTheEnd)
{
    FileMboxAnalyser analyser;
    auto mbox = [](const std::string& tail, size_t bodyLines) {
        std::string text = "From a@b.c Mon Jan  5 10:00:00 2026\nSubject: x\n\n";
        for (size_t i = 0; i < bodyLines; ++i)
            text += "some line of text " + std::to_string(i) + "\n";
        text += tail;
        return Bytes(text.begin(), text.end());
    };
    for (unsigned int ss : {512u, 4096u}) {
        Bytes dash = mbox("--b1--\n\n", 100);
        EXPECT_EQ(DeviceSize(analyser, dash, ss), static_cast<long long>(dash.size())) << ss;
        // Two more line feeds after the pattern belong to the file.
        Bytes more = mbox("--b1--\n\n\n\n", 100);
        EXPECT_EQ(DeviceSize(analyser, more, ss), static_cast<long long>(more.size())) << ss;
        Bytes address = mbox("Reply to <x@y.com>\n\n", 70);
        EXPECT_EQ(DeviceSize(analyser, address, ss), static_cast<long long>(address.size())) << ss;
    }
    // No end pattern: the scan stops where the device can no longer be read
    // (the last window reads zeros past its end; the searcher cuts every
    // size at the device's end).
    Bytes none = mbox("bye\n", 30);
    const long long got = DeviceSize(analyser, none, 512, nullptr, 10);
    EXPECT_EQ(got % 512, 0);
    EXPECT_GE(got, static_cast<long long>(none.size()));
    EXPECT_LE(got, 128LL * 512);
    CRawFileInfo probe;
    EXPECT_EQ(analyser.AnalyseBuffer(none.data(), probe), 1);
    none[4] = '_';
    EXPECT_EQ(analyser.AnalyseBuffer(none.data(), probe), 0);
}

// ---- e-books -----------------------------------------------------------------------

// A book of the given record sizes; the last record holds the end mark
// unless told otherwise.
Bytes Book(const std::vector<uint32_t>& sizes, bool endMark = true)
{
    const size_t count = sizes.size();
    Bytes book(78 + 8 * count + 2, 0);
    PutText(book, 0, "crafted");
    PutText(book, 60, "BOOKMOBI");
    Put16(book, 76, static_cast<uint32_t>(count), false);
    uint32_t at = static_cast<uint32_t>(book.size());
    for (size_t i = 0; i < count; ++i) {
        Put32(book, 78 + 8 * i, at, false);
        at += sizes[i];
    }
    for (size_t i = 0; i + 1 < count; ++i)
        Append(book, NonZero(sizes[i], static_cast<unsigned>(30 + i)));
    Bytes last = NonZero(sizes.back(), 7);
    if (endMark && last.size() >= 4)
        last = {0xE9, 0x8E, 0x0D, 0x0A};
    Append(book, last);
    return book;
}

TEST(DbMobi, EndRecordOrZeroTail)
{
    RawSpeed::MOBIAnalyser analyser;
    for (unsigned int ss : {512u, 4096u}) {
        Bytes book = Book({3000, 9000, 100, 4});
        CRawFileInfo probe;
        ASSERT_EQ(analyser.AnalyseBuffer(book.data(), probe), 1);
        Bytes planted = book;
        Append(planted, NonZero(8192, 9));  // what follows does not matter
        std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
        EXPECT_EQ(Feed(*info, planted, ss).llSize, static_cast<long long>(book.size())) << ss;

        // No end mark where the list says: the file ends at zeros instead.
        Bytes noMark = Book({3000, 9000, 100, 40}, false);
        std::unique_ptr<CRawFileInfo> tail(analyser.CreateRawFileInfo());
        const FeedResult r = Feed(*tail, noMark, ss);
        EXPECT_GE(r.llSize, static_cast<long long>(noMark.size())) << ss;
        EXPECT_LE(r.llSize, static_cast<long long>(noMark.size()) + 1) << ss;
    }
    // A list entry pointing behind the place already read, and one far past
    // the cap: no endless wait, no read outside memory.
    Bytes back = Book({3000, 9000, 100, 4});
    Put32(back, 78 + 8 * 3, 10, false);
    std::unique_ptr<CRawFileInfo> b(analyser.CreateRawFileInfo());
    EXPECT_GT(Feed(*b, back, 512).llSector, 0);
    Bytes far = Book({3000, 9000, 100, 4});
    Put32(far, 78 + 8 * 3, 0xFFFFFFF0u, false);
    std::unique_ptr<CRawFileInfo> f(analyser.CreateRawFileInfo());
    EXPECT_EQ(Feed(*f, far, 512).llSector, -1);
    // Case does not matter in the probe; the legacy analyser sizes from the
    // device by the last record's offset.
    Bytes lower = Book({600, 4});
    PutText(lower, 60, "bookmobi");
    CRawFileInfo probe;
    EXPECT_EQ(analyser.AnalyseBuffer(lower.data(), probe), 1);
    RawSpeed::FileMOBIAnalyser legacy;
    EXPECT_EQ(DeviceSize(legacy, lower, 512), static_cast<long long>(lower.size()));
}

}  // namespace
