#include "FileNode.h"

DataRun* CDataRunList::GetFirst()
{
    m_cursor = m_runs.begin();
    return m_cursor == m_runs.end() ? nullptr : &*m_cursor;
}

DataRun* CDataRunList::GetNext()
{
    if (m_cursor == m_runs.end())
        return nullptr;
    ++m_cursor;
    return m_cursor == m_runs.end() ? nullptr : &*m_cursor;
}

int CDataRunList::IsDone() { return m_cursor == m_runs.end() ? 1 : 0; }

IDataRunList* CDataRunList::Clone()
{
    auto* copy = new CDataRunList;
    for (const DataRun& run : m_runs)
        copy->AddDataRun(&run);
    copy->m_iResident = m_iResident;
    return copy;
}

void CDataRunList::AddDataRun(const DataRun* run)
{
    if (!run)
        return;
    if (!m_runs.empty()) {
        // Runs that continue one another become one; sums that do not fit
        // (damaged input) are never formed, the run is kept on its own.
        DataRun& last = m_runs.back();
        long long end = 0;
        long long merged = 0;
        if (last.llStart >= 0 && run->llStart >= 0 && !__builtin_add_overflow(last.llStart, last.llLength, &end) &&
            end == run->llStart && !__builtin_add_overflow(last.llLength, run->llLength, &merged)) {
            last.llLength = merged;
            return;
        }
    }
    bool cursorAtEnd = m_cursor == m_runs.end();
    m_runs.push_back(*run);
    if (cursorAtEnd)
        m_cursor = m_runs.end();
}

IDataRunList* CreateDataRunList() { return new CDataRunList; }

