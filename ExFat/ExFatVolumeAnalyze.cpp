#include "ExFatVolumeAnalyze.h"

#include <cstring>
#include <vector>

#include "ExFatDBR.h"
#include "IStorageDevice.h"

namespace {

constexpr unsigned int kBootBufferBytes = 4096;

}  // namespace

int CExFatVolumeAnalyer::GetLabel(char* buffer, int size)
{
    int count = 0;
    while (count < kLabelChars - 1 && m_wszLabel[count] != 0)
        ++count;
    const long long needed = (static_cast<long long>(count) + 1) * 4;
    if (!buffer || size < needed)
        return 0;
    std::memcpy(buffer, m_wszLabel, static_cast<size_t>(needed));
    return count;
}

IVolumeAnalyze* CreateExfatVolumeAnalyze(IStorageDevice* device, unsigned long long startSector)
{
    if (!device)
        return nullptr;
    const unsigned int sectorSize = device->GetSectorSize();
    // An exFAT sector is at most 4,096 bytes; anything larger cannot match.
    if (sectorSize == 0 || sectorSize > kBootBufferBytes)
        return nullptr;
    std::vector<uint8_t> sector(kBootBufferBytes, 0);
    if (!device->ReadSector(sector.data(), static_cast<long long>(startSector), 1))
        return nullptr;
    CExFatDBR dbr(sector.data());
    if (!dbr.IsValid(sectorSize))
        return nullptr;
    return new CExFatVolumeAnalyer(static_cast<long long>(dbr.GetTotalSectors()));
}
