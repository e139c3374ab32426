#include "CliFilter.h"

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "DirectoryTreeBuilder.h"
#include "FileTypeLists.h"
#include "FileTypeManager.h"
#include "IRecovery.h"

IRecoveryFilter* CliPrepareFilter(const CliOptions& options)
{
    static std::once_flag listsLoaded;
    std::call_once(listsLoaded, [] {
        std::map<int, std::string> lists = GetDefaultFileTypeLists();
        CFileTypeManager::Initialze(lists);
    });
    CDirectoryTreeBuilder::SetDefaultFirstBatchPause(std::chrono::milliseconds(0));
    IRecoveryFilter* filter = CreateFilter();
    filter->SetFilterTypes(options.types);
    return filter;
}
