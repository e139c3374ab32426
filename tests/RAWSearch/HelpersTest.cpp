#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "RawUtility.h"
#include "ZrUtf8.h"

namespace {

using BruteForce::RawUtility;

std::vector<unsigned char> Bytes(std::initializer_list<int> v)
{
    return std::vector<unsigned char>(v.begin(), v.end());
}

TEST(rawHelpers, ByteOrder)
{
    const unsigned char p[] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(static_cast<uint32_t>(RawUtility::EXIF_Get32s(p, true)), 0x04030201u);
    EXPECT_EQ(static_cast<uint32_t>(RawUtility::EXIF_Get32s(p, false)), 0x01020304u);
    EXPECT_EQ(RawUtility::EXIF_Get16s(p, true), 0x0201);
    EXPECT_EQ(RawUtility::EXIF_Get16s(p, false), 0x0102);
    const unsigned char neg[] = {0xFF, 0xFF, 0xFF, 0xFE};
    EXPECT_EQ(RawUtility::EXIF_Get32s(neg, false), -2);
}

TEST(rawHelpers, BinaryCompare)
{
    struct Case {
        std::vector<unsigned char> bytes;
        int expect;
    };
    const Case cases[] = {
        {Bytes({1, 1, 0, 0}), 2},
        {Bytes({1, 1, 1, 0, 0, 0, 0, 0}), 4},
        {Bytes({0, 0, 0, 0, 0, 0, 0, 0}), 0},
        {Bytes({1, 1, 1, 1}), 4},
        {Bytes({7}), 1},
        {Bytes({0, 0, 5, 0}), 4},  // one byte past the data, as bisection may give
    };
    for (const Case& c : cases)
        EXPECT_EQ(RawUtility::Binary_Compare(c.bytes.data(), static_cast<int>(c.bytes.size())), c.expect);
    EXPECT_EQ(RawUtility::Binary_Compare(nullptr, 4), 0);
    EXPECT_EQ(RawUtility::Binary_Compare(cases[0].bytes.data(), 0), 0);
}

TEST(rawHelpers, FindMagicSearchesBackwards)
{
    const std::string text = "xxEND..END..E";
    const auto* buf = reinterpret_cast<const unsigned char*>(text.data());
    const int len = static_cast<int>(text.size());
    const unsigned char end[] = {'E', 'N', 'D'};
    const unsigned char zeroLed[] = {0, 'E'};
    struct Case {
        int back;
        const unsigned char* magic;
        int magicLength;
        int expect;
    };
    const Case cases[] = {
        {0, end, 3, 10},   // the last whole match; the trailing "E" cannot match
        {4, end, 3, 10},   // starts at offset 9, the match itself
        {6, end, 3, 10},   // starts inside the last match
        {7, end, 3, 5},    // starts before the last match
        {len, end, 3, 0},  // only offset 0 is searched
        {len + 1, end, 3, 0},
        {0, zeroLed, 2, 0},
        {0, end, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RawUtility::FindMagicInBuffer(buf, len, c.back, c.magic, c.magicLength), c.expect) << c.back;
    const unsigned char withZero[] = {0, 'E', 0, 'E'};
    EXPECT_EQ(RawUtility::FindMagicInBuffer(withZero, 4, 0, zeroLed, 2), 0);
}

// Converts under a given locale; names read from documents must not depend
// on it.
std::string ToAnsi(const std::string& in, const char* locale, unsigned long room = 256)
{
    std::string saved = setlocale(LC_ALL, nullptr);
    setlocale(LC_ALL, locale);
    std::vector<char> out(room + 1, 'Z');
    unsigned long n = zrutf8::UTF8ToANSI(reinterpret_cast<const unsigned char*>(in.data()), in.size(), out.data(), room);
    setlocale(LC_ALL, saved.c_str());
    return std::string(out.data(), n);
}

TEST(rawHelpers, Utf8Conversions)
{
    const std::string title = "Pr\xC3\xBC" "fung \xF0\x9F\x93\xB7";  // "Prüfung 📷"
    for (const char* locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        EXPECT_EQ(ToAnsi(title, locale), title);
        EXPECT_EQ(ToAnsi("ab\xC3\x28", locale), "");  // invalid continuation byte
        EXPECT_EQ(ToAnsi("", locale), "");
    }
    EXPECT_EQ(ToAnsi(title, "C", 4), "Pr\xC3\xBC");  // whole characters only
    EXPECT_EQ(ToAnsi(title, "C", 3), "Pr");
    EXPECT_EQ(ToAnsi(std::string("ab\0cd", 5), "C"), "ab");
    EXPECT_EQ(ToAnsi("\xED\xA0\x80", "C"), "");  // a UTF-16 surrogate
    EXPECT_EQ(ToAnsi("\xC0\xAF", "C"), "");      // an overlong "/"

    struct Case {
        std::string in;
        std::vector<wchar_t> out;
    };
    const Case cases[] = {
        {title, {L'P', L'r', 0xFC, L'f', L'u', L'n', L'g', L' ', 0x1F4F7}},
        {"ab\xC3\x28", {}},
        {"\x80", {}},
        {"ab\xE2\x82", {L'a', L'b'}},  // cut off by the end: what came before
        {"a\xF4\x90\x80\x80", {}},     // beyond Unicode after a short text
    };
    for (const Case& c : cases) {
        wchar_t out[64] = {};
        unsigned long n = zrutf8::UTF8ToUNICODE(reinterpret_cast<const unsigned char*>(c.in.data()), c.in.size(), out, 64);
        EXPECT_EQ(std::vector<wchar_t>(out, out + n), c.out) << c.in;
    }
    wchar_t small[3];
    EXPECT_EQ(zrutf8::UTF8ToUNICODE(reinterpret_cast<const unsigned char*>(title.data()), title.size(), small, 3), 3u);
    EXPECT_EQ(zrutf8::UTF8ToUNICODE(reinterpret_cast<const unsigned char*>(title.data()), 0, small, 3), 0u);
}

}  // namespace
