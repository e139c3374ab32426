// One HFS+ or HFSX volume read through an IStorageDevice that presents it
// from sector 0: byte reads, the special files, the three B-trees, extended
// attributes, and the deleted records that older node copies in the journal
// still hold.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "HFSPlusBTree.h"
#include "HFSPlusStructs.h"
#include "ResultCode.h"

class IStorageDevice;
class IDirecotryTreeBuilder;
class CHFSPlusVolume;
class CHFSPlusQuickFileSystemSearchProgress;

// A key with its record, both host-order copies.
struct HFSPlusDeletedRecord {
    std::unique_ptr<BTKey> key;
    std::unique_ptr<unsigned char[]> record;
};
// Newest first: entries are inserted at the front.
using HFSPlusDeletedList = std::list<HFSPlusDeletedRecord>;

// A special file (extents, catalog, attributes) read through its extents.
class CHFSPlusRawfile {
public:
    CHFSPlusRawfile(CHFSPlusVolume* volume, uint32_t fileId, const HFSPlusForkData& fork);
    virtual ~CHFSPlusRawfile() = default;
    // The bytes read; fewer on failure (the code is kept).
    virtual unsigned long long Read(unsigned long long offset, unsigned char* buf, unsigned long long len);
    ResultCode GetLastError() const { return m_llLastError; }
    const std::vector<HFSPlusExtentDescriptor>& GetExtents() const { return m_extents; }

protected:
    unsigned long long ReadThroughExtents(unsigned long long offset, unsigned char* buf, unsigned long long len);

    std::vector<HFSPlusExtentDescriptor> m_extents;
    ResultCode m_llLastError;
    CHFSPlusVolume* m_pVolume;
    uint32_t m_dwFileId;
};

// The catalog file: its first 256 MiB are kept in memory, unless it claims
// more than the device holds.
class CHFSPlusFileCache : public CHFSPlusRawfile {
public:
    CHFSPlusFileCache(CHFSPlusVolume* volume, uint32_t fileId, const HFSPlusForkData& fork);
    unsigned long long Read(unsigned long long offset, unsigned char* buf, unsigned long long len) override;
    unsigned long long GetLoadedLength() const { return m_pData ? m_u64Length : 0; }

    static constexpr unsigned long long kMaxCached = 0x10000000ULL;

private:
    std::unique_ptr<unsigned char[]> m_pData;
    unsigned long long m_u64Length = 0;
};

class CHFSPlusJournal {
public:
    explicit CHFSPlusJournal(CHFSPlusVolume* volume);
    ResultCode GetLastError() const { return m_llLastError; }
    bool HasHeader() const { return m_bHasHeader; }
    const JournalInfoBlock& GetInfoBlock() const { return m_info; }
    const JournalHeader& GetHeader() const { return m_header; }
    // Reads len bytes at position (modulo the journal size), wrapping at the
    // journal's end.
    unsigned long long Read(unsigned long long position, unsigned char* buf, unsigned long long len);
    // One pass around the journal from the end of the newest transaction:
    // leaf nodes of the three trees give records the live trees lack.
    ResultCode GetDeleteRecord(CHFSPlusQuickFileSystemSearchProgress* progress, HFSPlusDeletedList& catalog,
                               HFSPlusDeletedList& extents, HFSPlusDeletedList& attributes);

private:
    void TakeNode(CHFSPlusBTNode& node, unsigned long long home, CHFSPlusQuickFileSystemSearchProgress* progress,
                  HFSPlusDeletedList& catalog, HFSPlusDeletedList& extents, HFSPlusDeletedList& attributes);

    CHFSPlusVolume* m_pVolume;
    ResultCode m_llLastError;
    JournalInfoBlock m_info{};
    JournalHeader m_header{};
    bool m_bHasHeader = false;
};

class CHFSPlusVolume {
public:
    CHFSPlusVolume(IStorageDevice* device, bool withoutCatalog);
    ~CHFSPlusVolume();
    CHFSPlusVolume(const CHFSPlusVolume&) = delete;
    CHFSPlusVolume& operator=(const CHFSPlusVolume&) = delete;

    // 0 when the volume is usable.
    ResultCode GetLastError() const { return m_llLastError; }
    static int IsValidVolumeHeader(const unsigned char* buf, unsigned short len);
    ResultCode ReadVolumeHeader();
    unsigned long long Read(unsigned long long offset, void* buf, unsigned long long len);
    // tree: 3 extents, 4 catalog, 8 attributes.
    ResultCode Search(int tree, BTKey* key, HFSPlusSearchResult& result, unsigned char** record);
    // The inline data of attribute name of fileId; its length, 0 when absent.
    unsigned int getAttribute(unsigned int fileId, const char* name, std::vector<unsigned char>& data);
    ResultCode FindDeleteExtent(BTKey* key, HFSPlusSearchResult& result, unsigned char** record);
    ResultCode FindDeleteAttribute(BTKey* key, HFSPlusSearchResult& result, unsigned char** record);
    // 4, 3, 8, 6 or 7: the special file whose extents hold the byte; 0 none.
    int GetNodeBelongToFile(unsigned long long byteOffset);
    int IsBelongToFile(uint32_t fileId, const HFSPlusForkData& fork, unsigned long long byteOffset);
    ResultCode QuickSearchFiles(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress);

    // The extents of a fork in order: the eight of the fork, then the
    // continuations from the extents tree (and, when withDeleted, from the
    // journal's deleted extent records). A fork cut short is kept as far as
    // it goes; the code tells why it ended.
    ResultCode CollectForkExtents(uint32_t fileId, uint8_t forkType, const HFSPlusForkData& fork, bool withDeleted,
                                  std::vector<HFSPlusExtentDescriptor>& out);

    const HFSPlusVolumeHeader* GetVolumeHeader() const { return m_pHeader.get(); }
    IStorageDevice* GetDevice() const { return m_pDevice; }
    unsigned int GetSectorSize() const { return m_dwSectorSize; }
    uint32_t GetBlockSize() const { return m_pHeader ? m_pHeader->blockSize : 0; }
    CHFSPlusExtents* GetExtentsTree() const { return m_pExtentsTree.get(); }
    CHFSPlusAttribute* GetAttributesTree() const { return m_pAttributesTree.get(); }
    CHFSPlusCatalog* GetCatalogTree() const { return m_pCatalogTree.get(); }
    CHFSPlusFileCache* GetCatalogFile() const { return m_pCatalogFile.get(); }
    CHFSPlusJournal* GetJournal() const { return m_pJournal.get(); }
    uint8_t GetCompareType() const { return m_u8CompareType; }
    HFSPlusDeletedList& GetDeletedCatalog() { return m_deletedCatalog; }
    HFSPlusDeletedList& GetDeletedExtents() { return m_deletedExtents; }
    HFSPlusDeletedList& GetDeletedAttributes() { return m_deletedAttributes; }

    // Sector sizes the byte reads can serve.
    static constexpr unsigned int kMaxSectorSize = 8192;

private:
    ResultCode Open(bool withoutCatalog);
    ResultCode FindDeleted(HFSPlusDeletedList& list, int tree, BTKey* key, HFSPlusSearchResult& result,
                           unsigned char** record);

    unsigned int m_dwSectorSize = 0;
    IStorageDevice* m_pDevice;
    ResultCode m_llLastError;
    std::unique_ptr<HFSPlusVolumeHeader> m_pHeader;
    std::unique_ptr<CHFSPlusRawfile> m_pExtentsFile;
    std::unique_ptr<CHFSPlusExtents> m_pExtentsTree;
    std::unique_ptr<CHFSPlusRawfile> m_pAttributesFile;
    std::unique_ptr<CHFSPlusAttribute> m_pAttributesTree;
    std::unique_ptr<CHFSPlusFileCache> m_pCatalogFile;
    std::unique_ptr<CHFSPlusCatalog> m_pCatalogTree;
    std::unique_ptr<CHFSPlusJournal> m_pJournal;
    HFSPlusDeletedList m_deletedCatalog;
    HFSPlusDeletedList m_deletedExtents;
    HFSPlusDeletedList m_deletedAttributes;
    uint8_t m_u8CompareType = 0;
    std::vector<unsigned char> m_vecScratch;
};
