// A device over a ring of the most recent scan blocks, falling back to the
// real device for anything outside the ring. Waiting candidates are sized
// through it while their data is still in memory.
#pragma once

#include <cstddef>
#include <memory>

#include "IStorageDevice.h"
#include "LargeBuffer.h"

class CBufferStorageDevice : public IStorageDevice {
public:
    CBufferStorageDevice() = default;
    CBufferStorageDevice(const CBufferStorageDevice&) = delete;
    CBufferStorageDevice& operator=(const CBufferStorageDevice&) = delete;
    ~CBufferStorageDevice() override = default;

    int Open(char*) override { return 1; }
    int Close() override;
    // From the ring when the whole range is held, else from the fallback.
    int ReadSector(void* buffer, long long first, long long count) override;
    unsigned int GetSectorSize() override { return m_dwSectorSize ? m_dwSectorSize : 512; }
    // The sectors held, not the device's size (see GetFallbackDevice).
    long long GetTotalSectors() override { return m_llHeldSectors; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    int GetType() override { return STORAGE_DEVICE_CACHE; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

    // Blocks must then arrive in ascending, contiguous order from startSector.
    // 0 when the sizes are unusable.
    int InitBufferDevice(IStorageDevice* device, unsigned long long startSector, unsigned int sectorSize,
                         unsigned int sectorsPerBlock, unsigned int blocks);
    // Copies one block (sectors per block sectors) into the ring.
    void AddBlockToBuffer(const char* block);
    int IsFullBuffer() const { return m_dwInitialized && m_llHeldSectors == m_dwRingSectors; }
    long long GetDeviceStartSector() const { return m_llFirstSector; }
    IStorageDevice* GetFallbackDevice() const { return m_pDevice; }

private:
    // Only sectors already added are ever read from it, so it is not
    // cleared; a new start of the same size keeps it.
    LargeBuffer m_ring;
    size_t m_uRingBytes = 0;
    long long m_llFirstSector = 0;
    long long m_llHeldSectors = 0;
    unsigned int m_dwWritePos = 0;
    unsigned int m_dwSectorsPerBlock = 0;
    unsigned int m_dwBlocks = 0;
    unsigned int m_dwRingSectors = 0;
    unsigned int m_dwInitialized = 0;
    IStorageDevice* m_pDevice = nullptr;
    unsigned int m_dwSectorSize = 512;
};
