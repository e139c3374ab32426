// The process-wide counters a RAW search numbers its nodes with.
#pragma once

// Folder ids from 10, name counters from 0 and label ids from 2001: called
// at the start of every search, so each search numbers alike.
void ResetRawSearchState();
