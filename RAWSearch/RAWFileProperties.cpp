#include "RAWFileProperties.h"

#include <algorithm>
#include <cstddef>

#include "RawFileInfo.h"
#include "ResultCode.h"

namespace {

// Name and time lengths are kept in 8 bits, the terminator included.
unsigned char LengthField(size_t length)
{
    return static_cast<unsigned char>(std::min<size_t>(length + 1, 255));
}

}  // namespace

CRAWFileProperties* CRAWFileProperties::Create()
{
    return new CRAWFileProperties;
}

void CRAWFileProperties::Destory(CRAWFileProperties* properties)
{
    delete properties;
}

CRAWFileProperties::~CRAWFileProperties()
{
    if (m_pDataRuns)
        m_pDataRuns->Release();
}

int CRAWFileProperties::InitRawFileProperties(CRawFileInfo& info)
{
    m_llSize = info.m_llSize;
    SetRawFileTime(info.m_strTime);
    if (m_pDataRuns)
        m_pDataRuns->Release();
    m_pDataRuns = CreateDataRunList();
    DataRun run;
    run.llStart = info.m_llStartSector;
    run.llLength = info.m_llSize > 0 ? (info.m_llSize + 511) / 512 : 0;
    m_pDataRuns->AddDataRun(&run);
    return 1;
}

void CRAWFileProperties::SetRawFileName(const char* pfileName)
{
    VANTREL_ASSERT(NULL != pfileName);
    m_strName = pfileName;
    m_byNameLength = LengthField(m_strName.size());
}

void CRAWFileProperties::SetRawFileTime(std::string text)
{
    m_strTime = std::move(text);
    m_byTimeLength = LengthField(m_strTime.size());
}
