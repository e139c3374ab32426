// The application's resources: pictures, localised texts and the settings
// file "LocalVersionMessage". They live in one folder, the resource path:
//   <resources>/images/<name>.png            pictures, looked up by name
//   <resources>/<language>.lproj/Localizable.strings   texts, "KEY" = "text";
//   <resources>/LocalVersionMessage.plist    settings (an XML property list)
// The path is $VANTREL_RESOURCES when set, else "Resources" beside the
// program (the build tree), else "../share/vantrel-data-recovery" from the
// program's folder (the installed layout).
// The settings the program changes are kept in the user's work folder
// (GetAppWorkPath), starting from the copy among the resources; only a
// resource folder named by $VANTREL_RESOURCES or SetResourcePath (a writable
// folder of a developer or a test) holds them itself.
#pragma once

#include <QPixmap>
#include <QString>
#include <QVariantMap>

#include <optional>

class Bundle {
public:
    static QString ResourcePath();
    static void SetResourcePath(const QString& path);
    // Looks the resources up from folder instead of the running program's
    // folder: the launcher reads the main program's resources.
    static void SetProgramFolder(const QString& folder);
    // The folder the resource path belongs to: the program's own folder.
    static QString BundlePath();

    // A missing picture gives a null pixmap, which draws nothing.
    static QPixmap ImageNamed(const QString& name);

    static void SetLanguage(const QString& code);
    static QString Language();
    // The text of key in the current language's table; empty when missing.
    static QString LocalizedString(const QString& key);

    // The settings as a dictionary (strings, integers, reals, booleans,
    // dates as ISO text, arrays and dictionaries), from SettingsPath, else
    // from the resources' copy; nothing when the file is missing or not a
    // property list of a dictionary.
    static std::optional<QVariantMap> ReadSettings();
    // Writes the whole dictionary back through a temporary file renamed into
    // place; false when it could not be written (the old file then stays).
    static bool WriteSettings(const QVariantMap& settings);
    // Where the settings are written.
    static QString SettingsPath();

    // Property-list text of a dictionary, and back; exposed for tests and
    // for the launcher, which reads the same file.
    static QByteArray SerializePlist(const QVariantMap& dict);
    static std::optional<QVariantMap> ParsePlist(const QByteArray& xml);
};
