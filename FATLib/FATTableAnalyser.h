// Deep-scan tests on FAT contents.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EngineTypes.h"

class CFATTableAnalyser {
public:
    // Whether bytes[length] start like a FAT32 (type 2, tested first) or a
    // FAT16 (type 1) table; FAT12 is never reported. 1 when recognised.
    static int IsValidFATTableFirstSector(const uint8_t* bytes, size_t length, enumFILE_SYSTEM_TYPE* type);
    // 2 <= cluster <= 0x0FFFFFEF.
    static bool IsUsedCluster(unsigned long long cluster) { return cluster >= 2 && cluster <= 0x0FFFFFEF; }
};
