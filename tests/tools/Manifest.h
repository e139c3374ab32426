// The manifest of an image as tsk2manifest.py writes it: the volume's units
// and one record per file or folder.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "EngineTypes.h"

struct ManifestEntry {
    long long id = 0;
    long long parent = 0;
    bool isDir = false;
    bool deleted = false;
    long long size = 0;
    unsigned long long ctime = 0;
    unsigned long long mtime = 0;
    unsigned long long atime = 0;
    bool compressed = false;
    std::string name;
    std::vector<std::pair<long long, long long>> runs;  // (start, length) in units; start -1: sparse
};

struct Manifest {
    std::string fsName;  // FAT16, NTFS...
    unsigned int sectorsPerUnit = 1;
    long long unitBase = 0;
    long long rootId = 0;
    std::vector<ManifestEntry> entries;

    enumFILE_SYSTEM_TYPE FileSystemType() const;
    const ManifestEntry* Find(const std::string& name) const;
};

// false with a message when the file cannot be read or a line is malformed.
bool LoadManifest(const std::string& path, Manifest& out, std::string& error);
