#include "Mp3Analyser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "FileNameFilter.h"
#include "Mp3TagText.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"

IRawFileAnalyser* CreateMP3Analyzer(unsigned int)
{
    return new BruteForce::MP3Analyzer;
}

uint32_t Mp3FrameLength(const unsigned char* p, CMPAHeader* header)
{
    if (!CMPAHeader::IsFrameSync(p))
        return 0;
    CMPAHeader local;
    CMPAHeader& h = header ? *header : local;
    if (!h.Init(p))
        return 0;
    const uint32_t length = h.CalcFrameSize();
    return length >= 1 && length <= FileMP3Analyser::kMaxFrame ? length : 0;
}

void ReadId3v1(const unsigned char* tag, std::string& title, std::string& artist)
{
    auto field = [](const unsigned char* text) {
        const std::string raw = mp3text::CText(text, 30);
        const std::string utf8 = mp3text::GuessToUtf8(raw);
        const std::string clean =
            mp3text::replaceChar(reinterpret_cast<const unsigned char*>(utf8.data()), std::min<size_t>(utf8.size(), 40));
        return ApiStrFilterBadFileName(clean);
    };
    title = field(tag + 3);
    artist = field(tag + 33);
}

namespace BruteForce {

namespace {

bool IsId3Start(const unsigned char* sector)
{
    return sector[0] == 'I' && sector[1] == 'D' && sector[2] == '3' && (sector[3] == 3 || sector[3] == 4);
}

std::string Format(const char* format, const std::string& a, const std::string& b, long long x)
{
    char text[1200];
    std::snprintf(text, sizeof(text), format, a.c_str(), b.c_str(), x);
    return text;
}

std::string SectorStem(long long start, long long end)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%lld-%lld_", start, end);
    return text;
}

const unsigned char* FindBytes(const unsigned char* haystack, long long length, const unsigned char* needle,
                               long long size)
{
    for (long long i = 0; i + size <= length; ++i)
        if (std::memcmp(haystack + i, needle, static_cast<size_t>(size)) == 0)
            return haystack + i;
    return nullptr;
}

// The longest frame any header gives (MPEG-2.5 Layer II at 160 kbit/s and
// 8 kHz, padded).
constexpr long long kLongestFrame = 2881;

// Whether a frame like first ends exactly where sector begins; lookBack
// bytes before sector are in memory.
bool ContinuesEarlierFrames(const unsigned char* sector, const CMPAHeader& first, long long lookBack)
{
    const long long reach = std::min(lookBack, kLongestFrame);
    for (long long distance = 1; distance <= reach; ++distance) {
        const unsigned char* p = sector - distance;
        if (p[0] != 0xFF)
            continue;
        CMPAHeader header;
        if (Mp3FrameLength(p, &header) == distance && header == first)
            return true;
    }
    return false;
}

}  // namespace

long long MP3Analyzer::m_lastStartSector = 0;

MP3Analyzer::MP3Analyzer() : IRawFileAnalyser(kType), m_pFileAnalyser(std::make_unique<FileMP3Analyser>()) {}

MP3Analyzer::~MP3Analyzer() = default;

int MP3Analyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    if (IsId3Start(sector)) {
        info.m_dwType = kType;
        return 1;
    }
    if (!Mp3FrameLength(sector))
        return 0;
    info.m_dwType = kType;
    return 1;
}

int MP3Analyzer::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                 long long sectorNumber, long long contextStart, long long contextEnd)
{
    // Asked about every sector that begins FF Ex or FF Fx (an erased disk
    // is all of them): every refusal costs a few byte tests and nothing
    // else.
    if (!sector || sectorSize <= 0)
        return 0;
    if (IsId3Start(sector)) {
        info.m_dwType = kType;
        return 1;
    }
    CMPAHeader first;
    if (!first.Init(sector) || m_lastStartSector != 0)
        return 0;
    const uint32_t l1 = first.CalcFrameSize();
    if (l1 < 1 || l1 > FileMP3Analyser::kMaxFrame)
        return 0;
    const long long end = contextEnd * sectorSize;
    const long long after = (sectorNumber + 1) * sectorSize + l1 + 4;
    bool confirmed = false;
    if (after <= end) {
        const uint32_t l2 = Mp3FrameLength(sector + l1);
        if (!l2)
            return 0;
        if (after + l2 <= end) {
            CMPAHeader third;
            if (!CMPAHeader::IsFrameSync(sector + l1 + l2) || !third.Init(sector + l1 + l2))
                return 0;
            confirmed = true;
        }
    }
    // A frame of a stream that began earlier (after an ID3 tag, or in a
    // block whose start was missed) is not a file's start.
    if (ContinuesEarlierFrames(sector, first, (sectorNumber - contextStart) * sectorSize))
        return 0;
    if (confirmed)
        m_lastStartSector = sectorNumber;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* MP3Analyzer::CreateRawFileInfo()
{
    return new MP3RawFileInfo(m_pFileAnalyser.get());
}

// ---- the candidate --------------------------------------------------------------

MP3RawFileInfo::MP3RawFileInfo(FileMP3Analyser* sizer) : m_pSizer(sizer)
{
    m_dwType = MP3Analyzer::kType;
}

MP3RawFileInfo::~MP3RawFileInfo()
{
    // A stream dropped without finishing must not keep others from
    // starting.
    if (MP3Analyzer::m_lastStartSector != 0 && MP3Analyzer::m_lastStartSector == m_llStartSector)
        MP3Analyzer::m_lastStartSector = 0;
}

void MP3RawFileInfo::WillBeRemove(unsigned char*, long long)
{
    if (MP3Analyzer::m_lastStartSector != 0 && MP3Analyzer::m_lastStartSector == m_llStartSector)
        MP3Analyzer::m_lastStartSector = 0;
    m_pOwner = m_pSizer;
}

int MP3RawFileInfo::Finish()
{
    MP3Analyzer::m_lastStartSector = 0;
    return 1;
}

int MP3RawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                SearchContext& context)
{
    if (!sector || sectorSize <= 0)
        return 2;
    const long long ss = sectorSize;
    if (!m_bStarted) {
        m_bStarted = true;
        if (Mp3FrameLength(sector, &m_firstHeader))
            m_dwFrameLed = 1;
        // Only an ID3 tag holds names; frame data read as one gives noise.
        if (IsId3Start(sector)) {
            unsigned int tagSize = 0;
            if (classMp3Search::GetSynchsafeInteger(sector + 6, &tagSize) && tagSize <= 0x10000000) {
                m_llTagEnd = 10 + static_cast<long long>(tagSize) + ((sector[5] & 0x10) ? 10 : 0);
                m_bWalkAfterTag = true;
            }
            const long long length = (context.llBlockEnd - sectorNumber) * ss;
            if (const unsigned char* all = context.bytes(sectorNumber, 0, length))
                GatherTagInfo(all, length);
        }
        if (m_strName.empty() && AdjustMp3Health(sector, sectorSize, sectorNumber, context) == 1)
            return Finish();
    }
    if (m_dwFrameLed)
        return CalcRawSizeEx(sector, sectorSize, sectorNumber, context);
    if (m_bWalkAfterTag) {
        const int walk = WalkAfterTag(sectorSize, sectorNumber, context);
        if (walk != 0)
            return walk;
    }

    if ((sectorNumber - m_llStartSector + 1) * ss > kMaxId3Led)
        return Finish();
    // Another file starting here, or a sector of one repeated byte (zeros,
    // erased flash), lies past the last frame: the file ended before it,
    // where the device sizer's frame walk finds the exact end. Waiting for
    // the end signs below would run into whatever follows.
    if (sectorNumber > m_llStartSector &&
        (context.pNewCandidate || std::all_of(sector, sector + ss, [&](unsigned char c) { return c == sector[0]; })))
        return Finish();
    if (context.dwTrailingZero != 32 || (sectorNumber - m_llStartSector) * ss <= m_dwEndThreshold) {
        m_llLastExamined = sectorNumber;
        return 2;
    }
    const unsigned char* window = sector;
    long long length = ss;
    if (context.llBlockEnd - sectorNumber > 3) {
        if (const unsigned char* two = context.bytes(sectorNumber, -ss, 2 * ss)) {
            window = two;
            length = 2 * ss;
        }
    }
    const int tz = static_cast<int>(context.dwTrailingZero);
    bool end = FindTagInEndSector(window, static_cast<int>(length), tz, sectorNumber) > 0;
    if (!end) {
        const bool sameLead = sector[0] != 0 && sector[0] == sector[1] && sector[1] == sector[2] &&
                              sector[2] == sector[3];
        if (sameLead && m_llLastExamined > context.llLookBackStart) {
            if (const unsigned char* wider = context.bytes(sectorNumber, (window - sector) - 64, length + 64)) {
                window = wider;
                length += 64;
            }
        }
        end = FindDuplicateByteCount(window, static_cast<int>(length), tz) == 1;
    }
    m_llLastExamined = sectorNumber;
    if (!end)
        return 2;

    const std::string name = m_strName;
    if (!name.empty() && !m_strTagValue.empty() && name.find(m_strTagValue) == std::string::npos)
        SetRawFileName(m_strTagValue + "_" + name);
    else if (name.empty())
        SetRawFileName(SectorStem(m_llStartSector, sectorNumber));
    m_llSize = (sectorNumber - m_llStartSector) * ss + ss - tz;
    return Finish();
}

bool MP3RawFileInfo::HoldsSector(long long sectorNumber, const SearchContext& context)
{
    return (sectorNumber - m_llStartSector) * context.dwSectorSize < m_llTagEnd;
}

int MP3RawFileInfo::WalkAfterTag(int sectorSize, long long sectorNumber, const SearchContext& context)
{
    if (m_u64StreamOffset == 0) {
        // The first frame right after the tag sets what later frames match.
        const unsigned char* p = nullptr;
        const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, m_llTagEnd, 4, &p);
        if (place == RawRecordPlace::NotYet)
            return 2;
        if (place == RawRecordPlace::Gone || !Mp3FrameLength(p, &m_firstHeader)) {
            m_bWalkAfterTag = false;
            return 0;
        }
        m_u64StreamOffset = static_cast<uint64_t>(m_llTagEnd);
    }
    const std::string name = m_strName;
    int walk = 0;
    try {
        walk = bContinue(sectorSize, sectorNumber, context);
    } catch (const std::bad_alloc&) {
        walk = 0;
        m_bLost = true;
    }
    // The tag's texts name the file before an ID3v1 tag's.
    if (!name.empty())
        SetRawFileName(name);
    if (walk != 0)
        return 2;
    if (m_bLost || m_u64StreamOffset <= static_cast<uint64_t>(m_llTagEnd)) {
        m_bWalkAfterTag = false;
        return 0;
    }
    m_llSize = static_cast<long long>(m_u64StreamOffset);
    m_bExactEnd = true;
    const long long last = m_llStartSector + (m_llSize - 1) / sectorSize;
    if (!name.empty() && !m_strTagValue.empty() && name.find(m_strTagValue) == std::string::npos)
        SetRawFileName(m_strTagValue + "_" + name);
    else if (name.empty() && GetRawFileName().empty())
        SetRawFileName(SectorStem(m_llStartSector, last));
    return Finish();
}

int MP3RawFileInfo::CalcRawSizeEx(unsigned char*, int sectorSize, long long sectorNumber, SearchContext& context)
{
    int walk = 0;
    try {
        walk = bContinue(sectorSize, sectorNumber, context);
    } catch (const std::bad_alloc&) {
        return Finish();
    }
    if (walk != 0)
        return 2;
    if (m_u64StreamOffset == 0)
        return Finish();
    const long long covered = static_cast<long long>(sectorSize) * (sectorNumber - m_llStartSector);
    m_llSize = covered < 10 * static_cast<long long>(m_u64SizeCap) ? static_cast<long long>(m_u64StreamOffset)
                                                                    : static_cast<long long>(m_u64SizeCap);
    if (GetRawFileName().empty())
        SetRawFileName(SectorStem(m_llStartSector, sectorNumber));
    m_dwType = MP3Analyzer::kType;
    return Finish();
}

int MP3RawFileInfo::bContinue(int sectorSize, long long sectorNumber, const SearchContext& context)
{
    const long long ss = sectorSize;
    m_u64BytesToHere = static_cast<uint64_t>((sectorNumber - m_llStartSector + 1) * ss);
    int frames = 0;
    while (m_u64StreamOffset < m_u64BytesToHere) {
        const long long at = static_cast<long long>(m_u64StreamOffset);
        const unsigned char* p = nullptr;
        const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, at, 4, &p);
        if (place == RawRecordPlace::NotYet) {
            m_dwCarry = 1;
            return 2;
        }
        m_dwCarry = 0;
        CMPAHeader header;
        const uint32_t length = place == RawRecordPlace::InMemory ? Mp3FrameLength(p, &header) : 0;
        if (length && header == m_firstHeader) {
            m_u64StreamOffset += length;
            if (++frames > 1024) {
                if (m_u64StreamOffset < static_cast<uint64_t>(kShortStream))
                    m_u64StreamOffset = 0;
                return 0;
            }
            continue;
        }
        if (place == RawRecordPlace::Gone) {
            m_bLost = true;
            if (m_u64StreamOffset < static_cast<uint64_t>(kShortStream))
                m_u64StreamOffset = 0;
            return 0;
        }
        // The stream ends here: what follows may be its tags.
        const unsigned char* tag = nullptr;
        const RawRecordPlace tagPlace = LocateRawRecord(context, m_llStartSector, at, 128, &tag);
        if (tagPlace == RawRecordPlace::NotYet)
            return 2;
        if (tag && std::memcmp(tag, "TAG", 3) == 0) {
            std::string title;
            std::string artist;
            ReadId3v1(tag, title, artist);
            if (!artist.empty())
                SetRawFileTagAndValue(RAW_TAG_ARTIST, artist);
            if (!artist.empty() || !title.empty())
                SetRawFileName(artist + "_" + title);
            m_u64StreamOffset += 128;
        } else if (tag && std::memcmp(tag, "APETAGEX", 8) == 0 && tag[8] == 0xD0) {
            m_u64StreamOffset += 260;
        } else if (tag) {
            static const unsigned char kTag[] = {'T', 'A', 'G'};
            if (const unsigned char* found = FindBytes(tag + 1, 125 + 3 - 1, kTag, 3))
                m_u64StreamOffset += static_cast<uint64_t>(found - tag) + 128;
        }
        if (m_u64StreamOffset < static_cast<uint64_t>(kShortStream))
            m_u64StreamOffset = 0;
        return 0;
    }
    return 1;
}

// ---- tags -------------------------------------------------------------------------

void MP3RawFileInfo::GatherTagInfo(const unsigned char* buffer, long long length)
{
    if (!buffer || length < 10)
        return;
    unsigned int tagSize = 0;
    if (!classMp3Search::GetSynchsafeInteger(buffer + 6, &tagSize) || tagSize == 0 || tagSize > 0x40000000)
        return;
    std::string artist;
    std::string title;
    const long long tagEnd = std::min<long long>(static_cast<long long>(tagSize) + 10, length);
    long long pos = 10;
    while (pos + 10 <= tagEnd) {
        const unsigned char* frame = buffer + pos;
        const uint32_t size = RawReadBE32(frame + 4);
        if (size < 1 || size > 0x40000000)
            break;
        const long long available = std::min<long long>(size, length - pos - 10);
        const unsigned char* body = frame + 10;
        if (available > 0) {
            const auto bodySize = static_cast<unsigned int>(available);
            if (std::memcmp(frame, "TPE1", 4) == 0) {
                GetTagValue(body, bodySize, artist, false);
            } else if (std::memcmp(frame, "TIT2", 4) == 0) {
                GetTagValue(body, bodySize, title, true);
            } else if (std::memcmp(frame, "TYER", 4) == 0) {
                std::string year;
                GetTagValue(body, bodySize, year, false);
                if (year.size() >= 8)
                    m_strTime = year;
            } else if (std::memcmp(frame, "APIC", 4) == 0) {
                static const unsigned char kSoi[] = {0xFF, 0xD8, 0xFF};
                const unsigned char* soi = FindBytes(buffer, length, kSoi, 3);
                m_llPictureOffset = soi ? soi - buffer : pos + 63;
                m_llPictureSize = size;
                m_dwEndThreshold += static_cast<uint32_t>(m_llPictureOffset + m_llPictureSize);
            } else if (std::memcmp(frame, "USLT", 4) == 0) {
                static const unsigned char kOpen[] = {'[', 'a', 'r', ':'};
                if (const unsigned char* open = FindBytes(body, available, kOpen, 4)) {
                    const long long from = open + 4 - body;
                    const auto* close = static_cast<const unsigned char*>(
                        std::memchr(open + 4, ']', static_cast<size_t>(available - from)));
                    if (close && close - (open + 4) < 1024) {
                        artist = mp3text::replaceChar(open + 4, static_cast<size_t>(close - (open + 4)));
                        if (!artist.empty())
                            SetRawFileTagAndValue(RAW_TAG_ARTIST, artist);
                    }
                }
            }
        }
        pos += static_cast<long long>(size) + 10;
    }
    m_dwEndThreshold += tagSize;
    if (!artist.empty() || !title.empty()) {
        SetRawFileName(Format("%s_%s %lld_", artist, title, m_llStartSector));
        SetRawFileTagAndValue(RAW_TAG_ARTIST, artist.empty() ? title : artist);
    }
}

void MP3RawFileInfo::GetTagValue(const unsigned char* frame, unsigned int frameSize, std::string& out, bool guess)
{
    out.clear();
    if (!frame || frameSize < 1)
        return;
    const size_t n = std::min<size_t>(frameSize - 1, 255);
    const unsigned char* text = frame + 1;
    switch (frame[0]) {
    case 3:
        out = mp3text::replaceChar(text, n);
        break;
    case 1: {
        if (frameSize < 4 || text[0] != 0xFF || text[1] != 0xFE)
            break;
        std::string utf8;
        if (mp3text::Utf16LeToUtf8(text + 2, (n - 2) & ~static_cast<size_t>(1), 256, utf8))
            out = mp3text::CText(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
        break;
    }
    case 0: {
        const std::string raw = mp3text::CText(text, n);
        if (guess)
            m_strCharset = mp3text::decoding(raw);
        const std::string charset = m_strCharset.empty() ? mp3text::decoding(raw) : m_strCharset;
        if (mp3text::localdecoding(raw, charset, out) == -1)
            out = mp3text::MaskHighBytes(raw);
        out = mp3text::CText(reinterpret_cast<const unsigned char*>(out.data()), out.size());
        break;
    }
    default:
        break;
    }
}

// ---- start and end ----------------------------------------------------------------

int MP3RawFileInfo::AdjustMp3Health(const unsigned char* buffer, int sectorSize, long long sectorNumber,
                                    const SearchContext& context)
{
    if (IsId3Start(buffer))
        return 2;
    CMPAHeader first;
    if (!first.Init(buffer) || first.m_dwVersion == 0)
        return 1;
    const long long l = first.CalcFrameSize();
    if (l < 1 || l >= static_cast<long long>(FileMP3Analyser::kMaxFrame) ||
        l > static_cast<long long>(sectorSize) * (context.llBlockEnd - sectorNumber))
        return 1;
    const unsigned char* next = context.bytes(sectorNumber, l, 4);
    if (!next || next[1] < 0xE0 || next[2] >= 0xF0)
        return 1;
    CMPAHeader second;
    if (!second.Init(next) || second.m_dwVersion == 0)
        return 1;
    return 2;
}

int MP3RawFileInfo::FindTagInEndSector(const unsigned char* window, int length, int trailingZeros,
                                       long long sectorNumber)
{
    static const unsigned char kTag[] = {'T', 'A', 'G'};
    const int after = RawUtility::FindMagicInBuffer(window, length, trailingZeros, kTag, 3);
    if (after < 1 || after > 511)
        return after;
    // Pairs of spaces pad the fields: they end the texts.
    std::string rest(reinterpret_cast<const char*>(window + after), static_cast<size_t>(length - after));
    for (size_t i = 0; i + 1 < rest.size(); ++i)
        if (rest[i] == ' ' && rest[i + 1] == ' ')
            rest[i] = rest[i + 1] = '\0';
    const std::string title = mp3text::CText(reinterpret_cast<const unsigned char*>(rest.data()), rest.size());
    size_t at = title.size();
    while (at < rest.size() && rest[at] == '\0')
        ++at;
    const std::string artist =
        at < rest.size() ? mp3text::CText(reinterpret_cast<const unsigned char*>(rest.data()) + at, rest.size() - at)
                         : std::string();
    if (title.size() >= 2 && artist.size() >= 4 && GetRawFileName().empty()) {
        char text[1400];
        std::snprintf(text, sizeof(text), "%s_%s %lld-%lld_", artist.c_str(), title.c_str(), m_llStartSector,
                      sectorNumber);
        SetRawFileName(text);
        const std::string label =
            mp3text::replaceChar(reinterpret_cast<const unsigned char*>(artist.data()), artist.size());
        if (!label.empty())
            SetRawFileTagAndValue(RAW_TAG_ARTIST, label);
    }
    return after;
}

int MP3RawFileInfo::FindDuplicateByteCount(const unsigned char* window, int length, int trailingZeros)
{
    m_byteCounts.fill(0);
    int from = length - trailingZeros;
    if (from < 1)
        return 0;
    from = std::min(from, length - 1);
    for (int i = from; i >= 1; --i) {
        const unsigned char c = window[i];
        if (c == 0)
            continue;
        if (m_byteCounts[c] >= 64)
            return 1;
        ++m_byteCounts[c];
    }
    return 0;
}

}  // namespace BruteForce
