// Connects the program shell (the application delegate and the root window)
// to the pop-up windows: the update window of the launch and of the menu,
// the notice for a volume that cannot be opened, the progress window of a
// scan-result load, and the way a pop-up window ends the program.
#pragma once

class ZRAppDelegate;

// Installs the pop-up windows for delegate. The root window's other hooks
// (results window, open panel) are kept as they are. A pop-up window that
// ends the program asks delegate to quit, so the quit guard of a running
// scan applies and the end goes through the delegate; with no delegate (or
// once it is gone) the pop-up window only leaves the event loop.
void InstallPopupWindows(ZRAppDelegate* delegate);
