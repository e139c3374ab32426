#include "FATVolume.h"

#include <memory>
#include <new>
#include <vector>

#include "FATDBR.h"
#include "FATDirEntry.h"
#include "FATTableAnalyser.h"
#include "IStorageDevice.h"
#include "ResultCode.h"

namespace {

// A cluster larger than this is not a plausible FAT cluster (128 sectors of 4 KiB).
constexpr unsigned long long kMaxClusterBytes = 128ULL * 4096;

}  // namespace

CFATVolume::CFATVolume(IStorageDevice* device) : m_pDevice(device)
{
    if (m_pDevice)
        m_dwSectorSize = m_pDevice->GetSectorSize();
}

bool CFATVolume::GeometryUsable(const FatLabelGeometry& g) const
{
    return m_pDevice && m_dwSectorSize >= kFATDirEntrySize && g.dwSectorsPerCluster != 0 &&
           static_cast<unsigned long long>(g.dwSectorsPerCluster) * m_dwSectorSize <= kMaxClusterBytes;
}

unsigned long long CFATVolume::ClusterToSector(unsigned long long volumeStart, const FatLabelGeometry& g,
                                               unsigned long long u64ClusterNumber, bool fat1216) const
{
    VANTREL_ASSERT(u64ClusterNumber >= 2);
    // The product of FAT count and FAT size is taken in 32 bits, as the
    // volume's own tools do.
    unsigned int fats = g.dwNumberOfFATs * g.dwSectorsPerFAT;
    unsigned long long sector = volumeStart + g.dwReservedSectors + fats;
    if (fat1216)
        sector += static_cast<unsigned long long>(g.dwRootEntries) * 32 / m_dwSectorSize;
    return sector + static_cast<unsigned long long>(g.dwSectorsPerCluster) * (u64ClusterNumber - 2);
}

CFATVolume::Found CFATVolume::FindLabel(unsigned long long sector, unsigned int sectors, char* pLabelBuffer)
{
    const size_t bytes = static_cast<size_t>(sectors) * m_dwSectorSize;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes]);
    if (!buffer || !m_pDevice->ReadSector(buffer.get(), static_cast<long long>(sector), sectors))
        return Found::kStop;
    CTempFATDirEntry entry(buffer.get());
    for (size_t offset = 0; offset + kFATDirEntrySize <= bytes; offset += kFATDirEntrySize) {
        if (!entry.InitFromBuffer(buffer.get() + offset))
            return Found::kStop;
        if (entry.IsErased() || entry.IsLongFileNameEntry() || !entry.IsVolumeLabel())
            continue;
        if (entry.IsNeverUsed())
            return Found::kStop;
        entry.GetShortName(pLabelBuffer, 1);
        return Found::kLabel;
    }
    return Found::kNotHere;
}

int CFATVolume::GetFatLabel(unsigned long long volumeStart, const FatLabelGeometry& g, char* pLabelBuffer)
{
    VANTREL_ASSERT(pLabelBuffer != NULL);
    if (!GeometryUsable(g))
        return 0;
    const unsigned long long rootSectors = static_cast<unsigned long long>(g.dwRootEntries) * 32 / m_dwSectorSize;
    if (rootSectors == 0)
        return 0;
    unsigned long long rootStart =
        volumeStart + g.dwReservedSectors + static_cast<unsigned int>(g.dwNumberOfFATs * g.dwSectorsPerFAT);
    unsigned long long pieces = (rootSectors - 1) / g.dwSectorsPerCluster + 1;
    for (unsigned long long piece = 0; piece < pieces; ++piece) {
        Found f = FindLabel(rootStart + piece * g.dwSectorsPerCluster, g.dwSectorsPerCluster, pLabelBuffer);
        if (f == Found::kLabel)
            return 1;
        if (f == Found::kStop)
            return 0;
    }
    return 0;
}

int CFATVolume::GetFat32Label(unsigned long long volumeStart, const FatLabelGeometry& g, char* pLabelBuffer)
{
    VANTREL_ASSERT(pLabelBuffer != NULL);
    VANTREL_ASSERT(m_pDevice != NULL);
    if (!GeometryUsable(g))
        return 0;
    const unsigned long long entryCount = static_cast<unsigned long long>(g.dwSectorsPerFAT) * m_dwSectorSize / 4;
    const unsigned long long entriesPerPiece = static_cast<unsigned long long>(g.dwSectorsPerCluster) * m_dwSectorSize / 4;
    const size_t pieceBytes = static_cast<size_t>(g.dwSectorsPerCluster) * m_dwSectorSize;
    std::vector<uint8_t> piece;
    unsigned long long loadedPiece = ~0ULL;

    // A damaged FAT may send the chain round in a circle: besides the bound of
    // one visit per FAT entry, a loop is caught by comparing with a saved
    // cluster that moves at doubling distances (it meets the loop within a
    // few rounds of it, in constant memory).
    unsigned int cluster = g.dwRootCluster;
    unsigned int saved = cluster;
    unsigned long long power = 1;
    unsigned long long sinceSaved = 0;
    for (unsigned long long steps = 0; steps < entryCount && CFATTableAnalyser::IsUsedCluster(cluster); ++steps) {
        Found f = FindLabel(ClusterToSector(volumeStart, g, cluster, false), g.dwSectorsPerCluster, pLabelBuffer);
        if (f == Found::kLabel)
            return 1;
        if (f == Found::kStop)
            return 0;
        if (cluster >= entryCount)
            return 0;  // the chain points outside the FAT
        unsigned long long index = cluster / entriesPerPiece;
        if (index != loadedPiece) {
            piece.resize(pieceBytes);
            unsigned long long sector = volumeStart + g.dwReservedSectors + g.dwSectorsPerCluster * index;
            if (!m_pDevice->ReadSector(piece.data(), static_cast<long long>(sector), g.dwSectorsPerCluster))
                return 0;
            loadedPiece = index;
        }
        unsigned int next = fatle::Load32(piece.data() + 4 * (cluster % entriesPerPiece));
        if (next == saved)
            return 0;
        if (++sinceSaved == power) {
            saved = next;
            power <<= 1;
            sinceSaved = 0;
        }
        cluster = next;
    }
    return 0;
}

int CFATVolume::GetPartitionLabel(unsigned long long volumeStart, const CTempFATDBR& dbr, char* pLabelBuffer)
{
    VANTREL_ASSERT(pLabelBuffer != NULL);
    FatLabelGeometry g;
    g.dwReservedSectors = dbr.GetReservedSector();
    g.dwNumberOfFATs = dbr.GetNumberOfFat();
    g.dwSectorsPerFAT = dbr.GetSectorsPerFat();
    g.dwRootEntries = dbr.GetRootEntries();
    g.dwSectorsPerCluster = dbr.GetSectorsperCluster();
    g.dwRootCluster = dbr.GetRootDirStartCluster();
    switch (dbr.GetFileSystemType()) {
    case FS_FAT32: return GetFat32Label(volumeStart, g, pLabelBuffer);
    case FS_FAT12:
    case FS_FAT16: return GetFatLabel(volumeStart, g, pLabelBuffer);
    default: return 0;
    }
}
