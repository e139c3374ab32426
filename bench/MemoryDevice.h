// A disk of 512-byte sectors held in memory, for benchmarks that must not
// measure the file system.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "IStorageDevice.h"

class MemoryDevice : public IStorageDevice {
public:
    explicit MemoryDevice(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    ~MemoryDevice() override = default;
    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, long long first, long long count) override
    {
        if (first < 0 || count < 0 || static_cast<size_t>(first + count) * 512 > m_bytes.size())
            return 0;
        std::memcpy(buffer, m_bytes.data() + first * 512, static_cast<size_t>(count) * 512);
        return 1;
    }
    unsigned int GetSectorSize() override { return 512; }
    long long GetTotalSectors() override { return static_cast<long long>(m_bytes.size() / 512); }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return STORAGE_DEVICE_DISK; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

private:
    std::vector<uint8_t> m_bytes;
};
