// QuickTime and MP4-family movies: typing by brand, the three probes, and the
// box walk through the searcher's blocks on crafted boxes, including damaged
// ones, with the camera text that names and labels a movie.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "MovAnalyser.h"
#include "SearchHarness.h"

namespace {

using Bytes = std::vector<unsigned char>;
using BruteForce::MovAnalyzer;

void PutBE32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// A box of the given type and total size; its body is filled with fill.
Bytes Box(const char* type, uint32_t size, unsigned char fill = 0x11)
{
    Bytes b(size < 8 ? 8 : size, fill);
    PutBE32(b, 0, size);
    std::memcpy(b.data() + 4, type, 4);
    return b;
}

// A box with a 64-bit size (32-bit size field 1).
Bytes LargeBox(const char* type, uint64_t size, size_t bytes)
{
    Bytes b(bytes, 0x22);
    PutBE32(b, 0, 1);
    std::memcpy(b.data() + 4, type, 4);
    PutBE32(b, 8, static_cast<uint32_t>(size >> 32));
    PutBE32(b, 12, static_cast<uint32_t>(size));
    return b;
}

Bytes Ftyp(const char* major, std::vector<std::string> compatible = {})
{
    Bytes b = Box("ftyp", static_cast<uint32_t>(16 + 4 * compatible.size()), 0);
    std::memcpy(b.data() + 8, major, 4);
    for (size_t i = 0; i < compatible.size(); ++i)
        std::memcpy(b.data() + 16 + 4 * i, compatible[i].data(), 4);
    return b;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The first 512 bytes of a file, as a probe sees its sector.
Bytes SectorOf(const Bytes& file)
{
    Bytes s(512, 0);
    std::memcpy(s.data(), file.data(), std::min<size_t>(512, file.size()));
    return s;
}

TEST(rawMovBrand, MajorAndCompatibleBrandsGiveTheType)
{
    const struct {
        const char* what;
        Bytes file;
        unsigned int type;
    } cases[] = {
        {"QuickTime", Ftyp("qt  ", {"qt  "}), 42},
        {"3GP", Ftyp("3gp4", {"isom", "3gp4"}), 2},
        {"3G2", Ftyp("3g2a"), 2},
        {"3GP of a phone maker", Ftyp("KDDI"), 2},
        {"M4A", Ftyp("M4A ", {"isom"}), 45},
        {"M4V", Ftyp("M4V ", {"isom"}), 46},
        {"isom plain", Ftyp("isom", {"isom", "iso2"}), 42},
        {"isom with an AAC audio brand", Ftyp("isom", {"isom", "M4A "}), 45},
        {"isom with avc1", Ftyp("isom", {"isom", "avc1"}), 44},
        {"isom with avc1, a free box at 24", Join({Ftyp("isom", {"isom", "avc1"}), Box("free", 8)}), 138},
        {"isom with mp41 among others", Ftyp("isom", {"isom", "iso2", "mp41"}), 44},
        {"mp42 with mp41 alone", Ftyp("mp42", {"mp41"}), 45},
        {"mp42 with others", Ftyp("mp42", {"isom", "mp42"}), 44},
        {"brands cut at a NUL", Ftyp("isom", {std::string("\0\0\0\0", 4), "avc1"}), 42},
        {"Flash video", Ftyp("F4V "), 44},
        {"Sony", Ftyp("MSNV"), 44},
        {"Nero", Ftyp("NDSC"), 44},
        {"Nero, wrong fourth byte", Ftyp("NDSZ"), 0},
        {"unknown", Ftyp("abcd"), 0},
        {"HEIF picture", Ftyp("heic", {"mif1", "heic"}), 149},
        {"HEIF picture of the generic brand", Ftyp("mif1", {"mif1", "heic"}), 149},
        {"AVIF picture", Ftyp("avif", {"avif", "mif1", "miaf"}), 150},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes s = SectorOf(c.file);
        EXPECT_EQ(MovAnalyzer::getTypeByMajorBrand(s.data()), c.type);
    }
}

TEST(rawMovProbe, EachAnalyserTakesItsBrands)
{
    BruteForce::MovAnalyzer mov;
    BruteForce::Mp4Analyzer mp4;
    BruteForce::C3GPAnalyser gp3;
    FileMP4Analyser file;
    Bytes big = Ftyp("qt  ", std::vector<std::string>(17, "qt  "));  // 84 bytes
    Bytes small = Ftyp("qt  ");
    PutBE32(small, 0, 15);
    Bytes notFtyp = Ftyp("qt  ");
    std::memcpy(notFtyp.data() + 4, "ftyq", 4);
    const struct {
        const char* what;
        Bytes file;
        int mov, mp4, gp3, sizer;  // accepted type, 0 refused
    } cases[] = {
        {"QuickTime", Ftyp("qt  "), 42, 0, 0, 0},
        {"unknown brand", Ftyp("wxyz"), 42, 0, 0, 0},
        {"ftyp longer than 83 bytes", big, 0, 0, 0, 0},
        {"ftyp shorter than 16 bytes", small, 0, 0, 0, 0},
        {"no ftyp", notFtyp, 0, 0, 0, 0},
        {"isom", Ftyp("isom", {"isom", "avc1"}), 44, 44, 0, 44},
        {"M4A", Ftyp("M4A ", {"isom"}), 45, 45, 0, 45},
        {"M4V", Ftyp("M4V ", {"isom"}), 46, 46, 0, 46},
        {"mp42", Ftyp("mp42", {"isom"}), 44, 44, 0, 44},
        {"3gp5", Ftyp("3gp5"), 2, 0, 2, 0},
        {"3g2a", Ftyp("3g2a"), 2, 0, 2, 0},
        {"mmp4", Ftyp("mmp4"), 44, 44, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes s = SectorOf(c.file);
        const int want[] = {c.mov, c.mp4, c.gp3, c.sizer};
        IRawFileAnalyser* analysers[] = {&mov, &mp4, &gp3, &file};
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            CRawFileInfo probe;
            const int accepted = analysers[i]->AnalyseBuffer(s.data(), probe);
            EXPECT_EQ(accepted, want[i] ? 1 : 0);
            if (want[i]) {
                EXPECT_EQ(probe.m_dwType, static_cast<unsigned int>(want[i]));
            }
        }
    }
}

// ---- the box walk through the searcher ------------------------------------------

constexpr long long kStart = 3;
constexpr long long kBlockBytes = SearchHarness::kBlock * 512;

std::vector<CarvedFile> Carve(const Bytes& file, long long sectors = 96, unsigned int ss = 512,
                              const Bytes& after = {})
{
    SearchHarness h(sectors, ss, GetRawAnalyserRows());
    h.Device().Put(kStart * ss, file);
    if (!after.empty())
        h.Device().Put(kStart * ss + static_cast<long long>(file.size()), after);
    h.Run();
    std::vector<CarvedFile> out;
    for (const CarvedFile& f : h.Files())
        if (f.start == kStart)
            out.push_back(f);
    return out;
}

TEST(rawMovWalk, EndsAtTheFirstBoxOutsideTheList)
{
    const Bytes ftyp = Ftyp("qt  ", {"qt  "});
    // The mdat box ends where the headers that follow it fall on either
    // side of block and sector ends.
    const struct {
        const char* what;
        long long mdatEnd;  // file offset where the next header begins
    } ends[] = {
        {"header straddling the block's end", kBlockBytes - kStart * 512 - 4},
        {"header at the next block's first byte", kBlockBytes - kStart * 512},
        {"header straddling a sector", 5 * 512 - 3},
        {"header in the first sector", 300},
        {"two blocks on", 3 * kBlockBytes + 100},
    };
    for (const auto& e : ends) {
        SCOPED_TRACE(e.what);
        const Bytes wide = Box("wide", 8);
        const long long mdatSize = e.mdatEnd - static_cast<long long>(ftyp.size() + wide.size());
        const Bytes file = Join({ftyp, wide, Box("mdat", static_cast<uint32_t>(mdatSize)), Box("moov", 700)});
        for (const char* next : {"junk", "\0\0\0\0"}) {
            SCOPED_TRACE(next[0] ? "an unknown box follows" : "zeros follow");
            Bytes tail = Box("junk", 64, 0x33);
            if (!next[0])
                tail.assign(64, 0);
            const auto carved = Carve(file, 256, 512, tail);
            ASSERT_EQ(carved.size(), 1u);
            EXPECT_EQ(carved[0].size, static_cast<long long>(file.size()));
            EXPECT_EQ(carved[0].folder, "mov");
        }
    }
}

TEST(rawMovWalk, LargeSizesAndDamagedBoxes)
{
    const Bytes ftyp = Ftyp("mp42", {"isom", "mp42"});
    // A 64-bit media box running 40,000 bytes, then the index.
    const Bytes large = Join({ftyp, LargeBox("mdat", 40000, 40000), Box("moov", 500)});
    auto carved = Carve(large);
    ASSERT_EQ(carved.size(), 1u);
    EXPECT_EQ(carved[0].size, static_cast<long long>(large.size()));
    EXPECT_EQ(carved[0].folder, "mp4");

    // A 64-bit size with its top bit set is no size: the walk ends before it.
    const Bytes moov = Box("moov", 600);
    carved = Carve(Join({ftyp, moov, LargeBox("mdat", 0x8000000000000000ULL, 64)}));
    ASSERT_EQ(carved.size(), 1u);
    EXPECT_EQ(carved[0].size, static_cast<long long>(ftyp.size() + moov.size()));

    // A size of 1 on a box that has no 64-bit form ends the file there.
    Bytes one = Box("free", 16);
    PutBE32(one, 0, 1);
    carved = Carve(Join({ftyp, moov, one, Box("mdat", 100)}));
    ASSERT_EQ(carved.size(), 1u);
    EXPECT_EQ(carved[0].size, static_cast<long long>(ftyp.size() + moov.size()));

    // A size below 8 ends it as well.
    Bytes tiny = Box("mdat", 16);
    PutBE32(tiny, 0, 7);
    carved = Carve(Join({ftyp, moov, tiny}));
    ASSERT_EQ(carved.size(), 1u);
    EXPECT_EQ(carved[0].size, static_cast<long long>(ftyp.size() + moov.size()));

    // A file of one box is no file.
    EXPECT_TRUE(Carve(Join({ftyp, Box("junk", 100)})).empty());

    // A media box claiming 4 GiB on a small device ends with the device.
    const long long sectors = 96;
    Bytes huge = Box("mdat", 64);
    PutBE32(huge, 0, 0xFFFFFFF0u);
    carved = Carve(Join({ftyp, moov, huge}), sectors);
    ASSERT_EQ(carved.size(), 1u);
    EXPECT_EQ(carved[0].size, (sectors - kStart) * 512);
}

TEST(rawMovWalk, ASecondFtypAfterOtherBoxesStartsTheNextFile)
{
    const Bytes first = Join({Ftyp("qt  "), Box("wide", 8), Box("mdat", 1000), Box("moov", 512)});
    ASSERT_EQ(first.size() % 512, 0u);
    const Bytes second = Join({Ftyp("qt  "), Box("moov", 800), Box("mdat", 3000)});
    SearchHarness h(64, 512, GetRawAnalyserRows());
    h.Device().Put(kStart * 512, Join({first, second}));
    h.Run();
    const auto files = h.Files();
    ASSERT_EQ(files.size(), 2u);
    const CarvedFile* a = h.FileAt(kStart);
    const CarvedFile* b = h.FileAt(kStart + static_cast<long long>(first.size()) / 512);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size, static_cast<long long>(first.size()));
    EXPECT_EQ(b->size, static_cast<long long>(second.size()));
}

TEST(rawMovWalk, AnIsoMovieWithOneIndexIsMp4)
{
    // Typed 42 by its brands, made MP4 by its walk.
    const Bytes file = Join({Ftyp("isom", {"isom", "iso2"}), Box("moov", 900), Box("mdat", 5000)});
    const auto carved = Carve(file);
    ASSERT_EQ(carved.size(), 1u);
    EXPECT_EQ(carved[0].folder, "mp4");
    EXPECT_EQ(carved[0].size, static_cast<long long>(file.size()));
}

// ---- camera text ----------------------------------------------------------------

TEST(rawMovCamera, PhoneTextNearTheEndLabelsTheMovie)
{
    const struct {
        const char* what;
        std::string text;
        const char* label;  // null: no label
    } cases[] = {
        {"iPhone model", std::string("iPhone 12 Pro\0\0", 15), "IPHONE 12 PRO"},
        {"iPad model", std::string("iPad Air (5th)\0", 15), nullptr},  // brackets are not camera text
        {"iPad plain", std::string("iPad Pro 11\0", 12), "IPAD PRO 11"},
        {"cut at 20 bytes", "iPhone 15 Pro Max extra words", "IPHONE 15 PRO MAX EX"},
        {"no phone", std::string("Canon\0", 6), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes udta = Box("udta", 200, 0);
        std::memcpy(udta.data() + 200 - 40, c.text.data(), std::min<size_t>(c.text.size(), 40));
        const Bytes head = Join({Ftyp("qt  "), Box("wide", 8), Box("mdat", 2000)});
        // The text lies near the start of the sector where the movie ends.
        const size_t pad = (512 - (head.size() + 8 + 200) % 512 + 100) % 512;
        Bytes moov = Box("moov", static_cast<uint32_t>(8 + pad + 200), 0x44);
        moov.resize(8 + pad);
        const Bytes file = Join({head, moov, udta});
        ASSERT_LT(file.size() % 512, 300u);
        SearchHarness h(64, 512, GetRawAnalyserRows());
        h.Device().Put(kStart * 512, file);
        h.Run();
        const CarvedFile* f = h.FileAt(kStart);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->size, static_cast<long long>(file.size()));
        const auto labels = h.Builder().InTree(SEARCHER_LABEL_RAW);
        bool labelled = false;
        for (const auto& e : labels)
            labelled |= c.label && e.directory && e.name == c.label;
        EXPECT_EQ(labelled, c.label != nullptr);
        if (!c.label) {
            for (const auto& e : labels)
                EXPECT_TRUE(e.directory) << e.name;
        }
    }
}

// A little-endian EXIF block with Make, Model and DateTime entries.
Bytes ExifBlock(const std::string& make, const std::string& model)
{
    Bytes b(6 + 8 + 2 + 3 * 12 + 4 + 64 * 3, 0);
    std::memcpy(b.data(), "Exif\0\0", 6);
    unsigned char* t = b.data() + 6;
    std::memcpy(t, "II*\0", 4);
    t[4] = 8;
    t[8] = 3;
    const unsigned int values = 8 + 2 + 36 + 4;
    const struct {
        uint16_t tag;
        std::string text;
    } entries[] = {{271, make}, {272, model}, {306, "2021:05:06 07:08:09"}};
    for (int i = 0; i < 3; ++i) {
        unsigned char* e = t + 10 + 12 * i;
        e[0] = static_cast<unsigned char>(entries[i].tag);
        e[1] = static_cast<unsigned char>(entries[i].tag >> 8);
        e[2] = 2;
        e[4] = static_cast<unsigned char>(entries[i].text.size() + 1);
        const unsigned int at = values + 64 * i;
        e[8] = static_cast<unsigned char>(at);
        e[9] = static_cast<unsigned char>(at >> 8);
        std::memcpy(t + at, entries[i].text.data(), entries[i].text.size());
    }
    return b;
}

TEST(rawMovCamera, ExifInTheIndexNamesAndLabels)
{
    const struct {
        const char* what;
        std::string make, model;
        const char* name;   // the start of the file name, null: named by sectors
        const char* label;  // label folder
    } cases[] = {
        {"make and model", "Canon", "PowerShot G7", "POWERSHOT G7", "CANON"},
        {"model alone becomes the label", "", "DMC-GH5", nullptr, "DMC-GH5"},
        {"a make with bad characters is dropped", "Ca#non", "EOS R5", nullptr, "EOS R5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes moov = Box("moov", 1200, 0);
        const Bytes exif = ExifBlock(c.make, c.model);
        std::memcpy(moov.data() + 40, exif.data(), exif.size());
        const Bytes file = Join({Ftyp("qt  "), moov, Box("mdat", 3000)});
        SearchHarness h(64, 512, GetRawAnalyserRows());
        h.Device().Put(kStart * 512, file);
        h.Run();
        const CarvedFile* f = h.FileAt(kStart);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->size, static_cast<long long>(file.size()));
        if (c.name)
            EXPECT_EQ(f->name.rfind(c.name, 0), 0u) << f->name;
        else
            EXPECT_EQ(f->name.find("POWERSHOT"), std::string::npos) << f->name;
        bool labelled = false;
        for (const auto& e : h.Builder().InTree(SEARCHER_LABEL_RAW))
            labelled |= e.directory && e.name == c.label;
        EXPECT_TRUE(labelled) << c.label;
    }
}

TEST(rawMovCamera, DamagedExifIsIgnored)
{
    // Offsets far outside memory and an absurd entry count cost nothing.
    for (uint32_t ifd : {0xFFFFFFF0u, 0x7FFFFFFFu, 8u}) {
        SCOPED_TRACE(ifd);
        Bytes moov = Box("moov", 1200, 0);
        Bytes exif = ExifBlock("Canon", "EOS");
        PutBE32(exif, 6 + 4, 0);
        for (int i = 0; i < 4; ++i)
            exif[6 + 4 + i] = static_cast<unsigned char>(ifd >> (8 * i));
        if (ifd == 8u) {
            exif[6 + 8] = 0xFF;  // 0xFFFF entries
            exif[6 + 9] = 0xFF;
        }
        std::memcpy(moov.data() + 1200 - exif.size(), exif.data(), exif.size());
        const Bytes file = Join({Ftyp("qt  "), moov, Box("mdat", 3000)});
        SearchHarness h(64, 512, GetRawAnalyserRows());
        h.Device().Put(kStart * 512, file);
        h.Run();
        const CarvedFile* f = h.FileAt(kStart);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->size, static_cast<long long>(file.size()));
        for (const auto& e : h.Builder().InTree(SEARCHER_LABEL_RAW))
            EXPECT_NE(e.name, "CANON");
    }
}

TEST(rawMovSizer, TheMp4DeviceSizerWalksTheTopLevelBoxes)
{
    const Bytes file = Join({Ftyp("isom", {"isom"}), Box("moov", 700), Box("mdat", 9000), Box("junk", 50)});
    ByteDevice device(64, 512);
    device.Put(2 * 512, file);
    FileMP4Analyser sizer;
    CRawFileInfo info;
    info.m_llStartSector = 2;
    ASSERT_EQ(sizer.GetRawFileSize(info, &device), 1);
    EXPECT_EQ(info.m_llSize, static_cast<long long>(file.size() - 50));
    CRawFileInfo nothing;
    nothing.m_llStartSector = 40;
    EXPECT_EQ(sizer.GetRawFileSize(nothing, &device), 0);
}

}  // namespace
