// The small picture formats: the one-shot header probes, and PNG and GIF
// followed through the searcher's blocks, also where a record straddles a
// block's end.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "PNGAnalyser.h"
#include "SearchHarness.h"
#include "SmallPictureAnalysers.h"

namespace {

using Bytes = std::vector<unsigned char>;

void PutLE16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void PutLE32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

void AppendBE32(Bytes& b, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// ---- one-shot probes -----------------------------------------------------------

struct ProbeCase {
    const char* what;
    Bytes sector;
    int accepted;
    unsigned int type;
    long long size;
};

Bytes Sector() { return Bytes(512, 0); }

Bytes Ico(uint16_t kind, uint16_t count, uint32_t dataSize)
{
    Bytes b = Sector();
    PutLE16(b, 2, kind);
    PutLE16(b, 4, count);
    for (unsigned i = 0; i < count && 6 + 16 * i + 16 <= b.size(); ++i) {
        b[6 + 16 * i] = 32;
        PutLE16(b, 6 + 16 * i + 6, 32);
        PutLE32(b, 6 + 16 * i + 8, dataSize);
        PutLE32(b, 6 + 16 * i + 12, 6 + 16 * count + i * dataSize);
    }
    return b;
}

Bytes Bmp(uint32_t size, uint32_t header)
{
    Bytes b = Sector();
    b[0] = 'B';
    b[1] = 'M';
    PutLE32(b, 2, size);
    PutLE32(b, 14, header);
    return b;
}

Bytes Emf(uint32_t size, uint16_t at58)
{
    Bytes b = Sector();
    PutLE32(b, 0, 1);
    std::memcpy(b.data() + 40, " EMF", 4);
    PutLE32(b, 48, size);
    PutLE16(b, 58, at58);
    return b;
}

Bytes PlainWmf(uint32_t words, uint16_t parameters)
{
    Bytes b = Sector();
    PutLE32(b, 0, 0x00090001);
    PutLE16(b, 4, 0x0300);
    PutLE32(b, 6, words);
    PutLE16(b, 16, parameters);
    return b;
}

Bytes PlaceableWmf(uint32_t words, bool goodChecksum)
{
    Bytes b = Sector();
    const unsigned char key[6] = {0xD7, 0xCD, 0xC6, 0x9A, 0x00, 0x00};
    std::memcpy(b.data(), key, 6);
    PutLE16(b, 10, 1000);
    PutLE16(b, 12, 800);
    PutLE16(b, 14, 1440);
    uint16_t x = 0;
    for (int i = 0; i < 10; ++i)
        x ^= static_cast<uint16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    PutLE16(b, 20, goodChecksum ? x : static_cast<uint16_t>(x ^ 0xFF));
    PutLE32(b, 22, 0x00090001);
    PutLE16(b, 26, 0x0300);
    PutLE32(b, 28, words);
    return b;
}

Bytes Icns(uint32_t size)
{
    Bytes b = Sector();
    std::memcpy(b.data(), "icns", 4);
    for (int i = 0; i < 4; ++i)
        b[4 + i] = static_cast<unsigned char>(size >> (24 - 8 * i));
    return b;
}

TEST(rawPictureProbe, HeadersGiveTheSizeOrAreRefused)
{
    Bytes badReserved = Ico(1, 2, 100);
    badReserved[6 + 16 + 3] = 1;
    Bytes manyBits = Ico(1, 1, 100);
    PutLE16(manyBits, 6 + 6, 257);
    const ProbeCase cases[] = {
        {"icon, 3 entries", Ico(1, 3, 1000), 1, 34, 6 + 3 * (16 + 1000)},
        {"cursor", Ico(2, 1, 3000), 1, 20, 6 + 16 + 3000},
        {"icon, 16 entries", Ico(1, 16, 100), 1, 34, 6 + 16 * 116},
        {"icon, 17 entries", Ico(1, 17, 100), 0, 0, 0},
        {"icon, no entry", Ico(1, 0, 100), 0, 0, 0},
        {"icon over 1 MiB", Ico(1, 2, 0x80000), 0, 0, 0},
        {"icon entry too large", Ico(1, 1, 0xA00001), 0, 0, 0},
        {"icon, reserved byte set", badReserved, 0, 0, 0},
        {"icon, 257 bits", manyBits, 0, 0, 0},
        {"icon of type 3", Ico(3, 1, 100), 0, 0, 0},
        {"bitmap, 40-byte header", Bmp(230454, 40), 1, 11, 230454},
        {"bitmap, 124-byte header", Bmp(230538, 124), 1, 11, 230538},
        {"bitmap, 108-byte header", Bmp(230538, 108), 1, 11, 230538},
        {"bitmap, 12-byte header", Bmp(230426, 12), 0, 0, 0},
        {"metafile", Emf(12616, 0), 1, 26, 12616},
        {"metafile of size 0", Emf(0, 0), 0, 0, 0},
        {"metafile, u16 at 58 set", Emf(12616, 1), 0, 0, 0},
        {"plain WMF", PlainWmf(8458, 0), 1, 70, 16916},
        {"plain WMF, parameters", PlainWmf(8458, 2), 0, 0, 0},
        {"plain WMF, size past 32 bits", PlainWmf(0x80000001u, 0), 1, 70, 0x100000002LL},
        {"placeable WMF", PlaceableWmf(8458, true), 1, 70, 16938},
        {"placeable WMF, bad checksum", PlaceableWmf(8458, false), 0, 0, 0},
        {"icns", Icns(17178), 1, 122, 17178},
        {"icns of length 0", Icns(0), 0, 0, 0},
        {"icns at its limit", Icns(0xA66666), 1, 122, 0xA66666},
        {"icns too long", Icns(0xA66667), 0, 0, 0},
    };
    FileICOAnalyser ico;
    FileBMPAnalyser bmp;
    FileEMFAnalyser emf;
    FileWMFAnalyser wmf;
    FileICNSAnalyser icns;
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes sector = c.sector;
        IRawFileAnalyser* analyser = nullptr;
        if (sector[0] == 'B')
            analyser = &bmp;
        else if (sector[0] == 'i')
            analyser = &icns;
        else if (sector[40] == ' ')
            analyser = &emf;
        else if (sector[0] == 0xD7 || sector[2] == 0x09)
            analyser = &wmf;
        else
            analyser = &ico;
        CRawFileInfo probe;
        EXPECT_EQ(analyser->AnalyseBuffer(sector.data(), probe), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(probe.m_dwType, c.type);
            EXPECT_EQ(probe.m_llSize, c.size);
        }
    }
}

// ---- PNG and GIF through the searcher -------------------------------------------

// A PNG of IHDR, IDAT chunks of the given lengths (random data) and IEND.
Bytes MakePng(const std::vector<uint32_t>& idat, uint32_t seed = 1)
{
    std::mt19937 rng(seed);
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* type, uint32_t length) {
        AppendBE32(b, length);
        b.insert(b.end(), type, type + 4);
        for (uint32_t i = 0; i < length; ++i)
            b.push_back(static_cast<unsigned char>(rng()));
        AppendBE32(b, rng());
    };
    AppendBE32(b, 13);
    b.insert(b.end(), {'I', 'H', 'D', 'R', 0, 0, 0, 64, 0, 0, 0, 48, 8, 2, 0, 0, 0, 1, 2, 3, 4});
    for (uint32_t length : idat)
        chunk("IDAT", length);
    chunk("IEND", 0);
    return b;
}

constexpr long long kStart = 2;  // every picture starts at sector 2
constexpr long long kBlockBytes = SearchHarness::kBlock * 512;
constexpr long long kBlockEndInFile = kBlockBytes - kStart * 512;  // block 0's end, counted from the file

struct Carved {
    std::string name;
    long long size;
};

std::vector<Carved> CarveAlone(const Bytes& file, long long sectors = 64)
{
    SearchHarness h(sectors, 512, GetRawAnalyserRows());
    h.Device().Put(kStart * 512, file);
    h.Run();
    std::vector<Carved> out;
    for (const CarvedFile& f : h.Files())
        if (f.start == kStart)
            out.push_back({f.name, f.size});
    return out;
}

TEST(rawPng, EndsAtIendWhereverItsHeaderLies)
{
    // Where IEND's 8-byte header begins, counted from the file's start.
    const struct {
        const char* what;
        long long iend;
    } cases[] = {
        {"straddling the block's end", kBlockEndInFile - 4},
        {"in the block's last sector", kBlockEndInFile - 100},
        {"at the next block's first byte", kBlockEndInFile},
        {"straddling a sector inside a block", 3 * 512 - 3},
        {"in the first sector", 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes png = MakePng({static_cast<uint32_t>(c.iend - 45)});
        ASSERT_EQ(png.size(), static_cast<size_t>(c.iend + 12));
        const auto carved = CarveAlone(png);
        ASSERT_EQ(carved.size(), 1u);
        EXPECT_EQ(carved[0].size, static_cast<long long>(png.size()));
        // Named by its own walk (the sizer on the device names nothing).
        const long long endSector = kStart + (c.iend + 7) / 512;
        EXPECT_EQ(carved[0].name, std::to_string(kStart) + "-" + std::to_string(endSector) + "_000.PNG");
    }
}

TEST(rawPng, FollowsChunksAcrossManyBlocks)
{
    // Chunk headers fall on both sides of every block end at some point.
    std::vector<uint32_t> idat;
    for (uint32_t i = 0; i < 60; ++i)
        idat.push_back(1000 + 37 * i);
    const Bytes png = MakePng(idat, 7);
    const long long sectors = static_cast<long long>(png.size() / 512) + 40;
    const auto carved = CarveAlone(png, sectors);
    ASSERT_EQ(carved.size(), 1u);
    EXPECT_EQ(carved[0].size, static_cast<long long>(png.size()));
    const std::string& name = carved[0].name;
    const std::string middle = name.size() > 10 ? name.substr(2, name.size() - 10) : "";
    EXPECT_TRUE(name.rfind("2-", 0) == 0 && name.size() > 10 && name.substr(name.size() - 8) == "_000.PNG" &&
                !middle.empty() && middle.find_first_not_of("0123456789") == std::string::npos)
        << name;
}

TEST(rawPng, TheDeviceSizerWalksToIendAndChecksIhdr)
{
    const Bytes png = MakePng({3000, 70000, 10});
    ByteDevice device(512, 512);
    device.Put(10 * 512, png);
    FilePNGAnalyser fallback;
    CRawFileInfo info;
    info.m_llStartSector = 10;
    EXPECT_EQ(fallback.GetRawFileSize(info, &device), 1);
    EXPECT_EQ(info.m_llSize, static_cast<long long>(png.size()));

    Bytes noWidth = png;
    for (size_t i = 16; i < 20; ++i)
        noWidth.at(i) = 0;
    device.Put(10 * 512, noWidth);
    CRawFileInfo refused;
    refused.m_llStartSector = 10;
    EXPECT_EQ(fallback.GetRawFileSize(refused, &device), 0);
    EXPECT_EQ(refused.m_llSize, 0);
}

// A GIF89a: screen descriptor (global colour table when gct), a comment
// extension of commentBytes, one image whose data sub-blocks have the given
// lengths, and the trailer.
Bytes MakeGif(bool gct, size_t commentBytes, const std::vector<unsigned char>& subBlocks)
{
    Bytes b = {'G', 'I', 'F', '8', '9', 'a', 64, 0, 48, 0, static_cast<unsigned char>(gct ? 0xF7 : 0x00), 0, 0};
    if (gct)
        b.insert(b.end(), 768, 0x11);
    if (commentBytes) {
        b.insert(b.end(), {0x21, 0xFE});
        for (size_t left = commentBytes; left;) {
            const size_t n = std::min<size_t>(left, 255);
            b.push_back(static_cast<unsigned char>(n));
            b.insert(b.end(), n, 'c');
            left -= n;
        }
        b.push_back(0);
    }
    b.insert(b.end(), {0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00});
    b.insert(b.end(), {0x2C, 0, 0, 0, 0, 64, 0, 48, 0, 0x00, 0x08});
    for (unsigned char n : subBlocks) {
        b.push_back(n);
        b.insert(b.end(), n, 0x5A);
    }
    b.push_back(0);
    b.push_back(0x3B);
    return b;
}

// Where the image descriptor begins in a MakeGif file.
size_t DescriptorOffset(bool gct, size_t commentBytes)
{
    size_t at = 13 + (gct ? 768 : 0);
    if (commentBytes)
        at += 2 + commentBytes + (commentBytes + 254) / 255 + 1;
    return at + 8;
}

TEST(rawGif, EndsRightAfterItsTrailer)
{
    struct Case {
        std::string what;
        Bytes gif;
    };
    std::vector<Case> cases = {
        {"trailer in the first sector", MakeGif(false, 0, {40})},
        {"with a colour table, several sectors", MakeGif(true, 300, {255, 255, 255, 255, 255, 255, 100})},
        // Lengths that look like block introducers.
        {"sub-blocks of 0x3B, 0x21 and 0x2C bytes", MakeGif(true, 0, {255, 0x21, 0x2C, 255, 0x3B})},
    };
    // The image descriptor across the end of block 0 (its first byte in the
    // block's last sector, its flags byte in the next block).
    for (size_t comment = 6000; comment < 7200; ++comment) {
        const size_t d = DescriptorOffset(true, comment);
        if (d < static_cast<size_t>(kBlockEndInFile) && d + 10 > static_cast<size_t>(kBlockEndInFile) &&
            d + 3 >= static_cast<size_t>(kBlockEndInFile)) {
            cases.push_back({"descriptor across the block end at " + std::to_string(d),
                             MakeGif(true, comment, {255, 255, 255, 255, 255, 255, 255, 255, 3})});
            break;
        }
    }
    // A comment extension whose introducer is the block's last byte.
    for (size_t comment = 6000; comment < 7200; ++comment) {
        Bytes gif = MakeGif(true, comment, {255, 9});
        const size_t ext = DescriptorOffset(true, comment) - 8;  // the graphic control extension
        if (ext == static_cast<size_t>(kBlockEndInFile) - 1) {
            cases.push_back({"extension introducer as the block's last byte", gif});
            break;
        }
    }
    ASSERT_EQ(cases.size(), 5u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto carved = CarveAlone(c.gif);
        ASSERT_EQ(carved.size(), 1u);
        EXPECT_EQ(carved[0].size, static_cast<long long>(c.gif.size()));
        EXPECT_EQ(carved[0].name, "FILE000.GIF");
    }
}

TEST(rawGif, AGifWithoutTrailerIsDropped)
{
    Bytes gif = MakeGif(true, 0, {255, 255, 255});
    gif.pop_back();  // no trailer; zeros follow, read as terminators
    const auto carved = CarveAlone(gif);
    EXPECT_TRUE(carved.empty());
}

}  // namespace
