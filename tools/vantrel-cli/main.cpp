#include "CliCommands.h"
#include "SearcherRegistry.h"

int main(int argc, char** argv)
{
    RegisterAllEngineModules();
    return VantrelCliMain(argc, argv);
}
