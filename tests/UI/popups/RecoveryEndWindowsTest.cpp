#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include "DrawingChecks.h"
#include "PopupTestSupport.h"
#include "ZRScanEndSaveWindowController.h"
#include "ZRScanNotEndSaveWindowController.h"

namespace {

const QByteArray kLinkTables = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>en</key><dict>
<key>FaceBookURL</key><string>https://social.example/page</string>
<key>Twitter</key><string>https://short.example/share?text=Mes fichiers récupérés</string>
<key>GoogleURL</key><string>https://search.example/plus</string>
</dict></dict></plist>)";

}  // namespace

TEST(RecoveryEndWindows, FinishedWindowShowsTheFolderAsALinkThatOpensIt)
{
    PopupResources resources;
    RecordingDesktop desktop;
    ZRScanEndSaveWindowController c;
    c.setSavePathStr(QStringLiteral("/home/u/Recovered <1>"));
    c.window();
    EXPECT_EQ(c.recoveryEndTitle()->text(), QStringLiteral("PAGE_FOUR_RECOVER_END_TITLE"));
    EXPECT_EQ(c.recoveryEndNode()->text(), QStringLiteral("PAGE_FOUR_RECOVER_END_NODE"));
    EXPECT_EQ(c.okButton()->text(), QStringLiteral("PAGE_FOUR_RECOVERY_STOP_BUTTON"));
    EXPECT_EQ(c.savePathLabel()->linkText(), QStringLiteral("/home/u/Recovered <1>"));
    EXPECT_EQ(c.savePathLabel()->toolTip(), QStringLiteral("/home/u/Recovered <1>"));
    // The folder name is shown escaped inside the coloured, underlined link.
    EXPECT_TRUE(c.savePathLabel()->text().contains(QStringLiteral("Recovered &lt;1&gt;")));
    EXPECT_TRUE(c.savePathLabel()->text().contains(QStringLiteral("#6ea8f0")));
    // The link reads on the window's ground.
    QWidget* w = c.window();
    w->show();
    QCoreApplication::processEvents();
    const DrawnArea link = ExamineInWindow(w->grab().toImage(), w, c.savePathLabel());
    EXPECT_GE(link.contrast, 4.5) << link;
    EXPECT_TRUE(c.savePathLabel()->text().contains(QStringLiteral("underline")));

    c.jumpToSavePath();
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(desktop.opened[0], QUrl::fromLocalFile(QStringLiteral("/home/u/Recovered <1>")));
}

// A folder link that opens nothing says so in the window: the desktop
// refused it, or the opener program is missing or ended with an error.
TEST(RecoveryEndWindows, FolderLinkThatCannotOpenSaysSo)
{
    PopupResources resources;
    {
        RecordingDesktop desktop;
        desktop.opens = false;
        ZRScanEndSaveWindowController finished;
        finished.setSavePathStr(QStringLiteral("/media/out"));
        finished.window();
        EXPECT_FALSE(finished.openFailedNote()->isVisibleTo(finished.window()));
        finished.jumpToSavePath();
        EXPECT_TRUE(finished.openFailedNote()->isVisibleTo(finished.window()));
        EXPECT_EQ(finished.openFailedNote()->text(), QStringLiteral("PAGE_FOUR_RECOVER_OPEN_FOLDER_FAILED"));
        // The note stays inside the window, clear of the OK button.
        const QRect note = finished.openFailedNote()->geometry();
        EXPECT_TRUE(finished.openFailedNote()->parentWidget()->rect().contains(note));
        EXPECT_FALSE(note.intersects(finished.okButton()->geometry()));
        desktop.opens = true;
        finished.jumpToSavePath();
        EXPECT_FALSE(finished.openFailedNote()->isVisibleTo(finished.window()));
    }

    struct Case {
        const char* program;
        bool fails;
    };
    const Case cases[] = {{"/nonexistent/folder-opener", true}, {"false", true}, {"true", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        ZRPopupDesktop::SetFolderProgram(QString::fromLatin1(c.program));
        ZRScanNotEndSaveWindowController stopped;
        stopped.window();
        stopped.changeRecoveryFilesPoint(2, QStringLiteral("/tmp"));
        const QRect note = stopped.openFailedNote()->geometry();
        EXPECT_FALSE(note.intersects(stopped.okButton()->geometry()));
        EXPECT_FALSE(note.intersects(stopped.savePathLabel()->geometry()));
        stopped.jumpToSavePath();
        const bool shown =
            SpinUntil([&] { return stopped.openFailedNote()->isVisibleTo(stopped.window()); }, c.fails ? 5000 : 500);
        EXPECT_EQ(shown, c.fails);
    }
    ZRPopupDesktop::SetFolderProgram(QString());
}

TEST(RecoveryEndWindows, EmptyOrMissingDestinationMakesTheLinksInert)
{
    PopupResources resources;
    RecordingDesktop desktop;
    ZRScanEndSaveWindowController finished;
    finished.window();
    finished.jumpToSavePath();
    ZRScanNotEndSaveWindowController stopped;
    stopped.jumpToSavePath();
    stopped.changeRecoveryFilesPoint(3, QString());
    stopped.jumpToSavePath();
    EXPECT_TRUE(desktop.opened.empty());
}

TEST(RecoveryEndWindows, SocialButtonsOpenTheLinkTableAddresses)
{
    PopupResources resources;
    resources.writeSettingsXml(kLinkTables);
    RecordingDesktop desktop;
    ZRScanEndSaveWindowController c;
    c.window();
    c.facebookButton()->click();
    c.twitterButton()->click();
    c.googleButton()->click();
    ASSERT_EQ(desktop.opened.size(), 3u);
    EXPECT_EQ(desktop.opened[0], QUrl(QStringLiteral("https://social.example/page")));
    // Blanks and letters beyond ASCII are escaped; the address syntax stays.
    EXPECT_EQ(desktop.opened[1].toEncoded(),
              QByteArray("https://short.example/share?text=Mes%20fichiers%20r%C3%A9cup%C3%A9r%C3%A9s"));
    EXPECT_EQ(desktop.opened[2], QUrl(QStringLiteral("https://search.example/plus")));

    // No link table: nothing opens.
    resources.writeSettingsXml("<plist version=\"1.0\"><dict/></plist>");
    c.facebookButton()->click();
    EXPECT_EQ(desktop.opened.size(), 3u);
}

TEST(RecoveryEndWindows, StoppedEarlyNoteFillsTheCountSafely)
{
    struct Case {
        QString format;
        double count;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("%.0f files were recovered."), 0, QStringLiteral("0 files were recovered.")},
        {QStringLiteral("%.0f files were recovered."), 1234, QStringLiteral("1234 files were recovered.")},
        {QStringLiteral("Recovered: %d (100%%)"), 17, QStringLiteral("Recovered: 17 (100%)")},
        {QStringLiteral("%@ files"), 5, QStringLiteral("5 files")},
        // A second conversion, or one that would read text, has no value:
        // it stays as written instead of reading beyond the one number.
        {QStringLiteral("%.0f of %.0f"), 2, QStringLiteral("2 of %.0f")},
        {QStringLiteral("%s files %n"), 2, QStringLiteral("%s files %n")},
        {QStringLiteral("trailing %"), 2, QStringLiteral("trailing %")},
        {QString(), 2, QString()},
    };
    PopupResources resources;
    for (const Case& c : cases)
        EXPECT_EQ(FormatWithOneNumber(c.format, c.count), c.expected) << c.format.toStdString();

    PopupResources withFormat({{QStringLiteral("PAGE_FOUR_RECOVER_NOTEND_NODE"),
                                QStringLiteral("%.0f files were recovered.")}});
    RecordingDesktop desktop;
    ZRScanNotEndSaveWindowController w;
    w.window();
    EXPECT_EQ(w.okButton()->text(), QStringLiteral("PAGE_FOUR_RECOVERY_STOP_BUTTON"));
    w.changeRecoveryFilesPoint(0, QStringLiteral("/media/out"));
    EXPECT_EQ(w.showRecoveryNoteLabel()->text(), QStringLiteral("0 files were recovered."));
    EXPECT_EQ(w.savePtahStr(), QStringLiteral("/media/out"));
    EXPECT_EQ(w.savePathLabel()->toolTip(), QStringLiteral("/media/out"));
    w.savePathLabel()->linkText();
    w.jumpToSavePath();
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(desktop.opened[0], QUrl::fromLocalFile(QStringLiteral("/media/out")));
}

TEST(RecoveryEndWindows, OkButtonsEndTheSessionAndCloseTheWindow)
{
    PopupResources resources;
    {
        ZRScanEndSaveWindowController finished;
        finished.setSavePathStr(QStringLiteral("/tmp"));
        bool shownDuring = false;
        WhenModal([&] {
            shownDuring = finished.window()->isVisible();
            finished.okButton()->click();
        });
        finished.runModal();
        EXPECT_TRUE(shownDuring);
        EXPECT_FALSE(finished.isRunningModal());
        EXPECT_FALSE(finished.window()->isVisible());
    }
    {
        ZRScanNotEndSaveWindowController stopped;
        stopped.window();
        stopped.changeRecoveryFilesPoint(4, QStringLiteral("/tmp"));
        WhenModal([&] { stopped.okButton()->click(); });
        stopped.runModal();
        EXPECT_FALSE(stopped.isRunningModal());
        EXPECT_FALSE(stopped.window()->isVisible());
    }
}
