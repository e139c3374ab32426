// vantrel-cli with the manifest searcher as its only searcher.
#include "CliCommands.h"
#include "ManifestSearcher.h"
#include "SearcherRegistry.h"

int main(int argc, char** argv)
{
    ScopedSearcherRegistry only;
    RegisterManifestSearcher();
    return VantrelCliMain(argc, argv);
}
