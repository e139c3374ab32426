// Reading the partition table of a whole disk: MBR with its chain of extended
// boot records, the GUID partition table and the Apple partition map.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "DeviceInfo.h"
#include "EngineTypes.h"
#include "IStorageDevice.h"
#include "ResultCode.h"

// The same values as the partition scheme of the disk record.
enum enumDiskPartitionScheme : int {
    DISK_PARTITION_SCHEME_NONE = PARTITION_SCHEME_NONE,
    DISK_PARTITION_SCHEME_MBR = PARTITION_SCHEME_MBR,
    DISK_PARTITION_SCHEME_GPT = PARTITION_SCHEME_GPT,
    DISK_PARTITION_SCHEME_APM = PARTITION_SCHEME_APM,
};

// One listed partition.
struct PartitionEntry {
    // GPT: position in the entry array from 1; MBR: 1-4 primary, 5 up for
    // logical partitions in chain order; APM: map block number from 1;
    // -1 for the whole-disk entry the enumerator adds.
    int32_t iIndex = 0;
    int64_t s64StartSector = 0;
    int64_t s64SectorCount = 0;
    _GUID typeGuid{};    // GPT only, bytes as stored on disk
    _GUID uniqueGuid{};  // GPT only
    char szTypeName[32] = {};  // APM only, always zero-terminated
};

// One 16-byte MBR or EBR entry as stored.
class CPartitionTableEntry {
public:
    static constexpr unsigned kSize = 16;

    // Copies the 16 bytes; a null buffer is a caller error.
    void InitFromBuffer(const void* buffer);
    // True when any of the 16 bytes is non-zero.
    static bool IsValidPartitionTableEntry(const void* buffer);

    uint8_t GetBootIndicator() const { return m_byBootIndicator; }
    uint8_t GetPartitionType() const { return m_byType; }
    uint32_t GetLeadSectors() const { return m_dwLeadSectors; }
    uint32_t GetTotalSectors() const { return m_dwTotalSectors; }
    // Last sector of the entry (start + count - 1).
    long long GetEndSector() const;
    // 0x05 and 0x0F, and 0x85, which Linux uses for the same container.
    bool IsExtenedPartition() const;

private:
    uint8_t m_byBootIndicator = 0;
    uint8_t m_byStartChs[3] = {};
    uint8_t m_byType = 0;
    uint8_t m_byEndChs[3] = {};
    uint32_t m_dwLeadSectors = 0;
    uint32_t m_dwTotalSectors = 0;
};

class IPartitionTableAnalyze {
public:
    virtual ~IPartitionTableAnalyze() = default;
    // Clears list and fills it with the disk's partitions in table order.
    // 0 with an empty list means the disk has no partition table.
    virtual ResultCode AnalyzePartitionTable(IStorageDevice* disk, std::list<PartitionEntry>& list) = 0;
};

// The caller deletes the reader.
IPartitionTableAnalyze* CreatePartitionTableAnalyze();

// Which table sector 0 of the disk holds, from sector 0 alone (no record
// needed). An MBR answer only means sector 0 ends in 55 AA.
ResultCode GetDiskType(IStorageDevice* disk, enumDiskPartitionScheme& type);

// The partition scheme for the disk record: GPT and APM as sector 0 says; MBR
// only when the analysis lists at least one entry, because a bare volume's
// boot sector also ends in 55 AA and such a disk has no table. Stores it in
// the disk record when the device has one, and returns it.
enumDiskPartitionScheme FillDiskPartitionScheme(IStorageDevice* disk);

// "c12a7328-f81f-11d2-ba4b-00a0c93ec93b": the usual lower-case text form.
std::string FormatPartitionGuid(const _GUID& guid);

// Result codes of the analysis. A failed sector read returns the disk's own
// last code instead.
namespace PartitionTableError {
// No device.
constexpr ResultCode kNoDisk = 0x110002000000005ULL;
constexpr ResultCode kNoDiskForType = 0x110002100000005ULL;
constexpr ResultCode kNoDiskForApm = 0x110002900000005ULL;
constexpr ResultCode kNoDiskForChain = 0x11000b800000005ULL;
// Refused.
constexpr ResultCode kNotWholeDisk = 0x110002700000003ULL;
constexpr ResultCode kDiskRecordNotFilled = 0x110003a00000003ULL;
constexpr ResultCode kDynamicGptDisk = 0x11000a400000003ULL;
constexpr ResultCode kDynamicMbrDisk = 0x110008600000003ULL;
constexpr ResultCode kApmSectorSize = 0x110002900000003ULL;
// No disk record.
constexpr ResultCode kNoDiskHolder = 0x110006400000007ULL;
constexpr ResultCode kEmptyDiskHolder = 0x110006c00000007ULL;
constexpr ResultCode kNoDiskRecord = 0x110003300000007ULL;
// Sector size the reader cannot work with.
constexpr ResultCode kSectorSize = 0x110018b00000008ULL;
// Damaged table.
constexpr ResultCode kMbrSignature = 0x110004f00000006ULL;
constexpr ResultCode kMbrBootIndicator = 0x110005400000006ULL;
constexpr ResultCode kEbrSignature = 0x11000b300000006ULL;
constexpr ResultCode kEbrBootIndicator = 0x11000b800000006ULL;
constexpr ResultCode kEbrTwoLinks = 0x11000e600000006ULL;
constexpr ResultCode kApmNoDriverMap = 0x110004300000006ULL;
constexpr ResultCode kApmNoPartitionMap = 0x110006200000006ULL;
constexpr ResultCode kApmTooManyEntries = 0x110006a00000006ULL;
// A device that failed a read without saying why.
constexpr ResultCode kReadFailed = 0x11001f000000001ULL;
}  // namespace PartitionTableError
