// The device list over the enumerator on a fake machine: which disks and
// volumes are described, with what, and the index lookups the scan and the
// recovery rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <list>
#include <string>
#include <vector>

#include "BridgeTestSupport.h"
#include "InfoDevice.h"
#include "DeviceInfo.h"
#include "EnumDevice.h"
#include "EnumTestSupport.h"
#include "IStorageDevice.h"
#include "TestSupport.h"
#include "ZRUIDeviceData.h"

namespace {

std::vector<std::string> Names(const std::list<_DiskVolumeData>& list)
{
    std::vector<std::string> names;
    for (const _DiskVolumeData& d : list)
        names.push_back(d.name ? d.name : "(null)");
    return names;
}

TEST(BridgeDeviceList, DescribesDisksAndOfferedVolumes)
{
    TempDir root;
    FakeSys sys(root.path());
    AddBridgeDisks(sys);
    CEnumDeviceEx enumerator(sys.Platform());
    ZRUIDeviceData list(&enumerator);
    EXPECT_EQ(list.GetInitState(), 0);
    list.InitDeviceInfo();
    ASSERT_EQ(list.GetInitState(), 2);

    std::list<_DiskVolumeData> all;
    list.GetAllDeviceInfo(all);
    ASSERT_EQ(all.size(), 2u);
    // The enumerator lists the attached image first.
    const _DiskVolumeData& image = all.front();
    EXPECT_EQ(image.diskIndex, 0);
    EXPECT_EQ(image.volumeIndex, -1);
    EXPECT_EQ(image.isDmg, 1);
    EXPECT_EQ(image.isUsb, 0);
    EXPECT_STREQ(image.deviceName, "loop0");
    EXPECT_EQ(image.capacity, 32ull << 20);
    EXPECT_EQ(Names(image.volumes), (std::vector<std::string>{"BRIDGEVOL"}));

    const _DiskVolumeData& stick = all.back();
    EXPECT_EQ(stick.diskIndex, 1);
    EXPECT_EQ(stick.isUsb, 1);
    EXPECT_EQ(stick.isDmg, 0);
    EXPECT_EQ(stick.capacity, 64ull << 20);
    EXPECT_STREQ(stick.name, "Fake Stick");
    EXPECT_EQ(Names(stick.volumes), (std::vector<std::string>{"EFISYS", "DATA", "MORE"}));
    std::vector<int> positions;
    for (const _DiskVolumeData& v : stick.volumes) {
        positions.push_back(v.volumeIndex);
        EXPECT_EQ(v.diskIndex, 1);
        EXPECT_EQ(v.fileSystem, FS_FAT16);
        EXPECT_EQ(v.beCanOpen, 1);
    }
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(stick.volumes.back().capacity, 40960ull * 512);

    // Index lookups both ways.
    IStorageDevice* disk0 = list.GetStorageByDiskVolumeIndex(0, -1);
    IStorageDevice* disk1 = list.GetStorageByDiskVolumeIndex(1, -1);
    ASSERT_NE(disk0, nullptr);
    ASSERT_NE(disk1, nullptr);
    EXPECT_EQ(list.GetStorageByDiskVolumeIndex(-1, 0), nullptr);
    EXPECT_EQ(list.GetStorageByDiskVolumeIndex(0, 7), nullptr);
    EXPECT_EQ(list.GetStorageByDiskVolumeIndex(5, -1), nullptr);
    EXPECT_TRUE(list.IsDiskStorage(disk0));
    IStorageDevice* more = list.GetStorageByDiskVolumeIndex(1, 2);
    ASSERT_NE(more, nullptr);
    EXPECT_FALSE(list.IsDiskStorage(more));
    int d = 9, v = 9;
    EXPECT_TRUE(list.GetDiskVolumeIndexByStorage(more, d, v));
    EXPECT_EQ(d, 1);
    EXPECT_EQ(v, 2);
    EXPECT_TRUE(list.GetDiskVolumeIndexByStorage(disk0, d, v));
    EXPECT_EQ(d, 0);
    EXPECT_EQ(v, -1);
    int dummy = 0;
    IStorageDevice* stranger = reinterpret_cast<IStorageDevice*>(&dummy);
    EXPECT_FALSE(list.GetDiskVolumeIndexByStorage(stranger, d, v));
    EXPECT_EQ(d, -1);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(list.GetDiskStorageByVolumeStorage(more), disk1);
    EXPECT_EQ(list.GetDiskStorageByVolumeStorage(stranger), nullptr);
    EXPECT_EQ(list.GetVolumeIndexByStorage(disk0, more), -1);
    EXPECT_EQ(list.GetVolumeInfo(disk0), nullptr);
    ASSERT_NE(list.GetVolumeInfo(more), nullptr);

    std::list<IStorageDevice*> volumes{stranger};
    list.GetDiskVolumeStorage(stranger, volumes);
    EXPECT_EQ(volumes.size(), 1u) << "an unknown disk leaves the list alone";
    list.GetDiskVolumeStorage(disk1, volumes);
    EXPECT_EQ(volumes.size(), 3u);

    // Listing again gives the same picture (and the volumes made for the
    // first listing are given back, which the sanitizer build checks).
    list.InitDeviceInfo();
    std::list<_DiskVolumeData> again;
    list.GetAllDeviceInfo(again);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(Names(again.back().volumes), (std::vector<std::string>{"EFISYS", "DATA", "MORE"}));

    list.Clear();
    std::list<_DiskVolumeData> none;
    list.GetAllDeviceInfo(none);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(list.GetStorageByDiskVolumeIndex(0, -1), nullptr);
}

// A disk that only carries an information record, for the offer rules.
class InfoDisk : public InfoDevice {
public:
    explicit InfoDisk(int scheme) : InfoDevice(DiskRecord(scheme), STORAGE_DEVICE_DISK) {}
};

_GUID Guid(uint32_t a, uint16_t b, uint16_t c, std::initializer_list<uint8_t> rest)
{
    _GUID g;
    g.Data1 = a;
    g.Data2 = b;
    g.Data3 = c;
    std::copy(rest.begin(), rest.end(), g.Data4);
    return g;
}

TEST(BridgeDeviceList, OfferRules)
{
    const _GUID efi = Guid(0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B});
    const _GUID appleBoot = Guid(0x426F6F74, 0x0000, 0x11AA, {0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC});
    const _GUID basicData = Guid(0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7});
    InfoDisk gpt(PARTITION_SCHEME_GPT), apm(PARTITION_SCHEME_APM), mbr(PARTITION_SCHEME_MBR);
    struct Case {
        const char* what;
        IStorageDevice* parent;
        _GUID type;
        const char* apmType;
        bool offered;
    };
    const Case cases[] = {
        {"gpt efi", &gpt, efi, "", false},
        {"gpt apple boot", &gpt, appleBoot, "", false},
        {"gpt data", &gpt, basicData, "", true},
        {"apm map", &apm, {}, "Apple_partition_map", false},
        {"apm free", &apm, {}, "Apple_Free", false},
        {"apm hfs", &apm, {}, "Apple_HFS", true},
        {"mbr with an efi type", &mbr, efi, "", true},
        {"no parent", nullptr, efi, "", true},
    };
    ZRUIDeviceData list(nullptr);
    for (const Case& c : cases) {
        CCollectedVolumeDeviceInfoStruct info;
        info.pParentDisk = c.parent;
        info.typeGuid = c.type;
        std::snprintf(info.szApmType, sizeof(info.szApmType), "%s", c.apmType);
        EXPECT_EQ(list.IsSupportVolume(&info), c.offered) << c.what;
        _DiskVolumeData record;
        EXPECT_EQ(list.GetVolumeDataByVolumeInfo(&info, record), c.offered ? 1 : 0) << c.what;
    }
    EXPECT_TRUE(list.IsSupportVolume(nullptr));
    // A record in another state is never described.
    CCollectedVolumeDeviceInfoStruct stale;
    stale.iState = 1;
    _DiskVolumeData record;
    EXPECT_EQ(list.GetVolumeDataByVolumeInfo(&stale, record), 0);
    list.InitDeviceInfo();  // no enumerator: stays unfinished
    EXPECT_EQ(list.GetInitState(), 1);
}

TEST(BridgeDeviceList, FailedEnumerationAnswersNothing)
{
    TempDir root;
    FakeSys sys(root.path());  // no disk at all
    CEnumDeviceEx enumerator(sys.Platform());
    ZRUIDeviceData list(&enumerator);
    list.InitDeviceInfo();
    EXPECT_EQ(list.GetInitState(), 1);
    std::list<_DiskVolumeData> all;
    list.GetAllDeviceInfo(all);
    EXPECT_TRUE(all.empty());
    EXPECT_EQ(list.GetStorageByDiskVolumeIndex(0, -1), nullptr);
    int d = 0, v = 0;
    EXPECT_FALSE(list.GetDiskVolumeIndexByStorage(nullptr, d, v));
    list.Clear();  // harmless before a successful listing
}

}  // namespace
