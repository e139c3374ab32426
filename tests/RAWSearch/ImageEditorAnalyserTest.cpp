// Image-editor documents and design projects on crafted bytes: section and
// block walks through the real searcher (also where a header straddles a
// sector or block end), the device sizers, limits and damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "DesignProjectAnalysers.h"
#include "Model3DSAnalyser.h"
#include "PsdAnalyser.h"
#include "PspAnalyser.h"
#include "CarveBytes.h"
#include "FollowedCases.h"
#include "SearchHarness.h"

namespace {

using namespace std::string_literals;
using namespace carvebytes;

// A Photoshop file: colour data, image resources and layer section of the
// given lengths, then raw image data (compression 0) of imageBytes.
Bytes MakePsd(uint32_t color, uint32_t resources, uint32_t layers, size_t imageBytes)
{
    Bytes b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    PutBE16(b, 12, 1);                                    // channels
    PutBE32(b, 14, static_cast<uint32_t>(imageBytes / 4));  // height
    PutBE32(b, 18, 4);                                    // width
    PutBE16(b, 22, 8);                                    // depth
    PutBE16(b, 24, 3);                                    // mode
    PutBE32(b, 26, color);
    Fill(b, 30, 30 + color, 1);
    size_t at = 30 + color;
    PutBE32(b, at, resources);
    Fill(b, at + 4, at + 4 + resources, 2);
    at += 4 + resources;
    PutBE32(b, at, layers);
    Fill(b, at + 4, at + 4 + layers, 3);
    at += 4 + layers;
    PutBE16(b, at, 0);
    Fill(b, at + 2, at + 2 + imageBytes, 4);
    return b;
}

TEST(rawPsd, SectionsThenZeroTail)
{
    const struct {
        const char* what;
        uint32_t color, resources, layers;
        size_t image;
    } cases[] = {
        {"small sections", 0, 100, 50, 3000},
        {"resources length on a sector's first byte", 482, 200, 40, 2000},
        {"layer length straddling a sector end", 0, 478 - 34 + 512, 10, 2500},
        {"sections across a block end", 768, 8000, 300, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes psd = MakePsd(c.color, c.resources, c.layers, c.image);
        const long long dataStart = 30 + c.color + 4 + c.resources + 4 + c.layers + 2;
        for (unsigned int ss : {512u, 4096u}) {
            SCOPED_TRACE(ss);
            const Carved got = CarveAt(psd, ss);
            ASSERT_EQ(got.files, 1);
            // The sections and the image data's rows give the end, also in
            // the sector where the image data starts.
            EXPECT_GT(static_cast<long long>(psd.size()), dataStart);
            EXPECT_EQ(got.size, static_cast<long long>(psd.size()));
            EXPECT_EQ(got.folder, "psd");
            EXPECT_EQ(got.name.find('_'), std::string::npos) << got.name;
        }
    }
}

// Run-length image data of rows rows of random non-zero bytes.
Bytes MakeRlePsd(uint16_t channels, uint32_t height, unsigned seed)
{
    Bytes b = MakePsd(0, 600, 40, 0);
    PutBE16(b, 12, channels);
    PutBE32(b, 14, height);
    PutBE32(b, 18, 300);
    const size_t table = b.size();
    PutBE16(b, table - 2, 1);
    std::mt19937 rng(seed);
    const size_t rows = size_t{channels} * height;
    size_t at = table + 2 * rows;
    for (size_t row = 0; row < rows; ++row) {
        const uint16_t n = static_cast<uint16_t>(20 + rng() % 200);
        PutBE16(b, table + 2 * row, n);
        b.resize(at + n);
        for (size_t k = 0; k < n; ++k)
            b[at + k] = static_cast<unsigned char>(1 + rng() % 255);
        at += n;
    }
    return b;
}

// A Photoshop file ends with its image data whatever follows it; cut
// short, it keeps no byte of the next file.
TEST(rawPsd, EndsWithItsImageDataWhateverFollows)
{
    const Bytes rle = MakeRlePsd(3, 200, 1);
    const Bytes raw = MakePsd(0, 900, 100, 7000);
    const Bytes random = followed::Noise(30000, 2, true);
    Bytes cut = rle;
    cut.resize(rle.size() / 2);
    followed::ExpectEnds({
        {"zeros", rle, Bytes(8192, 0)},
        {"random bytes", rle, random},
        {"uncompressed, then random bytes", raw, random},
        {"another Photoshop file", rle, raw},
        {"a PDF", raw, followed::PdfHead()},
        {"cut short, then another Photoshop file", cut, rle, -1, true},
        {"cut short, then a PDF", cut, followed::PdfHead(), -1, true},
    });
}

TEST(rawPsd, ImageDataStartingInTheLastSectionSectorDoesNotEndIt)
{
    // The image data starts in the sector of the layer length and that
    // sector ends in zeros: the file goes on to the next zero-tailed sector.
    Bytes psd = MakePsd(0, 100, 300, 0);
    const size_t dataStart = psd.size();
    ASSERT_LT(dataStart, 512u);
    psd.resize(512, 0);
    Fill(psd, 512, 1400, 9);
    const Carved got = CarveAt(psd);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, 1400);
}

TEST(rawPsd, DeviceSizerReadsSectionsAndRows)
{
    const Bytes raw = MakePsd(40, 700, 90, 4000);
    ByteDevice device(64, 512);
    device.Put(2 * 512, raw);
    FilePSDAnalyser fallback;
    CRawFileInfo info;
    info.m_llStartSector = 2;
    ASSERT_EQ(fallback.GetRawFileSize(info, &device), 1);
    EXPECT_EQ(info.m_llSize, static_cast<long long>(raw.size()));

    // RLE: the row byte counts add up.
    Bytes rle = MakePsd(0, 20, 8, 0);
    const size_t compression = rle.size() - 2;
    PutBE16(rle, compression, 1);
    PutBE16(rle, 12, 2);   // channels
    PutBE32(rle, 14, 3);   // height
    uint32_t sum = 0;
    for (int row = 0; row < 6; ++row) {
        PutBE16(rle, compression + 2 + 2 * row, static_cast<uint16_t>(10 + row));
        sum += 10 + row;
    }
    Fill(rle, rle.size(), rle.size() + sum, 5);
    device.Put(2 * 512, rle);
    CRawFileInfo rleInfo;
    rleInfo.m_llStartSector = 2;
    ASSERT_EQ(fallback.GetRawFileSize(rleInfo, &device), 1);
    EXPECT_EQ(rleInfo.m_llSize, static_cast<long long>(rle.size()));

    // Unknown compression, a bad version, or nothing readable: no size.
    Bytes zip = raw;
    PutBE16(zip, 30 + 40 + 4 + 700 + 4 + 90, 3);
    device.Put(2 * 512, zip);
    CRawFileInfo zipInfo;
    zipInfo.m_llStartSector = 2;
    EXPECT_EQ(fallback.GetRawFileSize(zipInfo, &device), 0);
    Bytes v2 = raw;
    v2[5] = 2;
    device.Put(2 * 512, v2);
    CRawFileInfo v2Info;
    v2Info.m_llStartSector = 2;
    EXPECT_EQ(fallback.GetRawFileSize(v2Info, &device), 0);
    CRawFileInfo lost;
    lost.m_llStartSector = 500;
    EXPECT_EQ(fallback.GetRawFileSize(lost, &device), 0);

    // Header fields at their largest: no overflow, and the row walk of an
    // RLE file over zero counts ends.
    Bytes wide = raw;
    PutBE16(wide, 12, 0xFFFF);
    PutBE32(wide, 14, 0xFFFFFFFF);
    PutBE32(wide, 18, 0xFFFFFFFF);
    PutBE16(wide, 22, 0xFFFF);
    device.Put(2 * 512, wide);
    CRawFileInfo wideInfo;
    wideInfo.m_llStartSector = 2;
    EXPECT_EQ(fallback.GetRawFileSize(wideInfo, &device), 0);
    PutBE16(wide, 30 + 40 + 4 + 700 + 4 + 90, 1);
    device.Put(2 * 512, wide);
    CRawFileInfo rows;
    rows.m_llStartSector = 2;
    fallback.GetRawFileSize(rows, &device);
}

// ---- Paint Shop Pro ----------------------------------------------------------------

Bytes MakePsp(const std::vector<uint32_t>& blocks)
{
    const char sig[] = "Paint Shop Pro Image File\n\x1a";
    Bytes b(sig, sig + 27);
    b.resize(36, 0);
    b[32] = 5;
    for (uint32_t length : blocks) {
        const size_t at = b.size();
        b.insert(b.end(), {0x7E, 0x42, 0x4B, 0x00, 0x01, 0x00});
        PutLE32(b, at + 6, length);
        Fill(b, at + 10, at + 10 + length, static_cast<unsigned>(at));
    }
    return b;
}

TEST(rawPsp, BlockWalkEndsExactly)
{
    const struct {
        const char* what;
        std::vector<uint32_t> blocks;
    } cases[] = {
        {"one sector", {100, 200}},
        {"block header straddling a sector end", {512 - 36 - 10 - 4 - 10, 1000}},
        {"block on a sector's first byte", {512 - 36 - 10, 300}},
        {"across block ends", {3000, 9000, 7000, 20}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes psp = MakePsp(c.blocks);
        for (unsigned int ss : {512u, 4096u}) {
            const Carved got = CarveAt(psp, ss);
            ASSERT_EQ(got.files, 1);
            EXPECT_EQ(got.size, static_cast<long long>(psp.size()));
            EXPECT_EQ(got.folder, "psp");
            EXPECT_NE(got.name.find('.'), std::string::npos);
        }
    }
    // The device sizer refuses files that end before byte 512.
    ByteDevice device(64, 512);
    device.Put(2 * 512, MakePsp({100}));
    FilePSPAnalyser fallback;
    CRawFileInfo small;
    small.m_llStartSector = 2;
    EXPECT_EQ(fallback.GetRawFileSize(small, &device), 0);
    const Bytes big = MakePsp({100, 2000});
    device.Put(2 * 512, big);
    CRawFileInfo info;
    info.m_llStartSector = 2;
    ASSERT_EQ(fallback.GetRawFileSize(info, &device), 1);
    EXPECT_EQ(info.m_llSize, static_cast<long long>(big.size()));
}

// ---- 3DS -------------------------------------------------------------------------

TEST(raw3ds, CartridgeSizeFromItsHeader)
{
    const struct {
        uint32_t units;
        long long size;
    } cases[] = {
        {0x100000, 536870912},
        {8, 4096},
        {1000000001, 200000000},
        {3000000, 1000000000},
    };
    for (const auto& c : cases) {
        Bytes cart(512, 0x11);
        std::memcpy(cart.data() + 256, "NCSD", 4);
        PutLE32(cart, 260, c.units);
        RawSpeed::New3DSAnalyser analyser;
        CRawFileInfo probe;
        ASSERT_EQ(analyser.AnalyseBuffer(cart.data(), probe), 1);
        std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
        CRawFileInfo::SearchContext context;
        EXPECT_EQ(info->CalcRawSize(cart.data(), 512, 0, context), 1);
        EXPECT_EQ(info->m_llSize, c.size);
        File3DSAnalyser fallback;
        EXPECT_EQ(fallback.AnalyseBuffer(cart.data(), probe), 0);
    }
}

TEST(raw3ds, ModelRecordWalk)
{
    // Records: 4D 4D 88 bytes on steps 88; a 4D 4D record whose next id is
    // not 4D 4D but non-zero steps by its length; anything else ends.
    Bytes model(2000, 0x22);
    model[16] = 0x3D;
    model[17] = 0x3D;
    PutLE16(model, 0, 0x4D4D);
    PutLE16(model, 88, 0x4D4D);
    PutLE16(model, 176, 0x4D4D);
    PutLE16(model, 178, 600);
    PutLE16(model, 264, 0x1234);
    PutLE16(model, 776, 0x0101);
    PutLE16(model, 864, 0);
    Fill(model, 1000, 2000, 8);
    model.resize(776 + 100, 0x33);
    PutLE16(model, 776, 0x0101);
    PutLE16(model, 864, 0x0101);
    ByteDevice device(64, 512);
    device.Put(2 * 512, model);
    File3DSAnalyser fallback;
    CRawFileInfo info;
    info.m_llStartSector = 2;
    ASSERT_EQ(fallback.GetRawFileSize(info, &device), 1);
    EXPECT_EQ(info.m_llSize, 776);
    const Carved got = CarveAt(model);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, 776);
    EXPECT_EQ(got.folder, "3ds");
}

// ---- INDD, AEP, SIB, NGRR -------------------------------------------------------------

const unsigned char kInddHead[24] = {0x06, 0x06, 0xED, 0xF5, 0xD8, 0x1D, 0x46, 0xE5, 0xBD, 0x31, 0xEF, 0xE7,
                                     0xFE, 0x74, 0xB7, 0x1D, 'D', 'O', 'C', 'U', 'M', 'E', 'N', 'T'};
const unsigned char kInddObject[16] = {0xDE, 0x39, 0x39, 0x79, 0x51, 0x88, 0x4B, 0x6C,
                                       0x8E, 0x63, 0xEE, 0xF8, 0xAE, 0xE0, 0xDD, 0x38};

Bytes MakeIndd(uint32_t pages, const std::vector<uint32_t>& objects)
{
    Bytes b(pages * 4096, 0x44);
    std::memcpy(b.data(), kInddHead, sizeof(kInddHead));
    PutLE32(b, 280, pages);
    for (uint32_t length : objects) {
        const size_t at = b.size();
        b.insert(b.end(), kInddObject, kInddObject + 16);
        PutLE32(b, at + 24, length);
        Fill(b, at + 28, at + 64 + length, static_cast<unsigned>(at));
    }
    return b;
}

TEST(rawDesign, InddObjectWalkRoundsToPages)
{
    // Objects end at 8192 + 1000 + 64 + 5000 + 64: one page past that page.
    const Bytes indd = MakeIndd(2, {1000, 5000});
    for (unsigned int ss : {512u, 4096u}) {
        const Carved got = CarveAt(indd, ss);
        ASSERT_EQ(got.files, 1);
        EXPECT_EQ(got.size, 16384);
        EXPECT_EQ(got.folder, "indd");
    }
    // Without any object: one page after the page area.
    const Carved bare = CarveAt(MakeIndd(3, {}));
    ASSERT_EQ(bare.files, 1);
    EXPECT_EQ(bare.size, 4 * 4096);
}

TEST(rawDesign, AepChunkOrXmpTrailer)
{
    Bytes aep = {'R', 'I', 'F', 'X', 0, 0, 0, 0, 'E', 'g', 'g', '!'};
    Fill(aep, 12, 3000, 6);
    PutBE32(aep, 4, 3000 - 8);
    Bytes plain = aep;
    Fill(plain, 3000, 3300, 7);
    for (unsigned int ss : {512u, 4096u}) {
        const Carved got = CarveAt(plain, ss);
        ASSERT_EQ(got.files, 1);
        EXPECT_EQ(got.size, 3000);
    }
    // An XMP packet after the chunk: the file runs to the zero tail, plus 8.
    Bytes xmp = aep;
    const std::string packet = "<?xpacket begin=''?><x:xmpmeta/><?xpacket end='w'?>";
    xmp.insert(xmp.end(), packet.begin(), packet.end());
    const Carved got = CarveAt(xmp);
    ASSERT_EQ(got.files, 1);
    // The data end found in the last sector may take one zero byte more.
    EXPECT_GE(got.size, static_cast<long long>(xmp.size()) + 8);
    EXPECT_LE(got.size, static_cast<long long>(xmp.size()) + 9);
}

TEST(rawDesign, SibZeroTailAndNgrrBlocks)
{
    Bytes sib = {0x0F, 'S', 'I', 'B', 'e', 'l', 'i', 'U', 's'};
    Fill(sib, 9, 1300, 12);
    Carved got = CarveAt(sib);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, 1300);
    // A zero tail in the first sector is too early.
    Bytes early = sib;
    std::fill(early.begin() + 400, early.begin() + 512, 0);
    got = CarveAt(early);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, 1300);

    Bytes ngrr = {'-', 'i', 'n', '-'};
    Fill(ngrr, 4, 60, 13);
    for (uint32_t length : {100u, 900u, 20u}) {
        const size_t at = ngrr.size();
        ngrr.insert(ngrr.end(), {'a', 't', 'a', 'd'});
        Fill(ngrr, at + 4, at + 24 + length, static_cast<unsigned>(at));
        PutLE32(ngrr, at + 16, length);
    }
    const size_t end = ngrr.size();
    Fill(ngrr, end, end + 700, 14);
    got = CarveAt(ngrr);
    ASSERT_EQ(got.files, 1);
    EXPECT_EQ(got.size, static_cast<long long>(end));
}

TEST(rawDesign, DamagedCopiesCostNoCrash)
{
    // Good heads followed by random bytes, at both sector sizes.
    std::mt19937 rng(21);
    const Bytes heads[] = {MakePsd(0, 100, 50, 3000), MakePsp({100, 200}), MakeIndd(1, {10}),
                           Bytes{'R', 'I', 'F', 'X', 0xFF, 0xFF, 0xFF, 0xF0, 'E', 'g', 'g', '!'}};
    for (const Bytes& head : heads) {
        for (int round = 0; round < 5; ++round) {
            Bytes damaged(head.begin(), head.begin() + std::min<size_t>(head.size(), 300));
            for (int i = 0; i < 20000; ++i)
                damaged.push_back(static_cast<unsigned char>(rng()));
            for (unsigned int ss : {512u, 4096u}) {
                const Carved got = CarveAt(damaged, ss, 8);
                EXPECT_LE(got.files, 1);
            }
        }
    }
}

}  // namespace
