// Copies into fixed zero-terminated text fields.
#pragma once

#include <cstddef>

// Copies src into dst[size], always terminated, cut at a UTF-8 character
// boundary. Returns the number of bytes copied (without the terminator).
size_t CopyTextField(char* dst, size_t size, const char* src);

template <size_t N>
size_t CopyTextField(char (&dst)[N], const char* src)
{
    return CopyTextField(dst, N, src);
}
