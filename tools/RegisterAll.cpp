#include "RegisterApfs.h"
#include "RegisterExFat.h"
#include "RegisterFat.h"
#include "RegisterHfs.h"
#include "RegisterNtfs.h"
#include "RegisterRaw.h"
#include "SearcherRegistry.h"

void RegisterAllEngineModules()
{
    RegisterFatSearchers();
    RegisterExFatSearchers();
    RegisterHfsSearchers();
    RegisterNtfsSearchers();
    RegisterRawSearchers();
    RegisterApfsSearchers();
}
