// The application object of the main program. It looks at every key press
// before the normal dispatch and turns the editing key combinations (cut,
// copy, paste, undo, redo, select all, with the Control key as the command
// key) into edit actions sent along the focus chain, so that text fields and
// other views get them from the keyboard without menu items for them. Every
// other event takes the normal path.
#pragma once

#include <QApplication>

class QEvent;
class QObject;

class MyNSApplication : public QApplication {
    Q_OBJECT
public:
    MyNSApplication(int& argc, char** argv);

    // Every event passes here first.
    bool notify(QObject* receiver, QEvent* event) override;

    // The key-equivalent step on its own: true when event was a key press of
    // an editing combination and a widget took its action (the event is then
    // used up); false when it should go on to the normal dispatch.
    static bool sendKeyEquivalent(QEvent* event);

    // Sends action ("cut", "copy", "paste", "undo", "redo", "selectAll") to
    // the first widget of the focus chain (the focus widget, then its
    // parents) that has it; false when none has.
    static bool sendAction(const char* action);
};
