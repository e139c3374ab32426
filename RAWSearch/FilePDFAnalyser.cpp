// Whole-file sizing of a PDF from the device: the fallback for candidates
// the search could not follow to their end.
#include <cstring>
#include <string_view>

#include "IStorageDevice.h"
#include "PdfAnalyzer.h"
#include "RawFileBuffer.h"
#include "ResultCode.h"

namespace {

constexpr std::string_view kPsHead = "%!PS-Adobe";
constexpr std::string_view kEof = "%%EOF";

// The text at p (at most limit bytes, up to its first NUL).
std::string_view TextAt(const unsigned char* p, size_t limit)
{
    const auto* nul = static_cast<const unsigned char*>(std::memchr(p, 0, limit));
    return std::string_view(reinterpret_cast<const char*>(p), nul ? static_cast<size_t>(nul - p) : limit);
}

}  // namespace

int FilePDFAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    VANTREL_ASSERT(NULL != pBuffer);
    if (!IsPdfOrIllustratorHead(pBuffer, 200))
        return 0;
    info.m_dwType = kTypePdf;
    return 1;
}

int FilePDFAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    VANTREL_ASSERT(NULL != pDevice);
    return GetRawFileSizeEx(info, pDevice);
}

int FilePDFAnalyser::GetRawFileSizeEx(CRawFileInfo& info, IStorageDevice* pDevice)
{
    if (!pDevice || info.m_llStartSector < 0)
        return 0;
    const unsigned long long s = pDevice->GetSectorSize();
    if (s < 16 || s > RawFileBuffer::kMaxSectorSize)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));

    // An Illustrator head in the first kilobyte makes the file type 5.
    unsigned long long from = 1024;
    for (unsigned long long at = 0; at < 1024; ++at) {
        const unsigned char* p = buffer.GetRawFileBuffer(at);
        if (!p)
            return 0;
        if (p[0] != '%' || std::memcmp(p, kPsHead.data(), kPsHead.size()) != 0)
            continue;
        if (TextAt(p, s).find("Adobe Illustrator") != std::string_view::npos) {
            info.m_dwType = kTypeAi;
            from = at;
            break;
        }
    }
    // The end search walks whole sectors, so it starts on a sector boundary.
    unsigned long long offset = from - from % s;
    unsigned long long end = 0;
    for (; offset < kMaxScan; offset += s) {
        const unsigned char* p = buffer.GetRawFileBuffer(offset);
        if (!p)
            return 0;
        if (offset != 0 && std::memcmp(p, "%PDF-", 5) == 0) {
            // A new PDF starts: this one ends before it.
            end = offset;
            break;
        }
        if ((p[s - 4] | p[s - 3] | p[s - 2] | p[s - 1]) != 0)
            continue;
        const std::string_view stretch(reinterpret_cast<const char*>(p), s);
        const size_t mark = stretch.find(kEof);
        if (mark != std::string_view::npos) {
            end = offset + mark + 7;
            break;
        }
        if (offset >= 5) {
            const unsigned char* before = buffer.GetRawFileBuffer(offset - 5);
            if (!before)
                return 0;
            if (std::string_view(reinterpret_cast<const char*>(before), 10).find(kEof) != std::string_view::npos) {
                end = offset + s + 5;
                break;
            }
        }
    }
    if (end == 0)
        return 0;
    info.m_llSize = static_cast<long long>((end + s - 1) / s * s);
    return 1;
}
