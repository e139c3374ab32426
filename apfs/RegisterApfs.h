// Registers the APFS recogniser and deep searcher with the engine's factory
// table. Called from RegisterAllEngineModules().
#pragma once

void RegisterApfsSearchers();
