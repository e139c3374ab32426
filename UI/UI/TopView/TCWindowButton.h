// The kit's own traffic-light buttons, for a TCImageWindow that wants drawn
// buttons instead of its standard ones (setCloseButton() and friends). The
// picture follows the window (key or not), the button's enabled state and
// the pointer; the buttons of one window share a TCWindowButtonGroup, which
// counts how many of them the pointer is over, so that all of them can show
// their rollover pictures together. A button hides while its window is in
// full screen.
#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>

// The identifier of the group that buttons without one of their own share.
extern const char* const kTCWindowButtonGroupDefault;
// Posted by a group (as its own sender) when its count is set.
extern const char* const TCWindowButtonGroupDidUpdateRolloverStateNotification;

class TCWindowButtonGroup {
public:
    // The group of identifier (a null identifier stands for the default one),
    // made on first use and kept for the rest of the run.
    static TCWindowButtonGroup* groupWithIdentifier(const QString& identifier);

    explicit TCWindowButtonGroup(const QString& identifier);

    const QString& identifier() const { return m_identifier; }
    qint64 numberOfCaptures() const { return m_numberOfCaptures; }
    // Ignored for a negative value or the current one; otherwise stores it and
    // tells the group's buttons.
    void setNumberOfCaptures(qint64 count);
    // One more or one fewer button under the pointer, told to nobody.
    void didCaptureMousePointer();
    void didReleaseMousePointer();
    void resetMouseCaptures();
    bool shouldDisplayRollOver() const { return m_numberOfCaptures > 0; }

private:
    QString m_identifier;
    qint64 m_numberOfCaptures = 0;
};

class TCWindowButton : public QAbstractButton {
    Q_OBJECT
public:
    // A new button of size in group identifier (null: the default group).
    static TCWindowButton* windowButtonWithSize(const QSize& size, const QString& groupIdentifier,
                                                QWidget* parent = nullptr);
    TCWindowButton(const QSize& size, const QString& groupIdentifier, QWidget* parent = nullptr);
    ~TCWindowButton() override;

    const QString& groupIdentifier() const { return m_groupIdentifier; }
    TCWindowButtonGroup* group() const { return m_group; }

    const QPixmap& activeImage() const { return m_activeImage; }
    void setActiveImage(const QPixmap& image) { m_activeImage = image; }
    const QPixmap& activeNotKeyWindowImage() const { return m_activeNotKeyWindowImage; }
    void setActiveNotKeyWindowImage(const QPixmap& image) { m_activeNotKeyWindowImage = image; }
    const QPixmap& inactiveImage() const { return m_inactiveImage; }
    void setInactiveImage(const QPixmap& image) { m_inactiveImage = image; }
    const QPixmap& rolloverImage() const { return m_rolloverImage; }
    void setRolloverImage(const QPixmap& image) { m_rolloverImage = image; }
    // Shown while the button is held down.
    const QPixmap& pressedImage() const { return m_pressedImage; }
    void setPressedImage(const QPixmap& image) { m_pressedImage = image; }
    // Where the pointer counts as over the button: its bounds grown by 4.
    QRect mouseTrackingArea() const { return m_mouseTrackingArea; }
    void setMouseTrackingArea(const QRect& area) { m_mouseTrackingArea = area; }

    // The picture shown now (pressed or not).
    const QPixmap& image() const { return m_image; }

    void updateImage();
    void updateActiveImage();
    void updateRollOverImage();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watchWindow();
    void windowWillEnterFullScreen();
    void windowWillExitFullScreen();

    QString m_groupIdentifier;
    TCWindowButtonGroup* m_group = nullptr;
    QPixmap m_activeImage, m_activeNotKeyWindowImage, m_inactiveImage, m_rolloverImage, m_pressedImage;
    QPixmap m_image;
    QRect m_mouseTrackingArea;
    QPointer<QWidget> m_watchedWindow;
    bool m_bWindowFullScreen = false;
};
