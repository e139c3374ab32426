#include "TCWindowButton.h"

#include <QPainter>
#include <QWindowStateChangeEvent>

#include <map>
#include <memory>

#include "NotificationCenter.h"

const char* const kTCWindowButtonGroupDefault = "com.vantrel.TCImageWindow.defaultWindowButtonGroup";
const char* const TCWindowButtonGroupDidUpdateRolloverStateNotification =
    "TCWindowButtonGroupDidUpdateRolloverStateNotification";

namespace {

// Every group ever asked for, by identifier; kept for the whole run.
std::map<QString, std::unique_ptr<TCWindowButtonGroup>>& Groups()
{
    static std::map<QString, std::unique_ptr<TCWindowButtonGroup>> groups;
    return groups;
}

}  // namespace

// ---------------------------------------------------------------- group

TCWindowButtonGroup* TCWindowButtonGroup::groupWithIdentifier(const QString& identifier)
{
    const QString key = identifier.isNull() ? QString::fromLatin1(kTCWindowButtonGroupDefault) : identifier;
    auto& groups = Groups();
    auto it = groups.find(key);
    if (it == groups.end())
        it = groups.emplace(key, std::make_unique<TCWindowButtonGroup>(key)).first;
    return it->second.get();
}

TCWindowButtonGroup::TCWindowButtonGroup(const QString& identifier) : m_identifier(identifier) {}

void TCWindowButtonGroup::setNumberOfCaptures(qint64 count)
{
    if (count < 0 || count == m_numberOfCaptures)
        return;
    m_numberOfCaptures = count;
    NotificationCenter::defaultCenter().PostNotification(TCWindowButtonGroupDidUpdateRolloverStateNotification, this);
}

void TCWindowButtonGroup::didCaptureMousePointer() { ++m_numberOfCaptures; }

// A release without a capture (after a reset while the pointer was over a
// button) must not leave the count below zero, or the next hover would not
// show.
void TCWindowButtonGroup::didReleaseMousePointer()
{
    if (m_numberOfCaptures > 0)
        --m_numberOfCaptures;
}

void TCWindowButtonGroup::resetMouseCaptures() { m_numberOfCaptures = 0; }

// ---------------------------------------------------------------- button

TCWindowButton* TCWindowButton::windowButtonWithSize(const QSize& size, const QString& groupIdentifier,
                                                     QWidget* parent)
{
    return new TCWindowButton(size, groupIdentifier, parent);
}

TCWindowButton::TCWindowButton(const QSize& size, const QString& groupIdentifier, QWidget* parent)
    : QAbstractButton(parent),
      m_groupIdentifier(groupIdentifier.isNull() ? QString::fromLatin1(kTCWindowButtonGroupDefault) : groupIdentifier),
      m_group(TCWindowButtonGroup::groupWithIdentifier(m_groupIdentifier))
{
    setGeometry(QRect(QPoint(0, 0), size));
    m_mouseTrackingArea = rect().adjusted(-4, -4, 4, 4);
    setFocusPolicy(Qt::NoFocus);
    setText(QString());
    NotificationCenter::defaultCenter().AddObserver(
        this, TCWindowButtonGroupDidUpdateRolloverStateNotification,
        [this](const Notification&) { updateRollOverImage(); }, m_group);
    watchWindow();
}

TCWindowButton::~TCWindowButton()
{
    NotificationCenter::defaultCenter().RemoveObserver(this);
    if (m_watchedWindow && m_watchedWindow != this)
        m_watchedWindow->removeEventFilter(this);
}

void TCWindowButton::updateImage()
{
    if (isEnabled()) {
        updateActiveImage();
        return;
    }
    m_image = m_inactiveImage;
    update();
}

void TCWindowButton::updateActiveImage()
{
    QWidget* top = window();
    const bool key = top && top != this && top->isActiveWindow();
    m_image = key ? m_activeImage : m_activeNotKeyWindowImage;
    update();
}

void TCWindowButton::updateRollOverImage()
{
    if (m_group && m_group->shouldDisplayRollOver() && isEnabled()) {
        m_image = m_rolloverImage;
        update();
        return;
    }
    updateImage();
}

void TCWindowButton::paintEvent(QPaintEvent*)
{
    const QPixmap& shown = isDown() && !m_pressedImage.isNull() ? m_pressedImage : m_image;
    if (shown.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap(QPointF(0, 0), shown);
}

void TCWindowButton::changeEvent(QEvent* event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        // The active picture when enabled, whatever the window's key state.
        m_image = isEnabled() ? m_activeImage : m_inactiveImage;
        update();
    }
}

void TCWindowButton::resizeEvent(QResizeEvent* event)
{
    QAbstractButton::resizeEvent(event);
    m_mouseTrackingArea = rect().adjusted(-4, -4, 4, 4);
}

void TCWindowButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    if (m_group)
        m_group->didCaptureMousePointer();
    updateRollOverImage();
}

void TCWindowButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    if (m_group)
        m_group->didReleaseMousePointer();
    updateRollOverImage();
}

bool TCWindowButton::event(QEvent* event)
{
    const bool handled = QAbstractButton::event(event);
    if (event->type() == QEvent::ParentChange) {
        watchWindow();
        if (parentWidget())
            updateImage();
    }
    return handled;
}

// Hears the window's key and full-screen changes.
void TCWindowButton::watchWindow()
{
    QWidget* top = window();
    if (top == this)
        top = nullptr;
    if (top == m_watchedWindow)
        return;
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
    m_watchedWindow = top;
    if (top) {
        top->installEventFilter(this);
        m_bWindowFullScreen = top->isFullScreen();
    }
}

bool TCWindowButton::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow) {
        if (event->type() == QEvent::ActivationChange) {
            updateImage();
        } else if (event->type() == QEvent::WindowStateChange) {
            const bool fullScreen = m_watchedWindow->isFullScreen();
            if (fullScreen && !m_bWindowFullScreen)
                windowWillEnterFullScreen();
            else if (!fullScreen && m_bWindowFullScreen)
                windowWillExitFullScreen();
            m_bWindowFullScreen = fullScreen;
        }
    }
    return QAbstractButton::eventFilter(watched, event);
}

void TCWindowButton::windowWillEnterFullScreen()
{
    if (m_group)
        m_group->resetMouseCaptures();
    hide();
}

void TCWindowButton::windowWillExitFullScreen()
{
    if (m_group)
        m_group->resetMouseCaptures();
    show();
}
