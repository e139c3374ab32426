// PDF and Illustrator carving on crafted bytes: the head probe, the end mark
// rules of the streaming candidate, the document-information reader, the
// device fallback, and damaged or truncated input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "PdfAnalyzer.h"
#include "PdfTitleAnalyzer.h"
#include "CarveBytes.h"
#include "RawAnalyserTable.h"
#include "SearchHarness.h"

namespace {

using namespace std::string_literals;
using namespace carvebytes;
using BruteForce::PdfAnalyzer;
using BruteForce::PdfTitleAnalyzer;

// A PDF-like file: the head, printable filler up to fill bytes, the
// information object, then "%%EOF" and the given line end.
Bytes MakePdf(size_t fill, const std::string& info, const std::string& eol = "\n")
{
    std::string s = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::mt19937 rng(5);
    while (s.size() < fill) {
        s += "BT /F1 10 Tf 40 700 Td (";
        for (int i = 0; i < 40; ++i)
            s += static_cast<char>('a' + rng() % 26);
        s += ") Tj ET\n";
    }
    s += info;
    s += "xref\n0 1\n0000000000 65535 f \ntrailer\n<</Size 1>>\nstartxref\n9\n%%EOF" + eol;
    return Text(s);
}

const std::string kInfo =
    "7 0 obj\n<</Producer(Crafted Writer)\n/CreationDate(D:20240315093000+01'00')\n"
    "/ModDate(D:20240316101112Z)\n/Title(Quarterly Report)\n/Author(Jane Roe)\n/Creator(Writer)>>endobj\n";

TEST(rawPdfProbe, HeadsOfPdfAndIllustratorOnly)
{
    const struct {
        const char* what;
        std::string head;
        int accepted;
        int fallbackAccepted = -1;  // when the device sizer's probe differs
    } cases[] = {
        {"PDF", "%PDF-1.7\n", 1},
        {"PDF without the dash", "%PDF1.7\n", 0},
        {"Illustrator PostScript", "%!PS-Adobe-3.0\n%%Creator: Adobe Illustrator(R) 8.0\n", 1},
        {"encapsulated Illustrator", "%!PS-Adobe-3.0 EPSF-3.0\n%%Creator: Adobe Illustrator(R) 8.0\n", 0},
        {"plain PostScript", "%!PS-Adobe-3.0\n%%Creator: dvips\n", 0},
        {"Illustrator mark after a NUL", "%!PS-Adobe-3.0\n\0Adobe Illustrator"s, 0, 1},
        {"short PostScript mark", "%!PS-Adob", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes sector(512, 0);
        std::memcpy(sector.data(), c.head.data(), c.head.size());
        PdfAnalyzer analyser;
        CRawFileInfo probe;
        EXPECT_EQ(analyser.AnalyseBuffer(sector.data(), probe), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(probe.m_dwType, 50u);
        }
        FilePDFAnalyser fallback;
        CRawFileInfo probe2;
        // The device sizer's probe reads its 200-byte head as bytes.
        EXPECT_EQ(fallback.AnalyseBuffer(sector.data(), probe2), c.fallbackAccepted < 0 ? c.accepted : c.fallbackAccepted);
    }
}

TEST(rawPdfEnd, EndMarkRulesInZeroTailedSectors)
{
    // File length decides where "%%EOF" lies in its last sector and how many
    // zero bytes follow it there.
    const struct {
        const char* what;
        size_t fill;
        std::string eol;
        long long extra;  // carved size minus file length
    } cases[] = {
        {"long zero tail: the mark and its line end", 30000, "\n", 0},
        {"CR LF line end", 30000, "\r\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes pdf = MakePdf(c.fill, kInfo, c.eol);
        for (unsigned int ss : {512u, 4096u}) {
            SCOPED_TRACE(ss);
            const Carved got = CarveAt(pdf, ss);
            ASSERT_EQ(got.files, 1);
            EXPECT_EQ(got.size, static_cast<long long>(pdf.size()) + c.extra);
        }
    }
}

TEST(rawPdfEnd, ShortZeroTailAndMarkAcrossTheSectorStart)
{
    // The file ends 12 bytes before a sector end: it ends with the mark's
    // line end, not in the zero tail.
    Bytes pdf = MakePdf(30000, kInfo, "\n");
    const size_t target = (pdf.size() / 512 + 1) * 512 - 12;
    pdf.insert(pdf.begin() + 20, target - pdf.size(), ' ');
    ASSERT_EQ(pdf.size() % 512, 500u);
    Carved got = CarveAt(pdf);
    EXPECT_EQ(got.size, static_cast<long long>(pdf.size()));

    // The file fills its last sector to the byte.
    pdf.insert(pdf.begin() + 20, 12, ' ');
    ASSERT_EQ(pdf.size() % 512, 0u);
    got = CarveAt(pdf);
    EXPECT_EQ(got.size, static_cast<long long>(pdf.size()));

    // Two stray bytes after the mark's line end are not the file's.
    pdf.insert(pdf.begin() + 20, 512 - 32 - 2, ' ');
    pdf.insert(pdf.end(), 2, 'x');
    ASSERT_EQ(pdf.size() % 512, 512u - 32);
    got = CarveAt(pdf);
    EXPECT_EQ(got.size, static_cast<long long>(pdf.size()) - 2);
}

TEST(rawPdfEnd, EarlyMarksAndNonZeroTailsDoNotEndTheFile)
{
    // A "%%EOF" without a cross-reference offset before it, padded with
    // zeros to its sector end, followed by more of the same file: only the
    // last mark, after "startxref", ends it.
    std::string first = "%PDF-1.4\n1 0 obj <<>> endobj\n%%EOF\n";
    Bytes pdf = Text(first);
    pdf.resize(1024, 0);
    const Bytes rest = MakePdf(30000, kInfo);
    pdf.insert(pdf.end(), rest.begin() + 9, rest.end());
    Carved got = CarveAt(pdf);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, static_cast<long long>(pdf.size()));

    // What follows the last update's "%%EOF" (blanks, then text with a mark
    // of its own but no cross-reference offset) is not the file's.
    Bytes marked = MakePdf(30000, kInfo);
    marked.resize((marked.size() / 512 + 1) * 512, ' ');
    marked.back() = '\n';
    const Bytes tail = Text("more bytes\n%%EOF\n");
    const size_t firstEnd = marked.size();
    marked.insert(marked.end(), tail.begin(), tail.end());
    got = CarveAt(marked);
    EXPECT_EQ(got.size, static_cast<long long>(MakePdf(30000, kInfo).size()));
    EXPECT_LT(got.size, static_cast<long long>(firstEnd));
}

TEST(rawPdfName, InformationNamesDatesAndLabels)
{
    const struct {
        const char* what;
        std::string info;
        std::string stem;  // "" for a name by type and counter
        std::string label;
        std::string folder;  // the label kind's folder, or the extension folder
    } cases[] = {
        {"title and modification date", kInfo, "Quarterly Report2024-03-16 10-11-12", "Jane Roe", "PDF"},
        {"title with a digit falls back to the author",
         "9 0 obj <</Title(Report 2024)/Author(Jane Roe)/Creator(Writer)/CreationDate(D:20240315093000Z)>>endobj\n",
         "Jane Roe", "Jane Roe", "PDF"},
        {"one-character author is dropped",
         "9 0 obj <</Author(J)/Creator(Writer)/CreationDate(D:20240315093000Z)>>endobj\n", "Writer", "Writer",
         "PDF"},
        {"UTF-16 title",
         "9 0 obj <</Title(\xFE\xFF\x00S\x00u\x00m\x00m\x00\xE4\x00r)/Author(Jane Roe)/Creator(W1)"
         "/CreationDate(D:20240315093000Z)>>endobj\n"s,
         "Summ\xC3\xA4r", "Jane Roe", "PDF"},
        {"Illustrator creator",
         "9 0 obj <</Creator(Adobe Illustrator 27.0)/Author(Jane Roe)/CreationDate(D:20240315093000Z)>>endobj\n",
         "Jane Roe", "Jane Roe", "AI"},
        {"dates only: no author or creator",
         "9 0 obj <</Title(Lonely)/Producer(Maker)>>endobj\n", "", "", "pdf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Carved got = CarveAt(MakePdf(30000, c.info));
        ASSERT_EQ(got.files, 1);
        EXPECT_EQ(got.folder, c.folder);
        if (c.stem.empty()) {
            EXPECT_EQ(got.name.rfind("FILE", 0), 0u) << got.name;
        } else {
            // The stem, a three-digit counter and the extension.
            EXPECT_EQ(got.name.rfind(c.stem, 0), 0u) << got.name;
            EXPECT_EQ(got.name.size(), c.stem.size() + 3 + 1 + c.folder.size()) << got.name;
            EXPECT_EQ(got.name.substr(got.name.size() - c.folder.size()), c.folder) << got.name;
        }
        EXPECT_EQ(got.label, c.label);
    }
}

TEST(rawPdfInfo, EntriesAndDates)
{
    PdfTitleAnalyzer reader;
    // Dates: the prefix and 14 digits with nothing after them give no time.
    EXPECT_EQ(PdfTitleAnalyzer::TimeChange("D:20240315093000"), "");
    EXPECT_EQ(PdfTitleAnalyzer::TimeChange("D:20240315093000Z"), "2024-03-15 09-30-00");
    EXPECT_EQ(PdfTitleAnalyzer::TimeChange("D:2024031509300xZ"), "");
    EXPECT_FALSE(PdfTitleAnalyzer::JudeLegalInfo("a"));
    EXPECT_FALSE(PdfTitleAnalyzer::JudeLegalInfo("a,b"));
    EXPECT_TRUE(PdfTitleAnalyzer::JudeLegalInfo("Ab (x-y_z."));
    EXPECT_FALSE(PdfTitleAnalyzer::JudeLegalInfo("Ab (x)"));
    EXPECT_EQ(PdfTitleAnalyzer::RemoveIllegalTitle("Plan B2"), "");

    // A value without its closing parenthesis before the next key is empty;
    // a long value is cut to 25 characters before its checks.
    const std::string dict =
        "obj <</Author(An author whose name runs on and on)/Creator(Unclosed/CreationDate(D:20240315093000+01'00')>>";
    FileProperty property;
    ASSERT_TRUE(reader.SeparateInformation(dict.data(), static_cast<int>(dict.size()), property));
    EXPECT_EQ(property.strAuthor, "An author whose name runs");
    EXPECT_EQ(property.strCreator, "");
    EXPECT_EQ(property.strCreationDate, "2024-03-15 09-30-00");

    // Words inside an XMP packet are not keys: the creator comes from the
    // dictionary's own entry.
    const std::string xmp =
        "obj <x:xmpmeta><rdf:Description xmp:CreatorTool='Other Tool' xmp:CreateDate='2024'/></x:xmpmeta>"
        "<</Creator(Adobe Illustrator 27.0)/Author(Sam Poe)/CreationDate(D:20230102030405Z)>>";
    FileProperty fromXmp;
    ASSERT_TRUE(reader.SeparateInformation(xmp.data(), static_cast<int>(xmp.size()), fromXmp));
    EXPECT_EQ(fromXmp.strCreator, "Adobe Illustrator 27.0");

    // Only a title and a producer: not enough to count as an information
    // dictionary.
    const std::string thin = "obj <</Title(T)/Producer(P)>>";
    FileProperty none;
    EXPECT_FALSE(reader.SeparateInformation(thin.data(), static_cast<int>(thin.size()), none));

    // UTF-16: odd lengths, lone surrogates and pairs.
    const unsigned char pair[] = {0xD8, 0x3D, 0xDE, 0x00, 0x00, 'A', 0xDC, 0x00, 0x00};
    EXPECT_EQ(BruteForce::PdfUtf16BEToUtf8(pair, sizeof(pair)), "\xF0\x9F\x98\x80" "A");
}

TEST(rawPdfInfo, SectorTextTestAndBounds)
{
    PdfTitleAnalyzer reader;
    FileProperty property;
    // Binary sample bytes: the sector is skipped.
    Bytes binary(512, 0x80);
    const std::string info = "obj <</Author(Jane Roe)/Creator(Writer)>>";
    std::memcpy(binary.data() + 140, info.data(), info.size());
    EXPECT_FALSE(reader.ObtainPerSecPDFInformation(binary.data(), 512, false, property));
    binary[0] = 'x';
    EXPECT_TRUE(reader.ObtainPerSecPDFInformation(binary.data(), 512, false, property));
    EXPECT_EQ(property.strAuthor, "Jane Roe");

    // Everything at the very end of the sector: no read past it (the
    // sanitizer build checks), and no key is complete.
    Bytes edge(512, 'x');
    const std::string cut = "obj /Author(Jane";
    std::memcpy(edge.data() + 512 - cut.size(), cut.data(), cut.size());
    FileProperty p2;
    EXPECT_FALSE(reader.ObtainPerSecPDFInformation(edge.data(), 512, false, p2));
    Bytes random(4096);
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        for (auto& b : random)
            b = static_cast<unsigned char>("obj()/AuthorCreatDMT: \xFE\xFF"[rng() % 24]);
        FileProperty p3;
        reader.ObtainPerSecPDFInformation(random.data(), 2048, true, p3);
    }
}

TEST(rawPdfInfo, DictionaryRunningIntoTheNextSector)
{
    // "obj" near the first sector's end, the entries in the second.
    Bytes two(1024, 'x');
    const std::string head = "9 0 obj <<";
    const std::string entries = "/Author(Jane Roe)/Creator(Writer)>>";
    std::memcpy(two.data() + 500, head.data(), head.size());
    std::memcpy(two.data() + 520, entries.data(), entries.size());
    PdfTitleAnalyzer reader;
    FileProperty one;
    EXPECT_FALSE(reader.ObtainPerSecPDFInformation(two.data(), 512, false, one));
    FileProperty both;
    EXPECT_TRUE(reader.ObtainPerSecPDFInformation(two.data(), 512, true, both));
    EXPECT_EQ(both.strAuthor, "Jane Roe");
    EXPECT_EQ(reader.m_iLeftLength, 1024 - 504);
}

TEST(rawPdfProbe, IllustratorHeadInsideThePdf)
{
    const struct {
        const char* what;
        std::string head;
        unsigned int type;
    } cases[] = {
        {"PostScript head with the Illustrator mark", "%PDF-1.5\n%!PS-Adobe-3.0\n%%Creator: Adobe Illustrator(R) 24\n", 5},
        {"only the first PostScript head counts", "%PDF-1.5\n%!PS-Adobe-3.0\n%%EOF\0 %!PS-Adobe Adobe Illustrator"s, 50},
        {"no PostScript head", "%PDF-1.5\n%%Creator: Adobe Illustrator\n", 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PdfAnalyzer::PdfRawFileInfo info(nullptr);
        Bytes sector(512, ' ');
        std::memcpy(sector.data(), c.head.data(), c.head.size());
        info.JudgeAI(sector.data(), 512);
        EXPECT_EQ(info.m_dwType, c.type);
    }
}

TEST(rawPdfEnd, TooLongCandidateEndsWithoutSize)
{
    PdfAnalyzer analyser;
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    info->m_llStartSector = 0;
    Bytes sector(512, 'x');
    CRawFileInfo::SearchContext context;
    context.dwSectorSize = 512;
    const long long far = PdfAnalyzer::PdfRawFileInfo::kMaxSize / 512 + 2;
    EXPECT_EQ(info->CalcRawSize(sector.data(), 512, far, context), 1);
    EXPECT_EQ(info->m_llSize, 0);
    // Dropped by the search: the device fallback becomes its owner.
    info->WillBeRemove(sector.data(), far);
    EXPECT_NE(dynamic_cast<FilePDFAnalyser*>(info->m_pOwner), nullptr);
}

TEST(rawPdfFallback, DeviceScanFindsTheMarkOrTheNextPdf)
{
    for (unsigned int ss : {512u, 4096u}) {
        SCOPED_TRACE(ss);
        const Bytes pdf = MakePdf(5000, kInfo);
        ByteDevice device(64 * 4096 / ss, ss);
        device.Put(2 * ss, pdf);
        FilePDFAnalyser fallback;
        CRawFileInfo info;
        info.m_llStartSector = 2;
        ASSERT_EQ(fallback.GetRawFileSize(info, &device), 1);
        EXPECT_EQ(info.m_llSize, static_cast<long long>((pdf.size() + ss - 1) / ss * ss));
        EXPECT_EQ(info.m_dwType, 0u);

        // No mark, then a new PDF: the first ends where the second starts.
        Bytes open(3 * ss + 100, 'y');
        std::memcpy(open.data(), "%PDF-1.4\n", 9);
        ByteDevice d2(64 * 4096 / ss, ss);
        d2.Put(2 * ss, open);
        d2.Put(2 * ss + 4 * static_cast<long long>(ss), Text("%PDF-1.5\n"));
        CRawFileInfo next;
        next.m_llStartSector = 2;
        ASSERT_EQ(fallback.GetRawFileSize(next, &d2), 1);
        EXPECT_EQ(next.m_llSize, 4 * static_cast<long long>(ss));

        // An Illustrator head makes it type 5.
        Bytes ai = Text("%!PS-Adobe-3.0\n%%Creator: Adobe Illustrator(R) 8.0\n");
        ai.resize(ss * 2 - 40, 'z');
        const Bytes end = Text("%%EOF\n");
        ai.insert(ai.end(), end.begin(), end.end());
        ByteDevice d3(64 * 4096 / ss, ss);
        d3.Put(0, ai);
        CRawFileInfo aiInfo;
        ASSERT_EQ(fallback.GetRawFileSize(aiInfo, &d3), 1);
        EXPECT_EQ(aiInfo.m_dwType, 5u);
        EXPECT_EQ(aiInfo.m_llSize, 2 * static_cast<long long>(ss));

        // Reads that fail: no size.
        ByteDevice tiny(2, ss);
        CRawFileInfo lost;
        lost.m_llStartSector = 5;
        EXPECT_EQ(fallback.GetRawFileSize(lost, &tiny), 0);
        EXPECT_EQ(lost.m_llSize, 0);
    }
}

}  // namespace

// A PDF ends after the "%%EOF" line of its last update whatever follows it;
// one cut short never runs into the file after it.
TEST(rawPdfEnd, EndsAfterItsLastUpdateWhateverFollows)
{
    const Bytes pdf = MakePdf(3000, kInfo);
    // An incremental update: objects, a cross-reference section and a
    // second "startxref" / "%%EOF".
    Bytes updated = pdf;
    const Bytes update = Text("8 0 obj\n<</A 1>>\nendobj\nxref\n0 1\n0000000000 65535 f \ntrailer\n<</Size 1>>\n"
                              "startxref\n" + std::to_string(pdf.size() + 24) + "\n%%EOF\n");
    updated.insert(updated.end(), update.begin(), update.end());
    const Bytes cut(pdf.begin(), pdf.end() - 40);
    std::mt19937 rng(9);
    Bytes random(30000);
    for (unsigned char& c : random)
        c = static_cast<unsigned char>(rng());
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
    jpeg.resize(4096, 0x11);
    const struct {
        const char* what;
        const Bytes& file;
        Bytes after;
    } cases[] = {
        {"zeros", pdf, Bytes(30000, 0)},
        {"random bytes", pdf, random},
        {"another PDF", pdf, MakePdf(2000, "")},
        {"a picture", pdf, jpeg},
        {"text", pdf, Text(std::string(5000, 'q'))},
        {"an update, then random bytes", updated, random},
        {"cut short, then another PDF", cut, MakePdf(2000, "")},
    };
    for (const auto& c : cases) {
        for (unsigned int ss : {512u, 4096u}) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(ss));
            const FollowedCarve carved = CarveFollowed(c.file, c.after, ss, GetRawAnalyserRows());
            if (&c.file != &cut) {
                EXPECT_EQ(carved.file.size, static_cast<long long>(c.file.size()));
            } else {
                EXPECT_GE(carved.file.size, static_cast<long long>(cut.size()));
                EXPECT_LE(carved.file.size, (carved.nextSector - FollowedCarve::kFollowedStart) * ss);
            }
        }
    }
}
