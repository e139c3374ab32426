// Steps of the partition-table analysis shared between its source files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

#include "DeviceInfo.h"
#include "PartitionTableAnalyze.h"

namespace PartitionTableDetail {

// On-disk numbers are read byte by byte: the buffers are plain bytes with no
// alignment, and the tables have a fixed byte order whatever the host's.
inline uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadLE64(const uint8_t* p)
{
    return static_cast<uint64_t>(LoadLE32(p)) | (static_cast<uint64_t>(LoadLE32(p + 4)) << 32);
}
inline uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// MBR layout: four 16-byte entries at 446, signature 55 AA at 510.
constexpr size_t kMbrEntriesOffset = 446;
constexpr size_t kMbrEntryCount = 4;
constexpr size_t kMbrTypeOffset = 4;
constexpr size_t kMbrSignatureOffset = 510;
constexpr size_t kBootRecordSize = 512;

// Sector sizes outside this range are not those of any real disk; refusing
// them also bounds every buffer the analysis allocates.
constexpr unsigned kMinSectorSize = 512;
constexpr unsigned kMaxSectorSize = 64 * 1024;

// Reads count sectors from first into buffer (resized and zeroed first).
// Answers 0 or the disk's own code for the failed read.
ResultCode ReadSectors(IStorageDevice* disk, std::vector<uint8_t>& buffer, long long first, long long count);

// True for a boot record that ends in 55 AA (buffer holds at least 512 bytes).
bool HasBootSignature(const std::vector<uint8_t>& sector);

// The number of sectors an entry keeps once cut at the disk's end. start must
// lie on the disk (start < total); count is what the table claims.
long long CutCountAtDiskEnd(uint64_t start, uint64_t count, long long total);

// Builds one entry of the output list.
PartitionEntry MakePartitionEntry(int index, long long start, long long count);

class CBaseGPTAnalyzer {
public:
    CBaseGPTAnalyzer(IStorageDevice* disk, std::list<PartitionEntry>& out) : m_pDisk(disk), m_out(out) {}
    ResultCode AnalyzeBaseGPT();
    // Parses size bytes of 128-byte entries (at most 128 of them).
    void AnalyzeBaseGPTInBuf(const uint8_t* buffer, size_t size);

private:
    void InsertPartitionInfoToOutList(int index, const uint8_t* entry);

    IStorageDevice* m_pDisk;
    std::list<PartitionEntry>& m_out;
};

class CPartitionTableChainAnalyzer {
public:
    CPartitionTableChainAnalyzer(IStorageDevice* disk, std::list<PartitionEntry>& out) : m_pDisk(disk), m_out(out) {}
    ResultCode AnalyzePartitionTableChain() { return AnalyzeMBR(); }
    ResultCode AnalyzeMBR();
    // Walks the chain of extended boot records that starts at ebrSector
    // inside the extended partition at extendedStart. lastIndex is the
    // index of the last logical partition listed so far.
    ResultCode AnalyzeEMBR(long long extendedStart, long long ebrSector, int& lastIndex);

private:
    ResultCode CheckBootRecord(const std::vector<uint8_t>& sector, ResultCode noSignature,
                               ResultCode badIndicator) const;
    bool IsListedStart(long long start) const;
    void InsertPartitionInfoToOutList(int index, long long start, const CPartitionTableEntry& entry);

    IStorageDevice* m_pDisk;
    std::list<PartitionEntry>& m_out;
};

class CAPMAnaly {
public:
    explicit CAPMAnaly(IStorageDevice* disk) : m_pDevice(disk) {}
    ResultCode AnalyzePartition(std::list<PartitionEntry>& out);

private:
    ResultCode GetSectorsPerBlock();
    ResultCode GetPartCount();
    ResultCode AnalyzePartitionTable(std::list<PartitionEntry>& out);

    IStorageDevice* m_pDevice;
    uint32_t m_dwSectorSize = 0;
    uint32_t m_dwSectorsPerBlock = 0;
    std::vector<uint8_t> m_sector;
    uint32_t m_dwEntryCount = 0;
};

}  // namespace PartitionTableDetail
