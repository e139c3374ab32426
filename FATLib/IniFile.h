// Reader of a small text file of sections and key=value lines. Names and
// values are kept exactly as written: no trimming, no change of case, no
// quotes or comments; a carriage return stays part of its line.
#pragma once

#include <cstdio>
#include <map>
#include <string>

class CIniFile {
public:
    CIniFile() = default;

    // Stores the path and loads the file; returns what LoadFile returns.
    int Init(const std::string& path);
    // 0 when the whole file was read; -1 when it cannot be opened, or at a
    // section line without "]" or a key line before any section (what was
    // read before the bad line is kept).
    int LoadFile();
    // 0 with the value copied out when the section exists and the key's
    // value is not empty; 0xFFFFFFFF otherwise.
    unsigned int ReadItem(const std::string& section, const std::string& key, std::string& value) const;
    // The next line without its newline, at most 1,023 characters (a longer
    // line comes in pieces); lines that start with a zero byte are passed
    // over. 0, or -1 at the end of the file.
    static int ReadLine(FILE* file, std::string& line);

private:
    std::string m_strPath;
    std::map<std::string, std::map<std::string, std::string>> m_contents;
};
