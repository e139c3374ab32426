// Where the program's windows show what, for scripts that drive it from
// outside (the screenshot run): with VANTREL_WIDGET_MAP naming a file, the
// program rewrites that file whenever what its windows show has changed.
// One tab-separated line per visible top-level window, per visible widget
// and per visible row cell of a list or outline, each with its rectangle in
// screen coordinates:
//   window  WINDOW  CLASS  NAME  TITLE               X Y W H  ACTIVE
//   widget  WINDOW  CLASS  NAME  TEXT  TOOLTIP       X Y W H
//   item    WINDOW  VIEW   ROW   COLUMN  TEXT        X Y W H
// WINDOW is the X window id of the top-level window (ACTIVE 1 for the one
// that has the keyboard, else 0), NAME the object name,
// TEXT a button's caption, a label's or a field's text (tabs and line
// breaks become blanks), VIEW the object name of the list (its class
// without one) and ROW the row's place among the rows shown (0 the
// topmost). The entries of an open menu are listed as widgets of class
// QAction.
#pragma once

#include <QString>

// The map as it stands now.
QString DescribeVisibleWidgets();
// Starts rewriting the file VANTREL_WIDGET_MAP names; nothing without it.
void InstallWidgetMapFromEnvironment();
