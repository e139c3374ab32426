#include "FindFileFromLogFile.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "IStorageDevice.h"
#include "NTFSBytes.h"
#include "NTFSFileNode.h"

using ntfsbytes::Put32;
using ntfsbytes::U16;
using ntfsbytes::U32;
using ntfsbytes::U64;

namespace {

// Pages 0 to 3 hold the restart areas and the first two record pages, which
// the log reuses all the time: they are not walked.
constexpr unsigned long long kFirstWalkedPage = 4;
// A log larger than this is read no further (real logs are a few dozen MiB).
constexpr unsigned long long kMaxLogBytes = 128ULL * 1024 * 1024;
// A record reassembled over page boundaries is given up beyond this size.
constexpr size_t kMaxRecordBytes = 64 * 1024;
// Records copied for repairs are shorter than one page's record area.
constexpr uint32_t kMaxStoredRecord = 4032;
constexpr uint32_t kLastImageStart = 4002;
constexpr uint32_t kMinImageClientData = 113;
constexpr uint32_t kImageOffset = 88;
constexpr unsigned int kMaxRuns = 1u << 16;
constexpr unsigned int kMaxSlots = 8;
constexpr unsigned int kMaxDataAttributes = 5;

// Fields of the operation header, as offsets from the log record's start.
constexpr unsigned int kUndoOffset = 56;
constexpr unsigned int kUndoLength = 58;
constexpr unsigned int kAttributeOffset = 64;
constexpr unsigned int kOffsetInAttribute = 66;
constexpr unsigned int kClusterIndex = 68;
constexpr unsigned int kTargetVCN = 72;

uint64_t PageLastLSN(const uint8_t* page) { return U64(page + 8); }
uint64_t PageLastEndLSN(const uint8_t* page) { return U64(page + 32); }

// The tail of a page from the record whose LSN is the page's last one, or
// empty when no such record is found.
std::vector<uint8_t> FindCurrentPageLastLogRecord(const uint8_t* page)
{
    const uint64_t last = PageLastLSN(page);
    for (unsigned int off = CFindFileFromLogFile::kFirstRecordOffset; off + 8 <= CFindFileFromLogFile::kPageSize;
         off += 8)
        if (U64(page + off) == last)
            return std::vector<uint8_t>(page + off, page + CFindFileFromLogFile::kPageSize);
    return {};
}

}  // namespace

CFindFileFromLogFile::~CFindFileFromLogFile() { Reset(); }

void CFindFileFromLogFile::Reset()
{
    m_bReady = false;
    m_bAnalyzed = 0;
    m_u8Compressed = 0;
    m_pDevice = nullptr;
    m_pRuns.reset();
    m_u8SectorsPerCluster = 8;
    m_dwSectorSize = 512;
    m_s64PartitionStart = 0;
    std::vector<uint8_t>().swap(m_vecPages);
    m_bPagesTried = false;
    std::vector<uint8_t>().swap(m_vecRecordStore);
    CNTFSFileProperties::Destory(m_pLogProperties);
    m_pLogProperties = nullptr;
    for (auto& image : m_vecImages)
        CNTFSFileProperties::Destory(image.pProperties);
    m_vecImages.clear();
    m_vecRecords.clear();
}

bool CFindFileFromLogFile::Init(IStorageDevice* device, const CNTFSDataRunList* mftRuns,
                                unsigned int sectorsPerCluster, long long partitionStart)
{
    if (!device || !mftRuns || partitionStart < 0)
        return false;
    Reset();
    m_s64PartitionStart = partitionStart;
    m_pDevice = device;
    m_u8SectorsPerCluster = static_cast<uint8_t>(sectorsPerCluster == 0 || sectorsPerCluster > 255 ? 8 : sectorsPerCluster);
    m_dwSectorSize = device->GetSectorSize();
    if (m_dwSectorSize < 512 || m_dwSectorSize > kPageSize || kPageSize % m_dwSectorSize != 0 || mftRuns->IsEmpty())
        return false;

    const CDataRun& first = **mftRuns->GetBegin();
    long long sector = 0;
    if (first.m_s64LCN < 0 || __builtin_mul_overflow(first.m_s64LCN, static_cast<long long>(m_u8SectorsPerCluster), &sector) ||
        __builtin_add_overflow(sector, partitionStart, &sector))
        return false;
    constexpr unsigned int kSectors = 20;
    std::vector<uint8_t> buffer(static_cast<size_t>(kSectors) * m_dwSectorSize, 0);
    if (!device->ReadSector(buffer.data(), sector, kSectors))
        return false;

    // Record 2 of the MFT. The record size is not known here: the usual
    // place for the sector size is tried first, then the other sizes a
    // volume may use.
    const unsigned int usual = m_dwSectorSize == 512 ? 1024 : m_dwSectorSize;
    const unsigned int clusterBytes = m_dwSectorSize * m_u8SectorsPerCluster;
    for (unsigned int recordSize : {usual, 1024u, 2048u, 4096u}) {
        const size_t offset = 2ULL * recordSize;
        if (offset + kSlotSize > buffer.size())
            continue;
        const unsigned int size = static_cast<unsigned int>(std::min<size_t>(recordSize, buffer.size() - offset));
        CNTFSMultiFileRecord multi(buffer.data() + offset, size, sector, device, nullptr);
        if (!multi.IsValid())
            continue;
        long long parent = -1;
        CNTFSFileProperties* properties = CNTFSFilePropertiesBuilder::BuildFileProperties(
            sector + static_cast<long long>(offset / m_dwSectorSize), multi, clusterBytes, &parent);
        if (!properties)
            continue;
        const char* name = properties->GetFileName();
        IDataRunList* runs = name && std::strstr(name, "$LogFile") ? properties->GetDataRunList() : nullptr;
        if (!runs || runs->IsResident()) {
            if (runs)
                runs->Release();
            CNTFSFileProperties::Destory(properties);
            continue;
        }
        m_pLogProperties = properties;
        m_pRuns.reset(runs);
        m_bReady = true;
        break;
    }
    return true;
}

unsigned long long CFindFileFromLogFile::GetLogPageCount() const
{
    if (!m_pRuns)
        return 0;
    const unsigned long long sectorsPerPage = kPageSize / m_dwSectorSize;
    // The log is no larger than the device that holds it, whatever its
    // runs claim.
    unsigned long long limit = kMaxLogBytes / kPageSize;
    const long long deviceSectors = m_pDevice ? m_pDevice->GetTotalSectors() : 0;
    limit = std::min(limit, static_cast<unsigned long long>(std::max(deviceSectors, 0LL)) / sectorsPerPage);
    unsigned long long pages = 0;
    unsigned int n = 0;
    for (DataRun* run = m_pRuns->GetFirst(); run && n < kMaxRuns; run = m_pRuns->GetNext(), ++n) {
        if (run->llLength <= 0)
            continue;
        const unsigned long long sectors = static_cast<unsigned long long>(run->llLength) * m_u8SectorsPerCluster;
        pages += sectors / sectorsPerPage;
        if (pages > limit)
            return limit;
    }
    return pages;
}

bool CFindFileFromLogFile::LoadPages()
{
    if (!m_vecPages.empty())
        return true;
    if (m_bPagesTried || !m_pRuns || !m_pDevice)
        return false;
    m_bPagesTried = true;
    const unsigned long long pages = GetLogPageCount();
    if (pages == 0)
        return false;
    try {
        m_vecPages.assign(pages * kPageSize, 0);
        m_vecRecordStore.clear();
        m_vecRecordStore.reserve(pages * kPageSize);
    } catch (const std::bad_alloc&) {
        std::vector<uint8_t>().swap(m_vecPages);
        return false;
    }
    // Runs are read in order, in chunks; an unreadable chunk or a sparse run
    // stays zero and its pages are skipped as not being record pages.
    const unsigned long long total = m_vecPages.size() / m_dwSectorSize;
    const long long deviceSectors = m_pDevice->GetTotalSectors();
    constexpr long long kChunk = 256;
    unsigned long long at = 0;
    unsigned int n = 0;
    for (DataRun* run = m_pRuns->GetFirst(); run && n < kMaxRuns && at < total; run = m_pRuns->GetNext(), ++n) {
        if (run->llLength <= 0)
            continue;
        long long count = 0, first = 0;
        if (__builtin_mul_overflow(run->llLength, static_cast<long long>(m_u8SectorsPerCluster), &count))
            break;
        count = static_cast<long long>(std::min<unsigned long long>(static_cast<unsigned long long>(count), total - at));
        const bool readable = run->llStart >= 0 &&
                              !__builtin_mul_overflow(run->llStart, static_cast<long long>(m_u8SectorsPerCluster), &first) &&
                              !__builtin_add_overflow(first, m_s64PartitionStart, &first);
        for (long long done = 0; readable && done < count; done += kChunk) {
            const long long k = std::min(kChunk, count - done);
            if (first + done + k > deviceSectors)
                break;
            uint8_t* target = m_vecPages.data() + (at + static_cast<unsigned long long>(done)) * m_dwSectorSize;
            if (!m_pDevice->ReadSector(target, first + done, k))
                std::memset(target, 0, static_cast<size_t>(k) * m_dwSectorSize);
        }
        at += static_cast<unsigned long long>(count);
    }
    return true;
}

bool CFindFileFromLogFile::GetLogPageBuffer(unsigned long long page, uint8_t** out)
{
    if (!out || !LoadPages() || page >= m_vecPages.size() / kPageSize)
        return false;
    *out = m_vecPages.data() + page * kPageSize;
    return true;
}

void CFindFileFromLogFile::WalkRecords(const std::function<void(const uint8_t*, uint32_t, uint32_t)>& visit)
{
    const unsigned long long pages = m_vecPages.size() / kPageSize;
    if (pages <= kFirstWalkedPage)
        return;

    // The record a page began but did not finish, with the page offset where
    // it began.
    std::vector<uint8_t> carry;
    uint32_t carryStart = 0;
    {
        std::vector<uint8_t> last(m_vecPages.end() - kPageSize, m_vecPages.end());
        if (CRCRDRecord::IsValid(last.data(), kPageSize) && CRCRDRecord::Unfixup(last.data(), kPageSize) &&
            PageLastLSN(last.data()) != PageLastEndLSN(last.data())) {
            carry = FindCurrentPageLastLogRecord(last.data());
            carryStart = kPageSize - static_cast<uint32_t>(carry.size());
        }
    }

    std::vector<uint8_t> page(kPageSize);
    for (unsigned long long p = kFirstWalkedPage; p < pages; ++p) {
        std::memcpy(page.data(), m_vecPages.data() + p * kPageSize, kPageSize);
        if (!CRCRDRecord::IsValidRCRDRecordFirstSector(page.data(), kPageSize)) {
            carry.clear();
            continue;
        }
        if (CRCRDRecord::IsValid(page.data(), kPageSize))
            CRCRDRecord::Unfixup(page.data(), kPageSize);
        const uint64_t lastLSN = PageLastLSN(page.data());
        uint32_t offset = kFirstRecordOffset;

        if (!carry.empty()) {
            // The header may itself be split: it is completed first.
            if (carry.size() < kRecordHeader) {
                const size_t missing = kRecordHeader - carry.size();
                carry.insert(carry.end(), page.begin() + offset, page.begin() + offset + static_cast<long>(missing));
                offset += static_cast<uint32_t>(missing);
            }
            const size_t total = kRecordHeader + static_cast<size_t>(U32(carry.data() + 24));
            if (total > kMaxRecordBytes || total < carry.size()) {
                carry.clear();
                continue;
            }
            const size_t need = total - carry.size();
            if (offset + need > kPageSize) {
                // The record spans this whole page too.
                carry.insert(carry.end(), page.begin() + offset, page.end());
                continue;
            }
            carry.insert(carry.end(), page.begin() + offset, page.begin() + offset + static_cast<long>(need));
            visit(carry.data(), static_cast<uint32_t>(carry.size()), carryStart);
            offset += static_cast<uint32_t>(need);
            carry.clear();
        }

        while (offset + kRecordHeader <= kPageSize) {
            const uint8_t* record = page.data() + offset;
            const uint64_t lsn = U64(record);
            const unsigned long long length = kRecordHeader + static_cast<unsigned long long>(U32(record + 24));
            if (offset + length > kPageSize) {
                if (lsn == lastLSN) {
                    carry.assign(record, static_cast<const uint8_t*>(page.data()) + kPageSize);
                    carryStart = offset;
                }
                break;
            }
            visit(record, static_cast<uint32_t>(length), offset);
            if (lsn == lastLSN)
                break;
            offset += static_cast<uint32_t>(length);
        }
    }
}

void CFindFileFromLogFile::AnalyzerFileRecord()
{
    WalkRecords([this](const uint8_t* record, uint32_t length, uint32_t start) {
        const uint32_t clientLength = U32(record + 24);
        if (start > kLastImageStart || clientLength < kMinImageClientData || length < kImageOffset + 5 ||
            std::memcmp(record + kImageOffset, "FILE0", 5) != 0)
            return;
        uint8_t image[kSlotSize] = {};
        const uint32_t bytes = std::min<uint32_t>({clientLength - 40, kSlotSize, length - kImageOffset});
        std::memcpy(image, record + kImageOffset, bytes);
        CNTFSFileProperties* properties = nullptr;
        long long parent = -1;
        if (BuildFileProperties(image, kSlotSize, &properties, &parent))
            m_vecImages.push_back({properties, parent});
    });
}

void CFindFileFromLogFile::AnalyzerAllLogRecord()
{
    WalkRecords([this](const uint8_t* record, uint32_t length, uint32_t) {
        if (length >= kMaxStoredRecord || m_vecRecordStore.size() + length > m_vecRecordStore.capacity())
            return;
        RecordSegInfo info;
        std::memcpy(info.head, record, std::min<uint32_t>(length, sizeof(info.head)));
        info.offset = m_vecRecordStore.size();
        info.length = length;
        m_vecRecordStore.insert(m_vecRecordStore.end(), record, record + length);
        m_vecRecords.push_back(info);
    });
}

bool CFindFileFromLogFile::Analyzer()
{
    if (LoadPages()) {
        AnalyzerFileRecord();
        AnalyzerAllLogRecord();
    }
    std::vector<uint8_t>().swap(m_vecPages);
    m_bAnalyzed = 1;
    return true;
}

bool CFindFileFromLogFile::BuildFileProperties(const uint8_t* image, unsigned int size, CNTFSFileProperties** out,
                                               long long* parent)
{
    if (!image || !out || size < kSlotSize || CNTFSFileRecord::IsFolder(image) ||
        CNTFSFileRecord::IsExtendFileRecord(image))
        return false;
    CNTFSMultiFileRecord multi(image, size, 0, m_pDevice, nullptr);
    if (!multi.IsValid())
        return false;
    long long found = -1;
    CNTFSFileProperties* properties = CNTFSFilePropertiesBuilder::BuildFileProperties(
        0, multi, static_cast<unsigned int>(m_u8SectorsPerCluster) * m_dwSectorSize, &found);
    if (!properties)
        return false;
    if (properties->GetFileSize() == 0 || (properties->GetAttribute() & NTFS_FILE_DIRECTORY)) {
        CNTFSFileProperties::Destory(properties);
        return false;
    }
    *out = properties;
    if (parent)
        *parent = found;
    return true;
}

long long CFindFileFromLogFile::GetMFTNumberOfLogRecord(const uint8_t* head, unsigned int sectorsPerCluster,
                                                        unsigned int sectorSize)
{
    const unsigned long long vcn = U32(head + kTargetVCN);
    const unsigned int clusterIndex = U16(head + kClusterIndex);
    const unsigned int recordsPerCluster = sectorsPerCluster * sectorSize / kSlotSize;
    if (recordsPerCluster < 2)
        return static_cast<long long>(vcn);
    // The cluster index counts 512-byte units inside the cluster; a record
    // begins on every second one. Anything else names no record.
    if (clusterIndex % 2 != 0 || clusterIndex / 2 >= recordsPerCluster)
        return -1;
    return static_cast<long long>(vcn * recordsPerCluster + clusterIndex / 2);
}

void CFindFileFromLogFile::BuildFileDataAttributeBuffer(uint32_t number, uint32_t attributeOffset, uint8_t* record,
                                                        unsigned int size, uint32_t& end)
{
    const unsigned int minUndo = m_u8Compressed ? 24 : 10;
    std::vector<const RecordSegInfo*> applying;
    for (const RecordSegInfo& info : m_vecRecords) {
        if (U16(info.head + kAttributeOffset) != attributeOffset || U16(info.head + kOffsetInAttribute) == 0 ||
            U16(info.head + kUndoLength) <= minUndo)
            continue;
        if (GetMFTNumberOfLogRecord(info.head, m_u8SectorsPerCluster, m_dwSectorSize) != static_cast<long long>(number))
            continue;
        applying.push_back(&info);
    }
    std::stable_sort(applying.begin(), applying.end(), [](const RecordSegInfo* a, const RecordSegInfo* b) {
        const auto ka = std::make_pair(U16(a->head + kAttributeOffset), U16(a->head + kOffsetInAttribute));
        const auto kb = std::make_pair(U16(b->head + kAttributeOffset), U16(b->head + kOffsetInAttribute));
        return ka < kb;
    });
    bool applied = false;
    for (const RecordSegInfo* info : applying) {
        const unsigned long long from = kRecordHeader + static_cast<unsigned long long>(U16(info->head + kUndoOffset));
        const unsigned int length = U16(info->head + kUndoLength);
        const unsigned long long to = static_cast<unsigned long long>(attributeOffset) + U16(info->head + kOffsetInAttribute);
        // Undo data that is not inside its log record, or that would land
        // outside the record, is not used.
        if (from + length > info->length || to + length > size)
            continue;
        std::memcpy(record + to, m_vecRecordStore.data() + info->offset + from, length);
        end = static_cast<uint32_t>(to + length);
        applied = true;
    }
    if (applied)
        Put32(record + attributeOffset + 4, end - attributeOffset);
}

void CFindFileFromLogFile::RebuildFileRecord(uint8_t* record, unsigned int size)
{
    if (!record || size < kSlotSize || m_vecRecords.empty())
        return;
    const uint32_t number = U32(record + 44);
    uint32_t end = 0;
    for (unsigned int n = 0; n < kMaxDataAttributes; ++n) {
        const uint32_t offset = CNTFSFileRecord::GetAttributeOffset(record, NTFS_ATTR_DATA, n, kSlotSize);
        if (offset == 0xFFFFFFFFu || offset + 8 > kSlotSize)
            break;
        BuildFileDataAttributeBuffer(number, offset, record, kSlotSize, end);
    }
    if (end != 0 && end + 4 <= kSlotSize)
        Put32(record + end, 0xFFFFFFFFu);
}

bool CFindFileFromLogFile::ReplaceFileRecordInfo(const uint8_t* record, CNTFSFileProperties& properties,
                                                 long long parent, const ExtendFileRecordInfoList* extendList)
{
    if (!record)
        return false;

    // An image of the same file: the same name under the same folder first,
    // else the same name anywhere.
    const char* name = properties.GetFileName();
    const _FilePropertiesExt* image = nullptr;
    if (name) {
        for (const auto& candidate : m_vecImages) {
            const char* other = candidate.pProperties->GetFileName();
            if (!other || std::strcmp(other, name) != 0)
                continue;
            if (candidate.s64Parent == parent) {
                image = &candidate;
                break;
            }
            if (!image)
                image = &candidate;
        }
    }
    if (properties.GetAttribute() == NTFS_FILE_DIRECTORY || !(properties.GetState() & 1))
        return false;
    m_u8Compressed = (properties.GetAttribute() & NTFS_FILE_COMPRESSED) ? 1 : 0;

    // Slot 0 holds the record, the others its extension records; each is
    // rebuilt from the undo data and its first unnamed $DATA is looked for.
    std::vector<uint8_t> area(static_cast<size_t>(kMaxSlots) * kSlotSize, 0);
    const uint8_t* data = nullptr;
    unsigned int dataAvailable = 0;
    auto rebuildSlot = [&](unsigned int slot) {
        uint8_t* bytes = area.data() + static_cast<size_t>(slot) * kSlotSize;
        RebuildFileRecord(bytes, kSlotSize);
        for (unsigned int n = 0; n < kMaxDataAttributes && !data; ++n) {
            const uint32_t offset = CNTFSFileRecord::GetAttributeOffset(bytes, NTFS_ATTR_DATA, n, kSlotSize);
            if (offset == 0xFFFFFFFFu || offset >= kSlotSize)
                break;
            if (!CNTFSFileRecordAttribute::IsNamed(bytes + offset)) {
                data = bytes + offset;
                dataAvailable = kSlotSize - offset;
            }
        }
    };
    std::memcpy(area.data(), record, kSlotSize);
    if (CNTFSFileRecord::IsValidUpdateSequence(area.data(), kSlotSize))
        CNTFSFileRecord::UnfixupFileRecord(area.data(), kSlotSize);
    rebuildSlot(0);
    if (extendList && m_pDevice) {
        unsigned int slot = 1;
        const unsigned int sectors = std::max(1u, kSlotSize / m_dwSectorSize);
        std::vector<uint8_t> read(static_cast<size_t>(sectors) * m_dwSectorSize);
        for (const auto& entry : *extendList) {
            if (slot >= kMaxSlots)
                break;
            if (!entry || entry->m_s64StartSector < 0 || !m_pDevice->ReadSector(read.data(), entry->m_s64StartSector, sectors))
                continue;
            uint8_t* bytes = area.data() + static_cast<size_t>(slot) * kSlotSize;
            std::memcpy(bytes, read.data(), kSlotSize);
            if (CNTFSFileRecord::IsValidUpdateSequence(bytes, kSlotSize))
                CNTFSFileRecord::UnfixupFileRecord(bytes, kSlotSize);
            rebuildSlot(slot++);
        }
    }

    // Extents of the first unnamed $DATA when it (now) maps clusters.
    std::unique_ptr<CNoneResidentNTFSDataRunList, void (*)(CNoneResidentNTFSDataRunList*)> extents{
        nullptr, [](CNoneResidentNTFSDataRunList* l) { l->Release(); }};
    long long clusters = 0;
    if (data && CNTFSFileRecordAttribute::GetLength(data) < kSlotSize &&
        CNTFSFileRecordAttribute::IsValidNonResidentAttribute(data, dataAvailable)) {
        CNTFSDataRunList runs;
        if (CNTFSFileRecordDataRunsAttribute::GetDataRunList(data, runs) && !runs.IsEmpty()) {
            runs.Sort();
            extents.reset(new CNoneResidentNTFSDataRunList());
            for (auto it = runs.GetBegin(); it != runs.GetEnd(); ++it) {
                DataRun run;
                run.llStart = (*it)->m_s64LCN;
                run.llLength = (*it)->m_s64Length;
                extents->AddDataRun(run);
                if (run.llLength > 0 && __builtin_add_overflow(clusters, run.llLength, &clusters))
                    clusters = -1;
            }
        }
    }

    if (!image) {
        long long size = 0;
        if (!extents || clusters < 0 ||
            __builtin_mul_overflow(clusters, static_cast<long long>(m_u8SectorsPerCluster) * m_dwSectorSize, &size))
            return true;
        properties.SetFileSize(size);
        properties.SetDataRunList(extents.get());
        return true;
    }
    if (extents) {
        properties.SetDataRunList(extents.get());
    } else {
        IDataRunList* own = image->pProperties->GetDataRunList();
        if (own) {
            properties.SetDataRunList(own);
            own->Release();
        }
    }
    properties.SetFileSize(image->pProperties->GetFileSize());
    return true;
}
