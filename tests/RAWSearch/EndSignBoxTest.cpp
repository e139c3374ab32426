// The end-signature search and the box walker, on real files placed in
// device images.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ImageFileDevice.h"
#include "RawBoxFileAnalyser.h"
#include "SearchHarness.h"
#include "SearchSignFileAnalyser.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ToBytes(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes Fixture(const std::string& name)
{
    return ToBytes(ReadFileBytes(std::string(VANTREL_SOURCE_DIR) + "/tests/data/raw/" + name));
}

SearchSignCodeInfo Sign(const std::string& text, unsigned long long maxSize = 0)
{
    SearchSignCodeInfo sign;
    std::memcpy(sign.szSignCode, text.data(), text.size());
    sign.dwSignCodeLength = static_cast<unsigned int>(text.size());
    sign.u64MaxFileSize = maxSize;
    return sign;
}

// The size the signature search gives a file placed at sector 8 of a device
// of zeros.
long long EndSignSize(const Bytes& file, const std::string& sign, int caseSensitive, unsigned int ss = 512,
                      unsigned long long maxSize = 0)
{
    ByteDevice device(static_cast<long long>(file.size() / ss) + 24, ss);
    device.Put(8LL * ss, file);
    CRawFileInfo info;
    info.m_llStartSector = 8;
    SearchSignFileAnalyser analyser;
    EXPECT_EQ(analyser.SearchEndSignCode(info, &device, Sign(sign, maxSize), caseSensitive), 1);
    return info.m_llSize;
}

class rawEndSign : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        TempDir dir;
        RunTool("cd '" + dir.path() + "' && python3 -m pydoc -w json >/dev/null");
        s_html = new std::string(ReadFileBytes(dir / "json.html"));
    }
    static void TearDownTestSuite()
    {
        delete s_html;
        s_html = nullptr;
    }
    static std::string* s_html;
};

std::string* rawEndSign::s_html = nullptr;

TEST_F(rawEndSign, FindsTheEndOfAnHtmlPage)
{
    const std::string& html = *s_html;
    ASSERT_GT(html.size(), 1000u);
    ASSERT_EQ(html.substr(html.size() - 7), "</html>");
    std::string upper = html;
    upper.replace(upper.size() - 7, 7, "</HTML>");
    // Padded before </body> so that the file ends 3 bytes into a sector: the
    // signature is split over two sectors.
    std::string split = html;
    const size_t body = split.rfind("</body>");
    split.insert(body, std::string((3 + 512 - split.size() % 512) % 512, ' '));
    ASSERT_EQ(split.size() % 512, 3u);

    const struct {
        const char* what;
        const std::string& file;
        const char* sign;
        int caseSensitive;
    } cases[] = {
        {"as it is", html, "</html>", 1},
        {"as it is, either case", html, "</HTML>", 0},
        {"upper case, either case", upper, "</html>", 0},
        {"split", split, "</html>", 1},
        {"split, either case", split, "</HTML>", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (unsigned int ss : {512u, 4096u})
            EXPECT_EQ(EndSignSize(ToBytes(c.file), c.sign, c.caseSensitive, ss), static_cast<long long>(c.file.size()))
                << ss;
    }
    // Case counts when asked to.
    EXPECT_NE(EndSignSize(ToBytes(upper), "</html>", 1), static_cast<long long>(upper.size()));
}

TEST_F(rawEndSign, SearchesOnlySectorsThatEndInZeros)
{
    // The signature in a sector whose last two bytes are data is passed
    // over; the next sector ends in zeros without it, so the walk stops at
    // that sector's start.
    Bytes file(512 + 100, 'x');
    std::memcpy(file.data() + 200, "</html>", 7);
    EXPECT_EQ(EndSignSize(file, "</html>", 1), 512);

    // A sector that ends in zeros but not in eight of them and lacks the
    // signature does not stop the walk.
    Bytes longer(512 + 100, 'y');
    longer[511] = longer[510] = 0;  // sector 0 ends in two zero bytes only
    std::memcpy(longer.data() + 512 + 10, "</html>", 7);
    EXPECT_EQ(EndSignSize(longer, "</html>", 1), 512 + 17);
}

TEST_F(rawEndSign, StopsAtItsLimit)
{
    // No sector ends in zeros: the walk ends at the first offset past the
    // limit.
    Bytes file(40 * 512, 'q');
    EXPECT_EQ(EndSignSize(file, "</html>", 1, 512, 4096), 4096 + 512);
    EXPECT_EQ(EndSignSize(file, "</html>", 1, 512, 4000), 4096);
}

TEST(rawBoxHelpers, ByteOrderAndSearch)
{
    EXPECT_EQ(DWORDBigEndian2LittleEndian(0x01020304), 0x04030201);
    EXPECT_EQ(static_cast<unsigned int>(DWORDBigEndian2LittleEndian(static_cast<int>(0xFF000080u))), 0x800000FFu);
    CRawBoxFileAnalyser box;
    char bytes[16] = {0, 0, 0x12, 0x34, 'm', 'd', 'a', 't', 0, 0, 0, 1, 0, 0, 0, 2};
    int size32 = 0;
    EXPECT_TRUE(box.GetBoxSize(bytes, size32));
    EXPECT_EQ(size32, 0x1234);
    long long size64 = 0;
    EXPECT_TRUE(box.GetBoxSizeEx(bytes + 8, size64));
    EXPECT_EQ(size64, 0x100000002LL);
    char zero[8] = {};
    EXPECT_FALSE(box.GetBoxSizeEx(zero, size64));
    char negative[4] = {static_cast<char>(0x80), 0, 0, 0};
    EXPECT_FALSE(box.GetBoxSize(negative, size32));

    unsigned char hay[] = "abcabcd";
    unsigned char needle[] = "abcd";
    EXPECT_EQ(Apimemstr(hay, 7, needle, 4), hay + 3);
    EXPECT_EQ(Apimemstr(hay, 6, needle, 4), nullptr);
    EXPECT_EQ(Apimemstr(hay, 3, needle, 4), nullptr) << "haystack shorter than the needle";
    EXPECT_EQ(Apimemstr(hay, 7, needle, 0), nullptr);
    EXPECT_EQ(Apimemstr(nullptr, 7, needle, 4), nullptr);
    EXPECT_EQ(Apimemstr(hay, 0, needle, 1), nullptr);
}

// The walk over a file placed at sector 8, followed by the given bytes.
bool WalkBoxes(const Bytes& file, const Bytes& after, long long& size)
{
    ByteDevice device(static_cast<long long>((file.size() + after.size()) / 512) + 24, 512);
    device.Put(8 * 512, file);
    device.Put(8 * 512 + static_cast<long long>(file.size()), after);
    CRawFileInfo info;
    info.m_llStartSector = 8;
    CRawBoxFileAnalyser box;
    const bool ok = box.GetFileSize(info, &device);
    size = info.m_llSize;
    return ok;
}

void AppendBox(Bytes& b, const char* type, uint32_t size, unsigned char fill = 0)
{
    for (int i = 3; i >= 0; --i)
        b.push_back(static_cast<unsigned char>(size >> (8 * i)));
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), size - 8, fill);
}

TEST(rawBoxWalker, SizesMp4FilesOfEveryLayout)
{
    std::mt19937 rng(5);
    Bytes random(8192);
    for (unsigned char& c : random)
        c = static_cast<unsigned char>(rng());
    for (const char* name : {"plain.mp4", "faststart.mp4", "fragmented.mp4"}) {
        const Bytes mp4 = Fixture(name);
        ASSERT_GT(mp4.size(), 1000u) << name;
        for (const Bytes& after : {Bytes(8192, 0), random}) {
            long long size = 0;
            EXPECT_TRUE(WalkBoxes(mp4, after, size)) << name;
            EXPECT_EQ(size, static_cast<long long>(mp4.size())) << name;
        }
    }
}

TEST(rawBoxWalker, EndsAtTheFirstBoxItDoesNotKnow)
{
    Bytes file;
    AppendBox(file, "ftyp", 24);
    AppendBox(file, "moov", 700, 1);
    AppendBox(file, "mdat", 3000, 2);
    Bytes garbage = {0x00, 0x00, 0x01, 0x00, 'j', 'u', 'n', 'k', 1, 2, 3, 4, 5, 6, 7, 8};
    long long size = 0;
    EXPECT_TRUE(WalkBoxes(file, garbage, size));
    EXPECT_EQ(size, 24 + 700 + 3000);

    // A 64-bit "mdat" of size 0 has no usable size.
    Bytes zeroLarge;
    AppendBox(zeroLarge, "ftyp", 24);
    const unsigned char large[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 0};
    zeroLarge.insert(zeroLarge.end(), large, large + 16);
    EXPECT_FALSE(WalkBoxes(zeroLarge, Bytes(64, 0), size));

    // Not a box at all.
    EXPECT_FALSE(WalkBoxes(Bytes(64, 0), Bytes(), size));
}

// plain.mp4 with its media data grown to 4.5 GiB through a 64-bit size, the
// index after the hole, in a sparse image.
TEST(rawBoxWalker, SizesFilesLargerThanFourGibibytes)
{
    const Bytes mp4 = Fixture("plain.mp4");
    size_t pos = 0;
    Bytes head, mdatPayload, moov;
    while (pos + 8 <= mp4.size()) {
        const uint32_t size = static_cast<uint32_t>(mp4[pos] << 24 | mp4[pos + 1] << 16 | mp4[pos + 2] << 8 | mp4[pos + 3]);
        ASSERT_GE(size, 8u);
        const std::string type(mp4.begin() + static_cast<long>(pos) + 4, mp4.begin() + static_cast<long>(pos) + 8);
        const Bytes box(mp4.begin() + static_cast<long>(pos), mp4.begin() + static_cast<long>(pos + size));
        if (type == "mdat")
            mdatPayload.assign(box.begin() + 8, box.end());
        else if (type == "moov")
            moov = box;
        else
            head.insert(head.end(), box.begin(), box.end());
        pos += size;
    }
    ASSERT_FALSE(mdatPayload.empty());
    ASSERT_FALSE(moov.empty());

    const unsigned long long mdatSize = 4608ULL << 20;  // 4.5 GiB
    Bytes mdatHeader = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
    for (int i = 7; i >= 0; --i)
        mdatHeader.push_back(static_cast<unsigned char>(mdatSize >> (8 * i)));

    TempDir dir;
    const std::string path = dir / "large.img";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    long long at = 8 * 512;
    auto put = [&](const Bytes& b) {
        ASSERT_EQ(pwrite(fd, b.data(), b.size(), at), static_cast<ssize_t>(b.size()));
        at += static_cast<long long>(b.size());
    };
    put(head);
    put(mdatHeader);
    put(mdatPayload);
    at = 8 * 512 + static_cast<long long>(head.size() + mdatSize);
    put(moov);
    const long long expected = at - 8 * 512;
    ASSERT_EQ(ftruncate(fd, (at + 4095) / 4096 * 4096 + 4096), 0);
    close(fd);

    auto device = OpenImageFileDisk(path, 512);
    ASSERT_NE(device, nullptr);
    CRawFileInfo info;
    info.m_llStartSector = 8;
    CRawBoxFileAnalyser box;
    EXPECT_TRUE(box.GetFileSize(info, device.get()));
    EXPECT_EQ(info.m_llSize, expected);
}

}  // namespace
