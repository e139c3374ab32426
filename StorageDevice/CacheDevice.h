// Read-ahead cache over a sector device for the deep scan.
//
// The scan thread selects the current block with SetCurCacheBlock and the
// searchers read through this device; a reader thread keeps up to ten of the
// following blocks queued so the disk stays busy while the searchers work.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "IBlockView.h"
#include "IStorageDevice.h"
#include "LargeBuffer.h"

// One block of the source as the cache read it, shared by whoever looks at
// it; its memory goes back to the cache when the last holder lets go.
struct CCachedBlock {
    long long s64First = 0;
    long long s64Count = 0;
    bool bRead = false;  // the source gave the block (else it is zeros)
    size_t nBytes = 0;
    LargeBuffer pData;
};

class CStorageDeviceWithCache : public IStorageDevice, public IBlockView {
public:
    // The source is not owned and must outlive the cache.
    explicit CStorageDeviceWithCache(IStorageDevice* source);
    ~CStorageDeviceWithCache() override;
    CStorageDeviceWithCache(const CStorageDeviceWithCache&) = delete;
    CStorageDeviceWithCache& operator=(const CStorageDeviceWithCache&) = delete;

    int Open(char* path) override;
    int Close() override;
    int ReadSector(void* buffer, long long first, long long count) override;
    // In the current block, when the source gave it.
    const uint8_t* ViewSectors(long long first, long long count) override;
    unsigned int GetSectorSize() override;
    long long GetTotalSectors() override;
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_pPrivateData; }
    // Kept, not owned.
    void SetPrivateData(IStorageDeviceData* data) override { m_pPrivateData = data; }
    int GetType() override { return STORAGE_DEVICE_CACHE; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

    // Sectors per block; forgets the current block (and stops a running
    // read-ahead, whose blocks have the old size).
    void SetBlockSize(unsigned int sectors);
    // Starts the reader thread on the first blocks of the source.
    void BeginCache();
    // Makes block b current: 1, or 0 without source, block size or buffer,
    // or when b is outside the source.
    int SetCurCacheBlock(long long block);
    // Stops the reader and frees the queued blocks.
    void EndCache();
    // Block b as a shared read-only block, for scans that look at several
    // blocks at once (null without source, block size or memory, or when b
    // is outside the source). Taken in ascending order, like
    // SetCurCacheBlock, and independent of the current block.
    std::shared_ptr<const CCachedBlock> TakeBlock(long long block);
    // Reads sectors of the source, serialised with the reader thread.
    int ReadSourceSectors(void* buffer, long long first, long long count) { return ReadFromSource(buffer, first, count); }
    // A read of [first, first + count) served from data (the sectors from
    // dataFirst on, dataCount of them) where it lies there, from the source
    // otherwise.
    int ReadThrough(const uint8_t* data, long long dataFirst, long long dataCount, void* buffer, long long first,
                    long long count);

    unsigned int GetBlockSize() const { return m_dwBlockSize; }
    long long GetCurCacheBlock() const { return m_s64CurBlock; }

private:
    struct QueuedBlock {
        long long s64First = 0;
        long long s64Count = 0;
        bool bRead = false;  // the source gave the block
        LargeBuffer pData;
    };

    // The buffers of blocks no longer used, shared with the blocks handed
    // out so that they come back after the cache let them go.
    struct BufferPool {
        std::mutex lock;
        size_t nBytes = 0;
        std::vector<LargeBuffer> vFree;
        LargeBuffer Take();
        void Give(LargeBuffer buffer, size_t bytes);
        void Reset(size_t bytes);
    };

    void ReaderMain();
    // Under m_lock: waits for block want from the reader and moves it out;
    // false when the reader will not deliver it.
    bool TakeQueuedLocked(std::unique_lock<std::mutex>& lock, long long want, QueuedBlock& out);
    // Every read of the source passes here: the reader thread and the scan
    // thread may both read it, and devices are not safe to share otherwise.
    int ReadFromSource(void* buffer, long long first, long long count);
    // False, with the block zero-filled, when the source failed the read.
    bool ReadBlockFromSource(uint8_t* buffer, long long first, long long count);
    LargeBuffer NewBlockBuffer() const;
    size_t BlockBytes() const { return static_cast<size_t>(m_dwBlockSize) * m_dwSectorSize; }

    IStorageDevice* m_pSource;
    IStorageDeviceData* m_pPrivateData = nullptr;
    LargeBuffer m_pCurBlock;
    unsigned int m_dwBlockSize = 1000;
    unsigned int m_dwSectorSize = 512;
    // The current block, touched by the scan thread only.
    long long m_s64CurBlock = -1;
    long long m_s64CurFirst = 0;
    long long m_s64CurCount = 0;
    bool m_bCurBlockRead = false;

    // Shared with the reader thread, guarded by m_lock.
    bool m_bRunning = false;
    bool m_bReaderActive = false;       // the reader still answers requests
    std::deque<QueuedBlock> m_queue;    // oldest first
    // Buffers of blocks already used, for the reader to fill again.
    std::shared_ptr<BufferPool> m_pPool = std::make_shared<BufferPool>();
    unsigned int m_dwQueueLimit = 10;
    int m_iReadRequests = 0;            // blocks the reader may still read
    long long m_s64NextSector = 0;      // first sector of the next block to read
    long long m_s64InFlightFirst = -1;  // first sector of the block being read
    long long m_s64SourceSectors = 0;   // the source's size when caching began
    std::mutex m_lock;
    std::condition_variable m_cvBlockReady;
    std::condition_variable m_cvReadMore;
    std::thread m_reader;

    std::mutex m_sourceLock;
};

// What one searcher of a parallel deep scan reads through: the block it is at
// (set by the scan), everything else from the cache's source.
class CCachedBlockDevice final : public IStorageDevice, public IBlockView {
public:
    // The cache is not owned and must outlive this device.
    explicit CCachedBlockDevice(CStorageDeviceWithCache* cache) : m_pCache(cache) {}

    // The block the searcher looks at now; null when it is at none.
    void SetBlock(std::shared_ptr<const CCachedBlock> block) { m_pBlock = std::move(block); }

    int Open(char*) override { return m_pCache ? 1 : 0; }
    int Close() override { return m_pCache ? 1 : 0; }
    int ReadSector(void* buffer, long long first, long long count) override;
    const uint8_t* ViewSectors(long long first, long long count) override;
    unsigned int GetSectorSize() override { return m_pCache ? m_pCache->GetSectorSize() : 512; }
    long long GetTotalSectors() override { return m_pCache ? m_pCache->GetTotalSectors() : 0; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return m_pCache ? m_pCache->GetPrivateData() : nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return STORAGE_DEVICE_CACHE; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

private:
    CStorageDeviceWithCache* m_pCache;
    std::shared_ptr<const CCachedBlock> m_pBlock;
};
