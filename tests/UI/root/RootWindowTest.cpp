// The root window's wizard: the filter mask, the device-list step with its
// skip rule, the hand-over to the results window, the import of a saved
// scan result and the window's own close button.
#include <QTest>

#include <gtest/gtest.h>

#include "BundleResources.h"
#include "DrawingChecks.h"
#include "FakeRootEngine.h"
#include "NotificationCenter.h"
#include "TCImageButton.h"
#include "TypeButton.h"
#include "ZRCustomOutlineView.h"
#include "ZRRootWindowController.h"
#include "ZRSelectDiskViewController.h"
#include "ZRSelectTypeViewController.h"

namespace {

struct FakeResults : ZRRootResultsWindow {
    explicit FakeResults(QStringList& log) : log(log) { widget.resize(1000, 700); }
    void setSelectDiskVolumeData(DiskVolumeNodeData* data) override
    {
        log << "select " + (data ? data->name() : QString("none"));
    }
    void getData() override { log << "getData"; }
    void getImportData(const QString& path) override { log << "import " + path; }
    void clearImportData() override { log << "clear"; }
    QWidget* window() override { return &widget; }
    QStringList& log;
    QWidget widget;
};

class RootWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZRRootWindowHooks hooks;
        hooks.makeResultsWindow = [this](ZRRootWindowController*) {
            auto results = std::make_unique<FakeResults>(log);
            lastResults = results.get();
            log << "made";
            return results;
        };
        hooks.runAPFSNotice = [this] { log << "apfs notice"; };
        hooks.chooseImportFile = [this](const QString& folder) {
            log << "panel " + folder;
            return chosenFile;
        };
        hooks.runImportProgress = [this](const std::function<void()>& startLoad) {
            log << "progress";
            startLoad();
            return loadResult;
        };
        ZRRootWindowController::setHooks(hooks);
        engine.savePath = "/saved";
        NotificationCenter::defaultCenter().AddObserver(this, "appWillTerminate",
                                                        [this](const Notification&) { log << "appWillTerminate"; });
    }
    void TearDown() override
    {
        NotificationCenter::defaultCenter().RemoveObserver(this);
        ZRRootWindowController::setHooks({});
    }
    // Start on the type page, press start, deliver the device list.
    void continueToDevices(ZRRootWindowController& root)
    {
        root.selectTypeVC()->startScanButton()->click();
        ASSERT_EQ(engine.notified, QStringList({"aInitFinished"}));
        NotificationCenter::defaultCenter().PostNotification("aInitFinished");
    }

    FakeRootEngine engine;
    QStringList log;
    FakeResults* lastResults = nullptr;
    QString chosenFile;
    int loadResult = 1;
};

}  // namespace

TEST_F(RootWindow, LoadsOnTheTypePageWithEveryKind)
{
    ZRRootWindowController root;
    EXPECT_EQ(engine.fileTypeInits, 1);
    EXPECT_EQ(engine.releases, 1);
    EXPECT_EQ(root.whichPage(), 2);
    EXPECT_EQ(root.selectValues(), 63u);
    ASSERT_TRUE(root.importButton());
    EXPECT_TRUE(root.importButton()->isHidden());
    EXPECT_EQ(root.importButton()->geometry(), QRect(966, 2, 16, 16));
    EXPECT_EQ(root.window()->titleBarHeight(), 22);
    EXPECT_EQ(root.window()->trafficLightButtonsLeftMargin(), 8);
    EXPECT_EQ(root.window()->topButtonMoveUp(), 1);
}

TEST_F(RootWindow, SecondRunningCopyEndsBeforeAnythingIsShown)
{
    engine.appRunning = true;
    ZRRootWindowController root;
    EXPECT_EQ(engine.closes, 1);
    EXPECT_EQ(engine.fileTypeInits, 0);
    EXPECT_FALSE(root.selectTypeVC());
}

TEST_F(RootWindow, SkipRuleCountsAWholeDiskOutsideItsOnlyVolume)
{
    struct Case {
        std::vector<FakeDisk> disks;
        bool diskPageShown;
        const char* scanned;  // the selection handed to the results window
    };
    const std::vector<Case> cases = {
        {{{"D", 1099999, {{"V", 1000000}}}}, false, "V"},
        {{{"D", 1100000, {{"V", 1000000}}}}, true, nullptr},
        {{{"D", 1000000, {{"V", 1000000}}}, {"E", 2000000, {{"W", 1999999}}}}, true, nullptr},
        {{{"D", 1000000, {{"V", 1000000}}}, {"Bare", 50000, {}}}, false, "V"},
        {{{"D", 1000000, {{"V", 1000000}}}, {"Bare", 200000, {}}}, true, nullptr},
    };
    for (const Case& c : cases) {
        log.clear();
        engine.notified.clear();
        engine.masks.clear();
        engine.disks = c.disks;
        ZRRootWindowController root;
        root.selectTypeVC()->selectButtonClick(root.selectTypeVC()->muiscTypeButton());
        continueToDevices(root);
        EXPECT_EQ(engine.masks, std::vector<unsigned>({61u}));
        EXPECT_EQ(root.whichPage(), 3);
        EXPECT_EQ(root.selectDiskVC() != nullptr, c.diskPageShown);
        if (c.diskPageShown) {
            EXPECT_FALSE(root.importButton()->isHidden());
            EXPECT_EQ(root.selectDiskVC()->pos(), QPoint(0, 0));
            EXPECT_EQ(root.selectTypeVC()->pos(), QPoint(-1000, 0));
            ASSERT_TRUE(root.selectVolumeData());
            EXPECT_EQ(root.selectVolumeData()->name(), "V");  // preselected
            EXPECT_TRUE(log.isEmpty());
        } else {
            EXPECT_EQ(log, QStringList({"made", QString("select ") + c.scanned}));
            QTest::qWait(400);
            EXPECT_EQ(log.back(), "getData");
        }
    }
}

TEST_F(RootWindow, DeviceThatCannotBeOpenedShowsTheNoticeAndStays)
{
    engine.disks = {{"D", 1000000, {{"V", 1000000, 0}}}};
    ZRRootWindowController root;
    continueToDevices(root);
    EXPECT_EQ(log, QStringList({"apfs notice"}));
    EXPECT_EQ(root.whichPage(), 3);
    EXPECT_FALSE(root.deletailWC());
    root.selectTypeVC()->startScanButton()->click();  // the same step again
    EXPECT_EQ(log, QStringList({"apfs notice", "apfs notice"}));

    // Disks without any volume: nothing to scan, the notice again.
    engine.disks = {{"Bare", 50000, {}}};
    engine.notified.clear();
    ZRRootWindowController other;
    continueToDevices(other);
    EXPECT_EQ(log.back(), "apfs notice");
    EXPECT_FALSE(other.deletailWC());
}

TEST_F(RootWindow, DiskPagePickGoesToANewResultsWindow)
{
    engine.disks = {{"D", 9000000, {{"V1", 1000000}, {"V2", 2000000}}}};
    ZRRootWindowController root;
    root.showWindow();
    continueToDevices(root);
    ZRSelectDiskViewController* page = root.selectDiskVC();
    ASSERT_TRUE(page);
    ZRCustomOutlineView* view = page->outlineView();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->rectOfRow(2).center());
    EXPECT_EQ(root.selectVolumeData()->name(), "V2");

    // A refresh replaces the list: the pick follows the marked row 1, an
    // item of the new list.
    NotificationCenter::defaultCenter().PostNotification("RefreshAttachDevice");
    EXPECT_EQ(engine.refreshes, 1);
    EXPECT_EQ(root.selectVolumeData()->name(), "V1");
    EXPECT_EQ(root.selectVolumeData().get(), view->itemAtRow(1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->rectOfRow(2).center());
    EXPECT_EQ(root.selectVolumeData()->name(), "V2");

    page->scanButton()->click();
    EXPECT_EQ(log, QStringList({"made", "select V2"}));
    EXPECT_FALSE(root.window()->isVisible());
    EXPECT_TRUE(lastResults->widget.isVisible());
    EXPECT_TRUE(root.importButton()->isHidden());
    NotificationCenter::defaultCenter().PostNotification("RefreshAttachDevice");
    EXPECT_EQ(engine.refreshes, 1);  // the page no longer listens
    QTest::qWait(100);
    EXPECT_EQ(log.size(), 2);  // not yet: 0.3 s after showing
    QTest::qWait(400);
    EXPECT_EQ(log.back(), "getData");
}

TEST_F(RootWindow, BackFromTheDiskPageSlidesToTheTypePage)
{
    engine.disks = {{"D", 9000000, {{"V1", 1000000}, {"V2", 2000000}}}};
    ZRRootWindowController root;
    continueToDevices(root);
    ASSERT_TRUE(root.selectDiskVC());
    root.selectDiskVC()->backButton()->click();
    EXPECT_EQ(root.whichPage(), 2);
    EXPECT_EQ(root.selectTypeVC()->pos(), QPoint(0, 0));
    EXPECT_EQ(root.selectDiskVC()->pos(), QPoint(1000, 0));
    EXPECT_TRUE(root.importButton()->isHidden());

    // Continue again: a new device-list step with a new disk page.
    engine.notified.clear();
    continueToDevices(root);
    EXPECT_EQ(root.whichPage(), 3);
    EXPECT_EQ(root.selectDiskVC()->pos(), QPoint(0, 0));
}

TEST_F(RootWindow, ImportCancelledChangesNothing)
{
    engine.disks = {{"D", 9000000, {{"V1", 1000000}, {"V2", 2000000}}}};
    ZRRootWindowController root;
    continueToDevices(root);
    chosenFile.clear();
    root.importButton()->click();
    EXPECT_EQ(log, QStringList({"panel /saved"}));
    EXPECT_FALSE(root.importButton()->isHidden());
    EXPECT_EQ(engine.masks, std::vector<unsigned>({63u}));
}

TEST_F(RootWindow, ImportLoadsIntoAHiddenResultsWindowShownOnSuccess)
{
    engine.disks = {{"D", 9000000, {{"V1", 1000000}, {"V2", 2000000}}}};
    for (int result : {1, 0}) {
        log.clear();
        engine.masks.clear();
        engine.loads.clear();
        engine.notified.clear();
        loadResult = result;
        chosenFile = "/x/a.rsf";
        ZRRootWindowController root;
        root.showWindow();
        continueToDevices(root);
        root.importButton()->click();
        EXPECT_EQ(engine.masks, std::vector<unsigned>({63u, 127u}));
        EXPECT_EQ(engine.loads, QStringList({"load /x/a.rsf"}));
        EXPECT_EQ(root.importFilePath(), "/x/a.rsf");
        if (result) {
            EXPECT_EQ(log, QStringList({"panel /saved", "made", "progress", "import /x/a.rsf"}));
            ASSERT_TRUE(root.deletailWC());
            EXPECT_TRUE(lastResults->widget.isVisible());
            EXPECT_FALSE(root.window()->isVisible());
            EXPECT_FALSE(root.selectDiskVC());
        } else {
            EXPECT_EQ(log, QStringList({"panel /saved", "made", "progress", "import /x/a.rsf", "clear"}));
            EXPECT_FALSE(root.deletailWC());
            EXPECT_TRUE(root.window()->isVisible());
            EXPECT_TRUE(root.selectDiskVC());
            EXPECT_TRUE(root.importButton()->isHidden());
        }
    }
}

TEST_F(RootWindow, ShowDetailWindowDuringAnImportShowsTheResults)
{
    engine.disks = {{"D", 9000000, {{"V1", 1000000}, {"V2", 2000000}}}};
    ZRRootWindowController root;
    continueToDevices(root);
    ZRRootWindowHooks hooks = ZRRootWindowController::hooks();
    bool shownDuringLoad = false;
    hooks.runImportProgress = [&](const std::function<void()>& startLoad) {
        startLoad();
        NotificationCenter::defaultCenter().PostNotification("ShowDetailWindow");
        shownDuringLoad = lastResults->widget.isVisible();
        return 1;
    };
    ZRRootWindowController::setHooks(hooks);
    chosenFile = "/x/b.rsf";
    root.importButton()->click();
    EXPECT_TRUE(shownDuringLoad);
}

TEST_F(RootWindow, CloseButtonEndsTheApplication)
{
    ZRRootWindowController root;
    root.showWindow();
    TCStandardWindowButton* close = root.window()->standardWindowButton(NSWindowCloseButton);
    ASSERT_TRUE(close);
    close->click();
    EXPECT_EQ(log, QStringList({"appWillTerminate"}));
    EXPECT_FALSE(root.window()->isVisible());
}

TEST_F(RootWindow, QuitFadesTheWindowOutBeforeAgreeing)
{
    ZRRootWindowController root;
    root.showWindow();
    QTest::qWait(300);  // faded in
    EXPECT_FALSE(root.applicationShouldTerminate());
    EXPECT_EQ(root.shuttingDown(), 1);
    QTest::qWait(400);  // faded out: the window closes
    EXPECT_FALSE(root.window()->isVisible());
    EXPECT_TRUE(root.applicationShouldTerminate());
}

// ---- what the window draws ----------------------------------------------------
// With the shipped pictures and texts, rendered in the window as shown: the
// title reads on the strip, every caption on its button, an unchecked kind
// box shows as an empty box on the page (its rim stands out, its inside is
// of the page's tone), and the disk list's narrow mark column has no title.
TEST_F(RootWindow, PagesDrawReadableTitlesCaptionsAndBoxes)
{
    const QString oldPath = Bundle::ResourcePath();
    Bundle::SetResourcePath(QStringLiteral(VANTREL_SOURCE_RESOURCES));
    Bundle::SetLanguage("en");
    engine.disks = {{"D", 1000000, {{"V", 400000}, {"W", 500000}}}, {"E", 2000000, {{"X", 1999999}}}};
    {
        ZRRootWindowController root;
        TCImageWindow* w = root.window();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
        auto shot = [&](const char* name) {
            QCoreApplication::processEvents();
            QImage picture = w->grab().toImage();
            KeepShot(picture, name);
            return picture;
        };
        auto in = [&](const QImage& picture, const QWidget* widget) { return ExamineInWindow(picture, w, widget); };

        ZRSelectTypeViewController* types = root.selectTypeVC();
        types->selectButtonClick(types->picTypeButton());  // pictures unchecked
        QImage picture = shot("file-type-page");
        ASSERT_NE(root.titleLabel(), nullptr);
        EXPECT_FALSE(root.titleLabel()->text().trimmed().isEmpty());
        const DrawnArea title = ExamineInWindow(picture, w, root.titleLabel(), TextRect(root.titleLabel()));
        EXPECT_GE(title.contrast, 4.5) << "window title: " << title;
        const DrawnArea start = in(picture, types->startScanButton()->textField());
        // Captions on picture buttons are large text: 3 to 1 reads.
        EXPECT_GE(start.contrast, 3.0) << "start caption: " << start;

        // The page's ground beside the kinds, and the two boxes on it.
        const QColor page = picture.pixelColor(w->width() / 2, w->height() - 30);
        const DrawnArea unchecked = in(picture, types->picTypeButton()->checkBox());
        const DrawnArea checked = in(picture, types->docTypeButton()->checkBox());
        EXPECT_GE(ContrastRatio(unchecked.ink, page), 2.5) << "unchecked box rim on the page: " << unchecked;
        const QLabel* box = types->picTypeButton()->checkBox();
        const QColor inside = picture.pixelColor(box->mapTo(w, box->rect().center()));
        EXPECT_LE(ContrastRatio(inside, page), 1.5)
            << "unchecked box filled " << inside.name().toStdString() << " on a page " << page.name().toStdString();
        EXPECT_GE(ContrastRatio(checked.ink, checked.ground), 3.0) << "checked box: " << checked;

        continueToDevices(root);
        ZRSelectDiskViewController* disks = root.selectDiskVC();
        ASSERT_NE(disks, nullptr);
        picture = shot("disk-page");
        for (TCImageButton* button : {disks->backButton(), disks->scanButton()}) {
            const DrawnArea caption = in(picture, button->textField());
            EXPECT_GE(caption.contrast, 3.0) << button->textField()->text().toStdString() << ": " << caption;
        }
        ZRCustomOutlineView* list = disks->outlineView();
        ZRTableHeaderView* header = list->headerView();
        const int select = list->columnWithIdentifier("select");
        const QRect mark(header->sectionViewportPosition(select) + 2, 3, header->sectionSize(select) - 4,
                         header->height() - 6);
        const DrawnArea markTitle = Examine(picture, QRect(header->viewport()->mapTo(w, mark.topLeft()), mark.size()));
        EXPECT_EQ(markTitle.inked, 0) << "the mark column's header: " << markTitle;
        const int name = list->columnWithIdentifier("Name");
        const QRect drives(header->sectionViewportPosition(name) + 2, 3, 60, header->height() - 6);
        EXPECT_GE(Examine(picture, QRect(header->viewport()->mapTo(w, drives.topLeft()), drives.size())).contrast, 4.5);

        // The picked volume's row is marked in one colour across, also in
        // the indentation before its name.
        const int picked = list->selectedRow();
        ASSERT_GE(picked, 0);
        const QRect row = list->rectOfRow(picked);
        const QPoint rowLeft = list->viewport()->mapTo(w, row.topLeft());
        const int nameStart = header->sectionViewportPosition(name);
        const QColor indent = picture.pixelColor(rowLeft + QPoint(nameStart + 4, row.height() / 2));
        const QColor size = picture.pixelColor(rowLeft + QPoint(header->sectionViewportPosition(list->columnWithIdentifier("Size")) - 6, row.height() / 2));
        EXPECT_EQ(indent, size) << "indentation " << indent.name().toStdString() << ", row " << size.name().toStdString();
    }
    Bundle::SetResourcePath(oldPath);
}
