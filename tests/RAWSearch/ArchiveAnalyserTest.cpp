// Archive analysers on crafted bytes: probes, the streaming ends, the
// whole-file partners, their limits and damaged archives.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "ArchiveAnalysers.h"
#include "CameraRawBytes.h"
#include "FollowedCases.h"
#include "SearchHarness.h"

namespace {

using namespace rawtest;

// ---- helpers ----

long long PartnerSize(IRawFileAnalyser& partner, const Bytes& file, unsigned int ss, CRawFileInfo& info,
                      int* result = nullptr, long long extraSectors = 64)
{
    ByteDevice device(static_cast<long long>(file.size() / ss) + extraSectors, ss);
    device.Put(2LL * ss, file);
    info.m_llStartSector = 2;
    const int r = partner.GetRawFileSize(info, &device);
    if (result)
        *result = r;
    return r ? info.m_llSize : -1;
}

Bytes Random(size_t n, unsigned seed, bool noZero = true)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<unsigned char>(noZero ? 1 + rng() % 255 : rng());
    return b;
}

// ---- gzip ----

Bytes Tar(const std::vector<std::pair<std::string, unsigned>>& members);

// A real gzip member of text (and random bytes when noise > 0), with the
// stored name when given.
Bytes RealGzip(size_t lines, size_t noise, const char* name = nullptr)
{
    std::string text;
    for (size_t i = 0; i < lines; ++i)
        text += "line " + std::to_string(i * 7919 % 100003) + " of the text\n";
    const Bytes random = Random(noise, static_cast<unsigned>(lines + noise));
    text.append(random.begin(), random.end());
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    gz_header header{};
    std::string stored = name ? name : "";
    if (name) {
        header.name = reinterpret_cast<Bytef*>(stored.data());
        deflateSetHeader(&z, &header);
    }
    Bytes out(deflateBound(&z, text.size()) + 64);
    z.next_in = reinterpret_cast<Bytef*>(text.data());
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A gzip file ends with its last member's trailer whatever follows it, also
// when its last byte is zero or another member follows.
TEST(rawGz, EndsAfterTheLastMembersTrailerWhateverFollows)
{
    const Bytes one = RealGzip(3000, 0, "numbers.txt");
    Bytes two = RealGzip(500, 3000);
    const Bytes second = RealGzip(800, 0);
    two.insert(two.end(), second.begin(), second.end());
    // A length trailer whose high bytes are zero, then zeros.
    const Bytes small = RealGzip(40, 0);
    Bytes cut = one;
    cut.resize(one.size() / 2);
    followed::ExpectEnds({
        {"zeros", one, Bytes(8192, 0)},
        {"random bytes", one, followed::Noise(20000, 5)},
        {"random bytes with zeros", one, followed::Noise(20000, 9, true)},
        {"another gzip file", one, RealGzip(900, 100)},
        {"a tar archive", one, Tar({{"q", 5000}})},
        {"two members, then random bytes", two, followed::Noise(20000, 7)},
        {"a small file, then another gzip", small, RealGzip(900, 0)},
        {"cut short, then a tar archive", cut, Tar({{"q", 5000}}), -1, true},
        {"cut short, then another gzip", cut, RealGzip(700, 0), -1, true},
    });
    // Cut short at the device's end: the partner keeps what the device has.
    FileGZAnalyser partner;
    CRawFileInfo info;
    EXPECT_EQ(PartnerSize(partner, one, 512, info), static_cast<long long>(one.size()));
    EXPECT_EQ(info.m_strName, "numbers.txt");
}

Bytes Gzip(unsigned char flags, const std::string& name, size_t body, uint32_t isize)
{
    Bytes b = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 2, 3};
    if (flags & 4) {
        b.push_back(4), b.push_back(0);
        b.insert(b.end(), {'a', 'b', 'c', 'd'});
    }
    if (flags & 8) {
        b.insert(b.end(), name.begin(), name.end());
        b.push_back(0);
    }
    if (flags & 16) {
        b.insert(b.end(), {'n', 'o', 't', 'e', 0});
    }
    if (flags & 2)
        b.push_back(0x12), b.push_back(0x34);
    const Bytes data = Random(body, 1);
    b.insert(b.end(), data.begin(), data.end());
    b.insert(b.end(), {1, 2, 3, 4});  // CRC
    Put32(b, b.size(), isize, true);
    return b;
}

TEST(rawGz, StreamingEndKeepsTheLengthTrailerAndTheStoredName)
{
    const struct {
        const char* what;
        unsigned char flags;
        size_t body;
        uint32_t isize;
        long long padded;  // zero bytes the size takes past the file
        const char* name;
    } cases[] = {
        {"two zero high bytes", 8, 3000, 0x1234, 1, "report.txt"},
        {"one zero high byte", 0, 3000, 0x123456, 2, nullptr},
        {"no zero byte", 0, 3000, 0x12345678, 3, nullptr},
        {"within the first sector", 8, 100, 0x99, 0, "a.b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes gz = Gzip(c.flags, c.name ? c.name : "", c.body, c.isize);
        RawSpeed::GZAnalyzer analyser;
        std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
        const FeedResult r = Feed(*info, gz, 512);
        EXPECT_EQ(r.llSize, static_cast<long long>(gz.size()) + c.padded);
        EXPECT_EQ(r.llSector, static_cast<long long>(gz.size() - 1) / 512);
        EXPECT_EQ(info->m_strName, c.name ? std::string(c.name)
                                           : "0-" + std::to_string(r.llSector) + "_");
    }
}

TEST(rawGz, PartnerWalksTheOptionalFieldsToAZeroEndedSector)
{
    RawSpeed::GZAnalyzer probe;
    FileGZAnalyser partner;
    for (unsigned char flags : {0, 2, 4, 8, 16, 30}) {
        SCOPED_TRACE(int(flags));
        Bytes gz = Gzip(flags, "name.txt", 2000, 0x11223344);
        CRawFileInfo info;
        // The first sector after the header that ends in 8 zero bytes.
        const long long last = static_cast<long long>(gz.size() - 1) / 512;
        const long long end = gz.size() <= static_cast<size_t>(last * 512 + 504) ? (last + 1) * 512 : (last + 2) * 512;
        EXPECT_EQ(PartnerSize(partner, gz, 512, info), end);
        EXPECT_EQ(info.m_strName, flags & 8 ? "name.txt" : "");
    }
    // A name that never ends stops at the limit of the walk.
    Bytes endless = {0x1F, 0x8B, 0x08, 8, 0, 0, 0, 0, 2, 3};
    endless.resize(FileGZAnalyser::kNameLimit + 1000, 'x');
    CRawFileInfo info;
    EXPECT_EQ(PartnerSize(partner, endless, 4096, info), FileGZAnalyser::kNameLimit);

    // Header tests.
    const struct {
        Bytes head;
        int stream;
        int partner;
    } heads[] = {
        {{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 2, 3}, 1, 1},
        {{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 3}, 1, 0},
        {{0x1F, 0x8B, 0x08, 32, 0, 0, 0, 0, 2, 3}, 0, 0},
        {{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 2, 14}, 0, 0},
        {{0x1F, 0x8B, 0x07, 0, 0, 0, 0, 0, 2, 3}, 0, 0},
    };
    for (const auto& h : heads) {
        Bytes sector = h.head;
        sector.resize(512, 0);
        CRawFileInfo i;
        EXPECT_EQ(probe.AnalyseBuffer(sector.data(), i), h.stream);
        EXPECT_EQ(partner.AnalyseBuffer(sector.data(), i), h.partner);
    }
}

// ---- RAR ----

Bytes Rar(const std::vector<uint32_t>& files, bool endBlock = true)
{
    Bytes b = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    b.insert(b.end(), {0x90, 0xCF, 0x73, 0x00, 0x00, 0x0D, 0x00, 0, 0, 0, 0, 0, 0});
    for (uint32_t size : files) {
        const size_t at = b.size();
        b.resize(at + 36, 0);
        b[at + 2] = 0x74;
        Put16(b, at + 3, 0x8000, true);
        Put16(b, at + 5, 36, true);
        Put32(b, at + 7, size, true);
        Put32(b, at + 11, size + 10, true);
        b[at + 15] = 2;
        Put16(b, at + 26, 4, true);
        PutText(b, at + 32, "file");
        const Bytes data = Random(size, size);
        b.insert(b.end(), data.begin(), data.end());
    }
    if (endBlock)
        b.insert(b.end(), {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00});
    return b;
}

TEST(rawRar, BlockSizes)
{
    const struct {
        Bytes header;
        long long size;
    } cases[] = {
        {{0, 0, 0x73, 0, 0, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 13},
        {{0, 0, 0x73, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, -1},
        {{0, 0, 0x74, 0, 0x80, 40, 0, 100, 0, 0, 0, 200, 0, 0, 0, 2}, 140},
        {{0, 0, 0x74, 0, 0x80, 40, 0, 100, 0, 0, 0, 50, 0, 0, 0, 2}, -1},  // packed above unpacked
        {{0, 0, 0x74, 0, 0x80, 40, 0, 100, 0, 0, 0, 200, 0, 0, 0, 5}, -1},  // unknown host
        {{0, 0, 0x75, 0, 0, 13, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0}, 33},
        {{0, 0, 0x76, 0, 0, 13, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0}, 13},
        {{0, 0, 0x77, 0, 0, 13, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0}, 33},
        {{0, 0, 0x77, 0, 0, 13, 0, 20, 0, 0, 0, 0, 0, 1, 0, 0}, -1},
        {{0, 0, 0x7A, 0, 0, 13, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0}, 33},
        {{0, 0, 0x79, 0, 0, 13, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0}, -1},
        {{0, 0, 0x73, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, -1},
        {{0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(classRarSearch::GetBlockSize(c.header.data(), 16), c.size) << int(c.header[2]);
    EXPECT_EQ(classRarSearch::GetBlockSize(cases[0].header.data(), 8), -1);
}

TEST(rawRar, StreamingAndPartnerEnds)
{
    const Bytes rar = Rar({700, 5000, 3});
    const long long endBlock = static_cast<long long>(rar.size()) - 7;
    RawSpeed::RARAnalyser analyser;
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    const FeedResult r = Feed(*info, rar, 512);
    EXPECT_EQ(r.llSize, endBlock + 15);
    FileRARAnalyser partner;
    CRawFileInfo whole;
    EXPECT_EQ(PartnerSize(partner, rar, 512, whole), endBlock + 7);

    // Without an end block: the chain breaks, the partner ends at the
    // break.
    const Bytes open = Rar({700, 5000}, false);
    std::unique_ptr<CRawFileInfo> cut(analyser.CreateRawFileInfo());
    const FeedResult rc = Feed(*cut, open, 512);
    EXPECT_GE(rc.llSector, 0);
    EXPECT_EQ(rc.llSize, 0);
    CRawFileInfo cutWhole;
    EXPECT_EQ(PartnerSize(partner, open, 512, cutWhole), static_cast<long long>(open.size()));

    // A damaged main header is refused by the partner.
    Bytes bad = rar;
    bad[9] = 0x79;
    CRawFileInfo refused;
    EXPECT_EQ(PartnerSize(partner, bad, 512, refused), -1);
    std::unique_ptr<CRawFileInfo> badStream(analyser.CreateRawFileInfo());
    EXPECT_EQ(Feed(*badStream, bad, 512).llSize, 0);
}

// ---- LHA ----

Bytes Lzh(const std::vector<uint32_t>& members)
{
    Bytes b;
    for (uint32_t size : members) {
        const size_t at = b.size();
        b.resize(at + 24 + 1, 0);
        b[at] = 22 + 1;
        PutText(b, at + 2, "-lh5-");
        Put32(b, at + 7, size, true);
        Put32(b, at + 11, size, true);
        b[at + 21] = 1;
        b[at + 22] = 'x';
        const Bytes data = Random(size, size);
        b.insert(b.end(), data.begin(), data.end());
    }
    b.push_back(0);
    return b;
}

TEST(rawLzh, StreamingAndPartnerWalkTheHeaders)
{
    const Bytes lzh = Lzh({100, 3000, 70000, 5});
    Brance::LZHAnalyser analyser;
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    const FeedResult r = Feed(*info, lzh, 512);
    EXPECT_EQ(r.llSize, static_cast<long long>(lzh.size()));
    FileLZHAnalyser partner;
    CRawFileInfo whole;
    EXPECT_EQ(PartnerSize(partner, lzh, 512, whole), (static_cast<long long>(lzh.size()) - 1 + 511) / 512 * 512);

    Bytes unknown = lzh;
    unknown[5] = 'z';
    CRawFileInfo refused;
    EXPECT_EQ(PartnerSize(partner, unknown, 512, refused), -1);
    CRawFileInfo probe;
    EXPECT_EQ(analyser.AnalyseBuffer(unknown.data(), probe), 0);
    EXPECT_EQ(analyser.AnalyseBuffer(const_cast<unsigned char*>(lzh.data()), probe), 1);
}

TEST(rawLzh, LevelTwoHeadersAreFoundByStepBack)
{
    // Level-2 headers count their first two bytes in their size: the walk
    // steps 2 bytes too far, finds no header, and steps back once.
    Bytes lzh;
    for (uint32_t size : {900u, 3000u}) {
        const size_t at = lzh.size();
        lzh.resize(at + 26, 0);
        Put16(lzh, at, 26, true);
        PutText(lzh, at + 2, "-lh5-");
        Put32(lzh, at + 7, size, true);
        lzh[at + 20] = 2;
        const Bytes data = Random(size, size + 1);
        lzh.insert(lzh.end(), data.begin(), data.end());
    }
    const long long endMark = static_cast<long long>(lzh.size());
    lzh.push_back(0);
    lzh.resize(lzh.size() + 40, 0x61);  // what follows the archive
    Brance::LZHAnalyser analyser;
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    EXPECT_EQ(Feed(*info, lzh, 512).llSize, endMark + 3);
}

// ---- StuffIt ----

TEST(rawSit, ClassicXAnd16ByteHeaders)
{
    RawSpeed::SITAnalyser analyser;
    FileSITAnalyser partner;
    {
        Bytes sit(600, 0x20);
        PutText(sit, 0, "StuffIt (c)1997");
        Put32(sit, 84, 123456, false);
        std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
        const FeedResult r = Feed(*info, sit, 512);
        EXPECT_EQ(r.llSector, 0);
        EXPECT_EQ(r.llSize, 123456);
        EXPECT_EQ(info->m_dwType, ArchiveTypes::kSIT);
        CRawFileInfo whole;
        EXPECT_EQ(PartnerSize(partner, sit, 512, whole), 123456);
        Put32(sit, 84, 0xF0000000u, false);
        std::unique_ptr<CRawFileInfo> neg(analyser.CreateRawFileInfo());
        EXPECT_EQ(Feed(*neg, sit, 512).llSize, 2000000000);
        CRawFileInfo negWhole;
        EXPECT_EQ(PartnerSize(partner, sit, 512, negWhole), FileSITAnalyser::kLimit);
    }
    for (unsigned char kind : {0x19, 0x3B, 0x10}) {
        SCOPED_TRACE(int(kind));
        Bytes sitx = {'S', 't', 'u', 'f', 'f', 'I', 't', '!'};
        const Bytes body = Random(5000, 4);
        sitx.insert(sitx.end(), body.begin(), body.end());
        sitx.insert(sitx.end(), {0x02, 0xD7, 0x0A, kind, 0x98, 0xF6, 0x42, 0x88});
        const long long tail = kind == 0x19 ? 4 : kind == 0x3B ? 5 : 6;
        sitx.insert(sitx.end(), static_cast<size_t>(tail), 0x55);
        std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
        const FeedResult r = Feed(*info, sitx, 512);
        // Where the zero tail begins, found by bisection: one byte more at
        // most.
        EXPECT_GE(r.llSize, static_cast<long long>(sitx.size()));
        EXPECT_LE(r.llSize, static_cast<long long>(sitx.size()) + 1);
        EXPECT_EQ(info->m_dwType, ArchiveTypes::kSITX);
        CRawFileInfo whole;
        EXPECT_EQ(PartnerSize(partner, sitx, 512, whole), static_cast<long long>(sitx.size()));
    }
    {
        Bytes sit16 = {0x57, 0x45, 0x42, 0x42, 0x41, 0x49, 0x4b, 0x45, 0x66, 0x66, 0xeb, 0xb4, 0xa3, 0x74, 0xbd, 0x7b};
        const Bytes body = Random(3000, 5);
        sit16.insert(sit16.end(), body.begin(), body.end());
        std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
        CRawFileInfo probe;
        EXPECT_EQ(analyser.AnalyseBuffer(sit16.data(), probe), 1);
        EXPECT_EQ(Feed(*info, sit16, 512).llSize, static_cast<long long>(sit16.size()));
        CRawFileInfo refused;
        EXPECT_EQ(PartnerSize(partner, sit16, 512, refused), -1);
    }
}

// ---- tar ----

Bytes TarHeader(const std::string& name, unsigned long long size)
{
    Bytes h(512, 0);
    PutText(h, 0, name);
    char field[13];
    std::snprintf(field, sizeof(field), "%011llo", size);
    PutText(h, 124, field);
    PutText(h, 257, "ustar");
    return h;
}

Bytes Tar(const std::vector<std::pair<std::string, unsigned>>& members)
{
    Bytes b;
    for (const auto& [name, size] : members) {
        const Bytes h = TarHeader(name, size);
        b.insert(b.end(), h.begin(), h.end());
        Bytes data = Random(size, size);
        data.resize((size + 511) / 512 * 512, 0);
        b.insert(b.end(), data.begin(), data.end());
    }
    // The two zero blocks, then zeros to the end of the 10,240-byte record
    // as GNU tar writes them.
    b.resize((b.size() + 1024 + 10239) / 10240 * 10240, 0);
    return b;
}

TEST(rawTar, SizeFieldAndEnds)
{
    const struct {
        const char* field;
        unsigned long long value;
    } fields[] = {
        {"00000001000", 512}, {"   1000    ", 512}, {"     1000 ", 512}, {"0000000000x", 0},
        {"77777777777", 8589934591ull}, {"000000000123", 83},
    };
    for (const auto& f : fields) {
        unsigned char field[12] = {};
        std::memcpy(field, f.field, std::min<size_t>(12, std::strlen(f.field)));
        EXPECT_EQ(OctStringToint(field), f.value) << f.field;
    }

    // Two 512-byte members: the archive runs to the end of its record.
    const Bytes two = Tar({{"a", 512}, {"b", 512}});
    RawSpeed::TARAnalyser analyser;
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    EXPECT_EQ(Feed(*info, two, 512).llSize, 10240);

    // Folders and empty files are members, not the end; in 4096-byte
    // sectors several headers share a sector.
    const Bytes tree = Tar({{"dir/", 0}, {"dir/empty", 0}, {"dir/a", 100}, {"dir/b", 9000}, {"c", 1}});
    for (unsigned ss : {512u, 4096u}) {
        SCOPED_TRACE(ss);
        std::unique_ptr<CRawFileInfo> t(analyser.CreateRawFileInfo());
        EXPECT_EQ(Feed(*t, tree, ss).llSize, static_cast<long long>(tree.size()));
        FileTARAnalyser partner;
        CRawFileInfo whole;
        EXPECT_EQ(PartnerSize(partner, tree, ss, whole), static_cast<long long>(tree.size()));
    }
    // A first block that is not a header is refused by the partner.
    Bytes notTar(2048, 'A');
    FileTARAnalyser partner;
    CRawFileInfo refused;
    EXPECT_EQ(PartnerSize(partner, notTar, 512, refused), -1);
}

// ---- cabinet ----

TEST(rawCab, HeaderGivesTheSize)
{
    Bytes cab(512, 0);
    PutText(cab, 0, "MSCF");
    Put32(cab, 8, 77777, true);
    Put16(cab, 24, 0x0103, true);
    FileCABAnalyser analyser;
    CRawFileInfo info;
    EXPECT_EQ(analyser.AnalyseBuffer(cab.data(), info), 1);
    EXPECT_EQ(info.m_llSize, 77777);
    EXPECT_EQ(info.m_dwType, ArchiveTypes::kCAB);
    for (size_t field : {4u, 12u, 20u}) {
        Bytes bad = cab;
        bad[field] = 1;
        CRawFileInfo refused;
        EXPECT_EQ(analyser.AnalyseBuffer(bad.data(), refused), 0) << field;
        EXPECT_EQ(refused.m_llSize, 0);
    }
    Bytes version = cab;
    version[24] = 4;
    Bytes empty = cab;
    Put32(empty, 8, 0, true);
    CRawFileInfo refused;
    EXPECT_EQ(analyser.AnalyseBuffer(version.data(), refused), 0);
    EXPECT_EQ(analyser.AnalyseBuffer(empty.data(), refused), 0);
}

// ---- through the searcher, and damage ----

TEST(rawArchive, ThroughTheSearcherAcrossBlocks)
{
    // The harness's blocks are 16 sectors: every archive crosses several.
    const Bytes rar = Rar({9000, 20});
    const Bytes tar = Tar({{"d/", 0}, {"d/x", 7000}, {"y", 3000}});
    const Bytes lzh = Lzh({12000, 40});
    SearchHarness h(400, 512, GetRawAnalyserRows());
    h.Device().Put(3 * 512, rar);
    h.Device().Put(100 * 512, tar);
    h.Device().Put(200 * 512, lzh);
    h.Run();
    const CarvedFile* f = h.FileAt(3);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size, static_cast<long long>(rar.size()) + 8);
    f = h.FileAt(100);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size, static_cast<long long>(tar.size()));
    f = h.FileAt(200);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size, static_cast<long long>(lzh.size()));
}

TEST(rawArchive, DamagedArchivesNeverCrashOrRunAway)
{
    std::mt19937 rng(21);
    RawSpeed::GZAnalyzer gz;
    RawSpeed::RARAnalyser rar;
    Brance::LZHAnalyser lzh;
    RawSpeed::SITAnalyser sit;
    RawSpeed::TARAnalyser tar;
    IRawFileAnalyser* streaming[] = {&gz, &rar, &lzh, &sit, &tar};
    FileGZAnalyser gzp;
    FileRARAnalyser rarp;
    FileLZHAnalyser lzhp;
    FileSITAnalyser sitp;
    FileTARAnalyser tarp;
    IRawFileAnalyser* partners[] = {&gzp, &rarp, &lzhp, &sitp, &tarp};
    const Bytes starts[] = {Gzip(30, "n", 600, 7), Rar({300, 300}), Lzh({300, 300}),
                            [] { Bytes b(100, 0); PutText(b, 0, "StuffIt!"); return b; }(), Tar({{"a", 300}})};
    for (int round = 0; round < 150; ++round) {
        for (size_t k = 0; k < 5; ++k) {
            Bytes b = Random(30000, static_cast<unsigned>(rng()), false);
            const size_t keep = std::min<size_t>(starts[k].size(), 20 + rng() % 400);
            std::copy(starts[k].begin(), starts[k].begin() + static_cast<long>(keep), b.begin());
            for (int z = 0; z < 20; ++z) {
                const size_t at = rng() % (b.size() - 64);
                std::fill(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + rng() % 64), 0);
            }
            std::unique_ptr<CRawFileInfo> info(streaming[k]->CreateRawFileInfo());
            const FeedResult r = Feed(*info, b, round % 2 ? 4096 : 512);
            EXPECT_GE(r.llSize, 0);
            CRawFileInfo whole;
            int result = 0;
            const long long size = PartnerSize(*partners[k], b, 512, whole, &result);
            EXPECT_TRUE(result == 0 || size >= 0) << k;
        }
    }
}

}  // namespace

// A tar archive ends after its two zero blocks and its record padding
// whatever follows it; its member headers start no file of their own.
TEST(rawTar, EndsAtItsEndBlocksWhateverFollows)
{
    const Bytes tar = Tar({{"d/", 0}, {"d/x", 7000}, {"d/y", 3000}, {"z", 12000}});
    Bytes cut = tar;
    cut.resize(512 + 512 + 7168);  // "d/" and "d/x" only
    const Bytes gz = Gzip(0, "", 3000, 77);
    const struct {
        const char* what;
        const Bytes& file;
        Bytes after;
        long long size;
    } cases[] = {
        {"zeros", tar, Bytes(8192, 0), static_cast<long long>(tar.size())},
        {"random bytes", tar, Random(20000, 5), static_cast<long long>(tar.size())},
        {"another tar", tar, Tar({{"q", 5000}}), static_cast<long long>(tar.size())},
        {"a gzip file", tar, gz, static_cast<long long>(tar.size())},
        {"cut short, then random bytes", cut, Random(20000, 6), static_cast<long long>(cut.size())},
    };
    for (const auto& c : cases) {
        for (unsigned int ss : {512u, 4096u}) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(ss));
            const FollowedCarve carved = CarveFollowed(c.file, c.after, ss, GetRawAnalyserRows());
            std::vector<CarvedFile> tars;
            for (const CarvedFile& f : carved.all)
                if (f.folder == "tar")
                    tars.push_back(f);
            EXPECT_EQ(carved.file.size, c.size);
            EXPECT_EQ(tars.size(), std::string(c.what) == "another tar" ? 2u : 1u) << "member headers are no files";
        }
    }
}
