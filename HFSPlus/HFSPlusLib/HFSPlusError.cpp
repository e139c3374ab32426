#include "HFSPlusError.h"

#include <cstdio>
#include <cstring>

long long FormatError(long long code, const char* file, long line, const char* function)
{
    const char* base = file ? file : "";
    for (const char* p = base; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    std::printf("Return Error:0x%llx\tFile:%s\tLine:%ld\tFuction:%s\n", static_cast<unsigned long long>(code), base,
                line, function ? function : "");
    std::fflush(stdout);
    return code;
}
