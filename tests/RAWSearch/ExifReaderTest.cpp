// The whole-record EXIF reader over the EXIF blocks of two tagged pictures
// (big- and little-endian), damaged one field at a time, mutated at random
// and built into directory chains, each block placed right before an
// unreadable page so that a read past its end faults in every build.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ExifReader.h"
#include "JpegFixtures.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Memory whose end touches a page that cannot be read.
class GuardedMemory {
public:
    explicit GuardedMemory(size_t capacity)
    {
        m_page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        m_dataPages = (capacity + m_page - 1) / m_page;
        m_total = (m_dataPages + 1) * m_page;
        void* p = mmap(nullptr, m_total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(p, MAP_FAILED);
        m_base = static_cast<unsigned char*>(p);
        EXPECT_EQ(mprotect(m_base + m_dataPages * m_page, m_page, PROT_NONE), 0);
    }
    ~GuardedMemory() { munmap(m_base, m_total); }
    GuardedMemory(const GuardedMemory&) = delete;
    GuardedMemory& operator=(const GuardedMemory&) = delete;

    // A copy of bytes whose last byte is the last readable one.
    unsigned char* Place(const Bytes& bytes)
    {
        unsigned char* at = m_base + m_dataPages * m_page - bytes.size();
        std::memcpy(at, bytes.data(), bytes.size());
        return at;
    }

private:
    size_t m_page = 4096;
    size_t m_dataPages = 0;
    size_t m_total = 0;
    unsigned char* m_base = nullptr;
};

struct ReadResult {
    int result;
    std::string error;
    tag_ExifInfo info;
};

ReadResult Read(const Bytes& block)
{
    static GuardedMemory memory(1 << 17);
    ReadResult r{};
    std::memset(&r.info, 0, sizeof(r.info));
    SetExitInfo(&r.info);
    unsigned char* at = memory.Place(block);
    r.result = EXIF_process_EXIF(at, 4, at, static_cast<unsigned int>(block.size()));
    r.error = EXIF_GetErrorString();
    SetExitInfo(nullptr);
    return r;
}

// An EXIF block ("Exif" 00 00 and a TIFF part) with the test's own view of
// its structure, independent of the reader.
struct ExifBlock {
    Bytes bytes;
    bool littleEndian = false;

    size_t TiffLength() const { return bytes.size() - 6; }
    unsigned int Get16(size_t at) const
    {
        const unsigned char* p = bytes.data() + 6 + at;
        return littleEndian ? p[0] | (p[1] << 8) : (p[0] << 8) | p[1];
    }
    uint32_t Get32(size_t at) const
    {
        const unsigned char* p = bytes.data() + 6 + at;
        return littleEndian ? p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24)
                            : (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    }
    void Put16(size_t at, unsigned int v)
    {
        unsigned char* p = bytes.data() + 6 + at;
        p[littleEndian ? 0 : 1] = static_cast<unsigned char>(v);
        p[littleEndian ? 1 : 0] = static_cast<unsigned char>(v >> 8);
    }
    void Put32(size_t at, uint32_t v)
    {
        unsigned char* p = bytes.data() + 6 + at;
        for (int i = 0; i < 4; ++i)
            p[littleEndian ? i : 3 - i] = static_cast<unsigned char>(v >> (8 * i));
    }
    size_t Ifd0() const { return Get32(4); }
    size_t NextLinkOf(size_t dir) const { return dir + 2 + 12 * Get16(dir); }
    // The entry of tag in IFD0 or the EXIF IFD it links; 0 when absent.
    size_t Entry(unsigned int tag) const
    {
        size_t dirs[2] = {Ifd0(), 0};
        for (size_t d = 0; d < 2 && dirs[d]; ++d) {
            for (unsigned int e = 0; e < Get16(dirs[d]); ++e) {
                const size_t entry = dirs[d] + 2 + 12 * e;
                if (Get16(entry) == 34665)
                    dirs[1] = Get32(entry + 8);
                if (Get16(entry) == tag)
                    return entry;
            }
        }
        return 0;
    }
};

// The APP1 payload of a picture whose APP1 segment starts at segment.
ExifBlock ExifOf(const std::string& picture, size_t segment)
{
    const Bytes file = JpegFixture(picture);
    ExifBlock b;
    if (file.size() < segment + 4)
        return b;
    const size_t length = (file[segment + 2] << 8) | file[segment + 3];
    b.bytes.assign(file.begin() + static_cast<long>(segment) + 4,
                   file.begin() + static_cast<long>(segment) + 2 + static_cast<long>(length));
    b.littleEndian = b.bytes.size() > 7 && b.bytes[6] == 'I';
    return b;
}

std::vector<ExifBlock> CanonBlocks()
{
    return {ExifOf("canon-jfif.jpg", 20), ExifOf("canon-le.jpg", 2)};
}

struct BadRow {
    const char* what;
    std::function<void(ExifBlock&)> patch;
    int result;
    const char* error;
};

TEST(rawExifReader, DamagedBlocksGiveTheirResultAndText)
{
    REQUIRE_JPEG_FIXTURES();
    const std::vector<BadRow> rows = {
        {"Exig for Exif", [](ExifBlock& b) { b.bytes[3] = 'g'; }, 0, "Incorrect Exif header"},
        {"MX byte order", [](ExifBlock& b) { b.bytes[6] = 'M', b.bytes[7] = 'X'; }, 0,
         "Invalid Exif alignment marker."},
        {"43 for 42", [](ExifBlock& b) { b.Put16(2, 43); }, 0, "Invalid Exif start (1)"},
        {"first IFD at 7", [](ExifBlock& b) { b.Put32(4, 7); }, 0, "Suspicious offset of first IFD value"},
        {"first IFD at 17", [](ExifBlock& b) { b.Put32(4, 17); }, 0, "Suspicious offset of first IFD value"},
        {"IFD0 count 0xFFFF", [](ExifBlock& b) { b.Put16(b.Ifd0(), 0xFFFF); }, 0, "Illegally sized directory"},
        {"type 13", [](ExifBlock& b) { b.Put16(b.Entry(272) + 2, 13); }, 0, "Illegal format code in EXIF dir"},
        {"Make at length - 2", [](ExifBlock& b) { b.Put32(b.Entry(271) + 8, static_cast<uint32_t>(b.TiffLength() - 2)); },
         0, "Illegal pointer offset value in EXIF."},
        // The linked directory would start at the block's end: its walk
        // fails, the block's does not.
        {"EXIF link at the length", [](ExifBlock& b) { b.Put32(b.Entry(34665) + 8, static_cast<uint32_t>(b.TiffLength())); },
         1, "Illegally sized directory"},
        {"EXIF link past the length",
         [](ExifBlock& b) { b.Put32(b.Entry(34665) + 8, static_cast<uint32_t>(b.TiffLength() + 100)); }, 0,
         "Illegal subdirectory link"},
        {"IFD0 linking itself", [](ExifBlock& b) { b.Put32(b.NextLinkOf(b.Ifd0()), static_cast<uint32_t>(b.Ifd0())); },
         1, ""},
        {"offset 0xFFFFFFF0, count 32",
         [](ExifBlock& b) {
             b.Put32(b.Entry(271) + 4, 32);
             b.Put32(b.Entry(271) + 8, 0xFFFFFFF0u);
         },
         0, "Illegal pointer offset value in EXIF."},
        {"type 12, count 0x20000000",
         [](ExifBlock& b) {
             b.Put16(b.Entry(271) + 2, 12);
             b.Put32(b.Entry(271) + 4, 0x20000000u);
         },
         0, "Illegal pointer offset value in EXIF."},
    };
    for (const ExifBlock& original : CanonBlocks()) {
        ASSERT_GT(original.bytes.size(), 100u);
        ASSERT_NE(original.Entry(34665), 0u);
        for (const BadRow& row : rows) {
            ExifBlock b = original;
            row.patch(b);
            const ReadResult r = Read(b.bytes);
            EXPECT_EQ(r.result, row.result) << row.what << (original.littleEndian ? " (II)" : " (MM)");
            EXPECT_EQ(r.error, row.error) << row.what << (original.littleEndian ? " (II)" : " (MM)");
            if (r.result) {
                EXPECT_STREQ(r.info.szCameraMake, "Canon") << row.what;
            }
        }
    }
}

TEST(rawExifReader, TaggedPicturesGiveTheirFields)
{
    REQUIRE_JPEG_FIXTURES();
    const std::vector<ExifBlock> blocks = CanonBlocks();
    const ReadResult big = Read(blocks[0].bytes);
    ASSERT_EQ(big.result, 1) << big.error;
    EXPECT_STREQ(big.info.szCameraMake, "Canon");
    EXPECT_STREQ(big.info.szCameraModel, "Canon PowerShot SX530 HS");
    EXPECT_STREQ(big.info.szDateTime, "2020:08:27 23:16:12");

    const ReadResult little = Read(blocks[1].bytes);
    ASSERT_EQ(little.result, 1) << little.error;
    EXPECT_STREQ(little.info.szCameraMake, "Canon");
    EXPECT_STREQ(little.info.szCameraModel, "Canon EOS 5D Mark II");
    EXPECT_STREQ(little.info.szDateTime, "2014:05:03 10:22:31");
    EXPECT_EQ(little.info.iISOequivalent, 5000);
    EXPECT_EQ(static_cast<double>(little.info.fResolutionUnit), 0.3937007784843445);
}

TEST(rawExifReader, UnitLengthsAndLowIsoValues)
{
    REQUIRE_JPEG_FIXTURES();
    const ExifBlock canon = CanonBlocks()[1];
    const size_t unit = canon.Entry(296);
    const size_t iso = canon.Entry(34855);
    ASSERT_NE(unit, 0u);
    ASSERT_NE(iso, 0u);
    const struct {
        unsigned int unit;
        double length;
    } units[] = {{1, 1.0}, {2, 1.0}, {3, 0.3937007784843445}, {4, 0.03937007859349251}, {5, 3.937007932108827e-05},
                 {6, 0.0}};
    for (const auto& row : units) {
        ExifBlock b = canon;
        b.Put16(unit + 8, row.unit);
        const ReadResult r = Read(b.bytes);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(static_cast<double>(r.info.fResolutionUnit), row.length) << "unit " << row.unit;
    }
    const struct {
        unsigned int value;
        int stored;
    } isos[] = {{1, 200}, {49, 9800}, {50, 50}, {3200, 3200}};
    for (const auto& row : isos) {
        ExifBlock b = canon;
        b.Put16(iso + 8, row.value);
        EXPECT_EQ(Read(b.bytes).info.iISOequivalent, row.stored) << "ISO " << row.value;
    }
}

// Values no field can hold saturate at the field's limits (not a number
// reads as 0): a damaged entry may claim any number.
TEST(rawExifReader, OutOfRangeValuesSaturate)
{
    struct Entry {
        unsigned int tag;
        unsigned int type;  // 5 unsigned rational, 9 signed long, 12 double
        std::vector<unsigned char> value;
    };
    auto le = [](uint64_t v, int n) {
        std::vector<unsigned char> out;
        for (int i = 0; i < n; ++i)
            out.push_back(static_cast<unsigned char>(v >> (8 * i)));
        return out;
    };
    auto dbl = [&](double d) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        return le(bits, 8);
    };
    const std::vector<Entry> entries = {
        {274, 12, dbl(1e300)},                                  // orientation
        {282, 12, dbl(1e300)},                                  // x resolution
        {283, 12, dbl(-1e300)},                                 // y resolution
        {514, 9, le(static_cast<uint32_t>(-1536), 4)},          // thumbnail length
        {34855, 9, le(0x80000000u, 4)},                         // ISO: the lowest int
        {37384, 5, [&] { auto v = le(0xFFFFFFFFu, 4); auto d = le(1, 4); v.insert(v.end(), d.begin(), d.end()); return v; }()},
        {37385, 12, dbl(std::numeric_limits<double>::quiet_NaN())},  // flash
        {40962, 12, dbl(-7e307)},                               // image width
    };
    Bytes block = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0};
    const size_t dataAt = 8 + 2 + 12 * entries.size() + 4;
    Bytes data;
    auto append = [&](const std::vector<unsigned char>& v) { block.insert(block.end(), v.begin(), v.end()); };
    append(le(entries.size(), 2));
    for (const Entry& e : entries) {
        append(le(e.tag, 2));
        append(le(e.type, 2));
        append(le(1, 4));
        if (e.value.size() <= 4) {
            Bytes v = e.value;
            v.resize(4, 0);
            append(v);
        } else {
            append(le(dataAt + data.size(), 4));
            data.insert(data.end(), e.value.begin(), e.value.end());
        }
    }
    append(le(0, 4));
    append(data);

    const ReadResult r = Read(block);
    ASSERT_EQ(r.result, 1) << r.error;
    EXPECT_EQ(r.info.iOrientation, 0);
    EXPECT_EQ(r.info.fXResolution, std::numeric_limits<float>::max());
    EXPECT_EQ(r.info.fYResolution, -std::numeric_limits<float>::max());
    EXPECT_EQ(r.info.iISOequivalent, INT32_MIN);
    EXPECT_EQ(r.info.iLightSource, INT32_MAX);
    EXPECT_EQ(r.info.iFlashUsed, 0);
}

TEST(rawExifReader, EmptyDirectoryReadsWithEmptyFields)
{
    const Bytes block = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const ReadResult r = Read(block);
    EXPECT_EQ(r.result, 1);
    EXPECT_STREQ(r.info.szCameraMake, "");
    EXPECT_STREQ(r.info.szCameraModel, "");
    EXPECT_STREQ(r.info.szDateTime, "");
    EXPECT_EQ(r.info.dwThumbnailSize, 0u);
    EXPECT_EQ(r.info.iISOequivalent, 0);
}

TEST(rawExifReader, RandomDamageNeverReadsOutsideTheBlock)
{
    REQUIRE_JPEG_FIXTURES();
    std::mt19937 random(20200827);
    const auto begin = std::chrono::steady_clock::now();
    int read = 0;
    for (const ExifBlock& original : CanonBlocks()) {
        ASSERT_GT(original.bytes.size(), 16u);
        for (int i = 0; i < 20000; ++i) {
            Bytes b = original.bytes;
            // Half the changes hit the headers and directories, where a
            // count, a type or an offset lies.
            const size_t span = (i & 1) ? b.size() : std::min<size_t>(b.size(), 160);
            if (i % 3 == 0) {
                b[random() % span] = static_cast<unsigned char>(random());
            } else {
                static const uint32_t kValues[] = {0, 1, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFF0, 0x20000000, 0x80000000};
                const uint32_t v = (i % 3 == 1) ? kValues[random() % 7] : static_cast<uint32_t>(random());
                const size_t at = random() % (span - 3);
                std::memcpy(b.data() + at, &v, 4);
            }
            const ReadResult r = Read(b);
            ASSERT_TRUE(r.result == 0 || r.result == 1);
            // Texts stay terminated inside their fields.
            ASSERT_LT(std::strlen(r.info.szCameraMake), sizeof(r.info.szCameraMake));
            ASSERT_LT(std::strlen(r.info.szCameraModel), sizeof(r.info.szCameraModel));
            ASSERT_LT(std::strlen(r.info.szDateTime), sizeof(r.info.szDateTime));
            read += r.result;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_LT(seconds, 1.0);
    EXPECT_GT(read, 0);
}

TEST(rawExifReader, DirectoriesLinkingTheNextTwiceAreWalkedQuickly)
{
    // 40 directories, each linking the next one as its EXIF directory and
    // as its next directory: walked naively, 2^40 visits.
    const unsigned int kDirs = 40;
    const unsigned int kDirBytes = 2 + 2 * 12 + 4;
    Bytes b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0};
    auto put16 = [&](unsigned int v) {
        b.push_back(static_cast<unsigned char>(v));
        b.push_back(static_cast<unsigned char>(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    for (unsigned int d = 0; d < kDirs; ++d) {
        const uint32_t next = d + 1 < kDirs ? 8 + (d + 1) * kDirBytes : 0;
        put16(2);
        put16(34665), put16(4), put32(1), put32(next);
        put16(34855), put16(3), put32(1), put32(100 + d);
        put32(next);
    }
    const auto begin = std::chrono::steady_clock::now();
    const ReadResult r = Read(b);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_EQ(r.result, 1);
    EXPECT_LT(seconds, 0.5);
}

TEST(rawExifReader, ValuesFollowTheBlocksByteOrder)
{
    const struct {
        int type;
        Bytes big;
        double value;
    } rows[] = {
        {1, {0xFE}, 254},
        {6, {0xFE}, -2},
        {3, {0xFF, 0xFE}, 65534},
        {8, {0xFF, 0xFE}, -2},
        {4, {0xFF, 0xFF, 0xFF, 0xFE}, 4294967294.0},
        {9, {0xFF, 0xFF, 0xFF, 0xFE}, -2},
        {5, {0, 0, 0, 3, 0, 0, 0, 2}, 1.5},
        {5, {0, 0, 0, 3, 0, 0, 0, 0}, 0},
        {10, {0xFF, 0xFF, 0xFF, 0xFD, 0, 0, 0, 2}, -1.5},
        {11, {0x3F, 0xC0, 0, 0}, 1.5},
        {12, {0x3F, 0xF8, 0, 0, 0, 0, 0, 0}, 1.5},
        {2, {0x31, 0, 0, 0}, 0},
        {7, {0x31, 0, 0, 0}, 0},
    };
    const Bytes empty[2] = {{'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 0x2A, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0},
                            {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
    for (int order = 0; order < 2; ++order) {
        ASSERT_EQ(Read(empty[order]).result, 1);
        for (const auto& row : rows) {
            Bytes value = row.big;
            // A little-endian block stores each part of the value reversed.
            const size_t part = (row.type == 5 || row.type == 10) ? 4 : value.size();
            if (order == 1)
                for (size_t at = 0; at < value.size(); at += part)
                    std::reverse(value.begin() + static_cast<long>(at), value.begin() + static_cast<long>(at + part));
            EXPECT_EQ(EXIF_ConvertAnyFormat(value.data(), row.type), row.value)
                << "type " << row.type << (order ? " II" : " MM");
        }
    }
}

TEST(rawExifText, CameraTextRuleAndUpperCase)
{
    const struct {
        const char* text;
        bool accepted;
    } rows[] = {
        {"Canon", true},          {"Mi A3", true},       {"a,b-c.d@e_f 09", true}, {"", true},
        {"X100/S", false},        {"EOS<5D>", false},    {"Nikon\tD", false},      {"Leica\xC3\xA9", false},
        {"Canon PowerShot SX530 HS", true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsCameraText(row.text), row.accepted) << row.text;
        EXPECT_EQ(CameraTextOrEmpty(row.text), row.accepted ? row.text : "") << row.text;
    }
    EXPECT_EQ(AsciiToUpper("Xiaomi mi-a3_\xC3\xA9z"), "XIAOMI MI-A3_\xC3\xA9Z");
}

}  // namespace
