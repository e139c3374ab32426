// The JPEG analysers on real pictures: the probe, the streaming end search
// through the real searcher with small blocks (so that segments and end
// markers straddle block ends), and the whole-file sizing, at both sector
// sizes, with ends at every position near a sector's end.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "JpegAnalyser.h"
#include "JpegFixtures.h"
#include "RawAnalyserTable.h"
#include "SearchHarness.h"

namespace {

using Bytes = std::vector<unsigned char>;

const RawAnalyserRow kJpegRows[] = {
    {RAW_KEY_4, Key4(0xFF, 0xD8, 0xFF, 0xE0), &CreateJpegAnalyzer, 35},
    {RAW_KEY_4, Key4(0xFF, 0xD8, 0xFF, 0xE1), &CreateJpegAnalyzer, 35},
    {RAW_KEY_4, Key4(0xFF, 0xD8, 0xFF, 0xDB), &CreateJpegAnalyzer, 35},
    {RAW_KEY_4, Key4(0xFF, 0xD8, 0xFF, 0xEE), &CreateJpegAnalyzer, 35},
};

bool AllDigits(const std::string& s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// prefix, then "<digits>.JPG" with at least three digits of the counter.
bool IsCountedName(const std::string& name, const std::string& prefix)
{
    return name.size() >= prefix.size() + 7 && name.rfind(prefix, 0) == 0 &&
           name.compare(name.size() - 4, 4, ".JPG") == 0 &&
           AllDigits(name.substr(prefix.size(), name.size() - prefix.size() - 4));
}

// prefix, then "<start>-<end sector><counter>.JPG".
bool IsSectorName(const std::string& name, const std::string& prefix)
{
    if (name.rfind(prefix, 0) != 0)
        return false;
    const size_t dash = name.find('-', prefix.size());
    if (dash == std::string::npos || !AllDigits(name.substr(prefix.size(), dash - prefix.size())))
        return false;
    // The end sector and a counter of at least three digits.
    const std::string rest = name.substr(dash + 1);
    return rest.size() >= 8 && IsCountedName(rest, "");
}

// Every picture that must be carved exactly when zeros follow it.
std::vector<std::string> GoodPictures()
{
    std::vector<std::string> names = {"jfif.jpg",      "jfif-small.jpg", "canon-jfif.jpg",  "canon-le.jpg",
                                      "xiaomi1.jpg",   "xiaomi2.jpg",    "thumb.jpg",       "thumb-pad.jpg",
                                      "exif-small.jpg", "exif-tiny.jpg", "exif-smooth.jpg", "bare.jpg",
                                      "progressive.jpg", "adobe.jpg",    "fuji.jpg"};
    for (int d : {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13})
        for (const char* base : {"jfif", "xiaomi1"})
            names.push_back("end/" + std::string(base) + "-" + std::to_string(d) + ".jpg");
    return names;
}

struct Planted {
    std::string name;
    long long offset;
    long long size;
};

// Lays the pictures out 4 KiB-aligned, each followed by 64 KiB of zeros.
std::vector<Planted> Layout(const std::vector<std::string>& names, long long& total)
{
    std::vector<Planted> planted;
    long long at = 65536;
    for (const std::string& name : names) {
        const long long size = static_cast<long long>(JpegFixture(name).size());
        planted.push_back({name, at, size});
        at = (at + size + 4095) / 4096 * 4096 + 65536;
    }
    total = at;
    return planted;
}

void Put(ByteDevice& device, const std::vector<Planted>& planted)
{
    for (const Planted& p : planted)
        device.Put(p.offset, JpegFixture(p.name));
}

// ---- probe --------------------------------------------------------------------------

TEST(rawJpegProbe, HeadersAcceptAndStructureDecidesTheRest)
{
    REQUIRE_JPEG_FIXTURES();
    auto lower = [](Bytes b) {
        for (int i = 6; i < 10; ++i)
            b[i] = static_cast<unsigned char>(std::tolower(b[i]));
        return b;
    };
    auto precision12 = [](Bytes b) {
        b[140 + 4] = 12;  // bare.jpg's frame is at 140
        return b;
    };
    // FF D8 FF DB, a quantisation table, n fill markers, then a frame and a
    // scan of three components.
    auto filled = [](int fills) {
        Bytes b = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43};
        b.resize(b.size() + 0x41, 1);
        for (int i = 0; i < fills; ++i)
            b.insert(b.end(), {0xFF, 0xFF});
        const Bytes tail = {0xFF, 0xC0, 0, 17, 8, 0, 16, 0, 16, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1,
                            0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0};
        b.insert(b.end(), tail.begin(), tail.end());
        b.resize((b.size() + 511) / 512 * 512, 0);
        return b;
    };
    const struct {
        const char* what;
        Bytes bytes;
        long long sectorSize;
        int ex;       // AnalyseBufferEx
        int single;   // AnalyseBuffer, which must decide alone
    } rows[] = {
        {"JFIF", JpegFixture("jfif.jpg"), 512, 1, 1},
        {"Exif", JpegFixture("xiaomi1.jpg"), 512, 1, 1},
        {"exif in lower case", lower(JpegFixture("xiaomi1.jpg")), 512, 1, 1},
        {"jfif in lower case", lower(JpegFixture("jfif.jpg")), 512, 1, 1},
        {"bare baseline", JpegFixture("bare.jpg"), 512, 1, 1},
        {"bare progressive", JpegFixture("progressive.jpg"), 512, 1, 1},
        {"Adobe segment, three components", JpegFixture("adobe.jpg"), 512, 1, 1},
        {"grey", JpegFixture("absent/gray.jpg"), 512, 0, 1},
        {"CMYK", JpegFixture("absent/cmyk.jpg"), 512, 0, 1},
        {"12-bit samples", precision12(JpegFixture("bare.jpg")), 512, 0, 1},
        {"scan past the block end", JpegFixture("bare.jpg"), 256, 0, 1},
        {"20,000 fill markers", filled(20000), 512, 1, 1},
        {"20,480 fill markers", filled(20480), 512, 0, 1},
    };
    for (const auto& row : rows) {
        ASSERT_GE(row.bytes.size(), 4096u) << row.what;
        Bytes b = row.bytes;
        // The block in memory ends after 8 sectors, or after one sector in
        // the row that asks for it.
        const long long sectors = row.sectorSize == 256 ? 1 : static_cast<long long>(b.size()) / row.sectorSize;
        BruteForce::JpegAnalyzer analyser;
        CRawFileInfo ex;
        EXPECT_EQ(analyser.AnalyseBufferEx(b.data(), ex, row.sectorSize, 1000, 984, 1000 + sectors) != 0, row.ex == 1)
            << row.what;
        if (row.ex) {
            EXPECT_EQ(ex.m_dwType, 35u) << row.what;
        }
        CRawFileInfo single;
        EXPECT_EQ(analyser.AnalyseBuffer(b.data(), single), row.single) << row.what;
    }
    // Second markers that no key selects are refused on their own as well.
    for (unsigned char second : {0xE2, 0xED, 0xFE, 0xC0}) {
        Bytes b = JpegFixture("bare.jpg");
        b[3] = second;
        CRawFileInfo info;
        EXPECT_EQ(BruteForce::JpegAnalyzer().AnalyseBuffer(b.data(), info), 0) << int(second);
    }
}

// ---- both paths over pictures followed by zeros ------------------------------------

class rawJpegZeroImage : public ::testing::TestWithParam<unsigned int> {};

TEST_P(rawJpegZeroImage, EveryPictureEndsExactlyInTheStream)
{
    REQUIRE_JPEG_FIXTURES();
    const unsigned int ss = GetParam();
    long long total = 0;
    const std::vector<Planted> planted = Layout(GoodPictures(), total);
    SearchHarness h(total / ss, ss, kJpegRows);
    Put(h.Device(), planted);
    h.Prepare();
    h.BlocksFrom(0);
    // Before the search ends: each picture found its end by itself.
    const std::vector<CarvedFile> files = h.Files();
    EXPECT_EQ(files.size(), planted.size());
    for (const Planted& p : planted) {
        const CarvedFile* f = h.FileAt(p.offset / ss);
        ASSERT_NE(f, nullptr) << p.name;
        EXPECT_EQ(f->size, p.size) << p.name;
        const std::string tail = std::to_string(p.offset / ss) + "-";
        if (p.name == "canon-jfif.jpg") {
            EXPECT_EQ(f->folder, "CANON");
            EXPECT_EQ(f->name.rfind("CANON_Canon PowerShot SX530 HS_" + tail, 0), 0u) << f->name;
        } else if (p.name == "canon-le.jpg") {
            EXPECT_EQ(f->folder, "CANON");
            EXPECT_EQ(f->name.rfind("CANON_Canon EOS 5D Mark II_" + tail, 0), 0u) << f->name;
        } else if (p.name == "fuji.jpg") {
            EXPECT_EQ(f->folder, "FUJIFILM");
            EXPECT_EQ(f->name.rfind("FUJIFILM_" + tail, 0), 0u) << f->name;
        } else if (p.name.find("xiaomi") != std::string::npos || p.name.find("exif") != std::string::npos ||
                   p.name.find("thumb") != std::string::npos) {
            EXPECT_EQ(f->folder, "XIAOMI") << p.name;
            EXPECT_TRUE(IsSectorName(f->name, "XIAOMI_Mi A3_")) << f->name;
        } else {
            EXPECT_EQ(f->folder, "jpg") << p.name;
            EXPECT_TRUE(IsSectorName(f->name, "")) << f->name;
            EXPECT_EQ(f->name.rfind(tail, 0), 0u) << f->name;
        }
    }
    h.End();
    EXPECT_EQ(h.Files().size(), planted.size());
}

TEST_P(rawJpegZeroImage, WholeFileSizingIsExactForEveryPicture)
{
    REQUIRE_JPEG_FIXTURES();
    const unsigned int ss = GetParam();
    long long total = 0;
    const std::vector<Planted> planted = Layout(GoodPictures(), total);
    ByteDevice device(total / ss, ss);
    Put(device, planted);
    FileJPGAnalyser analyser;
    for (const Planted& p : planted) {
        CRawFileInfo info;
        info.m_llStartSector = p.offset / ss;
        ASSERT_EQ(analyser.GetRawFileSize(info, &device), 1) << p.name;
        EXPECT_EQ(info.m_llSize, p.size) << p.name;
        EXPECT_EQ(info.m_dwType, 35u);
        RAW_FILE_TAG tag;
        std::string value;
        analyser.GetRawFileTagAndValue(tag, value);
        if (p.name == "canon-jfif.jpg") {
            EXPECT_EQ(info.GetRawFileName(), "Canon PowerShot SX530 HS");
            EXPECT_EQ(info.m_strTime, "2020:08:27 23:16:12");
            EXPECT_EQ(analyser.GetRawFileName(), "Canon PowerShot SX530 HS");
            EXPECT_EQ(analyser.GetRawFileTime(), "2020:08:27 23:16:12");
            EXPECT_EQ(tag, RAW_TAG_CAMERA);
            EXPECT_EQ(value, "Canon PowerShot SX530 HS");
        } else if (p.name == "bare.jpg" || p.name == "jfif.jpg") {
            EXPECT_EQ(tag, RAW_TAG_NONE) << p.name;
            EXPECT_EQ(value, "") << p.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, rawJpegZeroImage, ::testing::Values(512u, 4096u));

// ---- block ends -----------------------------------------------------------------------

// A picture whose APP1 segment (6.6 KB, with the thumbnail's end marker and
// 2 KiB of zeros in it) starts in every sector of a block: the EXIF block is
// read once all of it is in memory, and neither the thumbnail's end nor the
// zeros end the picture.
TEST(rawJpegStream, SegmentsAcrossBlockEndsAreReadWhole)
{
    REQUIRE_JPEG_FIXTURES();
    const Bytes picture = JpegFixture("thumb-pad.jpg");
    const unsigned int ss = 512;
    for (long long first = 0; first < SearchHarness::kBlock; ++first) {
        const long long total = first + static_cast<long long>(picture.size()) / ss + 40;
        SearchHarness h(total, ss, kJpegRows);
        h.Device().Put(first * ss, picture);
        h.Run();
        const CarvedFile* f = h.FileAt(first);
        ASSERT_NE(f, nullptr) << "start " << first;
        EXPECT_EQ(f->size, static_cast<long long>(picture.size())) << "start " << first;
        EXPECT_EQ(f->folder, "XIAOMI") << "start " << first;
    }
}

// An end marker that closes a block's last sector is confirmed by the next
// block's first bytes, never by what lies past the block in memory.
TEST(rawJpegStream, EndAtABlocksEndWaitsForTheNextBlock)
{
    REQUIRE_JPEG_FIXTURES();
    const Bytes picture = JpegFixture("end/jfif-0.jpg");
    for (unsigned int ss : {512u, 4096u}) {
        ASSERT_EQ(picture.size() % ss, 0u);
        const long long block = SearchHarness::kBlock;
        const long long sectors = static_cast<long long>(picture.size()) / ss;
        // The picture's last sector is the last of a block.
        const long long first = (sectors / block + 2) * block - sectors;
        for (bool zeros : {true, false}) {
            const long long total = first + sectors + 2 * block;
            SearchHarness h(total, ss, kJpegRows);
            h.Device().Put(first * ss, picture);
            if (!zeros)
                for (long long s = first + sectors; s < total; ++s)
                    std::memset(h.Device().Sector(s), 0x5A, ss);
            h.Prepare();
            h.BlocksFrom(0);
            const CarvedFile* f = h.FileAt(first);
            // The scan data's end marker ends it, whatever the next block
            // holds.
            ASSERT_NE(f, nullptr) << ss << " zeros " << zeros;
            EXPECT_EQ(f->size, static_cast<long long>(picture.size())) << ss << " zeros " << zeros;
            h.End();
            EXPECT_EQ(h.Files().size(), 1u);
        }
    }
}

// A picture whose end marker never comes stops once it covers more than its
// cap: 50 MiB with an Exif header, 20 MiB without.
TEST(rawJpegStream, PicturesWithoutAnEndStopAtTheirCap)
{
    REQUIRE_JPEG_FIXTURES();
    const struct {
        const char* picture;
        long long cap;
    } rows[] = {{"exif-small.jpg", 52428800}, {"jfif-small.jpg", 20971520}};
    const int ss = 512;
    for (const auto& row : rows) {
        Bytes head = JpegFixture(row.picture);
        head.resize(8192);
        Bytes noise(ss);
        std::mt19937 random(1);
        for (unsigned char& c : noise)
            c = static_cast<unsigned char>(random() | 1);

        BruteForce::JpegAnalyzer analyser;
        std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
        info->m_llStartSector = 100;
        CRawFileInfo::SearchContext context;
        context.dwSectorSize = ss;
        // The picture's first 16 sectors in memory, then sectors of noise
        // further on, each alone in its block.
        context.pBlockBase = head.data();
        context.llBaseSector = context.llLookBackStart = 100;
        context.llBlockEnd = 116;
        for (long long s = 100; s < 116; ++s) {
            context.SetZeroCounts(head.data() + (s - 100) * ss, ss);
            ASSERT_EQ(info->CalcRawSize(head.data() + (s - 100) * ss, ss, s, context), 2) << row.picture;
        }
        const long long last = 100 + row.cap / ss;
        int result = 2;
        for (long long s : {last - 1, last, last + 1}) {
            context.pBlockBase = noise.data();
            context.llBaseSector = context.llLookBackStart = s;
            context.llBlockEnd = s + 1;
            context.SetZeroCounts(noise.data(), ss);
            result = info->CalcRawSize(noise.data(), ss, s, context);
            if (result == 1)
                break;
        }
        EXPECT_EQ(result, 1) << row.picture;
        EXPECT_EQ(info->m_llSize, row.cap) << row.picture;
    }
}

// ---- pushed-out candidates --------------------------------------------------------------

// Pictures cut before their end marker and followed by random bytes never
// end in the stream (and these are too small for a pixel estimate); the
// next picture's header hands the first to the whole-file path, which keeps
// the camera label it got while streaming and names it after the model.
TEST(rawJpegStream, PushedOutCandidateKeepsItsLabel)
{
    REQUIRE_JPEG_FIXTURES();
    const unsigned int ss = 512;
    Bytes tagged = JpegFixture("exif-small.jpg");
    Bytes small = JpegFixture("jfif-small.jpg");
    ASSERT_GT(tagged.size(), 2u);
    ASSERT_GT(small.size(), 2u);
    tagged.resize(tagged.size() - 2);
    small.resize(small.size() - 2);
    std::vector<std::pair<long long, const Bytes*>> layout;
    long long at = 0;
    auto place = [&](const Bytes& b) {
        layout.push_back({at, &b});
        at = (at + static_cast<long long>(b.size()) + 4095) / 4096 * 4096 + 4096;
    };
    place(tagged);
    for (int i = 0; i < 32; ++i)
        place(small);
    const long long total = (at + 4 * 1024 * 1024) / ss;
    SearchHarness h(total, ss, kJpegRows);
    std::mt19937 random(6);
    for (unsigned char& c : h.Device().Bytes())
        c = static_cast<unsigned char>(random() | 1);
    for (const auto& [offset, bytes] : layout)
        h.Device().Put(offset, *bytes);
    h.Run();

    const std::vector<CarvedFile> files = h.Files();
    ASSERT_EQ(files.size(), layout.size());
    for (const auto& [offset, bytes] : layout) {
        const CarvedFile* f = h.FileAt(offset / ss);
        ASSERT_NE(f, nullptr) << offset;
        ASSERT_GE(f->size, static_cast<long long>(bytes->size())) << offset;
    }
    const CarvedFile* first = h.FileAt(0);
    EXPECT_EQ(first->folder, "XIAOMI");
    EXPECT_TRUE(IsCountedName(first->name, "Mi A3")) << first->name;
}

}  // namespace

namespace {

Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (unsigned char& c : b)
        c = static_cast<unsigned char>(rng());
    return b;
}

}  // namespace

// The scan data ends a picture at its end marker whatever follows it, also
// progressive pictures and pictures with a thumbnail; a picture cut short
// never runs into the file after it.
TEST(rawJpegStream, EndsAtItsEndMarkerWhateverFollows)
{
    REQUIRE_JPEG_FIXTURES();
    const Bytes next = JpegFixture("jfif-small.jpg");
    std::string pdfText = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
    pdfText.resize(3000, ' ');
    const Bytes pdf(pdfText.begin(), pdfText.end());
    for (const char* name : {"jfif.jpg", "progressive.jpg", "thumb.jpg", "exif-small.jpg", "canon-le.jpg"}) {
        const Bytes picture = JpegFixture(name);
        ASSERT_GT(picture.size(), 4000u) << name;
        const Bytes cut(picture.begin(), picture.end() - 2000);
        const struct {
            const char* what;
            const Bytes& file;
            Bytes after;
        } cases[] = {
            {"zeros", picture, Bytes(20000, 0)},
            {"random bytes", picture, RandomBytes(200000, 3)},
            {"another picture", picture, next},
            {"a PDF", picture, pdf},
            {"cut short, then another picture", cut, next},
        };
        for (const auto& c : cases) {
            for (unsigned int ss : {512u, 4096u}) {
                SCOPED_TRACE(std::string(name) + ", " + c.what + " at " + std::to_string(ss));
                const FollowedCarve carved = CarveFollowed(c.file, c.after, ss, GetRawAnalyserRows());
                if (&c.file == &picture) {
                    EXPECT_EQ(carved.file.size, static_cast<long long>(picture.size()));
                } else {
                    EXPECT_GE(carved.file.size, static_cast<long long>(cut.size()));
                    EXPECT_LE(carved.file.size, (carved.nextSector - FollowedCarve::kFollowedStart) * ss)
                        << "holds the next picture's head";
                }
            }
        }
    }
}
