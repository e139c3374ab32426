#include "RawCandidates.h"

std::unique_ptr<CRawFileInfo> MakeCandidate(unsigned int type, long long start, long long size,
                                            const std::string& name, const std::string& time)
{
    auto info = std::make_unique<CRawFileInfo>();
    info->m_dwType = type;
    info->m_llStartSector = start;
    info->m_llSize = size;
    if (!name.empty())
        info->SetRawFileName(name);
    info->m_strTime = time;
    return info;
}

std::unique_ptr<CRawFileInfo> MakeTagged(unsigned int type, int tag, const std::string& value, const std::string& name)
{
    auto info = MakeCandidate(type, 64, 4096, name);
    info->SetRawFileTagAndValue(static_cast<RAW_FILE_TAG>(tag), value);
    return info;
}
