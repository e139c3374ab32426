// Times of carved files: the time text read from the contents, turned into
// a file time (100-ns units since 1601).
#include <cctype>
#include <cstdlib>
#include <ctime>

#include "RAWFileNode.h"

namespace {

constexpr long long kSecondsFrom1601To1970 = 11644473600LL;

bool IsDecimal(const std::string& part)
{
    if (part.empty())
        return false;
    for (char c : part)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

}  // namespace

bool CRAWFileNode::FileTimeStructs(std::string text, std::vector<std::string>& parts)
{
    parts.clear();
    if (text.size() < 2)
        return false;
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return false;
    std::string part;
    for (size_t i = first; i < text.size(); ++i) {
        char c = text[i];
        if (c == ' ' || c == '-' || c == ':') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts.size() >= 6;
}

std::string CRAWFileNode::TimeTextOfName(const std::string& name)
{
    std::string text = name;
    for (char& c : text)
        if (c == '_')
            c = ':';
    std::vector<std::string> parts;
    if (!FileTimeStructs(text, parts))
        return std::string();
    for (size_t i = 0; i < 6; ++i)
        if (!IsDecimal(parts[i]))
            return std::string();
    return text;
}

unsigned long long CRAWFileNode::TimeTextToFileTime(const std::string& text)
{
    std::vector<std::string> parts;
    if (!FileTimeStructs(text, parts))
        return 0;
    long v[6];
    for (int i = 0; i < 6; ++i)
        v[i] = std::strtol(parts[i].c_str(), nullptr, 10);
    // Unset or damaged fields ("0000:00:00 00:00:00") mean no time.
    if (v[0] < 1601 || v[0] > 30827 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] < 0 ||
        v[3] > 23 || v[4] < 0 || v[4] > 59 || v[5] < 0 || v[5] > 60)
        return 0;
    std::tm tm{};
    tm.tm_year = static_cast<int>(v[0] - 1900);
    tm.tm_mon = static_cast<int>(v[1] - 1);
    tm.tm_mday = static_cast<int>(v[2]);
    tm.tm_hour = static_cast<int>(v[3]);
    tm.tm_min = static_cast<int>(v[4]);
    tm.tm_sec = static_cast<int>(v[5]);
    tm.tm_isdst = 0;
    const long long t = static_cast<long long>(std::mktime(&tm));
    if (t == -1 || t < -kSecondsFrom1601To1970)
        return 0;
    return static_cast<unsigned long long>(t + kSecondsFrom1601To1970) * 10000000ULL;
}
