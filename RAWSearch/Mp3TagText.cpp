#include "Mp3TagText.h"

#include <chardet.h>

#include "DocCharset.h"

int classMp3Search::GetSynchsafeInteger(const unsigned char* bytes, unsigned int* value)
{
    unsigned int result = 0;
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] & 0x80)
            return 0;
        result = (result << 7) | bytes[i];
    }
    *value = result;
    return 1;
}

namespace mp3text {

namespace {

// Converts to UTF-8 into out; -1 when the set is unknown or the text is not
// in it.
long Convert(const char* from, const char* data, size_t length, size_t maxBytes, std::string& out)
{
    out = DocCharset::ConvertToUtf8(from, reinterpret_cast<const unsigned char*>(data), length, maxBytes);
    return out.empty() && length != 0 ? -1 : 0;
}

}  // namespace

std::string decoding(const std::string& text)
{
    DetectObj* obj = detect_obj_init();
    if (!obj)
        return std::string();
    std::string guess;
    const short rc = detect(text.c_str(), &obj);
    if (rc != CHARDET_NULL_OBJECT && rc != CHARDET_OUT_OF_MEMORY && obj && obj->confidence > 0 && obj->encoding)
        guess = obj->encoding;
    detect_obj_free(&obj);
    return guess;
}

long localdecoding(const std::string& text, const std::string& charset, std::string& out)
{
    if (charset.empty())
        return -1;
    // Four output bytes per input byte hold any single-byte set's text.
    return Convert(charset.c_str(), text.data(), text.size(), text.size() * 4 + 4, out);
}

bool Utf16LeToUtf8(const unsigned char* bytes, size_t length, size_t maxBytes, std::string& out)
{
    return Convert("UTF-16LE", reinterpret_cast<const char*>(bytes), length, maxBytes, out) != -1;
}

std::string CText(const unsigned char* text, size_t length)
{
    return DocCharset::UpToZero(text, length);
}

std::string MaskHighBytes(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '_';
    return text;
}

std::string replaceChar(const unsigned char* text, size_t length)
{
    bool valid = true;
    for (size_t i = 0; i < length && valid;) {
        const unsigned char c = text[i];
        size_t need = 0;
        if (c < 0x80)
            need = 0;
        else if (c <= 0xBF || c > 0xEF)
            valid = false;
        else
            need = c >= 0xE0 ? 2 : 1;
        for (size_t k = 1; valid && k <= need && i + k < length; ++k)
            valid = text[i + k] >= 0x80 && text[i + k] <= 0xBF;
        i += need + 1;
    }
    std::string kept = CText(text, length);
    if (valid)
        return kept;
    bool allReplaced = !kept.empty();
    for (char& c : kept) {
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '_';
        else
            allReplaced = false;
    }
    return allReplaced ? std::string() : kept;
}

std::string GuessToUtf8(const std::string& text)
{
    std::string out;
    if (localdecoding(text, decoding(text), out) == -1)
        return MaskHighBytes(text);
    return out;
}

}  // namespace mp3text
