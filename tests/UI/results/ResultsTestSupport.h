// Shared set-up of the results window's tests: a resource folder with the
// texts the window formats, and the window's controls looked up by name.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include "BundleResources.h"
#include "TestSupport.h"

#include <ostream>

// Texts in test messages as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// Writes the string table the tests read, once per process, and points the
// bundle at it.
inline void UseResultsTestResources()
{
    static TempDir dir;
    static bool made = false;
    if (!made) {
        made = true;
        QDir().mkpath(QString::fromStdString(dir / "en.lproj"));
        QFile strings(QString::fromStdString(dir / "en.lproj/Localizable.strings"));
        if (strings.open(QIODevice::WriteOnly)) {
            strings.write("\"PAGE_FOUR_FILESFOUND\" = \"%lld files found\";\n"
                          "\"PAGE_FOUR_REMAININGTIME\" = \"Remaining %@\";\n"
                          "\"PAGE_FOUR_ALL_FILES_SIZE\" = \"All: %@ in %d files\";\n"
                          "\"PAGE_FOUR_SELECT_FILES\" = \"Selected: %@, %d files\";\n"
                          "\"PAGE_FOUR_SCAN_STOP_TITLE\" = \"Stop the scan?\";\n"
                          "\"PAGE_FOUR_SCAN_BACKHOME_TITLE\" = \"Go back home?\";\n"
                          "\"PAGE_FOUR_SAVE_BUTTON_TIP\" = \"Save the scan result\";\n"
                          "\"CREATE_TIME_ROOT_NAME\" = \"Created\";\n"
                          "\"MODIFY_TIME_ROOT_NAME\" = \"Modified\";\n");
        }
    }
    Bundle::SetResourcePath(QString::fromStdString(dir.path()));
    Bundle::SetLanguage("en");
}
