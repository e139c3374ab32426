#include "ExFatCompleteSearch.h"
#include "ExFatTreeLabel.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "ExFatDBR.h"
#include "ExFatStructs.h"
#include "ExFatFileNode.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "SearchedPartitionInfo.h"

namespace {

// In the deep scan a stream entry may describe a cluster of any size up to
// this (log2 of bytes).
constexpr unsigned int kDeepClusterShift = 25;
// Never more than this for one block buffer.
constexpr unsigned long long kMaxBufferBytes = 256ULL << 20;
// Directories at most this long record the clusters they own.
constexpr uint64_t kMaxOwningDirectoryLength = 0xFFFFFFF;
constexpr long long kNoOwner = LLONG_MIN;

// An up-case table starts with the characters 0..7 mapped to themselves.
bool IsUpcaseTableStart(const uint8_t* sector)
{
    for (unsigned int i = 0; i < 8; ++i)
        if (exfatle::Load16(sector + 2 * i) != i)
            return false;
    return true;
}

// The first FAT sector: the media descriptor entry and the end-of-chain
// entry of cluster 1.
bool IsFirstFatSector(const uint8_t* sector)
{
    static const uint8_t kStart[8] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return std::memcmp(sector, kStart, sizeof kStart) == 0;
}

}  // namespace

int CExFatCompleteSearch::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

int CExFatCompleteSearch::SetDevice(IStorageDevice* device)
{
    m_pDevice = device;
    return 1;
}

int CExFatCompleteSearch::SetBlockSize(int sectorsPerBlock)
{
    m_iSectorsperBlock = sectorsPerBlock > 0 ? static_cast<unsigned int>(sectorsPerBlock) : 0;
    return 1;
}

bool CExFatCompleteSearch::Prepare()
{
    const unsigned int sectorSize = m_pDevice->GetSectorSize();
    if (sectorSize < 512 || (sectorSize & (sectorSize - 1)) != 0)
        return false;
    const unsigned long long bytes = (static_cast<unsigned long long>(m_iSectorsperBlock) + 4) * sectorSize;
    if (bytes > kMaxBufferBytes)
        return false;
    m_dwSectorSize = sectorSize;
    m_s64TotalSectors = m_pDevice->GetTotalSectors();
    m_preAnalyze.PrepareAnayze(exfatle::Log2(sectorSize), kDeepClusterShift, static_cast<unsigned long long>(m_s64TotalSectors));
    m_builder.PrepareBuild(sectorSize, m_s64TotalSectors);
    m_pBuffer = AllocateLargeBuffer(static_cast<size_t>(bytes));
    if (!m_pBuffer)
        return false;
    m_nTailBytes = 2 * static_cast<size_t>(sectorSize);
    m_vecTail.assign(m_nTailBytes, 0);
    m_s64NextStart = -1;
    m_bPrepared = true;
    return true;
}

int CExFatCompleteSearch::AnalyzeBlock(long long firstSector, long long sectorCount)
{
    if (!m_pDevice || !m_pTreeBuilder || m_iSectorsperBlock == 0 || m_bEnded)
        return 0;
    if (firstSector < 0 || sectorCount <= 0 || sectorCount > m_iSectorsperBlock)
        return 0;
    if (!m_bPrepared && !Prepare())
        return 0;

    const size_t sectorSize = m_dwSectorSize;
    uint8_t* buffer = m_pBuffer.get();
    // The previous block's last two sectors go in front, so that each of
    // them is examined with the sectors that follow it in memory.
    const bool carried = firstSector == m_s64NextStart;
    if (carried)
        std::memcpy(buffer, m_vecTail.data(), m_nTailBytes);
    else
        std::memset(buffer, 0, m_nTailBytes);
    if (!m_pDevice->ReadSector(buffer + m_nTailBytes, firstSector, sectorCount))
        return 0;
    m_nBlockBytes = static_cast<size_t>(sectorCount) * sectorSize;
    const size_t valid = m_nTailBytes + m_nBlockBytes;

    for (long long i = carried ? 0 : 2; i < sectorCount; ++i) {
        const long long s = firstSector - 2 + i;
        if (s < 0)
            continue;
        const size_t offset = static_cast<size_t>(i) * sectorSize;
        AnalyzeSector(s, buffer + offset, valid - offset);
    }
    std::memcpy(m_vecTail.data(), buffer + valid - m_nTailBytes, m_nTailBytes);
    m_s64NextStart = firstSector + sectorCount;
    return 1;
}

void CExFatCompleteSearch::AnalyzeSector(long long s, const uint8_t* sector, size_t available)
{
    if (sector[0] == 0) {
        if (IsUpcaseTableStart(sector))
            m_builder.RecordUpcaseStart(s);
        HandOver(s);
        return;
    }
    if (sector[510] == 0x55 && sector[511] == 0xAA && CExFatDBR(sector).IsValid(m_dwSectorSize)) {
        m_builder.Build(s, sector);
        HandOver(s);
        return;
    }
    if (IsFirstFatSector(sector)) {
        m_builder.RecordFAT(s);
        HandOver(s);
        return;
    }
    if (m_preAnalyze.Analyze(s, sector, available))
        HandOver(s);
}

void CExFatCompleteSearch::HandOver(long long s)
{
    if (std::unique_ptr<CFileSet> set = m_preAnalyze.GetFileSet()) {
        const long long first = set->m_s64FirstSector;
        const long long next = m_preAnalyze.GetNext(first);
        const long long last = m_preAnalyze.GetLast(first);
        m_builder.PushFileSet(std::move(set), last >= 0 ? m_builder.FindSet(last) : nullptr,
                              next >= 0 ? m_builder.FindSet(next) : nullptr);
    }
    m_builder.Build(s);
}

void CExFatCompleteSearch::EndSearch(int build)
{
    if (!build || m_bEnded)
        return;
    m_bEnded = true;
    m_preAnalyze.Clear();
    if (m_bPrepared) {
        m_builder.FinishBuid();
        m_listPartitions = m_builder.TakeFinalPartitions();
    }
    if (m_pTreeBuilder) {
        if (!m_listPartitions.empty()) {
            m_pTreeBuilder->AddSearcherInfo(SEARCHER_EXFAT, -1);
            // One tree holds every exFAT volume found: only a lone volume names it.
            if (m_listPartitions.size() == 1) {
                const CExFatPartitionEx& part = *m_listPartitions[0];
                if (part.IsRootKnown() && part.m_dwRootCluster >= 2)
                    NameExFatTreeAfterLabel(m_pTreeBuilder, m_pDevice,
                                            part.ConvertClusterNumToSector(part.m_dwRootCluster));
            }
            for (size_t k = 0; k < m_listPartitions.size(); ++k)
                BuildPartitionTree(k);
        }
        m_pTreeBuilder->SetPartitonDevice(nullptr, m_pDevice);
        m_pTreeBuilder->FlashBuild(SEARCHER_EXFAT);
    }
    m_builder.Clear();
}

void CExFatCompleteSearch::BuildPartitionTree(size_t index)
{
    CExFatPartitionEx& part = *m_listPartitions[index];
    if (part.m_dwFlags & CExFatPartitionEx::kFirstFat)
        part.CreateFatTable(m_pDevice, part.m_s64PartitionStart + part.m_s64FatOffset, part.m_dwFatLength,
                            part.m_dwClusterLimit);
    const long long rootSector =
        part.IsRootKnown() && part.m_dwRootCluster >= 2 ? part.ConvertClusterNumToSector(part.m_dwRootCluster) : -1;

    // The folder that owns each data sector, as folders are built.
    std::vector<long long> sorted = part.m_vecDataSectors;
    std::sort(sorted.begin(), sorted.end());
    std::vector<long long> owner(sorted.size(), kNoOwner);
    auto own = [&](long long from, long long to, long long id) {
        for (auto it = std::lower_bound(sorted.begin(), sorted.end(), from); it != sorted.end() && *it < to; ++it) {
            long long& o = owner[static_cast<size_t>(it - sorted.begin())];
            if (o == kNoOwner)
                o = id;
        }
    };
    const long long spc = part.m_dwSectorsPerCluster;
    const uint64_t clusterBytes = part.m_dwBytesPerCluster;
    auto recordOwned = [&](const _tagFileBaseInfo& record, long long id) {
        uint32_t cluster = record.dwFirstCluster;
        if (cluster < 2 || cluster >= part.m_dwClusterLimit || clusterBytes == 0)
            return;
        const uint64_t clusters =
            std::max<uint64_t>(1, record.u64DataLength / clusterBytes + (record.u64DataLength % clusterBytes ? 1 : 0));
        if (record.u8NoFatChain) {
            // Consecutive clusters; the FAT holds nothing for them.
            const uint64_t count = std::min<uint64_t>(clusters, part.m_dwClusterLimit - cluster);
            const long long from = part.ConvertClusterNumToSector(cluster);
            own(from, from + static_cast<long long>(count) * spc, id);
            return;
        }
        std::unordered_set<uint32_t> visited;
        for (uint64_t step = 0; step < clusters && cluster >= 2 && cluster < part.m_dwClusterLimit &&
                                visited.insert(cluster).second;
             ++step) {
            const long long from = part.ConvertClusterNumToSector(cluster);
            own(from, from + spc, id);
            cluster = part.GetNextCluster(cluster, 0);
        }
    };
    auto parentOf = [&](long long sector) {
        if (sector == rootSector)
            return -1LL;
        auto it = std::lower_bound(sorted.begin(), sorted.end(), sector);
        if (it != sorted.end() && *it == sector) {
            const long long o = owner[static_cast<size_t>(it - sorted.begin())];
            if (o != kNoOwner)
                return o;
        }
        return sector;
    };

    std::unordered_set<const CFileSet*> built;
    auto buildSet = [&](CFileSet* set, long long parentId) {
        for (const auto* list : {&set->m_listInUse, &set->m_listDeleted}) {
            for (const _tagFileBaseInfo& record : *list) {
                CExFatFileNode* node = part.BuildFile(record);
                const long long id = part.ConvertClusterNumToSector(record.dwFirstCluster);
                node->SetID(id);
                node->SetParentID(parentId);
                node->SetBelongedPartition(static_cast<unsigned short>(index));
                if (record.IsDirectory() && record.u64DataLength <= kMaxOwningDirectoryLength)
                    recordOwned(record, id);
                if (!m_pTreeBuilder->AddNode(node, SEARCHER_EXFAT))
                    node->Release();
            }
        }
    };
    auto buildChain = [&](CFileSet* head, long long parentId) {
        for (CFileSet* set = head; set && built.insert(set).second; set = set->m_pNext)
            buildSet(set, parentId);
    };

    // Chain heads first, then sets whose head was not among the data.
    for (long long sector : part.m_vecDataSectors) {
        CFileSet* set = m_builder.FindSet(sector);
        if (set && !set->m_pLast && !built.count(set))
            buildChain(set, parentOf(sector));
    }
    for (long long sector : part.m_vecDataSectors) {
        CFileSet* set = m_builder.FindSet(sector);
        if (set && !built.count(set))
            buildChain(set, parentOf(sector));
    }
    part.ClearFatData();
}

int CExFatCompleteSearch::GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity)
{
    const int count = static_cast<int>(m_listPartitions.size());
    if (!list || capacity < count)
        return count;
    for (int i = 0; i < count; ++i) {
        const CExFatPartitionEx& part = *m_listPartitions[static_cast<size_t>(i)];
        auto* info = new CSearchedPartitionInfo(part.m_dwBytesPerSector);
        info->SetFileSystemType(FS_EXFAT);
        info->SetUnitBase(part.m_s64HeapStart);
        info->SetPartitionStart(part.m_s64PartitionStart);
        info->SetTotalSectors(static_cast<unsigned long long>(std::max(part.m_s64TotalSectors, 0LL)));
        info->SetSectorsPerUnit(part.m_dwSectorsPerCluster);
        info->SetPartitionIndex(static_cast<unsigned short>(i));
        list[i] = info;
    }
    return count;
}

std::string CExFatCompleteSearch::DebugListing() const
{
    std::string out = m_builder.ListSets() + m_builder.ListCandidates();
    for (const auto& part : m_listPartitions) {
        char text[320];
        std::snprintf(text, sizeof text,
                      "final heap=%lld spc=%u start=%lld total=%lld flags=0x%08x matched=%zu root=%u data=%zu\n",
                      part->m_s64HeapStart, part->m_dwSectorsPerCluster, part->m_s64PartitionStart,
                      part->m_s64TotalSectors, part->m_dwFlags, part->GetMatchedCount(), part->m_dwRootCluster,
                      part->m_vecDataSectors.size());
        out += text;
    }
    return out;
}

ICompleteFileSystemSearchController* CreateEXFatSearcher() { return new CExFatCompleteSearch; }
