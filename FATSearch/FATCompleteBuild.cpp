// The complete build of the deep scan: one found partition's directory tree
// rebuilt from the root (when its boot sector was seen) and from every
// directory sector the scan recorded, with lost directory clusters parsed
// under made-up parents.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "EmptyFileVirtualClusterNum.h"
#include "FATBuildChildren.h"
#include "FATBuildWorker.h"
#include "FATFileNode.h"
#include "FATFileProperties.h"
#include "ITreeBuilder.h"
#include "IStorageDevice.h"
#include "RawFileExtTable.h"
#include "SearchedPartitionInfo.h"

namespace {

// Names "DIR0", "DIR1", ... of made-up folders; a deep scan starts at 0.
unsigned int g_dwTempFolderCounter = 0;

// A FAT12/16 root directory lies before the data area; without the boot
// sector the scan's records are taken from this many bytes below it.
constexpr long long kLostRootBytes = 131072;
// A made-up folder is deleted (bit 0) and made up (bit 3).
constexpr unsigned short kMadeUpFolderState = 9;
constexpr unsigned int kUnknownCluster = 0xFFFFFFFFu;

bool SameTextIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (x != y && !(x < 0x80 && y < 0x80 && std::tolower(x) == std::tolower(y)))
            return false;
    }
    return true;
}

}  // namespace

// ---- CFATBuildChildren: the deep scan's file test ---------------------------

void CFATBuildChildren::SetFileSectorMap(const std::map<long long, unsigned int>* map) { m_pFileSectorMap = map; }

void CFATBuildChildren::SetMatchFileSectorMap(bool match) { m_bMatchFileSectorMap = match; }

bool CFATBuildChildren::IsMappedFileStart(unsigned long long cluster) const
{
    if (!m_pFileSectorMap || m_pFileSectorMap->empty() || m_strCurrentExtension.empty())
        return false;
    const long long sector = m_worker.ConvertClusterNumToSector(cluster);
    if (sector <= 0)
        return false;
    const auto it = m_pFileSectorMap->find(sector);
    if (it == m_pFileSectorMap->end() || it->second >= RAW_FILE_TYPE_SLOTS)
        return false;
    const char* entry = g_s_strFileExtName[it->second];
    const std::string extension(entry, strnlen(entry, sizeof g_s_strFileExtName[0]));
    return SameTextIgnoringCase(extension, m_strCurrentExtension);
}

// ---- CFATBuildWorker: the complete build ------------------------------------

void CFATBuildWorker::SetFileSectorMap(std::map<long long, unsigned int>* map) { m_pFileSectorMap = map; }

void CFATBuildWorker::ResetDeepScanCounters()
{
    g_dwTempFolderCounter = 0;
    GetEmptyFileVirtualClusterNumObject().ResetVirtualClusterNum();
}

CFATFileNode* CFATBuildWorker::CreateTempFileNode(unsigned int cluster, unsigned int parentCluster)
{
    CFATFileProperties* props = CFATFileProperties::Create();
    if (!props)
        return nullptr;
    char name[24];
    std::snprintf(name, sizeof name, "DIR%u", g_dwTempFolderCounter++);
    props->SetFileName(name);
    props->SetAttribute(static_cast<unsigned short>(props->GetAttribute() | 0x10));
    props->SetState(kMadeUpFolderState);
    props->SetFirstClusterNum(cluster);
    props->SetParentFirstClusterNum(parentCluster);
    props->SetMetaDataSector(ConvertClusterNumToSector(parentCluster));
    props->SetCreationTime();
    props->SetModificationTime();
    props->SetLastAccessTime();
    auto* node = new (std::nothrow) CFATFileNode;
    if (!node) {
        CFATFileProperties::Destory(props);
        return nullptr;
    }
    node->SetFileProperties(props);
    return node;
}

void CFATBuildWorker::BuildFat16LostRoot(CFATBuildChildren& children, long long sector)
{
    if (!m_pDevice || m_dwSectorSize == 0)
        return;
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(m_dwSectorSize, 0);
    } catch (const std::bad_alloc&) {
        return;
    }
    if (!m_pDevice->ReadSector(buffer.data(), sector, 1))
        return;
    FATFolderList ignored;
    children.BuildChildrenFromBuffer(buffer.data(), m_dwSectorSize, nullptr, ignored, 1);
}

void CFATBuildWorker::BuildLostNode(CFATBuildChildren& children, const FATFolderSectorSet& folderSectors)
{
    if (!m_pDevice || m_dwSectorsPerCluster == 0 || m_dwSectorSize == 0)
        return;
    const long long end = m_s64StartSector + m_s64TotalSectors;
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(static_cast<size_t>(m_dwSectorsPerCluster) * m_dwSectorSize, 0);
    } catch (const std::bad_alloc&) {
        return;
    }
    for (auto it = folderSectors.lower_bound(m_s64DataStartSector);
         it != folderSectors.end() && it->s64Sector < end; ++it) {
        if (it->IsFolderStart() || !IsFirsectorInCluster(it->s64Sector))
            continue;
        if (m_setVisitedClusters.count(ConvertSectorToClusterNum(it->s64Sector)))
            continue;
        if (!m_pDevice->ReadSector(buffer.data(), it->s64Sector, m_dwSectorsPerCluster))
            continue;
        // The entries' own folder is unknown: a made-up parent that the tree
        // never sees makes them deleted, and the builder files them as lost.
        CFATFileNode* parent = CreateTempFileNode(kUnknownCluster, kUnknownCluster);
        if (!parent)
            return;
        FATFolderList ignored;
        children.BuildChildrenFromBuffer(buffer.data(), static_cast<unsigned int>(buffer.size()), parent, ignored, 1);
        parent->Release();
    }
}

int CFATBuildWorker::CompleteBuildDirectoryTree(const FATFolderSectorSet& folderSectors)
{
    GetEmptyFileVirtualClusterNumObject().ResetVirtualClusterNum();
    CFATBuildChildren children(*this);
    children.SetFileSectorMap(m_pFileSectorMap);
    children.SetMatchFileSectorMap(true);

    // The root's folders are not followed from here: every subdirectory the
    // scan saw has its own record below.
    FATFolderList list;
    children.BuildRoot(list, m_iFromBootSector);
    list.clear();

    long long first = m_s64DataStartSector;
    if ((m_eFileSystemType == FS_FAT12 || m_eFileSystemType == FS_FAT16) && !m_iFromBootSector && m_dwSectorSize)
        first = std::max(0LL, m_s64DataStartSector - kLostRootBytes / m_dwSectorSize);
    const long long end = m_s64StartSector + m_s64TotalSectors;
    const unsigned short partitionIndex = m_pPartition ? m_pPartition->GetPartitionIndex() : 0;

    for (auto it = folderSectors.lower_bound(first); it != folderSectors.end() && it->s64Sector < end; ++it) {
        const long long sector = it->s64Sector;
        if (sector < m_s64DataStartSector) {
            BuildFat16LostRoot(children, sector);
            continue;
        }
        if (!it->IsFolderStart() || ConvertSectorToClusterNum(sector) != it->dwFirstCluster ||
            !IsFirsectorInCluster(sector))
            continue;
        CFATFileNode* folder = nullptr;
        if (const auto known = m_mapFolders.find(it->dwFirstCluster); known != m_mapFolders.end()) {
            folder = known->second;
        } else {
            folder = CreateTempFileNode(it->dwFirstCluster, it->dwParentFirstCluster);
            if (!folder)
                continue;
            folder->SetBelongedPartition(partitionIndex);
            if (!m_pTreeBuilder || !m_pTreeBuilder->AddNode(folder, SEARCHER_FAT)) {
                folder->Release();
                continue;
            }
            m_mapFolders.emplace(it->dwFirstCluster, folder);
        }
        FATFolderList scratch;
        children.BuildChildren(folder, it->dwFirstCluster, scratch, 0);
    }

    BuildLostNode(children, folderSectors);
    return 1;
}
