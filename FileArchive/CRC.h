// Checksums of the scan-result stream: the CRC-16 of the file header and the
// CRC-32 of frame payloads.
#pragma once

#include <cstddef>
#include <cstdint>

class CCRC {
public:
    // CRC-16 over length bytes: most significant bit first, initial value 0,
    // no reflection, no final XOR, table built from the given polynomial.
    // Empty or null input gives 0.
    static unsigned short RunCRC16(const unsigned char* data, unsigned long length,
                                   unsigned short polynomial);

    // The CRC-32 of zlib's crc32 (reflected polynomial 0xEDB88320, initial
    // and final inversion), continued from crc over length more bytes; start
    // with 0. Large blocks use carry-less multiplication where the processor
    // has it.
    static uint32_t RunCRC32(uint32_t crc, const void* data, size_t length);
};
