#include "ExFatPartition.h"

#include "ExFatDirEntry.h"
#include "ExFatFileNode.h"
#include "IFileNode.h"

long long CExFatPartition::ConvertClusterNumToSector(unsigned int cluster) const
{
    if (cluster < 2)
        return 0;
    return static_cast<long long>(m_dwSectorsPerCluster) * (cluster - 2) + m_s64HeapStart;
}

unsigned int CExFatPartition::GetNextCluster(unsigned int cluster, int contiguous)
{
    const unsigned int next = (contiguous && !IsValid()) ? cluster : CFatTable::GetNextCluster(cluster);
    return next >= m_dwClusterLimit ? kExFatNoCluster : next;
}

CExFatFileNode* CExFatPartition::BuildFile(const _tagFileBaseInfo& record)
{
    auto* node = new CExFatFileNode;
    node->SetFirstCluster(record.dwFirstCluster);
    node->SetFileAttributes(record.wAttributes);
    // Consecutive clusters without a FAT chain: folders are then read
    // cluster after cluster instead of through their (empty) FAT entries.
    if (record.u8NoFatChain)
        node->SetFileAttributes(CExFatFileNode::kAttrFatInvalid);
    node->SetFileTime(DosTime2FileTime(_tagDOSTime::FromStamp(record.dwCreateTime)),
                      DosTime2FileTime(_tagDOSTime::FromStamp(record.dwModifyTime)),
                      DosTime2FileTime(_tagDOSTime::FromStamp(record.dwAccessTime)));
    node->SetFileName(record.szName);
    node->SetFileSize(static_cast<long long>(record.u64DataLength));
    node->SetMetaDataSector(record.s64MetadataSector);
    if (record.u8InUse == 0)
        node->SetFileDeleted();
    node->SetDataRunList(BuildFileDataRun(record));
    return node;
}

IDataRunList* CExFatPartition::BuildFileDataRun(const _tagFileBaseInfo& record)
{
    IDataRunList* list = CreateDataRunList();
    const long long length = static_cast<long long>(record.u64DataLength);
    unsigned int cluster = record.dwFirstCluster;
    if (!list || record.IsDirectory() || length <= 0 || cluster < 2 || cluster >= kExFatFirstInvalidCluster ||
        m_dwBytesPerCluster == 0)
        return list;

    const long long clusterBytes = m_dwBytesPerCluster;
    if (record.u8NoFatChain) {
        DataRun run;
        run.llStart = static_cast<long long>(cluster) - 2;
        run.llLength = (length + clusterBytes - 1) / clusterBytes;
        list->AddDataRun(&run);
        return list;
    }

    // One run per cluster of the chain until the length is covered. A chain
    // that loops back on itself is cut where the loop is found (checked
    // against a marker cluster moved at doubling distances).
    long long left = length;
    unsigned int marker = cluster;
    unsigned long long steps = 0, nextMarkerMove = 1;
    for (;;) {
        DataRun run;
        run.llStart = static_cast<long long>(cluster) - 2;
        run.llLength = 1;
        list->AddDataRun(&run);
        cluster = GetNextCluster(cluster, 0);
        if (cluster < 2 || cluster > kExFatLastValidCluster || left - clusterBytes < 1)
            break;
        left -= clusterBytes;
        if (cluster == marker)
            break;
        if (++steps == nextMarkerMove) {
            marker = cluster;
            nextMarkerMove *= 2;
            steps = 0;
        }
    }
    return list;
}
