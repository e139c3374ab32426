#include "NTFSSearchInfo.h"

#include <algorithm>

#include "FindFileFromLogFile.h"
#include "IRSData.h"
#include "NTFSFileNode.h"

namespace {

// The record's unprotected copy, or an invalid record.
struct PlainRecord {
    PlainRecord(const uint8_t* buffer, unsigned int size) : record(const_cast<uint8_t*>(buffer), size, 1) {}
    bool IsValid() const { return record.IsValid(); }
    const uint8_t* Bytes() const { return record.GetRecord(); }
    unsigned int Size() const { return record.GetSize(); }
    CNTFSFileRecord record;
};

bool AddUnnamedDataRuns(const PlainRecord& plain, CNTFSDataRunList& runs, bool check, unsigned long long& realSize)
{
    return CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(plain.Bytes(), runs, check, realSize,
                                                                      plain.Size());
}

// Sectors per cluster told by the record's unnamed $DATA; false for an
// invalid record or when it cannot be told.
bool ClusterSizeOfData(const uint8_t* buffer, unsigned int size, uint8_t& out)
{
    PlainRecord plain(buffer, size);
    if (!plain.IsValid())
        return false;
    const unsigned int spc = CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(plain.Bytes(), plain.Size());
    if (spc == 0 || spc > 128)
        return false;
    out = static_cast<uint8_t>(spc);
    return true;
}

}  // namespace

// ---- candidates ----

int CSearchedNTFSPartitionInfo::Save(IRSData& data)
{
    const long long serial = m_s64SerialNumber;
    const uint32_t words[4] = {m_dwSectorsPerFileRecord, m_dwBuildFrom, m_dwMark, m_dwRestrict};
    const long long rest[9] = {m_s64TotalClusters,      m_s64LogFileMatchCount,   m_s64AttrDefMatchCount,
                               m_s64UpCaseMatchCount,   m_s64MFTRecordSector,     m_s64LogFileRecordSector,
                               m_s64AttrDefRecordSector, m_s64UpCaseRecordSector, m_s64BitmapSectors};
    return data.WriteCurFrame(&serial, sizeof(serial)) && data.WriteCurFrame(words, sizeof(words)) &&
                   data.WriteCurFrame(rest, sizeof(rest))
               ? 1
               : 0;
}

int CSearchedNTFSPartitionInfo::Restore(IRSData& data)
{
    long long serial = 0;
    uint32_t words[4] = {};
    long long rest[9] = {};
    if (data.GetFrameRemaining() < sizeof(serial) + sizeof(words) + sizeof(rest))
        return 0;
    if (!data.ReadCurFrameExact(&serial, sizeof(serial)) || !data.ReadCurFrameExact(words, sizeof(words)) ||
        !data.ReadCurFrameExact(rest, sizeof(rest)))
        return 0;
    m_s64SerialNumber = serial;
    m_dwSectorsPerFileRecord = words[0];
    m_dwBuildFrom = words[1];
    m_dwMark = words[2];
    m_dwRestrict = words[3];
    m_s64TotalClusters = rest[0];
    m_s64LogFileMatchCount = rest[1];
    m_s64AttrDefMatchCount = rest[2];
    m_s64UpCaseMatchCount = rest[3];
    m_s64MFTRecordSector = rest[4];
    m_s64LogFileRecordSector = rest[5];
    m_s64AttrDefRecordSector = rest[6];
    m_s64UpCaseRecordSector = rest[7];
    m_s64BitmapSectors = rest[8];
    return 1;
}

CSearchedNTFSPartitionInfo* BuildPartitionInfoAccordingtoFileRecord(long long recordSector, long long lcn,
                                                                   unsigned int sectorsPerCluster, unsigned int flags,
                                                                   long long deviceSectors, unsigned int sectorSize)
{
    long long offset = 0;
    if (sectorsPerCluster == 0 || lcn < 0 ||
        __builtin_mul_overflow(lcn, static_cast<long long>(sectorsPerCluster), &offset))
        return nullptr;
    const long long start = recordSector - offset;
    // The evidence must lie at least 8 sectors into the volume.
    if (start < 0 || start > recordSector - 8)
        return nullptr;
    auto* candidate = new CSearchedNTFSPartitionInfo(sectorSize);
    candidate->SetStartSector(start);
    candidate->SetSectorsPerUnit(sectorsPerCluster);
    candidate->SetFileSystemType(FS_NTFS);
    candidate->SetCounter2(0);
    const long long clusters = deviceSectors > start ? (deviceSectors - start) / static_cast<long long>(sectorsPerCluster) : 0;
    candidate->m_s64TotalClusters = clusters;
    candidate->SetTotalSectors(static_cast<unsigned long long>(clusters) * sectorsPerCluster);
    candidate->SetPartitionBuildFromFlag(flags);
    return candidate;
}

void BuildPartitionInfoAccordingtoFileRecord(std::list<CSearchedNTFSPartitionInfo*>& out, long long recordSector,
                                             long long lcn, unsigned int flags, long long deviceSectors,
                                             unsigned int sectorSize)
{
    for (unsigned int spc : NTFS_SUPPORTED_SECTORS_PER_CLUSTER)
        if (auto* candidate =
                BuildPartitionInfoAccordingtoFileRecord(recordSector, lcn, spc, flags, deviceSectors, sectorSize))
            out.push_back(candidate);
}

bool CNTFSPartitionInfoBuilder::AdjustPartitionBuildFromFlag(const CSearchedNTFSPartitionInfo& candidate,
                                                             unsigned int add, unsigned int remove)
{
    // The multiset orders by start and cluster size only, so the equal
    // candidates are exactly equal_range of the given one.
    auto [first, last] = m_set.equal_range(const_cast<CSearchedNTFSPartitionInfo*>(&candidate));
    const bool found = first != last;
    for (auto it = first; it != last;) {
        CSearchedNTFSPartitionInfo* existing = *it;
        existing->SetPartitionBuildFromFlag((existing->GetPartitionBuildFromFlags() & ~remove) | add);
        if (existing->GetPartitionBuildFromFlags() == 0 && existing != &candidate) {
            it = m_set.erase(it);
            delete existing;
        } else if (existing->GetPartitionBuildFromFlags() == 0) {
            it = m_set.erase(it);
        } else {
            ++it;
        }
    }
    return found;
}

void CNTFSPartitionInfoBuilder::MergeOrInsert(CSearchedNTFSPartitionInfo* candidate, unsigned int flag)
{
    if (!candidate)
        return;
    if (AdjustPartitionBuildFromFlag(*candidate, flag, 0))
        delete candidate;
    else
        m_set.insert(candidate);  // after the equal ones
}

// ---- evidence ----

bool CMetaFileInfo::InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector)
{
    PlainRecord plain(buffer, size);
    if (!plain.IsValid())
        return false;
    m_runs.ClearDataRunList();
    unsigned long long realSize = 0;
    AddUnnamedDataRuns(plain, m_runs, false, realSize);
    if (m_runs.IsEmpty())
        return false;
    m_s64Sector = sector;
    m_u64LSN = CNTFSFileRecord::GetLogFileSequenceNumber(plain.Bytes());
    return true;
}

bool CLogFileInfo::InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector)
{
    return ClusterSizeOfData(buffer, size, m_u8SectorsPerCluster) && CMetaFileInfo::InitFromBuffer(buffer, size, sector);
}

std::unique_ptr<CMFTMirrInfo> CMFTMirrInfo::Build(const uint8_t* buffer, unsigned int size, long long sector)
{
    auto info = std::make_unique<CMFTMirrInfo>();
    if (!info->InitFromBuffer(buffer, size, sector))
        return nullptr;
    return info;
}

bool CMFTInfo::InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector)
{
    if (!ClusterSizeOfData(buffer, size, m_u8SectorsPerCluster))
        return false;
    PlainRecord plain(buffer, size);
    m_runs.ClearDataRunList();
    unsigned long long realSize = 0;
    AddUnnamedDataRuns(plain, m_runs, false, realSize);
    m_s64Sector = sector;
    return !m_runs.IsEmpty();
}

std::unique_ptr<CMFTInfo> CMFTInfo::Build(const uint8_t* buffer, unsigned int size, long long sector)
{
    auto info = std::make_unique<CMFTInfo>();
    if (!info->InitFromBuffer(buffer, size, sector) || info->GetFirstClusterNO() < 0)
        return nullptr;
    return info;
}

void CMFTInfo::GetDataRunList(CNTFSDataRunList& out) const
{
    for (auto it = m_runs.GetBegin(); it != m_runs.GetEnd(); ++it)
        out.AddDataRun((*it)->m_s64LCN, (*it)->m_s64VCN, (*it)->m_s64Length);
}

bool CBitmapFileInfo::InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector)
{
    PlainRecord plain(buffer, size);
    if (!plain.IsValid())
        return false;
    CNTFSDataRunList runs;
    unsigned long long realSize = 0;
    if (!AddUnnamedDataRuns(plain, runs, true, realSize) || realSize < 1 || runs.GetTotalClusters() < 1 ||
        realSize > static_cast<unsigned long long>(INT64_MAX))
        return false;
    m_s64FileSize = static_cast<long long>(realSize);
    m_s64Sector = sector;
    return true;
}

bool CFolderIndexAllocationInfo::InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector)
{
    PlainRecord plain(buffer, size);
    if (!plain.IsValid() || CNTFSFileRecord::IsExtendFileRecord(plain.Bytes()))
        return false;
    const uint8_t* record = plain.Bytes();
    const unsigned int checked = std::min(plain.Size(), kNtfsRecordCheckSize);
    long long number = -1;
    const uint32_t rootAt = CNTFSFileRecord::GetAttributeOffset(record, NTFS_ATTR_INDEX_ROOT, 0, checked);
    if (rootAt != 0xFFFFFFFFu)
        number = CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(record + rootAt, checked - rootAt);

    const uint32_t allocAt = CNTFSFileRecord::GetAttributeOffset(record, NTFS_ATTR_INDEX_ALLOCATION, 0, checked);
    if (allocAt == 0xFFFFFFFFu)
        return false;
    const uint8_t* alloc = record + allocAt;
    if (CNTFSFileRecordAttribute::IsResident(alloc) ||
        !CNTFSFileRecordAttribute::IsValidNonResidentAttribute(alloc, checked - allocAt) ||
        CNTFSFileRecordAttribute::GetLength(alloc) < 1)
        return false;
    CNTFSDataRunList runs;
    if (!CNTFSFileRecordDataRunsAttribute::GetDataRunList(alloc, runs) || runs.IsEmpty())
        return false;
    const unsigned int spc = CNTFSFileRecordDataRunsAttribute::GetSectorsPerCluster(alloc, checked - allocAt);
    if (spc == 0)
        return false;

    m_runs.ClearDataRunList();
    for (auto it = runs.GetBegin(); it != runs.GetEnd(); ++it)
        m_runs.AddDataRun((*it)->m_s64LCN, (*it)->m_s64VCN, (*it)->m_s64Length);
    m_dwSectorsPerCluster = spc;
    m_s64Sector = sector;
    m_u64LSN = CNTFSFileRecord::GetLogFileSequenceNumber(record);
    if (CNTFSFileRecord::HasXPNumberOfthisMFTRecord(record)) {
        m_dwOwnNumber = CNTFSFileRecord::GetXPNumberOfthisMFTRecord(record);
        m_dwHasOwnNumber = 1;
        if (number == -1 || number == -2)
            number = m_dwOwnNumber;
    }
    m_s64MFTNumber = number;
    return number >= 0 && number != 5;
}

long long CFolderIndexAllocationInfo::GetLCN(long long vcn) const
{
    for (auto it = m_runs.GetBegin(); it != m_runs.GetEnd(); ++it) {
        const CDataRun& run = **it;
        long long lcn = 0;
        if (vcn >= run.m_s64VCN && vcn - run.m_s64VCN < run.m_s64Length)
            return run.m_s64LCN < 0 || __builtin_add_overflow(run.m_s64LCN, vcn - run.m_s64VCN, &lcn) ? -1 : lcn;
    }
    return -1;
}

bool CIndexRecordInfo::InitFromBuffer(uint8_t* buffer, unsigned int size, long long sector)
{
    if (!buffer || !CIndexRecord::IsValid(buffer, size))
        return false;
    m_s64Sector = sector;
    m_u64VCN = CIndexRecord::GetVCN(buffer);
    m_u64LSN = CIndexRecord::GetLogFileSequenceNumber(buffer);
    m_s64MFTNumber = CIndexRecord::GetParentFileReference(buffer, size);
    return true;
}

FindFileMFTAndLogx::FindFileMFTAndLogx() = default;
FindFileMFTAndLogx::~FindFileMFTAndLogx() = default;

bool CCommonFileRecordPositionInfo::Merge(long long sector)
{
    if (m_s64Start < 0 || m_s64Start + 2 * m_s64Count != sector)
        return false;
    ++m_s64Count;
    return true;
}

CCommonFileRecordInfo::~CCommonFileRecordInfo() { CNTFSFileProperties::Destory(m_pProperties); }

void CCommonFileRecordInfo::SetNTFSFileProperties(CNTFSFileProperties* p)
{
    if (p != m_pProperties)
        CNTFSFileProperties::Destory(m_pProperties);
    m_pProperties = p;
}

CNTFSFileProperties* CCommonFileRecordInfo::TakeNTFSFileProperties()
{
    CNTFSFileProperties* p = m_pProperties;
    m_pProperties = nullptr;
    return p;
}

bool CCommonFileRecordInfo::InitFromBuffer(const uint8_t* buffer, unsigned int size, long long sector)
{
    PlainRecord plain(buffer, size);
    if (!plain.IsValid())
        return false;
    const uint8_t* record = plain.Bytes();
    const unsigned int checked = std::min(plain.Size(), kNtfsRecordCheckSize);
    m_dwDirectory = CNTFSFileRecord::IsFolder(record) ? 1 : 0;
    m_s64Sector = sector;
    if (CNTFSFileRecord::HasXPNumberOfthisMFTRecord(record))
        m_s64MFTNumber = CNTFSFileRecord::GetXPNumberOfthisMFTRecord(record);
    // The second name is usually the long one of a pair; either names the
    // folder, the root (5) and above.
    m_s64Parent = -1;
    for (unsigned int n : {1u, 0u}) {
        const uint8_t* name = CNTFSFileRecord::FindAttibute(record, NTFS_ATTR_FILE_NAME, n, checked);
        if (!name)
            continue;
        const auto parent = static_cast<long long>(CNTFSFileRecordFileNameAttribute::GetParentFileRecordNumber(name));
        if (parent >= 5) {
            m_s64Parent = parent;
            break;
        }
    }
    return true;
}
