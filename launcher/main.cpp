// Vantrel Loader: starts the main program with administrator rights and the
// user's interface language, and ends with the program's exit status.
#include <QFileInfo>

#include <cstdio>

#include "BundleResources.h"
#include "FailureWindow.h"
#include "RunScript.h"

int main()
{
    const QString folder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
#ifdef VANTREL_BUILT_PROGRAM
    const QString built = QStringLiteral(VANTREL_BUILT_PROGRAM);
#else
    const QString built;
#endif
    const RunScript::Found found = RunScript::FindMainProgram(folder, built);
    RunScript::Outcome outcome;
    if (found.path.isEmpty()) {
        outcome = {1, QStringLiteral("The program Vantrel Data Recovery was not found, so it was not started.\n\n"
                                     "The launcher looked for it at: %1\n\n"
                                     "Install the application again.")
                          .arg(found.tried.join(QStringLiteral(", ")))};
    } else {
        // The language choice lives with the main program's settings.
        Bundle::SetProgramFolder(QFileInfo(found.path).path());
        outcome = RunScript::RunTool(found.path);
    }
    if (!outcome.failure.isEmpty()) {
        std::fprintf(stderr, "%s\n", outcome.failure.toLocal8Bit().constData());
        ShowFailureWindow(outcome.failure);
    }
    return outcome.status;
}
