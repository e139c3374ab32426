#include "RawFileBuffer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "BufferStorageDevice.h"
#include "NotifyCenter.h"

namespace {

// One buffer for every window in the process (one search at a time), grown
// to the largest sector size in use. It remembers whose window it holds, so
// two live windows never read each other's bytes.
struct SharedWindow {
    std::vector<unsigned char> bytes;
    std::uint64_t owner = 0;  // serial of the RawFileBuffer, 0 for none
    long long window = -1;
    std::uint64_t nextSerial = 1;
};

SharedWindow& Shared()
{
    static SharedWindow shared;
    return shared;
}

// The device's real size: the scan-block ring reports only what it holds.
long long DeviceTotalSectors(IStorageDevice* device)
{
    if (auto* ring = dynamic_cast<CBufferStorageDevice*>(device))
        device = ring->GetFallbackDevice() ? ring->GetFallbackDevice() : device;
    return device->GetTotalSectors();
}

}  // namespace

RawFileBuffer::RawFileBuffer(IStorageDevice* device, unsigned long long startSector)
    : m_pDevice(device),
      m_u64StartSector(startSector),
      m_dwSectorSize(device ? device->GetSectorSize() : 512),
      m_u64Serial(Shared().nextSerial++)
{
    if (m_dwSectorSize == 0)
        m_dwSectorSize = 512;
    m_dwWindowBytes = device ? m_dwSectorSize * kWindowSectors : 65536;
}

RawFileBuffer::~RawFileBuffer()
{
    SharedWindow& shared = Shared();
    if (shared.owner == m_u64Serial)
        shared.owner = 0;
}

unsigned char* RawFileBuffer::GetRawFileBuffer(unsigned long long offset)
{
    if (!CNotifyCenter::Instance()->isContinue())
        return nullptr;
    if (!m_pDevice || m_dwSectorSize > kMaxSectorSize)
        return nullptr;
    SharedWindow& shared = Shared();
    const unsigned long long window = offset / m_dwWindowBytes;
    if (window > static_cast<unsigned long long>(INT64_MAX / kWindowSectors))
        return nullptr;
    if (shared.owner != m_u64Serial || shared.window != static_cast<long long>(window) ||
        m_llCurrentWindow != static_cast<long long>(window)) {
        const unsigned long long firstU = m_u64StartSector + window * kWindowSectors;
        if (firstU < m_u64StartSector || firstU > static_cast<unsigned long long>(INT64_MAX))
            return nullptr;
        const long long first = static_cast<long long>(firstU);
        long long count = kWindowSectors + 1;
        const long long total = DeviceTotalSectors(m_pDevice);
        if (total > 0) {
            if (first >= total)
                return nullptr;
            count = std::min(count, total - first);
        }
        const size_t need = static_cast<size_t>(kWindowSectors + 1) * m_dwSectorSize;
        if (shared.bytes.size() < need)
            shared.bytes.resize(need);
        std::memset(shared.bytes.data(), 0, need);
        shared.owner = 0;
        if (!m_pDevice->ReadSector(shared.bytes.data(), first, count))
            return nullptr;
        shared.owner = m_u64Serial;
        shared.window = static_cast<long long>(window);
        m_llCurrentWindow = static_cast<long long>(window);
    }
    return shared.bytes.data() + offset % m_dwWindowBytes;
}
