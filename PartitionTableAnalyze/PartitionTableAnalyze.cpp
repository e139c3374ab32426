#include "PartitionTableAnalyze.h"

#include <algorithm>
#include <cstdio>

#include "PartitionTableInternal.h"

using namespace PartitionTableDetail;
namespace E = PartitionTableError;

namespace PartitionTableDetail {

ResultCode ReadSectors(IStorageDevice* disk, std::vector<uint8_t>& buffer, long long first, long long count)
{
    buffer.assign(static_cast<size_t>(count) * disk->GetSectorSize(), 0);
    if (disk->ReadSector(buffer.data(), first, count))
        return 0;
    // Never leave half-read bytes behind for a caller that ignores the code.
    std::fill(buffer.begin(), buffer.end(), 0);
    ResultCode rc = disk->GetLastError();
    return IsResultFailure(rc) ? rc : E::kReadFailed;
}

bool HasBootSignature(const std::vector<uint8_t>& sector)
{
    return sector.size() >= kBootRecordSize && sector[kMbrSignatureOffset] == 0x55 &&
           sector[kMbrSignatureOffset + 1] == 0xAA;
}

long long CutCountAtDiskEnd(uint64_t start, uint64_t count, long long total)
{
    const uint64_t room = static_cast<uint64_t>(total) - start;
    return static_cast<long long>(std::min(count, room));
}

PartitionEntry MakePartitionEntry(int index, long long start, long long count)
{
    PartitionEntry e;
    e.iIndex = index;
    e.s64StartSector = start;
    e.s64SectorCount = count;
    return e;
}

}  // namespace PartitionTableDetail

namespace {

bool IsGptDisk(const std::vector<uint8_t>& sector0)
{
    return HasBootSignature(sector0) && sector0[kMbrEntriesOffset + kMbrTypeOffset] == 0xEE;
}

bool IsApmDisk(const std::vector<uint8_t>& sector0) { return sector0[0] == 'E' && sector0[1] == 'R'; }

bool IsMbrDisk(const std::vector<uint8_t>& sector0) { return HasBootSignature(sector0); }

// Windows dynamic disks keep their volumes in a database our reader does not
// understand; the protective type 0x42 in any MBR slot marks them.
bool IsDynamicDisk(const std::vector<uint8_t>& sector0)
{
    for (size_t i = 0; i < kMbrEntryCount; ++i)
        if (sector0[kMbrEntriesOffset + i * CPartitionTableEntry::kSize + kMbrTypeOffset] == 0x42)
            return true;
    return false;
}

// Detection on sector 0, which stays in sector0 for the dynamic-disk test.
ResultCode ReadDiskType(IStorageDevice* disk, enumDiskPartitionScheme& type, std::vector<uint8_t>& sector0)
{
    type = DISK_PARTITION_SCHEME_NONE;
    if (!disk)
        return E::kNoDiskForType;
    const unsigned sectorSize = disk->GetSectorSize();
    if (sectorSize < kMinSectorSize || sectorSize > kMaxSectorSize)
        return E::kSectorSize;
    if (ResultCode rc = ReadSectors(disk, sector0, 0, 1))
        return rc;
    if (IsGptDisk(sector0))
        type = DISK_PARTITION_SCHEME_GPT;
    else if (IsApmDisk(sector0))
        type = DISK_PARTITION_SCHEME_APM;
    else if (IsMbrDisk(sector0))
        type = DISK_PARTITION_SCHEME_MBR;
    return 0;
}

ResultCode GetDiskInfo(IStorageDevice* disk, CCollectDiskDeviceInfoStruct*& info)
{
    info = nullptr;
    IStorageDeviceData* data = disk->GetPrivateData();
    if (!data)
        return E::kNoDiskRecord;
    auto* holder = dynamic_cast<IDiskDeviceData*>(data);
    if (!holder)
        return E::kNoDiskHolder;
    info = holder->GetDiskInfo();
    return info ? 0 : E::kEmptyDiskHolder;
}

class CPartitionTableAnalyze final : public IPartitionTableAnalyze {
public:
    ResultCode AnalyzePartitionTable(IStorageDevice* disk, std::list<PartitionEntry>& list) override
    {
        list.clear();
        if (!disk)
            return E::kNoDisk;
        if (disk->GetType() != STORAGE_DEVICE_DISK)
            return E::kNotWholeDisk;
        CCollectDiskDeviceInfoStruct* info = nullptr;
        if (ResultCode rc = GetDiskInfo(disk, info))
            return rc;
        if (info->iState != 0)
            return E::kDiskRecordNotFilled;

        enumDiskPartitionScheme type = DISK_PARTITION_SCHEME_NONE;
        std::vector<uint8_t> sector0;
        if (ResultCode rc = ReadDiskType(disk, type, sector0))
            return rc;
        switch (type) {
        case DISK_PARTITION_SCHEME_GPT:
            if (IsDynamicDisk(sector0))
                return E::kDynamicGptDisk;
            return AnalyzeGPTPartitionTable(disk, list);
        case DISK_PARTITION_SCHEME_MBR:
            if (IsDynamicDisk(sector0))
                return E::kDynamicMbrDisk;
            return AnalyzeMBRPartitionTable(disk, list);
        case DISK_PARTITION_SCHEME_APM:
            return AnalyzeAPMPartitionTable(disk, list);
        case DISK_PARTITION_SCHEME_NONE:
            break;
        }
        return 0;
    }

private:
    static ResultCode AnalyzeGPTPartitionTable(IStorageDevice* disk, std::list<PartitionEntry>& list)
    {
        return CBaseGPTAnalyzer(disk, list).AnalyzeBaseGPT();
    }
    static ResultCode AnalyzeMBRPartitionTable(IStorageDevice* disk, std::list<PartitionEntry>& list)
    {
        return CPartitionTableChainAnalyzer(disk, list).AnalyzePartitionTableChain();
    }
    static ResultCode AnalyzeAPMPartitionTable(IStorageDevice* disk, std::list<PartitionEntry>& list)
    {
        return CAPMAnaly(disk).AnalyzePartition(list);
    }
};

}  // namespace

IPartitionTableAnalyze* CreatePartitionTableAnalyze() { return new CPartitionTableAnalyze; }

ResultCode GetDiskType(IStorageDevice* disk, enumDiskPartitionScheme& type)
{
    std::vector<uint8_t> sector0;
    return ReadDiskType(disk, type, sector0);
}

enumDiskPartitionScheme FillDiskPartitionScheme(IStorageDevice* disk)
{
    enumDiskPartitionScheme type = DISK_PARTITION_SCHEME_NONE;
    if (IsResultFailure(GetDiskType(disk, type)))
        return DISK_PARTITION_SCHEME_NONE;
    if (type == DISK_PARTITION_SCHEME_MBR) {
        std::list<PartitionEntry> list;
        CPartitionTableAnalyze reader;
        if (IsResultFailure(reader.AnalyzePartitionTable(disk, list)) || list.empty())
            type = DISK_PARTITION_SCHEME_NONE;
    }
    CCollectDiskDeviceInfoStruct* info = nullptr;
    if (GetDiskInfo(disk, info) == 0)
        info->iPartitionScheme = type;
    return type;
}

std::string FormatPartitionGuid(const _GUID& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}
