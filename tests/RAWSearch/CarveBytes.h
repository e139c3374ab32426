// Crafted-byte helpers of the drawing, document and image-editor analyser
// tests: byte writers and one carve of a file through the real searcher.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "FileNode.h"
#include "RawAnalyserTable.h"
#include "SearchHarness.h"

namespace carvebytes {

using Bytes = std::vector<unsigned char>;

inline Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// Writes v at at in the given byte order, growing b as needed.
inline void PutLE(Bytes& b, size_t at, uint64_t v, int width)
{
    if (b.size() < at + width)
        b.resize(at + width, 0);
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

inline void PutBE(Bytes& b, size_t at, uint64_t v, int width)
{
    if (b.size() < at + width)
        b.resize(at + width, 0);
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * (width - 1 - i)));
}

inline void PutLE16(Bytes& b, size_t at, uint16_t v) { PutLE(b, at, v, 2); }
inline void PutLE32(Bytes& b, size_t at, uint32_t v) { PutLE(b, at, v, 4); }
inline void PutLE64(Bytes& b, size_t at, uint64_t v) { PutLE(b, at, v, 8); }
inline void PutBE16(Bytes& b, size_t at, uint16_t v) { PutBE(b, at, v, 2); }
inline void PutBE32(Bytes& b, size_t at, uint32_t v) { PutBE(b, at, v, 4); }

// Non-zero filler in [from, to), growing b as needed.
inline void Fill(Bytes& b, size_t from, size_t to, unsigned seed)
{
    std::mt19937 rng(seed);
    if (b.size() < to)
        b.resize(to);
    for (size_t i = from; i < to; ++i)
        b[i] = static_cast<unsigned char>(1 + rng() % 255);
}

// Every file is planted at this sector.
constexpr long long kStart = 3;

struct Carved {
    int files = 0;
    long long size = -1;
    std::string name;
    // The extension folder, or for a labelled file its label kind's folder.
    std::string folder;
    // The label value's folder of a labelled file, else empty.
    std::string label;
};

// Carves file, planted at kStart on a zeroed device, with the registered
// analysers; reports the files that start there.
inline Carved CarveAt(const Bytes& file, unsigned int ss = 512, long long extraSectors = 40)
{
    const long long sectors = kStart + static_cast<long long>(file.size() / ss) + extraSectors;
    SearchHarness h(sectors, ss, GetRawAnalyserRows());
    h.Device().Put(kStart * ss, file);
    h.Run();
    Carved out;
    for (const auto& e : h.Builder().Accepted()) {
        if (e.directory)
            continue;
        auto* node = dynamic_cast<CFileNode*>(e.node);
        if (!node || !node->GetDataRunList() || !node->GetDataRunList()->GetFirst() ||
            node->GetDataRunList()->GetFirst()->llStart != kStart)
            continue;
        ++out.files;
        out.size = e.node->GetFileSize();
        out.name = e.name;
        const auto* parent = h.Builder().FindId(e.parentId, e.type);
        const auto* grand = parent ? h.Builder().FindId(parent->parentId, e.type) : nullptr;
        // A labelled file sits in the label tree alone, in a folder per
        // label value below its label kind's folder.
        if (e.type == SEARCHER_LABEL_RAW) {
            out.label = parent ? parent->name : "";
            out.folder = grand ? grand->name : "";
        } else {
            out.folder = parent ? parent->name : "";
        }
    }
    return out;
}

}  // namespace carvebytes
