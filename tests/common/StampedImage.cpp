#include "StampedImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void FillStamp(unsigned char* sector, long long number, unsigned int sectorSize)
{
    unsigned char stamp[8];
    for (int i = 0; i < 8; ++i)
        stamp[i] = static_cast<unsigned char>(static_cast<uint64_t>(number) >> (8 * i));
    for (unsigned int pos = 0; pos < sectorSize; pos += 8)
        std::memcpy(sector + pos, stamp, std::min<unsigned int>(8, sectorSize - pos));
}

}  // namespace

bool MakeStampedImage(const std::string& path, long long sectors, unsigned int sectorSize)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) {
        ADD_FAILURE() << "cannot create " << path;
        return false;
    }
    constexpr long long kBatch = 1024;
    std::vector<unsigned char> buffer(static_cast<size_t>(kBatch) * sectorSize);
    for (long long first = 0; first < sectors; first += kBatch) {
        long long n = std::min(kBatch, sectors - first);
        for (long long i = 0; i < n; ++i)
            FillStamp(buffer.data() + i * sectorSize, first + i, sectorSize);
        size_t bytes = static_cast<size_t>(n) * sectorSize;
        if (std::fwrite(buffer.data(), 1, bytes, file.get()) != bytes) {
            ADD_FAILURE() << "cannot write " << path;
            return false;
        }
    }
    return true;
}

bool HasSectorStamp(const void* data, long long sector, unsigned int sectorSize)
{
    std::vector<unsigned char> expected(sectorSize);
    FillStamp(expected.data(), sector, sectorSize);
    return std::memcmp(data, expected.data(), sectorSize) == 0;
}

bool AllBytesAre(const void* data, size_t size, unsigned char value)
{
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        if (p[i] != value)
            return false;
    return true;
}
