// The application delegate: localises the menus, runs the launch sequence
// (storage-media notifier, first-run page, weekly update check, root
// window), guards quitting while a scan runs and ends the process.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

#include "ZRRootWindowController.h"

class QAction;
class QMenu;
class QMenuBar;
class TCImageWindow;
struct Notification;

class ZRAppDelegate : public QObject {
    Q_OBJECT
public:
    enum TerminateReply { NSTerminateCancel = 0, NSTerminateNow = 1 };

    // The update window, when the program has one: runs it modally. With
    // asDelegate set (the launch path) the window calls runRootWindow() on
    // this delegate when it closes; from the menu it does not.
    using UpdateWindowRunner = std::function<void(ZRAppDelegate* delegate, bool asDelegate)>;
    static void setUpdateWindowRunner(UpdateWindowRunner runner);

    explicit ZRAppDelegate(QObject* parent = nullptr);
    ~ZRAppDelegate() override;

    QMenuBar* menuBar() const { return m_menuBar.get(); }
    // The menu behind the title-bar button.
    QMenu* windowMenu() const { return m_windowMenu.get(); }
    QMenu* aWindow() const { return m_aWindow; }
    QMenu* help() const { return m_help; }
    QAction* about() const { return m_about; }
    QAction* checkUpdate() const { return m_checkUpdate; }
    QAction* hideSelf() const { return m_hideSelf; }
    QAction* hideOther() const { return m_hideOther; }
    QAction* showAll() const { return m_showAll; }
    QAction* exit() const { return m_exit; }
    QAction* maximize() const { return m_maximize; }
    QAction* minimize() const { return m_minimize; }
    QAction* onlineHelp() const { return m_onlineHelp; }
    QAction* supportCenter() const { return m_supportCenter; }
    ZRRootWindowController* rootWindowCon() const { return m_rootWindowCon; }
    // The quit alert while it is shown.
    QMessageBox* quitAlert() const { return m_quitAlert; }

    void awakeFromNib();
    void applicationDidFinishLaunching();
    void runRootWindow();
    TerminateReply applicationShouldTerminate();
    // Return code 1: the default button (quit), 0: the alternate (go on).
    void alertEnded(int code);
    void applicationWillTerminate(const Notification* notification);
    // A quit request (the menu, the window system): the guard, then the end.
    void terminate();
    void aboutAction();
    void CheckUpAction();
    void supportCenterAction();
    void onlineHelpAction();
    bool validateMenuItem(QAction* item) const;
    void SetRootLangauageMemu();
    void setLangauageState();
    QString getChangeLanaguageDes(const QString& code, const QString& key) const;
    // Back home from the results window: a new root window replaces the old.
    void showNewRootWindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void attachApplicationMenu(TCImageWindow* window);
    void placeApplicationMenuButton(QWidget* bar);
    // Brings the program's window to the front after a modal window.
    void activateApplication();

    QPointer<ZRRootWindowController> m_rootWindowCon;
    std::unique_ptr<QMenuBar> m_menuBar;
    std::unique_ptr<QMenu> m_windowMenu;
    QMenu* m_aWindow = nullptr;
    QMenu* m_help = nullptr;
    QMenu* m_appMenu = nullptr;
    QAction* m_about = nullptr;
    QAction* m_checkUpdate = nullptr;
    QAction* m_hideSelf = nullptr;
    QAction* m_hideOther = nullptr;
    QAction* m_showAll = nullptr;
    QAction* m_exit = nullptr;
    QAction* m_maximize = nullptr;
    QAction* m_minimize = nullptr;
    QAction* m_onlineHelp = nullptr;
    QAction* m_supportCenter = nullptr;
    QPointer<QMessageBox> m_quitAlert;
};
