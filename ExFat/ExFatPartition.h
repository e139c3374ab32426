// One exFAT volume's geometry and FAT, and the making of nodes with their
// data runs from parsed entry sets. Shared by the quick walk and the deep
// scan.
#pragma once

#include <cstdint>

#include "ExFatStructs.h"
#include "ExFatTable.h"

class CExFatFileNode;
class IDataRunList;

class CExFatPartition : public CFatTable {
public:
    CExFatPartition() = default;

    // 0 for clusters below 2, else the cluster's first sector.
    long long ConvertClusterNumToSector(unsigned int cluster) const;
    // The cluster after cluster: the cluster itself when contiguous and no
    // FAT is held, else its FAT entry; either answer at or above the cluster
    // limit becomes 0xFFFFFFFF.
    unsigned int GetNextCluster(unsigned int cluster, int contiguous);
    using CFatTable::GetNextCluster;

    // A new node from a record, with its runs; the caller owns it.
    CExFatFileNode* BuildFile(const _tagFileBaseInfo& record);
    // Runs of (cluster - 2, cluster count), in the units of the partition
    // record; empty for folders and empty files.
    IDataRunList* BuildFileDataRun(const _tagFileBaseInfo& record);

    unsigned int m_dwBytesPerSector = 512;
    unsigned int m_dwSectorsPerCluster = 1;
    unsigned int m_dwClusterLimit = 0;  // clusters at or above it are invalid
    unsigned int m_dwRootCluster = 0xFFFFFFFFu;
    unsigned int m_dwBytesPerCluster = 512;
    long long m_s64HeapStart = 0;
    long long m_s64PartitionStart = 0;
    long long m_s64TotalSectors = 0;
};
