#include <algorithm>
#include <cstring>

#include "ExifReader.h"
#include "FileNameFilter.h"
#include "IStorageDevice.h"
#include "JpegAnalyser.h"
#include "JpegMarkers.h"
#include "RawFileBuffer.h"

using namespace JpegMarkers;

namespace {

enum class JpegMethod { Jfif, Exif, Other };

// The frames that give a picture's dimensions, by method.
bool IsSizingFrame(JpegMethod method, unsigned char marker, bool haveDimensions)
{
    switch (method) {
    case JpegMethod::Jfif:
        return marker == 0xC0 || (marker == 0xC2 && !haveDimensions);
    case JpegMethod::Exif:
        return marker == 0xC0;
    case JpegMethod::Other:
        return IsFrameMarker(marker);
    }
    return false;
}

}  // namespace

int FileJPGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || !(HasJfifOrExifHeader(sector) || IsBareStart(sector)))
        return 0;
    info.m_dwType = kType;
    return 1;
}

void FileJPGAnalyser::GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value)
{
    tag = m_eTag;
    value = m_strTagValue;
}

void FileJPGAnalyser::ReadExif(unsigned char* head, unsigned int offset, unsigned int length, CRawFileInfo& info)
{
    tag_ExifInfo exif;
    std::memset(&exif, 0, sizeof(exif));
    SetExitInfo(&exif);
    const int read = EXIF_process_EXIF(head, 4, head + offset, length);
    SetExitInfo(nullptr);
    if (!read)
        return;
    const std::string model = exif.szCameraModel;
    m_strName = model.find('<') == std::string::npos ? model : ApiStrFilterBadFileName(exif.szCameraMake);
    m_strTagValue = m_strName;
    m_strTime = exif.szDateTime;
    info.SetRawFileName(m_strName);
    info.m_strTime = m_strTime;
    if (!m_strTagValue.empty())
        m_eTag = RAW_TAG_CAMERA;
}

int FileJPGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device || info.m_llStartSector < 0)
        return 0;
    m_dwSectorSize = device->GetSectorSize() ? device->GetSectorSize() : 512;
    m_strName.clear();
    m_strTime.clear();
    m_eTag = RAW_TAG_NONE;
    m_strTagValue.clear();

    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char* head = buffer.GetRawFileBuffer(0);
    if (!head)
        return 0;
    JpegMethod method = JpegMethod::Other;
    if (std::memcmp(head + 6, "JFIF", 4) == 0)
        method = JpegMethod::Jfif;
    else if (EqualNoCase4(head + 6, "Exif"))
        method = JpegMethod::Exif;
    const long long limit = method == JpegMethod::Jfif ? kJfifLimit : kOtherLimit;

    // The first window holds at least 64 KiB and one sector more: an APP1
    // segment at offset 2 or 20 lies wholly in it.
    if (method == JpegMethod::Jfif && head[2] == 0xFF) {
        const unsigned int length = ReadBE16(head + 22);
        if (length >= 2)
            ReadExif(head, 24, length - 2, info);
    } else if (method == JpegMethod::Exif) {
        const unsigned int length = ReadBE16(head + 4);
        if (length >= 2)
            ReadExif(head, 6, length - 2, info);
    }
    if (head[2] != 0xFF)
        return 0;

    long long pos = 2;
    bool frame = false;
    unsigned long long width = 0;
    unsigned long long height = 0;
    for (;;) {
        if (pos > limit)
            return 0;
        if (pos == limit) {
            info.m_llSize = limit;
            info.m_dwType = kType;
            return 1;
        }
        // Every window gives a sector past the position: a marker header
        // reads whole.
        const unsigned char* m = buffer.GetRawFileBuffer(static_cast<unsigned long long>(pos));
        if (!m || m[0] != 0xFF)
            return 0;
        const unsigned char marker = m[1];
        const long long length = marker == 0xFF ? 0 : ReadBE16(m + 2);
        if (IsSizingFrame(method, marker, frame)) {
            if (m[4] != 8 || (method == JpegMethod::Other && m[9] != 3)) {
                info.m_llSize = 0;
                return 0;
            }
            height = ReadBE16(m + 5);
            width = ReadBE16(m + 7);
            frame = true;
        } else if (marker == 0xDA) {
            long long size;
            if (!frame) {
                size = AddFileSizeByPerSecSize(buffer, pos, limit);
            } else {
                if (method == JpegMethod::Other && m[4] != 3) {
                    info.m_llSize = 0;
                    return 0;
                }
                // The bound counts from the scan data: header segments may
                // be large next to the pixels.
                const long long scan = pos + length + 2;
                const unsigned long long pixels = width * height * 3;
                long long bound = limit;
                if (pixels != 0 && static_cast<unsigned long long>(limit) > pixels)
                    bound = std::min(limit, scan + static_cast<long long>(pixels));
                size = AddFileSizeByPerSecSize(buffer, scan, bound);
            }
            info.m_llSize = size;
            info.m_dwType = kType;
            return 1;
        }
        pos += length + 2;
    }
}

long long FileJPGAnalyser::AddFileSizeByPerSecSize(RawFileBuffer& buffer, long long position, long long bound)
{
    const int ss = static_cast<int>(m_dwSectorSize);
    long long pos = position;
    int previousLast = -1;  // the last byte of the sector before, once seen
    while (pos < bound) {
        const long long sectorStart = pos / ss * ss;
        const int from = static_cast<int>(pos - sectorStart);
        // The window gives this sector whole and the next one too.
        const unsigned char* s = buffer.GetRawFileBuffer(static_cast<unsigned long long>(sectorStart));
        if (!s)
            return pos;
        if (s[ss - 2] == 0xFF && s[ss - 1] == 0xD9)
            return sectorStart + ss;
        const bool zeroTail = (s[ss - 6] | s[ss - 5] | s[ss - 4] | s[ss - 3] | s[ss - 2] | s[ss - 1]) == 0;
        if (!zeroTail) {
            // An end marker 1 to 5 bytes before the sector's end, with zeros
            // after it that make up four with the next sector's first bytes.
            const int closing = ClosingEndMarker(s, ss, std::max(from + 1, ss - 6), previousLast);
            if (closing) {
                const int need = 4 - (ss - closing);
                bool zeros = true;
                for (int i = 0; i < need; ++i)
                    zeros = zeros && s[ss + i] == 0;
                if (zeros)
                    return sectorStart + closing;
            }
        } else {
            for (int i = from; i + 1 < ss; ++i)
                if (s[i] == 0xFF && s[i + 1] == 0xD9)
                    return sectorStart + i + 2;
            if (from == 0 && previousLast == 0xFF && s[0] == 0xD9 && s[1] == 0 && s[2] == 0 && s[3] == 0)
                return sectorStart + 1;
        }
        previousLast = s[ss - 1];
        pos = sectorStart + ss;
    }
    return std::min(pos, bound);
}
