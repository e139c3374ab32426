// A read-only disk device over an image file, for tests that need a device
// before (or without) the engine's own storage devices.
#pragma once

#include <memory>
#include <string>

#include "DeviceInfo.h"
#include "IStorageDevice.h"

class CImageFileDevice : public IStorageDevice {
public:
    // type is what GetType() answers (a whole disk by default).
    explicit CImageFileDevice(unsigned int sectorSize = 512, int type = STORAGE_DEVICE_DISK);
    ~CImageFileDevice() override;
    CImageFileDevice(const CImageFileDevice&) = delete;
    CImageFileDevice& operator=(const CImageFileDevice&) = delete;

    // Opens the file read-only; total sectors = file size / sector size.
    int Open(char* path) override;
    int Close() override;
    // Fails without reading for a null buffer, a count below 1 or a range
    // that is not inside the image; a short read zero-fills and fails.
    int ReadSector(void* buffer, long long first, long long count) override;
    unsigned int GetSectorSize() override { return m_dwSectorSize; }
    long long GetTotalSectors() override { return m_llTotalSectors; }
    int IOCtl(unsigned long long, void*) override;
    IStorageDeviceData* GetPrivateData() override { return m_pData; }
    void SetPrivateData(IStorageDeviceData* data) override;
    int GetType() override { return m_iType; }
    ResultCode GetLastError() override { return m_llLastError; }
    int IsPermitted() override { return 1; }

    // Codes this device sets (module of the storage devices).
    static constexpr ResultCode kBadArgument = 0x10e0f0100000005ULL;
    static constexpr ResultCode kReadFailed = 0x10e0f0200000001ULL;
    static constexpr ResultCode kOpenFailed = 0x10e0f0300000001ULL;
    static constexpr ResultCode kUnsupported = 0x10e0f0400000003ULL;

private:
    int m_fd = -1;
    unsigned int m_dwSectorSize;
    int m_iType;
    long long m_llTotalSectors = 0;
    ResultCode m_llLastError = 0;
    IStorageDeviceData* m_pData = nullptr;
};

// Opens path as a disk of sectorSize-byte sectors with a filled disk record
// (state 0, sector size, total sectors). Null when the file cannot be opened.
std::unique_ptr<CImageFileDevice> OpenImageFileDisk(const std::string& path, unsigned int sectorSize = 512);
