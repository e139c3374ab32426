// Audio and video container analysers on crafted bytes: probes, sizes read
// at the probe, the structure walks that size a file from the device, their
// limits, and damaged files.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AudioContainerAnalysers.h"
#include "CameraRawBytes.h"
#include "SearchHarness.h"
#include "VideoContainerAnalysers.h"

namespace {

using namespace rawtest;

// The size the analyser's device walk gives the file planted at sector 2 of
// a device with extraSectors of zeros after it; -1 when it gives none.
long long WalkSize(IRawFileAnalyser& analyser, const Bytes& file, unsigned int ss, CRawFileInfo& info,
                   long long extraSectors = 8)
{
    ByteDevice device(static_cast<long long>((file.size() + ss - 1) / ss) + 2 + extraSectors, ss);
    device.Put(2LL * ss, file);
    info.m_llStartSector = 2;
    info.m_llSize = 0;
    return analyser.GetRawFileSize(info, &device) ? info.m_llSize : -1;
}

Bytes Sector(size_t n = 512)
{
    return Bytes(n, 0);
}

Bytes Random(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<unsigned char>(rng());
    return b;
}

void Append(Bytes& b, const Bytes& more)
{
    b.insert(b.end(), more.begin(), more.end());
}

void Put64(Bytes& b, size_t at, uint64_t v)
{
    Put32(b, at, static_cast<uint32_t>(v), true);
    Put32(b, at + 4, static_cast<uint32_t>(v >> 32), true);
}

// ---- probe-sized formats ----

TEST(rawAvRiff, FormsAndTheChunkLength)
{
    const struct {
        const char* form;
        const char* chunk;
        unsigned int type;
    } cases[] = {
        {"WAVE", "fmt ", FileRIFFAnalyser::kTypeWav}, {"wave", "FMT ", FileRIFFAnalyser::kTypeWav},
        {"AVI ", "LIST", FileRIFFAnalyser::kTypeAvi}, {"ACON", "anih", FileRIFFAnalyser::kTypeAni},
        {"acon", "LIST", FileRIFFAnalyser::kTypeAni}, {"CARC", "vrsn", FileRIFFAnalyser::kTypeClk},
        {"CSL2", "VRSN", FileRIFFAnalyser::kTypeCsl}, {"CDRA", "vrsn", FileRIFFAnalyser::kTypeCdr},
        {"cdr8", "vrsn", FileRIFFAnalyser::kTypeCdr}, {"CDR6", "vrsn", FileRIFFAnalyser::kTypeRiff},
        {"WAVE", "data", FileRIFFAnalyser::kTypeRiff}, {"CMX1", "LIST", FileRIFFAnalyser::kTypeRiff},
        {"WEBP", "VP8 ", FileRIFFAnalyser::kTypeWebp}, {"WEBP", "VP8L", FileRIFFAnalyser::kTypeWebp},
        {"WEBP", "VP8X", FileRIFFAnalyser::kTypeWebp}, {"WEBP", "ICCP", FileRIFFAnalyser::kTypeRiff},
    };
    FileRIFFAnalyser analyser;
    for (const auto& c : cases) {
        Bytes s = Sector();
        PutText(s, 0, "RIFF");
        Put32(s, 4, 8184, true);
        PutText(s, 8, c.form);
        PutText(s, 12, c.chunk);
        CRawFileInfo info;
        ASSERT_EQ(analyser.AnalyseBuffer(s.data(), info), 1) << c.form;
        EXPECT_EQ(info.m_dwType, c.type) << c.form << " " << c.chunk;
        // The chunk length leaves out its own 8-byte header: a file of 16
        // whole sectors is carved to exactly that.
        EXPECT_EQ(info.m_llSize, 8192) << c.form;
    }
    Bytes cmx = Sector();
    PutText(cmx, 0, "RIFF");
    PutText(cmx, 8, "CMX1");
    PutText(cmx, 20, "{Corel Binary Meta File}");
    CRawFileInfo info;
    ASSERT_EQ(analyser.AnalyseBuffer(cmx.data(), info), 1);
    EXPECT_EQ(info.m_dwType, FileRIFFAnalyser::kTypeCmx);
    EXPECT_EQ(info.m_llSize, 8);
    Put32(cmx, 4, 0xFFFFFFFFu, true);
    ASSERT_EQ(analyser.AnalyseBuffer(cmx.data(), info), 1);
    EXPECT_EQ(info.m_llSize, 0xFFFFFFFFLL + 8);
}

TEST(rawAvHeaderSized, AiffAuAndFlashProbes)
{
    struct Case {
        const char* what;
        IRawFileAnalyser* analyser;
        Bytes bytes;
        int accepted;
        long long size;
    };
    CFileAIFAnalyzer aif;
    FileAUAnalyser au;
    FileSWFAnalyser swf;
    auto make = [](std::initializer_list<unsigned char> head) {
        Bytes s = Sector();
        std::copy(head.begin(), head.end(), s.begin());
        return s;
    };
    Case cases[] = {
        {"aiff", &aif, make({'F', 'O', 'R', 'M', 0, 0, 0x10, 0, 'A', 'I', 'F', 'F'}), 1, 0x1000 + 8},
        {"aifc", &aif, make({'F', 'O', 'R', 'M', 0, 0, 0x10, 0, 'A', 'I', 'F', 'C'}), 1, 0x1000 + 8},
        {"aiff without FORM", &aif, make({'F', 'O', 'R', 'X', 0, 0, 0x10, 0, 'A', 'I', 'F', 'F'}), 1, 0},
        {"not aiff", &aif, make({'F', 'O', 'R', 'M', 0, 0, 0x10, 0, 'I', 'L', 'B', 'M'}), 0, 0},
        {"au", &au, make({'.', 's', 'n', 'd', 0, 0, 0, 24, 0, 0, 0x10, 0}), 1, 24 + 0x1000},
        {"au with a large data offset", &au, make({'.', 's', 'n', 'd', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}), 1,
         0xFFFFFFFFLL + 0xFFFFFFFELL},
        {"au offset below 24", &au, make({'.', 's', 'n', 'd', 0, 0, 0, 23, 0, 0, 0x10, 0}), 0, 0},
        {"au of unknown size", &au, make({'.', 's', 'n', 'd', 0, 0, 0, 24, 0xFF, 0xFF, 0xFF, 0xFF}), 0, 0},
        {"flash", &swf, make({'F', 'W', 'S', 10, 0x00, 0x20, 0, 0}), 1, 0x2000},
        {"flash version 33", &swf, make({'F', 'W', 'S', 33, 0x00, 0x20, 0, 0}), 0, 0},
        {"compressed flash 6", &swf, make({'C', 'W', 'S', 6, 0x00, 0x20, 0, 0}), 1, 0x2008},
        {"compressed flash 5", &swf, make({'C', 'W', 'S', 5, 0x00, 0x20, 0, 0}), 0, 0},
        {"other flash letter", &swf, make({'Z', 'W', 'S', 10, 0x00, 0x20, 0, 0}), 0, 0},
    };
    for (auto& c : cases) {
        CRawFileInfo info;
        EXPECT_EQ(c.analyser->AnalyseBuffer(c.bytes.data(), info), c.accepted) << c.what;
        if (c.accepted) {
            EXPECT_EQ(info.m_llSize, c.size) << c.what;
            EXPECT_EQ(info.m_dwType, c.analyser->GetAnalyserID()) << c.what;
        }
    }
}

// ---- Matroska ----

TEST(rawAvMkv, EbmlSizesAndTheSegment)
{
    const struct {
        Bytes bytes;
        unsigned int length;
        unsigned long long value;
    } sizes[] = {
        {{0x81}, 1, 1}, {{0x40, 0x02}, 2, 2}, {{0x20, 0x00, 0x05}, 3, 5},
        {{0x01, 0, 0, 0, 0, 0, 0x12, 0x34}, 8, 0x1234}, {{0x00, 0x80}, 0, 0}, {{0x01, 0, 0}, 0, 0},
    };
    for (const auto& c : sizes) {
        unsigned long long value = 99;
        EXPECT_EQ(DecodeEbmlSize(c.bytes.data(), static_cast<unsigned int>(c.bytes.size()), value), c.length);
        if (c.length) {
            EXPECT_EQ(value, c.value);
        }
    }

    auto mkv = [](unsigned int headerLength, Bytes segmentSize) {
        Bytes s = Sector(1024);
        Put32(s, 0, 0x1A45DFA3, false);
        s[4] = 0x40 | static_cast<unsigned char>(headerLength >> 8);
        s[5] = static_cast<unsigned char>(headerLength);
        const size_t segment = 6 + headerLength;
        Put32(s, segment, 0x18538067, false);
        std::copy(segmentSize.begin(), segmentSize.end(), s.begin() + static_cast<long>(segment) + 4);
        return s;
    };
    FileMKVAnalyser analyser;
    CRawFileInfo info;
    ASSERT_EQ(analyser.AnalyseBuffer(mkv(35, {0x01, 0, 0, 0, 0, 0x01, 0x00, 0x00}).data(), info), 1);
    EXPECT_EQ(info.m_llSize, 6 + 35 + 12 + 0x10000);
    EXPECT_EQ(info.m_dwType, FileMKVAnalyser::kType);
    ASSERT_EQ(analyser.AnalyseBuffer(mkv(500, {0x84}).data(), info), 1);
    EXPECT_EQ(info.m_llSize, 6 + 500 + 5 + 4);
    // The Segment (or its size) beyond byte 512, an unknown size, or another
    // element.
    EXPECT_EQ(analyser.AnalyseBuffer(mkv(507, {0x84}).data(), info), 0);
    EXPECT_EQ(analyser.AnalyseBuffer(mkv(500, {0x01, 0, 0, 0, 0, 0x01, 0x00, 0x00}).data(), info), 0);
    EXPECT_EQ(analyser.AnalyseBuffer(mkv(35, {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).data(), info), 0);
    EXPECT_EQ(analyser.AnalyseBuffer(mkv(35, {0xFF}).data(), info), 0);
    Bytes other = mkv(35, {0x84});
    other[41] = 0x1F;
    EXPECT_EQ(analyser.AnalyseBuffer(other.data(), info), 0);
}

// ---- MIDI ----

Bytes Midi(std::initializer_list<uint32_t> tracks)
{
    Bytes b;
    PutText(b, 0, "MThd");
    Put32(b, 4, 6, false);
    Put16(b, 8, 1, false);
    Put16(b, 10, static_cast<uint32_t>(tracks.size()), false);
    Put16(b, 12, 96, false);
    for (uint32_t length : tracks) {
        const size_t at = b.size();
        PutText(b, at, "MTrk");
        Put32(b, at + 4, length, false);
        Append(b, Bytes(length, 0x90));
    }
    return b;
}

TEST(rawAvMidi, ProbeAndTrackWalk)
{
    FileMIDAnalyser analyser;
    CRawFileInfo info;
    Bytes head = Midi({10});
    head.resize(512);
    EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), 1);
    EXPECT_EQ(info.m_dwType, FileMIDAnalyser::kType);
    for (auto [at, value] : {std::pair<size_t, uint32_t>{4, 7}, {8, 3}, {10, 0}}) {
        Bytes bad = head;
        if (at == 4)
            Put32(bad, at, value, false);
        else
            Put16(bad, at, value, false);
        EXPECT_EQ(analyser.AnalyseBuffer(bad.data(), info), 0) << at;
    }

    // Two tracks, then other data: the file ends right after the second.
    Bytes file = Midi({100, 1500});
    const size_t end = file.size();
    PutText(file, end, "JUNKJUNK");
    Append(file, Random(3000, 4));
    for (unsigned int ss : {512u, 4096u})
        EXPECT_EQ(WalkSize(analyser, file, ss, info), static_cast<long long>(end)) << ss;
    // Lower-case chunk names count.
    PutText(file, 14, "mtrk");
    EXPECT_EQ(WalkSize(analyser, file, 512, info), static_cast<long long>(end));
    // A track that would pass the size limit ends the file before it.
    Bytes huge = Midi({20, 30});
    Put32(huge, 14 + 28 + 4, static_cast<uint32_t>(FileMIDAnalyser::kMaxSize), false);
    EXPECT_EQ(WalkSize(analyser, huge, 512, info), 14 + 8 + 20);
    Put32(huge, 14 + 28 + 4, static_cast<uint32_t>(FileMIDAnalyser::kMaxSize) - 14 - 28 - 8, false);
    EXPECT_EQ(WalkSize(analyser, huge, 512, info), static_cast<long long>(FileMIDAnalyser::kMaxSize));
}

// ---- Flash video ----

Bytes Flv(std::initializer_list<std::pair<unsigned char, uint32_t>> tags)
{
    Bytes b = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9};
    uint32_t previous = 0;
    for (auto [type, size] : tags) {
        const size_t at = b.size();
        Put32(b, at, previous, false);
        b.push_back(type);
        b.push_back(static_cast<unsigned char>(size >> 16));
        b.push_back(static_cast<unsigned char>(size >> 8));
        b.push_back(static_cast<unsigned char>(size));
        Append(b, Bytes(7, 0));
        Append(b, Bytes(size, 0x33));
        previous = size + 11;
    }
    Put32(b, b.size(), previous, false);
    return b;
}

TEST(rawAvFlv, TagWalkEndsAtTheLastPreviousTagSize)
{
    FileFLVAnalyser analyser;
    CRawFileInfo info;
    const Bytes file = Flv({{18, 300}, {9, 1000}, {8, 200}, {9, 3000}});
    Bytes head = file;
    head.resize(512);
    EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), 1);
    for (size_t at : {3u, 9u}) {
        Bytes bad = head;
        bad[at] = 2;
        EXPECT_EQ(analyser.AnalyseBuffer(bad.data(), info), 0) << at;
    }
    for (unsigned int ss : {512u, 4096u})
        EXPECT_EQ(WalkSize(analyser, file, ss, info), static_cast<long long>(file.size())) << ss;

    // Followed by another file's bytes: an unknown tag type ends it.
    Bytes followed = file;
    Append(followed, Random(5000, 2));
    followed[file.size()] = 0x55;
    EXPECT_EQ(WalkSize(analyser, followed, 512, info), static_cast<long long>(file.size()));
    // A tag-like header after the end whose size field does not match is
    // not part of the file.
    followed[file.size()] = 9;
    followed[file.size() + 8] = followed[file.size() + 9] = followed[file.size() + 10] = 0;
    EXPECT_EQ(WalkSize(analyser, followed, 512, info), static_cast<long long>(file.size()));
    // A damaged size field inside ends the file after the tags before it.
    Bytes damaged = file;
    const size_t third = 9 + 15 + 300 + 15 + 1000;
    damaged[third + 4 + 11 + 200] ^= 0x40;
    EXPECT_EQ(WalkSize(analyser, damaged, 512, info), static_cast<long long>(third + 4));
}

// ---- MPEG program streams ----

Bytes Mpg(bool mpeg2, int packets, size_t zerosBetween)
{
    Bytes b;
    for (int i = 0; i < packets; ++i) {
        const size_t at = b.size();
        Put32(b, at, 0x000001BA, false);
        if (mpeg2) {
            const unsigned char pack[] = {0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xFA};
            b.insert(b.end(), std::begin(pack), std::end(pack));
            b.insert(b.end(), {0xFF, 0xFF});
            b[at + 13] = 0xFA;  // two stuffing bytes
        } else {
            const unsigned char pack[] = {0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91};
            b.insert(b.end(), std::begin(pack), std::end(pack));
        }
        if (i == 0) {
            Put32(b, b.size(), 0x000001BB, false);
            Put16(b, b.size(), 6, false);
            Append(b, Bytes(6, 0xE0));
        }
        Put32(b, b.size(), 0x000001E0, false);
        Put16(b, b.size(), 700, false);
        Append(b, Bytes(700, 0x11));
        Append(b, Bytes(zerosBetween, 0));
    }
    Put32(b, b.size(), 0x000001B9, false);
    return b;
}

TEST(rawAvMpg, PackStartsAndTheStartCodeWalk)
{
    FileMPGAnalyser analyser;
    CRawFileInfo info;
    for (bool mpeg2 : {false, true}) {
        const Bytes file = Mpg(mpeg2, 12, 0);
        Bytes head = file;
        head.resize(512);
        EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), 1);
        for (unsigned int ss : {512u, 4096u})
            EXPECT_EQ(WalkSize(analyser, file, ss, info), static_cast<long long>(file.size())) << mpeg2 << ss;
        // Padding zeros between packs: up to 100 are walked over.
        const Bytes padded = Mpg(mpeg2, 5, 100);
        EXPECT_EQ(WalkSize(analyser, padded, 512, info), static_cast<long long>(padded.size()));
        const Bytes gap = Mpg(mpeg2, 5, 101);
        const long long first = static_cast<long long>(Mpg(mpeg2, 1, 0).size()) - 4;
        EXPECT_EQ(WalkSize(analyser, gap, 512, info), first) << mpeg2;
    }
    // A stream without its end code ends before the first byte that is not
    // a packet.
    Bytes open = Mpg(false, 3, 0);
    open.resize(open.size() - 4);
    const size_t end = open.size();
    Append(open, Random(2000, 5));
    open[end] = 0x47;
    EXPECT_EQ(WalkSize(analyser, open, 512, info), static_cast<long long>(end));

    // Packs of one stream start many sectors: only a start more than 20
    // sectors after the last pack header seen opens a file.
    Bytes head = Mpg(true, 1, 0);
    head.resize(512);
    const struct {
        long long sector;
        int accepted;
    } starts[] = {{100, 1}, {104, 0}, {120, 0}, {140, 0}, {161, 1}, {170, 0}, {50, 1}};
    FileMPGAnalyser fresh;
    for (const auto& s : starts)
        EXPECT_EQ(fresh.AnalyseBufferEx(head.data(), info, 512, s.sector, 0, 0), s.accepted) << s.sector;
    Bytes other = head;
    other[5] = 0x77;
    EXPECT_EQ(fresh.AnalyseBufferEx(other.data(), info, 512, 500, 0, 0), 0);
}

// ---- MPEG transport streams ----

Bytes Ts(unsigned int packetSize, size_t packets)
{
    Bytes b(packetSize * packets, 0x5A);
    const size_t sync = packetSize == 192 ? 4 : 0;
    for (size_t i = 0; i < packets; ++i) {
        b[i * packetSize + sync] = 0x47;
        b[i * packetSize + sync + 1] = 0x40;
    }
    return b;
}

TEST(rawAvM2ts, ProbeOneStreamAtATimeAndTheFirstBadSyncByte)
{
    CM2TSAnalyser analyser;
    CM2TSAnalyser::s_bNewFile = false;
    for (unsigned int packet : {188u, 192u}) {
        for (unsigned int ss : {512u, 4096u}) {
            const Bytes file = Ts(packet, 400);
            CRawFileInfo probe;
            ASSERT_EQ(analyser.AnalyseBuffer(const_cast<unsigned char*>(file.data()), probe), 1) << packet;
            EXPECT_EQ(probe.m_dwType, CM2TSAnalyser::kType);
            // While the stream is open no other starts.
            EXPECT_EQ(analyser.AnalyseBuffer(const_cast<unsigned char*>(file.data()), probe), 0);
            std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
            ASSERT_TRUE(info->WhetherImplementGuess());
            Bytes followed = file;
            Append(followed, Bytes(3000, 0));
            const FeedResult r = Feed(*info, followed, ss);
            EXPECT_EQ(r.llSize, static_cast<long long>(file.size())) << packet << " " << ss;
            EXPECT_FALSE(CM2TSAnalyser::s_bNewFile);
        }
    }
    // A stream shorter than 20,480 bytes gives no file.
    const Bytes shortStream = Ts(188, 100);
    CRawFileInfo probe;
    ASSERT_EQ(analyser.AnalyseBuffer(const_cast<unsigned char*>(shortStream.data()), probe), 1);
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    EXPECT_EQ(Feed(*info, shortStream, 512).llSize, 0);
    EXPECT_FALSE(CM2TSAnalyser::s_bNewFile);
    // Dropped by the searcher: the packets counted so far are the file, and
    // the next stream may start.
    ASSERT_EQ(analyser.AnalyseBuffer(const_cast<unsigned char*>(shortStream.data()), probe), 1);
    info.reset(analyser.CreateRawFileInfo());
    const Bytes longStream = Ts(188, 200);
    EXPECT_EQ(Feed(*info, longStream, 512, 60).llSector, -1);
    info->WillBeRemove(nullptr, -1);
    EXPECT_EQ(info->m_llSize, 188LL * ((60 * 512 + 187) / 188));
    EXPECT_FALSE(CM2TSAnalyser::s_bNewFile);

    // A candidate destroyed while open (a stopped search) lets the next
    // stream start.
    ASSERT_EQ(analyser.AnalyseBuffer(const_cast<unsigned char*>(shortStream.data()), probe), 1);
    info.reset(analyser.CreateRawFileInfo());
    EXPECT_TRUE(CM2TSAnalyser::s_bNewFile);
    info.reset();
    EXPECT_FALSE(CM2TSAnalyser::s_bNewFile);

    // Sectors that look like packets but are not a stream.
    Bytes ff = Ts(188, 4);
    std::fill(ff.begin() + 8, ff.begin() + 16, 0xFF);
    EXPECT_EQ(analyser.AnalyseBuffer(ff.data(), probe), 0);
    Bytes lone = Ts(188, 4);
    lone[188] = 0;
    EXPECT_EQ(analyser.AnalyseBuffer(lone.data(), probe), 0);
    Bytes pid = Ts(188, 4);
    pid[1] = 0x1F;
    EXPECT_EQ(analyser.AnalyseBuffer(pid.data(), probe), 0);
    EXPECT_FALSE(CM2TSAnalyser::s_bNewFile);
}

// ---- MXF ----

Bytes Klv(unsigned char kind, size_t length, int berBytes)
{
    Bytes b = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, kind, 0x04, 0x00};
    if (berBytes == 0) {
        b.push_back(static_cast<unsigned char>(length));
    } else {
        b.push_back(static_cast<unsigned char>(0x80 | berBytes));
        for (int i = berBytes - 1; i >= 0; --i)
            b.push_back(static_cast<unsigned char>(length >> (8 * i)));
    }
    Append(b, Bytes(length, 0x00));
    return b;
}

TEST(rawAvMxf, HeaderPartitionAndTheKlvWalk)
{
    MxfAnalyser analyser;
    CRawFileInfo info;
    Bytes file = Klv(0x02, 88, 3);
    file[20] = 0x00;
    file[21] = 0x01;
    const size_t body = file.size();
    Append(file, Klv(0x03, 3000, 4));
    Append(file, Klv(0x10, 100, 0));
    Append(file, Klv(0x04, 600, 8));
    Bytes head = file;
    head.resize(512);
    EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), 1);
    EXPECT_EQ(info.m_dwType, MxfAnalyser::kType);
    for (unsigned int ss : {512u, 4096u})
        EXPECT_EQ(WalkSize(analyser, file, ss, info), static_cast<long long>(file.size())) << ss;
    // A body partition (not at its file's first byte) opens no file.
    Bytes bodyHead(file.begin() + static_cast<long>(body), file.begin() + static_cast<long>(body) + 512);
    bodyHead[20] = 0x00;
    bodyHead[21] = 0x01;
    bodyHead[35] = 0x40;
    EXPECT_EQ(analyser.AnalyseBuffer(bodyHead.data(), info), 0);
    Bytes version = head;
    version[21] = 0x02;
    EXPECT_EQ(analyser.AnalyseBuffer(version.data(), info), 0);
    // A length field of 9 or more bytes ends the walk before that packet.
    Bytes bad = file;
    bad[body + 16] = 0x89;
    EXPECT_EQ(WalkSize(analyser, bad, 512, info), static_cast<long long>(body));
}

// ---- ASF ----

const unsigned char kHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kDataGuid[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kSimpleIndexGuid[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                            0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
const unsigned char kStreamGuid[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                       0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const unsigned char kAudioGuid[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                      0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const unsigned char kVideoGuid[16] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                      0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const unsigned char kOtherGuid[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                      0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00};

Bytes AsfObject(const unsigned char* guid, size_t size)
{
    Bytes b(guid, guid + 16);
    b.resize(size, 0);
    Put64(b, 16, size);
    return b;
}

Bytes Asf(std::initializer_list<const unsigned char*> streams, bool index)
{
    Bytes header;
    for (const unsigned char* type : streams) {
        Bytes stream = AsfObject(kStreamGuid, 80);
        std::copy(type, type + 16, stream.begin() + 24);
        Append(header, stream);
    }
    Bytes b = AsfObject(kHeaderGuid, 30 + header.size());
    std::copy(header.begin(), header.end(), b.begin() + 30);
    Append(b, AsfObject(kDataGuid, 5000));
    if (index)
        Append(b, AsfObject(kSimpleIndexGuid, 300));
    return b;
}

TEST(rawAvAsf, TypeByStreamsAndTheTopLevelWalk)
{
    const struct {
        const char* what;
        Bytes file;
        unsigned int type;
    } cases[] = {
        {"video and audio", Asf({kVideoGuid, kAudioGuid}, true), CAsfAnalyser::kTypeWmv},
        {"audio only", Asf({kAudioGuid}, false), CAsfAnalyser::kTypeWma},
        {"two videos", Asf({kVideoGuid, kVideoGuid}, true), CAsfAnalyser::kTypeWma},
        {"audio and another stream", Asf({kAudioGuid, kOtherGuid}, true), CAsfAnalyser::kTypeAsf},
        {"no stream", Asf({}, false), CAsfAnalyser::kTypeAsf},
    };
    CAsfAnalyser analyser;
    for (const auto& c : cases) {
        Bytes head = c.file;
        head.resize(512);
        CRawFileInfo info;
        EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), 1) << c.what;
        Bytes followed = c.file;
        Append(followed, AsfObject(kOtherGuid, 100));
        for (unsigned int ss : {512u, 4096u}) {
            EXPECT_EQ(WalkSize(analyser, followed, ss, info), static_cast<long long>(c.file.size())) << c.what;
            EXPECT_EQ(info.m_dwType, c.type) << c.what;
        }
    }
    // A header object whose size runs past everything: no file.
    Bytes bad = Asf({kVideoGuid}, false);
    Put64(bad, 16, 0x1964000001ULL);
    CRawFileInfo info;
    EXPECT_EQ(WalkSize(analyser, bad, 512, info), -1);
    // A data object of size 0 ends the walk at its start.
    Bytes zero = Asf({kAudioGuid}, false);
    const size_t header = zero.size() - 5000;
    Put64(zero, header + 16, 0);
    EXPECT_EQ(WalkSize(analyser, zero, 512, info), static_cast<long long>(header));
}

// ---- RealMedia ----

Bytes RmChunk(const char* id, size_t size)
{
    Bytes b;
    PutText(b, 0, id);
    Put32(b, 4, static_cast<uint32_t>(size), false);
    b.resize(size, 0x20);
    return b;
}

TEST(rawAvRm, ChunkWalkIndexAndVideoType)
{
    RM_RMVBAnalyser analyser;
    Bytes file = RmChunk(".RMF", 18);
    Append(file, RmChunk("PROP", 50));
    Bytes mdpr = RmChunk("MDPR", 120);
    PutText(mdpr, 40, "Audio Stream");
    Append(file, mdpr);
    // The data chunk: 3 packets of 100 bytes.
    Bytes data = RmChunk("DATA", 18 + 300);
    Put16(data, 8, 0, false);
    Put32(data, 10, 3, false);
    Put32(data, 14, 0, false);
    for (size_t i = 0; i < 3; ++i) {
        Put16(data, 18 + 100 * i, 0, false);
        Put16(data, 18 + 100 * i + 2, 100, false);
    }
    Append(file, data);
    Bytes indx = RmChunk("INDX", 20 + 14 * 2);
    Put32(indx, 8, 0, false);
    Put16(indx, 10, 2, false);
    Put32(indx, 16, 0, false);
    Append(file, indx);
    CRawFileInfo info;
    Bytes followed = file;
    Append(followed, RmChunk("ABCD", 100));
    for (unsigned int ss : {512u, 4096u}) {
        EXPECT_EQ(WalkSize(analyser, followed, ss, info), static_cast<long long>(file.size())) << ss;
        EXPECT_EQ(info.m_dwType, RM_RMVBAnalyser::kTypeRm);
    }
    // "Video Stream" in a stream description makes it RMVB.
    Bytes video = followed;
    PutText(video, 18 + 50 + 40, "Video Stream");
    EXPECT_EQ(WalkSize(analyser, video, 512, info), static_cast<long long>(file.size()));
    EXPECT_EQ(info.m_dwType, RM_RMVBAnalyser::kTypeRmvb);

    // A data chunk that counts more than its packets hold ends after them
    // (and an empty end header), without an index.
    Bytes writer(file.begin(), file.begin() + 18 + 50 + 120);
    Bytes over = data;
    Put32(over, 4, static_cast<uint32_t>(data.size() + 18), false);
    Append(writer, over);
    const size_t end = writer.size() + 8;
    Append(writer, Bytes(8, 0));
    Append(writer, Random(500, 3));
    EXPECT_EQ(WalkSize(analyser, writer, 512, info), static_cast<long long>(end));
    // A chunk smaller than its own header ends the walk.
    Bytes tiny = file;
    Put32(tiny, 18 + 4, 4, false);
    EXPECT_EQ(WalkSize(analyser, tiny, 512, info), 18);
}

// ---- MLV ----

TEST(rawAvMlv, BlockWalk)
{
    MLvAnalyser analyser;
    auto block = [](const char* type, uint32_t size) {
        Bytes b;
        PutText(b, 0, type);
        Put32(b, 4, size, true);
        b.resize(size, 0x44);
        return b;
    };
    Bytes file = block("MLVI", 52);
    Append(file, block("RAWI", 180));
    for (int i = 0; i < 6; ++i)
        Append(file, block(i % 2 ? "VIDF" : "AUDF", 700 + 10 * i));
    Append(file, block("NULL", 8));
    Bytes head = file;
    head.resize(512);
    CRawFileInfo info;
    EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), 1);
    head[52] = 'X';
    EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), 0);
    Bytes followed = file;
    Append(followed, block("ZZZZ", 64));
    for (unsigned int ss : {512u, 4096u})
        EXPECT_EQ(WalkSize(analyser, followed, ss, info), static_cast<long long>(file.size())) << ss;
    Bytes zero = file;
    Put32(zero, 52 + 180 + 4, 0, true);
    EXPECT_EQ(WalkSize(analyser, zero, 512, info), 52 + 180);
}

// ---- Ogg ----

Bytes OggPage(unsigned char flags, uint32_t sequence, std::initializer_list<unsigned char> segments)
{
    Bytes b;
    PutText(b, 0, "OggS");
    b.resize(27, 0);
    b[5] = flags;
    Put32(b, 14, 0x1234, true);
    Put32(b, 18, sequence, true);
    b[26] = static_cast<unsigned char>(segments.size());
    size_t body = 0;
    for (unsigned char s : segments) {
        b.push_back(s);
        body += s;
    }
    Append(b, Bytes(body, 0x4F));
    return b;
}

TEST(rawAvOgg, FirstPageOpensAndThePageWalkEnds)
{
    CFileOggAnalyser analyser;
    Bytes file = OggPage(2, 0, {30});
    for (uint32_t i = 1; i < 40; ++i)
        Append(file, OggPage(0, i, {255, 255, 100}));
    Append(file, OggPage(4, 40, {10}));
    Bytes head = file;
    head.resize(512);
    CRawFileInfo info;
    EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), 1);
    EXPECT_EQ(info.m_dwType, CFileOggAnalyser::kType);
    // A page inside a stream opens no file.
    Bytes middle = OggPage(0, 5, {255});
    middle.resize(512);
    EXPECT_EQ(analyser.AnalyseBuffer(middle.data(), info), 0);
    for (unsigned int ss : {512u, 4096u})
        EXPECT_EQ(WalkSize(analyser, file, ss, info), static_cast<long long>(file.size())) << ss;
    // The next stream's first page right after this one is not part of it.
    Bytes two = file;
    Append(two, OggPage(2, 0, {30}));
    Append(two, OggPage(0, 1, {200}));
    EXPECT_EQ(WalkSize(analyser, two, 512, info), static_cast<long long>(file.size()));
    // Several first pages at the start (one per stream) belong together.
    Bytes multiplexed = OggPage(2, 0, {30});
    Append(multiplexed, file);
    EXPECT_EQ(WalkSize(analyser, multiplexed, 512, info), static_cast<long long>(multiplexed.size()));
}

// ---- ADTS ----

Bytes AdtsFrame(unsigned int length, unsigned char second = 0xF1)
{
    Bytes b(std::max(length, 7u), 0x21);  // a claimed length below 7 still gets a header
    b[0] = 0xFF;
    b[1] = second;
    b[2] = 0x50;
    b[3] = static_cast<unsigned char>(0x80 | ((length >> 11) & 3));
    b[4] = static_cast<unsigned char>(length >> 3);
    b[5] = static_cast<unsigned char>(((length & 7) << 5) | 0x1F);
    b[6] = 0xFC;
    return b;
}

Bytes Adts(std::initializer_list<unsigned int> lengths)
{
    Bytes b;
    for (unsigned int length : lengths)
        Append(b, AdtsFrame(length));
    return b;
}

TEST(rawAvAdts, ProbeNeedsFiveFramesOrTheEndOfMemory)
{
    CADTSAnalyser analyser;
    EXPECT_EQ(analyser.GetAnalyserID(), RAW_ANALYSER_ID_PER_FILE);
    EXPECT_EQ(analyser.GetSpecialRawFile(), &analyser);
    const struct {
        const char* what;
        Bytes bytes;
        long long sectors;  // bytes in memory from the probed sector
        int accepted;
        bool overflow;
    } cases[] = {
        {"five frames", Adts({300, 400, 5000, 2048, 200}), 20, 1, false},
        {"MPEG-2 id bit", [] { Bytes b = Adts({300, 300, 300, 300}); Append(b, AdtsFrame(300, 0xF9)); return b; }(), 20, 1,
         false},
        {"damaged third frame", [] { Bytes b = Adts({300, 300, 300, 300, 300}); b[601] = 0xF7; return b; }(), 20, 0, false},
        {"length below the header", Adts({300, 6, 300, 300, 300}), 20, 0, false},
        {"memory ends after two frames", Adts({300, 300, 300, 300, 300}), 1, 1, true},
        {"memory ends before any frame", Bytes(512, 0), 1, 0, false},
    };
    for (const auto& c : cases) {
        CADTSAnalyser::s_bOverflow = false;
        Bytes memory = c.bytes;
        memory.resize(static_cast<size_t>(c.sectors) * 512, 0);
        CRawFileInfo info;
        EXPECT_EQ(analyser.AnalyseBufferEx(memory.data(), info, 512, 40, 38, 40 + c.sectors), c.accepted) << c.what;
        EXPECT_EQ(CADTSAnalyser::s_bOverflow, c.overflow) << c.what;
        if (c.accepted) {
            EXPECT_EQ(info.m_dwType, CADTSAnalyser::kType);
        }
    }
    CADTSAnalyser::s_bOverflow = false;
}

TEST(rawAvAdts, CandidateWalksFramesToTheZeros)
{
    CADTSAnalyser analyser;
    // Frames of 2048 bytes and longer take the length's top bits.
    const Bytes stream = Adts({700, 2048, 5000, 8191, 300, 300, 1200, 4097});
    for (unsigned int ss : {512u, 4096u}) {
        CADTSAnalyser::s_bOverflow = false;
        std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
        ASSERT_TRUE(info->WhetherImplementGuess());
        Bytes zeros = stream;
        Append(zeros, Bytes(ss * 2, 0));
        EXPECT_EQ(Feed(*info, zeros, ss).llSize, static_cast<long long>(stream.size())) << ss;

        // Followed by other bytes in the same sector: not taken.
        info.reset(analyser.CreateRawFileInfo());
        Bytes other = stream;
        Append(other, Random(ss * 2, 7));
        other[stream.size()] = 0x12;
        EXPECT_EQ(Feed(*info, other, ss).llSize, 0) << ss;
    }
    // A probe that ran out of memory after too few frames: the stream it
    // opened gives no file, and the flag is spent.
    CADTSAnalyser::s_bOverflow = true;
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    Bytes fewer = Adts({300, 300, 300});
    Append(fewer, Bytes(1024, 0));
    EXPECT_EQ(Feed(*info, fewer, 512).llSize, 0);
    EXPECT_FALSE(CADTSAnalyser::s_bOverflow);
    CADTSAnalyser::s_bOverflow = true;
    info.reset(analyser.CreateRawFileInfo());
    Bytes enough = Adts({300, 300, 300, 300, 300});
    Append(enough, Bytes(1024, 0));
    EXPECT_EQ(Feed(*info, enough, 512).llSize, 1500);
    CADTSAnalyser::s_bOverflow = false;
}

// ---- APE ----

Bytes Ape(unsigned int version, uint32_t frameBytes, unsigned int channels)
{
    Bytes b;
    PutText(b, 0, "MAC ");
    Put16(b, 4, version, true);
    Put32(b, 8, 52, true);          // descriptor
    Put32(b, 12, 24, true);         // header
    Put32(b, 16, 400, true);        // seek table
    Put32(b, 20, 44, true);         // WAV header
    Put32(b, 24, frameBytes, true);  // frame data
    Put32(b, 28, 0, true);
    Put32(b, 32, 12, true);  // WAV trailer
    b.resize(52, 0);
    Put16(b, 52 + 16, 16, true);
    Put16(b, 52 + 18, channels, true);
    // Claims beyond 64 KiB are not filled in.
    b.resize(52 + 24 + 400 + 44 + std::min<size_t>(frameBytes, 65536) + 12, 0x5E);
    return b;
}

Bytes ApeTag(uint32_t items)
{
    Bytes b;
    for (int part = 0; part < 2; ++part) {
        const size_t at = b.size();
        PutText(b, at, "APETAGEX");
        Put32(b, at + 8, 2000, true);
        Put32(b, at + 12, items + 32, true);
        b.resize(at + 32, 0);
        if (part == 0)
            b.resize(b.size() + items, 0x41);
    }
    return b;
}

TEST(rawAvApe, DescriptorSizesAndTheTags)
{
    CAPEAnalyser analyser;
    EXPECT_EQ(analyser.GetAnalyserID(), RAW_ANALYSER_ID_PER_FILE);
    CRawFileInfo info;
    const Bytes plain = Ape(3990, 20000, 2);
    for (unsigned int ss : {512u, 4096u})
        EXPECT_EQ(WalkSize(analyser, plain, ss, info), static_cast<long long>(plain.size())) << ss;
    Bytes head = plain;
    head.resize(512);
    EXPECT_EQ(analyser.AnalyseBuffer(head.data(), info), 1);
    EXPECT_EQ(info.m_dwType, CAPEAnalyser::kType);

    Bytes tagged = plain;
    Append(tagged, ApeTag(300));
    EXPECT_EQ(WalkSize(analyser, tagged, 512, info), static_cast<long long>(tagged.size()));
    Bytes id3 = tagged;
    PutText(id3, id3.size(), "TAG");
    id3.resize(tagged.size() + 128, 0x20);
    EXPECT_EQ(WalkSize(analyser, id3, 512, info), static_cast<long long>(id3.size()));
    // A tag whose size is out of range is not taken.
    Bytes badTag = plain;
    Bytes tag = ApeTag(300);
    Put32(tag, 12, 0x2000000, true);
    Append(badTag, tag);
    EXPECT_EQ(WalkSize(analyser, badTag, 512, info), static_cast<long long>(plain.size()));

    // Versions and channel counts without a size.
    for (auto [version, channels] : {std::pair<unsigned int, unsigned int>{999, 2}, {10000, 2}, {3970, 2}, {3990, 3},
                                     {3990, 0}})
        EXPECT_EQ(WalkSize(analyser, Ape(version, 2000, channels), 512, info), -1) << version << " " << channels;
    // Frame data that claims more than the limit.
    EXPECT_EQ(WalkSize(analyser, Ape(3990, 0x82000000u, 2), 512, info), -1);
}

// ---- through the searcher, and damage ----

TEST(rawAvContainer, ThroughTheSearcherAcrossBlocks)
{
    CM2TSAnalyser::s_bNewFile = false;
    const Bytes ts = Ts(188, 200);
    const Bytes flv = Flv({{18, 300}, {9, 9000}, {8, 200}});
    const Bytes ogg = [] {
        Bytes b = OggPage(2, 0, {30});
        for (uint32_t i = 1; i < 20; ++i)
            Append(b, OggPage(0, i, {255, 255, 255, 100}));
        return b;
    }();
    SearchHarness h(600, 512, GetRawAnalyserRows());
    h.Device().Put(3 * 512, ts);
    h.Device().Put(150 * 512, flv);
    h.Device().Put(300 * 512, ogg);
    h.Run();
    const struct {
        long long sector;
        size_t size;
    } want[] = {{3, ts.size()}, {150, flv.size()}, {300, ogg.size()}};
    for (const auto& w : want) {
        const CarvedFile* f = h.FileAt(w.sector);
        ASSERT_NE(f, nullptr) << w.sector;
        EXPECT_EQ(f->size, static_cast<long long>(w.size)) << w.sector;
    }
    EXPECT_EQ(h.Files().size(), 3u);
    EXPECT_FALSE(CM2TSAnalyser::s_bNewFile);
}

TEST(rawAvContainer, DamagedFilesNeverCrashOrRunAway)
{
    std::mt19937 rng(33);
    FileMIDAnalyser mid;
    CFileOggAnalyser ogg;
    FileFLVAnalyser flv;
    FileMPGAnalyser mpg;
    MxfAnalyser mxf;
    CAsfAnalyser asf;
    RM_RMVBAnalyser rm;
    MLvAnalyser mlv;
    CAPEAnalyser ape;
    IRawFileAnalyser* walkers[] = {&mid, &ogg, &flv, &mpg, &mxf, &asf, &rm, &mlv, &ape};
    const Bytes starts[] = {Midi({300, 200}), OggPage(2, 0, {255, 255}), Flv({{9, 300}, {8, 100}}),
                            Mpg(true, 3, 0), Klv(0x02, 300, 3), Asf({kVideoGuid}, true),
                            RmChunk(".RMF", 18), [] { Bytes b; PutText(b, 0, "MLVI"); Put32(b, 4, 52, true); return b; }(),
                            Ape(3990, 500, 2)};
    for (int round = 0; round < 120; ++round) {
        for (size_t k = 0; k < std::size(walkers); ++k) {
            Bytes b = Random(20000, static_cast<unsigned>(rng()));
            const size_t keep = std::min<size_t>(starts[k].size(), 16 + rng() % 600);
            std::copy(starts[k].begin(), starts[k].begin() + static_cast<long>(keep), b.begin());
            for (int z = 0; z < 10; ++z) {
                const size_t at = rng() % (b.size() - 64);
                std::fill(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + rng() % 64), 0);
            }
            CRawFileInfo info;
            const unsigned int ss = round % 2 ? 4096 : 512;
            const long long size = WalkSize(*walkers[k], b, ss, info, 2);
            EXPECT_GE(size, -1) << k;
        }
        // The header-sized probes and the every-sector probe on the same bytes.
        Bytes s = Random(4096, static_cast<unsigned>(rng()));
        CRawFileInfo info;
        FileMKVAnalyser mkv;
        CM2TSAnalyser ts;
        mkv.AnalyseBuffer(s.data(), info);
        EXPECT_GE(info.m_llSize, 0);
        if (ts.AnalyseBuffer(s.data(), info)) {
            std::unique_ptr<CRawFileInfo> candidate(ts.CreateRawFileInfo());
            Feed(*candidate, s, 512);
        }
        CM2TSAnalyser::s_bNewFile = false;
    }
}

}  // namespace
