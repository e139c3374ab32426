#include "ExFatDBR.h"

#include <cstring>

#include "ExFatStructs.h"

unsigned long long CExFatDBR::VolumeLength() const { return exfatle::Load64(m_pSector + 72); }
unsigned int CExFatDBR::FatOffset() const { return exfatle::Load32(m_pSector + 80); }
unsigned int CExFatDBR::FatLength() const { return exfatle::Load32(m_pSector + 84); }
unsigned int CExFatDBR::ClusterHeapOffset() const { return exfatle::Load32(m_pSector + 88); }
unsigned int CExFatDBR::ClusterCount() const { return exfatle::Load32(m_pSector + 92); }
unsigned int CExFatDBR::FirstClusterOfRootDirectory() const { return exfatle::Load32(m_pSector + 96); }
unsigned int CExFatDBR::VolumeFlags() const { return exfatle::Load16(m_pSector + 106); }

bool CExFatDBR::IsValid(unsigned int sectorSize) const
{
    if (!m_pSector)
        return false;
    if (exfatle::Load16(m_pSector + 510) != 0xAA55 || std::memcmp(m_pSector + 3, "EXFAT   ", 8) != 0)
        return false;
    for (int i = 11; i < 64; ++i)
        if (m_pSector[i] != 0)
            return false;

    const unsigned int sectorShift = BytesPerSectorShift();
    const unsigned int clusterShift = SectorsPerClusterShift();
    if (sectorShift < 9 || sectorShift > 12 || (1u << sectorShift) != sectorSize)
        return false;
    if (sectorShift + clusterShift > 25)
        return false;
    if (GetNumberOfFat() != 1 && GetNumberOfFat() != 2)
        return false;

    const unsigned long long volumeLength = VolumeLength();
    const unsigned long long fatOffset = FatOffset();
    const unsigned long long fatLength = FatLength();
    const unsigned long long heapOffset = ClusterHeapOffset();
    const unsigned long long clusterCount = ClusterCount();
    if (fatLength == 0 || heapOffset == 0 || fatOffset == 0 || volumeLength == 0 || clusterCount == 0)
        return false;
    if (FirstClusterOfRootDirectory() < 2)
        return false;
    if (fatOffset > volumeLength || heapOffset > volumeLength || fatOffset + fatLength > heapOffset)
        return false;
    // The heap may end up to one cluster past the volume's end: the test
    // counts ClusterCount - 1 whole clusters from the heap's start.
    return ((clusterCount - 1) << clusterShift) + heapOffset <= volumeLength;
}
