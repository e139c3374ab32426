// Registers the FAT recogniser (and, later, the FAT searchers) with the
// engine's factory table. Called from RegisterAllEngineModules().
#pragma once

void RegisterFatSearchers();
