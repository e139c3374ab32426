// Plain records and enumerations shared by the whole engine.
#pragma once

#include <cstdint>

// Windows-style file time: 100-ns units since 1601-01-01 UTC.
struct _FILETIME {
    uint32_t dwLowDateTime = 0;
    uint32_t dwHighDateTime = 0;
};

struct _SYSTEMTIME {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

struct _GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};
};
static_assert(sizeof(_GUID) == 16);

enum _tagSearcherType : int {
    SEARCHER_HFSPLUS = 31,
    SEARCHER_FAT = 32,
    SEARCHER_EXFAT = 33,
    SEARCHER_RAW = 34,
    SEARCHER_NTFS = 35,
    SEARCHER_LABEL_RAW = 36,
    SEARCHER_APFS = 37,
    SEARCHER_NONE = 38,
};

enum enumFILE_SYSTEM_TYPE : int {
    FS_FAT12 = 0,
    FS_FAT16 = 1,
    FS_FAT32 = 2,
    FS_NTFS = 3,
    FS_EXFAT = 7,
    FS_HFSPLUS = 8,
    FS_APFS = 9,
    FS_UNKNOWN = 10,
};

enum _RECOVERY_CONTROLLER_TYPE : int {
    RECOVERY_CONTROLLER_QUICK = 0,
    RECOVERY_CONTROLLER_DEEP = 1,
    RECOVERY_CONTROLLER_DEEP_DISK = 2,
};

// Scan type the bridge sets on the recovery filter.
enum _SCAN_TYPE : int {
    SCAN_TYPE_QUICK_MOUNTED = 0,
    SCAN_TYPE_DEEP = 1,
    SCAN_TYPE_QUICK_UNMOUNTED = 2,
};

enum _tagCheckedStatus : int {
    CHECKED_NONE = 0,
    CHECKED_PARTLY = 1,
    CHECKED_ALL = 2,
};

// 64-bit file time value from the two halves and back.
inline unsigned long long FileTimeToU64(const _FILETIME& ft)
{
    return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
inline _FILETIME U64ToFileTime(unsigned long long v)
{
    _FILETIME ft;
    ft.dwLowDateTime = static_cast<uint32_t>(v);
    ft.dwHighDateTime = static_cast<uint32_t>(v >> 32);
    return ft;
}
