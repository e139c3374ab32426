#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "DeviceInfo.h"
#include "ResultCode.h"
#include "TextUtil.h"

namespace {

TEST(ResultCode, LayoutAndFormat)
{
    constexpr ResultCode c = MakeResultCode(kModuleStorageDevice, 148, 5);
    static_assert(c == 0x10e009400000005ULL);
    EXPECT_TRUE(IsResultFailure(c));
    EXPECT_FALSE(IsResultFailure(0));
    EXPECT_EQ(ResultModule(c), 0x0eu);
    EXPECT_EQ(ResultLine(c), 148u);
    EXPECT_EQ(ResultKind(c), 5u);
    EXPECT_EQ(FormatResultCode(c), "0x10e009400000005 (module 0x0e, line 148, kind 5)");
}

TEST(ResultCodeDeathTest, AssertPrintsExpression)
{
    int eStatus = 1;
    EXPECT_DEATH(VANTREL_ASSERT(eStatus != 1), "eStatus != 1");
}

TEST(DeviceRecords, HoldersOwnTheirRecords)
{
    auto* disk = new CCollectDiskDeviceInfoStruct;
    std::unique_ptr<IStorageDeviceData> holder(CreateDiskDeviceData(disk));
    EXPECT_EQ(dynamic_cast<IDiskDeviceData*>(holder.get())->GetDiskInfo(), disk);
    EXPECT_EQ(dynamic_cast<IVolumeDeviceData*>(holder.get()), nullptr);
    EXPECT_EQ(dynamic_cast<IPartitionDeviceData*>(holder.get()), nullptr);
    EXPECT_EQ(disk->iState, 0);
    EXPECT_EQ(disk->s64Heads, 255);
    EXPECT_EQ(disk->s64SectorsPerTrack, 63);

    // Set only stores the pointer: the caller deletes the old record.
    auto* vol = new CCollectedVolumeDeviceInfoStruct;
    auto* vol2 = new CCollectedVolumeDeviceInfoStruct;
    std::unique_ptr<IVolumeDeviceData> vh(CreateVolumeDeviceData(vol));
    vh->SetVolumeInfo(vol2);
    delete vol;
    EXPECT_EQ(vh->GetVolumeInfo(), vol2);
    EXPECT_EQ(vol2->iPartitionNumber, -1);
    EXPECT_EQ(vol2->eFileSystemType, FS_UNKNOWN);

    std::unique_ptr<IPartitionDeviceData> ph(CreatePartitionDeviceData(new CCollectedPartitionDeviceInfoStruct));
    EXPECT_NE(ph->GetPartitionInfo(), nullptr);
}

TEST(TextField, CopyTerminatesAndKeepsCharactersWhole)
{
    struct Case {
        const char* src;
        size_t size;
        const char* out;
    };
    const Case cases[] = {
        {"abc", 8, "abc"},
        {"abcdef", 4, "abc"},
        {"ab\xC3\xA9", 4, "ab"},            // é would be cut in two
        {"a\xE2\x82\xAC" "b", 5, "a\xE2\x82\xAC"},  // € fits exactly
        {"\xF0\x9F\x98\x80", 4, ""},
        {nullptr, 4, ""},
    };
    for (const Case& c : cases) {
        char buf[16];
        std::memset(buf, 'Z', sizeof buf);
        CopyTextField(buf, c.size, c.src);
        EXPECT_STREQ(buf, c.out);
    }
    char label[100];
    CopyTextField(label, "DEMO");
    EXPECT_STREQ(label, "DEMO");
}

}  // namespace
