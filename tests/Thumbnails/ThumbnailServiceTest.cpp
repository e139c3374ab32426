// Thumbnails of real files: movies of ffmpeg's test pattern in five
// containers, pictures that need Qt's extra plugins, a layered picture and
// a raw photo; and nothing, quickly, for what no decoder reads.
#include <gtest/gtest.h>

#include <QColor>
#include <QFile>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "ThumbnailFixtures.h"
#include "ThumbnailService.h"

namespace {

const QSize kBox(192, 192);

struct Expected {
    const char* name;
    QSize size;  // fitted into 192 x 192
};

// testsrc draws colour bars across the frame: blue from 3/8 to 4/8 of the
// width, yellow from 4/8 to 5/8, above the gradient strip near the bottom.
void ExpectTestPatternBars(const QImage& image, const char* name)
{
    const QColor blue = ColourAt(image, 0.44, 0.4);
    EXPECT_GT(blue.blue(), 180) << name << " " << blue.name().toStdString();
    EXPECT_LT(blue.red(), 80) << name;
    EXPECT_LT(blue.green(), 80) << name;
    const QColor yellow = ColourAt(image, 0.56, 0.4);
    EXPECT_GT(yellow.red(), 180) << name << " " << yellow.name().toStdString();
    EXPECT_GT(yellow.green(), 180) << name;
    EXPECT_LT(yellow.blue(), 80) << name;
}

// ImageMagick's pictures of the fixtures: a red-to-blue gradient from top
// to bottom with a yellow disc in the middle.
void ExpectGradientWithDisc(const QImage& image, const char* name)
{
    const QColor centre = ColourAt(image, 0.5, 0.5);
    EXPECT_GT(centre.red(), 180) << name << " " << centre.name().toStdString();
    EXPECT_GT(centre.green(), 180) << name;
    EXPECT_LT(centre.blue(), 80) << name;
    const QColor top = ColourAt(image, 0.05, 0.02);
    EXPECT_GT(top.red(), 180) << name << " " << top.name().toStdString();
    EXPECT_LT(top.blue(), 80) << name;
    const QColor bottom = ColourAt(image, 0.05, 0.98);
    EXPECT_GT(bottom.blue(), 180) << name << " " << bottom.name().toStdString();
    EXPECT_LT(bottom.red(), 80) << name;
}

TEST(ThumbnailService, MoviesGiveAFrameOfTheirShape)
{
    const Expected movies[] = {{"clip.mp4", {192, 144}}, {"clip.avi", {192, 144}}, {"clip.mkv", {192, 108}},
                               {"clip.mov", {108, 192}}, {"clip.mpg", {192, 144}}};
    for (const Expected& movie : movies) {
        const QImage image = ThumbnailService::Thumbnail(ThumbnailPath(movie.name), kBox);
        ASSERT_EQ(image.size(), movie.size) << movie.name;
        EXPECT_TRUE(NotUniform(image)) << movie.name;
        if (movie.size.width() > movie.size.height())
            ExpectTestPatternBars(image, movie.name);
    }
}

TEST(ThumbnailService, MovieFramesComeFromTheAskedPosition)
{
    // At its display size, and further on in the movie another picture
    // (the pattern's gradient and clock move).
    const QImage early = ThumbnailService::MovieFrame(ThumbnailPath("clip.mp4"), 0.1, QSize());
    const QImage late = ThumbnailService::MovieFrame(ThumbnailPath("clip.mp4"), 0.9, QSize());
    ASSERT_EQ(early.size(), QSize(320, 240));
    ASSERT_EQ(late.size(), QSize(320, 240));
    ExpectTestPatternBars(early, "early");
    EXPECT_NE(early.convertToFormat(QImage::Format_RGB32), late.convertToFormat(QImage::Format_RGB32));
}

TEST(ThumbnailService, PicturesThroughThePlugins)
{
    EXPECT_EQ(ThumbnailService::MissingImageFormats(), QStringList());
    EXPECT_EQ(ThumbnailService::CheckImagePlugins(), ThumbnailService::MissingImageFormats());
    // The PSD file has no Qt plugin: its composite image comes through
    // libavcodec. The icon is smaller than the box and is not enlarged.
    const Expected pictures[] = {{"picture.tiff", {192, 128}},
                                 {"picture.webp", {128, 192}},
                                 {"icon.icns", {128, 128}},
                                 {"layers.psd", {192, 96}}};
    for (const Expected& picture : pictures) {
        const QImage image = ThumbnailService::Thumbnail(ThumbnailPath(picture.name), kBox);
        ASSERT_EQ(image.size(), picture.size) << picture.name;
        ExpectGradientWithDisc(image, picture.name);
    }
}

TEST(ThumbnailService, RawPhotoDecodesItsSensorData)
{
    // LibRaw itself, not the TIFF plugin that a DNG file also satisfies.
    const QImage raw = ThumbnailService::RawPicture(ThumbnailPath("photo.dng"), kBox);
    ASSERT_EQ(raw.size(), QSize(192, 128));
    ExpectGradientWithDisc(raw, "photo.dng");
    EXPECT_EQ(ThumbnailService::Thumbnail(ThumbnailPath("photo.dng"), kBox).size(), QSize(192, 128));
}

TEST(ThumbnailService, NothingForWhatNoDecoderReads)
{
    TempDir dir;
    RunTool("head -c 0 /dev/null > " + dir / "empty.mp4");
    for (const char* name : {"noise.mp4", "noise.avi", "noise.dng", "noise.png", "noise.psd", "noise"})
        RunTool("head -c 40000 /dev/urandom > " + dir / name);
    const auto start = std::chrono::steady_clock::now();
    for (const char* name : {"missing.mp4", "empty.mp4", "noise.mp4", "noise.avi", "noise.dng", "noise.png",
                             "noise.psd", "noise"})
        EXPECT_TRUE(ThumbnailService::Thumbnail(QString::fromStdString(dir / name), kBox).isNull()) << name;
    EXPECT_TRUE(ThumbnailService::Thumbnail(QString::fromStdString(dir.path()), kBox).isNull());
    EXPECT_LT(std::chrono::steady_clock::now() - start, ThumbnailService::kDecodeTimeCap);
}

TEST(ThumbnailService, AFifoIsNotWaitedFor)
{
    // A path that names a FIFO (no writer will ever come) gives nothing
    // at once.
    TempDir dir;
    RunTool("mkfifo " + dir / "pipe.mp4");
    EXPECT_TRUE(ThumbnailService::MovieFrame(QString::fromStdString(dir / "pipe.mp4"), 0.1, kBox).isNull());
}

TEST(ThumbnailService, ManyThreadsAtOnce)
{
    // The cover-flow thread and the grid's queue ask at the same time.
    const char* names[] = {"clip.mp4", "clip.mkv", "photo.dng", "picture.tiff", "layers.psd", "clip.mpg"};
    std::vector<QSize> alone;
    for (const char* name : names)
        alone.push_back(ThumbnailService::Thumbnail(ThumbnailPath(name), kBox).size());
    std::vector<std::vector<QSize>> together(4);
    std::vector<std::thread> threads;
    for (auto& sizes : together) {
        threads.emplace_back([&sizes, &names] {
            for (int round = 0; round < 3; ++round)
                for (const char* name : names)
                    sizes.push_back(ThumbnailService::Thumbnail(ThumbnailPath(name), kBox).size());
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (const auto& sizes : together) {
        ASSERT_EQ(sizes.size(), 3 * alone.size());
        for (size_t i = 0; i < sizes.size(); ++i)
            EXPECT_EQ(sizes[i], alone[i % alone.size()]) << names[i % alone.size()];
    }
}

TEST(ThumbnailService, FittedSizes)
{
    struct Case {
        QSize size, box, fitted;
    } cases[] = {
        {{320, 240}, {192, 192}, {192, 144}}, {{240, 320}, {192, 192}, {144, 192}},
        {{100, 50}, {192, 192}, {100, 50}},   {{10000, 1}, {192, 192}, {192, 1}},
        {{1, 10000}, {192, 192}, {1, 192}},   {{640, 480}, QSize(), {640, 480}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ThumbnailService::FittedSize(c.size, c.box), c.fitted) << c.size.width() << "x" << c.size.height();
}

}  // namespace
