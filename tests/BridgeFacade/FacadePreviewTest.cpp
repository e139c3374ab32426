// Previews of found files through the facade: real JPEG and PNG pictures
// decoded from the scanned image, the embedded picture of a camera-raw
// file through a temporary copy, and everything else left to the icon.
#include <gtest/gtest.h>

#include <QColor>
#include <QDir>

#include <thread>

#include "BridgeTestSupport.h"
#include "FacadeInternal.h"
#include "FacadeTestSupport.h"
#include "IFileNode.h"
#include "TestSupport.h"
#include "ZRUIController.h"

namespace {

// An icon of the extension (the theme may have none: then no image); never
// the file's own picture.
bool IsIconOrNothing(const QImage& image) { return image.isNull() || (image.width() <= 96 && image.height() <= 96); }

class FacadePreview : public testing::Test {
protected:
    void SetUp() override
    {
        EnsureFacadeMachine();
        m_digest = FileDigest(PreviewImage("preview.img"));
        ASSERT_TRUE(ScanThroughFacade("PREVIEWS"));
    }
    void TearDown() override
    {
        EXPECT_EQ(FileDigest(PreviewImage("preview.img")), m_digest);
        // Every temporary copy is gone again.
        const std::string folder = FacadeInternal::PreviewTempFolder();
        if (!folder.empty()) {
            EXPECT_TRUE(
                QDir(QString::fromStdString(folder)).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        }
    }
    static QImage Preview(const char* name)
    {
        IFileNode* node = FoundFile(name);
        EXPECT_NE(node, nullptr) << name;
        return ZRUIController::GetNSImageByFildNodeNSNumber(FileNodeToValue(node));
    }
    std::string m_digest;
};

TEST_F(FacadePreview, PicturesAreDecodedFromTheScannedImage)
{
    const QImage jpeg = Preview("Sunset.jpg");
    ASSERT_EQ(jpeg.size(), QSize(120, 80));
    // A red-to-blue gradient from top to bottom.
    EXPECT_GT(QColor(jpeg.pixel(60, 2)).red(), 200);
    EXPECT_GT(QColor(jpeg.pixel(60, 77)).blue(), 200);

    const QImage png = Preview("Badge.png");
    ASSERT_EQ(png.size(), QSize(50, 30));
    EXPECT_EQ(QColor(png.pixel(25, 15)), QColor(0, 128, 0));

    // The same through an outline item, and from another thread.
    OpNodeDataPtr item = OpNodeData::initWithFileNode(FileNodeToValue(FoundFile("Sunset.jpg")));
    EXPECT_EQ(ZRUIController::GetNSImageByNode(item.get()).size(), QSize(120, 80));
    QImage offMain;
    IFileNode* node = FoundFile("Badge.png");
    std::thread([&] { offMain = ZRUIController::GetNSImageByFildNode(node); }).join();
    EXPECT_EQ(offMain.size(), QSize(50, 30));
}

TEST_F(FacadePreview, RawFilesShowTheirEmbeddedPicture)
{
    // 200 x 100 inside random bytes, fitted into 192 x 192.
    const QImage raw = Preview("Shot.cr2");
    EXPECT_EQ(raw.size(), QSize(192, 96));
}

TEST_F(FacadePreview, MoviesRawPhotosAndLayeredPicturesShowTheirOwnPicture)
{
    // A frame of the movie (the test pattern's blue bar at 3/8 to 4/8 of
    // the width), the raw photo's sensor data and the layered picture's
    // composite, each fitted into 192 x 192.
    const QImage movie = Preview("Clip.mp4");
    ASSERT_EQ(movie.size(), QSize(192, 144));
    const QColor bar(movie.pixel(84, 58));
    EXPECT_GT(bar.blue(), 180);
    EXPECT_LT(bar.red(), 80);
    const QImage raw = Preview("Photo.dng");
    ASSERT_EQ(raw.size(), QSize(192, 128));
    EXPECT_NE(raw.pixel(96, 2), raw.pixel(96, 64));
    const QImage layered = Preview("Layers.psd");
    ASSERT_EQ(layered.size(), QSize(192, 96));
    EXPECT_NE(layered.pixel(96, 2), layered.pixel(96, 48));
}

TEST_F(FacadePreview, EverythingElseGetsTheIcon)
{
    for (const char* name : {"Broken.jpg", "Empty.jpg", "README", "Movie.mp4"})
        EXPECT_TRUE(IsIconOrNothing(Preview(name))) << name;
    EXPECT_TRUE(ZRUIController::GetNSImageByFildNode(nullptr).isNull());
    EXPECT_TRUE(ZRUIController::GetNSImageByNode(nullptr).isNull());
    EXPECT_TRUE(ZRUIController::GetNSImageByFildNodeNSNumber(0).isNull());
}

TEST_F(FacadePreview, NoDeviceReadsWhileARecoveryRuns)
{
    // A recovery copies through the same readers the previews use: while
    // one runs (here held paused before its first file) previews read
    // nothing.
    IFileNode* sunset = FoundFile("Sunset.jpg");
    ASSERT_NE(sunset, nullptr);
    ZRUIController::UnselectedAllNodes();
    OpNodeData::setFileNode(FileNodeToValue(sunset), 2);
    unsigned int count = 0;
    quint64 bytes = 0;
    ZRUIController::GetSelectedFilesAmout(&count, &bytes);
    ASSERT_EQ(count, 1u);
    TempDir dest;
    BridgeListener listener;
    bool ended = false;
    listener.OnEach("DoRecovery", [&] { ended = !ZRUIController::IsRecoveryRunning(); });
    OpNodeArray selection;
    ASSERT_EQ(ZRUIController::DoRecovery(&selection, QString::fromStdString(dest.path()), "DoRecovery"), 0u);
    ZRUIController::PauseOrResumeRecovery();
    EXPECT_TRUE(ZRUIController::IsRecoveryRunning());
    EXPECT_TRUE(IsIconOrNothing(Preview("Sunset.jpg")));
    EXPECT_TRUE(IsIconOrNothing(Preview("Shot.cr2")));
    ZRUIController::PauseOrResumeRecovery();
    ASSERT_TRUE(Pump([&] { return ended; }));
    EXPECT_EQ(ReadFileBytes(dest.path() + "/Fat_0001/PREVIEWS/Sunset.jpg"), ReadFileBytes(PreviewImage("src/Sunset.jpg")));
    EXPECT_EQ(Preview("Sunset.jpg").size(), QSize(120, 80));
    ZRUIController::UnselectedAllNodes();
}

TEST(FacadeThumbnail, FilesOnThisMachine)
{
    TempDir dir;
    RunTool("convert -size 400x300 xc:white " + dir.path() + "/big.png");
    EXPECT_EQ(ZRUIController::getVideoThumbFromPath(QString::fromStdString(dir.path() + "/big.png")).size(),
              QSize(192, 144));
    EXPECT_EQ(ZRUIController::getVideoThumbFromPath(QString::fromStdString(PreviewImage("src/Sunset.jpg"))).size(),
              QSize(120, 80));
    EXPECT_TRUE(ZRUIController::getVideoThumbFromPath(QString::fromStdString(dir.path() + "/missing.png")).isNull());
    EXPECT_TRUE(ZRUIController::getVideoThumbFromPath(QString::fromStdString(PreviewImage("src/Broken.jpg"))).isNull());
}

}  // namespace
