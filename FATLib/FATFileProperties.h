// Attribute record of a FAT file or folder: name, size, attribute byte,
// times, deleted state and the clusters that place it in its tree.
#pragma once

#include <memory>
#include <string>

#include "EngineTypes.h"
#include "IFileNode.h"

// The fields of a CFATFileProperties, in order; all zero when made.
struct CFATFilePropertiesStruct {
    char* pszFileName = nullptr;            // UTF-8; none when unset
    unsigned short wFileNameLength = 0;     // bytes
    long long s64FileSize = 0;
    unsigned short wAttribute = 0;          // the entry's attribute byte
    _FILETIME ftCreationTime;
    _FILETIME ftModificationTime;
    _FILETIME ftLastAccessTime;
    unsigned char ucState = 0;              // bit 0: deleted
    long long s64FirstClusterNum = 0;
    long long s64ParentFirstClusterNum = 0;
    long long s64MetaDataSector = 0;        // sector holding the directory entry
    IDataRunList* pDataRunList = nullptr;
};

// FAT date and time words, read as a local time of this machine (daylight
// saving decided by the system), to 100-ns units since 1601.
int DosDateTimeToFileTime(unsigned short date, unsigned short time, _FILETIME* out);
_FILETIME SecondsSince1970ToFileTime(long long seconds);

class CFATFileProperties : public IFileProperties {
public:
    CFATFileProperties() = default;
    // Copies every field; the name and any run list get their own copies.
    explicit CFATFileProperties(const CFATFilePropertiesStruct& fields);
    ~CFATFileProperties() override;
    CFATFileProperties(const CFATFileProperties&) = delete;
    // Takes over name, state, attribute, clusters, times and size; the
    // metadata sector and the run list stay as they are.
    CFATFileProperties& operator=(const CFATFileProperties& other);

    static CFATFileProperties* Create();
    static void Destory(CFATFileProperties* record);

    int GetFileNameLength() override { return m_wFileNameLength; }
    // A copy of text; none clears the name.
    void SetFileName(const char* text) override;
    const char* GetFileName() override { return m_pszFileName.get(); }
    long long GetFileSize() override { return m_s64FileSize; }
    unsigned int GetAttribute() override { return m_wAttribute; }
    unsigned long long GetRawFileCreateTime() override { return 0; }
    unsigned long long GetCreationTime() override { return FileTimeToU64(m_ftCreationTime); }
    unsigned long long GetModificationTime() override { return FileTimeToU64(m_ftModificationTime); }
    unsigned long long GetLastAccessTime() override { return FileTimeToU64(m_ftLastAccessTime); }
    unsigned short GetState() override { return m_ucState; }
    void SetState(unsigned short state) override { m_ucState = static_cast<unsigned char>(state & 0xFF); }
    IDataRunList* GetDataRunList() override { return m_pDataRunList; }
    IFileProperties* Clone() override;

    void SetFileSize(long long size) { m_s64FileSize = size; }
    void SetAttribute(unsigned short attribute) { m_wAttribute = attribute; }
    void SetFirstClusterNum(long long cluster) { m_s64FirstClusterNum = cluster; }
    long long GetFirstClusterNum() const { return m_s64FirstClusterNum; }
    void SetParentFirstClusterNum(long long cluster) { m_s64ParentFirstClusterNum = cluster; }
    long long GetParentFirstClusterNum() const { return m_s64ParentFirstClusterNum; }
    void SetMetaDataSector(long long sector) { m_s64MetaDataSector = sector; }
    long long GetMetaDataSector() const { return m_s64MetaDataSector; }

    void SetCreationTime(const _FILETIME& time) { m_ftCreationTime = time; }
    void SetCreationTime(unsigned short date, unsigned short time);
    void SetCreationTime() { m_ftCreationTime = _FILETIME{}; }
    void SetModificationTime(const _FILETIME& time) { m_ftModificationTime = time; }
    void SetModificationTime(unsigned short date, unsigned short time);
    void SetModificationTime() { m_ftModificationTime = _FILETIME{}; }
    void SetLastAccessTime(const _FILETIME& time) { m_ftLastAccessTime = time; }
    void SetLastAccessTime(unsigned short date);  // midnight of that day
    void SetLastAccessTime() { m_ftLastAccessTime = _FILETIME{}; }

private:
    std::unique_ptr<char[]> m_pszFileName;
    unsigned short m_wFileNameLength = 0;
    long long m_s64FileSize = 0;
    unsigned short m_wAttribute = 0;
    _FILETIME m_ftCreationTime;
    _FILETIME m_ftModificationTime;
    _FILETIME m_ftLastAccessTime;
    unsigned char m_ucState = 0;
    long long m_s64FirstClusterNum = 0;
    long long m_s64ParentFirstClusterNum = 0;
    long long m_s64MetaDataSector = 0;
    IDataRunList* m_pDataRunList = nullptr;  // owned
};
