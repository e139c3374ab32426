// The user's preferences that outlive a run ("AppleLanguages",
// "Participate", ...), kept in an INI file of the user's configuration
// folder. Values are written through at once.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

class UserDefaults {
public:
    static QVariant Value(const QString& key);
    static void SetValue(const QString& key, const QVariant& value);
    static void Remove(const QString& key);
    // Flushes to disk.
    static void Synchronize();
    // Tests keep their preferences in a file of their own.
    static void SetFileForTest(const QString& path);

    // "AppleLanguages": the preferred languages, first the one in use; empty
    // when never stored.
    static QStringList PreferredLanguages();
};
