// Byte helpers of the database and package analyser tests.
#pragma once

#include <random>

#include "CameraRawBytes.h"
#include "SearchHarness.h"

namespace dbtest {

using rawtest::Bytes;

// n bytes of which none is zero, so that no sector ends in zeros by chance.
inline Bytes NonZero(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<unsigned char>(1 + rng() % 255);
    return b;
}

inline void Append(Bytes& to, const Bytes& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

// Runs a device-scan analyser over file, placed at sector 2 of a device with
// extraSectors after it; -1 when it refuses.
inline long long DeviceSize(IRawFileAnalyser& analyser, const Bytes& file, unsigned int ss, int* result = nullptr,
                            long long extraSectors = 64)
{
    ByteDevice device(static_cast<long long>((file.size() + ss - 1) / ss) + 2 + extraSectors, ss);
    device.Put(2LL * ss, file);
    CRawFileInfo info;
    info.m_llStartSector = 2;
    const int r = analyser.GetRawFileSize(info, &device);
    if (result)
        *result = r;
    return r ? info.m_llSize : -1;
}

}  // namespace dbtest
