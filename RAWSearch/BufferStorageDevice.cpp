#include "BufferStorageDevice.h"

#include <cstring>
#include <new>

int CBufferStorageDevice::Close()
{
    m_ring.reset();
    m_uRingBytes = 0;
    m_dwInitialized = 0;
    m_llHeldSectors = 0;
    return 1;
}

int CBufferStorageDevice::InitBufferDevice(IStorageDevice* device, unsigned long long startSector,
                                           unsigned int sectorSize, unsigned int sectorsPerBlock, unsigned int blocks)
{
    m_dwInitialized = 0;
    m_llHeldSectors = 0;
    const unsigned long long ringSectors = static_cast<unsigned long long>(sectorsPerBlock) * blocks;
    if (sectorSize == 0 || ringSectors == 0 || ringSectors > 0xFFFFFFFFULL) {
        Close();
        return 0;
    }
    const size_t bytes = static_cast<size_t>(ringSectors) * sectorSize;
    if (bytes != m_uRingBytes) {
        m_ring.reset();
        m_ring = AllocateLargeBuffer(bytes);
        m_uRingBytes = m_ring ? bytes : 0;
        if (!m_ring)
            return 0;
    }
    m_dwSectorSize = sectorSize;
    m_llFirstSector = static_cast<long long>(startSector);
    m_llHeldSectors = 0;
    m_dwWritePos = 0;
    m_dwSectorsPerBlock = sectorsPerBlock;
    m_dwBlocks = blocks;
    m_dwRingSectors = static_cast<unsigned int>(ringSectors);
    m_pDevice = device;
    m_dwInitialized = 1;
    return 1;
}

void CBufferStorageDevice::AddBlockToBuffer(const char* block)
{
    if (!m_dwInitialized || !block)
        return;
    std::memcpy(m_ring.get() + static_cast<size_t>(m_dwWritePos) * m_dwSectorSize, block,
                static_cast<size_t>(m_dwSectorsPerBlock) * m_dwSectorSize);
    m_dwWritePos = (m_dwWritePos + m_dwSectorsPerBlock) % m_dwRingSectors;
    if (m_llHeldSectors < m_dwRingSectors)
        m_llHeldSectors += m_dwSectorsPerBlock;
    else
        m_llFirstSector += m_dwSectorsPerBlock;
}

int CBufferStorageDevice::ReadSector(void* buffer, long long first, long long count)
{
    if (!m_dwInitialized || !buffer || count <= 0)
        return 0;
    if (first >= m_llFirstSector && count <= m_llHeldSectors && first - m_llFirstSector <= m_llHeldSectors - count) {
        const unsigned long long oldest = m_llHeldSectors == m_dwRingSectors ? m_dwWritePos : 0;
        const unsigned long long pos = (static_cast<unsigned long long>(first - m_llFirstSector) + oldest) % m_dwRingSectors;
        const size_t ss = m_dwSectorSize;
        auto* out = static_cast<unsigned char*>(buffer);
        const unsigned long long n = static_cast<unsigned long long>(count);
        if (pos + n > m_dwRingSectors) {
            const unsigned long long head = m_dwRingSectors - pos;
            std::memcpy(out, m_ring.get() + pos * ss, head * ss);
            std::memcpy(out + head * ss, m_ring.get(), (n - head) * ss);
        } else {
            std::memcpy(out, m_ring.get() + pos * ss, n * ss);
        }
        return 1;
    }
    return m_pDevice ? m_pDevice->ReadSector(buffer, first, count) : 0;
}
