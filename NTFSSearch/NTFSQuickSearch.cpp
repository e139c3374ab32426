#include "NTFSQuickSearch.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "FileReader.h"
#include "IProgress.h"
#include "IStorageDevice.h"
#include "ITreeBuilder.h"
#include "NTFSDBR.h"
#include "NTFSFileNode.h"
#include "NTFSFileRecord.h"
#include "NTFSSearchController.h"
#include "NTFSVolumeAnalyze.h"
#include "RegisterNtfs.h"
#include "SearcherRegistry.h"

namespace {

constexpr unsigned int kBootBufferBytes = 4096;
constexpr unsigned int kMFTRecordBufferBytes = 64 * 1024;
constexpr long long kBatchSectors = 128;
constexpr long long kRootFolder = 5;

void Report(IProgress* progress, uint32_t state, unsigned long long total, unsigned long long done,
            ResultCode result)
{
    if (!progress)
        return;
    _PROGRESS_INFO info{};
    info.dwState = state;
    info.u64Total = total;
    info.u64Done = done;
    info.u64Result = result;
    progress->UpdateProgress(&info);
}

bool IsSupportedRecordSize(unsigned long long size)
{
    return size == 1024 || size == 2048 || size == 4096;
}

}  // namespace

CNTFSQuickSearch::CNTFSQuickSearch()
{
    m_partition.SetPartitionIndex(0xFFFF);
    m_partition.SetFileSystemType(FS_UNKNOWN);
    m_partition.SetTotalSectors(0);
}

int CNTFSQuickSearch::SetDirecotryTreeBuilder(IDirecotryTreeBuilder* builder)
{
    m_pTreeBuilder = builder;
    return 1;
}

int CNTFSQuickSearch::GetSearchedPartitionInfo(CSearchedPartitionInfo** list, int capacity)
{
    if (capacity < 1 || !list)
        return 1;
    const unsigned int sectorSize = m_pDevice ? m_pDevice->GetSectorSize() : m_partition.GetSectorSize();
    auto* record = new (std::nothrow) CSearchedPartitionInfo(sectorSize);
    if (!record)
        return 0;
    record->SetPartitionStart(0);
    record->SetUnitBase(0);
    record->SetTotalSectors(m_pDevice ? static_cast<unsigned long long>(m_pDevice->GetTotalSectors()) : 0);
    record->SetFileSystemType(FS_NTFS);
    record->SetSectorsPerUnit(m_dwSectorsPerCluster);
    record->SetVolumeContext(m_partition.GetVolumeContext());
    list[0] = record;
    return 1;
}

bool CNTFSQuickSearch::ReadMFTInfoFromFileRecord(long long recordSector, unsigned int sectorsPerRecord)
{
    const unsigned long long bytes = static_cast<unsigned long long>(m_dwSectorSize) * sectorsPerRecord;
    if (sectorsPerRecord == 0 || bytes > kMFTRecordBufferBytes || recordSector < 0)
        return false;
    std::vector<uint8_t> buffer(kMFTRecordBufferBytes, 0);
    if (!m_pDevice->ReadSector(buffer.data(), recordSector, sectorsPerRecord))
        return false;
    const auto size = static_cast<unsigned int>(bytes);
    if (!CNTFSFileRecord::IsValid(buffer.data(), size))
        return false;
    std::vector<uint8_t> plain(buffer.begin(), buffer.begin() + size);
    CNTFSFileRecord::UnfixupFileRecord(plain.data(), size);
    if (!CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(plain.data(), L"$MFT", size))
        return false;

    m_mftRuns.ClearDataRunList();
    unsigned long long realSize = 0;
    if (CNTFSFileRecord::HasAttributeList(plain.data(), size)) {
        CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(plain.data(), m_mftRuns, false, realSize, size);
        auto extend = CNTFSMultiFileRecord::GetExtendFileRecordInfoList(buffer.data(), size, 0, m_dwSectorsPerCluster,
                                                                        m_pDevice);
        const unsigned int perRecord = m_dwRecordSize / m_dwSectorSize;
        const unsigned int readCount = std::max(1u, kBootBufferBytes / m_dwSectorSize);
        if (extend && !m_mftRuns.IsEmpty() && perRecord > 0) {
            for (const auto& info : *extend) {
                if (info->m_s64MFTNumber == 0)
                    continue;
                const long long sector = CNTFSMultiFileRecord::GetFileRecordStartSectorfromMFTNumber(
                    info->m_s64MFTNumber, m_dwSectorsPerCluster, 0, m_mftRuns, perRecord);
                if (sector < 0)
                    continue;
                std::vector<uint8_t> ext(static_cast<size_t>(readCount) * m_dwSectorSize, 0);
                if (!m_pDevice->ReadSector(ext.data(), sector, readCount))
                    continue;
                const unsigned int extSize = std::min<unsigned int>(m_dwRecordSize, static_cast<unsigned int>(ext.size()));
                if (!CNTFSFileRecord::IsValid(ext.data(), extSize))
                    continue;
                CNTFSFileRecord::UnfixupFileRecord(ext.data(), extSize);
                unsigned long long ignored = 0;
                CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(ext.data(), m_mftRuns, false, ignored,
                                                                           extSize);
            }
        }
        m_mftRuns.Sort();
        return !m_mftRuns.IsEmpty();
    }
    if (!CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(plain.data(), m_mftRuns, true, realSize, size) ||
        m_mftRuns.IsEmpty()) {
        m_mftRuns.ClearDataRunList();
        return false;
    }
    m_mftRuns.Sort();
    return true;
}

bool CNTFSQuickSearch::GetMFTInfo(unsigned long long mftCluster, unsigned long long mirrorCluster)
{
    const unsigned long long limit = static_cast<unsigned long long>(m_pDevice->GetTotalSectors());
    const unsigned long long spc = m_dwSectorsPerCluster;
    if (mftCluster < limit / spc &&
        ReadMFTInfoFromFileRecord(static_cast<long long>(mftCluster * spc), m_dwRecordSize / m_dwSectorSize))
        return true;
    // The mirror copy is read in units of 512 bytes whatever the sector size:
    // with 4 KiB sectors and 1 KiB records this is what still finds the runs.
    return mirrorCluster < limit / spc &&
           ReadMFTInfoFromFileRecord(static_cast<long long>(mirrorCluster * spc), m_dwRecordSize / 512);
}

ResultCode CNTFSQuickSearch::QuickSearchFiles(IStorageDevice* volume, IProgress* progress)
{
    if (!volume || !progress)
        return kNoDevice;
    m_pDevice = volume;
    m_pProgress = progress;
    m_dwSectorSize = volume->GetSectorSize();
    m_partition = CSearchedPartitionInfo(m_dwSectorSize);
    m_partition.SetFileSystemType(FS_NTFS);
    m_partition.SetTotalSectors(static_cast<unsigned long long>(std::max(0LL, volume->GetTotalSectors() - 1)));
    m_partition.SetPartitionStart(0);
    m_partition.SetUnitBase(0);
    m_partition.SetSectorsPerUnit(1);
    m_dwSectorsPerCluster = 1;
    m_mftRuns.ClearDataRunList();

    // Too small a device or a sector the boot buffer cannot hold is no NTFS
    // volume (a damaged device must not stop the program).
    if (volume->GetTotalSectors() - 1 <= 1 || m_dwSectorSize < 512 || m_dwSectorSize > kBootBufferBytes ||
        m_dwSectorSize % 512 != 0)
        return kBadBootSector;
    std::vector<uint8_t> boot(kBootBufferBytes, 0);
    CNTFSDBR dbr;
    if (!volume->ReadSector(boot.data(), 0, 1) || !dbr.InitFromBuffer(boot.data()))
        return kBadBootSector;
    m_dwSectorsPerCluster = dbr.GetSectorsperCluster();
    m_partition.SetSectorsPerUnit(m_dwSectorsPerCluster);

    const unsigned long long recordSize = dbr.GetFileRecordSizeByByte();
    if (!IsSupportedRecordSize(recordSize))
        return kNoMFT;
    m_dwRecordSize = static_cast<unsigned int>(recordSize);
    if (!GetMFTInfo(dbr.GetMFTStartCluster(), dbr.GetMFTMirrorStartCluster()))
        return kNoMFT;

    if (m_pTreeBuilder) {
        m_pTreeBuilder->AddSearcherInfo(SEARCHER_NTFS, kRootFolder);
        auto first = m_mftRuns.GetBegin();
        if (first != m_mftRuns.GetEnd() && (*first)->m_s64VCN == 0 && (*first)->m_s64LCN >= 0 &&
            (*first)->m_s64LCN <= volume->GetTotalSectors() / static_cast<long long>(m_dwSectorsPerCluster)) {
            const std::string name = CVolumeFileAnalyzer::ReadVolumeName(
                m_pDevice, (*first)->m_s64LCN * static_cast<long long>(m_dwSectorsPerCluster), m_dwRecordSize);
            if (!name.empty())
                m_pTreeBuilder->SetSearcherVolumeName(SEARCHER_NTFS, name.c_str());
        }
    }
    // Deleted files whose records were emptied get their size and extents
    // back from the transaction log, read once before the walk.
    if (m_logFile.Init(m_pDevice, &m_mftRuns, m_dwSectorsPerCluster))
        m_logFile.Analyzer();
    return BuildFileNodeFromMFTFileRecord();
}

ResultCode CNTFSQuickSearch::BuildFileNodeFromMFTFileRecord()
{
    const long long deviceSectors = m_pDevice->GetTotalSectors();
    const long long spc = m_dwSectorsPerCluster;

    // The runs clipped to the device. Their sum never exceeds the device: a
    // damaged list that names the same clusters over and over cannot make the
    // walk longer than one pass over the volume.
    struct Span {
        long long first, count;
        unsigned long long mftOffset;
    };
    std::vector<Span> spans;
    unsigned long long total = 0;
    for (auto it = m_mftRuns.GetBegin(); it != m_mftRuns.GetEnd(); ++it) {
        const CDataRun& run = **it;
        long long first, count, vcnSectors;
        if (run.m_s64LCN < 0 || run.m_s64Length <= 0 || run.m_s64VCN < 0 ||
            __builtin_mul_overflow(run.m_s64LCN, spc, &first) || first >= deviceSectors ||
            __builtin_mul_overflow(run.m_s64VCN, spc, &vcnSectors) ||
            vcnSectors > static_cast<long long>(UINT64_MAX / 2 / m_dwSectorSize))
            continue;
        if (__builtin_mul_overflow(run.m_s64Length, spc, &count) || count > deviceSectors - first)
            count = deviceSectors - first;
        if (total + static_cast<unsigned long long>(count) > static_cast<unsigned long long>(deviceSectors))
            count = deviceSectors - static_cast<long long>(total);
        if (count <= 0)
            break;
        spans.push_back({first, count, static_cast<unsigned long long>(vcnSectors) * m_dwSectorSize});
        total += static_cast<unsigned long long>(count);
    }

    Report(m_pProgress, PROGRESS_STATE_RUNNING, total, 0, 0);
    std::vector<uint8_t> batch(static_cast<size_t>(kBatchSectors) * m_dwSectorSize);
    unsigned long long done = 0;
    ResultCode last = 0;
    for (const Span& span : spans) {
        if (m_pProgress && !m_pProgress->Continued())
            break;
        for (long long pos = 0; pos < span.count;) {
            if (m_pProgress && !m_pProgress->Continued())
                break;
            const long long n = std::min(kBatchSectors, span.count - pos);
            const unsigned long long bytes = static_cast<unsigned long long>(n) * m_dwSectorSize;
            // When the batch cannot be read whole, its sectors are read one by
            // one: an unreadable sector stays zero and costs only the records
            // that touch it.
            if (!m_pDevice->ReadSector(batch.data(), span.first + pos, n))
                for (long long i = 0; i < n; ++i) {
                    uint8_t* sector = batch.data() + static_cast<size_t>(i) * m_dwSectorSize;
                    if (!m_pDevice->ReadSector(sector, span.first + pos + i, 1))
                        std::memset(sector, 0, m_dwSectorSize);
                }
            BuildFileNodeFromBuffer(batch.data(), bytes, span.first + pos,
                                    span.mftOffset + static_cast<unsigned long long>(pos) * m_dwSectorSize);
            pos += n;
            done += static_cast<unsigned long long>(n);
            Report(m_pProgress, PROGRESS_STATE_RUNNING, total, done, last);
        }
    }
    if (m_pTreeBuilder) {
        m_pTreeBuilder->SetPartitonDevice(&m_partition, m_pDevice);
        m_pTreeBuilder->FlashBuild(SEARCHER_NTFS);
    }
    Report(m_pProgress, PROGRESS_STATE_FINISHED, total, total, last);
    return last;
}

void CNTFSQuickSearch::BuildFileNodeFromBuffer(uint8_t* buffer, unsigned long long bytes, long long firstSector,
                                               unsigned long long mftOffset)
{
    const unsigned long long recordSize = m_dwRecordSize;
    unsigned long long b = (recordSize - mftOffset % recordSize) % recordSize;
    for (; b + recordSize <= bytes; b += recordSize) {
        const auto number = static_cast<long long>((mftOffset + b) / recordSize);
        BuildOneRecord(buffer + b, number, firstSector + static_cast<long long>(b / m_dwSectorSize),
                       static_cast<unsigned int>(b % m_dwSectorSize));
    }
}

void CNTFSQuickSearch::BuildOneRecord(uint8_t* record, long long number, long long sector, unsigned int offsetInSector)
{
    const unsigned int size = m_dwRecordSize;
    if (CIsMetaFileRecord::IsMetaFileRecord(record, size))
        return;
    if (!CNTFSFileRecord::IsValid(record, size) || CNTFSFileRecord::IsExtendFileRecord(record))
        return;

    const unsigned int perRecord = m_dwRecordSize / m_dwSectorSize;
    auto extend = CNTFSMultiFileRecord::InitExtendFileRecord(record, size, sector, m_dwSectorsPerCluster, 0, m_pDevice,
                                                             m_mftRuns, perRecord);
    CNTFSMultiFileRecord multi(record, size, sector, m_pDevice, extend.get());
    long long parent = -1;
    CNTFSFileProperties* properties = CNTFSFilePropertiesBuilder::BuildFileProperties(
        sector, multi, m_dwSectorsPerCluster * m_dwSectorSize, &parent);
    if (!properties)
        return;
    if (properties->GetFileSize() == 0 && !(properties->GetAttribute() & NTFS_FILE_DIRECTORY) &&
        (properties->GetState() & 1))
        m_logFile.ReplaceFileRecordInfo(record, *properties, parent, extend.get());
    CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(
        properties, m_dwSectorsPerCluster, m_dwSectorSize);
    if (offsetInSector != 0) {
        // Resident data is found again by the sector of its record; a record
        // that does not begin its sector cannot be told from the one that
        // does, so its data is not offered rather than another file's.
        IDataRunList* runs = properties->GetDataRunList();
        if (runs && runs->IsResident())
            properties->ClearDataRunList();
        if (runs)
            runs->Release();
    }
    properties->SetExtendFileRecordInfoList(std::move(extend));

    auto* node = new CNTFSFileNode();
    node->SetFileProperties(properties);
    node->SetCurrentNodeID(number);
    node->SetParentNodeID(parent);
    if (!m_pTreeBuilder || !m_pTreeBuilder->AddNode(node, SEARCHER_NTFS))
        node->Release();
}

IQuickFileSystemSearchController* CreateNTFSQuickSearcher() { return new CNTFSQuickSearch(); }

namespace {

int ResidentByNode(CFileNode* node, IStorageDevice* device, unsigned int* length, unsigned char* buffer,
                   unsigned int capacity)
{
    auto* ntfs = dynamic_cast<CNTFSFileNode*>(node);
    if (!ntfs)
        return -1;
    if (!device)
        return 0;
    return GetResidentDataRunsStream(*ntfs, *device, length, buffer, capacity);
}

int ResidentBySector(long long sector, IStorageDevice* device, unsigned int* length, unsigned char* buffer,
                     unsigned int capacity)
{
    if (!device)
        return 0;
    return GetResidentDataRunsStream(sector, *device, length, buffer, capacity);
}

}  // namespace

void RegisterNtfsSearchers()
{
    RegisterVolumeAnalyze(FS_NTFS, &CreateNTFSVolumeAnalyze);
    RegisterQuickSearcher(FS_NTFS, &CreateNTFSQuickSearcher);
    RegisterCompleteSearcher(SEARCHER_NTFS, &CreateNTFSSearcher);
    SetResidentDataProvider(&ResidentByNode, &ResidentBySector);
}
