// What the program does around its event loop: the language argument, the
// keep-awake timer and the weekly update-check decision.
#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// Settings of the application object: the program ends only through its
// own end ("appWillTerminate"), never because for a moment no window is
// open (the root window closes before the results window opens).
void PrepareApplicationObject();

// Stores code as the only preferred language ("AppleLanguages") and loads
// the interface texts of that language.
void setCurLanguage(const char* code);
// Without an argument the stored preference, if any, picks the texts.
void ApplyStoredLanguage();
// The application's shown name: the localized "WINDOW_TOP_TITLE".
void ApplyApplicationTitle();

// A repeating 30-second timer on the main thread whose callback keeps the
// machine from idling to sleep while the program runs.
void PreventSleep();
void MyTimerCallback();
void ReleasePreventObj();
bool IsPreventSleepActive();

// "yyyy-MM-dd HH:mm:ss" of the last update check; the check is due when none
// is stored (missing, empty or one blank), when the text does not parse, or
// when 7 or more whole days have passed since (a time in the future counts
// as not due).
bool IsUpdateCheckDue(const std::optional<QString>& lastCheck, const QDateTime& now);
QString FormatUpdateCheckTime(const QDateTime& time);
