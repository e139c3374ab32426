// Little-endian field reads of NTFS structures. Callers check the bounds;
// these only avoid unaligned access.
#pragma once

#include <cstdint>
#include <cstring>

namespace ntfsbytes {

inline uint16_t U16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline uint32_t U32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint64_t U64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

constexpr uint64_t kMftNumberMask = 0x0000FFFFFFFFFFFFULL;

}  // namespace ntfsbytes
