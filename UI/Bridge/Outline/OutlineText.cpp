#include "OutlineText.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<OutlineTextLookup> g_lookup{nullptr};

struct BuiltInText {
    const char* key;
    const char* text;
};

constexpr BuiltInText kBuiltIn[] = {
    {"DEVICE_NAME_UNTITILED", "Untitled"},
    {"CREATE_TIME_ROOT_NAME", "Creation Time"},
    {"MODIFY_TIME_ROOT_NAME", "Modification Time"},
    {"LAST_ACCESS_TIME_ROOT_NAME", "Last Access Time"},
};

}  // namespace

void SetOutlineTextLookup(OutlineTextLookup lookup) { g_lookup.store(lookup); }

QString OutlineLocalizedString(const char* key)
{
    if (!key)
        return QString();
    if (OutlineTextLookup lookup = g_lookup.load()) {
        QString text = lookup(key);
        if (!text.isEmpty())
            return text;
    }
    for (const BuiltInText& entry : kBuiltIn)
        if (std::strcmp(entry.key, key) == 0)
            return QString::fromUtf8(entry.text);
    return QString();
}
