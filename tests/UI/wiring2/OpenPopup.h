// Finds the pop-up window that runs modally right now, for acting inside it.
#pragma once

#include <QApplication>

#include "TCImageWindow.h"

// The visible pop-up window of class T, found through its window's delegate.
template <class T>
T* OpenPopup()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<TCImageWindow*>(w);
        if (window && window->isVisible())
            if (auto* popup = dynamic_cast<T*>(window->delegate()))
                return popup;
    }
    return nullptr;
}
