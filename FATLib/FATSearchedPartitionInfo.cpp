#include "FATSearchedPartitionInfo.h"

#include <new>

CFATSearchedPartitionInfo* CFATSearchedPartitionInfo::CreateFATSearchedPartitionInfo(unsigned int sectorSize)
{
    return new (std::nothrow) CFATSearchedPartitionInfo(sectorSize);
}

void CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(CFATSearchedPartitionInfo* record) { delete record; }

CSearchedPartitionInfo* CFATSearchedPartitionInfo::Clone() const
{
    auto* clone = CreateFATSearchedPartitionInfo(GetSectorSize());
    if (!clone)
        return nullptr;
    clone->SetPartitionIndex(GetPartitionIndex());
    clone->SetFileSystemType(GetFileSystemType());
    clone->SetSectorsPerUnit(GetSectorsPerUnit());
    clone->SetUnitBase(GetUnitBase());
    clone->SetPartitionStart(GetPartitionStart());
    clone->SetTotalSectors(GetTotalSectors());
    clone->m_wReservedSectors = m_wReservedSectors;
    clone->m_dwSectorsPerFAT = m_dwSectorsPerFAT;
    clone->m_dwTotalClusters = m_dwTotalClusters;
    clone->m_dwRootInfo = m_dwRootInfo;
    clone->m_dwEvidenceFlags = m_dwEvidenceFlags;
    return clone;
}
