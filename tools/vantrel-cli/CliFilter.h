// The scan's recovery filter as the command line sets it up.
#pragma once

#include "CliCommands.h"

class IRecoveryFilter;

// Loads the shipped file-type lists (once, before the program's filter is
// first built), hands --types to the filter, and lets tree builders show
// their first batch without the pause a window needs. Returns the filter.
IRecoveryFilter* CliPrepareFilter(const CliOptions& options);
