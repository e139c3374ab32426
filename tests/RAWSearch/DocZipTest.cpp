// ZIP archives and the documents built on them: real archives and office
// documents carved through the searcher and sized from the device, the
// entry-name rules and damaged records on crafted bytes.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DocFixtures.h"
#include "SearchHarness.h"
#include "TestSupport.h"
#include "ZipAnalyser.h"

namespace {

struct Entry {
    std::string name;
    std::string data;
    bool deflate = false;
    unsigned short flags = 0;
};

DocBytes Deflate(const std::string& data)
{
    z_stream s {};
    deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    DocBytes out(data.size() + 256);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// A whole archive: local headers with their data, central directory, end
// record. Entries flagged with a data descriptor carry zero sizes.
DocBytes MakeZip(const std::vector<Entry>& entries)
{
    DocBytes zip, central;
    for (const Entry& e : entries) {
        const DocBytes data = e.deflate ? Deflate(e.data) : DocBytes(e.data.begin(), e.data.end());
        const bool descriptor = e.flags & 8;
        const size_t at = zip.size();
        DocBytes h(30, 0);
        DocPutLE32(h, 0, 0x04034B50);
        DocPutLE16(h, 4, 20);
        DocPutLE16(h, 6, e.flags);
        DocPutLE16(h, 8, e.deflate ? 8 : 0);
        DocPutLE32(h, 18, descriptor ? 0 : static_cast<uint32_t>(data.size()));
        DocPutLE32(h, 22, descriptor ? 0 : static_cast<uint32_t>(e.data.size()));
        DocPutLE16(h, 26, static_cast<uint16_t>(e.name.size()));
        zip.insert(zip.end(), h.begin(), h.end());
        zip.insert(zip.end(), e.name.begin(), e.name.end());
        zip.insert(zip.end(), data.begin(), data.end());
        if (descriptor) {
            DocBytes d(16, 0);
            DocPutLE32(d, 0, 0x08074B50);
            DocPutLE32(d, 8, static_cast<uint32_t>(data.size()));
            DocPutLE32(d, 12, static_cast<uint32_t>(e.data.size()));
            zip.insert(zip.end(), d.begin(), d.end());
        }
        DocBytes c(46, 0);
        DocPutLE32(c, 0, 0x02014B50);
        DocPutLE16(c, 8, e.flags);
        DocPutLE16(c, 10, e.deflate ? 8 : 0);
        DocPutLE32(c, 20, static_cast<uint32_t>(data.size()));
        DocPutLE32(c, 24, static_cast<uint32_t>(e.data.size()));
        DocPutLE16(c, 28, static_cast<uint16_t>(e.name.size()));
        DocPutLE32(c, 42, static_cast<uint32_t>(at));
        central.insert(central.end(), c.begin(), c.end());
        central.insert(central.end(), e.name.begin(), e.name.end());
    }
    const size_t cdAt = zip.size();
    zip.insert(zip.end(), central.begin(), central.end());
    DocBytes end(22, 0);
    DocPutLE32(end, 0, 0x06054B50);
    DocPutLE16(end, 8, static_cast<uint16_t>(entries.size()));
    DocPutLE16(end, 10, static_cast<uint16_t>(entries.size()));
    DocPutLE32(end, 12, static_cast<uint32_t>(central.size()));
    DocPutLE32(end, 16, static_cast<uint32_t>(cdAt));
    zip.insert(zip.end(), end.begin(), end.end());
    return zip;
}

// The same archive with Zip64 end records: the end record's directory
// fields say 0xFFFFFFFF and the Zip64 record before it holds them.
DocBytes MakeZip64(const std::vector<Entry>& entries)
{
    DocBytes zip = MakeZip(entries);
    const size_t endAt = zip.size() - 22;
    const uint32_t cdSize = zip[endAt + 12] | zip[endAt + 13] << 8 | zip[endAt + 14] << 16 | zip[endAt + 15] << 24;
    const uint32_t cdAt = zip[endAt + 16] | zip[endAt + 17] << 8 | zip[endAt + 18] << 16 | zip[endAt + 19] << 24;
    zip.resize(endAt);
    DocBytes record(56, 0);
    DocPutLE32(record, 0, 0x06064B50);
    DocPutLE32(record, 4, 44);
    DocPutLE16(record, 12, 45);
    DocPutLE16(record, 14, 45);
    DocPutLE32(record, 24, static_cast<uint32_t>(entries.size()));
    DocPutLE32(record, 32, static_cast<uint32_t>(entries.size()));
    DocPutLE32(record, 40, cdSize);
    DocPutLE32(record, 48, cdAt);
    DocBytes locator(20, 0);
    DocPutLE32(locator, 0, 0x07064B50);
    DocPutLE32(locator, 8, static_cast<uint32_t>(zip.size()));
    DocPutLE32(locator, 16, 1);
    DocBytes end(22, 0);
    DocPutLE32(end, 0, 0x06054B50);
    DocPutLE16(end, 8, 0xFFFF);
    DocPutLE16(end, 10, 0xFFFF);
    DocPutLE32(end, 12, 0xFFFFFFFF);
    DocPutLE32(end, 16, 0xFFFFFFFF);
    for (const DocBytes* part : {&record, &locator, &end})
        zip.insert(zip.end(), part->begin(), part->end());
    return zip;
}

constexpr long long kStart = 2;

// Carves file placed at kStart, followed by filler bytes (0 for zeros).
std::vector<CarvedFile> Carve(const DocBytes& file, unsigned int ss, unsigned char filler = 0, long long extra = 40)
{
    const long long sectors = static_cast<long long>(file.size() / ss) + extra;
    SearchHarness h(sectors, ss, GetRawAnalyserRows());
    for (long long s = 0; s < sectors && filler; ++s)
        std::memset(h.Device().Sector(s), filler, ss);
    h.Device().Put(kStart * ss, file);
    h.Run();
    std::vector<CarvedFile> out;
    for (const CarvedFile& f : h.Files())
        if (f.start == kStart * (ss / 512) || f.start == kStart)
            out.push_back(f);
    return out;
}

std::string Describe(const std::vector<CarvedFile>& files)
{
    std::string s;
    for (const CarvedFile& f : files)
        s += f.folder + "/" + f.name + " " + std::to_string(f.size) + "; ";
    return s;
}

}  // namespace

TEST(rawZip, RealArchivesAndDocumentsEndExactlyWithTheirKind)
{
    REQUIRE_DOC_FIXTURES();
    const struct {
        const char* file;
        const char* folder;
        const char* name;  // null: named by sector range
    } cases[] = {
        {"office/r.docx", "Bob Editor", "Bob Editor_Quarterly Report_2021-03-04 05-06-07000.DOCX"},
        {"office/r.xlsx", "Dave Ledger", "Dave Ledger_Budget Sheet_2022-07-08 09-10-11000.XLSX"},
        {"office/r.pptx", "Frank Slides", "Frank Slides_Launch Deck_2023-10-11 12-13-14000.PPTX"},
        // Sizes in data descriptors: the end is found at the end record.
        {"office/t.docx", "docx", nullptr},
        {"office/t.xlsx", "xlsx", nullptr},
        {"office/t.pptx", "pptx", nullptr},
        {"office/t.odt", "odt", nullptr},
        {"office/t.ods", "ods", nullptr},
        {"office/t.odp", "odp", nullptr},
        {"zip/stored.zip", "zip", nullptr},
        {"zip/deflated.zip", "zip", nullptr},
        {"zip/stream.zip", "zip", nullptr},
        {"zip/app.ipa", "ipa", nullptr},
    };
    for (const auto& c : cases) {
        const DocBytes file = DocFixture(c.file);
        ASSERT_FALSE(file.empty()) << c.file;
        for (unsigned int ss : {512u, 4096u}) {
            SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(ss));
            const auto files = Carve(file, ss);
            ASSERT_EQ(files.size(), 1u) << Describe(files);
            EXPECT_EQ(files[0].folder, c.folder);
            EXPECT_EQ(files[0].size, static_cast<long long>(file.size()));
            if (c.name) {
                EXPECT_EQ(files[0].name, c.name);
            }
        }
    }
}

// An office package whose first entry is "_rels/.rels" (then docProps/),
// all sizes in data descriptors: typed from its entries and ended at its end
// record wherever it falls against sector and block boundaries.
TEST(rawZip, AnOfficePackageStartingWithItsRelationshipsIsAPptxOfItsSize)
{
    const std::string bytes = ReadFileBytes(std::string(VANTREL_SOURCE_DIR) + "/tests/data/raw/first-entry-rels.pptx");
    ASSERT_FALSE(bytes.empty());
    const DocBytes file(bytes.begin(), bytes.end());
    for (unsigned int ss : {512u, 4096u}) {
        for (long long step = 0; step < 4096 / 512 * 2; ++step) {
            // 512: every offset modulo 4096; 4096: every place in a block.
            const long long start = ss == 512 ? 8 + step : 2 + step;
            SCOPED_TRACE("at " + std::to_string(ss) + " sector " + std::to_string(start));
            const long long sectors = start + static_cast<long long>(file.size() / ss) + 40;
            SearchHarness h(sectors, ss, GetRawAnalyserRows());
            h.Device().Put(start * ss, file);
            h.Run();
            const auto files = h.Files();
            ASSERT_EQ(files.size(), 1u) << Describe(files);
            EXPECT_TRUE(files[0].start == start || files[0].start == start * (ss / 512)) << files[0].start;
            EXPECT_EQ(files[0].folder, "pptx");
            EXPECT_EQ(files[0].size, static_cast<long long>(file.size()));
        }
    }
}

TEST(rawZip, ForeignBytesAfterAWalkedArchiveAreNotTaken)
{
    REQUIRE_DOC_FIXTURES();
    // Walked archives end at their last record, archives whose sizes are in
    // data descriptors at the end record whose directory agrees.
    for (const char* name : {"office/r.docx", "zip/stored.zip", "zip/app.ipa", "office/t.docx", "office/t.pptx",
                             "office/t.odt", "zip/stream.zip"}) {
        const DocBytes file = DocFixture(name);
        for (unsigned int ss : {512u, 4096u}) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(ss));
            const auto files = Carve(file, ss, 0x5A);
            ASSERT_EQ(files.size(), 1u) << Describe(files);
            EXPECT_EQ(files[0].size, static_cast<long long>(file.size()));
        }
    }
    // One entry and no directory, then foreign bytes: the entry's end.
    DocBytes one = MakeZip({{"a.txt", std::string(3000, 'a')}});
    one.resize(30 + 5 + 3000);
    const auto files = Carve(one, 512, 0x5A);
    ASSERT_EQ(files.size(), 1u) << Describe(files);
    EXPECT_EQ(files[0].size, 3035);
}

TEST(rawZip, TheDeviceSizerWalksTheRecords)
{
    REQUIRE_DOC_FIXTURES();
    const struct {
        const char* file;
        unsigned int type;
    } cases[] = {{"office/r.docx", 73},  {"office/t.docx", 73}, {"office/t.odt", 123}, {"zip/stored.zip", 72},
                 {"zip/stream.zip", 72}, {"zip/app.ipa", 118}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const DocBytes file = DocFixture(c.file);
        for (unsigned char filler : {0, 0x5A}) {
            ByteDevice device(static_cast<long long>(file.size() / 512) + 64, 512);
            std::memset(device.Bytes().data(), filler, device.Bytes().size());
            device.Put(5 * 512, file);
            FileZIPAnalyser analyser;
            CRawFileInfo info;
            info.m_llStartSector = 5;
            ASSERT_EQ(analyser.GetRawFileSize(info, &device), 1);
            EXPECT_EQ(info.m_dwType, c.type);
            // Sizes in data descriptors: the end record whose directory
            // agrees with the start ends it, whatever follows.
            EXPECT_EQ(info.m_llSize, static_cast<long long>(file.size())) << int(filler);
        }
    }
}

TEST(rawZip, EntryNamesTellTheKind)
{
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        unsigned int type;
    };
    const std::string odf = "application/vnd.oasis.opendocument.";
    const Case cases[] = {
        {"docx", {{"[Content_Types].xml", "<x/>"}, {"word/_rels/document.xml.rels", "r"}}, 73},
        {"docx by theme", {{"[Content_Types].xml", "<x/>"}, {"word/theme/theme1.xml", "t"}}, 73},
        {"xlsx", {{"[Content_Types].xml", "<x/>"}, {"xl/_rels/workbook.xml.rels", "r"}}, 74},
        {"pptx", {{"_rels/.rels", "<x/>"}, {"ppt/_rels/presentation.xml.rels", "r"}}, 75},
        {"odt", {{"mimetype", odf + "text"}}, 123},
        {"ods", {{"mimetype", odf + "spreadsheet"}}, 124},
        {"odp", {{"mimetype", odf + "presentation"}}, 125},
        {"epub", {{"mimetype", "application/epub+zip"}}, 114},
        {"epub chapter", {{"x.txt", "x"}, {"OEBPS/Text/chapter1.xhtml", "c"}}, 114},
        {"tax: a 36-byte name with four hyphens",
         {{"x.txt", "x"}, {"0123abcd-0123-4567-89ab-0123456789ab", "t"}},
         145},
        {"36 bytes, three hyphens", {{"x.txt", "x"}, {"0123abcd-0123-4567-89ab_0123456789ab", "t"}}, 72},
        {"keynote", {{"x.txt", "x"}, {"Index/Slide1.iwa", "s"}}, 111},
        {"numbers", {{"x.txt", "x"}, {"Data/numbers/a", "s"}}, 112},
        {"pages by stylesheet", {{"x.txt", "x"}, {"Index/DocumentStylesheet.iwa", "..layout-style-1.."}}, 110},
        {"numbers by stylesheet", {{"x.txt", "x"}, {"Index/DocumentStylesheet.iwa", "plain"}}, 112},
        {"pages by history", {{"x.txt", "x"}, {"buildVersionHistory.plist", "<string>pages-trunk-1</string>"}}, 110},
        {"plain", {{"a.txt", "a"}, {"b/c.txt", "c"}}, 72},
        // Office names mean nothing without the office first entry.
        {"no office start", {{"a.txt", "a"}, {"word/_rels/document.xml.rels", "r"}}, 72},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DocBytes zip = MakeZip(c.entries);
        const auto files = Carve(zip, 512);
        ASSERT_EQ(files.size(), 1u) << Describe(files);
        EXPECT_EQ(files[0].size, static_cast<long long>(zip.size()));
        // The folder is the extension in lower case; check by type through
        // the record walk on the same bytes.
        unsigned int type = 72;
        FileZIPAnalyser::ZIPRawFileInfo info;
        bool office = false, cdr = false;
        FileZIPAnalyser::JudgeMaybeOfficeType(zip.data(), static_cast<int>(zip.size()), office, cdr);
        info.m_bOffice = office;
        size_t pos = 0;
        while (pos < zip.size()) {
            unsigned int length = 0;
            int core = 0;
            tagZipLocalFileHeader header;
            if (info.CheckZIPBlock(zip.data() + pos, zip.size() - pos, length, core, header) != 0)
                break;
            pos += length;
        }
        type = info.m_dwType;
        EXPECT_EQ(type, c.type);
    }
}

TEST(rawZip, TheFirstEntryTellsPackagesAndDrawings)
{
    const struct {
        std::vector<Entry> entries;
        const char* folder;
    } cases[] = {
        // A Java archive, an Android package and an iOS application are told
        // by their entries; a first entry named like a package's is not
        // enough.
        {{{"META-INF/MANIFEST.MF", "m"}, {"a.class", "c"}}, "jar"},
        {{{"META-INF/", ""}, {"META-INF/MANIFEST.MF", "m"}, {"AndroidManifest.xml", "a"}, {"classes.dex", "d"}},
         "apk"},
        {{{"Payload/", ""}, {"Payload/Demo.app/", ""}, {"Payload/Demo.app/Info.plist", "i"}}, "ipa"},
        {{{"payload/x", "p"}}, "zip"},
        {{{"META-INF/container.xml", "x"}, {"book.txt", "b"}}, "zip"},
        {{{"content/riffData.cdr", "RIFF"}, {"content/root.dat", "r"}}, "cdr"},
        {{{"[Content_Types].xml", "<x/>"}, {"Accounts/Outlook/", ""}}, "olm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entries[0].name);
        const DocBytes zip = MakeZip(c.entries);
        const auto files = Carve(zip, 512);
        ASSERT_EQ(files.size(), 1u) << Describe(files);
        EXPECT_EQ(files[0].folder, c.folder);
        EXPECT_EQ(files[0].size, static_cast<long long>(zip.size()));
    }
}

TEST(rawZip, DamagedRecordsEndTheWalkSafely)
{
    FileZIPAnalyser::ZIPRawFileInfo info;
    unsigned int length = 0;
    int core = 0;
    tagZipLocalFileHeader header;
    const DocBytes good = MakeZip({{"a.txt", "hello"}});
    // Each record lies at the end of an exact-size buffer.
    const auto check = [&](DocBytes bytes, size_t available) {
        std::vector<unsigned char> exact(bytes.begin(), bytes.begin() + std::min(available, bytes.size()));
        FileZIPAnalyser::ZIPRawFileInfo fresh;
        return fresh.CheckZIPBlock(exact.data(), exact.size(), length, core, header);
    };
    EXPECT_EQ(check(good, good.size()), 0);
    // The fixed part or the name not yet in memory: wait, not fail.
    EXPECT_EQ(check(good, 20), 2);
    EXPECT_EQ(check(good, 32), 2);
    // A method above 10, a name above 1,024 bytes, a Zip64 size without
    // its extra field, a foreign signature.
    DocBytes bad = good;
    DocPutLE16(bad, 8, 11);
    EXPECT_EQ(check(bad, bad.size()), 1);
    bad = good;
    DocPutLE16(bad, 26, 2000);
    EXPECT_EQ(check(bad, bad.size()), 1);
    bad = good;
    DocPutLE32(bad, 18, 0xFFFFFFFF);
    EXPECT_EQ(check(bad, bad.size()), 1);
    bad = good;
    bad[2] = 9;
    EXPECT_EQ(check(bad, bad.size()), 1);
    (void)info;

    // Sizes claiming 4 GiB: the candidate waits, then is sized from the
    // device, which stops at the image's end; nothing crashes.
    DocBytes huge = good;
    DocPutLE32(huge, 18, 0xFFFFFFF0);
    const auto files = Carve(huge, 512, 0x5A);
    for (const CarvedFile& f : files)
        EXPECT_LE(f.size, 64LL * 512);

    // The whole-file sizer refuses what is not a local header.
    ByteDevice device(64, 512);
    device.Put(0, DocBytes{'P', 'K', 3, 4, 0, 0, 0, 0, 11});
    FileZIPAnalyser analyser;
    CRawFileInfo refused;
    EXPECT_EQ(analyser.GetRawFileSize(refused, &device), 0);
}

TEST(rawZip, CorePropertiesNameTheDocumentOrAreIgnoredWhenBroken)
{
    const std::string core =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><cp:coreProperties xmlns:cp=\"c\" xmlns:dc=\"d\" "
        "xmlns:dcterms=\"t\"><dc:title>A rather long title of a report</dc:title><dc:creator>Ann</dc:creator>"
        "<cp:lastModifiedBy>Zo\xC3\xAB</cp:lastModifiedBy><dcterms:created>2020-06-15T10:20:30Z</dcterms:created>"
        "<dcterms:modified>2021-01-02T03:04:05Z</dcterms:modified></cp:coreProperties>";
    struct Case {
        const char* what;
        Entry coreEntry;
        const char* name;  // null: by position
        const char* folder;
    };
    const Case cases[] = {
        {"deflated", {"docProps/core.xml", core, true}, "Zo\xC3\xAB_A rather long title of a_2021-01-02 03-04-05000.DOCX",
         "Zo\xC3\xAB"},
        {"stored", {"docProps/core.xml", core, false}, "Zo\xC3\xAB_A rather long title of a_2021-01-02 03-04-05000.DOCX",
         "Zo\xC3\xAB"},
        {"not XML", {"docProps/core.xml", "just text", true}, nullptr, "docx"},
        {"too large", {"docProps/core.xml", core + std::string(12000, ' '), true}, nullptr, "docx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DocBytes zip = MakeZip({{"[Content_Types].xml", "<Types/>"},
                                      {"word/_rels/document.xml.rels", "<r/>"},
                                      c.coreEntry,
                                      {"word/document.xml", std::string(2000, 'w'), true}});
        const auto files = Carve(zip, 512);
        ASSERT_EQ(files.size(), 1u) << Describe(files);
        EXPECT_EQ(files[0].folder, c.folder);
        EXPECT_EQ(files[0].size, static_cast<long long>(zip.size()));
        if (c.name) {
            EXPECT_EQ(files[0].name, c.name);
        } else {
            EXPECT_EQ(files[0].name.rfind("2-", 0), 0u) << files[0].name;
        }
    }
    // A deflated stream cut short inflates badly: named by position.
    DocBytes zip = MakeZip({{"[Content_Types].xml", "<Types/>"},
                            {"word/_rels/document.xml.rels", "<r/>"},
                            {"docProps/core.xml", core, true}});
    const size_t coreData = zip.size() - 22 - 3 * 46 - 19 - 28 - 17;  // somewhere in the core entry's data
    for (size_t i = 0; i < 20; ++i)
        zip[coreData - 200 + i] = 0xFF;
    const auto files = Carve(zip, 512);
    ASSERT_EQ(files.size(), 1u) << Describe(files);
    EXPECT_EQ(files[0].size, static_cast<long long>(zip.size()));
}

TEST(rawZip, APushedOutArchiveIsNamedAndLeftToTheDeviceSizer)
{
    const DocBytes zip = MakeZip({{"a.txt", std::string(5000, 'a')}, {"b.txt", "b"}});
    SearchHarness h(64, 512, GetRawAnalyserRows());
    h.Device().Put(kStart * 512, zip);
    FileZIPAnalyser analyser;
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    info->m_llStartSector = kStart;
    info->m_pOwner = &analyser;
    CRawFileInfo::SearchContext context;
    context.llBlockEnd = 64;
    context.pBlockBase = h.Device().Sector(0);
    context.llBaseSector = 0;
    context.dwSectorSize = 512;
    // Fed its first two sectors, then pushed out.
    for (long long s = kStart; s < kStart + 2; ++s) {
        context.SetZeroCounts(h.Device().Sector(s), 512);
        EXPECT_EQ(info->CalcRawSize(h.Device().Sector(s), 512, s, context), 2);
    }
    info->WillBeRemove(h.Device().Sector(kStart + 2), kStart + 2);
    EXPECT_EQ(info->m_llSize, 0);
    EXPECT_EQ(info->m_pOwner, &analyser);
    EXPECT_EQ(info->m_strName, "2-4_");
    EXPECT_TRUE(info->m_strTagValue.empty());
    ASSERT_EQ(analyser.GetRawFileSize(*info, &h.Device()), 1);
    EXPECT_EQ(info->m_llSize, static_cast<long long>(zip.size()));
}

// A Zip64 archive ends with its end record whatever follows it, walked
// record by record or, with sizes in data descriptors, found by the Zip64
// records that agree with its start.
TEST(rawZip, Zip64ArchivesEndAtTheirEndRecord)
{
    std::string text;
    for (int i = 0; i < 900; ++i)
        text += "row " + std::to_string(i * 37 % 1009) + "\n";
    const DocBytes walked = MakeZip64({{"a.txt", text, true}, {"b.txt", std::string(5000, 'b')}});
    const DocBytes described = MakeZip64({{"a.txt", text, true, 8}, {"b.txt", text + "x", true, 8}});
    DocBytes random(20000);
    for (size_t i = 0; i < random.size(); ++i)
        random[i] = static_cast<unsigned char>(1 + (i * 2654435761u >> 11) % 255);
    for (const DocBytes* file : {&walked, &described}) {
        // Old bytes in the slack of its last sector too, to its end.
        DocBytes slack = *file;
        slack.insert(slack.end(), random.begin(), random.begin() + static_cast<long>(4096 - file->size() % 4096));
        for (const DocBytes& after : {DocBytes(8192, 0), random, MakeZip({{"c.txt", text}})}) {
            for (unsigned int ss : {512u, 4096u}) {
                SCOPED_TRACE(std::string(file == &walked ? "walked" : "descriptors") + " at " + std::to_string(ss) +
                             ", then " + std::to_string(after.size()) + " bytes");
                const FollowedCarve carved = CarveFollowed(slack, after, ss, GetRawAnalyserRows());
                EXPECT_EQ(carved.file.size, static_cast<long long>(file->size())) << Describe(carved.all);
                EXPECT_EQ(carved.file.folder, "zip");
            }
        }
    }
}
