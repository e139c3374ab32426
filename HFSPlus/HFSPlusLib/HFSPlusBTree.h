// B-tree nodes, the generic search and walk, and the key/record codecs of the
// catalog, extents overflow and attributes trees. Everything read here is
// untrusted: nodes are checked before use, and every copy handed out is in
// host order and owned by the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "HFSPlusStructs.h"
#include "ResultCode.h"

class CHFSPlusVolume;
class CHFSPlusRawfile;
class CHFSPlusBTree;
class CHFSPlusQuickFileSystemSearchProgress;
class IDirecotryTreeBuilder;

struct HFSPlusSearchResult {
    uint32_t nodeNumber = 0;
    uint16_t recordIndex = 0;
    uint8_t found = 0;
};

// One node in memory.
class CHFSPlusBTNode {
public:
    // When ownsBuffer is set the node takes buf (allocated with new[]).
    CHFSPlusBTNode(const unsigned char* buf, unsigned short size, int ownsBuffer);
    ~CHFSPlusBTNode();
    CHFSPlusBTNode(const CHFSPlusBTNode&) = delete;
    CHFSPlusBTNode& operator=(const CHFSPlusBTNode&) = delete;

    static int IsValidNode(const unsigned char* buf, unsigned short size);

    // Null when the buffer is not a valid node.
    const BTNodeDescriptor* GetDescriptor() const { return m_pDescriptor.get(); }
    unsigned short GetRecordCount();
    // A pointer into the node, null when the index is out of range.
    unsigned char* GetRecord(unsigned short index, unsigned short* length);
    // 4 catalog, 3 extents, 8 attributes, 0 unknown.
    int TestNodeBelongToFile();
    unsigned short GetNodeSize() const { return m_wNodeSize; }
    ResultCode GetLastError() const { return m_llLastError; }
    bool IsLeaf() const { return m_pDescriptor && m_pDescriptor->kind == kBTLeafNode; }
    bool IsIndex() const { return m_pDescriptor && m_pDescriptor->kind == kBTIndexNode; }

private:
    uint16_t m_wNodeSize;
    ResultCode m_llLastError;
    unsigned char* m_pBuffer;
    int m_iOwnsBuffer;
    std::unique_ptr<BTNodeDescriptor> m_pDescriptor;
};

int IsValidCatalogThread(const unsigned char* data, short length);

// The case-folding comparison of HFS+ names: -1, 0 or 1.
int FastUnicodeCompare(const unsigned short* a, unsigned short lengthA, const unsigned short* b,
                       unsigned short lengthB);
// The folded value of one unit (0 for the ignorable ones, 0xFFFF for U+0000).
unsigned short HFSFoldUnit(unsigned short unit);

// Per-tree codec interface.
class IHFSPlusBTreeOption {
public:
    virtual ~IHFSPlusBTreeOption() = default;
    virtual int Compare(BTKey* a, BTKey* b) = 0;
    virtual BTKey* KeyRead(CHFSPlusBTNode* node, unsigned short index) = 0;
    virtual void KeyPrint(const BTKey* key) = 0;
    virtual unsigned char* DataRead(CHFSPlusBTNode* node, unsigned short index) = 0;
    virtual void DataPrint(const unsigned char* record) = 0;
    // 0 when the record has no child.
    virtual uint32_t GetChild(CHFSPlusBTNode* node, unsigned short index) = 0;
    virtual uint32_t GetRoot() = 0;
    // A new node read from the tree's file; null on failure.
    virtual CHFSPlusBTNode* CreateNode(unsigned int number) = 0;
    virtual ResultCode GetLastError() = 0;
    virtual const BTHeaderRec* GetHeaderRec() = 0;
};

class CHFSPlusBTree {
public:
    CHFSPlusBTree(CHFSPlusVolume* volume, IHFSPlusBTreeOption* option);
    // The leaf record equal to key, or the place it would have. record (when
    // not null) receives a new copy of the found record (delete[]).
    ResultCode Search(BTKey* key, HFSPlusSearchResult& result, unsigned char** record);
    // Every leaf record in key order: catalog records become file nodes for
    // the builder. Needs a progress adapter.
    ResultCode Traverse(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress);
    ResultCode GetLastError() const { return m_llLastError; }

private:
    ResultCode VisitLeaf(CHFSPlusBTNode* node, IDirecotryTreeBuilder* builder,
                         CHFSPlusQuickFileSystemSearchProgress* progress);

    CHFSPlusVolume* m_pVolume;
    IHFSPlusBTreeOption* m_pOption;
    ResultCode m_llLastError;
};

class CHFSPlusBTreeOptionBase : public IHFSPlusBTreeOption {
public:
    CHFSPlusBTreeOptionBase(CHFSPlusVolume* volume, CHFSPlusRawfile* file);
    ~CHFSPlusBTreeOptionBase() override;

    uint32_t GetChild(CHFSPlusBTNode* node, unsigned short index) override;
    uint32_t GetRoot() override { return m_pHeaderNode ? m_header.rootNode : 0; }
    CHFSPlusBTNode* CreateNode(unsigned int number) override;
    ResultCode GetLastError() override { return m_llLastError; }
    const BTHeaderRec* GetHeaderRec() override { return m_pHeaderNode ? &m_header : nullptr; }

    // The copies of ReadKey and ReadData, null on failure (the code is kept).
    BTKey* KeyRead(CHFSPlusBTNode* node, unsigned short index) override;
    unsigned char* DataRead(CHFSPlusBTNode* node, unsigned short index) override;
    // A new host-order copy of a record's key or data, owned by the caller.
    virtual ResultCode ReadKey(CHFSPlusBTNode* node, unsigned short index, BTKey*& key) = 0;
    virtual ResultCode ReadData(CHFSPlusBTNode* node, unsigned short index, unsigned char*& record) = 0;

    ResultCode Search(BTKey* key, HFSPlusSearchResult& result, unsigned char** record);
    ResultCode Traverse(IDirecotryTreeBuilder* builder, CHFSPlusQuickFileSystemSearchProgress* progress);
    // The tree's node size from its header record; 0 when unreadable.
    unsigned int PreGetNodeSize(CHFSPlusRawfile* file);
    static unsigned int GetRealKeyLength(const unsigned char* key) { return ReadBE16(key) + 2u; }

protected:
    // Checks the node and index for a record read: the record and its length,
    // or null with the code stored.
    unsigned char* RecordOf(CHFSPlusBTNode* node, unsigned short index, unsigned short* length);
    // A new zeroed key holding the record's key bytes (at most keyBytes);
    // a record shorter than minLength or than its key gives shortCode.
    ResultCode CopyKey(CHFSPlusBTNode* node, unsigned short index, size_t minLength, size_t keyBytes,
                       ResultCode shortCode, bool printShort, BTKey*& key);

    CHFSPlusVolume* m_pVolume;
    CHFSPlusRawfile* m_pFile;
    ResultCode m_llLastError;
    uint32_t m_dwNodeSize;
    std::unique_ptr<CHFSPlusBTNode> m_pHeaderNode;
    BTHeaderRec m_header{};
    std::unique_ptr<CHFSPlusBTree> m_pTree;
};

class CHFSPlusCatalog : public CHFSPlusBTreeOptionBase {
public:
    using CHFSPlusBTreeOptionBase::CHFSPlusBTreeOptionBase;
    int Compare(BTKey* a, BTKey* b) override;
    void KeyPrint(const BTKey* key) override { PrintKey(key); }
    void DataPrint(const unsigned char* record) override { PrintData(record); }

    ResultCode ReadKey(CHFSPlusBTNode* node, unsigned short index, BTKey*& key) override;
    ResultCode ReadData(CHFSPlusBTNode* node, unsigned short index, unsigned char*& record) override;
    static int CompareKey(BTKey* a, BTKey* b, uint8_t compareType);
    static unsigned char* CloneRecord(const unsigned char* record);
    static void PrintKey(const BTKey* key);
    static void PrintData(const unsigned char* record);
};

class CHFSPlusExtents : public CHFSPlusBTreeOptionBase {
public:
    using CHFSPlusBTreeOptionBase::CHFSPlusBTreeOptionBase;
    int Compare(BTKey* a, BTKey* b) override { return CompareKey(a, b); }
    void KeyPrint(const BTKey* key) override;
    void DataPrint(const unsigned char* record) override;

    ResultCode ReadKey(CHFSPlusBTNode* node, unsigned short index, BTKey*& key) override;
    ResultCode ReadData(CHFSPlusBTNode* node, unsigned short index, unsigned char*& record) override;
    static int CompareKey(BTKey* a, BTKey* b);
    static unsigned char* CloneRecord(const unsigned char* record);
};

class CHFSPlusAttribute : public CHFSPlusBTreeOptionBase {
public:
    using CHFSPlusBTreeOptionBase::CHFSPlusBTreeOptionBase;
    int Compare(BTKey* a, BTKey* b) override { return CompareKey(a, b); }
    void KeyPrint(const BTKey* key) override { PrintKey(key); }
    void DataPrint(const unsigned char* record) override;

    ResultCode ReadKey(CHFSPlusBTNode* node, unsigned short index, BTKey*& key) override;
    ResultCode ReadData(CHFSPlusBTNode* node, unsigned short index, unsigned char*& record) override;
    static int CompareKey(BTKey* a, BTKey* b);
    static unsigned char* CloneRecord(const unsigned char* record);
    static void PrintKey(const BTKey* key);
    // Bytes of an attribute record copy by its type (0 for an unknown type).
    static size_t RecordSize(const unsigned char* record);
};

// Size of a catalog record copy by its type (0 for an unknown type).
size_t CatalogRecordSize(int16_t type);
