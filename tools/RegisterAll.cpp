#include "RegisterExFat.h"
#include "RegisterFat.h"
#include "RegisterNtfs.h"
#include "RegisterRaw.h"
#include "SearcherRegistry.h"

void RegisterAllEngineModules()
{
    RegisterFatSearchers();
    RegisterExFatSearchers();
    RegisterNtfsSearchers();
    RegisterRawSearchers();
}
