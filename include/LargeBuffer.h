// Buffers of whole scan blocks and more. Their pages come in large units
// where the system allows it: a fresh buffer touched sector by sector would
// otherwise fault once per small page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct LargeBufferFree {
    void operator()(uint8_t* p) const;
};

using LargeBuffer = std::unique_ptr<uint8_t[], LargeBufferFree>;

// Bytes of memory, not cleared; null when there is not that much, or for 0.
LargeBuffer NewLargeBuffer(size_t bytes);
