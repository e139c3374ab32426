// CRW, X3F and MRW on crafted bytes (no free tool writes them): probes, the
// streaming end searches, the device searches, their limits and damaged
// files.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "CameraRawBytes.h"
#include "OtherCameraRawAnalysers.h"
#include "SearchHarness.h"

namespace {

using namespace rawtest;
using CrwInfo = Brance::CRWAnalyser::CRWRawFileInfo;
using X3fInfo = Brance::X3FAnalyser::X3FRawFileInfo;

Bytes CrwHeader(bool little, const char* kind = "CCDR")
{
    Bytes b(26, 0);
    b[0] = b[1] = little ? 'I' : 'M';
    b[2] = 0x1A;
    PutText(b, 6, "HEAP");
    PutText(b, 10, kind);
    b[14] = 2;
    return b;
}

// A CRW of non-zero bytes whose end record of the given kind starts at
// recordAt; the file ends the record's distance after it and zero bytes
// follow.
Bytes Crw(long long recordAt, unsigned char kind = 0xA8)
{
    const long long distance = kind == 0xA8 ? 70 : kind == 0xB2 ? 60 : 50;
    Bytes b = CrwHeader(true);
    b.resize(static_cast<size_t>(recordAt + distance), 0x3C);
    const unsigned char record[] = {0x07, 0x28, kind, 0, 0, 0};
    std::copy(record, record + 6, b.begin() + recordAt);
    return b;
}

TEST(rawCrw, ProbeNeedsTheHeapHeader)
{
    const struct {
        Bytes bytes;
        int accepted;
    } cases[] = {
        {CrwHeader(true, "CCDR"), 1}, {CrwHeader(false, "TIFP"), 1}, {CrwHeader(true, "ARCH"), 1},
        {CrwHeader(true, "XXXX"), 0}, {[] { Bytes b = CrwHeader(true); b[14] = 3; return b; }(), 0},
        {[] { Bytes b = CrwHeader(true); b[4] = 1; return b; }(), 0},
    };
    Brance::CRWAnalyser streaming;
    FileCRWAnalyser whole;
    for (const auto& c : cases) {
        Bytes sector = c.bytes;
        sector.resize(512, 0);
        CRawFileInfo info;
        EXPECT_EQ(streaming.AnalyseBuffer(sector.data(), info), c.accepted);
        EXPECT_EQ(whole.AnalyseBuffer(sector.data(), info), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(info.m_dwType, 18u);
        }
    }
    CRawFileInfo info;
    EXPECT_EQ(streaming.AnalyseBuffer(nullptr, info), 0);
}

TEST(rawCrw, StreamingEndRecords)
{
    const struct {
        const char* what;
        long long recordAt;
        unsigned char kind;
        long long size;
    } cases[] = {
        {"A8 at byte 100 of sector 900", 900 * 512 + 100, 0xA8, 900 * 512 + 170},
        {"B2", 1000 * 512 + 8, 0xB2, 1000 * 512 + 68},
        {"E4", 1000 * 512 + 8, 0xE4, 1000 * 512 + 58},
        // The record straddles a sector start: found through the window
        // around it when the next sector ends in zeros.
        {"straddling", 1000 * 512 - 3, 0xA8, 1000 * 512 + 67},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes b = Crw(c.recordAt, c.kind);
        CrwInfo info(nullptr);
        const FeedResult r = Feed(info, b, 512);
        EXPECT_EQ(r.llSize, c.size);
        EXPECT_EQ(r.llSector, (c.size - 1) / 512);
        EXPECT_EQ(info.m_strName, "0-" + std::to_string(r.llSector) + "_");
    }
    // A record before 409,600 bytes is not an end.
    {
        Bytes b = Crw(900 * 512);
        const unsigned char record[] = {0x07, 0x28, 0xA8, 0, 0, 0};
        std::copy(record, record + 6, b.begin() + 300 * 512 + 100);
        std::fill(b.begin() + 300 * 512 + 200, b.begin() + 301 * 512, 0);
        CrwInfo info(nullptr);
        EXPECT_EQ(Feed(info, b, 512).llSize, 900 * 512 + 70);
    }
    // No record: 100 MiB at most.
    {
        Bytes b = CrwHeader(true);
        b.resize(CrwInfo::kMaxSize + 4096, 0x3C);
        CrwInfo info(nullptr);
        const FeedResult r = Feed(info, b, 4096);
        EXPECT_EQ(r.llSize, CrwInfo::kMaxSize);
    }
    CrwInfo info(nullptr);
    CRawFileInfo::SearchContext context;
    EXPECT_EQ(info.CalcRawSize(nullptr, 512, 3, context), 1);
}

TEST(rawCrw, DeviceSearch)
{
    const struct {
        const char* what;
        long long recordAt;
        unsigned char kind;
        long long size;
    } cases[] = {
        {"A8", 40 * 512 + 10, 0xA8, 40 * 512 + 80},
        {"E4", 40 * 512 + 10, 0xE4, 40 * 512 + 60},
        // Straddling a sector start: its own distance, not A8's.
        {"B2 straddling", 41 * 512 - 2, 0xB2, 41 * 512 + 58},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ByteDevice device(200, 512);
        device.Put(5 * 512, Crw(c.recordAt, c.kind));
        FileCRWAnalyser analyser;
        CRawFileInfo info;
        info.m_llStartSector = 5;
        EXPECT_EQ(analyser.GetRawFileSize(info, &device), 1);
        EXPECT_EQ(info.m_llSize, c.size);
    }
    // Nothing found before the device's end: the limit.
    ByteDevice device(100, 512);
    Bytes b = CrwHeader(true);
    b.resize(99 * 512, 0x3C);
    device.Put(0, b);
    FileCRWAnalyser analyser;
    CRawFileInfo info;
    EXPECT_EQ(analyser.GetRawFileSize(info, &device), 1);
    EXPECT_EQ(info.m_llSize, FileCRWAnalyser::kLimit);
}

Bytes X3f(long long secdAt)
{
    Bytes b = {'F', 'O', 'V', 'b'};
    b.resize(static_cast<size_t>(secdAt + 76), 0x61);
    PutText(b, static_cast<size_t>(secdAt), "SECd");
    return b;
}

TEST(rawX3f, StreamingAndDeviceEnds)
{
    const struct {
        const char* what;
        long long secdAt;
    } cases[] = {
        {"SECd closes a sector", 30 * 512 - 4},
        {"SECd inside a sector", 30 * 512 + 40},
        {"SECd straddles a sector start", 30 * 512 - 2},
        {"SECd in the first sector", 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes b = X3f(c.secdAt);
        X3fInfo info(nullptr);
        const FeedResult r = Feed(info, b, 512);
        EXPECT_EQ(r.llSize, c.secdAt + 76);
        EXPECT_EQ(info.m_strName, "0-" + std::to_string(r.llSector) + "_");

        ByteDevice device(200, 512);
        device.Put(7 * 512, b);
        FileX3FAnalyser analyser;
        CRawFileInfo whole;
        whole.m_llStartSector = 7;
        EXPECT_EQ(analyser.GetRawFileSize(whole, &device), 1);
        EXPECT_EQ(whole.m_llSize, c.secdAt + 76);
    }
    // A sector ending in "SECd": the end lies 72 bytes beyond it.
    {
        X3fInfo info(nullptr);
        const FeedResult r = Feed(info, X3f(3 * 512 - 4), 512);
        EXPECT_EQ(r.llSector, 2);
        EXPECT_EQ(r.llSize, 3 * 512 + 72);
    }
    // No end within 100 MiB: no size, the device search takes over.
    {
        Bytes b = {'F', 'O', 'V', 'b'};
        b.resize(X3fInfo::kMaxSize + 8192, 0x61);
        X3fInfo info(nullptr);
        const FeedResult r = Feed(info, b, 4096);
        EXPECT_EQ(r.llSector, X3fInfo::kMaxSize / 4096);
        EXPECT_EQ(r.llSize, 0);
    }
    // The device search stops at the device's end with the size reached.
    ByteDevice device(64, 512);
    Bytes b = {'F', 'O', 'V', 'b'};
    b.resize(64 * 512, 0x61);
    device.Put(0, b);
    FileX3FAnalyser analyser;
    CRawFileInfo info;
    EXPECT_EQ(analyser.GetRawFileSize(info, &device), 1);
    EXPECT_GE(info.m_llSize, 64 * 512);
    EXPECT_LE(info.m_llSize, FileX3FAnalyser::kLimit);
}

TEST(rawMrw, SizedByItsHeader)
{
    Bytes b(512, 0);
    PutText(b, 0, std::string("\0MRM", 4));
    Put32(b, 4, 4096, false);
    Put16(b, 24, 2000, false);
    Put16(b, 26, 3000, false);
    b[32] = 12;
    FileMRWAnalyser analyser;
    CRawFileInfo info;
    EXPECT_EQ(analyser.AnalyseBuffer(b.data(), info), 1);
    EXPECT_EQ(info.m_llSize, 9004104);
    EXPECT_EQ(info.m_dwType, 102u);
}

TEST(rawOtherRaw, ThroughTheSearcher)
{
    // One of each, in zero gaps, carved exactly with their sector ranges.
    const Bytes crw = Crw(850 * 512 + 30);
    const Bytes x3f = X3f(20 * 512 + 9);
    Bytes mrw(3000, 0x44);
    PutText(mrw, 0, std::string("\0MRM", 4));
    Put32(mrw, 4, 1000, false);
    Put16(mrw, 24, 10, false);
    Put16(mrw, 26, 100, false);
    mrw[32] = 16;
    const long long crwAt = 4, x3fAt = 1000, mrwAt = 1100;
    SearchHarness h(1200, 512, GetRawAnalyserRows());
    h.Device().Put(crwAt * 512, crw);
    h.Device().Put(x3fAt * 512, x3f);
    h.Device().Put(mrwAt * 512, mrw);
    h.Run();
    const CarvedFile* f = h.FileAt(crwAt);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size, static_cast<long long>(crw.size()));
    EXPECT_EQ(f->name, "4-854_000.CRW");
    f = h.FileAt(x3fAt);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size, static_cast<long long>(x3f.size()));
    f = h.FileAt(mrwAt);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size, 1000 + 2000 + 8);
}

TEST(rawOtherRaw, RandomBytesNeverCrash)
{
    std::mt19937 rng(9);
    for (int round = 0; round < 100; ++round) {
        Bytes b(450000 + rng() % 4000);
        for (auto& x : b)
            x = static_cast<unsigned char>(rng() % 4 == 0 ? 0 : rng());
        Bytes h = CrwHeader(true);
        std::copy(h.begin(), h.end(), b.begin());
        CrwInfo crw(nullptr);
        const FeedResult r = Feed(crw, b, 512);
        EXPECT_TRUE(r.llSector < 0 || (r.llSize > 0 && r.llSize <= CrwInfo::kMaxSize));
        X3fInfo x3f(nullptr);
        Feed(x3f, b, 512);
    }
}

}  // namespace
