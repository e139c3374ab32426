#include "NTFSVolumeAnalyze.h"

#include <vector>

#include "IStorageDevice.h"
#include "NTFSDBR.h"

int CNTFSVolumeAnalyer::GetLabel(char* buffer, int size)
{
    if (buffer && size > 1)
        buffer[0] = m_szLabel[0];
    return 0;
}

IVolumeAnalyze* CreateNTFSVolumeAnalyze(IStorageDevice* device, unsigned long long startSector)
{
    if (!device)
        return nullptr;
    // A sector larger than the buffer cannot be read into it.
    const unsigned int sectorSize = device->GetSectorSize();
    if (sectorSize == 0 || sectorSize > 4096)
        return nullptr;
    std::vector<uint8_t> sector(4096, 0);
    if (!device->ReadSector(sector.data(), static_cast<long long>(startSector), 1))
        return nullptr;
    CNTFSDBR dbr;
    if (!dbr.InitFromBuffer(sector.data()))
        return nullptr;
    return new CNTFSVolumeAnalyer(dbr.GetTotalSectors());
}
