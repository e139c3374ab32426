#include "FatVolumeAnalyze.h"

#include <cstring>
#include <vector>

#include "FATDBR.h"
#include "FATVolume.h"
#include "IStorageDevice.h"
#include "ResultCode.h"

namespace {

// The boot sector's bytes-per-sector field is 16 bits wide; smaller sectors
// cannot hold a boot sector.
constexpr unsigned int kMinSectorSize = 512;
constexpr unsigned int kMaxSectorSize = 32768;

}  // namespace

void CFatVolumeAnalyze::Analyze(IStorageDevice* device, unsigned long long start)
{
    if (!device)
        return;
    unsigned int sectorSize = device->GetSectorSize();
    if (sectorSize < kMinSectorSize || sectorSize > kMaxSectorSize)
        return;
    std::vector<uint8_t> buffer(4ULL * sectorSize);
    if (!device->ReadSector(buffer.data(), static_cast<long long>(start), 4))
        return;
    CTempFATDBR dbr(buffer.data(), sectorSize);
    if (!dbr.IsValidDBR())
        return;
    m_eFileSystemType = dbr.GetFileSystemType();
    m_u64TotalSectors = dbr.GetTotalSectors();
    CFATVolume volume(device);
    volume.GetPartitionLabel(start, dbr, m_szLabel);
    m_szLabel[sizeof(m_szLabel) - 1] = '\0';
}

int CFatVolumeAnalyze::GetLabel(char* buffer, int iLabelLength)
{
    VANTREL_ASSERT(iLabelLength > 0);
    VANTREL_ASSERT(buffer != NULL);
    size_t n = static_cast<size_t>(iLabelLength) < sizeof(m_szLabel) ? static_cast<size_t>(iLabelLength)
                                                                     : sizeof(m_szLabel);
    std::memcpy(buffer, m_szLabel, n);
    if (!std::memchr(buffer, 0, n))
        buffer[n - 1] = '\0';  // a short buffer still gets a terminated (cut) label
    return static_cast<int>(std::strlen(buffer));
}

IVolumeAnalyze* CreateFatVolumeAnalyze(IStorageDevice* device, unsigned long long start)
{
    auto* analyze = new CFatVolumeAnalyze;
    analyze->Analyze(device, start);
    return analyze;
}
