#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include "APFSScanWindowController.h"
#include "DrawingChecks.h"
#include "PopupTestSupport.h"
#include "TCImageWindow.h"
#include "ZRDeepScanViewController.h"
#include "ZRHandButton.h"

TEST(ApfsNotice, TitleBarWithoutHeaderPictureAndTheHelpLink)
{
    PopupResources resources;
    resources.writeSettingsXml(R"(<plist version="1.0"><dict><key>en</key><dict>
<key>APFS_HELP_URL</key><string>https://help.example/apfs</string></dict></dict></plist>)");
    RecordingDesktop desktop;
    APFSScanWindowController c;
    TCImageWindow* w = c.window();
    EXPECT_EQ(w->titleBarHeight(), 22);
    EXPECT_EQ(w->trafficLightButtonsLeftMargin(), 13);
    EXPECT_EQ(c.iClickCount(), 0);
    ASSERT_NE(c.aTitleLabel(), nullptr);
    EXPECT_EQ(c.aTitleLabel()->geometry(), QRect(80, 2, 300, 18));
    EXPECT_EQ(c.aTitleLabel()->text(), QStringLiteral("WINDOW_TOP_TITLE"));
    EXPECT_TRUE(c.aTitleLabel()->alignment() & Qt::AlignLeft);
    EXPECT_EQ(c.titleBarView()->findChild<QLabel*>(QStringLiteral("pop_header_bg")), nullptr);

    c.actualizarButton()->click();
    c.actuButton()->click();
    ASSERT_EQ(desktop.opened.size(), 2u);
    EXPECT_EQ(desktop.opened[0], QUrl(QStringLiteral("https://help.example/apfs")));
}

// Every text of the notice reads on the window's dark ground: the title, the
// two paragraphs, the help link and the OK button's caption.
TEST(ApfsNotice, EveryTextReadsOnTheDarkGround)
{
    PopupResources resources({{"WINDOW_TOP_TITLE", "Vantrel Data Recovery"},
                              {"APFS_NOTICE_TEXT", "This volume is APFS."},
                              {"APFS_NOTICE_DETAIL", "Deleted files may not be found."},
                              {"APFS_HELP_LINK", "Learn more"},
                              {"APFS_OK_BUTTON", "OK"}});
    APFSScanWindowController c;
    TCImageWindow* w = c.window();
    w->setWindowOpacity(1);
    w->show();
    QCoreApplication::processEvents();
    const QImage picture = w->grab().toImage();
    KeepShot(picture, "apfs-notice");
    for (QLabel* label : {c.aTitleLabel(), c.textField(), c.textField1(), c.actualizarLabel()}) {
        ASSERT_NE(label, nullptr);
        EXPECT_FALSE(label->text().isEmpty());
        const DrawnArea drawn = ExamineInWindow(picture, w, label);
        EXPECT_GE(drawn.contrast, 4.5) << label->text().toStdString() << ": " << drawn;
    }
    EXPECT_FALSE(c.okButton()->text().isEmpty());
    const DrawnArea ok = ExamineInWindow(picture, w, c.okButton());
    EXPECT_GE(ok.contrast, 3.0) << "OK: " << ok;
}

TEST(ApfsNotice, CloseButtonAndOkEndTheSessionAtOnceWithoutFading)
{
    PopupResources resources;
    for (bool viaClose : {true, false}) {
        APFSScanWindowController c;
        double opacityAtEnd = -1;
        WhenModal([&] {
            if (viaClose)
                c.window()->standardWindowButton(NSWindowCloseButton)->click();
            else
                c.okButton()->click();
            opacityAtEnd = c.window()->windowOpacity();
        });
        QElapsedTimer clock;
        clock.start();
        c.runModal();
        EXPECT_LT(clock.elapsed(), ZRPopupWindow::kFadeMs) << viaClose;
        EXPECT_FALSE(c.isRunningModal());
        EXPECT_FALSE(c.window()->isVisible());
        // Closed before the fade-in went anywhere: no fade-out was waited for.
        EXPECT_LT(opacityAtEnd, 1.0);
    }
}

TEST(DeepScanOffer, CloseButtonAsksTheDelegateToHideThePopover)
{
    PopupResources resources;
    struct Hider : ZRDeepScanViewControllerDelegate {
        int hidden = 0;
        void popupViewHidden() override { ++hidden; }
    } hider;
    ZRDeepScanViewController offer;
    EXPECT_EQ(offer.deepScanNodeLabel()->text(), QStringLiteral("PAGE_FOUR_DEEPSCAN_NODE"));
    offer.closeButton()->click();  // no delegate: nothing happens
    offer.setDelegate(&hider);
    offer.closeButton()->click();
    EXPECT_EQ(hider.hidden, 1);
    // A delegate that does not hide leaves the offer alone.
    ZRDeepScanViewControllerDelegate silent;
    offer.setDelegate(&silent);
    offer.closeButton()->click();
    EXPECT_EQ(hider.hidden, 1);
}
