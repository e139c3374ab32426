#include "PackageAnalysers.h"

#include <tinyxml.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "ResultCode.h"

namespace {

uint64_t BE64(const unsigned char* p)
{
    return (static_cast<uint64_t>(RawReadBE32(p)) << 32) | RawReadBE32(p + 4);
}

const unsigned char* FindKoly(const unsigned char* bytes, size_t length)
{
    static const char kKoly[] = "koly";
    const unsigned char* hit = std::search(bytes, bytes + length, kKoly, kKoly + 4);
    return hit == bytes + length ? nullptr : hit;
}

// The element nesting of a text, counted without parsing: the parser
// descends once per level, so a deep text must not reach it.
bool NestingWithin(const char* text, int limit)
{
    int depth = 0;
    for (const char* p = text; *p; ++p) {
        if (*p != '<')
            continue;
        if (p[1] == '/') {
            depth = std::max(0, depth - 1);
            continue;
        }
        if (p[1] == '?' || p[1] == '!')
            continue;
        // An element that closes itself ("<a/>") opens no level.
        const char* close = std::strchr(p, '>');
        if (!close)
            break;
        if (close[-1] != '/' && ++depth > limit)
            return false;
        p = close;
    }
    return true;
}

long long ChildNumber(TiXmlElement* parent, const char* name)
{
    TiXmlElement* child = parent->FirstChildElement(name);
    const char* text = child ? child->GetText() : nullptr;
    if (!text)
        return 0;
    // Offsets and lengths are read as 32-bit numbers.
    return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

}  // namespace

// ---- installer packages ------------------------------------------------------------

int FilePKGAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    static const unsigned char kSigned[4] = {0x7F, 0x50, 0x4B, 0x47};
    if (!pBuffer || (std::memcmp(pBuffer, "xar!", 4) != 0 && std::memcmp(pBuffer, kSigned, 4) != 0))
        return 0;
    info.m_dwType = PackageTypes::kPKG;
    return 1;
}

long long FilePKGAnalyser::PkgSignFileSize(const unsigned char* header) const
{
    static const unsigned char kSigned[4] = {0x7F, 0x50, 0x4B, 0x47};
    if (std::memcmp(header, kSigned, 4) != 0)
        return 0;
    const unsigned int version = RawReadLE16(header + 6);
    const uint64_t size = BE64(header + 24);
    if ((version != 256 && version != 512) || size > m_u64MaxSize)
        return 0;
    return static_cast<long long>(size);
}

void FilePKGAnalyser::SearchXmlNodeData(TiXmlElement* file)
{
    int id = 0;
    if (!file->Attribute("id", &id) || id <= m_llHighestId)
        return;
    m_llHighestId = id;
    TiXmlElement* first = file->FirstChildElement();
    if (!first || first->ValueStr() != "data")
        return;
    const long long end = ChildNumber(first, "offset") + ChildNumber(first, "length");
    m_u64HeapEnd = end > 0 ? static_cast<uint64_t>(end) : 0;
}

void FilePKGAnalyser::RecursionSearch(TiXmlElement* first)
{
    // Depth first, with a stack of its own: each entry is the next sibling
    // still to walk on its level.
    std::vector<TiXmlElement*> pending{first};
    while (!pending.empty()) {
        TiXmlElement* file = pending.back();
        pending.pop_back();
        if (!file)
            continue;
        SearchXmlNodeData(file);
        pending.push_back(file->NextSiblingElement("file"));
        pending.push_back(file->FirstChildElement("file"));
    }
}

long long FilePKGAnalyser::HeapEndOfToc(const char* xml)
{
    m_u64HeapEnd = 0;
    m_llHighestId = 0;
    if (!xml || !NestingWithin(xml, kMaxXmlDepth))
        return -1;
    TiXmlDocument document;
    document.Parse(xml);
    if (document.Error())
        return -1;
    TiXmlElement* root = document.FirstChildElement();
    TiXmlElement* toc = root ? root->FirstChildElement() : nullptr;
    TiXmlElement* first = toc ? toc->FirstChildElement("file") : nullptr;
    if (!first)
        return -1;
    RecursionSearch(first);
    return static_cast<long long>(m_u64HeapEnd);
}

int FilePKGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    m_u64HeapEnd = 0;
    m_llHighestId = 0;
    info.m_llSize = 0;
    if (!pDevice)
        return 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    const unsigned char* header = buffer.GetRawFileBuffer(0);
    if (!header)
        return 0;
    if (const long long signedSize = PkgSignFileSize(header)) {
        info.m_llSize = signedSize;
        return 1;
    }
    const uint64_t compressed = BE64(header + 8);
    const uint64_t plain = BE64(header + 16);
    if (compressed == 0 || compressed > kMaxToc || plain > kMaxToc || compressed > plain)
        return 0;

    const uint64_t wanted = compressed + kHeaderSize + 512;
    const uint64_t piece = buffer.GetWindowBytes();
    if (piece == 0 || (wanted + piece - 1) / piece > kMaxPieces)
        return 0;
    std::vector<unsigned char> bytes(wanted);
    for (uint64_t at = 0; at < wanted;) {
        const unsigned char* window = buffer.GetRawFileBuffer(at);
        if (!window)
            return 0;
        const uint64_t take = std::min(piece, wanted - at);
        std::memcpy(bytes.data() + at, window, take);
        at += take;
    }
    std::vector<char> text(plain + 512, 0);
    uLongf textLength = static_cast<uLongf>(plain);
    if (uncompress(reinterpret_cast<Bytef*>(text.data()), &textLength, bytes.data() + kHeaderSize,
                   static_cast<uLong>(compressed)) != Z_OK)
        return 0;
    if (HeapEndOfToc(text.data()) < 0)
        return 0;
    uint64_t size = kHeaderSize + compressed + m_u64HeapEnd;
    if (size > m_u64MaxSize) {
        m_u64HeapEnd = 0;
        size = kHeaderSize + compressed;
    }
    info.m_llSize = static_cast<long long>(size);
    return 1;
}

// ---- disk images -------------------------------------------------------------------

bool IsDmgStart(const unsigned char* sector)
{
    return sector && std::memcmp(sector, "BZh11AY&SY", 10) == 0;
}

int FileDMGAnalyser::AnalyseBuffer(unsigned char* pBuffer, CRawFileInfo& info)
{
    if (!IsDmgStart(pBuffer))
        return 0;
    info.m_dwType = PackageTypes::kDMG;
    return 1;
}

int FileDMGAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* pDevice)
{
    if (!pDevice)
        return 0;
    info.m_dwType = PackageTypes::kDMG;
    info.m_llSize = 0;
    RawFileBuffer buffer(pDevice, static_cast<unsigned long long>(info.m_llStartSector));
    long long p = 0;
    for (; p < kLimit; p += 512) {
        const unsigned char* sector = buffer.GetRawFileBuffer(static_cast<unsigned long long>(p));
        if (!sector)
            break;
        if (RawReadLE32(sector + 504) != 0 || RawReadLE32(sector + 508) != 0)
            continue;
        if (std::memcmp(sector, "koly", 4) == 0) {
            info.m_llSize = p + 512;
            return 1;
        }
        if (p >= 10241 && p > 512) {
            // A trailer that does not start a sector: the one before holds
            // its mark (the window reaches into this sector for it).
            const unsigned char* previous = buffer.GetRawFileBuffer(static_cast<unsigned long long>(p - 512));
            if (!previous)
                break;
            if (const unsigned char* hit = FindKoly(previous, 512 + 3)) {
                info.m_llSize = p - 512 + (hit - previous) + 512;
                return 1;
            }
        }
    }
    info.m_llSize = p;
    return p > 0 ? 1 : 0;
}

namespace Brance {

int DMGAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    return m_Partner.AnalyseBuffer(sector, info);
}

bool DMGAnalyser::DMGRawFileInfo::bContinue(const unsigned char* sector, int sectorSize, long long sectorNumber,
                                            const SearchContext& context)
{
    if (RawReadLE32(sector + sectorSize - 8) != 0 || RawReadLE32(sector + sectorSize - 4) != 0)
        return true;
    if (FindKoly(sector, static_cast<size_t>(sectorSize - 8)))
        return false;
    const long long position = (sectorNumber - m_llStartSector) * sectorSize;
    if (position < 10241 || context.llLookBackStart + 1 >= sectorNumber)
        return true;
    const unsigned char* around = context.bytes(sectorNumber, -sectorSize / 2, sectorSize);
    return !around || !FindKoly(around, static_cast<size_t>(sectorSize));
}

int DMGAnalyser::DMGRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                             SearchContext& context)
{
    if (!sector)
        return GiveUp();
    const long long k = FedOffset(sector, sectorSize, sectorNumber, 16);
    if (k < 0)
        return 2;
    if (k >= 10 * m_llMaxSize)
        return Finish(sectorNumber, m_llMaxSize);
    if (bContinue(sector, sectorSize, sectorNumber, context))
        return 2;
    m_llEnd = k + sectorSize;
    return Finish(sectorNumber, m_llEnd);
}

}  // namespace Brance

IRawFileAnalyser* CreatePKGAnalyser(unsigned int)
{
    return new FilePKGAnalyser();
}

IRawFileAnalyser* CreateDMGAnalyser(unsigned int)
{
    return new Brance::DMGAnalyser();
}
