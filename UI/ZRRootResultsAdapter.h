// Connects the root window to the real results window and the results
// window's way back home to the application delegate.
#pragma once

class ZRAppDelegate;

// Makes the root window open ZRDeletailWindowController results windows; a
// results window going back home asks delegate for a new root window.
void InstallResultsWindow(ZRAppDelegate* delegate);
