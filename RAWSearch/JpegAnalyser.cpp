#include "JpegAnalyser.h"

#include <cstring>
#include <string>

#include "ExifReader.h"
#include "JpegMarkers.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"

using namespace JpegMarkers;

IRawFileAnalyser* CreateJpegAnalyzer(unsigned int)
{
    return new BruteForce::JpegAnalyzer;
}

namespace BruteForce {

namespace {

bool FourZero(const unsigned char* p)
{
    return (p[0] | p[1] | p[2] | p[3]) == 0;
}

bool AllZero(const unsigned char* p, int count)
{
    for (int i = 0; i < count; ++i)
        if (p[i])
            return false;
    return true;
}

// A TIFF block's 16- and 32-bit values, in its byte order.
struct TiffBlock {
    const unsigned char* p;
    long long length;
    bool littleEndian;

    unsigned int U16(long long at) const { return RawUtility::EXIF_Get16s(p + at, littleEndian); }
    unsigned int U32(long long at) const
    {
        return static_cast<unsigned int>(RawUtility::EXIF_Get32s(p + at, littleEndian));
    }
};

// A text value of at most maxChars characters, up to its first NUL.
std::string TextValue(const unsigned char* value, unsigned long long byteCount, size_t maxChars)
{
    size_t n = 0;
    const size_t take = byteCount < maxChars ? static_cast<size_t>(byteCount) : maxChars;
    while (n < take && value[n])
        ++n;
    return std::string(reinterpret_cast<const char*>(value), n);
}

}  // namespace

JpegAnalyzer::JpegAnalyzer() : IRawFileAnalyser(kType), m_pFileAnalyser(std::make_unique<FileJPGAnalyser>()) {}

JpegAnalyzer::~JpegAnalyzer() = default;

int JpegAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !(HasJfifOrExifHeader(sector) || IsBareStart(sector)))
        return 0;
    info.m_dwType = kType;
    return 1;
}

int JpegAnalyzer::AnalyseBufferEx(unsigned char* sector, CRawFileInfo& info, long long sectorSize,
                                  long long sectorNumber, long long, long long contextEnd)
{
    if (!sector || sectorSize < 16)
        return 0;
    if (HasJfifOrExifHeader(sector)) {
        info.m_dwType = kType;
        return 1;
    }
    if (!IsBareStart(sector))
        return 0;

    // Without a JFIF or Exif header the picture must show a 3-component
    // frame of 8-bit samples and a 3-component scan, all in the bytes in
    // memory up to the block end.
    long long available = sectorSize;
    if (contextEnd > sectorNumber && contextEnd - sectorNumber <= (1LL << 40) / sectorSize)
        available = (contextEnd - sectorNumber) * sectorSize;
    long long pos = 2;
    bool frame = false;
    for (int markers = 0; markers < kMaxProbeMarkers; ++markers) {
        if (pos + 4 > available)
            return 0;
        const unsigned char* m = sector + pos;
        if (m[0] != 0xFF)
            return 0;
        const unsigned char marker = m[1];
        if (marker == 0xFF) {
            pos += 2;
            continue;
        }
        if (IsFrameMarker(marker)) {
            if (pos + 10 > available || m[4] != 8 || m[9] != 3)
                return 0;
            frame = true;
        } else if (marker == 0xDA) {
            if (!frame || pos + 5 > available || m[4] != 3)
                return 0;
            info.m_dwType = kType;
            return 1;
        }
        pos += ReadBE16(m + 2) + 2;
    }
    return 0;
}

CRawFileInfo* JpegAnalyzer::CreateRawFileInfo()
{
    return new JpegRawFileInfo(m_pFileAnalyser.get());
}

// ---- streaming candidate ---------------------------------------------------------

void JpegAnalyzer::JpegRawFileInfo::WillBeRemove(unsigned char*, long long)
{
    m_pOwner = m_pFileAnalyser;
}

bool JpegAnalyzer::JpegRawFileInfo::EndAccepted(long long end, long long covered) const
{
    // The scan data lies beyond a marker not read yet.
    if (m_llMarkerPos != 0)
        return false;
    // Past the start of the scan data no end marker belongs to a header
    // segment (the thumbnail's is inside APP1).
    if (m_llScanStart > 0)
        return end > m_llScanStart;
    if (m_iExif)
        return covered > m_llMinSize;
    return true;
}

void JpegAnalyzer::JpegRawFileInfo::FindExifCameraInfo(const unsigned char* block, unsigned int length)
{
    if (!block || length < 14)
        return;
    const unsigned char* tiffBytes = block + 6;
    bool littleEndian;
    if (tiffBytes[0] == 'I' && tiffBytes[1] == 'I')
        littleEndian = true;
    else if (tiffBytes[0] == 'M' && tiffBytes[1] == 'M')
        littleEndian = false;
    else
        return;
    const TiffBlock tiff{tiffBytes, static_cast<long long>(length) - 6, littleEndian};
    if (tiff.U16(2) != 42)
        return;
    const unsigned int first = tiff.U32(4);
    if (first < 8 || first > 16)
        return;

    // Directories to read, in the order they were found; the depth counter
    // bounds them for the candidate's whole life.
    unsigned int queue[kMaxExifDirectories];
    int head = 0;
    int tail = 0;
    queue[tail++] = first;
    bool done = false;
    while (!done && head < tail && m_iExifDepth < kMaxExifDirectories) {
        const long long dir = queue[head++];
        ++m_iExifDepth;
        if (dir + 2 > tiff.length)
            continue;
        const unsigned int entries = tiff.U16(dir);
        if (entries == 0 || entries > 512 || entries * 12ULL > length)
            continue;
        bool whole = true;
        for (unsigned int e = 0; e < entries; ++e) {
            const long long entry = dir + 2 + 12LL * e;
            if (entry + 12 > tiff.length) {
                whole = false;
                break;
            }
            const unsigned int tag = tiff.U16(entry);
            const unsigned int type = tiff.U16(entry + 2);
            const unsigned long long count = tiff.U32(entry + 4);
            if (type > 12 || count < 1 || count > length) {
                whole = false;
                break;
            }
            const unsigned long long byteCount = count * ExifFieldTypeSize(type);
            long long valueAt = entry + 8;
            if (byteCount >= 5) {
                const long long offset = tiff.U32(entry + 8);
                if (offset + static_cast<long long>(byteCount) > tiff.length) {
                    whole = false;
                    break;
                }
                valueAt = offset;
            }
            const unsigned char* value = tiff.p + valueAt;
            // Four bytes are always readable at value: in the entry, or a
            // checked value of five bytes or more.
            const unsigned long long number = type == 3 ? tiff.U16(valueAt) : type == 1 ? value[0] : tiff.U32(valueAt);
            switch (tag) {
            case 36867:
                m_strTime = TextValue(value, byteCount, 19);
                break;
            case 271: {
                const std::string make = AsciiToUpper(TextValue(value, byteCount, 39));
                if (!make.empty() && IsCameraText(make)) {
                    SetRawFileTagAndValue(RAW_TAG_CAMERA, make);
                    m_bMakeKnown = true;
                }
                break;
            }
            case 272: {
                // Kept as it is: the text rule is applied when the name is
                // made, and the name filter would hide a failing character.
                m_strName = TextValue(value, byteCount, 39);
                if (!m_bMakeKnown) {
                    const std::string model = AsciiToUpper(m_strName);
                    if (!model.empty() && IsCameraText(model))
                        SetRawFileTagAndValue(RAW_TAG_CAMERA, model);
                }
                break;
            }
            case 256:
            case 40962:
                m_llWidth = static_cast<long long>(number);
                break;
            case 257:
            case 40963:
                if (m_llWidth > 0 && number >= 400) {
                    m_u64PixelEstimate = static_cast<unsigned long long>(m_llWidth) * number;
                    m_llMinSize = static_cast<long long>(m_u64PixelEstimate / 8);
                    done = true;
                }
                break;
            case 513:
            case 514:
                m_llMinSize += static_cast<long long>(number);
                break;
            case 34665:
            case 40965:
                m_llMinSize += static_cast<long long>(number) + 40960;
                if (static_cast<long long>(number) < tiff.length && tail < kMaxExifDirectories)
                    queue[tail++] = static_cast<unsigned int>(number);
                break;
            default:
                break;
            }
        }
        if (!whole)
            continue;
        const long long linkAt = dir + 2 + 12LL * entries;
        if (linkAt + 4 <= tiff.length) {
            const unsigned int next = tiff.U32(linkAt);
            if (next != 0 && next < tiff.length && tail < kMaxExifDirectories)
                queue[tail++] = next;
        }
    }
}

void JpegAnalyzer::JpegRawFileInfo::WalkMarkers(const SearchContext& context, long long covered, long long sectorSize)
{
    const long long start = m_llStartSector;
    while (m_llMarkerPos != 0) {
        const long long pos = m_llMarkerPos;
        // Markers in sectors not fed yet wait for them.
        if (pos >= covered + sectorSize)
            return;
        const unsigned char* m = nullptr;
        RawRecordPlace place = LocateRawRecord(context, start, pos, 2, &m);
        if (place == RawRecordPlace::NotYet)
            return;
        if (place == RawRecordPlace::Gone || m[0] != 0xFF || m[1] < 0xC0 || m[1] == 0xFF) {
            m_llMarkerPos = 0;
            return;
        }
        const unsigned char marker = m[1];
        if (marker == 0xD8) {
            m_llMarkerPos = pos + 2;
            continue;
        }
        place = LocateRawRecord(context, start, pos, marker == 0xC0 ? 10 : 4, &m);
        if (place == RawRecordPlace::NotYet)
            return;
        if (place == RawRecordPlace::Gone) {
            m_llMarkerPos = 0;
            return;
        }
        const long long length = ReadBE16(m + 2);
        if (marker == 0xC0 && m_u64PixelEstimate == 0 && m[4] == 8) {
            const unsigned long long height = ReadBE16(m + 5);
            const unsigned long long width = ReadBE16(m + 7);
            if (height >= 401) {
                m_u64PixelEstimate = width * height;
                m_llMinSize += static_cast<long long>(m_u64PixelEstimate / 8);
            }
        }
        if (marker == 0xE1 && !m_bExifRead && length >= 8) {
            // The whole segment is read at once, once it is all in memory.
            const unsigned char* segment = nullptr;
            place = LocateRawRecord(context, start, pos + 4, length - 2, &segment);
            if (place == RawRecordPlace::NotYet)
                return;
            if (place == RawRecordPlace::InMemory && EqualNoCase4(segment, "Exif") && segment[4] == 0 &&
                segment[5] == 0) {
                m_bExifRead = true;
                FindExifCameraInfo(segment, static_cast<unsigned int>(length - 2));
            }
        }
        if (marker == 0xDA) {
            m_llScanStart = pos + length + 2;
            m_llMarkerPos = 0;
            return;
        }
        m_llMarkerPos = pos + length + 2;
    }
}

long long JpegAnalyzer::JpegRawFileInfo::ScanEntropy(const SearchContext& context, long long limit)
{
    const long long start = m_llStartSector;
    for (int guard = 0; guard < 1 << 20 && m_llScanPos < limit; ++guard) {
        const long long pos = m_llScanPos;
        const unsigned char* p = nullptr;
        RawRecordPlace place = LocateRawRecord(context, start, pos, limit - pos, &p);
        if (place == RawRecordPlace::NotYet)
            return 0;
        if (place == RawRecordPlace::Gone)
            return -1;
        const auto* ff = static_cast<const unsigned char*>(std::memchr(p, 0xFF, static_cast<size_t>(limit - pos)));
        if (!ff) {
            m_llScanPos = limit;
            return 0;
        }
        const long long at = pos + (ff - p);
        const unsigned char* m = nullptr;
        place = LocateRawRecord(context, start, at, 2, &m);
        if (place != RawRecordPlace::InMemory) {
            m_llScanPos = at;
            return place == RawRecordPlace::NotYet ? 0 : -1;
        }
        const unsigned char code = m[1];
        if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) {
            m_llScanPos = at + 2;  // a stuffed byte or a restart marker
            continue;
        }
        if (code == 0xFF) {
            m_llScanPos = at + 1;  // fill bytes before a marker
            continue;
        }
        if (code == 0xD9)
            return at + 2;
        if (code < 0xC0 || code == 0xD8)
            return -1;
        // A segment between scans (tables, the next scan's header...).
        place = LocateRawRecord(context, start, at, 4, &m);
        if (place != RawRecordPlace::InMemory) {
            m_llScanPos = at;
            return place == RawRecordPlace::NotYet ? 0 : -1;
        }
        const long long length = ReadBE16(m + 2);
        if (length < 2)
            return -1;
        m_llScanPos = at + 2 + length;
        m_llSegmentEnd = m_llScanPos;
    }
    return 0;
}

bool JpegAnalyzer::JpegRawFileInfo::HoldsSector(long long sectorNumber, const SearchContext& context)
{
    const long long at = (sectorNumber - m_llStartSector) * static_cast<long long>(context.dwSectorSize);
    return at < m_llMarkerPos || at < m_llSegmentEnd;
}

int JpegAnalyzer::JpegRawFileInfo::Finish(long long endSector, long long size)
{
    std::string name = m_strName;
    std::string value = m_strTagValue;
    if (!IsCameraText(name))
        name.clear();
    else if (!IsCameraText(value))
        value.clear();
    if (value != m_strTagValue)
        SetRawFileTagAndValue(value.empty() ? RAW_TAG_NONE : m_eTag, value);

    const std::string sectors = std::to_string(m_llStartSector) + "-" + std::to_string(endSector);
    if (!value.empty() && !name.empty())
        SetRawFileName(value + "_" + name + "_" + sectors);
    else if (!name.empty() || !value.empty())
        SetRawFileName((name.empty() ? value : name) + "_" + sectors);
    else
        SetRawFileName(sectors);
    m_llSize = size;
    m_dwType = kType;
    m_llPendingEnd = 0;
    return 1;
}

int JpegAnalyzer::JpegRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                               SearchContext& context)
{
    if (!sector || sectorSize < 16 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long covered = (sectorNumber - m_llStartSector) * ss;
    if (sectorNumber == m_llStartSector) {
        m_iExif = EqualNoCase4(sector + 6, "Exif") ? 1 : 0;
        // The walk reads the EXIF block where it meets its APP1 segment.
        m_llMarkerPos = 2;
    }
    m_llMaxSize = m_iExif ? kMaxExif : kMaxOther;

    // An end marker that closed the sector before, with zeros to confirm it
    // at this sector's start.
    if (m_llPendingEnd > 0) {
        const long long end = m_llPendingEnd;
        const int zeros = m_iPendingZeros;
        m_llPendingEnd = 0;
        if (sectorNumber == m_llLastFed + 1 && AllZero(sector, zeros) && EndAccepted(end, covered - ss)) {
            m_llLastFed = sectorNumber;
            return Finish(sectorNumber - 1, end);
        }
    }

    if (m_llMarkerPos != 0)
        WalkMarkers(context, covered, ss);

    // The scan data and what follows it up to the end marker say where the
    // picture ends, whatever bytes come after it.
    if (m_llScanStart > 0 && !m_bScanBroken) {
        if (m_llScanPos == 0)
            m_llScanPos = m_llScanStart;
        const long long end = ScanEntropy(context, covered + ss);
        if (end > 0) {
            m_llLastFed = sectorNumber;
            m_bExactEnd = true;
            return Finish(m_llStartSector + (end - 1) / ss, end);
        }
        if (end < 0)
            m_bScanBroken = true;
    }
    const bool scanning = m_llScanStart > 0 && !m_bScanBroken;

    static const unsigned char kEndMarker[2] = {0xFF, 0xD9};
    const int zero = static_cast<int>(context.dwTrailingZero);
    const int threshold = m_iExif ? 9 : 8;
    bool complete = false;
    long long end = ss - zero;
    if (zero >= threshold) {
        const int found = RawUtility::FindMagicInBuffer(sector, sectorSize, zero, kEndMarker, 2);
        if (found) {
            end = found;
            complete = found + 4 <= sectorSize && FourZero(sector + found) && EndAccepted(covered + found, covered);
        } else {
            end = 0;
            // The end marker may straddle the boundary with the sector fed
            // before.
            const unsigned char* before = nullptr;
            if (m_llLastFed == sectorNumber - 1)
                before = context.bytes(sectorNumber - 1, ss - 1, 1);
            if (before) {
                const unsigned char window[4] = {*before, sector[0], sector[1], sector[2]};
                for (int k = 0; k < 3; ++k) {
                    if (window[k] == 0xFF && window[k + 1] == 0xD9) {
                        end = k + 1;
                        complete = FourZero(sector + end) && EndAccepted(covered + end, covered);
                        break;
                    }
                }
            }
        }
    } else if (zero >= 4) {
        // Only zeros after the end marker, fewer than the search asks for.
        const int closing = ClosingEndMarker(sector, sectorSize, sectorSize - zero - 4, -1);
        if (closing && EndAccepted(covered + closing, covered)) {
            end = closing;
            complete = true;
        }
    } else {
        // The end marker in the last four bytes: the next sector's first
        // bytes must make up four zeros.
        const int closing = ClosingEndMarker(sector, sectorSize, sectorSize - 4, -1);
        if (closing && !scanning) {
            m_llPendingEnd = covered + closing;
            m_iPendingZeros = 4 - (sectorSize - closing);
        }
    }

    m_llLastFed = sectorNumber;
    // While the scan data is followed, only its end marker ends the picture.
    if (scanning)
        complete = false;
    if (!complete && !scanning && m_u64PixelEstimate != 0 &&
        static_cast<unsigned long long>(covered) > m_u64PixelEstimate)
        complete = true;
    if (!complete && m_llMaxSize >= covered)
        return 2;
    return Finish(sectorNumber, m_llMaxSize < covered ? m_llMaxSize : covered + end);
}

}  // namespace BruteForce
