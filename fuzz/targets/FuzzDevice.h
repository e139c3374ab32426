// The in-memory disk every harness scans, and the sparse input format that
// fills it.
//
// A fuzz input describes a disk of 512-byte sectors without spelling out its
// zeros:
//
//   u32 total sectors (little-endian; at most kMaxFuzzSectors)
//   records: u32 sector number, then 512 bytes of that sector
//
// A short last record is zero-filled; a record beyond the disk's end, or one
// naming a sector already given, is ignored. Sectors no record gives read as
// zeros. A volume of a few MiB with its metadata in a few hundred sectors
// thus fits in a small input, and the fuzzer mutates only what matters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "IStorageDevice.h"

inline constexpr unsigned int kFuzzSectorSize = 512;
// 256 MiB: large enough for the volumes the fixtures make, small enough that
// a whole-device pass stays cheap.
inline constexpr long long kMaxFuzzSectors = 1LL << 19;

// A read-only disk over sectors held in memory. Reads of a range outside the
// disk fail and zero-fill the buffer, as a real device's would.
class CFuzzDisk : public IStorageDevice {
public:
    CFuzzDisk(long long totalSectors, std::map<long long, std::vector<uint8_t>> sectors);
    ~CFuzzDisk() override;

    // The disk an input describes.
    static CFuzzDisk FromSparse(const uint8_t* data, size_t size);
    // A disk whose sectors are the input's bytes, the last one zero-padded.
    static CFuzzDisk FromFlat(const uint8_t* data, size_t size);

    CFuzzDisk(CFuzzDisk&& other) noexcept;
    CFuzzDisk(const CFuzzDisk&) = delete;
    CFuzzDisk& operator=(const CFuzzDisk&) = delete;

    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long first, long long count) override;
    unsigned int GetSectorSize() override { return kFuzzSectorSize; }
    long long GetTotalSectors() override { return m_llTotalSectors; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_pData; }
    // Owned: deleted with the disk or when replaced.
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return STORAGE_DEVICE_DISK; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

    // First sectors of the blockSectors-long blocks that hold at least one
    // given sector, in order: the only blocks a deep pass needs to look at.
    std::vector<long long> BlocksWithData(long long blockSectors) const;

private:
    long long m_llTotalSectors;
    std::map<long long, std::vector<uint8_t>> m_mapSectors;
    IStorageDeviceData* m_pData = nullptr;
};
