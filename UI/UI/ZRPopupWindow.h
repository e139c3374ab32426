// What every small pop-up window of the application shares (recovery
// progress, recovery end windows, scan-result progress, APFS notice, update
// check): a title-bar window made on first need, the 22-point header strip
// with the centred product title, fading in when shown and out before a
// close asked through the window, and a modal session that the creator runs
// and the window ends itself.
//
// Usage by a creator:
//   ZRProgressWindow progress;            // a subclass
//   progress.setStrPostName("QueryProgressInfo");
//   progress.runModal();                  // centres, shows, returns when the window ends the session
//   if (progress.getResult()) ...
#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>

#include "TCImageWindow.h"

class QEventLoop;
class QPropertyAnimation;
class TCImageButton;

// A text field that acts as a link: underlined coloured text and a click
// signal. linkText() is the plain text the link stands for.
class ZRLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit ZRLinkLabel(QWidget* parent = nullptr);
    const QString& linkText() const { return m_linkText; }
    // The folder link of the recovery end windows: the text over its whole
    // length in a light blue that reads on the windows' dark ground (110, 168,
    // 240), underlined, 12-pixel system font.
    void setLinkText(const QString& text);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString m_linkText;
};

// Where the pop-up windows hand addresses and folders to the desktop (the
// browser, the file manager). Tests replace it so nothing is opened.
class ZRPopupDesktop {
public:
    // Answers whether the address could be handed on.
    using Opener = std::function<bool(const QUrl&)>;
    // nullptr restores the desktop services (and xdg-open for folders).
    static void SetOpener(Opener opener);
    // Opens url; nothing for an empty or invalid one.
    static void Open(const QUrl& url);
    // Opens a web address from the link table; nothing for an empty one.
    static void OpenAddress(const QString& address);
    // Opens a folder in the file manager; nothing for an empty path. When
    // that does not work (no opener program, or it ends with an error),
    // failed runs on the main thread, at once or once the program ended.
    static void OpenFolder(const QString& path, std::function<void()> failed = {});
    // The program that opens folders without a test opener: "xdg-open",
    // which desktops set up to start their file manager. An empty name
    // restores it.
    static void SetFolderProgram(const QString& program);
};

// A localised format that takes one number, filled in safely: "%%" is a
// percent sign; the first conversion takes the value (floating conversions
// such as "%.0f" with their flags, width and precision; integer conversions
// and "%@" the whole number); any further conversion, and anything that is
// not a conversion, stands as written. A text from a string table can so
// never read beyond the one value given.
QString FormatWithOneNumber(const QString& format, double value);

class ZRPopupWindow : public QObject, public TCImageWindowDelegate {
    Q_OBJECT
public:
    enum TerminateReply { NSTerminateCancel = 0, NSTerminateNow = 1 };
    // Length of the fades, in milliseconds.
    static constexpr int kFadeMs = 250;

    ~ZRPopupWindow() override;

    // The window, loaded on first call (the widgets are made, then
    // awakeFromNib and windowDidLoad run). Properties a subclass reads while
    // loading must be set before.
    TCImageWindow* window();
    bool isWindowLoaded() const { return m_bLoaded; }
    QWidget* titleBarView() const { return m_titleBarView; }
    QLabel* aTitleLabel() const { return m_aTitleLabel; }
    bool shuttingDown() const { return m_shuttingDown; }

    // Centres the window on the screen, shows it application-modal and
    // returns when the modal session ends (stopModal). Does nothing while a
    // session of this window runs.
    void runModal();
    // Ends the modal session; nothing when none runs.
    void stopModal();
    bool isRunningModal() const { return m_modalLoop != nullptr; }

    // A close asked through the window: fades out and refuses; the window
    // closes when the fade ends.
    bool windowShouldClose(TCImageWindow* sender) override;
    // However the window went, its modal session goes with it.
    void windowWillClose(TCImageWindow* sender) override;
    // A quit request: now when a fade-out for quitting has already begun,
    // otherwise that fade-out begins and the quit waits for it.
    TerminateReply applicationShouldTerminate();
    // The end of a fade: only when the window is fully transparent, ends the
    // modal session, closes the window and, when quitting, asks the program
    // to end.
    virtual void animationDidStop();

    // What "ask the program to end" does; the default quits the event loop
    // of the application. nullptr restores the default.
    static void SetTerminateHandler(std::function<void()> handler);

protected:
    // contentSize: the window's area below the strip.
    explicit ZRPopupWindow(const QSize& contentSize, QObject* parent = nullptr);

    // The steps of loading, in this order. loadInterface makes the controls
    // (what an interface file holds); awakeFromNib sets their texts and the
    // fading; windowDidLoad sets up the title bar.
    virtual void loadInterface(QWidget* content) = 0;
    virtual void awakeFromNib();
    virtual void windowDidLoad();

    // Fading set-up: shuttingDown cleared, a window not shown yet starts
    // transparent and fades in.
    void setUpFading();
    // Title-bar height 22 and button margin 13, the title-bar view kept.
    void setUpTitleBar();
    // The shared pop-up title bar: setUpTitleBar, the "pop_header_bg"
    // picture across the strip, the centred title label (made once; its
    // text is the product title, followed by a blank unless told otherwise).
    void buildPopupTitleBar(bool trailingBlank = true);
    // The window's close button runs action instead of asking the delegate.
    void redirectCloseButton(std::function<void()> action);
    void fadeTo(qreal opacity);
    // A picture button of the pop-up windows with a localised caption,
    // switched on.
    static TCImageButton* MakeCaptionButton(QWidget* parent, const QRect& frame);
    static QLabel* MakeText(QWidget* parent, const QRect& frame, int pixelSize, bool wrap);
    // The hidden line under a folder link that says when the folder could
    // not be opened ("PAGE_FOUR_RECOVER_OPEN_FOLDER_FAILED").
    static QLabel* MakeOpenFailedNote(QWidget* parent, const QRect& frame);
    // Opens folder in the file manager and shows note when that fails.
    static void OpenFolderOrSay(const QString& folder, QLabel* note);
    // Closes the window at once (no fade, no question to the delegate).
    void closeWindowNow();
    void requestTerminate();

    QPointer<TCImageWindow> aWindow;
    QPointer<QWidget> m_titleBarView;
    QPointer<QLabel> m_aTitleLabel;
    bool m_shuttingDown = false;

private:
    QSize m_contentSize;
    bool m_bLoaded = false;
    QPropertyAnimation* m_fade = nullptr;
    QEventLoop* m_modalLoop = nullptr;
};
