#include "RawDevice.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

void PrintOpenFailure(int error)
{
    std::printf("open failed:%d,%s\n", error, std::strerror(error));
}

}  // namespace

int RawDeviceOpen(const char* path)
{
    if (!path || !*path) {
        PrintOpenFailure(ENOENT);
        errno = ENOENT;
        return -1;
    }
    // O_NONBLOCK only guards the open itself: a FIFO without a writer would
    // otherwise block here forever. It is cleared again once the node is
    // known to be a block device or a regular file.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        int error = errno;
        PrintOpenFailure(error);
        errno = error;
        return -1;
    }
    struct stat st {};
    int error = 0;
    if (fstat(fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    else if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode))
        error = ENODEV;
    else {
        int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            error = errno;
    }
    if (error != 0) {
        close(fd);
        PrintOpenFailure(error);
        errno = error;
        return -1;
    }
    return fd;
}

bool RawDeviceGetGeometry(int fd, RawDeviceGeometry& geometry)
{
    geometry = RawDeviceGeometry{};
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0)
        return false;
    if (S_ISBLK(st.st_mode)) {
        geometry.bBlockDevice = true;
        geometry.u64DeviceId = static_cast<uint64_t>(st.st_rdev);
        int sectorSize = 0;
        if (ioctl(fd, BLKSSZGET, &sectorSize) == 0 && sectorSize > 0)
            geometry.uSectorSize = static_cast<unsigned int>(sectorSize);
        unsigned long long bytes = 0;
        if (ioctl(fd, BLKGETSIZE64, &bytes) == 0 && bytes <= static_cast<unsigned long long>(INT64_MAX))
            geometry.s64Bytes = static_cast<long long>(bytes);
    } else if (S_ISREG(st.st_mode)) {
        geometry.s64Bytes = st.st_size > 0 ? static_cast<long long>(st.st_size) : 0;
    } else {
        return false;
    }
    geometry.s64TotalSectors = geometry.s64Bytes / geometry.uSectorSize;
    return true;
}

void RawDeviceClose(int fd)
{
    if (fd >= 0)
        close(fd);
}

bool RawDeviceIsPermissionError(int error)
{
    return error == EPERM || error == EACCES;
}
