// Images whose every sector names itself, so any read can be checked.
#pragma once

#include <cstddef>
#include <string>

// Writes an image of `sectors` sectors of sectorSize bytes; each sector holds
// its own number as a little-endian u64, repeated to the sector's end.
// Returns false (and fails the test) when the file cannot be written.
bool MakeStampedImage(const std::string& path, long long sectors, unsigned int sectorSize);

// True when the sectorSize bytes at data are the stamp of sector.
bool HasSectorStamp(const void* data, long long sector, unsigned int sectorSize);

// True when all `size` bytes at data equal value.
bool AllBytesAre(const void* data, size_t size, unsigned char value);
