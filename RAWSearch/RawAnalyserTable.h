// The registration table of the format analysers: which analyser is asked
// about a sector, chosen by the sector's leading bytes.
#pragma once

#include <cstddef>
#include <span>

#include "RawFileAnalyser.h"

enum RAW_ANALYSER_KEY_KIND : int {
    RAW_KEY_4 = 0,         // the first four bytes, little-endian
    RAW_KEY_2 = 1,         // the first two bytes, little-endian
    RAW_EVERY_SECTOR = 2,  // probed on every sector
};

// Makes one analyser object; analyserId is the row's id, which analysers
// that set their own may ignore.
using RawAnalyserFactory = IRawFileAnalyser* (*)(unsigned int analyserId);

struct RawAnalyserRow {
    RAW_ANALYSER_KEY_KIND eKind;
    unsigned int dwKey;
    RawAnalyserFactory pfnCreate;
    unsigned int dwAnalyserID;
};

constexpr unsigned int Key4(unsigned char b0, unsigned char b1, unsigned char b2, unsigned char b3)
{
    return static_cast<unsigned int>(b0) | (static_cast<unsigned int>(b1) << 8) |
           (static_cast<unsigned int>(b2) << 16) | (static_cast<unsigned int>(b3) << 24);
}

constexpr unsigned int Key2(unsigned char b0, unsigned char b1)
{
    return static_cast<unsigned int>(b0) | (static_cast<unsigned int>(b1) << 8);
}

// Stands in for a format whose analyser is not built: carries its row's id
// and accepts no sector.
class NullAnalyser : public IRawFileAnalyser {
public:
    explicit NullAnalyser(unsigned int analyserId) : IRawFileAnalyser(analyserId) {}
};

IRawFileAnalyser* CreateNullAnalyser(unsigned int analyserId);

// Every row in registration order: 81 four-byte keys, 42 two-byte keys and
// 9 every-sector analysers.
std::span<const RawAnalyserRow> GetRawAnalyserRows();
