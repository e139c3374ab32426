// Feeds one crafted sector at a time to a streaming candidate, with the
// sector before it (zeros unless given) in memory, as the searcher would at
// any sector number.
#pragma once

#include <algorithm>
#include <vector>

#include "RawFileInfo.h"

class SectorFeeder {
public:
    explicit SectorFeeder(unsigned int sectorSize = 512) : m_ss(sectorSize) {}

    int Feed(CRawFileInfo& candidate, long long sector, const std::vector<unsigned char>& bytes,
             const std::vector<unsigned char>& before = {})
    {
        m_memory.assign(static_cast<size_t>(m_ss) * 3, 0);
        std::copy_n(before.begin(), std::min<size_t>(before.size(), m_ss), m_memory.begin());
        std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), m_ss * 2), m_memory.begin() + m_ss);
        CRawFileInfo::SearchContext context;
        context.pBlockBase = m_memory.data();
        context.llBaseSector = sector - 1;
        context.llLookBackStart = sector - 1;
        context.llBlockEnd = sector + 2;
        context.dwSectorSize = m_ss;
        context.SetZeroCounts(m_memory.data() + m_ss, m_ss);
        return candidate.CalcRawSize(m_memory.data() + m_ss, static_cast<int>(m_ss), sector, context);
    }

private:
    unsigned int m_ss;
    std::vector<unsigned char> m_memory;
};
