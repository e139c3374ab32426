#include "MpaHeader.h"

// Bit rates in kbit/s by LSF, layer and bit-rate index (index 0 is the free
// format, which is not carved).
const uint32_t CMPAHeader::m_dwBitrates[2][3][15] = {
    {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    },
    {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    },
};

const uint32_t CMPAHeader::m_dwSamplingRates[4][3] = {
    {11025, 12000, 8000},   // MPEG-2.5
    {0, 0, 0},              // reserved
    {22050, 24000, 16000},  // MPEG-2
    {44100, 48000, 32000},  // MPEG-1
};

const uint32_t CMPAHeader::m_dwSamplesPerFrames[2][3] = {{384, 1152, 1152}, {384, 1152, 576}};
const uint32_t CMPAHeader::m_dwCoefficients[2][3] = {{12, 144, 144}, {12, 144, 72}};
const uint32_t CMPAHeader::m_dwSlotSizes[3] = {4, 1, 1};

// MPEG-1 Layer II: which bit rates (by index) go with stereo and with mono.
const bool CMPAHeader::m_bAllowedModes[15][2] = {
    {true, true},  {false, true}, {false, true}, {false, true}, {true, true},
    {false, true}, {true, true},  {true, true},  {true, true},  {true, true},
    {true, true},  {true, false}, {true, false}, {true, false}, {true, false},
};

int CMPAHeader::Init(const unsigned char* header)
{
    const uint32_t version = (header[1] >> 3) & 3;
    const uint32_t layerBits = (header[1] >> 1) & 3;
    const uint32_t bitrateIndex = header[2] >> 4;
    const uint32_t samplingIndex = (header[2] >> 2) & 3;
    const uint32_t emphasis = header[3] & 3;
    if (version == 1 || layerBits == 0 || bitrateIndex == 15 || samplingIndex == 3 || emphasis == 2)
        return 0;
    const bool lsf = version != 3;
    const uint32_t layer = 3 - layerBits;
    const uint32_t kbps = m_dwBitrates[lsf][layer][bitrateIndex];
    if (kbps == 0)
        return 0;
    const uint32_t mode = header[3] >> 6;
    if (!lsf && layer == 1 && !m_bAllowedModes[bitrateIndex][mode == 3 ? 1 : 0])
        return 0;

    m_bLSF = lsf;
    m_dwVersion = version;
    m_dwLayer = layer;
    m_dwEmphasis = emphasis;
    m_dwChannelMode = mode;
    m_dwSamplesPerSec = m_dwSamplingRates[version][samplingIndex];
    m_dwSamplesPerFrame = m_dwSamplesPerFrames[lsf][layer];
    m_dwBitrate = kbps * 1000;
    m_dwPaddingSize = (header[2] >> 1) & 1;
    m_bPrivate = header[2] & 1;
    m_dwModeExt = (header[3] >> 4) & 3;
    m_bCopyright = (header[3] >> 3) & 1;
    m_bOriginal = (header[3] >> 2) & 1;
    m_bCRC = !(header[1] & 1);
    m_dwBound = mode == 1 ? m_dwModeExt * 4 + 4 : 0;

    if (layer == 1) {
        if (lsf) {
            m_wAllocationTableIndex = 4;
        } else {
            const uint32_t perChannel = mode == 3 ? kbps : kbps / 2;
            switch (perChannel) {
            case 32:
            case 48:
                m_wAllocationTableIndex = m_dwSamplesPerSec == 32000 ? 3 : 2;
                break;
            case 56:
            case 64:
            case 80:
                m_wAllocationTableIndex = 0;
                break;
            case 96:
            case 112:
            case 128:
            case 160:
            case 192:
                m_wAllocationTableIndex = m_dwSamplesPerSec < 48000 ? 1 : 0;
                break;
            default:
                break;
            }
        }
    }
    return 1;
}

uint32_t CMPAHeader::CalcFrameSize() const
{
    if (m_dwSamplesPerSec == 0)
        return 0;
    const uint64_t slots = static_cast<uint64_t>(m_dwBitrate) * m_dwCoefficients[m_bLSF][m_dwLayer] / m_dwSamplesPerSec;
    return static_cast<uint32_t>((slots + m_dwPaddingSize) * m_dwSlotSizes[m_dwLayer]);
}

bool CMPAHeader::operator==(const CMPAHeader& other) const
{
    return m_dwVersion == other.m_dwVersion && m_dwLayer == other.m_dwLayer &&
           m_dwSamplesPerSec == other.m_dwSamplesPerSec && (m_dwChannelMode == 3) == (other.m_dwChannelMode == 3) &&
           m_dwEmphasis == other.m_dwEmphasis;
}
