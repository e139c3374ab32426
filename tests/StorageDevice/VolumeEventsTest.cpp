// What a volume device tells the message center, and its life at exit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "MessageCenter.h"
#include "StampedImage.h"
#include "StorageDevice.h"
#include "TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned int kSector = 512;
constexpr long long kImageSectors = 16384;

class CountingObserver : public INotifyCenter {
public:
    void OnEvent(_MSG_EVENT* event) override
    {
        if (event->type == EVENT_TYPE_READ_SECTOR_FAILED && event->size == 0)
            ++m_readFailures;
        else
            ++m_others;
    }
    std::atomic<int> m_readFailures{0}, m_others{0};
};

class VolumeEventsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeStampedImage(m_image, kImageSectors, kSector));
        m_digest = FileDigest(m_image);
    }
    void TearDown() override { EXPECT_EQ(FileDigest(m_image), m_digest) << "the image was changed"; }

    static void WaitSteps(unsigned long long steps)
    {
        CMessageCenter& center = CMessageCenter::Instance();
        unsigned long long target = center.GetDispatchStepsForTesting() + steps;
        auto until = Clock::now() + std::chrono::seconds(1);
        while (center.GetDispatchStepsForTesting() < target && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    TempDir m_dir;
    std::string m_image = m_dir / "stamped.img";
    std::string m_digest;
};

TEST_F(VolumeEventsTest, FailedVolumeReadPostsOneEvent)
{
    CMessageCenter& center = CMessageCenter::Instance();
    center.StopReceiveMessage();
    center.SetDispatchPeriodForTesting(10);
    center.StartReceiveMessage();

    CountingObserver observer;
    {
        // The record claims twice the image: a read past the file's end
        // reaches the device and fails there.
        std::unique_ptr<IStorageDevice> volume(CreateVolumeDevice(m_image.c_str()));
        ASSERT_EQ(volume->Open(nullptr), 1);
        auto* info = new CCollectedVolumeDeviceInfoStruct;
        info->s64TotalSectors = 2 * kImageSectors;
        volume->SetPrivateData(CreateVolumeDeviceData(info));
        ASSERT_TRUE(center.RegisterNotifyCenter(EVENT_TYPE_READ_SECTOR_FAILED, &observer));

        std::vector<unsigned char> buffer(kSector);
        EXPECT_EQ(volume->ReadSector(buffer.data(), kImageSectors + 10, 1), 0);
        EXPECT_EQ(volume->GetLastError(), kVolumeReadFailed);
        // Refused before the device is touched: no event.
        EXPECT_EQ(volume->ReadSector(buffer.data(), 2 * kImageSectors, 1), 0);
        EXPECT_EQ(volume->GetLastError(), kVolumeBadArgument);
        EXPECT_EQ(volume->ReadSector(buffer.data(), 5, 1), 1);
        WaitSteps(5);
        EXPECT_EQ(observer.m_readFailures.load(), 1);
        EXPECT_EQ(observer.m_others.load(), 0);
        EXPECT_EQ(center.GetNotifyCenter(EVENT_TYPE_READ_SECTOR_FAILED), &observer);
    }
    // A volume going away takes the read-failure observer with it.
    EXPECT_EQ(center.GetNotifyCenter(EVENT_TYPE_READ_SECTOR_FAILED), nullptr);

    center.StopReceiveMessage();
    center.SetDispatchPeriodForTesting(1000);
    center.StartReceiveMessage();
}

void KeepVolumeUntilExit(const std::string& image)
{
    static CVolumeDevice volume(image.c_str());
    volume.Open(nullptr);
    std::vector<unsigned char> buffer(kSector);
    for (int i = 0; i < 50; ++i) {
        volume.ReadSector(buffer.data(), kImageSectors + i, 1);  // fails: past its total
        CMessageCenter::Instance().PushEvent(EVENT_TYPE_READ_SECTOR_FAILED, 0, nullptr);
    }
    std::exit(0);
}

TEST_F(VolumeEventsTest, VolumeInAStaticObjectExitsCleanly)
{
    // The center and its lock must still be there when static objects are
    // destroyed at exit, while the dispatch thread keeps running.
    CMessageCenter::Instance().SetDispatchPeriodForTesting(1);
    EXPECT_EXIT(KeepVolumeUntilExit(m_image), testing::ExitedWithCode(0), "");
}

}  // namespace
