// Registers the HFS+ recogniser and quick searcher with the engine's factory
// table. Called from RegisterAllEngineModules().
#pragma once

void RegisterHfsSearchers();
