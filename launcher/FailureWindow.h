// The launcher's only window: why the program was not started and what to
// do about it, for a person who started it from a desktop menu and sees no
// terminal.
#pragma once

#include <QString>

// The first paragraph of reason is the message, the others its details.
// Shows the window and returns when it was closed; false (nothing shown)
// when no display is there to show it on.
bool ShowFailureWindow(const QString& reason);
