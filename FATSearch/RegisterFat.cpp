#include "RegisterFat.h"

#include "FATCompleteSearcher.h"
#include "FATQuickSearcher.h"
#include "FatVolumeAnalyze.h"
#include "SearcherRegistry.h"

void RegisterFatSearchers()
{
    // The recogniser answers every FAT kind; it sits in the FAT32 slot.
    RegisterVolumeAnalyze(FS_FAT32, &CreateFatVolumeAnalyze);
    // FAT12 has a slot too, but its volumes still end as unsupported: the
    // recogniser does not recognise them, and the searcher refuses them.
    RegisterQuickSearcher(FS_FAT12, &CreateFATQuickSearcher);
    RegisterQuickSearcher(FS_FAT16, &CreateFATQuickSearcher);
    RegisterQuickSearcher(FS_FAT32, &CreateFATQuickSearcher);
    // The deep scan's FAT12/16/32 searcher.
    RegisterCompleteSearcher(SEARCHER_FAT, &CreateFATSearcher);
}
