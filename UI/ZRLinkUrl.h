// Every web address the application opens or reads comes from the link
// tables of the settings file "LocalVersionMessage": one dictionary per
// language code, "en" being the fallback for every key.
#pragma once

#include <QString>

class ZRLinkUrl {
public:
    // The address of key for the first preferred language, else the "en"
    // one; a null text when neither table has a usable entry (callers then
    // open nothing). The settings are read afresh on every call.
    static QString GetUrl(const QString& key);
};
