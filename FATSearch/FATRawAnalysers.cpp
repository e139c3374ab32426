#include "FATRawAnalysers.h"

namespace {

// Set only by a test, on the thread that then runs the build.
const CFATRawAnalyserSet* g_pInstalledSet = nullptr;

}  // namespace

CFATRawAnalyserSet GetFATRawAnalysers()
{
    if (g_pInstalledSet)
        return *g_pInstalledSet;
    CRawFileAnalyserListSingle* registry = CRawFileAnalyserListSingle::CreateInstance();
    CFATRawAnalyserSet set;
    if (registry) {
        set.list = registry->GetAnalyserList(1);
        set.map = registry->GetAnalyserMap(1);
        set.multimap = registry->GetAnalyserMultimap(1);
    }
    return set;
}

ScopedFATRawAnalysers::ScopedFATRawAnalysers(const CFATRawAnalyserSet& set) : m_pPrevious(g_pInstalledSet)
{
    g_pInstalledSet = &set;
}

ScopedFATRawAnalysers::~ScopedFATRawAnalysers() { g_pInstalledSet = m_pPrevious; }
