// The movie poster utility: the poster frame of a real movie at the movie's
// size, nothing for a missing file, and the image conversion it uses.
#include <gtest/gtest.h>

#include <QColor>

#include "MovToImag.h"
#include "ThumbnailFixtures.h"

namespace {

TEST(MovToImag, PosterFrameOfAMovie)
{
    MovToImag poster;
    poster.setM_strMovPath(ThumbnailPath("clip.mp4"));
    poster.setM_strDestPath(QStringLiteral("/nowhere/poster.png"));
    poster.ExcuteInMainThread();
    EXPECT_FALSE(poster.getM_bExecute());
    const QPixmap image = poster.getM_pImage();
    ASSERT_EQ(image.size(), QSize(320, 240));
    EXPECT_TRUE(NotUniform(image.toImage()));
    EXPECT_EQ(poster.getM_strDestPath(), QStringLiteral("/nowhere/poster.png"));

    // Another file replaces the picture; a missing one leaves none.
    poster.setM_strMovPath(ThumbnailPath("clip.mov"));
    poster.ExcuteInMainThread();
    EXPECT_EQ(poster.getM_pImage().size(), QSize(180, 320));
    poster.setM_strMovPath(ThumbnailPath("missing.mp4"));
    poster.ExcuteInMainThread();
    EXPECT_TRUE(poster.getM_pImage().isNull());
}

TEST(MovToImag, ImageConversionKeepsPixels)
{
    QImage image(37, 21, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    image.setPixelColor(36, 20, QColor(250, 0, 0));
    const QPixmap pixmap = MovToImag::imageFromCGImageRef(image);
    ASSERT_EQ(pixmap.size(), QSize(37, 21));
    const QImage back = pixmap.toImage();
    EXPECT_EQ(back.pixelColor(0, 0), QColor(10, 200, 30));
    EXPECT_EQ(back.pixelColor(36, 20), QColor(250, 0, 0));
    EXPECT_TRUE(MovToImag::imageFromCGImageRef(QImage()).isNull());
}

}  // namespace
