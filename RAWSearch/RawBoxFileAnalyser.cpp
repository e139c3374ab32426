#include "RawBoxFileAnalyser.h"

#include <cctype>
#include <cstdint>

#include "RawFileBuffer.h"
#include "RawRecordAccess.h"

int DWORDBigEndian2LittleEndian(int value)
{
    return static_cast<int>(__builtin_bswap32(static_cast<uint32_t>(value)));
}

namespace {

// The top-level box types the walk steps over, compared without regard to
// ASCII case.
bool IsKnownBoxType(const unsigned char* type)
{
    static const char* const kTypes[] = {"mdat", "moov", "free", "moof", "mfra", "uuid"};
    for (const char* known : kTypes) {
        bool same = true;
        for (int i = 0; i < 4 && same; ++i)
            same = std::tolower(type[i]) == known[i];
        if (same)
            return true;
    }
    return false;
}

bool IsMdat(const unsigned char* type)
{
    return std::tolower(type[0]) == 'm' && std::tolower(type[1]) == 'd' && std::tolower(type[2]) == 'a' &&
           std::tolower(type[3]) == 't';
}

}  // namespace

bool CRawBoxFileAnalyser::GetBoxSize(char* box, int& size)
{
    if (!box)
        return false;
    size = static_cast<int>(RawReadBE32(reinterpret_cast<unsigned char*>(box)));
    return size > 0;
}

bool CRawBoxFileAnalyser::GetBoxSizeEx(char* largeSize, long long& size)
{
    if (!largeSize)
        return false;
    const auto* p = reinterpret_cast<unsigned char*>(largeSize);
    size = static_cast<long long>((static_cast<uint64_t>(RawReadBE32(p)) << 32) | RawReadBE32(p + 4));
    return size > 0;
}

bool CRawBoxFileAnalyser::GetFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device || info.m_llStartSector < 0)
        return false;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char* head = buffer.GetRawFileBuffer(0);
    int first = 0;
    if (!head || !GetBoxSize(reinterpret_cast<char*>(head), first))
        return false;

    // The first box (ftyp) is stepped over without looking at its type.
    unsigned long long pos = static_cast<unsigned long long>(first);
    for (int n = 0; n < kMaxBoxes; ++n) {
        // The window gives at least one sector past pos: 16 bytes read whole.
        unsigned char* box = buffer.GetRawFileBuffer(pos);
        if (!box)
            break;
        int size32 = 0;
        if (!GetBoxSize(reinterpret_cast<char*>(box), size32))
            break;
        unsigned long long size = static_cast<unsigned long long>(size32);
        if (size32 == 1) {
            // A 64-bit size: only the media data box is taken this way.
            if (!IsMdat(box + 4) && !IsMdat(box + 12))
                break;
            long long large = 0;
            if (!GetBoxSizeEx(reinterpret_cast<char*>(box + 8), large))
                return false;
            size = static_cast<unsigned long long>(large);
        } else if (!IsKnownBoxType(box + 4) && !IsKnownBoxType(box + 12)) {
            break;
        }
        if (pos + size < pos || pos + size > static_cast<unsigned long long>(INT64_MAX))
            break;
        pos += size;
    }
    if (pos == 0)
        return false;
    info.m_llSize = static_cast<long long>(pos);
    return true;
}
