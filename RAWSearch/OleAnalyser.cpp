#include "OleAnalyser.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <cstring>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"

IRawFileAnalyser* CreateOLEAnalyser(unsigned int)
{
    return new FileOLEAnalyser;
}

namespace {

constexpr unsigned char kSignatureTail[4] = {0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
// Values from here up are markers, not sector numbers.
constexpr uint32_t kFirstMarker = 0xFFFFFFFA;
constexpr unsigned int kHeaderFatWords = 109;
constexpr unsigned int kHeaderFatFirstWord = 19;
constexpr int kDirEntrySize = 128;

constexpr unsigned int kTypeDoc = 23;
constexpr unsigned int kTypeXls = 71;
constexpr unsigned int kTypePpt = 52;

bool IsSectorNumber(uint32_t value)
{
    return value < kFirstMarker;
}

unsigned int OleSectorSize(const unsigned char* header)
{
    return RawReadLE16(header + 0x1A) == 4 && RawReadLE16(header + 0x1E) == 12 ? 4096 : 512;
}

long long OleOffset(uint32_t sectorNumber, unsigned int oleSectorSize)
{
    return (static_cast<long long>(sectorNumber) + 1) * oleSectorSize;
}

// 1-based index of the last entry of a FAT sector that is not free.
unsigned int LastUsedFatEntry(const unsigned char* fat, unsigned int entries)
{
    for (unsigned int i = entries; i > 0; --i)
        if (RawReadLE32(fat + 4 * (i - 1)) != kFreeSector)
            return i;
    return 0;
}

long long SizeFromFat(size_t fatSectors, unsigned int lastUsed, unsigned int oleSectorSize)
{
    const long long perSector = oleSectorSize / 4;
    return ((static_cast<long long>(fatSectors) - 1) * perSector + lastUsed + 1) * oleSectorSize;
}

// Entry k's name equals text (ASCII, control characters allowed), its
// terminating zero included.
bool EntryNameIs(const unsigned char* entries, int length, int k, const char* text)
{
    const long long at = static_cast<long long>(k) * kDirEntrySize;
    if (at + kDirEntrySize > length)
        return false;
    const unsigned char* name = entries + at;
    const size_t n = std::strlen(text);
    if (n >= 32)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (RawReadLE16(name + 2 * i) != static_cast<unsigned char>(text[i]))
            return false;
    return RawReadLE16(name + 2 * n) == 0;
}

bool EntryNameIsAny(const unsigned char* entries, int length, std::initializer_list<int> ks, const char* text)
{
    for (int k : ks)
        if (EntryNameIs(entries, length, k, text))
            return true;
    return false;
}

// Copies length bytes at offset of the file into out, 512 bytes at a time
// (the read window guarantees a sector past any offset).
bool ReadFileBytes(RawFileBuffer& buffer, unsigned long long offset, unsigned int length, unsigned char* out)
{
    for (unsigned int done = 0; done < length; done += 512) {
        const unsigned char* p = buffer.GetRawFileBuffer(offset + done);
        if (!p)
            return false;
        std::memcpy(out + done, p, std::min(512u, length - done));
    }
    return true;
}

}  // namespace

int FileOLEAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector || std::memcmp(sector + 4, kSignatureTail, 4) != 0)
        return 0;
    info.m_dwType = kType;
    return 1;
}

CRawFileInfo* FileOLEAnalyser::CreateRawFileInfo()
{
    return new OleRawFileInfo;
}

void FileOLEAnalyser::CheckSectDirData(const unsigned char* entries, int length, CRawFileInfo* info,
                                       unsigned long long&)
{
    if (!entries || !info)
        return;
    const int count = length / kDirEntrySize;
    const auto is = [&](int k, const char* text) { return EntryNameIs(entries, length, k, text); };
    const auto any = [&](std::initializer_list<int> ks, const char* text) {
        return EntryNameIsAny(entries, length, ks, text);
    };
    unsigned int type = kTypeUnknownKind;
    for (int k = 0; k < count; ++k)
        if (is(k, "WordDocument") || is(k, "ObjectPool"))
            type = kTypeDoc;
    if (any({1, 2}, "Workbook") || any({1, 2}, "Book"))
        type = kTypeXls;
    if (any({1, 2, 3}, "PowerPoint Document"))
        type = kTypePpt;
    if (is(1, "Pictures") || is(1, "PP40"))
        type = kTypePpt;
    if (any({1, 2}, "Scene"))
        type = 37;
    if (is(1, "VisioDocument"))
        type = 66;
    if (is(1, "PerfectOffice_MAIN") && is(2, "PerfectOffice_OBJECTS")) {
        static constexpr unsigned char kZeroClass[16] = {};
        if (is(3, "\x05SummaryInformation"))
            type = 61;
        else if (length >= 0x60 && std::memcmp(entries + 0x50, kZeroClass, 16) == 0)
            type = 69;
        else
            type = 68;
    }
    if (is(1, "RSeStorage") && any({2, 3}, "RSeEmbeddings"))
        type = 140;
    if (is(1, "Objects") && is(2, "Quill") && (is(3, "Escher") || is(3, "QuillSub")))
        type = 53;
    if (is(1, "NativeContent_MAIN"))
        type = 57;
    if (is(1, "properties"))
        type = 141;
    if (is(1, "\x01" "CompObj") && ((is(2, "   19") && is(3, "   29")) || (is(2, "   112") && is(3, "   212"))))
        type = 47;
    if ((is(1, "PropData") && is(2, "Forms") && is(3, "Reports")) ||
        (is(1, "VBA") && is(2, "VBAProject") && is(3, "VBA")))
        type = 3;
    // Writers that put other streams first: the main stream's name further
    // down still tells the kind when the rules above found none.
    for (int k = 1; type == kTypeUnknownKind && k < count; ++k) {
        if (is(k, "PowerPoint Document"))
            type = kTypePpt;
        else if (is(k, "Workbook") || is(k, "Book"))
            type = kTypeXls;
    }
    info->m_dwType = type;
}

int FileOLEAnalyser::Simulate512ReadSector(unsigned char* buffer, unsigned long long startSector,
                                           unsigned long long unit, unsigned int count, IStorageDevice* device)
{
    if (!buffer || !device)
        return 0;
    RawFileBuffer window(device, startSector);
    const unsigned int oleSectorSize = m_dwSectorsPerOle > 1 ? 4096 : 512;
    return ReadFileBytes(window, unit * oleSectorSize, count * 512, buffer) ? 1 : 0;
}

int FileOLEAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device || info.m_llStartSector < 0)
        return 0;
    const unsigned int deviceSectorSize = device->GetSectorSize();
    RawFileBuffer window(device, static_cast<unsigned long long>(info.m_llStartSector));
    unsigned char header[512];
    if (!ReadFileBytes(window, 0, sizeof(header), header) || std::memcmp(header + 4, kSignatureTail, 4) != 0)
        return 0;
    const unsigned int oleSectorSize = OleSectorSize(header);
    const unsigned int perFatSector = oleSectorSize / 4;
    m_dwSectorsPerOle = oleSectorSize == 4096 && deviceSectorSize && deviceSectorSize < 4096
                            ? 4096 / deviceSectorSize
                            : 1;

    size_t fatSectors = 0;
    uint32_t lastFat = 0;
    const auto take = [&](uint32_t value) {
        if (IsSectorNumber(value)) {
            ++fatSectors;
            lastFat = value;
        }
    };
    for (unsigned int w = 0; w < kHeaderFatWords; ++w)
        take(RawReadLE32(header + 4 * (kHeaderFatFirstWord + w)));

    std::vector<unsigned char> sector(oleSectorSize);
    uint32_t difat = RawReadLE32(header + 0x44);
    for (unsigned int seen = 0; IsSectorNumber(difat) && seen < kMaxDifatSectors; ++seen) {
        if (!ReadFileBytes(window, OleOffset(difat, oleSectorSize), oleSectorSize, sector.data()))
            return 0;
        for (unsigned int i = 0; i + 1 < perFatSector; ++i)
            take(RawReadLE32(sector.data() + 4 * i));
        const uint32_t next = RawReadLE32(sector.data() + 4 * (perFatSector - 1));
        // The chain must move forward: a loop or a step back ends it.
        if (next <= difat || next == kFreeSector)
            break;
        difat = next;
    }
    if (fatSectors == 0)
        return 0;
    if (!ReadFileBytes(window, OleOffset(lastFat, oleSectorSize), oleSectorSize, sector.data()))
        return 0;
    const long long size = SizeFromFat(fatSectors, LastUsedFatEntry(sector.data(), perFatSector), oleSectorSize);

    const uint32_t directory = RawReadLE32(header + 0x30);
    unsigned char entries[1024];
    unsigned long long unused = 0;
    if (IsSectorNumber(directory) && ReadFileBytes(window, OleOffset(directory, oleSectorSize), sizeof(entries), entries)) {
        CheckSectDirData(entries, sizeof(entries), &info, unused);
    } else {
        if (size > kMaxSizeWithoutDirectory)
            return 0;
        info.m_dwType = kTypeUnknownKind;
    }
    info.m_llSize = size;
    return 1;
}

// ---- streaming ------------------------------------------------------------------

void FileOLEAnalyser::OleRawFileInfo::CheckStorageHeader(const unsigned char* sector, int)
{
    m_dwOleSectorSize = OleSectorSize(sector);
    for (unsigned int w = 0; w < kHeaderFatWords; ++w) {
        const uint32_t value = RawReadLE32(sector + 4 * (kHeaderFatFirstWord + w));
        if (IsSectorNumber(value))
            m_vFatSectors.push_back(OleOffset(value, m_dwOleSectorSize));
    }
    // Writers mark "no DIFAT" with either end-of-chain or free.
    const uint32_t difat = RawReadLE32(sector + 0x44);
    m_bNoDifat = !IsSectorNumber(difat);
    if (!m_bNoDifat)
        m_llNextDifat = OleOffset(difat, m_dwOleSectorSize);
    const uint32_t directory = RawReadLE32(sector + 0x30);
    m_llDirectory = IsSectorNumber(directory) ? OleOffset(directory, m_dwOleSectorSize) : -1;
}

void FileOLEAnalyser::OleRawFileInfo::CheckSectDifStart(const unsigned char* slice, int length)
{
    const int entries = length / 4;
    const long long current = m_llNextDifat;
    m_llNextDifat = -1;
    for (int i = 0; i + 1 < entries; ++i) {
        const uint32_t value = RawReadLE32(slice + 4 * i);
        if (value >= kEndOfChain)
            continue;
        // Only the last FAT sector is read for the size, so FAT sectors that
        // the stream has already passed do no harm.
        m_vFatSectors.push_back(OleOffset(value, m_dwOleSectorSize));
    }
    const uint32_t next = RawReadLE32(slice + 4 * (entries - 1));
    if (next >= kEndOfChain || ++m_dwDifatSeen >= kMaxDifatSectors) {
        m_bFatListComplete = true;
        return;
    }
    const long long nextOffset = OleOffset(next, m_dwOleSectorSize);
    if (nextOffset <= current)
        m_bLost = true;  // a chain that steps back
    else
        m_llNextDifat = nextOffset;
}

int FileOLEAnalyser::OleRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                                 SearchContext& context)
{
    if (m_bFinished)
        return 1;
    if (!sector || sectorSize < 512 || sectorNumber < m_llStartSector)
        return 2;
    const long long begin = (sectorNumber - m_llStartSector) * sectorSize;
    const long long end = begin + sectorSize;
    const long long oleSize = m_dwOleSectorSize;

    // A summary-information set may begin at any 512-byte slice.
    for (int k = 0; !m_bSummaryFound && k + 512 <= sectorSize; k += 512) {
        const unsigned char* p = sector + k;
        if (p[0] == 0xFE && p[1] == 0xFF && p[2] == 0 && p[3] == 0)
            m_bSummaryFound = m_Summary.GetFileInformation(p, m_Property, sectorSize - k) != 0;
    }
    if (sectorNumber == m_llStartSector)
        CheckStorageHeader(sector, sectorSize);

    while (!m_bLost && !m_bNoDifat && !m_bFatListComplete && m_llNextDifat >= begin && m_llNextDifat < end) {
        const unsigned char* p = context.bytes(sectorNumber, m_llNextDifat - begin, oleSize);
        if (!p) {
            m_bLost = true;
            break;
        }
        CheckSectDifStart(p, static_cast<int>(oleSize));
    }
    // The DIFAT chain points before the sector in hand: it was passed.
    if (!m_bNoDifat && !m_bFatListComplete && m_llNextDifat >= 0 && m_llNextDifat < begin)
        m_bLost = true;

    if (!m_bLost && m_llFatSize == 0 && (m_bNoDifat || m_bFatListComplete)) {
        if (m_vFatSectors.empty()) {
            m_bLost = true;
        } else {
            // The size follows from the number of FAT sectors and the last
            // used entry of the last one.
            const long long last = m_vFatSectors.back();
            if (last >= begin && last < end) {
                const unsigned char* p = context.bytes(sectorNumber, last - begin, oleSize);
                if (p)
                    m_llFatSize = SizeFromFat(m_vFatSectors.size(),
                                              LastUsedFatEntry(p, m_dwOleSectorSize / 4), m_dwOleSectorSize);
                else
                    m_bLost = true;
            } else if (last < begin) {
                m_bLost = true;
            }
        }
    }

    if (!m_bDirectoryExamined && m_llDirectory >= begin && m_llDirectory < end) {
        m_bDirectoryExamined = true;
        int length = 1024;
        const unsigned char* p = context.bytes(sectorNumber, m_llDirectory - begin, length);
        if (!p) {
            length = 512;
            p = context.bytes(sectorNumber, m_llDirectory - begin, length);
        }
        unsigned long long unused = 0;
        if (p)
            CheckSectDirData(p, length, this, unused);
        else
            m_bLost = true;
    }
    if (m_llDirectory < 0 || (m_llFatSize != 0 && !m_bDirectoryExamined && m_llDirectory >= m_llFatSize))
        m_bLost = true;

    if (m_bLost) {
        // The whole-file sizing reads what the stream could not.
        m_llSize = 0;
        return 1;
    }
    if (m_llFatSize == 0 || !m_bDirectoryExamined)
        return 2;

    m_llSize = m_llFatSize;
    char name[64];
    std::snprintf(name, sizeof(name), "%lld-%lld ", m_llStartSector, m_llStartSector + m_llSize / sectorSize);
    SetRawFileName(name);
    m_bFinished = true;
    if (m_bSummaryFound)
        SetFileName(m_Property);
    return 1;
}

void FileOLEAnalyser::OleRawFileInfo::SetFileName(FileProperty& property)
{
    const std::string& title = property.strTitle;
    const std::string& author = property.strAuthor;
    const std::string& creator = property.strCreator;
    const std::string date =
        property.strModificationDate.empty() ? property.strCreationDate : property.strModificationDate;
    if (date.empty()) {
        for (const std::string* field : {&title, &author, &creator})
            if (!field->empty())
                SetRawFileName(*field + " ");
    } else {
        const std::string* first = nullptr;
        for (const std::string* field : {&title, &author, &creator})
            if (!first && !field->empty())
                first = field;
        SetRawFileName(first ? *first + "_" + date + " " : date + " ");
    }
    if (!property.strModificationDate.empty())
        m_strTime = property.strModificationDate;
    else if (!property.strCreationDate.empty())
        m_strTime = property.strCreationDate;

    if (!author.empty())
        SetFileTag(author);
    else if (!creator.empty())
        SetFileTag(creator);
    else if (!title.empty() || !property.strCreationDate.empty() || !property.strModificationDate.empty())
        SetFileTag("unKnown");
}

void FileOLEAnalyser::OleRawFileInfo::SetFileTag(std::string value)
{
    if (m_dwType != kTypeDoc && m_dwType != kTypePpt && m_dwType != kTypeXls)
        return;
    SetRawFileTagAndValue(RAW_TAG_OFFICE, value);
    const std::string name = GetRawFileName();
    if (!name.empty())
        SetRawFileName(value + "_" + name);
}
