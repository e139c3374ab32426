// Reads a few bytes of a carved file through a RawFileBuffer, for the audio
// and video container walks that size a file from the device.
#pragma once

#include <cstddef>
#include <cstdint>

#include "RawFileBuffer.h"
#include "RawFileInfo.h"

class IStorageDevice;

class AvByteReader {
public:
    AvByteReader(IStorageDevice* device, long long startSector);

    // Copies length bytes at offset of the file into out; false when a read
    // fails or the search is being stopped.
    bool Read(unsigned long long offset, void* out, size_t length);

    unsigned int SectorSize() const { return m_dwSectorSize; }

private:
    RawFileBuffer m_Buffer;
    unsigned int m_dwSectorSize;
};

inline uint64_t AvReadLE64(const unsigned char* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

inline uint32_t AvReadBE24(const unsigned char* p)
{
    return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}

// The probe of a format that takes every sector offered under its key and
// decides when it sizes the file.
inline int AcceptAvStart(const unsigned char* sector, CRawFileInfo& info, unsigned int type)
{
    if (!sector)
        return 0;
    info.m_dwType = type;
    return 1;
}
