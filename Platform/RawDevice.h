// Read-only access to a disk, a partition node or a disk image on Linux.
#pragma once

#include <cstdint>

struct RawDeviceGeometry {
    unsigned int uSectorSize = 512;   // bytes per sector the device reports
    long long s64TotalSectors = 0;    // whole sectors of uSectorSize
    long long s64Bytes = 0;           // size in bytes
    bool bBlockDevice = false;        // false: a regular file (disk image)
    uint64_t u64DeviceId = 0;         // st_rdev of a block device, else 0
};

// Opens path for reading only and returns the descriptor, or -1 with errno
// set. Only block devices and regular files are accepted; anything else
// fails with errno ENODEV (a directory EISDIR). A failure prints
// "open failed:%d,%s\n" with the errno and its text.
int RawDeviceOpen(const char* path);

// Sector size and size of an open descriptor. A block device answers its
// logical sector size and byte size; a regular file counts in 512-byte
// sectors. Returns false when the descriptor cannot be examined.
bool RawDeviceGetGeometry(int fd, RawDeviceGeometry& geometry);

// Closes a descriptor from RawDeviceOpen; -1 is ignored.
void RawDeviceClose(int fd);

// True for the errno values of an open refused for lack of rights.
bool RawDeviceIsPermissionError(int error);
