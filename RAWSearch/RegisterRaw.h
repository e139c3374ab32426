// Registers the RAW searcher as the deep scan's complete searcher of the
// "(RAW Files)" tree. Called from RegisterAllEngineModules().
#pragma once

void RegisterRawSearchers();
