#include "RegisterFat.h"
#include "SearcherRegistry.h"

void RegisterAllEngineModules()
{
    RegisterFatSearchers();
}
