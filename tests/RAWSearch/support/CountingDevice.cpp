#include "CountingDevice.h"

#include <cstring>

void CountingDevice::FailSectors(long long first, long long count)
{
    std::lock_guard<std::mutex> lock(m_failMutex);
    m_failed.emplace_back(first, first + count);
}

int CountingDevice::ReadSector(void* buffer, long long first, long long count)
{
    int result = CCountingDevice::ReadSector(buffer, first, count);
    bool fail = false;
    {
        std::lock_guard<std::mutex> lock(m_failMutex);
        for (const auto& [begin, end] : m_failed)
            fail = fail || (first < end && first + count > begin);
    }
    if (fail) {
        if (buffer && count > 0)
            std::memset(buffer, 0, static_cast<size_t>(count) * GetSectorSize());
        return 0;
    }
    return result;
}
