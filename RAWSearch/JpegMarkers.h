// Marker facts that the streaming and the whole-file JPEG analysers share.
#pragma once

#include <cstdint>

namespace JpegMarkers {

inline unsigned int ReadBE16(const unsigned char* p)
{
    return static_cast<unsigned int>((p[0] << 8) | p[1]);
}

inline bool EqualNoCase4(const unsigned char* p, const char* text)
{
    for (int i = 0; i < 4; ++i) {
        unsigned char a = p[i];
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (a >= 'a' && a <= 'z')
            a = static_cast<unsigned char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = static_cast<unsigned char>(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}

// "JFIF" or "Exif" at offset 6, in any case.
inline bool HasJfifOrExifHeader(const unsigned char* sector)
{
    return EqualNoCase4(sector + 6, "JFIF") || EqualNoCase4(sector + 6, "Exif");
}

// FF D8 FF DB or FF D8 FF EE: pictures that begin without a JFIF or Exif
// header and must prove their structure.
inline bool IsBareStart(const unsigned char* sector)
{
    return sector[0] == 0xFF && sector[1] == 0xD8 && sector[2] == 0xFF && (sector[3] == 0xDB || sector[3] == 0xEE);
}

// Start-of-frame markers of every coding process.
inline bool IsFrameMarker(unsigned char marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The last non-zero byte of sector[lowest, length), or -1.
inline int LastNonZero(const unsigned char* sector, int length, int lowest)
{
    for (int i = length - 1; i >= lowest && i >= 0; --i)
        if (sector[i])
            return i;
    return -1;
}

// An end marker that closes a sector: its last non-zero byte (searched down
// to lowest) is D9 after an FF (previousLast stands for the byte before the
// sector, -1 when unknown). Gives the offset just past D9, or 0.
inline int ClosingEndMarker(const unsigned char* sector, int length, int lowest, int previousLast)
{
    const int last = LastNonZero(sector, length, lowest);
    if (last < 0 || sector[last] != 0xD9)
        return 0;
    const int before = last > 0 ? sector[last - 1] : previousLast;
    return before == 0xFF ? last + 1 : 0;
}

}  // namespace JpegMarkers
