// Shared inside the facade library only.
#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <string>

namespace FacadeInternal {

// Makes sure that what the bridge's threads post through ZRUINotify reaches
// the application's notification centre (once per process).
void EnsureNotifyBridge();

// Runs body on a detached thread of its own; false when none could be made.
bool StartDetached(std::function<void()> body);

// The scan's remaining-time text from the elapsed seconds and the progress
// record's total and done: "HH:MM:SS", or "-:-:-" while no estimate can be
// made (under a second, nothing done, under one percent, 101 hours or more).
QString RemainingTimeText(long long elapsed, unsigned long long total, unsigned long long done);

// The private folder of the previews' temporary copies ("" when it could
// not be made).
std::string PreviewTempFolder();

// The theme's icon of that name (or of the file type of a lower-case
// extension with its dot, ".jpg") as an image. Icons are drawn by the GUI
// thread only; other threads get what it drew before, else a null image.
QImage IconImage(const QString& iconName);
QImage ExtensionIcon(const std::string& extension);

}  // namespace FacadeInternal
