// Wraps a device, records every ReadSector call, and fails the reads that
// touch chosen sector ranges (zero-filling the buffer, as a damaged device
// does).
#pragma once

#include <mutex>
#include <vector>

#include "StampedMemoryDevice.h"

class CountingDevice : public CCountingDevice {
public:
    explicit CountingDevice(IStorageDevice* source) : CCountingDevice(source) {}

    // Reads touching [first, first + count) fail from now on.
    void FailSectors(long long first, long long count);
    int ReadSector(void* buffer, long long first, long long count) override;
    size_t ReadCount() const { return Reads().size(); }

private:
    mutable std::mutex m_failMutex;
    std::vector<std::pair<long long, long long>> m_failed;  // [first, end)
};
