// Directory sectors that the deep scan saw, handed from the complete
// searcher to the directory walk of each partition it found.
#pragma once

#include <cstdint>
#include <set>

// One directory sector. A subdirectory's first sector (it starts with its
// "." and ".." entries) also carries the first clusters of the directory
// and of its parent; any other directory sector carries kNotFolderStart in
// both.
struct FIRSTFOLDERSECTOR {
    static constexpr uint32_t kNotFolderStart = 0xFFFFFFFFu;

    long long s64Sector = 0;
    uint32_t dwFirstCluster = kNotFolderStart;
    uint32_t dwParentFirstCluster = kNotFolderStart;

    bool IsFolderStart() const { return dwFirstCluster != kNotFolderStart; }
};

// By sector alone; a sector is recorded once. Sectors can be looked up
// directly (lower_bound(sector)).
struct FIRSTFOLDERSECTORLESS {
    using is_transparent = void;
    bool operator()(const FIRSTFOLDERSECTOR& a, const FIRSTFOLDERSECTOR& b) const { return a.s64Sector < b.s64Sector; }
    bool operator()(const FIRSTFOLDERSECTOR& a, long long b) const { return a.s64Sector < b; }
    bool operator()(long long a, const FIRSTFOLDERSECTOR& b) const { return a < b.s64Sector; }
};

using FATFolderSectorSet = std::set<FIRSTFOLDERSECTOR, FIRSTFOLDERSECTORLESS>;
