#include "FATCompleteSearcher.h"

#include "IBlockView.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "FATBuildWorker.h"
#include "FATDBR.h"
#include "FATFolderAnalyser.h"
#include "FATTable.h"
#include "IBlockView.h"
#include "FATTreeLabel.h"
#include "FATTableAnalyser.h"
#include "ITreeBuilder.h"
#include "IStorageDevice.h"

namespace {

// A boot sector's bytes-per-sector field is 16 bits and must equal the
// device's sector size, and the boot-sector test reads bytes 510 and 511.
constexpr unsigned int kMinSectorSize = 512;
constexpr unsigned int kMaxSectorSize = 32768;
// Sectors are read in runs of this many bytes; a run that fails is read
// again sector by sector, so one bad sector costs only itself.
constexpr size_t kReadRunBytes = 128 * 1024;
// Partition indexes are 16 bits, and 0xFFFF means "no partition".
constexpr size_t kMaxPartitions = 0xFFFF;

// A FAT of one type: half-bytes per entry and the cluster counts it allows.
struct FatKind {
    unsigned int halfBytes;
    unsigned long long minClusters;
    unsigned long long limitClusters;
};

bool KindOf(enumFILE_SYSTEM_TYPE type, FatKind* kind)
{
    switch (type) {
    case FS_FAT32:
        *kind = {8, 65524, 0xFFFFFF4};
        return true;
    case FS_FAT16:
        *kind = {4, 4085, 65524};
        return true;
    case FS_FAT12:
        *kind = {3, 1, 4085};
        return true;
    default:
        return false;
    }
}

// Sectors a FAT of clusters entries takes (32-bit arithmetic, as the
// on-disk counts are 32 bits).
unsigned int SectorsForFat(unsigned int clusters, unsigned int halfBytes, unsigned int sectorSize)
{
    const unsigned int divisor = 2 * sectorSize;
    return (clusters * halfBytes + divisor - 1) / divisor;
}

void AddVote(CSearchedPartitionInfo& candidate) { candidate.SetCounter1(candidate.GetCounter1() + 1); }

}  // namespace

ICompleteFileSystemSearchController* CreateFATSearcher() { return new (std::nothrow) CFATCompleteFSearcher(); }

CFATCompleteFSearcher::CFATCompleteFSearcher() = default;

CFATCompleteFSearcher::~CFATCompleteFSearcher()
{
    for (CFATSearchedPartitionInfo* p : m_vecPartitions)
        CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(p);
    m_vecPartitions.clear();
}

int CFATCompleteFSearcher::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

int CFATCompleteFSearcher::GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity)
{
    const int count = static_cast<int>(m_vecPartitions.size());
    if (!list)
        return count;
    if (capacity < count)
        return 0;
    for (int i = 0; i < count; ++i)
        list[i] = m_vecPartitions[static_cast<size_t>(i)]->Clone();
    return count;
}

int CFATCompleteFSearcher::SetDevice(IStorageDevice* device)
{
    m_pDevice = device;
    m_pView = dynamic_cast<IBlockView*>(device);
    if (device)
        m_dwSectorSize = device->GetSectorSize();
    return 1;
}

int CFATCompleteFSearcher::SetBlockSize(int sectorsPerBlock)
{
    m_iSectorsperBlock = sectorsPerBlock;
    return 1;
}

int CFATCompleteFSearcher::PreparetoSearch()
{
    // Nothing else holds the records: callers get copies.
    for (CFATSearchedPartitionInfo* p : m_vecPartitions)
        CFATSearchedPartitionInfo::DestroyFATSearchedPartitionInfo(p);
    m_vecPartitions.clear();
    CFATBuildWorker::ResetDeepScanCounters();
    return 1;
}

long long CFATCompleteFSearcher::DeviceSectors() const { return m_pDevice ? m_pDevice->GetTotalSectors() : 0; }

// What a new candidate is made of, whatever evidence made it.
struct CFATCompleteFSearcher::CandidateFields {
    long long dataStart;
    unsigned int sectorsPerCluster;
    enumFILE_SYSTEM_TYPE type;
    unsigned long long totalSectors;
    unsigned int sectorsPerFat;
    unsigned int clusters;
    long long start;
    unsigned int reserved;
    unsigned int rootInfo;
    unsigned int flag;
};

std::unique_ptr<CFATSearchedPartitionInfo> CFATCompleteFSearcher::NewRecord(const CandidateFields& f) const
{
    std::unique_ptr<CFATSearchedPartitionInfo> record(
        CFATSearchedPartitionInfo::CreateFATSearchedPartitionInfo(m_dwSectorSize));
    if (!record)
        return nullptr;
    record->SetUnitBase(f.dataStart);
    record->SetSectorsPerUnit(f.sectorsPerCluster);
    record->SetCounter1(0);  // no votes yet
    record->SetFileSystemType(f.type);
    record->SetTotalSectors(f.totalSectors);
    record->SetSectorPerFAT(f.sectorsPerFat);
    record->SetTotalCluster(f.clusters);
    record->SetStartSector(f.start);
    record->SetReservedSector(static_cast<unsigned short>(f.reserved));
    record->SetRootInfo(f.rootInfo);
    record->MergeFlag(f.flag);
    return record;
}

// ---- the sector loop ----------------------------------------------------------

int CFATCompleteFSearcher::AnalyzeBlock(long long firstSector, long long sectorCount)
{
    VANTREL_ASSERT(m_pDevice != NULL);
    VANTREL_ASSERT(m_iSectorsperBlock > 0);
    const unsigned int sectorSize = m_dwSectorSize;
    if (sectorSize < kMinSectorSize || sectorSize > kMaxSectorSize || firstSector < 0 || sectorCount <= 0)
        return 1;
    const long long end = std::min(firstSector + sectorCount, DeviceSectors());
    if (firstSector >= end)
        return 1;

    CFATFolderAnalyser folders(sectorSize);
    // A cached block is looked at where it lies.
    if (const uint8_t* view = m_pView ? m_pView->ViewSectors(firstSector, end - firstSector) : nullptr) {
        for (long long s = firstSector; s < end; ++s)
            AnalyzeSector(view + static_cast<size_t>(s - firstSector) * sectorSize, s, folders);
        return 1;
    }

    const long long runSectors = std::max<long long>(1, static_cast<long long>(kReadRunBytes / sectorSize));
    if (m_vecReadBuffer.size() < static_cast<size_t>(runSectors) * sectorSize) {
        try {
            m_vecReadBuffer.assign(static_cast<size_t>(runSectors) * sectorSize, 0);
        } catch (const std::bad_alloc&) {
            return 1;
        }
    }
    uint8_t* const buffer = m_vecReadBuffer.data();
    VANTREL_ASSERT(buffer != NULL);

    for (long long run = firstSector; run < end; run += runSectors) {
        const long long count = std::min(runSectors, end - run);
        if (m_pDevice->ReadSector(buffer, run, count)) {
            for (long long i = 0; i < count; ++i)
                AnalyzeSector(buffer + static_cast<size_t>(i) * sectorSize, run + i, folders);
            continue;
        }
        // A sector that cannot be read is passed over.
        for (long long i = 0; i < count; ++i)
            if (m_pDevice->ReadSector(buffer, run + i, 1))
                AnalyzeSector(buffer, run + i, folders);
    }
    return 1;
}

void CFATCompleteFSearcher::AnalyzeSector(const uint8_t* sector, long long s, CFATFolderAnalyser& folders)
{
    // Cheapest tests first: most sectors of a disk are empty or are file data.
    if (sector[0] == 0)
        return;
    if (CTempFATDBR::SimpleCheck(sector) && AnalyzeDBR(sector, s))
        return;
    enumFILE_SYSTEM_TYPE fatType = FS_UNKNOWN;
    if (CFATTableAnalyser::IsValidFATTableFirstSector(sector, m_dwSectorSize, &fatType)) {
        UpdateFATTableInfo(s);
        return;
    }
    // A FAT12 table begins with only its media byte and two 0xFF bytes: too
    // weak a sign alone, it counts where a FAT12 boot sector expects a FAT.
    if (sector[0] >= 0xF0 && sector[1] == 0xFF && sector[2] == 0xFF && ExpectsFat12TableAt(s)) {
        UpdateFATTableInfo(s);
        return;
    }
    if (!folders.AnalyseSector(sector, nullptr, nullptr))
        return;
    FIRSTFOLDERSECTOR record;
    record.s64Sector = s;
    if (folders.GetDirectoryEntryType() == 2) {
        record.dwFirstCluster = folders.GetCurDirFirstClusterNum();
        record.dwParentFirstCluster = folders.GetParentFirstClusterNum();
        AnalyzeFATSubFolderFirstSector(s, record.dwFirstCluster);
    }
    m_setFolderSectors.insert(record);
}

// ---- boot sectors ---------------------------------------------------------------

int CFATCompleteFSearcher::AnalyzeDBR(const uint8_t* sector, long long s)
{
    const CTempFATDBR dbr(sector, m_dwSectorSize);
    const FATBootGeometry boot = dbr.IsValidDBR() ? FATBootGeometry::FromDBR(dbr) : FATBootGeometry::FromFat12DBR(dbr);
    if (boot.eType == FS_UNKNOWN)
        return 0;
    int result = 0;
    if (auto candidate = BuildPartitionInfoFromBoot(boot, s, false)) {
        AddBootCandidate(std::move(candidate));
        result = 1;
    }
    // A FAT32 volume keeps a backup of its boot sector six sectors on: taken
    // from there, this sector confirms (or stands in for) the volume six
    // sectors earlier.
    if (dbr.GetFileSystemType() == FS_FAT32 && s - kBackupBootOffset >= 0) {
        if (auto backup = BuildPartitionInfoFromBoot(boot, s - kBackupBootOffset, true)) {
            if (CFATSearchedPartitionInfo* match = FindMatchedPartitionInfo(backup.get()))
                match->MergeFlag(kFlagFat32Backup);
            else
                AddBootCandidate(std::move(backup));
            result = 1;
        }
    }
    return result;
}

FATBootGeometry FATBootGeometry::FromDBR(const CTempFATDBR& dbr)
{
    FATBootGeometry g;
    g.eType = dbr.GetFileSystemType();
    g.dwReservedSectors = dbr.GetReservedSector();
    g.dwNumberOfFATs = dbr.GetNumberOfFat();
    g.dwSectorsPerFAT = dbr.GetSectorsPerFat();
    g.dwSectorsPerCluster = dbr.GetSectorsperCluster();
    g.dwRootEntries = dbr.GetRootEntries();
    g.dwRootCluster = dbr.GetRootDirStartCluster();
    g.u64TotalSectors = dbr.GetTotalSectors();
    return g;
}

FATBootGeometry FATBootGeometry::FromFat12DBR(const CTempFATDBR& dbr)
{
    FATBootGeometry g;
    if (!dbr.IsFat12())
        return g;
    const tagFATPARTITIONDBR* b = dbr.GetDBR();
    g.eType = FS_FAT12;
    g.dwReservedSectors = fatle::Load16(b->ucReservedSectors);
    g.dwNumberOfFATs = b->ucNumberOfFATs;
    g.dwSectorsPerFAT = fatle::Load16(b->ucSectorsPerFAT16);
    g.dwSectorsPerCluster = b->ucSectorsPerCluster;
    g.dwRootEntries = fatle::Load16(b->ucRootEntries);
    const unsigned total16 = fatle::Load16(b->ucTotalSectors16);
    g.u64TotalSectors = total16 ? total16 : fatle::Load32(b->ucTotalSectors32);
    return g;
}

std::unique_ptr<CFATSearchedPartitionInfo> CFATCompleteFSearcher::BuildPartitionInfoFromBoot(
    const FATBootGeometry& boot, long long start, bool backup) const
{
    const long long deviceSectors = DeviceSectors();
    if (start < 0 || start >= deviceSectors || m_dwSectorSize == 0)
        return nullptr;
    long long total = static_cast<long long>(std::min<unsigned long long>(boot.u64TotalSectors, 0xFFFFFFFFULL));
    if (start + total > deviceSectors)
        total = deviceSectors - start;

    const enumFILE_SYSTEM_TYPE type = boot.eType;
    FatKind kind;
    if (!KindOf(type, &kind))
        return nullptr;
    const unsigned int reserved = boot.dwReservedSectors;
    const unsigned int spf = boot.dwSectorsPerFAT;
    const unsigned int spc = boot.dwSectorsPerCluster;
    const unsigned int fats = boot.dwNumberOfFATs * spf;  // 32 bits, as stored
    long long dataStart = start + reserved + fats;
    unsigned int flag = 0;
    unsigned int rootInfo = 0;
    if (type == FS_FAT32) {
        flag = backup ? kFlagFat32Backup : kFlagFat32Boot;
        rootInfo = boot.dwRootCluster;
    } else {
        rootInfo = boot.dwRootEntries * 32 / m_dwSectorSize;
        dataStart += rootInfo;
        if (!backup)
            flag = type == FS_FAT16 ? kFlagFat16Boot : kFlagFat12Boot;
    }

    const long long dataSectors = total - (dataStart - start);
    if (dataSectors < 1 || spc == 0)
        return nullptr;
    const unsigned long long clusters = static_cast<unsigned long long>(dataSectors) / spc;
    if (clusters < kind.minClusters || clusters >= kind.limitClusters)
        return nullptr;
    if (SectorsForFat(static_cast<unsigned int>(clusters), kind.halfBytes, m_dwSectorSize) > spf)
        return nullptr;
    if (type == FS_FAT32 && rootInfo > clusters)
        return nullptr;

    return NewRecord({dataStart, spc, type, static_cast<unsigned long long>(total), spf,
                      static_cast<unsigned int>(clusters), start, reserved, rootInfo, flag});
}

void CFATCompleteFSearcher::AddBootCandidate(std::unique_ptr<CFATSearchedPartitionInfo> candidate)
{
    CFATSearchedPartitionInfo* c = candidate.get();
    const long long fat1 = c->GetStartSector() + c->GetReservedSector();
    m_setCandidates.insert(std::move(candidate));
    m_setExpectedFATs.insert({fat1, c});
    m_setExpectedFATs.insert({fat1 + c->GetSectorPerFAT(), c});
}

CFATSearchedPartitionInfo* CFATCompleteFSearcher::FindCandidate(long long dataStart, unsigned int spc) const
{
    const auto range = m_setCandidates.equal_range(dataStart);
    for (auto it = range.first; it != range.second; ++it)
        if ((*it)->GetSectorsPerUnit() == spc)
            return it->get();
    return nullptr;
}

CFATSearchedPartitionInfo* CFATCompleteFSearcher::FindMatchedPartitionInfo(
    const CFATSearchedPartitionInfo* pSearchedFATPartitionInfo) const
{
    VANTREL_ASSERT(pSearchedFATPartitionInfo != NULL);
    return FindCandidate(pSearchedFATPartitionInfo->GetUnitBase(), pSearchedFATPartitionInfo->GetSectorsPerUnit());
}

// ---- FAT sectors --------------------------------------------------------------------

bool CFATCompleteFSearcher::ExpectsFat12TableAt(long long s) const
{
    const auto range = m_setExpectedFATs.equal_range(s);
    for (auto it = range.first; it != range.second; ++it)
        if (it->pCandidate && it->pCandidate->GetFileSystemType() == FS_FAT12)
            return true;
    return false;
}

void CFATCompleteFSearcher::UpdateFATTableInfo(long long s)
{
    const auto range = m_setExpectedFATs.equal_range(s);
    for (auto it = range.first; it != range.second; ++it) {
        CFATSearchedPartitionInfo* c = it->pCandidate;
        const long long fat1 = c->GetStartSector() + c->GetReservedSector();
        if (fat1 == s)
            c->MergeFlag(kFlagFirstFAT);
        else if (fat1 + c->GetSectorPerFAT() == s)
            c->MergeFlag(kFlagSecondFAT);
    }
    // Expectations at or before this sector can no longer be met.
    m_setExpectedFATs.erase(m_setExpectedFATs.begin(), m_setExpectedFATs.upper_bound(s));
}

// ---- subdirectories --------------------------------------------------------------------

void CFATCompleteFSearcher::AnalyzeFATSubFolderFirstSector(long long s, unsigned int firstCluster)
{
    unsigned int unmatched[std::size(FAT_SUPPORTED_SECTORS_PER_CLUSTER)];
    size_t count = 0;
    for (unsigned int spc : FAT_SUPPORTED_SECTORS_PER_CLUSTER) {
        const long long d = s - static_cast<long long>((firstCluster - 2u) * spc);
        if (d < 0 || d > s)
            continue;
        if (CFATSearchedPartitionInfo* match = FindCandidate(d, spc)) {
            match->MergeFlag(kFlagDirectories);
            AddVote(*match);
            return;
        }
        unmatched[count++] = spc;
    }
    for (size_t i = 0; i < count; ++i)
        if (auto candidate = BuildPartitionInfoAccordingtoSubFolder(s, firstCluster, unmatched[i]))
            m_setCandidates.insert(std::move(candidate));
}

bool CFATCompleteFSearcher::IsValidFileSystem(long long dataStart, unsigned int sectorsPerCluster,
                                              enumFILE_SYSTEM_TYPE type, unsigned int* clusters,
                                              unsigned int* sectorsPerFat) const
{
    FatKind kind;
    if (!KindOf(type, &kind) || sectorsPerCluster == 0 || dataStart < 0)
        return false;
    const long long available = DeviceSectors() - dataStart;
    if (available < 0)
        return false;
    const unsigned long long n = static_cast<unsigned long long>(available) / sectorsPerCluster;
    if (n < kind.minClusters || n >= kind.limitClusters)
        return false;
    unsigned int count = static_cast<unsigned int>(n);
    const unsigned int spf = SectorsForFat(count, kind.halfBytes, m_dwSectorSize);
    const unsigned long long half = static_cast<unsigned long long>(dataStart) / 2;
    bool valid = true;
    if (half < spf) {
        // Two FATs of that size do not fit before the data area: the most
        // clusters two FATs of the room there could describe.
        count = static_cast<unsigned int>(half) * (2 * m_dwSectorSize) / kind.halfBytes;
        valid = count >= kind.minClusters && count < kind.limitClusters;
    }
    if (clusters)
        *clusters = count;
    if (sectorsPerFat)
        *sectorsPerFat = spf;
    return valid;
}

enumFILE_SYSTEM_TYPE CFATCompleteFSearcher::CalcFileSystemType(long long dataStart, unsigned int sectorsPerCluster,
                                                               unsigned int* clusters,
                                                               unsigned int* sectorsPerFat) const
{
    if (IsValidFileSystem(dataStart, sectorsPerCluster, FS_FAT32, clusters, sectorsPerFat))
        return FS_FAT32;
    if (IsValidFileSystem(dataStart, sectorsPerCluster, FS_FAT16, clusters, sectorsPerFat))
        return FS_FAT16;
    return FS_UNKNOWN;
}

std::unique_ptr<CFATSearchedPartitionInfo> CFATCompleteFSearcher::BuildPartitionInfoAccordingtoSubFolder(
    long long s, unsigned int firstCluster, unsigned int spc) const
{
    const long long d = s - static_cast<long long>((firstCluster - 2u) * spc);
    if (d < 0 || d > s)
        return nullptr;
    unsigned int clusters = 0;
    unsigned int spf = 0;
    const enumFILE_SYSTEM_TYPE type = CalcFileSystemType(d, spc, &clusters, &spf);
    if (type != FS_FAT32 && type != FS_FAT16)
        return nullptr;
    // One reserved sector and two FATs before the data area (and, on
    // FAT16, a root directory of 512 entries when there is room for it).
    long long start = d - 2LL * spf - 1;
    if (start < 0)
        return nullptr;
    unsigned int rootSectors = 0;
    unsigned int rootInfo = 2;
    if (type == FS_FAT16) {
        rootSectors = 16384 / m_dwSectorSize;
        if (start < rootSectors)
            rootSectors = static_cast<unsigned int>(start);
        start -= rootSectors;
        rootInfo = rootSectors;
    }
    return NewRecord({d, spc, type, static_cast<unsigned long long>(clusters) * spc + rootSectors + 2ULL * spf + 1, spf,
                      clusters, start, 1, rootInfo, kFlagDirectories});
}

// ---- the end of the scan ---------------------------------------------------------------

void CFATCompleteFSearcher::AddSearchedPartitionInfoList2(PartitionList& list)
{
    for (auto it = m_setCandidates.begin(); it != m_setCandidates.end();) {
        CFATSearchedPartitionInfo* c = it->get();
        const unsigned int flags = c->GetFlag();
        const long long votes = GetVotes(*c);
        const bool firstFAT = (flags & kFlagFirstFAT) != 0;
        const bool secondFAT = (flags & kFlagSecondFAT) != 0;
        const bool keep = (flags & kFlagBootEvidence) ? (votes > 0 || firstFAT || secondFAT) : votes >= 1;
        if (!keep || list.size() >= kMaxPartitions) {
            it = m_setCandidates.erase(it);
            continue;
        }
        const int a = firstFAT && secondFAT ? 50 : (firstFAT || secondFAT ? 45 : 10);
        int b = 10;
        if (c->GetFileSystemType() == FS_FAT32) {
            const bool boot = (flags & kFlagFat32Boot) != 0;
            const bool backup = (flags & kFlagFat32Backup) != 0;
            b = boot && backup ? 50 : (boot || backup ? 45 : 10);
        } else if (flags & (kFlagFat12Boot | kFlagFat16Boot)) {
            b = 50;
        }
        c->SetScore(a + b);
        c->SetPartitionIndex(static_cast<unsigned short>(list.size()));
        auto node = m_setCandidates.extract(it++);
        list.push_back(node.value().release());
    }
    m_setExpectedFATs.clear();
    m_setCandidates.clear();
}

void CFATCompleteFSearcher::EndSearch(int build)
{
    if (!build)
        return;
    AddSearchedPartitionInfoList2(m_vecPartitions);
    if (m_vecPartitions.empty())
        return;
    if (m_pTreeBuilder)
        m_pTreeBuilder->AddSearcherInfo(SEARCHER_FAT, 0);
    // One tree holds every FAT volume found: only a lone volume names it.
    if (m_pTreeBuilder && m_vecPartitions.size() == 1)
        NameTreeAfterLabel(m_pTreeBuilder, m_pDevice, static_cast<unsigned long long>(m_vecPartitions[0]->GetStartSector()));
    for (CFATSearchedPartitionInfo* partition : m_vecPartitions)
        CompleteBulidDirectoryTree(partition);
    if (m_pTreeBuilder) {
        m_pTreeBuilder->SetPartitonDevice(nullptr, m_pDevice);
        m_pTreeBuilder->FlashBuild(SEARCHER_FAT);
    }
}

ResultCode CFATCompleteFSearcher::CompleteBulidDirectoryTree(CFATSearchedPartitionInfo* partition)
{
    const unsigned int flags = partition->GetFlag();
    const long long start = partition->GetStartSector();
    const unsigned int spf = partition->GetSectorPerFAT();
    const enumFILE_SYSTEM_TYPE type = partition->GetFileSystemType();
    std::unique_ptr<IFATTable, void (*)(IFATTable*)> fat(
        IFATTableFactory::CreateFATTable(m_pDevice, start + partition->GetReservedSector(), type, spf,
                                         flags & 0x80, flags & 0x200),
        &IFATTableFactory::DestroyFATTable);
    if (!fat)
        return kResultNoFATReader;

    // Only a boot sector tells where the root directory is.
    const int fromBootSector = (flags & kFlagBootEvidence) ? 1 : 0;
    long long rootStart = 0xFFFFFFFF;
    unsigned int rootSectors = 0;
    unsigned int rootCluster = 0;
    if (fromBootSector) {
        if (type == FS_FAT32) {
            rootCluster = partition->GetRootInfo();
        } else {
            rootStart = start + partition->GetReservedSector() + 2LL * spf;
            rootSectors = partition->GetRootInfo();
        }
    }
    CFATBuildWorker worker(m_pTreeBuilder, m_pProgress, partition, m_pDevice, type, start,
                           partition->GetSectorsPerUnit(), rootStart, rootSectors, rootCluster, fromBootSector,
                           partition->GetUnitBase(), static_cast<long long>(partition->GetTotalSectors()),
                           fat.get());
    worker.SetFileSectorMap(m_pFileSectorMap);
    worker.CompleteBuildDirectoryTree(m_setFolderSectors);
    return 0;
}
