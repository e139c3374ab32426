#include "IniFile.h"

#include <cstring>
#include <memory>

namespace {

constexpr int kLineBuffer = 1024;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

int CIniFile::Init(const std::string& path)
{
    m_strPath = path;
    return LoadFile();
}

int CIniFile::ReadLine(FILE* file, std::string& line)
{
    char buffer[kLineBuffer];
    for (;;) {
        if (!file || !std::fgets(buffer, sizeof(buffer), file))
            return -1;
        if (buffer[0] == '\0')
            continue;
        size_t len = std::strlen(buffer);
        if (buffer[len - 1] == '\n')
            buffer[--len] = '\0';
        line.assign(buffer, len);
        return 0;
    }
}

int CIniFile::LoadFile()
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(m_strPath.c_str(), "r"));
    if (!file)
        return -1;
    std::string section;
    std::string line;
    while (ReadLine(file.get(), line) == 0) {
        size_t open = line.find('[');
        if (open != std::string::npos) {
            size_t close = line.find(']');
            if (close == std::string::npos)
                return -1;
            section = close > open ? line.substr(open + 1, close - open - 1) : std::string();
            m_contents[section];
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        if (section.empty())
            return -1;
        m_contents[section][line.substr(0, equals)] = line.substr(equals + 1);
    }
    return 0;
}

unsigned int CIniFile::ReadItem(const std::string& section, const std::string& key, std::string& value) const
{
    auto s = m_contents.find(section);
    if (s == m_contents.end())
        return 0xFFFFFFFF;
    auto k = s->second.find(key);
    value = k == s->second.end() ? std::string() : k->second;
    return value.empty() ? 0xFFFFFFFF : 0;
}
