// The about window: a small modal window under the common 22-point title
// bar, with a link that opens the "AboutURL" page of the link table.
#pragma once

#include <QObject>
#include <QPointer>

#include "KLTitlebarView.h"
#include "TCImageWindow.h"

class QEventLoop;
class QLabel;
class QPropertyAnimation;
class QPushButton;
class QWidget;

class ZRAboutWindowController : public QObject, public TCImageWindowDelegate {
    Q_OBJECT
public:
    explicit ZRAboutWindowController(QObject* parent = nullptr);
    ~ZRAboutWindowController() override;

    TCImageWindow* window() const { return aWindow; }
    QWidget* titleBarView() const { return m_titleBarView; }
    QLabel* titleLabel() const { return m_titleLabel; }
    QPushButton* aboutlink() const { return m_aboutlink; }
    // The texts of the window's body: the name, what it does, the copyright.
    QLabel* productLabel() const { return m_productLabel; }
    QLabel* descriptionLabel() const { return m_descriptionLabel; }
    QLabel* copyrightLabel() const { return m_copyrightLabel; }
    bool shuttingDown() const { return m_shuttingDown; }

    void windowDidLoad();
    void linkButtonAction(QObject* sender = nullptr);
    // Ends the modal run and closes the window.
    void closeWindow(QObject* sender = nullptr);
    bool windowShouldClose(TCImageWindow* sender) override;

    // Centres the window and runs it modally until it is closed.
    void runModal();
    bool isRunningModal() const { return m_modalLoop != nullptr; }

private:
    void fadeTo(qreal opacity);
    void animationDidStop();

    QPointer<TCImageWindow> aWindow;
    QPointer<QWidget> m_titleBarView;
    QLabel* m_titleLabel = nullptr;
    QPushButton* m_aboutlink = nullptr;
    QLabel* m_productLabel = nullptr;
    QLabel* m_descriptionLabel = nullptr;
    QLabel* m_copyrightLabel = nullptr;
    QWidget* m_aboutlinkLine = nullptr;
    bool m_shuttingDown = false;
    QPropertyAnimation* m_fade = nullptr;
    QEventLoop* m_modalLoop = nullptr;
};
