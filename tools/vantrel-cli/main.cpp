#include "CliCommands.h"
#include "RecoveryController.h"
#include "SearcherRegistry.h"

int main(int argc, char** argv)
{
    RegisterAllEngineModules();
    // Every searcher of a deep scan on a core of its own.
    SetDefaultDeepScanThreads(0);
    return VantrelCliMain(argc, argv);
}
