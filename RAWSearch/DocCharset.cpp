#include "DocCharset.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace DocCharset {

std::string ConvertToUtf8(const char* fromCharset, const unsigned char* text, size_t length, size_t outputCapacity)
{
    if (!text || length == 0 || outputCapacity == 0)
        return std::string();
    iconv_t cd = iconv_open("UTF-8", fromCharset);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string();
    std::vector<char> input(text, text + length);
    std::vector<char> output(outputCapacity);
    char* in = input.data();
    size_t inLeft = input.size();
    char* out = output.data();
    size_t outLeft = output.size();
    const size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
    iconv_close(cd);
    const size_t written = output.size() - outLeft;
    // A full output keeps the text converted so far; a bad sequence drops
    // the value, as a half-converted title would name the file wrongly.
    if (rc == static_cast<size_t>(-1) && errno != E2BIG)
        return std::string();
    return UpToZero(reinterpret_cast<const unsigned char*>(output.data()), written);
}

bool LooksLikeUtf8(const unsigned char* text, size_t length)
{
    size_t i = 0;
    while (i < length) {
        const unsigned char c = text[i];
        size_t follow = 0;
        if (c < 0x80)
            follow = 0;
        else if (c >= 0xC0 && c <= 0xDF)
            follow = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            follow = 2;
        else
            return false;
        if (i + follow >= length)
            return true;
        for (size_t k = 1; k <= follow; ++k)
            if ((text[i + k] & 0xC0) != 0x80)
                return false;
        i += follow + 1;
    }
    return true;
}

void CutUtf8(std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return;
    size_t cut = maxBytes;
    // Step back over continuation bytes to the start of the cut sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
}

std::string UpToZero(const unsigned char* text, size_t length)
{
    if (!text)
        return std::string();
    const void* zero = std::memchr(text, 0, length);
    const size_t n = zero ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - text) : length;
    return std::string(reinterpret_cast<const char*>(text), n);
}

}  // namespace DocCharset
