// vantrel-cli with the RAW searcher as the deep scan's only searcher, so the
// real controller, read-ahead cache and tree builder run the carving alone.
#include "CliCommands.h"
#include "RegisterRaw.h"
#include "SearcherRegistry.h"

int main(int argc, char** argv)
{
    ScopedSearcherRegistry only;
    RegisterRawSearchers();
    return VantrelCliMain(argc, argv);
}
