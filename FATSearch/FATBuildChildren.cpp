#include "FATBuildChildren.h"

#include <cstring>
#include <memory>
#include <new>

#include "EmptyFileVirtualClusterNum.h"
#include "FATFileNode.h"
#include "FATFolderAnalyser.h"
#include "FATTable.h"
#include "ITreeBuilder.h"
#include "IStorageDevice.h"
#include "IniFile.h"
#include "RawFileAnalyser.h"
#include "SearchedPartitionInfo.h"
#include "WorkPath.h"

namespace {

// The end of the last file whose FAT32 first cluster was guessed: where the
// next deleted file of the walk most likely starts. Carried from folder to
// folder for the whole build; a build starts it at 0.
unsigned long long g_u64LastExpectedCluster = 0;

constexpr unsigned long long kHighWordStep = 0x10000;
constexpr unsigned long long kLowWordMask = 0xFFFF;
constexpr unsigned long long kBadCluster = 0x0FFFFFF7;
constexpr unsigned int kNoOffset = 0xFFFFFFFFu;
// Directory clusters are read in runs of up to this many sectors.
constexpr unsigned int kRunSectors = 128;
// An unfinished long-name run longer than this is not carried (a name has at
// most 20 long-name entries, 640 bytes).
constexpr size_t kMaxCarryBytes = 1023;
// A candidate cluster must lie this far inside the device.
constexpr long long kCandidateMargin = 10;

unsigned long long HighPart(unsigned long long v) { return v & ~kLowWordMask; }

}  // namespace

CFATBuildChildren::CFATBuildChildren(CFATBuildWorker& worker)
    : m_worker(worker),
      m_pTreeBuilder(worker.m_pTreeBuilder),
      m_pPartition(worker.m_pPartition),
      m_pDevice(worker.m_pDevice),
      m_pVisitedClusters(&worker.m_setVisitedClusters),
      m_pFolderMap(&worker.m_mapFolders),
      m_s64TotalSectors(worker.m_s64TotalSectors),
      m_eFileSystemType(worker.m_eFileSystemType),
      m_pFATTable(worker.m_pFATTable),
      m_dwSectorsPerCluster(worker.m_dwSectorsPerCluster),
      m_dwSectorSize(worker.m_dwSectorSize),
      m_dwRootCluster(worker.m_dwRootCluster),
      m_s64RootStartSector(worker.m_s64RootStartSector),
      m_dwRootSectors(worker.m_dwRootSectors),
      m_s64DataStartSector(worker.m_s64DataStartSector),
      m_u64ClusterEnd(worker.GetClusterEnd()),
      m_s64DeviceSectors(worker.m_pDevice ? worker.m_pDevice->GetTotalSectors() : 0),
      m_dataRunBuilder(worker.m_pFATTable, worker.m_dwSectorSize, worker.m_dwSectorsPerCluster,
                       worker.m_s64TotalSectors > 0 ? static_cast<unsigned long long>(worker.m_s64TotalSectors) : 0)
{
    g_u64LastExpectedCluster = 0;
    if (m_eFileSystemType == FS_FAT32)
        ReadReviseSwitch();
}

void CFATBuildChildren::ReadReviseSwitch()
{
    const char* folder = GetAppWorkPath();
    CIniFile ini;
    ini.Init(std::string(folder ? folder : "") + "/UIConfig.ini");
    std::string value;
    m_bRevise = !(ini.ReadItem("UserExperience", "bRevise", value) == 0 && value == "0");
}

IDataRunList* CFATBuildChildren::BuildDataRunList(unsigned int firstCluster, long long size, int deleted)
{
    return m_dataRunBuilder.BuildDataRunList(firstCluster, size, deleted);
}

int CFATBuildChildren::BuildRoot(FATFolderList& list, int rootKnown)
{
    if (!rootKnown)
        return 1;
    if (m_eFileSystemType == FS_FAT32)
        return BuildChildren(nullptr, m_dwRootCluster, list, 1);
    // FAT12/16: the root directory is a fixed area before the data area.
    if (!m_pDevice || m_dwRootSectors == 0 || m_dwSectorSize == 0)
        return 0;
    const size_t bytes = static_cast<size_t>(m_dwRootSectors) * m_dwSectorSize;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes]);
    if (!buffer || !m_pDevice->ReadSector(buffer.get(), m_s64RootStartSector, m_dwRootSectors))
        return 0;
    BuildChildrenFromBuffer(buffer.get(), static_cast<unsigned int>(bytes), nullptr, list, 0);
    return 1;
}

int CFATBuildChildren::BuildChildren(CFATFileNode* parent, unsigned int firstCluster, FATFolderList& list,
                                     int isRoot)
{
    const unsigned int spc = m_dwSectorsPerCluster;
    const unsigned int sectorSize = m_dwSectorSize;
    if (!m_pDevice || spc == 0 || sectorSize < 2 * kFATDirEntrySize)
        return 0;
    const unsigned int maxRunClusters = spc >= kRunSectors ? 1 : kRunSectors / spc;
    // A deleted folder's clusters may belong to other files by now: only its
    // first cluster is read.
    CFATFileProperties* parentProps = parent ? parent->GetFileProperties() : nullptr;
    const bool deletedFolder = parentProps && (parentProps->GetState() & 1);

    // A run, plus room in front for the carried bytes of a long-name run;
    // one buffer serves every folder of the build.
    const size_t capacity = (static_cast<size_t>(maxRunClusters) * spc + 2) * sectorSize;
    if (m_vecRunBuffer.size() < capacity) {
        try {
            m_vecRunBuffer.resize(capacity);
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    uint8_t* const buffer = m_vecRunBuffer.data();

    unsigned long long cluster = firstCluster;
    size_t carry = 0;
    bool firstRun = true;
    unsigned int singleClusterReads = 0;  // after a failed run: clusters to read one by one
    // A chain ends below cluster 2, at the bad-cluster mark and at the end
    // of the data area: a damaged FAT cannot send reads past the volume. It
    // cannot loop either: every pass adds a cluster to the visited set.
    while (cluster >= 2 && cluster < m_u64ClusterEnd && cluster != kBadCluster) {
        if (m_pVisitedClusters->count(static_cast<uint32_t>(cluster)))
            return 0;

        // 1. A run of consecutive clusters.
        const unsigned int runLimit = (singleClusterReads || deletedFolder) ? 1 : maxRunClusters;
        unsigned long long last = cluster;
        unsigned int count = 1;
        unsigned long long next = 0;
        for (;;) {
            next = m_pFATTable ? m_pFATTable->GetNextCluster(static_cast<unsigned int>(last)) : 0;
            if (count >= runLimit || next != last + 1 || next >= m_u64ClusterEnd ||
                m_pVisitedClusters->count(static_cast<uint32_t>(next)))
                break;
            last = next;
            ++count;
        }
        if (deletedFolder)
            next = 0;

        // 2. Its sectors, after the carried bytes. A failed run is read
        // again cluster by cluster, so that one bad sector costs only its
        // own cluster; a cluster that cannot be read is passed over, and the
        // long-name bytes carried into it are dropped: parsed bytes are
        // always the device's own.
        const bool read = m_pDevice->ReadSector(buffer + carry, m_worker.ConvertClusterNumToSector(cluster),
                                                static_cast<long long>(count) * spc) != 0;
        if (!read && count > 1) {
            singleClusterReads = count;
            continue;
        }
        if (singleClusterReads)
            --singleClusterReads;

        // 3. Its clusters are now read.
        for (unsigned long long c = cluster; c <= last; ++c)
            m_pVisitedClusters->insert(static_cast<uint32_t>(c));
        if (!read) {
            carry = 0;
            firstRun = false;
            cluster = next;
            continue;
        }

        // 4. A folder starts with "." and "..", the root with neither.
        if (firstRun) {
            firstRun = false;
            const CTempFATDirEntry dot(buffer);
            const CTempFATDirEntry dotdot(buffer + kFATDirEntrySize);
            const bool isDot = CFATFolderAnalyser::IsCurDirFileName(dot);
            const bool isDotDot = CFATFolderAnalyser::IsParentDirFileName(dotdot);
            if (isRoot ? (isDot || isDotDot) : !(isDot && isDotDot))
                return 0;
        }

        // 5. The entries; an unfinished long-name run goes on into the next
        // read.
        const size_t length = carry + static_cast<size_t>(count) * spc * sectorSize;
        const unsigned int consumed =
            BuildChildrenFromBuffer(buffer, static_cast<unsigned int>(length), parent, list, 0);
        if (consumed == kNotADirectory)
            return 1;
        const size_t left = consumed < length ? length - consumed : 0;
        if (left >= 1 && left <= kMaxCarryBytes) {
            std::memmove(buffer, buffer + consumed, left);
            carry = left;
        } else {
            carry = 0;
        }

        // 6. On along the chain.
        cluster = next;
    }
    return 1;
}

unsigned int CFATBuildChildren::BuildChildrenFromBuffer(uint8_t* bytes, unsigned int length, CFATFileNode* parent,
                                                       FATFolderList& list, int stopAtInvalid)
{
    if (!bytes)
        return length;
    unsigned long long P = 0;  // the folder's first cluster
    unsigned long long R = 0;  // reference for the FAT32 guess
    bool parentDeleted = false;
    bool madeUpParent = false;
    if (parent) {
        CFATFileProperties* parentProps = parent->GetFileProperties();
        if (!parentProps)
            return kNotADirectory;
        P = static_cast<unsigned long long>(parentProps->GetFirstClusterNum());
        parentDeleted = (parentProps->GetState() & 1) != 0;
        // Deleted and made up (state bits 1 and 8): its cluster says nothing
        // about where its files lie.
        madeUpParent = (parentProps->GetState() & 9) == 9;
        R = madeUpParent ? 0 : P;
    }
    unsigned long long N = R;
    const long long metaDataSector = m_worker.ConvertClusterNumToSector(P);
    const unsigned long long spc = m_dwSectorsPerCluster;
    const unsigned long long total = m_s64TotalSectors > 0 ? static_cast<unsigned long long>(m_s64TotalSectors) : 0;
    unsigned int longNameStart = kNoOffset;
    unsigned int dotEntries = 0;

    for (unsigned int offset = 0; offset + kFATDirEntrySize <= length; offset += kFATDirEntrySize) {
        CTempFATDirEntry entry(bytes + offset);
        // 1-4: entries that are not files or folders.
        if (!entry.IsValidFATDirEntry(0)) {
            longNameStart = kNoOffset;
            if (stopAtInvalid)
                break;
            continue;
        }
        if (entry.IsLongFileNameEntry()) {
            if (longNameStart == kNoOffset)
                longNameStart = offset;
            continue;
        }
        if (entry.IsVolumeLabel()) {
            longNameStart = kNoOffset;
            continue;
        }
        if (bytes[offset] == '.') {
            longNameStart = kNoOffset;
            // A directory holds one "." and one ".." at its start. Another
            // such pair is another directory's start, so these bytes are
            // not one directory; a lone dot-named entry further on is a
            // damaged entry and costs only itself.
            if (++dotEntries > 2 && offset + 2 * kFATDirEntrySize <= length &&
                CFATFolderAnalyser::IsCurDirFileName(entry) &&
                CFATFolderAnalyser::IsParentDirFileName(CTempFATDirEntry(bytes + offset + kFATDirEntrySize)))
                return kNotADirectory;
            continue;
        }

        // 5. Entries that point outside the partition or to their own folder.
        const unsigned int cluster = entry.GetFirstClusterNO();
        if (cluster >= 3 && (cluster - 2ULL) * spc > total) {
            longNameStart = kNoOffset;
            if (stopAtInvalid)
                break;
            continue;
        }
        if (cluster == P && P != 0) {
            longNameStart = kNoOffset;
            continue;
        }

        // 6. The record, from the long-name run (if any) to this entry.
        const unsigned int from = longNameStart == kNoOffset ? offset : longNameStart;
        longNameStart = kNoOffset;
        CFATFileProperties* props =
            m_propertiesBuilder.BuildFATFilePropertyFromDirEntryBuffer(bytes + from, offset + kFATDirEntrySize - from);
        if (!props)
            continue;
        if (parentDeleted)
            props->SetState(props->GetState() | 1);
        props->SetParentFirstClusterNum(static_cast<long long>(P));
        props->SetMetaDataSector(metaDataSector);

        // 7. The high half of a deleted FAT32 entry's first cluster.
        if (m_eFileSystemType == FS_FAT32) {
            ReverseDelFileFirstNum(entry, R, N, props, madeUpParent);
            if (entry.GetFirstClusterNO() != cluster && entry.GetFirstClusterNO() == P) {
                entry.SetFirstClusterNO(cluster);
                props->SetFirstClusterNum(cluster);
            }
        }

        // 8. Node id and extents.
        const bool isFolder = entry.IsDirectory() != 0;
        const unsigned int firstCluster = entry.GetFirstClusterNO();
        IDataRunList* runs = nullptr;
        if (!isFolder && props->GetFileSize() <= 0) {
            props->SetFirstClusterNum(
                static_cast<long long>(GetEmptyFileVirtualClusterNumObject().GetVirtualClusterNum()));
        } else {
            props->SetFirstClusterNum(firstCluster);
            if (!isFolder)
                runs = BuildDataRunList(firstCluster, props->GetFileSize(), props->GetState() & 1);
        }

        // 9. The node, handed to the tree builder.
        CFATFileNode* node = new (std::nothrow) CFATFileNode;
        if (!node) {
            CFATFileProperties::Destory(props);
            if (runs)
                runs->Release();
            continue;
        }
        node->SetFileProperties(props);
        if (runs)
            node->SetDataRunList(runs);
        node->SetBelongedPartition(m_pPartition ? m_pPartition->GetPartitionIndex() : 0);
        if (!m_pTreeBuilder || !m_pTreeBuilder->AddNode(node, SEARCHER_FAT)) {
            node->Release();
            continue;
        }

        // 10. Folders wait for their own walk.
        if (isFolder) {
            m_pFolderMap->emplace(firstCluster, node);
            list.push_back(node);
        }
    }
    return longNameStart != kNoOffset ? longNameStart : length;
}

// ---- FAT32 first-cluster guess ---------------------------------------------

void CFATBuildChildren::SetCurrentExtension(const char* name)
{
    if (!name || std::strlen(name) < 2)
        return;
    const char* dot = std::strrchr(name, '.');
    if (dot)
        m_strCurrentExtension = dot + 1;
}

void CFATBuildChildren::ReverseDelFileFirstNum(CTempFATDirEntry& entry, unsigned long long R, unsigned long long& N,
                                               CFATFileProperties* props, bool madeUpParent)
{
    if (m_eFileSystemType != FS_FAT32)
        return;
    unsigned long long c = entry.GetFirstClusterNO();
    const unsigned long long clusterBytes = static_cast<unsigned long long>(m_dwSectorSize) * m_dwSectorsPerCluster;
    const long long size = props->GetFileSize();
    const unsigned long long k =
        (size > 0 && clusterBytes) ? (static_cast<unsigned long long>(size) + clusterBytes - 1) / clusterBytes : 0;
    const std::string name = props->GetFileName() ? props->GetFileName() : "";
    const bool erased = entry.IsErased() != 0;
    const bool isFolder = entry.IsDirectory() != 0;
    bool found = false;

    if (erased && !isFolder && c < kHighWordStep) {
        // Deleting cleared the high half of the first cluster.
        SetCurrentExtension(name.c_str());
        if (R != 0 && (N >> 16) == (R >> 16) && !madeUpParent) {
            // The first files of a folder lie near the folder itself.
            c += HighPart(R);
            if (c < kHighWordStep) {
                const Candidate g = TryGetRealFirstNum(c, 35, false);
                if (g.found) {
                    c = g.cluster;
                    found = true;
                    if ((g.cluster >> 16) != (R >> 16))
                        bInDelFileOrDIRMap(c, entry, name, found, false);
                }
            }
        } else {
            // Later files follow the one before them.
            Candidate g = TryGetRealFirstNum(HighPart(N) + c, 10, false);
            if (!g.found)
                g = TryGetRealFirstNum(c, 35, false);
            found = g.found;
            if (g.found)
                c = g.cluster;
            if (!found && c < kHighWordStep) {
                if (N >= kHighWordStep + 1)
                    c += HighPart(N);
                else if (R >= kHighWordStep + 1 && !madeUpParent)
                    c += HighPart(R);
            }
        }
        entry.SetFirstClusterNO(static_cast<unsigned int>(c));
    } else if (erased && isFolder) {
        if (bEffectiveDIRFDT(c)) {
            bInDelFileOrDIRMap(c, entry, name, found, true);
        } else {
            const Candidate g = TryGetRealFirstNum(c, 50, true);
            if (g.found) {
                c = g.cluster;
                bInDelFileOrDIRMap(c, entry, name, found, true);
            } else if (g_u64LastExpectedCluster > 0x310000) {
                const Candidate h = TryGetRealFirstNum(c + HighPart(g_u64LastExpectedCluster), 50, true);
                if (h.found) {
                    c = h.cluster;
                    entry.SetFirstClusterNO(static_cast<unsigned int>(c));
                    g_u64LastExpectedCluster = c;
                }
            }
        }
    } else if (!erased && isFolder) {
        m_mapFolderNames[c] = name;
    }

    N = c + k;
    if (!isFolder && (found || c >= kHighWordStep + 1))
        g_u64LastExpectedCluster = N;
    if (N < R)
        N = R;
    props->SetFirstClusterNum(static_cast<long long>(c));
}

CFATBuildChildren::Candidate CFATBuildChildren::TryGetRealFirstNum(unsigned long long x, unsigned int n, bool folder)
{
    for (unsigned int i = 0; i + 1 < n; ++i) {
        const unsigned long long candidate = x + i * kHighWordStep;
        // Candidates only grow: once one lies beyond the device, so do the rest.
        if (candidate >= 2 && CandidateSector(candidate) < 0)
            break;
        if (folder ? bEffectiveDIRFDT(candidate) : IsKnownFileStart(candidate))
            return {candidate, true};
    }
    return {x, false};
}

long long CFATBuildChildren::CandidateSector(unsigned long long cluster) const
{
    const long long sector = m_worker.ConvertClusterNumToSector(cluster);
    if (sector <= 0 || sector > m_s64DeviceSectors - kCandidateMargin)
        return -1;
    return sector;
}

bool CFATBuildChildren::ReadWorkSector(long long sector)
{
    if (!m_pDevice || m_dwSectorSize < 2 * kFATDirEntrySize)
        return false;
    if (m_vecWorkSector.size() != m_dwSectorSize + 1ULL)
        m_vecWorkSector.assign(m_dwSectorSize + 1ULL, 0);
    m_vecWorkSector[m_dwSectorSize] = 0;
    return m_pDevice->ReadSector(m_vecWorkSector.data(), sector, 1) != 0;
}

bool CFATBuildChildren::bEffectiveDIRFDT(unsigned long long cluster)
{
    const long long sector = CandidateSector(cluster);
    if (sector < 0 || !ReadWorkSector(sector))
        return false;
    const CTempFATDirEntry dot(m_vecWorkSector.data());
    const CTempFATDirEntry dotdot(m_vecWorkSector.data() + kFATDirEntrySize);
    return CFATFolderAnalyser::IsCurDirFileName(dot) && CFATFolderAnalyser::IsParentDirFileName(dotdot);
}

bool CFATBuildChildren::IsKnownFileStart(unsigned long long cluster)
{
    if (m_bMatchFileSectorMap)
        return IsMappedFileStart(cluster);
    const long long sector = CandidateSector(cluster);
    if (sector < 0 || !ReadWorkSector(sector))
        return false;
    if (!m_bAnalysersCopied) {
        m_analysers = GetFATRawAnalysers();
        m_bAnalysersCopied = true;
    }
    unsigned char* bytes = m_vecWorkSector.data();
    if (m_analysers.map.count(fatle::Load32(bytes)))
        return true;
    const auto range = m_analysers.multimap.equal_range(fatle::Load16(bytes));
    for (auto it = range.first; it != range.second; ++it) {
        CRawFileInfo info;
        if (it->second && it->second->AnalyseBuffer(bytes, info))
            return true;
    }
    for (IRawFileAnalyser* analyser : m_analysers.list) {
        CRawFileInfo info;
        if (analyser && analyser->AnalyseBuffer(bytes, info))
            return true;
    }
    // A PE executable: "MZ", and "PE" where the word at 60 points.
    if (bytes[0] == 'M' && bytes[1] == 'Z') {
        const unsigned long long peOffset = fatle::Load32(bytes + 60);
        if (peOffset + 3 <= m_dwSectorSize && bytes[peOffset] == 'P' && bytes[peOffset + 1] == 'E')
            return true;
    }
    return false;
}

bool CFATBuildChildren::bInDelFileOrDIRMap(unsigned long long& cluster, CTempFATDirEntry& entry,
                                           const std::string& name, bool& found, bool folder)
{
    auto& names = folder ? m_mapFolderNames : m_mapDeletedFileNames;
    bool accepted = true;
    unsigned long long current = cluster;
    for (int round = 0; round < 10; ++round) {
        const auto it = names.find(current);
        if (it == names.end()) {
            if (accepted)
                names.emplace(current, name);
            break;
        }
        if (it->second == name) {
            accepted = false;
            break;
        }
        // Another file was already put there: look further up.
        const Candidate g = TryGetRealFirstNum(current + kHighWordStep, folder ? 50 : 40, folder);
        accepted = g.found;
        if (g.found) {
            current = g.cluster;
            continue;
        }
        if (current + kHighWordStep < g_u64LastExpectedCluster) {
            current = HighPart(g_u64LastExpectedCluster) | (current & kLowWordMask);
            continue;
        }
        break;
    }
    if (accepted) {
        cluster = current;
        found = true;
        entry.SetFirstClusterNO(static_cast<unsigned int>(current));
    }
    return accepted;
}
