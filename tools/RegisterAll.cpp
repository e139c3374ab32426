#include "RegisterExFat.h"
#include "RegisterFat.h"
#include "RegisterRaw.h"
#include "SearcherRegistry.h"

void RegisterAllEngineModules()
{
    RegisterFatSearchers();
    RegisterExFatSearchers();
    RegisterRawSearchers();
}
