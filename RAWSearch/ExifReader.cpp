#include "ExifReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// Blocks come from damaged disks: links may form cycles or fan out, so the
// walk is capped in depth and in directories per call.
constexpr int kMaxDepth = 16;
constexpr int kMaxDirectories = 64;

constexpr unsigned char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

// The reader's state; one EXIF read at a time in the process, and all of it
// starts again with every call.
struct ExifModule {
    tag_ExifInfo* pRecord = nullptr;
    tag_ExifInfo scratch{};  // filled when no record was selected
    bool bMotorola = false;
    unsigned int dwWidestImage = 0;
    const char* pszError = "";
    // Directory starts on the current path (the loop guard).
    std::array<uint32_t, kMaxDepth + 1> path{};
    int iPathLength = 0;
    int iDirectories = 0;
    // The block being read: the TIFF part and its length.
    const unsigned char* pTiff = nullptr;
    uint64_t u64TiffLength = 0;
    uintptr_t uTiffPosition = 0;  // TIFF part start - base + shift

    tag_ExifInfo& Record() { return pRecord ? *pRecord : scratch; }
};

ExifModule& Module()
{
    static ExifModule module;
    return module;
}

uint16_t Get16u(const unsigned char* p)
{
    return Module().bMotorola ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>((p[1] << 8) | p[0]);
}

uint32_t Get32u(const unsigned char* p)
{
    return Module().bMotorola ? (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                                    (static_cast<uint32_t>(p[2]) << 8) | p[3]
                              : (static_cast<uint32_t>(p[3]) << 24) | (static_cast<uint32_t>(p[2]) << 16) |
                                    (static_cast<uint32_t>(p[1]) << 8) | p[0];
}

uint64_t Get64u(const unsigned char* p)
{
    const uint64_t first = Get32u(p);
    const uint64_t second = Get32u(p + 4);
    return Module().bMotorola ? (first << 32) | second : (second << 32) | first;
}

// The length of a unit in inches, for resolution units 1 to 5.
void SetUnitLength(float& field, int unit)
{
    switch (unit) {
    case 1:
    case 2:
        field = 1.0f;
        break;
    case 3:
        field = 0.3937007874f;
        break;
    case 4:
        field = 0.03937007874f;
        break;
    case 5:
        field = 0.00003937007874f;
        break;
    default:
        break;
    }
}

// Copies at most capacity - 1 bytes of a text value, up to its first NUL.
template <size_t N>
void CopyText(char (&field)[N], const unsigned char* value, uint64_t byteCount)
{
    const size_t take = static_cast<size_t>(std::min<uint64_t>(byteCount, N - 1));
    size_t n = 0;
    while (n < take && value[n])
        ++n;
    std::memcpy(field, value, n);
    field[n] = '\0';
}

// A stored value as the record's field types hold it. A value outside the
// type's range (or not a number) saturates instead of being converted:
// a damaged entry may claim anything.
int SaturatedInt(double v)
{
    if (!(v == v))
        return 0;
    return static_cast<int>(std::clamp(v, static_cast<double>(INT32_MIN), static_cast<double>(INT32_MAX)));
}
uint32_t SaturatedUnsigned(double v)
{
    if (!(v == v))
        return 0;
    return static_cast<uint32_t>(std::clamp(v, 0.0, static_cast<double>(UINT32_MAX)));
}
float SaturatedFloat(double v)
{
    if (!(v == v))
        return 0.0f;
    constexpr double kMax = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(v, -kMax, kMax));
}

struct Thumbnail {
    uint32_t offset = 0;
    uint32_t length = 0;
};

// One entry's value into the record. value holds byteCount bytes, and at
// least one value of the entry's type (count >= 1).
void StoreTag(unsigned int tag, int format, const unsigned char* value, uint64_t byteCount, Thumbnail& thumbnail)
{
    ExifModule& m = Module();
    tag_ExifInfo& r = m.Record();
    auto number = [&] { return EXIF_ConvertAnyFormat(const_cast<unsigned char*>(value), format); };
    auto integer = [&] { return SaturatedInt(number()); };
    auto unsignedNumber = [&] { return SaturatedUnsigned(number()); };
    auto real = [&] { return SaturatedFloat(number()); };
    const uint32_t offsetInTiff = static_cast<uint32_t>(value - m.pTiff);
    switch (tag) {
    case 271:
        CopyText(r.szCameraMake, value, byteCount);
        break;
    case 272:
        CopyText(r.szCameraModel, value, byteCount);
        break;
    case 36867:
        CopyText(r.szDateTime, value, byteCount);
        break;
    case 36868:
        CopyText(r.szDigitizedTime, value, byteCount);
        break;
    case 36864:
        CopyText(r.szVersion, value, byteCount);
        break;
    case 274: {
        const int orientation = integer();
        r.iOrientation = orientation >= 1 && orientation <= 8 ? orientation : 0;
        break;
    }
    case 37385:
        r.iFlashUsed = (integer() & 7) ? 1 : 0;
        break;
    case 37386:
        r.fFocalLength = real();
        break;
    case 33434:
        r.fExposureTime = real();
        break;
    case 33437:
        r.fApertureFNumber = real();
        break;
    case 37382:
        r.fDistance = real();
        break;
    case 37380:
        r.fExposureBias = real();
        break;
    case 37384:
        r.iLightSource = integer();
        break;
    case 37383:
        r.iMeteringMode = integer();
        break;
    case 34850:
        r.iExposureProgram = integer();
        break;
    case 34855: {
        int iso = integer();
        if (iso < 50 && iso > INT32_MIN / 200)
            iso *= 200;
        r.iISOequivalent = iso;
        break;
    }
    case 37122:
        r.iCompressionLevel = integer();
        break;
    case 41486:
        r.fFocalplaneXRes = real();
        break;
    case 41487:
        r.fFocalplaneYRes = real();
        break;
    case 41488:
        SetUnitLength(r.fFocalplaneUnits, integer());
        break;
    case 282:
        r.fXResolution = real();
        break;
    case 283:
        r.fYResolution = real();
        break;
    case 296:
        SetUnitLength(r.fResolutionUnit, integer());
        break;
    case 37379:
        r.fBrightness = real();
        break;
    case 37510:
        r.dwCommentsSize = static_cast<uint32_t>(byteCount);
        r.dwCommentsOffset = static_cast<uint32_t>(m.uTiffPosition + offsetInTiff);
        break;
    case 37500:
        r.dwMakerNoteSize = static_cast<uint32_t>(byteCount);
        r.dwMakerNoteOffset = offsetInTiff;
        break;
    case 513:
        thumbnail.offset = unsignedNumber();
        break;
    case 514:
        thumbnail.length = unsignedNumber();
        break;
    case 40962:
    case 40963:
        m.dwWidestImage = std::max(m.dwWidestImage, unsignedNumber());
        break;
    default:
        break;
    }
}

int WalkDirectory(uint32_t start, int depth);

// Walks a linked directory; its failure does not fail the directory that
// links it.
void WalkLinked(uint32_t start, int depth)
{
    (void)WalkDirectory(start, depth);
}

int Fail(const char* text)
{
    ExifModule& m = Module();
    m.pszError = text;
    --m.iPathLength;
    return 0;
}

int WalkDirectory(uint32_t start, int depth)
{
    ExifModule& m = Module();
    if (depth > kMaxDepth || m.iDirectories >= kMaxDirectories)
        return 0;
    for (int i = 0; i < m.iPathLength; ++i)
        if (m.path[static_cast<size_t>(i)] == start)
            return 0;
    if (static_cast<uint64_t>(start) + 2 > m.u64TiffLength) {
        m.pszError = "Illegally sized directory";
        return 0;
    }
    const unsigned char* dir = m.pTiff + start;
    const unsigned int entries = Get16u(dir);
    const uint64_t entriesEnd = static_cast<uint64_t>(start) + 2 + 12ULL * entries;
    if (entriesEnd > m.u64TiffLength) {
        m.pszError = "Illegally sized directory";
        return 0;
    }
    m.path[static_cast<size_t>(m.iPathLength++)] = start;
    ++m.iDirectories;

    Thumbnail thumbnail;
    for (unsigned int e = 0; e < entries; ++e) {
        const unsigned char* entry = dir + 2 + 12 * e;
        const unsigned int tag = Get16u(entry);
        const unsigned int format = Get16u(entry + 2);
        const uint32_t count = Get32u(entry + 4);
        if (format < 1 || format > 12)
            return Fail("Illegal format code in EXIF dir");
        const uint64_t byteCount = static_cast<uint64_t>(count) * ExifFieldTypeSize(format);
        const unsigned char* value = entry + 8;
        if (byteCount > 4) {
            const uint64_t offset = Get32u(entry + 8);
            if (offset + byteCount > m.u64TiffLength)
                return Fail("Illegal pointer offset value in EXIF.");
            value = m.pTiff + offset;
        }
        // An entry without a value has nothing to read.
        if (count == 0)
            continue;
        if (tag == 34665 || tag == 40965) {
            // A value of four bytes or less lies in the entry, a longer one
            // was checked above: four bytes are always there.
            const uint32_t link = Get32u(value);
            if (link > m.u64TiffLength)
                return Fail("Illegal subdirectory link");
            WalkLinked(link, depth + 1);
            continue;
        }
        StoreTag(tag, static_cast<int>(format), value, byteCount, thumbnail);
    }

    // The next directory's link follows the entries when the block holds it.
    if (entriesEnd + 4 <= m.u64TiffLength) {
        const uint32_t next = Get32u(m.pTiff + entriesEnd);
        if (next != 0) {
            if (next > m.u64TiffLength)
                return Fail("Illegal subdirectory link");
            WalkLinked(next, depth + 1);
        }
    }

    if (thumbnail.offset && thumbnail.length &&
        static_cast<uint64_t>(thumbnail.offset) + thumbnail.length <= m.u64TiffLength) {
        tag_ExifInfo& r = m.Record();
        r.dwThumbnailOffset = static_cast<uint32_t>(m.uTiffPosition + thumbnail.offset);
        r.dwThumbnailSize = thumbnail.length;
    }
    --m.iPathLength;
    return 1;
}

}  // namespace

unsigned int ExifFieldTypeSize(unsigned int type)
{
    static constexpr unsigned int kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    return type < 13 ? kSizes[type] : 0;
}

void SetExitInfo(tag_ExifInfo* record)
{
    Module().pRecord = record;
}

void GetExifInfo(tag_ExifInfo* out)
{
    if (out)
        std::memcpy(out, &Module().Record(), sizeof(tag_ExifInfo));
}

const char* EXIF_GetErrorString()
{
    return Module().pszError;
}

int EXIF_Get32s(void* value)
{
    return static_cast<int>(Get32u(static_cast<const unsigned char*>(value)));
}

double EXIF_ConvertAnyFormat(void* value, int type)
{
    const auto* p = static_cast<const unsigned char*>(value);
    if (!p)
        return 0;
    switch (type) {
    case 1:
        return *p;
    case 6:
        return static_cast<signed char>(*p);
    case 3:
        return Get16u(p);
    case 8:
        return static_cast<int16_t>(Get16u(p));
    case 4:
        return Get32u(p);
    case 9:
        return static_cast<int32_t>(Get32u(p));
    case 5: {
        const uint32_t den = Get32u(p + 4);
        return den == 0 ? 0.0 : static_cast<double>(Get32u(p)) / den;
    }
    case 10: {
        const int32_t den = static_cast<int32_t>(Get32u(p + 4));
        return den == 0 ? 0.0 : static_cast<double>(static_cast<int32_t>(Get32u(p))) / den;
    }
    case 11: {
        const uint32_t bits = Get32u(p);
        float f;
        std::memcpy(&f, &bits, sizeof(f));
        return f;
    }
    case 12: {
        const uint64_t bits = Get64u(p);
        double d;
        std::memcpy(&d, &bits, sizeof(d));
        return d;
    }
    default:
        return 0;
    }
}

int EXIF_process_EXIF(const unsigned char* base, unsigned int shift, unsigned char* block, unsigned int length)
{
    ExifModule& m = Module();
    m.bMotorola = false;
    m.dwWidestImage = 0;
    m.pszError = "";
    m.iPathLength = 0;
    m.iDirectories = 0;
    tag_ExifInfo& r = m.Record();
    r.iFlashUsed = 0;
    r.dwCommentsSize = 0;

    if (!block || length < sizeof(kExifHeader) || std::memcmp(block, kExifHeader, sizeof(kExifHeader)) != 0) {
        m.pszError = "Incorrect Exif header";
        return 0;
    }
    if (length < 8 || !((block[6] == 'I' && block[7] == 'I') || (block[6] == 'M' && block[7] == 'M'))) {
        m.pszError = "Invalid Exif alignment marker.";
        return 0;
    }
    m.bMotorola = block[6] == 'M';
    if (length < 10 || Get16u(block + 8) != 42) {
        m.pszError = "Invalid Exif start (1)";
        return 0;
    }
    const uint32_t first = length < 14 ? 0 : Get32u(block + 10);
    if (first < 8 || first > 16) {
        m.pszError = "Suspicious offset of first IFD value";
        return 0;
    }

    m.pTiff = block + 6;
    m.u64TiffLength = length - 6;
    // Pointer values, not a pointer difference: base may be any address of
    // the caller's.
    m.uTiffPosition = reinterpret_cast<uintptr_t>(m.pTiff) - reinterpret_cast<uintptr_t>(base) + shift;
    const int result = WalkDirectory(first, 0);
    m.iPathLength = 0;
    if (result && r.fFocalplaneXRes != 0)
        r.fCCDWidth = static_cast<float>(m.dwWidestImage * r.fFocalplaneUnits / r.fFocalplaneXRes);
    return result;
}

bool IsCameraText(std::string_view text)
{
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
                        c == ',' || c == '-' || c == '.' || c == '@' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

std::string CameraTextOrEmpty(std::string text)
{
    if (!IsCameraText(text))
        text.clear();
    return text;
}

std::string AsciiToUpper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}
