#include "CliCommands.h"

int CliRead(const CliOptions&)
{
    return CliNotAvailable("read");
}
