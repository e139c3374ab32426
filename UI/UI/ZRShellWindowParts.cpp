#include "ZRShellWindowParts.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWidget>

#include "BundleResources.h"
#include "TCImageWindow.h"

QLabel* MakeWindowTitleLabel(QWidget* titleBar)
{
    auto* label = new QLabel(titleBar);
    label->setGeometry(0, 3, titleBar->width(), 17);
    QFont font = label->font();
    font.setPixelSize(13);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, TCWindowTitleTextColor());
    label->setPalette(palette);
    label->setAlignment(Qt::AlignCenter);
    label->setText(Bundle::LocalizedString(QStringLiteral("WINDOW_TOP_TITLE")));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->show();
    return label;
}

void FadeWindowTo(QPropertyAnimation* fade, QWidget* window, qreal opacity)
{
    if (!fade || !window)
        return;
    fade->stop();
    fade->setStartValue(window->windowOpacity());
    fade->setEndValue(opacity);
    fade->start();
}

void CentreOnScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
