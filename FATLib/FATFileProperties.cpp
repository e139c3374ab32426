#include "FATFileProperties.h"

#include <cstring>
#include <ctime>
#include <new>

namespace {

constexpr long long kFileTimeOf1970 = 116444736000000000LL;
constexpr long long kTicksPerSecond = 10000000LL;

}  // namespace

_FILETIME SecondsSince1970ToFileTime(long long seconds)
{
    long long ticks = seconds * kTicksPerSecond + kFileTimeOf1970;
    return U64ToFileTime(ticks < 0 ? 0 : static_cast<unsigned long long>(ticks));
}

int DosDateTimeToFileTime(unsigned short date, unsigned short time, _FILETIME* out)
{
    if (!out)
        return 0;
    // Day 0 and month 0 are not special: the local-time conversion
    // normalises them (a date word 0 is 30 November 1979).
    struct tm t {};
    t.tm_sec = 2 * (time & 0x1F);
    t.tm_min = (time >> 5) & 0x3F;
    t.tm_hour = time >> 11;
    t.tm_mday = date & 0x1F;
    t.tm_mon = ((date >> 5) & 0x0F) - 1;
    t.tm_year = 80 + (date >> 9);
    t.tm_isdst = -1;
    *out = SecondsSince1970ToFileTime(static_cast<long long>(mktime(&t)));
    return 1;
}

CFATFileProperties::CFATFileProperties(const CFATFilePropertiesStruct& fields)
    : m_s64FileSize(fields.s64FileSize),
      m_wAttribute(fields.wAttribute),
      m_ftCreationTime(fields.ftCreationTime),
      m_ftModificationTime(fields.ftModificationTime),
      m_ftLastAccessTime(fields.ftLastAccessTime),
      m_ucState(fields.ucState),
      m_s64FirstClusterNum(fields.s64FirstClusterNum),
      m_s64ParentFirstClusterNum(fields.s64ParentFirstClusterNum),
      m_s64MetaDataSector(fields.s64MetaDataSector)
{
    SetFileName(fields.pszFileName);
    if (fields.pDataRunList)
        m_pDataRunList = fields.pDataRunList->Clone();
}

CFATFileProperties::~CFATFileProperties()
{
    if (m_pDataRunList)
        m_pDataRunList->Release();
}

CFATFileProperties& CFATFileProperties::operator=(const CFATFileProperties& other)
{
    if (this == &other)
        return *this;
    SetFileName(other.m_pszFileName.get());
    m_ucState = other.m_ucState;
    m_wAttribute = other.m_wAttribute;
    m_s64FirstClusterNum = other.m_s64FirstClusterNum;
    m_s64ParentFirstClusterNum = other.m_s64ParentFirstClusterNum;
    m_ftCreationTime = other.m_ftCreationTime;
    m_ftModificationTime = other.m_ftModificationTime;
    m_ftLastAccessTime = other.m_ftLastAccessTime;
    m_s64FileSize = other.m_s64FileSize;
    return *this;
}

CFATFileProperties* CFATFileProperties::Create() { return new (std::nothrow) CFATFileProperties; }

void CFATFileProperties::Destory(CFATFileProperties* record) { delete record; }

void CFATFileProperties::SetFileName(const char* text)
{
    if (!text) {
        m_pszFileName.reset();
        m_wFileNameLength = 0;
        return;
    }
    size_t len = std::strlen(text);
    std::unique_ptr<char[]> copy(new char[len + 1]);
    std::memcpy(copy.get(), text, len + 1);
    m_pszFileName = std::move(copy);
    m_wFileNameLength = static_cast<unsigned short>(len);
}

IFileProperties* CFATFileProperties::Clone()
{
    auto* clone = new (std::nothrow) CFATFileProperties;
    if (!clone)
        return nullptr;
    *clone = *this;
    clone->m_s64MetaDataSector = m_s64MetaDataSector;
    if (m_pDataRunList)
        clone->m_pDataRunList = m_pDataRunList->Clone();
    return clone;
}

void CFATFileProperties::SetCreationTime(unsigned short date, unsigned short time)
{
    DosDateTimeToFileTime(date, time, &m_ftCreationTime);
}

void CFATFileProperties::SetModificationTime(unsigned short date, unsigned short time)
{
    DosDateTimeToFileTime(date, time, &m_ftModificationTime);
}

void CFATFileProperties::SetLastAccessTime(unsigned short date) { DosDateTimeToFileTime(date, 0, &m_ftLastAccessTime); }
