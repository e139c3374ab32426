#include "FATTableAnalyser.h"

#include "FATTable.h"

int CFATTableAnalyser::IsValidFATTableFirstSector(const uint8_t* bytes, size_t length, enumFILE_SYSTEM_TYPE* type)
{
    enumFILE_SYSTEM_TYPE found = FS_UNKNOWN;
    if (CFAT32Table::IsHeader(bytes, length))
        found = FS_FAT32;
    else if (CFAT16Table::IsHeader(bytes, length))
        found = FS_FAT16;
    if (found == FS_UNKNOWN)
        return 0;
    if (type)
        *type = found;
    return 1;
}
