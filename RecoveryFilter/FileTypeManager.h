// File-type groups: which group (pictures, music, movies, archives,
// documents, other) a file-name extension belongs to.
//
// The five group lists are process-wide and set once before the first filter
// or searcher is built (CFileTypeManager::Initialze). Every CFileTypeManager
// then splits them into its own extension table.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "KeHashTable.h"

enum FILE_TYPE_ID : uint32_t {
    FILE_TYPE_PICTURE = 2,
    FILE_TYPE_MUSIC = 3,
    FILE_TYPE_MOVIE = 4,
    FILE_TYPE_ARCHIVE = 5,
    FILE_TYPE_DOCUMENT = 6,
    FILE_TYPE_OTHER = 7,  // also every extension in no list
};

class CFileTypeManager {
public:
    CFileTypeManager() = default;
    CFileTypeManager(const CFileTypeManager&) = delete;
    CFileTypeManager& operator=(const CFileTypeManager&) = delete;

    // Sets the process-wide lists from a map keyed by group bit: 1 pictures,
    // 2 music, 4 movies, 8 archives, 16 documents (";"-separated extensions).
    // A missing key gives an empty list. Tables already built keep theirs.
    static void Initialze(std::map<int, std::string>& lists);

    // Fills this table from the process-wide lists: pictures, music, movies,
    // archives, documents as groups 2 to 6, in this order, so an extension in
    // two lists belongs to the earlier one. Returns 1.
    int Initialize();
    // The same from lists given by the caller, keyed as for Initialze.
    int Initialize(const std::map<int, std::string>& lists);

    // Inserts every ";"-separated piece of list with the group, empty pieces
    // included; an empty list inserts nothing.
    void Insert2Table(const std::string& list, FILE_TYPE_ID group);

    // Group of an extension, looked up without regard to ASCII case;
    // FILE_TYPE_OTHER for null or unknown.
    FILE_TYPE_ID GetFileTypeID(const char* extension) const;

    const CKeHashTable<FILE_TYPE_ID, 2048u>& GetHashTable() const { return m_HashTable; }

private:
    CKeHashTable<FILE_TYPE_ID, 2048u> m_HashTable;
};
