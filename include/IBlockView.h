// A device that shows the sectors of the block the deep scan is at in place,
// without copying them.
#pragma once

#include <cstdint>

class IBlockView {
public:
    // The bytes of sectors [first, first + count) when every one of them lies
    // in the current block and the block was read; null otherwise (the
    // caller then reads them with ReadSector). Valid until the scan moves to
    // the next block.
    virtual const uint8_t* ViewSectors(long long first, long long count) = 0;

protected:
    ~IBlockView() = default;
};
