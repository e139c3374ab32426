// Update-sequence protection shared by file records and index blocks: the
// last two bytes of every 512-byte stride hold the sequence number, their
// real contents wait in the array. The array's place and count come from the
// header (u16 at 4 and 6) and are not trusted.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "NTFSBytes.h"

namespace ntfsusa {

// The array lies inside the buffer.
inline bool Fits(const uint8_t* b, unsigned int size)
{
    return static_cast<unsigned long long>(ntfsbytes::U16(b + 4)) + 2ULL * ntfsbytes::U16(b + 6) <= size;
}

// Strides the array covers within size bytes.
inline unsigned int CoveredStrides(const uint8_t* b, unsigned int size)
{
    const unsigned int count = ntfsbytes::U16(b + 6);
    return count < 2 ? 0 : std::min(count - 1, size / 512);
}

inline bool IsValid(const uint8_t* b, unsigned int size)
{
    if (!Fits(b, size))
        return false;
    const uint16_t usn = ntfsbytes::U16(b + ntfsbytes::U16(b + 4));
    const unsigned int strides = CoveredStrides(b, size);
    for (unsigned int k = 0; k < strides; ++k)
        if (ntfsbytes::U16(b + k * 512 + 510) != usn)
            return false;
    return true;
}

// Puts the real stride ends back (the caller checked IsValid).
inline void Remove(uint8_t* b, unsigned int size)
{
    const unsigned int usa = ntfsbytes::U16(b + 4);
    const unsigned int strides = CoveredStrides(b, size);
    for (unsigned int k = 0; k < strides; ++k)
        std::memcpy(b + k * 512 + 510, b + usa + 2 * (k + 1), 2);
}

// Saves the stride ends into the array and writes the sequence number over
// them; false when the array does not fit.
inline bool Apply(uint8_t* b, unsigned int size)
{
    if (!Fits(b, size))
        return false;
    const unsigned int usa = ntfsbytes::U16(b + 4);
    const unsigned int strides = CoveredStrides(b, size);
    for (unsigned int k = 0; k < strides; ++k) {
        std::memcpy(b + usa + 2 * (k + 1), b + k * 512 + 510, 2);
        std::memcpy(b + k * 512 + 510, b + usa, 2);
    }
    return true;
}

}  // namespace ntfsusa
