// Sizes a file made of length-prefixed boxes (the ISO base media layout of
// MOV, MP4 and 3GP) by walking its top-level boxes.
#pragma once

#include "RawFileInfo.h"

class IStorageDevice;

// Byte swap of a 32-bit value.
int DWORDBigEndian2LittleEndian(int value);

class CRawBoxFileAnalyser {
public:
    static constexpr int kMaxBoxes = 500;

    // Sets info's size to the end of the last box the walk accepts and
    // returns true; false (no size set) when the file does not start with a
    // box, a 64-bit "mdat" has no usable size, or nothing was walked.
    bool GetFileSize(CRawFileInfo& info, IStorageDevice* device);

    // The big-endian 32-bit size at a box's first byte; true when positive.
    bool GetBoxSize(char* box, int& size);
    // The big-endian 64-bit size at largeSize (a box's bytes 8 to 15, when
    // its 32-bit size is 1); true when positive.
    bool GetBoxSizeEx(char* largeSize, long long& size);
};
