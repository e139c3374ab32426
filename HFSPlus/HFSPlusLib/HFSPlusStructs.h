// On-disk records of HFS+ and HFSX volumes. On disk every integer is
// big-endian (the journal and compression headers excepted, as noted); the
// flip functions convert a private copy to host order field by field.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct HFSPlusExtentDescriptor {
    uint32_t startBlock;
    uint32_t blockCount;
};

struct HFSPlusForkData {
    uint64_t logicalSize;
    uint32_t clumpSize;
    uint32_t totalBlocks;
    HFSPlusExtentDescriptor extents[8];
};
static_assert(sizeof(HFSPlusForkData) == 80);

struct HFSPlusVolumeHeader {
    uint16_t signature;
    uint16_t version;
    uint32_t attributes;
    uint32_t lastMountedVersion;
    uint32_t journalInfoBlock;
    uint32_t createDate;
    uint32_t modifyDate;
    uint32_t backupDate;
    uint32_t checkedDate;
    uint32_t fileCount;
    uint32_t folderCount;
    uint32_t blockSize;
    uint32_t totalBlocks;
    uint32_t freeBlocks;
    uint32_t nextAllocation;
    uint32_t rsrcClumpSize;
    uint32_t dataClumpSize;
    uint32_t nextCatalogID;
    uint32_t writeCount;
    uint64_t encodingsBitmap;
    uint32_t finderInfo[8];
    HFSPlusForkData allocationFile;
    HFSPlusForkData extentsFile;
    HFSPlusForkData catalogFile;
    HFSPlusForkData attributesFile;
    HFSPlusForkData startupFile;
};
static_assert(sizeof(HFSPlusVolumeHeader) == 512);
static_assert(offsetof(HFSPlusVolumeHeader, catalogFile) == 272);

constexpr uint16_t kHFSPlusSigWord = 0x482B;  // "H+"
constexpr uint16_t kHFSXSigWord = 0x4858;     // "HX"
constexpr uint32_t kHFSVolumeJournaledMask = 0x2000;

struct BTNodeDescriptor {
    uint32_t fLink;
    uint32_t bLink;
    int8_t kind;
    uint8_t height;
    uint16_t numRecords;
    uint16_t reserved;
};
static_assert(sizeof(BTNodeDescriptor) == 14);

enum : int8_t {
    kBTLeafNode = -1,
    kBTIndexNode = 0,
    kBTHeaderNode = 1,
    kBTMapNode = 2,
};

struct BTHeaderRec {
    uint16_t treeDepth;
    uint32_t rootNode;
    uint32_t leafRecords;
    uint32_t firstLeafNode;
    uint32_t lastLeafNode;
    uint16_t nodeSize;
    uint16_t maxKeyLength;
    uint32_t totalNodes;
    uint32_t freeNodes;
    uint16_t reserved1;
    uint32_t clumpSize;
    uint8_t btreeType;
    uint8_t keyCompareType;
    uint32_t attributes;
    uint32_t reserved3[16];
};
static_assert(sizeof(BTHeaderRec) == 106);

constexpr uint8_t kHFSCaseFolding = 0xCF;
constexpr uint8_t kHFSBinaryCompare = 0xBC;

struct HFSUniStr255 {
    uint16_t length;
    uint16_t unicode[255];
};

struct HFSPlusCatalogKey {
    uint16_t keyLength;
    uint32_t parentID;
    HFSUniStr255 nodeName;
};
static_assert(sizeof(HFSPlusCatalogKey) == 518);

struct HFSPlusExtentKey {
    uint16_t keyLength;
    uint8_t forkType;
    uint8_t pad;
    uint32_t fileID;
    uint32_t startBlock;
};
static_assert(sizeof(HFSPlusExtentKey) == 12);

struct HFSPlusAttrKey {
    uint16_t keyLength;
    uint16_t pad;
    uint32_t fileID;
    uint32_t startBlock;
    uint16_t attrNameLen;
    uint16_t attrName[127];
};
static_assert(sizeof(HFSPlusAttrKey) == 268);

// The buffer every key is read into, whatever its tree.
union BTKey {
    uint16_t keyLength;
    HFSPlusCatalogKey catalog;
    HFSPlusExtentKey extent;
    HFSPlusAttrKey attr;
    uint8_t raw[524];
};

struct HFSPlusBSDInfo {
    uint32_t ownerID;
    uint32_t groupID;
    uint8_t adminFlags;
    uint8_t ownerFlags;
    uint16_t fileMode;
    uint32_t special;
};
static_assert(sizeof(HFSPlusBSDInfo) == 16);
constexpr uint8_t UF_COMPRESSED_FLAG = 0x20;

struct Point {
    int16_t v;
    int16_t h;
};
struct Rect {
    int16_t top, left, bottom, right;
};
struct FileInfo {
    uint32_t fileType;
    uint32_t fileCreator;
    uint16_t finderFlags;
    Point location;
    uint16_t reservedField;
};
struct ExtendedFileInfo {
    int16_t reserved1[4];
    uint16_t extendedFinderFlags;
    int16_t reserved2;
    int32_t putAwayFolderID;
};
struct FolderInfo {
    Rect windowBounds;
    uint16_t finderFlags;
    Point location;
    uint16_t reservedField;
};
struct ExtendedFolderInfo {
    Point scrollPosition;
    int32_t reserved1;
    uint16_t extendedFinderFlags;
    int16_t reserved2;
    int32_t putAwayFolderID;
};
static_assert(sizeof(FileInfo) == 16 && sizeof(ExtendedFileInfo) == 16);
static_assert(sizeof(FolderInfo) == 16 && sizeof(ExtendedFolderInfo) == 16);

enum : int16_t {
    kHFSPlusFolderRecord = 1,
    kHFSPlusFileRecord = 2,
    kHFSPlusFolderThreadRecord = 3,
    kHFSPlusFileThreadRecord = 4,
};

struct HFSPlusCatalogFolder {
    int16_t recordType;
    uint16_t flags;
    uint32_t valence;
    uint32_t folderID;
    uint32_t createDate;
    uint32_t contentModDate;
    uint32_t attributeModDate;
    uint32_t accessDate;
    uint32_t backupDate;
    HFSPlusBSDInfo permissions;
    FolderInfo userInfo;
    ExtendedFolderInfo finderInfo;
    uint32_t textEncoding;
    uint32_t reserved;
};
static_assert(sizeof(HFSPlusCatalogFolder) == 88);

struct HFSPlusCatalogFile {
    int16_t recordType;
    uint16_t flags;
    uint32_t reserved1;
    uint32_t fileID;
    uint32_t createDate;
    uint32_t contentModDate;
    uint32_t attributeModDate;
    uint32_t accessDate;
    uint32_t backupDate;
    HFSPlusBSDInfo permissions;
    FileInfo userInfo;
    ExtendedFileInfo finderInfo;
    uint32_t textEncoding;
    uint32_t reserved2;
    HFSPlusForkData dataFork;
    HFSPlusForkData resourceFork;
};
static_assert(sizeof(HFSPlusCatalogFile) == 248);

struct HFSPlusCatalogThread {
    int16_t recordType;
    int16_t reserved;
    uint32_t parentID;
    HFSUniStr255 nodeName;
};
static_assert(sizeof(HFSPlusCatalogThread) == 520);

union HFSPlusCatalogRecord {
    int16_t recordType;
    HFSPlusCatalogFolder folder;
    HFSPlusCatalogFile file;
    HFSPlusCatalogThread thread;
};

enum : uint32_t {
    kHFSPlusAttrInlineData = 0x10,
    kHFSPlusAttrForkData = 0x20,
    kHFSPlusAttrExtents = 0x30,
};

struct HFSPlusAttrData {
    uint32_t recordType;
    uint32_t reserved[2];
    uint32_t size;
    uint8_t data[2];
};
struct HFSPlusAttrForkData {
    uint32_t recordType;
    uint32_t reserved;
    HFSPlusForkData theFork;
};
struct HFSPlusAttrExtents {
    uint32_t recordType;
    uint32_t reserved;
    HFSPlusExtentDescriptor extents[8];
};
static_assert(sizeof(HFSPlusAttrForkData) == 88 && sizeof(HFSPlusAttrExtents) == 72);

// Journal records. The info block is big-endian; the journal header and the
// block lists are little-endian and read as stored.
struct JournalInfoBlock {
    uint32_t flags;
    uint32_t deviceSignature[8];
    uint64_t offset;
    uint64_t size;
    uint32_t reserved[32];
};
static_assert(sizeof(JournalInfoBlock) == 180);
constexpr uint32_t kJIJournalInFSMask = 1;

struct JournalHeader {
    uint32_t magic;
    uint32_t endian;
    uint64_t start;
    uint64_t end;
    uint64_t size;
    uint32_t blhdr_size;
    uint32_t checksum;
    uint32_t jhdr_size;
};
static_assert(sizeof(JournalHeader) == 44);
constexpr uint32_t kJournalMagic = 0x4A4E4C78;
constexpr uint32_t kJournalEndian = 0x12345678;

// Compression headers: decmpfs is little-endian, the resource header big.
struct HFSPlusDecmpfs {
    uint32_t magic;
    uint32_t compressionType;
    uint64_t uncompressedSize;
};
struct HFSPlusCmpfRsrcHead {
    uint32_t dataOffset;
    uint32_t mapOffset;
    uint32_t dataLength;
    uint32_t mapLength;
};
struct HFSPlusCmpfRsrcBlock {
    uint32_t offset;
    uint32_t size;
};
struct HFSPlusCmpfRsrcBlockHead {
    uint32_t dataSize;
    uint32_t numBlocks;
};

#pragma pack(pop)

// Byte-order conversion of a private copy, in place.
void flipEndian(void* bytes, size_t n);
void flipExtentDescriptor(HFSPlusExtentDescriptor* d);
void flipExtentRecord(HFSPlusExtentDescriptor* eight);
void flipForkData(HFSPlusForkData* f);
void flipVolumeHeader(HFSPlusVolumeHeader* h);
void flipNodeDescriptor(BTNodeDescriptor* d);
void flipBTHeaderRec(BTHeaderRec* h);
void filpExtentKey(HFSPlusExtentKey* k);
void filpCatalogKey(HFSPlusCatalogKey* k);
void flipBSDInfo(HFSPlusBSDInfo* b);
void flipPoint(Point* p);
void flipRect(Rect* r);
void flipFileInfo(FileInfo* i);
void flipExtendedFileInfo(ExtendedFileInfo* i);
void flipFolderInfo(FolderInfo* i);
void flipExtendedFolderInfo(ExtendedFolderInfo* i);
void flipCatalogFolder(HFSPlusCatalogFolder* f);
void flipCatalogFile(HFSPlusCatalogFile* f);
void flipCatalogThread(HFSPlusCatalogThread* t);
void flipAttrForkData(HFSPlusAttrForkData* a);
void flipAttrExtents(HFSPlusAttrExtents* a);
void flipAttrData(HFSPlusAttrData* a);
void filpAttributeKey(HFSPlusAttrKey* k);
void flipJournalInfoBlock(JournalInfoBlock* j);
void flipRsrcHead(HFSPlusCmpfRsrcHead* h);
void flipRsrcBlockHead(HFSPlusCmpfRsrcBlockHead* h);
inline void flipRsrcBlock(HFSPlusCmpfRsrcBlock*) {}
inline void flipHFSPlusDecmpfs(HFSPlusDecmpfs*) {}

// Big- and little-endian reads of unaligned bytes.
inline uint16_t ReadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t ReadBE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline uint32_t ReadLE32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[3]) << 24) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[1]) << 8) | p[0];
}
inline uint64_t ReadLE64(const uint8_t* p)
{
    return (static_cast<uint64_t>(ReadLE32(p + 4)) << 32) | ReadLE32(p);
}
inline uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
