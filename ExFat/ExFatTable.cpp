#include "ExFatTable.h"

#include <algorithm>
#include <cstring>

#include "ExFatStructs.h"
#include "IStorageDevice.h"

namespace {

bool IsUsableSectorSize(unsigned int size)
{
    return size >= 512 && size <= CFatTable::kChunkBytes && (size & (size - 1)) == 0;
}

}  // namespace

bool CFatTable::CreateFatTable(IStorageDevice* device, long long fatStart, unsigned int fatSectors,
                               unsigned int /*clusterCount*/)
{
    ClearFatData();
    if (!device || fatSectors == 0 || fatStart < 0)
        return false;
    const long long total = device->GetTotalSectors();
    if (fatStart >= total || static_cast<long long>(fatSectors) >= total - fatStart)
        return false;
    const unsigned int sectorSize = device->GetSectorSize();
    if (!IsUsableSectorSize(sectorSize))
        return false;

    m_pDevice = device;
    m_s64FatStart = fatStart;
    m_dwFatSectors = fatSectors;
    m_dwSectorSize = sectorSize;
    m_dwChunkSectors = kChunkBytes / sectorSize;

    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kChunkBytes);
    if (!ReadChunk(buffer.get(), fatStart, std::min(fatSectors, m_dwChunkSectors)))
        return false;
    m_mapChunks.emplace(fatStart, std::move(buffer));
    return true;
}

unsigned long long CFatTable::GetFatEntryCount() const
{
    return static_cast<unsigned long long>(m_dwFatSectors) * m_dwSectorSize / 4;
}

unsigned int CFatTable::GetNextCluster(unsigned int cluster)
{
    if (m_mapChunks.empty() || cluster < 2 || cluster >= GetFatEntryCount())
        return kExFatNoCluster;

    // 64-bit arithmetic throughout: cluster x 4 passes 2^32 from cluster 2^30.
    const unsigned long long byteOffset = static_cast<unsigned long long>(cluster) * 4;
    const unsigned long long chunkIndex = byteOffset / kChunkBytes;
    const long long key = m_s64FatStart + static_cast<long long>(chunkIndex * m_dwChunkSectors);
    const size_t entryOffset = static_cast<size_t>(byteOffset - chunkIndex * kChunkBytes);

    auto held = m_mapChunks.find(key);
    if (held != m_mapChunks.end())
        return exfatle::Load32(held->second.get() + entryOffset);

    std::unique_ptr<uint8_t[]> buffer;
    if (m_mapChunks.size() >= kMaxChunks) {
        auto lowest = m_mapChunks.begin();
        buffer = std::move(lowest->second);
        m_mapChunks.erase(lowest);
    } else {
        buffer = std::make_unique_for_overwrite<uint8_t[]>(kChunkBytes);
    }
    // A whole chunk, even where it runs past the FAT's end (the entries
    // there are never asked for).
    if (!ReadChunk(buffer.get(), key, m_dwChunkSectors))
        return kExFatNoCluster;
    const unsigned int entry = exfatle::Load32(buffer.get() + entryOffset);
    m_mapChunks.emplace(key, std::move(buffer));
    return entry;
}

bool CFatTable::ReadChunk(uint8_t* buffer, long long key, long long count)
{
    const long long total = m_pDevice->GetTotalSectors();
    count = std::min(count, total - key);
    if (count <= 0)
        return false;
    const size_t bytes = static_cast<size_t>(count) * m_dwSectorSize;
    if (bytes < kChunkBytes)
        std::memset(buffer + bytes, 0, kChunkBytes - bytes);
    return m_pDevice->ReadSector(buffer, key, count) != 0;
}

void CFatTable::ClearFatData()
{
    m_mapChunks.clear();
    m_s64FatStart = 0;
    m_dwFatSectors = 0;
    m_dwChunkSectors = 0;
    m_dwSectorSize = 0;
}

std::vector<long long> CFatTable::GetHeldChunks() const
{
    std::vector<long long> keys;
    for (const auto& chunk : m_mapChunks)
        keys.push_back(chunk.first);
    return keys;
}
