// A random-access byte window over a device, counted from a file's start
// sector, through which whole-file analysers walk a file's bytes.
#pragma once

#include <cstdint>

class IStorageDevice;

class RawFileBuffer {
public:
    // Windows hold 128 sectors; each is read with one sector more, so a
    // record crossing a window's end by up to one sector reads in one piece.
    static constexpr unsigned int kWindowSectors = 128;
    // Devices with larger sectors are refused (GetRawFileBuffer gives null).
    static constexpr unsigned int kMaxSectorSize = 65536;

    RawFileBuffer(IStorageDevice* device, unsigned long long startSector);
    ~RawFileBuffer();
    RawFileBuffer(const RawFileBuffer&) = delete;
    RawFileBuffer& operator=(const RawFileBuffer&) = delete;

    // The byte at offset from the start sector's first byte, valid for the
    // rest of its window plus one sector, until the next call on any
    // RawFileBuffer. Bytes past the device's end read as zero. Null on a
    // stop request, when nothing of the window can be read, or for an
    // unusable device.
    unsigned char* GetRawFileBuffer(unsigned long long offset);

    unsigned int GetWindowBytes() const { return m_dwWindowBytes; }

private:
    IStorageDevice* m_pDevice;
    unsigned long long m_u64StartSector;
    long long m_llCurrentWindow = -1;
    unsigned int m_dwWindowBytes;
    unsigned int m_dwSectorSize;
    // Which object's window the shared buffer holds.
    std::uint64_t m_u64Serial;
};
