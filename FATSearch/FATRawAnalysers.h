// The format analysers the quick build tests guessed first clusters of
// deleted FAT32 files against: set 1 of the process-wide RAW registry, or a
// set a test installs in its place.
#pragma once

#include "RawFileAnalyserList.h"

struct CFATRawAnalyserSet {
    CRawFileAnalyserListSingle::AnalyserList list;          // probed on every sector
    CRawFileAnalyserListSingle::AnalyserMap map;            // by the first 32-bit value
    CRawFileAnalyserListSingle::AnalyserMultimap multimap;  // by the first 16-bit value
};

// Copies of the analysers in use now (the analysers themselves stay owned by
// the registry or by whoever installed them).
CFATRawAnalyserSet GetFATRawAnalysers();

// While one lives, GetFATRawAnalysers answers copies of set, which the
// caller keeps alive; the registry comes back when it goes out of scope.
class ScopedFATRawAnalysers {
public:
    explicit ScopedFATRawAnalysers(const CFATRawAnalyserSet& set);
    ~ScopedFATRawAnalysers();
    ScopedFATRawAnalysers(const ScopedFATRawAnalysers&) = delete;
    ScopedFATRawAnalysers& operator=(const ScopedFATRawAnalysers&) = delete;

private:
    const CFATRawAnalyserSet* m_pPrevious;
};
