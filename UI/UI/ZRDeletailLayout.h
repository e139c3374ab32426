// Frames of the results window's hand-placed controls. A frame is given as
// the platform's windows describe it: origin at the parent's bottom-left
// corner, y growing upwards. A control remembers its frame, its parent's size
// at that time and how it follows the parent's resizes (keep the right
// margin, stretch, stay centred), so that a resize of the parent can place it
// again.
#pragma once

#include <QRect>

class QWidget;

enum ZRAutoresizing : int {
    ZRFlexLeft = 1,    // keeps its distance to the right edge
    ZRFlexWidth = 2,   // stretches with the parent
    ZRFlexRight = 4,   // with ZRFlexLeft: stays centred
    ZRFlexHeight = 16  // stretches in height
};

void ZRSetFrame(QWidget* widget, int x, int y, int width, int height, int autoresizing = 0);
// The frame as last placed, bottom-left based.
QRect ZRFrame(const QWidget* widget);
// Places every remembered child of parent (and theirs) for parent's size.
void ZRRelayout(QWidget* parent);
