// Pieces the shell's windows share: the centred title of a title-bar
// window, the alpha fade and centring on the screen.
#pragma once

#include <QtGlobal>

class QLabel;
class QPropertyAnimation;
class QWidget;

// The centred window title across the title bar: (0, 3, bar width, 17),
// 13-pixel system font, the window title colour, localised
// "WINDOW_TOP_TITLE"; mouse presses pass through to the bar (it drags).
QLabel* MakeWindowTitleLabel(QWidget* titleBar);
// Animates the window's opacity from where it is to opacity.
void FadeWindowTo(QPropertyAnimation* fade, QWidget* window, qreal opacity);
// Moves window to the middle of its screen's free area.
void CentreOnScreen(QWidget* window);
