#include "CliCommands.h"

int CliDevices(const CliOptions&)
{
    return CliNotAvailable("devices");
}
