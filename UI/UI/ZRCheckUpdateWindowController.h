// The update window: checks the remote version list ("IniURL" of the link
// table) against the installed version number ("VersionCheck" of the
// settings) and shows one of three panes: no network, no update, or the new
// version's name with its change lines and a link to the download page
// ("UpdateURL"). The check runs once, when the window first loads.
//
// The network, the remote list and the browser are reached through
// ZRRootEngine::current(), so tests never touch the network.
//
// The application delegate runs the one kept window:
//   at start-up (the update is newer):  ZRCheckUpdateWindowController::RunShared(&rootOpener, true);
//   from the menu:                      ZRCheckUpdateWindowController::RunShared(nullptr, false);
// where rootOpener is a ZRCheckUpdateWindowControllerDelegate whose
// runRootWindow() opens the root window; it is called when the window closes.
#pragma once

#include <QVariant>
#include <QVariantMap>

#include <optional>

#include "ZRPopupWindow.h"

class QProgressBar;
class QPushButton;
class QScrollArea;

class ZRCheckUpdateWindowControllerDelegate {
public:
    virtual ~ZRCheckUpdateWindowControllerDelegate() = default;
    virtual void runRootWindow();
};

class ZRCheckUpdateWindowController : public ZRPopupWindow {
    Q_OBJECT
public:
    // Width at which change lines are measured, and their laid-out width.
    static constexpr double kMeasureWidth = 200;
    static constexpr int kLineWidth = 380;

    explicit ZRCheckUpdateWindowController(QObject* parent = nullptr);
    ~ZRCheckUpdateWindowController() override;

    // The kept window of the run, made on first need. With a delegate (the
    // start-up path) the delegate is set and the window stays above other
    // windows; from the menu (nullptr) a delegate set before is kept. Runs
    // the window modally; returns when it closes.
    static void RunShared(ZRCheckUpdateWindowControllerDelegate* delegate, bool atStartup);
    static ZRCheckUpdateWindowController* Shared();
    // Drops the kept window (tests).
    static void ResetShared();

    // A version number as the lists hold it (an integer, or text read by its
    // integer value); missing or unreadable counts 0.
    static int VersionCheckValue(const QVariant& value);
    // Height of text laid out in font at width (no padding).
    static double heightForStringDrawing(const QString& text, const QFont& font, double width);

    ZRCheckUpdateWindowControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(ZRCheckUpdateWindowControllerDelegate* delegate) { m_delegate = delegate; }

    void getVersionChange();
    // remote: the remote list, nothing when it could not be read.
    void whatIsNewVersionDiff(std::optional<QVariantMap> remote);
    void updateClickHereAction(QObject* sender = nullptr);
    // The close button: ends the session, closes, then tells the delegate.
    void closeWindow(QObject* sender = nullptr);
    // A close through the fade ends the same way as the close button, so
    // that the start-up path always goes on to the root window.
    void animationDidStop() override;

    QWidget* checkProgressView() const { return m_checkProgressView; }
    QWidget* noNetworkView() const { return m_noNetworkView; }
    QWidget* noUpdateView() const { return m_noUpdateView; }
    QWidget* haveUpdateView() const { return m_haveUpdateView; }
    QLabel* versionLabel() const { return m_versionLabel; }
    QScrollArea* changeValueScrollView() const { return m_changeValueScrollView; }
    QProgressBar* progressBar() const { return m_progressBar; }
    QWidget* showVersionScrollView() const { return m_showVersionScrollView; }
    QLabel* titleLabel() const { return m_aTitleLabel; }
    QPushButton* updateButton() const { return m_updateButton; }

protected:
    void loadInterface(QWidget* content) override;
    void windowDidLoad() override;

private:
    void showPane(QWidget* pane);

    QWidget* m_checkProgressView = nullptr;
    QWidget* m_noNetworkView = nullptr;
    QWidget* m_noUpdateView = nullptr;
    QWidget* m_haveUpdateView = nullptr;
    QLabel* m_versionLabel = nullptr;
    QScrollArea* m_changeValueScrollView = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QWidget* m_showVersionScrollView = nullptr;
    QPushButton* m_updateButton = nullptr;
    ZRCheckUpdateWindowControllerDelegate* m_delegate = nullptr;
};
