// UTF-8 text of names read from carved documents.
#pragma once

#include <cwchar>

namespace zrutf8 {

// Decodes UTF-8 into one wchar_t per code point. 0 when either length is 0
// or the text holds a malformed sequence; a sequence cut off by the source's
// end, or a full target, ends the conversion with the units so far.
unsigned long UTF8ToUNICODE(const unsigned char* source, unsigned long sourceLength, wchar_t* target,
                            unsigned long targetLength);

// Copies the UTF-8 text after the same checks, whole characters only, into
// at most targetLength bytes (terminated when room is left), whatever the
// process locale. Returns the bytes written; 0 for malformed or empty text.
unsigned long UTF8ToANSI(const unsigned char* source, unsigned long sourceLength, char* target,
                         unsigned long targetLength);

}  // namespace zrutf8
