#include "BridgeUtil.h"

bool isValidString(const char* text)
{
    if (!text)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned int cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;  // continuation byte, overlong lead or 5/6-byte lead
        }
        for (int i = 1; i <= extra; ++i) {
            unsigned char cc = p[i];
            if ((cc & 0xC0) != 0x80)
                return false;  // also stops at the terminator
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        if (cp >= 0xD800 && cp <= 0xDFFF)
            return false;
        p += extra + 1;
    }
    return true;
}
