#include "Utf16Name.h"

#include <iconv.h>

#include <vector>

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

iconv_t AsIconv(void* cd) { return static_cast<iconv_t>(cd); }

}  // namespace

CUtf16NameConverter::CUtf16NameConverter() : m_cd(iconv_open("UTF-8", "UTF-16LE")) {}

CUtf16NameConverter::~CUtf16NameConverter()
{
    if (IsOpen())
        iconv_close(AsIconv(m_cd));
}

bool CUtf16NameConverter::IsOpen() const { return AsIconv(m_cd) != reinterpret_cast<iconv_t>(-1); }

bool CUtf16NameConverter::Convert(const char16_t* units, size_t count, std::string& out)
{
    out.clear();
    if (!IsOpen())
        return false;
    if (!units || count == 0)
        return true;

    // Little-endian bytes for the converter, with every unpaired surrogate
    // replaced: iconv refuses them and would drop the rest of the name.
    std::vector<char> in(count * 2);
    for (size_t i = 0; i < count; ++i) {
        char16_t u = units[i];
        if (IsHighSurrogate(u)) {
            if (i + 1 < count && IsLowSurrogate(units[i + 1])) {
                in[2 * i] = static_cast<char>(u & 0xFF);
                in[2 * i + 1] = static_cast<char>(u >> 8);
                ++i;
                u = units[i];
            } else {
                u = kReplacement;
            }
        } else if (IsLowSurrogate(u)) {
            u = kReplacement;
        }
        in[2 * i] = static_cast<char>(u & 0xFF);
        in[2 * i + 1] = static_cast<char>(u >> 8);
    }

    // A unit gives at most 3 UTF-8 bytes (a pair, 4 bytes for 2 units).
    std::vector<char> buf(count * 3 + 4);
    iconv(AsIconv(m_cd), nullptr, nullptr, nullptr, nullptr);  // fresh state
    char* ip = in.data();
    size_t il = in.size();
    char* op = buf.data();
    size_t ol = buf.size();
    if (iconv(AsIconv(m_cd), &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0)
        return false;
    out.assign(buf.data(), static_cast<size_t>(op - buf.data()));
    return true;
}

bool CUtf16NameAssembler::Prepend(const char16_t* units, size_t count)
{
    if (count > m_maxUnits - m_units.size())
        return false;
    m_units.insert(0, units, count);
    return true;
}

bool CUtf16NameAssembler::Append(const char16_t* units, size_t count)
{
    if (count > m_maxUnits - m_units.size())
        return false;
    m_units.append(units, count);
    return true;
}
