// The modal window shown while a recovery copies files: a progress bar with
// the name of the file being copied, a confirmation step before stopping and
// a destination-full step after a failed write. It does not talk to the
// engine: every choice of the user goes to the delegate as one call,
// stopButtonAction (1 pause or resume, 2 stop).
//
// The results window creates it on the first progress notification of a
// running recovery, sets itself as delegate and calls runModal(); on each
// progress step it calls changeProgressValue(percent, name) and, when the
// engine reports a failed write, setNoMemeryViewHidden().
#pragma once

#include <QPointer>
#include <QString>

#include "ZRPopupWindow.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;
class TCImageButton;

class ZRShowScanProgressWindowControllerDelegate {
public:
    virtual ~ZRShowScanProgressWindowControllerDelegate() = default;
    // 1: pause or resume the recovery; 2: stop it.
    virtual void stopButtonAction(int action);
};

class ZRShowScanProgressWindowController : public ZRPopupWindow {
    Q_OBJECT
public:
    explicit ZRShowScanProgressWindowController(QObject* parent = nullptr);
    ~ZRShowScanProgressWindowController() override;

    ZRShowScanProgressWindowControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(ZRShowScanProgressWindowControllerDelegate* delegate) { m_delegate = delegate; }

    // percent 0..100; a null name leaves the shown name as it is.
    void changeProgressValue(double percent, const QString& scaningFileName);
    // Shows the destination-full view.
    void setNoMemeryViewHidden();

    // The buttons' actions.
    void stopProgressButtonAction(QObject* sender = nullptr);
    void noButtonAction(QObject* sender = nullptr);
    void yesButtonAction(QObject* sender = nullptr);
    void continueButtonAction(QObject* sender = nullptr);
    void cancelButtonAction(QObject* sender = nullptr);

    // The bar's value as last set (0..100).
    double progressValue() const { return m_dProgress; }

    QLabel* scaningFileName() const { return m_scaningFileName; }
    QProgressBar* progressBar() const { return m_progressBar; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QPushButton* stopButton() const { return m_stopButton; }
    QWidget* recoveryProgressView() const { return m_recoveryProgressView; }
    QWidget* noMemeryView() const { return m_noMemeryView; }
    QWidget* warningView() const { return m_warningView; }
    QLabel* warningTitle() const { return m_warningTitle; }
    QLabel* warningNode() const { return m_warningNode; }
    TCImageButton* noButton() const { return m_noButton; }
    TCImageButton* yesButton() const { return m_yesButton; }
    QLabel* noMemeryTitle() const { return m_noMemeryTitle; }
    QLabel* noMemeryNode() const { return m_noMemeryNode; }
    TCImageButton* noMemeryContinueButton() const { return m_noMemeryContinueButton; }
    TCImageButton* noMemeryCancelButton() const { return m_noMemeryCancelButton; }

protected:
    void loadInterface(QWidget* content) override;
    void awakeFromNib() override;
    void windowDidLoad() override;

private:
    void tellDelegate(int action);
    // Exactly one of the three views is shown.
    void showOnly(QWidget* ZRShowScanProgressWindowController::*view);

    QLabel* m_scaningFileName = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_titleLabel = nullptr;
    QPushButton* m_stopButton = nullptr;
    ZRShowScanProgressWindowControllerDelegate* m_delegate = nullptr;
    QWidget* m_recoveryProgressView = nullptr;
    QWidget* m_noMemeryView = nullptr;
    QWidget* m_warningView = nullptr;
    QLabel* m_warningTitle = nullptr;
    QLabel* m_warningNode = nullptr;
    TCImageButton* m_noButton = nullptr;
    TCImageButton* m_yesButton = nullptr;
    QLabel* m_noMemeryTitle = nullptr;
    QLabel* m_noMemeryNode = nullptr;
    TCImageButton* m_noMemeryContinueButton = nullptr;
    TCImageButton* m_noMemeryCancelButton = nullptr;
    double m_dProgress = 0;
};
