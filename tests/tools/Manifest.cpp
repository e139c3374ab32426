#include "Manifest.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace {

template <class T>
bool ParseNumber(const std::string& text, T& value)
{
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && p == text.data() + text.size();
}

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t at = text.find(sep, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

bool PercentDecode(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        unsigned int v = 0;
        if (i + 2 >= text.size())
            return false;
        auto [p, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, v, 16);
        if (ec != std::errc() || p != text.data() + i + 3)
            return false;
        out += static_cast<char>(v);
        i += 2;
    }
    return true;
}

bool ParseHeader(const std::string& line, Manifest& m)
{
    std::istringstream in(line.substr(1));
    std::string item;
    while (in >> item) {
        auto eq = item.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = item.substr(0, eq), value = item.substr(eq + 1);
        bool ok = true;
        if (key == "fs")
            m.fsName = value;
        else if (key == "sectors_per_unit")
            ok = ParseNumber(value, m.sectorsPerUnit);
        else if (key == "unit_base")
            ok = ParseNumber(value, m.unitBase);
        else if (key == "root")
            ok = ParseNumber(value, m.rootId);
        if (!ok)
            return false;
    }
    return true;
}

bool ParseEntry(const std::string& line, ManifestEntry& e)
{
    std::vector<std::string> f = Split(line, '\t');
    if (f.size() != 11)
        return false;
    int isDir = 0, deleted = 0, compressed = 0;
    if (!ParseNumber(f[0], e.id) || !ParseNumber(f[1], e.parent) || !ParseNumber(f[2], isDir) ||
        !ParseNumber(f[3], deleted) || !ParseNumber(f[4], e.size) || !ParseNumber(f[5], e.ctime) ||
        !ParseNumber(f[6], e.mtime) || !ParseNumber(f[7], e.atime) || !ParseNumber(f[8], compressed) ||
        !PercentDecode(f[9], e.name))
        return false;
    e.isDir = isDir != 0;
    e.deleted = deleted != 0;
    e.compressed = compressed != 0;
    if (!f[10].empty()) {
        for (const std::string& run : Split(f[10], ',')) {
            auto colon = run.find(':');
            long long start = 0, length = 0;
            if (colon == std::string::npos || !ParseNumber(run.substr(0, colon), start) ||
                !ParseNumber(run.substr(colon + 1), length))
                return false;
            e.runs.emplace_back(start, length);
        }
    }
    return true;
}

}  // namespace

enumFILE_SYSTEM_TYPE Manifest::FileSystemType() const
{
    if (fsName == "FAT12")
        return FS_FAT12;
    if (fsName == "FAT16")
        return FS_FAT16;
    if (fsName == "FAT32")
        return FS_FAT32;
    if (fsName == "NTFS")
        return FS_NTFS;
    if (fsName == "exFAT")
        return FS_EXFAT;
    return FS_UNKNOWN;
}

const ManifestEntry* Manifest::Find(const std::string& name) const
{
    for (const ManifestEntry& e : entries)
        if (e.name == name)
            return &e;
    return nullptr;
}

bool LoadManifest(const std::string& path, Manifest& out, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    out = Manifest();
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty())
            continue;
        if (line[0] == '#') {
            if (!ParseHeader(line, out)) {
                error = path + ":" + std::to_string(number) + ": bad header";
                return false;
            }
            continue;
        }
        ManifestEntry e;
        if (!ParseEntry(line, e)) {
            error = path + ":" + std::to_string(number) + ": bad line";
            return false;
        }
        out.entries.push_back(std::move(e));
    }
    return true;
}
