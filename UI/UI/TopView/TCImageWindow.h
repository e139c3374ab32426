// The window of every screen: a frameless top-level widget whose title bar is
// a custom-drawn strip of any height (22 for the dialogs, 90 for the results
// window). The strip (a KLTitlebarContainer holding a KLTitlebarView) lies
// behind everything else at the top of the window, the content view fills
// the rest, and the close, minimise and zoom buttons are placed inside the
// strip by the window's own arithmetic.
//
// Screens set titleBarHeight, trafficLightButtonsLeftMargin and
// topButtonMoveUp once the window is made, then add their own controls as
// children of titleBarView() and of contentView().
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPainterPath>
#include <QPalette>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class KLTitlebarContainer;
class KLTitlebarView;
class QPainter;
class TCImageWindow;

// Which of the window's own buttons standardWindowButton() returns.
enum NSWindowButton {
    NSWindowCloseButton = 0,
    NSWindowMiniaturizeButton = 1,
    NSWindowZoomButton = 2,
    NSWindowFullScreenButton = 7,
};

// The colours every window of the application draws its own widgets with:
// a dark ground with light text, the tone of the pictures and of the strip.
// Each window starts with it; widgets that set their own colours keep them.
QPalette TCWindowPalette();
// The text colour of a window's centred title over the strip or the pop-up
// header; it stands out from both.
QColor TCWindowTitleTextColor();

// A text shadow of the title (offset in points, y upwards as drawn: a
// negative y puts the shadow below the text).
struct TCShadow {
    QPointF shadowOffset;
    qreal shadowBlurRadius = 0;
    QColor shadowColor;
};

// What users of the window may hear from it. Every operation has a default,
// so a delegate overrides only what it needs. Delegates are not owned.
class TCImageWindowDelegate {
public:
    virtual ~TCImageWindowDelegate() = default;
    // A close through performClose() or a close request from the system;
    // false keeps the window open.
    virtual bool windowShouldClose(TCImageWindow* sender);
    virtual void windowWillClose(TCImageWindow* window);
    virtual void windowDidResize(TCImageWindow* window);
    virtual void windowDidMove(TCImageWindow* window);
    virtual void windowDidBecomeKey(TCImageWindow* window);
    virtual void windowDidResignKey(TCImageWindow* window);
    // Where a sheet of the window goes: rect is in the window's coordinates
    // (y down), its y is the sheet's top edge.
    virtual QRect windowWillPositionSheet(TCImageWindow* window, QWidget* sheet, const QRect& rect);
};

// Sits between the window and the delegate its users set: passes every
// operation on, except sheet placement, which it answers itself so that
// sheets hang from the lower edge of the custom strip.
class TCImageWindowDelegateProxy : public TCImageWindowDelegate {
public:
    TCImageWindowDelegate* secondaryDelegate() const { return m_secondaryDelegate; }
    void setSecondaryDelegate(TCImageWindowDelegate* delegate) { m_secondaryDelegate = delegate; }

    bool windowShouldClose(TCImageWindow* sender) override;
    void windowWillClose(TCImageWindow* window) override;
    void windowDidResize(TCImageWindow* window) override;
    void windowDidMove(TCImageWindow* window) override;
    void windowDidBecomeKey(TCImageWindow* window) override;
    void windowDidResignKey(TCImageWindow* window) override;
    QRect windowWillPositionSheet(TCImageWindow* window, QWidget* sheet, const QRect& rect) override;

private:
    TCImageWindowDelegate* m_secondaryDelegate = nullptr;
};

// The window's own close, minimise and zoom buttons: small round buttons
// drawn in code. Their action can be replaced by the screens (for example
// the root window's close button ends the program).
class TCStandardWindowButton : public QAbstractButton {
    Q_OBJECT
public:
    TCStandardWindowButton(NSWindowButton kind, QWidget* parent);

    NSWindowButton kind() const { return m_kind; }
    // What a click does; replaces the window's default handling.
    void setAction(std::function<void()> action);
    const std::function<void()>& action() const { return m_action; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    NSWindowButton m_kind;
    std::function<void()> m_action;
    bool m_bHover = false;
};

// The dynamic property a main window (root, results) sets true to get the
// application's menu as a button in its title bar when it is shown.
inline constexpr char kTCApplicationMenuProperty[] = "carriesApplicationMenu";

class TCImageWindow : public QWidget {
    Q_OBJECT
public:
    // Replaces the strip's own drawing: gets the painter, whether the window
    // draws as main, the strip's bounds and the clipping path of its shape.
    using TitleBarDrawingBlock =
        std::function<void(QPainter& painter, bool drawsAsMain, const QRectF& drawingRect, const QPainterPath& clippingPath)>;

    explicit TCImageWindow(QWidget* parent = nullptr);
    // A window whose content area (below the standard-height strip) is
    // contentRect; the window frame grows by the strip above it.
    explicit TCImageWindow(const QRect& contentRect, QWidget* parent = nullptr);
    ~TCImageWindow() override;

    // Values shared by every window, worked out once: the height of the
    // standard strip, the standard x of the close button and the standard
    // gap between two neighbouring buttons.
    static qreal minimumTitleBarHeight();
    static qreal defaultTrafficLightButtonsLeftMargin();
    static qreal defaultTrafficLightSeparation();

    QWidget* titleBarView() const { return m_titleBarView; }
    // Ignored for nullptr or the current view; the old view is deleted.
    void setTitleBarView(QWidget* view);
    KLTitlebarContainer* titleBarContainer() const;
    void setTitleBarContainer(KLTitlebarContainer* container);

    qreal titleBarHeight() const { return m_titleBarHeight; }
    void setTitleBarHeight(qreal height);
    qreal cachedTitleBarHeight() const { return m_cachedTitleBarHeight; }
    void setCachedTitleBarHeight(qreal height) { m_cachedTitleBarHeight = height; }
    bool showsBaselineSeparator() const { return m_showsBaselineSeparator; }
    void setShowsBaselineSeparator(bool shows);

    qreal trafficLightButtonsLeftMargin() const { return m_trafficLightButtonsLeftMargin; }
    void setTrafficLightButtonsLeftMargin(qreal margin);
    qreal trafficLightButtonsTopMargin() const { return m_trafficLightButtonsTopMargin; }
    void setTrafficLightButtonsTopMargin(qreal margin) { m_trafficLightButtonsTopMargin = margin; }
    qreal trafficLightSeparation() const { return m_trafficLightSeparation; }
    void setTrafficLightSeparation(qreal separation);
    // Extra upward shift of the row of buttons; takes effect at the next
    // layout (a resize, a move, a title, a key change or a layout property).
    qreal topButtonMoveUp() const { return m_topButtonMoveUp; }
    void setTopButtonMoveUp(qreal moveUp) { m_topButtonMoveUp = moveUp; }
    bool centerTrafficLightButtons() const { return m_centerTrafficLightButtons; }
    void setCenterTrafficLightButtons(bool center);
    bool verticalTrafficLightButtons() const { return m_verticalTrafficLightButtons; }
    void setVerticalTrafficLightButtons(bool vertical);

    qreal fullScreenButtonRightMargin() const { return m_fullScreenButtonRightMargin; }
    void setFullScreenButtonRightMargin(qreal margin);
    // Whether the right margin above has been set, by a caller or by the
    // first layout.
    bool setFullScreenButtonRightMargin() const { return m_setFullScreenButtonRightMargin; }
    void setSetFullScreenButtonRightMargin(bool set) { m_setFullScreenButtonRightMargin = set; }
    qreal fullScreenButtonTopMargin() const { return m_fullScreenButtonTopMargin; }
    void setFullScreenButtonTopMargin(qreal margin) { m_fullScreenButtonTopMargin = margin; }
    bool centerFullScreenButton() const { return m_centerFullScreenButton; }
    void setCenterFullScreenButton(bool center);
    bool hideTitleBarInFullScreen() const { return m_hideTitleBarInFullScreen; }
    void setHideTitleBarInFullScreen(bool hide) { m_hideTitleBarInFullScreen = hide; }

    bool showsTitle() const { return m_showsTitle; }
    void setShowsTitle(bool shows);
    bool showsTitleInFullscreen() const { return m_showsTitleInFullscreen; }
    void setShowsTitleInFullscreen(bool shows) { m_showsTitleInFullscreen = shows; }
    QString title() const { return windowTitle(); }
    void setTitle(const QString& title);

    // Caller-supplied replacements of the window's own buttons (nullptr: the
    // window's own button again). The window takes ownership.
    QAbstractButton* closeButton() const { return m_closeButton; }
    void setCloseButton(QAbstractButton* button);
    QAbstractButton* minimizeButton() const { return m_minimizeButton; }
    void setMinimizeButton(QAbstractButton* button);
    QAbstractButton* zoomButton() const { return m_zoomButton; }
    void setZoomButton(QAbstractButton* button);
    QAbstractButton* fullScreenButton() const { return m_fullScreenButton; }
    void setFullScreenButton(QAbstractButton* button);
    // The window's own buttons; there is no own full-screen button (nullptr).
    TCStandardWindowButton* standardWindowButton(NSWindowButton kind) const;

    const TitleBarDrawingBlock& titleBarDrawingBlock() const { return m_titleBarDrawingBlock; }
    void setTitleBarDrawingBlock(TitleBarDrawingBlock block) { m_titleBarDrawingBlock = std::move(block); }

    // Appearance of the strip. Invalid colours and empty shadows stand for
    // "not set". Of these only the title-text ones are drawn with.
    QColor titleBarStartColor() const { return m_titleBarStartColor; }
    void setTitleBarStartColor(const QColor& c) { m_titleBarStartColor = c; }
    QColor titleBarEndColor() const { return m_titleBarEndColor; }
    void setTitleBarEndColor(const QColor& c) { m_titleBarEndColor = c; }
    QColor baselineSeparatorColor() const { return m_baselineSeparatorColor; }
    void setBaselineSeparatorColor(const QColor& c) { m_baselineSeparatorColor = c; }
    QColor titleTextColor() const { return m_titleTextColor; }
    void setTitleTextColor(const QColor& c) { m_titleTextColor = c; }
    const std::shared_ptr<TCShadow>& titleTextShadow() const { return m_titleTextShadow; }
    void setTitleTextShadow(std::shared_ptr<TCShadow> s) { m_titleTextShadow = std::move(s); }
    QColor inactiveTitleBarStartColor() const { return m_inactiveTitleBarStartColor; }
    void setInactiveTitleBarStartColor(const QColor& c) { m_inactiveTitleBarStartColor = c; }
    QColor inactiveTitleBarEndColor() const { return m_inactiveTitleBarEndColor; }
    void setInactiveTitleBarEndColor(const QColor& c) { m_inactiveTitleBarEndColor = c; }
    QColor inactiveBaselineSeparatorColor() const { return m_inactiveBaselineSeparatorColor; }
    void setInactiveBaselineSeparatorColor(const QColor& c) { m_inactiveBaselineSeparatorColor = c; }
    QColor inactiveTitleTextColor() const { return m_inactiveTitleTextColor; }
    void setInactiveTitleTextColor(const QColor& c) { m_inactiveTitleTextColor = c; }
    const std::shared_ptr<TCShadow>& inactiveTitleTextShadow() const { return m_inactiveTitleTextShadow; }
    void setInactiveTitleTextShadow(std::shared_ptr<TCShadow> s) { m_inactiveTitleTextShadow = std::move(s); }

    // The delegate users set (not owned), reached through the proxy.
    TCImageWindowDelegate* delegate() const;
    void setDelegate(TCImageWindowDelegate* delegate);
    TCImageWindowDelegateProxy* delegateProxy() const { return m_delegateProxy.get(); }
    void setDelegateProxy(std::unique_ptr<TCImageWindowDelegateProxy> proxy);

    // The area below the strip. The window owns it; a new one replaces (and
    // deletes) the old one and is fitted under the strip.
    QWidget* contentView() const { return m_contentView; }
    void setContentView(QWidget* view);

    // Key: the active window. Main: the same here. The window draws as main
    // when it is the main window and the application is active.
    bool isKeyWindow() const;
    bool isMainWindow() const;
    bool drawsAsMainWindow() const;
    bool isFullScreenWindow() const;

    // Where a sheet of this window goes, asked through the delegate proxy;
    // placeSheet moves the (top-level) sheet there, in screen coordinates.
    QRect sheetRect(QWidget* sheet, const QRect& proposed);
    void placeSheet(QWidget* sheet);

    // The standard actions of the window's buttons.
    void performClose();
    void performMiniaturize();
    void performZoom();
    void toggleFullScreen();
    void miniaturize(QObject* sender);
    // Closes without asking the delegate (a close request from elsewhere,
    // for example the window system, asks windowShouldClose first).
    bool close();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setUp(const QRect& frame);
    void layoutTrafficLightsAndContent();
    void fitContentView();
    void followFrameSize();
    void updateTitlebarView();
    void setupTrafficLightsTrackingArea();
    void becomeKeyWindow();
    void resignKeyWindow();
    void windowWillEnterFullScreen();
    void windowWillExitFullScreen();
    void redrawTitleBar();
    QAbstractButton* buttonToLayOut(NSWindowButton kind);
    void replaceButton(QPointer<QAbstractButton>& slot, QAbstractButton* button, NSWindowButton kind);

    // Geometry in the window's y-upwards arithmetic and back.
    QRectF upRect(const QWidget* w) const;
    void setUpRect(QWidget* w, const QRectF& r);

    QPointer<QWidget> m_titleBarView;
    QPointer<KLTitlebarContainer> m_titleBarContainer;
    QPointer<QWidget> m_contentView;
    qreal m_titleBarHeight = 0;
    qreal m_cachedTitleBarHeight = 0;
    bool m_showsBaselineSeparator = true;
    qreal m_trafficLightButtonsLeftMargin = 0;
    qreal m_trafficLightButtonsTopMargin = 3;
    qreal m_trafficLightSeparation = 0;
    qreal m_topButtonMoveUp = 0;
    bool m_centerTrafficLightButtons = true;
    bool m_verticalTrafficLightButtons = false;
    qreal m_fullScreenButtonRightMargin = 0;
    bool m_setFullScreenButtonRightMargin = false;
    qreal m_fullScreenButtonTopMargin = 3;
    bool m_centerFullScreenButton = false;
    bool m_hideTitleBarInFullScreen = false;
    bool m_showsTitle = false;
    bool m_showsTitleInFullscreen = false;
    QPointer<QAbstractButton> m_closeButton;
    QPointer<QAbstractButton> m_minimizeButton;
    QPointer<QAbstractButton> m_zoomButton;
    QPointer<QAbstractButton> m_fullScreenButton;
    TCStandardWindowButton* m_standardButtons[3] = {nullptr, nullptr, nullptr};
    TitleBarDrawingBlock m_titleBarDrawingBlock;
    QColor m_titleBarStartColor, m_titleBarEndColor, m_baselineSeparatorColor, m_titleTextColor;
    QColor m_inactiveTitleBarStartColor, m_inactiveTitleBarEndColor, m_inactiveBaselineSeparatorColor,
        m_inactiveTitleTextColor;
    std::shared_ptr<TCShadow> m_titleTextShadow, m_inactiveTitleTextShadow;
    std::unique_ptr<TCImageWindowDelegateProxy> m_delegateProxy;
    bool m_bClosingDirectly = false;
    bool m_bWasFullScreen = false;
    QSize m_laidOutSize;
};
