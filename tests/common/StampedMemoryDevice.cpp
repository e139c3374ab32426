#include "StampedMemoryDevice.h"

#include <cstring>

#include "DeviceInfo.h"

CStampedMemoryDevice::CStampedMemoryDevice(long long totalSectors, unsigned int sectorSize, int type)
    : m_llTotalSectors(totalSectors), m_dwSectorSize(sectorSize), m_iType(type)
{
}

CStampedMemoryDevice::~CStampedMemoryDevice()
{
    delete m_pData;
}

void CStampedMemoryDevice::SetPrivateData(IStorageDeviceData* data)
{
    if (data != m_pData)
        delete m_pData;
    m_pData = data;
}

int CStampedMemoryDevice::ReadSector(void* buffer, long long first, long long count)
{
    if (!buffer || count < 1 || first < 0 || first >= m_llTotalSectors || count > m_llTotalSectors - first) {
        if (buffer && count > 0 && count < (1LL << 24))
            std::memset(buffer, 0, static_cast<size_t>(count) * m_dwSectorSize);
        return 0;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    for (long long s = 0; s < count; ++s) {
        const uint64_t stamp = static_cast<uint64_t>(first + s);
        unsigned char le[8];
        for (int b = 0; b < 8; ++b)
            le[b] = static_cast<unsigned char>(stamp >> (8 * b));
        unsigned char* sector = out + static_cast<size_t>(s) * m_dwSectorSize;
        for (unsigned int off = 0; off + 8 <= m_dwSectorSize; off += 8)
            std::memcpy(sector + off, le, 8);
    }
    return 1;
}

long long FirstBadStamp(const void* buffer, long long first, long long count, unsigned int sectorSize)
{
    const auto* in = static_cast<const unsigned char*>(buffer);
    for (long long s = 0; s < count; ++s) {
        const uint64_t stamp = static_cast<uint64_t>(first + s);
        const unsigned char* sector = in + static_cast<size_t>(s) * sectorSize;
        for (unsigned int off = 0; off + 8 <= sectorSize; off += 8) {
            uint64_t v = 0;
            for (int b = 7; b >= 0; --b)
                v = (v << 8) | sector[off + b];
            if (v != stamp)
                return first + s;
        }
    }
    return -1;
}

int CCountingDevice::ReadSector(void* buffer, long long first, long long count)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reads.push_back({std::this_thread::get_id(), first, count});
    }
    if (m_hook)
        m_hook(first, count);
    return m_pSource->ReadSector(buffer, first, count);
}

std::vector<CCountingDevice::Read> CCountingDevice::Reads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reads;
}

bool CCountingDevice::WasAsked(long long first) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Read& r : m_reads)
        if (r.first == first)
            return true;
    return false;
}
