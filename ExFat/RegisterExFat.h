// Registers the exFAT recogniser, quick searcher and deep-scan searcher
// (type 33) with the engine's factory table. Called from
// RegisterAllEngineModules().
#pragma once

void RegisterExFatSearchers();
