#include "RawFileAnalyserList.h"

#include <utility>

namespace {

// Rows that replace the table for set 0 (tests only).
std::optional<std::span<const RawAnalyserRow>> g_set0Rows;

IRawFileAnalyser* MakeAnalyser(const RawAnalyserRow& row)
{
    return row.pfnCreate ? row.pfnCreate(row.dwAnalyserID) : nullptr;
}

}  // namespace

CRawFileAnalyserListSingle* CRawFileAnalyserListSingle::CreateInstance()
{
    static CRawFileAnalyserListSingle instance;
    return &instance;
}

CRawFileAnalyserListSingle::CRawFileAnalyserListSingle()
{
    m_set1.Build(GetRawAnalyserRows());
}

CRawFileAnalyserListSingle::~CRawFileAnalyserListSingle()
{
    m_set0.Clear();
    m_set1.Clear();
}

CRawFileAnalyserListSingle::AnalyserMap& CRawFileAnalyserListSingle::GetAnalyserMap(int set)
{
    return set ? m_set1.map : m_set0.map;
}

CRawFileAnalyserListSingle::AnalyserMultimap& CRawFileAnalyserListSingle::GetAnalyserMultimap(int set)
{
    return set ? m_set1.multimap : m_set0.multimap;
}

CRawFileAnalyserListSingle::AnalyserList& CRawFileAnalyserListSingle::GetAnalyserList(int set)
{
    return set ? m_set1.list : m_set0.list;
}

void CRawFileAnalyserListSingle::ReinitAnalyzeList(IRecoveryFilter*)
{
    // The new objects are made before the old ones go, so no analyser of the
    // new set can share an address with one of the previous search.
    AnalyserSet fresh;
    fresh.Build(g_set0Rows ? *g_set0Rows : GetRawAnalyserRows());
    m_set0.Clear();
    m_set0.list = std::move(fresh.list);
    m_set0.map = std::move(fresh.map);
    m_set0.multimap = std::move(fresh.multimap);
}

void CRawFileAnalyserListSingle::BuildRawFileAnalyserMap(AnalyserMap& map, std::span<const RawAnalyserRow> rows)
{
    for (const RawAnalyserRow& row : rows) {
        if (row.eKind != RAW_KEY_4 || map.count(row.dwKey))
            continue;
        if (IRawFileAnalyser* a = MakeAnalyser(row))
            map.emplace(row.dwKey, a);
    }
}

void CRawFileAnalyserListSingle::BuildRawFileListMultimap(AnalyserMultimap& multimap,
                                                          std::span<const RawAnalyserRow> rows)
{
    for (const RawAnalyserRow& row : rows) {
        if (row.eKind != RAW_KEY_2)
            continue;
        if (IRawFileAnalyser* a = MakeAnalyser(row))
            multimap.emplace(static_cast<unsigned short>(row.dwKey), a);  // equal keys keep their order
    }
}

void CRawFileAnalyserListSingle::BuildRawFileAnalyserList(AnalyserList& list, std::span<const RawAnalyserRow> rows)
{
    for (const RawAnalyserRow& row : rows) {
        if (row.eKind != RAW_EVERY_SECTOR)
            continue;
        if (IRawFileAnalyser* a = MakeAnalyser(row))
            list.push_back(a);
    }
}

#ifdef VANTREL_RAW_TEST_HOOKS
ScopedRawAnalyserRows::ScopedRawAnalyserRows(std::span<const RawAnalyserRow> rows) : m_previous(g_set0Rows)
{
    g_set0Rows = rows;
}

ScopedRawAnalyserRows::~ScopedRawAnalyserRows()
{
    g_set0Rows = m_previous;
}
#endif

void CRawFileAnalyserListSingle::AnalyserSet::Build(std::span<const RawAnalyserRow> rows)
{
    BuildRawFileAnalyserMap(map, rows);
    BuildRawFileListMultimap(multimap, rows);
    BuildRawFileAnalyserList(list, rows);
}

void CRawFileAnalyserListSingle::AnalyserSet::Clear()
{
    for (auto& [key, a] : map)
        delete a;
    for (auto& [key, a] : multimap)
        delete a;
    for (IRawFileAnalyser* a : list)
        delete a;
    map.clear();
    multimap.clear();
    list.clear();
}
