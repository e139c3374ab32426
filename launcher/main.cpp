// Vantrel Loader: starts the main program with administrator rights and the
// user's interface language.
#include <QFileInfo>

#include "RunScript.h"

int main()
{
    QString folder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    RunScript::RunTool(RunScript::MainProgramPath(folder));
    return 0;
}
