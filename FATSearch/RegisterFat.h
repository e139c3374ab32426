// Registers the FAT recogniser, the FAT quick searcher and the deep scan's
// FAT searcher with the engine's factory table. Called from RegisterAllEngineModules().
#pragma once

void RegisterFatSearchers();
