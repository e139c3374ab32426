// MPEG audio: frame headers, the probes (also their cost on an erased disk),
// tag text, damaged tags, and the stream and device sizers on crafted frames.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Mp3Analyser.h"
#include "MovAnalyser.h"
#include "Mp3TagText.h"
#include "FollowedCases.h"
#include "SearchHarness.h"
#include "SectorFeeder.h"

// Counts the allocations of this test program, so a test can show that a
// code path makes none. The replacements pair malloc with free throughout,
// which the compiler cannot see through the standard allocator.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long long> g_allocations{0};
}

void* operator new(size_t size)
{
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}

namespace {

using Bytes = std::vector<unsigned char>;
using BruteForce::MP3Analyzer;
using BruteForce::MP3RawFileInfo;

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, stereo: 417 bytes a frame.
const unsigned char kHeader128[4] = {0xFF, 0xFB, 0x90, 0x44};
constexpr size_t kFrame128 = 417;

// count frames of the header, bodies free of sync patterns.
Bytes Frames(size_t count, const unsigned char* header = kHeader128, size_t length = kFrame128)
{
    Bytes out;
    for (size_t f = 0; f < count; ++f) {
        out.insert(out.end(), header, header + 4);
        for (size_t i = 4; i < length; ++i)
            out.push_back(static_cast<unsigned char>(0x20 + (i * 7 + f * 3) % 0x5F));
    }
    return out;
}

Bytes Id3Tag(int version, const std::vector<std::pair<std::string, Bytes>>& frames)
{
    Bytes body;
    for (const auto& [id, data] : frames) {
        body.insert(body.end(), id.begin(), id.end());
        const auto n = static_cast<uint32_t>(data.size());
        for (int i = 3; i >= 0; --i)
            body.push_back(static_cast<unsigned char>(n >> (8 * i)));
        body.push_back(0);
        body.push_back(0);
        body.insert(body.end(), data.begin(), data.end());
    }
    Bytes tag = {'I', 'D', '3', static_cast<unsigned char>(version), 0, 0};
    const auto size = static_cast<uint32_t>(body.size());
    for (int i = 3; i >= 0; --i)
        tag.push_back(static_cast<unsigned char>((size >> (7 * i)) & 0x7F));
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

Bytes Text(unsigned char encoding, const std::string& text)
{
    Bytes b = {encoding};
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

Bytes Id3v1(const std::string& title, const std::string& artist)
{
    Bytes t(128, 0);
    std::memcpy(t.data(), "TAG", 3);
    std::memcpy(t.data() + 3, title.data(), std::min<size_t>(title.size(), 30));
    std::memcpy(t.data() + 33, artist.data(), std::min<size_t>(artist.size(), 30));
    t[127] = 12;  // genre
    return t;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(rawMp3Header, DecodesLengthsAndRefusesReservedValues)
{
    const struct {
        const char* what;
        unsigned char h[4];
        uint32_t length;  // 0: refused
    } cases[] = {
        {"MPEG-1 L3 128k 44.1k", {0xFF, 0xFB, 0x90, 0x44}, 417},
        {"padded", {0xFF, 0xFB, 0x92, 0x44}, 418},
        {"MPEG-1 L3 320k 32k", {0xFF, 0xFB, 0xE8, 0x00}, 1440},
        {"MPEG-2 L3 32k 22.05k", {0xFF, 0xF3, 0x40, 0xC0}, 104},
        {"MPEG-2.5 L3 8k 8k", {0xFF, 0xE3, 0x18, 0xC0}, 72},
        {"MPEG-1 L1 32k 44.1k", {0xFF, 0xFF, 0x10, 0x00}, 32},
        {"MPEG-1 L2 192k 48k stereo", {0xFF, 0xFD, 0xA4, 0x00}, 576},
        {"MPEG-1 L2 32k stereo is not allowed", {0xFF, 0xFD, 0x10, 0x00}, 0},
        {"MPEG-1 L2 32k mono", {0xFF, 0xFD, 0x10, 0xC0}, 104},
        {"MPEG-1 L2 384k mono is not allowed", {0xFF, 0xFD, 0xE0, 0xC0}, 0},
        {"reserved version", {0xFF, 0xEB, 0x90, 0x44}, 0},
        {"reserved layer", {0xFF, 0xF9, 0x90, 0x44}, 0},
        {"bit-rate index 15", {0xFF, 0xFB, 0xF0, 0x44}, 0},
        {"free format", {0xFF, 0xFB, 0x00, 0x44}, 0},
        {"reserved sampling rate", {0xFF, 0xFB, 0x9C, 0x44}, 0},
        {"emphasis 2", {0xFF, 0xFB, 0x90, 0x46}, 0},
        {"erased flash", {0xFF, 0xFF, 0xFF, 0xFF}, 0},
        {"no sync", {0xFE, 0xFB, 0x90, 0x44}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Mp3FrameLength(c.h), c.length);
    }
    CMPAHeader a;
    CMPAHeader b;
    ASSERT_TRUE(a.Init(kHeader128));
    const unsigned char otherRate[4] = {0xFF, 0xFB, 0xA0, 0x44};   // 160k: still the same stream
    const unsigned char mono[4] = {0xFF, 0xFB, 0x90, 0xC4};        // mono: another stream
    ASSERT_TRUE(b.Init(otherRate));
    EXPECT_TRUE(a == b);
    ASSERT_TRUE(b.Init(mono));
    EXPECT_FALSE(a == b);
}

TEST(rawMp3Probe, Id3VersionsAndFrameChains)
{
    MP3Analyzer::m_lastStartSector = 0;
    MP3Analyzer mp3;
    const long long ss = 512;
    // The probe looks ahead in the searcher's contiguous memory.
    auto probe = [&](const Bytes& bytes, long long sector = 10, long long end = 200) {
        Bytes memory(static_cast<size_t>(ss) * 8, 0);
        std::memcpy(memory.data() + ss * 2, bytes.data(), std::min<size_t>(bytes.size(), memory.size() - ss * 2));
        CRawFileInfo info;
        const int accepted =
            mp3.AnalyseBufferEx(memory.data() + ss * 2, info, ss, sector, sector - 2, end);
        return accepted;
    };
    EXPECT_EQ(probe(Id3Tag(3, {})), 1);
    EXPECT_EQ(probe(Id3Tag(4, {})), 1);
    EXPECT_EQ(probe(Id3Tag(2, {})), 0);
    EXPECT_EQ(probe(Id3Tag(5, {})), 0);
    EXPECT_EQ(MP3Analyzer::m_lastStartSector, 0);

    // Three chained headers open a stream and bar other frame-led starts.
    EXPECT_EQ(probe(Frames(4)), 1);
    EXPECT_EQ(MP3Analyzer::m_lastStartSector, 10);
    EXPECT_EQ(probe(Frames(4), 11), 0);
    EXPECT_EQ(probe(Id3Tag(3, {}), 11), 1);
    MP3Analyzer::m_lastStartSector = 0;

    // A broken second or third header refuses.
    Bytes broken = Frames(4);
    broken[kFrame128] = 0x00;
    EXPECT_EQ(probe(broken), 0);
    broken = Frames(4);
    broken[2 * kFrame128 + 1] = 0x00;
    EXPECT_EQ(probe(broken), 0);
    // At the end of memory, one header is enough; no stream is marked.
    EXPECT_EQ(probe(Frames(1), 10, 11), 1);
    EXPECT_EQ(MP3Analyzer::m_lastStartSector, 0);

    // A frame whose predecessor ends right at the sector start is in the
    // middle of a stream.
    Bytes memory(static_cast<size_t>(ss) * 16, 0);
    const Bytes run = Frames(10);
    std::memcpy(memory.data() + ss * 2 - kFrame128, run.data(), run.size());
    CRawFileInfo info;
    EXPECT_EQ(mp3.AnalyseBufferEx(memory.data() + ss * 2, info, ss, 10, 8, 200), 0);
    EXPECT_EQ(MP3Analyzer::m_lastStartSector, 0);
}

TEST(rawMp3Probe, AnErasedDiskCostsNoAllocation)
{
    MP3Analyzer::m_lastStartSector = 0;
    MP3Analyzer mp3;
    const long long ss = 4096;
    Bytes memory(static_cast<size_t>(ss) * 4, 0xFF);
    // A sector of a random stream that merely begins with sync bits.
    Bytes noise(static_cast<size_t>(ss) * 4, 0);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
    noise[ss] = 0xFF;
    noise[ss + 1] = 0xFB;
    noise[ss + 2] = 0x90;
    noise[ss + 3] = 0x44;
    CRawFileInfo info;
    const long long before = g_allocations.load();
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        accepted += mp3.AnalyseBufferEx(memory.data() + ss, info, ss, 1000 + i, 999 + i, 1003 + i);
        accepted += mp3.AnalyseBufferEx(noise.data() + ss, info, ss, 1000 + i, 999 + i, 1003 + i);
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
    EXPECT_EQ(accepted, 0);
}

// ---- tag text ------------------------------------------------------------------

TEST(rawMp3Text, SynchsafeSizesAndCleaning)
{
    unsigned int v = 0;
    const unsigned char good[4] = {0x00, 0x00, 0x02, 0x01};
    const unsigned char bad[4] = {0x00, 0x80, 0x00, 0x00};
    EXPECT_EQ(classMp3Search::GetSynchsafeInteger(good, &v), 1);
    EXPECT_EQ(v, 257u);
    EXPECT_EQ(classMp3Search::GetSynchsafeInteger(bad, &v), 0);

    const struct {
        const char* what;
        std::string in;
        std::string out;
    } cases[] = {
        {"ASCII up to NUL", std::string("Band\0junk", 9), "Band"},
        {"valid UTF-8", "Caf\xC3\xA9", "Caf\xC3\xA9"},
        {"cut sequence counts as valid", "Caf\xC3", "Caf\xC3"},
        {"Latin-1 bytes", "Caf\xE9 Cr\xE8me", "Caf_ Cr_me"},
        {"only high bytes", "\xF8\xF9", ""},
        {"continuation lead", "\x80" "ab", "_ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(mp3text::replaceChar(reinterpret_cast<const unsigned char*>(c.in.data()), c.in.size()), c.out);
    }
}

TEST(rawMp3Text, TextFramesByEncoding)
{
    MP3RawFileInfo info(nullptr);
    const Bytes utf16le = {1, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 'z', 0};
    const Bytes utf16be = {1, 0xFE, 0xFF, 0, 'A', 0, 'z'};
    const struct {
        const char* what;
        Bytes frame;
        std::string text;
    } cases[] = {
        {"UTF-8", Text(3, "Gr\xC3\xBCn"), "Gr\xC3\xBCn"},
        {"UTF-16 little-endian", utf16le, "A\xC3\xA9z"},
        {"UTF-16 big-endian is not read", utf16be, ""},
        {"UTF-16 too short", Bytes{1, 0xFF, 0xFE}, ""},
        {"ASCII", Text(0, "Plain Title"), "Plain Title"},
        {"encoding 2", Text(2, "text"), ""},
        {"encoding byte alone", Bytes{0}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out = "stale";
        info.GetTagValue(c.frame.data(), static_cast<unsigned int>(c.frame.size()), out, true);
        EXPECT_EQ(out, c.text);
    }
}

TEST(rawMp3Text, DamagedTagsGiveNoName)
{
    const Bytes good = Id3Tag(3, {{"TPE1", Text(0, "Artist One")}, {"TIT2", Text(0, "Song")}});
    const struct {
        const char* what;
        Bytes tag;
        bool named;
    } cases[] = {
        {"good", good, true},
        {"synchsafe byte with its top bit", [&] { Bytes b = good; b[8] = 0x80; return b; }(), false},
        {"zero frame size stops", Id3Tag(3, {{"TALB", Bytes{}}, {"TPE1", Text(0, "Artist One")}}), false},
        {"frame running past the bytes", [&] { Bytes b = good; b[15] = 0x7F; return b; }(), true},
        {"cut in a frame header", Bytes(good.begin(), good.begin() + 16), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MP3RawFileInfo info(nullptr);
        // Exactly the tag's bytes: anything read past them is a fault.
        Bytes exact = c.tag;
        info.GatherTagInfo(exact.data(), static_cast<long long>(exact.size()));
        EXPECT_EQ(!info.m_strName.empty(), c.named) << info.m_strName;
    }
    MP3RawFileInfo info(nullptr);
    info.m_llStartSector = 7;
    info.GatherTagInfo(good.data(), static_cast<long long>(good.size()));
    EXPECT_EQ(info.m_strName, "Artist One_Song 7_");
    EXPECT_EQ(info.m_strTagValue, "Artist One");
    EXPECT_EQ(info.m_eTag, RAW_TAG_ARTIST);
}

TEST(rawMp3End, RepeatedBytesAndId3v1InTheWindow)
{
    MP3RawFileInfo info(nullptr);
    Bytes window(1024, 0);
    for (size_t i = 0; i < 900; ++i)
        window[i] = static_cast<unsigned char>(1 + i % 200);
    EXPECT_EQ(info.FindDuplicateByteCount(window.data(), 1024, 32), 0);
    for (size_t i = 100; i < 170; ++i)
        window[i] = 0x55;
    EXPECT_EQ(info.FindDuplicateByteCount(window.data(), 1024, 32), 1);
    // No trailing zeros: the walk starts inside the window.
    Bytes full(512, 0x55);
    EXPECT_EQ(info.FindDuplicateByteCount(full.data(), 512, 0), 1);
    EXPECT_EQ(info.FindDuplicateByteCount(full.data(), 16, 32), 0);

    Bytes end(1024, 0);
    const Bytes v1 = Id3v1("My Title    ", "The Artist");
    std::memcpy(end.data() + 100, v1.data(), v1.size());
    info.m_llStartSector = 3;
    const int after = info.FindTagInEndSector(end.data(), 1024, 32, 40);
    EXPECT_EQ(after, 103);
    EXPECT_EQ(info.m_strName, "The Artist_My Title 3-40_");
    EXPECT_EQ(info.m_strTagValue, "The Artist");
}

// ---- sizing through the searcher and from the device --------------------------

constexpr long long kStart = 4;

std::vector<CarvedFile> Carve(const Bytes& file, long long sectors, unsigned int ss = 512, unsigned char fill = 0)
{
    MP3Analyzer::m_lastStartSector = 0;
    SearchHarness h(sectors, ss, GetRawAnalyserRows());
    std::fill(h.Device().Bytes().begin(), h.Device().Bytes().end(), fill);
    h.Device().Put(kStart * ss, file);
    h.Run();
    std::vector<CarvedFile> out;
    for (const CarvedFile& f : h.Files())
        if (f.start == kStart)
            out.push_back(f);
    EXPECT_EQ(MP3Analyzer::m_lastStartSector, 0);
    return out;
}

TEST(rawMp3Stream, FrameLedFilesEndAtTheirLastFrameOrTag)
{
    const Bytes frames = Frames(60);  // 25,020 bytes
    const Bytes withTag = Join({frames, Id3v1("Tune", "Singer")});
    const Bytes withApe = [&] {
        Bytes ape(260, 0x41);
        std::memcpy(ape.data(), "APETAGEX", 8);
        ape[8] = 0xD0;
        return Join({frames, ape});
    }();
    for (unsigned char fill : {0x00, 0xFF}) {
        SCOPED_TRACE(static_cast<int>(fill));
        auto carved = Carve(frames, 128, 512, fill);
        ASSERT_EQ(carved.size(), 1u);
        EXPECT_EQ(carved[0].size, static_cast<long long>(frames.size()));
        EXPECT_EQ(carved[0].folder, "mp3");

        carved = Carve(withTag, 128, 512, fill);
        ASSERT_EQ(carved.size(), 1u);
        EXPECT_EQ(carved[0].size, static_cast<long long>(withTag.size()));
        EXPECT_EQ(carved[0].name.rfind("Singer_Tune", 0), 0u) << carved[0].name;

        carved = Carve(withApe, 128, 4096, fill);
        ASSERT_EQ(carved.size(), 1u);
        EXPECT_EQ(carved[0].size, static_cast<long long>(withApe.size()));
    }
    // Too short to be a file, by the stream walk and by the device sizer.
    EXPECT_TRUE(Carve(Frames(20), 128).empty());
}

TEST(rawMp3Stream, Id3LedFilesEndByTheirTagsOrTheDevice)
{
    const Bytes tag = Id3Tag(3, {{"TPE1", Text(0, "Band")}, {"TIT2", Text(0, "Track")}, {"TYER", Text(0, "20200102")}});
    const Bytes file = Join({tag, Frames(100), Id3v1("Track", "Band")});
    // Followed by zeros: ended at the zero tail of its last sector, with
    // that sector's data; followed by 0xFF: the device sizer's exact end.
    for (unsigned int ss : {512u, 4096u}) {
        for (unsigned char fill : {0x00, 0xFF}) {
            SCOPED_TRACE(std::to_string(ss) + " " + std::to_string(fill));
            const auto carved = Carve(file, 512 * 128 / ss, ss, fill);
            ASSERT_EQ(carved.size(), 1u);
            EXPECT_GE(carved[0].size, static_cast<long long>(file.size()));
            EXPECT_LT(carved[0].size, static_cast<long long>(file.size() + ss));
            if (fill == 0xFF) {
                EXPECT_EQ(carved[0].size, static_cast<long long>(file.size()));
            }
            EXPECT_EQ(carved[0].name.rfind("Band_Track", 0), 0u) << carved[0].name;
        }
    }
}

// An MP3 ends with its last frame and the tags after it whatever follows,
// also when that frame's last bytes are zero; cut short, it keeps no byte
// of the next file.
TEST(rawMp3Stream, EndsAfterItsLastFrameAndTagsWhateverFollows)
{
    const Bytes tag = Id3Tag(3, {{"TPE1", Text(0, "Band")}, {"TIT2", Text(0, "Track")}, {"PRIV", Bytes(700, 0)}});
    Bytes quiet = Frames(90);
    std::fill(quiet.end() - 200, quiet.end(), 0);
    const Bytes tagged = Join({tag, quiet});
    const Bytes both = Join({tag, Frames(100), Id3v1("Track", "Band")});
    const Bytes bare = Frames(80);
    const Bytes random = followed::Noise(20000, 8, true);
    Bytes cut = both;
    cut.resize(both.size() / 2);
    followed::ExpectEnds({
        {"zeros after a quiet last frame", tagged, Bytes(8192, 0)},
        {"random bytes", both, random},
        {"another MP3", both, tagged},
        {"a PDF", tagged, followed::PdfHead()},
        {"no tag, then random bytes", bare, random},
        {"cut short, then a PDF", cut, followed::PdfHead(), -1, true},
        {"cut short, then another MP3", cut, both, -1, true},
    });
}

TEST(rawMp3Sizer, DeviceSizerPathsAndDamage)
{
    const Bytes tag = Id3Tag(4, {{"TIT2", Text(3, "Only Title")}});
    // A damaged frame in the middle: the walk finds the stream again.
    Bytes damaged = Join({tag, Frames(40)});
    damaged[tag.size() + 10 * kFrame128 + 1] = 0x00;
    const Bytes xingFrame = [&] {
        Bytes f = Frames(1, std::array<unsigned char, 4>{0xFF, 0xFB, 0xE0, 0x44}.data(), 1044);
        std::memcpy(f.data() + 36, "Xing", 4);
        const uint32_t total = 1044 + 30 * 1044;
        for (int i = 0; i < 4; ++i)
            f[48 + i] = static_cast<unsigned char>(total >> (24 - 8 * i));
        return f;
    }();
    const unsigned char h320[4] = {0xFF, 0xFB, 0xE0, 0x44};
    const Bytes xing = Join({xingFrame, Frames(30, h320, 1044), Id3v1("X Title", "X Artist")});
    const struct {
        const char* what;
        Bytes file;
        long long size;  // 0: no size
        const char* name;
    } cases[] = {
        {"ID3 with a damaged frame", damaged, static_cast<long long>(damaged.size()), "_Only Title"},
        {"ID3 with no frames", Join({tag, Bytes(600, 0x41)}), 0, nullptr},
        {"Xing byte count and ID3v1", xing, static_cast<long long>(xing.size()), "X Artist_X Title"},
        {"frames", Frames(40), 40 * static_cast<long long>(kFrame128), nullptr},
        {"short frames", Frames(10), 0, nullptr},
        {"not MPEG audio", Bytes(1000, 0x41), 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ByteDevice device(256, 512);
        std::fill(device.Bytes().begin(), device.Bytes().end(), 0xFF);
        device.Put(5 * 512, c.file);
        FileMP3Analyser sizer;
        CRawFileInfo info;
        info.m_llStartSector = 5;
        EXPECT_EQ(sizer.GetRawFileSize(info, &device), c.size ? 1 : 0);
        EXPECT_EQ(info.m_llSize, c.size);
        if (c.name) {
            EXPECT_EQ(info.m_strName, c.name);
        }
    }

    // A start inside the frames sized last gets no size.
    ByteDevice device(256, 512);
    device.Put(5 * 512, Frames(60));
    FileMP3Analyser sizer;
    CRawFileInfo whole;
    whole.m_llStartSector = 5;
    ASSERT_EQ(sizer.GetRawFileSize(whole, &device), 1);
    // A second run of frames starting two sectors in.
    device.Put(7 * 512, Frames(50));
    CRawFileInfo inside;
    inside.m_llStartSector = 7;
    EXPECT_EQ(sizer.GetRawFileSize(inside, &device), 0);
}

}  // namespace

namespace {

// Random bytes with the starts of movies and MP3s planted in them, then
// damaged at random: the search ends, and every file lies on the device.
TEST(rawAvDamage, DamagedStartsCostNoCrash)
{
    for (unsigned int ss : {512u, 4096u}) {
        for (unsigned int seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(std::to_string(ss) + " seed " + std::to_string(seed));
            const long long sectors = 4 * 1024 * 1024 / ss;
            MP3Analyzer::m_lastStartSector = 0;
            SearchHarness h(sectors, ss, GetRawAnalyserRows());
            Bytes& bytes = h.Device().Bytes();
            uint64_t state = seed * 0x9E3779B97F4A7C15ULL;
            auto next = [&] {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                return state;
            };
            for (auto& b : bytes)
                b = static_cast<unsigned char>(next() % 3 == 0 ? 0 : next());
            const Bytes tag = Id3Tag(3, {{"TPE1", Text(0, "Damaged")}, {"APIC", Bytes(900, 0xD8)}});
            const Bytes starts[] = {
                Join({tag, Frames(30)}),
                Frames(40),
                Join({Bytes{0, 0, 0, 20, 'f', 't', 'y', 'p', 'q', 't', ' ', ' ', 0, 0, 0, 0, 'q', 't', ' ', ' '},
                      Bytes{0, 0, 4, 0, 'm', 'o', 'o', 'v', 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', '*', 0, 8, 0, 0, 0}}),
            };
            for (int n = 0; n < 60; ++n) {
                const Bytes& start = starts[next() % 3];
                Bytes copy = start;
                const long long sector = static_cast<long long>(next() % ((bytes.size() - copy.size()) / ss));
                for (int k = 0; k < 6; ++k)
                    copy[next() % copy.size()] = static_cast<unsigned char>(next());
                h.Device().Put(sector * ss, copy);
            }
            h.Run();
            EXPECT_EQ(MP3Analyzer::m_lastStartSector, 0);
            for (const CarvedFile& f : h.Files()) {
                EXPECT_GT(f.size, 0);
                EXPECT_LE(f.start * ss + f.size, sectors * ss) << f.name;
            }
        }
    }
}

}  // namespace

namespace {

TEST(rawMp3Stream, Id3LedEndRulesSectorBySector)
{
    const Bytes tag = Id3Tag(3, {{"TPE1", Text(0, "Band")}, {"TIT2", Text(0, "Song")}});
    Bytes first = Join({tag, Frames(2)});
    // A sector of frame data that ends in n zero bytes and holds an ID3v1
    // tag, bar its last n bytes.
    auto ending = [](size_t zeros) {
        Bytes s = Frames(2);
        s.resize(512);
        const Bytes v1 = Id3v1("Song", "Band");
        std::memcpy(s.data() + 512 - zeros - 128, v1.data(), 128);
        std::fill(s.end() - static_cast<long>(zeros), s.end(), 0);
        return s;
    };
    const Bytes middle = Frames(2);
    SectorFeeder feed;
    {
        MP3RawFileInfo c(nullptr);
        c.m_llStartSector = 1000;
        ASSERT_EQ(feed.Feed(c, 1000, first), 2);
        EXPECT_EQ(c.m_strName, "Band_Song 1000_");
        // Before the end-search threshold nothing ends it.
        EXPECT_EQ(feed.Feed(c, 1010, ending(32), middle), 2);
        // Fewer than 32 zero bytes at the end never end it.
        EXPECT_EQ(feed.Feed(c, 1100, ending(28), middle), 2);
        ASSERT_EQ(feed.Feed(c, 1101, ending(32), middle), 1);
        EXPECT_EQ(c.m_llSize, 101 * 512 + 512 - 32);
        EXPECT_EQ(c.m_strTagValue, "Band");
    }
    {
        // Not followed past 500 MiB: the device sizer takes it.
        MP3RawFileInfo c(nullptr);
        c.m_llStartSector = 1000;
        ASSERT_EQ(feed.Feed(c, 1000, first), 2);
        EXPECT_EQ(feed.Feed(c, 1000 + MP3RawFileInfo::kMaxId3Led / 512 - 1, middle, middle), 2);
        EXPECT_EQ(feed.Feed(c, 1000 + MP3RawFileInfo::kMaxId3Led / 512, middle, middle), 1);
        EXPECT_EQ(c.m_llSize, 0);
    }
    {
        // Nameless: named by its first and last sector.
        MP3RawFileInfo c(nullptr);
        c.m_llStartSector = 7;
        ASSERT_EQ(feed.Feed(c, 7, Join({Id3Tag(3, {{"TIT2", Text(1, std::string("\xFE\xFF\0S", 4))}}), Frames(2)})), 2);
        EXPECT_EQ(c.m_strName, "");
        Bytes tail = Frames(2);
        tail.resize(512);
        for (size_t i = 200; i < 300; ++i)
            tail[i] = 0x66;
        std::fill(tail.begin() + 400, tail.end(), 0);
        ASSERT_EQ(feed.Feed(c, 107, tail, middle), 1);
        EXPECT_EQ(c.m_strName, "7-107_");
    }
}

TEST(rawMovWalk, ADroppedMovieKeepsWhatItWalked)
{
    // ftyp and a 600-byte index walked, the next header in a sector not fed.
    Bytes sector(512, 0);
    const unsigned char ftyp[] = {0, 0, 0, 24, 'f', 't', 'y', 'p', 'm', 'p', '4', '2', 0, 0, 0, 0,
                                  'i', 's', 'o', 'm', 'm', 'p', '4', '2'};
    std::memcpy(sector.data(), ftyp, sizeof(ftyp));
    const unsigned char moov[] = {0, 0, 2, 0x58, 'm', 'o', 'o', 'v'};
    std::memcpy(sector.data() + 24, moov, sizeof(moov));
    BruteForce::Mp4Analyzer mp4;
    BruteForce::MovAnalyzer mov;
    for (IRawFileAnalyser* analyser : {static_cast<IRawFileAnalyser*>(&mp4), static_cast<IRawFileAnalyser*>(&mov)}) {
        std::unique_ptr<CRawFileInfo> c(analyser->CreateRawFileInfo());
        c->m_llStartSector = 50;
        c->m_pOwner = analyser;
        SectorFeeder feed;
        ASSERT_EQ(feed.Feed(*c, 50, sector), 2);
        c->WillBeRemove(nullptr, -1);
        EXPECT_EQ(c->m_llSize, 624);
        // Only MP4 candidates have a device sizer.
        EXPECT_EQ(c->m_pOwner, analyser == &mp4 ? static_cast<IRawFileAnalyser*>(mp4.GetFileAnalyser()) : nullptr);
    }
}

}  // namespace
