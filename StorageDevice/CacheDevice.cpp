#include "CacheDevice.h"

#include <algorithm>
#include <cstring>
#include <new>

CStorageDeviceWithCache::CStorageDeviceWithCache(IStorageDevice* source) : m_pSource(source) {}

CStorageDeviceWithCache::~CStorageDeviceWithCache()
{
    EndCache();
}

int CStorageDeviceWithCache::Open(char*)
{
    return m_pSource ? 1 : 0;
}

int CStorageDeviceWithCache::Close()
{
    return m_pSource ? 1 : 0;
}

unsigned int CStorageDeviceWithCache::GetSectorSize()
{
    return m_pSource ? m_pSource->GetSectorSize() : 512;
}

long long CStorageDeviceWithCache::GetTotalSectors()
{
    return m_pSource ? m_pSource->GetTotalSectors() : 0;
}

LargeBuffer CStorageDeviceWithCache::BufferPool::Take()
{
    std::lock_guard<std::mutex> guard(lock);
    if (vFree.empty())
        return nullptr;
    LargeBuffer buffer = std::move(vFree.back());
    vFree.pop_back();
    return buffer;
}

void CStorageDeviceWithCache::BufferPool::Give(LargeBuffer buffer, size_t bytes)
{
    std::lock_guard<std::mutex> guard(lock);
    // A buffer of the size before a change of block size is not kept.
    if (buffer && bytes == nBytes)
        vFree.push_back(std::move(buffer));
}

void CStorageDeviceWithCache::BufferPool::Reset(size_t bytes)
{
    std::lock_guard<std::mutex> guard(lock);
    vFree.clear();
    nBytes = bytes;
}

LargeBuffer CStorageDeviceWithCache::NewBlockBuffer() const
{
    return AllocateLargeBuffer(BlockBytes());
}

int CStorageDeviceWithCache::ReadFromSource(void* buffer, long long first, long long count)
{
    std::lock_guard<std::mutex> lock(m_sourceLock);
    return m_pSource->ReadSector(buffer, first, count);
}

bool CStorageDeviceWithCache::ReadBlockFromSource(LargeBuffer& buffer, long long first, long long count)
{
    {
        std::lock_guard<std::mutex> lock(m_sourceLock);
        if (m_pSource->ReadSectorInto(buffer, first, count))
            return true;
    }
    // The source kept a buffer its read may still land in.
    if (!buffer)
        buffer = NewBlockBuffer();
    // Block buffers are reused: a failed read must not leave the bytes of an
    // earlier block behind.
    if (buffer)
        std::memset(buffer.get(), 0, static_cast<size_t>(count) * m_dwSectorSize);
    return false;
}

void CStorageDeviceWithCache::SetBlockSize(unsigned int sectors)
{
    EndCache();
    unsigned int sectorSize = m_pSource ? m_pSource->GetSectorSize() : 512;
    m_dwSectorSize = sectorSize ? sectorSize : 512;
    m_dwBlockSize = sectors;
    m_s64CurBlock = -1;
    m_pCurBlock.reset();
    m_pPool->Reset(BlockBytes());
    if (sectors == 0)
        return;
    m_pCurBlock = NewBlockBuffer();
    if (!m_pCurBlock)
        m_dwBlockSize = 0;  // too large to hold: the cache stays unused
}

void CStorageDeviceWithCache::BeginCache()
{
    EndCache();
    std::lock_guard<std::mutex> lock(m_lock);
    m_bRunning = true;
    m_s64NextSector = 0;
    m_s64InFlightFirst = -1;
    m_iReadRequests = 0;
    if (!m_pSource || m_dwBlockSize == 0 || !m_pCurBlock)
        return;
    m_s64SourceSectors = std::max(0LL, m_pSource->GetTotalSectors());
    const long long blocks = (m_s64SourceSectors + m_dwBlockSize - 1) / m_dwBlockSize;
    if (blocks == 0)
        return;
    // The first blocks are read by the reader as well, so BeginCache returns
    // at once and the scan thread never waits on more than the block it needs.
    m_iReadRequests = static_cast<int>(std::min<long long>(m_dwQueueLimit, blocks));
    m_bReaderActive = true;
    m_reader = std::thread(&CStorageDeviceWithCache::ReaderMain, this);
}

void CStorageDeviceWithCache::ReaderMain()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_cvReadMore.wait(lock, [this] { return m_iReadRequests > 0 || !m_bRunning; });
        if (!m_bRunning || m_s64NextSector >= m_s64SourceSectors)
            break;
        const long long first = m_s64NextSector;
        const long long count = std::min<long long>(m_dwBlockSize, m_s64SourceSectors - first);
        m_s64NextSector += count;
        --m_iReadRequests;
        m_s64InFlightFirst = first;
        LargeBuffer data = m_pPool->Take();

        // Read without the queue lock, so the scan thread can take queued
        // blocks while a slow read runs.
        lock.unlock();
        if (!data)
            data = NewBlockBuffer();
        const bool ok = data && ReadBlockFromSource(data, first, count);
        lock.lock();

        m_s64InFlightFirst = -1;
        if (!data || !m_bRunning)
            break;  // out of memory: the scan thread reads blocks itself
        m_queue.push_back(QueuedBlock{first, count, ok, std::move(data)});
        m_cvBlockReady.notify_all();
    }
    m_bReaderActive = false;
    m_cvBlockReady.notify_all();
}

bool CStorageDeviceWithCache::TakeQueuedLocked(std::unique_lock<std::mutex>& lock, long long want, QueuedBlock& out)
{
    for (;;) {
        // Blocks before the wanted one are never asked for again in an
        // ascending walk: drop them and let the reader replace them.
        while (!m_queue.empty() && m_queue.front().s64First < want) {
            m_pPool->Give(std::move(m_queue.front().pData), BlockBytes());
            m_queue.pop_front();
            ++m_iReadRequests;
            m_cvReadMore.notify_one();
        }
        if (!m_queue.empty()) {
            QueuedBlock& front = m_queue.front();
            if (front.s64First != want)
                return false;  // only later blocks are queued
            out = std::move(front);
            m_queue.pop_front();
            ++m_iReadRequests;
            m_cvReadMore.notify_one();
            return true;
        }
        // Nothing queued: wait only when the reader is about to deliver
        // exactly this block.
        long long pending = m_s64InFlightFirst;
        if (pending < 0 && m_iReadRequests > 0 && m_s64NextSector < m_s64SourceSectors)
            pending = m_s64NextSector;
        if (!m_bReaderActive || pending != want)
            return false;
        m_cvBlockReady.wait(lock, [this] { return !m_queue.empty() || !m_bReaderActive; });
    }
}

int CStorageDeviceWithCache::SetCurCacheBlock(long long block)
{
    if (!m_pSource || m_dwBlockSize == 0 || !m_pCurBlock || block < 0)
        return 0;
    const long long total = m_pSource->GetTotalSectors();
    const long long blocks = total > 0 ? (total + m_dwBlockSize - 1) / m_dwBlockSize : 0;
    if (block >= blocks)
        return 0;
    const long long want = block * m_dwBlockSize;
    const long long count = std::min<long long>(m_dwBlockSize, total - want);
    if (block == m_s64CurBlock)
        return 1;

    {
        std::unique_lock<std::mutex> lock(m_lock);
        QueuedBlock queued;
        if (TakeQueuedLocked(lock, want, queued)) {
            m_pPool->Give(std::move(m_pCurBlock), BlockBytes());
            m_pCurBlock = std::move(queued.pData);
            m_s64CurCount = std::min<long long>(queued.s64Count, m_dwBlockSize);
            m_bCurBlockRead = queued.bRead;
            m_s64CurBlock = block;
            m_s64CurFirst = want;
            return 1;
        }
    }

    // Not in the queue (the reader stopped, or the block was asked for out
    // of order): read it here.
    m_bCurBlockRead = ReadBlockFromSource(m_pCurBlock, want, count);
    if (!m_pCurBlock) {
        m_s64CurBlock = -1;  // no memory left for a block
        return 0;
    }
    m_s64CurBlock = block;
    m_s64CurFirst = want;
    m_s64CurCount = count;
    return 1;
}

std::shared_ptr<const CCachedBlock> CStorageDeviceWithCache::TakeBlock(long long block)
{
    if (!m_pSource || m_dwBlockSize == 0 || block < 0)
        return nullptr;
    const long long total = m_pSource->GetTotalSectors();
    const long long blocks = total > 0 ? (total + m_dwBlockSize - 1) / m_dwBlockSize : 0;
    if (block >= blocks)
        return nullptr;
    const long long want = block * m_dwBlockSize;
    const long long count = std::min<long long>(m_dwBlockSize, total - want);

    QueuedBlock queued;
    bool found = false;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        found = TakeQueuedLocked(lock, want, queued);
    }
    if (!found) {
        queued.pData = m_pPool->Take();
        if (!queued.pData)
            queued.pData = NewBlockBuffer();
        if (!queued.pData)
            return nullptr;
        queued.s64First = want;
        queued.s64Count = count;
        queued.bRead = ReadBlockFromSource(queued.pData, want, count);
        if (!queued.pData)
            return nullptr;
    }
    const size_t bytes = BlockBytes();
    std::shared_ptr<BufferPool> pool = m_pPool;
    auto* held = new (std::nothrow) CCachedBlock;
    if (!held) {
        pool->Give(std::move(queued.pData), bytes);
        return nullptr;
    }
    held->s64First = want;
    held->s64Count = std::min<long long>(queued.s64Count, m_dwBlockSize);
    held->bRead = queued.bRead;
    held->nBytes = bytes;
    held->pData = std::move(queued.pData);
    return std::shared_ptr<const CCachedBlock>(held, [pool](const CCachedBlock* b) {
        auto* owned = const_cast<CCachedBlock*>(b);
        pool->Give(std::move(owned->pData), owned->nBytes);
        delete owned;
    });
}

int CStorageDeviceWithCache::ReadThrough(const uint8_t* data, long long dataFirst, long long dataCount, void* buffer,
                                         long long first, long long count)
{
    if (!m_pSource || !buffer || first < 0 || count <= 0)
        return 0;
    const long long dataEnd = dataFirst + dataCount;
    if (!data || first < dataFirst || first >= dataEnd)
        return ReadFromSource(buffer, first, count);
    const long long cached = std::min(count, dataEnd - first);
    std::memcpy(buffer, data + static_cast<size_t>(first - dataFirst) * m_dwSectorSize,
                static_cast<size_t>(cached) * m_dwSectorSize);
    if (count > cached)
        return ReadFromSource(static_cast<uint8_t*>(buffer) + static_cast<size_t>(cached) * m_dwSectorSize, dataEnd,
                              count - cached);
    return 1;
}

int CStorageDeviceWithCache::ReadSector(void* buffer, long long first, long long count)
{
    // A block the source failed to give is not served from the cache: the
    // searcher gets the source's own answer (zeros and a failure, or the
    // data when the sectors read this time).
    const bool cached = m_s64CurBlock >= 0 && m_bCurBlockRead;
    return ReadThrough(cached ? m_pCurBlock.get() : nullptr, m_s64CurFirst, m_s64CurCount, buffer, first, count);
}

const uint8_t* CStorageDeviceWithCache::ViewSectors(long long first, long long count)
{
    if (m_s64CurBlock < 0 || !m_bCurBlockRead || !m_pCurBlock || first < m_s64CurFirst || count <= 0 ||
        count > m_s64CurCount - (first - m_s64CurFirst))
        return nullptr;
    return m_pCurBlock.get() + static_cast<size_t>(first - m_s64CurFirst) * m_dwSectorSize;
}

void CStorageDeviceWithCache::EndCache()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bRunning = false;
        m_cvReadMore.notify_all();
        m_cvBlockReady.notify_all();
    }
    if (m_reader.joinable())
        m_reader.join();
    std::lock_guard<std::mutex> lock(m_lock);
    m_queue.clear();
    m_pPool->Reset(BlockBytes());
    m_iReadRequests = 0;
    m_bReaderActive = false;
    m_s64InFlightFirst = -1;
}

int CCachedBlockDevice::ReadSector(void* buffer, long long first, long long count)
{
    if (!m_pCache)
        return 0;
    const auto usable = [](const std::shared_ptr<const CCachedBlock>& b) {
        return b && b->bRead && b->pData ? b.get() : nullptr;
    };
    const CCachedBlock* block = usable(m_pBlock);
    const CCachedBlock* next = usable(m_pNext);
    // The part in the current block comes from it; whatever follows it is
    // read through the next block, which passes to the source past its own.
    if (block && next && buffer && count > 0 && first >= block->s64First &&
        first < block->s64First + block->s64Count && first + count > block->s64First + block->s64Count &&
        next->s64First == block->s64First + block->s64Count) {
        const long long cached = block->s64First + block->s64Count - first;
        const size_t bytes = static_cast<size_t>(cached) * GetSectorSize();
        std::memcpy(buffer, block->pData.get() + static_cast<size_t>(first - block->s64First) * GetSectorSize(), bytes);
        return m_pCache->ReadThrough(next->pData.get(), next->s64First, next->s64Count,
                                     static_cast<uint8_t*>(buffer) + bytes, first + cached, count - cached);
    }
    if (!block || first < block->s64First || first >= block->s64First + block->s64Count)
        block = next;
    return m_pCache->ReadThrough(block ? block->pData.get() : nullptr, block ? block->s64First : 0,
                                 block ? block->s64Count : 0, buffer, first, count);
}

const uint8_t* CCachedBlockDevice::ViewSectors(long long first, long long count)
{
    const CCachedBlock* block = m_pBlock.get();
    if (!block || !block->bRead || !block->pData || first < block->s64First || count <= 0 ||
        count > block->s64Count - (first - block->s64First))
        return nullptr;
    return block->pData.get() + static_cast<size_t>(first - block->s64First) * GetSectorSize();
}
