#include "FATFilePropertiesBuilder.h"

#include <new>
#include <string>

#include "ResultCode.h"

// Every UTF-16 unit gives at least one UTF-8 byte, so a name of more units
// than the byte limit can be refused before it is converted.
CFATFilePropertiesBuilder::CFATFilePropertiesBuilder() : m_name(kMaxNameBytes) {}

CFATFileProperties* CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntryBuffer(const uint8_t* entries,
                                                                                      size_t length)
{
    if (!entries)
        return nullptr;
    m_name.Clear();
    bool hasLongName = false;
    for (size_t offset = 0; offset + kFATDirEntrySize <= length; offset += kFATDirEntrySize) {
        CTempFATDirEntry entry(entries + offset);
        if (entry.IsLongFileNameEntry()) {
            // Long-name entries come last piece first. Only the last piece
            // of a name ends before 13 units, so such a piece arriving while
            // units are gathered starts a new name: the earlier, unfinished
            // one is dropped. Units are counted rather than bytes, so that a
            // damaged piece cannot fake a short one.
            char16_t units[kFATLongNameUnits];
            size_t count = entry.GetLongFileNameUnits(units);
            if (count == 0) {
                units[0] = u'_';
                count = 1;
            }
            if (count < kFATLongNameUnits && !m_name.IsEmpty())
                m_name.Clear();
            if (!m_name.Prepend(units, count))
                return nullptr;
            hasLongName = true;
            continue;
        }

        std::string name;
        if (hasLongName && m_converter.Convert(m_name.GetUnits(), name)) {
            if (name.size() > kMaxNameBytes)
                return nullptr;
            if (!CTempFATDirEntry::IsValidLongFileName(name.c_str()))
                name.clear();
        } else {
            name.clear();
        }
        if (name.empty()) {
            if (!CTempFATDirEntry::IsValidFileName(entry.Short().ucName))
                return nullptr;
            char shortName[CTempFATDirEntry::kShortNameBufferSize];
            entry.GetShortName(shortName, 0);
            name = shortName;
        }
        return BuildFATFilePropertyFromDirEntry(name.c_str(), entry);
    }
    return nullptr;
}

CFATFileProperties* CFATFilePropertiesBuilder::BuildFATFilePropertyFromDirEntry(const char* pszFileName,
                                                                                const CTempFATDirEntry& entry)
{
    VANTREL_ASSERT(pszFileName != NULL);
    CFATFileProperties* props = CFATFileProperties::Create();
    if (!props)
        return nullptr;
    const tagSHORTFATDIRENTRY& e = entry.Short();
    props->SetFileName(pszFileName);
    props->SetFileSize(entry.GetSize());
    props->SetAttribute(static_cast<unsigned short>(e.ucAttribute));
    props->SetCreationTime(e.createDate.Value(), e.createTime.Value());
    props->SetModificationTime(e.modifyDate.Value(), e.modifyTime.Value());
    props->SetLastAccessTime(e.lastAccessDate.Value());
    if (entry.IsErased())
        props->SetState(1);
    return props;
}
