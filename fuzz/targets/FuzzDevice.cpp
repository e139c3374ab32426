#include "FuzzDevice.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "DeviceInfo.h"

namespace {

uint32_t LoadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

CFuzzDisk::CFuzzDisk(long long totalSectors, std::map<long long, std::vector<uint8_t>> sectors)
    : m_llTotalSectors(totalSectors), m_mapSectors(std::move(sectors))
{
}

CFuzzDisk::CFuzzDisk(CFuzzDisk&& other) noexcept
    : m_llTotalSectors(other.m_llTotalSectors), m_mapSectors(std::move(other.m_mapSectors)), m_pData(other.m_pData)
{
    other.m_pData = nullptr;
}

CFuzzDisk::~CFuzzDisk()
{
    delete m_pData;
}

CFuzzDisk CFuzzDisk::FromSparse(const uint8_t* data, size_t size)
{
    if (size < 4)
        return CFuzzDisk(0, {});
    const long long total = std::min<long long>(LoadU32(data), kMaxFuzzSectors);
    std::map<long long, std::vector<uint8_t>> sectors;
    for (size_t at = 4; at + 4 < size;) {
        const long long sector = LoadU32(data + at);
        at += 4;
        const size_t take = std::min<size_t>(kFuzzSectorSize, size - at);
        if (sector < total && !sectors.count(sector)) {
            std::vector<uint8_t> bytes(kFuzzSectorSize, 0);
            std::memcpy(bytes.data(), data + at, take);
            sectors.emplace(sector, std::move(bytes));
        }
        at += take;
    }
    return CFuzzDisk(total, std::move(sectors));
}

CFuzzDisk CFuzzDisk::FromFlat(const uint8_t* data, size_t size)
{
    std::map<long long, std::vector<uint8_t>> sectors;
    long long sector = 0;
    for (size_t at = 0; at < size; at += kFuzzSectorSize, ++sector) {
        std::vector<uint8_t> bytes(kFuzzSectorSize, 0);
        std::memcpy(bytes.data(), data + at, std::min<size_t>(kFuzzSectorSize, size - at));
        sectors.emplace(sector, std::move(bytes));
    }
    return CFuzzDisk(sector, std::move(sectors));
}

int CFuzzDisk::ReadSector(void* buffer, long long first, long long count)
{
    if (!buffer || count < 1)
        return 0;
    if (first < 0 || first >= m_llTotalSectors || count > m_llTotalSectors - first)
        return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, static_cast<size_t>(count) * kFuzzSectorSize);
    for (auto it = m_mapSectors.lower_bound(first); it != m_mapSectors.end() && it->first < first + count; ++it)
        std::memcpy(out + (it->first - first) * kFuzzSectorSize, it->second.data(), kFuzzSectorSize);
    return 1;
}

void CFuzzDisk::SetPrivateData(IStorageDeviceData* data)
{
    if (data != m_pData)
        delete m_pData;
    m_pData = data;
}

std::vector<long long> CFuzzDisk::BlocksWithData(long long blockSectors) const
{
    std::vector<long long> blocks;
    for (const auto& entry : m_mapSectors) {
        const long long block = entry.first / blockSectors * blockSectors;
        if (blocks.empty() || blocks.back() != block)
            blocks.push_back(block);
    }
    return blocks;
}
