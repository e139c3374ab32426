// CAD, vector and XML drawing formats on crafted bytes: probes, the end
// rules of the streaming candidates through the real searcher, header sizes,
// the device sizers, and damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "DrawingAnalysers.h"
#include "DwgAnalyser.h"
#include "DxfAnalyser.h"
#include "CarveBytes.h"
#include "FollowedCases.h"
#include "SearchHarness.h"
#include "RawAnalyserTable.h"
#include "SvgAnalyser.h"

namespace {

using namespace std::string_literals;
using namespace carvebytes;

// Printable lines of a drawing-like text, about length bytes.
std::string Lines(size_t length, const std::string& eol)
{
    std::string s;
    std::mt19937 rng(3);
    while (s.size() < length)
        s += " 10" + eol + std::to_string(rng() % 100000) + "." + std::to_string(rng() % 1000) + eol;
    return s;
}

// ---- DXF -----------------------------------------------------------------------

TEST(rawDxf, ProbeNeedsTheSectionHeader)
{
    const struct {
        const char* what;
        std::string head;
        int accepted;
    } cases[] = {
        {"CR LF section", "  0\r\nSECTION\r\n  2\r\nHEADER\r\n", 1},
        {"comment then LF section", "999\nmade by hand\n  0\nSECTION\n  2\nHEADER\n", 1},
        {"comment then CR LF section", "999\r\nnote\r\n  0\r\nSECTION\r\n  2\r\n", 1},
        {"comment, section only after a NUL", "999\nnote\n\0  0\nSECTION\n  2\n"s, 0},
        {"comment with mixed line ends", "999\nnote\n  0\r\nSECTION\r\n  2\r\n", 0},
        {"comment with another separator", "999 note\n  0\nSECTION\n  2\n", 0},
        {"LF section without comment", "  0\nSECTION\n  2\nHEADER\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes sector(512, 0);
        std::memcpy(sector.data(), c.head.data(), c.head.size());
        BruteForce::CDXFAnalyser analyser;
        CRawFileInfo probe;
        EXPECT_EQ(analyser.AnalyseBufferEx(sector.data(), probe, 512, 0, 0, 1), c.accepted);
    }
    // A comment that fills the whole sector without any NUL: bounded.
    Bytes full(512, 'x');
    std::memcpy(full.data(), "999\n", 4);
    BruteForce::CDXFAnalyser analyser;
    CRawFileInfo probe;
    EXPECT_EQ(analyser.AnalyseBufferEx(full.data(), probe, 512, 0, 0, 1), 0);
}

TEST(rawDxf, EndsRightAfterTheEofGroup)
{
    for (const std::string eol : {"\r\n", "\n"}) {
        SCOPED_TRACE(eol.size());
        std::string head = eol == "\n" ? "999\nhand made\n" : "";
        std::string text = head + "  0" + eol + "SECTION" + eol + "  2" + eol + "ENTITIES" + eol + Lines(5000, eol) +
                           "  0" + eol + "ENDSEC" + eol + "  0" + eol + "EOF" + eol;
        for (unsigned int ss : {512u, 4096u}) {
            const Carved got = CarveAt(Text(text), ss);
            ASSERT_EQ(got.files, 1);
            EXPECT_EQ(got.size, static_cast<long long>(text.size()));
            EXPECT_EQ(got.folder, "dxf");
        }
    }
}

// ---- DWG -------------------------------------------------------------------------

Bytes DwgWithLocators(int count, bool badNumber)
{
    Bytes b = Text("AC1015");
    b.resize(25, 0);
    PutLE32(b, 21, static_cast<uint32_t>(count));
    uint32_t largest = 0;
    for (int i = 0; i < count; ++i) {
        const size_t at = 25 + 9 * static_cast<size_t>(i);
        b.resize(at + 9, 0);
        b[at] = static_cast<unsigned char>(badNumber && i == count - 1 ? i + 1 : i);
        const uint32_t seeker = 2000 + 300 * static_cast<uint32_t>(i);
        const uint32_t length = 100 + 7 * static_cast<uint32_t>(i);
        PutLE32(b, at + 1, seeker);
        PutLE32(b, at + 5, length);
        largest = std::max(largest, seeker + length);
    }
    b.resize(largest, 0x55);
    return b;
}

TEST(rawDwg, SectionLocatorsGiveTheSize)
{
    // Sixty records run across the first sector's end.
    for (int count : {3, 60}) {
        SCOPED_TRACE(count);
        const Bytes dwg = DwgWithLocators(count, false);
        const Carved got = CarveAt(dwg);
        ASSERT_EQ(got.files, 1);
        EXPECT_EQ(got.size, static_cast<long long>(dwg.size()));
        EXPECT_EQ(CarveAt(DwgWithLocators(count, true)).files, 0);
    }
    // Recognised, but a drawing of that version carries no size.
    Bytes old = Text("AC1009");
    old.resize(3000, 0x41);
    EXPECT_EQ(CarveAt(old).files, 0);
}

Bytes Scramble(const Bytes& plain)
{
    Bytes out = plain;
    uint32_t x = 1;
    for (auto& byte : out) {
        x = x * 214013u + 2531011u;
        byte ^= static_cast<unsigned char>(x >> 16);
    }
    return out;
}

TEST(rawDwg, ScrambledHeaderOfThe2004Family)
{
    Bytes header(108, 0);
    std::memcpy(header.data(), "AcFssFcAJMB", 11);
    PutLE32(header, 16, 0x6C);
    PutLE32(header, 20, 4);
    PutLE32(header, 68, 32);
    PutLE32(header, 72, 0x80);
    PutLE32(header, 76, 0x40);
    PutLE64(header, 52, 9000);
    Bytes dwg = Text("AC1018");
    dwg.resize(0x80, 0);
    const Bytes scrambled = Scramble(header);
    dwg.insert(dwg.end(), scrambled.begin(), scrambled.end());
    dwg.resize(9108, 0x33);
    EXPECT_EQ(BruteForce::DwgScrambledHeaderSize(scrambled.data()), 9108);
    const Carved got = CarveAt(dwg);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, 9108);

    // A header that fails its checks gives no size.
    Bytes broken = header;
    PutLE32(broken, 68, 33);
    EXPECT_EQ(BruteForce::DwgScrambledHeaderSize(Scramble(broken).data()), 0);
    Bytes huge = header;
    PutLE64(huge, 52, 0x600000000ULL);
    EXPECT_EQ(BruteForce::DwgScrambledHeaderSize(Scramble(huge).data()), 0);
}

// 984 bytes whose de-interleaved form is data.
Bytes Interleave(const Bytes& data)
{
    Bytes out(984, 0);
    for (size_t k = 0; k < 3; ++k)
        for (size_t i = 0; i < 239; ++i)
            out[3 * i + k] = data[k * 239 + i];
    return out;
}

TEST(rawDwg, InterleavedHeaderOfThe2007Family)
{
    // Stored plainly (compressed length 0): the size at output byte 8.
    Bytes data(717, 0);
    PutLE64(data, 32 + 8, 7777);
    EXPECT_EQ(BruteForce::DwgInterleavedHeaderSize(Interleave(data).data(), 984), 7777);

    Bytes dwg = Text("AC1021");
    dwg.resize(0x80, 0);
    const Bytes interleaved = Interleave(data);
    dwg.insert(dwg.end(), interleaved.begin(), interleaved.end());
    dwg.resize(7777, 0x21);
    const Carved got = CarveAt(dwg);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, 7777);

    // Compressed: a 16-byte literal run (its two halves swapped) holds the
    // header size and the file size.
    Bytes packed(717, 0);
    PutLE32(packed, 24, 40);
    packed[32] = 16 - 8;
    Bytes plain(16, 0);
    PutLE64(plain, 0, 0x70);
    PutLE64(plain, 8, 123456);
    std::memcpy(packed.data() + 33, plain.data() + 8, 8);
    std::memcpy(packed.data() + 41, plain.data(), 8);
    EXPECT_EQ(BruteForce::DwgInterleavedHeaderSize(Interleave(packed).data(), 984), 123456);

    // A literal and a back-reference that repeats it.
    const unsigned char src[] = {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x37, 0x00, 0x00};
    unsigned char out[32] = {};
    const size_t produced = BruteForce::DwgDecompress2007(src, sizeof(src), out, sizeof(out));
    ASSERT_GE(produced, 11u);
    EXPECT_EQ(0, std::memcmp(out, "\x01\x02\x03\x04\x05\x06\x07\x08\x01\x02\x03", 11));

    // Random input: no read or write outside the buffers, whatever it says.
    std::mt19937 rng(17);
    for (int round = 0; round < 2000; ++round) {
        unsigned char noise[32];
        for (auto& b : noise)
            b = static_cast<unsigned char>(rng());
        unsigned char sink[32];
        EXPECT_LE(BruteForce::DwgDecompress2007(noise, sizeof(noise), sink, sizeof(sink)), sizeof(sink));
    }
}

// ---- SVG and its XML relatives --------------------------------------------------

TEST(rawSvg, ProbeTellsTheXmlFamilyApart)
{
    const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";  // 39 bytes
    const struct {
        const char* what;
        std::string head;
        unsigned int type;
    } cases[] = {
        {"svg", decl + "<svg xmlns=\"http://www.w3.org/2000/svg\">", 91},
        {"svg after a byte-order mark", "\xEF\xBB\xBF" + decl + "<svg>\n</svg>", 91},
        {"gpx at 39", decl + "<gpx version=\"1.1\">", 130},
        {"plist at 39", decl + "<!DOCTYPE plist PUBLIC>", 131},
        {"plist at 40", "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<!DOCTYPE plist PUBLIC>", 131},
        {"enex", decl + "<en-export application=\"Evernote\">", 139},
        {"csl", decl + "<style xmlns=\"http://purl.org/net/xbiblio/csl\">", 19},
        {"other xml", decl + "<html><body/></html>", 0},
        {"bare svg tag", "<svg width=\"10\">", 91},
        {"compressed form", "\xCD\x01\x00\x00"s, 91},
        {"bcfz", "bcfz", 130},
        {"single-quoted declaration", "<?xml version='1.0'?>\n<svg width=\"1\">", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes sector(512, 0);
        std::memcpy(sector.data(), c.head.data(), c.head.size());
        Brance::SVGAnalyser analyser;
        CRawFileInfo probe;
        EXPECT_EQ(analyser.AnalyseBuffer(sector.data(), probe), c.type ? 1 : 0);
        if (c.type) {
            EXPECT_EQ(probe.m_dwType, c.type);
        }
    }
}

TEST(rawSvg, TextFormsEndAtTheirClosingTag)
{
    const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    std::string svg = decl + "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100\" height=\"100\">\n";
    while (svg.size() < 3000)
        svg += "<rect x=\"1\" y=\"2\" width=\"3\" height=\"4\"/>\n";
    svg += "</svg>\n";
    for (unsigned int ss : {512u, 4096u}) {
        SCOPED_TRACE(ss);
        const Carved got = CarveAt(Text(svg), ss);
        ASSERT_EQ(got.files, 1);
        // Up to three zero bytes after the text come with it.
        EXPECT_GE(got.size, static_cast<long long>(svg.size()));
        EXPECT_LE(got.size, static_cast<long long>(svg.size()) + 3);
        EXPECT_EQ(got.folder, "svg");
        EXPECT_EQ(got.name.rfind(std::to_string(kStart) + "-", 0), 0u) << got.name;
    }

    // A small drawing without an XML declaration is found by its root tag.
    const std::string bare = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">"
                             "<rect width=\"10\" height=\"10\" fill=\"red\"/></svg>\n";
    for (unsigned int ss : {512u, 4096u}) {
        SCOPED_TRACE("bare at " + std::to_string(ss));
        const FollowedCarve got = CarveFollowed(Text(bare), Bytes(4096, 0), ss, GetRawAnalyserRows());
        EXPECT_EQ(got.file.folder, "svg");
        EXPECT_GE(got.file.size, static_cast<long long>(bare.size()));
        EXPECT_LE(got.file.size, static_cast<long long>(bare.size()) + 3);
    }

    // A sector that ends in zeros but holds no closing tag does not end it.
    std::string gap = decl + "<svg width=\"1\">\n";
    Bytes withZeros = Text(gap);
    withZeros.resize(1024, 0);
    withZeros.resize(1024 + 400, 'a');
    const Bytes tail = Text("\n</svg>\n");
    withZeros.insert(withZeros.end(), tail.begin(), tail.end());
    const Carved padded = CarveAt(withZeros);
    ASSERT_EQ(padded.files, 1);
    EXPECT_GE(padded.size, static_cast<long long>(withZeros.size()));
    EXPECT_LE(padded.size, static_cast<long long>(withZeros.size()) + 3);

    std::string gpx = decl + "<gpx version=\"1.1\">\n";
    while (gpx.size() < 2000)
        gpx += "<trkpt lat=\"47.1\" lon=\"8.5\"></trkpt>\n";
    gpx += "</gpx>\n";
    const Carved track = CarveAt(Text(gpx));
    ASSERT_EQ(track.files, 1);
    EXPECT_EQ(track.folder, "gpx");
    EXPECT_EQ(track.size, static_cast<long long>(gpx.size()) + 2);

    // A track that fills its sector but for two bytes closes in that sector;
    // the next, all-zero sector finds the tag in it.
    std::string full = decl + "<gpx version=\"1.1\">\n";
    full += std::string(510 - full.size() - 7, ' ') + "</gpx>\n";
    ASSERT_EQ(full.size(), 510u);
    const Carved filled = CarveAt(Text(full));
    ASSERT_EQ(filled.files, 1);
    EXPECT_EQ(filled.size, 512);
}

// A drawing ends after its root element's closing tag and one end of line
// whatever follows it, also with a drawing nested in it; cut short, it keeps
// no byte of the next file.
TEST(rawSvg, EndsAfterItsRootElementWhateverFollows)
{
    std::string nested = "<?xml version=\"1.0\"?>\r\n<svg xmlns=\"http://www.w3.org/2000/svg\">\r\n<svg\n x=\"1\">";
    while (nested.size() < 5000)
        nested += "<circle r=\"2\"/>\r\n";
    nested += "</svg>\r\n</svg>\r\n";
    const std::string bare = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">"
                             "<rect width=\"10\" height=\"10\" fill=\"red\"/></svg>\n";
    const Bytes random = followed::Noise(20000, 6);
    Bytes cut = Text(nested);
    cut.resize(3000);
    // Old text in the rest of the last sector too.
    auto slack = [](const std::string& text) {
        Bytes b = Text(text);
        b.resize((b.size() + 4095) / 4096 * 4096, 'q');
        return b;
    };
    const long long nestedSize = static_cast<long long>(nested.size());
    const long long bareSize = static_cast<long long>(bare.size());
    followed::ExpectEnds({
        {"zeros", slack(nested), Bytes(8192, 0), nestedSize},
        {"random bytes", slack(nested), random, nestedSize},
        {"no declaration, then random bytes", slack(bare), random, bareSize},
        {"another drawing", slack(bare), Text(nested), bareSize},
        {"a PDF", slack(nested), followed::PdfHead(), nestedSize},
        {"cut short, then a PDF", cut, followed::PdfHead(), -1, true},
    });
}

TEST(rawSvg, CompressedFormAndDeviceSizer)
{
    Bytes binary = {0xCD, 0x01, 0x00, 0x00};
    binary.resize(1100, 0x10);
    PutLE32(binary, 1100, 3000);
    binary.resize(1152 + 3000, 0x20);
    const Carved got = CarveAt(binary);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, 4152);

    for (unsigned int ss : {512u, 4096u}) {
        SCOPED_TRACE(ss);
        Bytes text(3 * ss - 100, 'x');
        ByteDevice device(40, ss);
        device.Put(2 * ss, text);
        FileSVGAnalyser fallback;
        CRawFileInfo info;
        info.m_llStartSector = 2;
        ASSERT_EQ(fallback.GetRawFileSize(info, &device), 1);
        EXPECT_EQ(info.m_llSize, 3 * static_cast<long long>(ss));
        // Nothing readable: no size.
        CRawFileInfo lost;
        lost.m_llStartSector = 100;
        EXPECT_EQ(fallback.GetRawFileSize(lost, &device), 0);
    }
}

// ---- EPS, FreeHand, WPG, WordPerfect, CPT -------------------------------------

TEST(rawDrawing, HeaderAndZeroEndSizes)
{
    // PostScript EPS: ends where its zero padding starts.
    std::string eps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n" + Lines(3000, "\n") + "%%EOF\n";
    Carved got = CarveAt(Text(eps));
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, static_cast<long long>(eps.size()));
    EXPECT_EQ(got.folder, "eps");
    EXPECT_EQ(CarveAt(Text("%!PS-Adobe3.0\n" + Lines(600, "\n"))).files, 0);

    // DOS EPS: the largest section end.
    Bytes dos = {0xC5, 0xD0, 0xD3, 0xC6};
    PutLE32(dos, 4, 30);
    PutLE32(dos, 8, 2000);
    PutLE32(dos, 12, 0);
    PutLE32(dos, 16, 0);
    PutLE32(dos, 20, 2030);
    PutLE32(dos, 24, 500);
    dos.resize(2530, 0x7A);
    got = CarveAt(dos);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, 2530);

    // One analyser object asked about a PostScript EPS and then a DOS EPS:
    // each candidate is of the kind its own probe chose.
    BruteForce::CEPSAnalyser analyser;
    Bytes ps = Text("%!PS-Adobe-3.0 EPSF-3.0\n");
    ps.resize(512, 0);
    CRawFileInfo probe;
    ASSERT_EQ(analyser.AnalyseBuffer(ps.data(), probe), 1);
    std::unique_ptr<CRawFileInfo> zeroEnd(analyser.CreateRawFileInfo());
    EXPECT_TRUE(zeroEnd->WhetherImplementGuess());
    Bytes dosSector = dos;
    dosSector.resize(512);
    CRawFileInfo dosProbe;
    ASSERT_EQ(analyser.AnalyseBuffer(dosSector.data(), dosProbe), 1);
    EXPECT_EQ(dosProbe.m_llSize, 2530);
    std::unique_ptr<CRawFileInfo> plain(analyser.CreateRawFileInfo());
    EXPECT_FALSE(plain->WhetherImplementGuess());

    // FreeHand 11.
    Bytes fh(3000, 0x61);
    const unsigned char mark[] = {0x1C, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C, 0x01, 0x14,
                                  0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
    std::memcpy(fh.data(), mark, sizeof(mark));
    fh[34] = '1';
    fh[35] = '1';
    got = CarveAt(fh);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.folder, "fh11");
    EXPECT_EQ(got.size, 3000);

    // WPG: zero tail of at least 16 bytes, a dotted sector-range name.
    Bytes wpg = Text("wpg"s + '\0');
    wpg.resize(1500, 0x44);
    got = CarveAt(wpg);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, 1500);
    EXPECT_EQ(got.name.rfind("3-5.", 0), 0u) << got.name;
}

TEST(rawDrawing, WordPerfectHeaderSelectsTheType)
{
    const struct {
        uint32_t at8;
        uint32_t at14;
        int accepted;
        unsigned int type;
    } cases[] = {
        {0x01020A01, 0x00050200, 1, 68},
        {0x00021601, 0x00030000, 1, 69},
        {0x00010F0F, 0x00030000, 1, 61},
        {0x01020A01, 0x00030000, 0, 0},
        {0x00021601, 0x00050200, 0, 0},
    };
    for (const auto& c : cases) {
        Bytes sector(512, 0);
        std::memcpy(sector.data(), "\xFFWPC", 4);
        PutLE32(sector, 8, c.at8);
        PutLE32(sector, 14, c.at14);
        PutLE32(sector, 20, 4321);
        FileWPDAnalyser analyser;
        CRawFileInfo probe;
        EXPECT_EQ(analyser.AnalyseBuffer(sector.data(), probe), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(probe.m_dwType, c.type);
            EXPECT_EQ(probe.m_llSize, 4321);
        }
    }
}

TEST(rawDrawing, CptTableWalkOnTheDevice)
{
    // Table at 316 with two entries; the last entry's record points at a
    // block whose two fields add up to the size.
    Bytes cpt = Text("CPT9FILE");
    cpt.resize(4096, 0);
    PutLE32(cpt, 52, 316);
    PutLE32(cpt, 40, 2);
    const uint32_t entry = 1000;
    PutLE32(cpt, 316 + 8, entry);
    PutLE32(cpt, entry + 32, 0);
    const uint32_t a = 2000;
    PutLE32(cpt, entry + 60, a);
    PutLE32(cpt, entry + 64, 1);
    PutLE32(cpt, a - 8, 3000);
    PutLE32(cpt, a - 4, 500);
    ByteDevice device(40, 512);
    device.Put(2 * 512, cpt);
    FileCPTAnalyser analyser;
    CRawFileInfo probe;
    ASSERT_EQ(analyser.AnalyseBuffer(device.Sector(2), probe), 1);
    CRawFileInfo info;
    info.m_llStartSector = 2;
    ASSERT_EQ(analyser.GetRawFileSize(info, &device), 1);
    EXPECT_EQ(info.m_llSize, 3500);

    // Without the block fields the entry offset is the size.
    Bytes plain = cpt;
    PutLE32(plain, entry + 64, 0);
    device.Put(2 * 512, plain);
    CRawFileInfo second;
    second.m_llStartSector = 2;
    ASSERT_EQ(analyser.GetRawFileSize(second, &device), 1);
    EXPECT_EQ(second.m_llSize, 1000);

    // Offsets pointing before the file or past the device: no size.
    Bytes wild = cpt;
    PutLE32(wild, entry + 60, 4);
    device.Put(2 * 512, wild);
    CRawFileInfo third;
    third.m_llStartSector = 2;
    EXPECT_EQ(analyser.GetRawFileSize(third, &device), 0);
    Bytes far = cpt;
    PutLE32(far, 40, 0x10000000);
    device.Put(2 * 512, far);
    CRawFileInfo fourth;
    fourth.m_llStartSector = 2;
    EXPECT_EQ(analyser.GetRawFileSize(fourth, &device), 0);
}

}  // namespace
