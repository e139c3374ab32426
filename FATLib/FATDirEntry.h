// View over one 32-byte FAT directory entry: validity rules and names.
// It owns nothing; SetFirstClusterNO writes into the entry bytes themselves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FATStructs.h"

class CUtf16NameConverter;

class CTempFATDirEntry {
public:
    explicit CTempFATDirEntry(const void* bytes);

    // Moves the view to another entry; answers IsValidFATDirEntry(0).
    int InitFromBuffer(const void* bytes);

    int IsValidFATDirEntry(int skipClusterCheck) const;
    int IsErased() const { return m_pDirEntry->shortNameFATDirEntry.ucName[0] == kFATErasedMark; }
    int IsNeverUsed() const { return m_pDirEntry->shortNameFATDirEntry.ucName[0] == 0; }
    int IsDirectory() const { return (GetAttribute() & FAT_ATTR_DIRECTORY) != 0; }
    int IsLongFileNameEntry() const { return GetAttribute() == FAT_ATTR_LONG_NAME; }
    int IsVolumeLabel() const { return (GetAttribute() & FAT_ATTR_VOLUME_LABEL) != 0; }
    unsigned int GetAttribute() const { return m_pDirEntry->shortNameFATDirEntry.ucAttribute; }
    unsigned int GetSize() const { return fatle::Load32(m_pDirEntry->shortNameFATDirEntry.ucFileSize); }
    unsigned int GetFirstClusterNO() const;
    // Writes the cluster's upper half at offset 20 and lower half at 26.
    void SetFirstClusterNO(unsigned int cluster);

    // The 8.3 name: trailing spaces cut, an erased first byte as "#", bytes of
    // 0x80 or more as "_". noDot joins base and extension without a dot
    // (volume labels). Without noDot the name must pass IsValidFileName;
    // callers check first. buffer: at least kShortNameBufferSize bytes.
    void GetShortName(char* pszFileName, int noDot) const;
    static constexpr size_t kShortNameBufferSize = 13;

    // The 13 characters of a long-name entry as UTF-8 in buffer[length]; "_"
    // when empty or when no converter can be had. Always 1.
    int GetLongFileName(char* pszFileName, size_t length) const;
    // The units of a long-name entry before its 0x0000 terminator (at most 13).
    size_t GetLongFileNameUnits(char16_t* units) const;

    static bool IsValidFileName(const uint8_t* name11);
    static bool IsValidLongFileName(const char* text);
    bool IsFilenameEqual(const char* name8, const char* ext3) const;

    const tagFATDIRENTRY* GetEntry() const { return m_pDirEntry; }
    const tagSHORTFATDIRENTRY& Short() const { return m_pDirEntry->shortNameFATDirEntry; }

private:
    tagFATDIRENTRY* m_pDirEntry;
};
