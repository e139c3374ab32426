// Explicit table of the file systems' factories. Each file-system library
// exports a Register...Searchers() function; RegisterAllEngineModules() calls
// them from main and from the test main.
#pragma once

#include <vector>

#include "ISearcher.h"

void RegisterQuickSearcher(enumFILE_SYSTEM_TYPE fsType, QuickSearcherFactory factory);
void RegisterCompleteSearcher(_tagSearcherType type, CompleteSearcherFactory factory);
// The FAT recogniser answers every FAT kind and registers under FS_FAT32.
void RegisterVolumeAnalyze(enumFILE_SYSTEM_TYPE fsType, VolumeAnalyzeFactory factory);

// Null when no quick searcher is registered for that file-system type.
QuickSearcherFactory GetQuickSearcherFactory(enumFILE_SYSTEM_TYPE fsType);

struct CompleteSearcherEntry {
    _tagSearcherType type;
    CompleteSearcherFactory factory;
};
// In deep-scan order: HFS+, exFAT, FAT, RAW, NTFS, APFS.
std::vector<CompleteSearcherEntry> GetCompleteSearcherFactories();
// In recogniser order: FAT, exFAT, NTFS, HFS+, APFS.
std::vector<VolumeAnalyzeFactory> GetVolumeAnalyzeFactories();

// Saves the table, clears it, and puts it back when it goes out of scope.
class ScopedSearcherRegistry {
public:
    ScopedSearcherRegistry();
    ~ScopedSearcherRegistry();
    ScopedSearcherRegistry(const ScopedSearcherRegistry&) = delete;
    ScopedSearcherRegistry& operator=(const ScopedSearcherRegistry&) = delete;

private:
    struct Saved;
    Saved* m_pSaved;
};

// Calls every file-system library's registration function.
void RegisterAllEngineModules();
