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

std::unique_ptr<uint8_t[]> CStorageDeviceWithCache::NewBlockBuffer() const
{
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[BlockBytes()]);
}

int CStorageDeviceWithCache::ReadFromSource(void* buffer, long long first, long long count)
{
    std::lock_guard<std::mutex> lock(m_sourceLock);
    return m_pSource->ReadSector(buffer, first, count);
}

bool CStorageDeviceWithCache::ReadBlockFromSource(uint8_t* buffer, long long first, long long count)
{
    if (ReadFromSource(buffer, first, count))
        return true;
    // Block buffers are reused: a failed read must not leave the bytes of an
    // earlier block behind.
    std::memset(buffer, 0, static_cast<size_t>(count) * m_dwSectorSize);
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
        std::unique_ptr<uint8_t[]> data;
        if (!m_vFreeBuffers.empty()) {
            data = std::move(m_vFreeBuffers.back());
            m_vFreeBuffers.pop_back();
        }

        // Read without the queue lock, so the scan thread can take queued
        // blocks while a slow read runs.
        lock.unlock();
        if (!data)
            data = NewBlockBuffer();
        const bool ok = data && ReadBlockFromSource(data.get(), first, count);
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
        for (;;) {
            // Blocks before the wanted one are never asked for again in an
            // ascending walk: drop them and let the reader replace them.
            while (!m_queue.empty() && m_queue.front().s64First < want) {
                m_vFreeBuffers.push_back(std::move(m_queue.front().pData));
                m_queue.pop_front();
                ++m_iReadRequests;
                m_cvReadMore.notify_one();
            }
            if (!m_queue.empty()) {
                QueuedBlock& front = m_queue.front();
                if (front.s64First != want)
                    break;  // only later blocks are queued
                m_vFreeBuffers.push_back(std::move(m_pCurBlock));
                m_pCurBlock = std::move(front.pData);
                m_s64CurCount = std::min<long long>(front.s64Count, m_dwBlockSize);
                m_bCurBlockRead = front.bRead;
                m_queue.pop_front();
                ++m_iReadRequests;
                m_cvReadMore.notify_one();
                m_s64CurBlock = block;
                m_s64CurFirst = want;
                return 1;
            }
            // Nothing queued: wait only when the reader is about to deliver
            // exactly this block.
            long long pending = m_s64InFlightFirst;
            if (pending < 0 && m_iReadRequests > 0 && m_s64NextSector < m_s64SourceSectors)
                pending = m_s64NextSector;
            if (!m_bReaderActive || pending != want)
                break;
            m_cvBlockReady.wait(lock, [this] { return !m_queue.empty() || !m_bReaderActive; });
        }
    }

    // Not in the queue (the reader stopped, or the block was asked for out
    // of order): read it here.
    m_bCurBlockRead = ReadBlockFromSource(m_pCurBlock.get(), want, count);
    m_s64CurBlock = block;
    m_s64CurFirst = want;
    m_s64CurCount = count;
    return 1;
}

int CStorageDeviceWithCache::ReadSector(void* buffer, long long first, long long count)
{
    if (!m_pSource || !buffer || first < 0 || count <= 0)
        return 0;
    const long long curEnd = m_s64CurFirst + m_s64CurCount;
    // A block the source failed to give is not served from the cache: the
    // searcher gets the source's own answer (zeros and a failure, or the
    // data when the sectors read this time).
    if (m_s64CurBlock < 0 || !m_bCurBlockRead || first < m_s64CurFirst || first >= curEnd)
        return ReadFromSource(buffer, first, count);

    const long long cached = std::min(count, curEnd - first);
    std::memcpy(buffer, m_pCurBlock.get() + static_cast<size_t>(first - m_s64CurFirst) * m_dwSectorSize,
                static_cast<size_t>(cached) * m_dwSectorSize);
    if (count > cached)
        return ReadFromSource(static_cast<uint8_t*>(buffer) + static_cast<size_t>(cached) * m_dwSectorSize, curEnd,
                              count - cached);
    return 1;
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
    m_vFreeBuffers.clear();
    m_iReadRequests = 0;
    m_bReaderActive = false;
    m_s64InFlightFirst = -1;
}
