#include "CRC.h"

#include <zlib.h>

#include <array>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

unsigned short CCRC::RunCRC16(const unsigned char* data, unsigned long length,
                              unsigned short polynomial)
{
    if (!data || length == 0)
        return 0;

    std::array<uint16_t, 256> table;
    for (unsigned i = 0; i < table.size(); ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ polynomial)
                                 : static_cast<uint16_t>(crc << 1);
        table[i] = crc;
    }

    uint16_t crc = 0;
    for (unsigned long i = 0; i < length; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

namespace {

// zlib's own code for short inputs and tails; it takes at most uInt bytes a
// call.
uint32_t PlainCRC32(uint32_t crc, const unsigned char* p, size_t length)
{
    while (length > 0) {
        const size_t n = length > (1u << 30) ? (1u << 30) : length;
        crc = static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
        p += n;
        length -= n;
    }
    return crc;
}

#if defined(__x86_64__)

// Folding with carry-less multiplication: four 128-bit lanes are folded 64
// bytes at a time, then into one lane, then reduced to 32 bits (Barrett).
// The constants are powers of x modulo the reflected polynomial. The state
// is the uninverted remainder; length is a multiple of 16 and at least 64.
#define VANTREL_CLMUL __attribute__((target("pclmul,sse4.1")))

VANTREL_CLMUL inline __m128i LoadBlock(const unsigned char* q)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// x folded forward by the distance k stands for, added to next.
VANTREL_CLMUL inline __m128i FoldBlock(__m128i x, __m128i next, __m128i k)
{
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

VANTREL_CLMUL uint32_t FoldCRC32(uint32_t state, const unsigned char* p, size_t length)
{
    const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596LL, 0x154442bd4LL);
    const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009eLL, 0x1751997d0LL);
    const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124LL);
    const __m128i poly = _mm_set_epi64x(0x1F7011641LL, 0x1DB710641LL);
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

    __m128i x1 = _mm_xor_si128(LoadBlock(p), _mm_cvtsi32_si128(static_cast<int>(state)));
    __m128i x2 = LoadBlock(p + 16);
    __m128i x3 = LoadBlock(p + 32);
    __m128i x4 = LoadBlock(p + 48);
    p += 64;
    length -= 64;
    while (length >= 64) {
        x1 = FoldBlock(x1, LoadBlock(p), k1k2);
        x2 = FoldBlock(x2, LoadBlock(p + 16), k1k2);
        x3 = FoldBlock(x3, LoadBlock(p + 32), k1k2);
        x4 = FoldBlock(x4, LoadBlock(p + 48), k1k2);
        p += 64;
        length -= 64;
    }
    x1 = FoldBlock(x1, x2, k3k4);
    x1 = FoldBlock(x1, x3, k3k4);
    x1 = FoldBlock(x1, x4, k3k4);
    while (length >= 16) {
        x1 = FoldBlock(x1, LoadBlock(p), k3k4);
        p += 16;
        length -= 16;
    }

    // 128 bits to 64.
    __m128i x2r = _mm_srli_si128(x1, 8);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x10), x2r);
    // 64 bits to 32.
    x2r = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00), x2r);
    // Barrett reduction.
    x2r = x1;
    x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
    x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2r);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HasCarrylessMultiply()
{
    static const bool s_has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return s_has;
}

#endif

}  // namespace

uint32_t CCRC::RunCRC32(uint32_t crc, const void* data, size_t length)
{
    const auto* p = static_cast<const unsigned char*>(data);
    if (!p || length == 0)
        return crc;
#if defined(__x86_64__)
    if (length >= 64 && HasCarrylessMultiply()) {
        const size_t folded = length & ~static_cast<size_t>(15);
        crc = ~FoldCRC32(~crc, p, folded);
        p += folded;
        length -= folded;
    }
#endif
    return PlainCRC32(crc, p, length);
}
