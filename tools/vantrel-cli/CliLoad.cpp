#include "CliCommands.h"

int CliLoad(const CliOptions&)
{
    return CliNotAvailable("load");
}
