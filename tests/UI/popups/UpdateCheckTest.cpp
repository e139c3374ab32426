#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "PopupTestSupport.h"
#include "TCImageWindow.h"
#include "ZRCheckUpdateWindowController.h"
#include "ZRRootEngine.h"

namespace {

// The network, the remote list and the browser, scripted.
struct FakeNetwork : ZRRootEngine {
    bool reachable = true;
    QVariantMap remote;
    int probes = 0;
    std::vector<QString> reads, opened;
    bool isCanBeUseNetWork() override
    {
        ++probes;
        return reachable;
    }
    QVariantMap ReadRemoteDictionary(const QString& url) override
    {
        reads.push_back(url);
        return remote;
    }
    void OpenUrl(const QString& url) override { opened.push_back(url); }
};

struct RootOpener : ZRCheckUpdateWindowControllerDelegate {
    int opened = 0;
    void runRootWindow() override { ++opened; }
};

const QByteArray kSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>VersionCheck</key><integer>7</integer>
<key>en</key><dict>
<key>IniURL</key><string>https://updates.example/version.plist</string>
<key>UpdateURL</key><string>https://updates.example/download</string>
</dict></dict></plist>)";

class UpdateWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        resources.writeSettingsXml(kSettings);
        ZRRootEngine::setCurrent(&network);
    }
    void TearDown() override
    {
        ZRCheckUpdateWindowController::ResetShared();
        ZRRootEngine::setCurrent(nullptr);
    }
    enum class Pane { None, Checking, NoNetwork, NoUpdate, HaveUpdate };
    static Pane Shown(ZRCheckUpdateWindowController& c)
    {
        std::vector<Pane> shown;
        QWidget* top = c.window();
        if (c.checkProgressView()->isVisibleTo(top))
            shown.push_back(Pane::Checking);
        if (c.noNetworkView()->isVisibleTo(top))
            shown.push_back(Pane::NoNetwork);
        if (c.noUpdateView()->isVisibleTo(top))
            shown.push_back(Pane::NoUpdate);
        if (c.haveUpdateView()->isVisibleTo(top))
            shown.push_back(Pane::HaveUpdate);
        EXPECT_LE(shown.size(), 1u);
        return shown.empty() ? Pane::None : shown.front();
    }
    static QList<QLabel*> Lines(ZRCheckUpdateWindowController& c)
    {
        QList<QLabel*> lines = c.showVersionScrollView()->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
        std::sort(lines.begin(), lines.end(), [](QLabel* a, QLabel* b) { return a->y() < b->y(); });
        return lines;
    }

    PopupResources resources;
    FakeNetwork network;
};

}  // namespace

TEST_F(UpdateWindow, PaneShownPerOutcome)
{
    struct Case {
        const char* what;
        bool reachable;
        QVariantMap remote;
        Pane pane;
    };
    const Case cases[] = {
        {"no network", false, {{"VersionCheck", 9}}, Pane::NoNetwork},
        {"remote list unreadable", true, {}, Pane::NoUpdate},
        {"same version", true, {{"VersionCheck", 7}, {"Version", "2.0"}}, Pane::NoUpdate},
        {"older version", true, {{"VersionCheck", -3}}, Pane::NoUpdate},
        {"version as text", true, {{"VersionCheck", "8"}, {"Version", "2.1"}}, Pane::HaveUpdate},
        {"unreadable number counts 0", true, {{"VersionCheck", "eight"}}, Pane::NoUpdate},
        {"newer version", true, {{"VersionCheck", 8}, {"Version", "2.1"}, {"1", "Faster"}}, Pane::HaveUpdate},
    };
    for (const Case& c : cases) {
        network.reachable = c.reachable;
        network.remote = c.remote;
        network.reads.clear();
        ZRCheckUpdateWindowController window;
        window.window();
        EXPECT_EQ(Shown(window), c.pane) << c.what;
        if (c.reachable) {
            ASSERT_EQ(network.reads.size(), 1u) << c.what;
            EXPECT_EQ(network.reads[0], QStringLiteral("https://updates.example/version.plist"));
        } else {
            EXPECT_TRUE(network.reads.empty()) << c.what;
        }
    }
}

TEST_F(UpdateWindow, WindowSetUpAndTheDownloadLink)
{
    network.remote = {{"VersionCheck", 8}, {"Version", "2.1"}};
    ZRCheckUpdateWindowController c;
    TCImageWindow* w = c.window();
    EXPECT_EQ(w->titleBarHeight(), 22);
    EXPECT_EQ(w->trafficLightButtonsLeftMargin(), 13);
    EXPECT_EQ(c.titleLabel()->text(), QStringLiteral("WINDOW_TOP_TITLE"));
    EXPECT_EQ(c.titleLabel()->geometry(), QRect(0, 3, w->width(), 17));
    EXPECT_EQ(c.progressBar()->maximum(), 0) << "indeterminate while checking";
    EXPECT_EQ(c.versionLabel()->text(), QStringLiteral("Version 2.1:"));
    c.updateButton()->click();
    ASSERT_EQ(network.opened.size(), 1u);
    EXPECT_EQ(network.opened[0], QStringLiteral("https://updates.example/download"));
}

TEST_F(UpdateWindow, ChangeLinesStackFromTheTopOfTheList)
{
    network.remote = {{"VersionCheck", 8}, {"Version", "2.1"}, {"1", "One"}, {"2", "Two"}, {"3", "Three"}};
    ZRCheckUpdateWindowController c;
    c.window();
    ASSERT_EQ(Shown(c), Pane::HaveUpdate);
    // Each text fits one 10-pixel line at width 200: the total uses a floor
    // of 30 per line, each line a floor of 25.
    EXPECT_EQ(c.showVersionScrollView()->height(), 90);
    const QList<QLabel*> lines = Lines(c);
    ASSERT_EQ(lines.size(), 3);
    const char* texts[] = {"1:One", "2:Two", "3:Three"};
    const int fromBottom[] = {65, 40, 15};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i]->text(), QString::fromLatin1(texts[i]));
        EXPECT_EQ(lines[i]->width(), 380);
        EXPECT_EQ(lines[i]->height(), 25);
        EXPECT_EQ(90 - lines[i]->y() - lines[i]->height(), fromBottom[i]) << i;
        EXPECT_EQ(lines[i]->palette().color(QPalette::WindowText), QColor(175, 186, 219));
    }
    EXPECT_EQ(lines[1]->toolTip(), QStringLiteral("Two"));
}

TEST_F(UpdateWindow, LongChangeLinesGrowAndMissingNumbersShowEmpty)
{
    const QString longText = QStringLiteral("A change line long enough to need several lines when it is laid out at "
                                            "a width of two hundred pixels in a small font");
    // "x" is not a number 1..n: line 2 has no entry and shows only its number.
    network.remote = {{"VersionCheck", 8}, {"1", longText}, {"x", "odd"}};
    ZRCheckUpdateWindowController c;
    c.window();
    const QList<QLabel*> lines = Lines(c);
    ASSERT_EQ(lines.size(), 2);
    const double longHeight =
        ZRCheckUpdateWindowController::heightForStringDrawing(longText, lines[0]->font(), 200);
    EXPECT_GT(longHeight, 25);
    EXPECT_EQ(lines[0]->height(), qRound(longHeight));
    EXPECT_EQ(lines[1]->y(), qRound(longHeight));
    EXPECT_EQ(lines[1]->text(), QStringLiteral("2:"));
    EXPECT_EQ(c.showVersionScrollView()->height(), qCeil(float(longHeight) + 30.0f));
}

TEST_F(UpdateWindow, HeightOfTextGrowsWithNarrowerWidth)
{
    QFont font;
    font.setPixelSize(10);
    const QString text = QStringLiteral("one two three four five six seven eight nine ten");
    const double wide = ZRCheckUpdateWindowController::heightForStringDrawing(text, font, 1000);
    const double narrow = ZRCheckUpdateWindowController::heightForStringDrawing(text, font, 40);
    EXPECT_GT(wide, 0);
    EXPECT_GT(narrow, 2 * wide);
}

TEST_F(UpdateWindow, KeptWindowChecksOnceAndClosingOpensTheRootOnlyWithADelegate)
{
    network.remote = {{"VersionCheck", 8}, {"Version", "2.1"}};
    RootOpener root;
    // At start-up: the close button ends the session and opens the root.
    WhenModal([] {
        ZRCheckUpdateWindowController* c = ZRCheckUpdateWindowController::Shared();
        c->window()->standardWindowButton(NSWindowCloseButton)->click();
    });
    ZRCheckUpdateWindowController::RunShared(&root, true);
    EXPECT_EQ(root.opened, 1);
    EXPECT_EQ(network.probes, 1);
    EXPECT_TRUE(ZRCheckUpdateWindowController::Shared()->window()->windowFlags() & Qt::WindowStaysOnTopHint);

    // From the menu: the same window, no second check, the delegate kept
    // (the root window itself opens only when none exists).
    network.remote = {{"VersionCheck", 1}};
    WhenModal([] { ZRCheckUpdateWindowController::Shared()->closeWindow(); });
    ZRCheckUpdateWindowController::RunShared(nullptr, false);
    EXPECT_EQ(network.probes, 1);
    EXPECT_EQ(Shown(*ZRCheckUpdateWindowController::Shared()), Pane::HaveUpdate);
    EXPECT_EQ(root.opened, 2);
}

TEST_F(UpdateWindow, CloseThroughTheFadeAlsoGoesOnToTheRootWindow)
{
    network.reachable = false;
    RootOpener root;
    ZRCheckUpdateWindowController c;
    c.setDelegate(&root);
    WhenModal([&] { c.windowShouldClose(c.window()); }, ZRPopupWindow::kFadeMs + 100);
    c.runModal();
    EXPECT_FALSE(c.window()->isVisible());
    EXPECT_EQ(root.opened, 1);
}
