// One MPEG audio frame header (MPEG-1, MPEG-2 and MPEG-2.5, layers I to III).
#pragma once

#include <cstdint>

class CMPAHeader {
public:
    CMPAHeader() = default;

    // Decodes the 4 bytes at header; 0 when they cannot be a frame header
    // (reserved version or layer, free-format or invalid bit rate, invalid
    // sampling rate or emphasis, a Layer II mode the bit rate forbids). The
    // sync bits are the caller's to check.
    int Init(const unsigned char* header);
    // Bytes of the frame this header starts, padding included.
    uint32_t CalcFrameSize() const;
    // Same version, layer and sampling rate, both mono or both not, same
    // emphasis.
    bool operator==(const CMPAHeader& other) const;

    // Byte 0 is 0xFF, byte 1 at least 0xE0 and byte 2 at most 0xEF.
    static bool IsFrameSync(const unsigned char* header)
    {
        return header[0] == 0xFF && header[1] >= 0xE0 && header[2] <= 0xEF;
    }

    bool m_bLSF = false;
    uint32_t m_dwVersion = 0;  // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    uint32_t m_dwLayer = 0;    // 0 Layer I, 1 Layer II, 2 Layer III
    uint32_t m_dwEmphasis = 0;
    uint32_t m_dwChannelMode = 0;  // 3 mono
    uint32_t m_dwSamplesPerSec = 0;
    uint32_t m_dwSamplesPerFrame = 0;
    uint32_t m_dwBitrate = 0;  // bit/s
    uint32_t m_dwPaddingSize = 0;
    bool m_bPrivate = false;
    uint32_t m_dwModeExt = 0;
    bool m_bCopyright = false;
    bool m_bOriginal = false;
    bool m_bCRC = false;
    uint32_t m_dwBound = 0;
    uint16_t m_wAllocationTableIndex = 0;

    static const uint32_t m_dwBitrates[2][3][15];
    static const uint32_t m_dwSamplingRates[4][3];
    static const uint32_t m_dwSamplesPerFrames[2][3];
    static const uint32_t m_dwCoefficients[2][3];
    static const uint32_t m_dwSlotSizes[3];
    static const bool m_bAllowedModes[15][2];
};
