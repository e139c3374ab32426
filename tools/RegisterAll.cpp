#include "SearcherRegistry.h"

void RegisterAllEngineModules()
{
}
