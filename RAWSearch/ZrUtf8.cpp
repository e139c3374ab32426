#include "ZrUtf8.h"

#include <cstring>

namespace zrutf8 {

namespace {

enum class Step { Ok, Invalid, Truncated, TooLarge };

// Bytes that follow a lead byte, and what the lead contributes.
int TrailingBytes(unsigned char lead)
{
    if (lead < 0x80)
        return 0;
    if (lead < 0xC0)
        return -1;  // a continuation byte cannot lead
    if (lead < 0xE0)
        return 1;
    if (lead < 0xF0)
        return 2;
    if (lead < 0xF8)
        return 3;
    if (lead < 0xFC)
        return 4;
    if (lead < 0xFE)
        return 5;
    return -1;
}

// Decodes the sequence at source[pos]; on Ok sets the code point and its
// length in bytes.
Step DecodeOne(const unsigned char* source, unsigned long length, unsigned long pos, unsigned long& cp, int& bytes)
{
    static const unsigned char kLeadMask[] = {0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
    static const unsigned long kMinimum[] = {0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
    const int extra = TrailingBytes(source[pos]);
    if (extra < 0)
        return Step::Invalid;
    if (pos + static_cast<unsigned long>(extra) >= length)
        return Step::Truncated;
    cp = source[pos] & kLeadMask[extra];
    for (int i = 1; i <= extra; ++i) {
        unsigned char c = source[pos + static_cast<unsigned long>(i)];
        if ((c & 0xC0) != 0x80)
            return Step::Invalid;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < kMinimum[extra] || (cp >= 0xD800 && cp <= 0xDFFF))
        return Step::Invalid;  // overlong forms and UTF-16 surrogates
    bytes = extra + 1;
    return cp >= 0x110000 ? Step::TooLarge : Step::Ok;
}

// Walks the text; calls emit(cp, pos, bytes) per code point until it returns
// false. Returns false when the text is malformed.
template <typename Emit>
bool Walk(const unsigned char* source, unsigned long length, unsigned long& emitted, Emit emit)
{
    emitted = 0;
    unsigned long pos = 0;
    while (pos < length) {
        unsigned long cp = 0;
        int bytes = 0;
        Step step = DecodeOne(source, length, pos, cp, bytes);
        if (step == Step::Invalid)
            return false;
        if (step == Step::Truncated)
            break;
        if (step == Step::TooLarge)
            return emitted > 32;  // beyond Unicode: keep only a long text so far
        if (!emit(cp, pos, bytes))
            break;
        ++emitted;
        pos += static_cast<unsigned long>(bytes);
    }
    return true;
}

}  // namespace

unsigned long UTF8ToUNICODE(const unsigned char* source, unsigned long sourceLength, wchar_t* target,
                            unsigned long targetLength)
{
    if (!source || !target || sourceLength == 0 || targetLength == 0)
        return 0;
    unsigned long written = 0;
    bool ok = Walk(source, sourceLength, written, [&](unsigned long cp, unsigned long, int) {
        if (written >= targetLength)
            return false;
        target[written] = static_cast<wchar_t>(cp);
        return true;
    });
    return ok ? written : 0;
}

unsigned long UTF8ToANSI(const unsigned char* source, unsigned long sourceLength, char* target,
                         unsigned long targetLength)
{
    if (!source || !target || sourceLength == 0 || targetLength == 0)
        return 0;
    unsigned long bytesOut = 0;
    unsigned long units = 0;
    bool ok = Walk(source, sourceLength, units, [&](unsigned long cp, unsigned long pos, int bytes) {
        if (cp == 0)
            return false;  // the text ends at a NUL
        if (bytesOut + static_cast<unsigned long>(bytes) > targetLength)
            return false;
        std::memcpy(target + bytesOut, source + pos, static_cast<size_t>(bytes));
        bytesOut += static_cast<unsigned long>(bytes);
        return true;
    });
    if (!ok || bytesOut == 0)
        return 0;
    if (bytesOut < targetLength)
        target[bytesOut] = '\0';
    return bytesOut;
}

}  // namespace zrutf8
