#include "MyNSApplication.h"

#include <QByteArray>
#include <QKeyEvent>
#include <QMetaObject>
#include <QWidget>

MyNSApplication::MyNSApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool MyNSApplication::notify(QObject* receiver, QEvent* event)
{
    if (sendKeyEquivalent(event))
        return true;
    return QApplication::notify(receiver, event);
}

bool MyNSApplication::sendAction(const char* action)
{
    const QByteArray signature = QByteArray(action) + "()";
    for (QWidget* widget = QApplication::focusWidget(); widget; widget = widget->parentWidget()) {
        const QMetaObject* meta = widget->metaObject();
        if (meta->indexOfMethod(signature.constData()) < 0)
            continue;
        return QMetaObject::invokeMethod(widget, action, Qt::DirectConnection);
    }
    return false;
}

bool MyNSApplication::sendKeyEquivalent(QEvent* event)
{
    // Only key presses that come from the keyboard; events that widgets send
    // one another go their own way.
    if (!event || event->type() != QEvent::KeyPress || !event->spontaneous())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & Qt::KeyboardModifierMask;

    // The key's letter whatever the modifiers (Caps Lock included).
    const char* action = nullptr;
    if (modifiers == Qt::ControlModifier) {
        switch (key->key()) {
        case Qt::Key_X: action = "cut"; break;
        case Qt::Key_C: action = "copy"; break;
        case Qt::Key_V: action = "paste"; break;
        case Qt::Key_Z: action = "undo"; break;
        case Qt::Key_A: action = "selectAll"; break;
        default: break;
        }
    } else if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier) && key->key() == Qt::Key_Z) {
        action = "redo";
    }
    if (!action)
        return false;
    return sendAction(action);
}
