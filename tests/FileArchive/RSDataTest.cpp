// The framed scan-result stream: stored bytes, checksums, error numbers,
// untrusted sizes, buffering and how the file is opened.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CRC.h"
#include "RSData.h"
#include "TestSupport.h"

namespace {

const tagGUIDSIGN kIdKind = {{0x94, 0x63, 0x9b, 0x40, 0x81, 0xf6, 0x88, 0x4e,
                              0xa2, 0x0f, 0x5d, 0x63, 0x57, 0x82, 0xed, 0x75}};
const tagGUIDSIGN kIdDevice = {{0x76, 0xa6, 0x72, 0xb0, 0x48, 0x05, 0x8b, 0x46,
                                0xba, 0x9e, 0x91, 0x09, 0x3a, 0x63, 0xb5, 0x17}};
const tagGUIDSIGN kIdNodes = {{0x6c, 0xf2, 0x08, 0xd2, 0x8c, 0x07, 0x34, 0x4e,
                               0x9d, 0x71, 0xd9, 0x1f, 0x53, 0x5f, 0x7b, 0x57}};
const tagGUIDSIGN kIdOther = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};

using Frames = std::vector<std::pair<tagGUIDSIGN, std::string>>;

FILEHEADER MakeHeader(uint32_t status, const std::string& text = "")
{
    FILEHEADER h;
    h.eStatus = static_cast<FileStatus>(status);
    h.dwDescriptionLength = static_cast<uint32_t>(text.size());
    std::memcpy(h.szDescription, text.data(), std::min<size_t>(text.size(), kRSDescriptionMax));
    return h;
}

void WriteStream(const std::string& path, const Frames& frames, const FILEHEADER& header = MakeHeader(1))
{
    CRSData w(RS_MODE_WRITE);
    ASSERT_EQ(w.StartRS(path.c_str(), 1), 1);
    ASSERT_EQ(w.WriteFileHeader(header), 1);
    for (const auto& [id, payload] : frames) {
        ASSERT_EQ(w.OpenFrame(id), 1);
        ASSERT_EQ(w.WriteCurFrame(payload.data(), static_cast<unsigned>(payload.size())), 1);
        ASSERT_EQ(w.CloseFrame(), 1);
    }
    ASSERT_EQ(w.EndRS(), 1);
}

// The payload of the first frame with this id; "<missing>" when none.
std::string ReadFrame(const std::string& path, const tagGUIDSIGN& id)
{
    CRSData r(RS_MODE_READ);
    EXPECT_EQ(r.StartRS(path.c_str(), 0), 1);
    if (!r.OpenFrame(id))
        return "<missing>";
    std::string out(r.GetFrameRemaining(), '\0');
    EXPECT_EQ(out.size(), r.GetFrameSize());
    r.ReadCurFrameExact(out.data(), static_cast<unsigned>(out.size()));
    return out;
}

void PatchFile(const std::string& path, long long offset, const std::string& bytes)
{
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

void AppendFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << bytes;
}

std::string U32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string RawFrame(const tagGUIDSIGN& id, uint32_t size, const std::string& payload)
{
    return std::string(reinterpret_cast<const char*>(_frSignPub.u8Bytes), 16) +
           std::string(reinterpret_cast<const char*>(id.u8Bytes), 16) + U32(size) + payload;
}

// The error number the call throws, 0 when it throws nothing.
unsigned ErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CRSException& e) {
        return e.GetErrorcode();
    }
    return 0;
}

std::string Hex(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace

TEST(RSDataCrc, KnownValues)
{
    const auto* check = reinterpret_cast<const unsigned char*>("123456789");
    EXPECT_EQ(CCRC::RunCRC16(check, 9, 0x8005), 0xFEE8);
    EXPECT_EQ(CCRC::RunCRC16(check, 0, 0x8005), 0);
    // Another polynomial builds another table (CRC-16/XMODEM).
    EXPECT_EQ(CCRC::RunCRC16(check, 9, 0x1021), 0x31C3);

    TempDir dir;
    const struct { uint32_t status; const char* crc; } cases[] = {
        {1, "ce 1d 00 00"},
        {4, "f8 6a 00 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        WriteStream(dir / "h.rsf", {}, MakeHeader(c.status));
        EXPECT_EQ(Hex(ReadFileBytes(dir / "h.rsf").substr(20, 4)), c.crc);
    }
}

TEST(RSDataFormat, GoldenBytesAndReadBack)
{
    TempDir dir;
    const std::string path = dir / "golden.rsf";
    WriteStream(path, {{kIdKind, "hello"}}, MakeHeader(1, "abc"));

    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 173u);
    EXPECT_EQ(FileDigest(path), "38b0a18a26928c45b984fe9b2191363758ce8bcc98d109036b69f9ce07a6ed0c");
    EXPECT_EQ(Hex(bytes.substr(0, 35)),
              "ea f4 b3 1c 05 43 b6 4a b4 b8 24 4a 33 d9 13 bb a8 16 00 00 c3 92 00 00 "
              "01 00 00 00 03 00 00 00 61 62 63");
    EXPECT_EQ(bytes.substr(132), RawFrame(kIdKind, 5, "hello"));

    CRSData r(RS_MODE_READ);
    ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
    EXPECT_EQ(r.CheckFile(), 1);
    FILEHEADER h;
    ASSERT_EQ(r.ReadFileHeader(h), 1);
    EXPECT_EQ(h.dwFormat, 5800u);
    EXPECT_EQ(h.dwCRC, 0x92C3u);
    EXPECT_EQ(h.eStatus, 1u);
    EXPECT_EQ(r.GetStatus(), 1u);
    char text[16];
    ASSERT_EQ(r.GetFileDescription(text, sizeof(text)), 1);
    EXPECT_STREQ(text, "abc");
    ASSERT_EQ(r.OpenFrame(kIdKind), 1);
    EXPECT_EQ(r.GetFrameSize(), 5u);
    char payload[8] = {};
    EXPECT_EQ(r.ReadCurFrame(payload, sizeof(payload)), 1);
    EXPECT_STREQ(payload, "hello");
    EXPECT_EQ(r.CloseFrame(), 1);
    EXPECT_EQ(r.EndRS(), 1);
}

TEST(RSDataFormat, AnySingleByteChangeOfTheHeaderIsRefused)
{
    TempDir dir;
    const std::string path = dir / "flip.rsf";
    WriteStream(path, {{kIdKind, "x"}}, MakeHeader(2, "abc"));
    const std::string good = ReadFileBytes(path);

    for (int offset = 0; offset < 132; ++offset) {
        for (unsigned char mask : {0x01, 0x80, 0xff}) {
            std::string bad(1, static_cast<char>(good[offset] ^ mask));
            PatchFile(path, offset, bad);
            CRSData r(RS_MODE_READ);
            ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
            FILEHEADER h;
            EXPECT_EQ(r.ReadFileHeader(h), 0) << "offset " << offset << " mask " << int(mask);
            r.EndRS();
            PatchFile(path, offset, good.substr(offset, 1));
        }
    }
    CRSData r(RS_MODE_READ);
    ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
    FILEHEADER h;
    EXPECT_EQ(r.ReadFileHeader(h), 1);
}

TEST(RSDataErrors, EachNumberAtItsTrigger)
{
    TempDir dir;
    const std::string good = dir / "good.rsf";
    WriteStream(good, {{kIdKind, "hello"}});

    const std::string status5 = dir / "status5.rsf";
    WriteStream(status5, {}, MakeHeader(5));
    const std::string length101 = dir / "length101.rsf";
    FILEHEADER longDescription = MakeHeader(1, "abc");
    longDescription.dwDescriptionLength = 101;
    WriteStream(length101, {}, longDescription);

    // The frame claims 100 bytes; the file holds 10 of them.
    const std::string cut = dir / "cut.rsf";
    WriteStream(cut, {{kIdKind, "0123456789"}});
    PatchFile(cut, 164, U32(100));

    const std::string fresh = dir / "fresh.rsf";
    auto reader = [](const std::string& path) {
        auto r = std::make_unique<CRSData>(RS_MODE_READ);
        EXPECT_EQ(r->StartRS(path.c_str(), 0), 1);
        return r;
    };
    auto writer = [](const std::string& path) {
        auto w = std::make_unique<CRSData>(RS_MODE_WRITE);
        EXPECT_EQ(w->StartRS(path.c_str(), 1), 1);
        return w;
    };

    const struct {
        const char* what;
        unsigned error;
        std::function<void()> call;
    } cases[] = {
        {"status 5", 2, [&] { reader(status5)->GetStatus(); }},
        {"description length 101", 2, [&] { char b[8]; reader(length101)->GetFileDescription(b, 8); }},
        {"GetStatus in write mode", 3, [&] { writer(fresh)->GetStatus(); }},
        {"ReadCurFrame in write mode", 3, [&] {
             auto w = writer(fresh);
             w->OpenFrame(kIdKind);
             char b[1];
             w->ReadCurFrame(b, 1);
         }},
        {"WriteCurFrame in read mode", 3, [&] {
             auto r = reader(good);
             r->OpenFrame(kIdKind);
             r->WriteCurFrame("x", 1);
         }},
        {"SetStatus in read mode", 3, [&] { reader(good)->SetStatus(RS_STATUS_FIRST); }},
        {"frame runs past the end of the file", 5, [&] {
             auto r = reader(cut);
             ASSERT_EQ(r->OpenFrame(kIdKind), 1);
             char b[100];
             r->ReadCurFrame(b, 100);
         }},
        {"exact read past the frame's end", 5, [&] {
             auto r = reader(good);
             ASSERT_EQ(r->OpenFrame(kIdKind), 1);
             char b[6];
             r->ReadCurFrameExact(b, 6);
         }},
        {"write to a full device", 6, [&] {
             CRSData w(RS_MODE_WRITE);
             ASSERT_EQ(w.StartRS("/dev/full", 1), 1);
             EXPECT_EQ(w.WriteFileHeader(MakeHeader(1)), 0);
             w.OpenFrame(kIdKind);
         }},
        {"GetFrameSize with no frame", 8, [&] { reader(good)->GetFrameSize(); }},
        {"ReadCurFrame with no frame", 8, [&] { char b[1]; reader(good)->ReadCurFrame(b, 1); }},
        {"GetFrameRemaining with no frame", 8, [&] { reader(good)->GetFrameRemaining(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ErrorOf(c.call), c.error);
    }
}

TEST(RSDataErrors, FailedWritesAreNeverReportedAsSuccess)
{
    // Frame header and payload fit the buffer, so the full device is first
    // seen when the frame is closed.
    CRSData w(RS_MODE_WRITE);
    ASSERT_EQ(w.StartRS("/dev/full", 1), 1);
    ASSERT_EQ(w.OpenFrame(kIdKind), 1);
    ASSERT_EQ(w.WriteCurFrame("payload", 7), 1);
    EXPECT_EQ(ErrorOf([&] { w.CloseFrame(); }), 6u);
    // The stream stays failed.
    EXPECT_EQ(w.WriteCurFrame("x", 1), 0);
    EXPECT_EQ(ErrorOf([&] { w.FlushBuffer(); }), 6u);
    EXPECT_EQ(ErrorOf([&] { w.OpenFrame(kIdDevice); }), 6u);
    EXPECT_EQ(w.EndRS(), 0);

    // A payload larger than the buffer makes the write itself fail.
    CRSData big(RS_MODE_WRITE);
    ASSERT_EQ(big.StartRS("/dev/full", 1), 1);
    ASSERT_EQ(big.OpenFrame(kIdKind), 1);
    std::string payload(CStdFile::kBufferSize + 10, 'x');
    EXPECT_EQ(big.WriteCurFrame(payload.data(), static_cast<unsigned>(payload.size())), 0);
    EXPECT_EQ(ErrorOf([&] { big.CloseFrame(); }), 6u);
    EXPECT_EQ(big.EndRS(), 0);
}

TEST(RSDataErrors, PayloadSizeNeverWraps)
{
    // 4 GiB of zero pages that cost no memory, written to a sink.
    const size_t half = 0x80000000u;
    void* zeros = mmap(nullptr, half, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    CRSData w(RS_MODE_WRITE);
    ASSERT_EQ(w.StartRS("/dev/null", 1), 1);
    ASSERT_EQ(w.OpenFrame(kIdNodes), 1);
    EXPECT_EQ(w.WriteCurFrame(zeros, 0x80000000u), 1);
    EXPECT_EQ(w.WriteCurFrame(zeros, 0x7FFFFFFFu), 1);
    EXPECT_EQ(w.GetFrameSize(), 0xFFFFFFFFu);
    EXPECT_EQ(ErrorOf([&] { w.WriteCurFrame("x", 1); }), 6u);
    EXPECT_EQ(w.GetFrameSize(), 0xFFFFFFFFu);
    EXPECT_EQ(w.CloseFrame(), 1);
    EXPECT_EQ(w.EndRS(), 1);
    munmap(zeros, half);
}

TEST(RSDataFrames, SearchFindsSkipsAndMisses)
{
    TempDir dir;
    const std::string path = dir / "frames.rsf";
    WriteStream(path, {{kIdKind, "first"}, {kIdOther, "unknown"}, {kIdNodes, "nodes"}, {kIdKind, "second"}});
    // Trailing bytes too short for a frame header end the walk.
    AppendFile(path, std::string(20, '\xee'));

    // Any order; the first of two with one id; the unknown frame skipped.
    EXPECT_EQ(ReadFrame(path, kIdNodes), "nodes");
    EXPECT_EQ(ReadFrame(path, kIdKind), "first");

    CRSData r(RS_MODE_READ);
    ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
    ASSERT_EQ(r.OpenFrame(kIdNodes), 1);
    unsigned open = 1;
    EXPECT_EQ(ErrorOf([&] { open = r.OpenFrame(kIdDevice); }), 0u);
    EXPECT_EQ(open, 0u);
    EXPECT_EQ(ErrorOf([&] { r.GetFrameSize(); }), 8u);
    // The stream still works after a miss.
    ASSERT_EQ(r.OpenFrame(kIdKind), 1);
    EXPECT_EQ(r.GetFrameSize(), 5u);

    // A frame claiming far more than the file holds hides what follows it,
    // and the walk still ends.
    const std::string huge = dir / "huge.rsf";
    WriteStream(huge, {{kIdOther, ""}, {kIdKind, "after"}});
    PatchFile(huge, 164, U32(0xFFFFFFFF));
    EXPECT_EQ(ReadFrame(huge, kIdKind), "<missing>");
    CRSData h(RS_MODE_READ);
    ASSERT_EQ(h.StartRS(huge.c_str(), 0), 1);
    ASSERT_EQ(h.OpenFrame(kIdOther), 1);
    EXPECT_EQ(h.GetFrameSize(), 0xFFFFFFFFu);
    EXPECT_EQ(h.GetFrameRemaining(), 36u + 5u);
}

TEST(RSDataFrames, ManyTinyFramesAreWalkedInLinearTime)
{
    // A crafted file of 400,000 empty frames: every step of the walk seeks,
    // and re-reading a whole buffer at each one would take minutes.
    TempDir dir;
    const std::string path = dir / "tiny.rsf";
    WriteStream(path, {});
    std::string frames;
    for (int i = 0; i < 400000; ++i)
        frames += RawFrame(kIdOther, 0, "");
    frames += RawFrame(kIdKind, 4, "last");
    AppendFile(path, frames);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadFrame(path, kIdKind), "last");
    EXPECT_EQ(ReadFrame(path, kIdDevice), "<missing>");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(RSDataFrames, ExactReadStopsAtTheFrameEnd)
{
    TempDir dir;
    const std::string path = dir / "markers.rsf";
    WriteStream(path, {{kIdNodes, std::string("\0\0\0\0\0\0\0\0\xff\xff", 10)}});

    CRSData r(RS_MODE_READ);
    ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
    ASSERT_EQ(r.OpenFrame(kIdNodes), 1);
    std::vector<uint32_t> seen;
    unsigned error = ErrorOf([&] {
        for (int guard = 0; guard < 100; ++guard) {
            uint32_t marker = 0x12345678;
            EXPECT_EQ(r.GetFrameRemaining(), 10u - 4 * seen.size());
            r.ReadCurFrameExact(&marker, 4);
            if (marker == 0xFFFFFFFF)
                break;
            seen.push_back(marker);
        }
    });
    EXPECT_EQ(error, 5u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 0}));
    EXPECT_EQ(r.GetFrameRemaining(), 2u);
    char tail[2];
    EXPECT_EQ(r.ReadCurFrameExact(tail, 2), 1);
    EXPECT_EQ(std::string(tail, 2), "\xff\xff");
    EXPECT_EQ(r.GetFrameRemaining(), 0u);
    // The lenient read keeps its old contract at the end.
    char keep = 'k';
    EXPECT_EQ(r.ReadCurFrame(&keep, 1), 1);
    EXPECT_EQ(keep, 'k');

    // What is left is bounded by the file, not by the declared size.
    const std::string cut = dir / "cut.rsf";
    WriteStream(cut, {{kIdKind, "0123456789"}});
    PatchFile(cut, 164, U32(100));
    CRSData c(RS_MODE_READ);
    ASSERT_EQ(c.StartRS(cut.c_str(), 0), 1);
    ASSERT_EQ(c.OpenFrame(kIdKind), 1);
    EXPECT_EQ(c.GetFrameSize(), 100u);
    EXPECT_EQ(c.GetFrameRemaining(), 10u);
    char buf[11];
    EXPECT_EQ(ErrorOf([&] { c.ReadCurFrameExact(buf, 11); }), 5u);
    EXPECT_EQ(c.ReadCurFrameExact(buf, 10), 1);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
}

TEST(RSDataHeader, DescriptionLimits)
{
    TempDir dir;
    const std::string path = dir / "desc.rsf";
    const std::string text150(150, 'd');
    {
        CRSData w(RS_MODE_WRITE);
        ASSERT_EQ(w.StartRS(path.c_str(), 1), 1);
        // No header yet: nothing to describe.
        EXPECT_EQ(w.SetFileDescription("x"), 0);
        ASSERT_EQ(w.WriteFileHeader(MakeHeader(1)), 1);
        ASSERT_EQ(w.SetFileDescription((text150 + "0123456789").c_str()), 1);
        ASSERT_EQ(w.SetStatus(static_cast<FileStatus>(3)), 1);
        ASSERT_EQ(w.EndRS(), 1);
    }
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 132u);
    EXPECT_EQ(Hex(bytes.substr(24, 8)), "03 00 00 00 64 00 00 00");
    EXPECT_EQ(bytes.substr(32), std::string(100, 'd'));

    CRSData r(RS_MODE_READ);
    ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
    EXPECT_EQ(r.GetStatus(), 3u);
    char small[10];
    ASSERT_EQ(r.GetFileDescription(small, sizeof(small)), 1);
    EXPECT_EQ(std::string(small), std::string(9, 'd'));
    char whole[128];
    ASSERT_EQ(r.GetFileDescription(whole, sizeof(whole)), 1);
    EXPECT_EQ(std::string(whole), std::string(100, 'd'));
    EXPECT_EQ(r.GetFileDescription(nullptr, 10), 0);
    EXPECT_EQ(r.GetFileDescription(whole, 0), 0);
}

TEST(RSDataBuffering, LargeAndSmallTransfersRoundTrip)
{
    TempDir dir;
    const std::string path = dir / "buffered.rsf";
    std::string payload(3 * CStdFile::kBufferSize + 12345, '\0');
    uint32_t x = 12345;
    for (auto& c : payload) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 24);
    }
    // Sizes that fill the buffer exactly, overflow it, and bypass it.
    const size_t chunks[] = {1, 7, CStdFile::kBufferSize - 8, 16, 2 * CStdFile::kBufferSize, 3, 4096};
    {
        CRSData w(RS_MODE_WRITE);
        ASSERT_EQ(w.StartRS(path.c_str(), 1), 1);
        ASSERT_EQ(w.WriteFileHeader(MakeHeader(1)), 1);
        ASSERT_EQ(w.OpenFrame(kIdNodes), 1);
        size_t done = 0;
        for (size_t i = 0; done < payload.size(); ++i) {
            size_t n = std::min(chunks[i % std::size(chunks)], payload.size() - done);
            ASSERT_EQ(w.WriteCurFrame(payload.data() + done, static_cast<unsigned>(n)), 1);
            done += n;
            // Header updates in the middle of a frame must not disturb it.
            if (i == 2) {
                ASSERT_EQ(w.SetStatus(static_cast<FileStatus>(2)), 1);
            }
        }
        EXPECT_EQ(w.GetFrameSize(), payload.size());
        ASSERT_EQ(w.CloseFrame(), 1);
        ASSERT_EQ(w.OpenFrame(kIdKind), 1);
        ASSERT_EQ(w.WriteCurFrame("tail", 4), 1);
        ASSERT_EQ(w.FlushBuffer(), 1);
        ASSERT_EQ(w.CloseFrame(), 1);
        ASSERT_EQ(w.EndRS(), 1);
    }
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 132 + 36 + payload.size() + 36 + 4);
    EXPECT_TRUE(bytes.compare(132 + 36, payload.size(), payload) == 0);
    EXPECT_EQ(bytes.substr(132 + 36 + payload.size()), RawFrame(kIdKind, 4, "tail"));

    CRSData r(RS_MODE_READ);
    ASSERT_EQ(r.StartRS(path.c_str(), 0), 1);
    EXPECT_EQ(r.GetStatus(), 2u);
    ASSERT_EQ(r.OpenFrame(kIdNodes), 1);
    std::string back(payload.size(), '\0');
    size_t done = 0;
    for (size_t i = 0; done < back.size(); ++i) {
        size_t n = std::min(chunks[(i + 3) % std::size(chunks)], back.size() - done);
        ASSERT_EQ(r.ReadCurFrameExact(back.data() + done, static_cast<unsigned>(n)), 1);
        done += n;
        if (i == 1) {
            // Header reads in the middle of a frame must not disturb it.
            FILEHEADER h;
            ASSERT_EQ(r.ReadFileHeader(h), 1);
        }
    }
    EXPECT_TRUE(back == payload);
    EXPECT_EQ(ReadFrame(path, kIdKind), "tail");
}

TEST(RSDataFile, DescriptorZeroIsAValidFile)
{
    TempDir dir;
    const std::string path = dir / "fd0.rsf";
    EXPECT_EXIT(
        {
            close(0);
            CRSData w(RS_MODE_WRITE);
            bool ok = w.StartRS(path.c_str(), 1) == 1 && w.WriteFileHeader(MakeHeader(1)) == 1 &&
                      w.OpenFrame(kIdKind) == 1 && w.WriteCurFrame("zero", 4) == 1 &&
                      w.CloseFrame() == 1 && w.EndRS() == 1;
            CRSData r(RS_MODE_READ);
            char buf[4] = {};
            FILEHEADER h;
            ok = ok && r.StartRS(path.c_str(), 0) == 1 && r.ReadFileHeader(h) == 1 &&
                 r.OpenFrame(kIdKind) == 1 && r.ReadCurFrameExact(buf, 4) == 1 &&
                 std::memcmp(buf, "zero", 4) == 0 && r.EndRS() == 1;
            // The child leaves without running destructors: tidy up here.
            std::error_code ec;
            std::filesystem::remove_all(dir.path(), ec);
            exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(RSDataFile, PermissionsAndLinks)
{
    TempDir dir;
    const mode_t oldMask = umask(022);

    const std::string fresh = dir / "fresh.rsf";
    WriteStream(fresh, {{kIdKind, "a"}});
    struct stat st;
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    const std::string priv = dir / "private.rsf";
    WriteStream(priv, {{kIdKind, "b"}});
    ASSERT_EQ(chmod(priv.c_str(), 0600), 0);
    const std::string digest = FileDigest(priv);
    {
        CRSData r(RS_MODE_READ);
        ASSERT_EQ(r.StartRS(priv.c_str(), 0), 1);
        FILEHEADER h;
        EXPECT_EQ(r.ReadFileHeader(h), 1);
        EXPECT_EQ(r.EndRS(), 1);
    }
    ASSERT_EQ(stat(priv.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(FileDigest(priv), digest);

    // A link planted where the result is to be written is refused, whether
    // the file would be emptied or kept.
    const std::string target = dir / "victim";
    const std::string link = dir / "link.rsf";
    { std::ofstream(target) << "precious"; }
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    for (int truncate : {1, 0}) {
        CRSData w(RS_MODE_WRITE);
        EXPECT_EQ(w.StartRS(link.c_str(), truncate), 0);
    }
    EXPECT_EQ(ReadFileBytes(target), "precious");

    umask(oldMask);
}

TEST(RSDataFile, FramesBeyondFourGiB)
{
    TempDir dir;
    const std::string big = dir / "big.rsf";
    {
        CRSData w(RS_MODE_WRITE);
        ASSERT_EQ(w.StartRS(big.c_str(), 1), 1);
        ASSERT_EQ(w.WriteFileHeader(MakeHeader(1)), 1);
        ASSERT_EQ(w.OpenFrame(kIdKind), 1);
        ASSERT_EQ(w.WriteCurFrame("A", 1), 1);
        ASSERT_EQ(w.CloseFrame(), 1);
        ASSERT_EQ(w.EndRS(), 1);
    }
    // Frame A now claims 0xFFFFFFFF bytes and the file is made that long,
    // sparsely.
    RunTool("printf '\\377\\377\\377\\377' | dd of='" + big + "' bs=1 seek=164 conv=notrunc status=none");
    RunTool("truncate -s 4294967463 '" + big + "'");
    std::string head(204, '\0');
    int fd = open(big.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pread(fd, head.data(), head.size(), 0), 204);
    close(fd);

    {
        CRSData w(RS_MODE_WRITE);
        ASSERT_EQ(w.StartRS(big.c_str(), 0), 1);
        ASSERT_EQ(w.OpenFrame(kIdDevice), 1);
        ASSERT_EQ(w.WriteCurFrame("payload-B", 9), 1);
        ASSERT_EQ(w.CloseFrame(), 1);
        ASSERT_EQ(w.EndRS(), 1);
    }

    fd = open(big.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::string frameB(45, '\0');
    ASSERT_EQ(pread(fd, frameB.data(), frameB.size(), 4294967463LL), 45);
    std::string headAfter(204, '\0');
    ASSERT_EQ(pread(fd, headAfter.data(), headAfter.size(), 0), 204);
    close(fd);
    EXPECT_EQ(frameB, RawFrame(kIdDevice, 9, "payload-B"));
    EXPECT_TRUE(headAfter == head);

    EXPECT_EQ(ReadFrame(big, kIdDevice), "payload-B");
}

// ---- frame checksums ------------------------------------------------------------

namespace {

// A committed stream of the given frames, as a save writes it.
void WriteChecked(const std::string& path, const Frames& frames)
{
    CRSData w(RS_MODE_WRITE);
    ASSERT_EQ(w.StartRSReplacing(path.c_str()), 1);
    ASSERT_EQ(w.WriteFileHeader(MakeHeader(1)), 1);
    for (const auto& [id, payload] : frames) {
        ASSERT_EQ(w.OpenFrame(id), 1);
        // In pieces of every size, so that the checksum sees them as the
        // buffer pushes them out, not as they were handed in.
        for (size_t at = 0, n = 1; at < payload.size(); at += n, n = n * 3 + 1)
            ASSERT_EQ(w.WriteCurFrame(payload.data() + at, static_cast<unsigned>(std::min(n, payload.size() - at))), 1);
        ASSERT_EQ(w.CloseFrame(), 1);
    }
    ASSERT_EQ(w.CommitRS(), 1);
}

RSIntegrityReport Check(const std::string& path)
{
    CRSData r(RS_MODE_READ);
    RSIntegrityReport report;
    EXPECT_EQ(r.StartRS(path.c_str(), 0), 1);
    EXPECT_EQ(r.CheckIntegrity(report), report.eState);
    return report;
}

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Frames ThreeFrames()
{
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 131 + (i >> 9));
    return {{kIdKind, U32(8) + U32(0) + U32(0)}, {kIdDevice, std::string(40, 'd')}, {kIdNodes, big}};
}

}  // namespace

TEST(RSDataCrc, Crc32IsZlibsAtEveryLengthAndAlignment)
{
    std::string data(5000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 2654435761u) >> 13);
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    EXPECT_EQ(CCRC::RunCRC32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(CCRC::RunCRC32(0, nullptr, 0), 0u);
    for (size_t length : {0, 1, 15, 16, 63, 64, 65, 79, 80, 127, 128, 1000, 4096, 4999}) {
        for (size_t offset : {0, 1, 7}) {
            SCOPED_TRACE(std::to_string(length) + " at " + std::to_string(offset));
            const uint32_t expected = static_cast<uint32_t>(crc32(0, p + offset, static_cast<uInt>(length)));
            EXPECT_EQ(CCRC::RunCRC32(0, p + offset, length), expected);
            // Continued in two pieces.
            const size_t half = length / 3;
            EXPECT_EQ(CCRC::RunCRC32(CCRC::RunCRC32(0, p + offset, half), p + offset + half, length - half), expected);
        }
    }
}

TEST(RSDataChecksums, FrameWrittenLastAndSkippedByOlderReaders)
{
    TempDir dir;
    const std::string path = dir / "c.rsf";
    const Frames frames = ThreeFrames();
    WriteChecked(path, frames);
    const std::string bytes = ReadFileBytes(path);

    // The last frame: an entry per frame (id, offset, length, zlib CRC-32),
    // the count, and the CRC-32 of what precedes it.
    const size_t sumsPayload = 3 * kRSChecksumEntrySize + kRSChecksumTrailerSize;
    const size_t sumsAt = bytes.size() - sumsPayload - kRSFrameHeaderSize;
    EXPECT_EQ(bytes.substr(sumsAt, 36), RawFrame(_frFrameChecksums, sumsPayload, ""));
    const std::string sums = bytes.substr(sumsAt + 36);
    size_t offset = kRSFileHeaderSize;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::string e = sums.substr(i * 32, 32);
        const std::string& payload = frames[i].second;
        EXPECT_EQ(e.substr(0, 16), std::string(reinterpret_cast<const char*>(frames[i].first.u8Bytes), 16));
        EXPECT_EQ(e.substr(16, 8), U32(static_cast<uint32_t>(offset)) + U32(0));
        EXPECT_EQ(e.substr(24, 4), U32(static_cast<uint32_t>(payload.size())));
        EXPECT_EQ(e.substr(28, 4),
                  U32(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(payload.data()),
                                                  static_cast<uInt>(payload.size())))));
        offset += 36 + payload.size();
    }
    EXPECT_EQ(offset, sumsAt);
    EXPECT_EQ(sums.substr(96, 4), U32(3));
    EXPECT_EQ(sums.substr(100, 4),
              U32(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(sums.data()), 100))));

    // Every frame still reads as before; the new one is just another frame.
    for (const auto& [id, payload] : frames)
        EXPECT_EQ(ReadFrame(path, id), payload);
    const RSIntegrityReport report = Check(path);
    EXPECT_EQ(report.eState, RS_INTEGRITY_SOUND);
    EXPECT_TRUE(report.vecDamaged.empty());

    // A file without it is an older file: unverified, nothing wrong.
    WriteStream(dir / "old.rsf", frames);
    EXPECT_EQ(Check(dir / "old.rsf").eState, RS_INTEGRITY_UNVERIFIED);
}

TEST(RSDataChecksums, EveryChangedByteOfTheFramesIsFound)
{
    TempDir dir;
    const std::string good = dir / "good.rsf";
    Frames frames = ThreeFrames();
    frames[2].second.resize(700);  // small enough to try every byte
    WriteChecked(good, frames);
    const std::string bytes = ReadFileBytes(good);
    const std::string bad = dir / "bad.rsf";
    auto write = [&](const std::string& f) { std::ofstream(bad, std::ios::binary | std::ios::trunc) << f; };
    for (size_t at = kRSFileHeaderSize; at < bytes.size(); ++at) {
        for (int mode = 0; mode < 2; ++mode) {
            std::string f = bytes;
            if (mode == 0)
                f[at] = static_cast<char>(f[at] ^ 0x01);
            else
                for (size_t i = at; i < at + 4 && i < f.size(); ++i)
                    f[i] = static_cast<char>(0xFF);
            if (f == bytes)
                continue;
            write(f);
            const RSIntegrityReport report = Check(bad);
            ASSERT_EQ(report.eState, RS_INTEGRITY_DAMAGED) << "byte " << at << " mode " << mode;
            ASSERT_FALSE(report.vecDamaged.empty() && !report.bTruncated) << "byte " << at;
        }
    }
    // A flipped payload byte names its own frame.
    const size_t device = kRSFileHeaderSize + 36 + 12 + 36;
    std::string f = bytes;
    f[device + 5] ^= 0x10;
    write(f);
    RSIntegrityReport report = Check(bad);
    ASSERT_EQ(report.vecDamaged.size(), 1u);
    EXPECT_TRUE(report.vecDamaged[0] == kIdDevice);
    // Cuts: inside a frame the file is cut short; at a frame's end the
    // checksum frame is gone and the frames before it read as an older file.
    for (size_t cut = kRSFileHeaderSize + 1; cut < bytes.size(); ++cut) {
        write(bytes.substr(0, cut));
        report = Check(bad);
        const bool atFrameEnd = cut == device - 36 || cut == device + 40 || cut == device + 40 + 36 + 700;
        if (atFrameEnd)
            EXPECT_EQ(report.eState, RS_INTEGRITY_UNVERIFIED) << "cut " << cut;
        else
            EXPECT_EQ(report.eState, RS_INTEGRITY_DAMAGED) << "cut " << cut;
    }
    // Something appended after the checksum frame: not the file that was
    // written.
    write(bytes + RawFrame(kIdOther, 3, "abc"));
    EXPECT_EQ(Check(bad).eState, RS_INTEGRITY_DAMAGED);
}

TEST(RSDataChecksums, ReplacingLeavesTheTargetUntilCommitted)
{
    TempDir dir;
    const std::string path = dir / "r.rsf";
    WriteChecked(path, ThreeFrames());
    const std::string before = ReadFileBytes(path);

    {
        // Abandoned half-way (a failed save): the old file stays, nothing
        // else is left in the folder.
        CRSData w(RS_MODE_WRITE);
        ASSERT_EQ(w.StartRSReplacing(path.c_str()), 1);
        ASSERT_EQ(w.WriteFileHeader(MakeHeader(1)), 1);
        ASSERT_EQ(w.OpenFrame(kIdNodes), 1);
        ASSERT_EQ(w.WriteCurFrame("partial", 7), 1);
        EXPECT_EQ(ReadFileBytes(path), before);
        EXPECT_EQ(FilesIn(dir.path()).size(), 2u);
        EXPECT_EQ(w.EndRS(), 1);
    }
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"r.rsf"});
    {
        CRSData w(RS_MODE_WRITE);
        ASSERT_EQ(w.StartRSReplacing(path.c_str()), 1);
        // Destroyed without a commit.
    }
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"r.rsf"});

    // Committed: the new file takes the name, and the old one's permissions.
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    WriteChecked(path, {{kIdKind, "new"}});
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFrame(path, kIdKind), "new");
    EXPECT_EQ(Check(path).eState, RS_INTEGRITY_SOUND);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"r.rsf"});

    // A folder that does not exist, a symbolic link at the path.
    CRSData w(RS_MODE_WRITE);
    EXPECT_EQ(w.StartRSReplacing((dir / "no/such.rsf").c_str()), 0);
    ASSERT_EQ(symlink("r.rsf", (dir / "link.rsf").c_str()), 0);
    EXPECT_EQ(w.StartRSReplacing((dir / "link.rsf").c_str()), 0);
    EXPECT_EQ(ReadFrame(path, kIdKind), "new");
    // A write that failed is never committed.
    if (access("/dev/full", W_OK) == 0) {
        ASSERT_EQ(w.StartRSReplacing("/dev/full"), 1);
        EXPECT_EQ(w.WriteFileHeader(MakeHeader(1)), 0);
        EXPECT_EQ(ErrorOf([&] { w.OpenFrame(kIdNodes); }), RS_ERROR_WRITE_FAILED);
        EXPECT_EQ(w.CommitRS(), 0);
    }
}
