// The small modal window that follows the saving of the current scan result
// to an "rsf" file, or the loading of one: a heading, a waiting text and a
// bar that never moves back. It closes itself on the first half-second tick
// after the bridge reports the end ("QueryProgressFinish"), with an alert
// when the operation failed; after a successful load it posts
// "ShowDetailWindow" so that the application shows the results window.
//
// Callers:
//   ZRProgressWindow progress;
//   progress.setStrPostName("QueryProgressInfo");   // a load: "NormalScranValue"
//   progress.setBSave(true);                         // a load: false
//   progress.runModal();
//   if (progress.getResult()) ...                    // 1 success
#pragma once

#include <QString>

#include <functional>
#include <mutex>

#include "ZRPopupWindow.h"

class QMessageBox;
class QProgressBar;
class QTimer;
struct Notification;

class ZRProgressWindow : public ZRPopupWindow {
    Q_OBJECT
public:
    // What the window reads of the bridge: total, done and error code of
    // the save (saver true) or of the load. Tests replace it; nullptr
    // restores the bridge's GetSaveorRestoreProgress.
    using ProgressReader = std::function<void(quint64* total, quint64* current, qint64* errorCode, bool saver)>;
    static void SetProgressReader(ProgressReader reader);

    explicit ZRProgressWindow(QObject* parent = nullptr);
    ~ZRProgressWindow() override;

    // Both are read when the window loads: set them first.
    QString strPostName() const;
    void setStrPostName(const QString& name);
    bool bSave() const { return m_bSave; }
    void setBSave(bool save) { m_bSave = save; }

    // 1 when the operation ended without error, else 0 (also while not
    // finished, and after an early close).
    int getResult() const { return m_bSucess ? 1 : 0; }
    bool bFinish() const { return m_bFinish; }

    void changeProgressValue(const Notification* notification);
    void ProgressFinish(const Notification* notification);
    void onTimer();
    // The close button: ends the modal session and closes at once; the
    // bridge's operation goes on, and the window hears no more of it.
    void closeWindow(QObject* sender = nullptr);

    QProgressBar* progress() const { return m_progress; }
    QLabel* Description() const { return m_Description; }
    QLabel* title() const { return m_title; }
    // The failure alert while it is shown.
    QMessageBox* failureAlert() const { return m_failureAlert; }
    bool isTimerRunning() const;

protected:
    void loadInterface(QWidget* content) override;
    void awakeFromNib() override;
    void windowDidLoad() override;

private:
    void stopObserving();

    QProgressBar* m_progress = nullptr;
    QLabel* m_Description = nullptr;
    QLabel* m_title = nullptr;
    mutable std::mutex m_nameLock;
    QString m_strPostName;
    bool m_bSave = false;
    bool m_bSucess = false;
    bool m_bFinish = false;
    QTimer* m_timer = nullptr;
    QMessageBox* m_failureAlert = nullptr;
};
