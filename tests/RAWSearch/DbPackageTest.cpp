// Installer packages and disk images on crafted bytes: the table of contents
// walk, refused and hostile tables, signed packages, and the trailer search.

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CameraRawBytes.h"
#include "PackageAnalysers.h"
#include "DbTestBytes.h"
#include "SearchHarness.h"

namespace {

using namespace rawtest;
using namespace dbtest;

void Put64BE(Bytes& b, size_t at, uint64_t v)
{
    Put32(b, at, static_cast<uint32_t>(v >> 32), false);
    Put32(b, at + 4, static_cast<uint32_t>(v), false);
}

// A xar file: header, the compressed table and heapBytes of heap.
Bytes Xar(const std::string& toc, size_t heapBytes, uint64_t* packedLength = nullptr)
{
    uLongf length = compressBound(static_cast<uLong>(toc.size()));
    Bytes packed(length);
    EXPECT_EQ(compress(packed.data(), &length, reinterpret_cast<const Bytef*>(toc.data()),
                       static_cast<uLong>(toc.size())),
              Z_OK);
    packed.resize(length);
    Bytes file(28, 0);
    PutText(file, 0, "xar!");
    Put16(file, 4, 28, false);
    Put16(file, 6, 1, false);
    Put64BE(file, 8, packed.size());
    Put64BE(file, 16, toc.size());
    file.insert(file.end(), packed.begin(), packed.end());
    Bytes heap = NonZero(heapBytes, 2);
    file.insert(file.end(), heap.begin(), heap.end());
    if (packedLength)
        *packedLength = packed.size();
    return file;
}

std::string FileEntry(int id, long long offset, long long length, const std::string& children = {})
{
    return "<file id=\"" + std::to_string(id) + "\"><data><offset>" + std::to_string(offset) + "</offset><length>" +
           std::to_string(length) + "</length></data><name>f" + std::to_string(id) + "</name>" + children + "</file>";
}

std::string Toc(const std::string& files)
{
    return "<?xml version=\"1.0\"?>\n<xar><toc><checksum style=\"sha1\"><offset>0</offset><size>20</size>"
           "</checksum>" +
           files + "</toc></xar>\n";
}

TEST(DbPackage, SizedByTheHighestIdWhereverItStands)
{
    FilePKGAnalyser analyser;
    // File 3 is nested in folder 1 and comes first; file 2 after it names a
    // larger end but a lower id.
    const std::string toc = Toc("<file id=\"1\"><name>dir</name>" + FileEntry(3, 5020, 3000) + "</file>" +
                                FileEntry(2, 20, 9000));
    uint64_t packed = 0;
    Bytes xar = Xar(toc, 9020, &packed);
    CRawFileInfo probe;
    ASSERT_EQ(analyser.AnalyseBuffer(xar.data(), probe), 1);
    EXPECT_EQ(probe.m_dwType, 119u);
    for (unsigned int ss : {512u, 4096u})
        EXPECT_EQ(DeviceSize(analyser, xar, ss), static_cast<long long>(28 + packed + 8020)) << ss;

    // Ids in rising order deep in the tree: the last one counts.
    const std::string deep = Toc(FileEntry(1, 20, 10, FileEntry(2, 30, 10, FileEntry(4, 100, 50))) +
                                 FileEntry(3, 5000, 5000));
    Bytes nested = Xar(deep, 200, &packed);
    EXPECT_EQ(DeviceSize(analyser, nested, 512), static_cast<long long>(28 + packed + 150));
}

TEST(DbPackage, RefusedTables)
{
    FilePKGAnalyser analyser;
    const std::string toc = Toc(FileEntry(1, 20, 100));
    // Lengths over the limit, compressed longer than plain, no file element,
    // bytes that do not inflate.
    Bytes big = Xar(toc, 200);
    Put64BE(big, 16, 0x300001);
    EXPECT_EQ(DeviceSize(analyser, big, 512), -1);
    Bytes bigPacked = Xar(toc, 200);
    Put64BE(bigPacked, 8, 0x300001);
    Put64BE(bigPacked, 16, 0x300001);
    EXPECT_EQ(DeviceSize(analyser, bigPacked, 512), -1);
    Bytes swapped = Xar(toc, 200);
    Put64BE(swapped, 16, 10);
    EXPECT_EQ(DeviceSize(analyser, swapped, 512), -1);
    Bytes noFile = Xar(Toc("<folder id=\"1\"/>"), 200);
    EXPECT_EQ(DeviceSize(analyser, noFile, 512), -1);
    Bytes broken = Xar(toc, 200);
    for (size_t i = 30; i < 40; ++i)
        broken[i] ^= 0x5A;
    EXPECT_EQ(DeviceSize(analyser, broken, 512), -1);
    // A table that reaches past the device's end.
    Bytes cut = Xar(toc, 0);
    cut.resize(40);
    EXPECT_EQ(DeviceSize(analyser, cut, 512, nullptr, 0), -1);
}

TEST(DbPackage, HostileTables)
{
    FilePKGAnalyser analyser;
    // Nesting deep enough to exhaust a recursive parser is refused unparsed.
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<file id=\"1\">";
    Bytes nested = Xar(Toc(deep), 100);
    EXPECT_EQ(DeviceSize(analyser, nested, 512), -1);
    // Ten thousand files in a row, each with an element that closes itself,
    // are walked without recursion.
    std::string many;
    for (int i = 1; i <= 10000; ++i)
        many += FileEntry(i, i, 1, "<encoding style=\"application/octet-stream\"/>");
    uint64_t packed = 0;
    Bytes wide = Xar(Toc(many), 100, &packed);
    EXPECT_EQ(DeviceSize(analyser, wide, 512), static_cast<long long>(28 + packed + 10001));
    // Negative or absurd numbers: the heap end is dropped past the maximum.
    Bytes negative = Xar(Toc(FileEntry(1, -500, 100)), 100, &packed);
    EXPECT_EQ(DeviceSize(analyser, negative, 512), static_cast<long long>(28 + packed));
    EXPECT_EQ(analyser.HeapEndOfToc(Toc(FileEntry(7, 2147483647, 2147483647)).c_str()), 4294967294LL);
    EXPECT_EQ(analyser.HeapEndOfToc("<xar><toc><file id=\"x\"/></toc>"), -1);
}

TEST(DbPackage, SignedPackageStatesItsSize)
{
    FilePKGAnalyser analyser;
    Bytes pkg = NonZero(2048, 3);
    const unsigned char magic[4] = {0x7F, 0x50, 0x4B, 0x47};
    std::copy(magic, magic + 4, pkg.begin());
    Put16(pkg, 6, 256, true);
    Put64BE(pkg, 24, 1500);
    EXPECT_EQ(DeviceSize(analyser, pkg, 512), 1500);
    Put16(pkg, 6, 512, true);
    EXPECT_EQ(DeviceSize(analyser, pkg, 512), 1500);
    // Another version, or a size past the maximum: read as a xar header,
    // whose lengths here are refused.
    Put16(pkg, 6, 300, true);
    EXPECT_EQ(DeviceSize(analyser, pkg, 512), -1);
    Put16(pkg, 6, 256, true);
    Put64BE(pkg, 24, 0x280000001ULL);
    EXPECT_EQ(DeviceSize(analyser, pkg, 512), -1);
}

// A disk image: a bzip2 block header, data and a trailer at trailerAt.
Bytes DiskImage(size_t trailerAt)
{
    Bytes image = NonZero(trailerAt + 512, 4);
    PutText(image, 0, "BZh11AY&SY");
    std::fill(image.begin() + static_cast<long>(trailerAt), image.end(), 0);
    PutText(image, trailerAt, "koly");
    Put32(image, trailerAt + 4, 4, false);
    return image;
}

TEST(DbDiskImage, TrailerEndsTheImage)
{
    Brance::DMGAnalyser analyser;
    FileDMGAnalyser partner;
    // The trailer starts a 512-byte sector: the image ends at its end.
    Bytes aligned = DiskImage(40 * 512);
    CRawFileInfo probe;
    ASSERT_EQ(analyser.AnalyseBuffer(aligned.data(), probe), 1);
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    FeedResult r = Feed(*info, aligned, 512);
    EXPECT_EQ(r.llSize, static_cast<long long>(aligned.size()));
    EXPECT_EQ(info->GetRawFileName(), "0-40_");
    EXPECT_EQ(DeviceSize(partner, aligned, 512), static_cast<long long>(aligned.size()));
    // In 4096-byte sectors the image ends at the sector's end.
    std::unique_ptr<CRawFileInfo> large(analyser.CreateRawFileInfo());
    EXPECT_EQ(Feed(*large, aligned, 4096).llSize, 6 * 4096);

    // A trailer across two sectors: found in the look-back half sector.
    Bytes across = DiskImage(40 * 512 + 500);
    std::unique_ptr<CRawFileInfo> cross(analyser.CreateRawFileInfo());
    r = Feed(*cross, across, 512);
    EXPECT_EQ(r.llSector, 41);
    EXPECT_EQ(r.llSize, 42 * 512);
    EXPECT_EQ(DeviceSize(partner, across, 512), static_cast<long long>(across.size()));

    // No trailer: the stream never ends by itself; evicted, the partner
    // sizes it up to where the device can no longer be read.
    Bytes none = NonZero(30 * 512, 5);
    PutText(none, 0, "BZh11AY&SY");
    std::unique_ptr<CRawFileInfo> open(analyser.CreateRawFileInfo());
    EXPECT_EQ(Feed(*open, none, 512).llSector, -1);
    open->WillBeRemove(nullptr, -1);
    ASSERT_NE(open->m_pOwner, nullptr);
    const long long walked = DeviceSize(partner, none, 512, nullptr, 4);
    EXPECT_GE(walked, static_cast<long long>(none.size()));
    EXPECT_LE(walked, 128LL * 512);
    Bytes notBz(512, 0);
    PutText(notBz, 0, "BZh91AY&SY");
    EXPECT_EQ(analyser.AnalyseBuffer(notBz.data(), probe), 0);
}

}  // namespace
