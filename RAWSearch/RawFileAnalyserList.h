// The registry of format analysers: set 0 for the RAW searcher, rebuilt for
// every search; set 1 for the FAT deep scan, built once and never rebuilt.
#pragma once

#include <list>
#include <map>
#include <optional>
#include <span>

#include "RawAnalyserTable.h"

class IRecoveryFilter;

class CRawFileAnalyserListSingle {
public:
    using AnalyserList = std::list<IRawFileAnalyser*>;
    using AnalyserMap = std::map<unsigned int, IRawFileAnalyser*>;
    using AnalyserMultimap = std::multimap<unsigned short, IRawFileAnalyser*>;

    // The process-wide registry, made on first use with set 1 built.
    static CRawFileAnalyserListSingle* CreateInstance();

    CRawFileAnalyserListSingle(const CRawFileAnalyserListSingle&) = delete;
    CRawFileAnalyserListSingle& operator=(const CRawFileAnalyserListSingle&) = delete;

    // Set 1 when set is nonzero, else set 0.
    AnalyserMap& GetAnalyserMap(int set);
    AnalyserMultimap& GetAnalyserMultimap(int set);
    AnalyserList& GetAnalyserList(int set);

    // Builds set 0 again with new analyser objects and deletes the old ones.
    // The filter is not used.
    void ReinitAnalyzeList(IRecoveryFilter* filter);

    // Register the table's rows of one kind, in table order, each with a new
    // analyser object.
    static void BuildRawFileAnalyserMap(AnalyserMap& map, std::span<const RawAnalyserRow> rows = GetRawAnalyserRows());
    static void BuildRawFileListMultimap(AnalyserMultimap& multimap,
                                         std::span<const RawAnalyserRow> rows = GetRawAnalyserRows());
    static void BuildRawFileAnalyserList(AnalyserList& list, std::span<const RawAnalyserRow> rows = GetRawAnalyserRows());

private:
    struct AnalyserSet {
        AnalyserList list;
        AnalyserMap map;
        AnalyserMultimap multimap;
        void Build(std::span<const RawAnalyserRow> rows);
        void Clear();
    };

    CRawFileAnalyserListSingle();
    ~CRawFileAnalyserListSingle();

    AnalyserSet m_set0;
    AnalyserSet m_set1;
};

#ifdef VANTREL_RAW_TEST_HOOKS
// Test builds only: while one lives, ReinitAnalyzeList builds set 0 from
// these rows (kept alive by the caller) instead of the table, so a test can
// drive a search with analysers of its own. Set 1 is never affected.
class ScopedRawAnalyserRows {
public:
    explicit ScopedRawAnalyserRows(std::span<const RawAnalyserRow> rows);
    ~ScopedRawAnalyserRows();
    ScopedRawAnalyserRows(const ScopedRawAnalyserRows&) = delete;
    ScopedRawAnalyserRows& operator=(const ScopedRawAnalyserRows&) = delete;

private:
    std::optional<std::span<const RawAnalyserRow>> m_previous;
};
#endif
