#include "CliCommands.h"

int CliParts(const CliOptions&)
{
    return CliNotAvailable("parts");
}
