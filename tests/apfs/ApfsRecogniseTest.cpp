#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "APFSObject.h"
#include "ApfsTestSupport.h"
#include "ImageFileDevice.h"
#include "TestSupport.h"

namespace {

std::string Label(IVolumeAnalyze* analyze)
{
    char label[64] = {};
    analyze->GetLabel(label, sizeof label);
    return std::string(label);
}

}  // namespace

TEST(ApfsRecognise, ContainerMadeByMkapfs)
{
    const ApfsFixture& f = SharedApfsFixture();
    for (unsigned int sectorSize : {512u, 4096u}) {
        SCOPED_TRACE(sectorSize);
        auto device = OpenImageFileDisk(f.empty, sectorSize);
        ASSERT_TRUE(device);
        std::unique_ptr<IVolumeAnalyze> analyze(CreateAPFSVolumeAnalyze(device.get(), 0));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(analyze->GetFileSystemType(), FS_APFS);
        EXPECT_EQ(analyze->GetTotalSector(), 128LL * 1024 * 1024 / sectorSize);
        EXPECT_EQ(Label(analyze.get()), "TestVol");
        // Block 1 (the checkpoint map) is an object, but no container.
        std::unique_ptr<IVolumeAnalyze> none(CreateAPFSVolumeAnalyze(device.get(), 4096 / sectorSize));
        EXPECT_FALSE(none);
    }
}

TEST(ApfsRecognise, RefusesDamagedSuperblocks)
{
    const ApfsFixture& f = SharedApfsFixture();
    TempDir dir;
    struct Case {
        const char* what;
        size_t offset;
        uint32_t value;
    } cases[] = {
        {"type 0", 24, 0x80000000},
        {"type 32", 24, 0x80000020},
        {"subtype 32", 28, 32},
        {"block size 8192", 36, 8192},
        {"no magic", 32, 0x4253584F},
    };
    const std::vector<unsigned char> original = ReadImage(f.empty);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> image(original.begin(), original.begin() + 1024 * 1024);
        Put32(image, c.offset, c.value);
        WriteImage(dir / "bad.img", image);
        auto device = OpenImageFileDisk(dir / "bad.img");
        ASSERT_TRUE(device);
        std::unique_ptr<IVolumeAnalyze> analyze(CreateAPFSVolumeAnalyze(device.get(), 0));
        EXPECT_FALSE(analyze);
    }
    // A wrong checksum alone is no reason to refuse.
    std::vector<unsigned char> image(original.begin(), original.begin() + 1024 * 1024);
    Put64(image, 0, 0x1234);
    EXPECT_TRUE(IsValidObject(0, image.data(), 4096));
    Put32(image, 24, 0x80000000);
    EXPECT_TRUE(IsValidObject(0, image.data(), 4096));  // type 0 passes the block test
    Put64(image, 8, 0);
    EXPECT_FALSE(IsValidObject(0, image.data(), 4096));
}

TEST(ApfsRecognise, LabelFollowsOlderSuperblocksAndStopsOnRepeats)
{
    const ApfsFixture& f = SharedApfsFixture();
    TempDir dir;
    std::vector<unsigned char> original = ReadImage(f.empty);
    uint64_t omap = 0;
    std::memcpy(&omap, original.data() + 160, 8);

    // The superblock in hand names no usable object map; the block its
    // checkpoint field names (the copy at block 2) still does.
    std::vector<unsigned char> image = original;
    Put64(image, 160, 5);
    Put32(image, 136, 2);
    WriteImage(dir / "a.img", image);
    {
        auto device = OpenImageFileDisk(dir / "a.img");
        std::unique_ptr<IVolumeAnalyze> analyze(CreateAPFSVolumeAnalyze(device.get(), 0));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(Label(analyze.get()), "TestVol");
    }
    // Two superblocks naming each other and no volume: the search ends.
    Put64(image, 2 * 4096 + 160, 5);
    Put32(image, 2 * 4096 + 136, 0);
    WriteImage(dir / "b.img", image);
    {
        auto device = OpenImageFileDisk(dir / "b.img");
        std::unique_ptr<IVolumeAnalyze> analyze(CreateAPFSVolumeAnalyze(device.get(), 0));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(Label(analyze.get()), "");
    }
    // A 40-byte volume name gives its first 32 bytes.
    image = original;
    size_t volumeName = 0;
    for (size_t b = 0; b + 4096 <= image.size() && !volumeName; b += 4096)
        if (std::memcmp(image.data() + b + 32, "APSB", 4) == 0)
            volumeName = b + 704;
    ASSERT_NE(volumeName, 0u);
    const char* longName = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    std::memcpy(image.data() + volumeName, longName, 41);
    WriteImage(dir / "c.img", image);
    {
        auto device = OpenImageFileDisk(dir / "c.img");
        std::unique_ptr<IVolumeAnalyze> analyze(CreateAPFSVolumeAnalyze(device.get(), 0));
        ASSERT_TRUE(analyze);
        EXPECT_EQ(Label(analyze.get()), std::string(longName, 32));
        // A smaller buffer is never written past its end.
        char small[9] = {};
        small[8] = '#';
        analyze->GetLabel(small, 8);
        EXPECT_EQ(std::string(small, 8), std::string(longName, 8));
        EXPECT_EQ(small[8], '#');
    }
}
