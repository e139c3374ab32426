// One step of a streaming structure walk: the record the walk needs next,
// or what the candidate answers the searcher when it is not in memory.
#pragma once

#include "RawRecordAccess.h"

// 0 with *bytes set when length bytes at fileOffset of info's file are in
// memory; 2 (feed more sectors) when they lie ahead; 1 with info's size
// cleared when they are gone, so that the owner sizes the file instead.
inline int NeedRawRecord(CRawFileInfo& info, const CRawFileInfo::SearchContext& context, long long fileOffset,
                         long long length, const unsigned char** bytes)
{
    switch (LocateRawRecord(context, info.m_llStartSector, fileOffset, length, bytes)) {
    case RawRecordPlace::InMemory:
        return 0;
    case RawRecordPlace::NotYet:
        return 2;
    case RawRecordPlace::Gone:
        break;
    }
    info.m_llSize = 0;
    return 1;
}
