// The node of a carved file or of a folder of the RAW and label RAW trees.
#pragma once

#include <string>
#include <vector>

#include "FileNode.h"
#include "RAWFileProperties.h"

class CRawFileInfo;

// The per-type sequence numbers of carved file names, shared by both trees;
// reset by ResetRawSearchState at the start of every search.
extern std::vector<int> g_s_CountPerFileTypeVector;

// Longest name a node gets, in bytes: the properties keep its length with
// the terminator in 8 bits.
constexpr size_t RAW_NAME_MAX_BYTES = 254;

// text cut to at most maxBytes on a UTF-8 character boundary.
std::string CutRawName(const std::string& text, size_t maxBytes);

class CRAWFileNode : public CFileNode {
public:
    CRAWFileNode() = default;
    ~CRAWFileNode() override;

    const char* GetFileName() override { return m_strName.c_str(); }
    long long GetFileSize() override { return m_pProperties ? m_pProperties->GetFileSize() : 0; }
    unsigned int GetAttribute() override { return m_pProperties ? m_pProperties->GetAttribute() : 0; }
    unsigned long long GetCreationTime() override { return GetLastAccessTime(); }
    unsigned long long GetModificationTime() override { return GetLastAccessTime(); }
    // The time read from the file's contents, 0 when it has none.
    unsigned long long GetLastAccessTime() override;
    int IsDirectory() override;
    int IsDeleted() override { return 0; }
    IFileNode* Clone() override { return this; }
    void MarkDeleted() override {}
    void FilterFileNameByDot() override {}

    CRAWFileProperties* GetProperties() const { return m_pProperties; }

    // attribute 16 makes a folder named by the candidate's name, 32 a file
    // named by BuildFileName.
    bool Initilaize(CRawFileInfo* info, unsigned int attribute, long long parentId, long long id);

    // "<stem><counter>.<EXT>", or "FILE<counter>.<EXT>" for an empty or
    // invalid stem; at most RAW_NAME_MAX_BYTES. Advances the type's counter.
    static std::string BuildFileName(unsigned short typeIndex, const char* stem);

    // Splits a time text at spaces, "-" and ":"; true with six parts or more.
    static bool FileTimeStructs(std::string text, std::vector<std::string>& parts);
    // The file time (100 ns since 1601) of a time text such as
    // "2014:05:03 10:22:31" in local time; 0 when it does not parse.
    static unsigned long long TimeTextToFileTime(const std::string& text);
    // The time text a name stands for when its first six parts are all
    // decimal numbers ("2014-05-03 10:22:31", also after the name filter made
    // its ":" into "_"); "" for every other name.
    static std::string TimeTextOfName(const std::string& name);

private:
    CRAWFileProperties* m_pProperties = nullptr;
    std::string m_strName;
};
