#include "FATBuildDataRun.h"

#include "FATTable.h"

namespace {

// Chain values at or above this end a chain (FAT12/16 marks are mapped to
// it by the readers).
constexpr unsigned long long kEndOfChain = 0x0FFFFFF8;
constexpr unsigned long long kBadCluster = 0x0FFFFFF7;
constexpr unsigned long long kDeletedChainEnd = 0x0FFFFFFF;

}  // namespace

CFATBuildDataRun::CFATBuildDataRun(IFATTable* fat, unsigned int sectorSize, unsigned int sectorsPerCluster,
                                   unsigned long long limitSectors)
    : m_pFATTable(fat),
      m_dwSectorSize(sectorSize),
      m_dwSectorsPerCluster(sectorsPerCluster),
      m_u64LimitSectors(limitSectors)
{
}

bool CFATBuildDataRun::Usable() const
{
    return m_pFATTable && m_u64LimitSectors != 0 && m_dwSectorSize != 0 && m_dwSectorsPerCluster != 0;
}

IDataRunList* CFATBuildDataRun::MakeList(const std::vector<DataRun>& runs)
{
    if (runs.empty())
        return nullptr;
    IDataRunList* list = CreateDataRunList();
    if (!list)
        return nullptr;
    for (const DataRun& run : runs)
        list->AddDataRun(&run);
    return list;
}

IDataRunList* CFATBuildDataRun::BuildDataRunList(unsigned int firstCluster, long long size, int deleted)
{
    return deleted ? BuildDeleteFileDataRunList(firstCluster, size) : BuildLiveFileDataRunList(firstCluster, size);
}

IDataRunList* CFATBuildDataRun::BuildLiveFileDataRunList(unsigned int firstCluster, long long size)
{
    if (!Usable() || firstCluster < 2 || size <= 0)
        return nullptr;
    const unsigned long long clusterBytes = static_cast<unsigned long long>(m_dwSectorSize) * m_dwSectorsPerCluster;
    const unsigned long long bytes = static_cast<unsigned long long>(size);
    const unsigned long long spc = m_dwSectorsPerCluster;

    std::vector<DataRun> runs;
    unsigned long long covered = 0;  // bytes of the stored extents
    unsigned long long runStart = firstCluster;
    unsigned long long runLength = 1;
    unsigned long long current = firstCluster;
    // Ends the walk with the extent in hand; false when it leaves the
    // partition, which drops the whole list.
    auto store = [&]() {
        if ((runStart - 2 + runLength) * spc > m_u64LimitSectors)
            return false;
        runs.push_back(DataRun{static_cast<long long>(runStart - 2), static_cast<long long>(runLength)});
        covered += runLength * clusterBytes;
        return true;
    };

    // Every step adds a cluster, and the walk ends once the size is covered,
    // so a damaged chain (a loop, or a run far past the file's end) cannot
    // hold it.
    for (;;) {
        if (covered + runLength * clusterBytes >= bytes)
            return store() ? MakeList(runs) : nullptr;
        const unsigned long long next = m_pFATTable->GetNextCluster(static_cast<unsigned int>(current));
        if (next < 2 || next >= kEndOfChain) {
            // The chain ends early: the last extent still covers the size.
            runLength = (bytes - covered + clusterBytes - 1) / clusterBytes;
            return store() ? MakeList(runs) : nullptr;
        }
        if (next == current + 1) {
            ++runLength;
            current = next;
            continue;
        }
        if (!store())
            return nullptr;
        runStart = current = next;
        runLength = 1;
    }
}

IDataRunList* CFATBuildDataRun::BuildDeleteFileDataRunList(unsigned int firstCluster, long long size)
{
    if (!Usable() || firstCluster < 2 || size <= 0)
        return nullptr;
    const unsigned long long clusterBytes = static_cast<unsigned long long>(m_dwSectorSize) * m_dwSectorsPerCluster;
    const unsigned long long bytes = static_cast<unsigned long long>(size);
    // Clusters the size needs, and as many steps again for bad-cluster marks
    // passed over: the walk cannot take longer.
    const unsigned long long maxSteps = 2 * ((bytes + clusterBytes - 1) / clusterBytes) + 2;

    std::vector<DataRun> runs;
    unsigned long long covered = 0;
    unsigned long long cluster = firstCluster;
    bool contiguous = false;
    for (unsigned long long step = 0; step < maxSteps && covered < bytes; ++step) {
        if (cluster < 2 || cluster == kDeletedChainEnd || (cluster - 2) * m_dwSectorsPerCluster >= m_u64LimitSectors)
            break;
        if (cluster != kBadCluster) {
            runs.push_back(DataRun{static_cast<long long>(cluster - 2), 1});
            covered += clusterBytes;
        }
        if (!contiguous) {
            const unsigned long long next =
                cluster <= 0xFFFFFFFFULL ? m_pFATTable->GetNextCluster(static_cast<unsigned int>(cluster)) : 0;
            if (next != 0) {
                cluster = next;
                continue;
            }
            contiguous = true;
        }
        ++cluster;
    }
    return MakeList(runs);
}
