// CRC-16 of the scan-result file header.
#pragma once

class CCRC {
public:
    // CRC-16 over length bytes: most significant bit first, initial value 0,
    // no reflection, no final XOR, table built from the given polynomial.
    // Empty or null input gives 0.
    static unsigned short RunCRC16(const unsigned char* data, unsigned long length,
                                   unsigned short polynomial);
};
