#include "TiffAnalyser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "ExifReader.h"
#include "FileNameFilter.h"
#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"
#include "ResultCode.h"

using BruteForce::RawUtility;

namespace {

const unsigned char kRafMagic[] = "FUJIFILMCCD-RAW ";
constexpr size_t kRafMagicLength = 16;

bool IsIIU(const unsigned char* p)
{
    return p[0] == 0x49 && p[1] == 0x49 && p[2] == 0x55 && p[3] == 0x00;
}

bool IsJpegStart(const unsigned char* p)
{
    return p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF && (p[3] == 0xE0 || p[3] == 0xE1 || p[3] == 0xDB);
}

bool Contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

// The text of a make or model field: up to the first NUL.
std::string TextUpToNul(const unsigned char* p, size_t length)
{
    size_t n = 0;
    while (n < length && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// The camera-text rule first (a character it refuses empties the text),
// then the name filter. Trailing spaces are padding, not part of the name.
std::string CameraName(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return ApiStrFilterBadFileName(CameraTextOrEmpty(std::move(text)));
}

}  // namespace

unsigned int TiffTypeFromCamera(const std::string& make, const std::string& model, bool iiu, unsigned int current)
{
    using namespace TiffTypes;
    if (Contains(make, "NIKON"))
        return kNEF;
    if (Contains(make, "CANON"))
        return kCR2;
    if (Contains(make, "SONY"))
        return Contains(model, "DSC-R1") ? kSR2 : kARW;
    if (Contains(make, "PANASONIC"))
        return !iiu || Contains(model, "DMC-") ? kRW2 : kRAW;
    if (Contains(make, "LEICA"))
        return iiu ? kRAW : current;
    if (Contains(make, "KODAK"))
        return Contains(model, "DCS Pro SLR") ? kDCR : kKDC;
    if (Contains(make, "EPSON"))
        return kERF;
    if (Contains(make, "HASSELBLAD"))
        return k3FR;
    if (Contains(make, "MAMIYA"))
        return kMEF;
    if (Contains(make, "PENTAX"))
        return kPEF;
    if (Contains(make, "SAMSUNG"))
        return kSRW;
    if (Contains(make, "OLYMPUS"))
        return kORF;
    return current;
}

IRawFileAnalyser* CreateTiffAnalyzer(unsigned int)
{
    return new BruteForce::TiffAnalyzer;
}

// ---- whole-file walk ------------------------------------------------------------

struct FileTIFAnalyser::Walk {
    // Added to every offset read inside the TIFF part.
    long long llBase = 0;
    long long llLargest = 0;
    int iSubDirectories = 0;
    // Last strip or thumbnail offset and the tile entries.
    long long llStripOffset = -1;
    long long llThumbOffset = -1;
    bool bThumbJpeg = false;
    Entry tileOffsets;
    Entry tileCounts;
    bool bTileOffsets = false;
    bool bTileCounts = false;
    long long llSonySubIfd = -1;
    bool bIIU = false;

    void Raise(long long end)
    {
        llLargest = std::max(llLargest, end);
    }
};

int FileTIFAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (std::memcmp(pBuffer, "FUJI", 4) == 0 && std::memcmp(pBuffer + 4, kRafMagic + 4, kRafMagicLength - 4) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

void FileTIFAnalyser::GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value)
{
    tag = m_eTag;
    value = m_strTagValue;
}

void FileTIFAnalyser::GetThumbStartAndSize(unsigned long long& start, unsigned long long& size)
{
    start = m_u64ThumbStart;
    size = m_u64ThumbSize;
}

int FileTIFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    if (info.m_llStartSector < 0)
        return 0;
    m_strMake.clear();
    m_strModel.clear();
    try {
        const unsigned int sectorSize = pDevice->GetSectorSize();
        if (sectorSize == 0)
            return 0;
        RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
        info.m_llSize = GetTiffSize(info, buffer, sectorSize);
    } catch (const std::exception&) {
        return 0;
    }
    return 1;
}

bool FileTIFAnalyser::ReadAt(RawFileBuffer& buffer, long long offset, void* out, unsigned int length)
{
    // The window holds at least one sector past any offset it returns.
    if (offset < 0 || length > 512)
        return false;
    const unsigned char* p = buffer.GetRawFileBuffer(static_cast<unsigned long long>(offset));
    if (!p)
        return false;
    std::memcpy(out, p, length);
    return true;
}

bool FileTIFAnalyser::ReadEntry(RawFileBuffer& buffer, long long offset, Entry& entry)
{
    unsigned char e[12];
    if (!ReadAt(buffer, offset, e, sizeof(e)))
        return false;
    entry.wTag = RawUtility::EXIF_Get16s(e, m_bLittleEndian);
    entry.wType = RawUtility::EXIF_Get16s(e + 2, m_bLittleEndian);
    entry.dwCount = static_cast<uint32_t>(RawUtility::EXIF_Get32s(e + 4, m_bLittleEndian));
    entry.dwValue = static_cast<uint32_t>(RawUtility::EXIF_Get32s(e + 8, m_bLittleEndian));
    std::memcpy(entry.byRaw, e + 8, 4);
    return true;
}

bool FileTIFAnalyser::ReadElement(RawFileBuffer& buffer, const Entry& entry, uint32_t index, uint32_t& out)
{
    const unsigned int size = ExifFieldTypeSize(entry.wType);
    if ((size != 1 && size != 2 && size != 4) || index >= entry.dwCount)
        return false;
    const unsigned long long bytes = static_cast<unsigned long long>(entry.dwCount) * size;
    unsigned char v[4];
    if (bytes <= 4) {
        std::memcpy(v, entry.byRaw + index * size, size);
    } else if (!ReadAt(buffer, static_cast<long long>(entry.dwValue) + static_cast<long long>(index) * size, v, size)) {
        return false;
    }
    if (size == 1)
        out = v[0];
    else if (size == 2)
        out = RawUtility::EXIF_Get16s(v, m_bLittleEndian);
    else
        out = static_cast<uint32_t>(RawUtility::EXIF_Get32s(v, m_bLittleEndian));
    return true;
}

std::string FileTIFAnalyser::ReadText(RawFileBuffer& buffer, const Entry& entry)
{
    const unsigned int length = std::min<uint32_t>(entry.dwCount, 63);
    unsigned char text[64] = {};
    if (length <= 4)
        std::memcpy(text, entry.byRaw, length);
    else if (!ReadAt(buffer, entry.dwValue, text, length))
        return {};
    return TextUpToNul(text, length);
}

void FileTIFAnalyser::ReadRafHeader(Walk& walk, RawFileBuffer& buffer, CRawFileInfo& info)
{
    unsigned char head[136];
    if (!ReadAt(buffer, 0, head, sizeof(head)))
        throw std::runtime_error("RAF header unreadable");
    const long long jpegOffset = RawReadBE32(head + 84);
    const long long jpegLength = RawReadBE32(head + 88);
    if (jpegOffset > kMaxOffset || jpegLength > kMaxOffset)
        throw std::runtime_error("RAF header out of range");
    // The embedded JPEG's APP1 block carries the camera and the time.
    unsigned char marker[10];
    if (ReadAt(buffer, jpegOffset, marker, sizeof(marker)) && marker[2] == 0xFF && marker[3] == 0xE1 &&
        std::memcmp(marker + 6, "Exif", 4) == 0) {
        const unsigned int app1 = (static_cast<unsigned int>(marker[4]) << 8) | marker[5];
        if (app1 > 8) {
            std::vector<unsigned char> block(app1 - 2);
            bool read = true;
            for (size_t done = 0; read && done < block.size(); done += 512)
                read = ReadAt(buffer, jpegOffset + 6 + static_cast<long long>(done), block.data() + done,
                              static_cast<unsigned int>(std::min<size_t>(512, block.size() - done)));
            tag_ExifInfo exif{};
            SetExitInfo(&exif);
            if (read && EXIF_process_EXIF(block.data(), 4, block.data(), static_cast<unsigned int>(block.size()))) {
                GetExifInfo(&exif);
                const std::string model = TextUpToNul(reinterpret_cast<unsigned char*>(exif.szCameraModel),
                                                      sizeof(exif.szCameraModel));
                const std::string make = TextUpToNul(reinterpret_cast<unsigned char*>(exif.szCameraMake),
                                                     sizeof(exif.szCameraMake));
                m_strName = model.find('<') == std::string::npos ? model : ApiStrFilterBadFileName(make);
                m_strMake = make.empty() ? m_strName : make;
                m_strTime = TextUpToNul(reinterpret_cast<unsigned char*>(exif.szDateTime), sizeof(exif.szDateTime));
                info.SetRawFileName(m_strName);
                info.m_strTime = m_strTime;
            }
        }
    }
    walk.Raise(jpegOffset + jpegLength);
    walk.Raise(static_cast<long long>(RawReadBE32(head + 92)) + RawReadBE32(head + 96));
    walk.Raise(static_cast<long long>(RawReadBE32(head + 100)) + RawReadBE32(head + 104));
    walk.llLargest += RawReadBE32(head + 132);
    walk.llBase = kRafTiffBase;
}

bool FileTIFAnalyser::WalkDirectory(Walk& walk, RawFileBuffer& buffer, long long dir, bool mainChain, int depth,
                                    long long& next, long long& linkEnd)
{
    next = 0;
    unsigned char countBytes[2];
    if (dir < 0 || dir > kMaxOffset + walk.llBase || !ReadAt(buffer, dir, countBytes, 2))
        return false;
    const unsigned int count = RawUtility::EXIF_Get16s(countBytes, m_bLittleEndian);
    if (count < 1 || count > kMaxEntries)
        return false;
    for (unsigned int i = 0; i < count; ++i) {
        Entry e;
        if (!ReadEntry(buffer, dir + 2 + 12LL * i, e))
            return false;
        const unsigned long long bytes = static_cast<unsigned long long>(e.dwCount) * ExifFieldTypeSize(e.wType);
        const long long valueAt = walk.llBase + e.dwValue;
        if (bytes >= 5)
            walk.Raise(valueAt + static_cast<long long>(std::min<unsigned long long>(bytes, 1ULL << 40)));
        uint32_t v = 0;
        switch (e.wTag) {
        case 271:
            if (mainChain) {
                std::string make = CameraName(AsciiToUpper(ReadText(buffer, e)));
                if (make.size() >= 31)
                    make.clear();
                m_strMake = make;
                if (!make.empty()) {
                    m_eTag = RAW_TAG_CAMERA;
                    m_strTagValue = make;
                }
                if (Contains(make, "EPSON"))
                    m_bEpson = true;
            }
            break;
        case 272:
            if (mainChain) {
                const std::string raw = ReadText(buffer, e);
                std::string model = raw.size() >= 41 ? std::string() : CameraName(raw);
                m_strModel = model;
                if (m_strMake.empty() && !model.empty()) {
                    m_eTag = RAW_TAG_CAMERA;
                    m_strTagValue = model;
                }
                if (model.rfind("NIKON", 0) == 0 || Contains(AsciiToUpper(m_strMake), "NIKON"))
                    m_bNikon = true;
                if (model.rfind("DSLR-A100", 0) == 0)
                    m_bSonyA100 = true;
                if (m_bRAF) {
                    // The extent of a RAF file came from its header: the
                    // camera is all its TIFF part adds.
                    next = -1;
                    return true;
                }
            }
            break;
        case 273:
        case 513:
            if (e.dwCount >= 1 && ReadElement(buffer, e, e.dwCount - 1, v)) {
                long long& offset = e.wTag == 273 ? walk.llStripOffset : walk.llThumbOffset;
                offset = walk.llBase + v;
                unsigned char head[4];
                if (e.dwCount == 1 && ReadAt(buffer, offset, head, 4) && IsJpegStart(head)) {
                    m_u64ThumbStart = static_cast<unsigned long long>(offset);
                    walk.bThumbJpeg = true;
                }
            }
            break;
        case 279:
        case 514:
            if (e.dwCount >= 1 && ReadElement(buffer, e, e.dwCount - 1, v)) {
                const long long offset = e.wTag == 279 ? walk.llStripOffset : walk.llThumbOffset;
                if (offset >= 0) {
                    walk.Raise(offset + v);
                    if (walk.bThumbJpeg && m_u64ThumbStart == static_cast<unsigned long long>(offset))
                        m_u64ThumbSize = v;
                }
            }
            break;
        case 306:
            if (m_strTime.empty())
                m_strTime = ReadText(buffer, e);
            break;
        case 36867:
            if (!mainChain && m_strTime.empty())
                m_strTime = ReadText(buffer, e);
            break;
        case 324:
            walk.tileOffsets = e;
            walk.bTileOffsets = true;
            break;
        case 325:
            walk.tileCounts = e;
            walk.bTileCounts = true;
            break;
        case 330:
            for (uint32_t k = 0; k < e.dwCount && k < kMaxEntries; ++k) {
                if (!ReadElement(buffer, e, k, v))
                    break;
                if (m_bSonyA100) {
                    walk.llSonySubIfd = walk.llBase + v;
                    continue;
                }
                WalkSubDirectory(walk, buffer, walk.llBase + v, depth + 1);
            }
            break;
        case 34665:
            WalkSubDirectory(walk, buffer, valueAt, depth + 1);
            break;
        case 37500:
            if (!mainChain)
                WalkSubDirectory(walk, buffer, valueAt + (m_bNikon ? 18 : m_bEpson ? 8 : 0), depth + 1);
            break;
        case 33723:
            if (!mainChain) {
                walk.Raise(valueAt + static_cast<long long>(std::min<unsigned long long>(bytes, 1ULL << 40)));
            } else if (Contains(m_strMake, "KODAK") && Contains(m_strModel, "DCS Pro SLR") && bytes == 0) {
                unsigned char b[4];
                if (ReadAt(buffer, valueAt, b, 4))
                    walk.Raise(valueAt + static_cast<uint32_t>(RawUtility::EXIF_Get32s(b, m_bLittleEndian)));
            }
            break;
        case 640:
            walk.Raise(valueAt + static_cast<long long>(std::min<unsigned long long>(bytes, 1ULL << 40)));
            break;
        case 37724:
            walk.Raise(valueAt + static_cast<long long>(std::min<unsigned long long>(bytes, 1ULL << 40)));
            break;
        case 50706:
            m_bDNG = true;
            break;
        case 50740:
            if (m_bSonyA100 && walk.llSonySubIfd >= 0) {
                unsigned char b[6];
                if (ReadAt(buffer, valueAt + 4, b, 6)) {
                    const long long length = RawUtility::EXIF_Get16s(b, m_bLittleEndian);
                    const long long value = static_cast<uint32_t>(RawUtility::EXIF_Get32s(b + 2, m_bLittleEndian));
                    walk.Raise(walk.llSonySubIfd + length + value);
                }
            }
            break;
        case 46:
            if (mainChain) {
                unsigned char b[4];
                if (ReadAt(buffer, valueAt + 16, b, 4)) {
                    const long long saved = walk.llBase;
                    walk.llBase = valueAt + 12;
                    WalkSubDirectory(walk, buffer,
                                     walk.llBase + static_cast<uint32_t>(RawUtility::EXIF_Get32s(b, m_bLittleEndian)),
                                     depth + 1);
                    walk.llBase = saved;
                }
            }
            break;
        default:
            break;
        }
    }
    linkEnd = dir + 2 + 12LL * count + 4;
    unsigned char link[4];
    if (ReadAt(buffer, dir + 2 + 12LL * count, link, 4)) {
        const uint32_t l = static_cast<uint32_t>(RawUtility::EXIF_Get32s(link, m_bLittleEndian));
        next = l ? walk.llBase + l : 0;
    }
    return true;
}

void FileTIFAnalyser::WalkSubDirectory(Walk& walk, RawFileBuffer& buffer, long long dir, int depth)
{
    // Sub-directories chain too; every one counts against the file's cap.
    for (int guard = 0; dir > 0 && guard < kMaxSubDirectories; ++guard) {
        if (walk.iSubDirectories >= kMaxSubDirectories || depth > kMaxSubDirectories)
            return;
        ++walk.iSubDirectories;
        long long next = 0, linkEnd = 0;
        if (!WalkDirectory(walk, buffer, dir, false, depth, next, linkEnd))
            return;
        walk.Raise(linkEnd);
        if (next <= dir)
            return;
        dir = next;
    }
}

long long FileTIFAnalyser::ZeroEndedSize(RawFileBuffer& buffer, long long size, unsigned int sectorSize)
{
    // From the last sector of that size onwards, the first sector that ends
    // in 16 zero bytes ends the file.
    for (long long at = size - sectorSize; at < kZeroSearchLimit; at += sectorSize) {
        if (at < 0)
            at = 0;
        unsigned char tail[16];
        if (!ReadAt(buffer, at + sectorSize - 16, tail, sizeof(tail)))
            return at;
        if (std::all_of(tail, tail + sizeof(tail), [](unsigned char b) { return b == 0; }))
            return at + sectorSize;
    }
    return kZeroSearchLimit;
}

long long FileTIFAnalyser::GetTiffSize(CRawFileInfo& info, RawFileBuffer& buffer, unsigned int sectorSize)
{
    m_u64ThumbStart = m_u64ThumbSize = 0;
    m_bRAF = m_bDNG = m_bNikon = m_bEpson = m_bSonyA100 = false;
    m_strName.clear();
    m_strTime.clear();
    m_eTag = RAW_TAG_NONE;
    m_strTagValue.clear();

    Walk walk;
    unsigned char head[16];
    if (!ReadAt(buffer, 0, head, sizeof(head)))
        return 0;
    if (std::memcmp(head, kRafMagic, kRafMagicLength) == 0) {
        m_bRAF = true;
        info.m_dwType = TiffTypes::kRAF;
        try {
            ReadRafHeader(walk, buffer, info);
        } catch (const std::runtime_error&) {
            return 0;
        }
        if (!ReadAt(buffer, walk.llBase, head, 8))
            return 0;
    }
    const unsigned char* tiff = head;
    m_bLittleEndian = !(tiff[0] == 'M' && tiff[1] == 'M');
    walk.bIIU = IsIIU(tiff);
    if (walk.bIIU)
        info.m_dwType = TiffTypes::kRAW;

    long long dir = walk.llBase + static_cast<uint32_t>(RawUtility::EXIF_Get32s(tiff + 4, m_bLittleEndian));
    long long chainEnd = 0;
    bool rafDone = false;
    for (int guard = 0; guard < 4096 && dir > 0 && dir - walk.llBase <= kMaxOffset; ++guard) {
        long long next = 0, linkEnd = 0;
        if (!WalkDirectory(walk, buffer, dir, true, 0, next, linkEnd))
            break;
        if (next == -1) {
            rafDone = true;
            break;
        }
        chainEnd = std::max(chainEnd, linkEnd);
        if (next <= dir || next - walk.llBase > kMaxOffset)
            break;
        dir = next;
    }

    if (!rafDone && walk.bTileOffsets && walk.bTileCounts &&
        ExifFieldTypeSize(walk.tileOffsets.wType) == ExifFieldTypeSize(walk.tileCounts.wType) &&
        walk.tileOffsets.dwCount == walk.tileCounts.dwCount && walk.tileOffsets.dwCount >= 1) {
        uint32_t lastOffset = 0, lastCount = 0;
        if (ReadElement(buffer, walk.tileOffsets, walk.tileOffsets.dwCount - 1, lastOffset) &&
            ReadElement(buffer, walk.tileCounts, walk.tileCounts.dwCount - 1, lastCount))
            walk.Raise(walk.llBase + lastOffset + lastCount);
    }
    walk.Raise(chainEnd);

    if (m_bRAF) {
        info.m_dwType = TiffTypes::kRAF;
    } else if (m_bDNG) {
        info.m_dwType = TiffTypes::kDNG;
    } else {
        info.m_dwType = TiffTypeFromCamera(m_strMake, m_strModel, walk.bIIU, TiffTypes::kTIF);
    }
    if (!m_bRAF) {
        m_strName = m_strModel;
        if (!m_strMake.empty())
            m_strName = m_strModel.empty() ? m_strMake : m_strMake + "_" + m_strModel;
        info.SetRawFileName(m_strName);
        info.m_strTime = m_strTime;
    }
    if (!m_strMake.empty()) {
        m_eTag = RAW_TAG_CAMERA;
        m_strTagValue = m_strMake;
        info.SetRawFileTagAndValue(RAW_TAG_CAMERA, m_strMake);
    } else {
        m_eTag = RAW_TAG_NONE;
        m_strTagValue.clear();
    }

    long long largest = walk.llLargest;
    if (largest < kSmallEnd || largest > kMaxOffset)
        largest = kFallbackSize;
    long long size = (largest + sectorSize - 1) / sectorSize * sectorSize;
    if (size < kZeroSearchBelow)
        size = ZeroEndedSize(buffer, size, sectorSize);
    return size;
}

// ---- streaming -------------------------------------------------------------------

namespace BruteForce {

int TiffAnalyzer::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    const bool accepted = std::memcmp(sector, kRafMagic, kRafMagicLength) == 0 ||
                          (sector[0] == 'M' && sector[1] == 'M' &&
                           ((sector[2] == 0 && sector[3] == 0x2A) || (sector[2] == 'O' && sector[3] == 'R'))) ||
                          (sector[0] == 'I' && sector[1] == 'I' &&
                           ((sector[2] == 0x2A && sector[3] == 0) || (sector[2] == 'U' && sector[3] == 0) ||
                            (sector[2] == 'R' && (sector[3] == 'O' || sector[3] == 'S'))));
    if (!accepted)
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* TiffAnalyzer::CreateRawFileInfo()
{
    return new TiffRawFileInfo(&m_FileAnalyser);
}

TiffAnalyzer::TiffRawFileInfo::TiffRawFileInfo(FileTIFAnalyser* fileAnalyser) : m_pFileAnalyser(fileAnalyser)
{
    m_dwType = kType;
}

void TiffAnalyzer::TiffRawFileInfo::WillBeRemove(unsigned char*, long long)
{
    m_pOwner = m_pFileAnalyser;
}

const unsigned char* TiffAnalyzer::TiffRawFileInfo::At(const SearchContext& context, long long offset,
                                                       long long length) const
{
    const unsigned char* p = nullptr;
    if (LocateRawRecord(context, m_llStartSector, offset, length, &p) != RawRecordPlace::InMemory)
        return nullptr;
    return p;
}

void TiffAnalyzer::TiffRawFileInfo::Raise(long long end)
{
    m_llLargestEnd = std::max(m_llLargestEnd, end);
    m_llStructEnd = std::max(m_llStructEnd, end);
}

bool TiffAnalyzer::TiffRawFileInfo::StructureComplete() const
{
    return !m_bStop && m_bDataSeen && m_iDirectories > 0 && m_llNextDirectory == 0 &&
           m_mapPendingDirectories.empty() && m_mapPendingThumbs.empty() && m_llStructEnd <= kMaxArea;
}

int TiffAnalyzer::TiffRawFileInfo::FinishWithoutSize()
{
    m_llSize = 0;
    return 1;
}

int TiffAnalyzer::TiffRawFileInfo::Finish(long long sectorNumber, long long size)
{
    char range[64];
    std::snprintf(range, sizeof(range), "%lld-%lld_", m_llStartSector, sectorNumber);
    if (!m_strMake.empty())
        SetRawFileName(m_strMake + "_" + m_strModel + "_" + range);
    else
        SetRawFileName(m_strModel + "_" + range);
    m_llSize = size;
    return 1;
}

bool TiffAnalyzer::TiffRawFileInfo::Element(const SearchContext& context, const Entry& entry, uint32_t index,
                                            uint32_t& out)
{
    const unsigned int size = ExifFieldTypeSize(entry.wType);
    if (index >= entry.dwCount || size == 0 || size > 4)
        return false;
    const unsigned char* p = entry.u64Bytes <= 4 ? entry.pValueField + index * size
                                                 : At(context, static_cast<long long>(entry.dwValue) +
                                                                   static_cast<long long>(index) * size,
                                                      size);
    if (!p) {
        m_bStop = true;
        return false;
    }
    if (size == 1)
        out = p[0];
    else if (size == 2)
        out = RawUtility::EXIF_Get16s(p, m_bLittleEndian);
    else
        out = static_cast<uint32_t>(RawUtility::EXIF_Get32s(p, m_bLittleEndian));
    return true;
}

std::string TiffAnalyzer::TiffRawFileInfo::Text(const SearchContext& context, const Entry& entry)
{
    const long long length = std::min<unsigned long long>(entry.u64Bytes, 63);
    if (length <= 0)
        return {};
    const unsigned char* p = entry.u64Bytes <= 4 ? entry.pValueField : At(context, entry.dwValue, length);
    if (!p) {
        m_bStop = true;
        return {};
    }
    return TextUpToNul(p, static_cast<size_t>(length));
}

bool TiffAnalyzer::TiffRawFileInfo::IsJpegAt(const SearchContext& context, long long offset, bool& pending)
{
    const unsigned char* p = nullptr;
    pending = false;
    switch (LocateRawRecord(context, m_llStartSector, offset, 4, &p)) {
    case RawRecordPlace::InMemory:
        return IsJpegStart(p);
    case RawRecordPlace::NotYet:
        pending = true;
        return false;
    case RawRecordPlace::Gone:
        break;
    }
    return false;
}

void TiffAnalyzer::TiffRawFileInfo::LinkedDirectory(const SearchContext& context, long long offset, long long sector,
                                                    int depth)
{
    if (offset <= 0)
        return;
    const long long ss = m_dwSectorSize;
    const long long at = m_llStartSector + offset / ss;
    if (at <= sector) {
        ExamineDirectory(context, offset, sector, false, depth + 1);
        return;
    }
    m_mapPendingDirectories[offset] = at;
}

void TiffAnalyzer::TiffRawFileInfo::InterpretEntry(const SearchContext& context, const Entry& e, long long sector,
                                                   int depth, uint32_t& tileOffsetsCount,
                                                   unsigned long long& tileOffsetsBytes, uint32_t& tileOffsetsValue,
                                                   uint16_t& tileOffsetsType)
{
    uint32_t v = 0;
    const long long valueEnd = static_cast<long long>(e.dwValue) + static_cast<long long>(e.u64Bytes);
    switch (e.wTag) {
    case 46:
    case 37724:
        Raise(valueEnd);
        break;
    case 256:
        if (Element(context, e, 0, v))
            m_llWidth = v;
        break;
    case 257:
        if (Element(context, e, 0, v))
            m_llHeight = v;
        break;
    case 271:
        if (!m_bMakeRead) {
            m_bMakeRead = true;
            std::string make = CameraName(AsciiToUpper(Text(context, e)));
            if (make.empty() || make.size() > 30)
                make.clear();
            m_strMake = make;
            if (!make.empty())
                SetRawFileTagAndValue(RAW_TAG_CAMERA, make);
        }
        break;
    case 272:
        if (!m_bModelRead) {
            m_bModelRead = true;
            m_strModel = CameraName(Text(context, e));
            if (m_strMake.empty() && !m_strModel.empty())
                SetRawFileTagAndValue(RAW_TAG_CAMERA, m_strModel);
        }
        break;
    case 273:
        if (e.dwCount >= 1 && Element(context, e, e.dwCount - 1, v)) {
            m_llStripOffset = v;
            m_bStripJpeg = m_bStripPending = false;
            if (e.dwCount == 1)
                m_bStripJpeg = IsJpegAt(context, v, m_bStripPending);
        }
        break;
    case 279:
        if (e.dwCount >= 1 && Element(context, e, e.dwCount - 1, v)) {
            m_llStripCount = v;
            if (m_bStripJpeg) {
                m_llThumbOffset = m_llStripOffset;
                m_llThumbLength = v;
            } else if (m_bStripPending) {
                m_mapPendingThumbs[m_llStripOffset] = v;
            }
            if (m_llStripOffset >= 1 && v >= 1)
                Raise(m_llStripOffset + v);
            m_bStripCountsSeen = true;
            m_bDataSeen = true;
        }
        break;
    case 306: {
        const std::string time = Text(context, e);
        if (time.size() >= 10 && time.size() <= 40)
            m_strTime = time;
        break;
    }
    case 324:
        tileOffsetsCount = e.dwCount;
        tileOffsetsBytes = e.u64Bytes;
        tileOffsetsValue = e.dwValue;
        tileOffsetsType = e.wType;
        Raise(valueEnd);
        break;
    case 325:
        Raise(valueEnd);
        m_bDataSeen = true;
        if (e.dwCount >= 1 && e.dwCount == tileOffsetsCount && e.u64Bytes == tileOffsetsBytes) {
            // The last tile's offset and byte count give the tiles' end.
            Entry offsets = e;
            offsets.dwValue = tileOffsetsValue;
            offsets.wType = tileOffsetsType;
            uint32_t lastOffset = 0, lastCount = 0;
            if (e.u64Bytes > 4 && Element(context, offsets, e.dwCount - 1, lastOffset) &&
                Element(context, e, e.dwCount - 1, lastCount))
                Raise(static_cast<long long>(lastOffset) + lastCount);
            else if (e.u64Bytes <= 4 && Element(context, e, 0, lastCount))
                Raise(static_cast<long long>(tileOffsetsValue) + lastCount);
        }
        break;
    case 330:
        if (e.u64Bytes == 0 || e.dwCount >= 513) {
            m_bStop = true;
            break;
        }
        m_llMakerNoteBase = 0;
        for (uint32_t k = 0; k < e.dwCount && !m_bStop; ++k) {
            if (!Element(context, e, k, v))
                break;
            Raise(v);
            if (v == 1) {
                m_bStop = true;
                break;
            }
            LinkedDirectory(context, v, sector, depth);
        }
        break;
    case 513:
        if (e.dwValue < 4294967295u) {
            m_llThumbCandidate = e.dwValue;
            if (Element(context, e, 0, v))
                m_llThumbCandidate = v;
            m_bThumbJpeg = IsJpegAt(context, m_llThumbCandidate, m_bThumbPending);
        }
        break;
    case 514:
        if (Element(context, e, 0, v)) {
            Raise(m_llThumbCandidate + v);
            if (m_bThumbJpeg) {
                m_llThumbOffset = m_llThumbCandidate;
                m_llThumbLength = v;
            } else if (m_bThumbPending) {
                m_mapPendingThumbs[m_llThumbCandidate] = v;
            }
            m_bStripCountsSeen = true;
        }
        break;
    case 34665:
        Raise(valueEnd);
        m_llMakerNoteBase = 0;
        if (Element(context, e, 0, v))
            LinkedDirectory(context, v, sector, depth);
        break;
    case 37500:
        Raise(valueEnd);
        LinkedDirectory(context, static_cast<long long>(e.dwValue) + m_llMakerNoteBase, sector, depth);
        break;
    case 50706:
        m_bDNG = true;
        break;
    default:
        break;
    }
}

void TiffAnalyzer::TiffRawFileInfo::ExamineDirectory(const SearchContext& context, long long dir, long long sector,
                                                     bool chain, int depth)
{
    if (m_bStop)
        return;
    if (depth > kMaxDirectories) {
        m_bStop = true;
        return;
    }
    const long long ss = m_dwSectorSize;
    const unsigned char* p = nullptr;
    const bool countRead = LocateRawRecord(context, m_llStartSector, dir, 2, &p) == RawRecordPlace::InMemory;
    const unsigned int n = countRead ? RawUtility::EXIF_Get16s(p, m_bLittleEndian) : 0;
    const long long inMemory = (context.llBlockEnd - context.llLookBackStart) * ss;
    if (!countRead || n > kMaxEntries || 12LL * n > inMemory ||
        LocateRawRecord(context, m_llStartSector, dir, 2 + 12LL * n + 4, &p) != RawRecordPlace::InMemory) {
        if (chain)
            m_llNextDirectory = 0;
        return;
    }
    if (m_iDirectories >= kMaxDirectories) {
        m_bStop = true;
        return;
    }
    ++m_iDirectories;
    m_llCurrentDirectory = dir;
    // The directory's own end includes its 4-byte link: a file cut before
    // it would lose the field that closes the chain.
    Raise(dir + 2 + 12LL * n + 4);

    uint32_t tileCount = 0, tileValue = 0;
    unsigned long long tileBytes = 0;
    uint16_t tileType = 0;
    for (unsigned int i = 0; i < n && !m_bStop; ++i) {
        // The directory's bytes may move with a nested examination only if
        // the block changed, which it does not inside one call.
        const unsigned char* raw = p + 2 + 12 * i;
        Entry e;
        e.wTag = RawUtility::EXIF_Get16s(raw, m_bLittleEndian);
        e.wType = RawUtility::EXIF_Get16s(raw + 2, m_bLittleEndian);
        e.dwCount = static_cast<uint32_t>(RawUtility::EXIF_Get32s(raw + 4, m_bLittleEndian));
        e.dwValue = static_cast<uint32_t>(RawUtility::EXIF_Get32s(raw + 8, m_bLittleEndian));
        e.pValueField = raw + 8;
        const unsigned int size = ExifFieldTypeSize(e.wType);
        e.u64Bytes = static_cast<unsigned long long>(e.dwCount) * size;
        if (e.u64Bytes >= 5)
            Raise(static_cast<long long>(e.dwValue) + static_cast<long long>(e.u64Bytes));
        if (size == 1 || size == 2 || size == 4)
            InterpretEntry(context, e, sector, depth, tileCount, tileBytes, tileValue, tileType);
    }
    if (m_bDNG)
        m_dwType = TiffTypes::kDNG;
    else
        m_dwType = TiffTypeFromCamera(m_strMake, m_strModel, m_bIIU, m_dwType);
    if (m_llHeight >= 600 && m_llWidth >= 400)
        m_llArea = m_llWidth * m_llHeight;

    const uint32_t link = static_cast<uint32_t>(RawUtility::EXIF_Get32s(p + 2 + 12 * n, m_bLittleEndian));
    if (chain)
        m_llNextDirectory = link;
    else if (link != 0)
        LinkedDirectory(context, link, sector, depth);
}

int TiffAnalyzer::TiffRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                               SearchContext& context)
{
    if (!sector || sectorSize <= 0 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long index = sectorNumber - m_llStartSector;
    if (index == 0) {
        m_dwSectorSize = static_cast<unsigned int>(sectorSize);
        if (IsIIU(sector)) {
            m_dwType = TiffTypes::kRAW;
            m_bIIU = true;
            return FinishWithoutSize();
        }
        if (std::memcmp(sector, kRafMagic, kRafMagicLength) == 0)
            return FinishWithoutSize();
        m_bLittleEndian = sector[0] == 'I';
        const long long first = static_cast<uint32_t>(RawUtility::EXIF_Get32s(sector + 4, m_bLittleEndian));
        if (first >= ss) {
            m_llLargestEnd = first;
            if (first >= kFarFirstDirectory)
                return FinishWithoutSize();
        }
        m_llNextDirectory = first;
    }

    // The main chain: directories that begin in the sectors fed so far.
    for (int row = 0; row < kMaxChainInSector && m_llNextDirectory > 0 && !m_bStop; ++row) {
        const long long dir = m_llNextDirectory;
        if (dir / ss > index)
            break;
        const unsigned char* p = nullptr;
        const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, dir, 2, &p);
        if (place == RawRecordPlace::NotYet)
            break;
        if (place == RawRecordPlace::InMemory) {
            const unsigned int n = RawUtility::EXIF_Get16s(p, m_bLittleEndian);
            // A directory that runs into sectors not read yet waits for them.
            if (n <= kMaxEntries && LocateRawRecord(context, m_llStartSector, dir, 2 + 12LL * n + 4, &p) ==
                                        RawRecordPlace::NotYet)
                break;
        }
        ExamineDirectory(context, dir, sectorNumber, true, 0);
        if (m_llNextDirectory != 0 && m_llNextDirectory <= dir)
            return FinishWithoutSize();
    }

    // Directories and thumbnails named earlier whose sector has come.
    for (int guard = 0; guard < kMaxChainInSector && !m_bStop && !m_mapPendingDirectories.empty(); ++guard) {
        const auto it = std::min_element(m_mapPendingDirectories.begin(), m_mapPendingDirectories.end(),
                                         [](const auto& a, const auto& b) { return a.second < b.second; });
        if (it->second > sectorNumber)
            break;
        const long long dir = it->first;
        const unsigned char* p = nullptr;
        const RawRecordPlace place = LocateRawRecord(context, m_llStartSector, dir, 2, &p);
        if (place == RawRecordPlace::NotYet)
            break;
        m_mapPendingDirectories.erase(it);
        if (place == RawRecordPlace::InMemory)
            ExamineDirectory(context, dir, sectorNumber, false, 0);
    }
    for (auto it = m_mapPendingThumbs.begin(); it != m_mapPendingThumbs.end();) {
        bool pending = false;
        const bool jpeg = IsJpegAt(context, it->first, pending);
        if (pending) {
            ++it;
            continue;
        }
        if (jpeg) {
            m_llThumbOffset = it->first;
            m_llThumbLength = it->second;
        }
        it = m_mapPendingThumbs.erase(it);
    }
    if (m_bStop)
        return FinishWithoutSize();

    // A plain picture whose structure was read whole ends where it says.
    const long long fedEnd = ss * (index + 1);
    if (m_dwType == TiffTypes::kTIF && StructureComplete()) {
        if (fedEnd < m_llStructEnd)
            return 2;
        m_bExactEnd = true;
        return Finish(m_llStartSector + (m_llStructEnd - 1) / ss, m_llStructEnd);
    }

    // The size decision.
    if (!m_bStripCountsSeen && m_llArea > m_llLargestEnd && m_llArea <= kMaxArea)
        m_llLargestEnd = m_llArea;
    const unsigned int zeros = context.dwTrailingZero;
    const long long through = ss * (index + 1);
    bool more;
    if (zeros < 32)
        more = zeros >= 16 || through < m_llLargestEnd || m_llLargestEnd < kBigEnd;
    else
        more = through <= m_llLargestEnd;
    if (more)
        return 2;
    long long size = through;
    if (m_llLargestEnd < kExactBelow && m_llLargestEnd > through - ss && m_dwType != TiffTypes::kTIF)
        size = m_llLargestEnd;
    return Finish(sectorNumber, size);
}

}  // namespace BruteForce
