#include "RegisterRaw.h"

#include "RAWSearchController.h"
#include "SearcherRegistry.h"

void RegisterRawSearchers()
{
    RegisterCompleteSearcher(SEARCHER_RAW, &CreateRAWSearcher);
}
