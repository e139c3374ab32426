#include "RawUtility.h"

#include <cstring>

namespace BruteForce {

int32_t RawUtility::EXIF_Get32s(const unsigned char* p, bool littleEndian)
{
    uint32_t v = littleEndian ? (static_cast<uint32_t>(p[3]) << 24) | (static_cast<uint32_t>(p[2]) << 16) |
                                    (static_cast<uint32_t>(p[1]) << 8) | p[0]
                              : (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                                    (static_cast<uint32_t>(p[2]) << 8) | p[3];
    return static_cast<int32_t>(v);
}

uint16_t RawUtility::EXIF_Get16s(const unsigned char* p, bool littleEndian)
{
    return littleEndian ? static_cast<uint16_t>((p[1] << 8) | p[0]) : static_cast<uint16_t>((p[0] << 8) | p[1]);
}

int RawUtility::FindMagicInBuffer(const unsigned char* buffer, int length, int back, const unsigned char* magic,
                                  int magicLength)
{
    if (!buffer || !magic || magicLength <= 0 || length <= 0 || length - back < 0 || magic[0] == 0)
        return 0;
    for (int pos = length - back; pos >= 0; --pos) {
        if (pos > length - magicLength)
            continue;
        if (buffer[pos] == magic[0] && std::memcmp(buffer + pos + 1, magic + 1, static_cast<size_t>(magicLength - 1)) == 0)
            return pos + magicLength;
    }
    return 0;
}

int RawUtility::Binary_Compare(const unsigned char* buffer, int length)
{
    if (!buffer || length <= 0)
        return 0;
    auto zeroFrom = [&](int from) {
        for (int i = from; i < length; ++i)
            if (buffer[i])
                return false;
        return true;
    };
    if (zeroFrom(0))
        return 0;
    int lo = 0;
    int hi = length;
    int last = 0;
    while (lo < hi - 1) {
        int mid = (lo + hi) / 2;
        last = mid;
        if (zeroFrom(mid))
            hi = mid;
        else
            lo = mid;
    }
    return last + 1;
}

}  // namespace BruteForce
