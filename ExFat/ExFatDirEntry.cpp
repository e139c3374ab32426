#include "ExFatDirEntry.h"

#include <ctime>

namespace {

// Control characters up to 0x19 (0x1A..0x1F are accepted), the reserved
// punctuation, and 0xFF.
constexpr bool IsInvalidNameByte(unsigned int c)
{
    return c <= 0x19 || c == 0x22 || c == 0x2A || c == 0x2F || c == 0x3A || c == 0x3C || c == 0x3E ||
           c == 0x3F || c == 0x5C || c == 0x7C || c == 0xFF;
}

constexpr std::array<uint8_t, 256> MakeNameTable()
{
    std::array<uint8_t, 256> table{};
    for (unsigned int c = 0; c < 256; ++c)
        table[c] = IsInvalidNameByte(c) ? 0 : 1;
    return table;
}

bool AllZero(const uint8_t* p, size_t from, size_t to)
{
    for (size_t i = from; i <= to; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

// Day non-zero, month 1..12, hours <= 23, minutes <= 59, seconds/2 <= 29.
bool IsPlausibleTimestamp(uint32_t stamp)
{
    const unsigned int doubleSeconds = stamp & 0x1F;
    const unsigned int minutes = (stamp >> 5) & 0x3F;
    const unsigned int hours = (stamp >> 11) & 0x1F;
    const unsigned int day = (stamp >> 16) & 0x1F;
    const unsigned int month = (stamp >> 21) & 0x0F;
    return day != 0 && month >= 1 && month <= 12 && hours <= 23 && minutes <= 59 && doubleSeconds <= 29;
}

// Bits 5 and 6 of an entry type: 0b00 for the primary entries (file,
// label), 0b10 for the secondary ones (stream, name).
unsigned int TypeClassBits(uint8_t type) { return (type >> 5) & 3u; }
constexpr unsigned int kPrimaryClass = 0;
constexpr unsigned int kSecondaryClass = 2;

uint16_t SetChecksumStep(uint16_t sum, uint8_t byte)
{
    return static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
}

}  // namespace

const std::array<uint8_t, 256> g_u8FileNameCheckTable = MakeNameTable();

bool IsValidFileEntry(const _tagExFatDirEntry& entry)
{
    const uint8_t* b = entry.bytes;
    if (TypeClassBits(entry.Type()) != kPrimaryClass)
        return false;
    if (entry.SecondaryCount() < 2 || entry.SecondaryCount() > 18)
        return false;
    if (!IsPlausibleTimestamp(entry.CreateTimestamp()) || !IsPlausibleTimestamp(entry.LastModifiedTimestamp()) ||
        !IsPlausibleTimestamp(entry.LastAccessedTimestamp()))
        return false;
    if (entry.Create10ms() > 199 || entry.LastModified10ms() > 199)
        return false;
    return exfatle::Load16(b + 6) == 0 && AllZero(b, 25, 31);
}

bool IsValidStreamEntry(const _tagExFatDirEntry& entry, const ExFatEntryLimits& limits)
{
    const uint8_t* b = entry.bytes;
    if (TypeClassBits(entry.Type()) != kSecondaryClass)
        return false;
    if (b[2] != 0 || exfatle::Load16(b + 6) != 0 || exfatle::Load32(b + 16) != 0)
        return false;
    const uint32_t first = entry.FirstCluster();
    if (first == 1 || first > kExFatFirstInvalidCluster)
        return false;
    const uint64_t length = entry.DataLength();
    const uint64_t valid = entry.ValidDataLength();
    if (limits.dwSectorShift >= 64 || limits.dwClusterShift >= 64)
        return false;
    if ((length >> limits.dwSectorShift) >= limits.u64DeviceSectors ||
        (valid >> limits.dwSectorShift) >= limits.u64DeviceSectors)
        return false;
    if (first != 0 && (entry.GeneralSecondaryFlags() & kExFatNoFatChain) != 0) {
        if ((length >> limits.dwClusterShift) + first >= kExFatFirstInvalidCluster ||
            (valid >> limits.dwClusterShift) + first >= kExFatFirstInvalidCluster)
            return false;
    }
    return true;
}

bool IsValidFileNameEntry(const _tagExFatDirEntry& entry)
{
    if (TypeClassBits(entry.Type()) != kSecondaryClass || entry.GeneralSecondaryFlags() != 0)
        return false;
    if (entry.NameChar(0) == 0)
        return false;
    for (size_t i = 0; i < kExFatNameEntryChars; ++i) {
        const char16_t ch = entry.NameChar(i);
        if (ch == 0)
            break;
        if (!IsValidFileNameChar(ch))
            return false;
    }
    return true;
}

bool IsValidVolumeLabelEntry(const _tagExFatDirEntry& entry)
{
    constexpr size_t kLabelChars = 11;
    if (TypeClassBits(entry.Type()) != kPrimaryClass)
        return false;
    const size_t count = entry.CharacterCount();
    if (count > kLabelChars)
        return false;
    for (size_t i = 0; i < kLabelChars; ++i) {
        const char16_t ch = entry.LabelChar(i);
        if (i < count ? !IsValidFileNameChar(ch) : ch != 0)
            return false;
    }
    return AllZero(entry.bytes, 24, 31);
}

bool CheckDirEntry(const void* entries, size_t length, uint16_t checksum)
{
    if (length == 0)
        return checksum == 0;
    if (!entries)
        return false;
    const auto* b = static_cast<const uint8_t*>(entries);

    uint16_t sum = 0;
    for (size_t i = 0; i < length; ++i)
        if (i != 2 && i != 3)
            sum = SetChecksumStep(sum, b[i]);
    if (sum == checksum)
        return true;
    if (b[0] != EXFAT_ENTRY_FILE_DELETED)
        return false;

    // Deletion cleared the in-use bit of every entry type after the sum was
    // taken: count the types as they were.
    uint16_t restored = 0;
    for (size_t i = 0; i < length; ++i) {
        if (i == 2 || i == 3)
            continue;
        uint8_t byte = b[i];
        if (i == 0)
            byte = EXFAT_ENTRY_FILE;
        else if (i == kExFatEntrySize)
            byte = EXFAT_ENTRY_STREAM;
        else if (i % kExFatEntrySize == 0)
            byte = EXFAT_ENTRY_NAME;
        restored = SetChecksumStep(restored, byte);
    }
    return restored == checksum;
}

_FILETIME DosTime2FileTime(_tagDOSTime dosTime)
{
    struct tm tmv {};
    tmv.tm_sec = (dosTime.wTime & 31) * 2;
    tmv.tm_min = (dosTime.wTime >> 5) & 63;
    tmv.tm_hour = dosTime.wTime >> 11;
    tmv.tm_mday = dosTime.wDate & 31;
    tmv.tm_mon = ((dosTime.wDate >> 5) & 15) - 1;
    tmv.tm_year = 80 + (dosTime.wDate >> 9);
    tmv.tm_isdst = -1;  // the system decides whether daylight saving applies
    const time_t seconds = mktime(&tmv);
    constexpr long long kUnitsPerSecond = 10000000LL;
    constexpr long long kUnixEpochAsFileTime = 116444736000000000LL;
    const long long value = static_cast<long long>(seconds) * kUnitsPerSecond + kUnixEpochAsFileTime;
    return U64ToFileTime(static_cast<unsigned long long>(value < 0 ? 0 : value));
}
