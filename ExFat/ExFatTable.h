// The exFAT FAT (32-bit entries), read in 1 MiB chunks of which at most nine
// stay in memory.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class IStorageDevice;

class CFatTable {
public:
    static constexpr unsigned int kChunkBytes = 1u << 20;
    static constexpr size_t kMaxChunks = 9;

    CFatTable() = default;
    virtual ~CFatTable() = default;
    CFatTable(const CFatTable&) = delete;
    CFatTable& operator=(const CFatTable&) = delete;

    // Binds the reader to the FAT of fatSectors sectors at fatStart and reads
    // its first chunk. False (and not valid) when the FAT does not lie inside
    // the device or that read fails. clusterCount is not used: every entry
    // the FAT's sectors hold can be asked for.
    bool CreateFatTable(IStorageDevice* device, long long fatStart, unsigned int fatSectors,
                        unsigned int clusterCount);
    // True while at least one chunk is held.
    bool IsValid() const { return !m_mapChunks.empty(); }
    // The FAT entry of cluster, or 0xFFFFFFFF when it cannot be had: no
    // chunk, a cluster below 2 or past the FAT's last entry (both answered
    // without a read), or a failed read.
    unsigned int GetNextCluster(unsigned int cluster);
    // Frees every chunk and forgets the FAT's place; the device stays.
    void ClearFatData();

    // Entries the FAT's sectors hold: FatLength x bytes per sector / 4.
    unsigned long long GetFatEntryCount() const;
    // First sectors of the chunks held, ascending.
    std::vector<long long> GetHeldChunks() const;

protected:
    IStorageDevice* m_pDevice = nullptr;
    long long m_s64FatStart = 0;
    unsigned int m_dwFatSectors = 0;
    unsigned int m_dwChunkSectors = 0;
    unsigned int m_dwSectorSize = 0;
    std::map<long long, std::unique_ptr<uint8_t[]>> m_mapChunks;

private:
    // Reads the chunk at key into buffer: count sectors, cut at the device's
    // end; the rest of the buffer is zeroed.
    bool ReadChunk(uint8_t* buffer, long long key, long long count);
};
