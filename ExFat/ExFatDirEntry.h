// Plausibility tests of single exFAT directory entries, the entry-set
// checksum and the time-stamp conversion. The quick walk and the deep scan
// judge entries by the same rules.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "EngineTypes.h"
#include "ExFatStructs.h"

// One flag per character value below 256: 1 when it may appear in a name.
extern const std::array<uint8_t, 256> g_u8FileNameCheckTable;

// True when ch may appear in a file name or label (every character of 256
// and above may).
inline bool IsValidFileNameChar(char16_t ch)
{
    return ch >= 256 || g_u8FileNameCheckTable[ch] != 0;
}

// Limits a stream entry is judged against: log2 of the sector and cluster
// sizes in bytes and the device's sector count.
struct ExFatEntryLimits {
    unsigned int dwSectorShift = 9;
    unsigned int dwClusterShift = 9;
    unsigned long long u64DeviceSectors = 0;
};

bool IsValidFileEntry(const _tagExFatDirEntry& entry);
bool IsValidStreamEntry(const _tagExFatDirEntry& entry, const ExFatEntryLimits& limits);
bool IsValidFileNameEntry(const _tagExFatDirEntry& entry);
bool IsValidVolumeLabelEntry(const _tagExFatDirEntry& entry);

// True when the SetChecksum over length bytes of entries (the file entry
// first, its bytes 2 and 3 skipped) equals checksum. A deleted set (first
// byte 0x05) also matches through the sum of its original entry types.
// length 0 matches only a checksum of 0.
bool CheckDirEntry(const void* entries, size_t length, uint16_t checksum);

// A stored DOS time stamp as a file time, the stamp read as local time.
_FILETIME DosTime2FileTime(_tagDOSTime dosTime);
