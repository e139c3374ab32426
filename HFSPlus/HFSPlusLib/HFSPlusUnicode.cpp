// Case folding of HFS+ names: letters fold to lower case, the ignorable
// format characters vanish, and U+0000 sorts last. Precomposed letters are
// not folded: HFS+ stores names decomposed.
#include <utility>

#include "HFSPlusBTree.h"

namespace {

struct FoldPair {
    unsigned short from;
    unsigned short to;
};

// Letters of Latin Extended-A and -B whose lower case is not simply the
// next code point, or that have no decomposition.
constexpr FoldPair kLatinFolds[] = {
    {0x0110, 0x0111}, {0x0126, 0x0127}, {0x0132, 0x0133}, {0x013F, 0x0140}, {0x0141, 0x0142},
    {0x014A, 0x014B}, {0x0152, 0x0153}, {0x0166, 0x0167}, {0x0181, 0x0253}, {0x0182, 0x0183},
    {0x0184, 0x0185}, {0x0186, 0x0254}, {0x0187, 0x0188}, {0x0189, 0x0256}, {0x018A, 0x0257},
    {0x018B, 0x018C}, {0x018E, 0x01DD}, {0x018F, 0x0259}, {0x0190, 0x025B}, {0x0191, 0x0192},
    {0x0193, 0x0260}, {0x0194, 0x0263}, {0x0196, 0x0269}, {0x0197, 0x0268}, {0x0198, 0x0199},
    {0x019C, 0x026F}, {0x019D, 0x0272}, {0x019F, 0x0275}, {0x01A2, 0x01A3}, {0x01A4, 0x01A5},
    {0x01A7, 0x01A8}, {0x01A9, 0x0283}, {0x01AC, 0x01AD}, {0x01AE, 0x0288}, {0x01B1, 0x028A},
    {0x01B2, 0x028B}, {0x01B3, 0x01B4}, {0x01B5, 0x01B6}, {0x01B7, 0x0292}, {0x01B8, 0x01B9},
    {0x01BC, 0x01BD}, {0x01C4, 0x01C6}, {0x01C5, 0x01C6}, {0x01C7, 0x01C9}, {0x01C8, 0x01C9},
    {0x01CA, 0x01CC}, {0x01CB, 0x01CC}, {0x01E4, 0x01E5}, {0x01F1, 0x01F3}, {0x01F2, 0x01F3},
    {0x04C3, 0x04C4}, {0x04C7, 0x04C8}, {0x04CB, 0x04CC},
};

bool InRange(unsigned short u, unsigned short first, unsigned short last) { return u >= first && u <= last; }

}  // namespace

unsigned short HFSFoldUnit(unsigned short u)
{
    if (u == 0)
        return 0xFFFF;
    if (InRange(u, 0x200C, 0x200F) || InRange(u, 0x202A, 0x202E) || InRange(u, 0x206A, 0x206F) || u == 0xFEFF)
        return 0;
    if (InRange(u, 'A', 'Z') || u == 0xC6 || u == 0xD0 || u == 0xD8 || u == 0xDE)
        return static_cast<unsigned short>(u + 0x20);
    if (u < 0x100)
        return u;
    for (const FoldPair& pair : kLatinFolds)
        if (pair.from == u)
            return pair.to;
    // Greek capitals without decomposition, and the Coptic pairs.
    if ((InRange(u, 0x0391, 0x03A9) && u != 0x03A2) )
        return static_cast<unsigned short>(u + 0x20);
    if (InRange(u, 0x03E2, 0x03EE) && u % 2 == 0)
        return static_cast<unsigned short>(u + 1);
    // Cyrillic capitals, except the decomposable ones.
    if (u == 0x0402 || InRange(u, 0x0404, 0x0406) || InRange(u, 0x0408, 0x040B) || u == 0x040F)
        return static_cast<unsigned short>(u + 0x50);
    if (InRange(u, 0x0410, 0x042F) && u != 0x0419)
        return static_cast<unsigned short>(u + 0x20);
    if ((InRange(u, 0x0460, 0x0474) || InRange(u, 0x0478, 0x0480) || InRange(u, 0x0490, 0x04BE)) && u % 2 == 0)
        return static_cast<unsigned short>(u + 1);
    if (InRange(u, 0x0531, 0x0556) || InRange(u, 0x10A0, 0x10C5))
        return static_cast<unsigned short>(u + 0x30);
    if (InRange(u, 0x2160, 0x216F))
        return static_cast<unsigned short>(u + 0x10);
    if (InRange(u, 0xFF21, 0xFF3A))
        return static_cast<unsigned short>(u + 0x20);
    return u;
}

namespace {

// The next folded unit that counts, 0 at the end; ":" compares as "/".
unsigned short NextFolded(const unsigned short* s, unsigned short length, unsigned short& at)
{
    while (at < length) {
        unsigned short folded = HFSFoldUnit(s[at++]);
        if (folded != 0)
            return folded == 0x3A ? 0x2F : folded;
    }
    return 0;
}

}  // namespace

int FastUnicodeCompare(const unsigned short* a, unsigned short lengthA, const unsigned short* b,
                       unsigned short lengthB)
{
    unsigned short ia = 0, ib = 0;
    for (;;) {
        const unsigned short ca = NextFolded(a, lengthA, ia);
        const unsigned short cb = NextFolded(b, lengthB, ib);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}
