#include "NTFSFileRecord.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <set>

#include "IStorageDevice.h"
#include "ResultCode.h"
#include "Log.h"
#include "NTFSBytes.h"
#include "NTFSUpdateSequence.h"
#include "Utf16Name.h"

using namespace ntfsbytes;

namespace {

// The attribute walk never goes past this offset, whatever the record size.
constexpr unsigned int kWalkLimit = 1016;
// Largest $ATTRIBUTE_LIST value read from clusters; real lists are a few KiB.
constexpr unsigned long long kMaxAttributeListBytes = 256 * 1024;
// Distinct extension records taken from one list. Each may be read once per
// base record; a damaged list naming thousands would make one record cost
// thousands of reads.
constexpr size_t kMaxExtensionRecords = 1024;

// Calls fn(offset) for each attribute on the walk until it returns false.
template <class Fn>
void WalkAttributes(const uint8_t* b, unsigned int size, Fn fn)
{
    if (!b || size < 24)
        return;
    unsigned long long off = U16(b + 20);
    while (off < kWalkLimit && off + 8 <= size) {
        const uint32_t type = U32(b + off);
        const uint32_t length = U32(b + off + 4);
        if (type == NTFS_ATTR_END || length == 0)
            return;
        if (!fn(static_cast<unsigned int>(off)))
            return;
        off += length;
    }
}

struct MetaName {
    uint32_t number;
    const wchar_t* name;
};
constexpr MetaName kMetaFiles[] = {
    {0, L"$MFT"},      {1, L"$MFTMirr"}, {2, L"$LogFile"}, {3, L"$Volume"}, {4, L"$AttrDef"},
    {5, L"."},         {6, L"$Bitmap"},  {7, L"$Boot"},    {8, L"$BadClus"}, {9, L"$Secure"},
    {10, L"$UpCase"},  {11, L"$Extend"}, {32, L"$Quota"},  {33, L"$ObjId"},  {34, L"$Reparse"},
};

bool HasHiddenSystemInformation(const uint8_t* record, unsigned int size = kNtfsRecordCheckSize)
{
    const uint32_t off = CNTFSFileRecord::GetAttributeOffset(record, NTFS_ATTR_STANDARD_INFORMATION, 0, size);
    if (off == 0xFFFFFFFFu)
        return false;
    const uint8_t* si = record + off;
    if (!CNTFSFileRecordStandardInformationAttribute::IsValid(si, size - off))
        return false;
    const uint32_t dos = CNTFSFileRecordStandardInformationAttribute::GetDosFilePermission(si);
    return (dos & 0x06) == 0x06;
}

// The first $FILE_NAME of a record when it passes the name check.
const uint8_t* FirstFileName(const uint8_t* record, unsigned int size)
{
    const uint32_t off = CNTFSFileRecord::GetAttributeOffset(record, NTFS_ATTR_FILE_NAME, 0, size);
    if (off == 0xFFFFFFFFu)
        return nullptr;
    const uint8_t* a = record + off;
    return CNTFSFileRecordFileNameAttribute::IsValid(a, size - off) ? a : nullptr;
}

}  // namespace

// ---- header and protection ----

bool CNTFSFileRecordHeader::IsValid(const uint8_t* b, unsigned int size)
{
    VANTREL_ASSERT(b && size % 512 == 0 && size > 0);
    if (std::memcmp(b, "FILE", 4) != 0)
        return false;
    const uint16_t count = U16(b + 6);
    const uint32_t allocated = U32(b + 28);
    const uint16_t usaOffset = U16(b + 4);
    if (count > 16)
        return false;
    if (allocated > 4096 || allocated % 1024 != 0)
        return false;
    if (static_cast<uint16_t>(count - 1) > allocated / 512)
        return false;
    return usaOffset >= 42 && usaOffset <= 256;
}

bool CNTFSFileRecord::IsValidUpdateSequence(const uint8_t* b, unsigned int size)
{
    return b && size >= 1024 && ntfsusa::IsValid(b, size);
}

int CNTFSFileRecord::UnfixupFileRecord(uint8_t* b, unsigned int size)
{
    if (!IsValidUpdateSequence(b, size))
        return 0;
    ntfsusa::Remove(b, size);
    return 1;
}

int CNTFSFileRecord::FixupFileRecord(uint8_t* b, unsigned int size)
{
    return b && size >= 1024 && ntfsusa::Apply(b, size) ? 1 : 0;
}

bool CNTFSFileRecord::CheckAttibutes(const uint8_t* b, unsigned int size)
{
    bool ok = true;
    WalkAttributes(b, size, [&](unsigned int off) {
        const uint8_t* a = b + off;
        if (!CNTFSFileRecordAttribute::IsValid(a, static_cast<long long>(size) - off)) {
            ok = false;
            return false;
        }
        if (CNTFSFileRecordAttribute::GetType(a) == NTFS_ATTR_FILE_NAME &&
            !CNTFSFileRecordFileNameAttribute::IsValid(a, static_cast<long long>(size) - off)) {
            ok = false;
            return false;
        }
        return true;
    });
    return ok;
}

bool CNTFSFileRecord::IsValid(const uint8_t* buffer, unsigned int size)
{
    if (!buffer || size < 1024 || size % 512 != 0)
        return false;
    if (!CNTFSFileRecordHeader::IsValid(buffer, size))
        return false;
    // The attributes are checked on an unprotected copy, so the caller's
    // buffer is never touched.
    std::vector<uint8_t> copy(buffer, buffer + size);
    UnfixupFileRecord(copy.data(), size);
    return CheckAttibutes(copy.data(), size);
}

CNTFSFileRecord::CNTFSFileRecord(uint8_t* buffer, unsigned int size, int copy)
{
    if (!IsValid(buffer, size))
        return;
    if (copy) {
        m_vecCopy.assign(buffer, buffer + size);
        m_pRecord = m_vecCopy.data();
        m_bOwned = true;
    } else {
        m_pRecord = buffer;
    }
    m_dwSize = size;
    m_bFixedUp = UnfixupFileRecord(m_pRecord, size) != 0;
}

CNTFSFileRecord::~CNTFSFileRecord()
{
    if (m_pRecord && m_bFixedUp && !m_bOwned)
        FixupFileRecord(m_pRecord, m_dwSize);
}

const uint8_t* CNTFSFileRecord::FindAttibute(const uint8_t* b, uint32_t type, unsigned int n, unsigned int size)
{
    const uint32_t off = GetAttributeOffset(b, type, n, size);
    return off == 0xFFFFFFFFu ? nullptr : b + off;
}

uint32_t CNTFSFileRecord::GetAttributeOffset(const uint8_t* b, uint32_t type, unsigned int n, unsigned int size)
{
    uint32_t found = 0xFFFFFFFFu;
    unsigned int seen = 0;
    WalkAttributes(b, size, [&](unsigned int off) {
        if (U32(b + off) != type)
            return true;
        // An attribute that does not fit its record is not handed out.
        if (!CNTFSFileRecordAttribute::IsValid(b + off, static_cast<long long>(size) - off))
            return true;
        if (seen++ == n) {
            found = off;
            return false;
        }
        return true;
    });
    return found;
}

unsigned int CNTFSFileRecord::GetAttibuteCountofSpecifiedType(const uint8_t* b, uint32_t type, unsigned int size)
{
    unsigned int count = 0;
    while (GetAttributeOffset(b, type, count, size) != 0xFFFFFFFFu)
        ++count;
    return count;
}

bool CNTFSFileRecord::HasAttributeList(const uint8_t* b, unsigned int size)
{
    return GetAttributeOffset(b, NTFS_ATTR_ATTRIBUTE_LIST, 0, size) != 0xFFFFFFFFu;
}

bool CNTFSFileRecord::IsFolder(const uint8_t* b) { return (U16(b + 22) & 2) != 0; }
bool CNTFSFileRecord::IsinUse(const uint8_t* b) { return (U16(b + 22) & 1) != 0; }
bool CNTFSFileRecord::IsExtendFileRecord(const uint8_t* b) { return U64(b + 32) != 0; }
unsigned long long CNTFSFileRecord::GetBaseFileRecordNumber(const uint8_t* b) { return U64(b + 32) & kMftNumberMask; }
unsigned long long CNTFSFileRecord::GetLogFileSequenceNumber(const uint8_t* b) { return U64(b + 8); }
bool CNTFSFileRecord::HasXPNumberOfthisMFTRecord(const uint8_t* b) { return U16(b + 4) >= 48 && U16(b + 42) == 0; }
uint32_t CNTFSFileRecord::GetXPNumberOfthisMFTRecord(const uint8_t* b) { return U32(b + 44); }
uint32_t CNTFSFileRecord::GetLength(const uint8_t* b) { return U32(b + 24); }
uint32_t CNTFSFileRecord::GetAllocatedSize(const uint8_t* b) { return U32(b + 28); }

// ---- attributes ----

uint32_t CNTFSFileRecordAttribute::GetType(const uint8_t* a) { return U32(a); }
uint32_t CNTFSFileRecordAttribute::GetLength(const uint8_t* a) { return U32(a + 4); }
uint16_t CNTFSFileRecordAttribute::GetOffsetToName(const uint8_t* a) { return U16(a + 10); }
uint16_t CNTFSFileRecordAttribute::GetFlags(const uint8_t* a) { return U16(a + 12); }
uint16_t CNTFSFileRecordAttribute::GetID(const uint8_t* a) { return U16(a + 14); }
uint16_t CNTFSFileRecordAttribute::GetOffsetToAttribute(const uint8_t* a) { return U16(a + 20); }
uint32_t CNTFSFileRecordAttribute::GetLengthOfAttribute(const uint8_t* a) { return U32(a + 16); }
unsigned long long CNTFSFileRecordAttribute::GetRealSizeOfAttribute(const uint8_t* a) { return U64(a + 48); }
unsigned long long CNTFSFileRecordAttribute::GetAllocSizeofAttribute(const uint8_t* a) { return U64(a + 40); }
unsigned long long CNTFSFileRecordAttribute::GetInitializedDataSize(const uint8_t* a) { return U64(a + 56); }
uint16_t CNTFSFileRecordAttribute::GetCompressionUnitSize(const uint8_t* a) { return U16(a + 34); }

bool CNTFSFileRecordAttribute::IsValidResidentAttribute(const uint8_t* a, long long available)
{
    const uint32_t length = GetLength(a);
    // The resident header ends at 24; a shorter attribute has no value fields.
    if (length < 24 || length > available)
        return false;
    return static_cast<unsigned long long>(GetOffsetToAttribute(a)) + GetLengthOfAttribute(a) <= length;
}

bool CNTFSFileRecordAttribute::IsValidNonResidentAttribute(const uint8_t* a, long long available)
{
    const uint32_t length = GetLength(a);
    // The non-resident header (sizes included) ends at 64.
    if (length < 64 || length > available)
        return false;
    const uint16_t pairs = U16(a + 32);
    if (pairs > length)
        return false;
    if (GetType(a) == NTFS_ATTR_DATA && !CNTFSDataRunList::IsValid(a + pairs, length - pairs))
        return false;
    return true;
}

bool CNTFSFileRecordAttribute::IsValid(const uint8_t* a, long long available)
{
    if (!a || available < 16)
        return false;
    if (GetLength(a) > available)
        return false;
    return IsResident(a) ? IsValidResidentAttribute(a, available) : IsValidNonResidentAttribute(a, available);
}

const uint8_t* CNTFSFileRecordDataRunsAttribute::GetDataRunsBuffer(const uint8_t* a) { return a + U16(a + 32); }
long long CNTFSFileRecordDataRunsAttribute::GetDataRunsLength(const uint8_t* a)
{
    return static_cast<long long>(GetLength(a)) - U16(a + 32);
}
long long CNTFSFileRecordDataRunsAttribute::GetStartVCN(const uint8_t* a) { return static_cast<long long>(U64(a + 16)); }
long long CNTFSFileRecordDataRunsAttribute::GetLastVCN(const uint8_t* a) { return static_cast<long long>(U64(a + 24)); }
unsigned int CNTFSFileRecordDataRunsAttribute::GetTotalClusters(const uint8_t* a)
{
    return CNTFSDataRunList::GetTotalClusters(GetDataRunsBuffer(a), GetDataRunsLength(a));
}
bool CNTFSFileRecordDataRunsAttribute::GetDataRunList(const uint8_t* a, CNTFSDataRunList& list)
{
    if (IsResident(a) || GetDataRunsLength(a) < 1)
        return false;
    return list.AddDataRunsfromBuffer(GetDataRunsBuffer(a), GetDataRunsLength(a), GetStartVCN(a));
}

namespace {

std::atomic<unsigned int> g_guessSectorSize{0};

}  // namespace

void SetNtfsGuessSectorSize(unsigned int sectorSize) { g_guessSectorSize = sectorSize; }

unsigned int GetNtfsGuessSectorSize()
{
    const unsigned int size = g_guessSectorSize;
    return size == 0 || size % 512 != 0 ? 512 : size;
}

unsigned int GuessSectorsPerCluster(unsigned long long bytes, unsigned long long clusters)
{
    if (bytes == 0 || clusters == 0)
        return 0;
    const unsigned long long sectorSize = GetNtfsGuessSectorSize();
    const unsigned long long perCluster = (bytes + clusters - 1) / clusters;
    const unsigned long long sectors = (perCluster + sectorSize - 1) / sectorSize;
    for (unsigned int guess = 1; guess <= 128; guess *= 2)
        if (sectors <= guess)
            return guess;
    return 0;
}

unsigned int CNTFSFileRecordDataRunsAttribute::GetSectorsPerCluster(const uint8_t* a, long long length)
{
    if (!CNTFSFileRecordAttribute::IsValid(a, length) || IsResident(a) || GetDataRunsLength(a) < 1)
        return 0;
    return GuessSectorsPerCluster(GetInitializedDataSize(a), GetTotalClusters(a));
}

// ---- $FILE_NAME, $STANDARD_INFORMATION, $INDEX_ROOT ----

unsigned long long CNTFSFileRecordFileNameAttribute::GetParentFileRecordNumber(const uint8_t* a)
{
    return U64(a + 24) & kMftNumberMask;
}
unsigned long long CNTFSFileRecordFileNameAttribute::GetCreationTime(const uint8_t* a) { return U64(a + 24 + 8); }
unsigned long long CNTFSFileRecordFileNameAttribute::GetModificationTime(const uint8_t* a) { return U64(a + 24 + 16); }
unsigned long long CNTFSFileRecordFileNameAttribute::GetLastAccessTime(const uint8_t* a) { return U64(a + 24 + 32); }
unsigned long long CNTFSFileRecordFileNameAttribute::GetRealSize(const uint8_t* a) { return U64(a + 24 + 48); }
uint32_t CNTFSFileRecordFileNameAttribute::GetFlags(const uint8_t* a) { return U32(a + 24 + 56); }

std::u16string CNTFSFileRecordFileNameAttribute::GetName(const uint8_t* a)
{
    std::u16string name(GetNameLength(a), u'\0');
    for (size_t i = 0; i < name.size(); ++i)
        name[i] = static_cast<char16_t>(U16(a + 24 + 66 + 2 * i));
    return name;
}

bool CNTFSFileRecordFileNameAttribute::IsValid(const uint8_t* a, long long length)
{
    if (!CNTFSFileRecordAttribute::IsValid(a, length) || CNTFSFileRecordAttribute::GetType(a) != NTFS_ATTR_FILE_NAME)
        return false;
    // The fields are read at fixed places from offset 24: they, and the name,
    // must lie inside the attribute.
    if (!CNTFSFileRecordAttribute::IsResident(a) ||
        24ULL + 66 + 2ULL * GetNameLength(a) > CNTFSFileRecordAttribute::GetLength(a))
        return false;
    const unsigned int count = GetNameLength(a);
    for (unsigned int i = 0; i < count; ++i) {
        const uint16_t c = U16(a + 24 + 66 + 2 * i);
        if (c == 0)
            break;
        if (c < 0x80 && std::strchr("\"*/:<>?\\|", static_cast<char>(c)))
            return false;
    }
    return true;
}

bool CNTFSFileRecordFileNameAttribute::IsFileNameEqual(const uint8_t* a, const wchar_t* name)
{
    const size_t length = std::wcslen(name);
    if (GetNameLength(a) != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (U16(a + 24 + 66 + 2 * i) != static_cast<uint16_t>(name[i]))
            return false;
    return true;
}

unsigned long long CNTFSFileRecordStandardInformationAttribute::GetCreationTime(const uint8_t* a) { return U64(a + 24); }
unsigned long long CNTFSFileRecordStandardInformationAttribute::GetModificationTime(const uint8_t* a)
{
    return U64(a + 24 + 8);
}
unsigned long long CNTFSFileRecordStandardInformationAttribute::GetLastAccessTime(const uint8_t* a)
{
    return U64(a + 24 + 24);
}
uint32_t CNTFSFileRecordStandardInformationAttribute::GetDosFilePermission(const uint8_t* a) { return U32(a + 24 + 32); }

bool CNTFSFileRecordStandardInformationAttribute::IsValid(const uint8_t* a, long long length)
{
    if (!a || length < 24)
        return false;
    const unsigned int attrLength = U32(a + 4) & 0xFFFF;
    // The value is read at offset 24 whatever the stored value offset says.
    return attrLength >= CNTFSFileRecordAttribute::GetOffsetToAttribute(a) + 40U && attrLength >= 24 + 40 &&
           attrLength <= length;
}

bool CNTFSFileRecordIndexRootAttribute::IsValid(const uint8_t* a, long long length)
{
    if (!CNTFSFileRecordAttribute::IsValid(a, length) || !CNTFSFileRecordAttribute::IsResident(a))
        return false;
    const uint32_t vlen = CNTFSFileRecordAttribute::GetLengthOfAttribute(a);
    if (vlen < 32)
        return false;
    const uint8_t* v = a + CNTFSFileRecordAttribute::GetOffsetToAttribute(a);
    return static_cast<unsigned long long>(U32(v + 20)) + 16 <= vlen;
}

long long CNTFSFileRecordIndexRootAttribute::GetMFTFileRecordNumberfrom0x90(const uint8_t* a, long long length)
{
    if (!IsValid(a, length))
        return -1;
    const uint8_t* v = a + CNTFSFileRecordAttribute::GetOffsetToAttribute(a);
    const unsigned long long vlen = CNTFSFileRecordAttribute::GetLengthOfAttribute(a);
    const unsigned long long inUse = U32(v + 20);
    const unsigned long long start = 16ULL + U32(v + 16);
    const unsigned long long end = std::min(start + (inUse >= 16 ? inUse - 16 : 0), vlen);
    long long parent = -1;
    for (unsigned long long p = start; p + 16 <= end;) {
        const uint16_t entryLength = U16(v + p + 8);
        const uint16_t flags = U16(v + p + 12);
        if (entryLength == 0 || (flags & 2))
            break;
        if (p + 16 + 66 > end)
            break;
        if (flags != 1) {
            if (v[p + 16 + 64] == 0 || U64(v + p + 16 + 48) > U64(v + p + 16 + 40))
                break;
        }
        const long long number = static_cast<long long>(U64(v + p + 16) & kMftNumberMask);
        if (parent == -1)
            parent = number;
        else if (parent != number)
            return -1;
        p += entryLength;
    }
    return parent;
}

// ---- system files ----

uint32_t CMetaFileRecordTypeAnalyzer::GetMetaFileRecordIndex(const uint8_t* record, unsigned int size)
{
    if (!CNTFSFileRecord::IsValid(record, size) || CNTFSFileRecord::IsExtendFileRecord(record))
        return 0xFFFFFFFFu;
    const uint8_t* name = FirstFileName(record, size);
    if (!name)
        return 0xFFFFFFFFu;
    for (const MetaName& meta : kMetaFiles)
        if (CNTFSFileRecordFileNameAttribute::IsFileNameEqual(name, meta.name))
            return meta.number;
    return 0xFFFFFFFFu;
}

bool CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(const uint8_t* record, unsigned int size)
{
    return GetMetaFileRecordIndex(record, size) != 0xFFFFFFFFu && HasHiddenSystemInformation(record, size);
}

bool CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(const uint8_t* record, const wchar_t* name, unsigned int size)
{
    if (!CNTFSFileRecord::IsValid(record, size) || !HasHiddenSystemInformation(record, size))
        return false;
    const uint8_t* fn = FirstFileName(record, size);
    return fn && CNTFSFileRecordFileNameAttribute::IsFileNameEqual(fn, name);
}

bool CIsMetaFileRecord::IsMetaFileRecord(const uint8_t* buffer, unsigned int size)
{
    if (!buffer || size < 1024)
        return false;
    // The record is viewed whole: a 4 KiB record may hold attributes that
    // reach past its first 1,024 bytes.
    return CMetaFileRecordTypeAnalyzer::IsValidMetaFileRecord(buffer, size - size % 512);
}

bool CFolderFileRecordAnalyzer::IsValidFolderFileRecordHavingIndexAllocation(const uint8_t* record)
{
    if (!CNTFSFileRecord::IsFolder(record))
        return false;
    const uint8_t* a = CNTFSFileRecord::FindAttibute(record, NTFS_ATTR_INDEX_ALLOCATION, 0);
    return a && !CNTFSFileRecordAttribute::IsResident(a);
}

unsigned int CNTFSFileRecordAnalyzer::GetSectorsPerClusterfrom0x80(const uint8_t* record, unsigned int size)
{
    unsigned long long bytes = 0, clusters = 0;
    for (unsigned int n = 0;; ++n) {
        const uint8_t* a = CNTFSFileRecord::FindAttibute(record, NTFS_ATTR_DATA, n, size);
        if (!a)
            break;
        if (CNTFSFileRecordAttribute::IsNamed(a) || CNTFSFileRecordAttribute::IsResident(a) ||
            CNTFSFileRecordDataRunsAttribute::GetDataRunsLength(a) < 1)
            continue;
        clusters += CNTFSFileRecordDataRunsAttribute::GetTotalClusters(a);
        if (CNTFSFileRecordDataRunsAttribute::GetStartVCN(a) == 0)
            bytes = CNTFSFileRecordAttribute::GetRealSizeOfAttribute(a);
    }
    return GuessSectorsPerCluster(bytes, clusters);
}

bool CNTFSFileRecordAnalyzer::AddDataRunListfromFileRecordBuffer(const uint8_t* record, CNTFSDataRunList& list,
                                                                 bool check, unsigned long long& realSize,
                                                                 unsigned int size)
{
    for (unsigned int n = 0;; ++n) {
        const uint8_t* a = CNTFSFileRecord::FindAttibute(record, NTFS_ATTR_DATA, n, size);
        if (!a)
            return true;
        if (CNTFSFileRecordAttribute::GetLength(a) < 1)
            return false;
        if (CNTFSFileRecordAttribute::IsNamed(a))
            continue;
        if (CNTFSFileRecordAttribute::IsResident(a))
            return false;
        const long long first = CNTFSFileRecordDataRunsAttribute::GetStartVCN(a);
        const long long last = CNTFSFileRecordDataRunsAttribute::GetLastVCN(a);
        if (check && !CNTFSFileRecordAttribute::IsCompressed(a) &&
            static_cast<long long>(CNTFSFileRecordDataRunsAttribute::GetTotalClusters(a)) != last + 1 - first)
            return false;
        if (!CNTFSFileRecordDataRunsAttribute::GetDataRunList(a, list))
            return false;
        if (first == 0)
            realSize = CNTFSFileRecordAttribute::GetRealSizeOfAttribute(a);
    }
}

// ---- extension records ----

std::unique_ptr<ExtendFileRecordInfoList> CNTFSMultiFileRecord::GetExtendFileRecordInfoList(
    uint8_t* record, unsigned int size, long long partitionStart, unsigned int sectorsPerCluster,
    IStorageDevice* device)
{
    CNTFSFileRecord view(record, size, 0);
    if (!view.IsValid())
        return nullptr;
    const uint32_t off = CNTFSFileRecord::GetAttributeOffset(record, NTFS_ATTR_ATTRIBUTE_LIST, 0, size);
    if (off == 0xFFFFFFFFu)
        return nullptr;
    const uint8_t* a = record + off;

    std::vector<uint8_t> value;
    if (CNTFSFileRecordAttribute::IsResident(a)) {
        const uint8_t* v = a + CNTFSFileRecordAttribute::GetOffsetToAttribute(a);
        value.assign(v, v + CNTFSFileRecordAttribute::GetLengthOfAttribute(a));
    } else {
        const unsigned long long allocated = CNTFSFileRecordAttribute::GetAllocSizeofAttribute(a);
        const unsigned long long initialized = CNTFSFileRecordAttribute::GetInitializedDataSize(a);
        if (!device || sectorsPerCluster == 0 || initialized < 1 || initialized > allocated ||
            allocated > kMaxAttributeListBytes)
            return nullptr;
        const long long pairsLength = CNTFSFileRecordDataRunsAttribute::GetDataRunsLength(a);
        CNTFSDataRunList runs;
        if (pairsLength < 1 || !runs.InitFromBuffer(CNTFSFileRecordDataRunsAttribute::GetDataRunsBuffer(a), pairsLength))
            return nullptr;
        const unsigned int sectorSize = device->GetSectorSize();
        if (sectorSize == 0)
            return nullptr;
        value.assign(static_cast<size_t>(allocated), 0);
        unsigned long long at = 0;
        for (auto it = runs.GetBegin(); it != runs.GetEnd(); ++it) {
            const CDataRun& run = **it;
            if (run.m_s64LCN < 0 || run.m_s64Length <= 0)
                break;
            const unsigned long long bytes =
                static_cast<unsigned long long>(run.m_s64Length) * sectorsPerCluster * sectorSize;
            if (bytes / sectorSize / sectorsPerCluster != static_cast<unsigned long long>(run.m_s64Length) ||
                at + bytes > value.size())
                break;
            device->ReadSector(value.data() + at, run.m_s64LCN * sectorsPerCluster + partitionStart,
                               run.m_s64Length * sectorsPerCluster);
            at += bytes;
        }
        value.resize(static_cast<size_t>(initialized));
    }

    auto list = std::make_unique<ExtendFileRecordInfoList>();
    std::set<long long> seen;
    for (size_t p = 0; p + 24 <= value.size() && list->size() < kMaxExtensionRecords;) {
        const uint32_t type = U32(value.data() + p);
        const uint16_t entryLength = U16(value.data() + p + 4);
        if (type == 0 || entryLength == 0)
            break;
        const long long number = static_cast<long long>(U64(value.data() + p + 16) & kMftNumberMask);
        if (seen.insert(number).second) {
            auto info = std::make_unique<CAttributeListExtendFileRecordInfo>();
            info->m_s64MFTNumber = number;
            list->push_back(std::move(info));
        }
        p += entryLength;
    }
    if (list->empty())
        return nullptr;
    return list;
}

long long CNTFSMultiFileRecord::GetFileRecordStartSectorfromMFTNumber(long long number, unsigned int sectorsPerCluster,
                                                                      long long partitionStart,
                                                                      const CNTFSDataRunList& mftRuns,
                                                                      unsigned int sectorsPerRecord)
{
    if (number < 0 || sectorsPerCluster == 0 || sectorsPerRecord == 0 || mftRuns.IsEmpty() ||
        number > static_cast<long long>(kMftNumberMask))
        return -1;
    const long long sectorIndex = number * sectorsPerRecord;
    const long long lcn = mftRuns.GetLCN(sectorIndex / sectorsPerCluster);
    if (lcn < 0)
        return -1;
    return lcn * sectorsPerCluster + partitionStart + sectorIndex % sectorsPerCluster;
}

std::unique_ptr<ExtendFileRecordInfoList> CNTFSMultiFileRecord::InitExtendFileRecord(
    uint8_t* record, unsigned int size, long long recordStartSector, unsigned int sectorsPerCluster,
    long long partitionStart, IStorageDevice* device, const CNTFSDataRunList& mftRuns, unsigned int sectorsPerRecord)
{
    auto list = GetExtendFileRecordInfoList(record, size, partitionStart, sectorsPerCluster, device);
    if (!list)
        return nullptr;
    for (auto& info : *list)
        info->m_s64StartSector = GetFileRecordStartSectorfromMFTNumber(info->m_s64MFTNumber, sectorsPerCluster,
                                                                        partitionStart, mftRuns, sectorsPerRecord);
    list->remove_if([&](const std::unique_ptr<CAttributeListExtendFileRecordInfo>& info) {
        return info->m_s64StartSector == -1 || info->m_s64StartSector == recordStartSector;
    });
    if (list->empty())
        return nullptr;
    return list;
}

uint8_t* CAttributeListExtendFileRecordBufferInfo::GetExtendFileRecordBuffer(unsigned int& size)
{
    if (!m_bRead) {
        m_bRead = true;
        if (m_pDevice && m_s64StartSector >= 0) {
            const unsigned int sectorSize = m_pDevice->GetSectorSize();
            if (sectorSize >= 512 && sectorSize % 512 == 0) {
                const unsigned int count = sectorSize == 512 ? 2 : 1;
                m_vecBuffer.assign(static_cast<size_t>(count) * sectorSize, 0);
                if (!m_pDevice->ReadSector(m_vecBuffer.data(), m_s64StartSector, count))
                    m_vecBuffer.clear();
                else if (CNTFSFileRecord::IsValid(m_vecBuffer.data(), static_cast<unsigned int>(m_vecBuffer.size())))
                    CNTFSFileRecord::UnfixupFileRecord(m_vecBuffer.data(), static_cast<unsigned int>(m_vecBuffer.size()));
            }
        }
    }
    size = static_cast<unsigned int>(m_vecBuffer.size());
    return m_vecBuffer.empty() ? nullptr : m_vecBuffer.data();
}

CNTFSMultiFileRecord::CNTFSMultiFileRecord(const uint8_t* record, unsigned int size, long long recordStartSector,
                                           IStorageDevice* device, const ExtendFileRecordInfoList* extendList)
    : m_s64StartSector(recordStartSector), m_pDevice(device)
{
    if (!CNTFSFileRecord::IsValid(record, size))
        return;
    m_vecBase.assign(record, record + size);
    CNTFSFileRecord::UnfixupFileRecord(m_vecBase.data(), size);
    m_bValid = true;
    if (extendList)
        for (const auto& info : *extendList)
            m_lstExtend.push_back(std::make_unique<CAttributeListExtendFileRecordBufferInfo>(
                device, info->m_s64StartSector, info->m_s64MFTNumber));
}

bool CNTFSMultiFileRecord::IsinUse() const { return m_bValid && CNTFSFileRecord::IsinUse(m_vecBase.data()); }

uint32_t CNTFSMultiFileRecord::GetMainFileRecordIndex() const
{
    return m_bValid ? CNTFSFileRecord::GetXPNumberOfthisMFTRecord(m_vecBase.data()) : 0;
}

const uint8_t* CNTFSMultiFileRecord::FindAttibute(uint32_t type, unsigned int n, unsigned int* offset,
                                                  long long* sector, unsigned int* available)
{
    VANTREL_ASSERT(m_bValid);
    const unsigned int baseSize = GetBaseSize();
    const unsigned int inBase = CNTFSFileRecord::GetAttibuteCountofSpecifiedType(m_vecBase.data(), type, baseSize);
    const uint8_t* record = nullptr;
    unsigned int recordSize = 0;
    long long recordSector = -1;
    unsigned int index = n;
    if (n < inBase) {
        record = m_vecBase.data();
        recordSize = baseSize;
        recordSector = m_s64StartSector;
    } else {
        unsigned int before = inBase;
        for (auto& info : m_lstExtend) {
            unsigned int size = 0;
            uint8_t* buffer = info->GetExtendFileRecordBuffer(size);
            if (!buffer || !CNTFSFileRecord::IsValid(buffer, size))
                continue;
            const unsigned int here = CNTFSFileRecord::GetAttibuteCountofSpecifiedType(buffer, type, size);
            if (before + here > n) {
                record = buffer;
                recordSize = size;
                recordSector = info->GetStartSector();
                index = n - before;
                break;
            }
            before += here;
        }
    }
    if (!record)
        return nullptr;
    const uint32_t off = CNTFSFileRecord::GetAttributeOffset(record, type, index, recordSize);
    if (off == 0xFFFFFFFFu)
        return nullptr;
    if (offset)
        *offset = off;
    if (sector)
        *sector = recordSector;
    if (available)
        *available = recordSize - off;
    return record + off;
}

// ---- label and helpers ----

std::string NtfsUtf16ToUtf8(const std::u16string& units)
{
    // One converter per thread: opening one per name is costly on an MFT of
    // a million records.
    thread_local CUtf16NameConverter converter;
    std::string out;
    if (!converter.Convert(units, out))
        out.clear();
    return out;
}

void CVolumeFileAnalyzer::GetLabel(const uint8_t* record, char* label, unsigned int recordSize)
{
    VANTREL_ASSERT(label && recordSize >= 1024);
    if (!record || !CNTFSFileRecord::IsValid(record, recordSize))
        return;
    std::vector<uint8_t> copy(record, record + recordSize);
    CNTFSFileRecord::UnfixupFileRecord(copy.data(), recordSize);
    if (!CMetaFileRecordTypeAnalyzer::IsValidVolumeFileRecord(copy.data()))
        return;
    const uint32_t off = CNTFSFileRecord::GetAttributeOffset(copy.data(), NTFS_ATTR_VOLUME_NAME, 0, recordSize);
    if (off == 0xFFFFFFFFu)
        return;
    const uint8_t* a = copy.data() + off;
    if (!CNTFSFileRecordAttribute::IsResident(a))
        return;
    const unsigned long long valueAt = off + CNTFSFileRecordAttribute::GetOffsetToAttribute(a);
    const unsigned long long valueLength = CNTFSFileRecordAttribute::GetLengthOfAttribute(a);
    if (valueAt + valueLength > 1024)
        return;
    std::u16string units(static_cast<size_t>(valueLength / 2), u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(U16(copy.data() + valueAt + 2 * i));
    const std::string text = NtfsUtf16ToUtf8(units);
    // Never more than 99 bytes and never half a character.
    size_t n = std::min<size_t>({text.size(), static_cast<size_t>(valueLength), 99});
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(label, text.data(), n);
    label[n] = '\0';
}

std::string CVolumeFileAnalyzer::ReadVolumeName(IStorageDevice* device, long long mftSector, unsigned int recordSize)
{
    constexpr long long kVolumeRecord = 3;
    if (!device || mftSector < 0)
        return {};
    const unsigned int sectorSize = device->GetSectorSize();
    if (sectorSize < 512 || sectorSize > 4096 || recordSize < 1024 || recordSize > 4096 ||
        recordSize % sectorSize != 0)
        return {};
    const long long perRecord = recordSize / sectorSize;
    const long long at = mftSector + kVolumeRecord * perRecord;
    if (at < mftSector || at + perRecord > device->GetTotalSectors())
        return {};
    std::vector<uint8_t> record(recordSize, 0);
    if (!device->ReadSector(record.data(), at, perRecord))
        return {};
    char label[100] = {};
    GetLabel(record.data(), label, recordSize);
    return label;
}

bool NTFSPublicFunction::IsClusterNOMatch(long long sector, long long cluster, long long partitionStart,
                                          unsigned int sectorsPerCluster)
{
    VANTREL_ASSERT(sectorsPerCluster == 1 || sectorsPerCluster % 2 == 0);
    const long long rel = sector - partitionStart;
    return rel >= 0 && rel % sectorsPerCluster == 0 && rel / sectorsPerCluster == cluster;
}
