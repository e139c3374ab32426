// Text of MP3 tags: ID3 sizes, character-set guessing and conversion to
// UTF-8, and the cleaning of text that is not valid UTF-8.
#pragma once

#include <string>

class classMp3Search {
public:
    // The 28-bit ID3 size in 4 bytes, 7 bits each, most significant first.
    // 0 (failure) when any byte has its top bit set.
    static int GetSynchsafeInteger(const unsigned char* bytes, unsigned int* value);
};

namespace mp3text {

// The character set the detector guesses for text; empty when it has no
// guess.
std::string decoding(const std::string& text);
// Converts text from the character set charset to UTF-8 into out. iconv's
// result: -1 on failure (out then holds nothing useful).
long localdecoding(const std::string& text, const std::string& charset, std::string& out);
// UTF-16LE bytes to UTF-8, at most maxBytes bytes of output; false on
// failure.
bool Utf16LeToUtf8(const unsigned char* bytes, size_t length, size_t maxBytes, std::string& out);
// Valid UTF-8 (a sequence cut off by the end counts as valid) is kept up to
// its first NUL. Otherwise every byte of 0x80 or above before the first NUL
// becomes "_", and text made of nothing else becomes empty.
std::string replaceChar(const unsigned char* text, size_t length);
// Text of at most length bytes up to its first NUL.
std::string CText(const unsigned char* text, size_t length);
// Every byte of 0x80 or above becomes "_".
std::string MaskHighBytes(std::string text);
// Converts by a fresh guess of its set; on failure high bytes become "_".
std::string GuessToUtf8(const std::string& text);

}  // namespace mp3text
