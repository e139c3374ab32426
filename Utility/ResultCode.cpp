#include "ResultCode.h"

#include <cstdio>
#include <cstdlib>

std::string FormatResultCode(ResultCode c)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "0x%llx (module 0x%02x, line %u, kind %u)", c, ResultModule(c),
                  ResultLine(c), ResultKind(c));
    return buf;
}

void VantrelAssertFailed(const char* expr, const char* file, int line)
{
    std::fprintf(stderr, "Assertion failed: %s (%s:%d)\n", expr, file, line);
    std::fflush(stderr);
    std::abort();
}
