// Turns a run of directory entries (long-name entries, then their short
// entry) into the properties record of one file or folder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FATDirEntry.h"
#include "FATFileProperties.h"
#include "Utf16Name.h"

class CFATFilePropertiesBuilder {
public:
    // One builder per directory walk: it keeps one character-set converter
    // for all the names it assembles.
    CFATFilePropertiesBuilder();

    // The record of the first file in entries[length], or none: no short
    // entry within length, a long name of 2,047 bytes or more, or a short
    // entry whose 8.3 name is not valid when no usable long name stands
    // before it. Clusters, metadata sector and runs are left for the caller.
    CFATFileProperties* BuildFATFilePropertyFromDirEntryBuffer(const uint8_t* entries, size_t length);

    // A new record with pszFileName and the entry's size, attribute, times
    // and deleted state.
    static CFATFileProperties* BuildFATFilePropertyFromDirEntry(const char* pszFileName, const CTempFATDirEntry& entry);

    // Longest accepted name, in UTF-8 bytes.
    static constexpr size_t kMaxNameBytes = 2046;

private:
    CUtf16NameConverter m_converter;
    CUtf16NameAssembler m_name;
};
