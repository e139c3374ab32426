#include "DwgAnalyser.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "RawRecordAccess.h"
#include "RawWalkRecord.h"

namespace {

uint64_t ReadLE64(const unsigned char* p)
{
    return static_cast<uint64_t>(RawReadLE32(p)) | (static_cast<uint64_t>(RawReadLE32(p + 4)) << 32);
}

unsigned int GenerationOf(const unsigned char* p)
{
    const std::string_view v(reinterpret_cast<const char*>(p), 6);
    if (v == "AC1015" || v == "AC1014" || v == "AC1013" || v == "AC1012")
        return BruteForce::CDWGRawInfo::kLocators;
    if (v == "AC1018" || v == "AC1024" || v == "AC1027")
        return BruteForce::CDWGRawInfo::kScrambled;
    if (v == "AC1021")
        return BruteForce::CDWGRawInfo::kInterleaved;
    return BruteForce::CDWGRawInfo::kUnknown;
}

// One piece of a literal remainder: count bytes from src + from, reversed
// when set.
struct Piece {
    unsigned char from;
    unsigned char count;
    bool reversed;
};

// The fixed byte orders of literal remainders of 1 to 31 bytes.
const std::initializer_list<Piece> kRemainders[32] = {
    {},
    {{0, 1, false}},
    {{0, 2, true}},
    {{0, 3, true}},
    {{0, 4, false}},
    {{4, 1, false}, {0, 4, false}},
    {{5, 1, false}, {1, 4, false}, {0, 1, false}},
    {{5, 2, true}, {1, 4, false}, {0, 1, false}},
    {{0, 8, false}},
    {{8, 1, false}, {0, 8, false}},
    {{9, 1, false}, {1, 8, false}, {0, 1, false}},
    {{9, 2, true}, {1, 8, false}, {0, 1, false}},
    {{8, 4, false}, {0, 8, false}},
    {{12, 1, false}, {8, 4, false}, {0, 8, false}},
    {{13, 1, false}, {9, 4, false}, {1, 8, false}, {0, 1, false}},
    {{13, 2, true}, {9, 4, false}, {1, 8, false}, {0, 1, false}},
    {{8, 8, false}, {0, 8, false}},
    {{9, 8, false}, {8, 1, false}, {0, 8, false}},
    {{17, 1, false}, {9, 8, false}, {1, 8, false}, {0, 1, false}},
    {{16, 3, true}, {8, 8, false}, {0, 8, false}},
    {{16, 4, false}, {8, 8, false}, {0, 8, false}},
    {{20, 1, false}, {16, 4, false}, {8, 8, false}, {0, 8, false}},
    {{20, 2, true}, {16, 4, false}, {8, 8, false}, {0, 8, false}},
    {{20, 3, true}, {16, 4, false}, {8, 8, false}, {0, 8, false}},
    {{16, 8, false}, {8, 8, false}, {0, 8, false}},
    {{17, 8, false}, {16, 1, false}, {8, 8, false}, {0, 8, false}},
    {{25, 1, false}, {17, 8, false}, {16, 1, false}, {8, 8, false}, {0, 8, false}},
    {{25, 2, true}, {17, 8, false}, {16, 1, false}, {8, 8, false}, {0, 8, false}},
    {{24, 4, false}, {16, 8, false}, {8, 8, false}, {0, 8, false}},
    {{28, 1, false}, {24, 4, false}, {16, 8, false}, {8, 8, false}, {0, 8, false}},
    {{28, 2, true}, {24, 4, false}, {16, 8, false}, {8, 8, false}, {0, 8, false}},
    {{30, 1, false}, {26, 4, false}, {18, 8, false}, {10, 8, false}, {2, 8, false}, {0, 2, true}},
};

// Appends the literal run src[0, length) in the scheme's byte order, as far
// as the output has room; false when the run does not fit whole.
bool CopyLiteral(const unsigned char* src, size_t length, unsigned char* out, size_t& produced, size_t outLength)
{
    auto put = [&](const unsigned char* from, size_t count, bool reversed) {
        for (size_t i = 0; i < count && produced < outLength; ++i)
            out[produced++] = reversed ? from[count - 1 - i] : from[i];
    };
    while (length >= 32) {
        for (int quarter = 3; quarter >= 0; --quarter)
            put(src + 8 * quarter, 8, false);
        src += 32;
        length -= 32;
    }
    for (const Piece& piece : kRemainders[length])
        put(src + piece.from, piece.count, piece.reversed);
    return produced < outLength;
}

}  // namespace

IRawFileAnalyser* CreateDWGAnalyser(unsigned int)
{
    return new BruteForce::CDWGAnalyser;
}

namespace BruteForce {

int CDWGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    static const char* const kVersions[] = {"AC1027", "AC1024", "AC1021", "AC1018", "AC1015",
                                            "AC1014", "AC1013", "AC1012", "AC1009"};
    for (const char* version : kVersions) {
        if (std::memcmp(sector, version, 6) == 0) {
            info.m_dwType = kType;
            return 1;
        }
    }
    return 0;
}

CRawFileInfo* CDWGAnalyser::CreateRawFileInfo()
{
    return new CDWGRawInfo;
}

long long DwgScrambledHeaderSize(const unsigned char* header)
{
    unsigned char decoded[CDWGRawInfo::kScrambledLength];
    uint32_t x = 1;
    for (int i = 0; i < CDWGRawInfo::kScrambledLength; ++i) {
        x = x * 214013u + 2531011u;
        decoded[i] = static_cast<unsigned char>(header[i] ^ static_cast<unsigned char>(x >> 16));
    }
    if ((decoded[11] | decoded[12] | decoded[13] | decoded[14]) != 0 || RawReadLE32(decoded + 16) != 0x6C ||
        RawReadLE32(decoded + 20) != 4 || RawReadLE32(decoded + 68) != 32 || RawReadLE32(decoded + 72) != 0x80 ||
        RawReadLE32(decoded + 76) != 0x40)
        return 0;
    const uint64_t size = ReadLE64(decoded + 52) + CDWGRawInfo::kScrambledLength;
    return size > static_cast<uint64_t>(CDWGAnalyser::kMaxSize) ? 0 : static_cast<long long>(size);
}

size_t DwgDecompress2007(const unsigned char* src, size_t srcLength, unsigned char* out, size_t outLength)
{
    size_t produced = 0;
    size_t at = 0;
    auto next = [&](unsigned int& byte) {
        if (at >= srcLength)
            return false;
        byte = src[at++];
        return true;
    };
    unsigned int op = 0;
    if (!next(op))
        return 0;
    size_t literal = 0;
    if ((op >> 4) == 2) {
        // Bytes 0-3 are skipped; the low bits of the last give the first
        // literal count.
        at = 3;
        unsigned int b = 0;
        if (!next(b))
            return 0;
        literal = b & 7;
    }
    // Every round consumes input, so the loop ends with the input.
    while (at < srcLength && produced < outLength) {
        if (literal == 0) {
            literal = op + 8;
            if (literal == 0x17) {
                unsigned int n = 0;
                if (!next(n))
                    break;
                literal += n;
                if (n == 0xFF) {
                    do {
                        unsigned int lo = 0;
                        unsigned int hi = 0;
                        if (!next(lo) || !next(hi))
                            return produced;
                        n = lo | (hi << 8);
                        literal += n;
                    } while (n == 0xFFFF);
                }
            }
        }
        if (literal > srcLength - at)
            break;
        if (!CopyLiteral(src + at, literal, out, produced, outLength))
            break;
        at += literal;
        literal = 0;
        if (!next(op))
            break;
        // Match instructions, each followed by op & 7 literal bytes.
        for (;;) {
            size_t length = 0;
            size_t offset = 0;
            unsigned int b0 = 0;
            unsigned int b1 = 0;
            switch (op >> 4) {
            case 0:
                if (!next(b0) || !next(b1))
                    return produced;
                length = (op & 0x0F) + 0x13 + ((b1 >> 3) & 0x10);
                offset = b0 + ((b1 & 0x78) << 5) + 1;
                op = b1;
                break;
            case 1:
                if (!next(b0) || !next(b1))
                    return produced;
                length = (op & 0x0F) + 3;
                offset = b0 + ((b1 & 0xF8) << 5) + 1;
                op = b1;
                break;
            case 2: {
                if (!next(b0) || !next(b1))
                    return produced;
                offset = b0 | (b1 << 8);
                unsigned int b2 = 0;
                if (!next(b2))
                    return produced;
                if ((op & 8) == 0) {
                    length = (op & 7) + (b2 & 0xF8);
                    op = b2;
                } else {
                    unsigned int b3 = 0;
                    if (!next(b3))
                        return produced;
                    offset += 1;
                    length = (op & 7) + 8 * b2 + 0x100 + 0x100 * (b3 & 0xF8);
                    op = b3;
                }
                break;
            }
            default:
                if (!next(b0))
                    return produced;
                length = op >> 4;
                offset = (op & 0x0F) + ((b0 & 0xF8) << 1) + 1;
                op = b0;
                break;
            }
            if (offset == 0 || offset > produced)
                return produced;
            for (size_t i = 0; i < length && produced < outLength; ++i, ++produced)
                out[produced] = out[produced - offset];
            if (produced >= outLength)
                return produced;
            literal = op & 7;
            if (literal != 0 || at >= srcLength)
                break;
            if (!next(op))
                return produced;
            if ((op >> 4) == 0)
                break;
            if ((op >> 4) == 0x0F)
                op &= 0x0F;
        }
    }
    return produced;
}

long long DwgInterleavedHeaderSize(const unsigned char* collected, size_t length)
{
    constexpr size_t kBlock = 239;
    if (!collected || length < 3 * kBlock)
        return 0;
    unsigned char data[3 * kBlock];
    for (size_t k = 0; k < 3; ++k)
        for (size_t i = 0; i < kBlock; ++i)
            data[k * kBlock + i] = collected[3 * i + k];
    unsigned char out[272] = {};
    const int32_t compressed = static_cast<int32_t>(RawReadLE32(data + 24));
    size_t produced = 0;
    if (compressed > 0) {
        // The size lies in the first 32 bytes of the output.
        produced = DwgDecompress2007(data + 32, 32, out, 32);
    } else {
        std::memcpy(out, data + 32, sizeof(out));
        produced = sizeof(out);
    }
    if (produced < 16)
        return 0;
    const uint64_t size = ReadLE64(out + 8);
    return size > static_cast<uint64_t>(CDWGAnalyser::kMaxSize) ? 0 : static_cast<long long>(size);
}

int CDWGRawInfo::Finish(long long size)
{
    m_llSize = size > CDWGAnalyser::kMaxSize || size < 0 ? 0 : size;
    return 1;
}

int CDWGRawInfo::WalkLocators(SearchContext& context)
{
    const unsigned char* p = nullptr;
    if (!m_bCountRead) {
        if (const int answer = NeedRawRecord(*this, context, m_iLocatorPos, 4, &p))
            return answer;
        m_iRecordCount = static_cast<int>(RawReadLE32(p));
        m_iLocatorPos += 4;
        m_bCountRead = true;
    }
    // Record numbers are single bytes: a count past 256 cannot hold.
    while (m_iRecordsRead < m_iRecordCount) {
        if (const int answer = NeedRawRecord(*this, context, m_iLocatorPos, kLocatorRecord, &p))
            return answer;
        if (p[0] != m_iRecordsRead)
            return Finish(0);
        const long long end = static_cast<long long>(RawReadLE32(p + 1)) + RawReadLE32(p + 5);
        m_llSize = std::max(m_llSize, end);
        m_iLocatorPos += kLocatorRecord;
        ++m_iRecordsRead;
    }
    return Finish(m_llSize);
}

int CDWGRawInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber, SearchContext& context)
{
    if (!sector || sectorSize < 512 || sectorNumber < m_llStartSector)
        return 2;
    if (m_dwGeneration == kUnknown) {
        m_dwGeneration = GenerationOf(sector);
        if (m_dwGeneration == kUnknown)
            return Finish(0);
    }
    const unsigned char* p = nullptr;
    switch (m_dwGeneration) {
    case kLocators:
        return WalkLocators(context);
    case kScrambled:
        // The scrambled header lies inside the first sector.
        return Finish(DwgScrambledHeaderSize(sector + kHeaderAt));
    default:
        if (const int answer = NeedRawRecord(*this, context, kHeaderAt, kInterleavedLength, &p))
            return answer;
        std::memcpy(m_byCollected, p, kInterleavedLength);
        m_iCollected = kInterleavedLength;
        m_iLeftToCollect = 0;
        return Finish(DwgInterleavedHeaderSize(m_byCollected, static_cast<size_t>(m_iCollected)));
    }
}

}  // namespace BruteForce
