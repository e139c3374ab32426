// Result codes of the sector devices (module 0x0e). Kind 1: read or open
// failure, 3: unsupported, 5: bad argument, 7: missing record or parent.
#pragma once

#include "ResultCode.h"

// Disk device.
constexpr ResultCode kDiskOpenFailed = 0x10e004400000001ULL;
constexpr ResultCode kDiskBadArgument = 0x10e009400000005ULL;
constexpr ResultCode kDiskReadFailed = 0x10e00c400000001ULL;
constexpr ResultCode kDiskIOCtlUnsupported = 0x10e00de00000003ULL;
constexpr ResultCode kDiskInfoMissing = 0x10e012000000007ULL;

// Volume device.
constexpr ResultCode kVolumeOpenFailed = 0x10e004a00000001ULL;
constexpr ResultCode kVolumeBadArgument = 0x10e009b00000005ULL;
constexpr ResultCode kVolumeReadFailed = 0x10e00cc00000001ULL;
constexpr ResultCode kVolumeIOCtlUnsupported = 0x10e00e600000003ULL;
constexpr ResultCode kVolumeInfoMissing = 0x10e012800000007ULL;

// Partition window.
constexpr ResultCode kWindowNoParent = 0x10e006900000007ULL;
constexpr ResultCode kWindowNullBuffer = 0x10e007000000005ULL;
constexpr ResultCode kWindowBadFirst = 0x10e009600000005ULL;
constexpr ResultCode kWindowBadCount = 0x10e009c00000005ULL;
constexpr ResultCode kWindowIOCtlUnsupported = 0x10e00ac00000003ULL;
constexpr ResultCode kWindowParentDiskInfoMissing = 0x10e013000000007ULL;
constexpr ResultCode kWindowPartitionInfoMissing = 0x10e013800000007ULL;

// Partition shown as a volume.
constexpr ResultCode kVirtualNoParent = 0x10e006d00000007ULL;
constexpr ResultCode kVirtualNullBuffer = 0x10e007400000005ULL;
constexpr ResultCode kVirtualBadFirst = 0x10e009a00000005ULL;
constexpr ResultCode kVirtualBadCount = 0x10e00a000000005ULL;
constexpr ResultCode kVirtualIOCtlUnsupported = 0x10e00b000000003ULL;
constexpr ResultCode kVirtualParentDiskInfoMissing = 0x10e014000000007ULL;
constexpr ResultCode kVirtualVolumeInfoMissing = 0x10e014800000007ULL;
