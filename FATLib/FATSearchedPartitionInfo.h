// The FAT partition record that both FAT searchers report.
#pragma once

#include "SearchedPartitionInfo.h"

class CFATSearchedPartitionInfo : public CSearchedPartitionInfo {
public:
    explicit CFATSearchedPartitionInfo(unsigned int sectorSize = 512) : CSearchedPartitionInfo(sectorSize) {}
    ~CFATSearchedPartitionInfo() override = default;

    static CFATSearchedPartitionInfo* CreateFATSearchedPartitionInfo(unsigned int sectorSize);
    static void DestroyFATSearchedPartitionInfo(CFATSearchedPartitionInfo* record);

    int GetType() const override { return 1; }
    // A new record of the same sector size with the partition index, type,
    // sectors per cluster, data-area start, start sector, total sectors and
    // the FAT fields; score and the other base fields keep their defaults.
    CSearchedPartitionInfo* Clone() const override;

    long long GetStartSector() const { return GetPartitionStart(); }
    void SetStartSector(long long sector) { SetPartitionStart(sector); }
    unsigned short GetReservedSector() const { return m_wReservedSectors; }
    void SetReservedSector(unsigned short n) { m_wReservedSectors = n; }
    unsigned int GetSectorPerFAT() const { return m_dwSectorsPerFAT; }
    void SetSectorPerFAT(unsigned int n) { m_dwSectorsPerFAT = n; }
    unsigned int GetTotalCluster() const { return m_dwTotalClusters; }
    void SetTotalCluster(unsigned int n) { m_dwTotalClusters = n; }
    // FAT32: the root directory's first cluster; FAT12/16: its sector count.
    unsigned int GetRootInfo() const { return m_dwRootInfo; }
    void SetRootInfo(unsigned int v) { m_dwRootInfo = v; }
    unsigned int GetFlag() const { return m_dwEvidenceFlags; }
    void MergeFlag(unsigned int flags) { m_dwEvidenceFlags |= flags; }

private:
    unsigned short m_wReservedSectors = 0;
    unsigned int m_dwSectorsPerFAT = 0;
    unsigned int m_dwTotalClusters = 0;
    unsigned int m_dwRootInfo = 0;
    unsigned int m_dwEvidenceFlags = 0;
};
