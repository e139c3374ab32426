// Field-by-field byte-order conversion of the on-disk records. Packed
// fields are never bound to references: each is converted through its byte
// offset.
#include <algorithm>
#include <type_traits>

#include "HFSPlusStructs.h"

namespace {

unsigned char* At(void* base, size_t offset) { return static_cast<unsigned char*>(base) + offset; }

// Converts count consecutive integers of width bytes each.
void FlipArray(unsigned char* p, size_t width, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        flipEndian(p + i * width, width);
}

}  // namespace

#define FLIP(p, field) \
    flipEndian(At((p), offsetof(std::remove_pointer_t<decltype(p)>, field)), sizeof((p)->field))
#define FLIP_ARRAY(p, field, width) \
    FlipArray(At((p), offsetof(std::remove_pointer_t<decltype(p)>, field)), (width), sizeof((p)->field) / (width))

void flipEndian(void* bytes, size_t n)
{
    auto* p = static_cast<unsigned char*>(bytes);
    std::reverse(p, p + n);
}

void flipExtentDescriptor(HFSPlusExtentDescriptor* d)
{
    FLIP(d, startBlock);
    FLIP(d, blockCount);
}

void flipExtentRecord(HFSPlusExtentDescriptor* eight) { FlipArray(reinterpret_cast<unsigned char*>(eight), 4, 16); }

void flipForkData(HFSPlusForkData* f)
{
    FLIP(f, logicalSize);
    FLIP(f, clumpSize);
    FLIP(f, totalBlocks);
    FLIP_ARRAY(f, extents, 4);
}

void flipVolumeHeader(HFSPlusVolumeHeader* h)
{
    FLIP(h, signature);
    FLIP(h, version);
    // Every u32 from attributes up to the encodings bitmap.
    FlipArray(At(h, offsetof(HFSPlusVolumeHeader, attributes)), 4,
              (offsetof(HFSPlusVolumeHeader, encodingsBitmap) - offsetof(HFSPlusVolumeHeader, attributes)) / 4);
    FLIP(h, encodingsBitmap);
    FLIP_ARRAY(h, finderInfo, 4);
    flipForkData(reinterpret_cast<HFSPlusForkData*>(At(h, offsetof(HFSPlusVolumeHeader, allocationFile))));
    flipForkData(reinterpret_cast<HFSPlusForkData*>(At(h, offsetof(HFSPlusVolumeHeader, extentsFile))));
    flipForkData(reinterpret_cast<HFSPlusForkData*>(At(h, offsetof(HFSPlusVolumeHeader, catalogFile))));
    flipForkData(reinterpret_cast<HFSPlusForkData*>(At(h, offsetof(HFSPlusVolumeHeader, attributesFile))));
    flipForkData(reinterpret_cast<HFSPlusForkData*>(At(h, offsetof(HFSPlusVolumeHeader, startupFile))));
}

void flipNodeDescriptor(BTNodeDescriptor* d)
{
    FLIP(d, fLink);
    FLIP(d, bLink);
    FLIP(d, numRecords);
    FLIP(d, reserved);
}

void flipBTHeaderRec(BTHeaderRec* h)
{
    FLIP(h, treeDepth);
    FLIP(h, rootNode);
    FLIP(h, leafRecords);
    FLIP(h, firstLeafNode);
    FLIP(h, lastLeafNode);
    FLIP(h, nodeSize);
    FLIP(h, maxKeyLength);
    FLIP(h, totalNodes);
    FLIP(h, freeNodes);
    FLIP(h, reserved1);
    FLIP(h, clumpSize);
    FLIP(h, attributes);
    FLIP_ARRAY(h, reserved3, 4);
}

void filpExtentKey(HFSPlusExtentKey* k)
{
    FLIP(k, keyLength);
    FLIP(k, fileID);
    FLIP(k, startBlock);
}

namespace {

// The name's length and units; "/" is shown as ":" in host order.
void FlipName(HFSUniStr255* name)
{
    FLIP(name, length);
    const size_t count = std::min<size_t>(name->length, 255);
    unsigned char* units = At(name, offsetof(HFSUniStr255, unicode));
    for (size_t i = 0; i < count; ++i) {
        flipEndian(units + 2 * i, 2);
        if (units[2 * i] == 0x2F && units[2 * i + 1] == 0)
            units[2 * i] = 0x3A;
    }
}

}  // namespace

void filpCatalogKey(HFSPlusCatalogKey* k)
{
    FLIP(k, keyLength);
    FLIP(k, parentID);
    FlipName(reinterpret_cast<HFSUniStr255*>(At(k, offsetof(HFSPlusCatalogKey, nodeName))));
}

void flipBSDInfo(HFSPlusBSDInfo* b)
{
    FLIP(b, ownerID);
    FLIP(b, groupID);
    FLIP(b, fileMode);
    FLIP(b, special);
}

void flipPoint(Point* p)
{
    FLIP(p, v);
    FLIP(p, h);
}

void flipRect(Rect* r) { FlipArray(reinterpret_cast<unsigned char*>(r), 2, 4); }

void flipFileInfo(FileInfo* i)
{
    FLIP(i, fileType);
    FLIP(i, fileCreator);
    FLIP(i, finderFlags);
    flipPoint(reinterpret_cast<Point*>(At(i, offsetof(FileInfo, location))));
    FLIP(i, reservedField);
}

void flipExtendedFileInfo(ExtendedFileInfo* i)
{
    FLIP_ARRAY(i, reserved1, 2);
    FLIP(i, extendedFinderFlags);
    FLIP(i, reserved2);
    FLIP(i, putAwayFolderID);
}

void flipFolderInfo(FolderInfo* i)
{
    flipRect(reinterpret_cast<Rect*>(At(i, offsetof(FolderInfo, windowBounds))));
    FLIP(i, finderFlags);
    flipPoint(reinterpret_cast<Point*>(At(i, offsetof(FolderInfo, location))));
    FLIP(i, reservedField);
}

void flipExtendedFolderInfo(ExtendedFolderInfo* i)
{
    flipPoint(reinterpret_cast<Point*>(At(i, offsetof(ExtendedFolderInfo, scrollPosition))));
    FLIP(i, reserved1);
    FLIP(i, extendedFinderFlags);
    FLIP(i, reserved2);
    FLIP(i, putAwayFolderID);
}

namespace {

// The fields that folder and file records share, from createDate to the
// end of the finder information, and their leading words.
template <typename T>
void FlipCommonRecord(T* r)
{
    FLIP(r, recordType);
    FLIP(r, flags);
    FlipArray(At(r, 4), 4, 7);  // valence or reserved, the id and five dates
    flipBSDInfo(reinterpret_cast<HFSPlusBSDInfo*>(At(r, 32)));
    FLIP(r, textEncoding);
}

}  // namespace

void flipCatalogFolder(HFSPlusCatalogFolder* f)
{
    FlipCommonRecord(f);
    flipFolderInfo(reinterpret_cast<FolderInfo*>(At(f, 48)));
    flipExtendedFolderInfo(reinterpret_cast<ExtendedFolderInfo*>(At(f, 64)));
    FLIP(f, reserved);
}

void flipCatalogFile(HFSPlusCatalogFile* f)
{
    FlipCommonRecord(f);
    flipFileInfo(reinterpret_cast<FileInfo*>(At(f, 48)));
    flipExtendedFileInfo(reinterpret_cast<ExtendedFileInfo*>(At(f, 64)));
    FLIP(f, reserved2);
    flipForkData(reinterpret_cast<HFSPlusForkData*>(At(f, offsetof(HFSPlusCatalogFile, dataFork))));
    flipForkData(reinterpret_cast<HFSPlusForkData*>(At(f, offsetof(HFSPlusCatalogFile, resourceFork))));
}

void flipCatalogThread(HFSPlusCatalogThread* t)
{
    FLIP(t, recordType);
    FLIP(t, reserved);
    FLIP(t, parentID);
    FlipName(reinterpret_cast<HFSUniStr255*>(At(t, offsetof(HFSPlusCatalogThread, nodeName))));
}

void flipAttrForkData(HFSPlusAttrForkData* a)
{
    FLIP(a, recordType);
    FLIP(a, reserved);
    flipForkData(reinterpret_cast<HFSPlusForkData*>(At(a, offsetof(HFSPlusAttrForkData, theFork))));
}

void flipAttrExtents(HFSPlusAttrExtents* a)
{
    FLIP(a, recordType);
    FLIP(a, reserved);
    flipExtentRecord(reinterpret_cast<HFSPlusExtentDescriptor*>(At(a, offsetof(HFSPlusAttrExtents, extents))));
}

void flipAttrData(HFSPlusAttrData* a)
{
    FLIP(a, recordType);
    FLIP(a, size);
}

void filpAttributeKey(HFSPlusAttrKey* k)
{
    FLIP(k, keyLength);
    FLIP(k, pad);
    FLIP(k, fileID);
    FLIP(k, startBlock);
    FLIP(k, attrNameLen);
    const size_t count = std::min<size_t>(k->attrNameLen, 127);
    FlipArray(At(k, offsetof(HFSPlusAttrKey, attrName)), 2, count);
}

void flipJournalInfoBlock(JournalInfoBlock* j)
{
    FLIP(j, flags);
    FLIP_ARRAY(j, deviceSignature, 4);
    FLIP(j, offset);
    FLIP(j, size);
    FLIP_ARRAY(j, reserved, 4);
}

void flipRsrcHead(HFSPlusCmpfRsrcHead* h) { FlipArray(reinterpret_cast<unsigned char*>(h), 4, 4); }

void flipRsrcBlockHead(HFSPlusCmpfRsrcBlockHead* h) { FLIP(h, dataSize); }
