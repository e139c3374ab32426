#include "RegisterExFat.h"
#include "RegisterFat.h"
#include "SearcherRegistry.h"

void RegisterAllEngineModules()
{
    RegisterFatSearchers();
    RegisterExFatSearchers();
}
