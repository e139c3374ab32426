// The picture button: which picture shows in which state, the own on/off
// switch, the label and how pictures are placed.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include "BundleResources.h"
#include "TCImageButton.h"
#include "TestSupport.h"

namespace {

const QColor kNormal(200, 0, 0), kPress(0, 160, 0), kHover(0, 0, 220), kDisable(120, 120, 120);
const QColor kBackground(255, 0, 255);

void SavePicture(const QString& folder, const QString& name, QSize size, QColor left, QColor right)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width() / 2, size.height(), left);
    painter.fillRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height(), right);
    painter.end();
    ASSERT_TRUE(image.save(folder + "/images/" + name + ".png"));
}

class TCImageButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldResources = Bundle::ResourcePath();
        const QString root = QString::fromStdString(m_dir.path());
        QDir().mkpath(root + "/images");
        SavePicture(root, "go_normal", QSize(40, 20), kNormal, kNormal);
        SavePicture(root, "go_press", QSize(40, 20), kPress, kPress);
        SavePicture(root, "go_hover", QSize(40, 20), kHover, kHover);
        SavePicture(root, "go_disable", QSize(40, 20), kDisable, kDisable);
        // Wider than the button: left half normal colour, right half hover colour.
        SavePicture(root, "wide_normal", QSize(60, 30), kNormal, kHover);
        Bundle::SetResourcePath(root);

        m_host.resize(200, 100);
        QPalette palette = m_host.palette();
        palette.setColor(QPalette::Window, kBackground);
        m_host.setPalette(palette);
        m_host.setAutoFillBackground(true);
        m_button = new TCImageButton(QRect(10, 10, 40, 20), &m_host);
        m_host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_host));
        QObject::connect(m_button, &QAbstractButton::clicked, [this] { ++m_clicks; });
    }
    void TearDown() override { Bundle::SetResourcePath(m_oldResources); }

    // The colour in the middle of the button, as the window shows it.
    QColor Shown(QPoint at = QPoint(20, 10))
    {
        return m_host.grab().toImage().pixelColor(m_button->mapTo(&m_host, at));
    }
    void Send(QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, QPointF(at), QPointF(m_button->mapToGlobal(at)),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(m_button, &event);
    }
    void Enter()
    {
        QEnterEvent event(QPointF(5, 5), QPointF(5, 5), QPointF(m_button->mapToGlobal(QPoint(5, 5))));
        QApplication::sendEvent(m_button, &event);
    }
    void Leave()
    {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(m_button, &event);
    }
    void Click(QPoint at = QPoint(20, 10))
    {
        Send(QEvent::MouseButtonPress, at, Qt::LeftButton);
        Send(QEvent::MouseButtonRelease, at, Qt::NoButton);
    }
    void SetGoPictures() { m_button->setImageFromFileNormalName("go_normal", "go_press", "go_hover", "go_disable"); }

    TempDir m_dir;
    QString m_oldResources;
    QWidget m_host;
    TCImageButton* m_button = nullptr;
    int m_clicks = 0;
};

}  // namespace

TEST_F(TCImageButtonTest, PicturesFollowHoverPressAndRelease)
{
    SetGoPictures();
    EXPECT_EQ(m_button->dstRect(), QRect(0, 0, 40, 20));
    EXPECT_EQ(m_button->srcRect(), QRect(0, 0, 40, 20));
    EXPECT_EQ(m_button->geometry(), QRect(10, 10, 40, 20));
    EXPECT_EQ(Shown(), kNormal);

    Enter();
    EXPECT_TRUE(m_button->isFocus());
    EXPECT_EQ(Shown(), kHover);
    Send(QEvent::MouseButtonPress, QPoint(20, 10), Qt::LeftButton);
    EXPECT_TRUE(m_button->isTracking());
    EXPECT_EQ(Shown(), kPress);
    // Held while the pointer leaves: still pressed, and no click on release outside.
    Send(QEvent::MouseMove, QPoint(120, 60), Qt::LeftButton);
    Leave();
    EXPECT_EQ(Shown(), kPress);
    Send(QEvent::MouseButtonRelease, QPoint(120, 60), Qt::NoButton);
    EXPECT_FALSE(m_button->isTracking());
    EXPECT_EQ(Shown(), kNormal);
    EXPECT_EQ(m_clicks, 0);

    Enter();
    Click();
    EXPECT_EQ(m_clicks, 1);
    EXPECT_EQ(Shown(), kHover);
    Leave();
    EXPECT_FALSE(m_button->isFocus());
    EXPECT_EQ(Shown(), kNormal);
}

TEST_F(TCImageButtonTest, SwitchedOffShowsDisabledPictureGreyLabelAndIgnoresClicks)
{
    m_button->setTextWithName(QStringLiteral("Start"), QRect(5, 5, 40, 20));
    SetGoPictures();
    ASSERT_NE(m_button->textField(), nullptr);
    EXPECT_EQ(m_button->textField()->geometry(), QRect(0, 1, 40, 18));
    EXPECT_EQ(m_button->textField()->text(), QStringLiteral("Start"));
    EXPECT_EQ(m_button->textField()->font().pixelSize(), 14);
    EXPECT_EQ(m_button->textField()->alignment(), Qt::AlignCenter);

    m_button->setButtonEnabled(false);
    EXPECT_EQ(Shown(QPoint(20, 0)), kDisable);
    EXPECT_EQ(m_button->textField()->palette().color(QPalette::WindowText), QColor(Qt::gray));
    Click();
    Enter();
    EXPECT_EQ(Shown(QPoint(20, 0)), kDisable);
    EXPECT_EQ(m_clicks, 0);
    Leave();

    m_button->setButtonEnabled(true);
    EXPECT_EQ(Shown(QPoint(20, 0)), kNormal);
    // The label paints only its text: the picture shows beside it.
    EXPECT_EQ(Shown(QPoint(0, 10)), kNormal);
    EXPECT_EQ(m_button->textField()->palette().color(QPalette::WindowText), QColor(Qt::white));
    Click();
    EXPECT_EQ(m_clicks, 1);

    // Switched off while held: the release sends nothing.
    Send(QEvent::MouseButtonPress, QPoint(20, 10), Qt::LeftButton);
    m_button->setButtonEnabled(false);
    Send(QEvent::MouseButtonRelease, QPoint(20, 10), Qt::NoButton);
    EXPECT_EQ(m_clicks, 1);
    EXPECT_FALSE(m_button->isTracking());
}

TEST_F(TCImageButtonTest, WidgetDisabledShowsDisabledPictureAndTakesNoHover)
{
    SetGoPictures();
    m_button->setEnabled(false);
    EXPECT_EQ(Shown(), kDisable);
    Enter();
    EXPECT_FALSE(m_button->isFocus());
    m_button->setEnabled(true);
    EXPECT_EQ(Shown(), kNormal);
}

TEST_F(TCImageButtonTest, MissingStatePictureLeavesTheButtonEmpty)
{
    m_button->setImageFromFileNormalName("go_normal", "no_such_press", "no_such_hover", "no_such_disable");
    EXPECT_EQ(Shown(), kNormal);
    Enter();
    EXPECT_EQ(Shown(), kBackground);
    Send(QEvent::MouseButtonPress, QPoint(20, 10), Qt::LeftButton);
    EXPECT_EQ(Shown(), kBackground);
    Send(QEvent::MouseButtonRelease, QPoint(20, 10), Qt::NoButton);
    Leave();
    m_button->setButtonEnabled(false);
    EXPECT_EQ(Shown(), kBackground);
}

TEST_F(TCImageButtonTest, NoHoverBeforePicturesAreSet)
{
    Enter();
    EXPECT_FALSE(m_button->isFocus());
    SetGoPictures();
    Enter();
    EXPECT_TRUE(m_button->isFocus());
}

TEST_F(TCImageButtonTest, LargerPictureIsDrawnAtItsOwnSizeAndCutOff)
{
    m_button->setImageFromFileNormalName("wide_normal", "", "", "");
    EXPECT_EQ(m_button->dstRect(), QRect(0, 0, 60, 30));
    EXPECT_EQ(m_button->size(), QSize(40, 20));
    // Unscaled, x 25 is still in the picture's left half (scaled it would not be).
    EXPECT_EQ(Shown(QPoint(25, 10)), kNormal);
    EXPECT_EQ(Shown(QPoint(39, 19)), kHover);
    // Nothing beyond the button.
    EXPECT_EQ(m_host.grab().toImage().pixelColor(m_button->mapTo(&m_host, QPoint(45, 10))), kBackground);

    // With a label frame the pictures go into the frame's size (scaled).
    m_button->setTextWithName(QString(), QRect(100, 100, 40, 20));
    EXPECT_EQ(m_button->dstRect(), QRect(0, 0, 40, 20));
    EXPECT_EQ(m_button->srcRect(), QRect(0, 0, 60, 30));
    EXPECT_EQ(Shown(QPoint(25, 0)), kHover);
}
