#include "StorageDevice.h"

#include "PartitionTableAnalyze.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "MessageCenter.h"
#include "RawDevice.h"
#include "TextUtil.h"

namespace {

// Windows stacked deeper than this are taken for a loop.
constexpr int kMaxWindowDepth = 64;

// Sector sizes beyond this come from a damaged or foreign record.
constexpr long long kMaxSectorSize = 1LL << 20;

bool UsableSectorSize(long long sectorSize)
{
    return sectorSize > 0 && sectorSize <= kMaxSectorSize;
}

// Byte offset and length of a sector range; false when either does not fit
// in a signed 64-bit value (sector numbers may come from damaged disk data).
bool SectorRangeBytes(long long first, long long count, unsigned int sectorSize, long long& offset,
                      long long& length)
{
    const long long size = sectorSize;
    return first >= 0 && count > 0 && !__builtin_mul_overflow(first, size, &offset) &&
           !__builtin_mul_overflow(count, size, &length) && offset <= INT64_MAX - length;
}

// The typed record behind a holder; null for no holder, a holder of another
// kind or an empty holder.
template <class Holder, class Record>
Record* RecordIn(IStorageDeviceData* data, Record* (Holder::*get)())
{
    auto* holder = dynamic_cast<Holder*>(data);
    return holder ? (holder->*get)() : nullptr;
}

// As RecordIn for the record getters: clears code, or sets it to missing.
template <class Holder, class Record>
Record* RecordOf(IStorageDeviceData* data, Record* (Holder::*get)(), ResultCode& code, ResultCode missing)
{
    Record* record = RecordIn(data, get);
    code = record ? 0 : missing;
    return record;
}

}  // namespace

// ---- shared by every device ----

int CSectorDeviceBase::IOCtl(unsigned long long, void*)
{
    m_llLastError = m_ioctlCode;
    return 0;
}

void CSectorDeviceBase::ReplacePrivateData(IStorageDeviceData* data)
{
    if (m_pPrivateData.get() != data)
        m_pPrivateData.reset(data);
}

void CSectorDeviceBase::TakeGeometry(long long sectorSize, long long totalSectors)
{
    if (UsableSectorSize(sectorSize))
        m_uSectorSize = static_cast<unsigned int>(sectorSize);
    if (totalSectors >= 0)
        m_s64TotalSectors = totalSectors;
}

// ---- disk and volume devices ----

CRawNodeDevice::CRawNodeDevice(const char* path, const Codes& codes)
    : CSectorDeviceBase(codes.ioctl), m_strPath(path ? path : ""), m_codes(codes)
{
}

CRawNodeDevice::~CRawNodeDevice()
{
    Close();
}

int CRawNodeDevice::Open(char* path)
{
    m_llLastError = 0;
    if (path)
        m_strPath = path;
    Close();
    int fd = RawDeviceOpen(m_strPath.c_str());
    if (fd < 0) {
        int error = errno;
        m_llLastError = m_codes.open;
        // Linux refuses a device node the user may not read with EACCES
        // as well as EPERM; both mean the device exists but needs rights.
        if (RawDeviceIsPermissionError(error))
            m_iPermitted = 0;
        return 0;
    }
    m_iFd = fd;
    m_iPermitted = 1;
    RawDeviceGeometry geometry;
    if (RawDeviceGetGeometry(fd, geometry)) {
        m_uSectorSize = geometry.uSectorSize;
        m_s64TotalSectors = geometry.s64TotalSectors;
    } else {
        m_uSectorSize = 512;
        m_s64TotalSectors = 0;
    }
    return 1;
}

int CRawNodeDevice::Close()
{
    if (m_iFd < 0)
        return 0;
    RawDeviceClose(m_iFd);
    m_iFd = -1;
    return 1;
}

bool CRawNodeDevice::IsRegularFile() const
{
    struct stat st {};
    return m_iFd >= 0 && fstat(m_iFd, &st) == 0 && S_ISREG(st.st_mode);
}

template <class Read>
int CRawNodeDevice::ReadWith(const void* buffer, long long first, long long count, const Read& read)
{
    m_llLastError = 0;
    long long offset = 0, length = 0;
    if (!buffer || !AcceptRead(first) || !SectorRangeBytes(first, count, m_uSectorSize, offset, length)) {
        m_llLastError = m_codes.badArgument;
        return 0;
    }
    if (read(offset, length) <= 0) {
        OnReadFailed();
        m_llLastError = m_codes.readFailed;
        return 0;
    }
    return 1;
}

int CRawNodeDevice::ReadSector(void* buffer, long long first, long long count)
{
    return ReadWith(buffer, first, count,
                    [&](long long offset, long long length) { return ZRReadAsyncData(buffer, m_iFd, offset, length); });
}

int CRawNodeDevice::ReadSectorInto(LargeBuffer& buffer, long long first, long long count)
{
    return ReadWith(buffer.get(), first, count, [&](long long offset, long long length) {
        return ZRReadAsyncDataInto(buffer, m_iFd, offset, length);
    });
}

CDiskDevice::CDiskDevice(const char* path)
    : CRawNodeDevice(path, {kDiskOpenFailed, kDiskBadArgument, kDiskReadFailed, kDiskIOCtlUnsupported})
{
}

void CDiskDevice::SetPrivateData(IStorageDeviceData* data)
{
    ReplacePrivateData(data);
    if (CCollectDiskDeviceInfoStruct* info = RecordIn(data, &IDiskDeviceData::GetDiskInfo))
        TakeGeometry(info->s64SectorSize, info->s64TotalSectors);
}

CCollectDiskDeviceInfoStruct* CDiskDevice::GetDiskInfo()
{
    return RecordOf(m_pPrivateData.get(), &IDiskDeviceData::GetDiskInfo, m_llLastError, kDiskInfoMissing);
}

void CDiskDevice::SetVolumes(const std::vector<CCollectedVolumeDeviceInfoStruct>& volumes)
{
    m_vecVolumes = volumes;
}

CVolumeDevice::CVolumeDevice(const char* path)
    : CRawNodeDevice(path, {kVolumeOpenFailed, kVolumeBadArgument, kVolumeReadFailed, kVolumeIOCtlUnsupported}),
      m_pMessageCenter(&CMessageCenter::Instance())
{
}

CVolumeDevice::~CVolumeDevice()
{
    m_pMessageCenter->UnregisterNotifyCenter(EVENT_TYPE_READ_SECTOR_FAILED);
}

void CVolumeDevice::SetPrivateData(IStorageDeviceData* data)
{
    ReplacePrivateData(data);
    if (CCollectedVolumeDeviceInfoStruct* info = RecordIn(data, &IVolumeDeviceData::GetVolumeInfo))
        TakeGeometry(info->s64SectorSize, info->s64TotalSectors);
}

void CVolumeDevice::SetApfsDevicePath(char* path)
{
    CopyTextField(m_szApfsDevicePath, path);
}

CCollectedVolumeDeviceInfoStruct* CVolumeDevice::GetVolumeInfo()
{
    return RecordOf(m_pPrivateData.get(), &IVolumeDeviceData::GetVolumeInfo, m_llLastError, kVolumeInfoMissing);
}

bool CVolumeDevice::AcceptRead(long long first)
{
    return first < m_s64TotalSectors;
}

void CVolumeDevice::OnReadFailed()
{
    m_pMessageCenter->PushEvent(EVENT_TYPE_READ_SECTOR_FAILED, 0, nullptr);
}

// ---- windows on a parent device ----

CParentWindowDevice::CParentWindowDevice(IStorageDevice* parent, long long start, long long count,
                                         const Codes& codes)
    : CSectorDeviceBase(codes.ioctl), m_pParent(parent), m_s64StartSector(start), m_codes(codes)
{
    m_s64TotalSectors = count;
}

CCollectDiskDeviceInfoStruct* CParentWindowDevice::GetParentDiskInfo()
{
    IStorageDeviceData* data = m_pParent ? m_pParent->GetPrivateData() : nullptr;
    return RecordOf(data, &IDiskDeviceData::GetDiskInfo, m_llLastError, m_codes.parentDiskInfo);
}

int CParentWindowDevice::Open(char*)
{
    CCollectDiskDeviceInfoStruct* disk = GetParentDiskInfo();
    if (!disk)
        return 0;
    if (!UsableSectorSize(disk->s64SectorSize)) {
        m_llLastError = m_codes.parentDiskInfo;
        return 0;
    }
    m_uSectorSize = static_cast<unsigned int>(disk->s64SectorSize);
    return 1;
}

int CParentWindowDevice::ReadSector(void* buffer, long long first, long long count)
{
    m_llLastError = 0;
    if (!m_pParent) {
        m_llLastError = m_codes.noParent;
        return 0;
    }
    if (!buffer) {
        m_llLastError = m_codes.nullBuffer;
        return 0;
    }
    long long parentFirst = 0;
    if (first < 0 || first >= m_s64TotalSectors || __builtin_add_overflow(m_s64StartSector, first, &parentFirst)) {
        m_llLastError = m_codes.badFirst;
        return 0;
    }
    long long offset = 0, bytes = 0;
    if (count <= 0 || count > m_s64TotalSectors || !SectorRangeBytes(first, count, m_uSectorSize, offset, bytes)) {
        m_llLastError = m_codes.badCount;
        return 0;
    }
    // The parent fills whole sectors of its own size: a parent whose sector
    // size differs from the window's would write past the caller's buffer.
    if (m_pParent->GetSectorSize() != m_uSectorSize) {
        m_llLastError = m_codes.parentDiskInfo;
        return 0;
    }
    long long toRead = std::min(count, m_s64TotalSectors - first);
    if (!m_pParent->ReadSector(buffer, parentFirst, toRead)) {
        m_llLastError = m_pParent->GetLastError();
        return 0;
    }
    // Sectors past the window's end are zeros, never bytes of an earlier read.
    if (toRead < count) {
        auto* tail = static_cast<unsigned char*>(buffer) + toRead * static_cast<long long>(m_uSectorSize);
        std::memset(tail, 0, static_cast<size_t>((count - toRead) * static_cast<long long>(m_uSectorSize)));
    }
    return 1;
}

CPartitionDevice::CPartitionDevice(IStorageDevice* parent, long long start, long long count)
    : CParentWindowDevice(parent, start, count,
                          {kWindowNoParent, kWindowNullBuffer, kWindowBadFirst, kWindowBadCount,
                           kWindowIOCtlUnsupported, kWindowParentDiskInfoMissing})
{
}

void CPartitionDevice::SetPrivateData(IStorageDeviceData* data)
{
    ReplacePrivateData(data);
    if (CCollectedPartitionDeviceInfoStruct* info = RecordIn(data, &IPartitionDeviceData::GetPartitionInfo))
        TakeGeometry(info->s64SectorSize, info->s64TotalSectors);
}

CCollectedPartitionDeviceInfoStruct* CPartitionDevice::GetPartitionInfo()
{
    return RecordOf(m_pPrivateData.get(), &IPartitionDeviceData::GetPartitionInfo, m_llLastError,
                    kWindowPartitionInfoMissing);
}

CPartitionVirtualVolumeDevice::CPartitionVirtualVolumeDevice(IStorageDevice* parent, long long start,
                                                             long long count, unsigned int sectorSize)
    : CParentWindowDevice(parent, start, count,
                          {kVirtualNoParent, kVirtualNullBuffer, kVirtualBadFirst, kVirtualBadCount,
                           kVirtualIOCtlUnsupported, kVirtualParentDiskInfoMissing})
{
    if (UsableSectorSize(sectorSize))
        m_uSectorSize = sectorSize;
}

void CPartitionVirtualVolumeDevice::SetPrivateData(IStorageDeviceData* data)
{
    ReplacePrivateData(data);
    if (CCollectedVolumeDeviceInfoStruct* info = RecordIn(data, &IVolumeDeviceData::GetVolumeInfo))
        TakeGeometry(std::max<long long>(m_uSectorSize, info->s64SectorSize), info->s64TotalSectors);
}

CCollectedVolumeDeviceInfoStruct* CPartitionVirtualVolumeDevice::GetVolumeInfo()
{
    return RecordOf(m_pPrivateData.get(), &IVolumeDeviceData::GetVolumeInfo, m_llLastError,
                    kVirtualVolumeInfoMissing);
}

// ---- factories ----

IStorageDevice* CreateDiskDevice(char const* path)
{
    return new CDiskDevice(path);
}

IStorageDevice* CreateVolumeDevice(char const* path)
{
    return new CVolumeDevice(path);
}

IStorageDevice* CreatePartitionDevice(IStorageDevice* parent, long long start, long long count)
{
    return new CPartitionDevice(parent, start, count);
}

IStorageDevice* CreatePartitionVirtualVolumeDevice(IStorageDevice* partition)
{
    CCollectedPartitionDeviceInfoStruct* info =
        partition ? RecordIn(partition->GetPrivateData(), &IPartitionDeviceData::GetPartitionInfo) : nullptr;
    if (!info || info->iState != 0 || !info->pParentDisk)
        return nullptr;
    IStorageDevice* disk = info->pParentDisk;
    return new CPartitionVirtualVolumeDevice(disk, info->s64StartSector, info->s64TotalSectors,
                                             disk->GetSectorSize());
}

IStorageDevice* CreateImageDiskDevice(const char* path, unsigned int sectorSize)
{
    if (sectorSize != 0 && !UsableSectorSize(sectorSize)) {
        std::printf("CreateImageDiskDevice: unusable sector size %u\n", sectorSize);
        return nullptr;
    }
    auto device = std::make_unique<CDiskDevice>(path);
    if (!device->Open(nullptr)) {
        std::printf("CreateImageDiskDevice: %s: %s\n", path ? path : "",
                    FormatResultCode(device->GetLastError()).c_str());
        return nullptr;
    }
    RawDeviceGeometry geometry;
    RawDeviceGetGeometry(device->m_iFd, geometry);
    const unsigned int size = sectorSize != 0 ? sectorSize : geometry.uSectorSize;

    auto* info = new CCollectDiskDeviceInfoStruct;
    info->iState = 0;
    info->iBusType = BUS_TYPE_VIRTUAL;
    info->iPartitionScheme = PARTITION_SCHEME_NONE;
    const std::string name = std::filesystem::path(path).filename().string();
    CopyTextField(info->szRegistryName, name.c_str());
    CopyTextField(info->szBsdName, name.c_str());
    info->s64SectorSize = size;
    info->s64TotalSectors = geometry.s64Bytes / size;
    info->s64Cylinders = info->s64TotalSectors / 16065;
    info->s64Heads = 255;
    info->s64SectorsPerTrack = 63;
    info->u64DeviceId = geometry.bBlockDevice ? geometry.u64DeviceId : 0;
    device->SetPrivateData(CreateDiskDeviceData(info));
    // The record's scheme comes from the partition table, as for an
    // enumerated disk.
    FillDiskPartitionScheme(device.get());
    return device.release();
}

bool ReadsRegularFileOnly(IStorageDevice* device)
{
    for (int depth = 0; device && depth < kMaxWindowDepth; ++depth) {
        if (auto* window = dynamic_cast<CParentWindowDevice*>(device)) {
            device = window->GetParent();
            continue;
        }
        auto* node = dynamic_cast<CRawNodeDevice*>(device);
        return node && node->IsRegularFile();
    }
    return false;
}
