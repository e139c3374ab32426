// Sector devices for cache and scan tests that need no image file: a device
// whose every sector holds its own number, and a wrapper that records (and
// can delay or hold) each read it forwards.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "IStorageDevice.h"

// Sector s holds s as a little-endian u64, repeated to the sector's end (the
// layout of MakeStampedImage files). The contents are made on each read, so
// even a large device costs no memory. Safe to read from several threads.
class CStampedMemoryDevice : public IStorageDevice {
public:
    CStampedMemoryDevice(long long totalSectors, unsigned int sectorSize = 512,
                         int type = STORAGE_DEVICE_DISK);
    ~CStampedMemoryDevice() override;

    int Open(char*) override { return 1; }
    int Close() override { return 1; }
    // Fails, zero-filling the buffer, for a range not inside the device.
    int ReadSector(void* buffer, long long first, long long count) override;
    unsigned int GetSectorSize() override { return m_dwSectorSize; }
    long long GetTotalSectors() override { return m_llTotalSectors; }
    int IOCtl(unsigned long long, void*) override { return 0; }
    // Owned: deleted with the device or when replaced.
    IStorageDeviceData* GetPrivateData() override { return m_pData; }
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return m_iType; }
    ResultCode GetLastError() override { return 0; }
    int IsPermitted() override { return 1; }

private:
    long long m_llTotalSectors;
    unsigned int m_dwSectorSize;
    int m_iType;
    IStorageDeviceData* m_pData = nullptr;
};

// First sector of buffer (holding count sectors from first) that does not
// carry its own stamp, or -1 when all do.
long long FirstBadStamp(const void* buffer, long long first, long long count, unsigned int sectorSize);

// Forwards everything to a source device and records every ReadSector call:
// the calling thread, the first sector and the count. A hook, when set, runs
// before each read is forwarded (to delay it or hold it on a latch).
class CCountingDevice : public IStorageDevice {
public:
    struct Read {
        std::thread::id thread;
        long long first;
        long long count;
    };
    using Hook = std::function<void(long long first, long long count)>;

    explicit CCountingDevice(IStorageDevice* source) : m_pSource(source) {}

    int Open(char* path) override { return m_pSource->Open(path); }
    int Close() override { return m_pSource->Close(); }
    int ReadSector(void* buffer, long long first, long long count) override;
    unsigned int GetSectorSize() override { return m_pSource->GetSectorSize(); }
    long long GetTotalSectors() override { return m_pSource->GetTotalSectors(); }
    int IOCtl(unsigned long long request, void* arg) override { return m_pSource->IOCtl(request, arg); }
    IStorageDeviceData* GetPrivateData() override { return m_pSource->GetPrivateData(); }
    void SetPrivateData(IStorageDeviceData* data) override { m_pSource->SetPrivateData(data); }
    int GetType() override { return m_pSource->GetType(); }
    ResultCode GetLastError() override { return m_pSource->GetLastError(); }
    int IsPermitted() override { return m_pSource->IsPermitted(); }

    // Set before the device is used from more than one thread.
    void SetHook(Hook hook) { m_hook = std::move(hook); }
    std::vector<Read> Reads() const;
    // True once a read starting at first has been asked for.
    bool WasAsked(long long first) const;

private:
    IStorageDevice* m_pSource;
    Hook m_hook;
    mutable std::mutex m_mutex;
    std::vector<Read> m_reads;
};
