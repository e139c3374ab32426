#include "ZipAnalyser.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <vector>

#include "IStorageDevice.h"
#include "RawFileBuffer.h"
#include "RawRecordAccess.h"
#include "RawUtility.h"
#include "SearchSignFileAnalyser.h"

IRawFileAnalyser* CreateZIPAnalyser(unsigned int)
{
    return new FileZIPAnalyser;
}

namespace {

constexpr unsigned int kLocalHeader = 0x04034B50;
constexpr unsigned int kCentralHeader = 0x02014B50;
constexpr unsigned int kEndRecord = 0x06054B50;
constexpr unsigned int kZip64EndRecord = 0x06064B50;
constexpr unsigned int kZip64Locator = 0x07064B50;
constexpr unsigned short kMaxMethod = 10;
constexpr size_t kMaxLocalName = 4096;
constexpr size_t kMaxStreamingName = 1024;
constexpr unsigned short kDataDescriptorFlag = 0x0008;
// The whole-file walk gives up after this many records.
constexpr long long kMaxRecords = 4 * 1024 * 1024;

constexpr unsigned int kDocx = 73, kXlsx = 74, kPptx = 75, kPages = 110, kKey = 111, kNumbers = 112, kEpub = 114,
                       kOlm = 120, kOdt = 123, kOds = 124, kOdp = 125, kTax = 145, kJar = 151, kApk = 152;

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

bool IsOneOf(const std::string& s, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (s == n)
            return true;
    return false;
}

// True when text occurs in the length bytes at p.
bool Contains(const unsigned char* p, size_t length, const char* text)
{
    if (!p || length == 0)
        return false;
    return Apimemstr(const_cast<unsigned char*>(p), static_cast<int>(length),
                     reinterpret_cast<unsigned char*>(const_cast<char*>(text)),
                     static_cast<int>(std::strlen(text))) != nullptr;
}

// Where text first starts in the bytes, or -1.
long long FindText(const unsigned char* p, size_t length, const char* text)
{
    if (!p || length == 0)
        return -1;
    unsigned char* at = Apimemstr(const_cast<unsigned char*>(p), static_cast<int>(length),
                                  reinterpret_cast<unsigned char*>(const_cast<char*>(text)),
                                  static_cast<int>(std::strlen(text)));
    return at ? at - p : -1;
}

// Copies length bytes at offset of the file into out, 512 bytes at a time;
// bytes past the device's end read as zero.
bool ReadSpan(RawFileBuffer& buffer, unsigned long long offset, size_t length, std::vector<unsigned char>& out)
{
    out.assign(length, 0);
    for (size_t done = 0; done < length; done += 512) {
        const unsigned char* p = buffer.GetRawFileBuffer(offset + done);
        if (!p)
            return false;
        std::memcpy(out.data() + done, p, std::min<size_t>(512, length - done));
    }
    return true;
}

// The type rules of one local header's entry name (see the table of kinds).
void ApplyLocalNameRules(const std::string& n, const unsigned char* after, size_t afterAvailable, size_t nameLength,
                         size_t windowLength, bool streaming, bool office, unsigned int& type, ZipBlockInfo& block)
{
    const auto after_ = [&](size_t want) { return std::min(want, afterAvailable); };
    const bool iwork = type == kPages || type == kKey;
    if (streaming && n == "docProps/core.xml")
        block.bCoreXml = true;
    if (office && (n == "word/_rels/document.xml.rels" || (streaming && n == "word/theme/theme1.xml"))) {
        type = kDocx;
        return;
    }
    if (office && n == "xl/_rels/workbook.xml.rels") {
        type = kXlsx;
        return;
    }
    if (office && n == "ppt/_rels/presentation.xml.rels") {
        type = kPptx;
        return;
    }
    if (streaming && n.size() == 36) {
        if (std::count(n.begin(), n.end(), '-') == 4)
            type = kTax;
        return;
    }
    if (!office && !iwork && n.find("numbers/") != std::string::npos) {
        type = kNumbers;
        return;
    }
    if (!office && IsOneOf(n, {"Index/Slide1.iwa", "Index/Slide2.iwa", "index.apxl"})) {
        type = kKey;
        return;
    }
    if (office && IsOneOf(n, {"Accounts/Outlook/com.microsoft.__Messages/", "Accounts/Outlook/",
                              "Local/com.microsoft.__Messages/"})) {
        type = kOlm;
        return;
    }
    if (!office && !iwork && n == "buildVersionHistory.plist") {
        if (!streaming) {
            const size_t len = after_(1024);
            type = Contains(after, len, "<string>numbers-trunk")  ? kNumbers
                   : Contains(after, len, "<string>pages-trunk") ? kPages
                                                                  : kNumbers;
        } else {
            const size_t len = after_(nameLength + 1054 < windowLength ? 1024 : 256);
            const long long pages = FindText(after, len, "<string>pages-trunk");
            const long long numbers = FindText(after, len, "<string>numbers-trunk");
            const bool pagesFirst = pages >= 0 && pages < 256 && (numbers < 0 || pages < numbers);
            type = pagesFirst ? kPages : kNumbers;
        }
        return;
    }
    if (!office && !iwork &&
        (n == "Index/DocumentStylesheet.iwa" || (streaming && n == "Index/Tables/HeaderStorageBuckt-1.iwa"))) {
        const size_t len = after_(256);
        type = Contains(after, len, "layout-style-") || Contains(after, len, "imported-paragraph-style-") ? kPages
                                                                                                         : kNumbers;
        return;
    }
    if (streaming && !office && !iwork && IsOneOf(n, {"Index/Metadata.iwa", "Metadata/Properties.plist"})) {
        const size_t len = after_(256);
        type = Contains(after, len, "CalculationEngine") || Contains(after, len, "DocumentMetadata") ||
                       Contains(after, len, "Xrevision")
                   ? kPages
                   : kNumbers;
        return;
    }
    const bool iworkAny = iwork || type == kNumbers;
    if (streaming && !office && !iworkAny && (StartsWith(n, "OEBPS/Text/chapter") || n == "OPS/chapter.html")) {
        type = kEpub;
        return;
    }
    if (!office && !iworkAny && n == "mimetype") {
        const size_t len = after_(64);
        if (Contains(after, len, "application/epub+"))
            type = kEpub;
        if (Contains(after, len, "application/vnd.oasis.opendocument.text"))
            type = kOdt;
        if (Contains(after, len, "application/vnd.oasis.opendocument.spreadsheet"))
            type = kOds;
        if (Contains(after, len, "application/vnd.oasis.opendocument.presentation"))
            type = kOdp;
    }
    if (office && n.size() >= 5 && StartsWith(n, "word"))
        type = kDocx;
}

// The office kinds told by the directory's names: an open-XML package names
// "[Content_Types].xml" somewhere (not always first), and its parts live
// under "word/", "xl/" or "ppt/".
struct DirectoryKind : ZipEntryNames {
    // The kind after the names: a plain archive (or the office guess) that
    // holds an open-XML package's parts becomes that document; an
    // application package or Java archive is told by its entries.
    unsigned int Kind(unsigned int type, bool office) const
    {
        if ((type == FileZIPAnalyser::kType || type == kDocx || type == kXlsx || type == kPptx) &&
            (office || bContentTypes) && dwOffice)
            return dwOffice;
        return PackageKind(type, true);
    }
};

// An end record that closes an archive starting where the file starts: its
// directory ends where the record begins (recordPos counted from the file's
// start), on one disk.
uint64_t ReadLE64(const unsigned char* p)
{
    return static_cast<uint64_t>(RawReadLE32(p)) | (static_cast<uint64_t>(RawReadLE32(p + 4)) << 32);
}

// The bytes of the file around an end record: at(offset, length) gives
// length bytes at offset from the file's start, null when they cannot be
// read.
using ZipBytesAt = std::function<const unsigned char*(long long offset, long long length)>;

// A Zip64 end record and its locator before the end record at recordPos:
// the directory ends where the Zip64 record starts, the Zip64 record where
// the locator does.
bool Zip64EndAgrees(long long recordPos, const ZipBytesAt& at)
{
    const long long locatorPos = recordPos - 20;
    const unsigned char* locator = locatorPos >= 56 ? at(locatorPos, 20) : nullptr;
    if (!locator || RawReadLE32(locator) != kZip64Locator || RawReadLE32(locator + 4) != 0 ||
        RawReadLE32(locator + 16) > 1)
        return false;
    const uint64_t z = ReadLE64(locator + 8);
    if (z > static_cast<uint64_t>(locatorPos - 56))
        return false;
    const long long zipPos = static_cast<long long>(z);
    const unsigned char* record = at(zipPos, 56);
    if (!record || RawReadLE32(record) != kZip64EndRecord || RawReadLE32(record + 16) != 0 ||
        RawReadLE32(record + 20) != 0)
        return false;
    const uint64_t length = ReadLE64(record + 4);
    const uint64_t size = ReadLE64(record + 40);
    const uint64_t offset = ReadLE64(record + 48);
    return length >= 44 && length == static_cast<uint64_t>(locatorPos - zipPos - 12) && offset <= z &&
           size == z - offset;
}

// An end record that closes an archive starting where the file starts: its
// directory ends where the record begins (recordPos counted from the file's
// start), on one disk; for a Zip64 archive, through its Zip64 records.
bool EndRecordAgrees(const unsigned char* rec, long long recordPos, const ZipBytesAt& at = {})
{
    if (RawReadLE32(rec) != kEndRecord)
        return false;
    const unsigned long long size = RawReadLE32(rec + 12);
    const unsigned long long offset = RawReadLE32(rec + 16);
    if (offset == 0xFFFFFFFFu || size == 0xFFFFFFFFu)
        return at && Zip64EndAgrees(recordPos, at);
    if (RawReadLE16(rec + 4) != 0 || RawReadLE16(rec + 6) != 0)
        return false;
    return offset + size == static_cast<unsigned long long>(recordPos) &&
           (size > 0 || RawReadLE16(rec + 10) == 0);
}

// Bytes of the file through the device, for the Zip64 records before an end
// record; each call reuses storage.
ZipBytesAt DeviceBytes(RawFileBuffer& buffer, std::vector<unsigned char>& storage)
{
    return [&buffer, &storage](long long offset, long long length) -> const unsigned char* {
        if (offset < 0 || length <= 0 || length > 4096 ||
            !ReadSpan(buffer, static_cast<unsigned long long>(offset), static_cast<size_t>(length), storage))
            return nullptr;
        return storage.data();
    };
}

}  // namespace

// ---- entry names -----------------------------------------------------------------

void ZipEntryNames::Add(const std::string& n)
{
    if (n == "[Content_Types].xml")
        bContentTypes = true;
    else if (n == "META-INF/MANIFEST.MF")
        bManifest = true;
    else if (n == "AndroidManifest.xml" || n == "classes.dex")
        bAndroid = true;
    else if (StartsWith(n, "Payload/") && n.find(".app/") != std::string::npos)
        bPayloadApp = true;
    if (dwOffice)
        return;
    if (StartsWith(n, "word/"))
        dwOffice = kDocx;
    else if (StartsWith(n, "xl/"))
        dwOffice = kXlsx;
    else if (StartsWith(n, "ppt/"))
        dwOffice = kPptx;
}

unsigned int ZipEntryNames::PackageKind(unsigned int type, bool complete) const
{
    if (type != FileZIPAnalyser::kType && type != FileZIPAnalyser::kTypeIpa && type != kJar && type != kApk)
        return type;
    if (bPayloadApp)
        return FileZIPAnalyser::kTypeIpa;
    if (bAndroid)
        return kApk;
    if (bManifest)
        return kJar;
    return complete && type == FileZIPAnalyser::kTypeIpa ? FileZIPAnalyser::kType : type;
}

// ---- records ---------------------------------------------------------------------

bool classZipSearch::IsValidHeader(const unsigned char* p, size_t available)
{
    if (!p || available < 4)
        return false;
    const unsigned int sig = RawReadLE32(p);
    if (sig == kLocalHeader)
        return available >= 30 && RawReadLE16(p + 8) <= kMaxMethod && RawReadLE16(p + 26) <= kMaxLocalName;
    return sig == kCentralHeader || sig == kEndRecord || sig == kZip64EndRecord || sig == kZip64Locator;
}

int classZipSearch::GetBlockSize(const unsigned char* p, size_t available, bool streaming, bool office,
                                 unsigned int& type, ZipBlockInfo& block)
{
    block = ZipBlockInfo();
    const int short_ = streaming ? kBlockNeedMore : kBlockFailed;
    if (!p || available < 4)
        return short_;
    const unsigned int sig = RawReadLE32(p);
    if (sig == kLocalHeader) {
        if (available < 30)
            return short_;
        const size_t n = RawReadLE16(p + 26);
        const size_t e = RawReadLE16(p + 28);
        if (RawReadLE16(p + 8) > kMaxMethod || n > kMaxLocalName || (streaming && n > kMaxStreamingName))
            return kBlockFailed;
        uint64_t data = RawReadLE32(p + 18);
        if (data == 0xFFFFFFFFu) {
            // Zip64: the sizes are in the first extra field.
            if (e < 20)
                return kBlockFailed;
            if (available < 30 + n + 20)
                return short_;
            data = RawReadLE32(p + 30 + n + 12);
        }
        if (available < 30 + n)
            return short_;
        const uint64_t length = 30 + n + e + data;
        if (length > 0xFFFFFFFFu)
            return kBlockFailed;
        block.dwLength = static_cast<unsigned int>(length);
        block.bLocal = true;
        block.wFlags = RawReadLE16(p + 6);
        std::memcpy(block.header.byRaw, p, 30);
        block.strName.assign(reinterpret_cast<const char*>(p + 30), n);
        ApplyLocalNameRules(block.strName, p + 30 + n, available - 30 - n, n, available, streaming, office, type,
                            block);
        return kBlockKnown;
    }
    if (sig == kCentralHeader) {
        if (available < 46)
            return short_;
        const size_t n = RawReadLE16(p + 28);
        const size_t e = RawReadLE16(p + 30);
        const size_t c = RawReadLE16(p + 32);
        block.dwLength = static_cast<unsigned int>(46 + n + e + c);
        if (available < 46 + n)
            return short_;
        block.strName.assign(reinterpret_cast<const char*>(p + 46), n);
        const std::string& name = block.strName;
        if (office) {
            if (name == "word/_rels/document.xml.rels" || (name.size() >= 5 && StartsWith(name, "word")))
                type = kDocx;
            else if (name == "xl/_rels/workbook.xml.rels")
                type = kXlsx;
            else if (name == "ppt/_rels/presentation.xml.rels")
                type = kPptx;
            else if (name == "Accounts/Outlook/")
                type = kOlm;
        }
        return kBlockKnown;
    }
    if (sig == kEndRecord) {
        if (available < 22)
            return short_;
        block.dwLength = 22 + RawReadLE16(p + 20);
        block.bEndRecord = true;
        return kBlockKnown;
    }
    if (sig == kZip64EndRecord) {
        if (available < 12)
            return short_;
        // The record's own length field counts the bytes after it.
        const uint64_t length = 12 + ReadLE64(p + 4);
        if (length < 56 || length > 0xFFFFFFFFu)
            return kBlockFailed;
        block.dwLength = static_cast<unsigned int>(length);
        return kBlockKnown;
    }
    if (sig == kZip64Locator) {
        block.dwLength = 20;
        return kBlockKnown;
    }
    return kBlockFailed;
}

// ---- probe and whole-file sizing ---------------------------------------------------

int FileZIPAnalyser::AnalyseBuffer(unsigned char* sector, CRawFileInfo& info)
{
    if (!sector)
        return 0;
    info.m_dwType = ZipIpaFileType(sector) ? kTypeIpa : kType;
    return 1;
}

CRawFileInfo* FileZIPAnalyser::CreateRawFileInfo()
{
    return new ZIPRawFileInfo;
}

bool FileZIPAnalyser::ZipIpaFileType(const unsigned char* sector)
{
    if (!sector || RawReadLE32(sector) != kLocalHeader)
        return false;
    const size_t n = std::min<size_t>(RawReadLE16(sector + 26), 512 - 30);
    const std::string name(reinterpret_cast<const char*>(sector + 30), n);
    for (const char* prefix :
         {"Payload", "iTunesArtwork", "iTunesMetadata.plist", "Container", "WatchKitSupport", "META-INF"}) {
        const size_t len = std::strlen(prefix);
        if (name.size() >= len &&
            std::equal(prefix, prefix + len, name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return true;
    }
    return false;
}

void FileZIPAnalyser::JudgeMaybeOfficeType(const unsigned char* sector)
{
    m_bMaybeOffice = false;
    m_bCdr = false;
    if (!sector || RawReadLE32(sector) != kLocalHeader)
        return;
    const size_t n = std::min<size_t>(RawReadLE16(sector + 26), 512 - 30);
    const std::string name(reinterpret_cast<const char*>(sector + 30), n);
    m_bMaybeOffice = IsOneOf(name, {"[Content_Types].xml", "docProps/app.xml", "Categories.xml", "_rels/.rels"}) ||
                     name.find("doc") != std::string::npos || name.find("ppt") != std::string::npos;
    m_bCdr = name == "content/riffData.cdr";
}

void FileZIPAnalyser::JudgeMaybeOfficeType(const unsigned char* sector, int length, bool& office, bool& cdr)
{
    office = false;
    cdr = false;
    if (!sector || length < 30 || RawReadLE32(sector) != kLocalHeader)
        return;
    const size_t n = std::min<size_t>(RawReadLE16(sector + 26), static_cast<size_t>(length) - 30);
    const std::string name(reinterpret_cast<const char*>(sector + 30), n);
    for (const char* prefix :
         {"[Content_Types].xml", "docProps/app.xml", "word/theme/theme1.xml", "_rels/.rels", "Categories.xml"})
        if (StartsWith(name, prefix))
            office = true;
    if (!office)
        cdr = StartsWith(name, "content/riffData.cdr");
}

long long FileZIPAnalyser::GetProbablySize(long long offset, CRawFileInfo& info, IStorageDevice* device)
{
    m_llEndRecord = -1;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    std::vector<unsigned char> window;
    // The end record whose directory agrees with the start ends the archive
    // whatever follows it; the first one in a zero-tailed window is only the
    // guess kept for an archive whose directory is damaged.
    long long guess = -1;
    long long guessRecord = -1;
    long long limit = kMaxEndSearch;
    std::vector<unsigned char> zip64;
    const ZipBytesAt before = DeviceBytes(buffer, zip64);
    while (offset < limit) {
        if (!ReadSpan(buffer, static_cast<unsigned long long>(offset), 512 + 22, window))
            break;
        for (int k = 0; k < 512; ++k) {
            if (window[k] == 'P' && EndRecordAgrees(window.data() + k, offset + k, before)) {
                m_llEndRecord = offset + k;
                return offset + k + 22 + RawReadLE16(window.data() + k + 20);
            }
        }
        if (guess < 0 && RawReadLE32(window.data() + 508) == 0) {
            for (int k = 0; k <= 508; ++k)
                if (RawReadLE32(window.data() + k) == kEndRecord) {
                    guessRecord = offset + k;
                    guess = offset + k + 22 + RawReadLE16(window.data() + k + 20);
                    limit = std::min(limit, offset + kMaxPastGuess);
                    break;
                }
        }
        offset += 512;
    }
    if (guess < 0)
        return offset;
    m_llEndRecord = guessRecord;
    return guess;
}

namespace {

// The kind from the names of the directory that the end record at endRecord
// (counted from the file's start) describes, read through buffer.
void ReadDirectoryKind(RawFileBuffer& buffer, long long endRecord, bool office, unsigned int& type)
{
    std::vector<unsigned char> rec;
    if (endRecord < 0 || !ReadSpan(buffer, static_cast<unsigned long long>(endRecord), 22, rec) ||
        !EndRecordAgrees(rec.data(), endRecord))
        return;
    const long long directory = RawReadLE32(rec.data() + 16);
    DirectoryKind kind;
    unsigned int byName = type;
    for (long long at = directory, records = 0; at + 46 <= endRecord && records < kMaxRecords; ++records) {
        if (!ReadSpan(buffer, static_cast<unsigned long long>(at), 46, rec) || RawReadLE32(rec.data()) != kCentralHeader)
            break;
        const size_t n = RawReadLE16(rec.data() + 28);
        if (!ReadSpan(buffer, static_cast<unsigned long long>(at), 46 + n, rec))
            break;
        ZipBlockInfo block;
        if (classZipSearch::GetBlockSize(rec.data(), rec.size(), false, office, byName, block) !=
            classZipSearch::kBlockKnown)
            break;
        kind.Add(block.strName);
        at += block.dwLength;
    }
    type = kind.Kind(byName, office);
}

}  // namespace

int FileZIPAnalyser::GetRawFileSize(CRawFileInfo& info, IStorageDevice* device)
{
    if (!device || info.m_llStartSector < 0)
        return 0;
    const long long sectorSize = device->GetSectorSize();
    if (sectorSize <= 0)
        return 0;
    RawFileBuffer buffer(device, static_cast<unsigned long long>(info.m_llStartSector));
    // Reads the record at pos with its name and the bytes the rules look at.
    std::vector<unsigned char> record;
    const auto readRecord = [&](long long pos) {
        if (!ReadSpan(buffer, static_cast<unsigned long long>(pos), 46, record))
            return false;
        size_t more = 0;
        const unsigned int sig = RawReadLE32(record.data());
        if (sig == kLocalHeader)
            more = 30 + RawReadLE16(record.data() + 26) + 1024;
        else if (sig == kCentralHeader)
            more = 46 + RawReadLE16(record.data() + 28);
        return more <= 46 || ReadSpan(buffer, static_cast<unsigned long long>(pos), more, record);
    };

    if (!readRecord(0) || !classZipSearch::IsValidHeader(record.data(), record.size()))
        return 0;
    unsigned int type = ZipIpaFileType(record.data()) ? kTypeIpa : kType;
    JudgeMaybeOfficeType(record.data());
    ZipBlockInfo block;
    if (classZipSearch::GetBlockSize(record.data(), record.size(), false, m_bMaybeOffice, type, block) !=
        classZipSearch::kBlockKnown)
        return 0;
    const std::string firstName = block.strName;
    long long pos = block.dwLength;
    bool ended = block.bEndRecord;
    long long endRecord = ended ? 0 : -1;
    bool walkedToEnd = ended;
    // The first entry's sizes may be in a data descriptor too.
    if (block.bLocal && (block.wFlags & kDataDescriptorFlag) && block.header.CompressedSize() == 0 &&
        block.header.UncompressedSize() == 0) {
        pos = GetProbablySize(pos, info, device);
        endRecord = m_llEndRecord;
        ended = true;
    }
    for (long long records = 1; !ended && pos <= kMaxWalk && records < kMaxRecords; ++records) {
        if (!readRecord(pos) || !classZipSearch::IsValidHeader(record.data(), record.size()) ||
            classZipSearch::GetBlockSize(record.data(), record.size(), false, m_bMaybeOffice, type, block) !=
                classZipSearch::kBlockKnown)
            break;
        // Sizes in a data descriptor: the end record has to be searched.
        if (block.bLocal && (block.wFlags & kDataDescriptorFlag) && block.header.CompressedSize() == 0 &&
            block.header.UncompressedSize() == 0) {
            pos = GetProbablySize(pos, info, device);
            endRecord = m_llEndRecord;
            ended = true;
            break;
        }
        if (block.bEndRecord) {
            endRecord = pos;
            walkedToEnd = true;
        }
        pos += block.dwLength;
        ended = block.bEndRecord;
    }
    ReadDirectoryKind(buffer, endRecord, m_bMaybeOffice, type);
    // Walked to its end record, or ended by one whose directory agrees.
    std::vector<unsigned char> rec, zip64;
    info.m_bExactEnd = endRecord >= 0 && (walkedToEnd || (ReadSpan(buffer, static_cast<unsigned long long>(endRecord),
                                                                    22, rec) &&
                                                           EndRecordAgrees(rec.data(), endRecord,
                                                                           DeviceBytes(buffer, zip64))));
    if (m_bCdr && !m_bMaybeOffice)
        type = kTypeCdr;

    long long size = pos;
    // An archive that ended at its end record is exact; otherwise the end
    // is guessed from where zero padding starts.
    if (!ended) {
        const long long a = pos / sectorSize * sectorSize;
        std::vector<unsigned char> tail;
        if (!ReadSpan(buffer, static_cast<unsigned long long>(a), static_cast<size_t>(sectorSize), tail)) {
            size = a;
        } else if (RawReadLE32(tail.data() + sectorSize - 4) == 0) {
            size = pos;
        } else if (a > kMaxTail) {
            size = a;
        } else {
            static const unsigned char kZero16[16] = {};
            long long at = a;
            for (;;) {
                if (at > kMaxTail ||
                    !ReadSpan(buffer, static_cast<unsigned long long>(at), static_cast<size_t>(sectorSize), tail)) {
                    size = at;
                    break;
                }
                if (std::memcmp(tail.data() + sectorSize - 16, kZero16, 16) == 0) {
                    size = at + sectorSize - 16;
                    break;
                }
                at += sectorSize;
            }
        }
    }
    info.m_dwType = type;
    info.m_llSize = size;
    info.SetRawFileName(firstName);
    return 1;
}

// ---- streaming --------------------------------------------------------------------

int FileZIPAnalyser::ZIPRawFileInfo::CheckZIPBlock(const unsigned char* p, size_t available, unsigned int& length,
                                                   int& isCoreXml, tagZipLocalFileHeader& header)
{
    isCoreXml = 0;
    if (available >= 4 && !classZipSearch::IsValidHeader(p, available)) {
        // A local header shorter than its fixed part may still be valid.
        if (!(RawReadLE32(p) == kLocalHeader && available < 30))
            return 1;
    }
    ZipBlockInfo block;
    const int rc = classZipSearch::GetBlockSize(p, available, true, m_bOffice, m_dwSubType, block);
    if (rc == classZipSearch::kBlockNeedMore)
        return 2;
    if (rc != classZipSearch::kBlockKnown)
        return 1;
    length = block.dwLength;
    isCoreXml = block.bCoreXml ? 1 : 0;
    header = block.header;
    m_Names.Add(block.strName);
    if (block.bEndRecord && m_bWalking)
        m_bNamesComplete = true;
    // A local header whose sizes are in a data descriptor leaves the walk
    // without the next header's place.
    m_bWalking = !(block.bLocal && (block.wFlags & kDataDescriptorFlag));
    if (!block.strName.empty() && m_strTagValue.empty()) {
        m_bNameTaken = m_bWalking;
        m_strTagValue = block.strName.substr(0, 20);
        SetFileModifiTime(p);
    }
    if (m_dwSubType != kType)
        m_dwType = m_dwSubType;
    m_llNextHeader += length;
    if (block.bEndRecord) {
        m_bDone = true;  // the end record closes the archive
        m_bEndSeen = true;
    }
    return 0;
}

void FileZIPAnalyser::ZIPRawFileInfo::ReadCoreProperties(long long headerOffset, SearchContext& context)
{
    const long long ss = context.dwSectorSize ? context.dwSectorSize : 512;
    const long long sector = m_llStartSector + headerOffset / ss;
    const long long within = headerOffset % ss;
    const unsigned char* p = context.bytes(sector, within, 30);
    if (!p)
        return;
    int needMore = 0;
    if (Brance::OfficeTagFromXML::Instance().GetOfficeTagFromXML(p, static_cast<int>(ss), sector, within, context,
                                                                  m_CoreHeader, m_Property, needMore))
        m_iTagDone = 1;
    if (needMore) {
        m_llDeferSector = sector;
        m_llDeferOffset = headerOffset;
    } else {
        m_llDeferSector = -1;
        m_llDeferOffset = -1;
    }
}

int FileZIPAnalyser::ZIPRawFileInfo::CalcRawSize(unsigned char* sector, int sectorSize, long long sectorNumber,
                                                 SearchContext& context)
{
    if (!sector || sectorSize < 64 || sectorNumber < m_llStartSector)
        return 2;
    const long long ss = sectorSize;
    const long long begin = (sectorNumber - m_llStartSector) * ss;
    const long long end = begin + ss;
    if (begin > 20 * m_llLimit) {
        char name[64];
        std::snprintf(name, sizeof(name), "%lld-%lld_", m_llStartSector, sectorNumber);
        m_strTagValue.clear();
        SetRawFileName(name);
        m_llSize = m_llLimit;
        return 1;
    }
    if (sectorNumber == m_llStartSector) {
        if (!classZipSearch::IsValidHeader(sector, static_cast<size_t>(sectorSize)))
            return 1;  // no size: the owner sizes it
        bool office = false;
        bool cdr = false;
        JudgeMaybeOfficeType(sector, sectorSize, office, cdr);
        m_bOffice = office;
        if (office)
            m_llLimit = kOfficeLimit;
        if (cdr)
            m_dwType = kTypeCdr;
    }

    // A core-properties entry whose data was not in memory yet.
    if (m_llDeferOffset >= 0)
        ReadCoreProperties(m_llDeferOffset, context);

    while (m_bWalking && !m_bDone && m_llNextHeader < end) {
        const long long at = m_llStartSector + m_llNextHeader / ss;
        const long long within = m_llNextHeader % ss;
        if (at < context.llLookBackStart) {
            m_bDone = true;  // lost its place
            break;
        }
        const long long available = (context.llBlockEnd - at) * ss - within;
        const unsigned char* p = available > 0 ? context.bytes(at, within, available) : nullptr;
        if (!p)
            break;
        const long long headerOffset = m_llNextHeader;
        unsigned int length = 0;
        int isCore = 0;
        tagZipLocalFileHeader header;
        const int rc = CheckZIPBlock(p, static_cast<size_t>(available), length, isCore, header);
        if (rc == 2)
            break;  // wait for the next block
        if (rc == 1) {
            m_bDone = true;
            break;
        }
        m_llWalkSize = m_llNextHeader;
        if (isCore && m_bOffice && !m_iTagDone) {
            m_CoreHeader = header;
            ReadCoreProperties(headerOffset, context);
            if (m_llDeferOffset >= 0)
                break;
        }
        if (length == 0)
            break;
    }

    // An end record anywhere in this sector (or crossing into it) whose
    // directory ends where it starts closes the archive, whatever follows.
    if (!m_bDone && !m_bWalking) {
        const long long from = sectorNumber > m_llStartSector ? -21 : 0;
        const unsigned char* p = context.bytes(sectorNumber, from, ss - from);
        const ZipBytesAt inMemory = [this, &context](long long offset, long long length) {
            const unsigned char* bytes = nullptr;
            return LocateRawRecord(context, m_llStartSector, offset, length, &bytes) == RawRecordPlace::InMemory
                       ? bytes
                       : nullptr;
        };
        for (long long k = 0; p && k + 22 <= ss - from; ++k) {
            if (p[k] != 'P' || !EndRecordAgrees(p + k, begin + from + k, inMemory))
                continue;
            const long long record = begin + from + k;
            m_llWalkSize = record + 22 + RawReadLE16(p + k + 20);
            m_bDone = true;
            m_bEndSeen = true;
            // Without the directory's names in memory the kind is left to
            // the owner, which reads them from the device.
            if (!ReadCentralNames(record, RawReadLE32(p + k + 16), RawReadLE32(p + k + 12), context) &&
                (m_bOffice || m_dwType == kType)) {
                m_llSize = 0;
                FillFileInfo(sectorNumber, sectorSize, 0);
                return 1;
            }
            break;
        }
    }

    const unsigned int zeroTail = context.dwTrailingZero;
    if (!m_bDone && (!m_bNameTaken || !m_bWalking || m_dwType == kTypeIpa) && zeroTail > 16) {
        static const unsigned char kPK[2] = {'P', 'K'};
        bool centralRead = false;
        const int after = BruteForce::RawUtility::FindMagicInBuffer(sector, sectorSize - static_cast<int>(zeroTail),
                                                                     0, kPK, 2);
        if (after >= 2) {
            const long long pos = after - 2;
            const unsigned char* rec = sector + pos;
            if (pos + 4 <= ss && rec[2] == 0x05 && rec[3] == 0x06) {
                const long long comment = pos + 22 <= ss ? RawReadLE16(rec + 20) : 0;
                m_llWalkSize = begin + pos + 22 + comment;
                m_bDone = true;
                centralRead = m_bOffice && pos + 22 <= ss &&
                              ReadCentralNames(begin + pos, RawReadLE32(rec + 16), RawReadLE32(rec + 12), context);
            } else if (pos + 4 <= ss && rec[2] == 0x01 && rec[3] == 0x02 && zeroTail > 21) {
                m_llWalkSize = begin + pos + 48;
                m_bDone = true;
            }
        }
        if (m_bOffice && !centralRead)
            JudeOleType(sector, sectorSize);
    }
    if (!m_bDone)
        return 2;
    m_dwType = m_Names.PackageKind(m_dwType, m_bNamesComplete);
    m_llSize = m_llWalkSize;
    m_bExactEnd = m_bExactEnd || m_bEndSeen;
    FillFileInfo(sectorNumber, sectorSize, static_cast<int>(zeroTail));
    return 1;
}

bool FileZIPAnalyser::ZIPRawFileInfo::ReadCentralNames(long long endRecord, unsigned int directoryOffset,
                                                      unsigned int directorySize, SearchContext& context)
{
    // Only a directory that ends where the end record starts is trusted.
    if (static_cast<long long>(directoryOffset) + directorySize != endRecord)
        return false;
    const long long ss = context.dwSectorSize ? context.dwSectorSize : 512;
    const bool office = m_bOffice;
    unsigned int type = m_dwType;
    bool seen = false;
    DirectoryKind kind;
    long long at = directoryOffset;
    while (at + 46 <= endRecord) {
        const long long sector = m_llStartSector + at / ss;
        const long long available = std::min(endRecord - at, (context.llBlockEnd - sector) * ss - at % ss);
        const unsigned char* p = available > 0 ? context.bytes(sector, at % ss, available) : nullptr;
        ZipBlockInfo block;
        if (!p || RawReadLE32(p) != kCentralHeader ||
            classZipSearch::GetBlockSize(p, static_cast<size_t>(available), true, office, type, block) !=
                classZipSearch::kBlockKnown)
            break;
        seen = true;
        kind.Add(block.strName);
        at += block.dwLength;
    }
    // Only the whole directory tells the kind.
    if (!seen || at != endRecord)
        return false;
    m_dwType = kind.Kind(type, m_bOffice);
    return true;
}

bool FileZIPAnalyser::ZIPRawFileInfo::HoldsSector(long long sectorNumber, const SearchContext& context)
{
    const long long ss = context.dwSectorSize ? context.dwSectorSize : 512;
    return m_bWalking && !m_bDone && m_llNextHeader >= (sectorNumber - m_llStartSector) * ss;
}

bool FileZIPAnalyser::ZIPRawFileInfo::OwnRecordAt(long long sectorNumber, const SearchContext& context)
{
    const long long ss = context.dwSectorSize ? context.dwSectorSize : 512;
    return m_bWalking && !m_bDone && m_llNextHeader == (sectorNumber - m_llStartSector) * ss;
}

void FileZIPAnalyser::ZIPRawFileInfo::WillBeRemove(unsigned char*, long long sectorNumber)
{
    FillFileInfo(sectorNumber >= 0 ? sectorNumber : m_llStartSector, 512, 0);
}

void FileZIPAnalyser::ZIPRawFileInfo::FillFileInfo(long long sector, int, int)
{
    const FileProperty& p = m_Property;
    const bool anyValue = !p.strTitle.empty() || !p.strAuthor.empty() || !p.strCreator.empty() ||
                          !p.strModificationDate.empty() || !p.strCreationDate.empty();
    const bool officeKind = m_dwType == kDocx || m_dwType == kXlsx || m_dwType == kPptx;
    // The first entry's name was kept in the tag value only until naming:
    // it is not a label.
    if (!officeKind || !m_iTagDone || !m_bOffice)
        m_strTagValue.clear();
    if (m_iTagDone && m_bOffice && !anyValue)
        return;
    if (!m_iTagDone || !m_bOffice) {
        char name[64];
        std::snprintf(name, sizeof(name), "%lld-%lld_", m_llStartSector, sector);
        SetRawFileName(name);
        return;
    }
    const std::string label = !p.strAuthor.empty() ? p.strAuthor : !p.strCreator.empty() ? p.strCreator : "unKnown";
    if (!p.strModificationDate.empty())
        m_strTime = p.strModificationDate;
    std::string title = p.strTitle;
    if (title.size() > 24)
        title.resize(24);
    const std::string base = !title.empty() ? title : !p.strAuthor.empty() ? p.strAuthor : p.strCreator;
    std::string text;
    if (!base.empty())
        text = p.strModificationDate.empty() ? base : base + "_" + p.strModificationDate;
    else
        text = !p.strModificationDate.empty() ? p.strModificationDate : p.strCreationDate;
    if (officeKind)
        SetRawFileTagAndValue(RAW_TAG_OFFICE, label);
    SetRawFileName(!m_strTagValue.empty() ? m_strTagValue + "_" + text : text);
}

void FileZIPAnalyser::ZIPRawFileInfo::JudeOleType(const unsigned char* buffer, int length)
{
    if (!buffer)
        return;
    for (int i = 0; i < length; ++i) {
        if (buffer[i] != 0)
            continue;
        const auto at = [&](const char* text) {
            const int n = static_cast<int>(std::strlen(text));
            return i + 1 + n <= length && std::memcmp(buffer + i + 1, text, n) == 0;
        };
        if (at("word/")) {
            m_dwType = kDocx;
            return;
        }
        if (at("ppt/")) {
            m_dwType = kPptx;
            return;
        }
        if (at("xl/")) {
            m_dwType = kXlsx;
            return;
        }
    }
}
