// The localised texts the outline items and trees show, looked up by their
// upper-case keys. The windows plug in their string table; until then (and
// for a key the table answers with nothing) built-in English texts are used.
#pragma once

#include <QString>

using OutlineTextLookup = QString (*)(const char* key);

// Null restores the built-in texts.
void SetOutlineTextLookup(OutlineTextLookup lookup);
// "DEVICE_NAME_UNTITILED", "CREATE_TIME_ROOT_NAME", "MODIFY_TIME_ROOT_NAME",
// "LAST_ACCESS_TIME_ROOT_NAME"; "" for any other key without a lookup.
QString OutlineLocalizedString(const char* key);
