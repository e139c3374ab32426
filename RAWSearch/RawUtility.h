// Byte helpers the format analysers share.
#pragma once

#include <cstdint>

namespace BruteForce {

class RawUtility {
public:
    // Four (two) bytes at p, little-endian when the flag is set, else
    // big-endian.
    static int32_t EXIF_Get32s(const unsigned char* p, bool littleEndian);
    static uint16_t EXIF_Get16s(const unsigned char* p, bool littleEndian);

    // Searches backwards from buffer + length - back down to the buffer's
    // first byte for the magic (whose first byte must not be zero; only
    // whole matches inside the buffer count). Returns the offset just past
    // the match, 0 when length - back is negative or nothing matches.
    static int FindMagicInBuffer(const unsigned char* buffer, int length, int back, const unsigned char* magic,
                                 int magicLength);

    // Where the zero padding at the end of the buffer begins, found by
    // bisection; may be one byte past the data. 0 for an all-zero buffer.
    static int Binary_Compare(const unsigned char* buffer, int length);
};

}  // namespace BruteForce
