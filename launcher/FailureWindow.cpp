#include "FailureWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

#include <cstdlib>

namespace {

bool HaveDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

}  // namespace

bool ShowFailureWindow(const QString& reason)
{
    if (!HaveDisplay())
        return false;
    static int argc = 1;
    static char name[] = "vantrel-loader";
    static char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QStringList paragraphs = reason.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
    const QString message = paragraphs.isEmpty() ? reason : paragraphs.takeFirst();
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vantrel Data Recovery"), message, QMessageBox::Ok);
    box.setInformativeText(paragraphs.join(QStringLiteral("\n\n")));
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
    return true;
}
