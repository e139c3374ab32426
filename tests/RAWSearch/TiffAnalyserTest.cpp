// TIFF pictures and TIFF-based camera raw on crafted bytes: the streaming
// directory walk (ends, names, types, the limits that hand a file to the
// device walk), the device walk, and damaged structures.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "CameraRawBytes.h"
#include "FollowedCases.h"
#include "SearchHarness.h"
#include "TiffAnalyser.h"

namespace {

using namespace rawtest;
using TiffInfo = BruteForce::TiffAnalyzer::TiffRawFileInfo;

struct Tag {
    uint16_t wTag;
    uint16_t wType;
    uint32_t dwCount;
    uint32_t dwValue;
    Bytes data;  // written behind the directory when not empty
};

Tag Long(uint16_t tag, uint32_t v) { return {tag, 4, 1, v, {}}; }
Tag Ascii(uint16_t tag, const std::string& text)
{
    Bytes data(text.begin(), text.end());
    data.push_back(0);
    return {tag, 2, static_cast<uint32_t>(data.size()), 0, data};
}

// Writes a directory at at; out-of-line values follow it. Returns the end.
size_t WriteIfd(Bytes& b, size_t at, const std::vector<Tag>& tags, uint32_t link, bool little)
{
    Put16(b, at, static_cast<uint32_t>(tags.size()), little);
    size_t data = at + 2 + 12 * tags.size() + 4;
    for (size_t i = 0; i < tags.size(); ++i) {
        const Tag& t = tags[i];
        const size_t e = at + 2 + 12 * i;
        Put16(b, e, t.wTag, little);
        Put16(b, e + 2, t.wType, little);
        Put32(b, e + 4, t.dwCount, little);
        if (t.data.size() > 4) {
            Put32(b, e + 8, static_cast<uint32_t>(data), little);
            if (b.size() < data + t.data.size())
                b.resize(data + t.data.size());
            std::copy(t.data.begin(), t.data.end(), b.begin() + static_cast<long>(data));
            data += (t.data.size() + 1) & ~size_t{1};
        } else if (!t.data.empty()) {
            Put32(b, e + 8, 0, little);
            std::copy(t.data.begin(), t.data.end(), b.begin() + static_cast<long>(e + 8));
        } else if (t.wType == 3) {
            Put16(b, e + 8, t.dwValue, little);
        } else {
            Put32(b, e + 8, t.dwValue, little);
        }
    }
    Put32(b, at + 2 + 12 * tags.size(), link, little);
    if (b.size() < data)
        b.resize(data);
    return data;
}

Bytes Header(bool little, uint32_t firstIfd)
{
    Bytes b;
    if (little)
        b = {'I', 'I', 0x2A, 0};
    else
        b = {'M', 'M', 0, 0x2A};
    Put32(b, 4, firstIfd, little);
    return b;
}

// Non-zero bytes in [from, to).
void Fill(Bytes& b, size_t from, size_t to, unsigned char v = 0x5A)
{
    if (b.size() < to)
        b.resize(to);
    std::fill(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to), v);
}

// A picture with one strip of count bytes at offset, camera texts optional.
Bytes StripTiff(bool little, uint32_t offset, uint32_t count, const std::string& make = "",
                const std::string& model = "")
{
    Bytes b = Header(little, 8);
    std::vector<Tag> tags = {Long(256, 100), Long(257, 100)};
    if (!make.empty())
        tags.push_back(Ascii(271, make));
    if (!model.empty())
        tags.push_back(Ascii(272, model));
    tags.push_back(Long(273, offset));
    tags.push_back(Long(279, count));
    tags.push_back(Ascii(306, "2020:01:02 03:04:05"));
    WriteIfd(b, 8, tags, 0, little);
    Fill(b, offset, offset + count);
    return b;
}

TEST(rawTiffStream, EndsAtTheFirstZeroSectorBeyondTheLargestEnd)
{
    // One strip at 2,000,000 of 3,000,000 bytes: the largest end is
    // 5,000,000; the bytes before the strip are non-zero too, so sectors
    // with some zero bytes at their end but fewer than 32 never finish it.
    Bytes b = StripTiff(true, 2000000, 3000000);
    Fill(b, 512, 2000000, 0x11);
    for (size_t s = 1; s < 9000; s += 7)
        std::fill(b.begin() + static_cast<long>(s * 512 + 500), b.begin() + static_cast<long>(s * 512 + 512), 0);
    TiffInfo info(nullptr);
    const FeedResult r = Feed(info, b, 512);
    // 5,000,000 lies in sector 9765; the directory chain was read whole,
    // so the file ends there and not with that sector.
    EXPECT_EQ(r.llSector, 5000000 / 512);
    EXPECT_EQ(r.llSize, 5000000);
    EXPECT_EQ(info.m_llLargestEnd, 5000000);
    EXPECT_EQ(info.m_strName, "_0-9765_");
    EXPECT_EQ(info.m_strTime, "2020:01:02 03:04:05");
    EXPECT_EQ(info.m_dwType, TiffTypes::kTIF);
}

TEST(rawTiffStream, CameraNamesTypesAndExactEnds)
{
    struct Case {
        const char* make;
        const char* model;
        bool little;
        unsigned int type;
        const char* name;  // before the sector range
        const char* tag;
    } cases[] = {
        {"Nikon Corporation", "D70", true, TiffTypes::kNEF, "NIKON CORPORATION_D70_", "NIKON CORPORATION"},
        {"Canon", "Canon EOS 5D", false, TiffTypes::kCR2, "CANON_Canon EOS 5D_", "CANON"},
        {"SONY", "DSC-R1", true, TiffTypes::kSR2, "SONY_DSC-R1_", "SONY"},
        {"SONY", "ILCE-7", false, TiffTypes::kARW, "SONY_ILCE-7_", "SONY"},
        {"Panasonic", "DMC-GH1", true, TiffTypes::kRW2, "PANASONIC_DMC-GH1_", "PANASONIC"},
        {"Eastman Kodak", "DCS Pro SLR/n", true, TiffTypes::kKDC, "EASTMAN KODAK__", "EASTMAN KODAK"},
        {"Kodak", "DCS Pro SLR", true, TiffTypes::kDCR, "KODAK_DCS Pro SLR_", "KODAK"},
        {"OLYMPUS", "E-3", false, TiffTypes::kORF, "OLYMPUS_E-3_", "OLYMPUS"},
        // A make the camera-text rule refuses: the model names the file
        // and labels it.
        {"Nik/on", "D70", true, TiffTypes::kTIF, "D70_", "D70"},
        // A make of more than 30 characters is dropped too.
        {"A Very Long Camera Maker Name Inc", "X1", true, TiffTypes::kTIF, "X1_", "X1"},
        {"Leica", "M9", true, TiffTypes::kTIF, "LEICA_M9_", "LEICA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.make);
        const Bytes b = StripTiff(c.little, 9000, 20000, c.make, c.model);
        TiffInfo info(nullptr);
        const FeedResult r = Feed(info, b, 512);
        EXPECT_EQ(r.llSector, 29000 / 512);
        EXPECT_EQ(info.m_dwType, c.type);
        EXPECT_EQ(info.m_strName, std::string(c.name) + "0-" + std::to_string(29000 / 512) + "_");
        RAW_FILE_TAG tag;
        std::string value;
        info.GetRawFileTagAndValue(tag, value);
        EXPECT_EQ(tag, RAW_TAG_CAMERA);
        EXPECT_EQ(value, c.tag);
        // A raw type whose end lies in the last sector ends exactly there,
        // and so does a plain picture whose directories were read whole.
        EXPECT_EQ(r.llSize, 29000);
    }
}

TEST(rawTiffStream, ADngVersionOutranksTheMake)
{
    Bytes b = Header(true, 8);
    WriteIfd(b, 8, {Ascii(271, "NIKON"), Long(273, 9000), Long(279, 20000), {50706, 1, 4, 0x00000401, {}}}, 0, true);
    Fill(b, 9000, 29000);
    TiffInfo info(nullptr);
    Feed(info, b, 512);
    EXPECT_EQ(info.m_dwType, TiffTypes::kDNG);
}

TEST(rawTiffStream, StructuresTheSearchCannotFollowGoToTheDeviceWalk)
{
    struct Case {
        const char* what;
        Bytes bytes;
        long long sector;  // where it finishes without a size
    };
    std::vector<Case> cases;
    {
        Bytes b = {'I', 'I', 'U', 0};
        Fill(b, 4, 4000);
        cases.push_back({"49 49 55 00 header", b, 0});
    }
    {
        Bytes b;
        PutText(b, 0, "FUJIFILMCCD-RAW 0201FF383501");
        Fill(b, 32, 4000);
        cases.push_back({"RAF header", b, 0});
    }
    {
        Bytes b = Header(true, 4194305);
        Fill(b, 8, 4000);
        cases.push_back({"first directory too far", b, 0});
    }
    {
        // Two directories in one sector that link to each other.
        Bytes b = Header(false, 8);
        WriteIfd(b, 8, {Long(256, 10)}, 100, false);
        WriteIfd(b, 100, {Long(257, 10)}, 8, false);
        Fill(b, 200, 3000);
        cases.push_back({"backward link", b, 0});
    }
    {
        // Twelve chained directories: the twelfth sets the stop flag.
        Bytes b = Header(true, 8);
        for (uint32_t i = 0; i < 12; ++i)
            WriteIfd(b, 8 + 600 * i, {Long(256, 10 + i)}, i < 11 ? 8 + 600 * (i + 1) : 0, true);
        Fill(b, 8000, 9000);
        cases.push_back({"twelve directories", b, (8 + 600 * 11) / 512});
    }
    {
        // A sub-IFD offset of 1.
        Bytes b = Header(true, 8);
        WriteIfd(b, 8, {Long(330, 1)}, 0, true);
        cases.push_back({"sub-IFD at 1", b, 0});
    }
    {
        // A strip-offset array that lies outside the file's memory.
        Bytes b = Header(true, 8);
        WriteIfd(b, 8, {{273, 4, 20, 0x7FFFFFF0u, {}}}, 0, true);
        cases.push_back({"value outside memory", b, 0});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffInfo info(nullptr);
        const FeedResult r = Feed(info, c.bytes, 512);
        EXPECT_EQ(r.llSector, c.sector);
        EXPECT_EQ(r.llSize, 0);
    }
}

TEST(rawTiffStream, ADirectoryOf513EntriesIsNotRead)
{
    Bytes b = Header(true, 8);
    Put16(b, 8, 513, true);
    // Entries that would name a far end if they were read.
    for (int i = 0; i < 513; ++i) {
        Put16(b, 10 + 12 * i, 279, true);
        Put16(b, 12 + 12 * i, 4, true);
        Put32(b, 14 + 12 * i, 1, true);
        Put32(b, 18 + 12 * i, 90000000, true);
    }
    b.resize(10000, 0);
    TiffInfo info(nullptr);
    const FeedResult r = Feed(info, b, 512);
    EXPECT_EQ(info.m_llNextDirectory, 0);
    EXPECT_EQ(info.m_iDirectories, 0);
    EXPECT_EQ(info.m_llLargestEnd, 8192);
    EXPECT_GT(r.llSize, 0);
}

TEST(rawTiffStream, RandomDirectoriesNeverCrashOrRunAway)
{
    std::mt19937 rng(42);
    for (int round = 0; round < 400; ++round) {
        Bytes b(20000);
        for (auto& x : b)
            x = static_cast<unsigned char>(rng());
        const bool little = round % 2 == 0;
        Bytes h = Header(little, round % 3 == 0 ? 8 : rng() % 20000);
        std::copy(h.begin(), h.end(), b.begin());
        // Plausible entry counts more often than not.
        Put16(b, 8, rng() % 40, little);
        TiffInfo info(nullptr);
        const FeedResult r = Feed(info, b, 512);
        if (r.llSector >= 0 && r.llSize > 0) {
            EXPECT_GE(r.llSize, 512);
        }
        EXPECT_LE(info.m_iDirectories, TiffInfo::kMaxDirectories);
    }
}

// ---- the device walk ---------------------------------------------------------------

long long DeviceSize(const Bytes& file, unsigned int ss, CRawFileInfo& info, long long start = 3,
                     FileTIFAnalyser* walked = nullptr)
{
    ByteDevice device(static_cast<long long>(file.size() / ss) + 4000, ss);
    device.Put(start * ss, file);
    FileTIFAnalyser own;
    FileTIFAnalyser& analyser = walked ? *walked : own;
    info.m_llStartSector = start;
    if (!analyser.GetRawFileSize(info, &device))
        return -1;
    return info.m_llSize;
}

TEST(rawTiffFile, WalksTheChainSubDirectoriesAndNamesTheCamera)
{
    // IFD0 with the camera and an EXIF directory, IFD1 with a thumbnail,
    // the main strip far behind them.
    Bytes b = Header(false, 8);
    const size_t exif = 600;
    size_t end = WriteIfd(b, 8,
                          {Ascii(271, "Pentax"), Ascii(272, "K10D"), Long(273, 40000), Long(279, 200000),
                           Long(34665, exif)},
                          300, false);
    ASSERT_LT(end, 300u);
    WriteIfd(b, 300, {Long(513, 2000), Long(514, 5000)}, 0, false);
    WriteIfd(b, exif, {Ascii(36867, "2019:05:06 07:08:09"), Long(37724, 700000)}, 0, false);
    Fill(b, 2000, 7000, 0x33);
    b[2000] = 0xFF, b[2001] = 0xD8, b[2002] = 0xFF, b[2003] = 0xDB;
    Fill(b, 40000, 240000);
    CRawFileInfo info;
    FileTIFAnalyser analyser;
    // The 37724 entry's value is taken as an offset with its 4 bytes.
    EXPECT_EQ(DeviceSize(b, 512, info, 3, &analyser), (700004 + 511) / 512 * 512);
    unsigned long long thumbStart = 0, thumbSize = 0;
    analyser.GetThumbStartAndSize(thumbStart, thumbSize);
    EXPECT_EQ(thumbStart, 2000u);
    EXPECT_EQ(thumbSize, 5000u);
    EXPECT_EQ(info.m_dwType, TiffTypes::kPEF);
    EXPECT_EQ(info.m_strName, "PENTAX_K10D");
    EXPECT_EQ(info.m_strTime, "2019:05:06 07:08:09");
    RAW_FILE_TAG tag;
    std::string value;
    info.GetRawFileTagAndValue(tag, value);
    EXPECT_EQ(tag, RAW_TAG_CAMERA);
    EXPECT_EQ(value, "PENTAX");
}

TEST(rawTiffFile, SmallEndsAreSearchedForZeroSectorsAndUnbelievableOnesCapped)
{
    // A 20,000-byte picture whose last sector is full: the file ends with
    // the first sector after it that ends in zero bytes.
    Bytes b = StripTiff(true, 1000, 19480);
    Fill(b, 20480, 20480 + 700, 0x77);
    CRawFileInfo info;
    EXPECT_EQ(DeviceSize(b, 512, info), 20480 + 1024);
    // The same at 4096-byte sectors: the sector holding the end ends in zeros.
    CRawFileInfo info4k;
    EXPECT_EQ(DeviceSize(b, 4096, info4k, 1), 24576);

    // An end below 10,240 bytes is not believed.
    CRawFileInfo tiny;
    EXPECT_EQ(DeviceSize(StripTiff(false, 200, 3000), 512, tiny), FileTIFAnalyser::kFallbackSize / 512 * 512 + 512);
}

TEST(rawTiffFile, TypesFromHeaderAndDngAndRaf)
{
    {
        // 49 49 55 00 with a Panasonic make: RAW, or RW2 for a DMC- model.
        for (const auto& [model, type] : {std::pair<std::string, unsigned>{"DMC-FZ8", TiffTypes::kRW2},
                                          std::pair<std::string, unsigned>{"LX", TiffTypes::kRAW}}) {
            Bytes b = StripTiff(true, 1000, 30000, "Panasonic", model);
            b[2] = 'U';
            CRawFileInfo info;
            EXPECT_GT(DeviceSize(b, 512, info), 30000);
            EXPECT_EQ(info.m_dwType, type) << model;
        }
    }
    {
        Bytes b = StripTiff(true, 1000, 30000, "Canon", "EOS");
        WriteIfd(b, 8, {Ascii(271, "Canon"), Long(273, 1000), Long(279, 30000), {50706, 1, 4, 0x00000401, {}}}, 0,
                 true);
        CRawFileInfo info;
        EXPECT_EQ(DeviceSize(b, 512, info), 31232);
        EXPECT_EQ(info.m_dwType, TiffTypes::kDNG);
    }
    {
        // RAF: the JPEG with the camera's EXIF, the raw data named by the
        // header, and a TIFF part at 160.
        Bytes b;
        PutText(b, 0, "FUJIFILMCCD-RAW 0201FF383501");
        const uint32_t jpeg = 400;
        Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
        Bytes tiff = Header(true, 8);
        WriteIfd(tiff, 8, {Ascii(271, "FUJIFILM"), Ascii(272, "X-T1"), Ascii(36867, "2018:01:01 10:00:00")}, 0,
                 true);
        exif.insert(exif.end(), tiff.begin(), tiff.end());
        Bytes app1 = {0xFF, 0xD8, 0xFF, 0xE1, static_cast<unsigned char>((exif.size() + 2) >> 8),
                      static_cast<unsigned char>(exif.size() + 2)};
        app1.insert(app1.end(), exif.begin(), exif.end());
        PutText(b, jpeg, std::string(app1.begin(), app1.end()));
        Put32(b, 84, jpeg, false);
        Put32(b, 88, 20000, false);
        Put32(b, 100, 30000, false);
        Put32(b, 104, 50000, false);
        Bytes part = Header(true, 8);
        WriteIfd(part, 8, {Ascii(271, "FUJIFILM"), Ascii(272, "X-T1")}, 0, true);
        PutText(b, 160, std::string(part.begin(), part.end()));
        Fill(b, 30000, 80000);
        CRawFileInfo info;
        EXPECT_EQ(DeviceSize(b, 512, info), 80384);
        EXPECT_EQ(info.m_dwType, TiffTypes::kRAF);
        EXPECT_EQ(info.m_strName, "X-T1");
        EXPECT_EQ(info.m_strTime, "2018:01:01 10:00:00");
    }
}

TEST(rawTiffFile, DamagedFilesStayInBoundsAndFinish)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Bytes b(16384);
        for (auto& x : b)
            x = static_cast<unsigned char>(rng());
        Bytes h = Header(round % 2 == 0, round % 4 == 0 ? 8 : rng());
        std::copy(h.begin(), h.end(), b.begin());
        Put16(b, 8, rng() % 600, round % 2 == 0);
        CRawFileInfo info;
        const long long size = DeviceSize(b, 512, info);
        EXPECT_TRUE(size == 0 || (size >= 512 && size <= FileTIFAnalyser::kFallbackSize + 512)) << size;
    }
    // A read past the device's end is zero: the walk still ends.
    ByteDevice device(4, 512);
    Bytes b = Header(true, 8);
    WriteIfd(b, 8, {Long(273, 1000), Long(279, 100)}, 0, true);
    b.resize(512, 0);
    device.Put(3 * 512, b.data(), b.size());
    FileTIFAnalyser analyser;
    CRawFileInfo info;
    info.m_llStartSector = 3;
    EXPECT_EQ(analyser.GetRawFileSize(info, &device), 1);
}

TEST(rawTiffProbe, HeadersOfTheFamily)
{
    BruteForce::TiffAnalyzer streaming;
    FileTIFAnalyser whole;
    using namespace std::string_literals;
    const struct {
        std::string bytes;
        int streamingAccepts;
        int wholeAccepts;
    } cases[] = {
        {"II*\0"s, 1, 1},          {"MM\0*"s, 1, 1},         {"IIU\0"s, 1, 1},
        {"IIRO"s, 1, 1},           {"IIRS"s, 1, 1},          {"MMOR"s, 1, 1},
        {"FUJIFILMCCD-RAW "s, 1, 1}, {"FUJIFILMxxx"s, 0, 0}, {"II+\0"s, 0, 1},
    };
    for (const auto& c : cases) {
        Bytes sector(512, 0);
        std::memcpy(sector.data(), c.bytes.data(), c.bytes.size());
        CRawFileInfo info;
        EXPECT_EQ(streaming.AnalyseBuffer(sector.data(), info), c.streamingAccepts) << c.bytes;
        EXPECT_EQ(whole.AnalyseBuffer(sector.data(), info), c.wholeAccepts) << c.bytes;
    }
}

TEST(rawTiffSearch, ACarvedFileThroughTheSearcherAcrossBlocks)
{
    // The directory lies behind the image data, past the first blocks.
    Bytes b = Header(true, 30008);
    Fill(b, 8, 30008, 0x42);
    WriteIfd(b, 30008, {Ascii(271, "SAMSUNG"), Ascii(272, "NX1"), Long(273, 8), Long(279, 30000)}, 0, true);
    const long long file = static_cast<long long>(b.size());
    SearchHarness h(file / 512 + 40, 512, GetRawAnalyserRows());
    h.Device().Put(5 * 512, b);
    h.Run();
    const CarvedFile* f = h.FileAt(5);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size, file);
    EXPECT_EQ(f->name.rfind("SAMSUNG_NX1_5-", 0), 0u) << f->name;
}

// A picture of several strips whose offsets and counts lie behind the
// directory, with a second page in the chain.
Bytes TwoPageTiff(bool little, uint32_t stripBytes, unsigned char fill)
{
    Bytes b = Header(little, 8);
    auto longs = [&](uint16_t tag, std::vector<uint32_t> values) {
        Bytes data(values.size() * 4);
        for (size_t i = 0; i < values.size(); ++i)
            Put32(data, i * 4, values[i], little);
        return Tag{tag, 4, static_cast<uint32_t>(values.size()), 0, data};
    };
    const uint32_t first = 1000, second = first + 3 * stripBytes;
    WriteIfd(b, 8,
             {Long(256, 300), Long(257, 200), longs(273, {first, first + stripBytes, first + 2 * stripBytes}),
              longs(279, {stripBytes, stripBytes, stripBytes}), Ascii(306, "2020:01:02 03:04:05")},
             500, little);
    WriteIfd(b, 500, {Long(256, 30), Long(257, 20), Long(273, second), Long(279, 777)}, 0, little);
    Fill(b, first, second + 777, fill);
    return b;
}

// A plain TIFF picture ends with the last byte its directories name
// whatever follows it; cut short, it keeps no byte of the next file.
TEST(rawTiffSearch, EndsAtItsStructuresEndWhateverFollows)
{
    const Bytes little = TwoPageTiff(true, 9000, 0x37);
    const Bytes big = TwoPageTiff(false, 4000, 0);
    const Bytes random = followed::Noise(30000, 4, true);
    // The directories lie behind the strips: a cut loses them.
    Bytes tail = Header(true, 20008);
    Fill(tail, 8, 20008, 0x42);
    WriteIfd(tail, 20008, {Long(256, 100), Long(257, 100), Long(273, 8), Long(279, 20000)}, 0, true);
    Bytes cutTail = tail;
    cutTail.resize(15000);
    Bytes cutStrips = little;
    cutStrips.resize(little.size() / 2);
    followed::ExpectEnds({
        {"zeros", little, Bytes(8192, 0)},
        {"random bytes", little, random},
        {"zero picture data, then random bytes", big, random},
        {"another TIFF", little, big},
        {"a PDF", big, followed::PdfHead()},
        {"cut before its directory, then another TIFF", cutTail, little, -1, true},
        {"cut in its strips, then a PDF", cutStrips, followed::PdfHead(), -1, true},
    });
}

}  // namespace
