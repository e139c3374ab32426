#include "NTFSDirectoryTreeBuilder.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <vector>

#include "FindFileFromLogFile.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "NTFSFileNode.h"
#include "ResultCode.h"

namespace {

constexpr long long kBlockMaxSectors = 128;
constexpr unsigned int kUnit = 512;
constexpr unsigned int kRecordBytes = 1024;
constexpr long long kRootFolder = 5;
constexpr long long kFirstUserRecord = 25;
constexpr unsigned int kSectorsPerRecord = 2;

// The equal range of a parent number in a parent-ordered set.
std::pair<RecordInfoSet::iterator, RecordInfoSet::iterator> ChildrenOf(RecordInfoSet& set, long long parent)
{
    CCommonFileRecordInfo probe;
    probe.SetFileRecordNumberofParentDirectory(parent);
    return set.equal_range(&probe);
}

}  // namespace

// ---- one table ----

long long CMFTDirectoryTreeBuilder::GetMFTNumber(long long recordSector, const CMFTInfo& mft, long long start,
                                                 unsigned int spc)
{
    const long long r = recordSector - start;
    if (spc == 0 || r < 0)
        return -1;
    const long long vcn = mft.GetDataRunList().GetVCN(r / spc);
    long long v = 0;
    if (vcn < 0 || __builtin_mul_overflow(vcn, static_cast<long long>(spc), &v))
        return -1;
    v += r % spc;
    return v % kSectorsPerRecord != 0 ? -1 : v / kSectorsPerRecord;
}

CNTFSFileNode* CMFTDirectoryTreeBuilder::MakeNode(CCommonFileRecordInfo& info, long long parent, long long id)
{
    CNTFSFileProperties* properties = info.TakeNTFSFileProperties();
    if (!properties)
        return nullptr;
    auto* node = new CNTFSFileNode();
    node->SetFileProperties(properties);
    node->SetMetaDataSector(info.GetSectorAddress());
    node->SetParentNodeID(parent);
    node->SetCurrentNodeID(id);
    node->SetBelongedPartition(static_cast<unsigned short>(m_iIndex));
    return node;
}

void CMFTDirectoryTreeBuilder::BuildDirectoryTree(CMFTDirectoryTreeBuildInfo* info, RecordInfoList& records,
                                                  long long start, unsigned int spc, IDirecotryTreeBuilder* tree,
                                                  int index)
{
    m_s64Start = start;
    m_dwSectorsPerCluster = spc;
    m_pTree = tree;
    m_iIndex = index;
    for (auto& record : records)
        m_set.insert(record.get());
    if (info && info->m_pMFT)
        BuildNormalFiles(*info->m_pMFT);
    BuildLostFiles();
    m_set.clear();
}

void CMFTDirectoryTreeBuilder::BuildNormalFiles(const CMFTInfo& mft)
{
    // Breadth first from the root folder; every record leaves the set when
    // it is placed, so each is handed over at most once.
    std::deque<CCommonFileRecordInfo*> folders;
    auto buildChildren = [&](long long parent) {
        auto [first, last] = ChildrenOf(m_set, parent);
        std::vector<CCommonFileRecordInfo*> children(first, last);
        m_set.erase(first, last);
        for (CCommonFileRecordInfo* child : children) {
            CNTFSFileNode* node = MakeNode(*child, parent, child->GetMFTFileRecordNumber());
            if (!node)
                continue;
            const bool directory = node->IsDirectory() != 0;
            if (!m_pTree || !m_pTree->AddNode(node, SEARCHER_NTFS)) {
                node->Release();
                continue;
            }
            if (directory)
                folders.push_back(child);
        }
    };
    buildChildren(kRootFolder);
    while (!folders.empty()) {
        CCommonFileRecordInfo* folder = folders.front();
        folders.pop_front();
        long long number = folder->GetMFTFileRecordNumber();
        if (number == -1)
            number = GetMFTNumber(folder->GetSectorAddress(), mft, m_s64Start, m_dwSectorsPerCluster);
        if (number >= 0)
            buildChildren(number);
    }
}

void CMFTDirectoryTreeBuilder::BuildLostFiles()
{
    struct Made {
        CNTFSFileNode* node;
        CCommonFileRecordInfo* info;
        bool handed;
    };
    std::multimap<long long, Made> byParent;
    for (CCommonFileRecordInfo* info : m_set) {
        const long long parent = info->GetFileRecordNumberofParentDirectory();
        if (CNTFSFileNode* node = MakeNode(*info, parent, info->GetMFTFileRecordNumber()))
            byParent.emplace(parent, Made{node, info, false});
    }
    auto hand = [&](Made& m, long long parent) {
        m.handed = true;
        m.node->SetParentNodeID(parent);
        m.node->SetCurrentNodeID(m.info->GetMFTFileRecordNumber());
        m.node->SetBelongedPartition(static_cast<unsigned short>(m_iIndex));
        if (m_pTree && m_pTree->AddNode(m.node, SEARCHER_NTFS))
            return true;
        m.node->Release();
        m.node = nullptr;
        return false;
    };
    for (auto& [parent, folder] : byParent) {
        if (folder.handed || !folder.node || !(folder.node->GetAttribute() & NTFS_FILE_DIRECTORY) ||
            parent < kFirstUserRecord)
            continue;
        if (!hand(folder, parent))
            continue;
        const long long number = folder.info->GetMFTFileRecordNumber();
        if (number < 0)
            continue;
        // The folder's path to the root, so that no folder becomes its own
        // ancestor.
        std::set<const CFileNode*> path;
        const CFileNode* up = folder.node;
        for (int depth = 0; up && depth < 4096; ++depth, up = up->GetParent())
            path.insert(up);
        auto [first, last] = byParent.equal_range(number);
        for (auto it = first; it != last; ++it) {
            Made& child = it->second;
            if (child.handed || !child.node || child.node->GetParent() || path.count(child.node))
                continue;
            hand(child, number);
        }
    }
    for (auto& [parent, made] : byParent)
        if (!made.handed && made.node)
            made.node->Release();
}

// ---- one candidate ----

CNTFSDirectoryTreeBuilder::~CNTFSDirectoryTreeBuilder() { Clear(); }

void CNTFSDirectoryTreeBuilder::Clear()
{
    m_matched.clear();
    m_loose.clear();
}

std::vector<std::pair<long long, long long>> CNTFSDirectoryTreeBuilder::PlanBlocks(
    const FileRecordPositionList& positions, long long start, long long totalSectors, long long deviceSectors)
{
    std::vector<std::pair<long long, long long>> blocks;
    const long long end = start + totalSectors;
    // Record slots in order: run after run, two sectors apart.
    auto run = positions.begin();
    long long k = 0;
    auto slot = [&]() { return run->GetFileRecordStartSector() + 2 * k; };
    auto advance = [&]() {
        if (++k >= run->GetFileRecordCount()) {
            ++run;
            k = 0;
        }
    };
    // The first slot inside the partition.
    while (run != positions.end() && (slot() < start || slot() > end))
        advance();
    while (run != positions.end()) {
        const long long first = slot();
        if (first >= end)
            break;
        while (run != positions.end() && slot() - first < kBlockMaxSectors && slot() < end)
            advance();
        const long long length = std::min(kBlockMaxSectors, end - first);
        if (length >= 1 && first < deviceSectors)
            blocks.emplace_back(first, std::min(length, deviceSectors - first));
        // Slots before the block's start (runs out of order) are skipped.
        while (run != positions.end() && slot() < first + length)
            advance();
    }
    return blocks;
}

CNTFSFileNode* CNTFSDirectoryTreeBuilder::BuildDirectoryTree(CNTFSIntelligentSearchInfo* info,
                                                             CSearchedPartitionInfo* candidate, IStorageDevice* device,
                                                             int index, IProgress* progress,
                                                             IDirecotryTreeBuilder* tree)
{
    VANTREL_ASSERT(device != nullptr);
    m_pSearchInfo = info;
    m_pCandidate = candidate;
    m_pDevice = device;
    m_iPartitionIndex = index;
    m_pProgress = progress;
    m_pTreeBuilder = tree;
    m_iDone = 0;
    auto* ntfs = dynamic_cast<CSearchedNTFSPartitionInfo*>(candidate);
    const unsigned int spc = ntfs ? ntfs->GetSectorsPerUnit() : 0;
    if (!ntfs || !device || !info || spc == 0 || spc > 128 || (spc != 1 && spc % 2 != 0)) {
        m_iDone = 1;
        return m_pResult;
    }
    m_s64PartitionStart = ntfs->GetPartitionStart();
    m_dwSectorsPerCluster = spc;

    if (FindFileList* finders = info->GetFindFileContainer())
        for (auto& entry : *finders) {
            CMFTInfo* mft = entry->m_pMFT;
            if (!mft || !NTFSPublicFunction::IsClusterNOMatch(mft->GetSectorAddress(), mft->GetFirstClusterNO(),
                                                              m_s64PartitionStart, spc))
                continue;
            long long highest = 0;
            for (auto it = mft->GetDataRunList().GetBegin(); it != mft->GetDataRunList().GetEnd(); ++it)
                if ((*it)->m_s64LCN >= 0 && (*it)->m_s64Length > 0)
                    highest = std::max(highest, (*it)->m_s64LCN + (*it)->m_s64Length - 1);
            long long sectors = 0;
            if (__builtin_mul_overflow(highest, static_cast<long long>(spc), &sectors) ||
                static_cast<unsigned long long>(sectors) >= ntfs->GetTotalSectors())
                continue;
            if (entry->m_pLogFile && !entry->m_pLogFile->IsAnalyzed() &&
                entry->m_pLogFile->Init(device, &mft->GetDataRunList(), spc, m_s64PartitionStart))
                entry->m_pLogFile->Analyzer();
            m_matched.push_back(std::make_unique<CMFTDirectoryTreeBuildInfo>(mft));
        }

    if (m_bNameTree && tree && !m_matched.empty() && m_matched.front()->m_pMFT) {
        const unsigned int recordSize = std::max(1024u, device->GetSectorSize());
        const std::string name =
            CVolumeFileAnalyzer::ReadVolumeName(device, m_matched.front()->m_pMFT->GetSectorAddress(), recordSize);
        if (!name.empty())
            tree->SetSearcherVolumeName(SEARCHER_NTFS, name.c_str());
    }
    ReadFileRecords(*ntfs);
    CMFTDirectoryTreeBuilder linker;
    for (auto& table : m_matched)
        linker.BuildDirectoryTree(table.get(), table->m_records, m_s64PartitionStart, spc, tree, index);
    if (index == 0)
        linker.BuildDirectoryTree(nullptr, m_loose, m_s64PartitionStart, spc, tree, index);

    Clear();
    if (FindFileList* finders = info->GetFindFileContainer())
        for (auto& entry : *finders)
            if (entry->m_pLogFile)
                entry->m_pLogFile->Reset();
    m_iDone = 1;
    return m_pResult;
}

void CNTFSDirectoryTreeBuilder::ReadFileRecords(const CSearchedNTFSPartitionInfo& candidate)
{
    FileRecordPositionList* positions = m_pSearchInfo->GetCommonFileRecordPositionInfoList();
    if (!positions)
        return;
    const auto total = static_cast<long long>(std::min<unsigned long long>(candidate.GetTotalSectors(), INT64_MAX / 2));
    for (const auto& [first, count] : PlanBlocks(*positions, m_s64PartitionStart, total, m_pDevice->GetTotalSectors()))
        ExamineBlock(first, count, candidate);
}

void CNTFSDirectoryTreeBuilder::ExamineBlock(long long first, long long count,
                                             const CSearchedNTFSPartitionInfo& candidate)
{
    VANTREL_ASSERT(count <= kBlockMaxSectors);
    if (count < 1 || count > kBlockMaxSectors || m_pDevice->GetSectorSize() != kUnit)
        return;
    // One sector more than the block, so that a record in its last sector
    // is read whole.
    const long long deviceSectors = m_pDevice->GetTotalSectors();
    const long long read = std::min(count + 1, deviceSectors - first);
    std::vector<uint8_t> buffer(static_cast<size_t>(kBlockMaxSectors + 1) * kUnit, 0);
    if (read < 1 || !m_pDevice->ReadSector(buffer.data(), first, read))
        std::fill(buffer.begin(), buffer.end(), 0);
    for (long long k = 0; k < count; ++k) {
        const uint8_t* record = buffer.data() + static_cast<size_t>(k) * kUnit;
        if (std::memcmp(record, "FILE", 4) != 0 || !CNTFSFileRecord::IsValid(record, kRecordBytes) ||
            CNTFSFileRecord::IsExtendFileRecord(record))
            continue;
        const long long sector = first + k;
        CMFTDirectoryTreeBuildInfo* table = nullptr;
        const long long cluster = (sector - m_s64PartitionStart) / m_dwSectorsPerCluster;
        for (auto& t : m_matched)
            if (t->m_pMFT->GetDataRunList().IsLCNContained(cluster)) {
                table = t.get();
                break;
            }
        if (candidate.m_dwRestrict && !table)
            continue;
        const bool attach = candidate.m_dwMark && table;
        auto info = BuildCommonFileRecordInfoandFileProperties(record, sector, attach ? table->m_pMFT : nullptr);
        if (!info)
            continue;
        if (attach)
            table->m_records.push_back(std::move(info));
        else if (m_loose.size() < 500000)
            m_loose.push_back(std::move(info));
    }
}

std::unique_ptr<CCommonFileRecordInfo> CNTFSDirectoryTreeBuilder::BuildCommonFileRecordInfoandFileProperties(
    const uint8_t* buffer, long long sector, CMFTInfo* table)
{
    auto info = std::make_unique<CCommonFileRecordInfo>();
    if (!info->InitFromBuffer(buffer, kRecordBytes, sector) || CIsMetaFileRecord::IsMetaFileRecord(buffer, kRecordBytes))
        return nullptr;
    std::vector<uint8_t> record(buffer, buffer + kRecordBytes);
    std::unique_ptr<ExtendFileRecordInfoList> extend;
    if (table) {
        if (info->GetMFTFileRecordNumber() == -1) {
            const long long number = CMFTDirectoryTreeBuilder::GetMFTNumber(sector, *table, m_s64PartitionStart,
                                                                            m_dwSectorsPerCluster);
            if (number != -1)
                info->SetMFTFileRecordNumber(number);
        }
        extend = CNTFSMultiFileRecord::InitExtendFileRecord(record.data(), kRecordBytes, sector, m_dwSectorsPerCluster,
                                                            m_s64PartitionStart, m_pDevice, table->GetDataRunList(),
                                                            kSectorsPerRecord);
    }
    CNTFSMultiFileRecord multi(record.data(), kRecordBytes, sector, m_pDevice, extend.get());
    CNTFSFileProperties* properties =
        CNTFSFilePropertiesBuilder::BuildFileProperties(sector, multi, kUnit * m_dwSectorsPerCluster, nullptr);
    if (!properties)
        return nullptr;
    CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(
        properties, m_dwSectorsPerCluster, kUnit);
    if (properties->GetFileSize() == 0 && !(properties->GetAttribute() & NTFS_FILE_DIRECTORY))
        if (FindFileList* finders = m_pSearchInfo->GetFindFileContainer())
            for (auto& entry : *finders)
                if (entry->m_pLogFile && entry->m_pLogFile->IsAnalyzed() &&
                    entry->m_pLogFile->ReplaceFileRecordInfo(buffer, *properties, -1, extend.get()))
                    break;
    properties->SetExtendFileRecordInfoList(std::move(extend));
    info->SetNTFSFileProperties(properties);
    return info;
}
