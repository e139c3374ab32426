// The thin progress bar: its width follows the percentage against the view's
// current width, it snaps to full within a point, and it is drawn orange
// over the track picture.
#include <QDir>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>

#include "BundleResources.h"
#include "TestSupport.h"
#include "ZRProgressView.h"

namespace {

const QColor kTrack(0, 200, 0);

class ZRProgressViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldResources = Bundle::ResourcePath();
        const QString root = QString::fromStdString(m_dir.path());
        QDir().mkpath(root + "/images");
        QImage track(10, 6, QImage::Format_RGB32);
        track.fill(kTrack);
        ASSERT_TRUE(track.save(root + "/images/progress_bar_bg.png"));
        Bundle::SetResourcePath(root);
    }
    void TearDown() override { Bundle::SetResourcePath(m_oldResources); }

    TempDir m_dir;
    QString m_oldResources;
};

}  // namespace

TEST_F(ZRProgressViewTest, BarWidthFollowsTheValueAndSnapsToFull)
{
    ZRProgressView view(QRect(0, 0, 368, 6), nullptr);
    EXPECT_EQ(view.progressDownImageView()->geometry(), QRect(0, 0, 368, 6));
    EXPECT_EQ(view.pProgress1()->geometry(), QRect(0, 0, 0, 6));
    const struct {
        float value;
        int width;
    } cases[] = {
        {50, 184}, {99.8f, 368}, {99.7f, 367}, {0, 0}, {-5, 0}, {150, 368}, {25, 92},
        // A progress worked out from nothing (0 / 0) or overflowing.
        {std::numeric_limits<float>::quiet_NaN(), 0}, {std::numeric_limits<float>::infinity(), 368},
    };
    for (const auto& c : cases) {
        view.changeProgressValue(c.value);
        EXPECT_EQ(view.pProgress1()->geometry(), QRect(0, 0, c.width, 6)) << "value " << c.value;
    }
}

TEST_F(ZRProgressViewTest, ResizingKeepsTheBarsShareAndMeasuresLaterValuesAnew)
{
    QWidget host;
    host.resize(800, 40);
    auto& view = *new ZRProgressView(QRect(0, 0, 368, 6), &host);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    view.changeProgressValue(50);
    view.resize(736, 6);
    EXPECT_EQ(view.progressDownImageView()->width(), 736);
    EXPECT_EQ(view.pProgress1()->width(), 368);
    view.changeProgressValue(25);
    EXPECT_EQ(view.pProgress1()->width(), 184);
    // A taller view keeps both on its bottom edge.
    view.resize(736, 10);
    EXPECT_EQ(view.progressDownImageView()->geometry(), QRect(0, 4, 736, 6));
    EXPECT_EQ(view.pProgress1()->geometry(), QRect(0, 4, 184, 6));

    // Resized while hidden: the next value still measures the new width.
    host.hide();
    view.resize(368, 6);
    view.changeProgressValue(50);
    EXPECT_EQ(view.pProgress1()->geometry(), QRect(0, 0, 184, 6));
    EXPECT_EQ(view.progressDownImageView()->geometry(), QRect(0, 0, 368, 6));
    // ... and a resize while hidden is followed once the view shows again.
    view.resize(736, 10);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    EXPECT_EQ(view.progressDownImageView()->geometry(), QRect(0, 4, 736, 6));
    EXPECT_EQ(view.pProgress1()->geometry(), QRect(0, 4, 368, 6));
}

TEST_F(ZRProgressViewTest, DrawsAnOrangeBarOverTheTrack)
{
    ZRProgressView view(QRect(0, 0, 368, 6), nullptr);
    QImage empty = view.grab().toImage();
    EXPECT_EQ(empty.pixelColor(5, 3), kTrack);
    EXPECT_EQ(empty.pixelColor(360, 3), kTrack);

    view.changeProgressValue(50);
    QImage half = view.grab().toImage();
    EXPECT_EQ(half.pixelColor(90, 3), NSProgressBar::FillColor());
    EXPECT_EQ(half.pixelColor(300, 3), kTrack);
    // The glow round the bar is blue, not orange and not the track.
    const QColor edge = half.pixelColor(90, 0);
    EXPECT_GT(edge.blue(), edge.red());
    EXPECT_NE(edge, kTrack);
}
