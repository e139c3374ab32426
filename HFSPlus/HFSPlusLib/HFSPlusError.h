// Result codes of the HFS+ code (module 5) and the line printer that reports
// each failure where it is detected.
#pragma once

#include "ResultCode.h"

// Prints "Return Error:0x<code>\tFile:<base name>\tLine:<line>\tFuction:<function>"
// on standard output and returns code unchanged.
long long FormatError(long long code, const char* file, long line, const char* function);

// Kinds of module 5.
enum : unsigned {
    kHfsKindMissing = 2,
    kHfsKindBadTree = 3,
    kHfsKindNoMemory = 4,
    kHfsKindBadArgument = 5,
    kHfsKindBadData = 6,
    kHfsKindStopped = 0x0D,
    kHfsKindShortRead = 0x0E,
    kHfsKindUnusable = 0x501,
};

constexpr ResultCode HfsCode(unsigned line, unsigned kind) { return MakeResultCode(kModuleHFSPlus, line, kind); }

// Builds the code of the current line and prints it.
#define HFS_FAIL(kind) \
    static_cast<ResultCode>(FormatError(static_cast<long long>(HfsCode(__LINE__, (kind))), __FILE__, __LINE__, __func__))
// Builds the code of the current line without printing it.
#define HFS_CODE(kind) HfsCode(__LINE__, (kind))
// The same with a fixed position number: codes that callers and saved logs
// know by value keep their number whatever line reports them.
#define HFS_FAIL_AT(line, kind) \
    static_cast<ResultCode>(FormatError(static_cast<long long>(HfsCode((line), (kind))), __FILE__, (line), __func__))
