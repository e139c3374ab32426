// Volume label of a FAT volume, read from its root directory.
#pragma once

#include <cstdint>

class IStorageDevice;
class CTempFATDBR;

// Geometry the label search needs, as the boot sector gives it.
struct FatLabelGeometry {
    unsigned int dwReservedSectors = 0;
    unsigned int dwNumberOfFATs = 0;
    unsigned int dwSectorsPerFAT = 0;
    unsigned int dwRootEntries = 0;      // FAT12/16
    unsigned int dwSectorsPerCluster = 0;
    unsigned int dwRootCluster = 0;      // FAT32
};

class CFATVolume {
public:
    explicit CFATVolume(IStorageDevice* device);

    // Label buffer: 100 bytes. FAT32 boot sectors search the root cluster
    // chain, FAT16 the root directory. 1 when a label was found.
    int GetPartitionLabel(unsigned long long volumeStart, const CTempFATDBR& dbr, char* pLabelBuffer);

    // FAT12/16: the fixed root directory after the FATs.
    int GetFatLabel(unsigned long long volumeStart, const FatLabelGeometry& g, char* pLabelBuffer);
    // FAT32: the root directory's clusters, followed through the first FAT
    // copy. Ends after as many clusters as the FAT has entries, or when the
    // chain comes back to a cluster it passed.
    int GetFat32Label(unsigned long long volumeStart, const FatLabelGeometry& g, char* pLabelBuffer);

private:
    enum class Found { kLabel, kNotHere, kStop };
    // Absolute first sector of cluster c (c >= 2). fat1216 adds the root directory.
    unsigned long long ClusterToSector(unsigned long long volumeStart, const FatLabelGeometry& g,
                                       unsigned long long u64ClusterNumber, bool fat1216) const;
    Found FindLabel(unsigned long long sector, unsigned int sectors, char* pLabelBuffer);
    bool GeometryUsable(const FatLabelGeometry& g) const;

    IStorageDevice* m_pDevice;
    unsigned int m_dwSectorSize = 512;
};
