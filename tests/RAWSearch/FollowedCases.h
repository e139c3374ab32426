// The end rules' cases: a file followed by zeros, random bytes, a file of
// its own type or another, or cut short, carved at 512- and 4096-byte
// sectors through the searcher with every analyser.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RawAnalyserTable.h"
#include "SearchHarness.h"

namespace followed {

using Bytes = std::vector<unsigned char>;

struct Case {
    const char* what;
    Bytes file;
    Bytes after;
    // The size the carved file must have; -1: the file's own size.
    long long size = -1;
    // Cut short: at least its bytes and nothing of the file after it.
    bool cut = false;
};

// n bytes of a fixed pseudo-random sequence; without zero bytes unless
// zeros is set.
inline Bytes Noise(size_t n, unsigned seed, bool zeros = false)
{
    Bytes b(n);
    unsigned long long state = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (auto& x : b) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        x = static_cast<unsigned char>(zeros ? state : 1 + state % 255);
    }
    return b;
}

// The start of a PDF, found by its own analyser.
inline Bytes PdfHead()
{
    const std::string head = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
    Bytes b(3000, ' ');
    std::copy(head.begin(), head.end(), b.begin());
    return b;
}

inline void ExpectEnds(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        for (unsigned int ss : {512u, 4096u}) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(ss));
            const FollowedCarve carved = CarveFollowed(c.file, c.after, ss, GetRawAnalyserRows());
            if (!c.cut) {
                EXPECT_EQ(carved.file.size, c.size >= 0 ? c.size : static_cast<long long>(c.file.size()));
                continue;
            }
            EXPECT_GE(carved.file.size, static_cast<long long>(c.file.size()));
            EXPECT_LE(carved.file.size, (carved.nextSector - FollowedCarve::kFollowedStart) * ss)
                << "holds the next file's head";
        }
    }
}

}  // namespace followed
