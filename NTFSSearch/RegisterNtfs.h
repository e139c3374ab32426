// Registers the NTFS recogniser and quick searcher with the engine's factory
// table, and the reader of data kept inside file records. Called from
// RegisterAllEngineModules().
#pragma once

void RegisterNtfsSearchers();
