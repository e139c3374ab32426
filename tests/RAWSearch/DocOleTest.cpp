// Compound documents: real Word, Excel and PowerPoint files carved through
// the searcher and sized from the device, the kind told from crafted
// directories, the summary-information reader on crafted and damaged sets.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "DocFixtures.h"
#include "OleAnalyser.h"
#include "SearchHarness.h"

namespace {

constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFatMark = 0xFFFFFFFD;

// A compound-file header with 512-byte sectors, no FAT sector listed yet.
DocBytes OleHeader(uint32_t directorySector, uint32_t firstDifat = kEnd)
{
    DocBytes h(512, 0);
    const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(h.data(), sig, 8);
    DocPutLE16(h, 0x18, 0x3E);
    DocPutLE16(h, 0x1A, 3);
    DocPutLE16(h, 0x1C, 0xFFFE);
    DocPutLE16(h, 0x1E, 9);
    DocPutLE16(h, 0x20, 6);
    DocPutLE32(h, 0x30, directorySector);
    DocPutLE32(h, 0x44, firstDifat);
    for (size_t w = 19; w < 128; ++w)
        DocPutLE32(h, 4 * w, kFree);
    return h;
}

// 128-byte directory entries with these names; the root's class id.
DocBytes Directory(const std::vector<std::string>& names, unsigned char rootClass = 0)
{
    DocBytes d(((names.size() + 7) / 8) * 1024, 0);
    for (size_t k = 0; k < names.size(); ++k) {
        DocPutUtf16(d, 128 * k, names[k]);
        DocPutLE16(d, 128 * k + 0x40, static_cast<uint16_t>(2 * (names[k].size() + 1)));
    }
    for (size_t i = 0; i < 16; ++i)
        d[0x50 + i] = rootClass;
    return d;
}

// One property value of a summary set.
struct Prop {
    uint32_t id;
    DocBytes value;
};

DocBytes Value8(const std::string& text)
{
    DocBytes v(8 + ((text.size() + 1 + 3) & ~size_t{3}), 0);
    DocPutLE32(v, 0, 30);
    DocPutLE32(v, 4, static_cast<uint32_t>(text.size() + 1));
    std::memcpy(v.data() + 8, text.data(), text.size());
    return v;
}

DocBytes Value16(const std::string& ascii)
{
    DocBytes v(8 + ((2 * (ascii.size() + 1) + 3) & ~size_t{3}), 0);
    DocPutLE32(v, 0, 31);
    DocPutLE32(v, 4, static_cast<uint32_t>(ascii.size() + 1));
    DocPutUtf16(v, 8, ascii);
    return v;
}

DocBytes ValueTime(uint64_t fileTime)
{
    DocBytes v(12, 0);
    DocPutLE32(v, 0, 64);
    DocPutLE64(v, 4, fileTime);
    return v;
}

// A summary-information property set in a 512-byte sector.
DocBytes SummarySet(const std::vector<Prop>& props, size_t sectorBytes = 512)
{
    DocBytes s(sectorBytes, 0);
    DocPutLE16(s, 0, 0xFFFE);
    DocPutLE32(s, 24, 1);
    const unsigned char fmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                     0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    std::memcpy(s.data() + 28, fmtid, 16);
    DocPutLE32(s, 44, 48);
    const size_t section = 48;
    DocPutLE32(s, section + 4, static_cast<uint32_t>(props.size()));
    size_t valueAt = 8 + 8 * props.size();
    for (size_t i = 0; i < props.size(); ++i) {
        DocPutLE32(s, section + 8 + 8 * i, props[i].id);
        DocPutLE32(s, section + 12 + 8 * i, static_cast<uint32_t>(valueAt));
        if (section + valueAt + props[i].value.size() <= s.size())
            std::memcpy(s.data() + section + valueAt, props[i].value.data(), props[i].value.size());
        valueAt += props[i].value.size();
    }
    DocPutLE32(s, section, static_cast<uint32_t>(valueAt));
    return s;
}

// FILETIME of a UTC date and time.
uint64_t FileTimeOf(int y, int mo, int d, int h, int mi, int s)
{
    struct tm t {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return (static_cast<uint64_t>(timegm(&t)) + 11644473600ULL) * 10000000ULL;
}

// A whole small compound file: header, FAT (sector 0), sector 1 (the
// summary set or filler), directory (sectors 2 and 3).
DocBytes SmallOle(const std::vector<std::string>& names, const DocBytes& summary = {})
{
    DocBytes f = OleHeader(2);
    DocPutLE32(f, 0x2C, 1);
    DocPutLE32(f, 0x4C, 0);
    DocBytes fat(512, 0xFF);
    DocPutLE32(fat, 0, kFatMark);
    DocPutLE32(fat, 4, kEnd);
    DocPutLE32(fat, 8, 3);
    DocPutLE32(fat, 12, kEnd);
    f.insert(f.end(), fat.begin(), fat.end());
    DocBytes one = summary.empty() ? DocBytes(512, 'x') : summary;
    one.resize(512);
    f.insert(f.end(), one.begin(), one.end());
    DocBytes dir = Directory(names);
    f.insert(f.end(), dir.begin(), dir.end());
    return f;
}

constexpr long long kStart = 2;

std::vector<CarvedFile> Carve(const DocBytes& file, unsigned int sectorSize, long long sectors)
{
    SearchHarness h(sectors, sectorSize, GetRawAnalyserRows());
    h.Device().Put(kStart * sectorSize, file);
    h.Run();
    return h.Files();
}

const CarvedFile* InFolder(const std::vector<CarvedFile>& files, const std::string& folder)
{
    for (const CarvedFile& f : files)
        if (f.folder == folder)
            return &f;
    for (const CarvedFile& f : files)
        std::printf("  carved: %s / %s %lld at %lld\n", f.folder.c_str(), f.name.c_str(), f.size, f.start);
    return nullptr;
}

}  // namespace

TEST(rawOle, RealOfficeFilesAreCarvedWholeWithTheirKind)
{
    REQUIRE_DOC_FIXTURES();
    // The presentation's summary set starts a sector, so it is named and
    // filed under its last author; the others are named by sector range.
    const struct {
        const char* file;
        const char* folder;
        const char* name;
    } cases[] = {{"office/t.doc", "doc", nullptr},
                 {"office/t.xls", "xls", nullptr},
                 {"office/t.ppt", "Frank Slides", "Frank Slides_Launch Deck_2023-10-11-12-13-14000.PPT"}};
    for (const auto& c : cases) {
        const DocBytes doc = DocFixture(c.file);
        ASSERT_FALSE(doc.empty()) << c.file;
        for (unsigned int ss : {512u, 4096u}) {
            SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(ss));
            // Foreign bytes after the file: the size must come from the FAT.
            const long long sectors = static_cast<long long>(doc.size() / ss) + 40;
            SearchHarness h(sectors, ss, GetRawAnalyserRows());
            h.Device().Put(kStart * ss, doc);
            for (long long s = kStart + static_cast<long long>((doc.size() + ss - 1) / ss); s < sectors; ++s)
                std::memset(h.Device().Sector(s), 0x5A, ss);
            h.Run();
            const std::vector<CarvedFile> files = h.Files();
            const CarvedFile* f = InFolder(files, c.folder);
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(f->size, static_cast<long long>(doc.size()));
            std::string ext = c.folder;
            for (char& ch : ext)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            const std::string stem = std::to_string(kStart) + "-" +
                                     std::to_string(kStart + static_cast<long long>(doc.size()) / ss);
            EXPECT_EQ(f->name, c.name ? std::string(c.name) : stem + "000." + ext);
        }
    }
}

TEST(rawOle, TheDeviceSizerReadsFatAndDirectory)
{
    REQUIRE_DOC_FIXTURES();
    const struct {
        const char* file;
        unsigned int type;
    } cases[] = {{"office/t.doc", 23}, {"office/t.xls", 71}, {"office/t.ppt", 52}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const DocBytes doc = DocFixture(c.file);
        ByteDevice device(static_cast<long long>(doc.size() / 512) + 16, 512);
        device.Put(3 * 512, doc);
        FileOLEAnalyser analyser;
        CRawFileInfo info;
        info.m_llStartSector = 3;
        ASSERT_EQ(analyser.GetRawFileSize(info, &device), 1);
        EXPECT_EQ(info.m_llSize, static_cast<long long>(doc.size()));
        EXPECT_EQ(info.m_dwType, c.type);
    }
}

TEST(rawOle, DamagedHeadersAndChainsAreRefusedOrBounded)
{
    FileOLEAnalyser analyser;
    const auto size = [&](const DocBytes& file, long long deviceSectors = 64) {
        ByteDevice device(deviceSectors, 512);
        device.Put(0, file);
        CRawFileInfo info;
        const int rc = analyser.GetRawFileSize(info, &device);
        return std::make_pair(rc, info.m_llSize);
    };
    const DocBytes good = SmallOle({"Root Entry", "WordDocument"});
    EXPECT_EQ(size(good), std::make_pair(1, 2560LL));

    // No FAT sector at all: nothing to size from.
    DocBytes noFat = good;
    DocPutLE32(noFat, 0x4C, kFree);
    EXPECT_EQ(size(noFat).first, 0);

    // A broken signature is not a compound file.
    DocBytes badSig = good;
    badSig[6] = 0;
    EXPECT_EQ(size(badSig).first, 0);

    // A DIFAT chain: its sector (4) lists FAT sector 5 and ends; a second
    // chain loops back onto itself and must stop.
    for (uint32_t next : {kEnd, 4u, 1u}) {
        SCOPED_TRACE(next);
        DocBytes f = good;
        f.resize(512 * 7, 0);
        DocPutLE32(f, 0x44, 4);
        DocBytes difat(512, 0xFF);
        DocPutLE32(difat, 0, 5);
        DocPutLE32(difat, 508, next);
        std::memcpy(f.data() + 5 * 512, difat.data(), 512);
        DocBytes fat(512, 0xFF);
        for (uint32_t i = 0; i < 10; ++i)
            DocPutLE32(fat, 4 * i, kEnd);
        std::memcpy(f.data() + 6 * 512, fat.data(), 512);
        // Two FAT sectors: 128 entries of the first and 10 of the second.
        EXPECT_EQ(size(f), std::make_pair(1, (128LL + 10 + 1) * 512));
    }

    // A directory sector past the device: a small file stands as kind 41,
    // a large one is refused.
    DocBytes lostDir = good;
    DocPutLE32(lostDir, 0x30, 0x7FFFFF);
    ByteDevice device(64, 512);
    device.Put(0, lostDir);
    CRawFileInfo info;
    ASSERT_EQ(analyser.GetRawFileSize(info, &device), 1);
    EXPECT_EQ(info.m_dwType, 41u);
    // 109 FAT sectors in the header and 60 in a DIFAT sector; the last one
    // reads as zeros (all used): 169 x 128 sectors, above 10 MiB.
    DocBytes big = lostDir;
    big.resize(3 * 512, 0);
    for (uint32_t i = 0; i < 109; ++i)
        DocPutLE32(big, 0x4C + 4 * i, 1);
    DocPutLE32(big, 0x44, 1);
    for (uint32_t i = 0; i < 128; ++i)
        DocPutLE32(big, 1024 + 4 * i, i < 60 ? 2 : (i == 127 ? kEnd : kFree));
    ByteDevice device2(64, 512);
    device2.Put(0, big);
    CRawFileInfo info2;
    EXPECT_EQ(analyser.GetRawFileSize(info2, &device2), 0);
}

TEST(rawOle, FourKilobyteSectorsCountEveryFatEntry)
{
    // Version 4: 4,096-byte sectors, 1,024 FAT entries each.
    DocBytes f(4096 * 4, 0);
    DocBytes h = OleHeader(1);
    DocPutLE16(h, 0x1A, 4);
    DocPutLE16(h, 0x1E, 12);
    DocPutLE32(h, 0x4C, 0);
    std::memcpy(f.data(), h.data(), 512);
    for (uint32_t i = 0; i < 1024; ++i)
        DocPutLE32(f, 4096 + 4 * i, i < 300 ? kEnd : kFree);
    DocBytes dir = Directory({"Root Entry", "Workbook"});
    std::memcpy(f.data() + 2 * 4096, dir.data(), dir.size());
    for (unsigned int ss : {512u, 4096u}) {
        ByteDevice device(64 * 4096 / ss, ss);
        device.Put(0, f);
        FileOLEAnalyser analyser;
        CRawFileInfo info;
        ASSERT_EQ(analyser.GetRawFileSize(info, &device), 1);
        EXPECT_EQ(info.m_llSize, 301LL * 4096);
        EXPECT_EQ(info.m_dwType, 71u);
    }
}

TEST(rawOle, TheKindComesFromTheFirstDirectoryEntries)
{
    const struct {
        std::vector<std::string> names;
        unsigned char rootClass;
        unsigned int type;
    } cases[] = {
        {{"Root Entry", "\x01" "CompObj", "1Table", "WordDocument"}, 0, 23},
        {{"Root Entry", "ObjectPool"}, 0, 23},
        {{"Root Entry", "Workbook"}, 0, 71},
        {{"Root Entry", "x", "Book"}, 0, 71},
        // The later test wins.
        {{"Root Entry", "Workbook", "x", "PowerPoint Document"}, 0, 52},
        {{"Root Entry", "PP40"}, 0, 52},
        {{"Root Entry", "x", "Scene"}, 0, 37},
        {{"Root Entry", "VisioDocument"}, 0, 66},
        {{"Root Entry", "PerfectOffice_MAIN", "PerfectOffice_OBJECTS", "\x05SummaryInformation"}, 7, 61},
        {{"Root Entry", "PerfectOffice_MAIN", "PerfectOffice_OBJECTS", "x"}, 0, 69},
        {{"Root Entry", "PerfectOffice_MAIN", "PerfectOffice_OBJECTS", "x"}, 7, 68},
        {{"Root Entry", "RSeStorage", "x", "RSeEmbeddings"}, 0, 140},
        {{"Root Entry", "Objects", "Quill", "QuillSub"}, 0, 53},
        {{"Root Entry", "NativeContent_MAIN"}, 0, 57},
        {{"Root Entry", "properties"}, 0, 141},
        {{"Root Entry", "\x01" "CompObj", "   112", "   212"}, 0, 47},
        {{"Root Entry", "VBA", "VBAProject", "VBA"}, 0, 3},
        {{"Root Entry", "PropData", "Forms", "Reports"}, 0, 3},
        // Names match whole: a longer name is another name.
        {{"Root Entry", "Workbooks"}, 0, 41},
        {{"Root Entry", "Something"}, 0, 41},
        // Further down the directory, the stream names still tell the kind
        // when nothing else did.
        {{"Root Entry", "\x01" "CompObj", "\x01Ole", "Current User", "Pictures", "PowerPoint Document"}, 0, 52},
        {{"Root Entry", "\x01" "CompObj", "\x01Ole", "Workbook"}, 0, 71},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.names.back() + " -> " + std::to_string(c.type));
        const DocBytes dir = Directory(c.names, c.rootClass);
        CRawFileInfo info;
        unsigned long long unused = 0;
        FileOLEAnalyser::CheckSectDirData(dir.data(), 1024, &info, unused);
        EXPECT_EQ(info.m_dwType, c.type);
    }
    // Only the bytes given are read: a name past length does not count.
    const DocBytes dir = Directory({"Root Entry", "a", "b", "c", "d", "WordDocument"});
    CRawFileInfo info;
    unsigned long long unused = 0;
    FileOLEAnalyser::CheckSectDirData(dir.data(), 512, &info, unused);
    EXPECT_EQ(info.m_dwType, 41u);
}

TEST(rawOle, SummaryValuesAreReadWithinTheSector)
{
    const uint64_t lateDecember = FileTimeOf(2020, 12, 31, 23, 0, 0);
    const std::string gbk = "\xC4\xEA\xB6\xC8\xB1\xA8\xB8\xE6";  // "annual report" in GBK
    struct Case {
        const char* what;
        std::vector<Prop> props;
        int found;
        FileProperty want;
    };
    const Case cases[] = {
        {"ASCII title kept, long one cut to 24 bytes",
         {{2, Value8("  A title of thirty characters")}, {4, Value8("Ann")}},
         1,
         {"", "A title of thirty charac", "", "Ann", "", "", "", ""}},
        {"GBK title converted", {{2, Value8(gbk)}}, 1, {"", "\xE5\xB9\xB4\xE5\xBA\xA6\xE6\x8A\xA5\xE5\x91\x8A", "", "", "", "", "", ""}},
        {"wide strings and dates",
         {{8, Value16("Last One")}, {12, ValueTime(lateDecember)}, {13, ValueTime(0)}},
         1,
         {"", "", "", "", "Last One", "2020-12-31-23-00-00", "", ""}},
        {"nothing wanted", {{13, ValueTime(0)}, {19, Value8("x")}}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DocBytes set = SummarySet(c.props);
        CSummaryInFormation reader;
        FileProperty p;
        EXPECT_EQ(reader.GetFileInformation(set.data(), p, 512), c.found);
        EXPECT_EQ(p.strTitle, c.want.strTitle);
        EXPECT_EQ(p.strCreator, c.want.strCreator);
        EXPECT_EQ(p.strAuthor, c.want.strAuthor);
        EXPECT_EQ(p.strCreationDate, c.want.strCreationDate);
        EXPECT_EQ(p.strModificationDate, c.want.strModificationDate);
    }
}

TEST(rawOle, DamagedSummarySetsReadNothingOutside)
{
    // Each set lies at the end of an exact-size heap buffer, so a read past
    // it is caught by the address checker.
    const auto read = [](DocBytes set, int length, FileProperty& p) {
        std::vector<unsigned char> exact(set.begin(), set.begin() + length);
        CSummaryInFormation reader;
        return reader.GetFileInformation(exact.data(), p, length);
    };
    FileProperty p;
    DocBytes set = SummarySet({{2, Value8("Title")}});
    EXPECT_EQ(read(set, 512, p), 1);

    // Too short for the header, section offset past the end.
    EXPECT_EQ(read(set, 40, p), 0);
    DocBytes farSection = set;
    DocPutLE32(farSection, 44, 510);
    EXPECT_EQ(read(farSection, 512, p), 0);
    // A count that runs the entries past the sector, or beyond 31 entries.
    for (uint32_t count : {60u, 0x7FFFFFFFu, 0x80000000u}) {
        DocBytes many = set;
        DocPutLE32(many, 52, count);
        FileProperty q;
        EXPECT_EQ(read(many, 512, q), 0) << count;
    }
    // String lengths past the sector or above 1,024 bytes; an offset that
    // points past the end or wraps below zero.
    for (uint32_t length : {600u, 2000u, 0xFFFFFFFFu}) {
        DocBytes longValue = set;
        DocPutLE32(longValue, 48 + 16 + 4, length);
        FileProperty q;
        EXPECT_EQ(read(longValue, 512, q), 0) << length;
        EXPECT_TRUE(q.strTitle.empty());
    }
    for (uint32_t offset : {508u, 0xFFFFFFF0u, 0x7FFFFFF0u}) {
        DocBytes badOffset = set;
        DocPutLE32(badOffset, 48 + 12, offset);
        FileProperty q;
        EXPECT_EQ(read(badOffset, 512, q), 0) << offset;
    }
    // A byte-order mark or identifier that differs: not a summary set.
    DocBytes other = set;
    other[30] ^= 1;
    EXPECT_EQ(read(other, 512, p), 0);
}

TEST(rawOle, ASummaryThatPassesByNamesAndLabelsTheDocument)
{
    const uint64_t created = FileTimeOf(2020, 6, 15, 10, 20, 30);
    const uint64_t modified = FileTimeOf(2021, 3, 4, 5, 6, 7);
    struct Case {
        const char* what;
        std::vector<std::string> names;
        std::vector<Prop> props;
        const char* folder;
        std::string name;  // without the counter and extension
        const char* label;
        const char* ext;
    };
    const Case cases[] = {
        {"title, authors, dates",
         {"Root Entry", "WordDocument"},
         {{2, Value8("Quarterly Report")}, {4, Value8("Alice")}, {8, Value8("Bob")}, {12, ValueTime(created)},
          {13, ValueTime(modified)}},
         "doc", "Bob_Quarterly Report_2021-03-04-05-06-07", "Bob", "DOC"},
        {"creation date only",
         {"Root Entry", "Workbook"},
         {{12, ValueTime(created)}},
         "xls", "unKnown_2020-06-15-10-20-30", "unKnown", "XLS"},
        {"no date: the last nonempty of title, last author, author",
         {"Root Entry", "WordDocument"},
         {{2, Value8("Plan")}, {4, Value8("Carol")}},
         "doc", "Carol_Carol", "Carol", "DOC"},
        {"not an office kind: no label, no prefix",
         {"Root Entry", "VisioDocument"},
         {{2, Value8("Plan")}, {13, ValueTime(modified)}},
         "vsd", "Plan_2021-03-04-05-06-07", nullptr, "VSD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DocBytes file = SmallOle(c.names, SummarySet(c.props));
        const auto files = Carve(file, 512, 64);
        // A labelled file is filed under its label only.
        const CarvedFile* f = InFolder(files, c.label ? c.label : c.folder);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(files.size(), 1u);
        EXPECT_EQ(f->size, 2560);
        EXPECT_EQ(f->name, c.name + "000." + c.ext);
    }
    // Without a summary the sector range names it: "2-7" for five sectors.
    const auto plain = Carve(SmallOle({"Root Entry", "WordDocument"}), 512, 64);
    const CarvedFile* f = InFolder(plain, "doc");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->name, "2-7000.DOC");
}

TEST(rawOle, TheStreamFollowsTheDifatChainToTheLastFatSector)
{
    // Header lists FAT sector 0; DIFAT sector 1 lists FAT sector 2 and ends
    // the chain. FAT sector 2 describes sectors 128 to 137: 139 units with
    // the header. The directory is sector 3.
    DocBytes f = OleHeader(3, 1);
    DocPutLE32(f, 0x2C, 2);
    DocPutLE32(f, 0x48, 1);
    DocPutLE32(f, 0x4C, 0);
    f.resize(139 * 512, 0x3C);
    DocBytes fat0(512, 0);
    for (uint32_t i = 0; i < 128; ++i)
        DocPutLE32(fat0, 4 * i, i + 1);
    DocPutLE32(fat0, 0, kFatMark);
    DocPutLE32(fat0, 4, 0xFFFFFFFC);
    DocPutLE32(fat0, 8, kFatMark);
    DocPutLE32(fat0, 12, kEnd);
    std::memcpy(f.data() + 512, fat0.data(), 512);
    DocBytes difat(512, 0xFF);
    DocPutLE32(difat, 0, 2);
    DocPutLE32(difat, 508, kEnd);
    std::memcpy(f.data() + 2 * 512, difat.data(), 512);
    DocBytes fat2(512, 0xFF);
    for (uint32_t i = 0; i < 10; ++i)
        DocPutLE32(fat2, 4 * i, i == 9 ? kEnd : 128 + i + 1);
    std::memcpy(f.data() + 3 * 512, fat2.data(), 512);
    const DocBytes dir = Directory({"Root Entry", "\x01" "CompObj", "WordDocument"});
    std::memcpy(f.data() + 4 * 512, dir.data(), dir.size());

    for (unsigned int ss : {512u, 4096u}) {
        SCOPED_TRACE(ss);
        const long long sectors = static_cast<long long>(f.size() / ss) + 16;
        SearchHarness h(sectors, ss, GetRawAnalyserRows());
        h.Device().Put(kStart * ss, f);
        for (long long s = kStart + static_cast<long long>((f.size() + ss - 1) / ss); s < sectors; ++s)
            std::memset(h.Device().Sector(s), 0x5A, ss);
        h.Run();
        const std::vector<CarvedFile> files = h.Files();
        const CarvedFile* doc = InFolder(files, "doc");
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(doc->size, static_cast<long long>(f.size()));
        // Named by the stream (the device sizer names nothing).
        EXPECT_EQ(doc->name, std::to_string(kStart) + "-" +
                                 std::to_string(kStart + static_cast<long long>(f.size()) / ss) + "000.DOC");
    }
    ByteDevice device(200, 512);
    device.Put(0, f);
    FileOLEAnalyser analyser;
    CRawFileInfo info;
    ASSERT_EQ(analyser.GetRawFileSize(info, &device), 1);
    EXPECT_EQ(info.m_llSize, static_cast<long long>(f.size()));
}
