#include "CRC.h"

#include <array>
#include <cstdint>

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
