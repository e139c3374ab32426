// Buffers of megabytes that a scan streams the device through: read-ahead
// blocks, look-back rings, copy chunks.
//
// They come zero-filled from the system, and in huge pages where the system
// offers them for the asking: each first touch of a 4 KiB page costs a page
// fault, and a deep scan touches tens of megabytes of such buffers before
// it has read its first file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct LargeBufferFree {
    size_t nMapped = 0;  // bytes mapped for it; 0 for a buffer from the heap
    void operator()(uint8_t* buffer) const;
};

using LargeBuffer = std::unique_ptr<uint8_t[], LargeBufferFree>;

// bytes zero bytes (at least one), or null when there is no memory for them.
// Buffers of a huge page or more start on a huge-page boundary.
LargeBuffer AllocateLargeBuffer(size_t bytes);
