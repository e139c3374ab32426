// Character-set conversion of texts read from carved documents (titles,
// authors), and the small text fixes the document readers share.
#pragma once

#include <cstddef>
#include <string>

namespace DocCharset {

// Converts length bytes from the named character set to "UTF-8" with an
// output of at most outputCapacity bytes. Empty when the converter cannot be
// opened or the text cannot be converted; a text cut short by the output
// capacity keeps what was converted.
std::string ConvertToUtf8(const char* fromCharset, const unsigned char* text, size_t length, size_t outputCapacity);

// True when the bytes are plain ASCII or UTF-8 sequences of two or three
// bytes (a lead byte too near the end counts as valid).
bool LooksLikeUtf8(const unsigned char* text, size_t length);

// Cuts text to at most maxBytes bytes without splitting a UTF-8 sequence.
void CutUtf8(std::string& text, size_t maxBytes);

// The bytes up to the first zero byte.
std::string UpToZero(const unsigned char* text, size_t length);

}  // namespace DocCharset
