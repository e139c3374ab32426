#include "CliCommands.h"

int CliScan(const CliOptions&)
{
    return CliNotAvailable("scan");
}
