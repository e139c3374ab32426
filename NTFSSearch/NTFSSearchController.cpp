#include "NTFSSearchController.h"

#include <algorithm>
#include <cstring>

#include "FindFileFromLogFile.h"
#include "IBlockView.h"
#include "ITreeBuilder.h"
#include "IStorageDevice.h"
#include "NTFSDBR.h"
#include "NTFSDirectoryTreeBuilder.h"
#include "ResultCode.h"

namespace {

constexpr unsigned int kUnit = 512;
constexpr unsigned int kFileRecordBytes = 1024;
constexpr unsigned int kIndexBytes = 4096;
constexpr long long kIndexUnits = kIndexBytes / kUnit;
constexpr long long kLookahead = 15;
constexpr long long kRootFolder = 5;
constexpr uint32_t kNoMeta = 0xFFFFFFFFu;
constexpr uint32_t kMetaMFT = 0, kMetaMFTMirr = 1, kMetaBitmap = 6;

// Calls fn for every candidate of the set equal to the given one.
template <typename Fn>
void ForEachEqual(NTFSPartitionSet& set, const CSearchedNTFSPartitionInfo& candidate, Fn fn)
{
    auto [first, last] = set.equal_range(const_cast<CSearchedNTFSPartitionInfo*>(&candidate));
    for (auto it = first; it != last; ++it)
        fn(**it);
}

std::vector<uint8_t> Unprotected(const uint8_t* record)
{
    std::vector<uint8_t> plain(record, record + kFileRecordBytes);
    CNTFSFileRecord::UnfixupFileRecord(plain.data(), kFileRecordBytes);
    return plain;
}

}  // namespace

// ---- meta-file groups ----

CMetaFileRecordGroupinMFTAnalyzer::CMetaFileRecordGroupinMFTAnalyzer(MFTInfoList& mft, MFTMirrInfoList& mirrors,
                                                                     NTFSPartitionSet& set,
                                                                     CNTFSPartitionInfoBuilder& builder,
                                                                     MFTFilesPairList& pairs, FindFileList& finders,
                                                                     IStorageDevice* device)
    : m_mft(mft), m_mirrors(mirrors), m_set(set), m_builder(builder), m_pairs(pairs), m_finders(finders),
      m_pDevice(device)
{
}

void CMetaFileRecordGroupinMFTAnalyzer::ResetGroup()
{
    m_pMFT = nullptr;
    m_pMirror = nullptr;
    m_s64Start = -1;
    m_s64Clusters = -1;
}

bool CMetaFileRecordGroupinMFTAnalyzer::IsCounted(const uint8_t* plainRecord) const
{
    const uint32_t index = CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(plainRecord, kFileRecordBytes);
    if (index == kMetaMFT)
        return m_mft.size() < kNtfsSearchListCap;
    if (index == kMetaMFTMirr)
        return m_mirrors.size() < kNtfsSearchListCap;
    return true;
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeNTFSMetaFileRecord(long long sector, const uint8_t* record)
{
    const bool valid = CNTFSFileRecord::IsValid(record, kFileRecordBytes);
    const long long distance = m_s64Start >= 0 ? sector - m_s64Start : -1;
    // The second half of a record of the open group.
    if (!valid && m_s64Start >= 0 && distance > 0 && distance < 17 && distance % 2 == 1)
        return;
    std::vector<uint8_t> plain;
    uint32_t index = kNoMeta;
    if (valid) {
        plain = Unprotected(record);
        index = CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(plain.data(), kFileRecordBytes);
    }
    if (index == kNoMeta || m_s64Start < 0 || distance < 0 || distance > 16 ||
        static_cast<unsigned long long>(distance / 2) != index)
        CloseGroup();
    if (index == kNoMeta)
        return;
    if (index == kMetaMFT)
        m_s64Start = sector;

    if (index == kMetaMFT && m_mft.size() < kNtfsSearchListCap) {
        auto info = CMFTInfo::Build(record, kFileRecordBytes, sector);
        if (!info) {
            CloseGroup();
            return;
        }
        m_pMFT = info.get();
        auto finder = std::make_unique<FindFileMFTAndLogx>();
        finder->m_pMFT = m_pMFT;
        finder->m_pLogFile = std::make_unique<CFindFileFromLogFile>();
        m_mft.push_back(std::move(info));
        m_finders.push_back(std::move(finder));
    } else if (index == kMetaMFTMirr && m_mirrors.size() < kNtfsSearchListCap) {
        auto info = CMFTMirrInfo::Build(record, kFileRecordBytes, sector);
        if (!info) {
            CloseGroup();
            return;
        }
        m_pMirror = info.get();
        m_mirrors.push_back(std::move(info));
    } else if (index == kMetaBitmap) {
        CBitmapFileInfo bitmap;
        if (bitmap.InitFromBuffer(record, kFileRecordBytes, sector) && bitmap.GetFileSize() <= INT64_MAX / 8)
            m_s64Clusters = bitmap.GetFileSize() * 8;
    }
}

void CMetaFileRecordGroupinMFTAnalyzer::CloseGroup()
{
    if (m_pMFT) {
        if (!m_pMirror) {
            AnalyzeSingleMFT(*m_pMFT);
        } else {
            auto pair = std::make_unique<CMFTFilesPair>();
            pair->m_pMFT = m_pMFT;
            pair->m_pMFTMirr = m_pMirror;
            AnalyzeMFTFilesPair(*pair);
            m_pairs.push_back(std::move(pair));
        }
    }
    ResetGroup();
}

void CMetaFileRecordGroupinMFTAnalyzer::AdjustPartitionSizeandMFTSector(CSearchedNTFSPartitionInfo& c,
                                                                        long long groupStart, long long clusters)
{
    if (c.m_s64MFTRecordSector == -1 || c.m_s64MFTRecordSector == -2)
        c.m_s64MFTRecordSector = groupStart;
    if (!(c.GetPartitionBuildFromFlags() & NTFS_BUILD_FROM_BOOT) && clusters >= 1) {
        c.m_s64TotalClusters = std::min(clusters, c.m_s64TotalClusters);
        c.SetTotalSectors(static_cast<unsigned long long>(std::max(0LL, c.m_s64TotalClusters)) * c.GetSectorsPerUnit());
    }
    long long sectors = 0;
    c.m_s64BitmapSectors =
        __builtin_mul_overflow(static_cast<long long>(c.GetSectorsPerUnit()), clusters, &sectors) ? -1 : sectors;
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeSingleMFT(const CMFTInfo& mft)
{
    const unsigned int unit = 512;
    std::vector<unsigned int> sizes;
    if (mft.GetSectorsPerCluster() != 0)
        sizes.push_back(mft.GetSectorsPerCluster());
    else
        sizes.assign(std::begin(NTFS_SUPPORTED_SECTORS_PER_CLUSTER), std::end(NTFS_SUPPORTED_SECTORS_PER_CLUSTER));
    for (unsigned int spc : sizes) {
        std::unique_ptr<CSearchedNTFSPartitionInfo> h(BuildPartitionInfoAccordingtoFileRecord(
            mft.GetSectorAddress(), mft.GetFirstClusterNO(), spc, NTFS_BUILD_FROM_MFT, m_s64DeviceSectors, unit));
        if (!h)
            continue;
        AdjustPartitionSizeandMFTSector(*h, m_s64Start, m_s64Clusters);
        if (m_builder.AdjustPartitionBuildFromFlag(*h, NTFS_BUILD_FROM_MFT, 0)) {
            ForEachEqual(m_set, *h, [&](CSearchedNTFSPartitionInfo& c) {
                AdjustPartitionSizeandMFTSector(c, m_s64Start, m_s64Clusters);
            });
            return;
        }
        m_set.insert(h.release());
    }
}

void CMetaFileRecordGroupinMFTAnalyzer::AnalyzeMFTFilesPair(const CMFTFilesPair& pair)
{
    const long long mirrorCluster = pair.m_pMFTMirr->GetFirstClusterNO();
    const unsigned int spc = pair.m_pMFT->GetSectorsPerCluster();
    std::unique_ptr<CSearchedNTFSPartitionInfo> h;
    if (mirrorCluster != -1 && spc != 0)
        h.reset(BuildPartitionInfoAccordingtoFileRecord(pair.m_pMFT->GetSectorAddress(), mirrorCluster, spc,
                                                        NTFS_BUILD_FROM_MFTMIRR, m_s64DeviceSectors, 512));
    if (!h) {
        AnalyzeSingleMFT(*pair.m_pMFT);
        return;
    }
    AdjustPartitionSizeandMFTSector(*h, m_s64Start, m_s64Clusters);

    // This group is the copy in $MFTMirr when an earlier group's $MFT lies
    // where this group's $MFT record says the table starts.
    const long long mftCluster = pair.m_pMFT->GetFirstClusterNO();
    long long offset = 0;
    bool confirmed = false;
    if (mftCluster != -1 && !__builtin_mul_overflow(mftCluster, static_cast<long long>(spc), &offset)) {
        const long long expected = h->GetStartSector() + offset;
        for (const auto& earlier : m_pairs)
            if (earlier->m_pMFT && earlier->m_pMFT->GetSectorAddress() == expected) {
                confirmed = true;
                break;
            }
    }
    if (confirmed) {
        m_builder.AdjustPartitionBuildFromFlag(*h, NTFS_BUILD_FROM_MFT_GROUP, NTFS_BUILD_FROM_MFT);
        return;
    }
    const bool found = m_builder.AdjustPartitionBuildFromFlag(*h, NTFS_BUILD_FROM_MFTMIRR, 0);
    ForEachEqual(m_set, *h,
                 [&](CSearchedNTFSPartitionInfo& c) { AdjustPartitionSizeandMFTSector(c, m_s64Start, m_s64Clusters); });
    if (!found)
        AnalyzeSingleMFT(*pair.m_pMFT);
}

// ---- the controller ----

CNTFSSearchController::CNTFSSearchController() : m_builder(m_candidates, 0) {}

CNTFSSearchController::~CNTFSSearchController()
{
    ReleaseSearchState();
    for (auto* c : m_candidates)
        delete c;
}

void CNTFSSearchController::ReleaseSearchState()
{
    m_pBlock.reset();
    m_nBlockBytes = 0;
    m_pGroupAnalyzer.reset();
    m_pLogFileAnalyzer.reset();
    m_pAttrDefAnalyzer.reset();
    m_pairs.clear();
    m_mirrors.clear();
    m_folders.clear();
    m_indexRecords.clear();
}

int CNTFSSearchController::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

int CNTFSSearchController::SetDevice(IStorageDevice* device)
{
    VANTREL_ASSERT(device != nullptr);
    if (!device)
        return 0;
    m_pDevice = device;
    m_pView = dynamic_cast<IBlockView*>(device);
    m_builder.SetDeviceSectors(device->GetTotalSectors());
    return 1;
}

int CNTFSSearchController::SetBlockSize(int sectorsPerBlock)
{
    VANTREL_ASSERT(sectorsPerBlock > 0);
    if (sectorsPerBlock <= 0)
        return 0;
    m_iSectorsperBlock = sectorsPerBlock;
    return 1;
}

int CNTFSSearchController::PreparetoSearch()
{
    VANTREL_ASSERT(m_iSectorsperBlock > 0);
    if (!m_pDevice || m_iSectorsperBlock <= 0)
        return 0;
    ReleaseSearchState();
    m_dwSectorSize = m_pDevice->GetSectorSize();
    m_pGroupAnalyzer = std::make_unique<CMetaFileRecordGroupinMFTAnalyzer>(m_mft, m_mirrors, m_candidates, m_builder,
                                                                            m_pairs, m_finders, m_pDevice);
    m_pGroupAnalyzer->SetDeviceTotalSectors(m_pDevice->GetTotalSectors());
    m_pLogFileAnalyzer = std::make_unique<CLogFileAnalyzer>(m_candidates, m_builder, m_pDevice);
    m_pLogFileAnalyzer->SetDeviceTotalSectors(m_pDevice->GetTotalSectors());
    m_pAttrDefAnalyzer = std::make_unique<CAttrDefFileAnalyzer>();
    m_nBlockBytes = static_cast<size_t>(m_iSectorsperBlock + kLookahead) * m_dwSectorSize;
    m_pBlock = AllocateLargeBuffer(m_nBlockBytes);
    if (!m_pBlock) {
        m_nBlockBytes = 0;
        return 0;
    }
    SetNtfsGuessSectorSize(m_dwSectorSize);
    if (m_pTreeBuilder)
        m_pTreeBuilder->AddSearcherInfo(SEARCHER_NTFS, kRootFolder);
    return 1;
}

int CNTFSSearchController::AnalyzeBlock(long long firstSector, long long count)
{
    VANTREL_ASSERT(m_pDevice != nullptr);
    VANTREL_ASSERT(m_iSectorsperBlock > 0);
    VANTREL_ASSERT(count <= m_iSectorsperBlock);
    if (!m_pDevice || !m_pGroupAnalyzer || !m_pLogFileAnalyzer || !m_pAttrDefAnalyzer || count <= 0 || count > m_iSectorsperBlock || !m_pBlock)
        return 1;
    // The sectors after the block are read too, so that a structure that
    // begins near the block's end is seen whole (restart pages are not
    // joined across blocks). When they cannot be read, the block alone is,
    // and the joins below carry records over. A failed read leaves zeros,
    // never the previous block's bytes at this block's sectors.
    long long lookahead = std::clamp<long long>(m_pDevice->GetTotalSectors() - firstSector - count, 0, kLookahead);
    // The structures are laid out in 512-byte units; on devices with larger
    // sectors those units do not map to sectors, and nothing is looked for.
    if (m_dwSectorSize != kUnit)
        return 1;
    // A cached block is looked at in place: only its last sectors are copied,
    // with the sectors after it, for the tests that look past the block.
    const uint8_t* block = m_pView ? m_pView->ViewSectors(firstSector, count) : nullptr;
    long long inPlace = 0;  // sectors k < inPlace are looked at in the view
    const uint8_t* tail = m_pBlock.get();
    if (block) {
        inPlace = std::max<long long>(0, count - kLookahead - 1);
        const size_t kept = static_cast<size_t>(count - inPlace) * kUnit;
        std::memcpy(m_pBlock.get(), block + static_cast<size_t>(inPlace) * kUnit, kept);
        if (lookahead > 0 && !m_pDevice->ReadSector(m_pBlock.get() + kept, firstSector + count, lookahead))
            lookahead = 0;
        std::memset(m_pBlock.get() + kept + static_cast<size_t>(lookahead) * kUnit, 0,
                    static_cast<size_t>(kLookahead - lookahead) * kUnit);
    } else if (!m_pDevice->ReadSector(m_pBlock.get(), firstSector, count + lookahead)) {
        lookahead = 0;
        std::memset(m_pBlock.get(), 0, m_nBlockBytes);
        if (!m_pDevice->ReadSector(m_pBlock.get(), firstSector, count))
            std::memset(m_pBlock.get(), 0, m_nBlockBytes);
    }
    for (long long k = 0; k < count; ++k) {
        const long long sector = firstSector + k;
        const uint8_t* buffer = k < inPlace ? block + static_cast<size_t>(k) * kUnit
                                            : tail + static_cast<size_t>(k - inPlace) * kUnit;
        const auto available = static_cast<unsigned int>(kUnit * std::min<long long>(count + lookahead - k, 16));
        if (CNTFSDBR::IsFullValidDBR(buffer))
            AnalyzeNTFSDBRSector(sector, buffer);
        else if (CLogFileAnalyzer::IsValidRSTRRecord(buffer, available))
            m_pLogFileAnalyzer->AnalyzeRSTRRecord(sector, buffer, available);
        else
            AnalyzeIndexRecord(sector, buffer, available);
        AnalyzeNTFSFileRecordSector(sector, buffer, available);
        m_pAttrDefAnalyzer->AnalyzeSectorBuffer(sector, buffer);
    }
    m_pLogFileAnalyzer->AnalyzeRCRDRecord(block ? block : m_pBlock.get(), firstSector, count);
    return 1;
}

// ---- boot sectors ----

CSearchedNTFSPartitionInfo* CNTFSSearchController::BuildPartitionInfoFromDBR(const CNTFSDBR& dbr, long long start,
                                                                            unsigned int flags)
{
    const unsigned int spc = dbr.GetSectorsperCluster();
    if (start < 0 || spc == 0 || !m_pDevice)
        return nullptr;
    const unsigned long long total = dbr.GetTotalSectors();
    const long long length = static_cast<long long>(
        std::min<unsigned long long>(static_cast<unsigned long long>(std::max(0LL, m_pDevice->GetTotalSectors() - start)), total));
    if (length < 8)
        return nullptr;
    auto* c = new CSearchedNTFSPartitionInfo(m_dwSectorSize);
    c->SetPartitionBuildFromFlag(flags);
    c->SetFileSystemType(FS_NTFS);
    c->SetSectorsPerUnit(spc);
    c->SetStartSector(start);
    c->SetSerialNumber(static_cast<long long>(dbr.GetSerialNumber()));
    c->m_s64TotalClusters = length / spc;
    c->SetTotalSectors(static_cast<unsigned long long>(c->m_s64TotalClusters) * spc);
    return c;
}

void CNTFSSearchController::AnalyzeNTFSDBRSector(long long sector, const uint8_t* buffer)
{
    CNTFSDBR dbr;
    if (!dbr.InitFromBuffer(buffer))
        return;
    const unsigned long long total = dbr.GetTotalSectors();
    if (total > static_cast<unsigned long long>(INT64_MAX / 4))
        return;
    const auto t = static_cast<long long>(total);

    // The backup boot sector lies just past the volume's last sector: this
    // sector may be the backup of a volume that starts t sectors back.
    std::unique_ptr<CSearchedNTFSPartitionInfo> backup(BuildPartitionInfoFromDBR(dbr, sector - t, NTFS_BUILD_FROM_BACKUP_BOOT));
    if (backup) {
        bool known = false;
        ForEachEqual(m_candidates, *backup, [&](CSearchedNTFSPartitionInfo& c) {
            if ((c.GetPartitionBuildFromFlags() & NTFS_BUILD_FROM_BOOT) ||
                (c.GetTotalSectors() == backup->GetTotalSectors() && c.GetSerialNumber() == backup->GetSerialNumber()))
                known = true;
            c.AddPartitionBuildFromFlag(NTFS_BUILD_FROM_BACKUP_BOOT);
        });
        if (known) {
            // The volume's own boot sector guessed it might be a backup too;
            // that guess is withdrawn.
            backup->SetStartSector(sector - 2 * t);
            m_builder.AdjustPartitionBuildFromFlag(*backup, 0, NTFS_BUILD_FROM_BACKUP_BOOT);
            return;
        }
        ForEachEqual(m_candidates, *backup, [&](CSearchedNTFSPartitionInfo& c) {
            if (c.GetTotalSectors() == 0) {
                c.SetTotalSectors(backup->GetTotalSectors());
                c.m_s64TotalClusters = backup->m_s64TotalClusters;
            }
        });
        m_candidates.insert(backup.release());
    }
    if (auto* primary = BuildPartitionInfoFromDBR(dbr, sector, NTFS_BUILD_FROM_BOOT))
        m_candidates.insert(primary);
}

// ---- FILE records ----

void CNTFSSearchController::AnalyzeNTFSFileRecordSector(long long sector, const uint8_t* buffer,
                                                        unsigned int available)
{
    if (m_s64PendingFileSector >= 0) {
        const long long pending = m_s64PendingFileSector;
        m_s64PendingFileSector = -1;
        if (sector == pending + 1) {
            uint8_t record[kFileRecordBytes] = {};
            std::memcpy(record, m_u8PendingFile, kUnit);
            std::memcpy(record + kUnit, buffer, kUnit);
            AnalyzeFileRecord(pending, record);
            return;
        }
    } else if (available < kFileRecordBytes && CNTFSFileRecordHeader::IsValid(buffer, kUnit)) {
        std::memcpy(m_u8PendingFile, buffer, kUnit);
        m_s64PendingFileSector = sector;
        return;
    }
    // A whole record in the buffer is looked at where it lies.
    if (available >= kFileRecordBytes) {
        AnalyzeFileRecord(sector, buffer);
        return;
    }
    // A record cut short by the device's end, zero-filled after it.
    uint8_t record[kFileRecordBytes] = {};
    std::memcpy(record, buffer, available);
    AnalyzeFileRecord(sector, record);
}

void CNTFSSearchController::AnalyzeFileRecord(long long sector, const uint8_t* record)
{
    if (m_pGroupAnalyzer)
        m_pGroupAnalyzer->AnalyzeNTFSMetaFileRecord(sector, record);
    if (std::memcmp(record, "FILE", 4) != 0 || !CNTFSFileRecord::IsValid(record, kFileRecordBytes))
        return;
    const std::vector<uint8_t> plain = Unprotected(record);
    if (CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(plain.data())) {
        AnalyzeFolderFileRecordHavingIndexAllocation(sector, record);
        return;
    }
    // The log, attribute-definition and upper-case tables are evidence of
    // their own kind, not ordinary files.
    if (CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(plain.data(), L"$LogFile", kFileRecordBytes)) {
        if (m_pLogFileAnalyzer)
            m_pLogFileAnalyzer->AnalyzeLogFileFileRecord(sector, record, kFileRecordBytes);
        return;
    }
    if (CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(plain.data(), L"$AttrDef", kFileRecordBytes)) {
        if (m_pAttrDefAnalyzer)
            m_pAttrDefAnalyzer->AnalyzeAttrDefFileRecord(sector, record, kFileRecordBytes);
        return;
    }
    if (CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(plain.data(), L"$UpCase", kFileRecordBytes))
        return;
    AnalyzeNormalFileRecord(sector, plain.data());
}

void CNTFSSearchController::AnalyzeNormalFileRecord(long long sector, const uint8_t* record)
{
    if (CNTFSFileRecord::IsExtendFileRecord(record))
        return;
    if (m_pGroupAnalyzer && !m_pGroupAnalyzer->IsCounted(record))
        return;
    if (m_pLogFileAnalyzer && m_pLogFileAnalyzer->IsaMetaFileRecordNotNeedtoCount(record))
        return;
    if (!m_positions.empty() && m_positions.back().Merge(sector))
        return;
    if (m_positions.size() < kNtfsSearchListCap)
        m_positions.emplace_back(sector);
}

void CNTFSSearchController::AnalyzeFolderFileRecordHavingIndexAllocation(long long sector, const uint8_t* record)
{
    if (m_folders.size() >= kNtfsSearchListCap)
        return;
    auto folder = std::make_unique<CFolderIndexAllocationInfo>();
    if (!folder->InitFromBuffer(record, kFileRecordBytes, sector))
        return;
    auto [first, last] = m_indexRecords.equal_range(folder->GetMFTFileRecordNumber());
    for (auto it = first; it != last; ++it)
        MatchFolderAndIndex(*folder, **it);
    m_folders.insert(std::move(folder));
    if (m_positions.size() < kNtfsSearchListCap)
        m_positions.emplace_back(sector);
}

// ---- index records ----

void CNTFSSearchController::AnalyzeIndexRecord(long long sector, const uint8_t* buffer, unsigned int available)
{
    if (m_s64PendingIndexSector >= 0) {
        const long long end = m_s64PendingIndexSector + m_s64PendingIndexHeld;
        if (sector < end)
            return;
        const long long first = m_s64PendingIndexSector, held = m_s64PendingIndexHeld;
        m_s64PendingIndexSector = -1;
        m_s64PendingIndexHeld = -1;
        const long long offered = available / kUnit;
        if (sector == end && held > 0 && held < kIndexUnits) {
            const long long take = std::min(offered, kIndexUnits - held);
            std::memcpy(m_vecPendingIndex.data() + held * kUnit, buffer, static_cast<size_t>(take) * kUnit);
            if (held + take == kIndexUnits) {
                AnalyzeIndexBuffer(first, m_vecPendingIndex.data());
            } else {
                // Blocks shorter than an index block: the record keeps
                // gathering its sectors block after block.
                m_s64PendingIndexSector = first;
                m_s64PendingIndexHeld = held + take;
            }
            return;
        }
    } else if (available < kIndexBytes && CStandardIndexHeader::IsValidMagicNumber(buffer)) {
        std::memcpy(m_vecPendingIndex.data(), buffer, available);
        m_s64PendingIndexSector = sector;
        m_s64PendingIndexHeld = available / kUnit;
        return;
    }
    if (available < kIndexBytes || !CStandardIndexHeader::IsValidMagicNumber(buffer))
        return;
    std::vector<uint8_t> copy(buffer, buffer + kIndexBytes);
    AnalyzeIndexBuffer(sector, copy.data());
}

void CNTFSSearchController::AnalyzeIndexBuffer(long long sector, uint8_t* buffer)
{
    auto index = std::make_unique<CIndexRecordInfo>();
    if (!index->InitFromBuffer(buffer, kIndexBytes, sector) || index->m_s64MFTNumber == kRootFolder)
        return;
    auto [first, last] = m_folders.equal_range(index->m_s64MFTNumber);
    for (auto it = first; it != last; ++it)
        MatchFolderAndIndex(**it, *index);
    if (m_indexRecords.size() < kNtfsSearchListCap)
        m_indexRecords.insert(std::move(index));
}

void CNTFSSearchController::MatchFolderAndIndex(const CFolderIndexAllocationInfo& folder,
                                                const CIndexRecordInfo& index)
{
    if (index.m_u64VCN > static_cast<unsigned long long>(INT64_MAX))
        return;
    const long long lcn = folder.GetLCN(static_cast<long long>(index.m_u64VCN));
    if (lcn == -1 || !m_pDevice)
        return;
    std::unique_ptr<CSearchedNTFSPartitionInfo> h(BuildPartitionInfoAccordingtoFileRecord(
        index.m_s64Sector, lcn, folder.GetSectorsPerCluster(), NTFS_BUILD_FROM_INDX, m_pDevice->GetTotalSectors(),
        m_dwSectorSize));
    if (!h)
        return;
    bool found = false;
    ForEachEqual(m_candidates, *h, [&](CSearchedNTFSPartitionInfo& c) {
        c.AddPartitionBuildFromFlag(NTFS_BUILD_FROM_INDX);
        c.AddFolderIndexMatch();
        found = true;
    });
    if (!found)
        m_candidates.insert(h.release());
}

// ---- end of the search ----

long long CNTFSSearchController::CalcFileSystemReliabilityScore(const CSearchedNTFSPartitionInfo& c)
{
    const unsigned int flags = c.GetPartitionBuildFromFlags();
    long long score = 0;
    const struct {
        unsigned int bit;
        long long points;
    } weights[] = {{NTFS_BUILD_FROM_BOOT, 30},   {NTFS_BUILD_FROM_BACKUP_BOOT, 10}, {NTFS_BUILD_FROM_MFT_GROUP, 30},
                   {NTFS_BUILD_FROM_MFT, 10},    {NTFS_BUILD_FROM_MFTMIRR, 10},     {NTFS_BUILD_FROM_RSTR1, 10},
                   {NTFS_BUILD_FROM_RSTR2, 10}};
    for (const auto& w : weights)
        if (flags & w.bit)
            score += w.points;
    score += std::min(10 * (c.m_s64UpCaseMatchCount / 256), 10LL);
    score += std::min(10 * (c.m_s64LogFileMatchCount / 10000), 10LL);
    score += std::min(10 * (c.m_s64AttrDefMatchCount / 5), 10LL);
    return score;
}

void CNTFSSearchController::Cull()
{
    CullCandidates(m_candidates, [this](CSearchedNTFSPartitionInfo& c) {
        if (m_pAttrDefAnalyzer)
            m_pAttrDefAnalyzer->CalcAttrDefMatch(c);
        if (m_pLogFileAnalyzer)
            m_pLogFileAnalyzer->CalcLogFileMatch(c);
    });
}

void CNTFSSearchController::CullCandidates(NTFSPartitionSet& set,
                                           const std::function<void(CSearchedNTFSPartitionInfo&)>& weigh)
{
    size_t position = 0;
    for (auto it = set.begin(); it != set.end(); ++position) {
        CSearchedNTFSPartitionInfo* c = *it;
        if (weigh)
            weigh(*c);
        if (c->m_s64MFTRecordSector >= 0)
            c->m_dwMark = 1;
        c->SetReliability(CalcFileSystemReliabilityScore(*c));
        // The first two candidates in start order always pass this step.
        if (position >= 2 && (c->GetReliability() < 11 || (c->GetCounter1() == 0 && c->GetCounter2() == 0))) {
            it = set.erase(it);
            delete c;
            continue;
        }
        c->SetPartitionStart(c->GetStartSector());
        ++it;
    }
    if (set.size() >= 3)
        for (auto it = set.begin(); it != set.end();) {
            CSearchedNTFSPartitionInfo* c = *it;
            if (c->GetReliability() <= 50 && c->m_dwMark == 0) {
                it = set.erase(it);
                delete c;
            } else {
                ++it;
            }
        }
}

void CNTFSSearchController::EndSearch(int build)
{
    if (!build)
        return;
    if (m_pGroupAnalyzer)
        m_pGroupAnalyzer->CloseGroup();
    Cull();
    // Every kept partition gets its files; the lowest start ranks first.
    CNTFSIntelligentSearchInfo info;
    info.Init(&m_mft, &m_positions, &m_finders);
    CNTFSDirectoryTreeBuilder rebuild;
    const size_t kept = m_candidates.size();
    // One tree holds every NTFS volume found: only a lone volume names it.
    rebuild.SetNameTreeAfterVolume(kept == 1);
    int i = 0;
    for (auto* c : m_candidates) {
        c->SetScore(static_cast<double>(kept - static_cast<size_t>(i)));
        c->SetPartitionIndex(static_cast<unsigned short>(i));
        if (m_pDevice)
            rebuild.BuildDirectoryTree(&info, c, m_pDevice, i, nullptr, m_pTreeBuilder);
        ++i;
    }
    ReleaseSearchState();
    if (m_pTreeBuilder) {
        m_pTreeBuilder->SetPartitonDevice(nullptr, m_pDevice);
        m_pTreeBuilder->FlashBuild(SEARCHER_NTFS);
    }
}

int CNTFSSearchController::GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity)
{
    const int count = static_cast<int>(m_candidates.size());
    if (list && capacity >= count) {
        int i = 0;
        for (auto* c : m_candidates)
            list[i++] = c->Clone();
    }
    return count;
}

ICompleteFileSystemSearchController* CreateNTFSSearcher() { return new CNTFSSearchController(); }
