#include "EFDTAnalyze.h"

#include <algorithm>
#include <string>

namespace {

// Length of the longest prefix of text, at most limit bytes, that does not
// end inside a UTF-8 sequence.
size_t Utf8CutLength(const std::string& text, size_t limit)
{
    if (text.size() <= limit)
        return text.size();
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

}  // namespace

CEFDTAnalyze::CEFDTAnalyze() = default;

void CEFDTAnalyze::PrepareAnayze(unsigned int sectorShift, unsigned int clusterShift,
                                 unsigned long long deviceSectors)
{
    m_limits.dwSectorShift = sectorShift;
    m_limits.dwClusterShift = clusterShift;
    m_limits.u64DeviceSectors = deviceSectors;
    ClearEntrySet();
}

bool CEFDTAnalyze::Analyze(const void* buffer, size_t length, long long sector)
{
    if (!buffer)
        return length == 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    const size_t count = length / kExFatEntrySize;
    bool result = true;
    for (size_t i = 0; i < count && result; ++i) {
        const _tagExFatDirEntry& entry = *_tagExFatDirEntry::At(bytes + i * kExFatEntrySize);
        switch (entry.Type()) {
        case EXFAT_ENTRY_LABEL:
        case EXFAT_ENTRY_NO_LABEL:
            result = IsValidVolumeLabelEntry(entry);
            break;
        case EXFAT_ENTRY_FILE:
        case EXFAT_ENTRY_FILE_DELETED:
            result = StartSet(entry, sector);
            break;
        case EXFAT_ENTRY_STREAM:
        case EXFAT_ENTRY_STREAM_DELETED:
            result = AddStream(entry);
            break;
        case EXFAT_ENTRY_NAME:
        case EXFAT_ENTRY_NAME_DELETED:
            result = AddName(entry);
            break;
        case EXFAT_ENTRY_BITMAP:
        case EXFAT_ENTRY_UPCASE:
            break;
        default:
            result = false;  // the end of the directory, or an entry not understood
            break;
        }
        ++m_working.dwEntriesSinceFile;
        m_bWorkingClear = false;
    }
    return result;
}

bool CEFDTAnalyze::StartSet(const _tagExFatDirEntry& entry, long long sector)
{
    ClearEntrySet();
    if (!IsValidFileEntry(entry))
        return false;
    m_working.iState = 1;
    m_working.info.u8InUse = entry.InUse() ? 1 : 0;
    m_working.dwSecondaryLeft = entry.SecondaryCount();
    m_working.info.wAttributes = entry.FileAttributes();
    m_working.info.dwCreateTime = entry.CreateTimestamp();
    m_working.info.dwModifyTime = entry.LastModifiedTimestamp();
    m_working.info.dwAccessTime = entry.LastAccessedTimestamp();
    m_working.info.s64MetadataSector = sector;
    return true;
}

bool CEFDTAnalyze::AddStream(const _tagExFatDirEntry& entry)
{
    if (!IsValidStreamEntry(entry, m_limits))
        return false;
    const uint8_t inUse = entry.InUse() ? 1 : 0;
    if (m_working.iState == 1 && m_working.dwEntriesSinceFile == 1 && inUse == m_working.info.u8InUse) {
        m_working.iState = 2;
        --m_working.dwSecondaryLeft;
        m_working.info.u64DataLength = entry.DataLength();
        m_working.info.dwFirstCluster = entry.FirstCluster();
        m_working.info.u8NoFatChain = (entry.GeneralSecondaryFlags() & kExFatNoFatChain) ? 1 : 0;
        m_working.dwNameLength = entry.NameLength();
    } else {
        ClearEntrySet();
    }
    return true;
}

bool CEFDTAnalyze::AddName(const _tagExFatDirEntry& entry)
{
    if (!IsValidFileNameEntry(entry)) {
        if (!m_bDamagedNameCostsItsSet)
            return false;
        ClearEntrySet();
        return true;
    }
    const uint8_t inUse = entry.InUse() ? 1 : 0;
    if (inUse != m_working.info.u8InUse || m_working.iState <= 1 ||
        static_cast<unsigned int>(m_working.iState) != m_working.dwEntriesSinceFile) {
        ClearEntrySet();
        return true;
    }
    ++m_working.iState;
    --m_working.dwSecondaryLeft;
    // NameLength decides how many units the name has; the characters past it
    // in the last name entry are padding.
    const size_t have = m_working.name.GetUnitCount();
    if (have < m_working.dwNameLength) {
        char16_t units[kExFatNameEntryChars];
        const size_t take = std::min(kExFatNameEntryChars, m_working.dwNameLength - have);
        for (size_t i = 0; i < take; ++i)
            units[i] = entry.NameChar(i);
        m_working.name.Append(units, take);
    }
    if (m_working.dwSecondaryLeft == 0) {
        FinishSet();
        ClearEntrySet();
    }
    return true;
}

void CEFDTAnalyze::FinishSet()
{
    _tagFileBaseInfo& info = m_working.info;
    std::string name;
    // Without a converter the name stays empty rather than wrong.
    if (m_converter.Convert(m_working.name.GetUnits(), name)) {
        name.resize(std::min(name.find('\0'), name.size()));
        const size_t n = Utf8CutLength(name, kExFatMaxNameBytes);
        name.copy(info.szName, n);
        info.szName[n] = '\0';
    }
    m_listFiles.push_back(info);
}
