// Registers the HFS+ recogniser, quick searcher and deep searcher with the
// engine's factory table. Called from RegisterAllEngineModules().
#pragma once

void RegisterHfsSearchers();
