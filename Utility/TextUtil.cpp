#include "TextUtil.h"

#include <cstring>

size_t CopyTextField(char* dst, size_t size, const char* src)
{
    if (!dst || size == 0)
        return 0;
    if (!src) {
        dst[0] = '\0';
        return 0;
    }
    size_t len = std::strlen(src);
    if (len >= size) {
        len = size - 1;
        // Step back over continuation bytes so no character is cut in two.
        while (len > 0 && (static_cast<unsigned char>(src[len]) & 0xC0) == 0x80)
            --len;
    }
    std::memcpy(dst, src, len);
    dst[len] = '\0';
    return len;
}
