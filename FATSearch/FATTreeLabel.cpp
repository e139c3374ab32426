#include "FATTreeLabel.h"

#include <vector>

#include "FATCompleteSearcher.h"
#include "FATDBR.h"
#include "FATVolume.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"

void NameTreeAfterLabel(IDirecotryTreeBuilder* builder, IStorageDevice* device, unsigned long long volumeStart)
{
    if (!builder || !device)
        return;
    const unsigned int sectorSize = device->GetSectorSize();
    if (sectorSize < 512 || sectorSize > 4096)
        return;
    std::vector<uint8_t> sector(sectorSize, 0);
    if (!device->ReadSector(sector.data(), static_cast<long long>(volumeStart), 1))
        return;
    const CTempFATDBR dbr(sector.data(), sectorSize);
    char label[100] = {};
    CFATVolume volume(device);
    int found = 0;
    if (dbr.IsValidDBR()) {
        found = volume.GetPartitionLabel(volumeStart, dbr, label);
    } else if (const FATBootGeometry boot = FATBootGeometry::FromFat12DBR(dbr); boot.eType == FS_FAT12) {
        // The recogniser leaves FAT12 out; its root directory is found as on FAT16.
        FatLabelGeometry g;
        g.dwReservedSectors = boot.dwReservedSectors;
        g.dwNumberOfFATs = boot.dwNumberOfFATs;
        g.dwSectorsPerFAT = boot.dwSectorsPerFAT;
        g.dwRootEntries = boot.dwRootEntries;
        g.dwSectorsPerCluster = boot.dwSectorsPerCluster;
        found = volume.GetFatLabel(volumeStart, g, label);
    }
    label[sizeof(label) - 1] = '\0';
    if (found && label[0])
        builder->SetSearcherVolumeName(SEARCHER_FAT, label);
}
