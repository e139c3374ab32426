// The save-result flow of the results window over a scripted engine: the
// panel, the warning for a file on the scanned device and its three answers,
// and a save that fails. The progress window reads scripted figures.
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "NotificationCenter.h"
#include "OpenPopup.h"
#include "ResultsFakeBridge.h"
#include "ResultsTestSupport.h"
#include "ZRDeletailWindowController.h"
#include "ZRProgressWindow.h"
#include "ZRUIPublic.h"

namespace {

// The engine's side of a save: it starts, then reports its end with
// errorCode once the progress window listens.
class SavingBridge : public ResultsFakeBridge {
public:
    qint64 errorCode = 0;
    std::vector<QString> begun, stored;
    std::vector<int> events;

    void beginSaveOrRestoreNode(bool save, const QString& path) override
    {
        calls.push_back(save ? "beginSave" : "beginRestore");
        begun.push_back(path);
        QTimer::singleShot(100, qApp, [] {
            NotificationCenter::defaultCenter().PostNotification("QueryProgressFinish", ZRUIPublic::ClassObject());
        });
    }
    QString GetDefaultSavePath() override { return QStringLiteral("/saves"); }
    QString GetSaveFileName() override { return QStringLiteral("VOL_12-01-2026 at 10_00_00"); }
    void SavePathToPList(const QString& path) override { stored.push_back(path); }
    void SpyIDIncreateTable1(int event) override { events.push_back(event); }
};

TEST(ResultSaveFlow, SameDeviceAnswersAndFailedSave)
{
    UseResultsTestResources();
    struct Case {
        const char* what;
        bool sameDevice;
        std::vector<int> alertAnswers;   // one per warning
        std::vector<QString> panelFiles;  // one per panel; empty = cancelled
        qint64 errorCode;
        bool saves;    // the save starts
        bool stored;   // bSave and the "SavePath" setting follow
        std::vector<int> events;
    };
    const QString file = QStringLiteral("/saves/VOL.rsf");
    const std::vector<Case> cases = {
        {"cancelled panel", false, {}, {QString()}, 0, false, false, {}},
        {"other device", false, {}, {file}, 0, true, true, {4133, 4135}},
        {"same device, choose again, then cancel", true, {1}, {file, QString()}, 0, false, false, {4133, 4135}},
        {"same device, save nothing", true, {0}, {file}, 0, false, false, {4133, 4135}},
        {"same device, save there anyway", true, {-1}, {file}, 0, true, true, {4133, 4135}},
        {"failed save", false, {}, {file}, 7, true, false, {4133, 4135}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SavingBridge bridge;
        bridge.sameDevice = c.sameDevice;
        bridge.errorCode = c.errorCode;
        ZRProgressWindow::SetProgressReader([&bridge](quint64* t, quint64* cur, qint64* e, bool saver) {
            EXPECT_TRUE(saver);
            *t = 1;
            *cur = 1;
            *e = bridge.errorCode;
        });
        ZRDeletailWindowController window(&bridge);
        size_t panels = 0, alerts = 0;
        std::vector<std::pair<QString, QString>> panelArgs;
        window.chooseSaveFile = [&](const QString& folder, const QString& name) {
            panelArgs.emplace_back(folder, name);
            return panels < c.panelFiles.size() ? c.panelFiles[panels++] : QString();
        };
        window.runSaveSameDiskAlert = [&] { return alerts < c.alertAnswers.size() ? c.alertAnswers[alerts++] : 0; };
        bool failureShown = false;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (ZRProgressWindow* progress = OpenPopup<ZRProgressWindow>())
                if (QMessageBox* alert = progress->failureAlert()) {
                    failureShown = true;
                    alert->accept();
                }
        });
        watcher.start(20);
        window.exportButtonAction();
        watcher.stop();

        EXPECT_EQ(panels, c.panelFiles.size());
        EXPECT_EQ(alerts, c.alertAnswers.size());
        for (const auto& [folder, name] : panelArgs) {
            EXPECT_EQ(folder, QStringLiteral("/saves"));
            EXPECT_EQ(name, QStringLiteral("VOL_12-01-2026 at 10_00_00"));
        }
        // Usage events only for a chosen file (not for a cancelled panel).
        EXPECT_EQ(bridge.events, c.events);
        if (c.saves) {
            ASSERT_EQ(bridge.begun, std::vector<QString>{file});
            // The progress is followed before the save starts.
            const auto at = [&](const char* call) {
                return std::find(bridge.calls.begin(), bridge.calls.end(), call) - bridge.calls.begin();
            };
            EXPECT_LT(at("RestorPostUIUpdate:save"), at("beginSave"));
        } else {
            EXPECT_TRUE(bridge.begun.empty());
            EXPECT_EQ(bridge.Count("RestorPostUIUpdate:save"), 0);
        }
        EXPECT_EQ(failureShown, c.errorCode != 0);
        EXPECT_EQ(window.bSave(), c.stored ? 1 : 0);
        EXPECT_EQ(bridge.stored, c.stored ? std::vector<QString>{file} : std::vector<QString>{});
        EXPECT_EQ(OpenPopup<ZRProgressWindow>(), nullptr);
    }
    ZRProgressWindow::SetProgressReader(nullptr);
}

}  // namespace
