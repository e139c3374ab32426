// The extents of a FAT file, in clusters counted from cluster 2 (the first
// cluster of the data area, which the partition record gives as unit base).
#pragma once

#include <vector>

#include "IFileNode.h"

class IFATTable;

class CFATBuildDataRun {
public:
    // limitSectors: the partition's total sectors; no extent may end beyond
    // it.
    CFATBuildDataRun(IFATTable* fat, unsigned int sectorSize, unsigned int sectorsPerCluster,
                     unsigned long long limitSectors);

    // A new list, or none: no FAT reader, no limit, no usable first cluster,
    // or (live files) an extent beyond the limit.
    IDataRunList* BuildDataRunList(unsigned int firstCluster, long long size, int deleted);

    // Live file: the FAT chain, extent by extent. The last extent always
    // covers the rest of the size, also when the chain ends early; a chain
    // that leaves the partition drops the whole list.
    IDataRunList* BuildLiveFileDataRunList(unsigned int firstCluster, long long size);
    // Deleted file: one single-cluster extent per cluster. The FAT is
    // followed while it gives non-zero values; from the first zero value on
    // the clusters are taken as contiguous, since deleting a file clears its
    // chain.
    IDataRunList* BuildDeleteFileDataRunList(unsigned int firstCluster, long long size);

private:
    bool Usable() const;
    static IDataRunList* MakeList(const std::vector<DataRun>& runs);

    IFATTable* m_pFATTable;
    unsigned int m_dwSectorSize;
    unsigned int m_dwSectorsPerCluster;
    unsigned long long m_u64LimitSectors;
};
