#include "RawFileAnalyser.h"

int IRawFileAnalyser::GetRawFileSize(CRawFileInfo&, IStorageDevice*)
{
    return 1;
}

int IRawFileAnalyser::AnalyseBuffer(unsigned char*, CRawFileInfo&)
{
    return 0;
}

std::string IRawFileAnalyser::GetRawFileName()
{
    return std::string();
}

std::string IRawFileAnalyser::GetRawFileTime()
{
    return std::string();
}

CRawFileInfo* IRawFileAnalyser::CreateRawFileInfo()
{
    return new CRawFileInfo;
}

ISpecialRawFileAnalyser* IRawFileAnalyser::GetSpecialRawFile()
{
    return nullptr;
}
