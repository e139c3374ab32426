#include "TCImageWindow.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QResizeEvent>
#include <QTextEdit>

#include <cmath>

#include "KLTitlebarView.h"

namespace {

// The window's own strip and buttons as they stand in a window with the
// standard title bar: the strip is 22 high, the buttons 14 wide and 16 high
// with their tops 3 below the window's top edge, the first at x 7 and the
// others 6 apart.
constexpr int kStandardStripHeight = 22;
constexpr int kStandardButtonWidth = 14;
constexpr int kStandardButtonHeight = 16;
constexpr int kStandardButtonTop = 3;
constexpr int kStandardFirstButtonX = 7;
constexpr int kStandardButtonGap = 6;

QRect StandardButtonFrame(NSWindowButton kind)
{
    int index = kind == NSWindowCloseButton ? 0 : kind == NSWindowMiniaturizeButton ? 1 : 2;
    return QRect(kStandardFirstButtonX + index * (kStandardButtonWidth + kStandardButtonGap), kStandardButtonTop,
                 kStandardButtonWidth, kStandardButtonHeight);
}

// Worked out once for every window; a stored 0 counts as not worked out yet.
struct SharedMetrics {
    qreal minimumTitleBarHeight = 0;
    qreal defaultLeftMargin = 0;
    qreal defaultSeparation = 0;
};

SharedMetrics& Metrics()
{
    static SharedMetrics metrics;
    if (metrics.minimumTitleBarHeight == 0) {
        // Frame height less the content height of the standard frame.
        metrics.minimumTitleBarHeight = kStandardStripHeight;
    }
    if (metrics.defaultLeftMargin == 0)
        metrics.defaultLeftMargin = StandardButtonFrame(NSWindowCloseButton).x();
    if (metrics.defaultSeparation == 0) {
        QRect close = StandardButtonFrame(NSWindowCloseButton);
        QRect minimise = StandardButtonFrame(NSWindowMiniaturizeButton);
        metrics.defaultSeparation = minimise.x() - (close.x() + close.width());
    }
    return metrics;
}

// The kinds of child widgets that follow the window's main state: the
// interactive controls (labels and plain containers are left alone).
bool IsControl(QObject* child)
{
    return qobject_cast<QAbstractButton*>(child) || qobject_cast<QLineEdit*>(child) ||
           qobject_cast<QAbstractSlider*>(child) || qobject_cast<QAbstractSpinBox*>(child) ||
           qobject_cast<QComboBox*>(child) || qobject_cast<QTextEdit*>(child);
}

}  // namespace

// ---------------------------------------------------------------- delegate

bool TCImageWindowDelegate::windowShouldClose(TCImageWindow*) { return true; }
void TCImageWindowDelegate::windowWillClose(TCImageWindow*) {}
void TCImageWindowDelegate::windowDidResize(TCImageWindow*) {}
void TCImageWindowDelegate::windowDidMove(TCImageWindow*) {}
void TCImageWindowDelegate::windowDidBecomeKey(TCImageWindow*) {}
void TCImageWindowDelegate::windowDidResignKey(TCImageWindow*) {}
QRect TCImageWindowDelegate::windowWillPositionSheet(TCImageWindow*, QWidget*, const QRect& rect) { return rect; }

bool TCImageWindowDelegateProxy::windowShouldClose(TCImageWindow* sender)
{
    return m_secondaryDelegate ? m_secondaryDelegate->windowShouldClose(sender) : true;
}

void TCImageWindowDelegateProxy::windowWillClose(TCImageWindow* window)
{
    if (m_secondaryDelegate)
        m_secondaryDelegate->windowWillClose(window);
}

void TCImageWindowDelegateProxy::windowDidResize(TCImageWindow* window)
{
    if (m_secondaryDelegate)
        m_secondaryDelegate->windowDidResize(window);
}

void TCImageWindowDelegateProxy::windowDidMove(TCImageWindow* window)
{
    if (m_secondaryDelegate)
        m_secondaryDelegate->windowDidMove(window);
}

void TCImageWindowDelegateProxy::windowDidBecomeKey(TCImageWindow* window)
{
    if (m_secondaryDelegate)
        m_secondaryDelegate->windowDidBecomeKey(window);
}

void TCImageWindowDelegateProxy::windowDidResignKey(TCImageWindow* window)
{
    if (m_secondaryDelegate)
        m_secondaryDelegate->windowDidResignKey(window);
}

// Sheets hang from the strip's lower edge, whatever the users' delegate says.
QRect TCImageWindowDelegateProxy::windowWillPositionSheet(TCImageWindow* window, QWidget*, const QRect& rect)
{
    QRect placed = rect;
    if (window)
        placed.moveTop(qRound(window->titleBarHeight()));
    return placed;
}

// ---------------------------------------------------------------- standard buttons

TCStandardWindowButton::TCStandardWindowButton(NSWindowButton kind, QWidget* parent)
    : QAbstractButton(parent), m_kind(kind)
{
    setFocusPolicy(Qt::NoFocus);
    resize(kStandardButtonWidth, kStandardButtonHeight);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_action)
            m_action();
    });
}

void TCStandardWindowButton::setAction(std::function<void()> action) { m_action = std::move(action); }

QSize TCStandardWindowButton::sizeHint() const { return QSize(kStandardButtonWidth, kStandardButtonHeight); }

void TCStandardWindowButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    auto* owner = qobject_cast<TCImageWindow*>(window());
    bool active = owner && owner->drawsAsMainWindow() && isEnabled();
    QColor fill(205, 205, 205);
    if (active) {
        switch (m_kind) {
        case NSWindowCloseButton: fill = QColor(255, 95, 87); break;
        case NSWindowMiniaturizeButton: fill = QColor(254, 188, 46); break;
        default: fill = QColor(40, 200, 64); break;
        }
    }
    const qreal diameter = 12;
    QRectF circle((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter, diameter);
    painter.setPen(QPen(fill.darker(115), 0.5));
    painter.setBrush(isDown() ? fill.darker(120) : fill);
    painter.drawEllipse(circle);
    if (m_bHover && active) {
        painter.setPen(QPen(QColor(0, 0, 0, 150), 1.2));
        QPointF c = circle.center();
        if (m_kind == NSWindowCloseButton) {
            painter.drawLine(c + QPointF(-3, -3), c + QPointF(3, 3));
            painter.drawLine(c + QPointF(-3, 3), c + QPointF(3, -3));
        } else {
            painter.drawLine(c + QPointF(-3.5, 0), c + QPointF(3.5, 0));
            if (m_kind == NSWindowZoomButton)
                painter.drawLine(c + QPointF(0, -3.5), c + QPointF(0, 3.5));
        }
    }
}

void TCStandardWindowButton::enterEvent(QEnterEvent* event)
{
    m_bHover = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TCStandardWindowButton::leaveEvent(QEvent* event)
{
    m_bHover = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// ---------------------------------------------------------------- window

QPalette TCWindowPalette()
{
    QPalette palette;
    const QColor ground(28, 31, 35);
    const QColor text(196, 206, 232);
    const QColor muted(110, 116, 134);
    palette.setColor(QPalette::Window, ground);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(32, 36, 39));
    palette.setColor(QPalette::AlternateBase, QColor(37, 41, 45));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(52, 60, 84));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, QColor(98, 108, 138));
    palette.setColor(QPalette::Midlight, QColor(70, 78, 102));
    palette.setColor(QPalette::Mid, QColor(52, 60, 84));
    palette.setColor(QPalette::Dark, QColor(20, 22, 30));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(52, 120, 214));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(120, 170, 240));
    palette.setColor(QPalette::LinkVisited, QColor(160, 140, 230));
    palette.setColor(QPalette::ToolTipBase, QColor(44, 50, 68));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, muted);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, muted);
    return palette;
}

QColor TCWindowTitleTextColor() { return QColor(160, 170, 211); }

TCImageWindow::TCImageWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setUp(QRect(0, 0, 640, 480));
}

TCImageWindow::TCImageWindow(const QRect& contentRect, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    const int strip = qRound(minimumTitleBarHeight());
    setUp(QRect(contentRect.x(), contentRect.y() - strip, contentRect.width(), contentRect.height() + strip));
}

// Children (strip, buttons, content) go with the widget, the connection to
// the application with this object; the delegate is not ours.
TCImageWindow::~TCImageWindow() = default;

qreal TCImageWindow::minimumTitleBarHeight() { return Metrics().minimumTitleBarHeight; }
qreal TCImageWindow::defaultTrafficLightButtonsLeftMargin() { return Metrics().defaultLeftMargin; }
qreal TCImageWindow::defaultTrafficLightSeparation() { return Metrics().defaultSeparation; }

void TCImageWindow::setUp(const QRect& frame)
{
    setGeometry(frame);
    setPalette(TCWindowPalette());
    m_showsBaselineSeparator = true;
    m_centerTrafficLightButtons = true;
    m_titleBarHeight = m_cachedTitleBarHeight = minimumTitleBarHeight();
    m_trafficLightButtonsLeftMargin = defaultTrafficLightButtonsLeftMargin();
    m_delegateProxy = std::make_unique<TCImageWindowDelegateProxy>();
    m_trafficLightButtonsTopMargin = m_fullScreenButtonTopMargin = 3;
    m_trafficLightSeparation = defaultTrafficLightSeparation();

    // The content area: everything below the standard strip.
    m_contentView = new QWidget(this);
    m_contentView->setGeometry(0, qRound(m_titleBarHeight), frame.width(), frame.height() - qRound(m_titleBarHeight));
    m_laidOutSize = size();

    const NSWindowButton kinds[3] = {NSWindowCloseButton, NSWindowMiniaturizeButton, NSWindowZoomButton};
    for (int i = 0; i < 3; ++i) {
        auto* button = new TCStandardWindowButton(kinds[i], this);
        button->setGeometry(StandardButtonFrame(kinds[i]));
        m_standardButtons[i] = button;
    }
    m_standardButtons[0]->setAction([this] { performClose(); });
    m_standardButtons[1]->setAction([this] { performMiniaturize(); });
    m_standardButtons[2]->setAction([this] { performZoom(); });

    // The application turning active or inactive changes how the strip draws.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this] { updateTitlebarView(); });

    // The strip lies behind everything else of the window.
    auto* container = new KLTitlebarContainer(this);
    container->setGeometry(0, 0, 0, 0);
    container->lower();
    m_titleBarContainer = container;
    auto* view = new KLTitlebarView();
    view->setGeometry(0, 0, 0, 0);
    setTitleBarView(view);

    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
}

// ---------------------------------------------------------------- properties

void TCImageWindow::setTitleBarView(QWidget* view)
{
    if (!view || view == m_titleBarView)
        return;
    delete m_titleBarView.data();
    m_titleBarView = view;
    // The window owns the view; it fills the strip.
    QWidget* holder = m_titleBarContainer ? static_cast<QWidget*>(m_titleBarContainer) : this;
    view->setParent(holder);
    view->setGeometry(m_titleBarContainer ? m_titleBarContainer->rect() : QRect());
    view->show();
}

KLTitlebarContainer* TCImageWindow::titleBarContainer() const { return m_titleBarContainer; }

void TCImageWindow::setTitleBarContainer(KLTitlebarContainer* container) { m_titleBarContainer = container; }

void TCImageWindow::setTitleBarHeight(qreal height)
{
    if (height == m_titleBarHeight)
        return;
    m_titleBarHeight = height;
    m_cachedTitleBarHeight = height;
    layoutTrafficLightsAndContent();
    redrawTitleBar();
}

void TCImageWindow::setShowsBaselineSeparator(bool shows)
{
    if (shows == m_showsBaselineSeparator)
        return;
    m_showsBaselineSeparator = shows;
    if (m_titleBarView)
        m_titleBarView->update();
}

void TCImageWindow::setTrafficLightButtonsLeftMargin(qreal margin)
{
    if (margin == m_trafficLightButtonsLeftMargin)
        return;
    m_trafficLightButtonsLeftMargin = margin;
    layoutTrafficLightsAndContent();
    redrawTitleBar();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::setTrafficLightSeparation(qreal separation)
{
    if (separation == m_trafficLightSeparation)
        return;
    m_trafficLightSeparation = separation;
    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::setCenterTrafficLightButtons(bool center)
{
    if (center == m_centerTrafficLightButtons)
        return;
    m_centerTrafficLightButtons = center;
    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::setVerticalTrafficLightButtons(bool vertical)
{
    if (vertical == m_verticalTrafficLightButtons)
        return;
    m_verticalTrafficLightButtons = vertical;
    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::setFullScreenButtonRightMargin(qreal margin)
{
    m_setFullScreenButtonRightMargin = true;
    if (margin == m_fullScreenButtonRightMargin)
        return;
    m_fullScreenButtonRightMargin = margin;
    layoutTrafficLightsAndContent();
    redrawTitleBar();
}

void TCImageWindow::setCenterFullScreenButton(bool center)
{
    if (center == m_centerFullScreenButton)
        return;
    m_centerFullScreenButton = center;
    layoutTrafficLightsAndContent();
}

void TCImageWindow::setShowsTitle(bool shows)
{
    if (shows == m_showsTitle)
        return;
    m_showsTitle = shows;
    redrawTitleBar();
}

void TCImageWindow::setTitle(const QString& title)
{
    setWindowTitle(title);
    layoutTrafficLightsAndContent();
    redrawTitleBar();
}

void TCImageWindow::replaceButton(QPointer<QAbstractButton>& slot, QAbstractButton* button, NSWindowButton kind)
{
    if (button == slot)
        return;
    // The window owned the old button.
    delete slot.data();
    slot = button;
    if (!button)
        return;
    switch (kind) {
    case NSWindowCloseButton: connect(button, &QAbstractButton::clicked, this, [this] { performClose(); }); break;
    case NSWindowMiniaturizeButton:
        connect(button, &QAbstractButton::clicked, this, [this] { performMiniaturize(); });
        break;
    case NSWindowZoomButton: connect(button, &QAbstractButton::clicked, this, [this] { performZoom(); }); break;
    case NSWindowFullScreenButton:
        connect(button, &QAbstractButton::clicked, this, [this] { toggleFullScreen(); });
        break;
    }
    button->setParent(this);
    if (TCStandardWindowButton* standard = standardWindowButton(kind))
        button->move(standard->pos());
    button->show();
    button->raise();
}

void TCImageWindow::setCloseButton(QAbstractButton* button) { replaceButton(m_closeButton, button, NSWindowCloseButton); }

void TCImageWindow::setMinimizeButton(QAbstractButton* button)
{
    replaceButton(m_minimizeButton, button, NSWindowMiniaturizeButton);
}

void TCImageWindow::setZoomButton(QAbstractButton* button) { replaceButton(m_zoomButton, button, NSWindowZoomButton); }

void TCImageWindow::setFullScreenButton(QAbstractButton* button)
{
    replaceButton(m_fullScreenButton, button, NSWindowFullScreenButton);
}

TCStandardWindowButton* TCImageWindow::standardWindowButton(NSWindowButton kind) const
{
    switch (kind) {
    case NSWindowCloseButton: return m_standardButtons[0];
    case NSWindowMiniaturizeButton: return m_standardButtons[1];
    case NSWindowZoomButton: return m_standardButtons[2];
    default: return nullptr;
    }
}

TCImageWindowDelegate* TCImageWindow::delegate() const
{
    return m_delegateProxy ? m_delegateProxy->secondaryDelegate() : nullptr;
}

void TCImageWindow::setDelegate(TCImageWindowDelegate* delegate)
{
    if (m_delegateProxy)
        m_delegateProxy->setSecondaryDelegate(delegate);
}

void TCImageWindow::setDelegateProxy(std::unique_ptr<TCImageWindowDelegateProxy> proxy)
{
    // The window always talks to some proxy; keep the users' delegate.
    if (!proxy)
        return;
    if (m_delegateProxy && !proxy->secondaryDelegate())
        proxy->setSecondaryDelegate(m_delegateProxy->secondaryDelegate());
    m_delegateProxy = std::move(proxy);
}

void TCImageWindow::setContentView(QWidget* view)
{
    if (!view || view == m_contentView)
        return;
    QRect place = m_contentView ? m_contentView->geometry() : QRect(0, 0, width(), height());
    delete m_contentView.data();
    m_contentView = view;
    view->setParent(this);
    view->setGeometry(place);
    view->show();
    fitContentView();
}

// ---------------------------------------------------------------- state

bool TCImageWindow::isKeyWindow() const { return isActiveWindow(); }

bool TCImageWindow::isMainWindow() const { return isActiveWindow(); }

bool TCImageWindow::drawsAsMainWindow() const
{
    return isMainWindow() && QGuiApplication::applicationState() == Qt::ApplicationActive;
}

bool TCImageWindow::isFullScreenWindow() const { return isFullScreen(); }

QRect TCImageWindow::sheetRect(QWidget* sheet, const QRect& proposed)
{
    return m_delegateProxy ? m_delegateProxy->windowWillPositionSheet(this, sheet, proposed) : proposed;
}

void TCImageWindow::placeSheet(QWidget* sheet)
{
    if (!sheet)
        return;
    QRect rect = sheetRect(sheet, QRect(0, qRound(minimumTitleBarHeight()), width(), 0));
    QPoint topLeft(rect.x() + (rect.width() - sheet->width()) / 2, rect.y());
    sheet->move(mapToGlobal(topLeft));
}

void TCImageWindow::performClose()
{
    if (m_delegateProxy && !m_delegateProxy->windowShouldClose(this))
        return;
    close();
}

void TCImageWindow::performMiniaturize() { showMinimized(); }

void TCImageWindow::performZoom()
{
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void TCImageWindow::toggleFullScreen()
{
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void TCImageWindow::miniaturize(QObject*) { showMinimized(); }

bool TCImageWindow::close()
{
    m_bClosingDirectly = true;
    bool closed = QWidget::close();
    m_bClosingDirectly = false;
    return closed;
}

// ---------------------------------------------------------------- events

void TCImageWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutTrafficLightsAndContent();
    if (m_delegateProxy)
        m_delegateProxy->windowDidResize(this);
}

// The content view follows the window as the window system would size it:
// it keeps its distance to the bottom edge and grows with the width. A hidden
// window hears of its resizes only when shown, so this measures against the
// size the content was last placed for.
void TCImageWindow::followFrameSize()
{
    const QSize old = m_laidOutSize;
    const QSize now = size();
    m_laidOutSize = now;
    if (!m_contentView || !old.isValid() || old == now)
        return;
    const QRect g = m_contentView->geometry();
    const int fromBottom = old.height() - (g.y() + g.height());
    const int newWidth = qMax(0, g.width() + (now.width() - old.width()));
    m_contentView->setGeometry(g.x(), now.height() - fromBottom - g.height(), newWidth, g.height());
}

void TCImageWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    layoutTrafficLightsAndContent();
    if (m_delegateProxy)
        m_delegateProxy->windowDidMove(this);
}

void TCImageWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            becomeKeyWindow();
        else
            resignKeyWindow();
    } else if (event->type() == QEvent::WindowStateChange) {
        const bool fullScreen = isFullScreen();
        if (fullScreen && !m_bWasFullScreen)
            windowWillEnterFullScreen();
        else if (!fullScreen && m_bWasFullScreen)
            windowWillExitFullScreen();
        m_bWasFullScreen = fullScreen;
        if (m_titleBarView)
            m_titleBarView->update();
    }
}

void TCImageWindow::closeEvent(QCloseEvent* event)
{
    if (!m_bClosingDirectly && m_delegateProxy && !m_delegateProxy->windowShouldClose(this)) {
        event->ignore();
        return;
    }
    if (m_delegateProxy)
        m_delegateProxy->windowWillClose(this);
    event->accept();
}

void TCImageWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    layoutTrafficLightsAndContent();
}

void TCImageWindow::becomeKeyWindow()
{
    updateTitlebarView();
    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
    if (m_delegateProxy)
        m_delegateProxy->windowDidBecomeKey(this);
}

void TCImageWindow::resignKeyWindow()
{
    updateTitlebarView();
    layoutTrafficLightsAndContent();
    if (m_delegateProxy)
        m_delegateProxy->windowDidResignKey(this);
}

// Only this window's own full-screen changes concern its strip.
void TCImageWindow::windowWillEnterFullScreen()
{
    if (!m_hideTitleBarInFullScreen)
        return;
    m_titleBarHeight = 0;
    layoutTrafficLightsAndContent();
    redrawTitleBar();
    if (m_titleBarView)
        m_titleBarView->hide();
}

void TCImageWindow::windowWillExitFullScreen()
{
    if (!m_hideTitleBarInFullScreen)
        return;
    m_titleBarHeight = m_cachedTitleBarHeight;
    layoutTrafficLightsAndContent();
    redrawTitleBar();
    if (m_titleBarView)
        m_titleBarView->show();
}

// ---------------------------------------------------------------- layout

QRectF TCImageWindow::upRect(const QWidget* w) const
{
    if (!w)
        return QRectF();
    QRect g = w->geometry();
    return QRectF(g.x(), height() - g.y() - g.height(), g.width(), g.height());
}

void TCImageWindow::setUpRect(QWidget* w, const QRectF& r)
{
    if (!w)
        return;
    const int x = qRound(r.x());
    const int wdt = qRound(r.width());
    const int hgt = qRound(r.height());
    const int y = qRound(height() - r.y() - r.height());
    w->setGeometry(x, y, wdt, hgt);
}

QAbstractButton* TCImageWindow::buttonToLayOut(NSWindowButton kind)
{
    QAbstractButton* supplied = nullptr;
    switch (kind) {
    case NSWindowCloseButton: supplied = m_closeButton; break;
    case NSWindowMiniaturizeButton: supplied = m_minimizeButton; break;
    case NSWindowZoomButton: supplied = m_zoomButton; break;
    case NSWindowFullScreenButton: supplied = m_fullScreenButton; break;
    }
    TCStandardWindowButton* standard = standardWindowButton(kind);
    if (supplied) {
        if (standard)
            standard->hide();
        return supplied;
    }
    if (standard && standard->isHidden())
        standard->show();
    return standard;
}

void TCImageWindow::layoutTrafficLightsAndContent()
{
    followFrameSize();
    const qreal frameWidth = width();
    const qreal frameHeight = height();
    const QRectF strip(0, frameHeight - m_titleBarHeight, frameWidth, m_titleBarHeight);
    if (m_titleBarContainer) {
        setUpRect(m_titleBarContainer, strip);
        if (m_titleBarView && m_titleBarView->parentWidget() == m_titleBarContainer)
            m_titleBarView->setGeometry(m_titleBarContainer->rect());
    }

    QAbstractButton* close = buttonToLayOut(NSWindowCloseButton);
    QAbstractButton* minimise = buttonToLayOut(NSWindowMiniaturizeButton);
    QAbstractButton* zoom = buttonToLayOut(NSWindowZoomButton);
    QRectF c = upRect(close), m = upRect(minimise), z = upRect(zoom);
    const qreal sep = m_trafficLightSeparation;
    const qreal midY = strip.y() + strip.height() / 2;
    const qreal maxY = strip.y() + strip.height();

    if (!m_verticalTrafficLightButtons) {
        const qreal y0 = m_centerTrafficLightButtons ? std::round(midY - c.height() / 2)
                                                     : maxY - c.height() - m_trafficLightButtonsTopMargin;
        const qreal y = y0 + m_topButtonMoveUp;
        c.moveTo(m_trafficLightButtonsLeftMargin, y);
        m.moveTo(c.x() + c.width() + sep, y);
        z.moveTo(m.x() + m.width() + sep, y);
    } else {
        const qreal total = c.height() + m.height() + z.height() + 2 * (sep - 2);
        const qreal y0 = m_centerTrafficLightButtons ? std::round(midY - total / 2)
                                                     : maxY - total - m_trafficLightButtonsTopMargin;
        z.moveTo(m_trafficLightButtonsLeftMargin, y0);
        m.moveTo(m_trafficLightButtonsLeftMargin, z.y() + z.height() + sep - 2);
        c.moveTo(m_trafficLightButtonsLeftMargin, m.y() + m.height() + sep - 2);
    }
    setUpRect(close, c);
    setUpRect(minimise, m);
    setUpRect(zoom, z);

    if (QAbstractButton* full = buttonToLayOut(NSWindowFullScreenButton)) {
        QRectF f = upRect(full);
        if (!m_setFullScreenButtonRightMargin)
            setFullScreenButtonRightMargin(strip.width() - (f.x() + f.width()));
        f = upRect(full);
        f.moveLeft(strip.width() - f.width() - m_fullScreenButtonRightMargin);
        f.moveTop(m_centerFullScreenButton ? std::round(midY - f.height() / 2)
                                           : maxY - f.height() - m_trafficLightButtonsTopMargin);
        setUpRect(full, f);
    }

    fitContentView();
}

void TCImageWindow::fitContentView()
{
    if (!m_contentView)
        return;
    QRectF r = upRect(m_contentView);
    QRectF fitted(r.x(), r.y(), r.width(), height() - m_titleBarHeight);
    if (fitted != r) {
        setUpRect(m_contentView, fitted);
        m_contentView->update();
    }
}

void TCImageWindow::updateTitlebarView()
{
    if (!m_titleBarView)
        return;
    m_titleBarView->update();
    const bool main = drawsAsMainWindow();
    for (QObject* child : m_titleBarView->children()) {
        if (IsControl(child))
            static_cast<QWidget*>(child)->setEnabled(main);
    }
    for (TCStandardWindowButton* button : m_standardButtons) {
        if (button)
            button->update();
    }
}

// The buttons' hover follows the pointer by enter and leave events; after
// they moved they only need to be redrawn at their new places.
void TCImageWindow::setupTrafficLightsTrackingArea()
{
    for (TCStandardWindowButton* button : m_standardButtons) {
        if (button)
            button->update();
    }
}

void TCImageWindow::redrawTitleBar()
{
    if (m_titleBarView)
        m_titleBarView->update();
}
