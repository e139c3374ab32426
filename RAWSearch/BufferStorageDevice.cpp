#include "BufferStorageDevice.h"

#include <algorithm>
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
                                           unsigned int sectorSize, unsigned int sectorsPerBlock, unsigned int blocks,
                                           unsigned int slack)
{
    m_dwInitialized = 0;
    m_llHeldSectors = 0;
    const unsigned long long ringSectors = static_cast<unsigned long long>(sectorsPerBlock) * blocks;
    // Two free slots after the held ones, and the copy in front.
    const unsigned long long slotSectors = static_cast<unsigned long long>(sectorsPerBlock) * (blocks + 3ULL);
    if (sectorSize == 0 || ringSectors == 0 || slotSectors > 0xFFFFFFFFULL ||
        slotSectors * sectorSize > (1ULL << 40)) {
        Close();
        return 0;
    }
    const size_t bytes = static_cast<size_t>(slotSectors) * sectorSize + slack;
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
    m_dwWriteSlot = 0;
    m_dwSlots = blocks + 2;
    m_dwSlack = slack;
    std::memset(m_ring.get() + bytes - slack, 0, slack);
    m_dwSectorsPerBlock = sectorsPerBlock;
    m_dwBlocks = blocks;
    m_dwRingSectors = static_cast<unsigned int>(ringSectors);
    m_pDevice = device;
    m_dwInitialized = 1;
    return 1;
}

unsigned char* CBufferStorageDevice::Slot(unsigned int k) const
{
    return m_ring.get() + (static_cast<size_t>(k) + 1) * m_dwSectorsPerBlock * m_dwSectorSize;
}

unsigned char* CBufferStorageDevice::BeginBlock()
{
    if (!m_dwInitialized)
        return nullptr;
    const size_t blockBytes = static_cast<size_t>(m_dwSectorsPerBlock) * m_dwSectorSize;
    // The first slot follows the copy of the last one, which is the block
    // before it.
    if (m_dwWriteSlot == 0 && m_llHeldSectors > 0)
        std::memcpy(m_ring.get(), Slot(m_dwSlots - 1), blockBytes);
    // The slot after is free (or the slack past the last slot already zero).
    if (m_dwWriteSlot + 1 < m_dwSlots)
        std::memset(Slot(m_dwWriteSlot + 1), 0, std::min<size_t>(m_dwSlack, blockBytes));
    return Slot(m_dwWriteSlot);
}

void CBufferStorageDevice::CommitBlock()
{
    if (!m_dwInitialized)
        return;
    m_dwWriteSlot = (m_dwWriteSlot + 1) % m_dwSlots;
    if (m_llHeldSectors < m_dwRingSectors)
        m_llHeldSectors += m_dwSectorsPerBlock;
    else
        m_llFirstSector += m_dwSectorsPerBlock;
}

void CBufferStorageDevice::AddBlockToBuffer(const char* block)
{
    if (!m_dwInitialized || !block)
        return;
    std::memcpy(Slot(m_dwWriteSlot), block, static_cast<size_t>(m_dwSectorsPerBlock) * m_dwSectorSize);
    CommitBlock();
}

int CBufferStorageDevice::ReadSector(void* buffer, long long first, long long count)
{
    if (!m_dwInitialized || !buffer || count <= 0)
        return 0;
    if (first >= m_llFirstSector && count <= m_llHeldSectors && first - m_llFirstSector <= m_llHeldSectors - count) {
        const unsigned long long slotSectors = static_cast<unsigned long long>(m_dwSlots) * m_dwSectorsPerBlock;
        const unsigned long long held = static_cast<unsigned long long>(m_llHeldSectors) / m_dwSectorsPerBlock;
        const unsigned long long oldest = (m_dwWriteSlot + m_dwSlots - held) % m_dwSlots * m_dwSectorsPerBlock;
        const unsigned long long pos = (static_cast<unsigned long long>(first - m_llFirstSector) + oldest) % slotSectors;
        const size_t ss = m_dwSectorSize;
        auto* out = static_cast<unsigned char*>(buffer);
        const unsigned long long n = static_cast<unsigned long long>(count);
        const unsigned char* base = Slot(0);
        if (pos + n > slotSectors) {
            const unsigned long long head = slotSectors - pos;
            std::memcpy(out, base + pos * ss, head * ss);
            std::memcpy(out + head * ss, base, (n - head) * ss);
        } else {
            std::memcpy(out, base + pos * ss, n * ss);
        }
        return 1;
    }
    return m_pDevice ? m_pDevice->ReadSector(buffer, first, count) : 0;
}
