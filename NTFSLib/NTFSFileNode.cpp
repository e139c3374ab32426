#include "NTFSFileNode.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "CompressFileReader.h"
#include "IStorageDevice.h"
#include "ResultCode.h"
#include "NTFSBytes.h"

using namespace ntfsbytes;

// ---- properties ----

void CNTFSFileProperties::Init(CNTFSFilePropertiesStruct& v)
{
    m_strName = std::move(v.strName);
    m_bHasName = true;
    m_u16NameLength = v.u16NameLength;
    m_s64FileSize = v.s64FileSize;
    m_u16Attribute = v.u16Attribute;
    m_s64CreationTime = v.s64CreationTime;
    m_s64ModificationTime = v.s64ModificationTime;
    m_s64LastAccessTime = v.s64LastAccessTime;
    m_u8State = v.u8State;
    m_s64FileRecordStartSector = v.s64FileRecordStartSector;
    m_pDataRuns = std::move(v.pDataRuns);
}

void CNTFSFileProperties::SetFileName(const char* name)
{
    if (!name)
        return;
    m_strName = name;
    m_bHasName = true;
    m_u16NameLength = static_cast<uint16_t>(m_strName.size() + 1);
}

IDataRunList* CNTFSFileProperties::GetDataRunList()
{
    return m_pDataRuns ? m_pDataRuns->Decompress() : nullptr;
}

void CNTFSFileProperties::SetDataRunList(IDataRunList* list)
{
    if (!list)
        return;
    m_pDataRuns.reset(CCompressedDataRunList::Compress(list));
}

IFileProperties* CNTFSFileProperties::Clone()
{
    auto* copy = new (std::nothrow) CNTFSFileProperties();
    if (!copy)
        return nullptr;
    copy->m_strName = m_strName;
    copy->m_bHasName = m_bHasName;
    copy->m_u16NameLength = m_u16NameLength;
    copy->m_s64FileSize = m_s64FileSize;
    copy->m_u16Attribute = m_u16Attribute;
    copy->m_s64CreationTime = m_s64CreationTime;
    copy->m_s64ModificationTime = m_s64ModificationTime;
    copy->m_s64LastAccessTime = m_s64LastAccessTime;
    copy->m_u8State = m_u8State;
    copy->m_s64FileRecordStartSector = m_s64FileRecordStartSector;
    if (m_pDataRuns)
        copy->m_pDataRuns.reset(m_pDataRuns->Clone());
    if (m_pExtendList) {
        copy->m_pExtendList = std::make_unique<ExtendFileRecordInfoList>();
        for (const auto& info : *m_pExtendList)
            copy->m_pExtendList->push_back(std::make_unique<CAttributeListExtendFileRecordInfo>(*info));
    }
    return copy;
}

// ---- node ----

CNTFSFileNode::~CNTFSFileNode() { delete m_pProperties; }

const char* CNTFSFileNode::GetFileName() { return m_pProperties ? m_pProperties->GetFileName() : nullptr; }
long long CNTFSFileNode::GetFileSize() { return m_pProperties ? m_pProperties->GetFileSize() : 0; }
unsigned int CNTFSFileNode::GetAttribute() { return m_pProperties ? m_pProperties->GetAttribute() : 0; }
unsigned long long CNTFSFileNode::GetCreationTime() { return m_pProperties ? m_pProperties->GetCreationTime() : 0; }
unsigned long long CNTFSFileNode::GetModificationTime()
{
    return m_pProperties ? m_pProperties->GetModificationTime() : 0;
}
unsigned long long CNTFSFileNode::GetLastAccessTime() { return m_pProperties ? m_pProperties->GetLastAccessTime() : 0; }
int CNTFSFileNode::IsDeleted() { return m_pProperties && (m_pProperties->GetState() & 1) ? 1 : 0; }
int CNTFSFileNode::IsCompressed() const
{
    return m_pProperties && (m_pProperties->GetAttribute() & NTFS_FILE_COMPRESSED) ? 1 : 0;
}

void CNTFSFileNode::MarkDeleted()
{
    if (m_pProperties)
        m_pProperties->SetState(m_pProperties->GetState() | 1);
}

IFileReader* CNTFSFileNode::CreateCompressFileReader(void*) { return new (std::nothrow) CCompressFileReader(); }

void CNTFSFileNode::FilterFileNameByDot()
{
    const char* name = GetFileName();
    if (!name)
        return;
    const std::string filtered = CFileNode::FilterFileNameByDot(std::string(name));
    m_pProperties->SetFileName(filtered.c_str());
}

void CNTFSFileNode::SetFileName(const char* name)
{
    if (m_pProperties)
        m_pProperties->SetFileName(name);
}

void CNTFSFileNode::SetFileProperties(CNTFSFileProperties* properties)
{
    if (m_pProperties != properties)
        delete m_pProperties;
    m_pProperties = properties;
    m_llNodeID = 0;
    m_llParentNodeID = 5;
    if (!properties)
        return;
    SetMetaDataSector(properties->GetFileRecordStartSector());
    SetDataRunList(properties->GetDataRunList());
}

IFileNode* CNTFSFileNode::Clone()
{
    if (!m_pProperties)
        return nullptr;
    auto* properties = static_cast<CNTFSFileProperties*>(m_pProperties->Clone());
    if (!properties)
        return nullptr;
    auto* node = new CNTFSFileNode();
    node->SetFileProperties(properties);
    node->SetDataRunList(m_pDataRunList ? m_pDataRunList->Clone() : nullptr);
    return node;
}

// ---- builder ----

namespace {

constexpr long long kNoParent = -1;

}  // namespace

CNTFSFileProperties* CNTFSFilePropertiesBuilder::BuildFileProperties(long long recordStartSector,
                                                                     CNTFSMultiFileRecord& record,
                                                                     unsigned int clusterBytes, long long* parent)
{
    if (!record.IsValid())
        return nullptr;
    unsigned int avail0 = 0, avail1 = 0;
    const uint8_t* f0 = record.FindAttibute(NTFS_ATTR_FILE_NAME, 0, nullptr, nullptr, &avail0);
    const uint8_t* f1 = record.FindAttibute(NTFS_ATTR_FILE_NAME, 1, nullptr, nullptr, &avail1);
    // Attributes of extension records were not checked with their record's
    // walk: a name that does not fit is no name.
    if (f0 && !CNTFSFileRecordFileNameAttribute::IsValid(f0, avail0))
        f0 = nullptr;
    if (f1 && !CNTFSFileRecordFileNameAttribute::IsValid(f1, avail1))
        f1 = nullptr;
    const uint8_t* chosen = (f1 && CNTFSFileRecordFileNameAttribute::GetNameSpace(f1) == 1) ? f1 : f0;
    if (!chosen)
        return nullptr;

    const long long p1 = f1 ? static_cast<long long>(CNTFSFileRecordFileNameAttribute::GetParentFileRecordNumber(f1)) : kNoParent;
    const long long p0 = f0 ? static_cast<long long>(CNTFSFileRecordFileNameAttribute::GetParentFileRecordNumber(f0)) : kNoParent;
    long long parentNumber = static_cast<long long>(CNTFSFileRecordFileNameAttribute::GetParentFileRecordNumber(chosen));
    if (p1 > 4)
        parentNumber = p1;
    else if (p0 > 4)
        parentNumber = p0;
    if (parent && parentNumber != kNoParent)
        *parent = parentNumber;

    if (CNTFSFileRecordFileNameAttribute::GetNameLength(chosen) == 0)
        return nullptr;

    CNTFSFilePropertiesStruct values;
    if (CNTFSFileRecordFileNameAttribute::IsDirectory(chosen))
        values.u16Attribute |= NTFS_FILE_DIRECTORY;
    values.strName = NtfsUtf16ToUtf8(CNTFSFileRecordFileNameAttribute::GetName(chosen));
    values.u16NameLength = static_cast<uint16_t>(values.strName.size());
    const auto created = static_cast<long long>(CNTFSFileRecordFileNameAttribute::GetCreationTime(chosen));
    values.s64CreationTime = values.s64ModificationTime = values.s64LastAccessTime = created;
    values.s64FileSize = static_cast<long long>(CNTFSFileRecordFileNameAttribute::GetRealSize(chosen));

    unsigned int availSi = 0;
    const uint8_t* si = record.FindAttibute(NTFS_ATTR_STANDARD_INFORMATION, 0, nullptr, nullptr, &availSi);
    if (si && CNTFSFileRecordStandardInformationAttribute::IsValid(si, availSi)) {
        values.s64CreationTime = static_cast<long long>(CNTFSFileRecordStandardInformationAttribute::GetCreationTime(si));
        values.s64ModificationTime =
            static_cast<long long>(CNTFSFileRecordStandardInformationAttribute::GetModificationTime(si));
        values.s64LastAccessTime =
            static_cast<long long>(CNTFSFileRecordStandardInformationAttribute::GetLastAccessTime(si));
        values.u16Attribute |= static_cast<uint16_t>(CNTFSFileRecordStandardInformationAttribute::GetDosFilePermission(si) &
                                                     (NTFS_FILE_READONLY | NTFS_FILE_HIDDEN | NTFS_FILE_SYSTEM | NTFS_FILE_ARCHIVE));
    }

    values.s64FileRecordStartSector = recordStartSector;
    values.u8State = record.IsinUse() ? 0 : 1;

    CNTFSDataRunList runs;
    bool resident = false;
    for (unsigned int n = 0;; ++n) {
        unsigned int offset = 0, available = 0;
        long long sector = -1;
        const uint8_t* a = record.FindAttibute(NTFS_ATTR_DATA, n, &offset, &sector, &available);
        if (!a)
            break;
        if (CNTFSFileRecordAttribute::IsNamed(a))
            continue;
        if (CNTFSFileRecordAttribute::IsCompressed(a))
            values.u16Attribute |= NTFS_FILE_COMPRESSED;
        if (CNTFSFileRecordAttribute::IsEncrypted(a))
            values.u16Attribute |= NTFS_FILE_ENCRYPTED;
        if (CNTFSFileRecordAttribute::IsResident(a)) {
            CResidentNTFSDataRunList list;
            list.InitList(sector, 1, offset + CNTFSFileRecordAttribute::GetOffsetToAttribute(a));
            values.pDataRuns.reset(CCompressedDataRunList::Compress(&list));
            values.s64FileSize = CNTFSFileRecordAttribute::GetLengthOfAttribute(a);
            resident = true;
            break;
        }
        CNTFSFileRecordDataRunsAttribute::GetDataRunList(a, runs);
        if (CNTFSFileRecordDataRunsAttribute::GetStartVCN(a) == 0) {
            const auto real = static_cast<long long>(CNTFSFileRecordAttribute::GetRealSizeOfAttribute(a));
            if (values.s64FileSize <= 0 || real > values.s64FileSize)
                values.s64FileSize = real;
        }
    }

    if (!resident) {
        runs.Sort();
        long long clusters = 0;
        CNoneResidentNTFSDataRunList list;
        for (auto it = runs.GetBegin(); it != runs.GetEnd(); ++it) {
            const DataRun run{(*it)->m_s64LCN, (*it)->m_s64Length};
            list.AddDataRun(run);
            if ((*it)->m_s64Length > 0)
                clusters = clusters > (1LL << 52) ? clusters : clusters + (*it)->m_s64Length;
        }
        if (values.s64FileSize < 0)
            values.s64FileSize = 0;
        if (clusterBytes != 0 && clusterBytes % 512 == 0 && clusters > 0) {
            long long allocated;
            if (__builtin_mul_overflow(clusters, static_cast<long long>(clusterBytes), &allocated))
                allocated = INT64_MAX;
            if (values.s64FileSize > allocated || values.s64FileSize == 0)
                values.s64FileSize = allocated;
        }
        if (list.GetCount() > 0)
            values.pDataRuns.reset(CCompressedDataRunList::Compress(&list));
    }

    if ((values.u16Attribute & NTFS_FILE_COMPRESSED) && (values.u16Attribute & NTFS_FILE_ENCRYPTED))
        values.u16Attribute &= static_cast<uint16_t>(~NTFS_FILE_COMPRESSED);

    CNTFSFileProperties* properties = CNTFSFileProperties::Create();
    properties->Init(values);
    return properties;
}

void CNTFSFilePropertiesBuilder::AdjustFileSizeAccordinttoDataRunsWhenFileSizeLessThanZero(
    CNTFSFileProperties* properties, unsigned int sectorsPerCluster, unsigned int sectorSize)
{
    if (!properties || properties->GetFileSize() >= 0)
        return;
    IDataRunList* runs = properties->GetDataRunList();
    if (!runs)
        return;
    if (!runs->IsResident()) {
        long long clusters = 0;
        for (DataRun* r = runs->GetFirst(); r; r = runs->GetNext())
            if (r->llLength > 0)
                clusters += r->llLength;
        properties->SetFileSize(clusters * sectorsPerCluster * static_cast<long long>(sectorSize));
    }
    runs->Release();
}

// ---- resident data ----

namespace {

// The record at sector read from the device, as far as one record goes.
int ResidentFromSector(long long sector, IStorageDevice& device, const ExtendFileRecordInfoList* extend,
                       unsigned int* length, uint8_t* buffer, unsigned int bufferSize)
{
    const unsigned int sectorSize = device.GetSectorSize();
    if (sector < 0 || sectorSize < 512 || sectorSize % 512 != 0)
        return 0;
    // Enough sectors for the largest record (4 KiB).
    const unsigned int count = std::max(1u, 4096u / sectorSize);
    std::vector<uint8_t> bytes(static_cast<size_t>(count) * sectorSize, 0);
    if (!device.ReadSector(bytes.data(), sector, count))
        return 0;
    unsigned int recordSize = U32(bytes.data() + 28);
    if (recordSize < 1024 || recordSize > bytes.size() || recordSize % 512 != 0)
        recordSize = 1024;
    CNTFSMultiFileRecord record(bytes.data(), recordSize, sector, &device, extend);
    if (!record.IsValid())
        return 0;
    for (unsigned int n = 0;; ++n) {
        unsigned int available = 0;
        const uint8_t* a = record.FindAttibute(NTFS_ATTR_DATA, n, nullptr, nullptr, &available);
        if (!a)
            return 0;
        if (CNTFSFileRecordAttribute::IsNamed(a))
            continue;
        if (!CNTFSFileRecordAttribute::IsResident(a))
            return 0;
        const uint32_t valueLength = CNTFSFileRecordAttribute::GetLengthOfAttribute(a);
        if (valueLength > bufferSize)
            return 0;
        std::memcpy(buffer, a + CNTFSFileRecordAttribute::GetOffsetToAttribute(a), valueLength);
        *length = valueLength;
        return 1;
    }
}

}  // namespace

int GetResidentDataRunsStream(CNTFSFileNode& node, IStorageDevice& device, unsigned int* length, uint8_t* buffer,
                              unsigned int bufferSize)
{
    VANTREL_ASSERT(length && buffer);
    CNTFSFileProperties* properties = node.GetFileProperties();
    if (!properties || (properties->GetAttribute() & NTFS_FILE_DIRECTORY))
        return 0;
    return ResidentFromSector(properties->GetFileRecordStartSector(), device, properties->GetExtendFileRecordInfoList(),
                              length, buffer, bufferSize);
}

int GetResidentDataRunsStream(long long recordStartSector, IStorageDevice& device, unsigned int* length,
                              uint8_t* buffer, unsigned int bufferSize)
{
    VANTREL_ASSERT(length && buffer);
    return ResidentFromSector(recordStartSector, device, nullptr, length, buffer, bufferSize);
}
