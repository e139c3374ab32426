#include "SearchedPartitionInfo.h"

unsigned int CSearchedPartitionInfo::NormaliseSectorSize(unsigned int sectorSize)
{
    return (sectorSize != 0 && sectorSize % 512 == 0) ? sectorSize : 512;
}

CSearchedPartitionInfo::CSearchedPartitionInfo(unsigned int sectorSize)
    : m_dwSectorSize(NormaliseSectorSize(sectorSize))
{
}
