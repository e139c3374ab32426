#include "SearchSignFileAnalyser.h"

#include <algorithm>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "ResultCode.h"

unsigned char* Apimemstr(unsigned char* haystack, int haystackLength, unsigned char* needle, int needleLength)
{
    if (!haystack || !needle || haystackLength < 1 || needleLength < 1 || haystackLength < needleLength)
        return nullptr;
    return static_cast<unsigned char*>(memmem(haystack, static_cast<size_t>(haystackLength), needle,
                                              static_cast<size_t>(needleLength)));
}

namespace {

// The spellings of the signature that count as a match, in the order they
// are tried.
struct SignVariants {
    unsigned char text[2][64] = {};
    int count = 0;
    int length = 0;

    SignVariants(const SearchSignCodeInfo& sign, bool caseSensitive)
    {
        length = static_cast<int>(std::min<unsigned int>(sign.dwSignCodeLength, sizeof(sign.szSignCode)));
        if (caseSensitive) {
            std::memcpy(text[0], sign.szSignCode, sizeof(sign.szSignCode));
            count = 1;
            return;
        }
        for (int i = 0; i < length; ++i) {
            const unsigned char c = sign.szSignCode[i];
            text[0][i] = (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
            text[1][i] = (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
        }
        count = 2;
    }

    // Offset just past the first match in [data, data + size), or -1.
    long long FindEnd(unsigned char* data, long long size)
    {
        for (int v = 0; v < count; ++v) {
            if (unsigned char* m = Apimemstr(data, static_cast<int>(size), text[v], length))
                return (m - data) + length;
        }
        return -1;
    }
};

}  // namespace

int SearchSignFileAnalyser::SearchEndSignCode(CRawFileInfo& info, IStorageDevice* pDevice,
                                              const SearchSignCodeInfo& sign, int caseSensitive)
{
    VANTREL_ASSERT(NULL != pDevice);
    // Asked every time: two devices of one process may differ.
    const unsigned long long ss = pDevice->GetSectorSize() ? pDevice->GetSectorSize() : 512;
    const unsigned long long maxSize = sign.u64MaxFileSize ? sign.u64MaxFileSize : kDefaultMaxFileSize;
    SignVariants variants(sign, caseSensitive != 0);
    const unsigned long long len = static_cast<unsigned long long>(variants.length);

    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(std::max(info.m_llStartSector, 0LL)));
    unsigned long long offset = 0;
    while (offset <= maxSize) {
        unsigned char* sector = buffer.GetRawFileBuffer(offset);
        if (!sector)
            break;
        // Only the last sector of a file ends in padding.
        if (sector[ss - 2] != 0 || sector[ss - 1] != 0) {
            offset += ss;
            continue;
        }
        bool zeroEnd = true;
        for (unsigned long long i = ss - 8; i < ss; ++i)
            zeroEnd = zeroEnd && sector[i] == 0;

        const long long inSector = variants.FindEnd(sector, static_cast<long long>(ss));
        if (inSector >= 0) {
            offset += static_cast<unsigned long long>(inSector);
            break;
        }
        // The signature may be split between the previous sector and this
        // one; the window pointer gives one sector past its end, so the
        // 2 x length bytes around the boundary read in one piece.
        const unsigned long long base = offset >= len ? offset - len : 0;
        if (unsigned char* around = buffer.GetRawFileBuffer(base)) {
            const long long acrossEnd = variants.FindEnd(around, static_cast<long long>(2 * len));
            if (acrossEnd >= 0) {
                offset = base + static_cast<unsigned long long>(acrossEnd);
                break;
            }
        }
        if (zeroEnd)
            break;
        offset += ss;
    }
    info.m_llSize = static_cast<long long>(std::min<unsigned long long>(offset, INT64_MAX));
    return 1;
}
